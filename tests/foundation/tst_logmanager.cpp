// Archiving and pruning of the log folders run in this process; everything
// that initialises glog (the message routing, the failure writer) runs in a
// child process, since glog can be set up only once per process.
#include "logmanager.h"
#include "testworkdir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <utime.h>

namespace {

const QString kLog = QStringLiteral("cnt_net/workspace/log/");
const QString kStdout = QStringLiteral("cnt_net/workspace/log_stdout/");

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList logNames()
{
    return QDir(kLog).entryList(QDir::Files | QDir::System, QDir::Name);
}

void setAge(const QString& path, int secondsAgo)
{
    struct utimbuf t {};
    t.actime = t.modtime = static_cast<time_t>(QDateTime::currentSecsSinceEpoch() - secondsAgo);
    QVERIFY(::utime(QFile::encodeName(path).constData(), &t) == 0);
}

// A previous run: its files and glog's links to the newest of each severity.
void previousRun(bool withErrors)
{
    writeFile(kLog + "LOG_20240102-030405.77.log", "info lines");
    writeFile(kLog + "WARNING_20240102-030406.77.log", "warning lines");
    QVERIFY(QFile::link("LOG_20240102-030405.77.log", kLog + "vmm.INFO"));
    QVERIFY(QFile::link("WARNING_20240102-030406.77.log", kLog + "vmm.WARNING"));
    if (withErrors) {
        writeFile(kLog + "ERROR_20240102-030407.77.log", "error lines");
        QVERIFY(QFile::link("ERROR_20240102-030407.77.log", kLog + "vmm.ERROR"));
    }
}

struct Child {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::NormalExit;
    QString err;
};

Child runChild(const QString& mode, const QString& folder)
{
    Child c;
    QProcess p;
    p.start(QStringLiteral(FOUNDATION_HELPER), {mode, folder});
    if (!p.waitForFinished(60000))
        return c;
    c.exitCode = p.exitCode();
    c.status = p.exitStatus();
    c.err = QString::fromUtf8(p.readAllStandardError());
    return c;
}

// The file behind glog's link of one severity.
QString severityFile(const QString& severity)
{
    return QFileInfo(kLog + "foundation_helper." + severity).symLinkTarget();
}

}  // namespace

class TestLogManager : public QObject {
    Q_OBJECT
private slots:
    void missingFolderIsLeftAlone()
    {
        TestWorkDir wd;
        QDir(kLog).removeRecursively();
        LogManager::clearup_cachelogfile();
        LogManager::prune_stdout_folder();
        QVERIFY(!QDir(kLog).exists());
    }

    void previousRunIsArchived_data()
    {
        QTest::addColumn<bool>("withErrors");
        QTest::addColumn<QString>("archive");
        QTest::newRow("run with errors") << true << "1_ERROR_20240102_030405.txt";
        QTest::newRow("run without errors") << false << "1_LOG_20240102_030405.txt";
    }
    void previousRunIsArchived()
    {
        QFETCH(bool, withErrors);
        QFETCH(QString, archive);
        TestWorkDir wd;
        previousRun(withErrors);
        LogManager::clearup_cachelogfile();
        // Only the LOG_ file survives: the others repeat its lines.
        QCOMPARE(logNames(), QStringList{archive});
        QCOMPARE(readFile(kLog + archive), QByteArray("info lines"));
    }

    void oneErrorLinkMarksEveryNewFile()
    {
        TestWorkDir wd;
        previousRun(true);
        writeFile(kLog + "LOG_20240101-010101.5.log", "older run");
        LogManager::clearup_cachelogfile();
        QCOMPARE(logNames(), (QStringList{"1_ERROR_20240101_010101.txt", "2_ERROR_20240102_030405.txt"}));
    }

