// The per-camera record: row formats, damaged rows, the save with its
// deletions, selection and comparison.
#include "cammersingleton.h"
#include "globals.h"
#include "paramdb.h"
#include "support_paramdb.h"
#include "wizardpara.h"
#include "scripteddialogs.h"

#include <QSqlQuery>
#include <QtTest>

#include <memory>
#include <random>

namespace {

struct FakeView {
    float sx = 1.0f;
    float sy = 1.0f;
    cv::Mat masks[CammerSingleton::kSlots];
};

RoiViewLink resolveFake(void* v)
{
    auto* view = static_cast<FakeView*>(v);
    return RoiViewLink{view->sx, view->sy, view->masks};
}

void putRow(ParamDbFixture&, const QString& table, const QString& name, const QString& value)
{
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("test-own")));
    q.prepare(QStringLiteral("insert into \"%1\" values(?, ?)").arg(table));
    q.addBindValue(name);
    q.addBindValue(value);
    QVERIFY(q.exec());
}

// A record of mixed kinds in every step.
void fill(CammerSingleton& rec, std::mt19937& rng)
{
    std::uniform_int_distribution<int> x(3, gShowW - 3), y(3, gShowH - 3), any(-1000, 1000);
    for (int g = 0; g < CammerSingleton::kSteps; ++g) {
        rec.roiCount[g] = 3 + g;
        for (int k = 0; k < 8; ++k)
            rec.stepValue[g][k] = any(rng);
        for (int i = 0; i < rec.roiCount[g]; ++i) {
            const int j = g * 100 + i;
            rec.p1[j] = any(rng);
            rec.p2[j] = any(rng);
            rec.p3[j] = any(rng);
            rec.method[j] = i % 11;
            rec.outputNo[i] = i % 4;
            switch (i % 4) {
            case 0:
                rec.kind[j] = 1;
                rec.rect[g][i].rect.setCoords(x(rng), y(rng), x(rng), y(rng));
                rec.rect[g][i].setImageRect();
                break;
            case 1: {
                rec.kind[j] = 4;
                Circle& c = rec.circle[g][i];
                c.rect.setCoords(100, 100, 100 + 2 * (5 + i), 100 + 2 * (5 + i));
                c.UpdateAll();
                c.ri = i;
                c.UpdateRect();
                c.setImageRect();
                break;
            }
            default: {
                rec.kind[j] = 2;
                QVector<QPoint> pts;
                for (int v = 0; v < 5 + i; ++v)
                    pts.append(QPoint(x(rng), y(rng)));
                rec.polygon[g][i].setPoints(pts);
                rec.polygon[g][i].SetHand(i % 4 == 3);
                rec.polygon[g][i].setImageRect();
                break;
            }
            }
        }
    }
}

}  // namespace

