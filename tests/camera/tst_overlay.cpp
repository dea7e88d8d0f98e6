// The camera view's painting, probed pixel by pixel: defect and ignored-point
// marks, which ROIs show in which state, outline colours, zoom, and the
// label texts.
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "editsession.h"
#include "globals.h"
#include "lanstr.h"
#include "statewindow.h"
#include "viewrig.h"
#include "wizardpara.h"

#include <QtTest>

#include <cstring>
#include <vector>

using rig::ViewEnv;

namespace {

// Widget pixel at the middle of picture pixel (x, y): the picture is a
// quarter of the 1280 x 1024 view.
QPoint at(int x, int y)
{
    return QPoint(4 * x + 2, 4 * y + 2);
}

QString rgb(QRgb c)
{
    return QStringLiteral("%1,%2,%3").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

const QString kGrey = QStringLiteral("100,100,100");
const QString kRed = QStringLiteral("255,0,0");
const QString kCyan = QStringLiteral("0,255,255");
const QString kGreen = QStringLiteral("0,255,0");

// Two ROIs in both records: A over picture (100..149, 100..149), B over
// (200..249, 100..149).
void twoRois(ViewEnv& env, int methodA = 0)
{
    env.addRect(0, QRect(QPoint(400, 400), QPoint(599, 599)), methodA);
    env.addRect(0, QRect(QPoint(800, 400), QPoint(999, 599)));
    *env.view->savedRecord = *env.view->editRecord;
    env.word(116) = 3;
    env.word(117) = 100;
}

}  // namespace

class TestOverlay : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("VMM_TARGET", "0"); }
    void cleanup() { gSource = 0; }

    void defectPixelsOnlyInFailedRois()
    {
        ViewEnv env;
        twoRois(env);
        uchar* result = env.view->resultImage;
        result[120 * 320 + 120] = 255;   // in A
        result[120 * 320 + 220] = 255;   // in B
        result[200 * 320 + 60] = 255;    // in no ROI
        env.view->roiPassed[0][0] = false;
        env.view->stepOk = false;
        env.win->cycleStatus().detectState = 2;
        gSource = 1;
        env.view->setBlink(1);
        QImage img = env.paint();
        QCOMPARE(rgb(img.pixel(at(120, 120))), kRed);
        QCOMPARE(rgb(img.pixel(at(120, 121))), kGrey);
        QCOMPARE(rgb(img.pixel(at(220, 120))), kGrey);
        QCOMPARE(rgb(img.pixel(at(60, 200))), kGrey);
        // The blink's off phase shows the picture again.
        env.view->setBlink(0);
        img = env.paint();
        QCOMPARE(rgb(img.pixel(at(120, 120))), kGrey);
        // Showing the ignored points: cyan, and no red.
        env.view->ignoreMask[0][130 * 320 + 130] = 255;
        env.view->ignoreMask[0][200 * 320 + 60] = 255;   // in no ROI: not shown
        env.view->setBlink(2);
        img = env.paint();
        QCOMPARE(rgb(img.pixel(at(130, 130))), kCyan);
        QCOMPARE(rgb(img.pixel(at(120, 120))), kGrey);
        QCOMPARE(rgb(img.pixel(at(60, 200))), kGrey);
        // The alarm timer leaves the ignored points shown.
        env.view->TimerShowAlarm();
        QCOMPARE(env.view->blink(), 2);
        env.view->setBlink(0);
        env.view->TimerShowAlarm();
        QCOMPARE(env.view->blink(), 1);
        // No defect marks outside an NG that is latched.
        env.win->cycleStatus().detectState = 1;
        img = env.paint();
        QCOMPARE(rgb(img.pixel(at(120, 120))), kGrey);
    }

    void colourCamera()
    {
        rig::EnvOptions o;
        o.colour = true;
        ViewEnv env(o);
        twoRois(env);
        env.view->resultImage[120 * 320 + 120] = 255;
        env.view->roiPassed[0][0] = false;
        env.view->stepOk = false;
        env.win->cycleStatus().detectState = 2;
        gSource = 1;
        env.view->setBlink(1);
        QImage img = env.paint();
        QCOMPARE(rgb(img.pixel(at(120, 120))), kRed);
        QCOMPARE(rgb(img.pixel(at(121, 120))), kGrey);
        // The picture read-out gives the colour word.
        env.view->MUpdateXYV(at(121, 120).x(), at(121, 120).y());
        QCOMPARE(QString::number(uint(EditSession::get().pickValue()), 16), QStringLiteral("ff646464"));
        env.view->setBlink(0);
        img = env.paint();
        QCOMPARE(rgb(img.pixel(at(120, 120))), kGrey);
    }

    void shrunkViewShowsEachNewPicture()
    {
        // A colour picture twice the view's size is drawn from a copy scaled
        // once per picture: each view pixel is the picture pixel under its
        // centre, and so are the marks.
        rig::EnvOptions o;
        o.colour = true;
        o.camW = 640;
        o.camH = 512;
        o.showW = 320;
        o.showH = 256;
        ViewEnv env(o);
        env.addRect(0, QRect(QPoint(4, 4), QPoint(315, 251)));
        *env.view->savedRecord = *env.view->editRecord;
        gSource = 1;
        env.win->cycleStatus().detectState = 2;
        env.view->stepOk = false;
        env.view->roiPassed[0][0] = false;
        auto show = [&](quint32 blue) {
            std::vector<quint32> px(size_t(640 * 512));
            for (int y = 0; y < 512; ++y)
                for (int x = 0; x < 640; ++x)
                    px[size_t(y * 640 + x)] = (quint32(x & 255) << 16) | (quint32(y & 255) << 8) | blue;
            env.view->showPicture(reinterpret_cast<const uchar*>(px.data()));
            env.view->DisplayChanged();
            return env.paint();
        };
        QImage img = show(9);
        QCOMPARE(rgb(img.pixel(250, 150)), "245,45,9");    // picture (501, 301)
        QCOMPARE(rgb(img.pixel(251, 150)), "247,45,9");    // picture (503, 301)
        QCOMPARE(rgb(img.pixel(319, 255)), "127,255,9");   // picture (639, 511)
        img = show(200);
        QCOMPARE(rgb(img.pixel(250, 150)), "245,45,200");
        QCOMPARE(rgb(img.pixel(319, 255)), "127,255,200");
        // The widget's own painting takes the same copy.
        QCOMPARE(rgb(env.view->grab().toImage().pixel(250, 150)), "245,45,200");
        env.view->resultImage[301 * 640 + 501] = 255;
        env.view->resultImage[301 * 640 + 502] = 255;      // under no view pixel's centre
        env.view->setBlink(1);
        img = env.paint();
        QCOMPARE(rgb(img.pixel(250, 150)), kRed);
        QCOMPARE(rgb(img.pixel(251, 150)), "247,45,200");
        env.view->setBlink(0);
        img = env.paint();
        QCOMPARE(rgb(img.pixel(250, 150)), "245,45,200");
    }

    void ignoredPointsAndPreviewOnTheTemplate()
    {
        ViewEnv env;
        twoRois(env);
        env.win->cycleStatus().detectState = 3;
        env.view->ignoreMask[0][120 * 320 + 120] = 255;
        env.view->ignoreMask[0][200 * 320 + 60] = 255;
        QImage img = env.paint();
        QCOMPARE(rgb(img.pixel(at(120, 120))), kCyan);
        QCOMPARE(rgb(img.pixel(at(60, 200))), kGrey);
        // The preview marks the current ROI only.
        env.view->resultImage[110 * 320 + 110] = 255;
        env.view->resultImage[110 * 320 + 210] = 255;
        env.view->editor()->select(0);
        env.view->previewShown = true;
        img = env.paint();
        QCOMPARE(rgb(img.pixel(at(110, 110))), kCyan);
        QCOMPARE(rgb(img.pixel(at(210, 110))), kGrey);
        // Rebuilding the panel ends the preview.
        env.view->ShowHideROIPara();
        img = env.paint();
        QCOMPARE(rgb(img.pixel(at(110, 110))), kGrey);
    }

    void marksStayOnThePicture()
    {
        ViewEnv env;
        twoRois(env);
        // Damaged picture rectangles reaching past every edge.
        env.view->savedRecord->rect[0][0].imgRect = QRect(-50, -40, 2000, 2000);
        env.view->editRecord->rect[0][0].imgRect = QRect(-50, -40, 2000, 2000);
        std::memset(env.view->resultImage, 255, 320 * 256);
        std::memset(env.view->ignoreMask[0], 255, 320 * 256);
        env.view->roiPassed[0][0] = false;
        env.view->stepOk = false;
        env.win->cycleStatus().detectState = 2;
        gSource = 1;
        env.view->setBlink(1);
        QImage img = env.paint();
        QCOMPARE(rgb(img.pixel(at(319, 255))), kRed);
        QCOMPARE(rgb(img.pixel(at(0, 250))), kRed);
        gSource = 0;
        img = env.paint();
        QCOMPARE(rgb(img.pixel(at(319, 255))), kCyan);
    }

    void roisShownByState_data()
    {
        QTest::addColumn<int>("detectState");
        QTest::addColumn<int>("word150");
        QTest::addColumn<int>("source");
        QTest::addColumn<bool>("shown");
        QTest::newRow("idle live") << 0 << 0 << 1 << false;
        QTest::newRow("idle template") << 0 << 0 << 0 << true;
        QTest::newRow("idle run screen") << 0 << 0 << -1 << false;
        QTest::newRow("idle live, word 150") << 0 << 1 << 1 << true;
        QTest::newRow("idle run screen, word 150") << 0 << 1 << -1 << true;
        QTest::newRow("OK run screen") << 1 << 0 << -1 << true;
        QTest::newRow("NG live") << 2 << 0 << 1 << true;
        QTest::newRow("NG template") << 2 << 0 << 0 << true;
        QTest::newRow("NG run screen") << 2 << 0 << -1 << false;
        QTest::newRow("region setting live") << 3 << 0 << 1 << false;
        QTest::newRow("region setting template") << 3 << 0 << 0 << true;
    }

    void roisShownByState()
    {
        QFETCH(int, detectState);
        QFETCH(int, word150);
        QFETCH(int, source);
        QFETCH(bool, shown);
        ViewEnv env;
        twoRois(env);
        env.word(150) = word150;
        env.win->cycleStatus().detectState = detectState;
        gSource = source;
        const QImage img = env.paint();
        // The left edge of ROI A.
        QCOMPARE(rgb(img.pixel(400, 500)) != kGrey, shown);
        QCOMPARE(rgb(img.pixel(380, 500)), kGrey);
    }

    void outlineColours_data()
    {
        QTest::addColumn<int>("detectState");
        QTest::addColumn<int>("source");
        QTest::addColumn<bool>("stepOk");
        QTest::addColumn<bool>("roiOk");
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("colour");
        QTest::newRow("before judging") << 0 << 0 << true << true << 0 << "0,0,128";
        QTest::newRow("failed ROI of an NG view") << 2 << 1 << false << false << 0 << kRed;
        QTest::newRow("passed ROI of an NG view") << 2 << 1 << false << true << 0 << kGreen;
        QTest::newRow("failed flag of an OK view") << 1 << 1 << true << false << 0 << kGreen;
        QTest::newRow("ignore area") << 2 << 1 << false << false << 2 << "255,255,0";
        QTest::newRow("positioning on the template") << 1 << 0 << true << true << 3 << kGreen;
        QTest::newRow("positioning in the live view") << 1 << 1 << true << true << 3 << kGrey;
    }

    void outlineColours()
    {
        QFETCH(int, detectState);
        QFETCH(int, source);
        QFETCH(bool, stepOk);
        QFETCH(bool, roiOk);
        QFETCH(int, method);
        QFETCH(QString, colour);
        ViewEnv env;
        twoRois(env, method);
        env.win->cycleStatus().detectState = detectState;
        gSource = source;
        env.view->stepOk = stepOk;
        env.view->roiPassed[0][0] = roiOk;
        const QImage img = env.paint();
        QCOMPARE(rgb(img.pixel(400, 500)), colour);
        // ROI B passed in every case.
        if (detectState != 0)
            QCOMPARE(rgb(img.pixel(800, 500)), kGreen);
    }

    void onlyTheCurrentRoiWhileEditing()
    {
        ViewEnv env;
        twoRois(env);
        env.view->editor()->select(1);
        QImage img = env.paint();
        QCOMPARE(rgb(img.pixel(400, 500)), kGrey);
        QVERIFY(rgb(img.pixel(800, 500)) != kGrey);
        env.view->editor()->nextMoveMode();   // the selected region
        env.view->editor()->nextMoveMode();   // every region
        img = env.paint();
        QVERIFY(rgb(img.pixel(400, 500)) != kGrey);
    }

    void zoomMovesPictureAndRoisTogether()
    {
        ViewEnv env;
        twoRois(env);
        env.view->resize(640, 512);
        EditSession::get().setZoom(2.0);
        EditSession::get().setPan(-100, -50);
        QImage img = env.paint();
        // ROI A's left edge at full view x 400: 2 x 0.5 x 400 - 100 = 300.
        QCOMPARE(rgb(img.pixel(300, 450)), "0,0,128");
        QCOMPARE(rgb(img.pixel(200, 250)), kGrey);
        // A view that is not the current camera's stays unzoomed.
        EditSession::get().setCurrentCamera(5);
        img = env.paint();
        QCOMPARE(rgb(img.pixel(200, 250)), "0,0,128");
    }

    void newFramesAreShown()
    {
        ViewEnv env;
        env.word(284) = 0;
        gSource = 1;
        QImage img = env.paint();
        QCOMPARE(rgb(img.pixel(at(10, 10))), kGrey);
        rig::picture(0).setTo(160);
        QVERIFY(env.view->UpdateImage());
        img = env.paint();
        QCOMPARE(rgb(img.pixel(at(10, 10))), "160,160,160");
        // The template view shows the template the page put on display.
        gSource = 0;
        env.paint();
        env.view->showPicture(std::vector<uchar>(320 * 256, 30).data());
        env.view->tempIndex = 1;
        img = env.paint();
        QCOMPARE(rgb(img.pixel(at(10, 10))), "30,30,30");
    }

    void storedAndRecentPictures()
    {
        ViewEnv env;
        QImage stored(64, 48, QImage::Format_RGB32);
        stored.fill(qRgb(255, 0, 255));
        RoiPageLink link = CammerWidget::pageLink();
        int count = 0;
        link.storedPicture = [&] {
            RoiPageLink::StoredPicture s;
            s.count = count;
            s.picture = &stored;
            s.name = QStringLiteral("20260101_000000_000_1");
            return s;
        };
        CammerWidget::setPageLink(link);
        gSource = 4;
        QImage img = env.paint();
        QCOMPARE(rgb(img.pixel(640, 600)), "0,0,0");   // an empty folder shows nothing
        count = 3;
        img = env.paint();
        QCOMPARE(rgb(img.pixel(640, 600)), "255,0,255");
        gSource = 2;
        env.view->showPicture(std::vector<uchar>(320 * 256, 77).data());
        env.view->DisplayChanged();
        img = env.paint();
        QCOMPARE(rgb(img.pixel(640, 600)), "77,77,77");
    }

    void labels_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("p1");
        QTest::addColumn<int>("p2");
        QTest::addColumn<int>("p3");
        QTest::addColumn<int>("word143");
        QTest::addColumn<QString>("live");
        QTest::addColumn<QString>("edit");
        QTest::newRow("0, global limits") << 0 << 45 << 100 << 3 << 0 << "1: 60 / 7 " << "1: 45, 60, 5 / 7 ";
        QTest::newRow("0, own limits") << 0 << 45 << 100 << 3 << 1 << "1: 100 / 7 " << "1: 45,100,3 / 7 ";
        QTest::newRow("1") << 1 << 80 << 500 << 12800 << 0 << "1: 80--500 / 7 " << "1: 80--500,0--50 / 7 ";
        QTest::newRow("4") << 4 << 0x1234 << 100 << 0 << 0 << "1: 100 / 7 " << "1: 52, 100 / 7 ";
        QTest::newRow("6") << 6 << 80 << 9 << 0 << 0 << "1: 80 / 7 " << "1: 80 / 7 ";
        QTest::newRow("7") << 7 << 300 << 6553601 << 2 << 0 << "1: 1--100 / 7 " << "1: 44,1--100,2 / 7 ";
        QTest::newRow("9") << 9 << 1 << 2 << 3 << 0 << "1: 11, 12 / 7 " << "1: 11, 12 / 7 ";
        QTest::newRow("10") << 10 << 1 << 2 << 1 << 0 << "1: 2 / 7 " << "1: 2 / 7 ";
    }

    void labels()
    {
        QFETCH(int, method);
        QFETCH(int, p1);
        QFETCH(int, p2);
        QFETCH(int, p3);
        QFETCH(int, word143);
        QFETCH(QString, live);
        QFETCH(QString, edit);
        ViewEnv env;
        env.word(143) = word143;
        env.word(116) = 5;
        env.word(117) = 60;
        env.word(118) = 11;
        env.word(119) = 12;
        env.addRect(0, QRect(100, 100, 50, 50), method, p1, p2, p3);
        env.view->roiValue[0][0] = 7;
        QCOMPARE(env.view->roiLabel(env.edit(), 0, 0, false), live);
        QCOMPARE(env.view->roiLabel(env.edit(), 0, 0, true), edit);
        // From the 11th ROI on, number and value only.
        for (int i = 1; i < 11; ++i)
            env.addRect(0, QRect(100, 100, 50, 50), method, p1, p2, p3);
        QCOMPARE(env.view->roiLabel(env.edit(), 0, 0, true), QStringLiteral("1: 7"));
    }

    void stepNames_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("row");
        QTest::newRow("standard mould") << 0 << 1 << 264;
        QTest::newRow("two-colour") << 1 << 2 << 374;
        QTest::newRow("turntable") << 2 << 0 << 372;
        QTest::newRow("multiple, 8th") << 3 << 7 << 484;
    }

    void stepNames()
    {
        QFETCH(int, mode);
        QFETCH(int, step);
        QFETCH(int, row);
        ViewEnv env;
        env.word(Word::Mode) = mode;
        QCOMPARE(CammerWidget::stepName(step), lanStr(row));
    }
};

QTEST_MAIN(TestOverlay)
#include "tst_overlay.moc"
