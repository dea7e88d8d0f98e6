#include "savefialimagethread.h"

#include "atomicfile.h"
#include "copy2movedisk.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QMutexLocker>
#include <QSet>
#include <QStorageInfo>

#include <algorithm>

namespace {
std::atomic<int> gLowPercent{5};
std::atomic<qint64> gLowBytes{qint64(1) << 30};
}  // namespace

SaveFialImageThread::SaveFialImageThread(QObject* parent)
    : QThread(parent)
{
}

SaveFialImageThread::~SaveFialImageThread()
{
    stop();
    wait();
}

void SaveFialImageThread::setCameraSize(int camera, int width, int height)
{
    if (camera < 0 || camera >= kMaxCamera)
        return;
    width_[camera] = width > 0 ? width : 0;
    height_[camera] = height > 0 ? height : 0;
}

QString SaveFialImageThread::folderFor(int camera, int step, bool ok)
{
    return QStringLiteral("./alarmimage/camera%1/detect%2/%3").arg(camera + 1).arg(step + 1).arg(ok ? "OK" : "NG");
}

void SaveFialImageThread::pruneFolder(const QString& dir, int keep)
{
    QDir d(dir);
    // Temporary files of a write that never finished (power cut, kill).
    for (const QFileInfo& f : d.entryInfoList({QStringLiteral("*.jpg.*")}, QDir::Files | QDir::Hidden))
        QFile::remove(f.absoluteFilePath());
    if (keep <= 0)
        return;
    const QFileInfoList files =
        d.entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name | QDir::Reversed);
    // Names start with the time stamp, so the name order is the age order.
    // An empty file is no picture: it is removed and keeps no place.
    int kept = 0;
    for (const QFileInfo& f : files) {
        if (f.size() > 0 && kept < keep) {
            ++kept;
            continue;
        }
        QFile::remove(f.absoluteFilePath());
    }
}

void SaveFialImageThread::setLowDiskLimits(int percent, qint64 bytes)
{
    gLowPercent = qBound(0, percent, 100);
    gLowBytes = qMax<qint64>(0, bytes);
}

bool SaveFialImageThread::diskLow(const QString& path)
{
    QStorageInfo disk(path);
    if (!disk.isValid() || disk.bytesTotal() <= 0)
        return false;
    const qint64 free = disk.bytesAvailable();
    return free < gLowBytes.load() || free * 100 < disk.bytesTotal() * gLowPercent.load();
}

