#include "framevalidity.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

Q_DECLARE_METATYPE(cv::Size)
Q_DECLARE_METATYPE(cv::Vec3d)

class TestFrameValidity : public QObject {
    Q_OBJECT
private slots:
    // Over any rectangle (edges, corners, middle, whole frame) the parts kept
    // give exactly the warped frame of 255 compared with 255, or nothing
    // where all of it stayed 255.
    void affineMatchesTheWarpedFrame_data()
    {
        QTest::addColumn<cv::Size>("frame");
        QTest::addColumn<cv::Vec3d>("move");  // dx, dy, angle
        QTest::addColumn<bool>("allValid");
        const cv::Size big(1280, 1024), small(160, 120);
        QTest::newRow("unmoved") << big << cv::Vec3d(0, 0, 0) << true;
        QTest::newRow("whole pixels") << big << cv::Vec3d(7, 5, 0) << false;
        QTest::newRow("fractions") << big << cv::Vec3d(-3.6, -0.3, 0) << false;
        QTest::newRow("turned, shifted") << big << cv::Vec3d(2.3, -1.6, -2.9) << false;
        // Pixels of the right edge whose fixed-point source position rounds
        // differently when a strip is warped from its own corner.
        QTest::newRow("right edge rounding, turned right") << big << cv::Vec3d(2.3, 0.7, -2.9) << false;
        QTest::newRow("right edge rounding, turned left") << big << cv::Vec3d(-3.6, 0.7, 1.3) << false;
        QTest::newRow("reach over half the frame") << small << cv::Vec3d(70, -5, 10) << false;
        QTest::newRow("out of the frame") << small << cv::Vec3d(500, 0, 0) << false;
    }
    void affineMatchesTheWarpedFrame()
    {
        QFETCH(cv::Size, frame);
        QFETCH(cv::Vec3d, move);
        QFETCH(bool, allValid);
        cv::Mat motion = cv::getRotationMatrix2D(cv::Point2f(frame.width * 0.6f, frame.height * 0.4f), move[2], 1.0);
        motion.at<double>(0, 2) += move[0];
        motion.at<double>(1, 2) += move[1];
        cv::Mat warped;
        cv::warpAffine(cv::Mat(frame, CV_8UC1, cv::Scalar(255)), warped, motion, frame, cv::INTER_LINEAR,
                       cv::BORDER_CONSTANT, cv::Scalar());
        const cv::Mat expected = warped == 255;
        const FrameValidity v = FrameValidity::ofAffine(frame, motion);
        QCOMPARE(v.allValid(), allValid);
        const int w = frame.width, h = frame.height;
        for (const cv::Rect r : {cv::Rect(0, 0, w, h), cv::Rect(0, 0, w, 3), cv::Rect(0, h - 3, w, 3),
                                 cv::Rect(w - 3, 0, 3, h), cv::Rect(0, 0, 40, 30), cv::Rect(w - 40, h - 30, 40, 30),
                                 cv::Rect(w / 3, h / 3, 20, 20), cv::Rect(5, h / 2, w - 10, 4)}) {
            const cv::Mat got = v.over(r);
            const cv::Mat want = got.empty() ? cv::Mat(r.size(), CV_8UC1, cv::Scalar(255)) : got;
            QCOMPARE(want.size(), r.size());
            QVERIFY2(cv::countNonZero(want != expected(r)) == 0,
                     qPrintable(QStringLiteral("%1,%2 %3x%4").arg(r.x).arg(r.y).arg(r.width).arg(r.height)));
        }
    }
};

QTEST_GUILESS_MAIN(TestFrameValidity)
#include "tst_framevalidity.moc"
