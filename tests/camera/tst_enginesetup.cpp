// Set-up, training and alignment of the detection engine: positioning and
// homography on moved parts, the judged-pixel mask, the template samples,
// and the guards against ROIs that cannot be judged.
#include "overexposure.h"
#include "synthpictures.h"
#include "testworkdir.h"
#include "viewrig.h"
#include "viewutil.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>

using rig::ViewRig;

Q_DECLARE_METATYPE(cv::Rect)
Q_DECLARE_METATYPE(cv::Scalar)

namespace {

QStringList gLog;
QtMessageHandler gPrevious = nullptr;

void keep(QtMsgType type, const QMessageLogContext& ctx, const QString& text)
{
    gLog << text;
    if (type == QtWarningMsg || type == QtCriticalMsg)
        gPrevious(type, ctx, text);
}

struct LogCapture {
    LogCapture()
    {
        gLog.clear();
        gPrevious = qInstallMessageHandler(keep);
    }
    ~LogCapture() { qInstallMessageHandler(gPrevious); }
    QStringList matching(const QString& start) const
    {
        QStringList out;
        for (const QString& s : gLog)
            if (s.startsWith(start))
                out << s;
        return out;
    }
};

cv::Mat ground(cv::Size s = {160, 120})
{
    return cv::Mat(s, CV_8UC1, cv::Scalar(128));
}

bool same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

// The judged-pixel mask computed independently: 255 except at ignored
// pixels and inside the circle of centre c and radius r.
cv::Mat expectedMask(const cv::Mat& ignore, cv::Point c, int r)
{
    cv::Mat m(ignore.size(), CV_8UC1);
    for (int y = 0; y < m.rows; ++y)
        for (int x = 0; x < m.cols; ++x) {
            const long d2 = long(x - c.x) * (x - c.x) + long(y - c.y) * (y - c.y);
            const bool inCircle = x >= c.x - r && x < c.x + r && y >= c.y - r && y < c.y + r && d2 < long(r) * r;
            m.at<uchar>(y, x) = (ignore.at<uchar>(y, x) || inCircle) ? 0 : 255;
        }
    return m;
}

}  // namespace

class TestEngineSetup : public QObject {
    Q_OBJECT
private slots:
    void partIsJudgedOkAfterAlignment_data()
    {
        QTest::addColumn<double>("shiftX");
        QTest::addColumn<double>("shiftY");
        QTest::addColumn<double>("angle");
        QTest::addColumn<int>("range");   // word 186
        QTest::addColumn<bool>("positioning");
        QTest::addColumn<bool>("pass");
        QTest::newRow("unmoved") << 0.0 << 0.0 << 0.0 << 0 << true << true;
        QTest::newRow("shifted") << 7.0 << -5.0 << 0.0 << 0 << true << true;
        QTest::newRow("shifted and rotated") << 4.0 << 3.0 << 6.0 << 20 << true << true;
        QTest::newRow("rotated the other way") << -3.0 << 2.0 << -9.0 << 20 << true << true;
        QTest::newRow("shifted, positioning off") << 7.0 << -5.0 << 0.0 << 0 << false << false;
    }
    void partIsJudgedOkAfterAlignment()
    {
        QFETCH(double, shiftX);
        QFETCH(double, shiftY);
        QFETCH(double, angle);
        QFETCH(int, range);
        QFETCH(bool, positioning);
        QFETCH(bool, pass);
        TestWorkDir wd;
        ViewRig r;
        r.words()[96] = positioning ? 0 : -1;
        r.words()[186] = range;
        r.words()[116] = 3;
        const cv::Mat templ = synth::textured(r.size(), 31);
        r.setTemplate(0, 0, templ);
        const cv::Rect place(40, 30, 80, 60);
        r.addRect(0, place, 3);
        const int grey = r.addRect(0, cv::Rect(55, 40, 50, 40), 0, 50, 0, 0);
        r.train(0);
        QCOMPARE(r.engine().findShape[0].IsValid(), positioning);
        if (positioning) {
            QCOMPARE(r.engine().refX[0], 80);
            QCOMPARE(r.engine().refY[0], 60);
        }

        const cv::Mat motion = synth::rigidMotion({80, 60}, angle, {shiftX, shiftY});
        r.setCapture(synth::moved(templ, motion));
        LogCapture log;
        r.detect(0);
        QCOMPARE(bool(r.view->roiPassed[0][grey]), pass);
        QCOMPARE(bool(r.view->stepOk), pass);
        if (!positioning) {
            QVERIFY(same(r.aligned(), r.work()));
            return;
        }
        const QStringList found = log.matching(QStringLiteral("OK运行时间"));
        QCOMPARE(found.size(), 1);
        const QRegularExpression re(QStringLiteral("x:\\s+(-?\\d+)\\s+y:\\s+(-?\\d+)\\s+a:\\s+(-?[0-9.e+-]+)"));
        const QRegularExpressionMatch m = re.match(found[0]);
        QVERIFY2(m.hasMatch(), qPrintable(found[0]));
        QVERIFY(std::abs(m.captured(1).toInt() + shiftX) <= 1.0);
        QVERIFY(std::abs(m.captured(2).toInt() + shiftY) <= 1.0);
        QVERIFY(std::abs(m.captured(3).toDouble() + angle) <= 1.0);
        const cv::Rect inner(50, 35, 60, 50);
        QVERIFY(synth::meanDiff(r.aligned(), templ, inner) < 6.0);
    }

