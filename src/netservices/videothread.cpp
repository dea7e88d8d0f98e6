#include "videothread.h"

#include "cnt_semaphore.h"
#include "viewwatch2ziz.h"

#include <QElapsedTimer>
#include <QTimer>

#include <opencv2/imgproc.hpp>

#include <cstring>

VideoThread::VideoThread(QMap<int, VideoShareInfo> shares_, ViewWatch2ZIZ* owner_)
    : QThread(nullptr), owner(owner_), frameTimer(new QTimer(this)), shares(std::move(shares_))
{
    connect(frameTimer, &QTimer::timeout, this, &VideoThread::updateData_main2cache);
    frameTimer->start(kFramePeriodMs);
    start();
}

VideoThread::~VideoThread()
{
    idestory();
}

void VideoThread::idestory()
{
    frameTimer->stop();
    running = false;
    wait();
}

void VideoThread::updateData_main2cache()
{
    // Nobody may look: the grab, the costly part, is not even made.
    if (!owner || owner->isAllowSnd_2_VW() < 1 || !owner->screenGrab)
        return;
    for (auto it = shares.cbegin(); it != shares.cend(); ++it) {
        if (it.key() != 0)
            continue;
        const QImage picture = owner->screenGrab();
        if (picture.isNull())
            continue;
        QMutexLocker lock(&cacheMutex);
        frameCache.insert(0, picture);
    }
}

void VideoThread::run()
{
    QElapsedTimer pass;
    while (running) {
        pass.start();
        if (!owner || owner->isAllowSnd_2_VW() < 1) {
            msleep(50);
            continue;
        }
        QList<int> numbers;
        {
            QMutexLocker lock(&cacheMutex);
            numbers = frameCache.keys();
        }
        for (int n : numbers) {
            QImage picture;
            {
                QMutexLocker lock(&cacheMutex);
                picture = frameCache.value(n);
            }
            if (!running)
                break;
            UpdateMemory(n, picture);
        }
        // Hold the period; a long pass starts the next one at once. Sleep
        // in slices so that a stop is noticed soon.
        while (running) {
            const qint64 left = kFramePeriodMs - pass.elapsed();
            if (left <= 0)
                break;
            msleep(qMin<qint64>(left, 10));
        }
    }
}

bool VideoThread::UpdateMemory(int cameraId, const QImage& picture)
{
    const auto it = shares.constFind(cameraId);
    if (picture.isNull() || it == shares.cend())
        return false;
    const VideoShareInfo& share = it.value();
    if (share.shmid == -1 || share.semid == -1 || !share.shmAddr || !share.sem || share.width < 2 || share.height < 2)
        return false;
    // The share announces its size; a screen of another size is scaled to it
    // so that the conversion never reads outside the picture. The pixels are
    // a private copy: a new grab never changes a frame being converted.
    QImage frame = picture.size() == QSize(share.width, share.height)
                       ? picture
                       : picture.scaled(share.width, share.height, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    frame = frame.convertToFormat(QImage::Format_RGB32);  // B, G, R, A in memory
    if (frame.isNull())
        return false;
    const cv::Mat bgra(frame.height(), frame.width(), CV_8UC4, const_cast<uchar*>(frame.constBits()),
                       size_t(frame.bytesPerLine()));
    cv::Mat i420;
    cv::cvtColor(bgra, i420, cv::COLOR_BGRA2YUV_I420);
    if (!i420.isContinuous() || i420.total() * i420.elemSize() < size_t(share.size))
        return false;
    if (!share.sem->P_sem()) {
        ++skipped_;
        return false;
    }
    std::memcpy(share.shmAddr, i420.data, size_t(share.size));
    share.sem->V_sem();
    ++written_;
    return true;
}
