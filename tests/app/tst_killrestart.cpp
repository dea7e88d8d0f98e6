// The program itself, killed outright with an NG latched: it runs as its own
// process in a working folder laid out as on the machine, on the board
// simulator and a replay camera. It is brought to a latched NG, killed with
// SIGKILL and started again, on a board that kept its outputs or on one that
// dropped them. From the wire, the ejector interlock and the alarm must be
// held in the first output word the new process sends and in every one
// after, and mould openings must not end the hold.
#include "cyclerig.h"

#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace cyclerig;

namespace {
constexpr int kEjectorOut = 1;
constexpr int kAlarmOut = 2;
constexpr int kStartMs = 120000;   // a sanitised build under load starts slowly
constexpr int kStepMs = 30000;

bool held(int word) { return outBit(word, kEjectorOut) && outBit(word, kAlarmOut); }

// The output words the program sent (command 1) from history entry `from` on.
QVector<int> outputWords(const BoardSimulator& sim, size_t from = 0)
{
    QVector<int> out;
    const auto h = sim.history();
    for (size_t i = from; i < h.size(); ++i)
        if (h[i].first == 1)
            out << h[i].second;
    return out;
}

QString words(const QVector<int>& w)
{
    QStringList s;
    for (int v : w)
        s << QString::number(v, 2);
    return s.join(' ');
}
}  // namespace

class TestKillRestart : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> work_;
    QString control_;
    QProcess program_;

    // A working folder laid out by the lay-out script over our parameter
    // file (the lay-out keeps an existing one): one region on the first two
    // steps, the outputs wired straight, so that dropped outputs read as
    // released; no network services, so nothing here listens for the plant.
    void layOut()
    {
        work_.reset(new QTemporaryDir);
        QVERIFY(work_->isValid());
        control_ = work_->filePath("replay-control");
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

    // Starts the laid-out program on the board's pseudo-terminal; in a
    // network namespace of its own when one can be made, so that its
    // listening ports never meet another test's.
    void start(const BoardSimulator& sim, const QString& logName)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VMM_TARGET", "0");
        // The start-up's mark of a development computer: no network-card
        // script and no waits for the target's cameras (Debian's Qt does
        // not look in this folder).
        env.insert("QT_QPA_PLATFORM_PLUGIN_PATH", "/opt/Qt5.15.7/plugins/platforms");
        env.insert("VMM_COM_PORT", sim.slaveName());
        env.insert("VMM_CAMERA_REPLAY",
                   QStringLiteral(R"({"control":"%1","cameras":[{"serial":"KILL-00001","width":320,"height":256,"seed":3}]})")
                       .arg(control_));
        env.insert("VMM_CAMERA_SIMULATED", R"({"cameras":[]})");
        env.insert("VMM_CAMERA_NETWORK", R"({"discover":false,"cameras":[]})");
        env.remove("VMM_USB_DISK");
        program_.setProcessEnvironment(env);
        program_.setWorkingDirectory(work_->path());
        program_.setProcessChannelMode(QProcess::MergedChannels);
        program_.setStandardOutputFile(work_->filePath(logName));
        const QString vmm = work_->filePath("vmm");
        if (!QStandardPaths::findExecutable("unshare").isEmpty() && QProcess::execute("unshare", {"-n", "true"}) == 0)
            program_.start("unshare", {"-n", vmm});
        else
            program_.start(vmm, QStringList());
        QVERIFY2(program_.waitForStarted(kStepMs), qPrintable(program_.errorString()));
    }

    void kill()
    {
        if (program_.state() == QProcess::NotRunning)
            return;
        program_.kill();   // SIGKILL: no handler, no clean-up
        program_.waitForFinished(kStepMs);
    }

    bool cameraCommand(const QString& line)
    {
        QLocalSocket s;
        s.connectToServer(control_);
        if (!s.waitForConnected(5000))
            return false;
        s.write(line.toUtf8() + '\n');
        s.waitForBytesWritten(5000);
        s.waitForReadyRead(5000);
        s.disconnectFromServer();
        return true;
    }

    QString log(const QString& name) const
    {
        QFile f(work_->filePath(name));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll().right(4000)) : QString();
    }

