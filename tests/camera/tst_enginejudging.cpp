// Judging of the detection engine: every ROI method on clean pictures and on
// pictures with injected defects of known size, the packed parameters, the
// filter, the verdict rules and what is handed on per ROI.
#include "judgepool.h"
#include "synthpictures.h"
#include "testworkdir.h"
#include "viewrig.h"
#include "scriptedoutputs.h"

#include <QtTest>

#include <algorithm>
#include <mutex>

using rig::ViewRig;

Q_DECLARE_METATYPE(cv::Size)

namespace {

const cv::Rect kRoi(20, 20, 100, 80);
const cv::Scalar kGround(128);

cv::Mat ground(cv::Size s = {160, 120})
{
    return cv::Mat(s, CV_8UC1, kGround);
}

cv::Mat withSquare(cv::Mat img, cv::Rect sq, int grey)
{
    img(sq).setTo(cv::Scalar(grey));
    return img;
}

// Area the engine measures for one axis-aligned square blob (polygon area
// through the outer pixel centres).
int squareArea(int side)
{
    return (side - 1) * (side - 1);
}

int packBytes(int a, int b)
{
    return (a & 0xff) | ((b & 0xff) << 8);
}

int packHalves(int lo, int hi)
{
    return static_cast<int>((static_cast<unsigned>(hi) << 16) | (static_cast<unsigned>(lo) & 0xffffu));
}

// A rectangle ROI of the step in any view's saved record.
void addRectTo(CammerWidget* v, int step, cv::Rect r, int func, int p1, int p2, int p3)
{
    const int i = rig::appendRoi(*v->savedRecord, step, 1, func, p1, p2, p3);
    v->savedRecord->rect[step][i].imgRect = QRect(r.x, r.y, r.width, r.height);
    v->savedRecord->rect[step][i].rect = v->savedRecord->rect[step][i].imgRect;
    v->liveMasks[step][i] = cv::Mat(r.height, r.width, CV_8UC1, cv::Scalar(255));
}

// Everything a judgement of step 0 leaves behind in one view, as bytes.
QByteArray judgedState(const CammerWidget* v, const QStringList& texts)
{
    QByteArray b;
    auto put = [&b](const void* p, size_t n) { b.append(static_cast<const char*>(p), static_cast<int>(n)); };
    put(&v->stepOk, sizeof v->stepOk);
    put(v->roiPassed[0], sizeof v->roiPassed[0]);
    put(v->roiValue[0], sizeof v->roiValue[0]);
    put(v->roiArea[0], sizeof v->roiArea[0]);
    put(v->defectRects[0], sizeof v->defectRects[0]);
    put(v->workFrame, size_t(v->frameBytes));
    put(v->alignedFrame, size_t(v->frameBytes));
    put(v->resultImage, size_t(v->pixelCount));
    for (int which = 0; which < 2; ++which) {   // the fault pictures, NG and OK, once made
        const uchar* fault = gpFailImage[which + 2 * (v->cameraIndex * kMaxDetect)];
        b.append(fault ? 'y' : 'n');
        if (fault)
            put(fault, size_t(v->pixelCount) * 4);
    }
    b.append(texts.join('\n').toUtf8());
    return b;
}

}  // namespace

