#include "copy2movedisk.h"

#include "atomicfile.h"
#include "globals.h"
#include "workerthread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Copy2MoveDisk* Copy2MoveDisk::_instance = nullptr;

namespace {

constexpr int kBlock = 256 * 1024;
constexpr int kFlushIdleMs = 300;
constexpr int kFlushAtLeastMs = 5000;
const QString kDayFormat = QStringLiteral("yyyy-MM-dd");

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// A folder name safe on any disk file system.
QString safeName(const QString& id)
{
    QString out;
    for (const QChar c : id)
        out.append(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('_')
                       ? c
                       : QLatin1Char('_'));
    return out;
}

bool writeAll(int fd, const char* data, ssize_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, static_cast<size_t>(n));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += w;
        n -= w;
    }
    return true;
}

// A real disk must still be mounted where the watcher saw it: after the disk
// is pulled out, its empty mount folder belongs to the system disk, which
// must not fill up with copies.
bool stillMounted(const UPanInfo& disk)
{
    struct stat here, parent;
    if (::stat(QFile::encodeName(disk.mountPoint).constData(), &here) != 0 || !S_ISDIR(here.st_mode))
        return false;
    if (disk.fsType == QLatin1String("folder"))
        return true;
    const QString up = QFileInfo(disk.mountPoint).absolutePath();
    if (::stat(QFile::encodeName(up).constData(), &parent) != 0)
        return false;
    return here.st_dev != parent.st_dev || here.st_ino == parent.st_ino;
}

void syncDisk(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    // The operator may pull the disk as soon as the copies show: write them out.
    ::syncfs(fd);
    ::close(fd);
}

}  // namespace

Copy2MoveDisk* Copy2MoveDisk::getInstance()
{
    // Made on first use (by `main` at start-up) and never destroyed.
    if (!_instance)
        _instance = new Copy2MoveDisk(nullptr);
    return _instance;
}

Copy2MoveDisk::Copy2MoveDisk(QObject* parent)
    : QObject(parent)
{
}

Copy2MoveDisk::~Copy2MoveDisk()
{
    stop();
}

void Copy2MoveDisk::setDeviceId(const QString& id)
{
    QMutexLocker lock(&mutex_);
    deviceId_ = id;
}

void Copy2MoveDisk::setQueueLimit(int n)
{
    QMutexLocker lock(&mutex_);
    queueLimit_ = qMax(1, n);
    while (queue_.size() > queueLimit_) {
        queue_.dequeue();
        ++dropped_;
        journalDirty_ = true;
    }
}

void Copy2MoveDisk::start(bool worker)
{
    if (started_.exchange(true))
        return;
    {
        QMutexLocker lock(&mutex_);
        if (deviceId_.isEmpty())
            deviceId_ = gDeviceID;
    }
    qInfo("USB picture copier on: %d day folders kept", keepDays.load());
    // A start after a pause (USB saving switched on again) finds the names
    // of the journal already queued.
    if (!journalLoaded_) {
        journalLoaded_ = true;
        loadJournal();
    }
    if (!worker || thread_)
        return;   // a worker of an earlier start still runs
    stop_ = false;
    thread_ = QThread::create([this] {
        // Copies are written out once the pictures pause for a moment (a
        // cycle saves them in bursts), and at least every few seconds under
        // steady load: one flush per burst instead of one per picture.
        QElapsedTimer dirty;
        QElapsedTimer failedAt;   // while copies fail: since the last try
        while (!stop_) {
            // While copies fail, new pictures only reach the journal; the
            // next try waits for the retry time or a change of the disks.
            const bool due = !lastFailed_ || !failedAt.isValid() || failedAt.elapsed() >= retryMs_
                             || retryNow_.exchange(false);
            if (due) {
                if (copyPending() > 0 && !dirty.isValid())
                    dirty.start();
                if (lastFailed_)
                    failedAt.start();
                else
                    failedAt.invalidate();
            }
            saveJournal();
            if (dirty.isValid() && dirty.elapsed() >= kFlushAtLeastMs) {
                flushDisk();
                dirty.invalidate();
            }
            QMutexLocker lock(&waitMutex_);
            if (stop_)
                break;
            const qint64 sinceFail = failedAt.isValid() ? failedAt.elapsed() : 0;
            const int waitMs = lastFailed_ ? int(qBound<qint64>(1, retryMs_ - sinceFail, retryMs_))
                               : dirty.isValid() ? kFlushIdleMs
                                                 : 1000;
            const bool woken = kicked_ || wake_.wait(&waitMutex_, static_cast<unsigned long>(waitMs));
            kicked_ = false;
            lock.unlock();
            if (!woken && dirty.isValid()) {
                flushDisk();
                dirty.invalidate();
            }
        }
        flushDisk();
        saveJournal();
    });
    thread_->setObjectName(QStringLiteral("Copy2MoveDisk"));
    thread_->start();
}

void Copy2MoveDisk::stop()
{
    stopWorkerThread(thread_, waitMutex_, wake_, stop_);
}

