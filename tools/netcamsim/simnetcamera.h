// A network camera as the camera SDK meets it, built on the network library:
// the control service (getparams, setparams, commands) on port 10401, the
// picture service (getpic) on port 10402, and optionally the discovery
// server. Every picture carries its frame number, in its head and drawn into
// a band along its top edge (the first four bytes hold it, little-endian;
// the next eight the picture's making time in ms since the epoch).
//
// The picture is a still moulded part (a short shot when the defect knob is
// set). Knobs for the tests and the demo: a reply delay, a frame interval (a
// camera slower than the pulls: a picture request waits for the next frame
// of the camera's clock, made then and sent at once, the same frame to every
// request that waited for it), a dropped connection every
// n-th picture, an empty reply every n-th picture, a bad descriptor every
// n-th picture, garbage instead of a picture every n-th picture, a stall
// (requests stay unanswered) for a while, and settings and commands left
// unanswered.
#pragma once

#include "session.h"
#include "tcpreactor.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QThreadPool>
#include <QStringList>

#include <opencv2/core.hpp>

#include <atomic>
#include <memory>

class UDP_ACam_Server;

namespace netcamsim {

struct Options {
    QHostAddress address = QHostAddress(QStringLiteral("127.0.0.2"));
    quint16 controlPort = 10401;
    quint16 picturePort = 10402;
    int width = 640;
    int height = 480;
    int channels = 1;       // 1 grey, 3 colour (BGR)
    bool discovery = false; // also answer discovery (broadcasts: namespaces only)
};

struct Knobs {
    std::atomic<int> replyDelayMs{0};
    std::atomic<int> frameIntervalMs{0}; // at most one picture made per interval
    std::atomic<int> dropEvery{0};       // close the picture connection instead of every n-th reply
    std::atomic<int> emptyEvery{0};      // every n-th picture reply has no picture
    std::atomic<int> badDescriptorEvery{0};
    std::atomic<int> garbageEvery{0};
    std::atomic<qint64> stallUntilMs{0}; // monotonic ms; requests before it are not answered
    std::atomic<bool> defect{false};     // the part shows a short shot
    std::atomic<bool> ignoreSettings{false};  // setparams and commands stay unanswered
};

class SimServer;

class SimNetCamera : public QObject {
    Q_OBJECT
public:
    explicit SimNetCamera(const Options& options, QObject* parent = nullptr);
    ~SimNetCamera() override;

    // Starts both services (and the discovery server when asked).
    bool start();
    void stop();

    Knobs& knobs() { return knobs_; }
    void setFrameSize(int width, int height, int channels);
    void stall(int ms);

    // What the camera received, for the tests.
    QJsonObject paramTable() const;
    QJsonObject lastSetParamsBody() const;
    QJsonObject lastCommandBody() const;
    bool playing() const { return playing_.load(); }
    quint64 framesServed() const { return frameNo_.load(); }
    // When the latest picture was made (ms since the epoch, as madeAtOf).
    qint64 lastMadeAt() const { return lastMadeMs_.load(); }
    int requestsSeen() const { return requests_.load(); }
    QString deviceKey() const;

    // The frame number a picture of this camera carries.
    static quint32 frameNumberOf(const unsigned char* pixels);
    // When the picture was made (ms since the epoch).
    static qint64 madeAtOf(const unsigned char* pixels);

signals:
    void rebootRequested();

private:
    void onControl(SimServer* server, const CTask_FormData& request);
    void onPicture(SimServer* server, const CTask_FormData& request);
    void reply(SimServer* server, const CTask_FormData& request, CTask_FormData answer);
    CTask_FormData pictureReply(quint64 n);
    // The slow camera's answer: on a thread of its own, so that the loop
    // serves other requests (a client's stale one too) meanwhile.
    void answerWhenMade(SimServer* server, const CTask_FormData& request, int intervalMs);

    Options options_;
    Knobs knobs_;
    mutable QMutex mutex_;
    QJsonObject table_;
    QJsonObject lastSet_;
    QJsonObject lastCommand_;
    int width_, height_, channels_;
    std::atomic<bool> playing_{false};
    std::atomic<quint64> frameNo_{0};
    std::atomic<qint64> lastMadeMs_{0};
    std::atomic<quint64> pictureRequests_{0};
    std::atomic<int> requests_{0};
    QMutex sceneMutex_;  // pictureReply: the scene, made by the loop or a slow answer
    cv::Mat scene_;  // the still picture, remade when size or defect change
    qint64 madeFrame_ = -1;      // the slow camera's clock: the frame made last
    CTask_FormData madeReply_;   // and its picture
    QMutex slowMutex_;           // accepting_ and starting a slow answer
    bool accepting_ = false;
    QThreadPool slowAnswers_;
    bool sceneDefect_ = false;
    QSharedPointer<SimServer> control_;
    QSharedPointer<SimServer> picture_;
    std::unique_ptr<UDP_ACam_Server> discovery_;
};

}  // namespace netcamsim
