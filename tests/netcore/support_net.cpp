#include "support_net.h"

#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QThread>

#include <atomic>

namespace nettest {

int openFdCount()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
}

bool waitFor(const std::function<bool()>& cond, int ms)
{
    return QTest::qWaitFor(cond, ms);
}

QList<CTask_FormData> cutStream(const QByteArray& stream, const QList<int>& splits, bool* closed)
{
    QList<CTask_FormData> out;
    Session session(nullptr, nullptr, 7);
    QObject::connect(&session, &Session::sigRequest, [&out](CTask_FormData r) { out << r; });
    QObject::connect(&session, &Session::sigResponse, [&out](CTask_FormData r) { out << r; });
    int pos = 0;
    for (int cut : splits) {
        session.feedBytes(stream.mid(pos, cut - pos));
        pos = cut;
    }
    session.feedBytes(stream.mid(pos));
    if (closed)
        *closed = session.isClosing();
    return out;
}

bool haveWholeMessage(const QByteArray& bytes)
{
    const int sep = bytes.indexOf("\r\n\r\n");
    if (sep < 0)
        return false;
    static const QRegularExpression re(QStringLiteral("Content-Length: (\\d+)"));
    const auto m = re.match(QString::fromLatin1(bytes.left(sep)));
    const int length = m.hasMatch() ? m.captured(1).toInt() : 0;
    return bytes.size() >= sep + 4 + length;
}

QByteArray readUntil(QTcpSocket& socket, const std::function<bool(const QByteArray&)>& done, int ms)
{
    QByteArray got;
    waitFor(
        [&] {
            got += socket.readAll();
            return done(got) || socket.state() != QAbstractSocket::ConnectedState;
        },
        ms);
    got += socket.readAll();
    return got;
}

QByteArray wireBytes(const CTask_FormData& record, quint16* peerPort)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return {};
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!client.waitForConnected(5000) || !server.waitForNewConnection(5000))
        return {};
    QTcpSocket* side = server.nextPendingConnection();
    if (peerPort)
        *peerPort = client.localPort();
    SCI_ExecObj_Send send(record);
    send.SerializeWrite(side);
    QByteArray got = readUntil(client, [](const QByteArray& b) { return haveWholeMessage(b); });
    return got;
}

bool haveTool(const QString& program)
{
    return !QStandardPaths::findExecutable(program).isEmpty() ||
           (program.startsWith(QLatin1Char('/')) && QFile::exists(program));
}

int runTool(const QString& program, const QStringList& args, QByteArray* out, int timeoutMs, QByteArray* err)
{
    platform::CommandResult result;
    std::atomic<bool> finished{false};
    QThread* t = QThread::create([&] {
        result = platform::runner().run(program, args, timeoutMs);
        finished = true;
    });
    t->start();
    waitFor([&] { return finished.load(); }, timeoutMs + 10000);
    t->wait();
    delete t;
    if (out)
        *out = result.out;
    if (err)
        *err = result.err;
    if (!result.started || result.timedOut)
        return -1;
    return result.exitCode;
}

std::unique_ptr<QTcpSocket> rawClient(quint16 port)
{
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, port);
    s->waitForConnected(5000);
    return s;
}

CTask_FormData replyTo(const CTask_FormData& request)
{
    CTask_FormData reply;
    reply.taskId = request.taskId;
    reply.sessionIndex = request.sessionIndex;
    return reply;
}

}  // namespace nettest
