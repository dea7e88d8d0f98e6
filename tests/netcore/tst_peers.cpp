// Our server and client against programs nobody here wrote: curl, Node's
// http module, the npm "ws" package and nginx. Each is skipped when the
// program is not installed (scripts/install-deps installs them).
#include "httpmanager.h"
#include "platform.h"
#include "support_net.h"
#include "webskt_core.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

using nettest::haveTool;
using nettest::runTool;
using nettest::waitFor;

namespace {

class Api : public HttpManager {
public:
    Api() : HttpManager(XANT_SERVER)
    {
        routeMap_.insert("/v18/http/state", [this](CTask_FormData r) {
            answer(r, QJsonObject{{"run", 1}, {"q", r.query.value("cam")}});
        });
        routeMap_.insert("/v18/http/upload", [this](CTask_FormData r) {
            lastUpload = r;
            answer(r, QJsonObject{{"items", r.json.value("items").toArray().size()},
                                  {"form", r.form.value("note").toString()}});
        });
        routeMap_.insert("/v18/http/picture", [this](CTask_FormData r) {
            CTask_FormData reply = nettest::replyTo(r);
            reply.files.insert("/no/such/picture.jpg", QByteArray());
            reactor()->post_async(reply);
        });
    }
    void answer(const CTask_FormData& r, const QJsonObject& result)
    {
        CTask_FormData reply = nettest::replyTo(r);
        reply.json = result;
        reactor()->post_async(reply);
    }
    quint16 port() const { return static_cast<XANC::TcpServReactor*>(reactor().data())->serverPort(); }
    CTask_FormData lastUpload;
};

QString url(quint16 port, const QString& path)
{
    return QString("http://127.0.0.1:%1%2").arg(port).arg(path);
}

QString nodeModules()
{
    QStringList candidates;
    const QString env = qEnvironmentVariable("NODE_PATH");
    if (!env.isEmpty())
        candidates << env.split(':');
    candidates << qEnvironmentVariable("VMM_SOURCE_DIR") + "/build/node/node_modules" << "/tmp/vmm-node/node_modules"
               << "/usr/share/nodejs" << "/usr/lib/node_modules";
    for (const QString& c : candidates)
        if (!c.isEmpty() && QFile::exists(c + "/ws/package.json"))
            return c;
    return {};
}

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

}  // namespace

class TstPeers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void curlGetKeepAliveAnd404();
    void curlLargePost();
    void curlMultipartForm();
    void curlReadsOwnResultCode();
    void nodeHttpWithContentLength();
    void nodeWsClient();
    void clientAgainstNginx();

private:
    Api api_;
};

void TstPeers::initTestCase()
{
    QVERIFY(api_.startReactor(QHostAddress::LocalHost, 0, 1));
}

void TstPeers::curlGetKeepAliveAnd404()
{
    if (!haveTool("curl"))
        QSKIP("curl is not installed");
    QByteArray out, err;
    // Three requests on one connection: curl reuses it (keep-alive).
    const int rc = runTool("curl", {"-sS", "-v", "-w", "\\n%{http_code}\\n", url(api_.port(), "/v18/http/state?cam=2"),
                                    url(api_.port(), "/v18/http/state?cam=3"), url(api_.port(), "/nowhere")},
                           &out, 60000, &err);
    QCOMPARE(rc, 0);
    const QList<QByteArray> lines = out.split('\n');
    QVERIFY2(out.contains("{\"code\":200,\"msg\":\"OK\",\"result\":{\"q\":\"2\",\"run\":1}}\n200"), out.constData());
    QVERIFY(out.contains("{\"code\":200,\"msg\":\"OK\",\"result\":{\"q\":\"3\",\"run\":1}}\n200"));
    QVERIFY(out.contains("{\"code\":404,\"msg\":\"no found url\"}\n404"));
    QVERIFY2(err.contains("Re-using existing connection"), err.constData());
}

