// The device's HTTP API on TCP port 10100: a plant system reads the machine's
// state, counters, last cycle and pictures, queries the operation record,
// clears the counters, sets the clock and registers for pushes. Every route
// answers 403 while the API switch of the network-services manager is off.
//
// The routes that only read (product information, last cycle, pictures)
// answer on the reactor's thread from the state the GUI thread publishes, so
// that a busy GUI thread does not hold them up. The others run on the thread
// that owns this object (the GUI thread); what may take long there (the clock
// programs, connecting to subscribers) runs elsewhere and comes back queued.
#pragma once

#include "httpmanager.h"
#include "subscribers.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QTimer>

#include <functional>
#include <memory>

class XAN_NETMN;
struct ApiSnapshot;
class PushDispatcher;
class QThreadPool;

class HttpApiServer : public HttpManager {
    Q_OBJECT
public:
    static constexpr int kPublishDelayMs = 1000;

    explicit HttpApiServer(XAN_NETMN* owner);
    ~HttpApiServer() override;

    // (Re)starts listening on the manager's API address and port, reloads the
    // subscribers from <workspace>subscriber.ini.
    void init();
    // A cycle record was closed: arms the delayed detected_info push.
    void finish_PeriodRecord();
    // The port listened on (the configured one, or the one chosen for 0).
    quint16 serverPort() const;

    // ---- Subscribers and pushes ------------------------------------------------
    QList<Skt_Session> getSubscriber_FromTopic(QString topic);
    // From any thread: sends one copy of `task` to every live subscriber of
    // `topic`; the look-up runs on this object's thread, the connects on the
    // push thread.
    void publish_message(QString topic, const CTask_FormData& task);
    const SubscriberRegistry& subscribers() const { return subscribers_; }

    // ---- Routes ------------------------------------------------------------------
    void httpapi__get_product_infos(const CTask_FormData& task);
    void httpapi__get_last_detailinfo(const CTask_FormData& task);
    void httpapi__get_detected_picture(const CTask_FormData& task);
    void httpapi__get_records(const CTask_FormData& task);
    void httpapi__set_clear_curcount(const CTask_FormData& task);
    void httpapi__set_localclock(const CTask_FormData& task);
    void httpapi__subscriber_baseinfo(const CTask_FormData& task);

public slots:
    void slot_delay_publish_detectinfo();

private:
    // Answers 403 and returns false while the API switch is off.
    bool apiOn(const CTask_FormData& task);
    // The published state; null when none is yet, and then `route` runs again
    // for `task` on this object's thread once it is.
    std::shared_ptr<const ApiSnapshot> publishedState(void (HttpApiServer::*route)(const CTask_FormData&),
                                                     const CTask_FormData& task);
    // GUI thread (the device id read from the globals).
    void sendJson(const CTask_FormData& request, const QJsonObject& answer);
    // Any thread: the routes that answer from a published state name its id.
    void sendJson(const CTask_FormData& request, const QJsonObject& answer, const QString& deviceId);
    // The same with the answer already written out (compact JSON).
    void sendWritten(const CTask_FormData& request, const QByteArray& answer, const QString& deviceId);

    XAN_NETMN* owner_;
    SubscriberRegistry subscribers_;
    QTimer publishTimer_;
    std::unique_ptr<PushDispatcher> pushes_;
    std::unique_ptr<QThreadPool> clockPool_;  // runs date and hwclock
};
