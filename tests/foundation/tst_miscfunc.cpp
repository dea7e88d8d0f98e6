#include "globals.h"
#include "miscfunc.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <vector>

namespace {

// Plain transcriptions of the pixel rules, for checking the fast paths.
int refGray(unsigned int w)
{
    const int r = (w >> 16) & 255, g = (w >> 8) & 255, b = w & 255;
    return (static_cast<int>(r * 0.299 * 1024) + static_cast<int>(g * 0.587 * 1024) +
            static_cast<int>(b * 0.114 * 1024)) / 1024;
}

int refHue(unsigned int w)
{
    const int r = (w >> 16) & 255, g = (w >> 8) & 255, b = w & 255;
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
    if (mx == 0 || mx == mn)
        return 0;
    const float d = float(mx - mn);
    float h;
    if (r == mx)
        h = (g - b) / d + (g < b ? 6 : 0);
    else if (g == mx)
        h = (b - r) / d + 2;
    else
        h = (r - g) / d + 4;
    return int(h * 42.5);
}

cv::Mat refMove(const cv::Mat& src, int dx, int dy)
{
    cv::Mat out(src.size(), CV_8UC1);
    for (int y = 0; y < src.rows; ++y)
        for (int x = 0; x < src.cols; ++x) {
            const long long sy = static_cast<long long>(y) - dy, sx = static_cast<long long>(x) - dx;
            out.at<uchar>(y, x) = (sy >= 0 && sy < src.rows && sx >= 0 && sx < src.cols) ? src.at<uchar>(int(sy), int(sx)) : 0;
        }
    return out;
}

cv::Mat randomPicture(int rows, int cols, int seed)
{
    cv::Mat m(rows, cols, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

bool same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

}  // namespace

class TestMiscFunc : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        gShowW = 800;
        gShowH = 600;
    }

    void weightTable()
    {
        QCOMPARE(gaRGB2Gray[0][255], 78074);
        QCOMPARE(gaRGB2Gray[1][255], 153277);
        QCOMPARE(gaRGB2Gray[2][255], 29767);
        QCOMPARE(gaRGB2Gray[0][128], 39190);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(gaRGB2Gray[row][0], 0);
    }

    void pixelConversions_data()
    {
        QTest::addColumn<uint>("word");
        QTest::addColumn<int>("gray");
        QTest::addColumn<int>("hue");
        QTest::newRow("white") << 0x00FFFFFFu << 254 << 0;
        QTest::newRow("white, alpha set") << 0xFFFFFFFFu << 254 << 0;
        QTest::newRow("red") << 0x00FF0000u << 76 << 0;
        QTest::newRow("green") << 0x0000FF00u << 149 << 85;
        QTest::newRow("blue") << 0x000000FFu << 29 << 170;
        QTest::newRow("grey") << 0xFF808080u << 127 << 0;
        QTest::newRow("black") << 0u << 0 << 0;
        QTest::newRow("yellow: red wins the tie") << 0x00FFFF00u << 225 << 42;
        QTest::newRow("cyan") << 0x0000FFFFu << 178 << 127;
        QTest::newRow("magenta wraps below red") << 0x00FF00FFu << 105 << 212;
        QTest::newRow("orange-brown") << 0x00C86432u << 124 << 14;
    }
    void pixelConversions()
    {
        QFETCH(uint, word);
        QFETCH(int, gray);
        QFETCH(int, hue);
        QCOMPARE(int(rgbaToGrayPixel(word)), gray);
        QCOMPARE(int(rgbaToHuePixel(word)), hue);
        const unsigned int px[3] = {word, word, word};
        unsigned char g[3] = {}, h[3] = {};
        RGBA2Gray(g, px, 3, 1);
        RGBA2Hue(h, px, 1, 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(int(g[i]), gray);
            QCOMPARE(int(h[i]), hue);
        }
    }

