#include "findshape.h"
#include "synthpictures.h"

#include <QtTest>

#include <cmath>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(cv::Mat)

namespace {

const cv::Size kFrame(240, 200);
const cv::Rect kRect(70, 60, 100, 80);  // positioning rectangle in the frame
const int kMargin = 24;

cv::Point refOf(cv::Rect r)
{
    return {r.x + r.width / 2, r.y + r.height / 2};
}

cv::Rect searchOf(cv::Rect r, int margin)
{
    return cv::Rect(r.x - margin, r.y - margin, r.width + 2 * margin, r.height + 2 * margin) &
           cv::Rect(0, 0, kFrame.width, kFrame.height);
}

// The model the engine builds for a step.
bool train(FindShape& fs, const cv::Mat& frame, cv::Rect r, int range, const cv::Mat& mask = cv::Mat(),
           int accuracy = 5, int levels = 5)
{
    const cv::Point ref = refOf(r);
    return fs.CreateShape(frame(r), 0.0, 0, range, ref.x, ref.y, false, 255, mask, accuracy, levels);
}

// The shift the engine applies: the result minus the search rectangle's corner.
bool locate(const FindShape& fs, const cv::Mat& live, cv::Rect search, int& dx, int& dy, double& angle,
            double* score = nullptr)
{
    int x = 0, y = 0;
    double s = 0.0;
    const cv::Mat cut = live(search).clone();
    const bool ok = fs.Find(cut, 0, &x, &y, &s, &angle);
    dx = x - search.x;
    dy = y - search.y;
    if (score)
        *score = s;
    return ok;
}

// Shift, then rotate about the reference point: how the engine straightens
// the frame.
cv::Mat straighten(const cv::Mat& live, cv::Point ref, int dx, int dy, double angle)
{
    cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(static_cast<float>(ref.x), static_cast<float>(ref.y)), angle, 1.0);
    m.at<double>(0, 2) += m.at<double>(0, 0) * dx + m.at<double>(0, 1) * dy;
    m.at<double>(1, 2) += m.at<double>(1, 0) * dx + m.at<double>(1, 1) * dy;
    cv::Mat out;
    cv::warpAffine(live, out, m, live.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    return out;
}

cv::Rect inner(cv::Rect r, int by)
{
    return cv::Rect(r.x + by, r.y + by, r.width - 2 * by, r.height - 2 * by);
}

}  // namespace