    void archiveIsLimitedAndRenumbered_data()
    {
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<bool>("newFile");
        QTest::addColumn<QList<int>>("kept");  // old numbers, in their new order
        QTest::addColumn<qint64>("folderBytes");
        const qint64 big = LogManager::Limits().folderBytes;
        QList<int> many;
        for (int i = 1; i <= 25; ++i)
            many << i;
        QList<int> last19;
        for (int i = 7; i <= 25; ++i)
            last19 << i;
        QTest::newRow("25 archives and a new file") << many << true << last19 << big;
        QTest::newRow("gaps close up") << QList<int>{12, 3, 9} << false << QList<int>{3, 9, 12} << big;
        QTest::newRow("numbers beyond 9 sort numerically") << QList<int>{10, 2, 100} << false
                                                           << QList<int>{2, 10, 100} << big;
        // One byte each: a bound of 3 bytes keeps the newest three.
        QTest::newRow("the folder's bound keeps the newest that fit")
            << QList<int>{1, 2, 3, 4, 5, 6} << false << QList<int>{4, 5, 6} << qint64(3);
    }
    void archiveIsLimitedAndRenumbered()
    {
        QFETCH(QList<int>, numbers);
        QFETCH(bool, newFile);
        QFETCH(QList<int>, kept);
        QFETCH(qint64, folderBytes);
        TestWorkDir wd;
        const LogManager::Limits saved = LogManager::limits();
        LogManager::Limits limits = saved;
        limits.folderBytes = folderBytes;
        LogManager::setLimits(limits);
        for (int n : numbers)
            writeFile(kLog + QStringLiteral("%1_LOG_20230101_%2.txt").arg(n).arg(100000 + n), QByteArray::number(n));
        if (newFile)
            writeFile(kLog + "LOG_20240301-101010.9.log", "new");
        LogManager::clearup_cachelogfile();
        LogManager::setLimits(saved);

        const int total = kept.size() + (newFile ? 1 : 0);
        QStringList expected;
        for (int i = 0; i < kept.size(); ++i)
            expected << QStringLiteral("%1_LOG_20230101_%2.txt").arg(i + 1).arg(100000 + kept[i]);
        if (newFile)
            expected << QStringLiteral("%1_LOG_20240301_101010.txt").arg(total);
        QStringList names = logNames();
        QCOMPARE(names.size(), total);
        for (const QString& e : expected) {
            QVERIFY2(names.contains(e), qPrintable(e + " missing in " + names.join(' ')));
            const int slot = e.section('_', 0, 0).toInt();
            const QByteArray content = readFile(kLog + e);
            QCOMPARE(content, slot <= kept.size() ? QByteArray::number(kept[slot - 1]) : QByteArray("new"));
        }
    }

