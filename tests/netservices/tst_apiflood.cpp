// Hostile peers of the HTTP API: noise floods and a pipelining client that
// never reads. Log lines, buffered bytes and a second client's answers count.
#include "apisnapshot.h"
#include "httpapiserver.h"
#include "network.h"
#include "statewindow.h"
#include "support_httpclient.h"
#include "tcpreactor.h"
#include "testworkdir.h"

#include <QDir>
#include <QJsonDocument>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::atomic<int> gLines {0};
void countLines(QtMsgType t, const QMessageLogContext&, const QString&) { gLines += t != QtDebugMsg; }
int openFds() { return QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size(); }

// A non-blocking loopback client with a small receive buffer.
int rawClient(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0), small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return ::close(fd), -1;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Sends what the kernel takes now; false once the server has closed.
bool pushSome(int fd, const QByteArray& data, qint64& sent)
{
    ssize_t n = 1;
    while (sent < data.size() && (n = ::send(fd, data.constData() + sent, size_t(data.size() - sent), MSG_NOSIGNAL)) > 0)
        sent += n;
    if (n < 0 && errno != EAGAIN)
        return false;
    char c;
    n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return !(n == 0 || (n < 0 && errno != EAGAIN));
}

}  // namespace

class TestApiFlood : public QObject {
    Q_OBJECT
    TestWorkDir wd_;
    StateWindow win_;
    XAN_NETMN* m_ = nullptr;
    quint16 port_ = 0;
    QSharedPointer<XANC::TcpReactor> reactor() const { return m_->apiServer->reactor(); }

private slots:
    void initTestCase()
    {
        gpState = &win_;
        QFile f("cnt_net/config.json");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(QJsonObject{{"devicename", "press-9"}, {"device_workapifunc", true}}).toJson());
        f.close();
        m_ = new XAN_NETMN(XAN_NETMN::defaultConfigPath(), 0, QHostAddress::LocalHost);
        m_->initStart();
        port_ = m_->apiServer->serverPort();
        QVERIFY(port_ != 0);
        ApiSnapshot::publish();
    }
    void cleanupTestCase()
    {
        delete m_;
        gpState = nullptr;
    }

    void noiseFloodIsCountedAndClosed_data()
    {
        QTest::addColumn<QByteArray>("noise");
        QTest::newRow("empty heads") << QByteArray("\r\n\r\n");
        QTest::newRow("lines without a start line") << QByteArray("hello there\r\nX: y\r\n\r\n");
        QTest::newRow("bodies that do not parse") << QByteArray("POST /v18/http/get_product_infos HTTP/1.1\r\n"
                                                                "Content-Type: application/json\r\nContent-Length: 3\r\n\r\n{x}");
    }
    void noiseFloodIsCountedAndClosed()
    {
        QFETCH(QByteArray, noise);
        const QByteArray flood = noise.repeated(1024 * 1024 / noise.size());  // 1 MB on each of 8 connections
        const int fdsBefore = openFds();
        gLines = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countLines);
        QList<int> fds;
        QVector<qint64> sent(8, 0);
        for (int i = 0; i < 8; ++i)
            fds << rawClient(port_);
        const bool allClosed = QTest::qWaitFor([&] {
            int open = 0;
            for (int i = 0; i < fds.size(); ++i)
                open += fds[i] >= 0 && pushSome(fds[i], flood, sent[i]);
            return open == 0;
        }, 60000);
        const HttpAnswer second = curlPost(port_, "/v18/http/get_product_infos");
        for (int fd : fds)
            ::close(fd);
        QVERIFY(QTest::qWaitFor([&] { return reactor()->sessionCount() == 0; }, 20000));
        qInstallMessageHandler(previous);
        QVERIFY(!fds.contains(-1));
        QVERIFY(allClosed);  // by the server
        QCOMPARE(second.status, 200);
        QVERIFY2(gLines.load() <= 8, qPrintable(QString::number(gLines.load())));  // counts, not a line per head
        QCOMPARE(openFds(), fdsBefore);
    }

    void unreadAnswersAreBounded_data()
    {
        QTest::addColumn<bool>("peerCloses");
        QTest::newRow("the peer goes") << true;
        QTest::newRow("the peer stays and never reads") << false;
    }
    void unreadAnswersAreBounded()
    {
        QFETCH(bool, peerCloses);
        const Session::Limits saved = reactor()->sessionLimits();
        Session::Limits limits = saved;
        limits.stallTimeoutMs = peerCloses ? 600000 : 300;
        reactor()->setSessionLimits(limits);
        const QByteArray pipeline = QByteArray("POST /v18/http/get_product_infos HTTP/1.1\r\n"
                                               "Content-Type: application/json\r\nContent-Length: 2\r\n\r\n{}")
                                        .repeated(60000);  // 6 MB of requests
        const int fd = rawClient(port_);
        QVERIFY(fd >= 0);
        qint64 sent = 0;
        // Until the server holds reading and the kernel takes nothing more.
        QVERIFY(QTest::qWaitFor([&] {
            const qint64 before = sent;
            pushSome(fd, pipeline, sent);
            return reactor()->holdingSessions() == 1 && sent == before;
        }, 60000));
        const qint64 buffered = reactor()->bufferedBytes();
        const HttpAnswer second = curlPost(port_, "/v18/http/get_product_infos");
        if (peerCloses)
            ::close(fd);
        const bool gone = QTest::qWaitFor([&] { return reactor()->sessionCount() == 0; }, 20000);
        const qint64 left = reactor()->bufferedBytes();
        if (!peerCloses)
            ::close(fd);
        reactor()->setSessionLimits(saved);
        QVERIFY(sent < pipeline.size());
        QVERIFY2(buffered <= 2 * Session::kReadAheadBytes + limits.maxUnsentBytes + 64 * 1024,
                 qPrintable(QString::number(buffered)));
        QCOMPARE(second.status, 200);
        QVERIFY(gone);  // closed by the server when silent
        QCOMPARE(left, qint64(0));
    }
};

QTEST_MAIN(TestApiFlood)
#include "tst_apiflood.moc"
