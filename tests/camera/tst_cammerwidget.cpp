// The camera view: buffers sized from the camera, refused cameras, the frame
// pull and what is shown, the settings hand-over (live record or working
// copy), restoring defaults, the alarm blink, and camera loss and reconnect.
#include "cameramanager.h"
#include "cammerwidget.h"
#include "cammerwidgetprobe.h"
#include "cyclecontrol.h"
#include "screenchrome.h"
#include "globals.h"
#include "lanstr.h"
#include "viewrig.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QPluginLoader>
#include <QTimer>
#include <QSemaphore>
#include <QtTest>

#include <chrono>
#include <memory>

// Stands in for the settings screen: the setters look only at its visibility.
class WizardParaWidget : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
};

using namespace rig;

namespace {

// Our simulated camera plug-in from the build, registered once per process.
CameraInterface* simulatedPlugin()
{
    static CameraInterface* root = [] {
        auto* loader = new QPluginLoader(QStringLiteral(VMM_PLUGIN_DIR "/libcamera_simulated.so"));
        QObject* inst = loader->instance();
        if (!inst)
            qFatal("simulated camera plug-in: %s", qPrintable(loader->errorString()));
        auto* iface = static_cast<CameraInterface*>(inst->qt_metacast(CAMERA_INTERFACE_IID));
        CameraManager::getInstance()->interfaces.append(iface);
        return iface;
    }();
    return root;
}

// The simulated plug-in configured with one camera of that size; its info.
_cameraInfo simulatedCamera(const QJsonObject& faults = QJsonObject(), int width = 64, int height = 48)
{
    QJsonObject cam;
    cam[QStringLiteral("serial")] = QStringLiteral("VIEWTEST-0001");
    cam[QStringLiteral("width")] = width;
    cam[QStringLiteral("height")] = height;
    if (!faults.isEmpty())
        cam[QStringLiteral("faults")] = faults;
    QJsonObject root;
    root[QStringLiteral("control")] = QString();
    root[QStringLiteral("cameras")] = QJsonArray{cam};
    qputenv("VMM_CAMERA_SIMULATED", QJsonDocument(root).toJson(QJsonDocument::Compact));
    const QVector<_cameraInfo> list = simulatedPlugin()->enumCameras();
    if (list.size() != 1)
        qFatal("simulated plug-in lists %d cameras", int(list.size()));
    return list[0];
}

// A camera slower than the view's pulls: its frames arrive when the test
// says so. It offers the live pull that never waits, and notes every thread
// that enters its waiting pull (getImage), where a real camera would wait.
class SlowCamera : public RecordingCamera {
    Q_OBJECT
public:
    SlowCamera() : RecordingCamera(2) { setProperty(kGrabAnyThread, true); }
    bool getImage(uchar* buffer) override
    {
        waitingPullThreads << QThread::currentThread();
        return getNewestImage(buffer);
    }
    Q_INVOKABLE bool getNewestImage(uchar* buffer)
    {
        if (!pending)
            return false;
        pending = false;
        std::memset(buffer, fill, size_t(width) * size_t(height));
        return true;
    }
    QList<QThread*> waitingPullThreads;
    bool pending = false;
};

// A camera that tells when its frame came (steady clock, ns).
class TimedCamera : public SlowCamera {
    Q_OBJECT
public:
    Q_INVOKABLE qint64 getImageSince(uchar* buffer, qint64 sinceNs, int)
    {
        if (!pending || cameNs < sinceNs)
            return 0;
        getNewestImage(buffer);
        return cameNs;
    }
    qint64 cameNs = 0;
};

constexpr int kCam = 2;   // a camera index other than 0 exercises the per-camera words

bool allBytes(const uchar* p, int n, uchar v)
{
    for (int i = 0; i < n; ++i)
        if (p[i] != v)
            return false;
    return true;
}

}  // namespace

class TestCammerWidget : public QObject {
    Q_OBJECT

    std::unique_ptr<ViewFixture> fx;