class TestFindShape : public QObject {
    Q_OBJECT
private slots:
    void movedPartIsPositioned_data()
    {
        QTest::addColumn<double>("rotation");  // applied to the part, OpenCV's sign
        QTest::addColumn<double>("shiftX");
        QTest::addColumn<double>("shiftY");
        QTest::addColumn<int>("range");
        QTest::addColumn<bool>("circularMask");
        QTest::addColumn<int>("levels");
        QTest::newRow("unmoved, shift only") << 0.0 << 0.0 << 0.0 << 0 << false << 5;
        QTest::newRow("unmoved, with angle range") << 0.0 << 0.0 << 0.0 << 30 << false << 5;
        QTest::newRow("shift right up") << 0.0 << 7.0 << -5.0 << 0 << false << 5;
        QTest::newRow("shift left down") << 0.0 << -15.0 << 11.0 << 0 << false << 5;
        QTest::newRow("shift at the margin") << 0.0 << 22.0 << -20.0 << 0 << false << 5;
        QTest::newRow("turn 8 and shift") << 8.0 << 4.0 << 3.0 << 30 << false << 5;
        QTest::newRow("turn -17 and shift") << -17.0 << -6.0 << 2.0 << 30 << false << 5;
        QTest::newRow("turn 25 single level") << 25.0 << 0.0 << 0.0 << 30 << false << 1;
        QTest::newRow("turn 12 circular model") << 12.0 << -3.0 << -4.0 << 20 << true << 5;
        QTest::newRow("turn 90 wide range") << 90.0 << 2.0 << 2.0 << 180 << true << 5;
    }
    void movedPartIsPositioned()
    {
        QFETCH(double, rotation);
        QFETCH(double, shiftX);
        QFETCH(double, shiftY);
        QFETCH(int, range);
        QFETCH(bool, circularMask);
        QFETCH(int, levels);

        const cv::Mat templ = synth::textured(kFrame, 11);
        cv::Mat mask;
        if (circularMask) {
            mask = cv::Mat::zeros(kRect.size(), CV_8UC1);
            cv::circle(mask, cv::Point(kRect.width / 2, kRect.height / 2), kRect.height / 2 - 1, cv::Scalar(255),
                       cv::FILLED);
        }
        FindShape fs;
        QVERIFY(train(fs, templ, kRect, range, mask, 5, levels));
        QVERIFY(fs.IsValid());

        // The part turns about a point other than the reference.
        const cv::Point ref = refOf(kRect);
        const cv::Mat motion = synth::rigidMotion({112.0, 93.0}, rotation, {shiftX, shiftY});
        const cv::Mat live = synth::moved(templ, motion);
        const cv::Point2d landed = synth::apply(motion, cv::Point2d(ref.x, ref.y));

        int dx = 0, dy = 0;
        double angle = 99.0, score = 0.0;
        const cv::Rect search = searchOf(kRect, kMargin);
        QVERIFY(locate(fs, live, search, dx, dy, angle, &score));
        QVERIFY2(score >= 50.0, qPrintable(QString::number(score)));

        if (rotation == 0.0 && shiftX == 0.0 && shiftY == 0.0) {
            QCOMPARE(dx, 0);
            QCOMPARE(dy, 0);
        }
        QVERIFY2(std::abs(dx - (ref.x - landed.x)) <= 1.0, qPrintable(QString("dx %1 want %2").arg(dx).arg(ref.x - landed.x)));
        QVERIFY2(std::abs(dy - (ref.y - landed.y)) <= 1.0, qPrintable(QString("dy %1 want %2").arg(dy).arg(ref.y - landed.y)));
        if (range == 0)
            QCOMPARE(angle, 0.0);
        else
            QVERIFY2(std::abs(angle + rotation) <= 1.0, qPrintable(QString("angle %1").arg(angle)));
        QVERIFY(std::abs(angle) <= range);

        // Applied as the engine applies it, the result puts the part back.
        const cv::Mat fixedUp = straighten(live, ref, dx, dy, angle);
        const double after = synth::meanDiff(fixedUp, templ, inner(kRect, 8));
        QVERIFY2(after < 6.0, qPrintable(QString("difference after straightening %1").arg(after)));
    }

    // Whole-pixel positioning leaves up to half a pixel on every axis, which
    // strong edges show; the fine result keeps the fraction.
    void fractionOfAPixelIsKept_data()
    {
        QTest::addColumn<double>("rotation");
        QTest::addColumn<double>("shiftX");
        QTest::addColumn<double>("shiftY");
        QTest::addColumn<int>("range");
        QTest::newRow("half a pixel") << 0.0 << 0.5 << -0.5 << 0;
        QTest::newRow("quarters") << 0.0 << 3.25 << -6.75 << 0;
        QTest::newRow("turned, fractions") << 1.3 << -4.4 << 2.6 << 3;
        QTest::newRow("turned back, fractions") << -1.8 << 0.45 << 5.55 << 3;
    }
    void fractionOfAPixelIsKept()
    {
        QFETCH(double, rotation);
        QFETCH(double, shiftX);
        QFETCH(double, shiftY);
        QFETCH(int, range);
        const cv::Mat templ = synth::textured(kFrame, 23);
        FindShape fs;
        QVERIFY(train(fs, templ, kRect, range));
        const cv::Point ref = refOf(kRect);
        const cv::Mat motion = synth::rigidMotion({112.0, 93.0}, rotation, {shiftX, shiftY});
        const cv::Mat live = synth::moved(templ, motion);
        const cv::Point2d landed = synth::apply(motion, cv::Point2d(ref.x, ref.y));
        const cv::Rect search = searchOf(kRect, kMargin);

        cv::Point2d shift;
        double angle = 99.0;
        QVERIFY(fs.Find(live(search).clone(), 0, &shift, nullptr, &angle));
        const cv::Point2d err = shift - cv::Point2d(search.x, search.y) - (cv::Point2d(ref.x, ref.y) - landed);
        QVERIFY2(std::hypot(err.x, err.y) <= 0.2, qPrintable(QString("off by %1, %2").arg(err.x).arg(err.y)));
        QVERIFY2(std::abs(angle + rotation) <= 0.1, qPrintable(QString("angle %1").arg(angle)));
    }

