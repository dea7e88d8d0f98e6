// The network-camera plug-in through the camera plug-in interface, against
// simulated network cameras: the checks every camera plug-in we ship meets
// (listing, frame layout, acquisition state, trigger mode, loss and
// reconnect, settings), run in a network namespace of this test.
#include "camerainterface.h"
#include "peertrafficlog.h"
#include "simnetcamera.h"
#include "support_netns.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPluginLoader>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <iterator>
#include <memory>

namespace {

struct Frame {
    QByteArray bytes;
    bool ok = false;
};

Frame grab(CameraInterface* cam, int bytes)
{
    Frame f;
    f.bytes.fill(char(0xA5), bytes);
    f.ok = cam->getImage(reinterpret_cast<uchar*>(f.bytes.data()));
    return f;
}

}  // namespace

class TstNetCameraPlugin : public QObject {
    Q_OBJECT
    QPluginLoader* loader_ = nullptr;
    CameraInterface* root_ = nullptr;
    std::unique_ptr<netcamsim::SimNetCamera> cam_;

    bool startSim(int channels = 1, const QString& ip = QStringLiteral("127.0.0.2"), int width = 64, int height = 48)
    {
        cam_.reset();
        netcamsim::Options o;
        o.address = QHostAddress(ip);
        o.width = width;
        o.height = height;
        o.channels = channels;
        cam_ = std::make_unique<netcamsim::SimNetCamera>(o);
        return cam_->start();
    }

    QVector<_cameraInfo> configure(const QJsonArray& cameras)
    {
        qputenv("VMM_CAMERA_NETWORK", QJsonDocument(QJsonObject{{"discover", false}, {"cameras", cameras}}).toJson());
        return root_->enumCameras();
    }

