// Conformance of every camera plug-in we ship: frame size and layout,
// colour mode chosen before open, trigger mode, frames missing, loss and
// reconnect, idempotent close, picture folders and the control socket.
#include "camerainterface.h"
#include "testworkdir.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPluginLoader>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

struct Frame {
    QByteArray bytes;
    bool ok = false;
};

double meanOf(const QByteArray& b, int stride = 1, int offset = 0)
{
    if (b.isEmpty())
        return 0;
    double sum = 0;
    int n = 0;
    for (int i = offset; i < b.size(); i += stride, ++n)
        sum += uchar(b[i]);
    return n ? sum / n : 0;
}

// Mean of a rectangle of a grey frame.
double meanRect(const QByteArray& b, int w, const QRect& r)
{
    double sum = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            sum += uchar(b[y * w + x]);
    return sum / (r.width() * r.height());
}

}  // namespace

class TestCameraConformance : public QObject {
    Q_OBJECT

    QString envName_;
    QString control_;
    CameraInterface* root_ = nullptr;
    QList<QPluginLoader*> loaders_;
    std::unique_ptr<TestWorkDir> wd_;

    // One socket per plug-in: both are loaded in this process.
    QString controlName() const { return control_ + QLatin1Char('-') + envName_; }

    CameraInterface* rootOf(const QString& file)
    {
        auto* loader = new QPluginLoader(QStringLiteral(VMM_PLUGIN_DIR "/") + file);
        loaders_ << loader;
        QObject* inst = loader->instance();
        if (!inst)
            qWarning("%s", qPrintable(loader->errorString()));
        return inst ? static_cast<CameraInterface*>(inst->qt_metacast(CAMERA_INTERFACE_IID)) : nullptr;
    }

    // Configures the plug-in of this row with `cameras` and lists them.
    QVector<_cameraInfo> configure(const QJsonArray& cameras)
    {
        QJsonObject root;
        root[QStringLiteral("control")] = controlName();
        root[QStringLiteral("cameras")] = cameras;
        qputenv(envName_.toLatin1(), QJsonDocument(root).toJson(QJsonDocument::Compact));
        return root_->enumCameras();
    }

    std::unique_ptr<CameraInterface> make(const QJsonObject& cfg, bool colour = false, bool openIt = true)
    {
        const QVector<_cameraInfo> list = configure(QJsonArray{cfg});
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

    static QJsonObject cfg(const QString& serial, int w = 64, int h = 48)
    {
        QJsonObject o;
        o[QStringLiteral("serial")] = serial;
        o[QStringLiteral("width")] = w;
        o[QStringLiteral("height")] = h;
        return o;
    }

    static Frame grab(CameraInterface* cam, int bytes)
    {
        Frame f;
        f.bytes.fill(char(0xA5), bytes);
        f.ok = cam->getImage(reinterpret_cast<uchar*>(f.bytes.data()));
        return f;
    }

    static void addPluginColumns()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("env");
        QTest::addColumn<int>("kind");
    }

    void selectPlugin()
    {
        QFETCH(QString, file);
        QFETCH(QString, env);
        envName_ = env;
        root_ = rootOf(file);
        QVERIFY(root_);
    }

    void pluginRows(const char* suffix = "")
    {
        QTest::newRow(qPrintable(QStringLiteral("simulated") + QLatin1String(suffix)))
            << "libcamera_simulated.so" << "VMM_CAMERA_SIMULATED" << 0;
        QTest::newRow(qPrintable(QStringLiteral("replay") + QLatin1String(suffix)))
            << "libcamera_replay.so" << "VMM_CAMERA_REPLAY" << 1;
    }

    void writePicture(const QString& path, int w, int h, int value, bool split = false)
    {
        QImage img(w, h, QImage::Format_Grayscale8);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.scanLine(y)[x] = uchar(split && x < w / 2 ? 0 : value);
        QVERIFY(img.save(path));
    }

private slots:
    void initTestCase()
    {
        control_ = QStringLiteral("vmm-test-camera-%1").arg(QCoreApplication::applicationPid());
    }

