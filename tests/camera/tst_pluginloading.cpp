// Loading camera plug-ins from Plugins/Cameras: name order, refusal of files
// that are not camera plug-ins, and the start-up sequence over the real
// plug-ins (listing, ordering, creating and opening cameras).
#include "cameramanager.h"
#include "support_camera.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPluginLoader>
#include <QtTest>

#include <memory>

namespace {

QByteArray cameraList(const QStringList& serials, const QString& control)
{
    QJsonArray cams;
    for (const QString& s : serials)
        cams.append(QJsonObject{{"serial", s}, {"width", 64}, {"height", 48}});
    return QJsonDocument(QJsonObject{{"control", control}, {"cameras", cams}}).toJson(QJsonDocument::Compact);
}

}  // namespace

class TestPluginLoading : public QObject {
    Q_OBJECT

    std::unique_ptr<TestWorkDir> wd_;

    QString cameraDir() const { return wd_->file(QStringLiteral("app/Plugins/Cameras")); }

    void install(const QString& from, const QString& as)
    {
        QVERIFY2(QFile::copy(from, cameraDir() + QLatin1Char('/') + as), qPrintable(from));
    }

    // Both our plug-ins, a plug-in of another interface, a broken file and a
    // file that is not a shared object.
    void installAll()
    {
        QVERIFY(QDir().mkpath(cameraDir()));
        install(QStringLiteral(VMM_PLUGIN_DIR "/libcamera_simulated.so"), QStringLiteral("libcamera_simulated.so"));
        install(QStringLiteral(VMM_PLUGIN_DIR "/libcamera_replay.so"), QStringLiteral("libcamera_replay.so"));
        install(QStringLiteral(VMM_TEST_PLUGIN_DIR "/libother_iface_plugin.so"), QStringLiteral("libother.so"));
        QFile broken(cameraDir() + QStringLiteral("/libbroken.so"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("\x7f" "ELF but not really a shared object");
        broken.close();
        QFile notes(cameraDir() + QStringLiteral("/readme.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
    }

    void expectRefusals()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Cameras plugins load fail: libbroken.so")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Cameras plugins libother.so: not a camera plug-in")));
    }

private slots:
    void init()
    {
        wd_ = std::make_unique<TestWorkDir>();
        const QString tag = QString::number(QCoreApplication::applicationPid());
        qputenv("VMM_CAMERA_SIMULATED", cameraList({"SIMU-00001", "SIMU-00002"}, "vmm-test-load-sim-" + tag));
        qputenv("VMM_CAMERA_REPLAY", cameraList({"REPL-00001", "REPL-00002", "REPL-00003"}, "vmm-test-load-rep-" + tag));
    }

    void cleanup()
    {
        wd_.reset();
        qunsetenv("VMM_CAMERA_SIMULATED");
        qunsetenv("VMM_CAMERA_REPLAY");
    }

    void loadsInNameOrderAndRefusesOthers()
    {
        installAll();
        CameraManager m;
        expectRefusals();
        m.loadPlugins(wd_->file(QStringLiteral("app")));
        QCOMPARE(m.loaders.size(), 4);  // every *.so is tried, and its loader kept
        QCOMPARE(m.interfaces.size(), 2);
        QCOMPARE(m.interfaces[0]->name(), QStringLiteral("ReplayCamera"));
        QCOMPARE(m.interfaces[0]->kind(), 1);
        QCOMPARE(m.interfaces[1]->name(), QStringLiteral("SimulatedCamera"));
        QCOMPARE(m.interfaces[1]->kind(), 0);
        QVERIFY(!m.loaders[0]->isLoaded());  // libbroken.so
        QVERIFY(m.loaders[3]->isLoaded());   // libother.so: loaded, but not a camera
    }

    void missingFolders_data()
    {
        QTest::addColumn<QString>("make");
        QTest::newRow("no Plugins") << QString();
        QTest::newRow("no Cameras") << QStringLiteral("app/Plugins");
    }

