// Copies the operator screen into the shared video memory of the local agent.
//
// The grab of the main window runs on the GUI thread (a widget may only be
// painted there) every 80 ms into a small cache; the thread converts the
// latest grab to I420 and copies it into each share under the share's
// semaphore. The thread never touches a widget or the agent link's reactor:
// it reads the link's permission through an atomic.
#pragma once

#include "videoshareinfo.h"

#include <QImage>
#include <QMap>
#include <QMutex>
#include <QThread>

#include <atomic>

class QTimer;
class ViewWatch2ZIZ;

class VideoThread : public QThread {
    Q_OBJECT
public:
    static constexpr int kFramePeriodMs = 80;

    // Starts grabbing at once (on the constructing thread, with the owner's
    // screenGrab) and starts the copying thread.
    VideoThread(QMap<int, VideoShareInfo> shares, ViewWatch2ZIZ* owner);
    ~VideoThread() override;

    // Stops grabbing and waits until the copying loop has ended. Blocks at
    // most one pass (a frame period plus the lock's time-out).
    void idestory();

    // Converts one picture to I420 at the share's size and copies it into the
    // share under its semaphore. False when the frame was skipped (no such
    // share, share failed, lock not taken in time).
    bool UpdateMemory(int cameraId, const QImage& picture);

    // Frames written and frames skipped because the lock was held too long.
    int framesWritten() const { return written_.load(); }
    int framesSkipped() const { return skipped_.load(); }

public slots:
    void updateData_main2cache();

protected:
    void run() override;

private:
    std::atomic<bool> running{true};
    ViewWatch2ZIZ* owner;
    QTimer* frameTimer;
    QMap<int, VideoShareInfo> shares;
    QMap<int, QImage> frameCache;
    QMutex cacheMutex;
    std::atomic<int> written_{0};
    std::atomic<int> skipped_{0};
};
