#include "graymatch.h"
#include "synthpictures.h"

#include <QtTest>

Q_DECLARE_METATYPE(cv::Mat)
Q_DECLARE_METATYPE(cv::Point)

namespace {

const cv::Size kRoi(80, 60);
const cv::Point kBlob(28, 30);  // a bright disc the templates show
const int kBlobRadius = 8;

cv::Mat ellipseMask()
{
    cv::Mat m = cv::Mat::zeros(kRoi, CV_8UC1);
    cv::ellipse(m, cv::Point(40, 30), cv::Size(36, 26), 0, 0, 360, cv::Scalar(255), cv::FILLED);
    return m;
}

// A moderately textured ROI with the bright disc in it.
cv::Mat sample(std::uint64_t seed = 21)
{
    cv::Mat img = synth::textured(kRoi, seed, 12);
    // Keep the ground moderate so that blobs of either sign are visible.
    img = img * 0.5 + 60;
    cv::circle(img, kBlob, kBlobRadius, cv::Scalar(230), cv::FILLED);
    return img;
}

GrayMatch trained(const std::vector<cv::Mat>& samples, int sensitivity = 45, int amplify = 0, int shift = 0,
                  const cv::Mat& mask = ellipseMask())
{
    GrayMatch g;
    g.Create(kRoi.width, kRoi.height, mask, shift);
    for (const cv::Mat& s : samples)
        g.AddTemp(s);
    g.Train(sensitivity, amplify, 100, 150);
    return g;
}

cv::Mat defectsOf(const GrayMatch& g, const cv::Mat& img)
{
    cv::Mat d = cv::Mat::zeros(img.size(), CV_8UC1);
    g.Match(img, d);
    return d;
}

int discArea(int r)
{
    cv::Mat m = cv::Mat::zeros(kRoi, CV_8UC1);
    cv::circle(m, cv::Point(40, 30), r, cv::Scalar(255), cv::FILLED);
    return cv::countNonZero(m);
}

}  // namespace

class TestGrayMatch : public QObject {
    Q_OBJECT
private slots:
    void unchangedPicturesPass_data()
    {
        QTest::addColumn<cv::Mat>("picture");
        const cv::Mat s = sample();
        QTest::newRow("identical") << s.clone();
        QTest::newRow("mild noise") << synth::noisy(s, 4.0, 5);
        QTest::newRow("one pixel off") << synth::moved(s, synth::rigidMotion({0, 0}, 0, {1, 0}));
        QTest::newRow("a little brighter") << cv::Mat(s + 12);
    }
    void unchangedPicturesPass()
    {
        QFETCH(cv::Mat, picture);
        const GrayMatch g = trained({sample()});
        QVERIFY(g.IsValid());
        const cv::Mat d = defectsOf(g, picture);
        QCOMPARE(d.size(), kRoi);
        QCOMPARE(d.type(), CV_8UC1);
        QCOMPARE(cv::countNonZero(d), 0);
    }

    void changedPicturesAreFlagged_data()
    {
        QTest::addColumn<cv::Mat>("picture");
        QTest::addColumn<cv::Point>("where");
        QTest::addColumn<int>("radius");
        const cv::Mat s = sample();
        cv::Mat missing = sample();
        // The disc is gone: the ground shows through.
        const cv::Mat ground = synth::textured(kRoi, 21, 12) * 0.5 + 60;
        cv::Mat discMask = cv::Mat::zeros(kRoi, CV_8UC1);
        cv::circle(discMask, kBlob, kBlobRadius, cv::Scalar(255), cv::FILLED);
        ground.copyTo(missing, discMask);
        QTest::newRow("missing bright disc") << missing << kBlob << kBlobRadius;
        cv::Mat dark = s.clone();
        cv::circle(dark, cv::Point(55, 35), 6, cv::Scalar(5), cv::FILLED);
        QTest::newRow("added dark disc") << dark << cv::Point(55, 35) << 6;
        cv::Mat bright = s.clone();
        cv::circle(bright, cv::Point(50, 20), 5, cv::Scalar(250), cv::FILLED);
        QTest::newRow("added bright disc") << bright << cv::Point(50, 20) << 5;
    }
    void changedPicturesAreFlagged()
    {
        QFETCH(cv::Mat, picture);
        QFETCH(cv::Point, where);
        QFETCH(int, radius);
        const GrayMatch g = trained({sample(), synth::noisy(sample(), 2.0, 9)});
        const cv::Mat d = defectsOf(g, picture);
        const int area = discArea(radius);
        const int found = cv::countNonZero(d);
        QVERIFY2(found >= area / 3 && found <= area, qPrintable(QString("%1 of %2").arg(found).arg(area)));
        // Every flagged pixel lies on the changed disc.
        cv::Mat outside = d.clone();
        cv::circle(outside, where, radius + 2, cv::Scalar(0), cv::FILLED);
        QCOMPARE(cv::countNonZero(outside), 0);
        // The defect picture may be the picture itself.
        cv::Mat same = picture.clone();
        g.Match(same, same);
        QCOMPARE(cv::countNonZero(same != d), 0);
    }