class TestEngineJudging : public QObject {
    Q_OBJECT
private slots:
    void bandMethodsFindInjectedBlobs_data()
    {
        QTest::addColumn<int>("func");
        QTest::addColumn<int>("p1");
        QTest::addColumn<int>("p2");
        QTest::addColumn<int>("p3");
        QTest::addColumn<int>("grey");   // grey value of the injected square
        QTest::addColumn<int>("limit1");
        QTest::addColumn<int>("limit2");

        QTest::newRow("grey band, bytes high first") << 1 << 0 << 10 << packBytes(255, 200) << 230 << 0 << 10;
        QTest::newRow("grey band, bytes low first") << 1 << 0 << 10 << packBytes(200, 255) << 230 << 0 << 10;
        QTest::newRow("dark pixels") << 4 << 40 << 10 << 0 << 20 << 0 << 10;
        QTest::newRow("dark pixels, high bytes ignored") << 4 << (40 | 0x7f00) << 10 << 0 << 20 << 0 << 10;
        QTest::newRow("bright pixels") << 5 << 200 << 10 << 0 << 230 << 0 << 10;
    }
    void bandMethodsFindInjectedBlobs()
    {
        QFETCH(int, func);
        QFETCH(int, p1);
        QFETCH(int, p2);
        QFETCH(int, p3);
        QFETCH(int, grey);
        QFETCH(int, limit1);
        QFETCH(int, limit2);
        TestWorkDir wd;
        ViewRig r;
        const int roi = r.addRect(0, kRoi, func, p1, p2, p3);
        r.train(0);

        r.judge(0, ground());
        QVERIFY(r.view->stepOk);
        QVERIFY(r.view->roiPassed[0][roi]);
        QCOMPARE(r.view->roiValue[0][roi], 0);
        QCOMPARE(r.boxCount(0, roi), 0);
        QCOMPARE(int(r.records.size()), 1);
        QCOMPARE(r.records[0].result, 1);

        const cv::Rect sq(50, 40, 9, 9);
        r.judge(0, withSquare(ground(), sq, grey));
        QVERIFY(!r.view->stepOk);
        QVERIFY(!r.view->roiPassed[0][roi]);
        QCOMPARE(r.view->roiValue[0][roi], squareArea(9));
        QCOMPARE(r.boxCount(0, roi), 1);
        QCOMPARE(r.box(0, roi, 0), sq);  // exclusive corners
        QCOMPARE(cv::countNonZero(r.result()), 81);
        QCOMPARE(cv::countNonZero(r.result()(sq)), 81);
        QCOMPARE(int(r.records.size()), 1);
        const param_roi& rec = r.records[0];
        QCOMPARE(rec.camera, 0);
        QCOMPARE(rec.detect, 0);
        QCOMPARE(rec.roi, roi);
        QCOMPARE(rec.func, func);
        QCOMPARE(rec.algorithm, squareArea(9));
        QCOMPARE(rec.param1, limit1);
        QCOMPARE(rec.param2, limit2);
        QCOMPARE(rec.param3, -1);
        QCOMPARE(rec.result, 0);
    }

    void blobCountsFollowThePackedRange_data()
    {
        QTest::addColumn<int>("func");
        QTest::addColumn<int>("blobs");
        QTest::addColumn<bool>("pass");
        // Range 2..5 in the halves of p2 (low half the minimum).
        for (int func : {7, 8}) {
            const char* name = func == 7 ? "bright" : "dark";
            for (int n : {0, 1, 2, 5, 6})
                QTest::addRow("%s, %d blobs", name, n) << func << n << (n >= 2 && n <= 5);
        }
    }
    void blobCountsFollowThePackedRange()
    {
        QFETCH(int, func);
        QFETCH(int, blobs);
        QFETCH(bool, pass);
        TestWorkDir wd;
        ViewRig r;
        const int grey = func == 7 ? 230 : 20;
        const int roi = r.addRect(0, kRoi, func, func == 7 ? 200 : 40, packHalves(2, 5), 1);
        r.train(0);
        cv::Mat pic = ground();
        for (int k = 0; k < blobs; ++k)
            pic(cv::Rect(kRoi.x + 5 + 15 * k, kRoi.y + 10, 8, 8)).setTo(grey);
        // A speck that the 3 x 3 opening (p3 = 1) removes.
        pic.at<uchar>(kRoi.y + 60, kRoi.x + 60) = static_cast<uchar>(grey);
        r.judge(0, pic);
        QCOMPARE(r.view->roiValue[0][roi], blobs);
        QCOMPARE(bool(r.view->roiPassed[0][roi]), pass);
        QCOMPARE(bool(r.view->stepOk), pass);
        QCOMPARE(r.boxCount(0, roi), blobs);
        // The 3 x 3 elliptic opening cuts the four corner pixels of every
        // square: half a pixel of area each.
        QCOMPARE(r.records.at(0).algorithm, blobs * (squareArea(8) - 2));
        QCOMPARE(r.records.at(0).param1, 2);
        QCOMPARE(r.records.at(0).param2, 5);
        QCOMPARE(r.records.at(0).result, pass ? 1 : 0);
    }