private slots:
    void latchedNgSurvivesSigkill_data()
    {
        QTest::addColumn<bool>("boardKeepsOutputs");
        QTest::newRow("board kept its outputs") << true;
        QTest::newRow("board dropped its outputs") << false;
    }

    void latchedNgSurvivesSigkill()
    {
        QFETCH(bool, boardKeepsOutputs);
        layOut();
        if (QTest::currentTestFailed())
            return;
        auto first = std::make_unique<BoardSimulator>();
        QVERIFY(first->open());
        first->setInputs(kDoorClosed);
        first->start();
        start(*first, "first.log");
        if (QTest::currentTestFailed())
            return;
        const auto killAtEnd = qScopeGuard([this] { kill(); });

        // Up: the board thread polls, and the camera takes commands.
        QTRY_VERIFY2_WITH_TIMEOUT(first->framesOf(2) > 20, qPrintable(log("first.log")), kStartMs);
        QTRY_VERIFY_WITH_TIMEOUT(cameraCommand("* defect none"), kStepMs);

        // A new mould: the first opening captures the templates; the outputs
        // are released.
        const QString cam = work_->filePath("cammer1%1/template0.bmp");
        QTRY_VERIFY2_WITH_TIMEOUT(
            [&] {
                if (QFile::exists(cam.arg(1)) && QFile::exists(cam.arg(2)))
                    return true;
                pulseMouldOpen(*first);
                QTest::qWait(1000);
                return false;
            }(),
            qPrintable(log("first.log")), kStartMs);
        QTRY_VERIFY_WITH_TIMEOUT(!outBit(first->outputs(), kEjectorOut) && !outBit(first->outputs(), kAlarmOut),
                                 kStepMs);

        // A short shot: the product step fails, the NG is latched on disk and
        // held on the wire.
        QVERIFY(cameraCommand("* defect shortshot"));
        const QString latch = work_->filePath("nglatch.ini");
        QTRY_VERIFY2_WITH_TIMEOUT(
            [&] {
                if (held(first->outputs()) && QFile::exists(latch))
                    return true;
                pulseMouldOpen(*first);
                QTest::qWait(1000);
                return false;
            }(),
            qPrintable(log("first.log")), kStartMs);

        // Killed outright.
        kill();
        QCOMPARE(program_.exitStatus(), QProcess::CrashExit);
        QVERIFY(QFile::exists(latch));

        // The same board, still holding, or a new one with every output
        // released on the wire.
        if (!boardKeepsOutputs) {
            first.reset(new BoardSimulator);
            QVERIFY(first->open());
            first->setInputs(kDoorClosed);
            first->start();
            QVERIFY(!outBit(first->outputs(), kEjectorOut) && !outBit(first->outputs(), kAlarmOut));
        }
        BoardSimulator& board = *first;
        const size_t before = board.history().size();
        const int polledBefore = board.framesOf(2);
        start(board, "second.log");
        if (QTest::currentTestFailed())
            return;

        // The first output word of the new process holds, and so does every
        // one after (a board that kept holding needs none).
        QTRY_VERIFY2_WITH_TIMEOUT(board.framesOf(2) > polledBefore + 20 && held(board.outputs()),
                                  qPrintable(log("second.log")), kStartMs);
        QVERIFY(boardKeepsOutputs || !outputWords(board, before).isEmpty());
        if (!outputWords(board, before).isEmpty())
            QVERIFY2(held(outputWords(board, before).first()), qPrintable(words(outputWords(board, before))));

        // Still latched: mould openings start nothing, the hold stays.
        for (int i = 0; i < 3; ++i) {
            pulseMouldOpen(board);
            const int polls = board.framesOf(2);
            QTRY_VERIFY_WITH_TIMEOUT(board.framesOf(2) > polls + 20, kStepMs);
        }
        QCOMPARE(program_.state(), QProcess::Running);
        QVERIFY(held(board.outputs()));
        for (int w : outputWords(board, before))
            QVERIFY2(held(w), qPrintable(words(outputWords(board, before))));
        QVERIFY(QFile::exists(latch));
    }
};

QTEST_MAIN(TestKillRestart)
#include "tst_killrestart.moc"