int SaveFialImageThread::pruneForSpace(const QString& root, qint64 room)
{
    static std::atomic<bool> stuckLogged{false};
    if (!QFileInfo(root).isDir())
        return 0;
    QStorageInfo disk(root);
    if (!diskLow(root)) {
        stuckLogged = false;
        return 0;
    }
    struct Picture {
        QString name;   // time stamp first: the name order is the age order
        QString path;
        qint64 size;
        bool ng;
    };
    QVector<Picture> ok, ng;
    QDirIterator it(root, {QStringLiteral("*.jpg")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo f = it.fileInfo();
        const bool isNg = f.dir().dirName() == QLatin1String("NG");
        (isNg ? ng : ok).append({f.fileName(), f.filePath(), f.size(), isNg});
    }
    auto byAge = [](const Picture& a, const Picture& b) { return a.name < b.name; };
    std::sort(ok.begin(), ok.end(), byAge);
    std::sort(ng.begin(), ng.end(), byAge);
    // The newest NG pictures are the record of why the machine was stopped:
    // those of the last day, and never fewer than the newest kKeptNg.
    const QString dayAgo = QDateTime::currentDateTime().addDays(-1).toString(QStringLiteral("yyyyMMdd_hhmmss"));
    int kept = int(std::count_if(ng.begin(), ng.end(), [&](const Picture& p) { return p.name >= dayAgo; }));
    kept = qMin(ng.size(), qMax(kept, kKeptNg));
    // OK pictures first, oldest first: those the USB copier no longer waits
    // for, then those it does; then the NG pictures not kept.
    const QStringList waiting = Copy2MoveDisk::getInstance()->pending();
    const QSet<QString> queued(waiting.begin(), waiting.end());
    QVector<Picture> order;
    for (int pass = 0; pass < 2; ++pass)
        for (const Picture& p : qAsConst(ok))
            if (queued.contains(QFileInfo(p.path).absoluteFilePath()) == (pass == 1))
                order.append(p);
    order += ng.mid(0, ng.size() - kept);

    disk.refresh();
    qint64 free = disk.bytesAvailable();
    qint64 removable = 0;
    for (const Picture& p : qAsConst(order))
        removable += p.size;
    const qint64 needed = qMax(gLowBytes.load(), disk.bytesTotal() / 100 * gLowPercent.load());
    // When even every removable picture would leave the disk low (something
    // else filled it), only the room the next picture needs is made.
    const bool futile = free + removable < needed;
    auto enough = [&] { return futile ? free >= room : !diskLow(root); };
    auto stuck = [&](const char* why) {
        if (!stuckLogged.exchange(true))
            qWarning("disk low (%lld bytes free): %s; the NG pictures of the last day and the newest %d are kept",
                     static_cast<long long>(free), why, kKeptNg);
    };
    if (futile)
        stuck("removing pictures cannot make room, only room for new pictures is made");
    int removed = 0;
    for (const Picture& p : qAsConst(order)) {
        if (enough())
            return removed;
        if (!QFile::remove(p.path))
            continue;
        ++removed;
        qWarning("disk low: oldest %s picture %s removed", p.ng ? "NG" : "OK", qPrintable(p.path));
        disk.refresh();
        const qint64 now = disk.bytesAvailable();
        if (now <= free && p.size > 0) {
            free = now;
            stuck("removing pictures frees nothing");
            return removed;
        }
        free = now;
    }
    if (!enough())
        stuck("no picture may be removed any more");
    return removed;
}

int SaveFialImageThread::saveWaiting()
{
    if (!pMutexSaveFail)
        return 0;
    int written = 0;
    for (int c = 0; c < kMaxCamera; ++c) {
        const int w = width_[c];
        const int h = height_[c];
        if (w <= 0 || h <= 0)
            continue;
        for (int s = 0; s < kMaxDetect; ++s) {
            const int step = c * kMaxDetect + s;
            bool any = false;
            for (int which = 0; which < 2; ++which) {
                const int slot = which + 2 * step;
                QImage img;
                int failIndex = 0;
                {
                    // Slot, flag and index in one hold: the result check may
                    // refill the slot right after.
                    QMutexLocker lock(pMutexSaveFail);
                    if (!gisSaveFail[slot] || !gpFailImage[slot])
                        continue;
                    if (which == 1) {
                        // An OK picture is never shown again: its buffer is
                        // taken, not copied, and freed once written.
                        uchar* taken = gpFailImage[slot];
                        gpFailImage[slot] = nullptr;
                        img = QImage(taken, w, h, w * 4, QImage::Format_RGB32,
                                     [](void* p) { delete[] static_cast<uchar*>(p); }, taken);
                    } else {
                        // The NG picture stays: the operator's decision relabels it.
                        img = QImage(gpFailImage[slot], w, h, w * 4, QImage::Format_RGB32).copy();
                    }
                    gisSaveFail[slot] = false;
                    failIndex = gFailIndex[step];
                }
                any = true;
                const bool ok = which == 1;
                const QString dir = folderFor(c, s, ok);
                QDir().mkpath(dir);
                const QString name = QStringLiteral("%1/%2_%3.jpg")
                                         .arg(dir, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss_zzz")))
                                         .arg(failIndex);
                QByteArray jpeg;
                {
                    QBuffer buffer(&jpeg);
                    buffer.open(QIODevice::WriteOnly);
                    if (!img.save(&buffer, "JPG"))
                        jpeg.clear();
                }
                // Room for this picture and its temporary name's folder entry.
                pruneForSpace(QStringLiteral("./alarmimage"), jpeg.size() + 16 * 1024);
                if (jpeg.isEmpty() || !writeFileAtomically(name, jpeg)) {
                    qWarning("fault picture %s could not be written", qPrintable(name));
                    continue;
                }
                ++written;
                pruneFolder(dir, ok ? gPicNumOK : gPicNumNG);
                const QFileInfo saved(name);
                // On the USB disk all cameras and steps share one day folder.
                Copy2MoveDisk::getInstance()->addFile(
                    saved.absoluteFilePath(),
                    QStringLiteral("camera%1_detect%2_%3_%4").arg(c + 1).arg(s + 1).arg(ok ? "OK" : "NG", saved.fileName()));
                if (onSaved)
                    onSaved(c, s, ok, saved.absoluteFilePath());
            }
            if (any) {
                QMutexLocker lock(pMutexSaveFail);
                gFailIndex[step] = 0;
            }
        }
    }
    return written;
}

void SaveFialImageThread::run()
{
    while (!stop_) {
        saveWaiting();
        QThread::msleep(20);
    }
}
