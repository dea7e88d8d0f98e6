// The three ROI shapes: handles, resizing, picture geometry and masks.
#include "circle.h"
#include "globals.h"
#include "polygon.h"
#include "rect.h"
#include "roigeometry.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <random>

namespace {

ClustomRect makeRect(int l, int t, int r, int b, bool selected = true)
{
    ClustomRect rc;
    rc.rect.setCoords(l, t, r, b);
    rc.SetSelected(selected);
    return rc;
}

Circle makeCircle(int x, int y, int r, int ri = 0, bool selected = true)
{
    Circle c;
    c.x = x;
    c.y = y;
    c.r = r;
    c.ri = ri;
    c.UpdateRect();
    c.SetSelected(selected);
    return c;
}

// The reference: OpenCV's own test, pixel by pixel.
cv::Mat referenceMask(const QVector<QPoint>& pts, int left, int top, int cols, int rows)
{
    std::vector<cv::Point> contour;
    for (const QPoint& p : pts)
        contour.emplace_back(p.x(), p.y());
    cv::Mat m(rows, cols, CV_8UC1, cv::Scalar(0));
    for (int k = 0; k < rows; ++k)
        for (int c = 0; c < cols; ++c)
            if (cv::pointPolygonTest(contour, cv::Point2f(float(left + c), float(top + k)), false) > 0)
                m.at<unsigned char>(k, c) = 255;
    return m;
}

int countNonZero(const cv::Mat& m)
{
    return m.empty() ? 0 : cv::countNonZero(m);
}

}  // namespace

