// The ROI tool page itself: which controls show, the step it opens on, the
// camera and detection choice, the drawing buttons, deleting regions and the
// password before editing during an NG.
#include "cammerwidget.h"
#include "colorbutton.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "editsession.h"
#include "globals.h"
#include "indexbutton.h"
#include "lanstr.h"
#include "rivurevezi.h"
#include "support_roipage.h"
#include "operatorrights.h"

#include <QFile>
#include <QtTest>

using namespace pagetest;

namespace {

// Names of the page's controls that are visible (to the page).
QStringList visibleControls(DrawROIWidget* p)
{
    const QList<QPair<QString, QWidget*>> all{
        {"showHide", p->showHideButton}, {"source", p->sourceCombo},     {"camera", p->cameraCombo},
        {"detect", p->detectCombo},      {"return", p->returnButton},    {"noCheck", p->noCheckButton},
        {"addTemp", p->addTempButton},   {"autoChange", p->autoChangeButton}, {"help", p->helpButton},
        {"rect", p->rectButton},         {"circle", p->circleButton},    {"polygon", p->polygonButton},
        {"hand", p->handButton},         {"copy", p->copyButton},        {"deleteRoi", p->deleteRoiButton},
        {"deleteAll", p->deleteAllButton}, {"last", p->lastButton},      {"next", p->nextButton},
        {"tempDelete", p->tempDeleteButton}, {"alarmPoint", p->alarmPointButton},
        {"ignorePoint", p->ignorePointButton}, {"deleteIgnore", p->deleteIgnoreButton},
        {"reCheck", p->reCheckButton}};
    QStringList out;
    for (const auto& c : all)
        if (c.second->isVisibleTo(p))
            out << c.first;
    return out;
}

QStringList names(const QString& spaced)
{
    QStringList l = spaced.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    l.prepend(QStringLiteral("showHide"));
    return l;
}

}  // namespace

class TestDrawRoiWidget : public QObject {
    Q_OBJECT

private slots:
    void visibility_data()
    {
        QTest::addColumn<int>("cameras");
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("shown");
        const QString drawing = QStringLiteral(" rect circle polygon hand copy deleteRoi deleteAll last next tempDelete");
        QTest::newRow("live, idle, one camera") << 1 << 1 << 0 << "source return";
        QTest::newRow("live, idle, two cameras") << 2 << 1 << 0 << "source camera return";
        QTest::newRow("live, NG, one camera") << 1 << 1 << 2 << "source noCheck addTemp autoChange reCheck";
        QTest::newRow("live, NG, two cameras") << 2 << 1 << 2 << "source camera noCheck addTemp autoChange reCheck";
        QTest::newRow("recent NG, two cameras") << 2 << 2 << 3 << "source camera detect return addTemp last next";
        QTest::newRow("OK record, one camera") << 1 << 3 << 3 << "source detect return last next";
        QTest::newRow("NG record, two cameras") << 2 << 4 << 2 << "source camera detect return last next";
        QTest::newRow("template, region setting") << 1 << 0 << 3 << QString("source detect return" + drawing);
        QTest::newRow("template, NG, two cameras")
            << 2 << 0 << 2 << QString("source camera detect return autoChange" + drawing);
        QTest::newRow("page closed") << 2 << -1 << 0 << "";
    }
    void visibility()
    {
        QFETCH(int, cameras);
        QFETCH(int, source);
        QFETCH(int, state);
        QFETCH(QString, shown);
        Options o;
        o.cameras = cameras;
        RoiEnv env(o);
        gSource = source;
        env.win->cycleStatus().detectState = state;
        env.page->SlotChangePage();
        QStringList got = visibleControls(env.page);
        QStringList want = names(shown);
        got.sort();
        want.sort();
        QCOMPARE(got, want);
        QCOMPARE(env.page->pos(), QPoint(gShowW - DrawROIWidget::kWidth, 0));
        env.page->SlotShowHide();
        QCOMPARE(env.page->pos(), QPoint(0, 0));
        env.page->SlotShowHide();
        QCOMPARE(env.page->pos(), QPoint(gShowW - DrawROIWidget::kWidth, 0));
    }

