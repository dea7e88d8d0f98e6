// The record rewritten in place: what a reader makes of each state of the
// file and of a write cut short. (A full disk: the program's kill test.)
#include "inplacerecord.h"
#include "testworkdir.h"

#include <QFile>
#include <QtTest>

#include <atomic>

namespace {
void writeAt(const QString& path, qint64 at, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.seek(at));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray bytesAt(const QString& path, qint64 at, int n)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(at))
        return QByteArray();
    return f.read(n);
}

// Slots as the earlier layout (two 512-byte slots in a 1 KiB file) holds
// them, byte for byte as that version wrote them: sequence 1 then 2.
QByteArray earlierSlot(int seq)
{
    QByteArray slot = seq == 1 ? QByteArray::fromHex("564d5231010000000f000000005627b3") + "cycle=1\nowed=1\n"
                               : QByteArray::fromHex("564d52310200000010000000cbfa7b5a") + "step=0\nfailed=1\n";
    return slot.leftJustified(512, '\0');
}
}  // namespace

class TestInPlaceRecord : public QObject {
    Q_OBJECT
private slots:
    // Each row: records written in order, then bytes of the file overwritten
    // (at -1: none); what a reader finds. Writes go to slot 0 (at 0) first,
    // then slot 1 (at 4096), and so on.
    void readerFinds_data()
    {
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<int>("spoilAt");
        QTest::addColumn<QByteArray>("spoil");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("payload");
        using S = InPlaceRecord::State;
        const QByteArray byte(1, char(0x5a));
        const QByteArray block(4096, '\0');
        QTest::newRow("as made") << QStringList{} << -1 << byte << int(S::Empty) << QByteArray();
        QTest::newRow("one record") << QStringList{"a=1"} << -1 << byte << int(S::Valid) << QByteArray("a=1");
        QTest::newRow("an empty record") << QStringList{"a=1", ""} << -1 << byte << int(S::Valid) << QByteArray();
        QTest::newRow("the newest of many") << QStringList{"1", "22", "333", "4444", "55555"} << -1 << byte
                                            << int(S::Valid) << QByteArray("55555");
        // What a write cut short was changing to is unknown: never the one
        // before, which may hold less.
        QTest::newRow("newest cut short") << QStringList{"old", "older?", "new"} << 16 << byte << int(S::Damaged)
                                          << QByteArray();
        QTest::newRow("the first write cut short") << QStringList{"first"} << 17 << byte << int(S::Damaged)
                                                   << QByteArray();
        QTest::newRow("garbage in a made file") << QStringList{} << 3 << byte << int(S::Damaged) << QByteArray();
        // A power cut on flash may zero a block: never read as empty.
        QTest::newRow("the newest block zeroed") << QStringList{"a", "b"} << 4096 << block << int(S::Damaged)
                                                 << QByteArray();
        QTest::newRow("the older block zeroed") << QStringList{"a", "b"} << 0 << block << int(S::Damaged)
                                                << QByteArray();
        QTest::newRow("a made file zeroed") << QStringList{} << 0 << block + block << int(S::Damaged)
                                            << QByteArray();
        QTest::newRow("a written file zeroed") << QStringList{"a"} << 0 << block + block << int(S::Damaged)
                                               << QByteArray();
    }
    void readerFinds()
    {
        QFETCH(QStringList, writes);
        QFETCH(int, spoilAt);
        QFETCH(QByteArray, spoil);
        QFETCH(int, state);
        QFETCH(QByteArray, payload);
        TestWorkDir wd;
        {
            InPlaceRecord r("rec");
            QVERIFY(r.prepare());
            for (const QString& w : writes)
                QVERIFY(r.write(w.toUtf8()));
        }
        QCOMPARE(QFileInfo("rec").size(), 8192);
        if (spoilAt >= 0)
            writeAt("rec", spoilAt, spoil);
        QByteArray got;
        QCOMPARE(int(InPlaceRecord::read("rec", &got)), state);
        QCOMPARE(got, payload);
        // A later writer continues after what it found: its record wins,
        // and a damaged file reads whole again.
        InPlaceRecord again("rec");
        QVERIFY(again.write("after"));
        QCOMPARE(int(InPlaceRecord::read("rec", &got)), int(InPlaceRecord::State::Valid));
        QCOMPARE(got, QByteArray("after"));
        QVERIFY(again.write("then"));
        QCOMPARE(int(InPlaceRecord::read("rec", &got)), int(InPlaceRecord::State::Valid));
        QCOMPARE(got, QByteArray("then"));
    }

    // Each slot in a 4 KiB block of its own: a write changes no byte of the
    // other block.
    void slotsInSeparateBlocks()
    {
        TestWorkDir wd;
        InPlaceRecord r("rec");
        QVERIFY(r.prepare());
        const QList<QByteArray> writes{"a=1", "b=2", "c=3", "d=4"};
        for (int i = 0; i < writes.size(); ++i) {
            const QByteArray before = bytesAt("rec", 0, 8192);
            QVERIFY(r.write(writes[i]));
            const QByteArray after = bytesAt("rec", 0, 8192);
            const int block = i % 2;   // the older slot's
            QCOMPARE(after.mid(4096 * (1 - block), 4096), before.mid(4096 * (1 - block), 4096));
            QCOMPARE(after.mid(4096 * block, 4), QByteArray("VMR1"));
            QCOMPARE(after.mid(4096 * block + 16, writes[i].size()), writes[i]);
        }
        QCOMPARE(bytesAt("rec", 0, 4), QByteArray("VMR1"));
        QCOMPARE(bytesAt("rec", 4096, 4), QByteArray("VMR1"));
    }

