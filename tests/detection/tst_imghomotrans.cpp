#include "imghomotrans.h"
#include "synthpictures.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(cv::Mat)
Q_DECLARE_METATYPE(cv::Size)

namespace {

const cv::Size kFrame(480, 360);
const cv::Rect kInner(40, 40, kFrame.width - 80, kFrame.height - 80);

// A perspective warp that moves the corners by up to about 20 pixels.
cv::Mat knownWarp(double strength)
{
    const std::vector<cv::Point2f> from{{0, 0}, {480, 0}, {480, 360}, {0, 360}};
    const auto s = static_cast<float>(strength);
    const std::vector<cv::Point2f> to{{12 * s, 8 * s}, {480 - 6 * s, -10 * s}, {480 + 9 * s, 360 - 14 * s}, {-8 * s, 360 + 5 * s}};
    return cv::getPerspectiveTransform(from, to);
}

cv::Mat warped(const cv::Mat& img, const cv::Mat& h)
{
    cv::Mat out;
    cv::warpPerspective(img, out, h, img.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return out;
}

// Mean difference of the template with itself moved by one pixel: what a
// one-pixel misalignment costs on this texture.
double onePixelCost(const cv::Mat& templ)
{
    return synth::meanDiff(synth::moved(templ, synth::rigidMotion({0, 0}, 0, {1, 1})), templ, kInner);
}

}  // namespace

class TestImgHomoTrans : public QObject {
    Q_OBJECT
private slots:
    void workingScaleFollowsTheTemplateSize_data()
    {
        QTest::addColumn<cv::Size>("size");
        QTest::addColumn<double>("scale");
        QTest::newRow("640x480") << cv::Size(640, 480) << 1.0;
        QTest::newRow("1280x1024") << cv::Size(1280, 1024) << std::sqrt(500000.0 / (1280.0 * 1024.0));
    }
    void workingScaleFollowsTheTemplateSize()
    {
        QFETCH(cv::Size, size);
        QFETCH(double, scale);
        ImgHomoTrans h;
        QCOMPARE(h.scale, 1.0f);
        QCOMPARE(h.features.size(), size_t(2));
        h.setTemplate(synth::textured(size, 1, 300), cv::Mat(), 300);
        QVERIFY(std::abs(h.scale - scale) < 1e-4);
        QCOMPARE(h.features[1].img_idx, 1);
    }

    void knownWarpIsUndone_data()
    {
        QTest::addColumn<double>("strength");
        QTest::addColumn<bool>("masked");
        QTest::addColumn<int>("channels");
        QTest::newRow("mild") << 0.5 << false << 1;
        QTest::newRow("strong") << 1.5 << false << 1;
        QTest::newRow("features from the left half only") << 1.0 << true << 1;
        QTest::newRow("colour frame") << 1.0 << false << 3;
    }
    void knownWarpIsUndone()
    {
        QFETCH(double, strength);
        QFETCH(bool, masked);
        QFETCH(int, channels);
        const cv::Mat templ = synth::textured(kFrame, 2);
        cv::Mat mask;
        if (masked) {
            mask = cv::Mat::zeros(kFrame, CV_8UC1);
            mask(cv::Rect(0, 0, kFrame.width / 2, kFrame.height)).setTo(255);
        }
        ImgHomoTrans h;
        QVERIFY(h.setTemplate(templ, mask, 300));
        cv::Mat frame = warped(templ, knownWarp(strength));
        if (channels == 3)
            cv::cvtColor(frame, frame, cv::COLOR_GRAY2BGR);

        cv::Mat out;
        QVERIFY(h.transImageHomo(frame, out, 0.4f));
        QCOMPARE(out.size(), kFrame);
        QCOMPARE(out.channels(), channels);
        cv::Mat grey = out;
        if (channels == 3)
            cv::cvtColor(out, grey, cv::COLOR_BGR2GRAY);
        const double after = synth::meanDiff(grey, templ, kInner);
        const double oneOff = onePixelCost(templ);
        QVERIFY2(after < 0.5 * oneOff, qPrintable(QString("after %1, one pixel off %2").arg(after).arg(oneOff)));
        QCOMPARE(h.features[0].img_idx, 0);
    }