    void cameraComboItems_data()
    {
        QTest::addColumn<int>("cameras");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("one") << 1 << QStringList{"Camera 1"};
        QTest::newRow("three") << 3 << QStringList{"Camera 1", "Camera 2", "Camera 3", "All Camera"};
    }
    void cameraComboItems()
    {
        QFETCH(int, cameras);
        QFETCH(QStringList, items);
        Options o;
        o.cameras = cameras;
        RoiEnv env(o);
        QStringList got;
        for (int i = 0; i < env.page->cameraCombo->count(); ++i)
            got << env.page->cameraCombo->itemText(i);
        QCOMPARE(got, items);
    }

    void detectionNames_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("standard") << 0 << 2 << QStringList{"Prod", "Mold"};
        QTest::newRow("two-colour") << 1 << 4 << QStringList{"Left prod", "Left mold", "Right prod", "Right mold"};
        QTest::newRow("multiple, three") << 3 << 3 << QStringList{"1st", "2nd", "3rd"};
    }
    void detectionNames()
    {
        QFETCH(int, mode);
        QFETCH(int, steps);
        QFETCH(QStringList, items);
        Options o;
        o.mode = mode;
        o.steps = steps;
        RoiEnv env(o);
        QStringList got;
        for (int i = 0; i < env.page->detectCombo->count(); ++i)
            got << env.page->detectCombo->itemText(i);
        QCOMPARE(got, items);
        env.page->ChangeDetectNum(0);
        QCOMPARE(env.page->detectCombo->count(), 0);
        env.page->ChangeDetectNum(12);   // more names than steps exist
        QCOMPARE(env.page->detectCombo->count(), kMaxDetect);
    }

    // The step the page opens on, per system function.
    void resetStep_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("running");
        QTest::addColumn<int>("product");   // word 86
        QTest::addColumn<int>("same");      // word 94
        QTest::addColumn<int>("side");      // word 177
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("source");
        QTest::newRow("standard, no product step") << 0 << 0 << 0 << 0 << 0 << 0 << 1 << 0;
        QTest::newRow("standard, shared parameters") << 0 << 1 << 1 << 1 << 0 << 0 << 0 << 0;
        QTest::newRow("standard, running mould") << 0 << 1 << 1 << 0 << 0 << 0 << 1 << 0;
        QTest::newRow("standard, NG keeps the step") << 0 << 0 << 0 << 1 << 0 << 2 << 0 << 1;
        QTest::newRow("multiple, first without product") << 3 << 0 << 0 << 0 << 0 << 3 << 1 << 0;
        QTest::newRow("multiple, third") << 3 << 2 << 0 << 0 << 0 << 3 << 2 << 0;
        QTest::newRow("two-colour, right mould folds") << 1 << 3 << 1 << 1 << 0 << 0 << 1 << 0;
        QTest::newRow("two-colour, right product kept") << 1 << 2 << 1 << 0 << 2 << 0 << 2 << 0;
        QTest::newRow("two-colour, left side only, product") << 1 << 0 << 1 << 0 << 1 << 0 << 2 << 0;
        QTest::newRow("turntable, left side only, no product") << 2 << 0 << 0 << 0 << 1 << 0 << 3 << 0;
        QTest::newRow("turntable, no product step") << 2 << 0 << 0 << 0 << 0 << 0 << 1 << 0;
        QTest::newRow("two-colour, NG keeps the step") << 1 << 3 << 0 << 1 << 1 << 2 << 3 << 1;
    }
    void resetStep()
    {
        QFETCH(int, mode);
        QFETCH(int, running);
        QFETCH(int, product);
        QFETCH(int, same);
        QFETCH(int, side);
        QFETCH(int, state);
        QFETCH(int, step);
        QFETCH(int, source);
        Options o;
        o.mode = mode;
        o.steps = mode == 0 ? 2 : 4;
        RoiEnv env(o);
        env.word(86) = product;
        env.word(94) = same;
        env.word(177) = side;
        env.win->cycleStatus().runStep = running;
        env.win->cycleStatus().detectState = state;
        // An edit left behind by an earlier visit is thrown away on opening.
        env.addRect(0, 0, 10, 10, 40, 40);
        BoxScript boxes;
        env.page->Reset();
        QCOMPARE(boxes.unexpected, 0);
        QCOMPARE(EditSession::get().currentDetect(), step);
        QCOMPARE(env.page->detectCombo->currentIndex(), step);
        QCOMPARE(gSource, source);
        QCOMPARE(env.page->sourceCombo->currentIndex(), source);
        QVERIFY(env.page->isVisibleTo(env.win));
        QCOMPARE(env.view(0)->editRecord->roiCount[0], 0);
        QVERIFY(*env.view(0)->editRecord == *env.view(0)->savedRecord);
    }

    void cameraChoice_data()
    {
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("expected");
        QTest::newRow("all cameras, live") << 1 << 2;
        QTest::newRow("all cameras, template") << 0 << 1;
        QTest::newRow("all cameras, NG record") << 4 << 1;
    }
    void cameraChoice()
    {
        QFETCH(int, source);
        QFETCH(int, expected);
        Options o;
        o.cameras = 2;
        RoiEnv env(o);
        env.win->cycleStatus().detectState = 3;
        EditSession::get().setCurrentCamera(0);
        gSource = source;
        env.page->SlotChangeCamera(2);
        QCOMPARE(EditSession::get().currentCamera(), expected);
        QCOMPARE(env.page->cameraCombo->currentIndex(), expected);
        QCOMPARE(gSource, source);
    }

    // A source other than live never keeps the all-cameras choice.
    void templateSourceTakesASingleCamera()
    {
        Options o;
        o.cameras = 3;
        RoiEnv env(o);
        env.win->cycleStatus().detectState = 3;
        QCOMPARE(EditSession::get().currentCamera(), 3);
        env.page->setSource(1);
        QCOMPARE(EditSession::get().currentCamera(), 3);
        env.page->setSource(0);
        QCOMPARE(EditSession::get().currentCamera(), 0);
        QCOMPARE(env.page->cameraCombo->currentIndex(), 0);
        QVERIFY(env.view(0)->isVisibleTo(env.win));
        QVERIFY(!env.view(1)->isVisibleTo(env.win));
    }

    void productDetectionDisabled()
    {
        RoiEnv env;
        env.word(100) = 0;
        env.win->cycleStatus().detectState = 3;
        gSource = 0;
        env.page->detectCombo->setCurrentIndex(1);
        BoxScript boxes({true});
        env.page->detectCombo->setCurrentIndex(0);
        QCOMPARE(boxes.texts, QStringList{lanStr(118)});
        QCOMPARE(env.page->detectCombo->currentIndex(), 1);
        QCOMPARE(EditSession::get().currentDetect(), 1);
    }

    // The note on shared product parameters is shown once per run, by
    // whichever of its two forms comes first.
    void sharedParameterNoteOnce_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("detect");
        QTest::addColumn<int>("row");
        QTest::newRow("standard, mould") << 0 << 1 << 119;
        QTest::newRow("two-colour, right") << 1 << 3 << 371;
    }
    void sharedParameterNoteOnce()
    {
        QFETCH(int, mode);
        QFETCH(int, detect);
        QFETCH(int, row);
        Options o;
        o.mode = mode;
        o.steps = mode == 0 ? 2 : 4;
        RoiEnv env(o);
        env.word(94) = 1;
        env.win->cycleStatus().detectState = 3;
        gSource = 0;
        {
            BoxScript boxes({true});
            env.page->SlotChangeDetect(detect);
            QCOMPARE(boxes.texts, QStringList{lanStr(row)});
            QCOMPARE(EditSession::get().currentDetect(), detect);
        }
        BoxScript boxes;
        env.page->SlotChangeDetect(0);
        env.page->SlotChangeDetect(detect);
        QCOMPARE(boxes.texts, QStringList());
        QVERIFY(!DrawROIWidget::sameParamNotePending);
    }

    // Editing during an NG needs the password; a refusal leaves the live
    // source, the combo and the alarm output as they were.
    void templateDuringNgAsksPassword_data()
    {
        QTest::addColumn<int>("rights");
        QTest::addColumn<bool>("granted");
        QTest::newRow("refused") << 0 << false;
        QTest::newRow("signed in") << 1 << true;
    }
    void templateDuringNgAsksPassword()
    {
        QFETCH(int, rights);
        QFETCH(bool, granted);
        RoiEnv env;
        env.word(98) = 1;
        OperatorRights::get().setRightsLevel(rights);
        env.win->cycleStatus().detectState = 2;
        gpControlIO->IOSetOut(2, 1);
        gpControlIO->IOFlashOut();
        env.page->Reset();
        QCOMPARE(gSource, 1);
        BoxScript boxes({false});
        env.page->setSource(0);
        QCOMPARE(boxes.texts, granted ? QStringList() : QStringList{"<password>"});
        QCOMPARE(gSource, granted ? 0 : 1);
        QCOMPARE(env.page->sourceCombo->currentIndex(), granted ? 0 : 1);
        QCOMPARE(bool(env.outputs() & 4), !granted);
        QCOMPARE(env.page->rectButton->isVisibleTo(env.page), granted);
        QCOMPARE(env.page->reCheckButton->isVisibleTo(env.page), !granted);
    }

    void drawingButtons_data()
    {
        QTest::addColumn<int>("tap");        // word 162
        QTest::addColumn<int>("copyToggle"); // word 164
        QTest::newRow("plain") << 0 << 0;
        QTest::newRow("tap drawing") << 1 << 0;
        QTest::newRow("copy toggle") << 0 << 1;
    }
    void drawingButtons()
    {
        QFETCH(int, tap);
        QFETCH(int, copyToggle);
        RoiEnv env;
        env.word(162) = tap;
        env.word(164) = copyToggle;
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        DrawROIWidget* p = env.page;

        EditSession::get().setCopyArea(true);
        p->SlotDrawRect();
        QCOMPARE(EditSession::get().drawMode(), 1);
        QVERIFY(!EditSession::get().copyArea());
        QCOMPARE(p->rectButton->text(), tap ? QStringLiteral("结束画四边形") : lanStr(49));
        QCOMPARE(p->rectButton->isChecked(), bool(tap));
        QCOMPARE(p->circleButton->isEnabled(), !tap);
        QCOMPARE(p->deleteAllButton->isEnabled(), !tap);

        p->SlotDrawCircle();
        QCOMPARE(EditSession::get().drawMode(), 4);
        QCOMPARE(p->rectButton->text(), lanStr(49));

        p->SlotDrawHand();
        QCOMPARE(EditSession::get().drawMode(), 2);
        QVERIFY(EditSession::get().handDraw());
        // From hand drawing the polygon button finishes the (empty) polygon
        // unless tap drawing makes it a button of its own.
        p->SlotDrawPloygn();
        QCOMPARE(EditSession::get().drawMode(), 2);
        QVERIFY(!EditSession::get().handDraw());
        QCOMPARE(p->polygonButton->text(), tap ? lanStr(33) : lanStr(53));

        // Tap drawing: pressing the active button again ends its mode.
        p->SlotDrawRect();
        p->SlotDrawRect();
        QCOMPARE(EditSession::get().drawMode(), tap ? 0 : 1);
        QCOMPARE(p->rectButton->text(), lanStr(49));
        QVERIFY(p->rectButton->isEnabled());

        p->SlotCopyArea();
        QVERIFY(EditSession::get().copyArea());
        QCOMPARE(EditSession::get().drawMode(), 0);
        QCOMPARE(p->copyButton->text(), copyToggle ? QStringLiteral("结束区域复制") : lanStr(9));
        QCOMPARE(p->copyButton->isChecked(), bool(copyToggle));
        QCOMPARE(p->rectButton->isEnabled(), !copyToggle);
        p->SlotCopyArea();
        QCOMPARE(EditSession::get().copyArea(), !copyToggle);
        QVERIFY(p->rectButton->isEnabled());

        // Drawing is for a single camera showing its template only.
        EditSession::get().setDrawMode(0);
        gSource = 1;
        p->SlotDrawRect();
        p->SlotDrawCircle();
        QCOMPARE(EditSession::get().drawMode(), 0);
    }

    void startedPolygonCaption()
    {
        RoiEnv env;
        env.page->startDrawPloygn();
        QCOMPARE(env.page->polygonButton->text(), lanStr(670));
    }

    void deleteOneRegion_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<QVector<bool>>("answers");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("left");
        QTest::newRow("nothing selected") << -1 << QVector<bool>{true} << 65 << 3;
        QTest::newRow("refused") << 1 << QVector<bool>{false} << 66 << 3;
        QTest::newRow("deleted") << 1 << QVector<bool>{true} << 66 << 2;
    }
    void deleteOneRegion()
    {
        QFETCH(int, selected);
        QFETCH(QVector<bool>, answers);
        QFETCH(int, row);
        QFETCH(int, left);
        RoiEnv env;
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        CammerWidget* v = env.view(0);
        env.addRect(0, 0, 10, 10, 30, 30, 5, 200, 50);
        env.addRect(0, 0, 60, 10, 30, 30, 5, 210, 50);
        env.addRect(0, 0, 110, 10, 30, 30, 5, 220, 50);
        v->editor()->select(selected);
        EditSession::get().setCopyArea(true);
        BoxScript boxes(answers);
        env.page->SlotDeleteROI();
        QCOMPARE(boxes.texts, QStringList{lanStr(row)});
        QVERIFY(!EditSession::get().copyArea());
        QCOMPARE(v->editRecord->roiCount[0], left);
        if (left == 2) {
            QCOMPARE(v->editor()->current(), -1);
            QCOMPARE(v->editRecord->p1[1], 220);   // the later region moved down
        }
        QCOMPARE(v->savedRecord->roiCount[0], 0);  // nothing live before the save
    }

    void deleteAllRegions()
    {
        RoiEnv env;
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        EditSession::get().setCurrentDetect(1);
        CammerWidget* v = env.view(0);
        env.addRect(0, 1, 10, 10, 30, 30);
        env.addRect(0, 1, 60, 10, 30, 30);
        env.addRect(0, 0, 60, 10, 30, 30);
        v->ignoreMask[1][5] = 255;
        {
            BoxScript boxes({false});
            env.page->SlotDeleteAllROI();
            QCOMPARE(v->editRecord->roiCount[1], 2);
            QCOMPARE(v->ignoreMask[1][5], uchar(255));
        }
        BoxScript boxes({true});
        env.page->SlotDeleteAllROI();
        QCOMPARE(boxes.texts, QStringList{lanStr(67)});
        QCOMPARE(v->editRecord->roiCount[1], 0);
        QCOMPARE(v->editRecord->roiCount[0], 1);
        QCOMPARE(v->ignoreMask[1][5], uchar(0));
        const cv::Mat stored = readGrey(QStringLiteral("./cammer12/ignorepoint.bmp"));
        QCOMPARE(stored.rows, kHeight);
        QCOMPARE(cv::countNonZero(stored), 0);
    }

    // Leaving the page from region setting: saved, live view, bar back.
    void returnFromRegionSetting()
    {
        RoiEnv env;
        env.win->SlotDrawROI();
        QCOMPARE(env.win->cycle().detectState, 3);
        QVERIFY(env.page->isVisibleTo(env.win));
        QVERIFY(!env.win->indexButton->shown());
        QCOMPARE(gSource, 0);
        EditSession::get().setDrawMode(1);
        env.page->SlotReturn();
        QCOMPARE(env.win->cycle().detectState, 0);
        QCOMPARE(gSource, -1);
        QCOMPARE(EditSession::get().drawMode(), 0);
        QVERIFY(!env.page->isVisibleTo(env.win));
        QVERIFY(env.win->indexButton->shown());
    }

    void helpButton()
    {
        RoiEnv env;
        QSignalSpy spy(env.page, &DrawROIWidget::helpRequested);
        gHelpC = 0;
        env.page->SlotHelp();
        QCOMPARE(gHelpC, 6);
        QCOMPARE(spy.count(), 1);
    }
};

QTEST_MAIN(TestDrawRoiWidget)
#include "tst_drawroiwidget.moc"
