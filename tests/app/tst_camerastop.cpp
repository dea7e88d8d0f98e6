// The program itself stopped beside a hostile network camera (the SDK's fake
// camera, written without our library), in a network namespace of the
// test's own: the camera behaves until the program is up, then answers its
// pictures late, falls silent or announces 1 MB more than it sends, so that
// the program loses it and keeps reconnecting. A SIGTERM while an attempt
// waits on the camera ends the process cleanly, the outputs and the latch
// left as the stop found them.
#include "cyclerig.h"
#include "inplacerecord.h"
#include "support_netns.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

#include <csignal>

using namespace cyclerig;

class TestCameraStop : public QObject {
    Q_OBJECT
    static constexpr int kWaitMs = 120000;   // a sanitised build under load starts slowly
    std::unique_ptr<QTemporaryDir> work_;
    QProcess camera_;
    QStringList said_;

    // The fake's lines since its last "mode" line that start with `prefix`.
    int saidInMode(const QString& prefix)
    {
        while (camera_.canReadLine())
            said_ << QString::fromUtf8(camera_.readLine()).trimmed();
        int n = 0;
        for (const QString& line : said_)
            n = line.startsWith("mode ") ? 0 : n + line.startsWith(prefix);
        return n;
    }
    QString infoLog() const
    {
        const QString target = QFileInfo(work_->filePath("cnt_net/workspace/log/vmm.INFO")).symLinkTarget();
        QFile f(target);
        return !target.isEmpty() && f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void stopBesideAHostileCamera_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("inFlight");   // the request an attempt waits on
        QTest::addColumn<int>("cameras");        // listed, all at the one fake
        QTest::addColumn<bool>("atStartUp");     // hostile from the start: the stop comes while start-up opens them
        QTest::newRow("pictures late") << "late" << "ok /smon2/camera/getpic" << 1 << false;
        QTest::newRow("silent") << "silent" << "ok /smon2/camera/getparams" << 1 << false;
        QTest::newRow("lying about its length") << "lying" << "ok /smon2/camera/getparams" << 1 << false;
        QTest::newRow("silent while start-up opens four") << "silent" << "ok /smon2/camera/" << 4 << true;
    }
    void stopBesideAHostileCamera()
    {
        NETNS_GUARD();
        QFETCH(QString, mode);
        QFETCH(QString, inFlight);
        QFETCH(int, cameras);
        QFETCH(bool, atStartUp);
        work_.reset(new QTemporaryDir);
        QVERIFY(netns::prepare() && work_->isValid());
        const QString build = QStringLiteral(VMM_BUILD_DIR);
        QVERIFY(QFile::copy(build + "/resources/paraGroup/default/PARAM.db", work_->filePath("PARAM.db")));
        putWideRegions(work_->filePath("PARAM.db"), 1, 20);
        layOutQuietWorkFolder(build, work_->path(), QStringLiteral(VMM_LAYOUT_SCRIPT));
        if (QTest::currentTestFailed())
            return;

        said_.clear();
        camera_.start("python3", {QStringLiteral(FAKECAMERA), "127.0.0.2", "320", "256"});
        const auto endCamera = qScopeGuard([this] {
            camera_.closeWriteChannel();
            if (!camera_.waitForFinished(10000))
                camera_.kill();
        });
        QTRY_VERIFY_WITH_TIMEOUT(saidInMode("ready") == 1, kWaitMs);
        if (atStartUp) {
            camera_.write(mode.toUtf8() + '\n');
            QTRY_VERIFY_WITH_TIMEOUT(saidInMode("ready") == 0, kWaitMs);   // its "mode" line came
        }
        BoardSimulator board;
        QVERIFY(board.open());
        board.setInputs(kDoorClosed);
        board.start();
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VMM_TARGET", "0");
        env.insert("QT_QPA_PLATFORM_PLUGIN_PATH", "/opt/Qt5.15.7/plugins/platforms");   // no target waits
        env.insert("VMM_COM_PORT", board.slaveName());
        env.insert("VMM_CAMERA_REPLAY", R"({"cameras":[]})");
        env.insert("VMM_CAMERA_SIMULATED", R"({"cameras":[]})");
        QStringList listed;
        for (int c = 1; c <= cameras; ++c)
            listed << QStringLiteral(R"({"ip":"127.0.0.2","serial":"NETSTOP-000%1"})").arg(c);
        env.insert("VMM_CAMERA_NETWORK", R"({"discover":false,"cameras":[)" + listed.join(',') + "]}");
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(work_->path());
        program.setStandardOutputFile(work_->filePath("program.log"));
        program.start(work_->filePath("vmm"), QStringList());
        const auto killAtEnd = qScopeGuard([&program] {
            program.kill();
            program.waitForFinished(kWaitMs);
        });

        // Up, with the camera delivering; then hostile, lost and reconnected
        // again and again; the stop comes while an attempt waits on it. Or
        // hostile from the start: the stop comes while start-up waits on the
        // first camera's opening.
        if (!atStartUp) {
            QTRY_VERIFY2_WITH_TIMEOUT(infoLog().contains("start-up 100%") && saidInMode("ok /smon2/camera/getpic") > 10,
                                      qPrintable(infoLog().right(3000)), kWaitMs);
            camera_.write(mode.toUtf8() + '\n');
            // Refused: no answer in time, or pictures too slow to be used.
            QTRY_VERIFY2_WITH_TIMEOUT(infoLog().contains("reconnect failed") || infoLog().contains("slower than"),
                                      qPrintable(infoLog().right(3000)), kWaitMs);
        }
        const int seen = saidInMode(inFlight);
        QTRY_VERIFY_WITH_TIMEOUT(saidInMode(inFlight) > seen, kWaitMs);
        QByteArray latch;
        const auto latchState = InPlaceRecord::read(work_->filePath("nglatch.dat"), &latch);
        const int outputs = board.outputs();
        ::kill(pid_t(program.processId()), SIGTERM);

        // A generous ceiling: a stop that waits on the camera never ends.
        QVERIFY2(program.waitForFinished(60000), qPrintable(infoLog().right(3000)));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const QString all = infoLog();
        // The opening under way is abandoned and no other camera is opened:
        // beside the request it waited on, at most one sent as the stop came.
        if (atStartUp)
            QVERIFY2(saidInMode(inFlight) <= seen + 2, qPrintable(said_.join('\n')));
        const QString stopped = atStartUp ? "SIGTERM received during start-up: clean stop before detection"
                                          : "SIGTERM received: clean stop";
        QVERIFY2(all.contains(stopped) && !all.contains("*** SIG") &&
                     !all.contains("left to their reconnect attempts"),
                 qPrintable(all.right(3000)));
        QCOMPARE(board.outputs(), outputs);
        QByteArray latchAfter;
        QCOMPARE(InPlaceRecord::read(work_->filePath("nglatch.dat"), &latchAfter), latchState);
        QCOMPARE(latchAfter, latch);
    }
};

// In a network namespace of its own (see support_netns.h), with the GUI
// application the region lay-out asks for the screen.
NETNS_TEST_MAIN_APP(TestCameraStop, QApplication)

#include "tst_camerastop.moc"
