// The ROI page with the main window's moulding cycle: an NG opens it, each of
// the operator's decisions releases (or keeps) the cycle, and a retrain runs
// from the template capture through the regions drawn and saved to the next
// judged cycle.
#include "cammerwidget.h"
#include "counted.h"
#include "colorbutton.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "indexbutton.h"
#include "lanstr.h"
#include "notice.h"
#include "mouldcycle.h"
#include "rivurevezi.h"
#include "support_roipage.h"
#include "scripteddialogs.h"
#include "scriptedoutputs.h"
#include "operatorrights.h"

#include <QJsonArray>
#include <QtTest>

#include <opencv2/imgproc.hpp>

using namespace pagetest;

namespace {

constexpr int kClamp = 1 << 0;
constexpr int kEjector = 1 << 1;
constexpr int kAlarm = 1 << 2;

// Both steps judge one bright-pixel region; step 0 is the product.
void standardRegions(RoiEnv& env, int camera)
{
    env.addSavedRect(camera, 0, 40, 40, 80, 80);
    env.addSavedRect(camera, 1, 40, 40, 80, 80);
}

}  // namespace

class TestDrawRoiFlow : public QObject {
    Q_OBJECT

    // An NG at the product step of camera 0 (and camera 1 when given).
    void failProduct(RoiEnv& env, bool both = false)
    {
        paintDefect(0, 60, 60);
        if (both)
            paintDefect(1, 60, 60);
        env.runStep(0);
    }

private slots:
    // The part sticks after a pass took its frame during the countdown: the
    // step is judged on the frame pulled when the countdown is over.
    void judgedOnTheFrameOfTheCountdownsEnd()
    {
        RoiEnv env;
        standardRegions(env, 0);
        env.grab();
        gInputRiseLatch.fetch_or(1 << (env.word(49) == 255 ? 0 : env.word(49)));
        env.win->Run();
        QVERIFY(env.win->mould->countdownActive(0));
        env.grab();   // a frame of the clean part, taken during the countdown
        paintDefect(0, 60, 60);
        env.win->TimerUp(0);
        QCOMPARE(env.win->cycle().detectState, 2);
        QCOMPARE(env.win->cycle().alarmCode[0], 3);
    }

    void ngOpensThePage()
    {
        RoiEnv env;
        standardRegions(env, 0);
        const int judged = counted().all[0];
        failProduct(env);
        QCOMPARE(env.win->cycle().detectState, 2);
        QVERIFY(env.win->cycle().ngPresent);
        QCOMPARE(env.win->cycle().alarmCode[0], 3);
        QCOMPARE(env.outputs() & (kEjector | kAlarm), kEjector | kAlarm);
        QVERIFY(env.outputs() & kClamp);   // the mould step of the cycle is still to come
        QVERIFY(env.page->isVisibleTo(env.win));
        QCOMPARE(gSource, 1);
        QVERIFY(env.page->reCheckButton->isVisibleTo(env.page));
        QVERIFY(!env.win->indexButton->shown());
        QCOMPARE(counted().all[0], judged + 1);
        // The cycle waits: further triggers are not taken while the NG is latched.
        env.runStep(1);
        QCOMPARE(env.win->cycle().runStep, 0);
        QCOMPARE(env.win->cycle().detectState, 2);
    }

    // Re-detect after the part was taken out: the NG clears, the step's
    // interlock and the alarm drop, the page closes and the cycle goes on.
    void reDetectClears()
    {
        RoiEnv env;
        standardRegions(env, 0);
        const int failedBefore = counted().fail[0];
        failProduct(env);
        const int judgedBefore = counted().all[0];
        clearScene(0);
        env.grab();
        env.page->SlotReCheck();
        QCOMPARE(env.win->cycle().reDetectMask[0], 1);
        QCOMPARE(env.win->cycle().alarmCode[0], 8);   // re-detected, picture relabelled
        QVERIFY(env.view(0)->stepOk);
        QCOMPARE(env.outputs() & (kEjector | kAlarm), 0);
        QVERIFY(!env.page->isVisibleTo(env.win));
        QCOMPARE(env.win->cycle().detectState, 0);
        QCOMPARE(gSource, -1);
        QVERIFY(env.win->indexButton->shown());
        QVERIFY(!env.win->cycle().manualDecision);
        QCOMPARE(counted().all[0], judgedBefore);   // a manual decision is not counted again
        QCOMPARE(counted().fail[0], failedBefore + 1);
        QVERIFY(gisSaveFail[1]);               // the re-judged OK picture, labelled
        QCOMPARE(env.win->cycle().runStep, 1);
        env.runStep(1);
        QCOMPARE(env.win->cycle().detectState, 1);
        QCOMPARE(env.outputs() & kClamp, 0);
    }

