// ROI editing by touch on the template picture: gestures through the window
// with a hand-set clock and scripted boxes.
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "editsession.h"
#include "globals.h"
#include "lanstr.h"
#include "statewindow.h"
#include "viewrig.h"

#include <QtTest>

#include <random>
#include <vector>

using rig::ViewEnv;
using rig::checkInvariants;

class TestRoiEdit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("VMM_TARGET", "0"); }

    void drawShape_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<bool>("kept");
        QTest::newRow("rectangle") << 1 << QPoint(100, 100) << QPoint(300, 260) << true;
        QTest::newRow("rectangle up and left") << 1 << QPoint(300, 260) << QPoint(100, 100) << false;
        QTest::newRow("rectangle 10 px") << 1 << QPoint(100, 100) << QPoint(110, 110) << true;
        QTest::newRow("rectangle 9 px wide") << 1 << QPoint(100, 100) << QPoint(109, 200) << false;
        QTest::newRow("rectangle 9 px high") << 1 << QPoint(100, 100) << QPoint(200, 109) << false;
        QTest::newRow("circle") << 4 << QPoint(400, 400) << QPoint(500, 500) << true;
        QTest::newRow("circle 10 px") << 4 << QPoint(400, 400) << QPoint(410, 410) << true;
        QTest::newRow("circle 9 px") << 4 << QPoint(400, 400) << QPoint(409, 480) << false;
    }

    void drawShape()
    {
        QFETCH(int, mode);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(bool, kept);
        ViewEnv env;
        EditSession::get().setDrawMode(mode);
        env.drag(from, to);
        QCOMPARE(env.count(), kept ? 1 : 0);
        QCOMPARE(EditSession::get().drawMode(), 0);   // one shape per button press without tap drawing
        QCOMPARE(env.view->editor()->action(), 0);
        QVERIFY(!env.view->editor()->dragging());
        if (!kept) {
            QCOMPARE(env.view->editor()->current(), -1);
            return;
        }
        QCOMPARE(env.view->editor()->current(), 0);
        const CammerSingleton& rec = env.edit();
        QCOMPARE(rec.kind[0], mode);
        QRect img;
        if (mode == 1) {
            QCOMPARE(rec.rect[0][0].rect, QRect(from, to));
            QVERIFY(rec.rect[0][0].IsSelected());
            img = rec.rect[0][0].imgRect;
        } else {
            const Circle& c = rec.circle[0][0];
            QCOMPARE(c.rect.topLeft(), from);
            QCOMPARE(c.r, std::min(to.x() - from.x() + 1, to.y() - from.y() + 1) / 2);
            img = c.imgRect;
        }
        // The picture is a quarter of the view in each direction.
        QCOMPARE(img.left(), qRound(from.x() / 4.0));
        QCOMPARE(env.view->editMasks[0][0].cols, img.width());
        QCOMPARE(env.view->editMasks[0][0].rows, img.height());
        QCOMPARE(rec.method[0], 0);
        QCOMPARE(rec.p1[0], 45);
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    void rectangleAsPolygonAndParameters()
    {
        ViewEnv env;
        env.word(163) = 1;   // rectangles are stored as polygons
        env.word(140) = 1;   // first ROI of a step takes method 1
        env.word(162) = 1;   // tap drawing: the mode stays
        EditSession::get().setDrawMode(1);
        env.drag(QPoint(100, 100), QPoint(200, 180));
        env.drag(QPoint(300, 300), QPoint(400, 380));
        QCOMPARE(env.count(), 2);
        QCOMPARE(EditSession::get().drawMode(), 1);
        const CammerSingleton& rec = env.edit();
        QCOMPARE(rec.kind[0], 2);
        QCOMPARE(rec.polygon[0][0].pts,
                 (QVector<QPoint>{{100, 100}, {200, 100}, {200, 180}, {100, 180}}));
        QVERIFY(!rec.polygon[0][0].getHand());
        QCOMPARE(rec.method[0], 1);
        QCOMPARE(rec.p3[0], 12800);
        // The second copies the first one's parameters.
        QCOMPARE(rec.method[1], 1);
        QCOMPARE(rec.p2[1], 500);
        QCOMPARE(env.view->editor()->current(), 1);
        QVERIFY(!rec.polygon[0][0].IsSelected());
        QVERIFY(rec.polygon[0][1].IsSelected());
    }

    void hundredFirstRoiRefused_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("drawing") << "draw";
        QTest::newRow("polygon closing") << "polygon";
        QTest::newRow("copying") << "copy";
    }

    void hundredFirstRoiRefused()
    {
        QFETCH(QString, how);
        ViewEnv env;
        for (int i = 0; i < 100; ++i)
            env.addRect(0, QRect(10 + i, 10, 40, 40));
        const QString full = lanStr(36);
        if (how == "draw") {
            EditSession::get().setDrawMode(1);
            env.drag(QPoint(400, 400), QPoint(600, 600));
        } else if (how == "polygon") {
            env.word(162) = 1;
            EditSession::get().setDrawMode(2);
            env.tap(QPoint(400, 400));
            env.tap(QPoint(600, 400));
            env.tap(QPoint(600, 600));
            env.tap(QPoint(400, 600));
            env.tap(QPoint(402, 602), 300);   // double press closes
        } else {
            env.answers = {true};
            EditSession::get().setCopyArea(true);
            env.tap(QPoint(700, 700));
            QCOMPARE(env.questions.size(), 1);
        }
        QCOMPARE(env.count(), 100);
        QCOMPARE(env.warnings, QStringList{full});
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    void polygonDoublePress_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("dx");
        QTest::addColumn<bool>("closed");
        QTest::newRow("799 ms, 19 px") << 799 << 19 << true;
        QTest::newRow("800 ms") << 800 << 0 << false;
        QTest::newRow("20 px") << 100 << 20 << false;
        QTest::newRow("-19 px") << 100 << -19 << true;
    }

    void polygonDoublePress()
    {
        QFETCH(int, gapMs);
        QFETCH(int, dx);
        QFETCH(bool, closed);
        ViewEnv env;
        env.word(162) = 1;
        EditSession::get().setDrawMode(2);
        const QVector<QPoint> pts{{300, 300}, {600, 300}, {600, 600}};
        for (const QPoint& p : pts)
            env.tap(p);
        env.tap(QPoint(450, 700));
        env.tap(QPoint(450 + dx, 700), gapMs);
        if (!closed) {
            QCOMPARE(env.count(), 0);
            QCOMPARE(env.view->editor()->polygonPointCount(), 5);
            QCOMPARE(env.endCalls[2], 0);
            return;
        }
        QCOMPARE(env.endCalls[2], 1);
        QCOMPARE(env.count(), 1);
        // The pair's first press is no corner.
        QCOMPARE(env.edit().polygon[0][0].pts, pts);
        QCOMPARE(env.edit().kind[0], 2);
        // The closing press selects the stored polygon; drawing goes on.
        QCOMPARE(env.view->editor()->current(), 0);
        QVERIFY(env.edit().polygon[0][0].IsSelected());
        QCOMPARE(env.view->editor()->polygonPointCount(), 0);
        QCOMPARE(EditSession::get().drawMode(), 2);
        QVERIFY(env.startPolygonCalls >= 3);
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    // Continuous drawing off (the default): taps 150-800 ms apart on
    // separate spots each add their point; a double tap on one spot (Qt
    // hands its second press on as a double click) adds one, not two.
    void polygonOnePointPerTap()
    {
        ViewEnv env;
        EditSession::get().setDrawMode(2);
        const QVector<QPoint> spots{{300, 300}, {600, 300}, {650, 600}, {450, 700}, {300, 650}};
        const int gaps[] = {1000, 150, 800, 400, 250};
        for (int k = 0; k < spots.size(); ++k) {
            env.tap(spots[k], gaps[k]);
            if (k == 2)
                env.tap(spots[k] + QPoint(3, 2), 120);
        }
        QCOMPARE(env.view->editor()->polygonPointCount(), spots.size());
        const QPoint* pts = env.view->editor()->polygonPoints();
        for (int a = 0; a < spots.size(); ++a)
            for (int b = a + 1; b < spots.size(); ++b)
                QVERIFY2((pts[a] - pts[b]).manhattanLength() > 20, qPrintable(QStringLiteral("%1 %2").arg(a).arg(b)));
        QCOMPARE(env.endCalls[2], 0);
        QCOMPARE(env.count(), 0);
    }

    // With continuous drawing the closing pair is timed by when the taps
    // were made, whenever the program reads them.
    void polygonPairTimedByTheTaps_data()
    {
        QTest::addColumn<int>("madeMs");   // second tap after the first
        QTest::addColumn<int>("readMs");   // read after the first was read
        QTest::addColumn<bool>("closed");
        QTest::newRow("made 300 ms apart, read 1.8 s apart") << 300 << 1800 << true;
        QTest::newRow("made 900 ms apart, read 100 ms apart") << 900 << 100 << false;
    }

    void polygonPairTimedByTheTaps()
    {
        QFETCH(int, madeMs);
        QFETCH(int, readMs);
        QFETCH(bool, closed);
        ViewEnv env;
        env.word(162) = 1;
        EditSession::get().setDrawMode(2);
        for (const QPoint& p : {QPoint(300, 300), QPoint(600, 300), QPoint(600, 600)})
            env.tap(p);
        // How late the program reads the tap being made.
        int lag = std::max(0, madeMs - readMs);
        CammerWidget::clock = [&env, &lag] { return env.now + lag; };
        env.tap(QPoint(450, 700));
        lag = std::max(0, readMs - madeMs);
        env.tap(QPoint(452, 702), madeMs);
        QCOMPARE(env.endCalls[2], closed ? 1 : 0);
        QCOMPARE(env.count(), closed ? 1 : 0);
    }

    void aDoubleClickActsOnce_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("rectangle") << 1;
        QTest::newRow("polygon") << 2;
    }

    void aDoubleClickActsOnce()
    {
        QFETCH(int, mode);
        ViewEnv env;
        env.word(162) = 1;
        EditSession::get().setDrawMode(mode);
        if (mode == 2) {
            env.tap(QPoint(300, 300));
            env.tap(QPoint(600, 300));
            env.tap(QPoint(600, 600));
        }
        // A quick double tap through the window: the second press made
        // right after the first, which Qt hands on as a double click alone.
        const QPoint at(450, 700);
        env.tap(at);
        QTest::lastMouseTimestamp -= QTest::mouseDoubleClickInterval;
        env.tap(at, 150);
        QCOMPARE(env.endCalls[mode], 1);
        if (mode == 2) {
            QCOMPARE(env.count(), 1);
            QCOMPARE(env.edit().polygon[0][0].count(), 3);
            QCOMPARE(env.view->editor()->polygonPointCount(), 0);
        } else {
            QCOMPARE(env.count(), 0);
            QCOMPARE(EditSession::get().drawMode(), 0);
        }
    }

    void doublePressesThatCloseNothing()
    {
        ViewEnv env;
        env.word(162) = 1;
        EditSession::get().setDrawMode(2);
        // Triple and quadruple taps on an empty step.
        for (int k = 0; k < 4; ++k)
            env.tap(QPoint(500, 500), k == 0 ? 1000 : 100);
        QCOMPARE(env.count(), 0);
        QCOMPARE(env.view->editor()->current(), -1);
        QVERIFY(!env.view->editor()->polygonJustClosed());
        QCOMPARE(checkInvariants(*env.view, 0), QString());
        // With an ROI in the step, a double press that stored nothing does
        // not select it either.
        env.view->editor()->forgetPolygonPoints();
        env.addRect(0, QRect(50, 50, 100, 100));
        env.tap(QPoint(800, 800));
        env.tap(QPoint(801, 801), 100);
        QCOMPARE(env.count(), 1);
        QCOMPARE(env.view->editor()->current(), -1);
        QVERIFY(!env.edit().rect[0][0].IsSelected());
        // A triangle closed by a double press, then a third quick tap: the
        // tap that selected the polygon added no point, so there is none to
        // drop.
        env.view->editor()->forgetPolygonPoints();
        EditSession::get().setDrawMode(2);
        for (const QPoint& p : {QPoint(300, 300), QPoint(600, 300), QPoint(600, 600), QPoint(450, 700)})
            env.tap(p);
        env.tap(QPoint(452, 702), 100);
        QCOMPARE(env.count(), 2);
        env.tap(QPoint(452, 702), 100);
        QCOMPARE(env.view->editor()->polygonPointCount(), 0);
        QCOMPARE(env.count(), 2);
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    void pointLimitOfAPolygon()
    {
        ViewEnv env;
        EditSession::get().setDrawMode(2);
        for (int k = 0; k < 8096; ++k)
            env.tap(QPoint(10 + k % 1200, 10 + (k / 1200) * 100));
        QCOMPARE(env.view->editor()->polygonPointCount(), 8096);
        QVERIFY(env.warnings.isEmpty());
        env.tap(QPoint(700, 900));
        QCOMPARE(env.warnings, QStringList{lanStr(35)});
        QCOMPARE(env.view->editor()->polygonPointCount(), 8095);
        env.tap(QPoint(700, 950));
        QCOMPARE(env.view->editor()->polygonPointCount(), 8096);
        QCOMPARE(env.view->editor()->polygonPoints()[8095], QPoint(700, 950));
        // Stored with at most 8095 points.
        env.view->editor()->savePolygon();
        QCOMPARE(env.count(), 1);
        QCOMPARE(env.edit().polygon[0][0].count(), 8095);
        QCOMPARE(env.view->editor()->polygonPointCount(), 0);
        QCOMPARE(EditSession::get().drawMode(), 0);
    }

    void freeHandPolygon_data()
    {
        QTest::addColumn<int>("moves");
        QTest::addColumn<bool>("kept");
        QTest::newRow("5 points") << 5 << false;
        QTest::newRow("6 points") << 6 << true;
    }

    void freeHandPolygon()
    {
        QFETCH(int, moves);
        QFETCH(bool, kept);
        ViewEnv env;
        EditSession::get().setDrawMode(2);
        EditSession::get().setHandDraw(true);
        env.press(QPoint(400, 400));
        for (int k = 0; k < moves; ++k)
            env.move(QPoint(400 + 40 * k, 400 + (k % 2) * 60));
        env.release(QPoint(400 + 40 * moves, 400));
        QCOMPARE(env.count(), kept ? 1 : 0);
        QCOMPARE(EditSession::get().drawMode(), 0);
        QCOMPARE(env.view->editor()->polygonPointCount(), 0);
        QVERIFY(!env.view->editor()->polygonUnderWay());
        if (kept) {
            QCOMPARE(env.edit().polygon[0][0].count(), moves);
            QVERIFY(env.edit().polygon[0][0].getHand());
        }
        QCOMPARE(env.startPolygonCalls, 0);
    }

    void moveAgainstTheBorder_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("rectangle slides") << 1;
        QTest::newRow("circle slides") << 4;
        QTest::newRow("polygon stops") << 2;
    }

    void moveAgainstTheBorder()
    {
        QFETCH(int, kind);
        ViewEnv env;
        if (kind == 1)
            env.addRect(0, QRect(QPoint(100, 400), QPoint(299, 599)));
        else if (kind == 4)
            env.addCircle(0, QPoint(200, 500), 100);
        else
            env.addPolygon(0, {{100, 400}, {300, 400}, {300, 600}, {100, 600}});
        const CammerSingleton& rec = env.edit();
        QRect before = rec.rect[0][0].rect;
        if (kind == 4)
            before = rec.circle[0][0].rect;
        // Grab it in the middle and push it 300 px left and 100 px up.
        env.press(QPoint(200, 500));
        QCOMPARE(env.view->editor()->current(), 0);
        QCOMPARE(env.view->editor()->action(), 2);
        env.move(QPoint(110, 450));
        env.move(QPoint(-100, 400));
        env.release(QPoint(-100, 400));
        if (kind == 2) {
            // The first move (90 left, 50 up) was fine; the second would
            // leave the view, so no point moves at all.
            QCOMPARE(rec.polygon[0][0].pts, (QVector<QPoint>{{10, 350}, {210, 350}, {210, 550}, {10, 550}}));
        } else {
            const QRect now = kind == 1 ? rec.rect[0][0].rect : rec.circle[0][0].rect;
            QCOMPARE(now.left(), 3);
            QCOMPARE(now.size(), before.size());
            QCOMPARE(now.top(), before.top() - 100);
        }
        QCOMPARE(env.view->editor()->action(), 0);
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    void polygonMoveRefusedAtTheBorder()
    {
        ViewEnv env;
        env.addPolygon(0, {{100, 400}, {300, 400}, {300, 600}, {100, 600}});
        const QVector<QPoint> before = env.edit().polygon[0][0].pts;
        env.press(QPoint(200, 500));
        env.move(QPoint(0, 500));     // 100 past the margin: refused
        QCOMPARE(env.edit().polygon[0][0].pts, before);
        env.move(QPoint(110, 500));   // 90 left from the grab point: fine
        env.release(QPoint(110, 500));
        QCOMPARE(env.edit().polygon[0][0].pts.first(), QPoint(10, 400));
        QCOMPARE(env.edit().polygon[0][0].imgRect.left(), 2);   // 2.5 rounds to even
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    void smallMovesAndResize()
    {
        ViewEnv env;
        env.addRect(0, QRect(QPoint(400, 400), QPoint(599, 599)));
        ClustomRect& r = env.edit().rect[0][0];
        // Under three picture pixels (12 view pixels here) nothing moves.
        env.press(QPoint(500, 500));
        env.move(QPoint(511, 511));
        QCOMPARE(r.rect.topLeft(), QPoint(400, 400));
        env.move(QPoint(512, 500));
        QCOMPARE(r.rect.topLeft(), QPoint(412, 400));
        env.release(QPoint(512, 500));
        QCOMPARE(r.imgRect.left(), 103);
        QCOMPARE(env.view->editMasks[0][0].cols, r.imgRect.width());
        // The bottom-right handle resizes; dragged past the view it is held
        // inside.
        env.press(QPoint(611, 599));
        QCOMPARE(env.view->editor()->action(), 3);
        QCOMPARE(env.view->editor()->handle(), 4);
        env.move(QPoint(700, 700));
        env.move(QPoint(1400, 1100));
        env.release(QPoint(1400, 1100));
        QCOMPARE(r.rect.bottomRight(), QPoint(gShowW - 3, gShowH - 3));
        QCOMPARE(r.rect.topLeft(), QPoint(412, 400));
        // A press outside deselects and remembers the ROI for copying.
        env.tap(QPoint(100, 100));
        QCOMPARE(env.view->editor()->current(), -1);
        QCOMPARE(env.view->editor()->previous(), 0);
        QVERIFY(!r.IsSelected());
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    void deleteKeepsOrder()
    {
        ViewEnv env;
        for (int i = 0; i < 5; ++i) {
            env.addRect(0, QRect(20 + 150 * i, 300, 100, 100), 0, 10 + i);
            env.edit().outputNo[i] = i % 4;
        }
        uchar* ignore = env.view->ignoreMask[0];
        // Ignored points inside ROI 3 (picture pixels 80..104) and outside it.
        ignore[80 * 320 + 85] = 255;
        ignore[80 * 320 + 20] = 255;
        env.view->editor()->deleteRoi(2);
        QCOMPARE(env.count(), 4);
        const CammerSingleton& rec = env.edit();
        QCOMPARE((QVector<int>{rec.p1[0], rec.p1[1], rec.p1[2], rec.p1[3]}), (QVector<int>{10, 11, 13, 14}));
        QCOMPARE((QVector<int>{rec.outputNo[2], rec.outputNo[3]}), (QVector<int>{3, 0}));
        QCOMPARE(rec.rect[0][2].rect.left(), 470);
        QCOMPARE(env.view->editMasks[0][2].cols, rec.rect[0][2].imgRect.width());
        QCOMPARE(int(ignore[80 * 320 + 85]), 0);
        QCOMPARE(int(ignore[80 * 320 + 20]), 255);
        // Indexes at or past the count, or negative, delete nothing.
        env.view->editor()->deleteRoi(4);
        env.view->editor()->deleteRoi(-1);
        env.view->editor()->deleteRoi(100);
        QCOMPARE(env.count(), 4);
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    void deleteWithARectanglePastThePicture()
    {
        ViewEnv env;
        env.addRect(0, QRect(100, 100, 100, 100));
        // A damaged picture rectangle reaching far outside the picture.
        env.edit().rect[0][0].imgRect = QRect(-50, -50, 2000, 2000);
        std::fill_n(env.view->ignoreMask[0], 320 * 256, uchar(255));
        env.view->editor()->deleteRoi(0);
        QCOMPARE(env.count(), 0);
        QCOMPARE(std::count(env.view->ignoreMask[0], env.view->ignoreMask[0] + 320 * 256, uchar(255)), 0L);
    }

    void copyCentresOnThePress_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QRect>("expected");   // full-view rectangle or polygon bounds
        QTest::newRow("rectangle") << 1 << QPoint(800, 600) << QRect(QPoint(751, 561), QPoint(850, 640));
        QTest::newRow("rectangle at the border") << 1 << QPoint(1270, 20) << QRect(QPoint(gShowW - 102, 3), QPoint(gShowW - 3, 82));
        QTest::newRow("polygon") << 2 << QPoint(800, 600) << QRect();
    }

    void copyCentresOnThePress()
    {
        QFETCH(int, kind);
        QFETCH(QPoint, at);
        QFETCH(QRect, expected);
        ViewEnv env;
        if (kind == 1)
            env.addRect(0, QRect(QPoint(100, 100), QPoint(199, 179)), 5, 7, 8, 9);
        else
            env.addPolygon(0, {{100, 100}, {300, 120}, {200, 300}}, 5);
        env.edit().outputNo[0] = 2;
        env.view->editor()->select(0);
        EditSession::get().setCopyArea(true);
        env.answers = {false, true};
        env.tap(at);   // refused: nothing
        QCOMPARE(env.count(), 1);
        QVERIFY(!EditSession::get().copyArea());   // one copy per button press without the copy toggle
        env.word(164) = 1;
        EditSession::get().setCopyArea(true);
        env.tap(at);
        QVERIFY(EditSession::get().copyArea());
        QCOMPARE(env.questions, (QStringList{lanStr(38), lanStr(38)}));
        QCOMPARE(env.count(), 2);
        const CammerSingleton& rec = env.edit();
        QCOMPARE(rec.kind[1], kind);
        QCOMPARE((QVector<int>{rec.method[1], rec.outputNo[1]}), (QVector<int>{5, 2}));
        if (kind == 1) {
            QCOMPARE(rec.rect[0][1].rect, expected);
            QCOMPARE(rec.p1[1], 7);
            QVERIFY(rec.rect[0][1].IsSelected());
            QVERIFY(!rec.rect[0][0].IsSelected());
        } else {
            QCOMPARE(rec.polygon[0][1].pts, (QVector<QPoint>{at, at + QPoint(200, 20), at + QPoint(100, 200)}));
        }
        QCOMPARE(env.view->editor()->current(), 1);
        QCOMPARE(env.view->roiValue[0][1], 0);
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    void tiledViewPressChoosesTheCamera()
    {
        ViewEnv env;
        EditSession::get().setCurrentCamera(numCamera);   // all cameras tiled
        EditSession::get().setDrawMode(1);
        env.drag(QPoint(100, 100), QPoint(300, 300));
        QCOMPARE(EditSession::get().currentCamera(), 0);
        QCOMPARE(env.count(), 0);   // the press only chose the camera
    }

    void nextRoiWalksOverlappingRois()
    {
        ViewEnv env;
        env.addRect(0, QRect(100, 100, 300, 300));
        env.addRect(0, QRect(600, 600, 100, 100));
        env.addRect(0, QRect(200, 200, 300, 300));
        env.tap(QPoint(300, 300));
        QCOMPARE(env.view->editor()->current(), 0);
        env.view->editor()->nextRoi();
        QCOMPARE(env.view->editor()->current(), 2);
        env.view->editor()->nextRoi();
        QCOMPARE(env.view->editor()->current(), 0);
        QVERIFY(env.edit().rect[0][0].IsSelected());
        QVERIFY(!env.edit().rect[0][2].IsSelected());
        QCOMPARE(checkInvariants(*env.view, 0), QString());
    }

    void objectIndexAndEmptyPolygon()
    {
        ViewEnv env;
        env.addPolygon(0, {{100, 100}, {300, 120}, {200, 300}});
        env.view->editor()->select(0);
        for (int k = 0; k < 3; ++k)
            env.view->editor()->nextObject();
        QCOMPARE(env.view->editor()->object(), 0);
        // A polygon that lost its points never divides by zero.
        env.view->editor()->nextObject();
        env.view->editor()->nextObject();
        QCOMPARE(env.view->editor()->object(), 2);
        env.edit().polygon[0][0].pts.clear();
        env.view->editor()->nextObject();
        QCOMPARE(env.view->editor()->object(), 0);
        env.view->editor()->forgetPolygonPoints();
        QCOMPARE(env.view->editor()->polygonCentre(), QPoint());
    }

    void moveButtonsAndMasks()
    {
        ViewEnv env;
        env.addRect(0, QRect(100, 100, 100, 100));
        env.addPolygon(0, {{3, 500}, {300, 500}, {200, 700}});
        env.addRect(0, QRect(600, 600, 100, 100));
        env.view->editor()->select(0);
        env.view->editor()->nextMoveMode();
        env.view->editor()->nextMoveMode();   // every region
        env.view->editor()->moveBy(1, 0);   // all three move right
        QCOMPARE(env.edit().rect[0][0].rect.left(), 101);
        QCOMPARE(env.edit().polygon[0][1].pts.first(), QPoint(4, 500));
        QCOMPARE(env.edit().rect[0][2].rect.left(), 601);
        env.view->editor()->moveBy(-1, 0);
        env.view->editor()->moveBy(-1, 0);  // the polygon would leave: the walk stops there
        QCOMPARE(env.edit().polygon[0][1].pts.first(), QPoint(3, 500));
        QCOMPARE(env.edit().rect[0][0].rect.left(), 99);
        QCOMPARE(env.edit().rect[0][2].rect.left(), 600);
        env.view->editor()->nextMoveMode();   // back to none
        env.view->editor()->select(2);
        env.view->editor()->moveBy(0, 1);
        QCOMPARE(env.edit().rect[0][2].rect.top(), 601);
        // The masks follow to the live set and back.
        env.view->RestorMask();
        QCOMPARE(env.view->liveMasks[0][2].cols, env.view->editMasks[0][2].cols);
        env.view->editMasks[0][2] = cv::Mat();
        env.view->BackMask();
        QVERIFY(!env.view->editMasks[0][2].empty());
    }

    void pictureReadoutFollowsZoomAndWindowScale()
    {
        ViewEnv env;
        env.view->resize(640, 512);   // window scale 0.5
        EditSession::get().setZoom(2.0);
        EditSession::get().setPan(-100, -50);
        std::vector<uchar> shown(320 * 256, uchar(7));
        shown[60 * 320 + 50] = 200;
        env.view->showPicture(shown.data());
        // Widget (100, 70): full view ((100 + 100) / 2 / 0.5, (70 + 50) / 2 / 0.5) = (200, 120),
        // picture (50, 30).
        env.view->MUpdateXYV(100, 70);
        QCOMPARE(EditSession::get().pickX(), 50);
        QCOMPARE(EditSession::get().pickY(), 30);
        env.view->MUpdateXYV(100, 190);
        QCOMPARE(EditSession::get().pickY(), 60);
        QCOMPARE(EditSession::get().pickValue(), 200);
        // A rectangle drawn there is hit by a press at the same place.
        env.addRect(0, QRect(QPoint(200, 200), QPoint(400, 400)));
        const QPoint onScreen = env.view->viewTransform().map(QPoint(300, 300));
        env.tap(onScreen);
        QCOMPARE(env.view->editor()->current(), 0);
    }

    void panWhileZoomed()
    {
        ViewEnv env;
        gSource = 1;
        EditSession::get().setZoom(2.0);
        env.press(QPoint(600, 500));
        env.move(QPoint(500, 450));
        QCOMPARE(EditSession::get().panX(), -100.0);
        QCOMPARE(EditSession::get().panY(), -50.0);
        env.move(QPoint(1200, 1000));   // the picture never leaves the view
        QCOMPARE(EditSession::get().panX(), 0.0);
        env.release(QPoint(1200, 1000));
        gSource = 0;
    }

    void randomGestures_data()
    {
        QTest::addColumn<unsigned>("seed");
        for (unsigned s : {1u, 7u, 42u, 2024u})
            QTest::newRow(qPrintable(QString::number(s))) << s;
    }

    void randomGestures()
    {
        QFETCH(unsigned, seed);
        rig::EnvOptions o;
        o.showW = 640;
        o.showH = 512;
        o.train = true;
        ViewEnv env(o);
        std::mt19937 rng(seed);
        auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        auto anyPoint = [&] { return QPoint(pick(-40, gShowW + 40), pick(-40, gShowH + 40)); };
        env.word(139) = env.word(140) = env.word(182) = env.word(184) = 1;
        env.word(143) = pick(0, 1);
        env.word(123) = 0;
        for (int n = 0; n < 800; ++n) {
            env.word(162) = pick(0, 3) == 0;
            env.word(163) = pick(0, 4) == 0;
            env.word(164) = pick(0, 1);
            const int action = pick(0, 19);
            if (action <= 3) {            // a drawing button
                const int modes[4] = {1, 2, 2, 4};
                env.view->editor()->deselect();
                env.view->ShowHideROIPara();
                EditSession::get().setDrawMode(modes[action]);
                EditSession::get().setHandDraw(action == 2);
                EditSession::get().setCopyArea(false);
            } else if (action == 4) {     // the copy button
                EditSession::get().setCopyArea(true);
                EditSession::get().setDrawMode(0);
                env.answers = {pick(0, 3) != 0};
            } else if (action <= 9) {     // a gesture
                const QPoint a = anyPoint();
                env.press(a, pick(0, 3) == 0 ? pick(0, 900) : 1000);
                for (int k = pick(0, 8); k > 0; --k)
                    env.move(pick(0, 1) ? anyPoint() : a + QPoint(pick(-30, 30), pick(-30, 30)));
                env.release(anyPoint());
            } else if (action == 10) {    // the page deletes the selected ROI
                if (env.view->editor()->current() >= 0) {
                    env.view->editor()->deleteRoi(env.view->editor()->current());
                    env.view->editor()->select(-1);
                    env.view->ShowHideROIPara();
                }
            } else if (action == 11) {
                env.view->editor()->nextRoi();
            } else if (action == 12) {
                env.view->editor()->nextObject();
            } else if (action == 13) {
                env.view->editor()->moveBy(pick(-1, 1), pick(-1, 1));
            } else if (action == 14) {
                env.view->editor()->nextMoveMode();
            } else if (action == 15) {
                const int b = pick(0, 3);
                b == 0 ? env.view->editor()->stepButton(0) : b == 1 ? env.view->editor()->stepButton(1) : b == 2 ? env.view->editor()->stepButton(2)
                                                                                      : env.view->editor()->stepButton(3);
            } else if (action == 16) {
                env.view->panel()->changeMethod();
            } else if (action == 17) {
                env.view->panel()->setP1(pick(0, 300));
                env.view->panel()->setP2(pick(0, 2000));
                env.view->panel()->setP3(pick(0, 300));
                env.view->panel()->syncParameters();
            } else if (action == 18) {
                env.view->panel()->togglePair();
            } else {
                env.paint();
            }
            const QString broken = checkInvariants(*env.view, 0);
            if (!broken.isEmpty())
                QFAIL(qPrintable(QStringLiteral("after action %1 (kind %2): %3").arg(n).arg(action).arg(broken)));
        }
        env.paint();
    }
};

QTEST_MAIN(TestRoiEdit)
#include "tst_roiedit.moc"
