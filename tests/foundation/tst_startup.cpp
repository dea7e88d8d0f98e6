// The start-up sequence, traced with a fake sleeper and runner, on the
// development computer and on the target; skin pictures and fonts.
#include "globals.h"
#include "logmanager.h"
#include "platform.h"
#include "skinpictures.h"
#include "startup.h"
#include "testworkdir.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaType>
#include <QTextCodec>
#include <QtTest>

namespace {

QStringList gTrace;

class TraceSleeper : public platform::Sleeper {
public:
    void sleepMs(int ms) override { gTrace << QStringLiteral("sleep %1").arg(ms); }
};

// Answers the development check and blkid, and never starts anything.
class FakeRunner : public platform::CommandRunner {
public:
    bool target = false;
    QByteArray envLine;
    QByteArray blkid;
    platform::CommandResult run(const QString& program, const QStringList& args, int) override
    {
        platform::CommandResult r;
        r.started = true;
        r.exitCode = 0;
        if (program == QLatin1String("bash") && args.value(1).contains(QLatin1String("QT_QPA_PLATFORM_PLUGIN_PATH")))
            r.out = envLine + '\n';
        else if (program == QLatin1String("blkid"))
            r.out = blkid;
        return r;
    }
    bool startDetached(const QString& program, const QStringList& args, bool machineChanging) override
    {
        gTrace << QStringLiteral("start%1 %2 %3")
                      .arg(machineChanging ? QStringLiteral("(changing)") : QString(), program, args.join(' '));
        return true;
    }
    bool isTarget() const override { return target; }
};

StartupHooks tracingHooks()
{
    StartupHooks h;
    h.registerTypes = [] { gTrace << "types"; };
    h.createApplication = [] { gTrace << "application"; };
    h.createSplash = [] { gTrace << "splash"; };
    h.fillTexts = [] { gTrace << "texts"; };
    h.progress = [](int v, QString text) { gTrace << QStringLiteral("%1 %2").arg(v).arg(text); };
    return h;
}

QStringList targetWaits()
{
    QStringList t{"start(changing) python3 ./cnt_net/zelqx71_upnetcard.py"};
    for (int v = 6; v <= 10; ++v)
        t << "sleep 1000" << QStringLiteral("%1 配置网卡中...").arg(v);
    t << "15 等待相机开启...";
    for (int v : {18, 21, 23, 26, 29, 31, 34, 37, 39, 42})
        t << "sleep 1000" << QStringLiteral("%1 等待相机开启...").arg(v);
    return t;
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT
private:
    TraceSleeper sleeper_;
    FakeRunner runner_;

private slots:
    void init()
    {
        gTrace.clear();
        platform::setSleeper(&sleeper_);
        platform::setRunner(&runner_);
        runner_ = FakeRunner();
    }
    void cleanup()
    {
        platform::setSleeper(nullptr);
        platform::setRunner(nullptr);
    }

    void progressTrace_data()
    {
        QTest::addColumn<QByteArray>("envLine");
        QTest::addColumn<bool>("target");
        QTest::addColumn<QStringList>("waits");
        QTest::newRow("development computer") << QByteArray("/opt/Qt5.15.7/plugins/platforms") << false
                                              << QStringList();
        QTest::newRow("target computer") << QByteArray("") << true << targetWaits();
        QTest::newRow("development path with another value") << QByteArray("/usr/lib/qt5/plugins") << false
                                                              << targetWaits();
    }
    void progressTrace()
    {
        QFETCH(QByteArray, envLine);
        QFETCH(bool, target);
        QFETCH(QStringList, waits);
        TestWorkDir wd;
        runner_.envLine = envLine;
        runner_.target = target;
        startupUntilMainWindow(tracingHooks());
        const QStringList expected = QStringList{"types", "application", "splash", "0 启动..."} + waits +
                                     QStringList{"50 相机等待完毕...", "texts", "60 加载应用程序..."};
        QCOMPARE(gTrace, expected);
    }

    // A stop that comes during the target's waits is asked for before every
    // second of them: the waits end at the first ask that finds it, and the
    // rest of the sequence (texts, pictures) still runs.
    void stopCutsTheWaitsShort_data()
    {
        QTest::addColumn<int>("stopAtAsk");   // 0: no stop
        QTest::addColumn<int>("sleeps");
        QTest::addColumn<bool>("camerasAnnounced");
        QTest::newRow("before the first second") << 1 << 0 << false;
        QTest::newRow("during the network's waits") << 3 << 2 << false;
        QTest::newRow("between the two waits") << 6 << 5 << true;
        QTest::newRow("during the cameras' waits") << 9 << 8 << true;
        QTest::newRow("before the last second") << 15 << 14 << true;
        QTest::newRow("no stop") << 0 << 15 << true;
    }
    void stopCutsTheWaitsShort()
    {
        QFETCH(int, stopAtAsk);
        QFETCH(int, sleeps);
        QFETCH(bool, camerasAnnounced);
        TestWorkDir wd;
        runner_.target = true;
        int asks = 0;
        StartupHooks hooks = tracingHooks();
        hooks.stopRequested = [&] {
            ++asks;
            return stopAtAsk > 0 && asks >= stopAtAsk;
        };
        startupUntilMainWindow(hooks);
        QCOMPARE(gTrace.filter("sleep").size(), sleeps);
        // Never a second slept without a question before it.
        QCOMPARE(asks, stopAtAsk > 0 ? stopAtAsk : 15);
        QCOMPARE(gTrace.contains("15 等待相机开启..."), camerasAnnounced);
        QVERIFY(gTrace.endsWith("60 加载应用程序..."));
        QVERIFY(gTrace.contains("texts"));
    }

    void realRunnerOffTargetOnlyRecordsTheScript()
    {
        TestWorkDir wd;
        platform::setRunner(nullptr);
        const QByteArray oldPath = qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
        const QByteArray oldTarget = qgetenv("VMM_TARGET");
        qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
        qputenv("VMM_TARGET", "0");
        platform::runner().clearRecorded();
        startupUntilMainWindow(tracingHooks());
        qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", oldPath);
        if (oldTarget.isNull())
            qunsetenv("VMM_TARGET");
        else
            qputenv("VMM_TARGET", oldTarget);
        QCOMPARE(platform::runner().recorded(), QStringList{"python3 ./cnt_net/zelqx71_upnetcard.py"});
        QCOMPARE(gTrace.filter("sleep").size(), 15);
        QVERIFY(gTrace.contains("42 等待相机开启..."));
    }

    void processStateIsSetUp()
    {
        TestWorkDir wd;
        runner_.envLine = "/opt/Qt5.15.7/plugins/platforms";
        startupUntilMainWindow(StartupHooks());  // no hooks at all is fine
        QVERIFY(pMutexIO && pMutexSaveFail && pMutexIO != pMutexSaveFail);
        QCOMPARE(gAppDirPath, QCoreApplication::applicationDirPath());
        if (!QFile::exists("/dev/led"))
            QCOMPARE(gfLED, -1);
        if (QFile::exists("/proc/version"))
            QVERIFY(linux_kernel_proc_version.startsWith("Linux"));
        QCOMPARE(QTextCodec::codecForLocale()->name(), QByteArray("UTF-8"));
        QVERIFY(QMetaType::type("QPair<QString, QString>") != QMetaType::UnknownType);
        QVERIFY(LogManager::__instance);
    }

    void kernelVersionStopsAtNul()
    {
        TestWorkDir wd;
        QFile f("version");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("Linux version 6.1 (büild)\0trailing", 34));
        f.close();
        readKernelVersion("version");
        QCOMPARE(linux_kernel_proc_version, QString::fromUtf8("Linux version 6.1 (büild)"));
    }