    // What the alignment moves in from beyond the frame's edges shows nothing
    // of the part and is never judged; a defect inside the frame still is.
    void pixelsFromOutsideAreNotJudged_data()
    {
        QTest::addColumn<double>("shiftX");
        QTest::addColumn<double>("shiftY");
        QTest::addColumn<double>("angle");
        QTest::addColumn<bool>("defect");
        QTest::newRow("shifted") << 7.0 << -6.0 << 0.0 << false;
        QTest::newRow("shifted and turned") << -6.0 << 5.0 << 4.0 << false;
        QTest::newRow("shifted, with a defect") << 7.0 << -6.0 << 0.0 << true;
    }
    void pixelsFromOutsideAreNotJudged()
    {
        QFETCH(double, shiftX);
        QFETCH(double, shiftY);
        QFETCH(double, angle);
        QFETCH(bool, defect);
        TestWorkDir wd;
        ViewRig r;
        r.words()[96] = 0;
        r.words()[186] = angle != 0.0 ? 10 : 0;
        r.words()[116] = 3;
        r.words()[117] = 40;
        const cv::Mat templ = synth::textured(r.size(), 31);
        r.setTemplate(0, 0, templ);
        r.addRect(0, cv::Rect(40, 30, 80, 60), 3);
        const int grey = r.addRect(0, cv::Rect(0, 0, r.size().width, r.size().height), 0, 50, 0, 0);
        r.train(0);
        cv::Mat live = synth::moved(templ, synth::rigidMotion({80, 60}, angle, {shiftX, shiftY}));
        if (defect)
            live(cv::Rect(70, 50, 12, 12)).setTo(cv::Scalar(0));
        r.setCapture(live);
        LogCapture log;
        r.detect(0);
        QCOMPARE(bool(r.view->roiPassed[0][grey]), !defect);
        // The band the alignment opened stays black in the judged picture.
        QVERIFY(cv::countNonZero(r.aligned() == 0) > 500);
    }

    void positioningFailureJudgesTheUnalignedFrame()
    {
        TestWorkDir wd;
        ViewRig r;
        r.words()[96] = 0;
        r.setTemplate(0, 0, synth::textured(r.size(), 41));
        r.addRect(0, cv::Rect(40, 30, 80, 60), 3);
        r.addRect(0, cv::Rect(10, 10, 20, 20), 5, 200, 0, 0);
        r.train(0);
        QVERIFY(r.engine().findShape[0].IsValid());
        const cv::Mat flat = withNoise();
        r.setCapture(flat);
        LogCapture log;
        r.detect(0);
        QCOMPARE(log.matching(QStringLiteral("NG运行时间")).size(), 1);
        QVERIFY(same(r.aligned(), flat));
        QCOMPARE(int(r.records.size()), 1);
        QVERIFY(r.view->stepOk);
    }