    void init() { wd_ = std::make_unique<TestWorkDir>(); }
    void cleanup()
    {
        wd_.reset();
        qunsetenv("VMM_CAMERA_SIMULATED");
        qunsetenv("VMM_CAMERA_REPLAY");
    }

    void cleanupTestCase()
    {
        // Plug-ins stay loaded for the life of the process, as in the program.
        qDeleteAll(loaders_);
    }

    void identity_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void identity()
    {
        selectPlugin();
        QFETCH(int, kind);
        QCOMPARE(root_->kind(), kind);
        const QVector<_cameraInfo> list = configure(QJsonArray{cfg("CAMERA-0001"), cfg("CAMERA-0002"),
                                                               cfg("SHORT"), cfg(QString(300, QLatin1Char('x')))});
        QCOMPARE(list.size(), 2);  // the serials outside 8..256 characters are left out
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(list[i].pluginName, root_->name());
            QCOMPARE(cameraSerial(list[i]), QStringLiteral("CAMERA-000%1").arg(i + 1));
            std::unique_ptr<CameraInterface> cam(root_->createCamera(list[i]));
            QVERIFY(cam);
            QCOMPARE(cam->kind(), kind);
            QCOMPARE(cam->name(), root_->name());
        }
        _cameraInfo unknown = list[0];
        setCameraSerial(unknown, QStringLiteral("NOT-LISTED-1"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no camera with serial")));
        QVERIFY(!root_->createCamera(unknown));
        QCOMPARE(configure(QJsonArray{cfg("CAMERA-0001", 0, 48), cfg("CAMERA-0002", 64, 100000)}).size(), 0);
    }

    void frameLayout_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("env");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("sensorColour");
        QTest::addColumn<bool>("colourOut");
        const char* names[] = {"grey/grey", "grey/rgb32", "colour/grey", "colour/rgb32"};
        for (int i = 0; i < 4; ++i) {
            QTest::newRow(qPrintable(QStringLiteral("simulated ") + names[i]))
                << "libcamera_simulated.so" << "VMM_CAMERA_SIMULATED" << 0 << bool(i & 2) << bool(i & 1);
            QTest::newRow(qPrintable(QStringLiteral("replay ") + names[i]))
                << "libcamera_replay.so" << "VMM_CAMERA_REPLAY" << 1 << bool(i & 2) << bool(i & 1);
        }
    }

    void frameLayout()
    {
        selectPlugin();
        QFETCH(bool, sensorColour);
        QFETCH(bool, colourOut);
        QJsonObject c = cfg("LAYOUT-0001", 96, 72);
        c[QStringLiteral("color")] = sensorColour;
        auto cam = make(c, colourOut);
        QVERIFY(cam);
        int w = -1, h = -1;
        cam->getSize(&w, &h);
        QCOMPARE(w, 96);
        QCOMPARE(h, 72);
        const int bytes = w * h * (colourOut ? 4 : 1);
        const int canary = 64;
        Frame f = grab(cam.get(), bytes + canary);
        QVERIFY(f.ok);
        for (int i = bytes; i < bytes + canary; ++i)
            QCOMPARE(uchar(f.bytes[i]), uchar(0xA5));
        f.bytes.truncate(bytes);
        QVERIFY(f.bytes.count(char(0xA5)) < bytes / 2);
        if (colourOut) {
            bool colourful = false;
            for (int i = 0; i < bytes; i += 4) {
                QCOMPARE(uchar(f.bytes[i + 3]), uchar(0xFF));  // RGB32: B, G, R, 0xFF
                if (f.bytes[i] != f.bytes[i + 2])
                    colourful = true;
            }
            QCOMPARE(colourful, sensorColour);
        }
        // The colour mode is fixed once the camera is open.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("colour mode is fixed")));
        cam->setColor(!colourOut);
        Frame g = grab(cam.get(), bytes + canary);
        QVERIFY(g.ok);
        for (int i = bytes; i < bytes + canary; ++i)
            QCOMPARE(uchar(g.bytes[i]), uchar(0xA5));
    }

