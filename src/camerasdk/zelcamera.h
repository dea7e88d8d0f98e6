// One opened network camera: its record, its parameter table, a control link
// (port 10401), a picture link of its own for single pictures, the host's
// callbacks, and a frame thread that pulls frames from port 10402 at most 20
// times a second and hands each to the frame callback.
#pragma once

#include "tcpmanager.h"
#include "zelCameraApi.h"
#include "zelcameraimage.h"
#include "zelcameraparam.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

class ZelCamera;

// True (and `last` moved to now) when more than 1000/fps ms of the monotonic
// clock have passed since `last`.
bool AllowPass_byfps(int fps, qint64& last);

class ImageThread : public QThread {
    Q_OBJECT
public:
    static constexpr int kFps = 20;
    static constexpr unsigned short kImagePort = 10402;
    // Longer than the slowest frame interval the program accepts of a
    // camera (1100 ms), so that a slow camera's pull waits for its next
    // frame instead of giving up and reconnecting.
    static constexpr int kPullTimeoutMs = 1500;

    explicit ImageThread(ZelCamera* camera);
    // Clears the running flag and joins the thread.
    ~ImageThread() override;

    void setRunning(bool on) { running_ = on; }
    bool runningFlag() const { return running_.load(); }
    // Clears the flag and waits for the loop to end (each of its steps is bounded).
    void stopAndJoin();

    static std::atomic<int> reconnect;
    static std::atomic<int> nullimg;

protected:
    void run() override;

private:
    std::atomic<bool> running_{false};
    ZelCamera* camera_;
};

class ZelCamera : public QObject, public CameraParam, public CameraImage {
    Q_OBJECT
public:
    static constexpr unsigned short kControlPort = 10401;

    explicit ZelCamera(const tZelCameraDevInfo* info);
    ~ZelCamera() override;

    int start();
    int stop();
    int setHDR(bool on);
    // The camera's answer to a command (0: done), ZEL_NOT_CONNECTED when it
    // gave none, ZEL_LINK_DOWN without a control link.
    int commonCall(const char* key, char* buffer, unsigned int value);
    void requestGetParams(const QStringList& keys, QMap<QString, QVariant>& values, bool detail);
    QMap<QString, QVariant> requestSetParams(const QMap<QString, QVariant>& values);

    void setImageCallback(ZelImageCallback callback, void* user);
    void setStatusCallback(ZelStatusCallback callback, void* user);

    bool controlLinkUp() const { return controlUp_; }
    bool imageLinkUp() const { return imageUp_.load(); }
    QString ipText() const { return zelDeviceIp(info_); }
    QString deviceKey() const { return zelDeviceKey(info_); }
    // True on the frame thread, i.e. inside the frame callback.
    bool onFrameThread() const;

public slots:
    int requestImage(cv::Mat& image, QJsonObject& imageHead, int timeout);
    void recvImage(cv::Mat frame);

private:
    friend class ImageThread;
    void setImageLink(bool up);

    std::mutex callbackMutex_;
    ZelImageCallback imageCallback_ = nullptr;
    void* imageUser_ = nullptr;
    ZelStatusCallback statusCallback_ = nullptr;
    void* statusUser_ = nullptr;

    TcpManager_Client control_;
    TcpManager_Client picture_;
    bool pictureStarted_ = false;
    std::unique_ptr<ImageThread> thread_;
    bool controlUp_ = false;
    std::atomic<bool> imageUp_{false};
    tZelCameraDevInfo info_;
};