    void blobFilterSizeBound_data()
    {
        QTest::addColumn<int>("p3");
        QTest::addColumn<int>("blobs");
        // A 10 x 12 ROI: the bound is 2 * (10 / 2) - 2 = 8.
        QTest::newRow("f = 7 counts") << 3 << 1;
        QTest::newRow("f = 9 finds none") << 4 << 0;
        QTest::newRow("negative p3 is f = 1") << -5 << 1;
        QTest::newRow("huge p3 finds none") << 0x7fffffff << 0;
    }
    void blobFilterSizeBound()
    {
        QFETCH(int, p3);
        QFETCH(int, blobs);
        TestWorkDir wd;
        ViewRig r;
        const cv::Rect small(30, 30, 10, 12);
        const int roi = r.addRect(0, small, 7, 200, packHalves(0, 10), p3);
        // The preview runs the same ROI from the edited record.
        const int edited = r.addRect(0, small, 7, 200, packHalves(0, 10), p3, true);
        r.train(0);
        const cv::Mat pic = withSquare(ground(), small, 230);
        r.judge(0, pic);
        QCOMPARE(r.view->roiValue[0][roi], blobs);

        r.setTemplate(0, 0, pic);
        r.view->tempIndex = 0;
        r.engine().RunTest(0, edited);
        QCOMPARE(r.view->roiValue[0][edited], blobs);
    }

    void openingRemovesSmallBlobs()
    {
        TestWorkDir wd;
        ViewRig r;
        r.words()[171] = 5;
        const int roi = r.addRect(0, kRoi, 5, 200, 1000, 0);
        r.train(0);
        cv::Mat pic = ground();
        pic(cv::Rect(30, 30, 3, 3)).setTo(240);     // gone after the opening
        pic(cv::Rect(60, 50, 20, 20)).setTo(240);   // kept, corners rounded
        r.judge(0, pic);
        QCOMPARE(r.boxCount(0, roi), 1);
        QCOMPARE(r.box(0, roi, 0), cv::Rect(60, 50, 20, 20));
        QCOMPARE(cv::countNonZero(r.result()(cv::Rect(30, 30, 3, 3))), 0);
        const int kept = cv::countNonZero(r.result());
        QVERIFY(kept > 400 - 4 * 6 && kept < 400);
    }

    void greyTemplateComparison_data()
    {
        QTest::addColumn<int>("defectSide");
        QTest::addColumn<bool>("pass");
        QTest::newRow("clean") << 0 << true;
        QTest::newRow("missing piece 14 px") << 14 << false;
    }
    void greyTemplateComparison()
    {
        QFETCH(int, defectSide);
        QFETCH(bool, pass);
        TestWorkDir wd;
        ViewRig r;
        r.words()[116] = 3;
        const cv::Mat templ = synth::textured(r.size(), 11);
        r.setTemplate(0, 0, templ);
        r.setTemplate(0, 1, synth::noisy(templ, 2.0, 5));
        const int roi = r.addRect(0, kRoi, 0, 80, 0, 0);
        r.train(0);
        QVERIFY(r.engine().grayMatch[0][roi].IsValid());
        QCOMPARE(r.engine().grayMatch[0][roi].sampleCount(), 2);

        cv::Mat pic = synth::noisy(templ, 2.0, 9);
        const cv::Rect sq(60, 45, defectSide, defectSide);
        if (defectSide > 0) {
            const double mean = cv::mean(templ(sq))[0];
            pic(sq).setTo(mean > 128 ? 0 : 255);
        }
        r.judge(0, pic);
        QCOMPARE(bool(r.view->roiPassed[0][roi]), pass);
        QCOMPARE(bool(r.view->stepOk), pass);
        const param_roi& rec = r.records.at(0);
        QCOMPARE(rec.param1, 80);
        QCOMPARE(rec.param2, 0);
        QCOMPARE(rec.param3, 0);
        if (pass) {
            QVERIFY(r.view->roiValue[0][roi] <= 100);
            return;
        }
        // The blob is the injected square, give or take the band's one-pixel
        // widening at its edges.
        QVERIFY(r.view->roiValue[0][roi] > 100);
        QCOMPARE(rec.algorithm, r.view->roiValue[0][roi]);
        QVERIFY(r.boxCount(0, roi) >= 1);
        const cv::Rect found = r.box(0, roi, 0);
        QVERIFY2((found & sq).area() >= squareArea(defectSide), "the defect box covers the injected square");
        QVERIFY(found.width <= defectSide + 2 && found.height <= defectSide + 2);
    }

