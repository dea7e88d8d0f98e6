// Saving the ROI edits: the change log in the operation record, the rows of
// PARAM.db, shared parameters, rebuilding the step shapes and retraining.
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "lanstr.h"
#include "rivurevezi.h"
#include "support_roipage.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using namespace pagetest;

namespace {

QString paramRow(const QString& table, const QString& name)
{
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("roitest-own"));
        db.setDatabaseName(QStringLiteral("./PARAM.db"));
        if (db.open()) {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("select value from \"%1\" where name=?").arg(table));
            q.addBindValue(name);
            if (q.exec() && q.next())
                value = q.value(0).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("roitest-own"));
    return value;
}

const QString kProd = QStringLiteral("Detection Prod of camera 1 ");

}  // namespace

class TestDrawRoiSave : public QObject {
    Q_OBJECT

private slots:
    // Each scenario starts from saved regions, edits the copy, saves with
    // yes and reads the operation record.
    void changeLog_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("added defect region")
            << 0
            << QStringList{kProd + "Added rectangular  area 1, function is Defect Detection,the sensitivity is 45, "
                                   "the filter size is 3, the alarm area is 30"};
        QTest::newRow("deleted position region")
            << 1 << QStringList{kProd + "Deleted rectangular  area 3, function is Position"};
        QTest::newRow("defect parameters") << 2
                                           << QStringList{kProd + "Changed the rectangular  area 1, The function is "
                                                                  "Defect detection, Changing the sensitivity  from 45 "
                                                                  "to 50, Changing the minimum size from 3 to 4"};
        QTest::newRow("moved") << 3
                               << QStringList{kProd + "Changed the rectangular  area 1, The function is ,Detection "
                                                      "position has been modified"};
        QTest::newRow("method only") << 4 << QStringList{};
        QTest::newRow("spot band") << 5
                                   << QStringList{kProd + "Changed the rectangular  area 1, Changing the function from "
                                                          "Defectto Spot detection , Changing the maximum gradation "
                                                          "from 50 to 60"};
        QTest::newRow("spot band added")
            << 6 << QStringList{kProd + "Added rectangular  area 1, function is Spot Detection, the minimum gradation "
                                        "is 20,the maximum gradation is 200, the minimum area is 80,the maximum area "
                                        "is 500"};
        QTest::newRow("five old, three new")
            << 7 << QStringList{kProd + "Changed the rectangular  area 2, The function is ,Detection position has "
                                        "been modified",
                                kProd + "Deleted rectangular  area 4, function is ",
                                kProd + "Deleted rectangular  area 5, function is Ignore Area"};
        QTest::newRow("mould step") << 8
                                    << QStringList{"Detection Mold of camera 1 Added rectangular  area 1, function is "
                                                   "Target Position,the search speed is 10, the positioning accuracy "
                                                   "is 0, the least match is 1"};
        QTest::newRow("position parameters")
            << 9 << QStringList{kProd + "Changed the rectangular  area 1, The function is Target positioning , "
                                        "Changing the least match from 0 to 7"};
        QTest::newRow("ignore region reshaped") << 10
                                                << QStringList{kProd + "Changed the rectangular  area 1, The function "
                                                                       "is Ignore Area,Detection position has been "
                                                                       "modified"};
    }
    void changeLog()
    {
        QFETCH(int, scenario);
        QFETCH(QStringList, rows);
        RoiEnv env;
        CammerWidget* v = env.view(0);
        switch (scenario) {
        case 1:
            env.addSavedRect(0, 0, 10, 10, 30, 30, 5);
            env.addSavedRect(0, 0, 50, 10, 30, 30, 5);
            env.addSavedRect(0, 0, 90, 10, 30, 30, 3, 10, 0, 1);
            break;
        case 2:
        case 3:
        case 4:
        case 5:
            env.addSavedRect(0, 0, 10, 10, 30, 30, 0, 45, 30, 3);
            break;
        case 7:
            env.addSavedRect(0, 0, 10, 10, 30, 30, 5);
            env.addSavedRect(0, 0, 50, 10, 30, 30, 5);
            env.addSavedRect(0, 0, 90, 10, 30, 30, 5);
            env.addSavedRect(0, 0, 130, 10, 30, 30, 5);
            env.addSavedRect(0, 0, 170, 10, 30, 30, 2, 0, 0, 30);
            break;
        case 9:
            env.addSavedRect(0, 0, 10, 10, 30, 30, 3, 10, 0, 1);
            break;
        case 10:
            env.addSavedRect(0, 0, 10, 10, 30, 30, 2, 0, 0, 30);
            break;
        default:
            break;
        }
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        CammerSingleton& e = *v->editRecord;
        switch (scenario) {
        case 0:
            env.addRect(0, 0, 10, 10, 30, 30, 0, 45, 30, 3);
            break;
        case 1:   // the third (position) region deleted
            e.roiCount[0] = 2;
            break;
        case 2:
            e.p1[0] = 50;
            e.p3[0] = 4;
            break;
        case 3:
            e.method[0] = 5;
            e.p1[0] = 200;
            e.p2[0] = 50;
            e.p3[0] = 0;
            v->savedRecord->method[0] = 5;   // compare as a method-5 region that moved
            v->savedRecord->p1[0] = 200;
            v->savedRecord->p2[0] = 50;
            v->savedRecord->p3[0] = 0;
            e.rect[0][0].rect.translate(8, 0);
            e.rect[0][0].setImageRect();
            break;
        case 4:
            e.method[0] = 5;
            break;
        case 5:
            // Grey band 0..50 becomes 0..60; the bytes are read as a band.
            v->savedRecord->p3[0] = 0x3200;
            e.p3[0] = 0x003c;
            e.method[0] = 1;
            break;
        case 6:
            env.addRect(0, 0, 10, 10, 30, 30, 1, 80, 500, 0x14c8);
            break;
        case 7:
            e.roiCount[0] = 3;
            e.rect[0][1].rect.translate(0, 6);
            e.rect[0][1].setImageRect();
            break;
        case 8:
            env.addRect(0, 1, 10, 10, 30, 30, 3, 10, 0, 1);
            break;
        case 9:
            e.p2[0] = 7;
            break;
        case 10:
            e.rect[0][0].rect.setWidth(e.rect[0][0].rect.width() + 12);
            e.rect[0][0].setImageRect();
            break;
        default:
            break;
        }
        BoxScript boxes({true});
        env.page->SlotSaveData();
        QCOMPARE(boxes.texts, QStringList{lanStr(72)});
        QCOMPARE(env.records(), rows);
        QVERIFY(*v->savedRecord == *v->editRecord);
    }

    // Selecting or touching a region is no change: nothing asked or logged.
    void selectionOnlyVisit()
    {
        RoiEnv env;
        CammerWidget* v = env.view(0);
        env.addSavedRect(0, 0, 10, 10, 30, 30);
        env.addSavedRect(0, 0, 60, 10, 30, 30, 1, 80, 500, 0x3200);
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        v->editor()->select(1);
        v->editRecord->rect[0][1].SetSelected(true);
        v->editRecord->rect[0][1].handle = 3;
        v->editRecord->setSelectRoi(0, 0);
        env.page->retrainPending[0] = true;
        BoxScript boxes;
        env.page->SlotReturn();
        QCOMPARE(boxes.texts, QStringList());
        QCOMPARE(boxes.unexpected, 0);
        QCOMPARE(env.recordCount(), 0);
        QVERIFY(!env.page->retrainPending[0]);   // the pending retrain still runs
    }

    void paramDbAfterSave()
    {
        Options o;
        o.cameras = 2;
        RoiEnv env(o);
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        const QString table = env.view(1)->savedRecord->tableName();
        const QString before = paramRow(table, "ROI1-0");
        env.addRect(1, 1, 40, 40, 50, 30, 0, 45, 30, 3);
        env.addRect(1, 1, 140, 40, 20, 30, 7, 128, 6553601, 1);
        {
            BoxScript boxes({false});
            env.page->SlotSaveData();
            QCOMPARE(env.view(1)->savedRecord->roiCount[1], 0);
            QCOMPARE(env.view(1)->editRecord->roiCount[1], 2);   // kept for another try
            QCOMPARE(paramRow(table, "ROI1-0"), before);
            QCOMPARE(env.recordCount(), 0);
        }
        BoxScript boxes({true});
        env.page->SlotSaveData();
        CammerSingleton* saved = env.view(1)->savedRecord;
        QCOMPARE(saved->roiCount[1], 2);
        QCOMPARE(paramRow(table, "ROI1-0"), saved->roiText(1, 0));
        QCOMPARE(paramRow(table, "ROI1-1"), saved->roiText(1, 1));
        QCOMPARE(paramRow(table, "detect1"), saved->detectText(1));
        QVERIFY(paramRow(table, "ROI1-1").contains(" 7 "));
        QCOMPARE(env.records().size(), 2);
        // The engine judges with the saved regions and their masks.
        QVERIFY(!env.view(1)->liveMasks[1][1].empty());
        QCOMPARE(env.view(1)->liveMasks[1][1].cols, saved->rect[1][1].imgRect.width());
        // Camera 1 had nothing to save.
        QCOMPARE(env.view(0)->savedRecord->roiCount[1], 0);

        // A fresh record loaded from PARAM.db holds the same regions.
        CammerSingleton loaded(1);
        loaded.LoadDatafromFile(env.view(1)->roiViewLink());
        QVERIFY(loaded == *saved);
    }

    // Mould detection takes the product parameters (word 94): the saved
    // product regions are copied over to the mould step on saving.
    void sharedParametersCopied()
    {
        RoiEnv env;
        env.word(94) = 1;
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        env.addRect(0, 0, 40, 40, 50, 30, 5, 210, 40);
        BoxScript boxes({true});
        env.page->SlotSaveData();
        CammerWidget* v = env.view(0);
        QCOMPARE(v->savedRecord->roiCount[1], 1);
        QCOMPARE(v->savedRecord->p1[100], 210);
        QCOMPARE(v->editRecord->roiCount[1], 1);
        QVERIFY(!v->liveMasks[1][0].empty());
        const QString table = v->savedRecord->tableName();
        QCOMPARE(paramRow(table, "ROI1-0"), v->savedRecord->roiText(1, 0));
        QCOMPARE(env.records().size(), 1);   // the copy is no edit of its own
    }

    // The step shapes follow positioning and homography regions.
    void shapesRebuilt_data()
    {
        QTest::addColumn<int>("savedMethod");
        QTest::addColumn<int>("change");     // 0 parameters of region 1, 1 region 0 becomes method 5, 2 add a method-10 region
        QTest::addColumn<bool>("rebuilt");
        QTest::newRow("no positioning region") << 5 << 0 << false;
        QTest::newRow("positioning region kept") << 3 << 0 << true;
        QTest::newRow("positioning region changed away") << 3 << 1 << true;
        QTest::newRow("homography region added") << 5 << 2 << true;
    }
    void shapesRebuilt()
    {
        QFETCH(int, savedMethod);
        QFETCH(int, change);
        QFETCH(bool, rebuilt);
        RoiEnv env;
        env.word(96) = 0;   // positioning on
        CammerWidget* v = env.view(0);
        env.addSavedRect(0, 0, 40, 40, 80, 60, savedMethod, 10, 0, 1);
        env.addSavedRect(0, 0, 200, 40, 40, 40, 5);
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        if (change == 0)
            v->editRecord->p1[1] = 150;
        else if (change == 1)
            v->editRecord->method[0] = 5;
        else
            env.addRect(0, 0, 10, 150, 60, 60, 10, 1, 1, 1);
        const cv::Rect marker(1, 2, 3, 4);
        v->engine()->searchRect[0] = marker;
        BoxScript boxes({true});
        env.page->SlotSaveData();
        QCOMPARE(v->engine()->searchRect[0] != marker, rebuilt);
        if (rebuilt && savedMethod == 3 && change == 0)
            QCOMPARE(v->engine()->searchRect[0], cv::Rect(v->savedRecord->rect[0][0].imgRect.x(),
                                                        v->savedRecord->rect[0][0].imgRect.y(),
                                                        v->savedRecord->rect[0][0].imgRect.width(),
                                                        v->savedRecord->rect[0][0].imgRect.height()));
    }

    // Only the saved regions are judged: an unsaved edit does not count.
    void engineUsesSavedRegionsOnly()
    {
        RoiEnv env;
        CammerWidget* v = env.view(0);
        env.win->cycleStatus().detectState = 3;
        env.page->Reset();
        env.addRect(0, 0, 40, 40, 60, 60, 5, 200, 50);
        paintDefect(0, 50, 50, 20);
        env.grab();
        env.win->RunAlgorithm(0, 0);
        QVERIFY(v->stepOk);
        BoxScript boxes({true});
        env.page->SlotSaveData();
        env.win->RunAlgorithm(0, 0);
        QVERIFY(!v->stepOk);
        QVERIFY(!v->roiPassed[0][0]);
    }
};

QTEST_MAIN(TestDrawRoiSave)
#include "tst_drawroiwidget_save.moc"