    // The band follows the light on the whole ROI, not a change in one place
    // and not a lamp that has failed; where the templates were saturated it
    // stays open.
    void bandFollowsTheLighting_data()
    {
        QTest::addColumn<double>("gain");
        QTest::addColumn<bool>("spot");
        QTest::addColumn<bool>("saturated");  // the disc is brighter than the sensor shows
        QTest::addColumn<int>("flaggedMin");
        QTest::addColumn<int>("flaggedMax");
        const int disc = discArea(6);
        QTest::newRow("15 % darker") << 0.85 << false << false << 0 << 0;
        QTest::newRow("15 % brighter") << 1.15 << false << false << 0 << 0;
        QTest::newRow("30 % brighter") << 1.3 << false << false << 0 << 0;
        QTest::newRow("brighter with a dark spot") << 1.15 << true << false << disc / 3 << disc;
        QTest::newRow("darker with a dark spot") << 0.85 << true << false << disc / 3 << disc;
        QTest::newRow("half the light") << 0.5 << false << false << kRoi.area() / 4 << kRoi.area();
        QTest::newRow("saturated disc, darker") << 0.75 << false << true << 0 << 0;
    }
    void bandFollowsTheLighting()
    {
        QFETCH(double, gain);
        QFETCH(bool, spot);
        QFETCH(bool, saturated);
        QFETCH(int, flaggedMin);
        QFETCH(int, flaggedMax);
        // Scene values in 16 bits; the sensor clips them at 255.
        cv::Mat scene;
        sample().convertTo(scene, CV_16S);
        if (saturated)
            cv::circle(scene, kBlob, kBlobRadius, cv::Scalar(300), cv::FILLED);
        cv::Mat templ, picture;
        scene.convertTo(templ, CV_8U);
        scene.convertTo(picture, CV_8U, gain);
        const GrayMatch g = trained({templ}, 80, 0, 0, cv::Mat());
        if (spot)
            cv::circle(picture, cv::Point(40, 30), 6, cv::Scalar(5), cv::FILLED);
        const int found = cv::countNonZero(defectsOf(g, picture));
        QVERIFY2(found >= flaggedMin && found <= flaggedMax, qPrintable(QString::number(found)));
    }

    // Brighter light than the template's scales the taught grey values, not
    // the tolerance: with 40 % more light a change of 30 grey levels is still
    // a defect, one of 15 still noise.
    void toleranceStaysWhenTheLightChanges()
    {
        const GrayMatch g = trained({cv::Mat(kRoi, CV_8UC1, cv::Scalar(100))}, 60);  // tolerance 24
        for (int contrast : {30, 15}) {
            cv::Mat picture(kRoi, CV_8UC1, cv::Scalar(140));
            cv::circle(picture, cv::Point(40, 30), 7, cv::Scalar(140 + contrast), cv::FILLED);
            QCOMPARE(cv::countNonZero(defectsOf(g, picture)) > 0, contrast > g.tolerance());
        }
    }

    void changesOutsideTheMaskAreIgnored()
    {
        cv::Mat picture = sample();
        cv::rectangle(picture, cv::Rect(0, 0, 8, 8), cv::Scalar(0), cv::FILLED);  // corner outside the ellipse
        const GrayMatch g = trained({sample()});
        QCOMPARE(cv::countNonZero(defectsOf(g, picture)), 0);
        // With no mask the same corner is flagged.
        const GrayMatch all = trained({sample()}, 45, 0, 0, cv::Mat());
        QVERIFY(cv::countNonZero(defectsOf(all, picture)) > 30);
    }

    void sensitivitySetsTheTolerance_data()
    {
        QTest::addColumn<int>("sensitivity");
        QTest::addColumn<int>("contrast");
        QTest::addColumn<bool>("flagged");
        QTest::newRow("faint change, low sensitivity") << 20 << 35 << false;
        QTest::newRow("faint change, default sensitivity") << 45 << 35 << false;
        QTest::newRow("faint change, high sensitivity") << 80 << 35 << true;
        QTest::newRow("strong change, default sensitivity") << 45 << 90 << true;
        QTest::newRow("strong change, no sensitivity") << 0 << 90 << false;
    }
    void sensitivitySetsTheTolerance()
    {
        QFETCH(int, sensitivity);
        QFETCH(int, contrast);
        QFETCH(bool, flagged);
        // A flat ROI so that the band is only the tolerance.
        const cv::Mat flat(kRoi, CV_8UC1, cv::Scalar(100));
        cv::Mat picture = flat.clone();
        cv::circle(picture, cv::Point(40, 30), 7, cv::Scalar(100 + contrast), cv::FILLED);
        const GrayMatch g = trained({flat}, sensitivity);
        QCOMPARE(cv::countNonZero(defectsOf(g, picture)) > 0, flagged);
    }