    void greyTemplateLimitSources_data()
    {
        QTest::addColumn<int>("w143");
        QTest::addColumn<int>("w149");
        QTest::addColumn<int>("p2");
        QTest::addColumn<int>("side");
        QTest::addColumn<bool>("pass");
        // Methods above 10 judge every pixel of the ROI by the limits of
        // method 0: a side s gives the area (s - 1)^2.
        QTest::newRow("word 117, at the limit") << 0 << 0 << 0 << 11 << true;
        QTest::newRow("word 117, above it") << 0 << 0 << 0 << 12 << false;
        QTest::newRow("word 117 as minimum, at it") << 0 << 1 << 0 << 11 << true;
        QTest::newRow("word 117 as minimum, below it") << 0 << 1 << 0 << 10 << false;
        QTest::newRow("p2, at the limit") << 1 << 0 << 49 << 8 << true;
        QTest::newRow("p2, above it") << 1 << 0 << 48 << 8 << false;
    }
    void greyTemplateLimitSources()
    {
        QFETCH(int, w143);
        QFETCH(int, w149);
        QFETCH(int, p2);
        QFETCH(int, side);
        QFETCH(bool, pass);
        TestWorkDir wd;
        ViewRig r;
        r.words()[143] = w143;
        r.words()[149] = w149;
        const int roi = r.addRect(0, cv::Rect(40, 40, side, side), 11, 7, p2, 1);
        r.train(0);
        r.judge(0, ground());
        QCOMPARE(r.view->roiValue[0][roi], squareArea(side));
        QCOMPARE(bool(r.view->roiPassed[0][roi]), pass);
        QCOMPARE(r.records.at(0).param1, 7);
        QCOMPARE(r.records.at(0).param2, p2);
        QCOMPARE(r.records.at(0).param3, 1);
    }