    void strayNamesAreDeletedOthersUntouched_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("survives");
        QTest::newRow("four parts, not numbered") << "X_LOG_20240101_010101.txt" << false;
        QTest::newRow("unreadable time") << "LOG_garbage.5.log" << false;
        QTest::newRow("three parts") << "a_b_c.log" << false;
        QTest::newRow("no dot") << "README" << true;
        QTest::newRow("no dot, underscores") << "keep_me_please" << true;
    }
    void strayNamesAreDeletedOthersUntouched()
    {
        QFETCH(QString, name);
        QFETCH(bool, survives);
        TestWorkDir wd;
        writeFile(kLog + name, "x");
        LogManager::clearup_cachelogfile();
        QCOMPARE(QFile::exists(kLog + name), survives);
        if (!survives)
            QVERIFY(logNames().isEmpty());
    }

    void linkTargetsOutsideTheFolderAreKept()
    {
        TestWorkDir wd;
        QDir().mkpath("elsewhere");
        writeFile("elsewhere/precious.txt", "keep");
        QVERIFY(QFile::link(wd.file("elsewhere/precious.txt"), kLog + "vmm.WARNING"));
        QVERIFY(QFile::link("../../../elsewhere/precious.txt", kLog + "vmm.ERROR"));
        LogManager::clearup_cachelogfile();
        QCOMPARE(readFile("elsewhere/precious.txt"), QByteArray("keep"));
        QVERIFY(logNames().isEmpty());
    }

    void stdoutFolderKeepsFiftyNewest()
    {
        TestWorkDir wd;
        QDir().mkpath(kStdout);
        for (int i = 0; i < 51; ++i) {
            writeFile(kStdout + QStringLiteral("out%1.txt").arg(i), "x");
            setAge(kStdout + QStringLiteral("out%1.txt").arg(i), 1000 - i);  // out0 is the oldest
        }
        LogManager::prune_stdout_folder();
        const QStringList left = QDir(kStdout).entryList(QDir::Files);
        QCOMPARE(left.size(), 50);
        QVERIFY(!left.contains("out0.txt"));
    }

    // ---- in a child process: glog set up by the log manager --------------

    void messagesAreRouted()
    {
        TestWorkDir wd;
        QDir(wd.file("cnt_net")).removeRecursively();  // the manager makes its folders
        const Child c = runChild("log", wd.path());
        QVERIFY2(c.status == QProcess::NormalExit && c.exitCode == 0, qPrintable(c.err));
        QVERIFY(QDir(kStdout).exists());

        const QString info = severityFile("INFO");
        QVERIFY2(QFileInfo(info).fileName().startsWith("LOG_"), qPrintable(info));
        QVERIFY(info.endsWith(".log"));
        const QString all = QString::fromUtf8(readFile(info));
        auto has = [&](const QString& pattern) {
            return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(all).hasMatch();
        };
        QVERIFY2(has(R"(^I\d{8} [\d:.]+ +\d+ foundation_helper\.cpp:\d+\] info-line$)"), qPrintable(all));
        QVERIFY2(has(R"(^I.* foundation_helper\.cpp:\d+\] ---warning--- warn-line$)"), qPrintable(all));
        QVERIFY(has(R"(^I.* foundation_helper\.cpp:\d+\] 中文-line$)"));
        QVERIFY(has(R"(^I.* unknow:0\] nofile-line$)"));
        QVERIFY(has(R"(^E.* logmanager\.cpp:\d+\] \tcritical-line$)"));
        QVERIFY(!all.contains("debug-line"));
        QVERIFY(!has(R"(^W)"));

        const QString errors = QString::fromUtf8(readFile(severityFile("ERROR")));
        QVERIFY(QFileInfo(severityFile("ERROR")).fileName().startsWith("ERROR_"));
        QVERIFY(errors.contains("\tcritical-line"));
        QVERIFY(!errors.contains("info-line"));
    }

    void fatalEndsTheProcessAfterTheLine()
    {
        TestWorkDir wd;
        const Child c = runChild("fatal", wd.path());
        QVERIFY(c.status == QProcess::CrashExit || c.exitCode != 0);
        const QString all = QString::fromUtf8(readFile(severityFile("INFO")));
        QVERIFY2(QRegularExpression(R"(^F.* logmanager\.cpp:\d+\] \tfatal-line$)", QRegularExpression::MultilineOption)
                     .match(all)
                     .hasMatch(),
                 qPrintable(all));
        QVERIFY(QFileInfo(severityFile("FATAL")).fileName().startsWith("FATAL_"));
    }

    void crashReportReachesTheLogAndMarksTheRun()
    {
        TestWorkDir wd;
        const Child c = runChild("crash", wd.path());
        QVERIFY(c.status == QProcess::CrashExit || c.exitCode != 0);
        const QString all = QString::fromUtf8(readFile(severityFile("INFO")));
        const QRegularExpression report(R"(^E\d{8} [\d:.]+ +\d+ logmanager\.cpp:\d+\] \*\*\* SIGABRT)",
                                        QRegularExpression::MultilineOption);
        QVERIFY2(report.match(all).hasMatch(), qPrintable(all));
        QVERIFY(QString::fromUtf8(readFile(severityFile("ERROR"))).contains("*** SIGABRT"));

        // The next start archives the run as one with errors, keeping the report.
        LogManager::clearup_cachelogfile();
        const QStringList names = logNames();
        QCOMPARE(names.size(), 1);
        QVERIFY2(names.first().startsWith("1_ERROR_"), qPrintable(names.first()));
        QVERIFY(report.match(QString::fromUtf8(readFile(kLog + names.first()))).hasMatch());
    }

    void folderKeepsItsBoundDuringARun()
    {
        // The child writes 3.5 MB under a bound of 2 MB, checked every 256 kB.
        TestWorkDir wd;
        writeFile(kLog + "1_LOG_20230101_100001.txt", QByteArray(512 * 1024, 'a'));
        const Child c = runChild("bound", wd.path());
        QVERIFY2(c.status == QProcess::NormalExit && c.exitCode == 0, qPrintable(c.err));
        qint64 total = 0;
        for (const QFileInfo& fi : QDir(kLog).entryInfoList(QDir::Files | QDir::System))
            total += fi.isSymLink() ? 0 : fi.size();
        QVERIFY2(total <= 2 * 1024 * 1024 + 256 * 1024 + 4096, qPrintable(QString::number(total)));
        QVERIFY(!QFile::exists(kLog + "1_LOG_20230101_100001.txt"));  // the oldest went first
        QVERIFY(QDir(kLog).entryList({"LOG_*"}).size() >= 2);
        QVERIFY(readFile(severityFile("INFO")).contains("bound-line 3499 "));
    }

    void termIsACleanStop()
    {
        TestWorkDir wd;
        const Child c = runChild("term", wd.path());
        QVERIFY2(c.status == QProcess::NormalExit && c.exitCode == 0, qPrintable(c.err));
        const QString all = QString::fromUtf8(readFile(severityFile("INFO")));
        QVERIFY2(QRegularExpression(R"(^I.* logmanager\.cpp:\d+\] SIGTERM received: clean stop$)",
                                    QRegularExpression::MultilineOption)
                     .match(all)
                     .hasMatch(),
                 qPrintable(all));
        QVERIFY(all.contains("after-loop"));
        QVERIFY2(!all.contains("***"), qPrintable(all));
        // No crash report, so the next start does not archive the run as one with errors.
        QVERIFY(severityFile("ERROR").isEmpty());
    }

    void secondManagerDoesNotReinitialise()
    {
        TestWorkDir wd;
        const Child c = runChild("twice", wd.path());
        QVERIFY2(c.status == QProcess::NormalExit && c.exitCode == 0, qPrintable(c.err));
        QVERIFY(readFile(severityFile("INFO")).contains("after-second"));
    }
};

QTEST_GUILESS_MAIN(TestLogManager)
#include "tst_logmanager.moc"
