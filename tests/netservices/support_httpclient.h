// Real HTTP peers for the API tests: curl and python3's http.client, run on
// a plain thread while the GUI thread keeps serving; and a fake subscriber.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QTcpServer>

struct HttpAnswer {
    bool ok = false;       // the client ran and got a reply
    int status = 0;        // HTTP status
    QByteArray body;
    QJsonObject json;      // the body when it is a JSON object
};

// POSTs `body` (JSON) with curl --json to http://127.0.0.1:<port><path>.
HttpAnswer curlPost(quint16 port, const QString& path, const QByteArray& body = "{}");
// The same with python3's http.client.
HttpAnswer pythonPost(quint16 port, const QString& path, const QByteArray& body = "{}");

// One request a fake subscriber received.
struct PushRequest {
    QByteArray firstLine;
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;
};

// A subscriber on 127.0.0.1 that records every request and answers it with
// the same task id and a "result" holding recv_time and analysis_time.
class FakeSubscriber : public QObject {
public:
    explicit FakeSubscriber(bool answer = true);
    quint16 port() const { return server_.serverPort(); }
    QList<PushRequest> requests;

private:
    QTcpServer server_;
    bool answer_;
};