void Copy2MoveDisk::kick()
{
    QMutexLocker lock(&waitMutex_);
    kicked_ = true;
    wake_.wakeAll();
}

void Copy2MoveDisk::addFile(const QString& localPath, const QString& diskName)
{
    if (!started_)
        return;
    int dropped = 0;
    {
        QMutexLocker lock(&mutex_);
        if (queue_.size() >= queueLimit_) {
            // The oldest name goes: its picture stays on the local disk.
            const Item old = queue_.dequeue();
            dropped = ++dropped_;
            if (dropped == 1 || dropped % 1000 == 0)
                qWarning("USB copy queue full: %s is not copied (%d dropped so far)", qPrintable(old.localPath),
                         dropped);
        }
        queue_.enqueue({nextSeq_++, localPath, diskName, QDate::currentDate()});
        journalDirty_ = true;
    }
    kick();
}

void Copy2MoveDisk::setJournal(const QString& path)
{
    QMutexLocker lock(&mutex_);
    journal_ = path;
}

void Copy2MoveDisk::loadJournal()
{
    QString path;
    {
        QMutexLocker lock(&mutex_);
        path = journal_;
    }
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly))
        return;
    // One name a line: day, local path, name on the disk, tab-separated.
    QVector<Item> items;
    int gone = 0;
    while (!f.atEnd()) {
        const QList<QByteArray> fields = f.readLine().trimmed().split('\t');
        if (fields.size() != 3)
            continue;
        const QDate day = QDate::fromString(QString::fromUtf8(fields[0]), kDayFormat);
        const QString local = QString::fromUtf8(fields[1]);
        const QString name = QString::fromUtf8(fields[2]);
        if (!day.isValid() || local.isEmpty() || name.isEmpty() || name.contains(QLatin1Char('/')))
            continue;
        if (!QFileInfo::exists(local)) {
            ++gone;
            continue;
        }
        items.append({0, local, name, day});
    }
    QMutexLocker lock(&mutex_);
    // Before anything queued since: they were waiting first.
    for (int i = items.size() - 1; i >= 0; --i)
        queue_.prepend(items[i]);
    for (Item& i : queue_)
        i.seq = nextSeq_++;
    while (queue_.size() > queueLimit_) {
        queue_.dequeue();
        ++dropped_;
    }
    journalDirty_ = true;
    qInfo("USB copy: %d pictures from before the restart wait for the disk (%d no longer here)", items.size(), gone);
}

bool Copy2MoveDisk::saveJournal()
{
    QMutexLocker writing(&journalMutex_);
    QByteArray text;
    QString path;
    {
        QMutexLocker lock(&mutex_);
        if (journal_.isEmpty() || !journalDirty_)
            return true;
        path = journal_;
        journalDirty_ = false;
        for (const Item& i : queue_)
            text += i.day.toString(kDayFormat).toUtf8() + '\t' + i.localPath.toUtf8() + '\t' + i.diskName.toUtf8()
                    + '\n';
    }
    const bool ok = text.isEmpty() ? (!QFile::exists(path) || QFile::remove(path)) : writeFileAtomically(path, text);
    QMutexLocker lock(&mutex_);
    if (!ok) {
        journalDirty_ = true;   // tried again at the next change or pass
        if (!journalFailing_)
            qWarning("USB copy: the list of waiting pictures cannot be kept in %s", qPrintable(path));
    } else if (journalFailing_) {
        qInfo("USB copy: the list of waiting pictures is kept in %s again", qPrintable(path));
    }
    journalFailing_ = !ok;
    return ok;
}

QStringList Copy2MoveDisk::pending() const
{
    QMutexLocker lock(&mutex_);
    QStringList out;
    for (const Item& i : queue_)
        out.append(i.localPath);
    return out;
}

void Copy2MoveDisk::SlotDiskInfoChange(QVector<UPanInfo> disks)
{
    {
        QMutexLocker lock(&mutex_);
        disks_ = disks;
        disksChanged_ = true;
    }
    retryNow_ = true;
    kick();
}

bool Copy2MoveDisk::targetDisk(UPanInfo* disk)
{
    for (const UPanInfo& d : disks_) {
        if (!d.readOnly) {
            *disk = d;
            readOnlyWarned_.clear();
            return true;
        }
    }
    if (disks_.isEmpty())
        readOnlyWarned_.clear();
    else if (readOnlyWarned_ != disks_.first().device) {
        readOnlyWarned_ = disks_.first().device;
        qWarning("USB disk %s is read-only: pictures wait for a writable disk", qPrintable(readOnlyWarned_));
    }
    return false;
}

