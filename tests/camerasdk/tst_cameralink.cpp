// The camera control link against a simulated camera on loopback, and the
// small pieces below the function family: parameter table, picture
// conversion, handle table.
#include "handlemanager.h"
#include "simnetcamera.h"
#include "support_netns.h"
#include "tcpmanager.h"
#include "zelcameraparam.h"

#include <QJsonArray>
#include <QtTest>

#include <memory>
#include <vector>

class TstCameraLink : public QObject {
    Q_OBJECT
    std::unique_ptr<netcamsim::SimNetCamera> cam_;
    const QHostAddress addr_{QStringLiteral("127.0.0.2")};

private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        QVERIFY(netns::prepare());
        netcamsim::Options o;
        o.address = addr_;
        o.width = 64;
        o.height = 48;
        cam_ = std::make_unique<netcamsim::SimNetCamera>(o);
        QVERIFY(cam_->start());
    }
    void cleanupTestCase() { cam_.reset(); }
    void init() { cam_->knobs().replyDelayMs = 0; }

    // Frames a camera sends unasked (foreign task ids) are dropped on the
    // link's loop thread, never handed to the thread that made the link.
    void unaskedFramesStayOnTheLoopThread()
    {
        NETNS_GUARD();
        struct Watching : TcpManager_Client {
            std::atomic<int> seen{0}, onMaker{0};
            QThread* maker = QThread::currentThread();
            void SlotRecvResponse(CTask_FormData, bool) override { ++seen, onMaker += QThread::currentThread() == maker; }
        } link;
        QTcpServer camera;
        QVERIFY(camera.listen(QHostAddress::LocalHost, 0) && link.startReactor(QHostAddress::LocalHost, camera.serverPort()));
        QVERIFY(camera.waitForNewConnection(10000));
        camera.nextPendingConnection()->write(
            QByteArray("HTTP/1.1 200 OK\r\nUser-Agent: foreign#1\r\nContent-Length: 2\r\n\r\n{}").repeated(5000));
        QTRY_COMPARE_WITH_TIMEOUT(link.seen.load(), 5000, 60000);
        QCOMPARE(link.onMaker.load(), 0);
    }

    void withoutLinkEveryCallFails()
    {
        TcpManager_Client c;
        QJsonObject table{{"keep", 1}};
        QMap<QString, QVariant> map;
        cv::Mat image(2, 2, CV_8UC1);
        QJsonObject info;
        CTask_FormData reply;
        QCOMPARE(c.act_getparams(table), -12);
        QCOMPARE(c.act_getparam("gain", map), -12);
        QCOMPARE(c.act_getPicture(image, info, 500), -12);
        QCOMPARE(c.act_getPicture_sync(reply, 500), -1);
        QVERIFY(!c.isConnect());
        QVERIFY(c.act_setparams({{"gain", 2}}).isEmpty());
        QVERIFY(c.act_Command({{"play", 1}}).isEmpty());
        QCOMPARE(table, (QJsonObject{{"keep", 1}}));
        QCOMPARE(image.rows, 2);
    }

    void requestsReachTheCameraAndRepliesAreRead()
    {
        NETNS_GUARD();
        TcpManager_Client c;
        QVERIFY(c.startReactor(addr_, 10401));
        QVERIFY(c.isConnect());
        QJsonObject table;
        QCOMPARE(c.act_getparams(table), 0);
        QCOMPARE(table.value("gain").toObject().value("value").toInt(), 32);
        const QMap<QString, QVariant> r = c.act_setparams({{"gain", 2.5}, {"contrast", 3}, {"nosuch", 1}});
        QCOMPARE(cam_->lastSetParamsBody(), (QJsonObject{{"contrast", 3}, {"gain", 2.5}, {"nosuch", 1}}));
        QCOMPARE(r.value("gain").toInt(), 0);
        QCOMPARE(r.value("nosuch").toInt(), 1);
        QCOMPARE(cam_->paramTable().value("contrast").toObject().value("value").toInt(), 3);
        QCOMPARE(c.act_Command({{"play", 1}}).value("play").toInt(), 0);
        QVERIFY(cam_->playing());
        c.act_Command({{"play", 0}});
        QVERIFY(!cam_->playing());
        // An unknown path is refused by the camera: a failure, not an empty success.
        CTask_FormData req = TcpManager_Client::makeRequest("/smon2/camera/nosuch", {});
        CTask_FormData reply;
        QVERIFY(c.reactor()->post_sync(req, reply, 1000));
        bool refused = false;
        QVERIFY(TcpManager_Client::replyParts(reply, &refused).isEmpty());
        QVERIFY(refused);
    }

    void aLateReplyIsNeverTakenForTheNextRequest()
    {
        NETNS_GUARD();
        TcpManager_Client pics;
        QVERIFY(pics.startReactor(addr_, 10402));
        cv::Mat image;
        QJsonObject head;
        QCOMPARE(pics.act_getPicture(image, head, 1000), 0);
        const int first = head.value("frame").toInt();
        QCOMPARE(int(netcamsim::SimNetCamera::frameNumberOf(image.data)), first);
        // The counter is drawn on a plate in the bottom right corner, not
        // along the top edge where the monitor writes its header lines.
        const int ch = image.channels();
        QVERIFY(image.ptr<uchar>(2)[(image.cols / 2) * ch] >= 40);
        QCOMPARE(int(image.ptr<uchar>(image.rows - 1)[(image.cols - 1) * ch]), 0);
        cam_->knobs().replyDelayMs = 700;
        QCOMPARE(pics.act_getPicture(image, head, 300), -12);  // the late reply comes after
        cam_->knobs().replyDelayMs = 0;
        QCOMPARE(pics.act_getPicture(image, head, 2000), 0);
        // The frame answered for this request, not the one of the request before.
        QCOMPARE(head.value("frame").toInt(), first + 2);
        QCOMPARE(int(netcamsim::SimNetCamera::frameNumberOf(image.data)), first + 2);
        // The late one came first on the connection: counted and dropped.
        QCOMPARE(pics.reactor()->lateRepliesDropped(), quint64(1));

        // The same on the control link: a late getparams never answers a setparams.
        TcpManager_Client ctl;
        QVERIFY(ctl.startReactor(addr_, 10401));
        cam_->knobs().replyDelayMs = 1300;  // beyond the control link's 1000 ms
        QJsonObject table;
        QCOMPARE(ctl.act_getparams(table), -12);
        cam_->knobs().replyDelayMs = 0;
        const QMap<QString, QVariant> r = ctl.act_setparams({{"sharp", 4}});
        QCOMPARE(r.keys(), QStringList{"sharp"});
        QCOMPARE(ctl.reactor()->lateRepliesDropped(), quint64(1));
    }

    // Links made and destroyed as the frame thread does, against cameras
    // whose replies arrive just as the wait ends or while the camera closes
    // the connection: a reply arriving while a link is destroyed never
    // reaches it (under the sanitizers a call into a half-destroyed link
    // ends the test).
    void linksGoWhileRepliesAreInFlight_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("dropEvery");
        QTest::addColumn<int>("asyncPulls");
        QTest::newRow("answers just after the time-out") << 12 << 0 << 0;
        QTest::newRow("closes while replies are in flight") << 0 << 3 << 2;
    }
    void linksGoWhileRepliesAreInFlight()
    {
        NETNS_GUARD();
        QFETCH(int, delayMs);
        QFETCH(int, dropEvery);
        QFETCH(int, asyncPulls);
        constexpr int kCameras = 3;
        constexpr int kLinksEach = 120;
        std::vector<std::unique_ptr<netcamsim::SimNetCamera>> cams;
        for (int i = 0; i < kCameras; ++i) {
            netcamsim::Options o;
            o.address = QHostAddress(QStringLiteral("127.0.0.%1").arg(10 + i));
            o.width = 32;
            o.height = 24;
            cams.push_back(std::make_unique<netcamsim::SimNetCamera>(o));
            QVERIFY(cams.back()->start());
            cams.back()->knobs().replyDelayMs = delayMs;
            cams.back()->knobs().dropEvery = dropEvery;
        }
        std::atomic<int> made{0};
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < kCameras; ++i) {
            const QHostAddress address = QHostAddress(QStringLiteral("127.0.0.%1").arg(10 + i));
            threads.emplace_back(QThread::create([&, address, i] {
                for (int n = 0; n < kLinksEach; ++n) {
                    auto link = std::make_unique<TcpManager_Client>();
                    if (!link->startReactor(address, 10402))
                        continue;
                    ++made;
                    for (int a = 0; a < asyncPulls; ++a)
                        link->act_getPicture_async();
                    // Waits around the camera's delay: some replies come in
                    // time, some just after, some while the link goes.
                    CTask_FormData reply;
                    const int waitMs = delayMs > 0 ? delayMs - 3 + (n + i) % 7 : 1 + n % 3;
                    link->act_getPicture_sync(reply, waitMs);
                    link.reset();
                }
            }));
            threads.back()->start();
        }
        for (auto& t : threads)
            QVERIFY(t->wait(600000));
        QVERIFY(made.load() > 0);
        int requests = 0;
        for (auto& c : cams)
            requests += c->requestsSeen();
        QVERIFY2(requests >= made.load() / 2, qPrintable(QStringLiteral("%1 requests for %2 links").arg(requests).arg(made.load())));
        cams.clear();
    }

    void deciding_parts_data()
    {
        QTest::addColumn<QStringList>("jsonKeys");
        QTest::addColumn<QString>("envelope");
        QTest::addColumn<int>("want");  // the "result.x" read; -1: none
        QTest::newRow("greatest json part decides") << QStringList{"a", "b"} << QString() << 2;
        QTest::newRow("one part") << QStringList{"a"} << QString() << 1;
        QTest::newRow("envelope without parts") << QStringList{} << "{\"code\":0,\"result\":{\"x\":7}}" << 7;
        QTest::newRow("parts win over the envelope") << QStringList{"a"} << "{\"code\":0,\"result\":{\"x\":7}}" << 1;
        QTest::newRow("refused envelope") << QStringList{} << "{\"code\":404,\"msg\":\"Not Found\"}" << -1;
        QTest::newRow("nothing") << QStringList{} << QString() << -1;
    }
    void deciding_parts()
    {
        QFETCH(QStringList, jsonKeys);
        QFETCH(QString, envelope);
        QFETCH(int, want);
        CTask_FormData reply;
        int i = 0;
        for (const QString& k : jsonKeys)
            reply.form.insert(k, QVariant::fromValue(QJsonObject{{"result", QJsonObject{{"x", ++i}}}}));
        reply.form.insert("text", QStringLiteral("not json"));
        if (!envelope.isEmpty())
            reply.json = QJsonDocument::fromJson(envelope.toUtf8()).object();
        const auto parts = TcpManager_Client::replyParts(reply);
        QCOMPARE(parts.isEmpty() ? -1 : parts.last().second.value("result").toObject().value("x").toInt(), want);
    }

    void anEmptyAnswerClearsThePicture()
    {
        NETNS_GUARD();
        TcpManager_Client pics;
        QVERIFY(pics.startReactor(addr_, 10402));
        cam_->knobs().emptyEvery = 1;
        cv::Mat image(4, 4, CV_8UC1);
        QJsonObject head;
        QCOMPARE(pics.act_getPicture(image, head, 1000), 0);
        QVERIFY(image.empty());
        cam_->knobs().emptyEvery = 0;
    }

    void matToQImage_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("format");
        QTest::newRow("grey") << int(CV_8UC1) << int(QImage::Format_Grayscale8);
        QTest::newRow("bgr") << int(CV_8UC3) << int(QImage::Format_RGB888);
        QTest::newRow("bgra") << int(CV_8UC4) << int(QImage::Format_ARGB32);
        QTest::newRow("16-bit") << int(CV_16UC1) << int(QImage::Format_Invalid);
        QTest::newRow("two channels") << int(CV_8UC2) << int(QImage::Format_Invalid);
    }
    void matToQImage()
    {
        QFETCH(int, type);
        QFETCH(int, format);
        cv::Mat m(480, 640, type);
        cv::randu(m, 0, 255);
        if (format == QImage::Format_Invalid)
            QTest::ignoreMessage(QtDebugMsg, "ERROR: Mat could not be converted to QImage.");
        QImage img = Mat2QImage(m);
        QCOMPARE(int(img.format()), format);
        if (format == QImage::Format_Invalid) {
            QVERIFY(img.isNull());
            return;
        }
        QCOMPARE(img.size(), QSize(640, 480));
        const QByteArray before(reinterpret_cast<const char*>(img.constBits()), 8);
        if (m.channels() == 3) {
            QCOMPARE(uchar(before[0]), m.data[2]);
            QCOMPARE(uchar(before[2]), m.data[0]);
        } else {
            QCOMPARE(uchar(before[0]), m.data[0]);
        }
        // The image owns its pixels: the picture may change or go.
        m.setTo(cv::Scalar::all(0));
        m.release();
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(img.constBits()), 8), before);
    }

    void parameterTable()
    {
        struct Probe : CameraParam {
            void set(const QJsonObject& t) { table_ = t; }
        } p;
        QVariant v(5);
        QCOMPARE(p.getParam("expose", v), 0);
        QCOMPARE(v, QVariant(5));
        p.genDefaultConfig();
        QCOMPARE(p.getParam("expose", v), 1);
        QCOMPARE(v.toMap().value("max").toInt(), 200);
        p.set(QJsonObject{{"gain", QJsonObject{{"max", 9}}}, {"sharp", QJsonObject{{"value", 3}, {"max", 9}}}});
        QMap<QString, QVariant> values{{"other", 1}};
        p.checkParams({}, values, false);
        QCOMPARE(values.size(), 1);
        p.checkParams({"sharp", "gain", "missing"}, values, false);
        QCOMPARE(values.value("sharp").toInt(), 3);
        QVERIFY(values.contains("gain") && values.value("gain").isNull());
        QVERIFY(!values.contains("missing"));
        p.checkParams({"sharp"}, values, true);
        QCOMPARE(values.value("sharp").toMap().value("max").toInt(), 9);
        p.setParams({{"missing", 1}});
        QVERIFY(!p.paramTable().contains("missing"));

        struct TypeCase {
            QVariant value;
            bool ok;
        };
        for (const TypeCase& t : {TypeCase{3, true}, TypeCase{1.5, true}, TypeCase{QStringLiteral("a"), true},
                                  TypeCase{true, false}, TypeCase{3u, false}, TypeCase{qint64(3), false},
                                  TypeCase{QVariantMap(), false}})
            QCOMPARE(CameraParam::checkParamsType({{"sharp", 3}, {"x", t.value}}), t.ok);
        QVERIFY(CameraParam::checkParamsType({}));
    }

    void handleTable()
    {
        HandleManager table;
        int a = 0, b = 0, c = 0, d = 0;
        table.addHandle(nullptr, a);
        table.addHandle(nullptr, b);
        table.addHandle(nullptr, c);
        QCOMPARE((QList<int>{a, b, c}), (QList<int>{1, 2, 3}));
        int gone = 9;
        QCOMPARE(table.deleteHandle(gone), -1);
        QCOMPARE(gone, 9);
        QCOMPARE(table.deleteHandle(b), 0);  // a null camera: nothing to destroy
        QCOMPARE(b, -1);
        QVERIFY(!table.getCamera(2));
        ZelCamera* out = reinterpret_cast<ZelCamera*>(0x1);
        QCOMPARE(table.getCamera(out, 2), -1);
        QCOMPARE(out, reinterpret_cast<ZelCamera*>(0x1));
        table.addHandle(nullptr, d);
        QCOMPARE(d, 4);  // never reused
    }
};

NETNS_TEST_MAIN(TstCameraLink)
#include "tst_cameralink.moc"
