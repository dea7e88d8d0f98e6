// The software update from a USB disk, with the program and plug-ins this
// build made: packages are built with tar into a folder standing in for the
// disk, the working folder holds "running files" of its own, and every
// refusal must leave them byte for byte as they were.
#include "diskmanager.h"
#include "globals.h"
#include "lanstr.h"
#include "platform.h"
#include "updatepackage.h"
#include "wizardparawidget.h"
#include "scripteddialogs.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kBuild = QStringLiteral(VMM_BUILD_DIR);
const QString kVersion = QString::fromLatin1(kAppVersion);
const QStringList kPlugins{QStringLiteral("libcamera_replay.so"), QStringLiteral("libcamera_simulated.so")};

class NoSleep : public platform::Sleeper {
public:
    void sleepMs(int) override {}
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// Every file below `dir` with the hash of its content.
QMap<QString, QByteArray> snapshot(const QString& dir)
{
    QMap<QString, QByteArray> m;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        m.insert(QDir(dir).relativeFilePath(p), QCryptographicHash::hash(readAll(p), QCryptographicHash::Sha256));
    }
    return m;
}

// What a package's top folder may be changed into before it is packed.
enum class Tamper {
    None, BadSum, GarbageProgram, GarbagePlugin, ExtraFile, SymlinkProgram, OtherTop,
    SparsePlugin,   // a 4 TiB plug-in (listed in SHA256SUMS), stored sparse
    BombPlugin,     // a 200 MiB plug-in of zeros, a few hundred kB packed
    EndlessOutput,  // a program that prints without end
    StaysBehind,    // a program that leaves a process running and writes where it may not
    Hangs,          // a program that never answers
    Script,         // the program is the test's script
};

constexpr qint64 kMiB = qint64(1) << 20;

// Whether the process `pid` has ended (a zombie nobody reaps counts).
bool ended(qint64 pid)
{
    const QByteArray status = readAll(QStringLiteral("/proc/%1/status").arg(pid));
    return status.isEmpty() || status.contains("State:\tZ");
}

// The live processes whose command line holds `mark` (the dry start's
// program runs in a PID namespace of its own: the numbers it sees of its
// children are not ours).
QStringList runningWith(const QByteArray& mark)
{
    QStringList found;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QByteArray cmd = readAll(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (pid.toLongLong() > 0 && !ended(pid.toLongLong()) && cmd.contains(mark))
            found << pid + QLatin1Char(' ') + QString::fromLocal8Bit(cmd.replace('\0', ' '));
    }
    return found;
}

QStringList pluginsIn(const QString& work)
{
    return QDir(work + QStringLiteral("/Plugins/Cameras")).entryList(QDir::Files, QDir::Name);
}

// The children of `parent` that run this process's image without an exec:
// of this process, the guards of runConfined; of a guard, its keeper.
QList<qint64> forksOf(qint64 parent)
{
    QList<qint64> found;
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
        const int close = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (close > 0 && fields.size() > 1 && fields[1].toLongLong() == parent && !ended(pid.toLongLong()) &&
            QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == self)
            found << pid.toLongLong();
    }
    return found;
}

// Ends every live process whose command line holds `mark`.
void killAllWith(const QByteArray& mark)
{
    for (const QString& p : runningWith(mark))
        ::kill(pid_t(p.section(QLatin1Char(' '), 0, 0).toLongLong()), SIGKILL);
}

// A job on a thread of its own that is joined whatever a check does: when
// it goes out of scope before the job has returned, `unblock` first ends
// what the job waits for.
class Job {
public:
    Job(std::function<void()> job, std::function<void()> unblock)
        : unblock_(std::move(unblock)), thread_([this, job] {
              job();
              done_ = true;
          })
    {
    }
    ~Job()
    {
        if (!done_)
            unblock_();
        thread_.join();
    }
    bool done() const { return done_; }

private:
    std::atomic<bool> done_{false};
    std::function<void()> unblock_;
    std::thread thread_;
};

// The process's log lines since the last test function began, from any
// thread; each goes on to QtTest's own handler.
std::mutex gLogMutex;
QStringList gLog;
QtMessageHandler gTestHandler = nullptr;
void keepLogLine(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    {
        std::lock_guard<std::mutex> lock(gLogMutex);
        gLog << text;
    }
    gTestHandler(type, context, text);
}
QStringList logLines()
{
    std::lock_guard<std::mutex> lock(gLogMutex);
    return gLog;
}

// The top-level windows of X display `display` (the root window's
// children as xwininfo lists them), or -1 when it cannot be asked.
int windowsOn(const QString& display)
{
    const QByteArray command = "xwininfo -display " + display.toLocal8Bit() + " -root -children 2>/dev/null";
    FILE* p = ::popen(command.constData(), "r");
    if (!p)
        return -1;
    int count = -1;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        // "     2 children:", "     1 child:"; not a window's line "     0x2000 ...".
        int n = 0;
        char word[16] = {};
        if (std::sscanf(line, " %d %15s", &n, word) == 2 && std::strncmp(word, "child", 5) == 0)
            count = n;
        else if (std::strstr(line, "no children"))
            count = 0;
    }
    ::pclose(p);
    return count;
}

}  // namespace