    void acquisitionState_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void acquisitionState()
    {
        selectPlugin();
        auto cam = make(cfg("STATE-00001"), false, false);
        QVERIFY(cam);
        const int bytes = 64 * 48;
        QVERIFY(!grab(cam.get(), bytes).ok);  // not open
        QVERIFY(cam->open());
        QVERIFY(!grab(cam.get(), bytes).ok);  // not started
        cam->start();
        QVERIFY(grab(cam.get(), bytes).ok);
        cam->stop();
        QVERIFY(!grab(cam.get(), bytes).ok);
        cam->start();
        QVERIFY(grab(cam.get(), bytes).ok);
        // Close is idempotent; a closed camera brings nothing and opens again.
        cam->stop();
        cam->close();
        cam->close();
        QVERIFY(!grab(cam.get(), bytes).ok);
        QVERIFY(cam->open());
        cam->start();
        QVERIFY(grab(cam.get(), bytes).ok);
        cam.reset();  // destroyed while open and started
    }

    void triggerMode_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void triggerMode()
    {
        selectPlugin();
        auto cam = make(cfg("TRIGGER-001"));
        QVERIFY(cam);
        const int bytes = 64 * 48;
        cam->changeTrigger(true);
        QVERIFY(!grab(cam.get(), bytes).ok);
        cam->softTrigger();
        QVERIFY(grab(cam.get(), bytes).ok);
        QVERIFY(!grab(cam.get(), bytes).ok);
        cam->softTrigger();
        cam->softTrigger();
        QVERIFY(grab(cam.get(), bytes).ok);
        QVERIFY(grab(cam.get(), bytes).ok);
        QVERIFY(!grab(cam.get(), bytes).ok);
        cam->changeTrigger(false);
        QVERIFY(grab(cam.get(), bytes).ok);
        cam->softTrigger();  // free-running: a trigger is not stored
        cam->setting(QJsonObject{{"sysUsage", true}});
        QVERIFY(!grab(cam.get(), bytes).ok);
        cam->setting(QJsonObject{{"sysUsage", false}});
        QVERIFY(grab(cam.get(), bytes).ok);
    }