    // Re-detect with the part still in place keeps the NG and the page.
    void reDetectStillBad()
    {
        RoiEnv env;
        standardRegions(env, 0);
        failProduct(env);
        env.page->SlotReCheck();
        QCOMPARE(env.win->cycle().detectState, 2);
        QCOMPARE(env.win->cycle().alarmCode[0], 3);
        QCOMPARE(env.outputs() & (kEjector | kAlarm), kEjector | kAlarm);
        QVERIFY(env.page->isVisibleTo(env.win));
        QCOMPARE(gSource, 1);
        QCOMPARE(env.win->cycle().runStep, 0);
    }

    // Outputs set before a re-detection, by the step and the interlock words.
    void reDetectOutputs_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("step");
        QTest::addColumn<QVector<int>>("setWords");
        QTest::addColumn<int>("first");   // the word published first, -1 none
        QTest::newRow("last step") << 0 << 2 << 1 << QVector<int>{} << kClamp;
        QTest::newRow("last step, word 130") << 0 << 2 << 1 << QVector<int>{130} << -1;
        QTest::newRow("last step, word 124") << 0 << 2 << 1 << QVector<int>{124} << -1;
        QTest::newRow("product step") << 0 << 2 << 0 << QVector<int>{} << kEjector;
        QTest::newRow("product step, word 122") << 0 << 2 << 0 << QVector<int>{122} << -1;
        QTest::newRow("product step, word 123") << 0 << 2 << 0 << QVector<int>{123} << -1;
        QTest::newRow("product step, word 129") << 0 << 2 << 0 << QVector<int>{129} << -1;
        QTest::newRow("multiple, last of three") << 3 << 3 << 2 << QVector<int>{} << kClamp;
        QTest::newRow("multiple, middle") << 3 << 3 << 1 << QVector<int>{} << -1;
        QTest::newRow("two-colour, right mould folds to the last") << 1 << 4 << 3 << QVector<int>{} << kClamp;
    }
    void reDetectOutputs()
    {
        QFETCH(int, mode);
        QFETCH(int, steps);
        QFETCH(int, step);
        QFETCH(QVector<int>, setWords);
        QFETCH(int, first);
        Options o;
        o.mode = mode;
        o.steps = steps;
        RoiEnv env(o);
        for (int w : setWords)
            env.word(w) = 1;
        for (int n = 0; n < 10; ++n)
            gpControlIO->IOSetOut(n, 0);
        gpControlIO->IOFlashOut();
        env.win->cycleStatus().detectState = 2;
        env.win->cycleStatus().runStep = step;
        env.win->cycleStatus().detectStep = step;
        env.view(0)->stepOk = false;
        env.win->cycleStatus().alarmCode[step] = 3;
        env.page->Reset();
        QCOMPARE(gSource, 1);
        QVector<int> seen;
        connect(gpControlIO, &ControlPort::sigIOChange, this, [&seen] { seen << gpControlIO->wantedOut(); });
        env.grab();
        env.page->SlotReCheck();
        disconnect(gpControlIO, &ControlPort::sigIOChange, this, nullptr);
        QCOMPARE(seen.isEmpty() ? -1 : seen.first(), first);
        QCOMPARE(env.win->cycle().alarmCode[step], 8);
        QCOMPARE(env.win->cycle().detectState, 0);
    }

    // Do not detect camera 1, then add camera 2's picture as a template:
    // neither camera is judged again and the cycle is released.
    void doNotDetectThenAddTemplate()
    {
        Options o;
        o.cameras = 2;
        RoiEnv env(o);
        standardRegions(env, 0);
        standardRegions(env, 1);
        EditSession::get().setCurrentCamera(0);
        env.win->ChangeCammer();
        failProduct(env, true);
        QCOMPARE(env.win->cycle().detectState, 2);
        QCOMPARE(env.win->cycle().alarmCode[0], 3);
        QCOMPARE(env.win->cycle().alarmCode[kMaxDetect], 3);

        BoxScript boxes({true});
        env.page->SlotNoCheckCur();
        QCOMPARE(boxes.texts, QStringList{lanStr(105).arg(1)});
        QVERIFY(env.view(0)->stepSettled(0));
        QVERIFY(env.view(0)->stepOk);          // not judged again
        QVERIFY(!env.view(1)->stepOk);         // judged again, still NG
        QCOMPARE(env.win->cycle().reDetectMask[0], 2);
        QCOMPARE(env.win->cycle().detectState, 2);
        QCOMPARE(EditSession::get().currentCamera(), 1);   // the page follows the alarm
        QCOMPARE(env.page->cameraCombo->currentIndex(), 1);
        QCOMPARE(env.win->cycle().alarmCode[0], 9);    // "Don't Detect" written on its picture
        QVERIFY(gisSaveFail[0]);

        boxes.texts.clear();
        boxes.answer({true});
        env.page->SlotAddTemp();
        QCOMPARE(boxes.texts, QStringList{lanStr(108)});
        QCOMPARE(env.view(1)->tempCount[0], 2);
        QVERIFY(QFile::exists("./cammer21/template1.bmp"));
        QCOMPARE(env.win->cycle().alarmCode[kMaxDetect], 9);
        QCOMPARE(env.win->cycle().detectState, 0);
        QCOMPARE(env.outputs() & (kEjector | kAlarm), 0);
        QVERIFY(!env.page->isVisibleTo(env.win));
        QCOMPARE(env.records(), QStringList({"Camera 1 do not detect the mold", "Camera 2 added a template"}));
        // The operator is told which camera took the template.
        QVERIFY(Notice::shown());
        QCOMPARE(Notice::shown()->text(), lanStr(109).arg(2).trimmed());

        // The cycle goes on with the mould step.
        clearScene(0);
        clearScene(1);
        env.runStep(1);
        QCOMPARE(env.win->cycle().detectState, 1);
        QCOMPARE(env.outputs() & (kClamp | kEjector | kAlarm), 0);
    }

    void doNotDetectAllCameras()
    {
        Options o;
        o.cameras = 2;
        RoiEnv env(o);
        standardRegions(env, 0);
        standardRegions(env, 1);
        failProduct(env, true);
        QCOMPARE(EditSession::get().currentCamera(), 2);
        BoxScript boxes({true});
        env.page->SlotNoCheckCur();
        QCOMPARE(boxes.texts, QStringList{lanStr(102)});
        QCOMPARE(env.win->cycle().detectState, 0);
        QCOMPARE(env.win->cycle().alarmCode[0], 9);
        QCOMPARE(env.win->cycle().alarmCode[kMaxDetect], 9);
        QCOMPARE(env.outputs() & (kEjector | kAlarm), 0);
        QCOMPARE(gSource, -1);
        QCOMPARE(env.records(), QStringList{"All cameras do not detect this mold"});
        QCOMPARE(env.win->cycle().runStep, 1);
    }

    void doNotDetectRefused_data()
    {
        QTest::addColumn<int>("word135");
        QTest::addColumn<int>("word138");
        QTest::addColumn<bool>("doorOpen");
        QTest::addColumn<bool>("cameraPassed");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("safety door closed") << 0 << 1 << false << false << QStringList{lanStr(195)};
        QTest::newRow("password refused") << 1 << 0 << true << false << QStringList{"<password>"};
        QTest::newRow("shown camera passed") << 0 << 0 << false << true << QStringList{lanStr(107)};
        QTest::newRow("question answered no") << 0 << 1 << true << false << QStringList{lanStr(105).arg(1)};
    }
    void doNotDetectRefused()
    {
        QFETCH(int, word135);
        QFETCH(int, word138);
        QFETCH(bool, doorOpen);
        QFETCH(bool, cameraPassed);
        QFETCH(QStringList, texts);
        Options o;
        o.cameras = 2;
        RoiEnv env(o);
        standardRegions(env, 0);
        standardRegions(env, 1);
        env.word(135) = word135;
        env.word(138) = word138;
        env.word(98) = 1;
        failProduct(env, !cameraPassed);
        if (!cameraPassed) {
            EditSession::get().setCurrentCamera(0);
        } else {
            EditSession::get().setCurrentCamera(1);   // camera 2 passed, camera 1 failed
            QVERIFY(env.view(1)->stepOk);
        }
        gisSafeDoorOpen = doorOpen;
        BoxScript boxes({false, false});
        env.page->SlotNoCheckCur();
        QCOMPARE(boxes.texts, texts);
        QCOMPARE(env.win->cycle().detectState, 2);
        QCOMPARE(env.win->cycle().alarmCode[0], 3);
        QVERIFY(!env.view(0)->stepSettled(0));
        QCOMPARE(env.recordCount(), 0);
        QCOMPARE(env.outputs() & kAlarm, kAlarm);
    }

    // Live and template during an NG: the alarm output goes off with the
    // template, the failed cameras blink again back on the live picture.
    void liveTemplateSwitch()
    {
        RoiEnv env;
        standardRegions(env, 0);
        failProduct(env);
        env.page->SlotAutoChange();
        QCOMPARE(gSource, 0);
        QCOMPARE(env.outputs() & kAlarm, 0);
        QCOMPARE(env.outputs() & kEjector, kEjector);   // the interlock stays
        QVERIFY(env.page->autoChangeButton->isVisibleTo(env.page));
        env.view(0)->stopAlarmBlink();
        env.view(0)->setBlink(1);
        env.page->SlotAutoChange();
        QCOMPARE(gSource, 1);
        QCOMPARE(env.view(0)->blink(), 0);
        QVERIFY(env.view(0)->alarmBlinking());
        QCOMPARE(env.win->cycle().detectState, 2);
    }

    // A new mould: retrain, the templates are captured in the next cycle,
    // the page opens in region setting, regions are drawn and saved, and the
    // following cycle is judged with them.
    void retrainToJudgedCycle()
    {
        RoiEnv env;
        standardRegions(env, 0);
        QVector<QJsonObject> sent;
        ScriptedOutputs outputs;
        outputs.onTemplateListChanged = [&sent](const QJsonObject& o) { sent << o; };
        QVERIFY(writeGreyBmp("./cammer11/template1.bmp", scene(0)));
        env.view(0)->tempUsed[0][1] = 1;
        env.view(0)->tempCount[0] = 2;

        {
            ScriptedDialogs resample;
            resample.onChoose = [](const QString& q) { return q == lanStr(137); };
            QTest::ignoreMessage(QtWarningMsg, "SN.db: not open, camera order not saved");
            env.win->SlotReTrain();
        }
        QVERIFY(env.view(0)->isUntrained(0) && env.view(0)->isUntrained(1));
        QVERIFY(!QFile::exists("./cammer11/template1.bmp"));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].value("detect").toArray(), QJsonArray({0, 1}));

        // The new mould's product.
        cv::rectangle(scene(0), cv::Rect(150, 100, 80, 60), cv::Scalar(160), cv::FILLED);
        env.runStep(0);
        QCOMPARE(env.win->cycle().detectState, 1);
        QVERIFY(!gFromTrain);
        QVERIFY(!env.page->isVisibleTo(env.win));
        QCOMPARE(readGrey("./cammer11/template0.bmp").at<uchar>(120, 180), uchar(160));
        env.runStep(1);
        QVERIFY(gFromTrain);
        QCOMPARE(env.win->cycle().detectState, 3);
        QVERIFY(env.page->isVisibleTo(env.win));
        QCOMPARE(gSource, 0);
        QCOMPARE(EditSession::get().currentDetect(), 1);
        QCOMPARE(env.outputs() & kClamp, kClamp);   // the mould stays open while regions are set
        QCOMPARE(env.view(0)->shownPicture()[120 * kWidth + 180], uchar(160));

        // Regions for the new product: a bright-pixel check over the product.
        env.addRect(0, 1, 140, 90, 100, 80, 5, 200, 50);
        BoxScript boxes({true});
        env.page->SlotReturn();
        QCOMPARE(boxes.texts, QStringList{lanStr(72)});
        QVERIFY(!gFromTrain);
        QVERIFY(!env.page->isVisibleTo(env.win));
        QCOMPARE(env.win->cycle().runState, 1);
        QCOMPARE(env.win->cycle().detectState, 1);
        QCOMPARE(env.outputs() & (kClamp | kEjector | kAlarm), 0);
        QCOMPARE(env.win->cycle().runStep, 0);
        QVERIFY(env.win->templatesRenewed);
        env.win->TimerShow();
        QVERIFY(!env.win->templatesRenewed);
        QCOMPARE(env.view(0)->savedRecord->roiCount[1], 2);
        const QStringList rows = env.records();
        QVERIFY(rows.contains("Delete all templates"));
        QCOMPARE(rows.last(), QStringLiteral("Detection Mold of camera 1 Added rectangular  area 2, function is "));

        // Next cycle: a flash on the product fails the mould step.
        env.runStep(0);
        QCOMPARE(env.win->cycle().detectState, 1);
        paintDefect(0, 160, 110, 15);
        env.runStep(1);
        QCOMPARE(env.win->cycle().detectState, 2);
        QVERIFY(!env.view(0)->roiPassed[1][1]);
        QVERIFY(env.view(0)->roiPassed[1][0]);
        QVERIFY(env.page->isVisibleTo(env.win));
        QCOMPARE(env.outputs() & (kClamp | kAlarm), kClamp | kAlarm);
    }

    // A template taken with clipped pixels under a grey-template region, by
    // a Resample at the next opening or by adding the live NG picture: the
    // region is named with its count in the record and on one notice, both
    // in the operator's language; a template one level below white names
    // nothing.
    void overExposedTemplatesAreReported_data()
    {
        QTest::addColumn<bool>("resample");  // else the live NG picture added as a template
        QTest::addColumn<int>("lan");
        QTest::addColumn<int>("patch");      // grey of the bright patch in the scene
        QTest::addColumn<int>("pixels");
        QTest::newRow("resample, clipped") << true << int(kLanJapanese) << 255 << 200;
        QTest::newRow("resample, below white") << true << int(kLanJapanese) << 254 << 0;
        QTest::newRow("added template, clipped") << false << int(kLanSimplifiedChinese) << 255 << 200;
        QTest::newRow("added template, below white") << false << int(kLanSimplifiedChinese) << 254 << 0;
    }
    void overExposedTemplatesAreReported()
    {
        QFETCH(bool, resample);
        QFETCH(int, lan);
        QFETCH(int, patch);
        QFETCH(int, pixels);
        RoiEnv env;
        gLan = lan;
        env.addSavedRect(0, 0, 150, 100, 80, 60, 0, 50);
        cv::rectangle(scene(0), cv::Rect(160, 110, 20, 10), cv::Scalar(patch), cv::FILLED);
        if (resample) {
            {
                ScriptedDialogs sure;
                sure.onChoose = [](const QString& q) { return q == lanStr(137); };
                QTest::ignoreMessage(QtWarningMsg, "SN.db: not open, camera order not saved");
                env.win->SlotReTrain();
            }
            env.runStep(0);
        } else {
            env.runStep(0);
            QCOMPARE(env.win->cycle().detectState, 2);   // the patch fails the old template
            BoxScript boxes({true});
            env.page->SlotAddTemp();
            QCOMPARE(env.view(0)->tempCount[0], 2);
        }
        // The record line in the operator's language, with the remedy.
        const QString line = lanStr(732).arg(1).arg(1).arg(1).arg(pixels);
        QCOMPARE(env.records().filter(lanStr(731)), pixels > 0 ? QStringList{line} : QStringList());
        const QString notice = Notice::shown() ? Notice::shown()->text() : QString();
        QCOMPARE(notice.contains(lanStr(729).arg(1).arg(1).arg(1).arg(pixels)), pixels > 0);
        if (!resample)
            QVERIFY(notice.startsWith(lanStr(109).arg(1).trimmed()));
    }

    // Templates taken first with a clipped patch, regions drawn afterwards,
    // as for a new mould: a region saved over the patch (drawn, moved onto
    // it or grown over it) is named at its save, once; a save that leaves
    // such a region as it was names nothing again.
    void regionSavedOverAClippedTemplateIsReported_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("region");   // 1-based region named at the save; 0 none
        QTest::newRow("drawn") << "drawn" << 2;
        QTest::newRow("moved") << "moved" << 1;
        QTest::newRow("resized") << "resized" << 1;
        QTest::newRow("drawn elsewhere") << "elsewhere" << 0;
    }
    void regionSavedOverAClippedTemplateIsReported()
    {
        QFETCH(QString, change);
        QFETCH(int, region);
        RoiEnv env;
        gLan = kLanEnglish;
        CammerWidget* v = env.view(0);
        env.addSavedRect(0, 0, 20, 20, 40, 30, 0, 50);
        if (change == "elsewhere")
            env.addSavedRect(0, 0, 150, 100, 80, 60, 0, 50);   // over the patch since the training
        cv::rectangle(scene(0), cv::Rect(160, 110, 20, 10), cv::Scalar(255), cv::FILLED);
        {
            ScriptedDialogs sure;
            sure.onChoose = [](const QString& q) { return q == lanStr(137); };
            QTest::ignoreMessage(QtWarningMsg, "SN.db: not open, camera order not saved");
            env.win->SlotReTrain();
        }
        env.runStep(0);
        const int trainedLines = env.records().filter(QStringLiteral("over-exposed")).size();
        QCOMPARE(trainedLines, change == "elsewhere" ? 1 : 0);
        if (Notice::shown())
            Notice::shown()->hide();

        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        CammerSingleton& e = *v->editRecord;
        const double fx = v->scale().fullX, fy = v->scale().fullY;
        auto reshape = [&](const QRect& to) {
            e.rect[0][0].rect = to;
            e.rect[0][0].setImageRect();
            v->editMasks[0][0] = e.rect[0][0].UpdateMask();
        };
        const QRect first = e.rect[0][0].rect;
        if (change == "drawn")
            env.addRect(0, 0, 150, 100, 80, 60, 0, 50);
        else if (change == "moved")
            reshape(first.translated(int(140 * fx), int(90 * fy)));
        else if (change == "resized")
            reshape(QRect(first.topLeft(), QPoint(int(190 * fx), int(130 * fy))));
        else
            env.addRect(0, 0, 20, 200, 40, 30, 0, 50);
        BoxScript boxes({true});
        env.page->SlotSaveData();
        QCOMPARE(boxes.texts, QStringList{lanStr(72)});
        const QStringList lines = env.records().filter(QStringLiteral("over-exposed")).mid(trainedLines);
        const QString line = QStringLiteral("Camera 1 step 1 region %1: 200 saturated template pixels, "
                                            "over-exposed: lower the exposure and resample")
                                 .arg(region);
        QCOMPARE(lines, region > 0 ? QStringList{line} : QStringList());
        const QString notice = Notice::shown() ? Notice::shown()->text() : QString();
        QCOMPARE(notice.contains(lanStr(729).arg(1).arg(1).arg(region).arg(200)), region > 0);
        QCOMPARE(notice.count(lanStr(728)), region > 0 ? 1 : 0);
    }

    void areaSettingsButton()
    {
        RoiEnv env;
        env.word(98) = 1;
        const int judged = counted().all[0];
        BoxScript boxes({false});
        env.win->indexButton->roiButton()->click();
        QCOMPARE(boxes.texts, QStringList{"<password>"});
        QCOMPARE(env.win->cycle().detectState, 0);
        QVERIFY(!env.page->isVisibleTo(env.win));
        OperatorRights::get().setRightsLevel(1);
        env.win->indexButton->roiButton()->click();
        QCOMPARE(env.win->cycle().detectState, 3);
        QVERIFY(env.page->isVisibleTo(env.win));
        QCOMPARE(gSource, 0);
        // Triggers wait while regions are set.
        env.runStep(0);
        QCOMPARE(env.win->cycle().detectState, 3);
        QCOMPARE(counted().all[0], judged);
    }
};

QTEST_MAIN(TestDrawRoiFlow)
#include "tst_drawroiwidget_flow.moc"
