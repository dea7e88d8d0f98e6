// The SDK's function family on loopback, with hand-filled device records and
// simulated cameras: handles, parameters, frames streaming through drops,
// stalls and garbage, and the ends of a camera.
#include "simnetcamera.h"
#include "support_netns.h"
#include "zelCameraApi.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

namespace {

tZelCameraDevInfo record(const QString& ip, const QString& key = QStringLiteral("SIMKEY"))
{
    tZelCameraDevInfo info;
    std::memset(&info, 0, sizeof(info));
    zelSetDeviceTexts(info, key, ip);
    return info;
}

struct Sink {
    QMutex mutex;
    QList<quint32> frames;
    int handle = -1;
    int stopFromInside = 1;
    int uninitFromInside = 1;
    bool tryStop = false;

    static void onFrame(cv::Mat frame, void* user)
    {
        auto* s = static_cast<Sink*>(user);
        QMutexLocker lock(&s->mutex);
        s->frames << netcamsim::SimNetCamera::frameNumberOf(frame.data);
        if (s->tryStop) {
            s->tryStop = false;
            s->stopFromInside = ZelCameraStop(s->handle);
            s->uninitFromInside = ZelCameraUnInit(s->handle);
        }
    }
    QList<quint32> copy()
    {
        QMutexLocker lock(&mutex);
        return frames;
    }
    int count() { return copy().size(); }
};

bool waitFor(const std::function<bool()>& done, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(20);
    }
    return true;
}

bool increasing(const QList<quint32>& v)
{
    for (int i = 1; i < v.size(); ++i)
        if (v[i] <= v[i - 1])
            return false;
    return true;
}

}  // namespace

class TstCameraSdk : public QObject {
    Q_OBJECT
    std::unique_ptr<netcamsim::SimNetCamera> cam_;
    const QString ip_ = QStringLiteral("127.0.0.2");

