#include "closedport.h"
#include "httpapiserver.h"
#include "network.h"
#include "statewindow.h"
#include "support_httpclient.h"
#include "support_netservices.h"
#include "tcp_push2app.h"
#include "testworkdir.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <thread>

namespace {

QByteArray registration(const QList<QPair<quint16, QString>>& subs)
{
    QJsonArray a;
    for (const auto& s : subs)
        a.append(QJsonObject{{"subscriber_ip", "127.0.0.1"}, {"subscriber_port", s.first}, {"subscriber_topic", s.second}});
    return QJsonDocument(QJsonObject{{"subscriber", a}}).toJson(QJsonDocument::Compact);
}

}  // namespace

class TestPushes : public QObject {
    Q_OBJECT
private:
    TestWorkDir* wd_ = nullptr;
    StateWindow* win_ = nullptr;
    XAN_NETMN* m_ = nullptr;
    quint16 port_ = 0;
    qint64 now_ = 0;

    void restart(bool api)
    {
        QFile::remove("cnt_net/workspace/subscriber.ini");
        QFile f("cnt_net/config.json");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(QJsonObject{{"devicename", "press-7"}, {"device_workapifunc", api}}).toJson());
        f.close();
        m_->initStart();
        port_ = m_->apiServer->serverPort();
    }
    void subscribe(const QList<QPair<quint16, QString>>& subs)
    {
        const HttpAnswer a = curlPost(port_, "/v18/http/subscriber_baseinfo", registration(subs));
        QCOMPARE(a.status, 200);
    }