    // Stores that wait for no disk: one not yet synced is overwritten by the
    // next, the other block keeps the record the disk has; once synced (by
    // the writer or the record's own thread) the next goes to the other
    // block. "wX" write, "sX" store, "sync", "soon" (the record's thread
    // syncs); after each, the payloads of block 0 and block 1 ("-" empty).
    // A reader always finds the latest.
    void storesLeaveOneSlotUnsynced_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("blocks");
        QTest::newRow("writes alternate") << "wa wb wc" << "a- ab cb";
        QTest::newRow("stores before a sync share a block") << "wa sb sc sync sd" << "a- ab ac ac dc";
        QTest::newRow("the record's thread syncs") << "wa sb soon sc" << "a- ab ab cb";
    }
    void storesLeaveOneSlotUnsynced()
    {
        QFETCH(QString, script);
        QFETCH(QString, blocks);
        TestWorkDir wd;
        std::atomic<int> syncs{0};
        InPlaceRecord::setSyncSeam([&] { ++syncs; });
        const auto noSeam = qScopeGuard([] { InPlaceRecord::setSyncSeam(nullptr); });
        InPlaceRecord r("rec");
        QVERIFY(r.prepare());
        QStringList seen;
        QByteArray latest;
        for (const QString& e : script.split(' ')) {
            if (e == "sync") {
                QVERIFY(r.sync());
            } else if (e == "soon") {
                r.syncSoon();
                QTRY_VERIFY(r.allOnDisk());
                QCOMPARE(syncs.load(), 2);   // the write's and the thread's
            } else {
                latest = e.mid(1).toUtf8();
                QVERIFY(e[0] == 'w' ? r.write(latest) : r.store(latest, false));
            }
            QString both;
            for (int block : {0, 1}) {
                const QByteArray p = bytesAt("rec", 4096 * block + 16, 1);
                both += p == QByteArray(1, '\0') ? QStringLiteral("-") : QString::fromLatin1(p);
            }
            seen << both;
            QByteArray got;
            QCOMPARE(InPlaceRecord::read("rec", &got), InPlaceRecord::State::Valid);
            QCOMPARE(got, latest);
        }
        QCOMPARE(seen.join(' '), blocks);
    }

    // A file of the earlier layout (an upgrade): read as that version read
    // it (all zeros, as it made the file: its empty record), except that no
    // record beside a zeroed or torn slot is taken; made anew at the full
    // size, it holds what it held (or reads damaged) until the next write.
    void earlierLayout_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("payload");
        using S = InPlaceRecord::State;
        const QByteArray zeros(512, '\0');
        QByteArray torn = earlierSlot(2);
        torn[20] = 'X';
        QTest::newRow("two records") << earlierSlot(2) + earlierSlot(1) << int(S::Valid)
                                     << QByteArray("step=0\nfailed=1\n");
        QTest::newRow("one record") << zeros + earlierSlot(1) << int(S::Valid) << QByteArray("cycle=1\nowed=1\n");
        QTest::newRow("as made") << zeros + zeros << int(S::Empty) << QByteArray();
        QTest::newRow("the newest cut short") << torn + earlierSlot(1) << int(S::Damaged) << QByteArray();
        QTest::newRow("a record beside a zeroed slot") << earlierSlot(2) + zeros << int(S::Damaged) << QByteArray();
    }
    void earlierLayout()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, state);
        QFETCH(QByteArray, payload);
        TestWorkDir wd;
        writeAt("nglatch.dat", 0, content);
        QByteArray got;
        QCOMPARE(int(InPlaceRecord::read("nglatch.dat", &got)), state);
        QCOMPARE(got, payload);
        InPlaceRecord r("nglatch.dat");
        QVERIFY(r.prepare());
        QCOMPARE(QFileInfo("nglatch.dat").size(), 8192);
        got.clear();
        QCOMPARE(int(InPlaceRecord::read("nglatch.dat", &got)), state);
        QCOMPARE(got, payload);
        QVERIFY(r.write("x=1"));
        QCOMPARE(int(InPlaceRecord::read("nglatch.dat", &got)), int(InPlaceRecord::State::Valid));
        QCOMPARE(got, QByteArray("x=1"));
    }

    void badFilesAndRecords()
    {
        TestWorkDir wd;
        QByteArray got;
        QCOMPARE(InPlaceRecord::read("none", &got), InPlaceRecord::State::Missing);
        // A file of another size is no record; preparing replaces it whole,
        // and it still reads damaged until a record is written.
        QFile f("short");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x=1\n");
        f.close();
        QCOMPARE(InPlaceRecord::read("short", &got), InPlaceRecord::State::Damaged);
        InPlaceRecord r("short");
        QVERIFY(r.prepare());
        QCOMPARE(QFileInfo("short").size(), 8192);
        QCOMPARE(InPlaceRecord::read("short", &got), InPlaceRecord::State::Damaged);
        QVERIFY(!r.write(QByteArray(InPlaceRecord::kMaxPayload + 1, 'x')));
        QCOMPARE(InPlaceRecord::read("short", &got), InPlaceRecord::State::Damaged);
        QVERIFY(r.write(QByteArray(InPlaceRecord::kMaxPayload, 'x')));
        QCOMPARE(InPlaceRecord::read("short", &got), InPlaceRecord::State::Valid);
        QCOMPARE(got.size(), InPlaceRecord::kMaxPayload);
        // No folder to make it in: refused, not pretended.
        InPlaceRecord nowhere("no/such/folder/rec");
        QVERIFY(!nowhere.write("a"));
    }
};

QTEST_GUILESS_MAIN(TestInPlaceRecord)
#include "tst_inplacerecord.moc"
