// The program itself stopped beside a hostile network camera: it runs as its
// own process in a working folder laid out as on the machine, on the board
// simulator, with one network camera (a fake written without our library)
// that is well behaved until the program is up, then answers its pictures
// late, stays silent or announces 1 MB more than it sends, so that the
// program loses it and keeps trying to reconnect. A SIGTERM while such an
// attempt is under way ends the process cleanly, and leaves the outputs and
// the latch as they were.
#include "cyclerig.h"
#include "inplacerecord.h"
#include "support_netns.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

#include <csignal>

using namespace cyclerig;

namespace {
constexpr int kStartMs = 120000;   // a sanitised build under load starts slowly
constexpr int kStepMs = 60000;
// What the stop may take at most here; a stop that waits on the camera
// would take for ever.
constexpr int kStopCeilingMs = 60000;
const QString kCameraIp = QStringLiteral("127.0.0.2");
}  // namespace

class TestCameraStop : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> work_;
    QProcess program_;
    QProcess camera_;
    QStringList cameraLines_;

    void layOut()
    {
        work_.reset(new QTemporaryDir);
        QVERIFY(work_->isValid());
        const QString build = QStringLiteral(VMM_BUILD_DIR);
        const QString param = work_->filePath("PARAM.db");
        QVERIFY(QFile::copy(build + "/resources/paraGroup/default/PARAM.db", param));
        putWideRegions(param, 1, 20);
        editWords(param, [](int* w) {
            for (int out = 0; out <= 8; ++out)
                w[76 + out] = 0;
        });
        QVERIFY(QDir(work_->path()).mkpath("cnt_net"));
        QFile cfg(work_->filePath("cnt_net/config.json"));
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        cfg.write(R"({"device_workapifunc": false, "device_worknetfunc": false, "device_workvideo": false})");
        cfg.close();
        QCOMPARE(QProcess::execute(QStringLiteral(VMM_LAYOUT_SCRIPT), {build, work_->path()}), 0);
        QVERIFY(QFile::exists(work_->filePath("vmm")));
    }

    void startCamera()
    {
        cameraLines_.clear();
        camera_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        camera_.start("python3", {QStringLiteral(VMM_HOSTILECAMERA), kCameraIp, "320", "256"});
        QVERIFY(camera_.waitForStarted(kStepMs));
        QTRY_VERIFY_WITH_TIMEOUT(cameraSaid("ready") > 0, kStepMs);
    }

    int cameraSaid(const QString& prefix)
    {
        while (camera_.canReadLine())
            cameraLines_ << QString::fromUtf8(camera_.readLine()).trimmed();
        return cameraLines_.filter(QRegularExpression("^" + QRegularExpression::escape(prefix))).size();
    }

    void startProgram(const BoardSimulator& sim)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VMM_TARGET", "0");
        // The start-up's mark of a development computer: no waits for the
        // target's network and cameras.
        env.insert("QT_QPA_PLATFORM_PLUGIN_PATH", "/opt/Qt5.15.7/plugins/platforms");
        env.insert("VMM_COM_PORT", sim.slaveName());
        env.insert("VMM_CAMERA_REPLAY", R"({"cameras":[]})");
        env.insert("VMM_CAMERA_SIMULATED", R"({"cameras":[]})");
        env.insert("VMM_CAMERA_NETWORK",
                   QStringLiteral(R"({"discover":false,"cameras":[{"ip":"%1","serial":"NETSTOP-0001"}]})").arg(kCameraIp));
        env.remove("VMM_USB_DISK");
        program_.setProcessEnvironment(env);
        program_.setWorkingDirectory(work_->path());
        program_.setProcessChannelMode(QProcess::MergedChannels);
        program_.setStandardOutputFile(work_->filePath("program.log"));
        program_.start(work_->filePath("vmm"), QStringList());
        QVERIFY2(program_.waitForStarted(kStepMs), qPrintable(program_.errorString()));
    }

    QString infoLog() const
    {
        const QString target = QFileInfo(work_->filePath("cnt_net/workspace/log/vmm.INFO")).symLinkTarget();
        QFile info(target);
        return !target.isEmpty() && info.open(QIODevice::ReadOnly) ? QString::fromUtf8(info.readAll()) : QString();
    }

    QString tail() const { return infoLog().right(4000); }

