#include "network.h"
#include "platform.h"
#include "support_netservices.h"
#include "testworkdir.h"
#include "viewwatch2ziz.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

void writeRaw(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// A one-route HTTP server on 127.0.0.1 that answers every request with `body`
// and counts the requests it saw.
class FakeTimeServer : public QObject {
public:
    explicit FakeTimeServer(QByteArray body) : body_(std::move(body))
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    request_ += s->readAll();
                    if (!request_.contains("\r\n\r\n"))
                        return;
                    ++requests;
                    path = request_.split(' ').value(1);
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                             + QByteArray::number(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_);
                    s->disconnectFromHost();
                });
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }
    int requests = 0;
    QByteArray path;

private:
    QTcpServer server_;
    QByteArray body_;
    QByteArray request_;
};

}  // namespace

class TestNetManager : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { platform::runner().clearRecorded(); }

    void initStartReadsSwitches_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("net");
        QTest::addColumn<bool>("video");
        QTest::addColumn<bool>("api");
        QTest::addColumn<QString>("workspace");
        QTest::newRow("all set") << QByteArray(R"({"devicename":"press-7","device_worknetfunc":true,"device_workvideo":true,)"
                                               R"("device_workapifunc":true,"workspace":"ws/a/b/"})")
                                 << "press-7" << true << true << true << "ws/a/b/";
        QTest::newRow("not JSON") << QByteArray("{devicename: nope") << "" << false << false << false
                                  << "./cnt_net/workspace/";
        QTest::newRow("JSON array") << QByteArray("[true]") << "" << false << false << false << "./cnt_net/workspace/";
        QTest::newRow("wrong types") << QByteArray(R"({"devicename":5,"device_worknetfunc":"true","device_workvideo":1,)"
                                                   R"("device_workapifunc":null,"workspace":7})")
                                     << "" << false << false << false << "./cnt_net/workspace/";
        QTest::newRow("only api") << QByteArray(R"({"device_workapifunc":true,"version":"18.0.1.56","camcount":2})") << ""
                                  << false << false << true << "./cnt_net/workspace/";
    }
    void initStartReadsSwitches()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        QFETCH(bool, net);
        QFETCH(bool, video);
        QFETCH(bool, api);
        QFETCH(QString, workspace);
        TestWorkDir wd;
        QDir("cnt_net/workspace").removeRecursively();
        writeRaw("cnt_net/config.json", content);
        XAN_NETMN m;
        // The agent link's video share keyed from this folder, its agent on a port of its own.
        m.agentLink->ipcKeyPath = wd.path();
        m.agentLink->agentPort = freeLocalPort();
        m.setWorkTask(true, true, true);
        m.deviceName = "old";
        m.initStart();
        QCOMPARE(m.deviceName, name);
        QCOMPARE(m.workNetFunc.load(), net);
        QCOMPARE(m.workVideo.load(), video);
        QCOMPARE(m.workApiFunc.load(), api);
        QCOMPARE(m.workspace, workspace);
        QVERIFY(QFileInfo(workspace).isDir());
    }

    void missingFileChangesNothing()
    {
        TestWorkDir wd;
        XAN_NETMN m;
        m.setWorkTask(true, false, true);
        m.deviceName = "kept";
        m.start_PeriodRecord();
        m.putRoiResult(param_roi());
        m.initStart();
        QCOMPARE(m.deviceName, QString("kept"));
        QVERIFY(m.workNetFunc.load());
        QVERIFY(m.workApiFunc.load());
        QVERIFY(m.lastDetect.hasValue());
        QCOMPARE(m.roiCache.size(), 1);
    }

    void initStartDropsTheCycle()
    {
        TestWorkDir wd;
        writeRaw("cnt_net/config.json", R"({"device_workapifunc":true})");
        XAN_NETMN m;
        for (int round = 0; round < 2; ++round) {
            m.initStart();
            m.start_PeriodRecord();
            m.putRoiResult(param_roi());
            QVERIFY(m.lastDetect.hasValue());
            m.initStart();
            QVERIFY(!m.lastDetect.hasValue());
            QVERIFY(m.roiCache.isEmpty());
        }
    }

    void configPathIsAParameter()
    {
        TestWorkDir wd;
        writeRaw("elsewhere.json", R"({"devicename":"other"})");
        XAN_NETMN m(wd.file("elsewhere.json"));
        m.initStart();
        QCOMPARE(m.deviceName, QString("other"));
        QCOMPARE(XAN_NETMN::defaultConfigPath(), QString("./cnt_net/config.json"));
    }

    void getConfigValue_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        const QByteArray c = R"({"serveraddr":"10.1.1.1","serverport":10432,"device_workvideo":false,"x":null})";
        QTest::newRow("string") << c << "serveraddr" << QVariant(QString("10.1.1.1"));
        QTest::newRow("number") << c << "serverport" << QVariant(10432.0);
        QTest::newRow("bool") << c << "device_workvideo" << QVariant(false);
        QTest::newRow("absent") << c << "devicename" << QVariant();
        QTest::newRow("not JSON") << QByteArray("{oops") << "serveraddr" << QVariant();
    }
    void getConfigValue()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        TestWorkDir wd;
        writeRaw("cnt_net/config.json", content);
        XAN_NETMN m;
        const QVariant v = m.getConfigValue(key);
        QCOMPARE(v.isValid(), value.isValid());
        if (value.isValid()) {
            QCOMPARE(v.userType(), value.userType());
            QCOMPARE(v, value);
        }
    }

    void writeConfigKeepsKeysAndLeavesNoTemp()
    {
        TestWorkDir wd;
        writeRaw("cnt_net/config.json", R"({"version":"1","camcount":3})");
        QJsonObject o = XAN_NETMN::readConfig("cnt_net/config.json");
        o.insert("devicename", "n");
        QVERIFY(XAN_NETMN::writeConfig("cnt_net/config.json", o));
        QFile f("cnt_net/config.json");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QCOMPARE(text, QJsonDocument(o).toJson());  // the indented form
        QCOMPARE(QDir("cnt_net").entryList(QDir::Files), QStringList{"config.json"});
    }

    void clockFromTimeServer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("sets");
        const qint64 ms = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)).toMSecsSinceEpoch();
        QTest::newRow("good") << QByteArray(R"({"result":{"time":)" + QByteArray::number(ms) + "}}") << true;
        QTest::newRow("time as text") << QByteArray("{\"result\":{\"time\":\"" + QByteArray::number(ms) + "\"}}") << false;
        QTest::newRow("result not an object") << QByteArray(R"({"result":5})") << false;
        QTest::newRow("1970") << QByteArray(R"({"result":{"time":1000}})") << false;
        QTest::newRow("not JSON") << QByteArray("<html>") << false;
    }
    void clockFromTimeServer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, sets);
        TestWorkDir wd;
        GuiLatenessWatch watch;
        FakeTimeServer server(answer);
        writeRaw("cnt_net/config.json", "{\"serveraddr\":\"127.0.0.1\",\"serverport\":\""
                                            + QByteArray::number(server.port()) + "\"}");
        XAN_NETMN m;
        m.getNTP_Timing_sync();
        QTRY_COMPARE(server.requests, 1);
        QCOMPARE(server.path, QByteArray("/vidaroz17/api/time"));
        if (sets) {
            QTRY_COMPARE(platform::runner().recorded(),
                         (QStringList{"date -s 20240506 07:08:09", "hwclock --systohc"}));
        } else {
            QTest::qWait(300);
            QCOMPARE(platform::runner().recorded(), QStringList());
        }
        QVERIFY(watch.report("clockFromTimeServer"));
    }

    void numericPortSendsNothing()
    {
        TestWorkDir wd;
        FakeTimeServer server("{}");
        writeRaw("cnt_net/config.json",
                 R"({"serveraddr":"127.0.0.1","serverport":)" + QByteArray::number(server.port()) + "}");
        XAN_NETMN m;
        m.getNTP_Timing_sync();
        QTest::qWait(300);
        QCOMPARE(server.requests, 0);
    }
};

QTEST_GUILESS_MAIN(TestNetManager)
#include "tst_netmanager.moc"
