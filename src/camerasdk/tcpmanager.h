// The camera control link: one client reactor of the network library that
// speaks the camera's request set under "/smon2/camera/".
//
// How a request travels: its parameters are a JSON object kept in the
// request's form["body"] and also sent as the request's JSON body. A camera
// answers either with a JSON reply, whose envelope carries the outcome under
// "result", or with a multipart reply whose JSON parts carry it (with the
// pictures beside them). replyParts() is the one place that reads both.
#pragma once

#include "httpmanager.h"
#include "session.h"
#include "tcpreactor.h"

#include <QHostAddress>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QSharedPointer>
#include <QString>
#include <QThreadPool>
#include <QVariant>

#include <memory>

#include <opencv2/core.hpp>

class TcpManager : public QObject {
    Q_OBJECT
public:
    explicit TcpManager(XANT_TYPE type);
    ~TcpManager() override;

    virtual bool startReactor(const QHostAddress& address, unsigned short port);
    virtual void reRecvMethod(Qt::ConnectionType replies, Qt::ConnectionType requests);

    QSharedPointer<XANC::TcpReactor> reactor() const { return reactor_; }

public slots:
    virtual void SlotRecvResponse(CTask_FormData obj, bool stashed) = 0;
    virtual void SlotRecvRequest(CTask_FormData obj) = 0;

protected:
    // The hand-over from the reactor: cuts its signals to this object, then
    // stops its loop and waits for its thread. From the return on no reply
    // or request reaches this object, whoever else still holds the reactor.
    //
    // The rule: the reactor calls the slots above on its own loop thread,
    // directly (the camera client) or at the owner's choice. A derived class
    // calls stopReactor() first in its destructor, before its members go and
    // before its part of the object does: by the time ~TcpManager runs the
    // slots are pure again, and a reply arriving then would call a
    // half-destroyed object.
    void stopReactor();

    QSharedPointer<XANC::TcpReactor> reactor_;
    XANT_TYPE type_;
};

class TcpManager_Client : public TcpManager {
    Q_OBJECT
public:
    // Result of a call that found no link (never started, or no session).
    static constexpr int kNotConnected = -12;
    // Largest message a camera may send us.
    static constexpr qint64 kMaxReplyBytes = 64LL * 1024 * 1024;

    static const QString kGetParams;
    static const QString kSetParams;
    static const QString kCommands;
    static const QString kGetPic;
    static const QString kPostPic;

    TcpManager_Client();
    ~TcpManager_Client() override;

    // Waits for replies without running the caller's event loop: the
    // exchange runs on a thread of the client's own and the caller blocks.
    // For callers on a thread with other work (the host's GUI thread), which
    // must not be re-entered while a camera answers.
    void setBlockingWait(bool on);

    bool startReactor(const QHostAddress& address, unsigned short port) override;

    int act_getparams(QJsonObject& result);
    int act_getparam(const QString& name, QMap<QString, QVariant>& result);
    bool isConnect();
    QMap<QString, QVariant> act_setparams(const QMap<QString, QVariant>& params);
    QMap<QString, QVariant> act_Command(const QMap<QString, QVariant>& command);
    int act_getPicture(cv::Mat& image, QJsonObject& info, int ms);
    int act_getPicture_sync(CTask_FormData& reply, int ms);
    void act_getPicture_async();

    // ---- The encoding, in one place --------------------------------------
    // A request to `path` with `body` (an empty object sends no body).
    static CTask_FormData makeRequest(const QString& path, const QJsonObject& body);
    // The reply's JSON parts in ascending key order; a JSON reply without
    // parts counts as one part, its envelope. Empty when the reply reports
    // a failure status in its envelope.
    static QList<QPair<QString, QJsonObject>> replyParts(const CTask_FormData& reply, bool* refused = nullptr);
    // The process-wide unique task id of a new request: fixed width, so that
    // one id is never the prefix of another.
    static QString nextTaskId();

public slots:
    void SlotRecvResponse(CTask_FormData obj, bool stashed) override;
    void SlotRecvRequest(CTask_FormData obj) override;

signals:
    void sigRecvPic(cv::Mat image);

private:
    // post_sync with a fresh task id; false without a link.
    bool exchange(CTask_FormData& request, CTask_FormData& reply, int ms);
    QMap<QString, QVariant> sendMap(const QString& path, const QMap<QString, QVariant>& map, const char* failText);

    QMutex picTaskMutex_;
    QString picTaskId_;  // under picTaskMutex_: the reply is matched on the loop thread
    std::unique_ptr<QThreadPool> waitPool_;
};

// A picture as a QImage that owns a copy of its pixels: 8-bit grey, BGR
// (shown as RGB) or BGRA. Anything else gives a null image and a log line.
QImage Mat2QImage(const cv::Mat& mat);

Q_DECLARE_METATYPE(cv::Mat)