    void featureSimilarity_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("clean") << false;
        QTest::newRow("half the part replaced") << true;
    }
    void featureSimilarity()
    {
        QFETCH(bool, damaged);
        TestWorkDir wd;
        ViewRig r;
        const cv::Mat templ = synth::textured(r.size(), 21);
        r.setTemplate(0, 0, templ);
        const int roi = r.addRect(0, kRoi, 6, 70, 0, 0);
        r.train(0);
        QVERIFY(r.engine().surf[0][roi].IsValid());
        cv::Mat pic = synth::noisy(templ, 2.0, 3);
        if (damaged) {
            const cv::Mat other = synth::textured(r.size(), 99);
            const cv::Rect half(kRoi.x, kRoi.y, kRoi.width / 2, kRoi.height);
            other(half).copyTo(pic(half));
        }
        r.judge(0, pic);
        const int score = r.view->roiValue[0][roi];
        QVERIFY(score >= 0 && score <= 100);
        QCOMPARE(bool(r.view->roiPassed[0][roi]), !damaged);
        QCOMPARE(score >= 70, !damaged);
        const param_roi& rec = r.records.at(0);
        QCOMPARE(rec.param1, 70);
        QCOMPARE(rec.param2, -1);
        // The record carries the area of what does not fit, not the score.
        QCOMPARE(rec.algorithm > 0, cv::countNonZero(r.result()) > 0);
        if (damaged)
            QVERIFY(rec.algorithm > 0);
    }

    void untrainedMatchers()
    {
        TestWorkDir wd;
        ViewRig r;
        const int grey = r.addRect(0, kRoi, 0, 50, 0, 0);
        const int feature = r.addRect(0, kRoi, 6, 60, 0, 0);
        r.train(0);
        r.engine().grayMatch[0][grey].Clear();
        r.engine().surf[0][feature].Clear();
        r.judge(0, ground());
        // An invalid grey matcher finds nothing; an invalid feature matcher
        // scores 0.
        QVERIFY(r.view->roiPassed[0][grey]);
        QCOMPARE(r.view->roiValue[0][feature], 0);
        QVERIFY(!r.view->roiPassed[0][feature]);
    }

    void notJudgedMethods()
    {
        TestWorkDir wd;
        ViewRig r;
        r.addRect(0, kRoi, 2);
        r.addRect(0, kRoi, 3);
        r.addRect(0, kRoi, 10);
        const int band = r.addRect(0, cv::Rect(10, 10, 20, 20), 5, 200, 0, 0);
        r.train(0);
        for (int i = 0; i < 3; ++i)
            r.view->roiValue[0][i] = 77;
        r.judge(0, withSquare(ground(), kRoi, 250));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(r.view->roiValue[0][i], 0);
            QCOMPARE(r.boxCount(0, i), 0);
            QVERIFY(r.view->roiPassed[0][i]);
        }
        QCOMPARE(int(r.records.size()), 1);
        QCOMPARE(r.records[0].roi, band);
    }

    void exclusionAndIgnoredPixelsAreNeverJudged()
    {
        TestWorkDir wd;
        ViewRig r;
        const int roi = r.addRect(0, kRoi, 5, 200, 0, 0);
        r.addCircle(0, cv::Point(50, 50), 12, 2);
        r.ignore(0)(cv::Rect(90, 70, 10, 10)).setTo(255);
        r.train(0);

        cv::Mat pic = ground();
        pic(cv::Rect(45, 45, 9, 9)).setTo(250);   // inside the exclusion circle
        pic(cv::Rect(90, 70, 10, 10)).setTo(250); // on ignored points
        r.judge(0, pic);
        QVERIFY(r.view->stepOk);
        QCOMPARE(r.view->roiValue[0][roi], 0);

        pic(cv::Rect(38, 38, 4, 4)).setTo(250);   // in the circle's box, outside the circle
        r.judge(0, pic);
        QVERIFY(!r.view->stepOk);
        QCOMPARE(r.view->roiValue[0][roi], squareArea(4));
    }

    void colourBox_data()
    {
        QTest::addColumn<int>("p1");
        QTest::addColumn<bool>("redSquare");
        QTest::addColumn<int>("value");
        QTest::newRow("clean") << packHalves(180, 255) << false << 0;
        QTest::newRow("red square") << packHalves(180, 255) << true << squareArea(9);
        QTest::newRow("red square, halves swapped") << packHalves(255, 180) << true << squareArea(9);
        QTest::newRow("red band misses") << packHalves(0, 100) << true << 0;
    }
    void colourBox()
    {
        QFETCH(int, p1);
        QFETCH(bool, redSquare);
        QFETCH(int, value);
        TestWorkDir wd;
        rig::Options o;
        o.colour = true;
        ViewRig r(o);
        r.words()[119] = 10;
        const int roi = r.addRect(0, kRoi, 9, p1, packHalves(0, 60), packHalves(60, 0));
        r.train(0);
        cv::Mat pic(r.size(), CV_8UC3, cv::Scalar(90, 90, 90));
        if (redSquare)
            pic(cv::Rect(50, 40, 9, 9)).setTo(cv::Scalar(30, 40, 220));  // BGR
        r.judge(0, rig::ViewRig::toBgra(pic));
        QCOMPARE(r.view->roiValue[0][roi], value);
        QCOMPARE(bool(r.view->roiPassed[0][roi]), value <= 10);
        QCOMPARE(r.records.at(0).param1, -1);
        QCOMPARE(r.records.at(0).param2, -1);
    }

    void colourBoxOnGreyCameraMeasuresNothing_data()
    {
        QTest::addColumn<int>("w118");
        QTest::addColumn<bool>("pass");
        QTest::newRow("0 within the limits") << 0 << true;
        QTest::newRow("minimum 1") << 1 << false;
    }
    void colourBoxOnGreyCameraMeasuresNothing()
    {
        QFETCH(int, w118);
        QFETCH(bool, pass);
        TestWorkDir wd;
        ViewRig r;
        r.words()[118] = w118;
        const int roi = r.addRect(0, kRoi, 9, packHalves(0, 255), packHalves(0, 255), packHalves(0, 255));
        r.train(0);
        r.judge(0, withSquare(ground(), cv::Rect(40, 40, 9, 9), 250));
        QCOMPARE(r.view->roiValue[0][roi], 0);
        QCOMPARE(bool(r.view->roiPassed[0][roi]), pass);
    }

    void normalisationScalesToTheTemplate_data()
    {
        QTest::addColumn<int>("w153");
        QTest::addColumn<int>("value");
        QTest::newRow("off: the dim part shows no bright pixels") << 0 << 0;
        QTest::newRow("on: brought back to the template's brightness") << 1 << squareArea(9);
    }
    void normalisationScalesToTheTemplate()
    {
        QFETCH(int, w153);
        QFETCH(int, value);
        TestWorkDir wd;
        ViewRig r;
        r.words()[153] = w153;
        const cv::Mat templ = withSquare(ground(), cv::Rect(50, 40, 9, 9), 240);
        r.setTemplate(0, 0, templ);
        const int roi = r.addRect(0, kRoi, 5, 200, 1000, 0);
        r.train(0);
        QCOMPARE(r.engine().templNorm[0], cv::norm(templ, cv::NORM_L2));
        cv::Mat dim;
        templ.convertTo(dim, CV_8U, 0.5);
        r.judge(0, dim);
        QCOMPARE(r.view->roiValue[0][roi], value);
    }

    void everyRoiSendsItsOwnRecord()
    {
        TestWorkDir wd;
        ViewRig r;
        const int failing = r.addRect(0, cv::Rect(10, 10, 30, 30), 5, 200, 0, 0);
        const int broken = r.addRect(0, cv::Rect(150, 100, 30, 30), 5, 200, 0, 0);  // leaves the frame
        const int blobs = r.addRect(0, cv::Rect(60, 10, 30, 30), 7, 200, packHalves(0, 3), 0);
        const int passing = r.addRect(0, cv::Rect(100, 60, 30, 30), 4, 10, 0, 0);
        r.train(0);
        r.judge(0, withSquare(ground(), cv::Rect(15, 15, 9, 9), 250));
        QCOMPARE(int(r.records.size()), 4);
        QCOMPARE(r.records[0].roi, failing);
        QCOMPARE(r.records[0].result, 0);
        QCOMPARE(r.records[1].roi, broken);
        QCOMPARE(r.records[1].result, 0);
        QCOMPARE(r.records[1].algorithm, -1);
        QCOMPARE(r.records[1].param1, -1);
        QCOMPARE(r.records[1].param2, -1);
        // Later ROIs carry their own verdict and limits, not the previous ROI's.
        QCOMPARE(r.records[2].roi, blobs);
        QCOMPARE(r.records[2].result, 1);
        QCOMPARE(r.records[2].param1, 0);
        QCOMPARE(r.records[2].param2, 3);
        QCOMPARE(r.records[2].param3, -1);
        QCOMPARE(r.records[3].roi, passing);
        QCOMPARE(r.records[3].result, 1);
        QCOMPARE(r.records[3].param1, 0);
        QCOMPARE(r.records[3].param3, -1);
        QVERIFY(!r.view->stepOk);
    }

    // Cameras judged at the same time (as the cycle judges them, each
    // comparing its regions at once, the fault pictures drawn at once) leave,
    // byte for byte, what they leave judged one after the other, region after
    // region: verdicts, ROI values and boxes, aligned and defect pictures,
    // the fault picture, the record texts and the per-ROI records.
    // Homography and positioning on.
    void judgingAtOnceEqualsOneAfterTheOther()
    {
        TestWorkDir wd;
        rig::Options o;
        o.width = 320;
        o.height = 256;
        o.steps = 2;
        ViewRig r(o);
        r.words()[96] = 0;    // positioning, no turn
        r.words()[148] = 40;
        r.words()[154] = 1;   // homography
        r.words()[143] = 1;
        constexpr int kCameras = 4;
        std::vector<std::unique_ptr<CammerWidget>> extra;
        std::vector<CammerWidget*> views{r.view.get()};
        for (int c = 1; c < kCameras; ++c) {
            rig::picture(c) = cv::Mat(r.size(), CV_8UC1, cv::Scalar(0));   // the camera's size
            extra.emplace_back(new CammerWidget(r.win.get(), c, rig::pictureCamera(c, 1, false)));
            rig::picture(c).release();
            views.push_back(extra.back().get());
        }
        for (int c = 0; c < kCameras; ++c) {
            CammerWidget* v = views[size_t(c)];
            const cv::Rect dark(200, 20, 100, 60), bright(200, 170, 100, 70);
            cv::Mat templ = synth::textured(r.size(), 40 + unsigned(c), 300);
            templ(dark).setTo(128);
            templ(bright).setTo(128);
            std::memcpy(v->templates[0][0], templ.data, size_t(v->frameBytes));
            v->tempUsed[0][0] = 1;
            v->tempCount[0] = 1;
            addRectTo(v, 0, cv::Rect(100, 80, 120, 96), 3, 0, 0, 0);
            addRectTo(v, 0, cv::Rect(20, 20, 120, 100), 0, 60, 500, 3);
            addRectTo(v, 0, dark, 4, 40, 50, 0);
            addRectTo(v, 0, bright, 7, 200, packHalves(0, 0), 1);
            if (c == 2)
                addRectTo(v, 0, cv::Rect(300, 230, 40, 40), 5, 200, 0, 0);  // leaves the frame
            v->engine()->CreateHomoShape(0);
            v->engine()->CreateShape(0);
            v->engine()->VarTrain(0);
            cv::Mat live = synth::noisy(synth::moved(templ, synth::rigidMotion({160, 128}, 0, {3.0 + c, -2})), 2, 9);
            if (c % 2 == 1) {
                live(cv::Rect(230, 35, 10, 10)).setTo(0);
                live(cv::Rect(230, 190, 8, 8)).setTo(255);
            }
            std::memcpy(v->captureFrame, live.data, size_t(v->frameBytes));
        }
        std::mutex lock;
        QStringList sunk;
        ScriptedOutputs outputs;
        outputs.onRoiJudged = [&](const param_roi& p) {
            std::lock_guard<std::mutex> g(lock);
            sunk << QStringLiteral("%1 %2 %3 %4 %5").arg(p.camera).arg(p.roi).arg(p.result).arg(p.algorithm).arg(p.param2);
        };
        JudgePool pool(kCameras - 1);
        auto judgeAll = [&](bool atOnce) {
            sunk.clear();
            QStringList texts[kCameras];
            const auto job = [&](int c) {
                views[size_t(c)]->engine()->JudgeHeld(0, &texts[c]);
            };
            if (atOnce)
                pool.runAll(kCameras, job);
            else
                for (int c = 0; c < kCameras; ++c)
                    job(c);
            const auto draw = [&](int c) { views[size_t(c)]->SaveFailImage(0, views[size_t(c)]->stepOk ? 1 : 0); };
            if (atOnce)
                pool.runAll(kCameras, draw);
            else
                for (int c = 0; c < kCameras; ++c)
                    draw(c);
            QList<QByteArray> out;
            for (int c = 0; c < kCameras; ++c)
                out << judgedState(views[size_t(c)], texts[c]);
            std::sort(sunk.begin(), sunk.end());
            out << sunk.join('\n').toUtf8();
            return out;
        };
        const int threads = cv::getNumThreads();
        cv::setNumThreads(1);  // the regions one after the other as well
        const QList<QByteArray> one = judgeAll(false);
        cv::setNumThreads(threads);
        QVERIFY(!views[1]->stepOk);
        QVERIFY(!views[2]->stepOk);
        QVERIFY(views[0]->stepOk);
        for (int round = 0; round < 3; ++round) {
            const QList<QByteArray> all = judgeAll(true);
            for (int c = 0; c <= kCameras; ++c)
                QVERIFY2(all[c] == one[c], qPrintable(QStringLiteral("round %1, part %2").arg(round).arg(c)));
        }
    }

    void manyBlobsAreSummedButNinetyNineStored()
    {
        TestWorkDir wd;
        ViewRig r;
        const cv::Rect area(10, 10, 120, 80);
        const int roi = r.addRect(0, area, 5, 200, 100000, 0);
        r.train(0);
        cv::Mat pic = ground();
        int placed = 0;
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 15; ++x, ++placed)
                pic(cv::Rect(area.x + 2 + 6 * x, area.y + 2 + 6 * y, 3, 3)).setTo(250);
        r.judge(0, pic);
        QCOMPARE(placed, 150);
        QCOMPARE(r.view->roiValue[0][roi], 150 * squareArea(3));
        QCOMPARE(r.boxCount(0, roi), 99);
    }

    void overlappingRoisKeepEachOthersDefects()
    {
        TestWorkDir wd;
        ViewRig r;
        r.addRect(0, cv::Rect(20, 20, 60, 60), 5, 200, 1000, 0);
        r.addRect(0, cv::Rect(40, 40, 60, 60), 4, 10, 1000, 0);  // dark: sees nothing here
        r.train(0);
        const cv::Rect sq(50, 50, 9, 9);
        r.judge(0, withSquare(ground(), sq, 250));
        QCOMPARE(cv::countNonZero(r.result()(sq)), 81);
        QCOMPARE(cv::countNonZero(r.result()), 81);
    }

    void previewUsesTheEditedRoiOnTheShownTemplate()
    {
        TestWorkDir wd;
        ViewRig r;
        r.train(0);
        r.setTemplate(0, 0, ground());
        r.setTemplate(0, 1, withSquare(ground(), cv::Rect(50, 40, 9, 9), 250));
        const int band = r.addRect(0, kRoi, 5, 200, 0, 0, true);
        const int grey = r.addRect(0, kRoi, 0, 50, 0, 0, true);
        r.view->tempIndex = 1;
        r.view->previewShown = false;

        r.engine().RunTest(0, grey);
        QVERIFY(!r.view->previewShown);
        QCOMPARE(r.view->roiValue[0][grey], 0);

        r.engine().RunTest(0, band);
        QVERIFY(r.view->previewShown);
        QCOMPARE(r.view->roiValue[0][band], squareArea(9));
        QCOMPARE(cv::countNonZero(r.result()), 81);
        QCOMPARE(r.boxCount(0, band), 0);
        QVERIFY(r.records.empty());
        QCOMPARE(r.rec().roiCount[0], 0);

        // An index past the edited ROIs only clears.
        r.engine().RunTest(0, 5);
        QCOMPARE(cv::countNonZero(r.result()), 0);
    }

    void openingMatchesOpenCv_data()
    {
        QTest::addColumn<int>("f");
        QTest::addColumn<cv::Size>("size");
        QTest::addColumn<int>("density");  // percent of seeds
        for (int f : {3, 5, 15, 17, 21, 51, 101, 201, 16, 40}) {
            QTest::addRow("f %d, 120 x 90", f) << f << cv::Size(120, 90) << 3;
            QTest::addRow("f %d, 37 x 213, dense", f) << f << cv::Size(37, 213) << 40;
        }
        QTest::newRow("f 401, 250 x 30") << 401 << cv::Size(250, 30) << 60;
        QTest::newRow("f beyond the picture") << 100001 << cv::Size(40, 30) << 90;
    }
    void openingMatchesOpenCv()
    {
        QFETCH(int, f);
        QFETCH(cv::Size, size);
        QFETCH(int, density);
        // Blobs of every size: seeds grown by a random disc.
        cv::RNG rng(uint64(f) * 7919u + uint64(size.width));
        cv::Mat src = cv::Mat::zeros(size, CV_8UC1);
        const int seeds = size.area() * density / 100 / 50 + 1;
        for (int i = 0; i < seeds; ++i)
            cv::circle(src, cv::Point(rng.uniform(0, size.width), rng.uniform(0, size.height)),
                       rng.uniform(0, std::max(2, f)), cv::Scalar(255), cv::FILLED);
        for (int i = 0; i < size.area() / 20; ++i)
            src.at<uchar>(rng.uniform(0, size.height), rng.uniform(0, size.width)) = 255;
        cv::Mat mine;
        CammerRecong::openDefects(src, mine, f);
        const int k = std::min(f, 2 * (size.width + size.height) + 3);
        cv::Mat reference;
        cv::morphologyEx(src, reference, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(k, k)));
        QCOMPARE(mine.size(), src.size());
        QCOMPARE(cv::countNonZero(mine != reference), 0);
        // The opening of a picture without defects stays empty.
        CammerRecong::openDefects(cv::Mat::zeros(size, CV_8UC1), mine, f);
        QCOMPARE(cv::countNonZero(mine), 0);
    }

    void thresholdBand_data()
    {
        QTest::addColumn<int>("lo");
        QTest::addColumn<int>("hi");
        QTest::newRow("only zeros") << 0 << 0;
        QTest::newRow("middle") << 50 << 200;
        QTest::newRow("only 255") << 255 << 255;
        QTest::newRow("lo above hi") << 200 << 50;
        QTest::newRow("beyond the grey range") << 300 << 400;
        QTest::newRow("negative low") << -20 << 10;
    }
    void thresholdBand()
    {
        QFETCH(int, lo);
        QFETCH(int, hi);
        cv::Mat src(16, 16, CV_8UC1);
        for (int i = 0; i < 256; ++i)
            src.data[i] = static_cast<uchar>(i);
        cv::Mat dst;
        TestWorkDir wd;
        ViewRig r;
        r.engine().ThresholdFUNC(src, dst, lo, hi);
        QCOMPARE(dst.size(), src.size());
        for (int i = 0; i < 256; ++i)
            QCOMPARE(int(dst.data[i]), (i >= lo && i <= hi) ? 255 : 0);
    }
};

QTEST_MAIN(TestEngineJudging)
#include "tst_enginejudging.moc"
