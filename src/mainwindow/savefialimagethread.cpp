#include "savefialimagethread.h"

#include "copy2movedisk.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMutexLocker>

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
    if (keep <= 0)
        return;
    QDir d(dir);
    const QFileInfoList files =
        d.entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name | QDir::Reversed);
    // Names start with the time stamp, so the name order is the age order.
    for (int i = keep; i < files.size(); ++i)
        QFile::remove(files[i].absoluteFilePath());
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
                    img = QImage(gpFailImage[slot], w, h, w * 4, QImage::Format_RGB32).copy();
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
                if (!img.save(name, "JPG")) {
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