    void everyColourMatchesTheReference()
    {
        // All 2^24 colours as one 4096 x 4096 picture: the split over
        // worker threads and the table lookups against the plain rules.
        const int side = 4096;
        std::vector<unsigned int> px(size_t(side) * side);
        for (size_t i = 0; i < px.size(); ++i)
            px[i] = 0xA5000000u | unsigned(i);
        std::vector<unsigned char> gray(px.size()), hue(px.size());
        RGBA2Gray(gray.data(), px.data(), side, side);
        RGBA2Hue(hue.data(), px.data(), side, side);
        size_t grayBad = 0, hueBad = 0, firstBad = 0;
        for (size_t i = 0; i < px.size(); ++i) {
            if (gray[i] != refGray(px[i]) && !grayBad++)
                firstBad = i;
            if (hue[i] != refHue(px[i]) && !hueBad++)
                firstBad = i;
        }
        QVERIFY2(grayBad == 0 && hueBad == 0, qPrintable(QString("first mismatch at colour %1").arg(firstBad, 6, 16)));
    }

    void grayFollowsOpenCvChannelOrder()
    {
        // The packed word is QImage's RGB32, i.e. OpenCV's BGRA byte order.
        cv::Mat bgra(97, 131, CV_8UC4);
        cv::RNG(7).fill(bgra, cv::RNG::UNIFORM, 0, 256);
        cv::Mat ocv;
        cv::cvtColor(bgra, ocv, cv::COLOR_BGRA2GRAY);
        cv::Mat ours(bgra.size(), CV_8UC1);
        RGBA2Gray(ours.data, reinterpret_cast<const unsigned int*>(bgra.data), bgra.cols, bgra.rows);
        double maxDiff = 0;
        cv::minMaxLoc(cv::abs(ours - ocv) + cv::abs(ocv - ours), nullptr, &maxDiff);
        // OpenCV rounds, the weight table truncates each term: at most 2 apart.
        // Reading the channels the other way round would differ by up to 47.
        QVERIFY2(maxDiff <= 2, qPrintable(QString::number(maxDiff)));
    }

