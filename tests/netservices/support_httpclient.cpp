#include "support_httpclient.h"

#include "platform.h"
#include "support_netservices.h"

#include <QJsonDocument>
#include <QTcpSocket>

namespace {

HttpAnswer finish(const platform::CommandResult& r)
{
    HttpAnswer a;
    if (!r.ok())
        return a;
    // The last line is the status code, the rest the body.
    const int cut = r.out.lastIndexOf('\n');
    if (cut < 0)
        return a;
    a.ok = true;
    a.status = r.out.mid(cut + 1).trimmed().toInt();
    a.body = r.out.left(cut);
    a.json = QJsonDocument::fromJson(a.body).object();
    return a;
}

}  // namespace

HttpAnswer curlPost(quint16 port, const QString& path, const QByteArray& body)
{
    platform::CommandResult r;
    const QString url = QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    runBeside([&] {
        r = platform::runner().run(QStringLiteral("curl"),
                                   {"-s", "--max-time", "10", "--json", QString::fromUtf8(body), "-w", "\n%{http_code}", url},
                                   15000);
    });
    return finish(r);
}

HttpAnswer pythonPost(quint16 port, const QString& path, const QByteArray& body)
{
    const QString script = QStringLiteral(
        "import http.client, sys\n"
        "c = http.client.HTTPConnection('127.0.0.1', %1, timeout=10)\n"
        "c.request('POST', sys.argv[1], body=sys.argv[2].encode(), headers={'Content-Type': 'application/json'})\n"
        "r = c.getresponse()\n"
        "data = r.read()\n"
        "sys.stdout.buffer.write(data + b'\\n' + str(r.status).encode())\n")
                               .arg(port);
    platform::CommandResult r;
    runBeside([&] {
        r = platform::runner().run(QStringLiteral("python3"), {"-c", script, path, QString::fromUtf8(body)}, 15000);
    });
    return finish(r);
}

FakeSubscriber::FakeSubscriber(bool answer)
    : answer_(answer)
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] {
                buffer->append(s->readAll());
                for (;;) {
                    const int end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    PushRequest req;
                    const QList<QByteArray> lines = buffer->left(end).split('\n');
                    req.firstLine = lines.value(0).trimmed();
                    for (int i = 1; i < lines.size(); ++i) {
                        const int colon = lines[i].indexOf(':');
                        if (colon > 0)
                            req.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
                    }
                    const int length = req.headers.value("content-length").toInt();
                    if (buffer->size() < end + 4 + length)
                        return;
                    req.body = buffer->mid(end + 4, length);
                    buffer->remove(0, end + 4 + length);
                    requests.append(req);
                    if (!answer_)
                        continue;
                    const QByteArray json = R"({"code":200,"msg":"OK","result":{"recv_time":3,"analysis_time":4}})";
                    s->write("HTTP/1.1 200 OK\r\nUser-Agent: " + req.headers.value("user-agent")
                             + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(json.size())
                             + "\r\n\r\n" + json);
                }
            });
        }
    });
}
