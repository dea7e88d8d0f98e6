// The record rewritten in place: what a reader makes of each state of the
// file, a write cut short, and a disk that is full when the record changes.
#include "inplacerecord.h"
#include "testworkdir.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {
QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAt(const QString& path, qint64 at, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.seek(at));
    QCOMPARE(f.write(bytes), bytes.size());
}
}  // namespace

class TestInPlaceRecord : public QObject {
    Q_OBJECT
private slots:
    // Each row: records written in order, then one byte of the file spoiled
    // (-1: none); what a reader finds.
    void readerFinds_data()
    {
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<int>("spoil");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("payload");
        using S = InPlaceRecord::State;
        QTest::newRow("as made") << QStringList{} << -1 << int(S::Empty) << QByteArray();
        QTest::newRow("one record") << QStringList{"a=1"} << -1 << int(S::Valid) << QByteArray("a=1");
        QTest::newRow("an empty record") << QStringList{"a=1", ""} << -1 << int(S::Valid) << QByteArray();
        QTest::newRow("the newest of many") << QStringList{"1", "22", "333", "4444", "55555"} << -1 << int(S::Valid)
                                            << QByteArray("55555");
        // The third write went to slot 1 (sequence 3 is odd) and was cut short.
        QTest::newRow("newest cut short: the one before") << QStringList{"old", "older?", "new"} << 512 + 16
                                                          << int(S::Valid) << QByteArray("older?");
        QTest::newRow("the first write cut short") << QStringList{"first"} << 512 + 17 << int(S::Damaged)
                                                   << QByteArray();
        QTest::newRow("garbage in a made file") << QStringList{} << 3 << int(S::Damaged) << QByteArray();
    }
    void readerFinds()
    {
        QFETCH(QStringList, writes);
        QFETCH(int, spoil);
        QFETCH(int, state);
        QFETCH(QByteArray, payload);
        TestWorkDir wd;
        {
            InPlaceRecord r("rec");
            QVERIFY(r.prepare());
            for (const QString& w : writes)
                QVERIFY(r.write(w.toUtf8()));
        }
        QCOMPARE(QFileInfo("rec").size(), 1024);
        if (spoil >= 0)
            writeAt("rec", spoil, QByteArray(1, char(0x5a)));
        QByteArray got;
        QCOMPARE(int(InPlaceRecord::read("rec", &got)), state);
        QCOMPARE(got, payload);
        // A later writer continues after what it found: its record wins.
        InPlaceRecord again("rec");
        QVERIFY(again.write("after"));
        QCOMPARE(int(InPlaceRecord::read("rec", &got)), int(InPlaceRecord::State::Valid));
        QCOMPARE(got, QByteArray("after"));
    }

    void badFilesAndRecords()
    {
        TestWorkDir wd;
        QByteArray got;
        QCOMPARE(InPlaceRecord::read("none", &got), InPlaceRecord::State::Missing);
        // A file of another size is no record; preparing replaces it whole.
        QFile f("short");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x=1\n");
        f.close();
        QCOMPARE(InPlaceRecord::read("short", &got), InPlaceRecord::State::Damaged);
        InPlaceRecord r("short");
        QVERIFY(r.prepare());
        QCOMPARE(InPlaceRecord::read("short", &got), InPlaceRecord::State::Empty);
        QVERIFY(!r.write(QByteArray(InPlaceRecord::kMaxPayload + 1, 'x')));
        QVERIFY(r.write(QByteArray(InPlaceRecord::kMaxPayload, 'x')));
        QCOMPARE(InPlaceRecord::read("short", &got), InPlaceRecord::State::Valid);
        QCOMPARE(got.size(), InPlaceRecord::kMaxPayload);
        // No folder to make it in: refused, not pretended.
        InPlaceRecord nowhere("no/such/folder/rec");
        QVERIFY(!nowhere.write("a"));
    }

    // A full disk (a small tmpfs in a mount namespace of the test's own):
    // a record made while there was room keeps changing.
    void fullDisk()
    {
        if (!qEnvironmentVariableIsSet("VMM_IN_OWN_MOUNT_NS")) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("VMM_IN_OWN_MOUNT_NS", "1");
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start("unshare", {geteuid() == 0 ? "-m" : "-rm", "--propagation", "private",
                                    QCoreApplication::applicationFilePath(), "fullDisk"});
            if (!child.waitForStarted())
                QSKIP("unshare is not available");
            QVERIFY(child.waitForFinished(120000));
            const QByteArray out = child.readAll();
            if (out.contains("SKIP   : TestInPlaceRecord::fullDisk"))
                QSKIP("no tmpfs can be mounted in a mount namespace here");
            if (child.exitCode() != 0 && out.contains("unshare:"))
                QSKIP("mount namespaces are not permitted here");
            QVERIFY2(child.exitCode() == 0, out.constData());
            return;
        }
        QTemporaryDir mountPoint;
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=256k", "vmmtest", mountPoint.path()}) != 0)
            QSKIP("tmpfs cannot be mounted");
        const QString path = mountPoint.filePath("rec");
        {
            InPlaceRecord r(path);
            QVERIFY(r.prepare());
            QFile filler(mountPoint.filePath("foreign"));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'f')) == 4096) {
            }
            filler.close();
            QVERIFY(filler.size() > 128 * 1024);   // the disk is full now
            for (const QByteArray& rec : {QByteArray("step=1\nfailed=3\n"), QByteArray(), QByteArray("step=2\n")})
                QVERIFY(r.write(rec));
        }
        QByteArray got;
        QCOMPARE(InPlaceRecord::read(path, &got), InPlaceRecord::State::Valid);
        QCOMPARE(got, QByteArray("step=2\n"));
        QCOMPARE(QProcess::execute("umount", {mountPoint.path()}), 0);
    }
};

QTEST_GUILESS_MAIN(TestInPlaceRecord)
#include "tst_inplacerecord.moc"
