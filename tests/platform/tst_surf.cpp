#include "surf.h"
#include "synthpictures.h"

#include <QtTest>

Q_DECLARE_METATYPE(cv::Mat)

namespace {

// Large enough for plenty of key points; the small one falls back to correlation.
const cv::Size kBig(160, 140);
const cv::Size kSmall(40, 36);

SURF trained(const std::vector<cv::Mat>& samples, const cv::Mat& mask = cv::Mat(), int scaleDown = 1)
{
    SURF s;
    const cv::Size size = samples.front().size();
    s.Create(size.width, size.height, mask);
    for (const cv::Mat& m : samples)
        s.AddTemp(m, scaleDown, 50, 80);
    s.Train(0, 0, 0, 0);
    return s;
}

float scoreOf(const SURF& s, const cv::Mat& picture, cv::Mat* out = nullptr)
{
    cv::Mat o = cv::Mat::zeros(picture.size(), CV_8UC1);
    cv::Mat copy = picture.clone();
    const float v = s.Match(copy, o);
    if (out)
        *out = o;
    return v;
}

}  // namespace

class TestSurf : public QObject {
    Q_OBJECT
private slots:
    void similarityFollowsThePicture_data()
    {
        QTest::addColumn<cv::Mat>("templ");
        QTest::addColumn<cv::Mat>("picture");
        QTest::addColumn<bool>("features");
        QTest::addColumn<float>("minScore");
        QTest::addColumn<float>("maxScore");
        const cv::Mat big = synth::textured(kBig, 31);
        const cv::Mat small = synth::textured(kSmall, 32, 12);
        QTest::newRow("features: identical") << big << big.clone() << true << 95.f << 100.f;
        QTest::newRow("features: noisy") << big << synth::noisy(big, 4.0, 1) << true << 85.f << 100.f;
        QTest::newRow("features: moved and turned")
            << big << synth::moved(big, synth::rigidMotion({80, 70}, 6, {5, -4})) << true << 80.f << 100.f;
        QTest::newRow("features: other picture") << big << synth::textured(kBig, 77) << true << 0.f << 40.f;
        QTest::newRow("correlation: identical") << small << small.clone() << false << 95.f << 100.f;
        QTest::newRow("correlation: noisy") << small << synth::noisy(small, 4.0, 2) << false << 85.f << 100.f;
        QTest::newRow("correlation: other picture")
            << small << synth::textured(kSmall, 78, 12) << false << 0.f << 40.f;
        const cv::Mat flat(kSmall, CV_8UC1, cv::Scalar(120));
        QTest::newRow("flat: noisy") << flat << synth::noisy(flat, 2.0, 3) << false << 80.f << 100.f;
        QTest::newRow("flat: darker") << flat << cv::Mat(kSmall, CV_8UC1, cv::Scalar(70)) << false << 0.f << 1.f;
        QTest::newRow("flat: textured picture") << flat << small << false << 0.f << 40.f;
    }
    void similarityFollowsThePicture()
    {
        QFETCH(cv::Mat, templ);
        QFETCH(cv::Mat, picture);
        QFETCH(bool, features);
        QFETCH(float, minScore);
        QFETCH(float, maxScore);
        const SURF s = trained({templ});
        QVERIFY(s.IsValid());
        QCOMPARE(s.featureSampleCount(), features ? 1 : 0);
        cv::Mat out;
        const float v = scoreOf(s, picture, &out);
        QVERIFY2(v >= minScore && v <= maxScore, qPrintable(QString::number(v)));
        QCOMPARE(out.size(), picture.size());
        QCOMPARE(out.type(), CV_8UC1);
    }