    void homographyUndoesAKnownWarp()
    {
        TestWorkDir wd;
        rig::Options o;
        o.width = 320;
        o.height = 240;
        ViewRig r(o);
        r.words()[154] = 1;
        const cv::Mat templ = synth::textured(r.size(), 51);
        r.setTemplate(0, 0, templ);
        r.train(0);
        const std::vector<cv::Point2f> from{{0, 0}, {320, 0}, {320, 240}, {0, 240}};
        const std::vector<cv::Point2f> to{{9, 5}, {316, -6}, {326, 231}, {-5, 244}};
        cv::Mat warped;
        cv::warpPerspective(templ, warped, cv::getPerspectiveTransform(from, to), templ.size(), cv::INTER_LINEAR,
                            cv::BORDER_REPLICATE);
        r.setCapture(warped);
        r.detect(0);
        const cv::Rect inner(30, 30, 260, 180);
        const double before = synth::meanDiff(warped, templ, inner);
        const double after = synth::meanDiff(r.work(), templ, inner);
        QVERIFY2(after < 4.0 && after < before / 4, qPrintable(QString("%1 -> %2").arg(before).arg(after)));
        QVERIFY(same(r.aligned(), r.work()));

        // Nothing to match: the captured frame goes on as it is.
        r.setCapture(ground(r.size()));
        r.detect(0);
        QVERIFY(same(r.work(), ground(r.size())));
    }

    void homographyMaskJoinsFeatureShapes_data()
    {
        QTest::addColumn<bool>("withRegions");
        QTest::newRow("feature regions") << true;
        QTest::newRow("none: the default rectangle") << false;
    }
    void homographyMaskJoinsFeatureShapes()
    {
        QFETCH(bool, withRegions);
        TestWorkDir wd;
        ViewRig r;
        r.words()[154] = 1;
        r.setTemplate(0, 0, synth::textured(r.size(), 61));
        cv::Mat expected = cv::Mat::zeros(r.size(), CV_8UC1);
        if (withRegions) {
            r.addRect(0, cv::Rect(10, 10, 40, 30), 10);
            r.addCircle(0, cv::Point(40, 35), 15, 10);  // overlaps the rectangle
            r.addRect(0, cv::Rect(150, 110, 30, 30), 10);  // leaves the frame: skipped
            expected(cv::Rect(10, 10, 40, 30)).setTo(255);
            cv::Mat circle = r.view->liveMasks[0][1];
            cv::Mat at = expected(cv::Rect(25, 20, 30, 30));
            cv::bitwise_or(at, circle, at);
        } else {
            expected(CammerRecong::defaultRect(r.size())).setTo(255);
        }
        r.train(0);
        QCOMPARE(r.engine().homo[0].scale, 1.0f);
        QVERIFY(same(r.engine().homo[0].mask, expected));
    }

    void colourFramesAreCopiedUnaligned()
    {
        TestWorkDir wd;
        rig::Options o;
        o.colour = true;
        ViewRig r(o);
        r.words()[154] = 1;
        r.words()[96] = 0;
        r.train(0);
        QVERIFY(!r.engine().findShape[0].IsValid());
        cv::Mat pic(r.size(), CV_8UC3);
        cv::randu(pic, 0, 255);
        const cv::Mat bgra = ViewRig::toBgra(pic);
        r.setCapture(bgra);
        LogCapture log;
        r.detect(0);
        r.detect(0);
        QCOMPARE(std::memcmp(r.view->workFrame, bgra.data, size_t(r.view->frameBytes)), 0);
        QCOMPARE(std::memcmp(r.view->alignedFrame, bgra.data, size_t(r.view->frameBytes)), 0);
        int warned = 0;
        for (const QString& s : gLog)
            warned += s.contains(QStringLiteral("colour")) ? 1 : 0;
        QCOMPARE(warned, 1);
    }

