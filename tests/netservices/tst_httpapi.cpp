#include "apisnapshot.h"
#include "counted.h"
#include "databases.h"
#include "httpapiserver.h"
#include "network.h"
#include "platform.h"
#include "recordstore.h"
#include "statewindow.h"
#include "support_httpclient.h"
#include "support_netservices.h"
#include "tcpreactor.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QSqlQuery>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QStringList kRoutes{"/v18/http/get_product_infos",    "/v18/http/get_last_detectinfo",
                          "/v18/http/get_detected_picture", "/v18/http/get_records",
                          "/v18/http/set_clear_curcount",   "/v18/http/set_localclock",
                          "/v18/http/subscriber_baseinfo"};

void writeConfig(bool api)
{
    QFile f("cnt_net/config.json");
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QJsonDocument(QJsonObject{{"devicename", "press-7"}, {"device_workapifunc", api}}).toJson());
}

// A runner whose "date" fails, for the clock route.
class FailingDateRunner : public platform::CommandRunner {
public:
    platform::CommandResult runOnTarget(const QString& program, const QStringList& args, int timeoutMs) override
    {
        if (program == QLatin1String("date")) {
            record(program, args);
            platform::CommandResult r;
            r.started = true;
            r.exitCode = 1;
            return r;
        }
        return CommandRunner::runOnTarget(program, args, timeoutMs);
    }
};

QStringList recordRows()
{
    QStringList out;
    QSqlQuery q(Databases::get().recordStore()->db());
    q.exec("SELECT remarks, recordtype FROM RECORD");
    while (q.next())
        out << q.value(0).toString() + '|' + q.value(1).toString();
    return out;
}

// Hostile peers: log lines, buffered bytes and a second client's answers count.

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

class TestHttpApi : public QObject {
    Q_OBJECT
private:
    TestWorkDir* wd_ = nullptr;
    StateWindow* win_ = nullptr;
    XAN_NETMN* m_ = nullptr;
    GuiLatenessWatch* watch_ = nullptr;
    quint16 port_ = 0;

    QSharedPointer<XANC::TcpReactor> reactor() const { return m_->apiServer->reactor(); }

    void setApi(bool on)
    {
        writeConfig(on);
        m_->initStart();
        port_ = m_->apiServer->serverPort();
        QVERIFY(port_ != 0);
    }

private slots:
    void initTestCase()
    {
        wd_ = new TestWorkDir;
        win_ = new StateWindow;
        Databases::get().setRecordStore(new RecordStore(QStringLiteral("httpapi")));
        QVERIFY(Databases::get().recordStore()->open(QStringLiteral("./RECORD.db")));
        gpState = win_;
        numCamera = 2;
        gDNum = 2;
        gDeviceID = "SN-42";
        m_ = new XAN_NETMN(XAN_NETMN::defaultConfigPath(), 0, QHostAddress::LocalHost);
        setApi(true);
        watch_ = new GuiLatenessWatch;
    }
    void cleanupTestCase()
    {
        QVERIFY(watch_->report("TestHttpApi"));
        delete watch_;
        delete m_;
        gpState = nullptr;
        delete win_;
        delete wd_;
    }
    void init()
    {
        platform::runner().clearRecorded();
        CounterValues v;
        for (int i = 0; i < kMaxCamera; ++i) {
            v.all[i] = 10 + i;
            v.fail[i] = i;
            v.allCycle[i] = 20 + i;
            v.failCycle[i] = 1;
        }
        v.syncNg = 5;
        v.syncNgCycle = 6;
        ProductionCounters::get().restore(v);
        win_->cycleStatus().runState = 1;
        win_->cycleStatus().detectState = 2;
        win_->cycleStatus().runStep = 0;
        // What the GUI thread's event loop does between handlers.
        ApiSnapshot::publish();
    }