    void outputMarksWhatDiffers_data()
    {
        QTest::addColumn<cv::Mat>("templ");
        const cv::Mat big = synth::textured(kBig, 33);
        QTest::newRow("features") << big;
        QTest::newRow("medium") << synth::textured(kSmall * 2, 34, 20);
    }
    void outputMarksWhatDiffers()
    {
        QFETCH(cv::Mat, templ);
        const SURF s = trained({templ});
        cv::Mat out;
        const float same = scoreOf(s, templ, &out);
        QCOMPARE(cv::countNonZero(out), 0);

        cv::Mat changed = templ.clone();
        const cv::Rect patch(20, 20, 24, 24);
        cv::Mat roi = changed(patch);
        cv::bitwise_not(roi, roi);  // an inverted patch
        const float lower = scoreOf(s, changed, &out);
        QVERIFY2(lower < same, qPrintable(QString("%1 vs %2").arg(lower).arg(same)));
        const int marked = cv::countNonZero(out);
        QVERIFY2(marked > patch.area() / 4, qPrintable(QString::number(marked)));
        cv::Mat outside = out.clone();
        outside(cv::Rect(patch.x - 2, patch.y - 2, patch.width + 4, patch.height + 4)).setTo(0);
        QVERIFY2(cv::countNonZero(outside) < patch.area() / 10, qPrintable(QString::number(cv::countNonZero(outside))));
        // The output picture may be the picture itself.
        cv::Mat shared = changed.clone();
        QCOMPARE(s.Match(shared, shared), lower);
        QCOMPARE(cv::countNonZero(shared != out), 0);
    }

    void maskLimitsTheComparison()
    {
        const cv::Mat templ = synth::textured(kSmall, 35, 12);
        cv::Mat mask = cv::Mat::zeros(kSmall, CV_8UC1);
        mask(cv::Rect(0, 0, kSmall.width / 2, kSmall.height)).setTo(255);
        cv::Mat picture = templ.clone();
        picture(cv::Rect(kSmall.width / 2, 0, kSmall.width / 2, kSmall.height)).setTo(0);
        cv::Mat out;
        QVERIFY(scoreOf(trained({templ}, mask), picture, &out) >= 95.f);
        QCOMPARE(cv::countNonZero(out), 0);
        QVERIFY(scoreOf(trained({templ}), picture) < 90.f);
    }

    void bestSampleCounts()
    {
        const cv::Mat a = synth::textured(kBig, 36);
        const cv::Mat b = synth::textured(kBig, 37);
        const SURF s = trained({a, b});
        QCOMPARE(s.sampleCount(), 2);
        QVERIFY(scoreOf(s, a) >= 95.f);
        QVERIFY(scoreOf(s, b) >= 95.f);
        QVERIFY(scoreOf(s, synth::textured(kBig, 38)) < 40.f);
    }

    void reducedScaleKeepsTheFullSizeOutput()
    {
        const cv::Mat big = synth::textured(kBig * 2, 39);
        const SURF s = trained({big}, cv::Mat(), 2);
        cv::Mat out;
        QVERIFY(scoreOf(s, big, &out) >= 95.f);
        QCOMPARE(out.size(), big.size());
        QVERIFY(scoreOf(s, synth::textured(kBig * 2, 40)) < 40.f);
    }

    void badInputIsRefused()
    {
        const cv::Mat templ = synth::textured(kSmall, 41, 12);
        SURF s;
        QVERIFY(!s.IsValid());
        QVERIFY(!s.AddTemp(templ, 1, 50, 80));  // before Create
        QVERIFY(!s.Create(-1, 5, cv::Mat()));
        QVERIFY(!s.Create(kSmall.width, kSmall.height, cv::Mat(5, 5, CV_8UC1, cv::Scalar(255))));
        QVERIFY(s.Create(kSmall.width, kSmall.height, cv::Mat()));
        QVERIFY(!s.Train(0, 0, 0, 0));  // no samples
        QVERIFY(!s.AddTemp(cv::Mat(kSmall.height + 1, kSmall.width, CV_8UC1, cv::Scalar(0)), 1, 50, 80));
        cv::Mat colour;
        cv::cvtColor(templ, colour, cv::COLOR_GRAY2BGR);
        QVERIFY(!s.AddTemp(colour, 1, 50, 80));
        QVERIFY(!s.IsValid());

        cv::Mat out;
        QCOMPARE(scoreOf(s, templ, &out), 0.f);  // not trained
        QCOMPARE(cv::countNonZero(out), 0);

        QVERIFY(s.AddTemp(templ, 1, 50, 80));
        QVERIFY(s.Train(0, 0, 0, 0));
        QVERIFY(s.IsValid());
        QCOMPARE(scoreOf(s, synth::textured(cv::Size(30, 30), 41), &out), 0.f);  // other size
        QCOMPARE(out.size(), cv::Size(30, 30));
        QCOMPARE(cv::countNonZero(out), 0);
        QCOMPARE(scoreOf(s, colour, &out), 0.f);

        s.Clear();
        QVERIFY(!s.IsValid());
        QCOMPARE(s.sampleCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSurf)
#include "tst_surf.moc"
