// Templates, ignore masks and fault pictures of the camera view: file forms,
// loading rules, and what the annotated pictures and their relabelling show.
#include "faultpictures.h"
#include "lanstr.h"
#include "testworkdir.h"
#include "viewrig.h"

#include <QDir>
#include <QImage>
#include <QtTest>

#include <memory>
#include <vector>

using rig::ViewRig;

namespace {

cv::Mat randomPicture(cv::Size s, int type, int seed)
{
    cv::Mat m(s, type);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

// The slot buffers the writer thread would own.
struct FailSlots {
    FailSlots(int pixels)
    {
        buffers.resize(kMaxCamera * kMaxDetect * 2);
        for (size_t i = 0; i < buffers.size(); ++i) {
            buffers[i].assign(size_t(pixels) * 4, 0);
            gpFailImage[i] = buffers[i].data();
        }
        std::fill(std::begin(gFailIndex), std::end(gFailIndex), 0);
    }
    ~FailSlots()
    {
        for (auto& p : gpFailImage)
            p = nullptr;
    }
    QImage picture(int slot, int w, int h) const
    {
        return QImage(buffers[size_t(slot)].data(), w, h, w * 4, QImage::Format_RGB32).copy();
    }
    std::vector<std::vector<uchar>> buffers;
};

int countColour(const QImage& img, QRect area, bool (*test)(QRgb))
{
    int n = 0;
    area &= img.rect();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += test(img.pixel(x, y)) ? 1 : 0;
    return n;
}

bool isRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}
bool isGreen(QRgb c)
{
    return qGreen(c) > 200 && qRed(c) < 60 && qBlue(c) < 60;
}

}  // namespace