    void grayToPacked_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("small, one thread") << 16 << 16;
        QTest::newRow("large, split over threads") << 1024 << 700;
    }
    void grayToPacked()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        std::vector<unsigned char> gray(size_t(width) * height);
        for (size_t i = 0; i < gray.size(); ++i)
            gray[i] = static_cast<unsigned char>(i * 7);
        std::vector<unsigned int> px(gray.size(), 0x12345678u);
        Gray2RGBA(gray.data(), px.data(), width, height);
        for (size_t i = 0; i < gray.size(); ++i)
            QCOMPARE(px[i], 0xFF000000u | (gray[i] * 0x010101u));
        // Back to grey: a grey pixel keeps its value (255 becomes 254).
        std::vector<unsigned char> back(gray.size());
        RGBA2Gray(back.data(), px.data(), width, height);
        for (size_t i = 0; i < gray.size(); ++i)
            QVERIFY(back[i] == gray[i] || (back[i] == gray[i] - 1));
    }

    void emptySizesLeaveTheOutputAlone_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("zero width") << 0 << 4;
        QTest::newRow("zero height") << 4 << 0;
        QTest::newRow("negative") << -3 << 4;
    }
    void emptySizesLeaveTheOutputAlone()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        unsigned int px[4] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
        unsigned char out[4] = {9, 9, 9, 9};
        RGBA2Gray(out, px, width, height);
        RGBA2Hue(out, px, width, height);
        unsigned char g[4] = {1, 2, 3, 4};
        Gray2RGBA(g, px, width, height);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(int(out[i]), 9);
            QCOMPARE(px[i], 0xFFFFFFu);
        }
    }

    void moveImage_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::newRow("no shift") << 0 << 0;
        QTest::newRow("right and down") << 3 << 2;
        QTest::newRow("left and up") << -4 << -1;
        QTest::newRow("mixed") << 5 << -6;
        QTest::newRow("just inside") << 10 << 7;
        QTest::newRow("as wide as the picture") << 11 << 0;
        QTest::newRow("as high as the picture") << 0 << -8;
        QTest::newRow("far away") << 100000 << -100000;
        QTest::newRow("extreme") << INT_MIN << INT_MAX;
    }
    void moveImage()
    {
        QFETCH(int, dx);
        QFETCH(int, dy);
        const cv::Mat src = randomPicture(8, 11, 3);
        const cv::Mat expected = refMove(src, dx, dy);

        cv::Mat dst;  // unallocated: the destination is made
        MoveImage(src, dst, dx, dy);
        QVERIFY(same(dst, expected));

        cv::Mat wrongSize(2, 2, CV_8UC1, cv::Scalar(9));
        MoveImage(src, wrongSize, dx, dy);
        QVERIFY(same(wrongSize, expected));

        cv::Mat inPlace = src.clone();
        MoveImage(inPlace, inPlace, dx, dy);
        QVERIFY(same(inPlace, expected));
    }

    void moveImageOfNothing()
    {
        cv::Mat dst(3, 3, CV_8UC1, cv::Scalar(5));
        MoveImage(cv::Mat(), dst, 1, 1);
        QCOMPARE(cv::countNonZero(dst != 5), 0);
    }

    void transformWithoutTurnIsAShift_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("cols");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::newRow("identity") << 40 << 60 << 0 << 0;
        QTest::newRow("shift") << 40 << 60 << 7 << -3;
        QTest::newRow("tall picture") << 61 << 20 << -5 << 9;
        QTest::newRow("one pixel") << 1 << 1 << 0 << 0;
    }
    void transformWithoutTurnIsAShift()
    {
        QFETCH(int, rows);
        QFETCH(int, cols);
        QFETCH(int, dx);
        QFETCH(int, dy);
        const cv::Mat src = randomPicture(rows, cols, 11);
        cv::Mat dst;
        TransformImage(src, dst, cv::Point(dx, dy), cv::Point(cols / 2, rows / 2), 0.0);
        QVERIFY(same(dst, refMove(src, dx, dy)));
    }

    void transformTurnsCounterClockwise()
    {
        const cv::Mat src = randomPicture(21, 21, 5);
        cv::Mat dst;
        TransformImage(src, dst, cv::Point(0, 0), cv::Point(10, 10), 90.0);
        cv::Mat expected;
        cv::rotate(src, expected, cv::ROTATE_90_COUNTERCLOCKWISE);
        QVERIFY(same(dst, expected));

        // In place, and a non-square picture keeps its size.
        cv::Mat wide = randomPicture(30, 80, 6);
        TransformImage(wide, wide, cv::Point(2, 1), cv::Point(40, 15), 30.0);
        QCOMPARE(wide.rows, 30);
        QCOMPARE(wide.cols, 80);
        QCOMPARE(wide.type(), CV_8UC1);
    }

    void transformKeepsPixelsShiftedOutBeforeTheTurn()
    {
        // The shift moves a pixel off the picture; the turn brings it back.
        // Working on a bordered copy keeps it.
        cv::Mat src(50, 50, CV_8UC1, cv::Scalar(0));
        src.at<uchar>(20, 2) = 200;
        cv::Mat dst;
        TransformImage(src, dst, cv::Point(-5, 0), cv::Point(10, 20), 90.0);
        // Shifted to (-3, 20); turned by +90 about (10, 20) it lands on (10, 33).
        QCOMPARE(int(dst.at<uchar>(33, 10)), 200);
    }

    void coordinateClamp_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("isX");
        QTest::addColumn<int>("result");
        QTest::newRow("x negative") << -5 << 1 << 3;
        QTest::newRow("x 2") << 2 << 1 << 3;
        QTest::newRow("x 3") << 3 << 1 << 3;
        QTest::newRow("x just inside") << 797 << 1 << 797;
        QTest::newRow("x at limit - 2") << 798 << 1 << 797;
        QTest::newRow("x far out") << 5000 << 1 << 797;
        QTest::newRow("y uses the height") << 700 << 0 << 597;
        QTest::newRow("y inside") << 300 << 0 << 300;
    }
    void coordinateClamp()
    {
        QFETCH(int, value);
        QFETCH(int, isX);
        QFETCH(int, result);
        CheckInRange(&value, isX, 10, 10);
        QCOMPARE(value, result);
    }

    void rectangleClamp_data()
    {
        QTest::addColumn<QRect>("in");
        QTest::addColumn<bool>("keepSize");
        QTest::addColumn<QRect>("out");
        auto corners = [](int l, int t, int r, int b) {
            QRect q;
            q.setCoords(l, t, r, b);
            return q;
        };
        QTest::newRow("inside") << corners(10, 10, 100, 50) << false << corners(10, 10, 100, 50);
        QTest::newRow("swapped corners") << corners(100, 50, 10, 10) << false << corners(10, 10, 100, 50);
        QTest::newRow("cut at the edges") << corners(-20, 1, 900, 700) << false << corners(3, 3, 797, 597);
        QTest::newRow("moved right and down") << corners(-7, 0, 93, 40) << true << corners(3, 3, 103, 43);
        QTest::newRow("moved left and up") << corners(750, 590, 850, 640) << true << corners(697, 547, 797, 597);
        QTest::newRow("swapped and moved") << corners(850, 640, 750, 590) << true << corners(697, 547, 797, 597);
        QTest::newRow("larger than the screen") << corners(0, 0, 1000, 700) << true << corners(-203, -103, 797, 597);
    }
    void rectangleClamp()
    {
        QFETCH(QRect, in);
        QFETCH(bool, keepSize);
        QFETCH(QRect, out);
        CheckInRange(&in, 0, 0, keepSize);
        QCOMPARE(in, out);
    }

    void touchTolerances_data()
    {
        QTest::addColumn<int>("distance");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<bool>("near");
        QTest::newRow("tolerance 0 behaves as 3: 2 is near") << 2 << 0 << true;
        QTest::newRow("tolerance 1 behaves as 3: 3 is not") << 3 << 1 << false;
        QTest::newRow("strictly below") << 9 << 10 << true;
        QTest::newRow("equal is not near") << 10 << 10 << false;
        QTest::newRow("80 behaves as 50: 49") << 49 << 80 << true;
        QTest::newRow("80 behaves as 50: 50") << 50 << 80 << false;
        QTest::newRow("negative distance") << -9 << 10 << true;
    }
    void touchTolerances()
    {
        QFETCH(int, distance);
        QFETCH(int, tolerance);
        QFETCH(bool, near);
        QCOMPARE(LineAround(100, 100 + distance, tolerance), near);
        QCOMPARE(PointAround(QPoint(100, 200), QPoint(100 + distance, 200), tolerance), near);
        QCOMPARE(PointAround(QPoint(100, 200), QPoint(100, 200 + distance), tolerance), near);
        QCOMPARE(PointAround(QPoint(100, 200), QPoint(100 + distance, 200 + distance), tolerance), near);
        QCOMPARE(LineAround(100, 100 + distance, 5, 0, 10, tolerance), near);
    }

    void lineWithinItsRange_data()
    {
        QTest::addColumn<int>("c");
        QTest::addColumn<bool>("near");
        QTest::newRow("below") << 19 << false;
        QTest::newRow("low end") << 20 << true;
        QTest::newRow("high end") << 40 << true;
        QTest::newRow("above") << 41 << false;
    }
    void lineWithinItsRange()
    {
        QFETCH(int, c);
        QFETCH(bool, near);
        QCOMPARE(LineAround(50, 52, c, 20, 40, 5), near);
        QVERIFY(!LineAround(50, 60, c, 20, 40, 5));
    }

    void extremeCoordinatesDoNotOverflow()
    {
        QVERIFY(!LineAround(INT_MIN, INT_MAX, 50));
        QVERIFY(!PointAround(QPoint(INT_MIN, 0), QPoint(INT_MAX, 0), 50));
    }
};

QTEST_GUILESS_MAIN(TestMiscFunc)
#include "tst_miscfunc.moc"
