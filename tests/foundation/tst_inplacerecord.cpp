// The record rewritten in place: what a reader makes of each state of the
// file and of a write cut short. (A full disk: the program's kill test.)
#include "inplacerecord.h"
#include "testworkdir.h"

#include <QFile>
#include <QtTest>

namespace {
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
};

QTEST_GUILESS_MAIN(TestInPlaceRecord)
#include "tst_inplacerecord.moc"