private slots:
    void initTestCase()
    {
        wd_ = new TestWorkDir;
        win_ = new StateWindow;
        gpState = win_;
        numCamera = 2;
        gDNum = 2;
        gDeviceID = "SN-42";
        m_ = new XAN_NETMN(XAN_NETMN::defaultConfigPath(), 0, QHostAddress::LocalHost);
        now_ = QDateTime::currentMSecsSinceEpoch();
        m_->clockMs = [this] { return now_; };
    }
    void cleanupTestCase()
    {
        delete m_;
        QCOMPARE(Tcp_Push2APP::liveObjects(), 0);
        gpState = nullptr;
        delete win_;
        delete wd_;
    }
    void init()
    {
        restart(true);
        QTRY_COMPARE(Tcp_Push2APP::liveObjects(), 0);
    }

    void detectedInfoToTwoSubscribers()
    {
        GuiLatenessWatch watch;
        FakeSubscriber a, b;
        subscribe({{a.port(), "detected_info"}, {b.port(), "detected_info"}});
        m_->start_PeriodRecord();
        param_roi roi;
        roi.result = 1;
        m_->putRoiResult(roi);
        m_->add_PeriodRecord_Picture(0, 0, true, wd_->file("nowhere/p.jpg"));
        m_->finish_PeriodRecord();
        const XAN_NETMN::sAPI_LastDetect_Info record = m_->lastDetect.getValue();
        QTRY_COMPARE_WITH_TIMEOUT(a.requests.size() + b.requests.size(), 2, 10000);
        QCOMPARE(a.requests.size(), 1);
        for (const PushRequest& r : {a.requests.first(), b.requests.first()}) {
            QCOMPARE(r.firstLine, QByteArray("POST /v18/http/post_detected_info HTTP/1.1"));
            QCOMPARE(r.headers.value("user-agent"), record.uuid.toUtf8());
            QCOMPARE(r.headers.value("device-id"), QByteArray("SN-42"));
            QCOMPARE(QJsonDocument::fromJson(r.body).object(), XAN_NETMN::lastDetectJson(record));
        }
        // Both answered with the task id: the push objects are gone.
        QTRY_COMPARE(Tcp_Push2APP::liveObjects(), 0);
        QVERIFY(watch.report("detectedInfoToTwoSubscribers"));
    }

    void closesWithinTheDelayPushOnce()
    {
        FakeSubscriber a;
        subscribe({{a.port(), "detected_info"}});
        m_->start_PeriodRecord();
        m_->finish_PeriodRecord();
        QTest::qWait(300);
        now_ += 300;
        m_->start_PeriodRecord();
        m_->finish_PeriodRecord();
        const QString second = m_->lastDetect.getValue().uuid;
        QTRY_COMPARE_WITH_TIMEOUT(a.requests.size(), 1, 10000);
        QTest::qWait(1500);
        QCOMPARE(a.requests.size(), 1);
        QCOMPARE(a.requests.first().headers.value("user-agent"), second.toUtf8());
    }

    void picturePushFromAPlainThread()
    {
        GuiLatenessWatch watch;
        FakeSubscriber live;
        FakeSubscriber silent(false);     // accepts, reads, never answers
        QTcpServer neverAccepts;           // the kernel connects, nobody reads
        QVERIFY(neverAccepts.listen(QHostAddress::LocalHost, 0));
        neverAccepts.pauseAccepting();
        const ClosedPort closed;  // refuses at once
        QVERIFY(closed.port() != 0);
        subscribe({{live.port(), "detected_picture"},
                   {silent.port(), "detected_picture"},
                   {neverAccepts.serverPort(), "detected_picture"},
                   {closed.port(), "detected_picture"},
                   {live.port(), "detected_info"}});
        QByteArray jpeg(70000, 'x');
        for (int i = 0; i < jpeg.size(); ++i)
            jpeg[i] = char(i);
        QDir().mkpath("alarmimage/camera2/detect1/OK");
        QFile f("alarmimage/camera2/detect1/OK/a.jpg");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(jpeg);
        f.close();
        const QString path = QFileInfo(f).absoluteFilePath();

        m_->start_PeriodRecord();
        const QString uuid = m_->lastDetect.getValue().uuid;
        std::thread saver([this, path] { m_->add_PeriodRecord_Picture(1, 0, true, path); });
        saver.join();
        QTRY_COMPARE_WITH_TIMEOUT(live.requests.size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(silent.requests.size(), 1, 10000);
        const PushRequest& r = live.requests.first();
        QCOMPARE(r.firstLine,
                 QByteArray("POST /v18/http/post_detected_picture?camera_index=1&camera_result=true&detect_index=0&picture_name=a.jpg HTTP/1.1"));
        QCOMPARE(r.headers.value("user-agent"), uuid.toUtf8());
        QCOMPARE(r.headers.value("content-type"), QByteArray("image/jpeg"));
        QVERIFY(r.body == jpeg);
        QCOMPARE(m_->lastDetect.getValue().pictures.value("1;0;1"), path);
        // Dead subscribers cost an object each for at most 3 s.
        QTest::qWait(3500);
        QTRY_COMPARE_WITH_TIMEOUT(Tcp_Push2APP::liveObjects(), 0, 1000);
        QVERIFY(watch.report("picturePushFromAPlainThread"));
    }

    void nothingWithoutLiveSubscribers_data()
    {
        QTest::addColumn<bool>("api");
        QTest::addColumn<qint64>("age");
        QTest::newRow("api off") << false << qint64(0);
        QTest::newRow("expired") << true << qint64(3600001);
    }
    void nothingWithoutLiveSubscribers()
    {
        QFETCH(bool, api);
        QFETCH(qint64, age);
        FakeSubscriber a;
        subscribe({{a.port(), "detected_info"}, {a.port(), "detected_picture"}});
        if (!api) {
            QFile f("cnt_net/config.json");
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(R"({"device_workapifunc":false,"device_worknetfunc":true})");
            f.close();
            m_->initStart();
        }
        now_ += age;
        m_->start_PeriodRecord();
        m_->add_PeriodRecord_Picture(0, 0, true, "/nonexistent.jpg");
        m_->finish_PeriodRecord();
        m_->apiServer->slot_delay_publish_detectinfo();
        QTest::qWait(1500);
        QCOMPARE(a.requests.size(), 0);
        QCOMPARE(Tcp_Push2APP::liveObjects(), 0);
        if (age > 0)
            QVERIFY(m_->apiServer->subscribers().keys().isEmpty());
        now_ -= age;
    }
};

QTEST_MAIN(TestPushes)
#include "tst_pushes.moc"