    void missingFolders()
    {
        QFETCH(QString, make);
        QDir().mkpath(wd_->file(QStringLiteral("app")));
        if (!make.isEmpty())
            QDir().mkpath(wd_->file(make));
        CameraManager m;
        m.loadPlugins(wd_->file(QStringLiteral("app")));
        QVERIFY(m.loaders.isEmpty());
        QVERIFY(m.interfaces.isEmpty());
        m.findCameras();
        QVERIFY(m.cameras.isEmpty());
        QVERIFY(m.simulated);
    }

    void startUpSequence_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<bool>("replayCameras");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("simulated");
        QTest::newRow("replay cameras in stored order")
            << QStringList{"REPL-00003", "REPL-00001"} << true
            << QStringList{"REPL-00003", "REPL-00001", "REPL-00002"} << false;
        QTest::newRow("replay cameras, nothing stored")
            << QStringList{} << true << QStringList{"REPL-00001", "REPL-00002", "REPL-00003"} << false;
        QTest::newRow("no replay camera: simulated ones")
            << QStringList{"SIMU-00002"} << false << QStringList{"SIMU-00002", "SIMU-00001"} << true;
    }

    void startUpSequence()
    {
        QFETCH(QStringList, stored);
        QFETCH(bool, replayCameras);
        QFETCH(QStringList, expected);
        QFETCH(bool, simulated);
        installAll();
        if (!replayCameras)
            qputenv("VMM_CAMERA_REPLAY", "{\"cameras\": []}");
        QList<QPair<QString, QString>> rows;
        for (int i = 0; i < 8; ++i)
            rows.append({QStringLiteral("serialNB%1").arg(i), i < stored.size() ? stored[i] : QStringLiteral("0")});
        QVERIFY(writeSnDb(QStringLiteral("SN.db"), rows));

        CameraManager m;
        expectRefusals();
        m.loadPlugins(wd_->file(QStringLiteral("app")));
        QVERIFY(m.loadCameraSN());
        m.findCameras();
        m.sortCamera();
        QCOMPARE(serialsOf(m.cameras), expected);
        QCOMPARE(m.simulated, simulated);

        // Every listed camera is created by its own plug-in and opens.
        for (const _cameraInfo& info : qAsConst(m.cameras)) {
            std::unique_ptr<PluginCamera> cam(m.createCamera(info));
            QVERIFY(cam);
            QCOMPARE(cam->kind(), simulated ? 0 : 1);
            cam->setColor(false);
            QVERIFY(cam->open());
            cam->start();
            QByteArray frame(64 * 48, '\0');
            QVERIFY(cam->getImage(reinterpret_cast<uchar*>(frame.data())));
            cam->stop();
            cam->close();
        }
    }

    void configurationBesideThePlugin()
    {
        installAll();
        qunsetenv("VMM_CAMERA_REPLAY");
        QFile cfg(cameraDir() + QStringLiteral("/libcamera_replay.json"));
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        cfg.write(cameraList({"FILE-CAM-01"}, QString()));
        cfg.close();
        CameraManager m;
        expectRefusals();
        m.loadPlugins(wd_->file(QStringLiteral("app")));
        m.findCameras();
        QCOMPARE(serialsOf(m.cameras), QStringList{"FILE-CAM-01"});

        // A configuration that does not parse offers no camera at all.
        QVERIFY(cfg.open(QIODevice::WriteOnly | QIODevice::Truncate));
        cfg.write("{ \"cameras\": [ ");
        cfg.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("camera configuration .* refused")));
        m.findCameras();
        QCOMPARE(serialsOf(m.cameras), (QStringList{"SIMU-00001", "SIMU-00002"}));
        QVERIFY(m.simulated);
    }
};

QTEST_MAIN(TestPluginLoading)
#include "tst_pluginloading.moc"
