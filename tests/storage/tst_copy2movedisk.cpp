// The USB picture copier: day folders, pruning, and disks that are full,
// read-only or pulled out mid-copy (the local pictures and the queue survive).
#include "copy2movedisk.h"
#include "countgroup.h"
#include "diskmanager.h"
#include "storagestartup.h"
#include "storagetypes.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

QStringList makePictures(const QString& dir, int count, int bytes)
{
    QDir().mkpath(dir);
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString p = QStringLiteral("%1/pic%2.jpg").arg(dir).arg(i);
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(QByteArray(bytes, char('a' + i)));
        paths.append(p);
    }
    return paths;
}

int journalLines(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : 0;
}

QString dayDir(const QString& disk)
{
    return disk + QStringLiteral("/monitor_dev1/") + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

QStringList onDisk(const QString& disk)
{
    return QDir(dayDir(disk)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QVector<UPanInfo> folderDisk(const QString& folder)
{
    DiskManager::Sources s;
    s.mounts = QStringLiteral("/nonexistent");
    s.folders = QStringList{folder};
    return DiskManager::findDisks(s);
}

void queueAll(Copy2MoveDisk& c, const QStringList& pics)
{
    for (const QString& p : pics)
        c.addFile(p, QFileInfo(p).fileName());
}

// A started copier (no worker thread) and a folder for its disk.
struct Rig {
    QTemporaryDir tmp;
    QString disk = tmp.filePath("stick");
    Copy2MoveDisk c;
    Rig()
    {
        QDir().mkpath(disk);
        c.setDeviceId("dev1");
        c.start(false);
    }
    void plug() { c.SlotDiskInfoChange(folderDisk(disk)); }
};

class Relay : public QObject {
    Q_OBJECT
signals:
    void disks(QVector<UPanInfo>);
    void counts(CountGroup);
};

}  // namespace

class TestCopy2MoveDisk : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { registerStorageTypes(); }

    void copiesInOrderIntoTheDayFolder()
    {
        Rig r;
        const QStringList pics = makePictures(r.tmp.filePath("local"), 3, 1000);
        Copy2MoveDisk off;  // not started (USB saving off): takes nothing
        queueAll(off, pics);
        QVERIFY(off.pending().isEmpty());
        queueAll(r.c, pics);
        QCOMPARE(r.c.copyPending(), 0);  // no disk yet: all wait
        QCOMPARE(r.c.pending(), pics);
        r.plug();
        QCOMPARE(r.c.copyPending(), 3);
        QVERIFY(r.c.pending().isEmpty());
        QCOMPARE(onDisk(r.disk), (QStringList{"pic0.jpg", "pic1.jpg", "pic2.jpg"}));
        QFile back(dayDir(r.disk) + "/pic1.jpg");
        QVERIFY(back.open(QIODevice::ReadOnly));
        QCOMPARE(back.readAll(), QByteArray(1000, 'b'));
        // A picture removed locally before its turn is left out, the rest go on.
        queueAll(r.c, {r.tmp.filePath("local/gone.jpg"), pics[0]});
        QCOMPARE(r.c.copyPending(), 1);
        QVERIFY(r.c.pending().isEmpty());
    }

    void pruneKeepsTheNewestDays_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<int>("keep");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QStringList>("left");
        const QStringList five{"2026-11-28", "2026-12-01", "2026-12-03", "2026-12-06", "2026-12-07"};
        QTest::newRow("by date") << five << 3 << "2026-12-07"
                                 << QStringList{"2026-12-03", "2026-12-06", "2026-12-07"};
        QTest::newRow("other folders stay") << (QStringList{"notes", "2026-13-01", "2026-12-01", "2026-12-07"}) << 1
                                            << "2026-12-07" << QStringList{"2026-12-07", "2026-13-01", "notes"};
        QTest::newRow("the folder in use stays") << (QStringList{"2030-01-01", "2026-12-06", "2026-12-07"}) << 1
                                                 << "2026-12-07" << QStringList{"2026-12-07", "2030-01-01"};
        QTest::newRow("below one keeps all") << five << 0 << "2026-12-07" << five;
    }
    void pruneKeepsTheNewestDays()
    {
        QFETCH(QStringList, folders);
        QFETCH(int, keep);
        QFETCH(QString, current);
        QFETCH(QStringList, left);
        QTemporaryDir tmp;
        for (const QString& f : folders)
            QVERIFY(QDir().mkpath(tmp.filePath(f + "/x")));
        Copy2MoveDisk::pruneDays(tmp.path(), keep, tmp.filePath(current));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name), left);
    }

    void diskPulledMidCopy()
    {
        Rig r;
        const QStringList pics = makePictures(r.tmp.filePath("local"), 3, 600 * 1024);
        r.plug();
        queueAll(r.c, pics);
        int blocks = 0;
        r.c.afterBlock = [&] {
            if (++blocks == 1)
                QDir(r.disk).removeRecursively();
        };
        QCOMPARE(r.c.copyPending(), 0);
        QCOMPARE(r.c.pending(), pics);
        QVERIFY(!QFileInfo::exists(r.disk));  // the vanished disk is not made again
        QCOMPARE(r.c.copyPending(), 0);        // still gone, the watcher has not told yet
        for (const QString& p : pics)
            QCOMPARE(QFileInfo(p).size(), 600 * 1024);
        // Plugged in again: everything lands, no half copy is left.
        QDir().mkpath(r.disk);
        r.plug();
        QCOMPARE(r.c.copyPending(), 3);
        QCOMPARE(onDisk(r.disk), (QStringList{"pic0.jpg", "pic1.jpg", "pic2.jpg"}));
    }

    // The names waiting for the disk survive a restart: the journal the
    // worker keeps while running (what a kill leaves) and the one it leaves
    // at a clean stop. A picture gone meanwhile and a garbled line are left out.
    void queueSurvivesARestart_data()
    {
        QTest::addColumn<bool>("cleanStop");
        QTest::newRow("killed") << false;
        QTest::newRow("clean stop") << true;
    }
    void queueSurvivesARestart()
    {
        QFETCH(bool, cleanStop);
        QTemporaryDir tmp;
        const QString disk = tmp.filePath("stick");
        const QString journal = tmp.filePath("usbcopy.queue");
        const QStringList pics = makePictures(tmp.filePath("local"), 4, 100);
        {
            Copy2MoveDisk c;
            c.setDeviceId("dev1");
            c.setJournal(journal);
            c.start(true);   // no disk: everything waits
            queueAll(c, pics);
            QTRY_COMPARE(journalLines(journal), pics.size());
            if (!cleanStop)
                QVERIFY(QFile::copy(journal, journal + ".killed"));
            c.stop();
        }
        if (!cleanStop) {
            QFile::remove(journal);
            QVERIFY(QFile::rename(journal + ".killed", journal));
        }
        QFile extra(journal);
        QVERIFY(extra.open(QIODevice::Append));
        extra.write("not a line of the journal\n");
        extra.close();
        QVERIFY(QFile::remove(pics[1]));

        QDir().mkpath(disk);
        Copy2MoveDisk again;
        again.setDeviceId("dev1");
        again.setJournal(journal);
        again.start(false);
        QCOMPARE(again.pending(), (QStringList{pics[0], pics[2], pics[3]}));
        again.SlotDiskInfoChange(folderDisk(disk));
        QCOMPARE(again.copyPending(), 3);
        QCOMPARE(onDisk(disk), (QStringList{"pic0.jpg", "pic2.jpg", "pic3.jpg"}));
        QVERIFY(again.saveJournal());
        QVERIFY(!QFile::exists(journal));   // nothing waits any more
    }

    void queueIsBounded()
    {
        Rig r;
        const QStringList pics = makePictures(r.tmp.path(), 5, 10);
        r.c.setQueueLimit(3);
        queueAll(r.c, pics);
        QCOMPARE(r.c.pending(), pics.mid(2));
        QCOMPARE(r.c.dropped(), 2);
    }

    // A full disk (a small tmpfs) and a read-only one, in a mount namespace of
    // the test's own: the machine's mounts are never touched.
    void fullAndReadOnlyDisk()
    {
        if (qEnvironmentVariableIsSet("VMM_IN_MOUNT_NS"))
            QSKIP("already inside the namespace");
        if (QStandardPaths::findExecutable("unshare").isEmpty())
            QSKIP("no unshare here");
        QProcess p;
        qputenv("VMM_IN_MOUNT_NS", "1");
        p.start("unshare", {"-m", "--propagation", "private", QCoreApplication::applicationFilePath(),
                            "insideMountNamespace"});
        QVERIFY(p.waitForFinished(120000));
        qunsetenv("VMM_IN_MOUNT_NS");
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (p.exitCode() != 0 && err.contains("unshare failed"))
            QSKIP("mount namespaces are not permitted here");
        QVERIFY2(p.exitCode() == 0, qPrintable(QString::fromUtf8(p.readAllStandardOutput()) + err));
    }
    void insideMountNamespace()
    {
        if (!qEnvironmentVariableIsSet("VMM_IN_MOUNT_NS"))
            QSKIP("runs inside the namespace the test above makes");
        Rig r;
        const QString& disk = r.disk;
        Copy2MoveDisk& c = r.c;
        auto mount = [](const QStringList& args) { return QProcess::execute("mount", args) == 0; };
        QVERIFY(mount({"-t", "tmpfs", "-o", "size=192k", "tmpfs", disk}));
        const QStringList pics = makePictures(r.tmp.filePath("local"), 5, 60000);
        r.plug();
        queueAll(c, pics);
        // Three fit; the fourth finds the disk full and waits with the fifth.
        QCOMPARE(c.copyPending(), 3);
        QCOMPARE(c.pending(), pics.mid(3));
        QCOMPARE(onDisk(disk), (QStringList{"pic0.jpg", "pic1.jpg", "pic2.jpg"}));
        QVERIFY(QDir(dayDir(disk)).removeRecursively());
        QCOMPARE(c.copyPending(), 2);
        QVERIFY(QDir(dayDir(disk)).removeRecursively());

        // Read-only: the watcher's record says so, nothing is tried.
        QVERIFY(mount({"-o", "remount,ro", disk}));
        const QVector<UPanInfo> ro = folderDisk(disk);
        QVERIFY(ro.size() == 1 && ro[0].readOnly);
        c.SlotDiskInfoChange(ro);
        queueAll(c, pics.mid(0, 2));
        QCOMPARE(c.copyPending(), 0);
        // Made read-only behind the watcher's back: the copy fails, is kept.
        QVector<UPanInfo> stale = ro;
        stale[0].readOnly = false;
        c.SlotDiskInfoChange(stale);
        QCOMPARE(c.copyPending(), 0);
        QCOMPARE(c.pending(), pics.mid(0, 2));
        QVERIFY(mount({"-o", "remount,rw", disk}));
        r.plug();
        QCOMPARE(c.copyPending(), 2);
        for (const QString& p : pics)
            QCOMPARE(QFileInfo(p).size(), 60000);
        QProcess::execute("umount", {disk});
    }

    void typesTravelInQueuedSignals()
    {
        QThread other;
        QObject receiver;
        receiver.moveToThread(&other);
        other.start();
        Relay relay;
        QVector<UPanInfo> gotDisks;
        CountGroup gotCounts;
        connect(&relay, &Relay::disks, &receiver, [&](QVector<UPanInfo> d) { gotDisks = d; }, Qt::QueuedConnection);
        connect(&relay, &Relay::counts, &receiver, [&](CountGroup g) { gotCounts = g; }, Qt::BlockingQueuedConnection);
        const UPanInfo u{"/dev/sdb1", "/media/vmm/sdb1", "vfat", "KEY", "1-2", true, 4096};
        CountGroup g;
        g.groupName = "moldA";
        g.camera[7].detect[7] = {1234, 5};
        emit relay.disks({u, u});
        emit relay.counts(g);  // blocks until delivered, after the disks
        other.quit();
        other.wait();
        QCOMPARE(gotDisks, (QVector<UPanInfo>{u, u}));
        QCOMPARE(gotCounts, g);
    }

    // Last: it makes the process-wide copier and watcher.
    void startUpHonoursTheCopyWord()
    {
        QTemporaryDir tmp;
        const QString disk = tmp.filePath("stick");
        QDir().mkpath(disk);
        qputenv("VMM_USB_DISK", disk.toLocal8Bit());
        Copy2MoveDisk* c = Copy2MoveDisk::getInstance();
        c->setDeviceId("dev1");
        startUsbStorage(9, 0);
        QVERIFY(!c->isStarted());
        QVERIFY(DiskManager::_instance);
        QCOMPARE(c->keepDays.load(), 9);
        // Switched on: the watcher's disk reaches the copier's own thread.
        startUsbStorage(9, 1);
        QVERIFY(c->isStarted());
        const QStringList pics = makePictures(tmp.filePath("local"), 2, 100);
        queueAll(*c, pics);
        QTRY_COMPARE(onDisk(disk), (QStringList{"pic0.jpg", "pic1.jpg"}));
        DiskManager::_instance->stop();
        c->stop();
    }
};

QTEST_GUILESS_MAIN(TestCopy2MoveDisk)
#include "tst_copy2movedisk.moc"
