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
// payload, zero fill to the end of its block.
constexpr int kHeader = 16;
constexpr int kBlock = 4096;
constexpr int kFileSize = 2 * kBlock;
// The earlier layout: both slots in the first kilobyte.
constexpr int kOldSlot = 512;
constexpr int kOldFileSize = 2 * kOldSlot;
// The newest sequence number of a file as made (slot 0 holds 0, slot 1 this).
constexpr quint32 kMadeSeq = 1;
constexpr char kMagic[4] = {'V', 'M', 'R', '1'};
static_assert(InPlaceRecord::kMaxPayload <= kOldSlot - kHeader, "slot too small");

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

// A whole slot with `payload` at `block` (kBlock bytes, zero filled).
void putSlot(char* block, quint32 seq, const QByteArray& payload)
{
    std::memcpy(block, kMagic, 4);
    putU32(block + 4, seq);
    putU32(block + 8, quint32(payload.size()));
    std::memcpy(block + kHeader, payload.constData(), size_t(payload.size()));
    putU32(block + 12, checksum(block, quint32(payload.size())));
}

bool allZero(const char* p, int n)
{
    for (int i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

// What the bytes of a whole file hold: the newest record, the newest whole
// slot's sequence number (0 when none) and which slots are whole.
InPlaceRecord::State examine(const QByteArray& all, QByteArray* payload, quint32* newestSeq, bool whole[2])
{
    using State = InPlaceRecord::State;
    whole[0] = whole[1] = false;
    *newestSeq = 0;
    const bool current = all.size() == kFileSize;
    if (!current && all.size() != kOldFileSize)
        return State::Damaged;
    const int slotSize = current ? kBlock : kOldSlot;
    quint32 seq[2] = {0, 0};
    QByteArray data[2];
    for (int s = 0; s < 2; ++s)
        whole[s] = readSlot(all.constData() + s * slotSize, &seq[s], &data[s]);
    // The newer of two whole slots (sequence numbers compared across a wrap).
    const int newest = !whole[1] ? 0 : !whole[0] ? 1 : qint32(seq[1] - seq[0]) > 0 ? 1 : 0;
    if (whole[newest])
        *newestSeq = seq[newest];
    if (whole[0] && whole[1]) {
        *payload = data[newest];
        return current && seq[newest] == kMadeSeq && data[newest].isEmpty() ? State::Empty : State::Valid;
    }
    // The earlier layout made its file all zeros and wrote sequence 1 into
    // slot 1 first: a file of it still all zeros is the empty record that
    // version made (and read as empty), and that one record beside a slot
    // never written is whole. In this layout a file is made with two whole
    // slots, so here anything short of them (all zeros included: a zeroed
    // block reads so too) is a record that was being changed, or damage.
    if (!current && allZero(all.constData(), kOldFileSize)) {
        payload->clear();
        return State::Empty;
    }
    if (!current && whole[1] && seq[1] == 1 && allZero(all.constData(), kOldSlot)) {
        *payload = data[1];
        return State::Valid;
    }
    return State::Damaged;
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

std::mutex seamMutex;
std::function<void()> syncSeam;

}  // namespace

InPlaceRecord::InPlaceRecord(const QString& path)
    : path_(path)
{
}

InPlaceRecord::~InPlaceRecord()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    syncWanted_.notify_all();
    // A sync asked for still runs: what was stored goes to the disk.
    if (syncer_.joinable())
        syncer_.join();
    if (fd_ >= 0)
        ::close(fd_);
}

void InPlaceRecord::setSyncSeam(std::function<void()> seam)
{
    std::lock_guard<std::mutex> lock(seamMutex);
    syncSeam = std::move(seam);
}

InPlaceRecord::State InPlaceRecord::read(const QString& path, QByteArray* payload)
{
    QFile f(path);
    if (!f.exists())
        return State::Missing;
    if (!f.open(QIODevice::ReadOnly))
        return State::Damaged;
    QByteArray found;
    quint32 seq = 0;
    bool whole[2];
    const State state = examine(f.read(kFileSize + 1), &found, &seq, whole);
    if (state == State::Valid || state == State::Empty)
        *payload = found;
    return state;
}

bool InPlaceRecord::prepare()
{
    const QByteArray name = QFile::encodeName(path_);
    struct stat st;
    // Only this function changes fd_, and it runs on one thread: the file
    // is looked at without the lock, which is taken only to swap the file.
    if (fd_ >= 0) {
        // Still the file of that name (not removed or replaced meanwhile,
        // nor a name relative to a folder that changed)?
        struct stat held;
        if (::fstat(fd_, &held) == 0 && ::stat(name.constData(), &st) == 0 && held.st_dev == st.st_dev
            && held.st_ino == st.st_ino && st.st_size == kFileSize)
            return true;
        std::lock_guard<std::mutex> lock(mutex_);
        ::close(fd_);
        fd_ = -1;
    }
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != kFileSize) {
        // What the file there holds goes into the new one: a file of the
        // earlier layout keeps its record, one that cannot be read stays
        // damaged (its second slot left blank) until the next write.
        QByteArray carried;
        const State was = read(path_, &carried);
        QByteArray content(kFileSize, '\0');
        putSlot(content.data(), kMadeSeq - 1, carried);
        if (was != State::Damaged)
            putSlot(content.data() + kBlock, kMadeSeq, carried);
        // Made aside at its full size, forced to the disk, then renamed: a
        // file of this name is always whole.
        const QByteArray tmp = name + ".new";
        const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool ok = fd >= 0 && pwriteAll(fd, content.constData(), size_t(content.size()), 0) && ::fsync(fd) == 0;
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
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        qWarning("%s cannot be opened: %s", qPrintable(path_), std::strerror(errno));
        return false;
    }
    // Where the next write goes: after the newest whole slot, and into both
    // slots while one of them is not whole.
    QByteArray all(kFileSize + 1, '\0');
    const ssize_t got = ::pread(fd, all.data(), size_t(all.size()), 0);
    all.resize(got > 0 ? int(got) : 0);
    QByteArray ignored;
    quint32 seq = 0;
    bool whole[2];
    examine(all, &ignored, &seq, whole);
    if (all.size() != kFileSize)
        whole[0] = whole[1] = false;   // replaced meanwhile: both slots are written
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
    seq_ = seq;
    whole_[0] = whole[0];
    whole_[1] = whole[1];
    // A file found is taken as the disk has it.
    ++epoch_;
    synced_ = stored_;
    slotGen_[0] = slotGen_[1] = 0;
    return true;
}