    void amplificationWidensTheTaughtVariation()
    {
        // Two templates differ by 20 grey levels in one patch; the picture
        // goes 30 beyond the brighter one there.
        const cv::Mat a(kRoi, CV_8UC1, cv::Scalar(100));
        cv::Mat b = a.clone();
        const cv::Rect patch(30, 20, 20, 20);
        b(patch).setTo(120);
        cv::Mat picture = a.clone();
        picture(patch).setTo(150);
        // Sensitivity 60 leaves an absolute tolerance of 24 grey levels.
        const GrayMatch plain = trained({a, b}, 60, 0);
        QCOMPARE(plain.tolerance(), 24);
        QVERIFY(cv::countNonZero(defectsOf(plain, picture)) > 0);
        const GrayMatch amplified = trained({a, b}, 60, 4);
        QCOMPARE(cv::countNonZero(defectsOf(amplified, picture)), 0);
    }

    void shiftToleranceAllowsLargerMoves()
    {
        const cv::Mat s = sample();
        const cv::Mat shifted = synth::moved(s, synth::rigidMotion({0, 0}, 0, {3, 0}));
        QVERIFY(cv::countNonZero(defectsOf(trained({s}, 45, 0, 0), shifted)) > 0);
        QCOMPARE(cv::countNonZero(defectsOf(trained({s}, 45, 0, 2), shifted)), 0);
    }

    void badInputIsRefused()
    {
        GrayMatch g;
        QVERIFY(!g.IsValid());
        QVERIFY(!g.AddTemp(sample()));  // before Create
        QVERIFY(!g.Create(0, 10, cv::Mat(), 0));
        QVERIFY(!g.Create(kRoi.width, kRoi.height, cv::Mat(10, 10, CV_8UC1, cv::Scalar(255)), 0));
        QVERIFY(!g.Create(kRoi.width, kRoi.height, cv::Mat(kRoi, CV_32FC1, cv::Scalar(1)), 0));
        QVERIFY(g.Create(kRoi.width, kRoi.height, ellipseMask(), 0));
        QVERIFY(!g.Train(45, 0, 100, 150));  // no samples
        QVERIFY(!g.IsValid());
        QVERIFY(!g.AddTemp(cv::Mat(kRoi.height, kRoi.width + 1, CV_8UC1, cv::Scalar(1))));
        cv::Mat colour;
        cv::cvtColor(sample(), colour, cv::COLOR_GRAY2BGR);
        QVERIFY(!g.AddTemp(colour));
        QCOMPARE(g.sampleCount(), 0);
        QVERIFY(g.AddTemp(sample()));
        QVERIFY(g.Train(45, 0, 100, 150));
        QVERIFY(g.IsValid());

        // A picture of another size gives an empty defect map of its own size.
        cv::Mat other = cv::Mat::zeros(10, 12, CV_8UC1);
        cv::Mat d;
        g.Match(other, d);
        QCOMPARE(d.size(), cv::Size(12, 10));
        QCOMPARE(cv::countNonZero(d), 0);
        g.Match(cv::Mat(), d);
        QVERIFY(d.empty());

        g.Clear();
        QVERIFY(!g.IsValid());
        cv::Mat black = cv::Mat::zeros(kRoi, CV_8UC1);
        d = cv::Mat();
        g.Match(black, d);
        QCOMPARE(d.size(), kRoi);
        QCOMPARE(cv::countNonZero(d), 0);
    }

    void retrainingStartsAfresh()
    {
        // Create drops the samples of the previous training.
        GrayMatch g = trained({cv::Mat(kRoi, CV_8UC1, cv::Scalar(20)), cv::Mat(kRoi, CV_8UC1, cv::Scalar(220))});
        const cv::Mat mid(kRoi, CV_8UC1, cv::Scalar(120));
        QCOMPARE(cv::countNonZero(defectsOf(g, mid)), 0);
        QVERIFY(g.Create(kRoi.width, kRoi.height, cv::Mat(), 0));
        QVERIFY(!g.IsValid());
        QVERIFY(g.AddTemp(cv::Mat(kRoi, CV_8UC1, cv::Scalar(20))));
        QVERIFY(g.Train(45, 0, 100, 150));
        QCOMPARE(g.sampleCount(), 1);
        QCOMPARE(cv::countNonZero(defectsOf(g, mid)), kRoi.area());
    }
};

QTEST_GUILESS_MAIN(TestGrayMatch)
#include "tst_graymatch.moc"