    void switchOffAnswers403Everywhere_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        for (const QString& r : kRoutes)
            QTest::newRow(qPrintable(r)) << r << QByteArray(R"({"datetime":"2024-01-05 08:00:00","subscriber":[]})");
    }
    void switchOffAnswers403Everywhere()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        setApi(false);
        const HttpAnswer a = curlPost(port_, path, body);
        setApi(true);
        QVERIFY(a.ok);
        QCOMPARE(a.status, 403);
        QCOMPARE(a.json.value("code").toInt(), 403);
        QCOMPARE(a.json.value("msg").toString(), QString("未启用API服务"));
        QCOMPARE(counted().all[3], 13);
        QCOMPARE(platform::runner().recorded(), QStringList());
        QVERIFY(m_->apiServer->subscribers().keys().isEmpty());
    }

    void unknownRouteIs404()
    {
        const HttpAnswer a = curlPost(port_, "/v18/http/nothing_here");
        QCOMPARE(a.status, 404);
        QCOMPARE(a.json.value("msg").toString(), QString("no found url"));
    }

    void productInfosOverCurlAndPython()
    {
        for (const HttpAnswer& a : {curlPost(port_, "/v18/http/get_product_infos"),
                                    pythonPost(port_, "/v18/http/get_product_infos")}) {
            QVERIFY(a.ok);
            QCOMPARE(a.status, 200);
            QCOMPARE(a.json.value("code").toInt(), 200);
            const QJsonObject r = a.json.value("result").toObject();
            QCOMPARE(r.value("camera_count").toInt(), 2);
            QCOMPARE(r.value("device_id").toString(), QString("press-7"));
            QCOMPARE(r.value("device_sn").toString(), QString("SN-42"));
            QCOMPARE(r.value("run_status").toInt(), 1);
            QCOMPARE(r.value("detect_status").toInt(), 1);
            QCOMPARE(r.value("detect_all").toInt(), 27);
            QCOMPARE(r.value("detect_ng").toInt(), 6);
            QCOMPARE(r.value("detect_all_detail").toArray(), (QJsonArray{10, 11}));
            QCOMPARE(r.value("detect_ng_detail").toArray(), (QJsonArray{0, 1}));
        }
    }

    void lastDetectInfo()
    {
        m_->clearCycle();
        ApiSnapshot::publish();
        HttpAnswer a = curlPost(port_, "/v18/http/get_last_detectinfo");
        QCOMPARE(a.status, 403);
        QCOMPARE(a.json.value("msg").toString(), QString("获取列表为空，需要先检测后获取信息。"));

        m_->start_PeriodRecord();
        param_roi roi;
        roi.camera = 1;
        roi.result = 1;
        m_->putRoiResult(roi);
        m_->add_PeriodRecord_Picture(1, 0, true, wd_->file("alarmimage/camera2/detect1/OK/p.jpg"));
        m_->finish_PeriodRecord();
        ApiSnapshot::publish();
        a = curlPost(port_, "/v18/http/get_last_detectinfo");
        QCOMPARE(a.status, 200);
        const QJsonObject r = a.json.value("result").toObject();
        QCOMPARE(r.value("device_id").toString(), QString("press-7"));
        QCOMPARE(r.value("detect_result").toBool(), true);
        QVERIFY(r.value("uuid").toString().startsWith("V18#press-7@"));
        QCOMPARE(r.value("pictures").toArray(),
                 (QJsonArray{QJsonObject{{"camera_index", 1}, {"detect_index", 0}, {"detect_result", true}, {"picture_name", "p.jpg"}}}));
        QCOMPARE(r.value("detail").toArray().size(), 1);

        // Through the next cycles: while one is open the route answers the
        // cycle closed before it, never a record without its summary.
        QString closed = r.value("uuid").toString();
        for (int cycle = 0; cycle < 3; ++cycle) {
            m_->clockMs = [cycle] { return 1700000000000LL + cycle; };
            for (int step = 0; step < 2; ++step) {
                step ? m_->finish_PeriodRecord() : m_->start_PeriodRecord();
                ApiSnapshot::publish();
                const QString got = curlPost(port_, "/v18/http/get_last_detectinfo").json.value("result").toObject().value("uuid").toString();
                QVERIFY(step ? got != closed && !got.isEmpty() : got == closed);
                closed = got;
            }
        }
        m_->clockMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    }

    void detectedPicture_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("found");
        QTest::newRow("real") << "shot.jpg" << true;
        QTest::newRow("../x") << "../x" << false;
        QTest::newRow("/etc/passwd") << "/etc/passwd" << false;
        QTest::newRow("a/b") << "a/b" << false;
        QTest::newRow("..") << ".." << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("climb to config") << "../../../../cnt_net/config.json" << false;
    }
    void detectedPicture()
    {
        QFETCH(QString, name);
        QFETCH(bool, found);
        QDir().mkpath("alarmimage/camera1/detect2/NG");
        QByteArray bytes(200000, 'j');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7);
        QFile f("alarmimage/camera1/detect2/NG/shot.jpg");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        const QByteArray body = QJsonDocument(QJsonObject{{"camera_index", 0}, {"detect_index", 1}, {"detect_result", false},
                                                          {"picture_name", name}})
                                    .toJson(QJsonDocument::Compact);
        const HttpAnswer a = curlPost(port_, "/v18/http/get_detected_picture", body);
        QCOMPARE(a.status, 200);
        if (found) {
            QCOMPARE(a.body.size(), bytes.size());
            QVERIFY(a.body == bytes);
        } else {
            QCOMPARE(a.json.value("result").toObject().value("errorstring").toString(), QString("未查询到图片"));
        }
    }

    void pictureIndexesChecked()
    {
        const HttpAnswer a = curlPost(port_, "/v18/http/get_detected_picture",
                                      R"({"camera_index":2,"detect_index":0,"picture_name":"a.jpg"})");
        QCOMPARE(a.json.value("result").toObject().value("errorstring").toString(), QString("参数错误"));
    }

    void clearCounters()
    {
        const int rowsBefore = recordRows().size();
        // Read once before: the answer written out for that state must not
        // outlive it.
        QCOMPARE(curlPost(port_, "/v18/http/get_product_infos").json.value("result").toObject().value("detect_all").toInt(), 27);
        const HttpAnswer a = curlPost(port_, "/v18/http/set_clear_curcount");
        QCOMPARE(a.status, 200);
        QCOMPARE(a.json, (QJsonObject{{"code", 200}, {"msg", "OK"}}));
        for (int i = 0; i < kMaxCamera; ++i)
            QCOMPARE(counted().all[i] + counted().fail[i] + counted().allCycle[i] + counted().failCycle[i], 0);
        QCOMPARE(counted().syncNg + counted().syncNgCycle, 0);
        QCOMPARE(QSettings("./count.ini", QSettings::IniFormat).value("gSyncNGNum").toInt(), 0);
        QCOMPARE(recordRows().size(), rowsBefore + 1);
        QCOMPARE(recordRows().last(), QString("API: 清除计数|API"));
        const QJsonObject after = curlPost(port_, "/v18/http/get_product_infos").json.value("result").toObject();
        QCOMPARE(after.value("detect_all").toInt(), 0);
        QCOMPARE(after.value("detect_all_detail").toArray(), (QJsonArray{0, 0}));
    }

    void setClock_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("dateFails");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QStringList>("ran");
        QTest::addColumn<QString>("row");
        QTest::newRow("good") << QByteArray(R"({"datetime":"2024-01-05 08:00:00"})") << false << 200 << "success"
                              << QStringList{"date -s 2024-01-05 08:00:00", "hwclock --systohc"}
                              << "API: 修改系统时间,2024-01-05 08:00:00|API";
        QTest::newRow("30th of February") << QByteArray(R"({"datetime":"2024-02-30 08:00:00"})") << false << 200
                                          << "时间格式错误" << QStringList{} << "";
        QTest::newRow("no datetime") << QByteArray("{}") << false << 200 << "时间格式错误" << QStringList{} << "";
        QTest::newRow("date fails") << QByteArray(R"({"datetime":"2024-01-05 08:00:00"})") << true << 1 << ""
                                    << QStringList{"date -s 2024-01-05 08:00:00"} << "";
    }
    void setClock()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, dateFails);
        QFETCH(int, code);
        QFETCH(QString, result);
        QFETCH(QStringList, ran);
        QFETCH(QString, row);
        FailingDateRunner failing;
        if (dateFails)
            platform::setRunner(&failing);
        const QStringList rowsBefore = recordRows();
        const HttpAnswer a = curlPost(port_, "/v18/http/set_localclock", body);
        const QStringList recorded = platform::runner().recorded();
        platform::setRunner(nullptr);
        QCOMPARE(a.json.value("code").toInt(), code);
        if (code == 1)
            QCOMPARE(a.json.value("msg").toString(), QString("set clock failed"));
        else
            QCOMPARE(a.json.value("result").toObject().value("result").toString(), result);
        QCOMPARE(recorded, ran);
        QStringList expectedRows = rowsBefore;
        if (!row.isEmpty())
            expectedRows << row;
        QCOMPARE(recordRows(), expectedRows);
    }

    void records()
    {
        const QString today = QDate::currentDate().toString("yyyy-MM-dd");
        const QByteArray body = QJsonDocument(QJsonObject{{"datetime_start", today + " 00:00:00"},
                                                          {"datetime_end", today + " 23:59:59"},
                                                          {"recordtype", "API"},
                                                          {"operator", "x' OR '1'='1"}})
                                    .toJson(QJsonDocument::Compact);
        HttpAnswer a = curlPost(port_, "/v18/http/get_records", body);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.json.value("result").toObject().value("record").toArray(), QJsonArray());
        Databases::get().InsertRecord("probe", "API");
        const QByteArray plain = QJsonDocument(QJsonObject{{"datetime_start", today + " 00:00:00"},
                                                           {"datetime_end", today + " 23:59:59"},
                                                           {"recordtype", "API"}})
                                     .toJson(QJsonDocument::Compact);
        a = curlPost(port_, "/v18/http/get_records", plain);
        const QJsonArray rows = a.json.value("result").toObject().value("record").toArray();
        QVERIFY(!rows.isEmpty());
        QCOMPARE(rows.last().toArray().at(2).toString(), QString("probe"));
        QVERIFY(rows.last().toArray().at(0).toString().startsWith(today + " "));
        a = curlPost(port_, "/v18/http/get_records", R"({"datetime_start":"2024-05-01 10:00","datetime_end":"x"})");
        QCOMPARE(a.json.value("result").toObject(), (QJsonObject{{"errorstring", "错误的时间格式"}}));
    }

    void subscriberRegistration()
    {
        // A port on loopback where nobody listens: a push there fails at once.
        const QString key = QStringLiteral("127.0.0.1;%1;detected_info").arg(freeLocalPort());
        const QStringList parts = key.split(';');
        const QByteArray body = QJsonDocument(QJsonObject{{"subscriber", QJsonArray{QJsonObject{
                                                  {"subscriber_ip", parts[0]},
                                                  {"subscriber_port", parts[1].toInt()},
                                                  {"subscriber_topic", parts[2]}}}}})
                                    .toJson(QJsonDocument::Compact);
        HttpAnswer a = curlPost(port_, "/v18/http/subscriber_baseinfo", body);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.json.value("result").toObject().value("subscribe_result").toArray(), QJsonArray{key});
        a = curlPost(port_, "/v18/http/subscriber_baseinfo", R"({"nothing":1})");
        QCOMPARE(a.status, 200);
        QCOMPARE(a.json.value("result").toObject().value("subscribe_result").toArray(), QJsonArray{key});
        QVERIFY(QFile::exists("cnt_net/workspace/subscriber.ini"));
        // Survives a restart of the services.
        m_->initStart();
        QCOMPARE(m_->apiServer->subscribers().keys(), QStringList{key});
        QFile::remove("cnt_net/workspace/subscriber.ini");
        m_->initStart();
        port_ = m_->apiServer->serverPort();
    }

    void restartKeepsServing()
    {
        for (int i = 0; i < 3; ++i) {
            m_->initStart();
            port_ = m_->apiServer->serverPort();
            QCOMPARE(curlPost(port_, "/v18/http/get_product_infos").status, 200);
        }
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
        QVERIFY(openFds() <= fdsBefore);  // the flood's descriptors are all closed
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

QTEST_MAIN(TestHttpApi)
#include "tst_httpapi.moc"