    void positioningRectangle_data()
    {
        QTest::addColumn<QVector<cv::Rect>>("rois");
        QTest::addColumn<int>("margin");
        QTest::addColumn<cv::Rect>("model");
        QTest::addColumn<cv::Rect>("search");
        const cv::Rect a(20, 20, 40, 30);
        const cv::Rect b(90, 60, 50, 40);
        QTest::newRow("one ROI") << QVector<cv::Rect>{a} << 10 << a << cv::Rect(10, 10, 60, 50);
        QTest::newRow("two ROIs: the first decides") << QVector<cv::Rect>{a, b} << 10 << a << cv::Rect(10, 10, 60, 50);
        QTest::newRow("clipped at the frame") << QVector<cv::Rect>{b} << 30 << b << cv::Rect(60, 30, 100, 90);
        QTest::newRow("first leaves the frame") << QVector<cv::Rect>{cv::Rect(150, 0, 40, 30), b} << 0 << b << b;
        QTest::newRow("none: the default rectangle")
            << QVector<cv::Rect>{} << 5 << cv::Rect(40, 30, 120, 90) << cv::Rect(35, 25, 125, 95);
    }
    void positioningRectangle()
    {
        QFETCH(QVector<cv::Rect>, rois);
        QFETCH(int, margin);
        QFETCH(cv::Rect, model);
        QFETCH(cv::Rect, search);
        TestWorkDir wd;
        ViewRig r;
        r.words()[96] = 0;
        r.words()[148] = margin;
        r.setTemplate(0, 0, synth::textured(r.size(), 71));
        for (const cv::Rect& x : rois)
            r.addRect(0, x, 3);
        r.train(0);
        QVERIFY(r.engine().findShape[0].IsValid());
        QCOMPARE(r.engine().findShape[0].modelWidth(), model.width);
        QCOMPARE(r.engine().findShape[0].modelHeight(), model.height);
        QCOMPARE(r.engine().refX[0], model.x + model.width / 2);
        QCOMPARE(r.engine().refY[0], model.y + model.height / 2);
        QCOMPARE(r.engine().searchRect[0], search);
    }

    void positioningOffLeavesTheModel()
    {
        TestWorkDir wd;
        ViewRig r;
        r.words()[96] = 0;
        r.setTemplate(0, 0, synth::textured(r.size(), 81));
        r.addRect(0, cv::Rect(20, 20, 40, 30), 3);
        r.train(0);
        const cv::Rect search = r.engine().searchRect[0];
        r.words()[96] = -1;
        r.rec().rect[0][0].imgRect = QRect(60, 50, 40, 30);
        r.engine().CreateShape(0);
        QVERIFY(r.engine().findShape[0].IsValid());
        QCOMPARE(r.engine().refX[0], 40);
        QCOMPARE(r.engine().searchRect[0], search);
        // Off, the frame is judged as the homography step left it.
        r.setCapture(synth::textured(r.size(), 82));
        r.detect(0);
        QVERIFY(same(r.aligned(), r.grey(r.view->captureFrame)));
    }

    void disabledStepsStayUntrained()
    {
        TestWorkDir wd;
        rig::Options o;
        o.disabledSteps = 1u << 3;
        ViewRig r(o);
        QVERIFY(!r.engine().stepMask[2].empty());
        QVERIFY(r.engine().stepMask[3].empty());
        QCOMPARE(r.engine().searchRect[3], cv::Rect());
        // Judging a step whose mask was never built: every ROI is a fault.
        r.addRect(3, cv::Rect(10, 10, 20, 20), 5, 200, 0, 0);
        r.judge(3, ground());
        QVERIFY(!r.view->stepOk);
        QCOMPARE(r.remarks(), QStringList{QStringLiteral("REG RUN ERROR = 0, 3, -2")});
    }