class TestCammerSingleton : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        gShowW = 800;
        gShowH = 600;
        CammerSingleton::setViewResolver(&resolveFake);
    }
    void cleanupTestCase()
    {
        CammerSingleton::setViewResolver(nullptr);
    }

    void noStepRowsAreCreated()
    {
        ParamDbFixture db;
        auto rec = std::make_unique<CammerSingleton>(2);
        rec->LoadDatafromFile(nullptr);
        QVERIFY(db.tables().contains("cammer2"));
        for (int g = 0; g < 8; ++g) {
            QCOMPARE(db.value("cammer2", QStringLiteral("detect%1").arg(g)), QStringLiteral("0"));
            QCOMPARE(rec->roiCount[g], 0);
        }
    }

    // One row per case, loaded as ROI 0 of step 0 of camera 0 into a view
    // with scale 1.
    void roiRows_data()
    {
        QTest::addColumn<QString>("value");    // "<none>" = no row
        QTest::addColumn<QString>("expected"); // p3 p1 p2 method kind output
        QTest::addColumn<QRect>("bounds");     // the shape's view rectangle
        QTest::addColumn<QSize>("mask");       // size of the mask handed to the view
        QTest::newRow("rectangle") << "3 25 100 0 1 0 0 50 50 100 100" << "3 25 100 0 1 0" << QRect(QPoint(50, 50), QPoint(100, 100)) << QSize(51, 51);
        QTest::newRow("missing row") << "<none>" << "3 25 100 0 1 0" << QRect(QPoint(50, 50), QPoint(100, 100)) << QSize(51, 51);
        QTest::newRow("output 5") << "1 2 3 4 1 5 0 10 10 20 20" << "1 2 3 4 1 0" << QRect(QPoint(10, 10), QPoint(20, 20)) << QSize(11, 11);
        QTest::newRow("output 3") << "1 2 3 4 1 3 0 10 10 20 20" << "1 2 3 4 1 3" << QRect(QPoint(10, 10), QPoint(20, 20)) << QSize(11, 11);
        QTest::newRow("rectangle off screen") << "0 0 0 0 1 0 0 -40 1 900 9000" << "0 0 0 0 1 0" << QRect(QPoint(3, 3), QPoint(797, 597)) << QSize(795, 595);
        QTest::newRow("inverted rectangle") << "0 0 0 0 1 0 0 100 100 50 50" << "0 0 0 0 1 0" << QRect(QPoint(100, 100), QPoint(50, 50)) << QSize(0, 0);
        QTest::newRow("missing numbers") << "0 0 0 0 1" << "0 0 0 0 1 0" << QRect(QPoint(3, 3), QPoint(3, 3)) << QSize(1, 1);
        QTest::newRow("circle") << "0 0 0 0 4 0 0 200 200 655410" << "0 0 0 0 4 0" << QRect(QPoint(150, 150), QPoint(249, 249)) << QSize(100, 100);
        QTest::newRow("circle radius 65535") << "0 0 0 0 4 0 0 200 300 65535" << "0 0 0 0 4 0" << QRect(QPoint(3, 103), QPoint(396, 496)) << QSize(394, 394);
        QTest::newRow("circle at the edge") << "0 0 0 0 4 0 0 0 0 50" << "0 0 0 0 4 0" << QRect(QPoint(3, 3), QPoint(2, 2)) << QSize(0, 0);
        QTest::newRow("circle -1") << "0 0 0 0 4 0 0 400 300 -1" << "0 0 0 0 4 0" << QRect(QPoint(103, 3), QPoint(696, 596)) << QSize(594, 594);
        QTest::newRow("polygon") << "9 8 7 6 2 1 3 10 10 60 10 30 50 " << "9 8 7 6 2 1" << QRect(QPoint(-10, -10), QPoint(59, 49)) << QSize(50, 40);
        QTest::newRow("free-hand polygon") << "9 8 7 6 258 1 3 10 10 60 10 30 50 " << "9 8 7 6 2 1" << QRect(QPoint(-10, -10), QPoint(59, 49)) << QSize(50, 40);
        QTest::newRow("polygon points off screen") << "0 0 0 0 2 0 3 -5 -5 1000 0 0 1000" << "0 0 0 0 2 0" << QRect(QPoint(-17, -17), QPoint(796, 596)) << QSize(794, 594);
        QTest::newRow("polygon of 0 points") << "0 0 0 0 2 0 0" << "3 25 100 0 1 0" << QRect(QPoint(50, 50), QPoint(100, 100)) << QSize(51, 51);
        QTest::newRow("polygon of 8097 points") << "0 0 0 0 2 0 8097 1 2" << "3 25 100 0 1 0" << QRect(QPoint(50, 50), QPoint(100, 100)) << QSize(51, 51);
        QTest::newRow("polygon missing points") << "0 0 0 0 2 0 4 100 100 200 100" << "0 0 0 0 2 0" << QRect(QPoint(-17, -17), QPoint(199, 99)) << QSize(197, 97);
        QTest::newRow("unknown kind") << "5 5 5 5 7 2 0 10 10 20 20" << "5 5 5 5 7 2" << QRect() << QSize(-1, -1);
    }
    void roiRows()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QFETCH(QRect, bounds);
        QFETCH(QSize, mask);
        ParamDbFixture db;
        QVERIFY(db.exec("create table cammer0 (name text, value text)"));
        putRow(db, "cammer0", "detect0", "1 0 0 0 0 0 0 0 0");
        if (value != "<none>")
            putRow(db, "cammer0", "ROI0-0", value);
        auto view = std::make_unique<FakeView>();
        view->masks[0] = cv::Mat(3, 3, CV_8UC1, cv::Scalar(9));  // what was there before
        auto rec = std::make_unique<CammerSingleton>(0);
        rec->outputNo[0] = 2;
        rec->LoadDatafromFile(view.get());
        QCOMPARE(rec->roiCount[0], 1);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6").arg(rec->p3[0]).arg(rec->p1[0]).arg(rec->p2[0])
                     .arg(rec->method[0]).arg(rec->kind[0]).arg(rec->outputNo[0]), expected);
        QRect shape;
        switch (rec->kind[0]) {
        case RoiShape::Rect: rec->rect[0][0].GetRectExt(shape); break;
        case RoiShape::Polygon: rec->polygon[0][0].GetRectExt(shape); break;
        case RoiShape::Circle: rec->circle[0][0].GetRectExt(shape); break;
        default: shape = QRect(); break;
        }
        QCOMPARE(shape, bounds);
        if (mask == QSize(-1, -1)) {
            // The shape and the mask stay as they were.
            QCOMPARE(view->masks[0].rows, 3);
        } else {
            QCOMPARE(QSize(view->masks[0].cols, view->masks[0].rows), mask);
        }
        QCOMPARE(rec->polygon[0][0].getHand(), QByteArray(QTest::currentDataTag()) == "free-hand polygon");
        if (rec->kind[0] == 4) {
            const Circle& c = rec->circle[0][0];
            QVERIFY(c.ri >= 0 && c.ri <= c.r);
        }
        if (QByteArray(QTest::currentDataTag()) == "circle") {
            QCOMPARE(rec->circle[0][0].r, 50);
            QCOMPARE(rec->circle[0][0].ri, 10);
        }
    }

    void stepCounts_data()
    {
        QTest::addColumn<QString>("detect");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("warned");
        QTest::newRow("100") << "100" << 100 << false;
        QTest::newRow("101") << "101" << 0 << true;
        QTest::newRow("-1") << "-1" << 0 << true;
        QTest::newRow("garbage") << "x 1 2" << 0 << false;
        QTest::newRow("empty") << "" << 0 << false;
    }
    void stepCounts()
    {
        QFETCH(QString, detect);
        QFETCH(int, count);
        QFETCH(bool, warned);
        ParamDbFixture db;
        QVERIFY(db.exec("create table cammer1 (name text, value text)"));
        putRow(db, "cammer1", "detect3", detect);
        putRow(db, "cammer1", "detect4", "2 1 2 3 4 5 6 7 8");
        QStringList shown;
        auto rec = std::make_unique<CammerSingleton>(1);
        {
            ScriptedDialogs dialogs;
            dialogs.onParameterWarning = [&shown](const QString& t) { shown << t; };
            rec->LoadDatafromFile(nullptr);
        }
        QCOMPARE(rec->roiCount[3], count);
        QCOMPARE(shown.size(), warned ? 1 : 0);
        // The other steps still load.
        QCOMPARE(rec->roiCount[4], 2);
        QCOMPARE(rec->stepValue[4][7], 8);
        QCOMPARE(rec->kind[401], 1);  // missing ROI rows became default rectangles
    }

    void rowTexts()
    {
        ParamDbFixture db;
        auto rec = std::make_unique<CammerSingleton>(0);
        rec->roiCount[1] = 3;
        rec->stepValue[1][0] = -4;
        rec->p3[100] = 3;
        rec->p1[100] = 25;
        rec->p2[100] = 100;
        rec->kind[100] = 1;
        rec->rect[1][0].rect.setCoords(50, 50, 100, 100);
        rec->kind[101] = 4;
        rec->outputNo[1] = 2;
        rec->circle[1][1].x = 200;
        rec->circle[1][1].y = 210;
        rec->circle[1][1].r = 50;
        rec->circle[1][1].ri = 10;
        rec->kind[102] = 2;
        rec->method[102] = 6;
        const QPoint pts[3] = {QPoint(10, 10), QPoint(60, 10), QPoint(30, 50)};
        rec->polygon[1][2] = RePolygon(3, pts);
        rec->polygon[1][2].SetHand(true);
        rec->SaveDatatoFile();
        QCOMPARE(db.value("cammer0", "detect1"), QStringLiteral("3 -4 0 0 0 0 0 0 0"));
        QCOMPARE(db.value("cammer0", "detect0"), QStringLiteral("0 0 0 0 0 0 0 0 0"));
        QCOMPARE(db.value("cammer0", "ROI1-0"), QStringLiteral("3 25 100 0 1 0 0 50 50 100 100"));
        QCOMPARE(db.value("cammer0", "ROI1-1"), QStringLiteral("0 0 0 0 4 2 0 200 210 655410"));
        QCOMPARE(db.value("cammer0", "ROI1-2"), QStringLiteral("0 0 0 6 258 0 3 10 10 60 10 30 50 "));
    }

    // Save and load give back the same record; a step that shrinks loses
    // its surplus rows; a row missing at save time is written anyway.
    void saveLoadRoundTrip()
    {
        ParamDbFixture db;
        std::mt19937 rng(7);
        auto view = std::make_unique<FakeView>();
        auto rec = std::make_unique<CammerSingleton>(3);
        fill(*rec, rng);
        rec->SaveDatatoFile();

        auto back = std::make_unique<CammerSingleton>(3);
        back->LoadDatafromFile(view.get());
        QVERIFY(*back == *rec);
        for (int g = 0; g < 8; ++g)
            for (int i = 0; i < rec->roiCount[g]; ++i)
                QVERIFY(!view->masks[g * 100 + i].empty() || rec->kind[g * 100 + i] == 1);

        rec->roiCount[2] = 3;  // was 5
        QVERIFY(db.exec("delete from cammer3 where name='detect2'"));
        QVERIFY(db.exec("delete from cammer3 where name='ROI2-1'"));
        rec->SaveDatatoFile();
        QCOMPARE(db.rowCount("cammer3", "ROI2-3"), 0);
        QCOMPARE(db.rowCount("cammer3", "ROI2-4"), 0);
        QCOMPARE(db.rowCount("cammer3", "ROI2-2"), 1);
        QCOMPARE(db.rowCount("cammer3", "ROI2-1"), 1);
        QCOMPARE(db.value("cammer3", "detect2").split(' ').first(), QStringLiteral("3"));

        auto again = std::make_unique<CammerSingleton>(3);
        again->LoadDatafromFile(view.get());
        QVERIFY(*again == *rec);
    }

    void saveIsAtomic()
    {
        ParamDbFixture db;
        std::mt19937 rng(9);
        auto rec = std::make_unique<CammerSingleton>(0);
        fill(*rec, rng);
        rec->SaveDatatoFile();
        const QString before = db.value("cammer0", "ROI0-0");
        QVERIFY(db.exec("create trigger refuse before update on cammer0 when new.name='ROI7-2' "
                        "begin select raise(abort, 'refused'); end"));
        rec->p1[0] += 1;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("updating cammer0/ROI7-2 failed"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("left unchanged"));
        rec->SaveDatatoFile();
        QCOMPARE(db.value("cammer0", "ROI0-0"), before);
    }

    void selection()
    {
        auto rec = std::make_unique<CammerSingleton>(0);
        rec->roiCount[2] = 2;
        rec->method[201] = 3;
        rec->p1[201] = 11;
        rec->p2[201] = 12;
        rec->p3[201] = 13;
        rec->setSelectRoi(2, 1);
        QCOMPARE(QVector<int>({rec->selRoi, rec->selMethod, rec->selP1, rec->selP2, rec->selP3}), QVector<int>({1, 3, 11, 12, 13}));
        rec->setSelectRoi(2, 2);   // past the count
        rec->setSelectRoi(2, -1);
        rec->setSelectRoi(1, 0);   // step without ROIs
        rec->setSelectRoi(9, 0);
        QCOMPARE(rec->selRoi, 1);
        QCOMPARE(rec->selP3, 13);
    }

    // Comparison sees data changes, not selections.
    void comparison()
    {
        std::mt19937 rng(3);
        auto a = std::make_unique<CammerSingleton>(0);
        fill(*a, rng);
        auto b = std::make_unique<CammerSingleton>(0);
        *b = *a;
        QVERIFY(*a == *b);
        b->rect[0][0].SetSelected(true);
        b->circle[0][1].handle = 3;
        b->polygon[0][2].setNode(1);
        b->setSelectRoi(0, 0);
        QVERIFY(*a == *b);
        b->method[5] = 99;  // past step 0's count: not in use
        QVERIFY(*a == *b);
        b->polygon[0][2].pts[0] += QPoint(1, 0);
        QVERIFY(*a != *b);
        QVERIFY(!b->sameRoi(*a, 2));
        QVERIFY(b->sameRoi(*a, 1));
        *b = *a;
        b->outputNo[50] = 1;
        QVERIFY(*a != *b);
    }

    // The factory database that the build puts into the default group loads
    // as a complete, sane record.
    void defaultDatabase()
    {
        ParamDbFixture db;
        QString error;
        QVERIFY2(paramdb::writeDefaultDatabase(QStringLiteral("paraGroup/default/PARAM.db"), 1, &error), qPrintable(error));
        QVERIFY(QFile::remove("PARAM.db"));
        QVERIFY(QFile::copy("paraGroup/default/PARAM.db", "PARAM.db"));
        db.reopen();
        const int lan = gLan;
        auto rec = std::make_unique<WizardPara>();
        rec->LoadDatafromFile();
        QCOMPARE(gLan, 1);
        gLan = lan;
        QCOMPARE(rec->words[175], 0);
        QCOMPARE(rec->words[0], 30);
        QCOMPARE(rec->words[102], 10);
        QCOMPARE(rec->words[78], 1);
        QCOMPARE(gDNum, 2);
        for (int c = 0; c < 8; ++c) {
            auto cam = std::make_unique<CammerSingleton>(c);
            cam->LoadDatafromFile(nullptr);
            for (int g = 0; g < 8; ++g)
                QCOMPARE(db.rowCount(QStringLiteral("cammer%1").arg(c), QStringLiteral("detect%1").arg(g)), 1);
        }
        for (const QString& name : WizardPara::rowNames())
            QCOMPARE(db.rowCount("sysparam", name), 1);
    }
};

QTEST_MAIN(TestCammerSingleton)
#include "tst_cammersingleton.moc"
