// One network camera behind the plug-in interface. The SDK's frame thread
// hands every frame to onFrame(), which keeps the newest with the time it
// came; getImage() takes the next frame not handed out yet (waiting up to
// kFrameWaitMs for one), getNewestImage() the same without waiting,
// getImageSince() the newest frame that came at a given time or later
// (waiting as long as the caller says), converted to the program's layout
// (grey, or 32-bit RGB chosen before open). A camera that brings no frame
// for kLossMs while started is reported lost from the event loop.
// The camera has no trigger input the machine could drive, and the SDK no
// trigger command: asked for trigger mode ("sysUsage", changeTrigger) it
// keeps running free, and says so once each time trigger mode is switched
// on. Running free, its newest frame may be older than the opening a step
// counts down from: the cycle asks each step's picture by the time of its
// own opening (getImageSince), so a frame from before it is never taken and
// a frame after it is never thrown away.
// Opening takes three pictures: the longer time between two of them is the
// camera's frame interval (frameIntervalMs), by which the program accepts or
// refuses it.
// reconnect() may run on a worker thread (the program does that so the GUI
// thread never waits on a camera); it makes no other call meanwhile, and the
// watchdog is switched on the camera's own thread.
#pragma once

#include "camerainterface.h"
#include "zelCameraApi.h"

#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace netcam {

class NetCamera : public CameraInterface {
    Q_OBJECT
public:
    static constexpr int kLossMs = 3000;
    static constexpr int kFrameWaitMs = 500;
    // Each of the three pictures of the opening is waited for this long: a
    // camera somewhat slower than the program accepts (1.1 s) still opens,
    // so that its interval is measured and it is refused by that, never by
    // chance.
    static constexpr int kOpenPictureMs = 1500;

    NetCamera(const tZelCameraDevInfo& record, const QString& serial, const QString& pluginName);
    ~NetCamera() override;

    bool open() override;
    void close() override;
    void start() override;
    void stop() override;
    void lost() override;
    bool reconnect() override;
    QJsonObject currentSetting(int) override;
    void setting(QJsonObject obj) override;
    void setExposeTime(int v) override;
    void setAdjustPlus(int v) override;
    void setSharp(int v) override;
    void setContrast(int v) override;
    void setGamma(int v) override;
    void setWDR(bool on) override;
    void setHMirror(bool on) override;
    void setVMirror(bool on) override;
    void setWB() override;
    void setColor(bool on) override;
    void setSpeed(int v) override;
    void getFps(int* fps) override;
    void changeTrigger(bool on) override;
    void softTrigger() override;
    void getSize(int* width, int* height) override;
    bool getImage(uchar* buffer) override;
    // getImage() without the wait: the newest frame not handed out yet, or
    // false at once (the live view's pull on the GUI thread).
    Q_INVOKABLE bool getNewestImage(uchar* buffer);
    // The newest frame that came at `sinceNs` (steady clock) or later,
    // waiting up to `waitMs` for one; handed out before or not. Returns the
    // time it came, 0 when none came in time. Any thread (kGrabAnyThread).
    Q_INVOKABLE qint64 getImageSince(uchar* buffer, qint64 sinceNs, int waitMs);
    // The time between two frames measured at the latest open or reconnect
    // (ms; 0 before any).
    Q_INVOKABLE int frameIntervalMs() const { return intervalMs_.load(); }
    // The clock of the plug-in's counted log lines moves on by `ms`: tests
    // let an interval of those lines pass without waiting for it.
    Q_INVOKABLE void advanceLogClock(qint64 ms);
    void restoreDefault(QJsonObject* obj, int index) override;
    QString name() override { return pluginName_; }
    int kind() override { return 2; }

private:
    static void onFrame(cv::Mat frame, void* user);
    // The frame for getImage (waiting up to kFrameWaitMs for one not handed
    // out yet when `wait`) converted into `buffer`.
    bool takeFrame(uchar* buffer, bool wait);
    // `frame` in the program's layout into `buffer`; false for a frame of
    // another size or kind.
    bool convert(const cv::Mat& frame, uchar* buffer);
    bool connectCamera();
    void release();
    void watch();
    // Starts or stops the watchdog on this object's thread.
    void setWatching(bool on);
    // What a setting or command came to: inside setting() it is counted,
    // alone a refusal or silence is a line of its own.
    void outcome(const char* what, int value, int rc);
    struct Tally {
        int sent = 0;
        int unanswered = 0;
        int refused = 0;
    };
    Tally* tally_ = nullptr;  // set while setting() runs, on its caller's thread

    tZelCameraDevInfo record_;
    QString serial_;
    QString pluginName_;
    int handle_ = -1;
    bool opened_ = false;
    std::atomic<bool> started_{false};
    bool colourOut_ = false;
    std::atomic<bool> lostState_{false};
    bool trigger_ = false;  // trigger mode asked for (not available: free running)
    int width_ = 0, height_ = 0;
    int exposure_ = 30, gain_ = 32, sharp_ = 0, contrast_ = 50, gamma_ = 70, speed_ = 12;
    QTimer watchdog_;
    QElapsedTimer fpsClock_;
    int fpsFrames_ = 0;

    std::mutex mutex_;
    std::condition_variable arrived_;
    cv::Mat latest_;
    quint64 seq_ = 0;       // frames received
    quint64 taken_ = 0;     // the last frame handed out
    qint64 lastFrameMs_ = 0;
    qint64 latestNs_ = 0;   // when latest_ came (steady clock)
    std::atomic<int> intervalMs_{0};
};

}  // namespace netcam