class TestUpdatePackage : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> tmp_;
    QString work_, disk_, old_;
    QString script_;   // the program of a Tamper::Script package
    NoSleep noSleep_;

    // A "sleep" of 600 s that names this test process, for runningWith().
    static QByteArray sleepMark()
    {
        return QStringLiteral("600.%1s").arg(QCoreApplication::applicationPid()).toUtf8();
    }

    // Packs the program and plug-ins of this build as vmm-update-<nameVersion>
    // onto the disk, with SHA256SUMS.
    QString makePackage(const QString& nameVersion, const QString& suffix, Tamper tamper = Tamper::None)
    {
        const QString src = tmp_->filePath(QStringLiteral("src-") + nameVersion);
        QDir(src).removeRecursively();
        const QString topName = QStringLiteral("vmm-update-") + nameVersion;
        const QString top = src + QLatin1Char('/') + (tamper == Tamper::OtherTop ? QStringLiteral("vmm") : topName);
        QDir().mkpath(top + QStringLiteral("/Plugins/Cameras"));
        const QString shared = tmp_->filePath(QStringLiteral("shared"));
        if (tamper == Tamper::SymlinkProgram)
            QFile::link(QStringLiteral("/bin/true"), top + QStringLiteral("/vmm"));
        else if (tamper == Tamper::GarbageProgram)
            writeFile(top + QStringLiteral("/vmm"), QByteArray(4096, 'x'));
        else if (tamper == Tamper::EndlessOutput)
            // Deaf to the closed pipe: it goes on until it is ended.
            writeFile(top + QStringLiteral("/vmm"),
                      "#!/bin/sh\ntrap '' PIPE\nwhile :; do echo vmm " + nameVersion.toUtf8() + "; done\n");
        else if (tamper == Tamper::StaysBehind)
            // It answers, but for another version, so it is refused after it ran.
            writeFile(top + QStringLiteral("/vmm"), QStringLiteral("#!/bin/sh\nsleep %4 &\necho $! > %1/stayer.pid\n"
                                                                   "echo x > %2/pwned\necho x > %3/pwned\n"
                                                                   "echo vmm 0.0.0.1\n")
                                                        .arg(shared, work_, tmp_->path(), QString::fromUtf8(sleepMark()))
                                                        .toUtf8());
        else if (tamper == Tamper::Hangs)
            writeFile(top + QStringLiteral("/vmm"),
                      QStringLiteral("#!/bin/sh\necho $$ > %1/stayer.pid\nexec sleep %2\n")
                          .arg(shared, QString::fromUtf8(sleepMark()))
                          .toUtf8());
        else if (tamper == Tamper::Script)
            writeFile(top + QStringLiteral("/vmm"), script_.toUtf8());
        else
            QFile::copy(kBuild + QStringLiteral("/src/app/vmm"), top + QStringLiteral("/vmm"));
        for (const QString& p : kPlugins)
            QFile::copy(kBuild + QStringLiteral("/plugins/") + p, top + QStringLiteral("/Plugins/Cameras/") + p);
        if (tamper == Tamper::GarbagePlugin)
            writeFile(top + QStringLiteral("/Plugins/Cameras/libbroken.so"), QByteArray(4096, 'y'));
        if (tamper == Tamper::ExtraFile)
            writeFile(top + QStringLiteral("/PARAM.db"), "not ours");
        QProcess sum;
        sum.setWorkingDirectory(top);
        sum.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sha256sum vmm Plugins/Cameras/*.so > SHA256SUMS")});
        sum.waitForFinished(-1);
        const QString huge = top + QStringLiteral("/Plugins/Cameras/libhuge.so");
        if (tamper == Tamper::SparsePlugin || tamper == Tamper::BombPlugin) {
            writeFile(huge, QByteArray());
            QFile::resize(huge, tamper == Tamper::SparsePlugin ? qint64(4) << 40 : 200 * kMiB);
            QFile sums(top + QStringLiteral("/SHA256SUMS"));
            sums.open(QIODevice::Append);
            sums.write(QByteArray(64, '0') + "  Plugins/Cameras/libhuge.so\n");
        }
        if (tamper == Tamper::BadSum) {
            QByteArray sums = readAll(top + QStringLiteral("/SHA256SUMS"));
            sums[0] = sums[0] == '0' ? '1' : '0';
            writeFile(top + QStringLiteral("/SHA256SUMS"), sums);
        }
        const QString archive = disk_ + QLatin1Char('/') + topName + suffix;
        if (suffix == QLatin1String(".rar")) {
            QStringList args{QStringLiteral(VMM_MAKERAR), archive, src};
            QDirIterator it(top, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                args << QDir(src).relativeFilePath(it.next());
            return QProcess::execute(QStringLiteral("python3"), args) == 0 ? archive : QString();
        }
        QStringList args{suffix == QLatin1String(".tar.gz") ? QStringLiteral("-czf") : QStringLiteral("-cf"), archive,
                         QStringLiteral("-C"), src, QFileInfo(top).fileName()};
        if (tamper == Tamper::SparsePlugin)
            args.prepend(QStringLiteral("--sparse"));
        if (QProcess::execute(QStringLiteral("tar"), args) != 0)
            return QString();
        return archive;
    }

    // The lines of a script that answer the dry start as this build's
    // program does.
    static QString dryStartAnswer()
    {
        QString answer = QStringLiteral("echo vmm %1\n").arg(kVersion);
        for (const QString& p : kPlugins)
            answer += QStringLiteral("echo plugin %1 ok\n").arg(p);
        return answer;
    }
    static QByteArray standInProgram() { return "#!/bin/sh\n" + dryStartAnswer().toUtf8(); }

    // The rows of a check made with the namespaces this system allows and
    // with them refused (the keeper alone).
    static void namespaceRows()
    {
        QTest::addColumn<bool>("namespaces");
        QTest::newRow("namespaces where allowed") << true;
        QTest::newRow("namespaces refused") << false;
    }
    // A package of this version with the stand-in program, for checks that
    // are about the files, not the program (this build's sanitised program
    // makes every check slow).
    QString makeStandIn()
    {
        script_ = QString::fromUtf8(standInProgram());
        return makePackage(kVersion, QStringLiteral(".tar"), Tamper::Script);
    }

    UpdatePackage::Found found(const QString& archive)
    {
        UpdatePackage::Found f;
        f.path = archive;
        UpdatePackage::parseName(QFileInfo(archive).fileName(), &f.version, &f.kind);
        return f;
    }

    // The settings screen's update button, with the disk folder reported by
    // the disk watcher and the working folder's program as the running one:
    // what the screen asked and warned, and the ends of the process it asked
    // for. Every question is answered yes.
    void pressUpdate(QStringList* asked, QStringList* warned, QList<int>* exits)
    {
        QFile mounts(tmp_->filePath(QStringLiteral("mounts")));
        QVERIFY(mounts.open(QIODevice::WriteOnly));
        mounts.close();
        DiskManager::Sources sources;
        sources.mounts = mounts.fileName();
        sources.folders = QStringList{disk_};
        DiskManager::_instance = new DiskManager;
        DiskManager::_instance->setSources(sources);
        DiskManager::_instance->scanOnce();

        QDir::setCurrent(work_);
        UpdatePackage::runningProgram = [this] { return work_ + QStringLiteral("/vmm"); };
        platform::setExitHandler([exits](int code) { *exits << code; });
        platform::setSleeper(&noSleep_);
        ScriptedDialogs dialogs;
        dialogs.onChoose = [asked](const QString& t) { *asked << t; return true; };
        dialogs.onWarn = [warned](const QString& t) { *warned << t; };

        WizardParaWidget screen;
        screen.resize(1920, 1080);
        screen.show();
        QPushButton* button = nullptr;
        for (QPushButton* b : screen.findChildren<QPushButton*>())
            if (b->text() == lanStr(325).trimmed())
                button = b;
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        gTestHandler = qInstallMessageHandler(keepLogLine);
        initLanStr();
        gLan = 1;
        QVERIFY2(QFileInfo(kBuild + QStringLiteral("/src/app/vmm")).isExecutable(), "the program is not built");
        for (const QString& p : kPlugins)
            QVERIFY2(QFileInfo::exists(kBuild + QStringLiteral("/plugins/") + p), qPrintable(p));
    }

    // A working folder whose running files are an old program (a script
    // that answers for 18.0.1.55) and one old plug-in.
    void init()
    {
        {
            std::lock_guard<std::mutex> lock(gLogMutex);
            gLog.clear();
        }
        tmp_.reset(new QTemporaryDir);
        QVERIFY(tmp_->isValid());
        // The dry start's user must reach the package; a folder it may write
        // to stands for the rest of the machine.
        QVERIFY(QFile::setPermissions(tmp_->path(), QFile::Permissions(0x7755)));
        QVERIFY(QDir().mkpath(tmp_->filePath(QStringLiteral("shared"))));
        QVERIFY(QFile::setPermissions(tmp_->filePath(QStringLiteral("shared")), QFile::Permissions(0x7777)));
        work_ = tmp_->filePath(QStringLiteral("work"));
        disk_ = tmp_->filePath(QStringLiteral("usbdisk"));
        QVERIFY(QDir().mkpath(disk_));
        QVERIFY(writeFile(work_ + QStringLiteral("/vmm"), "#!/bin/sh\necho vmm 18.0.1.55\n"));
        QFile::setPermissions(work_ + QStringLiteral("/vmm"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(writeFile(work_ + QStringLiteral("/Plugins/Cameras/libold.so"), "old plug-in"));
        QVERIFY(writeFile(work_ + QStringLiteral("/PARAM.db"), "parameters"));
        old_ = QDir::currentPath();
    }

    void cleanup()
    {
        QDir::setCurrent(old_);
        platform::setExitHandler(nullptr);
        platform::setSleeper(nullptr);
        platform::setConfinedNamespaces(true);
        platform::setConfinedClock(nullptr);
        // What a failed check left running, so that it cannot count in the next.
        killAllWith(sleepMark());
        UpdatePackage::beforeSwapStep = nullptr;
        UpdatePackage::runningProgram = [] { return QCoreApplication::applicationFilePath(); };
        delete DiskManager::_instance;
        DiskManager::_instance = nullptr;
        tmp_.reset();
    }

    // The newest package of all disks is taken, numbers compared as numbers.
    void findsNewest()
    {
        const QString second = tmp_->filePath(QStringLiteral("disk2"));
        QDir().mkpath(second);
        writeFile(disk_ + QStringLiteral("/vmm-update-18.0.1.9.tar"), "a");
        for (const char* other : {"notes.txt", "vmm-update-99.zip", "vmm-update-1.2.3.4.5.tar", "vmm-update-.tar"})
            writeFile(disk_ + QLatin1Char('/') + QLatin1String(other), "b");
        writeFile(second + QStringLiteral("/vmm-update-18.0.1.10.tar.gz"), "c");
        QDir().mkpath(second + QStringLiteral("/vmm-update-18.0.2.tar"));   // a folder, not a package
        UPanInfo a, b;
        a.mountPoint = disk_;
        b.mountPoint = second;
        const UpdatePackage::Found f = UpdatePackage::find({a, b});
        QCOMPARE(f.version, QStringLiteral("18.0.1.10"));
        QCOMPARE(f.kind, QStringLiteral("gz"));
        QVERIFY(!UpdatePackage::find({}).isValid());
    }

    // From the settings screen's button to the reboot: afterwards the
    // working folder's program is the package's and answers its dry start.
    void updateFromScreen()
    {
        // Closed to others, as /root is: the dry start's user cannot reach
        // the package where it is unpacked.
        QVERIFY(QFile::setPermissions(tmp_->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(!makePackage(kVersion, QStringLiteral(".tar.gz")).isEmpty());
        QStringList asked, warned;
        QList<int> exits;
        pressUpdate(&asked, &warned, &exits);
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(warned, QStringList());
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(QStringLiteral("Running version %1").arg(kVersion)), qPrintable(asked[0]));
        QCOMPARE(exits, QList<int>{platform::kExitReboot});
        QCOMPARE(readAll(work_ + QStringLiteral("/vmm")), readAll(kBuild + QStringLiteral("/src/app/vmm")));
        QVERIFY(!QFileInfo::exists(work_ + QStringLiteral("/Plugins/Cameras/libold.so")));
        QCOMPARE(readAll(work_ + QStringLiteral("-rollback/vmm")), QByteArray("#!/bin/sh\necho vmm 18.0.1.55\n"));
        QCOMPARE(readAll(work_ + QStringLiteral("-rollback/Plugins/Cameras/libold.so")), QByteArray("old plug-in"));
        QCOMPARE(readAll(work_ + QStringLiteral("-rollback/VERSION")).trimmed(), kVersion.toUtf8());
        QCOMPARE(readAll(work_ + QStringLiteral("/PARAM.db")), QByteArray("parameters"));
        QVERIFY(!QFileInfo::exists(work_ + QStringLiteral("-update")));

        // What the restart runs: the new program, with the new plug-ins.
        QProcess run;
        run.setWorkingDirectory(work_);
        run.start(work_ + QStringLiteral("/vmm"), {QStringLiteral("--dry-start")});
        QVERIFY(run.waitForFinished(-1));
        QCOMPARE(run.exitCode(), 0);
        const QString out = QString::fromUtf8(run.readAllStandardOutput());
        QVERIFY2(out.startsWith(QStringLiteral("vmm %1\n").arg(kVersion)), qPrintable(out));
        for (const QString& p : kPlugins)
            QVERIFY2(out.contains(QStringLiteral("plugin %1 ok").arg(p)), qPrintable(out));
    }

    // A second update (this one from a rar package) keeps only the files the
    // second one replaced.
    void oneRollBack()
    {
        for (int round = 0; round < 2; ++round) {
            const QString archive = makePackage(kVersion, round == 0 ? QStringLiteral(".tar") : QStringLiteral(".rar"));
            QVERIFY(!archive.isEmpty());
            UpdatePackage u(work_);
            QCOMPARE(u.prepare(found(archive)), UpdatePackage::None);
            QCOMPARE(u.install(QStringLiteral("r%1").arg(round)), UpdatePackage::None);
        }
        QCOMPARE(readAll(work_ + QStringLiteral("-rollback/VERSION")).trimmed(), QByteArray("r1"));
        QCOMPARE(readAll(work_ + QStringLiteral("-rollback/vmm")), readAll(kBuild + QStringLiteral("/src/app/vmm")));
        QVERIFY(!QFileInfo::exists(work_ + QStringLiteral("-rollback.previous")));
    }

    void refused_data()
    {
        QTest::addColumn<QString>("nameVersion");
        QTest::addColumn<int>("tamper");
        // "", "truncate", "garbage", "pull", "full", "small disk", "slow sums",
        // "short dry start", or "tar:<kind>" for an archive of tests/app/hostiletar.py
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("expected");
        const QString v = kVersion;
        QTest::newRow("truncated") << v << int(Tamper::None) << "truncate" << int(UpdatePackage::Broken);
        QTest::newRow("not an archive") << v << int(Tamper::None) << "garbage" << int(UpdatePackage::Broken);
        QTest::newRow("disk pulled") << v << int(Tamper::None) << "pull" << int(UpdatePackage::DiskPulled);
        QTest::newRow("disk full") << v << int(Tamper::None) << "full" << int(UpdatePackage::NoSpace);
        QTest::newRow("extra file") << v << int(Tamper::ExtraFile) << "" << int(UpdatePackage::Foreign);
        QTest::newRow("other top folder") << v << int(Tamper::OtherTop) << "" << int(UpdatePackage::Foreign);
        QTest::newRow("symlinked program") << v << int(Tamper::SymlinkProgram) << "" << int(UpdatePackage::Foreign);
        QTest::newRow("mislabelled") << "18.0.1.99" << int(Tamper::None) << "" << int(UpdatePackage::Foreign);
        QTest::newRow("checksum") << v << int(Tamper::BadSum) << "" << int(UpdatePackage::BadChecksum);
        QTest::newRow("checksums out of time") << v << int(Tamper::None) << "slow sums" << int(UpdatePackage::BadChecksum);
        QTest::newRow("program does not run") << v << int(Tamper::GarbageProgram) << "" << int(UpdatePackage::NotRunnable);
        QTest::newRow("plug-in does not load") << v << int(Tamper::GarbagePlugin) << "" << int(UpdatePackage::NotRunnable);
        QTest::newRow("sparse 4 TiB plug-in") << v << int(Tamper::SparsePlugin) << "" << int(UpdatePackage::TooLarge);
        QTest::newRow("gz bomb on a small disk") << v << int(Tamper::BombPlugin) << "small disk"
                                                 << int(UpdatePackage::TooLarge);
        QTest::newRow("prints without end") << v << int(Tamper::EndlessOutput) << "" << int(UpdatePackage::NotRunnable);
        QTest::newRow("never answers") << v << int(Tamper::Hangs) << "short dry start" << int(UpdatePackage::NotRunnable);
        QTest::newRow("forks, stays and writes") << v << int(Tamper::StaysBehind) << "" << int(UpdatePackage::Foreign);
        for (const char* kind : {"dotdot", "absolute", "hardlink", "device", "fifo", "metachar", "many"})
            QTest::newRow(kind) << v << int(Tamper::None) << QStringLiteral("tar:") + QLatin1String(kind)
                                << int(UpdatePackage::Foreign);
    }
    void refused()
    {
        QFETCH(QString, nameVersion);
        QFETCH(int, tamper);
        QFETCH(QString, damage);
        QFETCH(int, expected);
        // Plain tar where the compression does not matter: gzip over the
        // sanitised program is slow.
        const bool gz = damage == QLatin1String("truncate") || damage == QLatin1String("garbage") ||
                        Tamper(tamper) == Tamper::BombPlugin;
        QString archive;
        if (damage.startsWith(QLatin1String("tar:"))) {
            archive = disk_ + QStringLiteral("/vmm-update-%1.tar.gz").arg(nameVersion);
            QCOMPARE(QProcess::execute(QStringLiteral("python3"), {QStringLiteral(VMM_HOSTILETAR), archive,
                                                                   QStringLiteral("vmm-update-") + nameVersion,
                                                                   damage.mid(4)}),
                     0);
        } else {
            archive = makePackage(nameVersion, gz ? QStringLiteral(".tar.gz") : QStringLiteral(".tar"), Tamper(tamper));
        }
        QVERIFY(!archive.isEmpty());
        if (damage == QLatin1String("truncate"))
            QVERIFY(QFile::resize(archive, QFileInfo(archive).size() * 2 / 3));
        if (damage == QLatin1String("garbage"))
            QVERIFY(writeFile(archive, QByteArray(3 << 20, 'z')));
        const QMap<QString, QByteArray> before = snapshot(work_);

        UpdatePackage u(work_);
        if (damage == QLatin1String("pull"))
            u.onCopied = [this](qint64) { QDir(disk_).removeRecursively(); };
        if (damage == QLatin1String("full"))
            u.freeSpace = [](const QString&) { return qint64(4096); };
        // The 96 MB disk of the latch, counters, record and pictures (more
        // when the package itself, with a sanitizer build in it, is large):
        // room for the archive's copy, never for what its member unpacks to.
        if (damage == QLatin1String("small disk")) {
            const qint64 room = qMax(96 * kMiB, QFileInfo(archive).size() + UpdatePackage::kKeepFree + 32 * kMiB);
            u.freeSpace = [room](const QString&) { return room; };
        }
        if (damage == QLatin1String("slow sums"))
            u.checksumTimeoutMs = 0;
        if (damage == QLatin1String("short dry start"))
            u.dryStartTimeoutMs = 2000;
        // Time enough to print far more than is read.
        if (Tamper(tamper) == Tamper::EndlessOutput)
            u.dryStartTimeoutMs = 30000;
        const UpdatePackage::Result r = u.prepare(found(archive));
        QVERIFY2(r == expected, qPrintable(QStringLiteral("%1: %2").arg(int(r)).arg(u.detail())));
        QVERIFY(!u.detail().isEmpty());
        for (int lan = 0; lan < kLanCols; ++lan)
            QVERIFY(!lanStr(UpdatePackage::messageRow(r), lan).isEmpty());
        QCOMPARE(snapshot(work_), before);
        QVERIFY(!QFileInfo::exists(u.stagingDir()));
        QVERIFY(!QFileInfo::exists(u.rollbackDir()));
        // Nothing of the package outside it.
        QVERIFY(!QFileInfo::exists(tmp_->filePath(QStringLiteral("escaped"))));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/vmm-update-%1-escaped").arg(nameVersion)));
        if (Tamper(tamper) == Tamper::EndlessOutput)
            // Ended as soon as its output was cut, not at the end of its time.
            QVERIFY2(u.detail().contains(QStringLiteral("printed too much")) &&
                         !u.detail().contains(QStringLiteral("timed out")),
                     qPrintable(u.detail()));
        if (Tamper(tamper) == Tamper::StaysBehind || Tamper(tamper) == Tamper::Hangs) {
            // It ran, as a user that may write nowhere of ours, and its end
            // or its time-out took what it started with it.
            const qint64 pid = readAll(tmp_->filePath(QStringLiteral("shared/stayer.pid"))).trimmed().toLongLong();
            QVERIFY(pid > 0);
            QCOMPARE(runningWith(sleepMark()), QStringList());
            if (::geteuid() == 0) {
                QVERIFY(!QFileInfo::exists(work_ + QStringLiteral("/pwned")));
                QVERIFY(!QFileInfo::exists(tmp_->filePath(QStringLiteral("pwned"))));
            }
        }
        QCOMPARE(u.install(kVersion), UpdatePackage::WriteFailed);   // nothing prepared
        QCOMPARE(snapshot(work_), before);
    }

    // The swap ended as by a kill before each of its renames, links, writes
    // and fsyncs, then the start's recovery, itself killed at each of its own
    // steps in turn: the working folder holds the old program with its
    // plug-in or the new one with all of its, never a mix; either starts and
    // loads every plug-in beside it, and nothing of the update is left over.
    // Killed around the commit, the update is of this build's program, which
    // recovers as it starts; elsewhere a package whose program is a script
    // that answers the dry start as this build's does, and whose swap takes
    // the same steps, stands in for it (the sanitised program's checks are
    // the slow part of every round).
    void swapKilledAtEveryStep()
    {
        struct Killed {};
        const QByteArray answer = standInProgram();
        const QString stand = makeStandIn();
        QVERIFY(!stand.isEmpty());
        const QString standIn = tmp_->filePath(QStringLiteral("stand-in/") + QFileInfo(stand).fileName());
        QVERIFY(QDir().mkpath(QFileInfo(standIn).path()) && QFile::rename(stand, standIn));
        const QString archive = makePackage(kVersion, QStringLiteral(".tar"));
        QVERIFY(!archive.isEmpty());
        const QString rollback = work_ + QStringLiteral("-rollback");
        const QByteArray realProgram = readAll(kBuild + QStringLiteral("/src/app/vmm"));
        const QString oldPlugin = kPlugins[0];
        // The old program is the new one's bytes too, told apart by a tail.
        auto layOut = [&](const QByteArray& oldProgram) {
            for (const char* end : {"", "-update", "-rollback", "-rollback.new"})
                QDir(work_ + QLatin1String(end)).removeRecursively();
            QVERIFY(writeFile(work_ + QStringLiteral("/vmm"), oldProgram));
            QVERIFY(QFile::setPermissions(work_ + QStringLiteral("/vmm"), QFile::Permissions(0x7755)));
            QVERIFY(writeFile(work_ + QStringLiteral("/Plugins/Cameras/") + oldPlugin,
                              readAll(kBuild + QStringLiteral("/plugins/") + oldPlugin)));
            QVERIFY(writeFile(work_ + QStringLiteral("/PARAM.db"), "parameters"));
            QVERIFY(writeFile(rollback + QStringLiteral("/vmm"), "an older program"));
            QVERIFY(writeFile(rollback + QStringLiteral("/VERSION"), "18.0.1.1\n"));
        };
        // The steps of a whole swap, of either package.
        auto stepsOf = [&](const QString& package) {
            QStringList steps;
            layOut(answer + "old program");
            UpdatePackage u(work_);
            if (u.prepare(found(package)) != UpdatePackage::None)
                return QStringList{QStringLiteral("not prepared: ") + u.detail()};
            UpdatePackage::beforeSwapStep = [&steps](const QString& what) { steps << what; };
            if (u.install(QStringLiteral("18.0.1.55")) != UpdatePackage::None)
                steps << QStringLiteral("not installed: ") + u.detail();
            UpdatePackage::beforeSwapStep = nullptr;
            return steps;
        };
        const QStringList steps = stepsOf(archive);
        QCOMPARE(stepsOf(standIn), steps);
        QVERIFY2(steps.filter(QStringLiteral("rename ")).size() >= 3, qPrintable(steps.join(QLatin1Char('\n'))));
        QVERIFY2(steps.filter(QStringLiteral("fsync ")).size() >= 8, qPrintable(steps.join(QLatin1Char('\n'))));
        const int commit = steps.indexOf(QStringLiteral("rename %1-update/vmm-update-%2/vmm %1/vmm").arg(work_, kVersion));
        QVERIFY2(commit > 0, qPrintable(steps.join(QLatin1Char('\n'))));

        std::set<bool> started;
        for (int k = 0; k < steps.size(); ++k) {
            const bool real = k == commit || k == commit + 1;
            const QByteArray newProgram = real ? realProgram : answer;
            const QByteArray oldProgram = newProgram + "old program";
            layOut(oldProgram);
            const QMap<QString, QByteArray> oldFiles = snapshot(work_), olderRollback = snapshot(rollback);
            UpdatePackage u(work_);
            QCOMPARE(u.prepare(found(real ? archive : standIn)), UpdatePackage::None);
            int n = 0, killAt = k;
            UpdatePackage::beforeSwapStep = [&n, &killAt](const QString&) {
                if (n++ == killAt)
                    throw Killed();
            };
            bool killed = false;
            try {
                u.install(QStringLiteral("18.0.1.55"));
            } catch (const Killed&) {
                killed = true;
            }
            QVERIFY2(killed, qPrintable(steps[k]));
            if (real) {
                // Killed just before and just after the program's rename: the
                // program there recovers as it starts, before its plug-ins,
                // the old one by undoing, the new one by finishing. (Without
                // a display it ends once it wants its window.)
                UpdatePackage::beforeSwapStep = nullptr;
                QProcess start;
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-display"));
                env.insert(QStringLiteral("VMM_TARGET"), QStringLiteral("0"));
                start.setProcessEnvironment(env);
                start.setWorkingDirectory(work_);
                start.start(work_ + QStringLiteral("/vmm"), QStringList());
                QVERIFY(start.waitForFinished(-1));
                QVERIFY2(!QFileInfo::exists(u.journalPath()),
                         start.readAllStandardError().constData());
            }
            for (killAt = 0;; ++killAt) {
                n = 0;
                try {
                    QVERIFY(UpdatePackage::recover(work_));
                    break;
                } catch (const Killed&) {
                }
            }
            UpdatePackage::beforeSwapStep = nullptr;

            const QByteArray where = QStringLiteral("killed before \"%1\"").arg(steps[k]).toUtf8();
            const bool isNew = readAll(work_ + QStringLiteral("/vmm")) == newProgram;
            if (isNew) {
                QCOMPARE(pluginsIn(work_), kPlugins);
                for (const QString& p : kPlugins)
                    QVERIFY2(readAll(work_ + QStringLiteral("/Plugins/Cameras/") + p) ==
                                 readAll(kBuild + QStringLiteral("/plugins/") + p), where);
                QVERIFY2(readAll(rollback + QStringLiteral("/vmm")) == oldProgram, where);
                QCOMPARE(pluginsIn(rollback), QStringList{oldPlugin});
                QCOMPARE(readAll(rollback + QStringLiteral("/VERSION")), QByteArray("18.0.1.55\n"));
            } else {
                QVERIFY2(snapshot(work_) == oldFiles, where);
                QVERIFY2(snapshot(rollback) == olderRollback, where);
            }
            QCOMPARE(readAll(work_ + QStringLiteral("/PARAM.db")), QByteArray("parameters"));
            for (const char* end : {"-update", "-rollback.new"})
                QVERIFY2(!QFileInfo::exists(work_ + QLatin1String(end)), where);

            // The start after: this build's program answers and loads every
            // plug-in beside it (the old one after the kill before the
            // commit, the new one after the kill just after it).
            if (!real)
                continue;
            QVERIFY2(started.insert(isNew).second, where);
            QProcess run;
            run.setWorkingDirectory(work_);
            run.start(work_ + QStringLiteral("/vmm"), {QStringLiteral("--dry-start")});
            QVERIFY(run.waitForFinished(-1));
            const QString out = QString::fromUtf8(run.readAllStandardOutput());
            QVERIFY2(run.exitCode() == 0 && out.startsWith(QStringLiteral("vmm %1\n").arg(kVersion)), qPrintable(out));
            for (const QString& p : pluginsIn(work_))
                QVERIFY2(out.contains(QStringLiteral("plugin %1 ok").arg(p)), qPrintable(out));
        }
        QCOMPARE(started.size(), size_t(2));   // killed early it went back, killed late forward
    }

    // What the program finds beside its working folder, made by anyone: links
    // (to a folder outside, to the working folder, to the program) where the
    // update's folders would be, and journals it cannot trust. The start
    // follows none of them: it does not hang, the outside files and the
    // working folder stay byte for byte as they were, and it goes on to its
    // window. A link is removed itself and the update then runs as ever; a
    // journal it cannot trust blocks the update, which the screen says,
    // naming the journal to remove.
    void hostileSurroundings_data()
    {
        QTest::addColumn<QString>("plant");   // "<what>><target>" or "fifo"
        QTest::addColumn<bool>("blocks");
        QTest::newRow("staging: link outside") << "update>outside" << false;
        QTest::newRow("staging: link to the working folder") << "update>work" << false;
        QTest::newRow("staging: link to the program") << "update>program" << false;
        QTest::newRow("new roll-back: link outside") << "fresh>outside" << false;
        QTest::newRow("new roll-back: link to the working folder") << "fresh>work" << false;
        QTest::newRow("roll-back: link outside") << "rollback>outside" << false;
        QTest::newRow("roll-back: link to the working folder") << "rollback>work" << false;
        QTest::newRow("journal's staged folder: link outside") << "staged>outside" << true;
        QTest::newRow("journal's kept plug-ins: link outside") << "kept>outside" << true;
        QTest::newRow("journal: link outside") << "journal>outside" << true;
        QTest::newRow("journal: FIFO") << "fifo" << true;
    }
    void hostileSurroundings()
    {
        QFETCH(QString, plant);
        QFETCH(bool, blocks);
        const QByteArray newProgram = readAll(kBuild + QStringLiteral("/src/app/vmm"));
        const QByteArray oldProgram = newProgram + "old program";
        QVERIFY(writeFile(work_ + QStringLiteral("/vmm"), oldProgram));
        QVERIFY(QFile::setPermissions(work_ + QStringLiteral("/vmm"), QFile::Permissions(0x7755)));
        QVERIFY(QFile::remove(work_ + QStringLiteral("/Plugins/Cameras/libold.so")));
        QVERIFY(QFile::copy(kBuild + QStringLiteral("/plugins/") + kPlugins[0],
                            work_ + QStringLiteral("/Plugins/Cameras/") + kPlugins[0]));
        QVERIFY(writeFile(work_ + QStringLiteral("/count.ini"), "[count]\ngSyncNGNum=7\n"));
        QVERIFY(writeFile(work_ + QStringLiteral("/nglatch.dat"), "latched"));
        // Outside: a program and a plug-in folder to lure a swap, a journal.
        const QString outside = tmp_->filePath(QStringLiteral("outside"));
        QVERIFY(writeFile(outside + QStringLiteral("/vmm"), "outside program"));
        QVERIFY(writeFile(outside + QStringLiteral("/Plugins/notes.txt"), "outside notes"));
        QVERIFY(writeFile(outside + QStringLiteral("/swap.journal"), "vmm-update-" + kVersion.toUtf8() + '\n'));

        UpdatePackage u(work_);
        const QString staged = u.stagingDir() + QStringLiteral("/vmm-update-") + kVersion;
        const QString what = plant.section(QLatin1Char('>'), 0, 0), to = plant.section(QLatin1Char('>'), 1);
        const QString target = to == QLatin1String("outside") ? outside
                               : to == QLatin1String("work")  ? work_
                                                              : work_ + QStringLiteral("/vmm");
        if (blocks) {
            QVERIFY(QDir().mkpath(u.stagingDir()));
            if (what != QLatin1String("journal") && what != QLatin1String("fifo"))
                QVERIFY(writeFile(u.journalPath(), "vmm-update-" + kVersion.toUtf8() + '\n'));
        }
        if (what == QLatin1String("update"))
            QVERIFY(QFile::link(target, u.stagingDir()));
        else if (what == QLatin1String("fresh"))
            QVERIFY(QFile::link(target, work_ + QStringLiteral("-rollback.new")));
        else if (what == QLatin1String("rollback"))
            QVERIFY(QFile::link(target, u.rollbackDir()));
        else if (what == QLatin1String("staged"))
            // Undone, it would move the working folder's plug-ins into it.
            QVERIFY(QFile::link(target, staged));
        else if (what == QLatin1String("journal"))
            QVERIFY(QFile::link(outside + QStringLiteral("/swap.journal"), u.journalPath()));
        else if (what == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(u.journalPath()).constData(), 0644), 0);
        else if (what == QLatin1String("kept")) {
            // Undone, it would move its plug-ins into the working folder.
            QVERIFY(writeFile(staged + QStringLiteral("/vmm"), newProgram));
            QVERIFY(QDir().mkpath(staged + QStringLiteral("/Plugins")));
            QVERIFY(QDir().mkpath(work_ + QStringLiteral("-rollback.new/Plugins")));
            QVERIFY(QFile::link(outside + QStringLiteral("/Plugins"),
                                work_ + QStringLiteral("-rollback.new/Plugins/Cameras")));
        }
        const QMap<QString, QByteArray> workBefore = snapshot(work_), outsideBefore = snapshot(outside);
        QVERIFY(workBefore.contains(QStringLiteral("nglatch.dat")) && outsideBefore.size() == 3);

        // The start: its recovery, then on to its window (which it cannot
        // have without a display).
        QProcess start;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-display"));
        env.insert(QStringLiteral("VMM_TARGET"), QStringLiteral("0"));
        start.setProcessEnvironment(env);
        start.setWorkingDirectory(work_);
        start.start(work_ + QStringLiteral("/vmm"), QStringList());
        const bool ended = start.waitForFinished(120000);
        if (!ended)
            start.kill();
        QVERIFY2(ended, "the start hangs");
        const QByteArray said = start.readAllStandardError();
        QVERIFY2(said.contains("no-display"), said.constData());
        QCOMPARE(snapshot(work_), workBefore);
        QCOMPARE(snapshot(outside), outsideBefore);
        QCOMPARE(QFileInfo(u.journalPath()).exists() || QFileInfo(u.journalPath()).isSymLink(), blocks);

        if (blocks) {
            QVERIFY(writeFile(disk_ + QStringLiteral("/vmm-update-") + kVersion + QStringLiteral(".tar"), "unread"));
            QStringList asked, warned;
            QList<int> exits;
            pressUpdate(&asked, &warned, &exits);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(warned, QStringList{lanStr(718).arg(u.journalPath())});
            QVERIFY(exits.isEmpty());
            QCOMPARE(snapshot(work_), workBefore);
        } else {
            const QString archive = makeStandIn();
            QVERIFY(!archive.isEmpty());
            QCOMPARE(u.prepare(found(archive)), UpdatePackage::None);
            QCOMPARE(u.install(QStringLiteral("18.0.1.55")), UpdatePackage::None);
            QVERIFY(readAll(work_ + QStringLiteral("/vmm")) == standInProgram());
            QCOMPARE(pluginsIn(work_), kPlugins);
            QVERIFY(!QFileInfo(u.rollbackDir()).isSymLink());
            QVERIFY(readAll(u.rollbackDir() + QStringLiteral("/vmm")) == oldProgram);
            QCOMPARE(readAll(work_ + QStringLiteral("/nglatch.dat")), QByteArray("latched"));
        }
        QCOMPARE(snapshot(outside), outsideBefore);
    }

    // The dry start's program answers as the package's and is accepted, but
    // leaves children that quit its group or session (setsid, setpgid) and an
    // orphan of a double fork: none of them is alive once the check is done,
    // with the namespaces this system allows and with the keeper's own
    // clean-up alone. Where it runs in a network namespace of its own, it
    // reaches nothing of this machine's network.
    void dryStartEndsAllItStarts_data() { namespaceRows(); }
    void dryStartEndsAllItStarts()
    {
        QFETCH(bool, namespaces);
        QTcpServer api;
        QVERIFY(api.listen(QHostAddress::LocalHost));
        const QString shared = tmp_->filePath(QStringLiteral("shared"));
        const QString sleeper = QStringLiteral("sleep ") + QString::fromUtf8(sleepMark());
        script_ = QStringLiteral(
                      "#!/bin/sh\n"
                      "S=%1\n"
                      "setsid -f sh -c 'echo > %1/session; %2; :'\n"
                      "python3 -c 'import os; os.setpgid(0, 0); open(\"%1/group\", \"w\"); "
                      "os.execvp(\"sh\", [\"sh\", \"-c\", \"%2; :\"])' &\n"
                      "sh -c '%2 & echo > %1/orphan'\n"
                      "python3 -c 'import socket; socket.create_connection((\"127.0.0.1\", %3), 5); "
                      "open(\"%1/connected\", \"w\")' 2> /dev/null\n"
                      "while [ ! -e $S/session ] || [ ! -e $S/group ]; do sleep 0.01; done\n")
                      .arg(shared, sleeper)
                      .arg(api.serverPort()) +
                  dryStartAnswer();
        const QString archive = makePackage(kVersion, QStringLiteral(".tar"), Tamper::Script);
        QVERIFY(!archive.isEmpty());
        platform::setConfinedNamespaces(namespaces);
        UpdatePackage u(work_);
        QCOMPARE(u.prepare(found(archive)), UpdatePackage::None);
        for (const char* started : {"session", "group", "orphan"})
            QVERIFY2(QFileInfo::exists(shared + QLatin1Char('/') + QLatin1String(started)), started);
        QCOMPARE(runningWith(sleepMark()), QStringList());
        const bool isolated =
            namespaces && platform::runConfined(QStringLiteral("/"), QStringLiteral("/bin/true"), {}, 30000, 64).noNetwork;
        QCOMPARE(QFileInfo::exists(shared + QStringLiteral("/connected")), !isolated);
        u.discard();
    }

    // A keeper's guard held up (here: stopped) is not waited for without
    // end: it is killed after its time, and the program, which would end
    // with the clean-up it waits for, ends with the keeper's own instead.
    // The time-outs run on a clock of the test's that stands until the
    // program is seen running and its guard stopped.
    void stuckKeeperIsNotWaitedForEver_data() { namespaceRows(); }
    void stuckKeeperIsNotWaitedForEver()
    {
        QFETCH(bool, namespaces);
        platform::setConfinedNamespaces(namespaces);
        std::atomic<bool> running{false};
        std::atomic<qint64> now{0};
        platform::setConfinedClock([&] { return running ? now += 100 : now.load(); });
        const auto realClock = qScopeGuard([] { platform::setConfinedClock(nullptr); });
        QList<qint64> guards;
        const auto resume = [&guards] {
            for (qint64 g : guards)
                ::kill(pid_t(g), SIGCONT);
        };
        platform::ConfinedResult r;
        Job run([&] {
            r = platform::runConfined(QStringLiteral("/"), QStringLiteral("/bin/sh"),
                                      {QStringLiteral("-c"), QStringLiteral("exec sleep ") + QString::fromUtf8(sleepMark())},
                                      1000, 64);
        }, [&] { resume(); killAllWith(sleepMark()); });
        QTRY_VERIFY_WITH_TIMEOUT(!runningWith(sleepMark()).isEmpty(), 60000);
        guards = forksOf(QCoreApplication::applicationPid());
        QCOMPARE(guards.size(), 1);
        QCOMPARE(forksOf(guards.first()).size(), 1);   // its keeper
        QCOMPARE(::kill(pid_t(guards.first()), SIGSTOP), 0);
        running = true;
        // Bounded by the time-out and the keeper's time on the clock.
        QTRY_VERIFY_WITH_TIMEOUT(run.done(), 60000);
        QVERIFY(r.timedOut);
        QVERIFY(!r.ok());
        QVERIFY(ended(guards.first()));
        QTRY_COMPARE_WITH_TIMEOUT(runningWith(sleepMark()), QStringList(), 10000);
    }

    // The keeper killed while the program runs (where namespaces are refused
    // the program dies with it, but not what it started): its child and a
    // daemon of its own session are ended all the same, before the check
    // returns, and the log claims nothing of how it ran, which the keeper
    // never reported.
    void killedKeeperLeavesNothing_data() { namespaceRows(); }
    void killedKeeperLeavesNothing()
    {
        QFETCH(bool, namespaces);
        platform::setConfinedNamespaces(namespaces);
        platform::setConfinedClock([] { return qint64(0); });   // no time-out
        const QString shared = tmp_->filePath(QStringLiteral("shared"));
        const QString sleeper = QStringLiteral("sleep ") + QString::fromUtf8(sleepMark());
        script_ = QStringLiteral("#!/bin/sh\n"
                                 "%2 &\n"
                                 "setsid -f sh -c 'echo > %1/daemon; %2; :'\n"
                                 "exec %2\n")
                      .arg(shared, sleeper);
        const QString archive = makePackage(kVersion, QStringLiteral(".tar"), Tamper::Script);
        QVERIFY(!archive.isEmpty());
        UpdatePackage u(work_);
        UpdatePackage::Result result = UpdatePackage::None;
        Job check([&] { result = u.prepare(found(archive)); }, [] { killAllWith(sleepMark()); });
        // The program, its child, the daemon and the daemon's child.
        QTRY_VERIFY_WITH_TIMEOUT(runningWith(sleepMark()).size() == 4 &&
                                     QFileInfo::exists(shared + QStringLiteral("/daemon")), 60000);
        const QList<qint64> guards = forksOf(QCoreApplication::applicationPid());
        QCOMPARE(guards.size(), 1);
        const QList<qint64> keepers = forksOf(guards.first());
        QCOMPARE(keepers.size(), 1);
        QCOMPARE(::kill(pid_t(keepers.first()), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(check.done(), 60000);
        QCOMPARE(result, UpdatePackage::NotRunnable);
        QCOMPARE(runningWith(sleepMark()), QStringList());
        const QStringList lines = logLines();
        QVERIFY2(lines.filter(QStringLiteral("dry start of")).filter(QStringLiteral("reported nothing")).size() == 1,
                 qPrintable(lines.join(QLatin1Char('\n'))));
        for (const char* claim : {"as nobody", "namespace of its own", "under a subreaper", "the network"})
            QVERIFY2(lines.filter(QLatin1String(claim)).isEmpty(), qPrintable(lines.join(QLatin1Char('\n'))));
        // What the guard ended, in words that agree with their count (one
        // process where the namespaces are allowed: the program's namespace).
        const QRegularExpression ended(QStringLiteral("the (\\d+) (process|processes) it left"));
        for (const QString& line : lines.filter(ended)) {
            const QRegularExpressionMatch m = ended.match(line);
            QVERIFY2((m.captured(1) == QLatin1String("1")) == (m.captured(2) == QLatin1String("process")), qPrintable(line));
        }
    }

    // A package whose program ignores "--dry-start" and opens a window on
    // the display it finds (an older or a foreign build) while the operator's
    // program runs on an X display: its program gets no display, neither
    // named in its environment nor named by itself, nothing shows on the
    // display during the check, and the update is refused when the check's
    // time is over.
    void dryStartShowsNothingOnTheDisplay()
    {
        for (const char* tool : {"Xvfb", "xwininfo", "xmessage"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
        int number = 90 + int(QCoreApplication::applicationPid() % 100);
        while (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            ++number;
        const QString display = QStringLiteral(":%1").arg(number);
        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-screen"), QStringLiteral("0"),
                                            QStringLiteral("640x480x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QVERIFY(xvfb.waitForStarted(5000));
        const auto stopXvfb = qScopeGuard([&xvfb] {
            xvfb.terminate();
            xvfb.waitForFinished(5000);
        });
        QTRY_COMPARE_WITH_TIMEOUT(windowsOn(display), 0, 10000);
        // The rig sees a window: one shown by a program given the display.
        {
            QProcess shown;
            shown.start(QStringLiteral("xmessage"), {QStringLiteral("-display"), display, QStringLiteral("-timeout"),
                                                     QStringLiteral("30"), QStringLiteral("shown")});
            // (A loaded machine may take its time to map the window.)
            QTRY_VERIFY_WITH_TIMEOUT(windowsOn(display) > 0, 30000);
            shown.kill();
            shown.waitForFinished(5000);
            QTRY_COMPARE_WITH_TIMEOUT(windowsOn(display), 0, 10000);
        }

        // This program's environment names the display, as the operator's does.
        const QByteArray names[] = {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "VMM_UNLISTED"};
        QList<QByteArray> saved;
        for (const QByteArray& n : names)
            saved << qgetenv(n.constData());
        const auto restore = qScopeGuard([&] {
            for (int i = 0; i < saved.size(); ++i)
                saved[i].isNull() ? qunsetenv(names[i].constData()) : qputenv(names[i].constData(), saved[i]);
        });
        qputenv("DISPLAY", display.toLocal8Bit());
        qputenv("WAYLAND_DISPLAY", "wayland-0");
        qputenv("XAUTHORITY", tmp_->filePath(QStringLiteral("Xauthority")).toLocal8Bit());
        qputenv("VMM_UNLISTED", "1");

        // A display it names itself is hidden where a mount namespace is
        // allowed; elsewhere only the environment keeps it away.
        const bool hidden = platform::runConfined(QStringLiteral("/"), QStringLiteral("/bin/true"), {}, 30000, 64).noDisplay;
        const QString shared = tmp_->filePath(QStringLiteral("shared"));
        script_ = QStringLiteral("#!/bin/sh\n"
                                 "env > %1/env\n"
                                 "xmessage -timeout 30 given 2> /dev/null; echo $? > %1/given\n")
                      .arg(shared);
        if (hidden)
            script_ += QStringLiteral("xmessage -display %2 -timeout 30 named 2> /dev/null; echo $? > %1/named\n")
                           .arg(shared, display);
        script_ += QStringLiteral("exec sleep %1\n").arg(QString::fromUtf8(sleepMark()));
        const QString archive = makePackage(kVersion, QStringLiteral(".tar"), Tamper::Script);
        QVERIFY(!archive.isEmpty());
        UpdatePackage u(work_);
        u.dryStartTimeoutMs = 4000;
        // The display's windows, looked at all through the check.
        std::atomic<bool> checked{false};
        int mostWindows = -1, looks = 0;
        std::thread watch([&] {
            for (int i = 0; i < 1000 && !checked.load(); ++i) {
                mostWindows = std::max(mostWindows, windowsOn(display));
                ++looks;
                QThread::msleep(50);
            }
        });
        const UpdatePackage::Result r = u.prepare(found(archive));
        checked.store(true);
        watch.join();
        QVERIFY2(r == UpdatePackage::NotRunnable, qPrintable(QStringLiteral("%1: %2").arg(int(r)).arg(u.detail())));
        QVERIFY(looks > 0);
        QCOMPARE(mostWindows, 0);
        QCOMPARE(runningWith(sleepMark()), QStringList());

        const QStringList env = QString::fromLocal8Bit(readAll(shared + QStringLiteral("/env"))).split('\n');
        QVERIFY2(env.contains(QStringLiteral("QT_QPA_PLATFORM=offscreen")), qPrintable(env.join(' ')));
        QVERIFY2(!env.filter(QRegularExpression(QStringLiteral("^PATH=."))).isEmpty(), qPrintable(env.join(' ')));
        for (const QByteArray& n : names)
            QVERIFY2(env.filter(QRegularExpression(QStringLiteral("^%1=").arg(QLatin1String(n)))).isEmpty(),
                     qPrintable(env.join(' ')));
        // xmessage ran and found no display to open, given or named.
        QCOMPARE(readAll(shared + QStringLiteral("/given")).trimmed(), QByteArray("1"));
        if (hidden)
            QCOMPARE(readAll(shared + QStringLiteral("/named")).trimmed(), QByteArray("1"));
        else
            qWarning("no mount namespace here: a display the program names itself is not hidden");
        u.discard();
    }
};

QTEST_MAIN(TestUpdatePackage)
#include "tst_updatepackage.moc"
