// The program itself, killed outright with an NG latched: it runs as its own
// process in a working folder laid out as on the machine, on the board
// simulator and a replay camera. It is brought to a latched NG, killed with
// SIGKILL and started again, on a board that kept its outputs or on one that
// dropped them. From the wire, the ejector interlock and the alarm must be
// held in the first output word the new process sends and in every one
// after, and mould openings must not end the hold. Also killed right after
// the NG reached the disk and before any output announced it, and with the
// working folder's disk and the USB disk full (small disks in a mount
// namespace of the test's own): the NG, its pictures and the pictures that
// wait for the USB disk survive. And killed inside a countdown, nothing
// decided yet: the new process holds what the opening held until it has
// judged it. Killed a few milliseconds after an opening's edge, with only
// the I/O thread's mark of it on disk and the mould closed meanwhile: held
// from the first word until judged. Semi-automatic, and multiple detection
// in sequence, killed between the steps with step 2's trigger passing while
// nothing ran: never held in silence.
#include "cyclerig.h"
#include "inplacerecord.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <csignal>

#include <unistd.h>

using namespace cyclerig;

namespace {
constexpr int kClampOut = 0;
constexpr int kEjectorOut = 1;
constexpr int kAlarmOut = 2;
constexpr int kMouldOpen = 0x001;       // input 0
constexpr int kCavityTrigger = 0x004;   // input 2: step 2's own trigger (semi-automatic, mode 3 slot 1)
constexpr int kStartMs = 120000;   // a sanitised build under load starts slowly
constexpr int kStepMs = 30000;

bool held(int word) { return outBit(word, kEjectorOut) && outBit(word, kAlarmOut); }

// Whether every word of `sent` has each output of `on` set and each of `off` clear.
bool everyWord(const QVector<int>& sent, std::initializer_list<int> on, std::initializer_list<int> off = {})
{
    for (int w : sent) {
        for (int out : on)
            if (!outBit(w, out))
                return false;
        for (int out : off)
            if (outBit(w, out))
                return false;
    }
    return true;
}

// `input` on for a moment between two moments of the door alone.
void pulseInput(BoardSimulator& sim, int input)
{
    sim.setInputs(kDoorClosed);
    QTest::qWait(150);
    sim.setInputs(kDoorClosed | input);
    QTest::qWait(150);
    sim.setInputs(kDoorClosed);
}

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

// Fills the disk of `dir` with a file of no concern to the program.
bool fillDisk(const QString& dir)
{
    QFile f(dir + "/foreign.bin");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(64 * 1024, 'f');
    while (f.write(block) == block.size()) {
    }
    for (const QByteArray small(512, 'f'); f.write(small) == small.size();) {
    }
    return true;
}

// The copier's journal: day, local path and name on the disk of each waiting picture.
QList<QStringList> journal(const QString& path)
{
    QList<QStringList> out;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.isEmpty())
                out << QString::fromUtf8(line).split('\t');
    return out;
}
}  // namespace