    // A step that is not judged holds no buffers; switched on, it reads its
    // template file and judges with it; switched off, it gives everything
    // back and its file stays.
    void stepBuffersFollowTheEnabledSteps()
    {
        TestWorkDir wd;
        rig::Options o;
        o.disabledSteps = 1u << 2;
        ViewRig r(o);
        r.words()[116] = 3;
        CammerWidget& v = *r.view;
        QVERIFY(v.stepHeld(1) && !v.stepHeld(2));
        QVERIFY(v.templates[2].isEmpty() && !v.ignoreMask[2]);
        QVERIFY(!v.templateSlot(2, 0) && !v.ngPicture(2, 0));
        // A held step: slot 0 only, and an empty ring of NG pictures.
        QVERIFY(v.templates[1][0] && !v.templates[1][1]);
        for (int k = 0; k < CammerWidget::kRecentPictures; ++k)
            QVERIFY(!v.recentNgPicture(1, k));

        const cv::Mat templ = synth::textured(r.size(), 31);
        QImage file(templ.cols, templ.rows, QImage::Format_Indexed8);
        file.setColorTable(viewutil::greyTable());
        for (int y = 0; y < templ.rows; ++y)
            std::memcpy(file.scanLine(y), templ.ptr(y), size_t(templ.cols));
        QVERIFY(QDir().mkpath(QStringLiteral("cammer13")));
        QVERIFY(file.save(QStringLiteral("cammer13/template0.bmp"), "BMP"));
        const int roi = r.addRect(2, cv::Rect(20, 20, 100, 80), 0, 80, 0, 0);

        r.words()[86 + 2] = 1;
        v.SyncStepBuffers();
        QVERIFY(v.stepHeld(2) && v.ignoreMask[2]);
        QCOMPARE(v.tempCount[2], 1);
        QVERIFY(same(r.grey(v.templates[2][0]), templ));
        QVERIFY(r.engine().grayMatch[2][roi].IsValid());
        r.judge(2, synth::noisy(templ, 2.0, 9));
        QVERIFY(v.stepOk);
        cv::Mat broken = templ.clone();
        broken(cv::Rect(60, 45, 14, 14)).setTo(cv::mean(templ(cv::Rect(60, 45, 14, 14)))[0] > 128 ? 0 : 255);
        r.judge(2, broken);
        QVERIFY(!v.stepOk && !v.roiPassed[2][roi]);

        r.words()[86 + 2] = 0;
        v.SyncStepBuffers();
        QVERIFY(!v.stepHeld(2) && v.templates[2].isEmpty() && !v.ignoreMask[2]);
        QVERIFY(!r.engine().grayMatch[2][roi].IsValid() && r.engine().stepMask[2].empty());
        QVERIFY(QFile::exists(QStringLiteral("cammer13/template0.bmp")));
    }

    void stepMaskComposition()
    {
        TestWorkDir wd;
        ViewRig r;
        cv::Mat ignore = r.ignore(0);
        ignore(cv::Rect(20, 20, 15, 15)).setTo(255);  // overlaps the circle's box
        ignore(cv::Rect(100, 80, 5, 5)).setTo(255);
        const cv::Point c(40, 40);
        r.addCircle(0, c, 12, 2);
        r.addRect(0, cv::Rect(150, 100, 30, 30), 2);  // leaves the frame: skipped
        r.train(0);
        const cv::Mat expected = expectedMask(ignore, c, 12);
        QVERIFY(same(r.engine().stepMask[0], expected));
        // Ignored points in the circle's box stay ignored.
        QCOMPARE(int(r.engine().stepMask[0].at<uchar>(29, 29)), 0);
        QCOMPARE(int(r.engine().stepMask[0].at<uchar>(28, 50)), 255);
        // Retraining rebuilds the same mask from the ignore mask.
        r.engine().VarTrain(0);
        QVERIFY(same(r.engine().stepMask[0], expected));
    }

    void trainingUsesTheCountedTemplates_data()
    {
        QTest::addColumn<QVector<int>>("used");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("normSlot");
        QTest::newRow("three used, count 2") << QVector<int>{1, 1, 1} << 2 << 2 << 1;
        QTest::newRow("gap in the slots") << QVector<int>{1, 0, 1} << 2 << 2 << 2;
        QTest::newRow("only the first") << QVector<int>{1, 0, 0} << 1 << 1 << 0;
        QTest::newRow("count above the used slots") << QVector<int>{1, 1, 0} << 3 << 2 << 1;
    }
    void trainingUsesTheCountedTemplates()
    {
        QFETCH(QVector<int>, used);
        QFETCH(int, count);
        QFETCH(int, samples);
        QFETCH(int, normSlot);
        TestWorkDir wd;
        ViewRig r;
        cv::Mat pics[3];
        for (int n = 0; n < 3; ++n) {
            pics[n] = synth::textured(r.size(), 90 + n);
            r.setTemplate(0, n, pics[n], used[n] != 0);
        }
        r.view->tempCount[0] = count;
        const int grey = r.addRect(0, cv::Rect(20, 20, 60, 50), 0, 50, 0, 0);
        const int feature = r.addRect(0, cv::Rect(70, 40, 60, 50), 6, 50, 0, 0);
        r.engine().VarTrain(0);
        QCOMPARE(r.engine().grayMatch[0][grey].sampleCount(), samples);
        QCOMPARE(r.engine().surf[0][feature].sampleCount(), samples);
        QCOMPARE(r.engine().templNorm[0], cv::norm(pics[normSlot], cv::NORM_L2));

        // A step without comparison ROIs still measures its template.
        r.rec().method[0] = 5;
        r.rec().method[1] = 4;
        r.engine().VarTrain(0);
        QVERIFY(!r.engine().grayMatch[0][grey].IsValid());
        QVERIFY(!r.engine().surf[0][feature].IsValid());
        QCOMPARE(r.engine().templNorm[0], cv::norm(pics[normSlot], cv::NORM_L2));
    }