    // Shift-only models are scored on whole pixels from the picture's byte
    // offsets: a picture with another row step (a cut of a wider one) must
    // give the very same answer, also where the part reaches over the cut's
    // edge and only the points inside count.
    void rowStepDoesNotChangeTheAnswer_data()
    {
        QTest::addColumn<double>("shiftX");
        QTest::addColumn<double>("shiftY");
        QTest::addColumn<int>("margin");  // 0: the search cut ends at the trained rectangle
        QTest::addColumn<double>("tolerance");  // px; the peak's far side is cut off at an edge
        QTest::newRow("inside") << 6.0 << -4.0 << kMargin << 0.2;
        QTest::newRow("fractions inside") << -3.25 << 2.5 << kMargin << 0.2;
        QTest::newRow("over the cut's edge") << 2.0 << 1.0 << 0 << 0.5;
        QTest::newRow("over the edge, fractions") << -1.5 << 2.25 << 0 << 0.5;
    }
    void rowStepDoesNotChangeTheAnswer()
    {
        QFETCH(double, shiftX);
        QFETCH(double, shiftY);
        QFETCH(int, margin);
        QFETCH(double, tolerance);
        const cv::Mat templ = synth::textured(kFrame, 31);
        FindShape fs;
        QVERIFY(train(fs, templ, kRect, 0));
        const cv::Mat live = synth::moved(templ, synth::rigidMotion({112.0, 93.0}, 0.0, {shiftX, shiftY}));
        const cv::Rect search = margin > 0 ? searchOf(kRect, margin) : kRect;

        const cv::Mat cut = live(search).clone();
        cv::Mat wide(cut.rows + 6, cut.cols + 37, CV_8UC1, cv::Scalar(200));
        cut.copyTo(wide(cv::Rect(21, 3, cut.cols, cut.rows)));
        const cv::Mat view = wide(cv::Rect(21, 3, cut.cols, cut.rows));
        QVERIFY(!view.isContinuous());

        cv::Point2d a, b;
        double scoreA = 0.0, scoreB = -1.0, angleA = 9.0, angleB = -9.0;
        const bool foundA = fs.Find(cut, 0, &a, &scoreA, &angleA);
        const bool foundB = fs.Find(view, 0, &b, &scoreB, &angleB);
        QCOMPARE(foundB, foundA);
        QCOMPARE(scoreB, scoreA);
        QCOMPARE(b.x, a.x);
        QCOMPARE(b.y, a.y);
        QVERIFY(foundA);
        const cv::Point2d err = a - cv::Point2d(search.x, search.y) - cv::Point2d(-shiftX, -shiftY);
        QVERIFY2(std::hypot(err.x, err.y) <= tolerance,
                 qPrintable(QString("off by %1, %2").arg(err.x).arg(err.y)));
        QCOMPARE(angleA, 0.0);
    }

    void severalMatchersRunSideBySide()
    {
        // One model per camera, searched at the same time from several threads.
        struct Job {
            cv::Mat live;
            FindShape fs;
            int dx = 0, dy = 0;
            double angle = 0.0;
            bool found = false;
        };
        std::vector<Job> jobs(4);
        for (size_t i = 0; i < jobs.size(); ++i) {
            const cv::Mat templ = synth::textured(kFrame, 50 + i);
            QVERIFY(train(jobs[i].fs, templ, kRect, 20));
            const double k = static_cast<double>(i);
            jobs[i].live = synth::moved(templ, synth::rigidMotion({120, 100}, 4.0 * k - 6.0, {3.0 * k - 4.0, 5.0 - 2.0 * k}));
        }
        std::vector<std::thread> threads;
        for (Job& j : jobs)
            threads.emplace_back([&j] { j.found = locate(j.fs, j.live, searchOf(kRect, kMargin), j.dx, j.dy, j.angle); });
        for (std::thread& t : threads)
            t.join();
        for (Job& j : jobs) {
            int dx = 0, dy = 0;
            double angle = 0.0;
            QVERIFY(j.found);
            QVERIFY(locate(j.fs, j.live, searchOf(kRect, kMargin), dx, dy, angle));
            QCOMPARE(j.dx, dx);
            QCOMPARE(j.dy, dy);
            QCOMPARE(j.angle, angle);
        }
    }