    std::unique_ptr<CammerWidget> recordingView(int kind = 1, int cam = kCam)
    {
        recordingPlugin()->cameraKind = kind;
        recordingPlugin()->width = 64;
        recordingPlugin()->height = 48;
        recordingPlugin()->openResult = true;
        std::unique_ptr<CammerWidget> v(new CammerWidget(fx->win, cam, recordingCamera()));
        return v;
    }
    RecordingCamera* rec() { return recordingPlugin()->last.data(); }

private slots:
    void initTestCase()
    {
        qputenv("VMM_TARGET", "0");
        initLanStr();
        gLan = 1;
        if (!pMutexIO)
            pMutexIO = new QMutex;
        if (!pMutexSaveFail)
            pMutexSaveFail = new QMutex;
        simulatedPlugin();
        recordingPlugin();
    }
    void init() { fx.reset(new ViewFixture); }
    void cleanup()
    {
        fx.reset();
        gisColor = 0;
        gSource = -1;
    }

    void buffersFollowTheCamera_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("mode");
        QTest::newRow("grey 64x48") << false << 64 << 48 << 0;
        QTest::newRow("colour 64x48") << true << 64 << 48 << 0;
        QTest::newRow("grey 320x240, detection mode 3") << false << 320 << 240 << 3;
        QTest::newRow("colour 33x17") << true << 33 << 17 << 0;
    }
    void buffersFollowTheCamera()
    {
        QFETCH(bool, colour);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, mode);
        gisColor = colour ? 1 : 0;
        gpWPara->words[Word::Mode] = mode;
        const _cameraInfo info = simulatedCamera(QJsonObject(), width, height);
        CammerWidget v(fx->win, 0, info);
        QVERIFY(v.isOpen());
        QVERIFY(v.simulated());
        QVERIFY(v.isAlive());
        QVERIFY(v.stepOk);
        QCOMPARE(v.imageWidth, width);
        QCOMPARE(v.imageHeight, height);
        QCOMPARE(v.pixelCount, width * height);
        QCOMPARE(v.frameBytes, colour ? 4 * width * height : width * height);
        QCOMPARE(v.scale().fullX, float(gShowW) / float(width));
        QCOMPARE(v.scale().fullY, float(gShowH) / float(height));
        QCOMPARE(v.scale().showX, v.scale().fullX);
        QCOMPARE(v.scale().winX, 1.0f);
        QCOMPARE(QString::fromLatin1(v.deviceText()), QStringLiteral("VIEWTEST-0001"));
        QVERIFY(v.isHidden());
        QCOMPARE(bool(v.greyScratch), colour);
        QVERIFY(v.captureFrame && v.workFrame && v.alignedFrame && v.shownPicture() && v.resultImage);
        QVERIFY(v.savedRecord && v.editRecord && v.engine());
        QCOMPARE(v.savedRecord->camera, 0);
        QVERIFY(v.frameRateTimer() && v.frameRateTimer()->isActive());
        QCOMPARE(v.frameRateTimer()->interval(), 1000);
        QVERIFY(!v.alarmBlinking());

        const int steps = mode == 3 ? 8 : gDNum;
        QCOMPARE(v.stepCount(), steps);
        for (int g = 0; g < kMaxDetect; ++g) {
            // Only the steps that are judged hold buffers.
            const bool held = g < steps && CammerWidget::stepEnabled(g);
            QCOMPARE(v.stepHeld(g), held);
            QCOMPARE(v.templates[g].size(), held ? gTempNum : 0);
            QCOMPARE(bool(v.ignoreMask[g]), held);
            QCOMPARE(v.tempCount[g], held ? 1 : 0);   // slot 0 always holds a template
            QVERIFY(!v.recentNgPicture(g, 0));
            for (int r = 0; r < kMaxRoi; ++r)
                QVERIFY(v.roiPassed[g][r]);
        }

        // The recent-picture ring is made when first used, zeroed, and kept.
        QVERIFY(v.stepHeld(1));
        uchar* p = v.ngPicture(1, 9);
        QVERIFY(p);
        QVERIFY(allBytes(p, v.frameBytes, 0));
        QCOMPARE(v.ngPicture(1, 9), p);
        QVERIFY(!v.ngPicture(7, 0));
        QVERIFY(!v.ngPicture(8, 0));
        QVERIFY(!v.ngPicture(0, 10));
        QVERIFY(!v.ngPicture(-1, 0));

        // A colour frame arrives in the RGB32 layout: every alpha byte is 0xff.
        QVERIFY(v.UpdateImage());
        if (colour) {
            for (int i = 0; i < v.pixelCount; ++i)
                QCOMPARE(int(v.shownPicture()[4 * i + 3]), 0xff);
        }
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(v.shownPicture()), v.frameBytes),
                 QByteArray(reinterpret_cast<char*>(v.captureFrame), v.frameBytes));
    }

    void paintsTheShownFrame_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::newRow("grey") << false;
        QTest::newRow("colour") << true;
    }
    void paintsTheShownFrame()
    {
        QFETCH(bool, colour);
        gisColor = colour ? 1 : 0;
        auto v = recordingView();
        v->resize(128, 96);
        QCOMPARE(v->grab().toImage().pixel(5, 5), qRgb(0, 0, 0));
        rec()->fill = 0x5A;
        QVERIFY(v->UpdateImage());
        const QImage shown = v->grab().toImage();
        QCOMPARE(shown.pixel(5, 5), qRgb(0x5A, 0x5A, 0x5A));
        QCOMPARE(shown.pixel(127, 95), qRgb(0x5A, 0x5A, 0x5A));
    }

    void refusedCameras_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("haveCamera");
        QTest::newRow("open fails") << "openFail" << 64 << 48 << true;
        QTest::newRow("size 0 x 0") << "size0" << 64 << 48 << true;
        QTest::newRow("width 0") << "recording" << 0 << 48 << true;
        QTest::newRow("negative height") << "recording" << 64 << -5 << true;
        QTest::newRow("absurd width") << "recording" << 100000 << 10 << true;
        QTest::newRow("absurd area") << "recording" << 16384 << 16384 << true;
        QTest::newRow("no plug-in of that name") << "nobody" << 64 << 48 << false;
        QTest::newRow("camera index 8") << "index" << 64 << 48 << false;
    }
    void refusedCameras()
    {
        QFETCH(QString, source);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, haveCamera);
        gisColor = 1;
        _cameraInfo info;
        int cam = 0;
        if (source == QLatin1String("openFail") || source == QLatin1String("size0")) {
            info = simulatedCamera(QJsonObject{{source, true}});
        } else {
            recordingPlugin()->width = width;
            recordingPlugin()->height = height;
            info = recordingCamera();
            if (source == QLatin1String("nobody"))
                info.pluginName = QStringLiteral("NoSuchCamera");
            if (source == QLatin1String("index"))
                cam = 8;
        }
        CammerWidget v(fx->win, cam, info);
        QVERIFY(!v.isOpen());
        QCOMPARE(bool(v.camera()), haveCamera);
        QVERIFY(!v.captureFrame);
        QVERIFY(!v.shownPicture());
        QVERIFY(!v.savedRecord);
        QVERIFY(!v.frameRateTimer());
        QVERIFY(!v.UpdateImage());
        // Setters and pulls on a view that did not open touch nothing.
        v.SetExposeTime();
        v.SetSpeed();
        v.TimerFPS();
        QCOMPARE(v.CameraStart(), 0);
        recordingPlugin()->width = 64;
        recordingPlugin()->height = 48;
    }

    void constructionSendsTheLiveRecord()
    {
        for (int w = 0; w < 40; ++w) {
            gpWPara->words[w] = 1000 + w;
            gpWParaBak->words[w] = 2000 + w;
        }
        gpWPara->words[179] = 1;
        gpWPara->words[317 + kCam] = 0;
        gpWPara->words[325 + kCam] = 7;
        gpWPara->words[284] = 0;
        gpWPara->words[106] = 9;
        auto v = recordingView();
        QVERIFY(v->isOpen());
        RecordingCamera* c = rec();
        QVERIFY(c);
        // setColor before open; the record reaches the camera before it starts.
        QCOMPARE(c->calls.mid(0, 6),
                 QStringList({"setColor 0", "open", "setting", "updateROI CammerSingleton* 0", "start", "setting"}));
        QCOMPARE(c->roiRecord, static_cast<void*>(v->savedRecord));
        const QJsonObject o = c->lastSetting;
        QCOMPARE(o.value("exposetime").toInt(), 1000 + kCam);
        QCOMPARE(o.value("gain").toInt(), 1008 + kCam);
        QCOMPARE(o.value("sharp").toInt(), 1016 + kCam);
        QCOMPARE(o.value("contrast").toInt(), 1024 + kCam);
        QCOMPARE(o.value("gammma").toInt(), 1032 + kCam);
        QCOMPARE(o.value("WDR").toBool(), true);
        QCOMPARE(o.value("HMirror").toBool(), false);
        QCOMPARE(o.value("VMirror").toBool(), true);
        QCOMPARE(o.value("sysUsage").toBool(), false);
        QCOMPARE(o.value("speed").toInt(), 9);
        QVERIFY(o.value("WDR").isBool());
        QVERIFY(o.value("speed").isDouble());
        QCOMPARE(o.size(), 10);

        v->TimerFPS();
        QCOMPARE(v->framesPerSecond(), 17);
    }

    void updateImageShowsOnlyLiveFreeRunning_data()
    {
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("trigger");      // word 284
        QTest::addColumn<int>("holdNg");       // word 155
        QTest::addColumn<int>("detectState");
        QTest::addColumn<bool>("shown");
        QTest::newRow("start-up source -1") << -1 << 0 << 0 << 0 << true;
        QTest::newRow("live") << 1 << 0 << 0 << 0 << true;
        QTest::newRow("template") << 0 << 0 << 0 << 0 << false;
        QTest::newRow("recent NG") << 2 << 0 << 0 << 0 << false;
        QTest::newRow("stored OK") << 3 << 0 << 0 << 0 << false;
        QTest::newRow("stored NG") << 4 << 0 << 0 << 0 << false;
        QTest::newRow("trigger mode") << 1 << 1 << 0 << 0 << false;
        QTest::newRow("NG latched and held") << 1 << 0 << 1 << 2 << false;
        QTest::newRow("NG latched, not held") << 1 << 0 << 0 << 2 << true;
        QTest::newRow("held, OK") << -1 << 0 << 1 << 1 << true;
    }
    void updateImageShowsOnlyLiveFreeRunning()
    {
        QFETCH(int, source);
        QFETCH(int, trigger);
        QFETCH(int, holdNg);
        QFETCH(int, detectState);
        QFETCH(bool, shown);
        auto v = recordingView();
        gSource = source;
        gpWPara->words[284] = trigger;
        gpWPara->words[155] = holdNg;
        fx->win->cycleStatus().detectState = detectState;
        rec()->fill = 0x11;
        const int pulls = rec()->count("getImage");
        // Pulled except in trigger mode (the triggered frame is the cycle's).
        QCOMPARE(v->UpdateImage(), trigger == 0);
        QCOMPARE(rec()->count("getImage"), pulls + (trigger == 0 ? 1 : 0));
        QVERIFY(allBytes(v->captureFrame, v->frameBytes, trigger == 0 ? 0x11 : 0));
        QVERIFY(allBytes(v->shownPicture(), v->frameBytes, shown ? 0x11 : 0));

        // Without a frame the last captured picture is shown again.
        rec()->fill = 0x22;
        rec()->deviceLost = true;
        QVERIFY(!v->UpdateImage());
        QVERIFY(allBytes(v->shownPicture(), v->frameBytes, shown ? 0x11 : 0));
    }

    void settersReadTheWorkingCopyOnlyWhileSettingsShow_data()
    {
        QTest::addColumn<int>("screen");   // 0 none, 1 hidden, 2 shown
        QTest::addColumn<bool>("colour");
        QTest::newRow("no settings screen") << 0 << false;
        QTest::newRow("settings screen hidden") << 1 << false;
        QTest::newRow("settings screen shown") << 2 << false;
        QTest::newRow("settings screen shown, colour") << 2 << true;
        QTest::newRow("no settings screen, colour") << 0 << true;
    }
    void settersReadTheWorkingCopyOnlyWhileSettingsShow()
    {
        QFETCH(int, screen);
        QFETCH(bool, colour);
        gisColor = colour ? 1 : 0;
        auto v = recordingView();
        WizardParaWidget settings;
        // The main window answers whether its settings screen is shown.
        struct Chrome : ScreenChrome {
            QWidget* settings = nullptr;
            bool settingsVisible() override { return settings && settings->isVisible(); }
        } chrome;
        chrome.settings = screen > 0 ? &settings : nullptr;
        ScreenChrome* before = ScreenChrome::install(&chrome);
        if (screen == 2)
            settings.show();
        for (int w = 0; w < 40; ++w) {
            gpWPara->words[w] = 100 + w;
            gpWParaBak->words[w] = 500 + w;
        }
        gpWPara->words[179] = 0;
        gpWParaBak->words[179] = 1;
        gpWPara->words[317 + kCam] = 1;
        gpWParaBak->words[317 + kCam] = 0;
        gpWPara->words[325 + kCam] = 0;
        gpWParaBak->words[325 + kCam] = 1;
        gpWPara->words[106] = 3;
        gpWParaBak->words[106] = 4;
        const int base = screen == 2 ? 500 : 100;
        const bool bak = screen == 2;
        QCOMPARE(CammerWidget::SettingSource(), bak ? gpWParaBak : gpWPara);

        rec()->calls.clear();
        v->SetExposeTime();
        v->SetAdjustPlus();
        v->SetSharp();
        v->SetContrast();
        v->SetGamma();
        v->SetWDR();
        v->SetHMirror();
        v->SetVMirror();
        v->SetSpeed();
        const QString wb = colour ? QStringLiteral("setWB") : QString();
        QStringList expected;
        expected << QStringLiteral("setExposeTime %1").arg(base + kCam) << wb
                 << QStringLiteral("setAdjustPlus %1").arg(base + 8 + kCam) << wb
                 << QStringLiteral("setSharp %1").arg(base + 16 + kCam)
                 << QStringLiteral("setContrast %1").arg(base + 24 + kCam)
                 << QStringLiteral("setGamma %1").arg(base + 32 + kCam)
                 << "stop" << QStringLiteral("setWDR %1").arg(int(bak)) << "start"
                 << "stop" << QStringLiteral("setHMirror %1").arg(int(!bak)) << "start"
                 << "stop" << QStringLiteral("setVMirror %1").arg(int(bak)) << "start"
                 // the speed always comes from the live record
                 << "stop" << "setSpeed 3" << "start";
        expected.removeAll(QString());
        QCOMPARE(rec()->calls, expected);
        ScreenChrome::install(before);
    }

    void cameraCallsByKindColourAndState_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("colour");
        QTest::newRow("simulated grey") << 0 << false;
        QTest::newRow("simulated colour") << 0 << true;
        QTest::newRow("physical grey") << 1 << false;
        QTest::newRow("physical colour") << 1 << true;
    }
    void cameraCallsByKindColourAndState()
    {
        QFETCH(int, kind);
        QFETCH(bool, colour);
        gisColor = colour ? 1 : 0;
        auto v = recordingView(kind);
        QCOMPARE(v->simulated(), kind == 0);
        QCOMPARE(rec()->colour, colour);
        rec()->calls.clear();
        v->SetWB();
        v->ManualUpdateImage();
        v->CameraChangeTrig(true);
        v->CameraChangeTrig(false);
        QCOMPARE(v->CameraStart(), 1);
        v->CameraStop();
        QStringList expected;
        if (colour)
            expected << "setWB";
        if (kind == 0)
            expected << "softTrigger";
        expected << "changeTrigger 1" << "changeTrigger 0" << "start" << "stop";
        QCOMPARE(rec()->calls, expected);

        // Closed: one close, then every camera call but the frame pull is skipped.
        v->CameraClose();
        v->CameraClose();
        QVERIFY(!v->isOpen());
        rec()->calls.clear();
        QCOMPARE(v->CameraStart(), 0);
        v->SetExposeTime();
        v->SetWDR();
        v->SetSpeed();
        v->SetWB();
        v->ManualUpdateImage();
        v->CameraChangeTrig(true);
        v->RestoreDefaultSettings();
        v->UpdateImage();
        QCOMPARE(rec()->calls, QStringList({"getImage"}));
    }

    void restoreDefaultsIntoTheWorkingCopy_data()
    {
        QTest::addColumn<bool>("simulated");
        QTest::newRow("simulated plug-in") << true;
        QTest::newRow("plug-in that leaves keys out") << false;
    }
    void restoreDefaultsIntoTheWorkingCopy()
    {
        QFETCH(bool, simulated);
        std::unique_ptr<CammerWidget> v;
        if (simulated) {
            v.reset(new CammerWidget(fx->win, kCam, simulatedCamera()));
        } else {
            v = recordingView();
            rec()->defaults = QJsonObject{{"exposeTime", 77}, {"gain", 5}, {"sharp", 3}};
        }
        QVERIFY(v->isOpen());
        int* b = gpWParaBak->words;
        for (int w = 0; w < 40; ++w)
            b[w] = 900 + w;
        b[106] = 21;
        b[179] = 1;
        b[284] = 1;
        b[317 + kCam] = 1;
        b[325 + kCam] = 1;
        const WizardPara live = *gpWPara;
        v->RestoreDefaultSettings();

        // Other cameras' words are left alone.
        QCOMPARE(b[kCam + 1], 900 + kCam + 1);
        QCOMPARE(b[8 + kCam - 1], 900 + 8 + kCam - 1);
        if (simulated) {
            QCOMPARE(b[kCam], 30);
            QCOMPARE(b[8 + kCam], 32);
            QCOMPARE(b[16 + kCam], 0);
            QCOMPARE(b[24 + kCam], 50);
            QCOMPARE(b[32 + kCam], 70);
            QCOMPARE(b[106], 12);
        } else {
            QCOMPARE(b[kCam], 77);
            QCOMPARE(b[8 + kCam], 0);    // "gain" is not the key read back
            QCOMPARE(b[16 + kCam], 3);
            QCOMPARE(b[24 + kCam], 0);
            QCOMPARE(b[32 + kCam], 0);
            QCOMPARE(b[106], 0);
        }
        // Mirror, WDR and trigger words are not read back.
        QCOMPARE(b[179], 1);
        QCOMPARE(b[284], 1);
        QCOMPARE(b[317 + kCam], 1);
        QCOMPARE(b[325 + kCam], 1);
        QVERIFY(*gpWPara == live);
    }

    void alarmBlinkStopsWhenTheStepPasses()
    {
        auto v = recordingView();
        v->stepOk = false;
        v->startAlarmBlink();
        QList<int> phases;
        for (int i = 0; i < 3; ++i) {
            v->TimerShowAlarm();
            phases << v->blink();
        }
        QCOMPARE(phases, QList<int>({1, 0, 1}));
        QVERIFY(v->alarmBlinking());
        v->stepOk = true;
        v->TimerShowAlarm();
        QCOMPARE(v->blink(), 0);
        QVERIFY(!v->alarmBlinking());
    }

    void lossWarnsLogsAndReconnects_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("word160");
        QTest::addColumn<int>("runState");
        QTest::newRow("three failed reconnects, running") << 3 << 0 << 1;
        QTest::newRow("camera-lost box, running") << 0 << 1 << 1;
        QTest::newRow("stopped") << 0 << 0 << 3;
    }
    void lossWarnsLogsAndReconnects()
    {
        QFETCH(int, failures);
        QFETCH(int, word160);
        QFETCH(int, runState);
        // The main window's reaction (output 0, the warning) is its own test;
        // here the view reports the loss once through the link.
        struct Cycle : CycleControl {
            int lost = 0;
            void lostCamera() override { ++lost; }
        } cycle;
        const int& lostCalls = cycle.lost;
        CycleControl* before = CycleControl::install(&cycle);
        gpWPara->words[160] = word160;
        gpWPara->words[76] = 0;   // output 0 not inverted
        fx->win->cycleStatus().runState = runState;
        auto v = recordingView();
        RecordingCamera* c = rec();
        c->reconnectFailures = failures;
        const int settingsBefore = c->count("setting");

        // Another timer of the program keeps ticking throughout.
        int ticks = 0;
        QTimer other;
        connect(&other, &QTimer::timeout, [&] { ++ticks; });
        other.start(20);

        c->loseDevice();
        QVERIFY(v->isAlive());   // the loss arrives queued
        QTRY_VERIFY(!v->isAlive());
        QVERIFY(v->reconnecting());
        QCOMPARE(c->count("lost"), 1);
        QCOMPARE(v->losses(), 1);
        QCOMPARE(fx->remarks(), QStringList({QStringLiteral("Camera %1 lost for the 1 time!").arg(kCam + 1)}));
        QCOMPARE(lostCalls, 1);

        // While lost the cycle goes on pulling (and getting nothing).
        const int ticksAtLoss = ticks;
        QVERIFY(!v->UpdateImage());
        QTRY_VERIFY_WITH_TIMEOUT(v->isAlive(), 20000);
        QVERIFY(ticks > ticksAtLoss);
        QVERIFY(!v->reconnecting());
        QCOMPARE(c->reconnectAttempts, failures + 1);
        QCOMPARE(c->count("setting"), settingsBefore + 1);
        QCOMPARE(c->count("lost"), 1);
        QCOMPARE(v->losses(), 1);
        QCOMPARE(fx->remarks().size(), 1);
        QCOMPARE(lostCalls, 1);
        QVERIFY(v->UpdateImage());
        CycleControl::install(before);
    }

    void secondLossWhileReconnecting()
    {
        auto v = recordingView();
        RecordingCamera* c = rec();
        c->reconnectFailures = 1;
        c->loseDevice();
        QTRY_VERIFY(!v->isAlive());
        c->loseDevice();
        QTRY_COMPARE(v->losses(), 2);
        QCOMPARE(c->count("lost"), 2);
        QCOMPARE(fx->remarks(), QStringList({QStringLiteral("Camera %1 lost for the 1 time!").arg(kCam + 1),
                                             QStringLiteral("Camera %1 lost for the 2 time!").arg(kCam + 1)}));
        QTRY_VERIFY_WITH_TIMEOUT(v->isAlive(), 20000);
        QCOMPARE(c->reconnectAttempts, 2);   // one timer, not one per loss
    }

    // A camera that accepts the reconnect and then hangs in it, or comes
    // back and then ignores its settings: either holds a worker, not the GUI
    // thread, and the camera shows as back only once its settings are out.
    void reconnectHoldsAWorkerNotTheGuiThread_data()
    {
        QTest::addColumn<bool>("inSettings");
        QTest::newRow("hangs in the reconnect") << false;
        QTest::newRow("ignores its settings") << true;
    }
    void reconnectHoldsAWorkerNotTheGuiThread()
    {
        QFETCH(bool, inSettings);
        QSemaphore entered, release;
        auto v = recordingView();
        RecordingCamera* c = rec();
        struct Letgo {  // a failed check must not leave the worker hanging
            QSemaphore& s;
            ~Letgo() { s.release(); }
        } letgo{release};
        const int settingsBefore = c->count("setting");
        // A hang that ends by itself, so that a hold of the GUI thread fails the checks below, not the run.
        const auto hang = [&] { entered.release(), release.tryAcquire(1, 30000); };
        (inSettings ? c->duringSetting : c->duringReconnect) = hang;
        c->loseDevice();
        QTRY_VERIFY_WITH_TIMEOUT(entered.available() == 1, 20000);
        // A probe on the GUI thread asks every 100 ms; its answers come while the camera hangs.
        int probes = 0, callsWhileHeld = 0;
        QTimer probe;
        connect(&probe, &QTimer::timeout, [&] {
            const int calls = c->calls.size();
            v->UpdateImage();
            v->TimerFPS();
            v->SetSharp();
            callsWhileHeld += c->calls.size() - calls;
            ++probes;
        });
        probe.start(100);
        QTRY_VERIFY_WITH_TIMEOUT(probes >= 3, 20000);
        probe.stop();
        QCOMPARE(entered.available(), 1);   // still held
        QVERIFY(v->cameraBusy() && v->reconnecting() && !v->isAlive());
        QCOMPARE(callsWhileHeld, 0);        // the view makes no call on the camera the worker holds
        release.release();
        QTRY_VERIFY_WITH_TIMEOUT(v->isAlive(), 20000);
        QVERIFY(!v->reconnecting());
        QCOMPARE(c->count("setting"), settingsBefore + 1);
        QVERIFY(c->reconnectThread && c->reconnectThread != QThread::currentThread());
        QVERIFY(c->settingThread && c->settingThread != QThread::currentThread());
        c->duringReconnect = nullptr;
        c->duringSetting = nullptr;
    }

    // The live view beside a camera slower than its pulls: the GUI thread
    // takes what is there, never the camera's wait for a frame; the newest
    // frame is shown, and each frame is taken (and counted for the cycle)
    // once. The cycle's own pull still waits, off the GUI thread.
    void liveViewNeverWaitsForTheCamera()
    {
        auto v = recordingView();
        auto* cam = new SlowCamera;
        CammerWidgetProbe::replaceCamera(*v, cam);
        gSource = 1;
        gpWPara->words[284] = 0;
        const int arriving[] = {1, 0, 0, 3, 0, 1, 0};   // frames before each pull
        quint64 frames = v->frameCount();
        for (int n : arriving) {
            for (int i = 0; i < n; ++i)
                cam->pending = true, ++cam->fill;
            QCOMPARE(v->UpdateImage(), n > 0);
            QCOMPARE(v->frameCount(), frames += n > 0 ? 1 : 0);
            QVERIFY(allBytes(v->shownPicture(), v->frameBytes, cam->fill));
        }
        QVERIFY(cam->waitingPullThreads.isEmpty());

        cam->pending = true;
        QVERIFY(v->CanGrabOffGuiThread());
        std::unique_ptr<QThread> worker(QThread::create([&] { v->GrabFrame(); }));
        worker->start();
        QVERIFY(worker->wait(30000));
        QCOMPARE(cam->waitingPullThreads, QList<QThread*>{worker.get()});
    }

    // A camera in trigger mode gives one frame per trigger, and the machine
    // triggers it as the mould opens, before the pass that starts the step's
    // countdown: the live view's pulls (however many) leave that frame to the
    // cycle's pull, which takes it; running free, the live view takes what
    // is there as before. Per row: word ExternalTrigger, the live view's
    // pulls, whether the live view and then the cycle got the frame.
    void triggeredFrameIsLeftToTheCycle_data()
    {
        QTest::addColumn<int>("trigger");
        QTest::addColumn<int>("livePulls");
        QTest::addColumn<bool>("liveGets");
        QTest::addColumn<bool>("cycleGets");
        QTest::newRow("trigger mode, one live pull") << 1 << 1 << false << true;
        QTest::newRow("trigger mode, three live pulls") << 1 << 3 << false << true;
        QTest::newRow("free running") << 0 << 1 << true << false;
    }
    void triggeredFrameIsLeftToTheCycle()
    {
        QFETCH(int, trigger);
        QFETCH(int, livePulls);
        QFETCH(bool, liveGets);
        QFETCH(bool, cycleGets);
        auto v = recordingView();
        auto* cam = new SlowCamera;
        CammerWidgetProbe::replaceCamera(*v, cam);
        gSource = 1;
        gpWPara->words[284] = trigger;
        const quint64 frames = v->frameCount();
        cam->fill = 0x3c;
        cam->pending = true;   // the trigger's one frame
        int live = 0;
        for (int i = 0; i < livePulls; ++i)
            live += v->UpdateImage() ? 1 : 0;
        QCOMPARE(live, liveGets ? 1 : 0);
        QCOMPARE(cam->pending, !liveGets);
        QCOMPARE(v->PullFrame(), cycleGets);   // the step's own pull
        QCOMPARE(v->frameCount(), frames + 1);
        QVERIFY(allBytes(v->captureFrame, v->frameBytes, 0x3c));
        QVERIFY(!cam->pending);
    }

    // A step is judged on a frame that came after its opening, and a camera
    // that tells when its frames came is believed by that alone: the live
    // view's newest frame, taken after the step's countdown ended (this
    // thread was late) but come before the opening, counts for no opening;
    // the step's own pull takes the frame that came after it, with its time.
    void liveFrameHasNoTimeOfItsOwn()
    {
        auto v = recordingView();
        auto* cam = new TimedCamera;
        CammerWidgetProbe::replaceCamera(*v, cam);
        gSource = 1;
        gpWPara->words[284] = 0;
        QVERIFY(v->framesTimed());
        const qint64 ms = 1000000;
        const qint64 now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
        const qint64 opening = now - 100 * ms;
        cam->cameNs = opening - 100 * ms;
        cam->pending = true;
        QVERIFY(v->UpdateImage());
        QVERIFY(v->frameCameNs() < opening);
        cam->cameNs = opening + 50 * ms;
        cam->fill = 0x5a;
        cam->pending = true;
        QVERIFY(v->GrabFrameSince(opening, 0));
        v->TakeGrabbedFrame();
        QCOMPARE(v->frameCameNs(), opening + 50 * ms);
        QVERIFY(allBytes(v->captureFrame, v->frameBytes, 0x5a));
    }

    void simulatedCameraLossAndReconnect()
    {
        CammerWidget v(fx->win, 0, simulatedCamera(QJsonObject{{"lossAfter", 2}, {"reconnectFails", 1}}));
        QVERIFY(v.isOpen());
        QVERIFY(v.UpdateImage());
        QVERIFY(v.UpdateImage());
        QVERIFY(v.isAlive());
        QTRY_VERIFY(!v.isAlive());
        QVERIFY(!v.UpdateImage());
        QTRY_VERIFY_WITH_TIMEOUT(v.isAlive(), 20000);
        QVERIFY(v.UpdateImage());
        QCOMPARE(v.losses(), 1);
    }
};

QTEST_MAIN(TestCammerWidget)
#include "tst_cammerwidget.moc"