class TestKillRestart : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> work_;
    QString control_;
    QProcess program_;
    BoardSimulator* board_ = nullptr;   // the board the program runs on
    QElapsedTimer wireClock_;

    // Where a failed row leaves what it saw: its working folder (the
    // program's logs, its latch file) is kept, with the wire log in it.
    QString where() const
    {
        return work_ ? QStringLiteral("\n[kept on failure: %1, every output word in %2]")
                           .arg(work_->path(), work_->filePath("wire.log"))
                     : QString();
    }

    QString words(const QVector<int>& w) const
    {
        QStringList s;
        for (int v : w)
            s << QString::number(v, 2);
        return s.join(' ') + where();
    }

    // The board, its wire logged: every output word the program sends and
    // every change of the inputs the board reports, in milliseconds since
    // the row began, into wire.log of the working folder (all boards of
    // the row, one after the other). Then started.
    void startBoard(BoardSimulator& sim, int inputs = kDoorClosed)
    {
        QVERIFY(sim.open());
        sim.setInputs(inputs);
        auto file = std::make_shared<QFile>(work_->filePath("wire.log"));
        QVERIFY(file->open(QIODevice::Append));
        file->write(QStringLiteral("%1 board %2\n").arg(wireClock_.elapsed()).arg(sim.slaveName()).toUtf8());
        file->flush();
        auto lastIn = std::make_shared<int>(-1);
        const QElapsedTimer clock = wireClock_;
        sim.setTap([file, lastIn, clock](bool toBoard, int command, int value) {
            QByteArray line;
            if (toBoard && command == 1)
                line = QByteArray::number(clock.elapsed()) + " out " + QByteArray::number(value, 2) + '\n';
            else if (!toBoard && command == 2 && value != *lastIn)
                line = QByteArray::number(clock.elapsed()) + " in " + QByteArray::number(value, 2) + '\n';
            if (!toBoard && command == 2)
                *lastIn = value;
            if (!line.isEmpty()) {
                file->write(line);
                file->flush();
            }
        });
        sim.start();
    }

    // The new process started on the short shot still in the mould: the
    // step is judged again on a picture it took, an NG latched with the
    // alarm, and clamp and ejector held in every word from its first.
    void restartJudgesTheShortShot(BoardSimulator& board)
    {
        const size_t before = board.history().size();
        start(board, "second.log", {shortShotReplay()});
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(outBit(board.outputs(), kAlarmOut), qPrintable(log("second.log") + latchRecord()),
                                  kStartMs);
        QVERIFY2(latchRecord().startsWith("step=0\nfailed=1\nlost=0\n"), latchRecord().constData());
        const QVector<int> sent = outputWords(board, before);
        QVERIFY(!sent.isEmpty());
        QVERIFY2(everyWord(sent, {kEjectorOut, kClampOut}), qPrintable(words(sent)));
        QCOMPARE(program_.state(), QProcess::Running);
    }

    // A working folder laid out by the lay-out script over our parameter
    // file (the lay-out keeps an existing one): one region on the first two
    // steps, the outputs wired straight, so that dropped outputs read as
    // released; no network services, so nothing here listens for the plant.
    void layOut(const std::function<void(int*)>& moreWords = nullptr)
    {
        work_.reset(new QTemporaryDir);
        QVERIFY(work_->isValid());
        wireClock_.start();
        control_ = work_->filePath("replay-control");
        const QString build = QStringLiteral(VMM_BUILD_DIR);
        const QString param = work_->filePath("PARAM.db");
        QVERIFY(QFile::copy(build + "/resources/paraGroup/default/PARAM.db", param));
        putWideRegions(param, 1, 20);
        editWords(param, [&](int* w) {
            for (int out = 0; out <= 8; ++out)
                w[76 + out] = 0;
            if (moreWords)
                moreWords(w);
        });
        layOutQuietWorkFolder(build, work_->path(), QStringLiteral(VMM_LAYOUT_SCRIPT));
        if (QTest::currentTestFailed())
            return;
        QVERIFY(QFile::exists(work_->filePath("vmm")));
    }

    // Starts the laid-out program on the board's pseudo-terminal; in a
    // network namespace of its own when one can be made, so that its
    // listening ports never meet another test's.
    void start(BoardSimulator& sim, const QString& logName, const QStringList& extraEnv = {})
    {
        board_ = &sim;
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
        for (const QString& e : extraEnv)
            env.insert(e.section('=', 0, 0), e.section('=', 1));
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
        QVERIFY2(program_.waitForFinished(kStepMs), qPrintable("the killed program did not end" + where()));
        // Its port closes with it: a request of its last moment is never
        // answered into the next run's port (the board's answer would carry
        // the inputs of after the kill, as if that run had asked).
        if (board_)
            board_->portClosed();
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

    // What makes one cycle on the board: by default a mould opening.
    using Cycle = std::function<void(BoardSimulator&)>;

    // The board up with the door closed, the program started on it
    // ("first.log") and its templates trained by `cycle`.
    void startTrained(BoardSimulator& board, const QStringList& env = {}, const Cycle& cycle = pulseMouldOpen)
    {
        startBoard(board);
        if (QTest::currentTestFailed())
            return;
        start(board, "first.log", env);
        if (QTest::currentTestFailed())
            return;
        upAndTrained(board, cycle);
    }

    // The first run is up (the board thread polls, the camera takes
    // commands) and has captured both steps' templates, `cycle` after
    // `cycle` until it has.
    void upAndTrained(BoardSimulator& board, const Cycle& cycle = pulseMouldOpen)
    {
        QTRY_VERIFY2_WITH_TIMEOUT(board.framesOf(2) > 20, qPrintable(log("first.log")), kStartMs);
        QTRY_VERIFY_WITH_TIMEOUT(cameraCommand("* defect none"), kStepMs);
        const QString cam = work_->filePath("cammer1%1/template0.bmp");
        cycleUntil(board, [&] { return QFile::exists(cam.arg(1)) && QFile::exists(cam.arg(2)); }, cycle);
    }

    // `cycle` on `board` once a second until `done` (the first run's log
    // shown if it never is).
    void cycleUntil(BoardSimulator& board, const std::function<bool()>& done, const Cycle& cycle = pulseMouldOpen)
    {
        QTRY_VERIFY2_WITH_TIMEOUT(
            [&] {
                if (done())
                    return true;
                cycle(board);
                QTest::qWait(1000);
                return false;
            }(),
            qPrintable(log("first.log")), kStartMs);
    }

    // The NG latch file as the next start reads it.
    InPlaceRecord::State readLatch(QByteArray* record) const
    {
        return InPlaceRecord::read(work_->filePath("nglatch.dat"), record);
    }

    // The NG latch's record: its text when valid, empty when the file holds
    // none, "?" when it is missing or damaged.
    QByteArray latchRecord() const
    {
        QByteArray r;
        const InPlaceRecord::State state = readLatch(&r);
        return state == InPlaceRecord::State::Valid   ? r
               : state == InPlaceRecord::State::Empty ? QByteArray()
                                                      : QByteArray("?");
    }

    // The camera's replay for a second run: a short shot in every picture.
    QString shortShotReplay() const
    {
        return QStringLiteral(R"(VMM_CAMERA_REPLAY={"control":"%1","cameras":[{"serial":"KILL-00001","width":320,)"
                              R"("height":256,"seed":3,"defects":["shortshot"]}]})")
            .arg(control_);
    }

    // The program's own log (what it logs at info level and above).
    QString infoLog() const
    {
        QFile f(QFileInfo(work_->filePath("cnt_net/workspace/log/vmm.INFO")).symLinkTarget());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QString log(const QString& name) const
    {
        QFile f(work_->filePath(name));
        return (f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll().right(4000)) : QString()) + where();
    }

    // Runs `slot` of this test again in a mount namespace of its own, where
    // it may mount small disks.
    void runInOwnMountNamespace(const char* slot)
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VMM_IN_OWN_MOUNT_NS", "1");
        env.insert("QTEST_FUNCTION_TIMEOUT", "1800000");   // two start-ups, many cycles, a loaded machine
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("unshare", {geteuid() == 0 ? "-m" : "-rm", "--propagation", "private",
                                QCoreApplication::applicationFilePath(), slot});
        if (!child.waitForStarted())
            QSKIP("unshare is not available");
        child.waitForFinished(-1);
        const QByteArray out = child.readAll();
        if (out.contains("SKIP   : TestKillRestart::"))
            QSKIP("no tmpfs can be mounted in a mount namespace here");
        if (child.exitCode() != 0 && out.contains("unshare:"))
            QSKIP("mount namespaces are not permitted here");
        QVERIFY2(child.exitCode() == 0, out.right(20000).constData());
    }

    bool mountTmpfs(const QString& at, qint64 bytes)
    {
        return QProcess::execute("mount", {"-t", "tmpfs", "-o", QStringLiteral("size=%1").arg(bytes), "vmmtest", at}) == 0;
    }