    void faults_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void faults()
    {
        selectPlugin();
        QJsonObject c = cfg("FAULTS-0001");
        c[QStringLiteral("faults")] = QJsonObject{{"openFail", true}};
        auto cam = make(c, false, false);
        QVERIFY(cam);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("open failed")));
        QVERIFY(!cam->open());

        c[QStringLiteral("faults")] = QJsonObject{{"size0", true}};
        cam = make(c);
        int w = -1, h = -1;
        cam->getSize(&w, &h);
        QCOMPARE(w, 0);
        QCOMPARE(h, 0);

        c[QStringLiteral("faults")] = QJsonObject{{"missEvery", 3}};
        cam = make(c);
        QList<bool> got;
        for (int i = 0; i < 7; ++i)
            got << grab(cam.get(), 64 * 48).ok;
        QCOMPARE(got, (QList<bool>{true, true, false, true, true, false, true}));
    }

    void lossAndReconnect_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void lossAndReconnect()
    {
        selectPlugin();
        QJsonObject c = cfg("LOSS-000001");
        c[QStringLiteral("faults")] = QJsonObject{{"lossAfter", 3}, {"reconnectFails", 2}};
        auto cam = make(c);
        QVERIFY(cam);
        QSignalSpy spy(cam.get(), &CameraInterface::sigCameraLost);
        const int bytes = 64 * 48;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(grab(cam.get(), bytes).ok);
            QCOMPARE(spy.count(), 0);  // never from inside getImage()
        }
        QVERIFY(!grab(cam.get(), bytes).ok);
        QTRY_COMPARE(spy.count(), 1);
        QVERIFY(!grab(cam.get(), bytes).ok);
        cam->lost();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("reconnect failed")));
        QVERIFY(!cam->reconnect());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("reconnect failed")));
        QVERIFY(!cam->reconnect());
        QVERIFY(cam->reconnect());
        for (int i = 0; i < 5; ++i)
            QVERIFY(grab(cam.get(), bytes).ok);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 1);
    }

    // The cameras of our plug-ins are read off the GUI thread, several at
    // once: each gives its frames whole, and a loss during such a read is
    // still reported through the GUI thread's event loop.
    void grabsOffTheGuiThread_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void grabsOffTheGuiThread()
    {
        selectPlugin();
        QJsonObject lossy = cfg("THREAD-00002", 96, 72);
        lossy[QStringLiteral("faults")] = QJsonObject{{"lossAfter", 2}};
        const QVector<_cameraInfo> list = configure(QJsonArray{cfg("THREAD-00001", 96, 72), lossy});
        QCOMPARE(list.size(), 2);
        std::unique_ptr<CameraInterface> cams[2];
        for (int i = 0; i < 2; ++i) {
            cams[i].reset(root_->createCamera(list[i]));
            QVERIFY(cams[i]);
            QVERIFY(cams[i]->property(kGrabAnyThread).toBool());
            QVERIFY(cams[i]->open());
            cams[i]->start();
        }
        QSignalSpy lost(cams[1].get(), &CameraInterface::sigCameraLost);
        const int bytes = 96 * 72;
        for (int round = 0; round < 3; ++round) {
            Frame got[2];
            std::thread other([&] { got[1] = grab(cams[1].get(), bytes); });
            std::thread one([&] { got[0] = grab(cams[0].get(), bytes); });
            one.join();
            other.join();
            QVERIFY(got[0].ok && got[0].bytes.count(char(0xA5)) < bytes / 2);
            QCOMPARE(got[1].ok, round < 2);  // the second camera is gone after two frames
            QVERIFY(!got[1].ok || got[1].bytes.count(char(0xA5)) < bytes / 2);
        }
        QCOMPARE(lost.count(), 0);  // not from the reading thread
        QTRY_COMPARE(lost.count(), 1);
    }

    void synthesisedScene_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void synthesisedScene()
    {
        selectPlugin();
        // Two cameras with one seed show the same frames; a defect injected
        // into one of them through the control socket shows as a small change.
        QJsonObject a = cfg("SCENE-00001", 320, 240), b = cfg("SCENE-00002", 320, 240);
        a[QStringLiteral("seed")] = 7;
        b[QStringLiteral("seed")] = 7;
        const QVector<_cameraInfo> list = configure(QJsonArray{a, b});
        QCOMPARE(list.size(), 2);
        std::unique_ptr<CameraInterface> ca(root_->createCamera(list[0])), cb(root_->createCamera(list[1]));
        for (CameraInterface* c : {ca.get(), cb.get()}) {
            c->setColor(false);
            QVERIFY(c->open());
            c->start();
        }
        const int bytes = 320 * 240;
        Frame a0 = grab(ca.get(), bytes), b0 = grab(cb.get(), bytes);
        QVERIFY(a0.ok && b0.ok);
        QCOMPARE(a0.bytes, b0.bytes);
        Frame a1 = grab(ca.get(), bytes), b1 = grab(cb.get(), bytes);
        QVERIFY(a1.bytes != a0.bytes);  // the pose jitters from frame to frame

        QLocalSocket sock;
        sock.connectToServer(controlName());
        QVERIFY(sock.waitForConnected(5000));
        auto send = [&](const QByteArray& line) {
            sock.write(line + '\n');
            sock.flush();
            [&] { QTRY_VERIFY(sock.canReadLine()); }();
            return sock.readLine().trimmed();
        };
        QCOMPARE(send("list"), QByteArray("ok SCENE-00001 SCENE-00002"));
        QCOMPARE(send("SCENE-00001 defect spot,colorblob"), QByteArray("ok 1"));
        Frame a2 = grab(ca.get(), bytes), b2 = grab(cb.get(), bytes);
        int differing = 0;
        for (int i = 0; i < bytes; ++i)
            differing += a2.bytes[i] != b2.bytes[i];
        QVERIFY(differing > 20);
        QVERIFY(differing < bytes / 20);
        QCOMPARE(send("SCENE-00001 defect none"), QByteArray("ok 1"));
        QCOMPARE(grab(ca.get(), bytes).bytes, grab(cb.get(), bytes).bytes);

        const QRect middle(120, 90, 80, 60);
        const double product = meanRect(grab(ca.get(), bytes).bytes, 320, middle);
        grab(cb.get(), bytes);
        QCOMPARE(send("* scene empty"), QByteArray("ok 2"));
        const double empty = meanRect(grab(ca.get(), bytes).bytes, 320, middle);
        grab(cb.get(), bytes);
        QVERIFY2(empty < product - 20, qPrintable(QStringLiteral("%1 %2").arg(empty).arg(product)));
        QCOMPARE(send("* scene product"), QByteArray("ok 2"));

        // Refused commands change nothing.
        QVERIFY(send("NOSUCH-CAMERA defect spot").startsWith("error"));
        QVERIFY(send("SCENE-00001 defect dent").startsWith("error"));
        QVERIFY(send("SCENE-00001 fault loss -4").startsWith("error"));
        QVERIFY(send("SCENE-00001 fault openfail maybe").startsWith("error"));
        QVERIFY(send("SCENE-00001 paint").startsWith("error"));
        QVERIFY(send("SCENE-00001 look big 0.5").startsWith("error"));
        QVERIFY(send("SCENE-00001 look 1").startsWith("error"));
        QVERIFY(send("SCENE-00001").startsWith("error"));
        QCOMPARE(grab(ca.get(), bytes).bytes, grab(cb.get(), bytes).bytes);

        // The same through the command-line tool a script uses.
        auto camctl = [&](const QStringList& args, QByteArray* out) {
            QProcess p;
            p.start(QStringLiteral(VMM_CAMCTL), QStringList{controlName()} + args);
            [&] { QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 20000); }();
            *out = p.readAllStandardOutput().trimmed();
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        QByteArray reply;
        QCOMPARE(camctl({"SCENE-00002", "defect", "flash"}, &reply), 0);
        QCOMPARE(reply, QByteArray("ok 1"));
        QVERIFY(grab(ca.get(), bytes).bytes != grab(cb.get(), bytes).bytes);
        QCOMPARE(camctl({"SCENE-00002", "defect", "bogus"}, &reply), 1);
        QVERIFY(reply.startsWith("error"));
        QCOMPARE(camctl({"*", "defect", "none"}, &reply), 0);
        QCOMPARE(grab(ca.get(), bytes).bytes, grab(cb.get(), bytes).bytes);

        // Faults injected at run time.
        QSignalSpy spy(ca.get(), &CameraInterface::sigCameraLost);
        QCOMPARE(send("SCENE-00001 fault loss 1"), QByteArray("ok 1"));
        QVERIFY(grab(ca.get(), bytes).ok);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(send("SCENE-00002 fault miss 1"), QByteArray("ok 1"));
        QVERIFY(!grab(cb.get(), bytes).ok);
    }

    void controlSocketBelongsToItsFolder_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void controlSocketBelongsToItsFolder()
    {
        selectPlugin();
        QFETCH(QString, env);
        auto ask = [](const QString& name, const QByteArray& line) {
            QLocalSocket sock;
            sock.connectToServer(name);
            if (!sock.waitForConnected(2000))
                return QByteArray("no answer");
            sock.write(line + '\n');
            sock.flush();
            QElapsedTimer t;
            t.start();
            while (!sock.canReadLine() && t.elapsed() < 5000)
                QTest::qWait(5);
            return sock.readLine().trimmed();
        };
        auto enumerate = [&](const QJsonValue& control) {
            QJsonObject root;
            if (!control.isUndefined())
                root[QStringLiteral("control")] = control;
            root[QStringLiteral("cameras")] = QJsonArray{cfg("CONTROL-0001")};
            qputenv(env.toLatin1(), QJsonDocument(root).toJson(QJsonDocument::Compact));
            const QVector<_cameraInfo> list = root_->enumCameras();
            return list.size() == 1 ? std::unique_ptr<CameraInterface>(root_->createCamera(list[0])) : nullptr;
        };

        // Without a name of its own the socket lies in the working folder.
        std::unique_ptr<CameraInterface> cam = enumerate(QJsonValue(QJsonValue::Undefined));
        QVERIFY(cam);
        const QString own = wd_->file(env == QLatin1String("VMM_CAMERA_SIMULATED") ? "vmm-camera-simulated"
                                                                                      : "vmm-camera-replay");
        QCOMPARE(ask(own, "list"), QByteArray("ok CONTROL-0001"));

        // A socket another program answers on is left alone.
        QLocalServer other;
        const QString taken = wd_->file("taken");
        QVERIFY(other.listen(taken));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("in use by another program")));
        cam = enumerate(QStringLiteral("./taken"));
        QVERIFY(cam);
        QTest::qWait(50);
        while (other.hasPendingConnections())
            delete other.nextPendingConnection();  // the plug-in's look
        QLocalSocket client;
        client.connectToServer(taken);
        QVERIFY(client.waitForConnected(2000));
        QTRY_VERIFY(other.hasPendingConnections());
        QVERIFY(QFileInfo::exists(taken));

        // A socket file nobody answers on is what an earlier run left: taken over.
        const QString stale = wd_->file("stale");
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, QFile::encodeName(stale).constData(), sizeof(addr.sun_path) - 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        ::close(fd);
        QVERIFY(QFileInfo::exists(stale));
        cam = enumerate(stale);
        QVERIFY(cam);
        QCOMPARE(ask(stale, "list"), QByteArray("ok CONTROL-0001"));
    }

    void pictureFolder_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void pictureFolder()
    {
        selectPlugin();
        QDir().mkpath(QStringLiteral("pics"));
        writePicture(QStringLiteral("pics/b.png"), 16, 12, 100);
        writePicture(QStringLiteral("pics/a.png"), 16, 12, 50);
        writePicture(QStringLiteral("pics/c.bmp"), 32, 24, 150);
        QFile broken(QStringLiteral("pics/d.png"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not a picture");
        broken.close();
        QFile notes(QStringLiteral("pics/notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        QJsonObject c = cfg("FOLDER-0001", 32, 24);
        c[QStringLiteral("source")] = QStringLiteral("folder");
        c[QStringLiteral("folder")] = QDir::current().absoluteFilePath(QStringLiteral("pics"));
        auto cam = make(c);
        QVERIFY(cam);
        QList<int> means;
        // Frames are prepared ahead, so the warning may come before frame 3 is asked for.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot be read")));
        for (int i = 0; i < 5; ++i) {
            const Frame f = grab(cam.get(), 32 * 24);
            QVERIFY(f.ok);
            means << qRound(meanOf(f.bytes));
        }
        // Name order, looped; an unreadable picture repeats the one before.
        QCOMPARE(means, (QList<int>{50, 100, 150, 150, 50}));

        QJsonObject e = cfg("FOLDER-0002", 32, 24);
        e[QStringLiteral("source")] = QStringLiteral("folder");
        e[QStringLiteral("folder")] = QDir::current().absoluteFilePath(QStringLiteral("nothing-here"));
        auto none = make(e, false, false);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no pictures")));
        QVERIFY(!none->open());
    }

    void mirrorAndWhiteBalance_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void mirrorAndWhiteBalance()
    {
        selectPlugin();
        QDir().mkpath(QStringLiteral("one"));
        writePicture(QStringLiteral("one/x.png"), 40, 30, 200, true);  // left half black
        QJsonObject c = cfg("MIRROR-0001", 40, 30);
        c[QStringLiteral("source")] = QStringLiteral("folder");
        c[QStringLiteral("folder")] = QDir::current().absoluteFilePath(QStringLiteral("one"));
        auto grey = make(c);
        const Frame plain = grab(grey.get(), 40 * 30);
        QCOMPARE(uchar(plain.bytes[0]), uchar(0));
        QCOMPARE(uchar(plain.bytes[39]), uchar(200));
        grey->setHMirror(true);
        const Frame h = grab(grey.get(), 40 * 30);
        QCOMPARE(uchar(h.bytes[0]), uchar(200));
        QCOMPARE(uchar(h.bytes[39]), uchar(0));
        grey->setting(QJsonObject{{"HMirror", false}, {"VMirror", true}});
        QCOMPARE(grab(grey.get(), 40 * 30).bytes, plain.bytes);  // rows are uniform
        grey->setWB();  // grey camera: no effect
        grey->setting(QJsonObject{{"VMirror", false}});
        QCOMPARE(grab(grey.get(), 40 * 30).bytes, plain.bytes);

        // A colour sensor starts with a cast that white balance removes step by step.
        writePicture(QStringLiteral("one/x.png"), 40, 30, 100);
        c[QStringLiteral("serial")] = QStringLiteral("MIRROR-0002");
        c[QStringLiteral("color")] = true;
        auto colour = make(c, true);
        const int bytes = 40 * 30 * 4;
        Frame f = grab(colour.get(), bytes);
        const double castBefore = meanOf(f.bytes, 4, 2) - meanOf(f.bytes, 4, 0);
        QVERIFY(castBefore > 10);
        for (int i = 0; i < 10; ++i)
            colour->setWB();
        f = grab(colour.get(), bytes);
        const double castAfter = meanOf(f.bytes, 4, 2) - meanOf(f.bytes, 4, 0);
        QVERIFY2(qAbs(castAfter) < 2, qPrintable(QString::number(castAfter)));
    }

    void settings_data()
    {
        addPluginColumns();
        pluginRows();
    }

    void settings()
    {
        selectPlugin();
        auto cam = make(cfg("SETTING-001"));
        cam->setting(QJsonObject{{"exposetime", 40}, {"gain", 20}, {"contrast", 50}, {"sharp", 1}, {"gammma", 70},
                                 {"WDR", true}, {"VMirror", false}, {"HMirror", false}, {"sysUsage", false},
                                 {"speed", 12}});
        QJsonObject now = cam->currentSetting(0);
        QCOMPARE(now.value("ExposureTime").toDouble(), 40000.0);
        QCOMPARE(now.value("Gain").toInt(), 20);
        QJsonObject restore{{"exposeTime", 1}, {"adjustPlus", 1}, {"sharp", 1}, {"contrast", 1}, {"gamma", 1},
                            {"speed", 1}, {"isHMirror", 1}, {"isVMirror", 0}, {"sysUsage", 0}, {"isWDR", 1}};
        cam->restoreDefault(&restore, 0);
        QCOMPARE(restore.value("exposeTime").toInt(), 30);
        QCOMPARE(restore.value("adjustPlus").toInt(), 32);
        QCOMPARE(restore.value("contrast").toInt(), 50);
        QCOMPARE(restore.value("gamma").toInt(), 70);
        QCOMPARE(restore.value("isHMirror").toInt(), 1);  // carried, not the camera's to change
        QCOMPARE(cam->currentSetting(0).value("Gain").toInt(), 32);
        cam->restoreDefault(nullptr, 0);
        int fps = -1;
        cam->getFps(&fps);
        QVERIFY(fps >= 0);
        cam->getFps(nullptr);
    }
};

QTEST_MAIN(TestCameraConformance)
#include "tst_cameraconformance.moc"