class TestFaultPictures : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initLanStr(); }

    void templatesRoundTripPixelExact_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("colour");
        QTest::newRow("642 x 481 grey") << 642 << 481 << false;
        QTest::newRow("642 x 481 colour") << 642 << 481 << true;
        QTest::newRow("7 x 5 grey") << 7 << 5 << false;
    }
    void templatesRoundTripPixelExact()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, colour);
        TestWorkDir wd;
        QDir().mkpath(QStringLiteral("cammer12"));
        rig::Options o;
        o.width = width;
        o.height = height;
        o.colour = colour;
        o.tempNum = 2;
        ViewRig r(o);
        CammerWidget& v = *r.view;
        const cv::Mat pic = randomPicture(r.size(), colour ? CV_8UC4 : CV_8UC1, width);
        std::vector<uchar> bytes(pic.data, pic.data + v.frameBytes);
        if (colour)
            for (size_t i = 3; i < bytes.size(); i += 4)
                bytes[i] = 0xff;  // the view's words are opaque
        std::memcpy(v.captureFrame, bytes.data(), bytes.size());
        v.SaveReTrainImage(1);
        QCOMPARE(std::memcmp(v.alignedFrame, bytes.data(), bytes.size()), 0);
        QCOMPARE(std::memcmp(v.shownPicture(), bytes.data(), bytes.size()), 0);

        const QImage file(QStringLiteral("cammer12/template0.bmp"));
        QCOMPARE(file.size(), QSize(width, height));
        QCOMPARE(file.depth(), colour ? 32 : 8);
        if (!colour) {
            QCOMPARE(file.colorCount(), 256);
            QCOMPARE(file.color(37), qRgb(37, 37, 37));
        }

        std::memset(v.templates[1][0], 0, bytes.size());
        v.LoadTemplate();
        QCOMPARE(v.tempUsed[1][0], 1);
        QCOMPARE(v.tempCount[1], 1);
        QCOMPARE(std::memcmp(v.templates[1][0], bytes.data(), bytes.size()), 0);
    }

    void templateLoadingRules()
    {
        TestWorkDir wd;
        QDir().mkpath(QStringLiteral("cammer11"));
        const int w = 41;
        const int h = 30;
        // Slot 1: another size; slot 2: a palette that is not the grey ramp.
        QImage wrong(w + 1, h, QImage::Format_Indexed8);
        wrong.setColorCount(256);
        wrong.fill(9);
        QVERIFY(wrong.save(QStringLiteral("cammer11/template1.bmp")));
        QImage inverted(w, h, QImage::Format_Indexed8);
        QVector<QRgb> table;
        for (int i = 0; i < 256; ++i)
            table << qRgb(255 - i, 255 - i, 255 - i);
        inverted.setColorTable(table);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                inverted.scanLine(y)[x] = uchar(x + y);
        QVERIFY(inverted.save(QStringLiteral("cammer11/template2.bmp")));

        rig::Options o;
        o.width = w;
        o.height = h;
        o.tempNum = 3;
        ViewRig r(o);
        CammerWidget& v = *r.view;
        QCOMPARE(v.tempUsed[0], (QVector<int>{1, 0, 1}));
        QCOMPARE(v.tempCount[0], 2);
        const cv::Mat synthetic = r.grey(v.templates[0][0]);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool in = x >= w / 4 && x <= 3 * (w / 4) && y >= h / 4 && y <= 3 * (h / 4);
                QCOMPARE(int(synthetic.at<uchar>(y, x)), in ? 255 : 0);
            }
        QVERIFY(!v.templates[0][1]);   // a slot without a usable file holds no buffer
        const cv::Mat honoured = r.grey(v.templates[0][2]);
        QCOMPARE(int(honoured.at<uchar>(0, 0)), 255);
        QCOMPARE(int(honoured.at<uchar>(10, 20)), 255 - 30);
        // Steps without files get the synthetic template alone.
        QCOMPARE(v.tempCount[5], 1);
    }

    void greyFileOnColourCameraIsIgnored()
    {
        TestWorkDir wd;
        QDir().mkpath(QStringLiteral("cammer11"));
        QImage grey(20, 10, QImage::Format_Indexed8);
        grey.setColorCount(256);
        grey.fill(7);
        QVERIFY(grey.save(QStringLiteral("cammer11/template1.bmp")));
        rig::Options o;
        o.width = 20;
        o.height = 10;
        o.colour = true;
        ViewRig r(o);
        QCOMPARE(r.view->tempUsed[0][1], 0);
        QCOMPARE(r.view->tempCount[0], 1);
        // The synthetic template fills all four bytes of a pixel.
        const uchar* px = r.view->templates[0][0] + (5 * 20 + 10) * 4;
        QCOMPARE(int(px[0]) + px[1] + px[2] + px[3], 4 * 255);
    }

    void ignoreMasks_data()
    {
        QTest::addColumn<int>("fileWidth");
        QTest::addColumn<bool>("loaded");
        QTest::newRow("fitting file") << 33 << true;
        QTest::newRow("file of another size") << 34 << false;
        QTest::newRow("no file") << 0 << false;
    }
    void ignoreMasks()
    {
        QFETCH(int, fileWidth);
        QFETCH(bool, loaded);
        TestWorkDir wd;
        QDir().mkpath(QStringLiteral("cammer13"));
        const int h = 21;
        if (fileWidth > 0) {
            QImage f(fileWidth, h, QImage::Format_Indexed8);
            QVector<QRgb> table;
            for (int i = 0; i < 256; ++i)
                table << qRgb(i, i, i);
            f.setColorTable(table);
            f.fill(0);
            f.scanLine(3)[4] = 1;
            f.scanLine(3)[5] = 128;
            f.scanLine(20)[32 % fileWidth] = 255;
            QVERIFY(f.save(QStringLiteral("cammer13/ignorepoint.bmp")));
        }
        rig::Options o;
        o.width = 33;
        o.height = h;
        ViewRig r(o);
        cv::Mat mask = r.ignore(2);
        if (!loaded) {
            QCOMPARE(cv::countNonZero(mask), 0);
            return;
        }
        QCOMPARE(cv::countNonZero(mask), 3);
        QCOMPARE(int(mask.at<uchar>(3, 4)), 255);   // binarised
        QCOMPARE(int(mask.at<uchar>(3, 5)), 255);
        QCOMPARE(int(mask.at<uchar>(20, 32)), 255);

        // Written back and read again unchanged; other steps stay alone.
        mask.at<uchar>(0, 0) = 255;
        r.view->SaveIgnorePoint(2);
        std::memset(r.view->ignoreMask[2], 0, size_t(r.view->pixelCount));
        r.view->LoadIgnorePoint();
        QCOMPARE(cv::countNonZero(r.ignore(2)), 4);
        QCOMPARE(cv::countNonZero(r.ignore(1)), 0);
        const QImage back(QStringLiteral("cammer13/ignorepoint.bmp"));
        QCOMPARE(back.format(), QImage::Format_Indexed8);
    }

    void faultPictureIsAnnotated_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<bool>("safeDoor");
        QTest::newRow("NG picture") << 0 << false;
        QTest::newRow("OK picture, safety door") << 1 << true;
    }
    void faultPictureIsAnnotated()
    {
        QFETCH(int, which);
        QFETCH(bool, safeDoor);
        TestWorkDir wd;
        rig::Options o;
        o.camera = 1;
        ViewRig r(o);
        FailSlots fail(r.view->pixelCount);
        const cv::Rect passing(110, 95, 30, 20);
        const cv::Rect failing(60, 20, 80, 60);
        r.addRect(2, passing, 5, 200, 0, 0);
        r.addRect(2, failing, 5, 200, 0, 0);
        r.addCircle(2, cv::Point(30, 40), 10, 4, 10, 0, 0);
        r.train(2);
        cv::Mat pic(r.size(), CV_8UC1, cv::Scalar(100));
        pic(cv::Rect(90, 40, 12, 10)).setTo(250);
        r.judge(2, pic);
        QVERIFY(!r.view->roiPassed[2][1]);
        r.win->cycleStatus().safeDoorDetect = safeDoor ? 1 : 0;

        r.view->SaveFailImage(2, which);
        const int slot = which + 2 * (1 * 8 + 2);
        const QImage img = fail.picture(slot, 160, 120);
        for (int other = 0; other < int(fail.buffers.size()); ++other)
            if (other != slot)
                QCOMPARE(std::count(fail.buffers[other].begin(), fail.buffers[other].end(), 0),
                         long(fail.buffers[other].size()));
        QCOMPARE(gFailIndex[1 * 8 + 2], 2);
        // The picture under the drawing is the judged frame.
        QCOMPARE(img.pixel(150, 115), qRgb(100, 100, 100));
        // Outlines: the passed ROI green, the failed one and its defect box red.
        QVERIFY(isGreen(img.pixel(passing.x + 15, passing.y)));
        QVERIFY(isRed(img.pixel(failing.x + 40, failing.y)));
        QVERIFY(isRed(img.pixel(failing.x, failing.y + 30)));
        QVERIFY(isRed(img.pixel(90, 45)));
        QVERIFY(isRed(img.pixel(95, 40)));
        QCOMPARE(img.pixel(95, 45), qRgb(250, 250, 250));
        QCOMPARE(img.pixel(89, 45), qRgb(100, 100, 100));
        // The verdict text at the top left.
        const QRect verdict(5, 55, 50, 27);
        if (which)
            QVERIFY(countColour(img, verdict, isGreen) > 20);
        else
            QVERIFY(countColour(img, verdict, isRed) > 20);
        const int doorText = countColour(img, QRect(5, 88, 95, 24), which ? isGreen : isRed);
        QCOMPARE(doorText > 20, safeDoor);
    }

    // The fault picture is drawn from a camera's buffers and record alone,
    // as the engine leaves them; no view is needed. Giving the step back
    // frees its written pictures and leaves one still waiting for the writer.
    void faultPictureFromBuffersAlone()
    {
        QMutex lock;
        QMutex* const savedLock = pMutexSaveFail;
        pMutexSaveFail = &lock;
        auto b = std::make_unique<CamBuffers>();
        b->cameraIndex = 2;
        b->imageWidth = 160;
        b->imageHeight = 120;
        b->frameBytes = 160 * 120;
        std::vector<uchar> frame(size_t(b->frameBytes), 90);
        b->alignedFrame = frame.data();
        for (auto& step : b->roiPassed)
            std::fill(std::begin(step), std::end(step), true);
        CammerSingleton rec;
        rec.roiCount[4] = 2;
        for (int i : {0, 1}) {
            rec.kind[4 * kMaxRoi + i] = RoiShape::Rect;
            rec.rect[4][i].imgRect = QRect(20 + 60 * i, 40, 40, 30);
        }
        b->roiPassed[4][1] = false;
        b->defectRects[4][1][0][0] = 1;
        const int box[4] = {90, 50, 96, 56};
        std::copy(std::begin(box), std::end(box), b->defectRects[4][1][1]);
        {
            FailSlots fail(160 * 120);
            const int slot = 0 + 2 * (2 * 8 + 4);
            gisSaveFail[slot] = true;
            FaultPictures::draw(*b, rec, 4, 0, 1.0f, 1.0f);
            QVERIFY(!gisSaveFail[slot]);
            QCOMPARE(gFailIndex[2 * 8 + 4], 2);
            const QImage img = fail.picture(slot, 160, 120);
            QVERIFY(isGreen(img.pixel(40, 40)));    // the passed region's outline
            QVERIFY(isRed(img.pixel(100, 40)));     // the failed one's
            QVERIFY(isRed(img.pixel(93, 50)));      // its defect box
            QCOMPARE(img.pixel(150, 110), qRgb(90, 90, 90));
        }
        const int written = 2 * (2 * 8 + 4), pending = written + 1;
        gpFailImage[written] = new unsigned char[4];
        gpFailImage[pending] = new unsigned char[4];
        gisSaveFail[written] = false;
        gisSaveFail[pending] = true;
        FaultPictures::release(2, 4);
        QVERIFY(!gpFailImage[written]);
        QVERIFY(gpFailImage[pending]);
        delete[] gpFailImage[pending];
        gpFailImage[pending] = nullptr;
        gisSaveFail[pending] = false;
        pMutexSaveFail = savedLock;
    }

    // The picture is drawn without the lock: while it is drawn its slot's
    // flag is down, so the picture thread neither copies a half-drawn
    // picture nor takes the buffer away. A picture of the slot still waiting
    // to be written gives way to the new one; the other slots keep theirs.
    void pendingPictureGivesWayToTheNewOne()
    {
        TestWorkDir wd;
        ViewRig r;
        FailSlots fail(r.view->pixelCount);
        r.addRect(0, cv::Rect(10, 10, 30, 30), 5, 200, 0, 0);
        r.train(0);
        r.judge(0, cv::Mat(r.size(), CV_8UC1, cv::Scalar(90)));
        const int slot = 1, other = 0;
        std::fill(fail.buffers[slot].begin(), fail.buffers[slot].end(), 7);
        gisSaveFail[slot] = true;
        gisSaveFail[other] = true;
        r.view->SaveFailImage(0, 1);
        QVERIFY(!gisSaveFail[slot]);
        QVERIFY(gisSaveFail[other]);
        QCOMPARE(gpFailImage[slot], fail.buffers[slot].data());
        QCOMPARE(fail.picture(slot, 160, 120).pixel(150, 115), qRgb(90, 90, 90));
        gisSaveFail[other] = false;
    }

    void firstFailedRoiNamesThePicture()
    {
        TestWorkDir wd;
        ViewRig r;
        FailSlots fail(r.view->pixelCount);
        for (int i = 0; i < 6; ++i)
            r.addRect(0, cv::Rect(10 + 20 * i, 10, 15, 15), 5, 200, 0, 0);
        r.train(0);
        cv::Mat pic(r.size(), CV_8UC1, cv::Scalar(100));
        pic(cv::Rect(52, 12, 5, 5)).setTo(250);   // ROI 3 (index 2)
        pic(cv::Rect(92, 12, 5, 5)).setTo(250);   // ROI 5 (index 4)
        r.judge(0, pic);
        r.view->SaveFailImage(0, 0);
        QCOMPARE(gFailIndex[0], 3);
        r.view->SaveFailImage(0, 0);
        QCOMPARE(gFailIndex[0], 3);
    }

    void labelsShowLimitsUpToTenRois_data()
    {
        QTest::addColumn<int>("rois");
        QTest::addColumn<bool>("withLimit");
        QTest::newRow("10 ROIs") << 10 << true;
        QTest::newRow("11 ROIs") << 11 << false;
    }
    void labelsShowLimitsUpToTenRois()
    {
        QFETCH(int, rois);
        QFETCH(bool, withLimit);
        TestWorkDir wd;
        ViewRig r;
        FailSlots fail(r.view->pixelCount);
        // The first ROI stands alone with its label room to the right.
        r.addRect(0, cv::Rect(5, 60, 10, 10), 5, 200, 123456, 0);
        for (int i = 1; i < rois; ++i)
            r.addRect(0, cv::Rect(5 + 12 * (i % 10), 100, 10, 10), 5, 200, 0, 0);
        r.train(0);
        r.judge(0, cv::Mat(r.size(), CV_8UC1, cv::Scalar(0)));
        r.view->SaveFailImage(0, 1);
        const QImage img = fail.picture(1, 160, 120);
        // "1: 0" ends well before x = 60; "1: 0 / 123456 " does not.
        const int farText = countColour(img, QRect(60, 34, 100, 25), isGreen);
        QCOMPARE(farText > 0, withLimit);
    }

    void relabellingFollowsTheResultCode_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("next");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("not detected") << 4 << 9 << true;
        QTest::newRow("added as template") << 5 << 9 << true;
        QTest::newRow("switched to mould detection") << 6 << 9 << true;
        QTest::newRow("re-detected") << 7 << 8 << true;
        QTest::newRow("OK picture re-detected") << 8 << 10 << true;
        QTest::newRow("NG waiting") << 3 << 3 << false;
    }
    void relabellingFollowsTheResultCode()
    {
        QFETCH(int, code);
        QFETCH(int, next);
        QFETCH(bool, drawn);
        TestWorkDir wd;
        rig::Options o;
        o.camera = 3;
        ViewRig r(o);
        FailSlots fail(r.view->pixelCount);
        const int slot = 0 + 2 * (3 * 8 + 1);
        std::fill(fail.buffers[slot].begin(), fail.buffers[slot].end(), 0x40);
        QCOMPARE(r.view->UpdateFailImage(1, 0, code), next);
        const QImage img = fail.picture(slot, 160, 120);
        QCOMPARE(countColour(img, QRect(55, 55, 105, 30), isRed) > 20, drawn);
        QCOMPARE(countColour(img, QRect(0, 0, 50, 120), isRed), 0);
    }
};

QTEST_MAIN(TestFaultPictures)
#include "tst_faultpictures.moc"