private slots:
    void cleanup()
    {
        kill();
        board_ = nullptr;
        if (work_ && QTest::currentTestFailed()) {
            work_->setAutoRemove(false);
            qWarning("%s", qPrintable(where().trimmed()));
        }
    }

    // Both disks full: the USB disk while pictures are saved, then the
    // working folder's (by a foreign file), with NG and OK pictures there.
    // The NG that follows is latched and its picture saved, every earlier NG
    // picture stays; killed outright. The next start, on the still full
    // working disk, holds the NG, and once the USB disk has room every
    // picture that waited reaches it, in the one folder of this monitor.
    void fullDisksKeepTheEvidence()
    {
        if (!qEnvironmentVariableIsSet("VMM_IN_OWN_MOUNT_NS")) {
            runInOwnMountNamespace("fullDisksKeepTheEvidence");
            return;
        }
        layOut([](int* w) {
            w[215] = 1;   // pictures to the USB disk
            w[213] = 31;
        });
        if (QTest::currentTestFailed())
            return;
        // The working folder moves onto a disk with little room to spare.
        QTemporaryDir aside;
        QCOMPARE(QProcess::execute("cp", {"-a", work_->path() + "/.", aside.path()}), 0);
        QProcess du;
        du.start("du", {"-sb", work_->path()});
        QVERIFY(du.waitForFinished());
        const qint64 used = du.readAll().split('\t').first().toLongLong();
        QVERIFY(used > 0);
        if (!mountTmpfs(work_->path(), used + 8 * 1024 * 1024))
            QSKIP("tmpfs cannot be mounted");
        QCOMPARE(QProcess::execute("cp", {"-a", aside.path() + "/.", work_->path()}), 0);
        QTemporaryDir stickDir;
        const QString stick = stickDir.path();
        QVERIFY(mountTmpfs(stick, 1024 * 1024));

        BoardSimulator board;
        const auto killAtEnd = qScopeGuard([this] { kill(); });
        startTrained(board, {"VMM_USB_DISK=" + stick});
        if (QTest::currentTestFailed())
            return;

        // Good parts: their pictures reach the USB disk ...
        auto onStick = [&] {
            int n = 0;
            for (QDirIterator it(stick, {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next())
                ++n;
            return n;
        };
        cycleUntil(board, [&] { return onStick() >= 6; });
        if (QTest::currentTestFailed())
            return;
        // ... until it is full: then they wait for it.
        QVERIFY(fillDisk(stick));
        const QString queueFile = work_->filePath("usbcopy.queue");
        cycleUntil(board, [&] { return journal(queueFile).size() >= 3; });
        if (QTest::currentTestFailed())
            return;

        // NG pictures of earlier faults are there beside the OK pictures;
        // then the working folder's disk fills too, and a short shot comes.
        const QDir ngDir(work_->filePath("alarmimage/camera1/detect1/NG"));
        const QDir okDir(work_->filePath("alarmimage/camera1/detect1/OK"));
        QVERIFY(QDir().mkpath(ngDir.path()));
        QStringList earlierNg;
        QVERIFY(!okDir.entryList({"*.jpg"}, QDir::Files).isEmpty());
        for (int i = 0; i < 3; ++i) {
            const QString name = QDateTime::currentDateTime().addSecs(-60 * (i + 1)).toString("yyyyMMdd_hhmmss_zzz") + "_1.jpg";
            QVERIFY(QFile::copy(okDir.filePath(okDir.entryList({"*.jpg"}, QDir::Files).first()), ngDir.filePath(name)));
            earlierNg << name;
        }
        const int okBefore = okDir.entryList({"*.jpg"}, QDir::Files).size();
        QVERIFY(fillDisk(work_->path()));
        QVERIFY(cameraCommand("* defect shortshot"));
        cycleUntil(board, [&] {
            return held(board.outputs()) && ngDir.entryList({"*.jpg"}, QDir::Files).size() > earlierNg.size();
        });
        if (QTest::currentTestFailed())
            return;
        kill();
        // The NG is on the full disk, and so is its picture, beside every
        // earlier one: OK pictures made the room.
        QByteArray record;
        QCOMPARE(readLatch(&record), InPlaceRecord::State::Valid);
        QVERIFY2(record.startsWith("step=0\n"), record.constData());
        for (const QString& n : qAsConst(earlierNg))
            QVERIFY2(ngDir.exists(n), qPrintable(n));
        QVERIFY(okDir.entryList({"*.jpg"}, QDir::Files).size() < okBefore);
        const QList<QStringList> waiting = journal(queueFile);
        QVERIFY(waiting.size() >= 3);
        for (const QStringList& w : waiting)   // the copied ones went first
            QVERIFY2(w.size() == 3 && QFile::exists(w[1]), qPrintable(w.join(' ')));

        // Room on the USB disk again; the working folder's disk stays full.
        QVERIFY(QFile::remove(stick + "/foreign.bin"));
        const size_t before = board.history().size();
        const int polledBefore = board.framesOf(2);
        start(board, "second.log", {"VMM_USB_DISK=" + stick});
        if (QTest::currentTestFailed())
            return;
        // The board kept holding; whatever the new process sends holds too.
        QTRY_VERIFY2_WITH_TIMEOUT(board.framesOf(2) > polledBefore + 20 && held(board.outputs()),
                                  qPrintable(log("second.log")), kStartMs);
        QVERIFY2(everyWord(outputWords(board, before), {kEjectorOut, kAlarmOut}),
                 qPrintable(words(outputWords(board, before))));
        // Every waiting picture reaches the disk, in one monitor's folder.
        auto copied = [&] {
            const QStringList monitors = QDir(stick).entryList({"monitor_*"}, QDir::Dirs);
            if (monitors.size() != 1)
                return false;
            for (const QStringList& w : waiting)
                if (w.size() != 3 || !QFile::exists(QStringLiteral("%1/%2/%3/%4").arg(stick, monitors[0], w[0], w[2])))
                    return false;
            return true;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(copied(), qPrintable(log("second.log")), kStartMs);
        QCOMPARE(program_.state(), QProcess::Running);
        QVERIFY(held(board.outputs()));
    }

    // A service stop at several moments of start-up, and one after it: the
    // process ends cleanly, at the latest where start-up ends, and says when
    // the stop came and where it took effect; before detection it never
    // starts (the board is never polled), and the outputs are left released
    // as by a stop in the running program.
    void sigtermDuringStartUpIsACleanStop_data()
    {
        QTest::addColumn<int>("step");   // the splash screen's progress value; -1: after start-up
        QTest::addColumn<QString>("where");
        QTest::newRow("before the logging exists") << 0 << "before the main window";
        QTest::newRow("loading texts and pictures") << 60 << "before the main window";
        QTest::newRow("cameras opened") << 80 << "before detection";
        QTest::newRow("last step") << 100 << "at the end of start-up";
        QTest::newRow("after start-up") << -1 << QString();
    }
    void sigtermDuringStartUpIsACleanStop()
    {
        QFETCH(int, step);
        QFETCH(QString, where);
        layOut();
        if (QTest::currentTestFailed())
            return;
        BoardSimulator board;
        startBoard(board);
        start(board, "term.log", step >= 0 ? QStringList{QStringLiteral("VMM_TERM_AT_STEP=%1").arg(step)} : QStringList{});
        if (QTest::currentTestFailed())
            return;
        const auto killAtEnd = qScopeGuard([this] { kill(); });
        if (step < 0) {
            // Start-up has logged its last step, and the board thread has
            // polled a thousand times since: the event loop runs.
            QTRY_VERIFY2_WITH_TIMEOUT(infoLog().contains("start-up 100%"), qPrintable(log("term.log")), kStartMs);
            const int polls = board.framesOf(2);
            QTRY_VERIFY_WITH_TIMEOUT(board.framesOf(2) > polls + 1000, kStartMs);
            ::kill(pid_t(program_.processId()), SIGTERM);
        }
        QVERIFY2(program_.waitForFinished(kStartMs), qPrintable(log("term.log")));
        QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program_.exitCode(), 0);

        const QString all = infoLog();
        const QString noticed = "SIGTERM received during start-up: stopping once start-up ends";
        if (step >= 0) {
            QCOMPARE(all.count(noticed), 1);
            QVERIFY2(all.contains("SIGTERM received during start-up: clean stop " + where), qPrintable(all.right(3000)));
            QVERIFY(all.indexOf(noticed) < all.indexOf("clean stop " + where));
            QVERIFY(!all.contains("SIGTERM received: clean stop"));
        } else {
            QVERIFY(!all.contains(noticed));
            QVERIFY2(all.contains("SIGTERM received: clean stop"), qPrintable(all.right(3000)));
        }
        QVERIFY2(!all.contains("*** SIG"), qPrintable(all.right(3000)));   // no crash report
        if (where == "before the main window" || where == "before detection")
            QCOMPARE(board.framesOf(2), 0);
        QVERIFY(!outBit(board.outputs(), kEjectorOut) && !outBit(board.outputs(), kAlarmOut));
        // No NG is kept for the next start (the latch file, made at start-up,
        // holds none).
        QByteArray latched;
        const auto latch = readLatch(&latched);
        QVERIFY(latch == InPlaceRecord::State::Missing || latch == InPlaceRecord::State::Empty
                || (latch == InPlaceRecord::State::Valid && latched.isEmpty()));
    }

    // A short shot, killed while its opening counts down (nothing decided,
    // clamp and ejector held): the new process holds both from its first
    // output word, judges the step again on the pictures it takes, and
    // frees nothing before that judgement (the NG).
    void openingInACountdownSurvivesSigkill()
    {
        layOut([](int* w) {
            w[40] = w[41] = 50;   // five seconds: the kill lands well inside
        });
        if (QTest::currentTestFailed())
            return;
        BoardSimulator board;
        const auto killAtEnd = qScopeGuard([this] { kill(); });
        startTrained(board);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(!outBit(board.outputs(), kClampOut) && !outBit(board.outputs(), kEjectorOut)
                                     && !outBit(board.outputs(), kAlarmOut),
                                 kStartMs);

        QVERIFY(cameraCommand("* defect shortshot"));
        const size_t shotFrom = board.history().size();
        pulseMouldOpen(board);
        QTRY_VERIFY2_WITH_TIMEOUT(outBit(board.outputs(), kEjectorOut) && outBit(board.outputs(), kClampOut)
                                      && latchRecord().startsWith("cycle=1\nowed=3\n"),
                                  qPrintable(log("first.log")), kStartMs);
        kill();
        // Killed inside the countdown: no NG was decided.
        QVERIFY2(latchRecord().startsWith("cycle=1\nowed=3\n"), latchRecord().constData());
        QVERIFY2(everyWord(outputWords(board, shotFrom), {}, {kAlarmOut}),
                 qPrintable(words(outputWords(board, shotFrom))));

        // The short part is still in the mould when the new process looks.
        // Both countdowns are due together: the product's step is judged
        // first and latches the NG, the cavity stays owed.
        restartJudgesTheShortShot(board);
    }

    void semiAutomaticRestartNeverHoldsInSilence_data()
    {
        QTest::addColumn<bool>("sequential");
        QTest::newRow("semi-automatic") << false;
        QTest::newRow("mode 3 sequential") << true;
    }

    // Step 2 on an input of its own (semi-automatic, or multiple detection
    // taken in sequence: two steps, the first on the mould-open input, the
    // last on the clamp), on a machine that keeps the mould open while the
    // clamp is held: killed once step 1 is judged, step 2's trigger then
    // comes and goes while nothing runs. The new process holds the clamp
    // from its first word and never waits for that trigger in silence: the
    // hold ends by a judgement, or step 2 is an NG with the alarm.
    void semiAutomaticRestartNeverHoldsInSilence()
    {
        QFETCH(bool, sequential);
        layOut([sequential](int* w) {
            w[40] = w[41] = 5;    // half-second countdowns
            if (!sequential) {
                w[85] = 1;        // semi-automatic
                return;
            }
            w[175] = w[176] = 3;  // multiple detection (stored as the mode chosen)
            w[217] = 2;           // two steps
            w[218] = 0;           // step 1 served by I/O row 0 ...
            w[219] = 1;           // ... step 2 by row 1
            w[226] = 0;           // row 0 triggered by input slot 0 (the mould-open input)
            w[227] = 1;           // row 1 by slot 1 (input 3, the cavity trigger's)
            w[268] = 1;           // each step in its turn
        });
        if (QTest::currentTestFailed())
            return;
        BoardSimulator board;
        const auto killAtEnd = qScopeGuard([this] { kill(); });
        // One cycle captures both templates: the mould opens, then step 2's
        // trigger comes.
        startTrained(board, {}, [](BoardSimulator& b) {
            pulseInput(b, kMouldOpen);
            QTest::qWait(1000);
            pulseInput(b, kCavityTrigger);
        });
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(!outBit(board.outputs(), kClampOut) && !outBit(board.outputs(), kEjectorOut)
                                     && !outBit(board.outputs(), kAlarmOut),
                                 kStartMs);

        // The mould opens and stays open: step 1 is judged, the clamp waits
        // for step 2's trigger.
        board.setInputs(kDoorClosed | kMouldOpen);
        QTRY_VERIFY2_WITH_TIMEOUT(latchRecord().startsWith("cycle=1\nowed=0\nedges=0\ndecided=1\n")
                                      && outBit(board.outputs(), kClampOut) && !outBit(board.outputs(), kEjectorOut),
                                  qPrintable(log("first.log") + latchRecord()), kStartMs);
        kill();
        // Step 2's trigger while nothing runs; the mould stays open.
        board.setInputs(kDoorClosed | kMouldOpen | kCavityTrigger);
        QTest::qWait(200);
        board.setInputs(kDoorClosed | kMouldOpen);

        const size_t before = board.history().size();
        start(board, "second.log");
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(outBit(board.outputs(), kAlarmOut) || !outBit(board.outputs(), kClampOut),
                                  qPrintable(log("second.log") + latchRecord()), kStartMs);
        const QVector<int> sent = outputWords(board, before);
        QVERIFY(!sent.isEmpty());
        if (outBit(board.outputs(), kAlarmOut)) {
            // An NG of step 2, for the operator: held all along.
            QVERIFY2(latchRecord().startsWith("step=1\n"), latchRecord().constData());
            QVERIFY2(everyWord(sent, {kClampOut}), qPrintable(words(sent)));
        } else {
            // Freed: only by step 2's judgement, on this run's pictures.
            QVERIFY2(outBit(sent.first(), kClampOut), qPrintable(words(sent)));
            QTRY_VERIFY2_WITH_TIMEOUT(infoLog().contains("step 2 stages:"), qPrintable(words(sent)), kStepMs);
        }
        QCOMPARE(program_.state(), QProcess::Running);
    }

    // Killed a few milliseconds after a mould opening's edge: the I/O thread
    // has held clamp and ejector on the wire and marked the opening on disk,
    // no pass of the cycle has recorded it; the mould closes meanwhile, a
    // short shot in it. The new process holds clamp and ejector from its
    // first word and in every one after: the opening is judged (the NG),
    // never freed unjudged.
    void killedRightAfterTheEdgeFreesNothingUnjudged()
    {
        layOut();
        if (QTest::currentTestFailed())
            return;
        BoardSimulator board;
        const auto killAtEnd = qScopeGuard([this] { kill(); });
        startTrained(board);
        if (QTest::currentTestFailed())
            return;
        // Trained, the cycle closed: nothing held, nothing on disk.
        QTRY_VERIFY2_WITH_TIMEOUT(!outBit(board.outputs(), kClampOut) && !outBit(board.outputs(), kEjectorOut)
                                      && latchRecord().isEmpty(),
                                  qPrintable(log("first.log") + latchRecord()), kStartMs);
        kill();

        // A run that ends at its first opening's edge, right after the mark.
        const int polled = board.framesOf(2);
        start(board, "edge.log", {"VMM_KILL_AFTER_EDGE=1"});
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(board.framesOf(2) > polled + 20, qPrintable(log("edge.log")), kStartMs);
        pulseMouldOpen(board);
        // Gone within the pulse already, as a rule (waitForFinished would
        // then say false): the state says it.
        QTRY_VERIFY2_WITH_TIMEOUT(program_.state() == QProcess::NotRunning, qPrintable(log("edge.log")), kStepMs);
        QCOMPARE(program_.exitStatus(), QProcess::CrashExit);
        // The opening is on disk as the I/O thread's mark only, and held on
        // the wire; the mould has closed.
        QVERIFY2(latchRecord().startsWith("cycle=0\n") && latchRecord().contains("\nedge=1\n"),
                 latchRecord().constData());
        QVERIFY(outBit(board.outputs(), kClampOut) && outBit(board.outputs(), kEjectorOut));
        QVERIFY(!(board.inputs() & kMouldOpen));

        restartJudgesTheShortShot(board);
    }

    // The demo's wiring: the alarm output inverted (word 78), the interlocks
    // straight, outputs 5-8 inverted by the standard mode. Every output word the program sends is each output's
    // inactive level plus what is really held, from the very first one: at
    // a fresh start, at a restart after a kill with openings held and at one
    // with an NG latched, each restart on a board that dropped its outputs
    // (the first word then says everything).
    void everyWordIsWhatIsHeld()
    {
        layOut([](int* w) {
            w[78] = 1;
            w[123] = 0;
            w[40] = w[41] = 30;   // three seconds: the kill lands inside the countdown
        });
        if (QTest::currentTestFailed())
            return;
        // The alarm, and outputs 5-8: the standard mode inverts those itself
        // (words 80-83, while word 123 asks for no ejector pulse).
        const int inverted = 1 << kAlarmOut | 0xF0;
        const int clampAndEjector = 1 << kClampOut | 1 << kEjectorOut;
        const int alarm = 1 << kAlarmOut;
        // The outputs a wire word drives to their active level.
        const auto active = [inverted](int wire) { return (wire ^ inverted) & 0x3ff; };
        // Every word of `sent` has the outputs of `must` active, and none but
        // those of `must | may`; else the first that has not.
        const auto wrong = [&](const QVector<int>& sent, int must, int may) {
            for (int i = 0; i < sent.size(); ++i)
                if ((active(sent[i]) & must) != must || (active(sent[i]) & ~(must | may)) != 0)
                    return QStringLiteral("word %1 of %2: %3").arg(i + 1).arg(sent.size()).arg(words(sent));
            return QString();
        };
        // The program started on a new board (the one before dropped its
        // outputs); null when it could not be.
        std::vector<std::unique_ptr<BoardSimulator>> boards;
        const auto startOnNewBoard = [&](const QString& logName, const QStringList& env = {}) -> BoardSimulator* {
            boards.push_back(std::make_unique<BoardSimulator>());
            startBoard(*boards.back());
            if (!QTest::currentTestFailed())
                start(*boards.back(), logName, env);
            return QTest::currentTestFailed() ? nullptr : boards.back().get();
        };
        const auto killAtEnd = qScopeGuard([this] { kill(); });

        // A fresh start: the first word is every output off (the alarm's bit
        // set), and no word of the training cycles sounds the alarm.
        BoardSimulator* const first = startOnNewBoard("first.log");
        if (!first)
            return;
        upAndTrained(*first);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(active(first->outputs()) == 0, qPrintable(log("first.log")), kStartMs);
        QVector<int> sent = outputWords(*first);
        QVERIFY2(!sent.isEmpty() && active(sent.first()) == 0, qPrintable(words(sent)));
        QCOMPARE(wrong(sent, 0, clampAndEjector), QString());

        // Killed inside an opening's countdown, clamp and ejector held.
        size_t from = first->history().size();
        pulseMouldOpen(*first);
        QTRY_VERIFY2_WITH_TIMEOUT(active(first->outputs()) == clampAndEjector
                                      && latchRecord().startsWith("cycle=1\nowed=3\n"),
                                  qPrintable(log("first.log") + latchRecord()), kStartMs);
        kill();
        sent = outputWords(*first, from);
        QCOMPARE(wrong(sent, 0, clampAndEjector), QString());

        // The restart holds both from its first word, the alarm off, until
        // the openings are judged (a good part: everything free again).
        BoardSimulator* const second = startOnNewBoard("second.log");
        if (!second)
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(!outputWords(*second).isEmpty(), qPrintable(log("second.log")), kStartMs);
        QVERIFY2(active(outputWords(*second).first()) == clampAndEjector, qPrintable(words(outputWords(*second))));
        QTRY_VERIFY2_WITH_TIMEOUT(active(second->outputs()) == 0 && infoLog().contains("step 2 stages:"),
                                  qPrintable(log("second.log")), kStartMs);
        sent = outputWords(*second);
        QCOMPARE(wrong(sent, 0, clampAndEjector), QString());

        // A short shot: no alarm before its NG, clamp, ejector and alarm in
        // every word from the NG on.
        QVERIFY(cameraCommand("* defect shortshot"));
        from = second->history().size();
        pulseMouldOpen(*second);
        QTRY_VERIFY2_WITH_TIMEOUT(active(second->outputs()) == (clampAndEjector | alarm)
                                      && latchRecord().startsWith("step=0\n"),
                                  qPrintable(log("second.log") + latchRecord()), kStartMs);
        kill();
        sent = outputWords(*second, from);
        int ng = 0;
        while (ng < sent.size() && !(active(sent[ng]) & alarm))
            ++ng;
        QCOMPARE(wrong(sent.mid(0, ng), 0, clampAndEjector), QString());
        QCOMPARE(wrong(sent.mid(ng), clampAndEjector | alarm, 0), QString());

        // The restart on the NG: all three from its first word on, nothing else.
        BoardSimulator* const third = startOnNewBoard("third.log", {shortShotReplay()});
        if (!third)
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(third->framesOf(2) > 20 && active(third->outputs()) == (clampAndEjector | alarm),
                                  qPrintable(log("third.log")), kStartMs);
        const int polls = third->framesOf(2);
        QTRY_VERIFY_WITH_TIMEOUT(third->framesOf(2) > polls + 100, kStepMs);
        sent = outputWords(*third);
        QVERIFY2(!sent.isEmpty() && active(sent.first()) == (clampAndEjector | alarm), qPrintable(words(sent)));
        QCOMPARE(wrong(sent, clampAndEjector | alarm, 0), QString());
        QCOMPARE(program_.state(), QProcess::Running);
    }

    void latchedNgSurvivesSigkill_data()
    {
        QTest::addColumn<bool>("boardKeepsOutputs");
        QTest::addColumn<bool>("beforeOutputs");   // killed between the latch and the outputs
        QTest::newRow("board kept its outputs") << true << false;
        QTest::newRow("board dropped its outputs") << false << false;
        QTest::newRow("killed between the latch and the outputs") << true << true;
    }

    void latchedNgSurvivesSigkill()
    {
        QFETCH(bool, boardKeepsOutputs);
        QFETCH(bool, beforeOutputs);
        layOut();
        if (QTest::currentTestFailed())
            return;
        auto first = std::make_unique<BoardSimulator>();
        startBoard(*first);
        start(*first, "first.log", beforeOutputs ? QStringList{"VMM_KILL_AFTER_LATCH=1"} : QStringList{});
        if (QTest::currentTestFailed())
            return;
        const auto killAtEnd = qScopeGuard([this] { kill(); });

        // Up, and a new mould: the first opening captures the templates;
        // the outputs are released.
        upAndTrained(*first);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(!outBit(first->outputs(), kEjectorOut) && !outBit(first->outputs(), kAlarmOut),
                                 kStepMs);

        // A short shot: the product step fails, the NG is latched on disk and
        // held on the wire (or the program ends right after the latch, and
        // the alarm never reaches the wire).
        QVERIFY(cameraCommand("* defect shortshot"));
        const size_t shotFrom = first->history().size();
        auto latched = [&] {
            QByteArray record;
            return readLatch(&record) == InPlaceRecord::State::Valid && !record.isEmpty();
        };
        cycleUntil(*first, [&] {
            return beforeOutputs ? program_.state() == QProcess::NotRunning : held(first->outputs()) && latched();
        });
        if (QTest::currentTestFailed())
            return;

        // Killed outright.
        kill();
        QCOMPARE(program_.exitStatus(), QProcess::CrashExit);
        QVERIFY(latched());
        if (beforeOutputs)
            QVERIFY2(everyWord(outputWords(*first, shotFrom), {}, {kAlarmOut}),
                     qPrintable(words(outputWords(*first, shotFrom))));

        // The same board, still holding, or a new one with every output
        // released on the wire.
        if (!boardKeepsOutputs) {
            first.reset(new BoardSimulator);
            startBoard(*first);
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
        QVERIFY2(everyWord(outputWords(board, before), {kEjectorOut, kAlarmOut}),
                 qPrintable(words(outputWords(board, before))));
        QVERIFY(latched());
    }
};

QTEST_MAIN(TestKillRestart)
#include "tst_killrestart.moc"