bool InPlaceRecord::writeSlot(quint32 seq, const QByteArray& payload)
{
    const int s = int(seq % 2);
    whole_[s] = false;
    QByteArray block(kBlock, '\0');
    putSlot(block.data(), seq, payload);
    if (!pwriteAll(fd_, block.constData(), size_t(block.size()), off_t(s) * kBlock)) {
        qWarning("%s cannot be written: %s", qPrintable(path_), std::strerror(errno));
        return false;
    }
    whole_[s] = true;
    seq_ = seq;
    slotGen_[s] = ++stored_;
    return true;
}

bool InPlaceRecord::write(const QByteArray& payload)
{
    return store(payload) && sync();
}

bool InPlaceRecord::store(const QByteArray& payload, bool make)
{
    if (payload.size() > kMaxPayload) {
        qWarning("%s: a record of %d bytes does not fit", qPrintable(path_), payload.size());
        return false;
    }
    if (make && !prepare())
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0)
        return false;
    if (!whole_[0] || !whole_[1]) {
        // One not whole (a file found damaged) gets the record too, so that
        // the file reads as this record and no longer as damaged.
        if (!writeSlot(seq_ + 1, payload))
            return false;
        return whole_[(seq_ + 1) % 2] || writeSlot(seq_ + 1, payload);
    }
    // The older slot while the newer one is on the disk; otherwise the newer
    // one again (the older keeps the record the disk has).
    const int newest = int(seq_ % 2);
    return writeSlot(slotGen_[newest] <= synced_ ? seq_ + 1 : seq_ + 2, payload);
}

bool InPlaceRecord::sync()
{
    int fd = -1;
    quint64 upTo = 0;
    quint64 epoch = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (synced_ >= stored_)
            return true;
        if (fd_ < 0)
            return false;
        // Its own descriptor: the file may be replaced meanwhile.
        fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        upTo = stored_;
        epoch = epoch_;
    }
    if (fd < 0) {
        qWarning("%s cannot be synced: %s", qPrintable(path_), std::strerror(errno));
        return false;
    }
    std::function<void()> seam;
    {
        std::lock_guard<std::mutex> lock(seamMutex);
        seam = syncSeam;
    }
    if (seam)
        seam();
    const bool ok = ::fdatasync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok) {
        qWarning("%s cannot be written: %s", qPrintable(path_), std::strerror(err));
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (epoch == epoch_ && upTo > synced_)
        synced_ = upTo;
    return true;
}

bool InPlaceRecord::allOnDisk() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return synced_ >= stored_;
}

void InPlaceRecord::syncSoon()
{
    std::lock_guard<std::mutex> lock(mutex_);
    syncDue_ = true;
    if (!syncer_.joinable())
        syncer_ = std::thread([this] { syncLoop(); });
    syncWanted_.notify_one();
}

void InPlaceRecord::syncLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        syncWanted_.wait(lock, [this] { return syncDue_ || stopping_; });
        if (syncDue_) {
            syncDue_ = false;
            lock.unlock();
            sync();
            lock.lock();
            continue;
        }
        return;
    }
}
