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

int SaveFialImageThread::pruneForSpace(const QString& root)
{
    if (!QFileInfo(root).isDir() || !diskLow(root))
        return 0;
    struct Picture {
        QString name;   // time stamp first: the name order is the age order
        QString path;
    };
    QVector<Picture> pictures;
    QDirIterator it(root, {QStringLiteral("*.jpg")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        pictures.append({it.fileName(), it.filePath()});
    }
    std::sort(pictures.begin(), pictures.end(), [](const Picture& a, const Picture& b) { return a.name < b.name; });
    int removed = 0;
    for (const Picture& p : qAsConst(pictures)) {
        if (!diskLow(root))
            break;
        if (QFile::remove(p.path)) {
            ++removed;
            qWarning("disk low: oldest picture %s removed", qPrintable(p.path));
        }
    }
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
                pruneForSpace();
                QByteArray jpeg;
                {
                    QBuffer buffer(&jpeg);
                    buffer.open(QIODevice::WriteOnly);
                    if (!img.save(&buffer, "JPG"))
                        jpeg.clear();
                }
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
