// The tables the view looks functions and shapes up in: packed members
// stay apart and within range, the method button's cycle skips what is
// switched off, and each shape's entry acts on that shape's own data.
#include "cammersingleton.h"
#include "globals.h"
#include "roifunctions.h"
#include "roishapes.h"
#include "wizardpara.h"

#include <QtTest>

#include <climits>

namespace {
using P = RoiFunctions::Packing;
}

class TestRoiFunctions : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        gShowW = 1920;
        gShowH = 1080;
        gpWPara = new WizardPara;
    }
    void cleanup()
    {
        delete gpWPara;
        gpWPara = nullptr;
    }

    void members_data()
    {
        QTest::addColumn<int>("packing");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("withSecond7");   // value with its second member set to 7
        QTest::newRow("plain") << int(P::Plain) << 12800 << 12800 << 12800 << 7;
        QTest::newRow("bytes") << int(P::Bytes01) << 0x7f3250 << 0x50 << 0x32 << 0x7f0750;
        QTest::newRow("halves") << int(P::Halves) << 0x00640001 << 1 << 100 << 0x00070001;
    }
    void members()
    {
        QFETCH(int, packing);
        QFETCH(int, value);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, withSecond7);
        QCOMPARE(RoiFunctions::member(P(packing), value, false), first);
        QCOMPARE(RoiFunctions::member(P(packing), value, true), second);
        QCOMPARE(RoiFunctions::withMember(P(packing), value, true, 7), withSecond7);
    }

    // Another region follows the selected one's change member by member.
    void differences_data()
    {
        QTest::addColumn<int>("packing");
        QTest::addColumn<int>("other");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("snapshot");
        QTest::addColumn<int>("result");
        QTest::newRow("plain") << int(P::Plain) << 10 << 25 << 20 << 15;
        QTest::newRow("plain saturates") << int(P::Plain) << INT_MAX - 1 << 10 << 0 << INT_MAX;
        // Byte 0 down by 0x20 stops at 0 and never borrows from byte 1.
        QTest::newRow("bytes stay apart") << int(P::Bytes01) << 0x3010 << 0x4000 << 0x3020 << 0x4000;
        QTest::newRow("bytes top") << int(P::Bytes01) << 0xf0f0 << 0x2020 << 0x1010 << 0xffff;
        // An unchanged member keeps even an out-of-range value.
        QTest::newRow("halves") << int(P::Halves) << 0x0005fff0 << 0x00070020 << 0x00070010 << 0x0005ffff;
        QTest::newRow("halves low") << int(P::Halves) << 0x00010003 << 0x00030001 << 0x00010005 << 0x00030000;
    }
    void differences()
    {
        QFETCH(int, packing);
        QFETCH(int, other);
        QFETCH(int, current);
        QFETCH(int, snapshot);
        QFETCH(int, result);
        QCOMPARE(RoiFunctions::addDifference(P(packing), other, current, snapshot), result);
    }

    void methodCycle()
    {
        // Nothing switched on: no next method.
        QCOMPARE(RoiFunctions::nextEnabled(CammerRecong::kGreyTemplate), -1);
        gpWPara->words[RoiFunctions::info(CammerRecong::kDarkBlobs).switchWord] = 1;
        gpWPara->words[RoiFunctions::info(CammerRecong::kGreyBand).switchWord] = 1;
        QCOMPARE(RoiFunctions::nextEnabled(CammerRecong::kGreyTemplate), int(CammerRecong::kGreyBand));
        QCOMPARE(RoiFunctions::nextEnabled(CammerRecong::kGreyBand), int(CammerRecong::kDarkBlobs));
        QCOMPARE(RoiFunctions::nextEnabled(CammerRecong::kDarkBlobs), int(CammerRecong::kGreyBand));   // wraps
        // An unknown method reads as the grey template.
        QCOMPARE(RoiFunctions::nextEnabled(42), int(CammerRecong::kGreyBand));
        QVERIFY(!RoiFunctions::enabled(42) && !RoiFunctions::enabled(-1));
        for (int m = 0; m < RoiFunctions::kCount; ++m)
            QCOMPARE(int(RoiFunctions::info(m).function), m);
    }

    void shapes_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("objects");
        QTest::addColumn<QPoint>("corner");
        QTest::addColumn<bool>("pushedBack");   // moved past the edge: kept inside, else not moved
        QTest::newRow("rect") << int(RoiShape::Rect) << 2 << QPoint(100, 100) << true;
        QTest::newRow("polygon") << int(RoiShape::Polygon) << 4 << QPoint(100, 100) << false;
        QTest::newRow("circle") << int(RoiShape::Circle) << 3 << QPoint(100, 100) << true;
    }
    void shapes()
    {
        QFETCH(int, kind);
        QFETCH(int, objects);
        QFETCH(QPoint, corner);
        QFETCH(bool, pushedBack);
        CammerSingleton rec;
        const int g = 2, i = 5;
        rec.kind[g * CammerSingleton::kRois + i] = kind;
        rec.rect[g][i].rect = QRect(100, 100, 101, 101);
        rec.polygon[g][i].setPoints({QPoint(100, 100), QPoint(200, 100), QPoint(200, 200), QPoint(100, 200)});
        rec.circle[g][i].x = 150;
        rec.circle[g][i].y = 150;
        rec.circle[g][i].r = 50;
        rec.circle[g][i].UpdateRect();
        rec.circle[g][i].UpdateAll();

        const RoiShapes::Ops* ops = RoiShapes::of(rec, g, i);
        QVERIFY(ops);
        QCOMPARE(ops->shape, kind);
        const cv::Mat mask = ops->renew(rec, g, i, 0.5f, 0.5f);   // the picture is twice the full view
        const QRect img = ops->imageRect(rec, g, i);
        QVERIFY(img.left() >= 199 && img.left() <= 201 && img.width() >= 199 && img.width() <= 203);
        QCOMPARE(mask.cols, img.width());
        QCOMPARE(mask.rows, img.height());
        QVERIFY(ops->contains(rec, g, i, QPoint(150, 150)));
        QVERIFY(!ops->contains(rec, g, i, QPoint(30, 30)));
        QPoint at;
        QVERIFY(ops->labelCorner(rec, g, i, &at));
        QCOMPARE(at, corner);
        QCOMPARE(ops->objects(rec, g, i), objects);
        // Selecting acts on this shape only.
        ops->select(rec, g, i, true);
        QVERIFY(ops->selected(rec, g, i));
        const int selectedShapes = int(rec.rect[g][i].IsSelected()) + int(rec.polygon[g][i].IsSelected()) +
                                   int(rec.circle[g][i].IsSelected());
        QCOMPARE(selectedShapes, 1);

        // Moving: by a step, then past the view's left edge.
        QVERIFY(ops->moveBy(rec, g, i, QPoint(10, 5)));
        QVERIFY(ops->labelCorner(rec, g, i, &at));
        QCOMPARE(at, corner + QPoint(10, 5));
        QCOMPARE(ops->moveBy(rec, g, i, QPoint(-500, 0)), pushedBack);
        QVERIFY(ops->labelCorner(rec, g, i, &at));
        if (pushedBack)
            QVERIFY(at.x() >= 3 && at.x() < 10);   // within the view's 3-pixel margin
        else
            QCOMPARE(at.x(), corner.x() + 10);
        QCOMPARE(at.y(), corner.y() + 5);
    }

    void noShape()
    {
        CammerSingleton rec;
        QVERIFY(!RoiShapes::of(RoiShape::None));
        QVERIFY(!RoiShapes::of(3));
        QVERIFY(!RoiShapes::of(rec, 0, 0));   // an empty slot
        rec.kind[0] = RoiShape::Rect;
        QVERIFY(RoiShapes::of(rec, 0, 0));
        QVERIFY(!RoiShapes::of(rec, 0, CammerSingleton::kRois));
        QVERIFY(!RoiShapes::of(rec, CammerSingleton::kSteps, 0));
    }
};

QTEST_MAIN(TestRoiFunctions)
#include "tst_roifunctions.moc"