    std::unique_ptr<CameraInterface> make(bool colour = false, bool openIt = true)
    {
        const QVector<_cameraInfo> list = configure(QJsonArray{QJsonObject{{"ip", "127.0.0.2"}, {"serial", "NETCAM-0001"}}});
        if (list.size() != 1)
            return nullptr;
        std::unique_ptr<CameraInterface> cam(root_->createCamera(list[0]));
        if (cam) {
            cam->setColor(colour);
            if (openIt && cam->open())
                cam->start();
        }
        return cam;
    }

private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        QVERIFY(netns::prepare());
        loader_ = new QPluginLoader(QStringLiteral(VMM_PLUGIN_DIR "/libcamera_network.so"), this);
        QObject* inst = loader_->instance();
        QVERIFY2(inst, qPrintable(loader_->errorString()));
        root_ = static_cast<CameraInterface*>(inst->qt_metacast(CAMERA_INTERFACE_IID));
        QVERIFY(root_);
    }
    void init()
    {
        if (root_)
            QVERIFY(startSim());
    }
    void cleanup() { cam_.reset(); }

    void identity()
    {
        NETNS_GUARD();
        QCOMPARE(root_->kind(), 2);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not an IPv4 address"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unusable or twice"));
        const QVector<_cameraInfo> list =
            configure(QJsonArray{QJsonObject{{"ip", "127.0.0.2"}, {"serial", "NETCAM-0001"}}, QJsonObject{{"ip", "127.0.0.3"}},
                                 QJsonObject{{"ip", "camera.local"}}, QJsonObject{{"ip", "127.0.0.4"}, {"serial", "NETCAM-0001"}}});
        QCOMPARE(list.size(), 2);
        QCOMPARE(cameraSerial(list[0]), QStringLiteral("NETCAM-0001"));
        QCOMPARE(cameraSerial(list[1]), QStringLiteral("NET-127.0.0.3"));
        std::unique_ptr<CameraInterface> cam(root_->createCamera(list[0]));
        QVERIFY(cam);
        QCOMPARE(cam->name(), root_->name());
        QCOMPARE(cam->kind(), 2);
        std::unique_ptr<CameraInterface> silent(root_->createCamera(list[1]));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("open failed"));
        QVERIFY(!silent->open());  // no camera answers on 127.0.0.3
        _cameraInfo unknown = list[0];
        setCameraSerial(unknown, QStringLiteral("NOT-LISTED-1"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no camera with serial"));
        QVERIFY(!root_->createCamera(unknown));
        qputenv("VMM_CAMERA_NETWORK", "{ broken");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("configuration unreadable"));
        QCOMPARE(root_->enumCameras().size(), 0);
    }

    void frameLayout_data()
    {
        QTest::addColumn<bool>("sensorColour");
        QTest::addColumn<bool>("colourOut");
        QTest::newRow("grey/grey") << false << false;
        QTest::newRow("grey/rgb32") << false << true;
        QTest::newRow("colour/grey") << true << false;
        QTest::newRow("colour/rgb32") << true << true;
    }
    void frameLayout()
    {
        NETNS_GUARD();
        QFETCH(bool, sensorColour);
        QFETCH(bool, colourOut);
        QVERIFY(startSim(sensorColour ? 3 : 1));
        auto cam = make(colourOut);
        QVERIFY(cam);
        int w = -1, h = -1;
        cam->getSize(&w, &h);
        QCOMPARE(w, 64);
        QCOMPARE(h, 48);
        const int bytes = w * h * (colourOut ? 4 : 1);
        const int canary = 64;
        Frame f = grab(cam.get(), bytes + canary);
        QVERIFY(f.ok);
        for (int i = bytes; i < bytes + canary; ++i)
            QCOMPARE(uchar(f.bytes[i]), uchar(0xA5));
        if (colourOut) {
            for (int i = 0; i < bytes; i += 4)
                QCOMPARE(uchar(f.bytes[i + 3]), uchar(0xFF));
        } else if (!sensorColour) {
            // Each frame handed out is a newer one than the frame before.
            quint32 last = netcamsim::SimNetCamera::frameNumberOf(reinterpret_cast<const uchar*>(f.bytes.constData()));
            for (int i = 0; i < 5; ++i) {
                const Frame g = grab(cam.get(), bytes);
                QVERIFY(g.ok);
                const quint32 n = netcamsim::SimNetCamera::frameNumberOf(reinterpret_cast<const uchar*>(g.bytes.constData()));
                QVERIFY(n > last);
                last = n;
            }
        }
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("colour mode is fixed"));
        cam->setColor(!colourOut);
        QVERIFY(grab(cam.get(), bytes).ok);
    }

    void acquisitionState()
    {
        NETNS_GUARD();
        auto cam = make(false, false);
        QVERIFY(cam);
        const int bytes = 64 * 48;
        QVERIFY(!grab(cam.get(), bytes).ok);
        QVERIFY(cam->open());
        QVERIFY(!grab(cam.get(), bytes).ok);
        cam->start();
        QVERIFY(grab(cam.get(), bytes).ok);
        cam->stop();
        QVERIFY(!grab(cam.get(), bytes).ok);
        cam->start();
        QVERIFY(grab(cam.get(), bytes).ok);
        cam->stop();
        cam->close();
        cam->close();
        QVERIFY(!grab(cam.get(), bytes).ok);
        QVERIFY(cam->open());
        cam->start();
        QVERIFY(grab(cam.get(), bytes).ok);
        cam.reset();  // destroyed while open and started
    }

    // The live view's pull never waits: pulled back to back it mostly finds
    // nothing new (a waiting pull would bring a frame each time, one comes
    // every 50 ms), never hands a frame out twice, and the waiting pull
    // still brings the next frame.
    void newestFrameWithoutWaiting()
    {
        NETNS_GUARD();
        auto cam = make();
        QVERIFY(cam);
        const int bytes = 64 * 48;
        const auto number = [](const QByteArray& b) {
            return netcamsim::SimNetCamera::frameNumberOf(reinterpret_cast<const uchar*>(b.constData()));
        };
        Frame f = grab(cam.get(), bytes);
        QVERIFY(f.ok);
        quint32 last = number(f.bytes);
        constexpr int kPulls = 50;
        int nothing = 0;
        for (int i = 0; i < kPulls; ++i) {
            bool ok = false;
            QVERIFY(QMetaObject::invokeMethod(cam.get(), "getNewestImage", Qt::DirectConnection, Q_RETURN_ARG(bool, ok),
                                              Q_ARG(uchar*, reinterpret_cast<uchar*>(f.bytes.data()))));
            QVERIFY(!ok || number(f.bytes) > last);
            last = ok ? number(f.bytes) : last;
            nothing += ok ? 0 : 1;
        }
        QVERIFY2(nothing >= kPulls / 2, qPrintable(QString::number(nothing)));
        f = grab(cam.get(), bytes);
        QVERIFY(f.ok && number(f.bytes) > last);
    }

    // The machine cannot trigger a network camera: in trigger mode, asked
    // for by changeTrigger or by "sysUsage" (the external-trigger setting the
    // view sends with the others), it keeps running free: every pull brings
    // a newer frame without any trigger, and the log says so once each time
    // trigger mode is switched on, not on every call that repeats it.
    void triggerMode()
    {
        NETNS_GUARD();
        auto cam = make();
        QVERIFY(cam);
        const int bytes = 64 * 48;
        static QStringList lines;
        lines.clear();
        const QtMessageHandler before = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
            if (m.contains("network camera"))
                lines << m;
        });
        const auto guard = qScopeGuard([before] { qInstallMessageHandler(before); });
        quint32 last = 0;
        int frames = 0;
        const auto pulls = [&] {
            for (int i = 0; i < 3; ++i) {
                const Frame f = grab(cam.get(), bytes);
                const quint32 n = netcamsim::SimNetCamera::frameNumberOf(reinterpret_cast<const uchar*>(f.bytes.constData()));
                if (!f.ok || n <= last)
                    return false;
                last = n;
                ++frames;
            }
            return true;
        };
        const QString freeRunning = "network camera NETCAM-0001: cannot be triggered by the machine; it keeps running free";
        struct Step {
            const char* what;
            std::function<void()> apply;
            int lines;   // said so far
        };
        const Step steps[] = {
            {"sysUsage on", [&] { cam->setting(QJsonObject{{"sysUsage", true}}); }, 1},
            {"sysUsage on again, with the other settings",
             [&] { cam->setting(QJsonObject{{"exposetime", 40}, {"sysUsage", true}, {"speed", 12}}); }, 1},
            {"trigger mode on (the settings' accept)", [&] { cam->changeTrigger(true); }, 1},
            {"a soft trigger", [&] { cam->softTrigger(); }, 1},
            {"trigger mode off", [&] { cam->changeTrigger(false); }, 1},
            {"trigger mode on again", [&] { cam->changeTrigger(true); }, 2},
            {"sysUsage off", [&] { cam->setting(QJsonObject{{"sysUsage", false}}); }, 2},
        };
        for (const Step& s : steps) {
            s.apply();
            QVERIFY2(pulls(), s.what);
            QCOMPARE(lines.size(), s.lines);
        }
        QCOMPARE(frames, 3 * int(std::size(steps)));
        QCOMPARE(lines, (QStringList{freeRunning, freeRunning}));
        // The live view's pull too (it never waits: asked until a frame is there).
        cam->changeTrigger(true);
        Frame f = grab(cam.get(), bytes);
        int newest = 0;
        const auto pullNewest = [&] {
            bool ok = false;
            QMetaObject::invokeMethod(cam.get(), "getNewestImage", Qt::DirectConnection, Q_RETURN_ARG(bool, ok),
                                      Q_ARG(uchar*, reinterpret_cast<uchar*>(f.bytes.data())));
            newest += ok ? 1 : 0;
            return newest;
        };
        QTRY_VERIFY_WITH_TIMEOUT(pullNewest() > 0, 5000);
    }

    void lossAndReconnect()
    {
        NETNS_GUARD();
        auto cam = make();
        QVERIFY(cam);
        QSignalSpy spy(cam.get(), &CameraInterface::sigCameraLost);
        const int bytes = 64 * 48;
        QVERIFY(grab(cam.get(), bytes).ok);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("lost"));
        cam_->stop();  // the camera goes away
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 15000);
        QVERIFY(!grab(cam.get(), bytes).ok);
        cam->lost();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("reconnect failed"));
        QVERIFY(!cam->reconnect());
        QVERIFY(cam_->start());  // back again
        QVERIFY(cam->reconnect());
        for (int i = 0; i < 3; ++i)
            QVERIFY(grab(cam.get(), bytes).ok);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 1);
    }

    void settings()
    {
        NETNS_GUARD();
        auto cam = make();
        QVERIFY(cam);
        cam->setting(QJsonObject{{"exposetime", 40}, {"gain", 20}, {"contrast", 60}, {"sharp", 1}, {"gammma", 80},
                                 {"WDR", true}, {"VMirror", false}, {"HMirror", true}, {"sysUsage", false}, {"speed", 12}});
        const QJsonObject table = cam_->paramTable();
        QCOMPARE(table.value("contrast").toObject().value("value").toInt(), 60);
        QCOMPARE(table.value("gamma").toObject().value("value").toInt(), 80);
        QJsonObject now = cam->currentSetting(0);
        QCOMPARE(now.value("ExposureTime").toDouble(), 40000.0);
        QCOMPARE(now.value("Gain").toInt(), 20);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("gain 999 refused"));
        cam->setAdjustPlus(999);  // beyond the camera's range: refused and said so
        QCOMPARE(cam->currentSetting(0).value("Gain").toInt(), 20);
        QJsonObject restore{{"exposeTime", 1}, {"isHMirror", 1}};
        cam->restoreDefault(&restore, 0);
        QCOMPARE(restore.value("exposeTime").toInt(), 30);
        QCOMPARE(restore.value("isHMirror").toInt(), 1);
        QCOMPARE(cam->currentSetting(0).value("Gain").toInt(), 32);

        // A camera that answers none of them is one line with the counts.
        cam_->knobs().ignoreSettings = true;
        static QStringList lines;
        lines.clear();
        const QtMessageHandler before = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
            if (m.contains("network camera"))
                lines << m;
        });
        cam->setting(QJsonObject{{"exposetime", 40}, {"gain", 20}, {"contrast", 60}, {"sharp", 1}, {"gammma", 80},
                                 {"WDR", true}, {"VMirror", false}, {"HMirror", true}, {"sysUsage", false}, {"speed", 12}});
        qInstallMessageHandler(before);
        QCOMPARE(lines, QStringList{"network camera NETCAM-0001: of 8 settings and commands sent, 8 not answered, 0 refused"});
        cam_->knobs().ignoreSettings = false;
    }

    // A camera that refuses every reconnect (nothing listens at its address
    // any more), or comes back at another frame size, is tried again and
    // again as the program does once a second or so: a minute's attempts
    // are counted, at most a line or two for each interval of the counter,
    // and the counts in the lines add up to the attempts.
    void failedReconnectsAreCounted_data()
    {
        QTest::addColumn<bool>("resized");
        QTest::addColumn<bool>("afterInterval");  // once more when the interval is over: the count is written
        QTest::addColumn<QString>("kind");
        QTest::newRow("refused") << false << true << "network cameras: reconnect failed";
        QTest::newRow("another frame size") << true << false << "network cameras: frame size changed, not taken back";
    }
    void failedReconnectsAreCounted()
    {
        NETNS_GUARD();
        QFETCH(bool, resized);
        QFETCH(bool, afterInterval);
        QFETCH(QString, kind);
        auto cam = make();
        QVERIFY(cam);
        QVERIFY(grab(cam.get(), 64 * 48).ok);
        cam_.reset();  // the camera goes away
        if (resized)
            QVERIFY(startSim(1, QStringLiteral("127.0.0.2"), 80, 60));  // and comes back at another size
        cam->lost();
        static QStringList lines;
        lines.clear();
        const QtMessageHandler before = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
            if (m.contains("network camera"))
                lines << m;
        });
        constexpr int kAttempts = 60;
        int failed = 0;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kAttempts; ++i)
            failed += cam->reconnect() ? 0 : 1;
        qint64 skipped = 0;
        if (afterInterval) {
            // The counted lines' clock is moved past the interval, not waited for.
            skipped = PeerTrafficLog::kIntervalMs + 200;
            QVERIFY(QMetaObject::invokeMethod(cam.get(), "advanceLogClock", Qt::DirectConnection,
                                              Q_ARG(qint64, skipped)));
            failed += cam->reconnect() ? 0 : 1;
        }
        const qint64 intervals = 1 + (clock.elapsed() + skipped) / PeerTrafficLog::kIntervalMs;
        qInstallMessageHandler(before);
        const int attempts = kAttempts + (afterInterval ? 1 : 0);
        QCOMPARE(failed, attempts);
        const QString all = lines.join('\n');
        // The events each line of `kind` accounts for: one for a line of its
        // own, the count and the event that wrote it for "N more ..., then:",
        // the count for "N more ..., last:".
        const QRegularExpression more(QStringLiteral("^(.*): (\\d+) more in the last \\d+ s, (then|last): "));
        int accounted = 0, ofKind = 0;
        for (const QString& line : qAsConst(lines)) {
            QVERIFY2(line.startsWith("network cameras: "), qPrintable(line));  // none of one line an attempt
            if (!line.startsWith(kind))
                continue;
            ++ofKind;
            const QRegularExpressionMatch m = more.match(line);
            if (m.hasMatch() && m.captured(1) == kind)
                accounted += m.captured(2).toInt() + (m.captured(3) == QLatin1String("then") ? 1 : 0);
            else
                accounted += 1;
        }
        // A line where an interval begins and one where a flush ends it.
        QVERIFY2(ofKind >= 1 && ofKind <= 2 * intervals, qPrintable(all));
        if (afterInterval)
            QVERIFY2(accounted == attempts && lines.last().contains(QStringLiteral(" more in the last ")),
                     qPrintable(all));
        else
            QVERIFY2(accounted <= attempts, qPrintable(all));
        if (resized)
            QVERIFY2(lines.first() == kind + QStringLiteral(": NETCAM-0001: 80x60, not 64x48"), qPrintable(all));
    }
};

NETNS_TEST_MAIN(TstNetCameraPlugin)
#include "tst_netcameraplugin.moc"