    void alignmentWorksInPlace()
    {
        const cv::Mat templ = synth::textured(kFrame, 3);
        ImgHomoTrans h;
        QVERIFY(h.setTemplate(templ, cv::Mat(), 300));
        cv::Mat frame = warped(templ, knownWarp(1.0));
        QVERIFY(h.transImageHomo(frame, frame, 0.4f));
        QVERIFY(synth::meanDiff(frame, templ, kInner) < 0.5 * onePixelCost(templ));
    }

    void failuresLeaveTheOutputAlone_data()
    {
        QTest::addColumn<cv::Mat>("templ");
        QTest::addColumn<cv::Mat>("frame");
        const cv::Mat textured = synth::textured(kFrame, 4);
        const cv::Mat flat(kFrame, CV_8UC1, cv::Scalar(128));
        QTest::newRow("flat template") << flat << warped(textured, knownWarp(1.0));
        QTest::newRow("flat frame") << textured << flat;
        QTest::newRow("unrelated frame") << textured << synth::textured(kFrame, 44);
        QTest::newRow("empty frame") << textured << cv::Mat();
        QTest::newRow("16-bit frame") << textured << cv::Mat(kFrame, CV_16UC1, cv::Scalar(9));
        QTest::newRow("no template") << cv::Mat() << warped(textured, knownWarp(1.0));
    }
    void failuresLeaveTheOutputAlone()
    {
        QFETCH(cv::Mat, templ);
        QFETCH(cv::Mat, frame);
        ImgHomoTrans h;
        if (!templ.empty())
            h.setTemplate(templ, cv::Mat(), 300);
        cv::Mat out(kFrame, CV_8UC1, cv::Scalar(77));
        const uchar* data = out.data;
        QVERIFY(!h.transImageHomo(frame, out, 0.4f));
        QCOMPARE(out.data, data);
        QCOMPARE(cv::countNonZero(out != 77), 0);
    }

    void fewKeyPointsAreReportedButUsed()
    {
        const cv::Mat templ = synth::textured(kFrame, 5);
        ImgHomoTrans h;
        QVERIFY(!h.setTemplate(templ, cv::Mat(), 1000000));
        QVERIFY(!h.features[1].keypoints.empty());
        cv::Mat out;
        QVERIFY(h.transImageHomo(warped(templ, knownWarp(1.0)), out, 0.4f));
        QVERIFY(synth::meanDiff(out, templ, kInner) < 0.5 * onePixelCost(templ));
    }

    void refusedTemplateKeepsThePreviousOne_data()
    {
        QTest::addColumn<cv::Mat>("templ");
        QTest::addColumn<cv::Mat>("mask");
        const cv::Mat big = synth::textured(cv::Size(1280, 1024), 6, 200);
        QTest::newRow("mask of other size") << big << cv::Mat(1024, 1000, CV_8UC1, cv::Scalar(255));
        QTest::newRow("mask of other type") << big << cv::Mat(1024, 1280, CV_16UC1, cv::Scalar(255));
        QTest::newRow("empty template") << cv::Mat() << cv::Mat();
        QTest::newRow("float template") << cv::Mat(1024, 1280, CV_32FC1, cv::Scalar(1)) << cv::Mat();
    }
    void refusedTemplateKeepsThePreviousOne()
    {
        QFETCH(cv::Mat, templ);
        QFETCH(cv::Mat, mask);
        const cv::Mat good = synth::textured(kFrame, 7);
        ImgHomoTrans h;
        QVERIFY(h.setTemplate(good, cv::Mat(), 300));
        const size_t keyPoints = h.features[1].keypoints.size();
        QVERIFY(!h.setTemplate(templ, mask, 300));
        QCOMPARE(h.scale, 1.0f);
        QVERIFY(h.mask.empty());
        QCOMPARE(h.features[1].keypoints.size(), keyPoints);
        cv::Mat out;
        QVERIFY(h.transImageHomo(warped(good, knownWarp(1.0)), out, 0.4f));
        QVERIFY(synth::meanDiff(out, good, kInner) < 0.5 * onePixelCost(good));
    }
};

QTEST_GUILESS_MAIN(TestImgHomoTrans)
#include "tst_imghomotrans.moc"