    int open()
    {
        tZelCameraDevInfo info = record(ip_);
        int handle = -1;
        return ZelCameraInit(&info, 0, 0, handle) == 0 ? handle : -1;
    }

private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        QVERIFY(netns::prepare());
        netcamsim::Options o;
        o.address = QHostAddress(ip_);
        o.width = 80;
        o.height = 60;
        cam_ = std::make_unique<netcamsim::SimNetCamera>(o);
        QVERIFY(cam_->start());
    }
    void cleanupTestCase() { cam_.reset(); }
    void init()
    {
        if (!cam_)
            return;
        netcamsim::Knobs& k = cam_->knobs();
        k.replyDelayMs = 0;
        k.dropEvery = 0;
        k.emptyEvery = 0;
        k.badDescriptorEvery = 0;
        k.garbageEvery = 0;
        k.stallUntilMs = 0;
    }

    void deviceRecordTexts()
    {
        tZelCameraDevInfo info;
        std::memset(&info, 0xEE, sizeof(info));
        const QString key32(32, QLatin1Char('K'));
        QVERIFY(zelSetDeviceTexts(info, key32, "10.1.2.3"));
        QCOMPARE(zelDeviceKey(info), key32);  // no terminator, still exactly the key
        QCOMPARE(zelDeviceIp(info), QStringLiteral("10.1.2.3"));
        QCOMPARE(info.reserved[0], uchar(0xEE));
        QCOMPARE(info.tail[3], uchar(0xEE));
        QVERIFY(!zelSetDeviceTexts(info, QString(33, QLatin1Char('K')), "1.2.3.4"));
    }

    void callsBeforeInitAndWithBadArguments()
    {
        tZelCameraDevInfo list[2];
        std::memset(list, 0, sizeof(list));
        int count = 2;
        QCOMPARE(ZelCameraEnumerateDevice(list, count), int(ZEL_NOT_INITIALISED));
        int handle = 77;
        QCOMPARE(ZelCameraInit(nullptr, 0, 0, handle), int(ZEL_BAD_ARGUMENT));
        tZelCameraDevInfo nobody = record("127.0.0.9");
        QCOMPARE(ZelCameraInit(&nobody, 0, 0, handle), int(ZEL_OPEN_FAILED));
        QCOMPARE(handle, 77);
        const int h = open();
        QVERIFY(h > 0);
        QCOMPARE(ZelCameraRebootProcess(h), int(ZEL_NOT_INITIALISED));
        QCOMPARE(ZelCameraCommonCall(h, nullptr, nullptr, 1), int(ZEL_BAD_ARGUMENT));
        QCOMPARE(ZelCameraUnInit(h), 0);
    }

    void unknownHandles()
    {
        const int h = 999999;
        cv::Mat m;
        QJsonObject head;
        QVariant v;
        QMap<QString, QVariant> map;
        const QList<int> results{
            ZelCameraPlay(h),
            ZelCameraStop(h),
            ZelCameraGetImageBuffer(h, m, head, 100),
            ZelCameraCommonCall(h, "x", nullptr, 1),
            ZelCameraSetHDR(h, 1),
            ZelCameraRegisterImageCallBack(h, nullptr, nullptr),
            ZelCameraRegisterConnectionStatusCallback(h, nullptr, nullptr),
            ZelCameraRebootProcess(h),
            ZelCameraGetParams(h, {"gain"}, map, false),
            ZelCameraGetParam(h, "gain", v, false),
            ZelCameraSetParams(h, {{"gain", 1}}),
            ZelCameraSetSharpness(h, 1),
            ZelCameraSetIspOutFormat(h, 1),
            ZelCameraSetAnalogGain(h, 1),
            ZelCameraSetGamma(h, 1),
            ZelCameraSetExposureTime(h, 1),
            ZelCameraSetContrast(h, 1),
        };
        for (int i = 0; i < results.size(); ++i)
            QVERIFY2(results[i] == ZEL_UNKNOWN_HANDLE, qPrintable(QString::number(i)));
        QCOMPARE(ZelCameraUnInit(h), 0);
        QCOMPARE(ZelCameraImageProcess(h, nullptr, nullptr, nullptr), 0);
    }

    void parametersAndCommands()
    {
        NETNS_GUARD();
        const int h = open();
        QVERIFY(h > 0);
        QVariant v(-5);
        QCOMPARE(ZelCameraGetParam(h, "gain", v, false), 0);
        QCOMPARE(v.toInt(), 32);
        QVariant untouched(-5);
        QCOMPARE(ZelCameraGetParam(h, "nosuch", untouched, false), 0);
        QCOMPARE(untouched.toInt(), -5);
        QCOMPARE(ZelCameraSetSharpness(h, 4), 0);
        QCOMPARE(ZelCameraSetSharpness(h, 400), 1);  // out of range: the camera's answer
        QCOMPARE(ZelCameraSetExposureTime(h, 45.5), 0);
        QCOMPARE(cam_->lastSetParamsBody(), (QJsonObject{{"exposure", 45.5}}));
        QMap<QString, QVariant> values;
        QCOMPARE(ZelCameraGetParams(h, {"sharp", "exposure"}, values, true), 0);
        QCOMPARE(values.value("sharp").toMap().value("value").toInt(), 4);
        QCOMPARE(values.value("exposure").toMap().value("max").toInt(), 1000);
        QCOMPARE(ZelCameraSetHDR(h, 1), 0);
        QCOMPARE(cam_->lastCommandBody(), (QJsonObject{{"aiqWorkingMode", true}}));
        QCOMPARE(ZelCameraCommonCall(h, "whitebalance", nullptr, 3), 0);
        QCOMPARE(cam_->lastCommandBody(), (QJsonObject{{"whitebalance", 3}}));
        // A camera that answers nothing: no answer, never a success.
        cam_->stall(60000);
        QCOMPARE(ZelCameraSetSharpness(h, 4), int(ZEL_NOT_CONNECTED));
        QCOMPARE(ZelCameraSetHDR(h, 1), int(ZEL_NOT_CONNECTED));
        QCOMPARE(ZelCameraCommonCall(h, "hmirror", nullptr, 1), int(ZEL_NOT_CONNECTED));
        cam_->stall(0);
        cv::Mat image;
        QJsonObject head;
        QCOMPARE(ZelCameraGetImageBuffer(h, image, head, 1000), 0);
        QCOMPARE(image.cols, 80);
        QCOMPARE(head.value("width").toInt(), 80);
        QCOMPARE(ZelCameraUnInit(h), 0);
        QCOMPARE(ZelCameraPlay(h), int(ZEL_UNKNOWN_HANDLE));
    }

    void framesStreamThroughFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("clean") << "";
        QTest::newRow("dropped connections") << "drop";
        QTest::newRow("empty replies") << "empty";
        QTest::newRow("bad descriptors") << "bad";
        QTest::newRow("garbage") << "garbage";
        QTest::newRow("stall") << "stall";
    }
    void framesStreamThroughFaults()
    {
        NETNS_GUARD();
        QFETCH(QString, fault);
        const int h = open();
        QVERIFY(h > 0);
        Sink sink;
        QCOMPARE(ZelCameraRegisterImageCallBack(h, &Sink::onFrame, &sink), 0);
        QCOMPARE(ZelCameraPlay(h), 0);
        QVERIFY(cam_->playing());
        QVERIFY(waitFor([&] { return sink.count() >= 3; }));
        netcamsim::Knobs& k = cam_->knobs();
        if (fault == "drop")
            k.dropEvery = 3;
        else if (fault == "empty")
            k.emptyEvery = 3;
        else if (fault == "bad")
            k.badDescriptorEvery = 3;
        else if (fault == "garbage")
            k.garbageEvery = 3;
        else if (fault == "stall")
            cam_->stall(1500);
        const int before = sink.count();
        QVERIFY(waitFor([&] { return sink.count() >= before + 12; }, 30000));
        const QList<quint32> got = sink.copy();
        QVERIFY2(increasing(got), qPrintable(QString::number(got.size())));
        QCOMPARE(ZelCameraStop(h), 0);
        QVERIFY(!cam_->playing());
        const int stopped = sink.count();
        QTest::qWait(200);
        QCOMPARE(sink.count(), stopped);  // nothing runs after Stop
        QCOMPARE(ZelCameraUnInit(h), 0);
    }

    void endsOfACamera()
    {
        NETNS_GUARD();
        // Stop and UnInit are refused inside the callback; UnInit while
        // streaming leaves nothing running.
        int h = open();
        QVERIFY(h > 0);
        Sink sink;
        sink.handle = h;
        ZelCameraRegisterImageCallBack(h, &Sink::onFrame, &sink);
        ZelCameraPlay(h);
        QVERIFY(waitFor([&] { return sink.count() >= 2; }));
        {
            QMutexLocker lock(&sink.mutex);
            sink.tryStop = true;
        }
        QVERIFY(waitFor([&] {
            QMutexLocker lock(&sink.mutex);
            return !sink.tryStop;
        }));
        QCOMPARE(sink.stopFromInside, int(ZEL_IN_CALLBACK));
        QCOMPARE(sink.uninitFromInside, int(ZEL_IN_CALLBACK));
        QCOMPARE(ZelCameraUnInit(h), 0);
        const int after = sink.count();
        QTest::qWait(200);
        QCOMPARE(sink.count(), after);
        QCOMPARE(ZelCameraPlay(h), int(ZEL_UNKNOWN_HANDLE));

        // A camera whose picture port is gone can still be stopped.
        netcamsim::Options o;
        o.address = QHostAddress(QStringLiteral("127.0.0.3"));
        o.picturePort = 10499;
        netcamsim::SimNetCamera blind(o);
        QVERIFY(blind.start());
        tZelCameraDevInfo info = record("127.0.0.3");
        QCOMPARE(ZelCameraInit(&info, 0, 0, h), 0);
        QCOMPARE(ZelCameraPlay(h), 0);
        QTest::qWait(100);
        QCOMPARE(ZelCameraStop(h), int(ZEL_LINK_DOWN));
        QVERIFY(!blind.playing());
        QCOMPARE(ZelCameraUnInit(h), 0);
    }
};

NETNS_TEST_MAIN(TstCameraSdk)
#include "tst_camerasdk.moc"