    void partWithInvertedContrast()
    {
        const cv::Mat templ = synth::textured(kFrame, 12);
        cv::Mat live;
        cv::bitwise_not(synth::moved(templ, synth::rigidMotion({120, 100}, 0, {5, -3})), live);
        const cv::Rect search = searchOf(kRect, kMargin);
        const cv::Point ref = refOf(kRect);
        int dx = 0, dy = 0;
        double angle = 0.0;

        FindShape plain;
        QVERIFY(train(plain, templ, kRect, 0));
        QVERIFY(!locate(plain, live, search, dx, dy, angle));

        FindShape either;
        QVERIFY(either.CreateShape(templ(kRect), 0.0, 0, 0, ref.x, ref.y, true, 255, cv::Mat(), 5, 5));
        QVERIFY(locate(either, live, search, dx, dy, angle));
        QCOMPARE(dx, -5);
        QCOMPARE(dy, 3);
    }

    void angleStaysWithinTheRange()
    {
        // The part is turned further than the search may turn: whatever is
        // reported lies within the range.
        const cv::Mat templ = synth::textured(kFrame, 13);
        FindShape fs;
        QVERIFY(train(fs, templ, kRect, 10));
        const cv::Mat live = synth::moved(templ, synth::rigidMotion({120, 100}, 40, {0, 0}));
        int dx = 0, dy = 0;
        double angle = 0.0;
        if (locate(fs, live, searchOf(kRect, kMargin), dx, dy, angle))
            QVERIFY(std::abs(angle) <= 10.0);
    }

    void otherPictureIsNotFound()
    {
        const cv::Mat templ = synth::textured(kFrame, 14);
        FindShape fs;
        QVERIFY(train(fs, templ, kRect, 15));
        int dx = 0, dy = 0;
        double angle = 0.0, score = 100.0;
        QVERIFY(!locate(fs, synth::textured(kFrame, 99), searchOf(kRect, kMargin), dx, dy, angle, &score));
        QVERIFY(score < 50.0);
        // The same model still finds its own part afterwards.
        QVERIFY(locate(fs, templ, searchOf(kRect, kMargin), dx, dy, angle));
        QCOMPARE(dx, 0);
        QCOMPARE(dy, 0);
    }

    // A search over a picture that shows the part twice: a clearly fainter
    // copy never wins over the part, two copies alike are refused.
    void secondPlaceNeverWins_data()
    {
        QTest::addColumn<double>("copy");  // contrast of the second copy (0: none)
        QTest::addColumn<bool>("found");
        QTest::newRow("one part") << 0.0 << true;
        QTest::newRow("a faint copy elsewhere") << 0.6 << true;
        QTest::newRow("an equal copy elsewhere") << 1.0 << false;
    }
    void secondPlaceNeverWins()
    {
        QFETCH(double, copy);
        QFETCH(bool, found);
        const cv::Size frame(420, 200);
        const cv::Rect place(60, 60, 100, 80);
        const cv::Mat part = synth::textured(place.size(), 14);
        auto scene = [&](cv::Point at, double second) {
            cv::Mat img(frame, CV_8UC1, cv::Scalar(110));
            part.copyTo(img(cv::Rect(at, place.size())));
            if (second > 0.0) {
                // Fainter and noisier: it looks less like the part.
                cv::Mat faint, noise(place.size(), CV_16S);
                part.convertTo(faint, CV_16S, second, 110 * (1.0 - second));
                cv::RNG(3).fill(noise, cv::RNG::NORMAL, 0.0, 40.0 * (1.0 - second));
                faint += noise;
                faint.convertTo(img(cv::Rect(cv::Point(270, 70), place.size())), CV_8U);
            }
            return img;
        };
        FindShape fs;
        QVERIFY(train(fs, scene(place.tl(), 0.0), place, 0));
        int dx = 0, dy = 0;
        double angle = 0.0;
        const bool ok = locate(fs, scene(place.tl() + cv::Point(4, -3), copy), cv::Rect(cv::Point(), frame), dx, dy,
                               angle);
        QCOMPARE(ok, found);
        if (found) {
            QCOMPARE(dx, -4);
            QCOMPARE(dy, 3);
        }
    }

