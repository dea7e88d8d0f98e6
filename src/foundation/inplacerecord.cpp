#include "inplacerecord.h"

#include "atomicfile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Slot: magic, sequence, length, checksum (of sequence, length and payload),
// payload, zero fill.
constexpr int kSlot = 512;
constexpr int kHeader = 16;
constexpr int kFileSize = 2 * kSlot;
constexpr char kMagic[4] = {'V', 'M', 'R', '1'};
static_assert(InPlaceRecord::kMaxPayload <= kSlot - kHeader, "slot too small");

void putU32(char* p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xff);
}

quint32 getU32(const char* p)
{
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v |= quint32(uchar(p[i])) << (8 * i);
    return v;
}

quint32 crc32(quint32 crc, const char* data, quint32 n)
{
    crc = ~crc;
    for (quint32 i = 0; i < n; ++i) {
        crc ^= uchar(data[i]);
        for (int b = 0; b < 8; ++b)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

quint32 checksum(const char* slot, quint32 length)
{
    return crc32(crc32(0, slot + 4, 8), slot + kHeader, length);
}

// True when the slot holds a whole record; its sequence and payload are returned.
bool readSlot(const char* slot, quint32* seq, QByteArray* payload)
{
    if (std::memcmp(slot, kMagic, 4) != 0)
        return false;
    const quint32 length = getU32(slot + 8);
    if (length > quint32(InPlaceRecord::kMaxPayload) || getU32(slot + 12) != checksum(slot, length))
        return false;
    *seq = getU32(slot + 4);
    *payload = QByteArray(slot + kHeader, int(length));
    return true;
}

bool pwriteAll(int fd, const char* data, size_t n, off_t at)
{
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, data, n, at);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        data += w;
        n -= size_t(w);
        at += w;
    }
    return true;
}

}  // namespace

InPlaceRecord::InPlaceRecord(const QString& path)
    : path_(path)
{
}

InPlaceRecord::~InPlaceRecord()
{
    if (fd_ >= 0)
        ::close(fd_);
}

InPlaceRecord::State InPlaceRecord::read(const QString& path, QByteArray* payload)
{
    QFile f(path);
    if (!f.exists())
        return State::Missing;
    if (!f.open(QIODevice::ReadOnly))
        return State::Damaged;
    const QByteArray all = f.read(kFileSize + 1);
    if (all.size() != kFileSize)
        return State::Damaged;
    quint32 seq[2] = {0, 0};
    QByteArray data[2];
    bool valid[2];
    for (int s = 0; s < 2; ++s)
        valid[s] = readSlot(all.constData() + s * kSlot, &seq[s], &data[s]);
    if (!valid[0] && !valid[1])
        return all.count('\0') == kFileSize ? State::Empty : State::Damaged;
    // The newer of two whole slots (sequence numbers compared across a wrap).
    const int newest = !valid[1] ? 0 : !valid[0] ? 1 : qint32(seq[1] - seq[0]) > 0 ? 1 : 0;
    *payload = data[newest];
    return State::Valid;
}

bool InPlaceRecord::prepare()
{
    const QByteArray name = QFile::encodeName(path_);
    struct stat st;
    if (fd_ >= 0) {
        // Still the file of that name (not removed or replaced meanwhile,
        // nor a name relative to a folder that changed)?
        struct stat held;
        if (::fstat(fd_, &held) == 0 && ::stat(name.constData(), &st) == 0 && held.st_dev == st.st_dev
            && held.st_ino == st.st_ino && st.st_size == kFileSize)
            return true;
        ::close(fd_);
        fd_ = -1;
    }
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != kFileSize) {
        // Made aside at its full size, forced to the disk, then renamed: a
        // file of this name is always whole.
        const QByteArray tmp = name + ".new";
        const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const QByteArray zeros(kFileSize, '\0');
        const bool ok = fd >= 0 && pwriteAll(fd, zeros.constData(), size_t(zeros.size()), 0) && ::fsync(fd) == 0;
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        if (!ok || ::rename(tmp.constData(), name.constData()) != 0) {
            const int e = ok ? errno : err;
            ::unlink(tmp.constData());
            qWarning("%s cannot be made: %s", qPrintable(path_), std::strerror(e));
            return false;
        }
        syncFolderOf(path_);
    }
    fd_ = ::open(name.constData(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        qWarning("%s cannot be opened: %s", qPrintable(path_), std::strerror(errno));
        return false;
    }
    QByteArray ignored;
    seq_ = 0;
    QFile f(path_);
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray all = f.readAll();
        for (int s = 0; s < 2 && all.size() == kFileSize; ++s) {
            quint32 seq = 0;
            if (readSlot(all.constData() + s * kSlot, &seq, &ignored) && qint32(seq - seq_) > 0)
                seq_ = seq;
        }
    }
    return true;
}

bool InPlaceRecord::write(const QByteArray& payload)
{
    if (payload.size() > kMaxPayload) {
        qWarning("%s: a record of %d bytes does not fit", qPrintable(path_), payload.size());
        return false;
    }
    if (!prepare())
        return false;
    const quint32 seq = seq_ + 1;
    char slot[kSlot] = {};
    std::memcpy(slot, kMagic, 4);
    putU32(slot + 4, seq);
    putU32(slot + 8, quint32(payload.size()));
    std::memcpy(slot + kHeader, payload.constData(), size_t(payload.size()));
    putU32(slot + 12, checksum(slot, quint32(payload.size())));
    // Slot by sequence parity: the other slot keeps the previous record.
    if (!pwriteAll(fd_, slot, kSlot, off_t(seq % 2) * kSlot) || ::fdatasync(fd_) != 0) {
        qWarning("%s cannot be written: %s", qPrintable(path_), std::strerror(errno));
        return false;
    }
    seq_ = seq;
    return true;
}