private slots:
    void stopBesideAHostileCamera_data()
    {
        QTest::addColumn<QString>("mode");
        // The request whose wait is under way when the stop comes.
        QTest::addColumn<QString>("inFlight");
        QTest::newRow("pictures late") << "late" << "/smon2/camera/getpic";
        QTest::newRow("silent") << "silent" << "/smon2/camera/getparams";
        QTest::newRow("lying about its length") << "lying" << "/smon2/camera/getparams";
    }
    void stopBesideAHostileCamera()
    {
        NETNS_GUARD();
        QFETCH(QString, mode);
        QFETCH(QString, inFlight);
        QVERIFY(netns::prepare());
        layOut();
        if (QTest::currentTestFailed())
            return;
        startCamera();
        if (QTest::currentTestFailed())
            return;
        const auto endCamera = qScopeGuard([this] {
            camera_.closeWriteChannel();
            if (!camera_.waitForFinished(10000))
                camera_.kill();
            camera_.waitForFinished(10000);
        });
        BoardSimulator board;
        QVERIFY(board.open());
        board.setInputs(kDoorClosed);
        board.start();
        startProgram(board);
        if (QTest::currentTestFailed())
            return;
        const auto killAtEnd = qScopeGuard([this] {
            if (program_.state() != QProcess::NotRunning) {
                program_.kill();
                program_.waitForFinished(kStepMs);
            }
        });

        // Up, with the camera open and delivering.
        QTRY_VERIFY2_WITH_TIMEOUT(infoLog().contains("start-up 100%"), qPrintable(tail()), kStartMs);
        QTRY_VERIFY2_WITH_TIMEOUT(cameraSaid("req good /smon2/camera/getpic") > 10, qPrintable(tail()), kStepMs);

        // The camera turns hostile: the program loses it and tries again and
        // again; the stop comes while an attempt waits on the camera.
        camera_.write(mode.toUtf8() + '\n');
        QTRY_VERIFY2_WITH_TIMEOUT(infoLog().contains("reconnect failed"), qPrintable(tail()), kStepMs);
        const QString attempt = "req " + mode + " " + inFlight;
        const int before = cameraSaid(attempt);
        QTRY_VERIFY2_WITH_TIMEOUT(cameraSaid(attempt) > before, qPrintable(tail()), kStepMs);
        QByteArray latchBefore;
        const auto latchStateBefore = InPlaceRecord::read(work_->filePath("nglatch.dat"), &latchBefore);
        const int outputsBefore = board.outputs();
        ::kill(pid_t(program_.processId()), SIGTERM);

        QVERIFY2(program_.waitForFinished(kStopCeilingMs), qPrintable(tail()));
        QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_.exitCode(), 0);
        const QString all = infoLog();
        QVERIFY2(all.contains("SIGTERM received: clean stop"), qPrintable(all.right(3000)));
        QVERIFY2(!all.contains("*** SIG"), qPrintable(all.right(3000)));   // no crash report
        QVERIFY2(!all.contains("left to their reconnect attempts"), qPrintable(all.right(3000)));
        // The outputs and the latch as the stop found them.
        QCOMPARE(board.outputs(), outputsBefore);
        QByteArray latchAfter;
        QCOMPARE(InPlaceRecord::read(work_->filePath("nglatch.dat"), &latchAfter), latchStateBefore);
        QCOMPARE(latchAfter, latchBefore);
    }
};

// In a network namespace of its own (see support_netns.h), with the GUI
// application the region lay-out asks for the screen.
int main(int argc, char** argv)
{
    const int parentRc = netns::reexecIsolated(argc, argv);
    if (parentRc >= 0)
        return parentRc;
    QApplication app(argc, argv);
    TestCameraStop tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_camerastop.moc"