class TestRoiShapes : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        gShowW = 800;
        gShowH = 600;
    }

    void roundingIsHalfToEven_data()
    {
        QTest::addColumn<int>("v");
        QTest::addColumn<float>("s");
        QTest::addColumn<int>("expected");
        QTest::newRow("2.5 down to 2") << 5 << 2.0f << 2;
        QTest::newRow("3.5 up to 4") << 7 << 2.0f << 4;
        QTest::newRow("-2.5 to -2") << -5 << 2.0f << -2;
        QTest::newRow("below half") << 10 << 3.0f << 3;
        QTest::newRow("above half") << 11 << 3.0f << 4;
        QTest::newRow("scale 0 counts as 1") << 17 << 0.0f << 17;
        QTest::newRow("negative scale counts as 1") << 17 << -2.0f << 17;
    }
    void roundingIsHalfToEven()
    {
        QFETCH(int, v);
        QFETCH(float, s);
        QFETCH(int, expected);
        QCOMPARE(roigeom::toImage(v, s), expected);
    }

    void rectHandles_data()
    {
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QPoint>("p");
        QTest::addColumn<int>("handle");
        const QRect r40(QPoint(100, 100), QPoint(139, 199));  // 40 wide: edge tolerance 10
        QTest::newRow("top-left corner") << r40 << QPoint(110, 110) << 0;
        QTest::newRow("top-right corner") << r40 << QPoint(139, 100) << 2;
        QTest::newRow("bottom-left corner") << r40 << QPoint(100, 199) << 6;
        QTest::newRow("bottom-right corner") << r40 << QPoint(150, 210) << 4;
        QTest::newRow("corner wins over edge band") << r40 << QPoint(119, 119) << 0;
        QTest::newRow("left edge inside tolerance 10") << r40 << QPoint(109, 150) << 7;
        QTest::newRow("left edge outside tolerance 10") << r40 << QPoint(110, 150) << -1;
        QTest::newRow("right edge") << r40 << QPoint(130, 150) << 3;
        QTest::newRow("edge needs y inside") << r40 << QPoint(100, 205 + 20) << -1;
        const QRect r8(QPoint(100, 100), QPoint(107, 400));   // 8 wide: tolerance limited to 3
        QTest::newRow("8 wide, 2 off is near") << r8 << QPoint(98, 250) << 7;
        QTest::newRow("8 wide, 3 off is not") << r8 << QPoint(97, 250) << -1;
        const QRect r400(QPoint(100, 100), QPoint(499, 499));  // 400 wide: limited to 50
        QTest::newRow("400 wide, 49 off") << r400 << QPoint(149, 300) << 7;
        QTest::newRow("400 wide, 50 off") << r400 << QPoint(150, 300) << -1;
        QTest::newRow("top edge") << r400 << QPoint(300, 130) << 1;
        QTest::newRow("bottom edge") << r400 << QPoint(300, 460) << 5;
        QTest::newRow("middle") << r400 << QPoint(300, 300) << -1;
    }
    void rectHandles()
    {
        QFETCH(QRect, rect);
        QFETCH(QPoint, p);
        QFETCH(int, handle);
        ClustomRect rc = makeRect(rect.left(), rect.top(), rect.right(), rect.bottom());
        int h = 99;
        QCOMPARE(rc.PtInCtrl(p, &h), handle != -1);
        QCOMPARE(h, handle);
        QCOMPARE(rc.handle, handle);
        rc.SetSelected(false);
        QVERIFY(!rc.PtInCtrl(p, &h));
        QCOMPARE(h, -1);
    }

    void rectResize_data()
    {
        QTest::addColumn<int>("handle");
        QTest::addColumn<QRect>("expected");
        QTest::addColumn<QPoint>("delta");
        // Start (100, 100)-(200, 200), drag by (5, -7).
        QTest::newRow("0") << 0 << QRect(QPoint(105, 93), QPoint(200, 200)) << QPoint(5, -7);
        QTest::newRow("1") << 1 << QRect(QPoint(100, 93), QPoint(200, 200)) << QPoint(0, -7);
        QTest::newRow("2") << 2 << QRect(QPoint(100, 93), QPoint(205, 200)) << QPoint(5, -7);
        QTest::newRow("3") << 3 << QRect(QPoint(100, 100), QPoint(205, 200)) << QPoint(5, 0);
        QTest::newRow("4") << 4 << QRect(QPoint(100, 100), QPoint(205, 193)) << QPoint(5, -7);
        QTest::newRow("5") << 5 << QRect(QPoint(100, 100), QPoint(200, 193)) << QPoint(0, -7);
        QTest::newRow("6") << 6 << QRect(QPoint(105, 100), QPoint(200, 193)) << QPoint(5, -7);
        QTest::newRow("7") << 7 << QRect(QPoint(105, 100), QPoint(200, 200)) << QPoint(5, 0);
        QTest::newRow("none") << -1 << QRect(QPoint(100, 100), QPoint(200, 200)) << QPoint(0, 0);
        QTest::newRow("8") << 8 << QRect(QPoint(100, 100), QPoint(200, 200)) << QPoint(0, 0);
    }
    void rectResize()
    {
        QFETCH(int, handle);
        QFETCH(QRect, expected);
        QFETCH(QPoint, delta);
        ClustomRect rc = makeRect(100, 100, 200, 200);
        rc.Resize(handle, QPoint(50, 50), QPoint(55, 43));
        QCOMPARE(rc.rect, expected);
        QCOMPARE(QPoint(rc.dx, rc.dy), delta);
    }

    void rectPictureGeometryAndMask_data()
    {
        QTest::addColumn<QRect>("view");
        QTest::addColumn<float>("s");
        QTest::addColumn<QRect>("picture");
        QTest::newRow("scale 1") << QRect(QPoint(50, 50), QPoint(100, 100)) << 1.0f << QRect(QPoint(50, 50), QPoint(100, 100));
        // left 5/2 = 2.5 -> 2, width 11/2 = 5.5 -> 6: (2 .. 7)
        QTest::newRow("ties to even") << QRect(QPoint(5, 5), QPoint(15, 15)) << 2.0f << QRect(QPoint(2, 2), QPoint(7, 7));
        QTest::newRow("inverted") << QRect(QPoint(100, 100), QPoint(50, 50)) << 1.0f << QRect(QPoint(100, 100), QPoint(50, 50));
    }
    void rectPictureGeometryAndMask()
    {
        QFETCH(QRect, view);
        QFETCH(float, s);
        QFETCH(QRect, picture);
        ClustomRect rc;
        rc.rect = view;
        rc.setShowA(s, s);
        rc.setImageRect();
        QCOMPARE(rc.imgRect, picture);
        const cv::Mat m = rc.UpdateMask();
        if (picture.width() <= 0 || picture.height() <= 0) {
            QVERIFY(m.empty());
        } else {
            QCOMPARE(m.cols, picture.width());
            QCOMPARE(m.rows, picture.height());
            QCOMPARE(countNonZero(m), picture.width() * picture.height());
        }
    }

    // A scale that would make a mask of many gigabytes gives an empty mask
    // and a warning, never an exception or an allocation of that size.
    void hugeMasksAreRefused()
    {
        ClustomRect rc = makeRect(10, 10, 700, 500, false);
        rc.setShowA(0.001f, 0.001f);
        rc.setImageRect();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ROI mask of .* refused"));
        QVERIFY(rc.UpdateMask().empty());
        Circle c = makeCircle(300, 300, 200, 0, false);
        c.setShowA(0.001f, 0.001f);
        c.setImageRect();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ROI mask of .* refused"));
        QVERIFY(c.UpdateMask().empty());
        const QPoint pts[3] = {QPoint(10, 10), QPoint(700, 10), QPoint(300, 500)};
        RePolygon p(3, pts);
        p.setShowA(0.001f, 0.001f);
        p.setImageRect();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ROI mask of .* refused"));
        QVERIFY(p.UpdateMask().empty());
    }

    void circleHandles_data()
    {
        QTest::addColumn<int>("r");
        QTest::addColumn<QPoint>("p");
        QTest::addColumn<int>("handle");
        // Centre (300, 300).
        QTest::newRow("r 10: centre is no hit") << 10 << QPoint(300, 300) << -1;
        QTest::newRow("top") << 100 << QPoint(300, 200) << 1;
        QTest::newRow("bottom") << 100 << QPoint(305, 400) << 5;
        QTest::newRow("left") << 100 << QPoint(200, 310) << 7;
        QTest::newRow("right") << 100 << QPoint(400, 290) << 3;
        QTest::newRow("left, below centre") << 100 << QPoint(229, 371) << 0;
        QTest::newRow("left, above centre") << 100 << QPoint(229, 229) << 6;
        QTest::newRow("right, below centre") << 100 << QPoint(371, 371) << 2;
        QTest::newRow("right, above centre") << 100 << QPoint(371, 229) << 4;
        QTest::newRow("20 outside the ring") << 100 << QPoint(300, 180) << 1;
        QTest::newRow("21 outside the ring") << 100 << QPoint(300, 179) << -1;
        QTest::newRow("20 inside the ring") << 100 << QPoint(300, 220) << 1;
        QTest::newRow("21 inside the ring") << 100 << QPoint(300, 221) << -1;
    }
    void circleHandles()
    {
        QFETCH(int, r);
        QFETCH(QPoint, p);
        QFETCH(int, handle);
        Circle c = makeCircle(300, 300, r);
        int h = 99;
        QCOMPARE(c.PtInCtrl(p, &h), handle != -1);
        QCOMPARE(h, handle);
        c.SetSelected(false);
        QVERIFY(!c.PtInCtrl(p, &h));
        QCOMPARE(h, -1);
    }

    void circleRadiiAndMask_data()
    {
        QTest::addColumn<int>("r");
        QTest::addColumn<int>("ri");
        QTest::addColumn<int>("expectRi");
        QTest::newRow("full disc") << 20 << 0 << 0;
        QTest::newRow("ring") << 20 << 10 << 10;
        QTest::newRow("inner above radius is cut") << 20 << 30 << 20;
        QTest::newRow("negative inner") << 20 << -4 << 0;
        QTest::newRow("negative radius") << -5 << 3 << 0;
    }
    void circleRadiiAndMask()
    {
        QFETCH(int, r);
        QFETCH(int, ri);
        QFETCH(int, expectRi);
        Circle c = makeCircle(300, 300, r, ri);
        QCOMPARE(c.ri, expectRi);
        QVERIFY(c.r >= 0 && c.ri <= c.r);
        c.setShowA(1.0f, 1.0f);
        c.setImageRect();
        const cv::Mat m = c.UpdateMask();
        if (c.r == 0) {
            QVERIFY(m.empty());
            return;
        }
        QCOMPARE(m.rows, 2 * c.r);
        QCOMPARE(m.cols, 2 * c.r);
        int expected = 0;
        for (int k = 0; k < m.rows; ++k)
            for (int col = 0; col < m.cols; ++col) {
                const int d2 = (col - c.r) * (col - c.r) + (k - c.r) * (k - c.r);
                const bool in = c.ri * c.ri <= d2 && d2 < c.r * c.r;
                expected += in;
                QCOMPARE(m.at<unsigned char>(k, col) != 0, in);
            }
        if (c.ri == c.r)
            QCOMPARE(expected, 0);
        else
            QVERIFY(expected > 0);
    }

    void circleGeometry()
    {
        // UpdateAll: radius from the smaller half side, centre from the corner.
        Circle c;
        c.rect.setCoords(10, 20, 49, 99);  // 40 x 80
        c.UpdateAll();
        QCOMPARE(c.r, 20);
        QCOMPARE(QPoint(c.x, c.y), QPoint(30, 40));
        QCOMPARE(c.rect, QRect(QPoint(10, 20), QPoint(49, 59)));
        // An inverted rectangle gives radius 0, never a negative mask size.
        c.rect.setCoords(100, 100, 50, 50);
        c.UpdateAll();
        QCOMPARE(c.r, 0);
        c.setImageRect();
        QVERIFY(c.UpdateMask().empty());
        // Resize: truncated distance; far away stops at the 16-bit limit.
        c = makeCircle(300, 300, 10);
        c.Resize(3, QPoint(), QPoint(303, 304));
        QCOMPARE(c.r, 5);
        c.Resize(3, QPoint(), QPoint(2000000000, 300));
        QCOMPARE(c.r, Circle::kMaxRadius);
        // Picture geometry: R = round((r/sx + r/sy) / 2), centre truncated.
        c = makeCircle(101, 99, 25, 5);
        c.setShowA(2.0f, 2.0f);
        c.setImageRect();
        QCOMPARE(c.imgR, 12);   // 12.5 -> 12
        QCOMPARE(c.imgRi, 2);   // 2.5 -> 2
        QCOMPARE(QPoint(c.imgX, c.imgY), QPoint(50, 49));
        QCOMPARE(c.imgRect, QRect(QPoint(38, 37), QPoint(61, 60)));
    }

    void polygonVertexMove_data()
    {
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("x 3") << QPoint(3, 100) << true;
        QTest::newRow("x 2") << QPoint(2, 100) << false;
        QTest::newRow("y 3") << QPoint(100, 3) << true;
        QTest::newRow("y 2") << QPoint(100, 2) << false;
        QTest::newRow("x width - 3") << QPoint(797, 100) << true;
        QTest::newRow("x width - 2") << QPoint(798, 100) << false;
        QTest::newRow("y height - 3") << QPoint(100, 597) << true;
        QTest::newRow("y height - 2") << QPoint(100, 598) << false;
    }
    void polygonVertexMove()
    {
        QFETCH(QPoint, to);
        QFETCH(bool, accepted);
        const QPoint pts[3] = {QPoint(50, 50), QPoint(200, 50), QPoint(100, 200)};
        RePolygon poly(3, pts);
        poly.setShowA(2.0f, 2.0f);
        poly.setImageRect();
        poly.Resize(0, QPoint(50, 50), to, 2.0f, 2.0f);
        QCOMPARE(poly.pts[0], accepted ? to : QPoint(50, 50));
        QCOMPARE(poly.imgPts[0], accepted ? QPoint(roigeom::toImage(to.x(), 2.0f), roigeom::toImage(to.y(), 2.0f))
                                          : QPoint(25, 25));
        QCOMPARE(QPoint(poly.dx, poly.dy), to - QPoint(50, 50));
        // A vertex that does not exist is never touched.
        poly.Resize(7, QPoint(), QPoint(10, 10), 1.0f, 1.0f);
        poly.Resize(-1, QPoint(), QPoint(10, 10), 1.0f, 1.0f);
        QCOMPARE(poly.count(), 3);
    }

    void polygonPicking()
    {
        // One vertex: the 20 x 20 rectangle ending 1 pixel above-left of it.
        const QPoint one[1] = {QPoint(100, 100)};
        RePolygon p1(1, one);
        p1.setImageRect();
        QCOMPARE(p1.rect, QRect(QPoint(80, 80), QPoint(99, 99)));
        QVERIFY(p1.Contains(QPoint(80, 80)));
        QVERIFY(p1.Contains(QPoint(99, 99)));
        QVERIFY(!p1.Contains(QPoint(100, 100)));

        // Large: strictly inside the outline only.
        const QPoint sq[4] = {QPoint(100, 100), QPoint(300, 100), QPoint(300, 300), QPoint(100, 300)};
        RePolygon big(4, sq);
        big.setImageRect();
        QVERIFY(big.Contains(QPoint(200, 200)));
        QVERIFY(!big.Contains(QPoint(100, 200)));  // on the outline
        QVERIFY(!big.Contains(QPoint(90, 200)));

        // Vertex handles answer only when selected; the first near one wins.
        int h = 5;
        QVERIFY(!big.PtInCtrl(QPoint(100, 100), &h));
        QCOMPARE(h, -1);
        big.SetSelected(true);
        QVERIFY(big.PtInCtrl(QPoint(290, 290), &h));
        QCOMPARE(h, 2);
        QCOMPARE(big.node, 2);
        QVERIFY(!big.PtInCtrl(QPoint(200, 200), &h));
        QCOMPARE(big.node, -1);
    }

    void polygonBoundsAndLineMask()
    {
        const QPoint pts[3] = {QPoint(10, 40), QPoint(60, 20), QPoint(30, 90)};
        RePolygon poly(3, pts);
        poly.setShowA(1.0f, 1.0f);
        poly.setImageRect();
        QCOMPARE(poly.rect, QRect(QPoint(-10, 0), QPoint(59, 89)));
        QCOMPARE(poly.imgRect, QRect(QPoint(10, 20), QPoint(59, 89)));
        const cv::Mat m = poly.UpdateMask();
        QCOMPARE(m.cols, 50);
        QCOMPARE(m.rows, 70);

        const QPoint line[3] = {QPoint(10, 10), QPoint(50, 50), QPoint(90, 90)};
        RePolygon flat(3, line);
        flat.setImageRect();
        QCOMPARE(countNonZero(flat.UpdateMask()), 0);
    }

    // The scanline mask equals OpenCV's per-pixel test on awkward shapes:
    // self-crossing, repeated and collinear points, horizontal and vertical
    // edges, spikes and free-hand outlines.
    void polygonMaskEqualsPointPolygonTest_data()
    {
        QTest::addColumn<QVector<QPoint>>("pts");
        QTest::newRow("triangle") << QVector<QPoint>{{0, 0}, {40, 5}, {13, 37}};
        QTest::newRow("square") << QVector<QPoint>{{5, 5}, {30, 5}, {30, 30}, {5, 30}};
        QTest::newRow("bow tie") << QVector<QPoint>{{0, 0}, {40, 40}, {40, 0}, {0, 40}};
        QTest::newRow("star") << QVector<QPoint>{{20, 0}, {32, 40}, {0, 14}, {40, 14}, {8, 40}};
        QTest::newRow("repeated points") << QVector<QPoint>{{3, 3}, {3, 3}, {20, 3}, {20, 3}, {20, 20}, {3, 20}, {3, 20}};
        QTest::newRow("comb") << QVector<QPoint>{{0, 0}, {10, 30}, {20, 0}, {30, 30}, {40, 0}, {40, 40}, {0, 40}};
        QTest::newRow("spike") << QVector<QPoint>{{0, 20}, {40, 20}, {20, 21}, {20, 0}};
        QTest::newRow("two points") << QVector<QPoint>{{0, 0}, {30, 20}};

        std::mt19937 rng(12345);
        for (int n : {5, 12, 40, 200}) {
            for (int round = 0; round < 4; ++round) {
                std::uniform_int_distribution<int> d(-5, 60);
                QVector<QPoint> v;
                for (int i = 0; i < n; ++i)
                    v.append(QPoint(d(rng), d(rng)));
                QTest::newRow(qPrintable(QStringLiteral("random %1 #%2").arg(n).arg(round))) << v;
            }
        }
        // A free-hand outline: a wobbly circle of many short segments.
        QVector<QPoint> hand;
        std::uniform_int_distribution<int> wobble(-2, 2);
        for (int i = 0; i < 600; ++i) {
            const double a = i * 2 * M_PI / 600;
            hand.append(QPoint(int(60 + 50 * std::cos(a)) + wobble(rng), int(60 + 45 * std::sin(a)) + wobble(rng)));
        }
        QTest::newRow("free-hand") << hand;
    }
    void polygonMaskEqualsPointPolygonTest()
    {
        QFETCH(QVector<QPoint>, pts);
        // Over a window larger than the polygon, so that outside pixels count too.
        const cv::Mat fast = roigeom::rasterPolygon(pts, -8, -6, 130, 125);
        const cv::Mat ref = referenceMask(pts, -8, -6, 130, 125);
        QCOMPARE(cv::countNonZero(fast != ref), 0);
        for (int y = -6; y < 119; y += 7)
            for (int x = -8; x < 122; x += 5) {
                std::vector<cv::Point> contour;
                for (const QPoint& p : pts)
                    contour.emplace_back(p.x(), p.y());
                QCOMPARE(roigeom::polygonTest(pts, QPoint(x, y)),
                         int(cv::pointPolygonTest(contour, cv::Point2f(float(x), float(y)), false)));
            }
        // And through the shape itself, over its own bounding rectangle.
        RePolygon poly(pts.size(), pts.constData());
        poly.setImageRect();
        const cv::Mat own = poly.UpdateMask();
        if (!own.empty()) {
            const cv::Mat ownRef = referenceMask(pts, poly.imgRect.left(), poly.imgRect.top(), own.cols, own.rows);
            QCOMPARE(cv::countNonZero(own != ownRef), 0);
        }
    }

    // Equality is geometry only: selecting or touching a shape is no change.
    void equalityIgnoresSelection()
    {
        ClustomRect a = makeRect(10, 10, 50, 50, false), b = a;
        b.SetSelected(true);
        int h;
        b.PtInCtrl(QPoint(10, 10), &h);
        QVERIFY(a == b);
        b.Resize(3, QPoint(0, 0), QPoint(1, 0));
        QVERIFY(a != b);

        Circle c = makeCircle(100, 100, 30, 0, false), d = c;
        d.SetSelected(true);
        d.PtInCtrl(QPoint(100, 70), &h);
        QVERIFY(c == d);
        d.ri = 5;
        QVERIFY(c != d);

        const QPoint pts[3] = {QPoint(10, 10), QPoint(80, 10), QPoint(40, 60)};
        RePolygon p(3, pts), q(3, pts);
        q.SetSelected(true);
        q.setNode(1);
        QVERIFY(p == q);
        q.SetHand(true);
        QVERIFY(p != q);
    }

    // Painting draws the outline and, for a selected shape, its handles in
    // magenta with the active one in yellow.
    void drawingMarksTheActiveHandle()
    {
        QImage img(400, 400, QImage::Format_RGB32);
        img.fill(Qt::black);
        ClustomRect rc = makeRect(100, 100, 300, 300);
        rc.handle = 0;
        {
            QPainter painter(&img);
            painter.setPen(Qt::green);
            rc.Draw(painter);
            QCOMPARE(painter.pen().color(), QColor(Qt::green));  // restored
        }
        QCOMPARE(img.pixelColor(90, 100), QColor(Qt::yellow));    // left side of handle 0's square
        QCOMPARE(img.pixelColor(290, 100), QColor(Qt::magenta));  // handle 2's square
        QCOMPARE(img.pixelColor(200, 300), QColor(Qt::magenta));  // bottom edge

        img.fill(Qt::black);
        rc.SetSelected(false);
        {
            QPainter painter(&img);
            painter.setPen(Qt::green);
            rc.Draw(painter);
        }
        QCOMPARE(img.pixelColor(200, 100), QColor(Qt::green));
        QCOMPARE(img.pixelColor(90, 100), QColor(Qt::black));
    }
};

QTEST_MAIN(TestRoiShapes)
#include "tst_roishapes.moc"