    void unusableModelsAreRefused_data()
    {
        QTest::addColumn<cv::Mat>("templ");
        QTest::addColumn<cv::Mat>("mask");
        const cv::Mat good = synth::textured(cv::Size(60, 50), 3);
        cv::Mat fewPixels = cv::Mat::zeros(good.size(), CV_8UC1);
        fewPixels(cv::Rect(10, 10, 5, 5)).setTo(255);
        cv::Mat colour;
        cv::cvtColor(good, colour, cv::COLOR_GRAY2BGR);
        QTest::newRow("empty") << cv::Mat() << cv::Mat();
        QTest::newRow("flat") << cv::Mat(50, 60, CV_8UC1, cv::Scalar(90)) << cv::Mat();
        QTest::newRow("tiny") << good(cv::Rect(0, 0, 6, 6)).clone() << cv::Mat();
        QTest::newRow("colour") << colour << cv::Mat();
        QTest::newRow("mask of other size") << good << cv::Mat(49, 60, CV_8UC1, cv::Scalar(255));
        QTest::newRow("mask of other type") << good << cv::Mat(50, 60, CV_16UC1, cv::Scalar(255));
        QTest::newRow("mask with few pixels") << good << fewPixels;
    }
    void unusableModelsAreRefused()
    {
        QFETCH(cv::Mat, templ);
        QFETCH(cv::Mat, mask);
        FindShape fs;
        // A valid model first: a refused one must not leave it in place.
        QVERIFY(fs.CreateShape(synth::textured(cv::Size(60, 50), 4), 0.0, 0, 0, 30, 25, false, 255, cv::Mat(), 5, 5));
        QVERIFY(!fs.CreateShape(templ, 0.0, 0, 10, 30, 25, false, 255, mask, 5, 5));
        QVERIFY(!fs.IsValid());
        int x = 0, y = 0;
        double s = 0.0, a = 0.0;
        QVERIFY(!fs.Find(synth::textured(cv::Size(80, 70), 4), 0, &x, &y, &s, &a));
    }

    void unusablePicturesAreRefused_data()
    {
        QTest::addColumn<cv::Mat>("picture");
        const cv::Mat big = synth::textured(cv::Size(90, 80), 5);
        cv::Mat colour;
        cv::cvtColor(big, colour, cv::COLOR_GRAY2BGRA);
        QTest::newRow("empty") << cv::Mat();
        QTest::newRow("narrower than the model") << big(cv::Rect(0, 0, 59, 80)).clone();
        QTest::newRow("lower than the model") << big(cv::Rect(0, 0, 90, 49)).clone();
        QTest::newRow("colour") << colour;
    }
    void unusablePicturesAreRefused()
    {
        QFETCH(cv::Mat, picture);
        FindShape fs;
        QVERIFY(fs.CreateShape(synth::textured(cv::Size(90, 80), 5)(cv::Rect(10, 10, 60, 50)).clone(), 0.0, 0, 20, 40,
                               35, false, 255, cv::Mat(), 5, 5));
        int x = 7, y = 7;
        double a = 7.0;
        QVERIFY(!fs.Find(picture, 0, &x, &y, nullptr, &a));
        QCOMPARE(x, 7);
        QCOMPARE(y, 7);
        QCOMPARE(a, 7.0);
        // Without a model nothing is found either.
        FindShape none;
        QVERIFY(!none.IsValid());
        QVERIFY(!none.Find(synth::textured(cv::Size(90, 80), 5), 0, &x, &y, nullptr, &a));
        fs.Clear();
        QVERIFY(!fs.IsValid());
    }
};

QTEST_GUILESS_MAIN(TestFindShape)
#include "tst_findshape.moc"