void Copy2MoveDisk::pruneDays(const QString& root, int keep, const QString& current)
{
    if (keep < 1)
        return;
    QVector<QPair<QDate, QString>> days;
    for (const QString& name : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDate d = QDate::fromString(name, kDayFormat);
        if (d.isValid())
            days.append({d, name});
    }
    if (days.size() <= keep)
        return;
    // By the date in the name: file times on a disk that travels between
    // machines say nothing.
    std::sort(days.begin(), days.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    const QString currentName = QFileInfo(current).fileName();
    for (int i = keep; i < days.size(); ++i) {
        if (days[i].second == currentName)
            continue;
        const QString path = root + QLatin1Char('/') + days[i].second;
        if (QDir(path).removeRecursively())
            qInfo("USB disk: old day folder %s removed", qPrintable(path));
        else
            qWarning("USB disk: old day folder %s could not be removed", qPrintable(path));
    }
}

Copy2MoveDisk::Result Copy2MoveDisk::copyOne(const Item& item, const UPanInfo& disk, const QString& id,
                                             QString* error)
{
    if (!stillMounted(disk)) {
        *error = QStringLiteral("the disk is no longer at %1").arg(disk.mountPoint);
        return Result::Failed;
    }
    const QString root = disk.mountPoint + QStringLiteral("/monitor_") + safeName(id);
    const QString dayDir = root + QLatin1Char('/') + item.day.toString(kDayFormat);
    if (preparedDay_ != dayDir) {
        if (!QDir().mkpath(dayDir)) {
            *error = QStringLiteral("folder %1 cannot be made").arg(dayDir);
            return Result::Failed;
        }
        pruneDays(root, keepDays, dayDir);
        preparedDay_ = dayDir;
    }

    const int in = ::open(QFile::encodeName(item.localPath).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = errnoText(errno);
        return Result::SourceGone;
    }
    // A temporary name until the copy is whole: a half-written picture never
    // shows under its real name.
    const QString finalPath = dayDir + QLatin1Char('/') + item.diskName;
    const QByteArray tmp = QFile::encodeName(dayDir + QStringLiteral("/.") + item.diskName + QStringLiteral(".part"));
    const int out = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        *error = errnoText(errno);
        ::close(in);
        return Result::Failed;
    }
    bool ok = true;
    // In the kernel where it can (no trip through our memory), else by reading
    // and writing; block by block either way.
    bool inKernel = true;
    for (;;) {
        if (inKernel) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kBlock, 0);
            if (n > 0) {
                if (afterBlock)
                    afterBlock();
                continue;
            }
            if (n == 0)
                break;
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
                inKernel = false;
                continue;
            }
            *error = errnoText(errno);
            ok = false;
            break;
        }
        thread_local std::vector<char> buf(kBlock);
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = QStringLiteral("reading: ") + errnoText(errno);
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (!writeAll(out, buf.data(), n)) {
            *error = errnoText(errno);
            ok = false;
            break;
        }
        if (afterBlock)
            afterBlock();
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        *error = errnoText(errno);
        ok = false;
    }
    if (ok && ::rename(tmp.constData(), QFile::encodeName(finalPath).constData()) != 0) {
        *error = errnoText(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.constData());
        return Result::Failed;
    }
    return Result::Copied;
}

int Copy2MoveDisk::copyPending()
{
    QMutexLocker pass(&passMutex_);
    int copied = 0;
    QString lastDir;
    bool failed = false;
    for (;;) {
        Item item;
        UPanInfo disk;
        QString id;
        {
            QMutexLocker lock(&mutex_);
            if (disksChanged_) {
                disksChanged_ = false;
                preparedDay_.clear();
            }
            if (queue_.isEmpty() || !targetDisk(&disk))
                break;
            item = queue_.head();
            id = deviceId_;
        }
        QString error;
        const Result r = copyOne(item, disk, id, &error);
        if (r == Result::Failed) {
            // Kept at the head of the queue for the next try; the folder is
            // made again then (the disk may have been replaced meanwhile).
            preparedDay_.clear();
            if (failingWith_ != error)
                qWarning("USB copy of %s to %s failed (%s): kept for a later try", qPrintable(item.localPath),
                         qPrintable(disk.mountPoint), qPrintable(error));
            failingWith_ = error;
            failed = true;
            break;
        }
        if (r == Result::SourceGone)
            qWarning("USB copy: %s cannot be read (%s), left out", qPrintable(item.localPath), qPrintable(error));
        {
            QMutexLocker lock(&mutex_);
            if (!queue_.isEmpty() && queue_.head().seq == item.seq) {
                queue_.dequeue();
                journalDirty_ = true;
            }
        }
        if (r == Result::Copied) {
            ++copied;
            lastDir = preparedDay_;
            if (!failingWith_.isEmpty()) {
                qInfo("USB copy to %s works again", qPrintable(disk.mountPoint));
                failingWith_.clear();
            }
        }
    }
    lastFailed_ = failed;
    if (copied > 0)
        unflushed_ = lastDir;
    return copied;
}

void Copy2MoveDisk::flushDisk()
{
    QMutexLocker pass(&passMutex_);
    if (unflushed_.isEmpty())
        return;
    syncDisk(unflushed_);
    unflushed_.clear();
}
