// The ring of recent NG pictures on its own: it keeps the last ten of a
// step, oldest overwritten, captions beside them, and a step given back
// starts afresh without touching the others.
#include "ngpicturering.h"

#include <QtTest>

#include <algorithm>
#include <vector>

class TestNgPictureRing : public QObject {
    Q_OBJECT

private slots:
    void keepsTheLastTen()
    {
        NgPictureRing ring;
        const int bytes = 16;
        for (int n = 0; n < 12; ++n) {
            const std::vector<uchar> frame(bytes, uchar(100 + n));
            QVERIFY(ring.keep(3, frame.data(), bytes, QStringLiteral("t%1").arg(n)));
        }
        QCOMPARE(ring.count(3), 12);
        QCOMPARE(ring.held(3), NgPictureRing::kPictures);
        // Slots 0 and 1 took the 11th and 12th picture; 2..9 still hold theirs.
        const int expected[NgPictureRing::kPictures] = {110, 111, 102, 103, 104, 105, 106, 107, 108, 109};
        for (int k = 0; k < NgPictureRing::kPictures; ++k) {
            QVERIFY(ring.recent(3, k));
            QCOMPARE(int(ring.recent(3, k)[bytes - 1]), expected[k]);
            QCOMPARE(ring.caption(3, k), QStringLiteral("t%1").arg(expected[k] - 100));
        }
        QCOMPARE(ring.count(2), 0);
        QVERIFY(!ring.recent(2, 0));
    }

    void slotsMadeOnFirstUse()
    {
        NgPictureRing ring;
        QVERIFY(!ring.recent(1, 4));
        uchar* p = ring.picture(1, 4, 8);
        QVERIFY(p);
        QCOMPARE(std::count(p, p + 8, uchar(0)), 8L);   // zeroed
        QCOMPARE(ring.picture(1, 4, 8), p);             // and kept
        QCOMPARE(ring.recent(1, 4), p);
        QCOMPARE(ring.count(1), 0);                      // made is not written
    }

    void outsideTheRing_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("bytes");
        QTest::newRow("step below") << -1 << 0 << 8;
        QTest::newRow("step above") << kMaxDetect << 0 << 8;
        QTest::newRow("slot below") << 0 << -1 << 8;
        QTest::newRow("slot above") << 0 << NgPictureRing::kPictures << 8;
        QTest::newRow("no bytes") << 0 << 0 << 0;
    }
    void outsideTheRing()
    {
        QFETCH(int, step);
        QFETCH(int, slot);
        QFETCH(int, bytes);
        NgPictureRing ring;
        QVERIFY(!ring.picture(step, slot, bytes));
        QVERIFY(!ring.recent(step, slot));
        QVERIFY(ring.caption(step, slot).isEmpty());
        // Keeping writes slot 0: only the rows about steps and bytes apply.
        const uchar frame[8] = {};
        if (slot == 0)
            QVERIFY(!ring.keep(step, frame, bytes, QStringLiteral("x")));
    }

    void browsing_data()
    {
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("dir");
        QTest::addColumn<int>("to");
        QTest::newRow("empty") << 0 << 3 << 1 << 0;
        QTest::newRow("next") << 4 << 1 << 1 << 2;
        QTest::newRow("next wraps") << 4 << 3 << 1 << 0;
        QTest::newRow("back wraps") << 4 << 0 << -1 << 3;
        QTest::newRow("back from past the end") << 4 << 7 << -1 << 3;
        QTest::newRow("full ring wraps at ten") << 12 << 9 << 1 << 0;
    }
    void browsing()
    {
        QFETCH(int, written);
        QFETCH(int, from);
        QFETCH(int, dir);
        QFETCH(int, to);
        NgPictureRing ring;
        const uchar frame[2] = {};
        for (int n = 0; n < written; ++n)
            QVERIFY(ring.keep(6, frame, 2, QString()));
        ring.show(from);
        ring.browse(6, dir);
        QCOMPARE(ring.shown(), to);
    }

    void releaseStartsAfresh()
    {
        NgPictureRing ring;
        const uchar frame[4] = {1, 2, 3, 4};
        QVERIFY(ring.keep(0, frame, 4, QStringLiteral("a")));
        QVERIFY(ring.keep(5, frame, 4, QStringLiteral("b")));
        ring.release(0);
        QCOMPARE(ring.count(0), 0);
        QVERIFY(!ring.recent(0, 0));
        QVERIFY(ring.caption(0, 0).isEmpty());
        QCOMPARE(ring.count(5), 1);    // another step keeps its picture
        QCOMPARE(ring.caption(5, 0), QStringLiteral("b"));
        QVERIFY(!ring.keep(0, nullptr, 4, QStringLiteral("c")));
        QCOMPARE(ring.count(0), 0);
    }
};

QTEST_MAIN(TestNgPictureRing)
#include "tst_ngpicturering.moc"