    void afterMainWindow()
    {
        TestWorkDir wd;
        QDir().mkpath("cnt_net");
        runner_.blkid = "/dev/sda1: UUID=\"0a1b2c3d-1111-2222-3333-444455556666\" BLOCK_SIZE=\"4096\" TYPE=\"ext4\"\n";
        gLan = 1;
        gaLanStr[651][1] = "Load other plugins";
        numCamera = 4;
        startupAfterMainWindow(tracingHooks());
        gaLanStr[651][1].clear();
        gLan = 0;
        QCOMPARE(gTrace, QStringList{"90 Load other plugins"});
        QFile cpu("/proc/cpuinfo");
        const bool serial = cpu.open(QIODevice::ReadOnly) && cpu.readAll().contains("Serial");
        if (!serial)
            QCOMPARE(gDeviceID, QString("444455556666"));
        QVERIFY(!gDeviceID.isEmpty() && !gDeviceID.contains(';') && !gDeviceID.contains('-'));
        QFile f("cnt_net/config.json");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
        QCOMPARE(o.value("camcount").toInt(), 4);
        QCOMPARE(o.value("version").toString(), QString("18.0.1.56"));
    }

    void skinPicturesAreDrawnAndLoaded()
    {
#ifndef VMM_SKIN_DIR
        QSKIP("skin pictures are not part of this build");
#else
        const QDir skin(QStringLiteral(VMM_SKIN_DIR));
        QSet<QString> names;
        auto check = [&](const SkinPicture& pic) {
            const QString name = QString::fromLatin1(pic.name);
            QVERIFY2(!names.contains(name), qPrintable(name));
            names.insert(name);
            const QImage img(skin.filePath(name));
            QVERIFY2(!img.isNull(), qPrintable(name));
            QCOMPARE(img.size(), QSize(pic.width, pic.height));
            // Something is drawn: more than one colour.
            const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
            bool varied = false;
            const QRgb first = argb.pixel(0, 0);
            for (int y = 0; y < argb.height() && !varied; ++y)
                for (int x = 0; x < argb.width() && !varied; ++x)
                    varied = argb.pixel(x, y) != first;
            QVERIFY2(varied, qPrintable(name));
        };
        for (const SkinPicture& pic : kSkinPictures)
            check(pic);
        for (const SkinPicture& pic : kWidgetPictures)
            check(pic);
        QCOMPARE(kSkinPictureCount, std::size_t(19));

        TestWorkDir wd;
        for (const QString& name : names)
            QVERIFY(QFile::copy(skin.filePath(name), "images/" + name));
        loadSkinPictures();
        QPixmap* loaded[] = {gpPixmapLogo,      gpPixmapBG,        gpPixmapTitle,   gpPixmapLine,    gpPixmapEdit,
                             gpPixmapSlideru,   gpPixmapSliderd,   gpPixmapSlidert, gpPixmapButton[0],
                             gpPixmapButton[1], gpPixmapOUT[0],    gpPixmapOUT[1],  gpPixmapMove[0], gpPixmapMove[1],
                             gpPixmapMove[2],   gpPixmapMove[3],   gpPixmapMove[4], gpPixmapMove[5], gpPixmapMove[6]};
        for (std::size_t i = 0; i < kSkinPictureCount; ++i) {
            QVERIFY(loaded[i]);
            QCOMPARE(loaded[i]->size(), QSize(kSkinPictures[i].width, kSkinPictures[i].height));
        }
        // The lamps: on (OUT1) is brighter than off (OUT0).
        const QColor on = gpPixmapOUT[0]->toImage().pixelColor(20, 20);
        const QColor off = gpPixmapOUT[1]->toImage().pixelColor(20, 20);
        QVERIFY(on.green() > off.green());
#endif
    }

    void missingPicturesStayEmpty()
    {
        TestWorkDir wd;
        loadSkinPictures();
        QVERIFY(gpPixmapLogo && gpPixmapLogo->isNull());
        QVERIFY(gpPixmapMove[6] && gpPixmapMove[6]->isNull());
    }

    void fontFamiliesAreSubstituted_data()
    {
        QTest::addColumn<QString>("family");
        QTest::newRow("wqy-microhei") << "wqy-microhei";
        QTest::newRow("wenquanyi") << "wenquanyi";
    }
    void fontFamiliesAreSubstituted()
    {
        QFETCH(QString, family);
        if (QFontDatabase().families().filter("WenQuanYi").isEmpty())
            QSKIP("the WenQuanYi fonts are not installed");
        installFontSubstitutions();
        QFont f(family);
        f.setPixelSize(28);
        QVERIFY2(QFontInfo(f).family().startsWith("WenQuanYi"), qPrintable(QFontInfo(f).family()));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