void TstPeers::curlLargePost()
{
    if (!haveTool("curl"))
        QSKIP("curl is not installed");
    QTemporaryDir dir;
    QJsonArray items;
    for (int i = 0; i < 200000; ++i)
        items.append(QString("item-%1").arg(i));
    const QByteArray body = QJsonDocument(QJsonObject{{"items", items}}).toJson(QJsonDocument::Compact);
    QVERIFY(body.size() > 2 * 1024 * 1024);
    QFile f(dir.filePath("body.json"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(body);
    f.close();
    QByteArray out;
    const int rc = runTool("curl", {"-sS", "-H", "Expect:", "-H", "Content-Type: application/json", "--data-binary",
                                    "@" + f.fileName(), url(api_.port(), "/v18/http/upload")},
                           &out);
    QCOMPARE(rc, 0);
    QVERIFY2(out.contains("\"items\":200000"), out.constData());
    QCOMPARE(api_.lastUpload.json.value("items").toArray().size(), 200000);
}

void TstPeers::curlMultipartForm()
{
    if (!haveTool("curl"))
        QSKIP("curl is not installed");
    QByteArray out;
    const int rc = runTool("curl", {"-sS", "-H", "Expect:", "-F", "note=hello world", "-F", "meta={\"a\":1};type=application/json",
                                    url(api_.port(), "/v18/http/upload")},
                           &out);
    QCOMPARE(rc, 0);
    QVERIFY2(out.contains("\"form\":\"hello world\""), out.constData());
    QCOMPARE(api_.lastUpload.form.value("meta").value<QJsonObject>(), QJsonObject({{"a", 1}}));
}

void TstPeers::curlReadsOwnResultCode()
{
    if (!haveTool("curl"))
        QSKIP("curl is not installed");
    QByteArray out;
    const int rc = runTool("curl", {"-sS", "-w", "\\n%{http_code}", url(api_.port(), "/v18/http/picture")}, &out);
    QCOMPARE(rc, 0);
    const QList<QByteArray> parts = out.split('\n');
    QCOMPARE(parts.last(), QByteArray("200"));
    const QJsonObject body = QJsonDocument::fromJson(parts.first()).object();
    QCOMPARE(body.value("code").toInt(), 1);
    QCOMPARE(body.value("msg").toString(), QString::fromUtf8("未查询到需要获取的图片文件"));
}

void TstPeers::nodeHttpWithContentLength()
{
    if (!haveTool("node"))
        QSKIP("node is not installed");
    const QString script = QString(R"JS(
const http = require('http');
const body = JSON.stringify({items: ['ä', 'b', 'c'], note: 'x'});
const req = http.request({host: '127.0.0.1', port: %1, path: '/v18/http/upload', method: 'POST',
  headers: {'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(body), 'User-Agent': 'node-1'}},
  res => { let d = ''; res.on('data', c => d += c); res.on('end', () => {
    console.log(res.statusCode, res.headers['user-agent'], d); }); });
req.on('error', e => { console.log('ERR', e.message); process.exit(3); });
req.end(body);
)JS").arg(api_.port());
    QByteArray out;
    const int rc = runTool("node", {"-e", script}, &out);
    QCOMPARE(rc, 0);
    QVERIFY2(out.startsWith("200 node-1 {\"code\":200,\"msg\":\"OK\",\"result\":{\"form\":\"\",\"items\":3}}"), out.constData());
}

void TstPeers::nodeWsClient()
{
    const QString modules = nodeModules();
    if (!haveTool("node") || modules.isEmpty())
        QSKIP("node or the npm package ws is not installed");
    WebSkt_Server server;
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    connect(&server, &WebSkt_Core::sig_recv_message, &server, [&server](CTask_FormData_WebSkt_Json r) {
        r.data.insert("seen", true);
        server.sendTextMessage(r);
    }, Qt::DirectConnection);
    const QString script = QString(R"JS(
const WebSocket = require('ws');
const ws = new WebSocket('ws://127.0.0.1:%1');
ws.on('open', () => { ws.send('garbage first'); ws.send(JSON.stringify({url: '/n', user_agent: 'n1', data: {k: 2}})); });
ws.on('message', m => { console.log(String(m)); ws.close(); });
ws.on('close', () => process.exit(0));
ws.on('error', e => { console.log('ERR', e.message); process.exit(3); });
setTimeout(() => process.exit(4), 20000);
)JS").arg(server.serverPort());
    QByteArray out;
    qputenv("NODE_PATH", modules.toUtf8());
    const int rc = runTool("node", {"-e", script}, &out);
    QCOMPARE(rc, 0);
    QCOMPARE(out.trimmed(), QByteArray(R"({"data":{"k":2,"seen":true},"url":"/n","user_agent":"n1"})"));
}

void TstPeers::clientAgainstNginx()
{
    const QString nginx = haveTool("nginx") ? "nginx" : "/usr/sbin/nginx";
    if (!haveTool(nginx))
        QSKIP("nginx is not installed");
    QTemporaryDir dir;
    const quint16 port = freePort();
    QDir(dir.path()).mkpath("tmp");
    QDir(dir.path()).mkpath("www");
    QByteArray big(3 * 1024 * 1024 + 17, 0);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7);
    {
        QFile f(dir.filePath("www/big.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(big);
    }
    const QString conf = QString(R"(daemon off;
master_process off;
pid %1/nginx.pid;
error_log %1/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path %1/tmp/body; proxy_temp_path %1/tmp/proxy; fastcgi_temp_path %1/tmp/fcgi;
  uwsgi_temp_path %1/tmp/uwsgi; scgi_temp_path %1/tmp/scgi;
  types { application/octet-stream bin; }
  server {
    listen 127.0.0.1:%2;
    root %1/www;
    location /state { default_type application/json; return 200 '{"run":1}'; }
  }
}
)").arg(dir.path()).arg(port);
    {
        QFile f(dir.filePath("nginx.conf"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(conf.toUtf8());
    }
    QVERIFY(platform::runner().startDetached(nginx, {"-p", dir.path(), "-c", dir.filePath("nginx.conf")}, false));
    qint64 pid = 0;
    QVERIFY(waitFor([&] {
        QFile p(dir.filePath("nginx.pid"));
        if (p.open(QIODevice::ReadOnly))
            pid = p.readAll().trimmed().toLongLong();
        return pid > 0;
    }));
    struct Stop {
        qint64 pid;
        ~Stop() { ::kill(pid_t(pid), SIGQUIT); }
    } stop{pid};

    XANC::TcpCliReactor client;
    bool up = false;
    QVERIFY(waitFor([&] { return up = client.reAction(QHostAddress::LocalHost, port); }));
    QList<CTask_FormData> replies;
    connect(&client, &XANC::TcpReactor::sigResponse, this, [&](CTask_FormData r, bool) { replies << r; });
    CTask_FormData a;
    a.method = "GET";
    a.url = "/state";
    a.sessionIndex = -1;
    QVERIFY(client.post_async(a));
    QVERIFY(waitFor([&] { return replies.size() == 1; }));
    QCOMPARE(replies[0].json, QJsonObject({{"run", 1}}));
    // A second request on the same connection, with a large body back.
    CTask_FormData b;
    b.method = "GET";
    b.url = "/big.bin";
    QVERIFY(client.post_async(b));
    QVERIFY(waitFor([&] { return replies.size() == 2; }, 30000));
    QCOMPARE(replies[1].files.value(QString()), big);
    QCOMPARE(client.getAliveSession().size(), 1);
}

QTEST_GUILESS_MAIN(TstPeers)
#include "tst_peers.moc"