    void colourTemplatesAreTrainedAsGrey()
    {
        TestWorkDir wd;
        rig::Options o;
        o.colour = true;
        ViewRig r(o);
        cv::Mat pic(r.size(), CV_8UC3);
        cv::randu(pic, 0, 255);
        r.setTemplate(0, 0, pic);
        const int grey = r.addRect(0, cv::Rect(20, 20, 60, 50), 0, 50, 0, 0);
        r.engine().VarTrain(0);
        QCOMPARE(r.engine().grayMatch[0][grey].sampleCount(), 1);
        cv::Mat g;
        cv::cvtColor(pic, g, cv::COLOR_BGR2GRAY);
        // The program's own grey weights may differ from OpenCV's by one level.
        QVERIFY(std::abs(r.engine().templNorm[0] - cv::norm(g, cv::NORM_L2)) < cv::norm(g, cv::NORM_L2) * 0.01);
    }

    // Pixels saturated in a template say nothing of the part's true value
    // there: training counts them per region compared with its templates,
    // inside the region's judged shape, on the channels the grey (or hue)
    // picture is made from.
    void saturatedTemplatePixels_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::addColumn<int>("func");
        QTest::addColumn<bool>("circle");      // else the rectangle (20, 20, 60, 50)
        QTest::addColumn<cv::Rect>("patch");
        QTest::addColumn<cv::Scalar>("bgr");   // the patch's colour (grey: the first value)
        QTest::addColumn<int>("slot");         // the template holding the patch
        QTest::addColumn<bool>("ignored");     // the patch's left half ignored
        QTest::addColumn<int>("pixels");       // -1: every pixel of the shape
        const cv::Rect inside(30, 30, 10, 10);
        const cv::Scalar white(255, 255, 255);
        QTest::newRow("grey template") << false << 0 << false << inside << white << 0 << false << 100;
        QTest::newRow("feature") << false << 6 << false << inside << white << 0 << false << 100;
        QTest::newRow("bright-pixel band") << false << 5 << false << inside << white << 0 << false << 0;
        QTest::newRow("across the region's edge") << false << 0 << false << cv::Rect(10, 30, 20, 5) << white << 0
                                                 << false << 50;
        QTest::newRow("ignored half") << false << 0 << false << inside << white << 0 << true << 50;
        QTest::newRow("circle's shape only") << false << 0 << true << cv::Rect(30, 25, 40, 40) << white << 0
                                            << false << -1;
        QTest::newRow("second template") << false << 0 << false << inside << white << 1 << false << 100;
        QTest::newRow("colour, red clipped") << true << 0 << false << inside << cv::Scalar(40, 60, 255) << 0 << false
                                            << 100;
    }
    void saturatedTemplatePixels()
    {
        QFETCH(bool, colour);
        QFETCH(int, func);
        QFETCH(bool, circle);
        QFETCH(cv::Rect, patch);
        QFETCH(cv::Scalar, bgr);
        QFETCH(int, slot);
        QFETCH(bool, ignored);
        QFETCH(int, pixels);
        TestWorkDir wd;
        rig::Options o;
        o.colour = colour;
        ViewRig r(o);
        for (int n = 0; n < 2; ++n) {
            cv::Mat pic(r.size(), colour ? CV_8UC3 : CV_8UC1, cv::Scalar::all(128));
            if (n == slot)
                pic(patch).setTo(bgr);
            r.setTemplate(0, n, pic);
        }
        if (ignored)
            r.ignore(0)(cv::Rect(patch.x, patch.y, patch.width / 2, patch.height)).setTo(255);
        const int roi = circle ? r.addCircle(0, {50, 45}, 20, func, 50) : r.addRect(0, cv::Rect(20, 20, 60, 50), func, 50);
        r.train(0);
        QCOMPARE(r.engine().saturatedPixels(0, roi), pixels < 0 ? cv::countNonZero(r.view->liveMasks[0][roi]) : pixels);
    }

    // However many regions, one notice: a line each up to a bound, then
    // how many more (the record names every one).
    void overExposedNoticeIsBounded()
    {
        initLanStr();
        for (const int regions : {0, 1, OverExposure::kListed + 3}) {
            const QString text = OverExposure::noticeText(QVector<OverExposure::Region>(regions, {1, 2, 0, 100}));
            QCOMPARE(text.isEmpty() ? 0 : text.count(QLatin1Char('\n')) + 1, regions == 1 ? 3 : regions);
            QCOMPARE(text.contains(lanStr(730).arg(3)), regions > OverExposure::kListed);
        }
        // The record the notice sends the operator to reads in the operator's
        // language too: where, how many pixels, and the remedy.
        const int lan = gLan;
        const auto restore = qScopeGuard([lan] { gLan = lan; });
        for (gLan = 0; gLan < 4; ++gLan) {
            const QString line = OverExposure::recordLine({1, 2, 0, 100});
            QVERIFY2(line.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))) == (gLan == 1), qPrintable(line));
            QVERIFY2(line.contains(QRegularExpression(QStringLiteral("2\\D+3\\D+1\\D+100\\D"))), qPrintable(line));
            QVERIFY2(line.endsWith(lanStr(731), Qt::CaseInsensitive), qPrintable(line));
        }
    }

    void unusableRoisAreFaults_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<int>("code");
        QTest::newRow("outside the frame") << 0 << -3;
        QTest::newRow("mask of another size") << 1 << -1;
        QTest::newRow("no mask") << 2 << -1;
        QTest::newRow("empty rectangle") << 3 << -3;
        QTest::newRow("step mask never built") << 4 << -2;
    }
    void unusableRoisAreFaults()
    {
        QFETCH(int, damage);
        QFETCH(int, code);
        TestWorkDir wd;
        rig::Options o;
        o.camera = 2;
        ViewRig r(o);
        const int good = r.addRect(1, cv::Rect(10, 10, 30, 30), 5, 200, 0, 0);
        const int bad = r.addRect(1, cv::Rect(60, 40, 30, 30), 0, 50, 0, 0);
        switch (damage) {
        case 0:
            r.rec().rect[1][bad].imgRect = QRect(140, 100, 30, 30);
            break;
        case 1:
            r.view->liveMasks[1][bad] = cv::Mat(5, 5, CV_8UC1, cv::Scalar(255));
            break;
        case 2:
            r.view->liveMasks[1][bad] = cv::Mat();
            break;
        case 3:
            r.rec().rect[1][bad].imgRect = QRect();
            break;
        default:
            break;
        }
        r.train(1);
        if (damage == 4)
            r.engine().stepMask[1] = cv::Mat();
        else
            QVERIFY(!r.engine().grayMatch[1][bad].IsValid());
        r.judge(1, ground());
        QVERIFY(!r.view->stepOk);
        QVERIFY(!r.view->roiPassed[1][bad]);
        QCOMPARE(r.view->roiValue[1][bad], 0);
        QCOMPARE(r.remarks().size(), damage == 4 ? 2 : 1);
        QCOMPARE(r.remarks().last(), QStringLiteral("REG RUN ERROR = 2, 1, %1").arg(code));
        QCOMPARE(int(r.records.size()), 2);
        QCOMPARE(r.records[1].camera, 2);
        QCOMPARE(r.records[1].roi, bad);
        QCOMPARE(r.records[1].result, 0);
        if (damage != 4) {
            QVERIFY(r.view->roiPassed[1][good]);
            QCOMPARE(r.records[0].result, 1);
        }
    }

private:
    static cv::Mat withNoise()
    {
        // No structure the model could lock on to.
        return ground();
    }
};

QTEST_MAIN(TestEngineSetup)
#include "tst_enginesetup.moc"
