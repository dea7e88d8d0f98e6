// Hostile peers of the device's HTTP API: a flood of noise and a client that
// pipelines requests and never reads. The log takes counts, the noisy and
// the silent connections are closed, what the program buffers stays bounded
// and goes when the peer goes, and a second client is answered throughout.
#include "apisnapshot.h"
#include "databases.h"
#include "httpapiserver.h"
#include "network.h"
#include "recordstore.h"
#include "statewindow.h"
#include "support_httpclient.h"
#include "tcpreactor.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<int> gLines {0};
void countLines(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type != QtDebugMsg)
        ++gLines;
}

int openFds()
{
    return QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
}

// A non-blocking client socket of the API port with a small receive buffer.
int rawClient(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Sends what the kernel takes now; false once the server has closed.
bool pushSome(int fd, const QByteArray& data, qint64& sent)
{
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + sent, size_t(data.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    char c;
    const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return !(n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK));
}

const QByteArray kAsk = "POST /v18/http/get_product_infos HTTP/1.1\r\nContent-Type: application/json\r\n"
                        "Content-Length: 2\r\n\r\n{}";

}  // namespace

class TestApiFlood : public QObject {
    Q_OBJECT
private:
    TestWorkDir* wd_ = nullptr;
    StateWindow* win_ = nullptr;
    XAN_NETMN* m_ = nullptr;
    quint16 port_ = 0;

    QSharedPointer<XANC::TcpReactor> reactor() const { return m_->apiServer->reactor(); }

private slots:
    void initTestCase()
    {
        wd_ = new TestWorkDir;
        win_ = new StateWindow;
        Databases::get().setRecordStore(new RecordStore(QStringLiteral("apiflood")));
        QVERIFY(Databases::get().recordStore()->open(QStringLiteral("./RECORD.db")));
        gpState = win_;
        numCamera = 1;
        gDNum = 1;
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
        delete win_;
        delete wd_;
    }

    void noiseFloodIsCountedAndClosed_data()
    {
        QTest::addColumn<QByteArray>("noise");
        QTest::newRow("empty heads") << QByteArray("\r\n\r\n");
        QTest::newRow("lines without a start line") << QByteArray("hello there\r\nX: y\r\n\r\n");
        QTest::newRow("bodies that do not parse")
            << QByteArray("POST /v18/http/get_product_infos HTTP/1.1\r\nContent-Type: application/json\r\n"
                          "Content-Length: 3\r\n\r\n{x}");
    }
    void noiseFloodIsCountedAndClosed()
    {
        QFETCH(QByteArray, noise);
        const QByteArray flood = noise.repeated(1024 * 1024 / noise.size());  // 1 MB each
        const int fdsBefore = openFds();
        gLines = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countLines);
        QList<int> fds;
        QList<qint64> sent;
        for (int i = 0; i < 8; ++i) {
            fds << rawClient(port_);
            QVERIFY(fds.last() >= 0);
            sent << 0;
        }
        // Every connection is closed by the server.
        const bool allClosed = QTest::qWaitFor(
            [&] {
                int open = 0;
                for (int i = 0; i < fds.size(); ++i)
                    open += pushSome(fds[i], flood, sent[i]) ? 1 : 0;
                return open == 0;
            },
            60000);
        const HttpAnswer second = curlPost(port_, "/v18/http/get_product_infos");
        for (int fd : fds)
            ::close(fd);
        QVERIFY(QTest::qWaitFor([&] { return reactor()->sessionCount() == 0; }, 20000));
        qInstallMessageHandler(previous);
        QVERIFY(allClosed);
        QVERIFY(second.ok);
        QCOMPARE(second.status, 200);
        // 8 connections of noise: counts, not a line per head or message.
        QVERIFY2(gLines.load() <= 8, qPrintable(QString::number(gLines.load())));
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
        const QByteArray pipeline = kAsk.repeated(60000);  // 6 MB of requests
        const int fd = rawClient(port_);
        QVERIFY(fd >= 0);
        qint64 sent = 0;
        // Until the server holds reading and the kernel takes nothing more.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const qint64 before = sent;
                pushSome(fd, pipeline, sent);
                return reactor()->holdingSessions() == 1 && sent == before;
            },
            60000));
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
        QVERIFY(second.ok);
        QCOMPARE(second.status, 200);
        QVERIFY(gone);
        QCOMPARE(left, qint64(0));
    }
};

QTEST_MAIN(TestApiFlood)
#include "tst_apiflood.moc"
