// The region editor on its own, without a view or window: each row is a
// script of pointer gestures and panel buttons in full-view coordinates on a
// bare record, and the regions it must leave. After every step each region
// must still lie 3 pixels inside the view.
#include "cambuffers.h"
#include "cammersingleton.h"
#include "editsession.h"
#include "globals.h"
#include "roieditor.h"
#include "scripteddialogs.h"
#include "statewindow.h"
#include "wizardpara.h"

#include <QtTest>

#include <memory>

namespace {

constexpr int kW = 1280;
constexpr int kH = 960;

// The regions of step 0, in order, and the current one.
QString regions(const CammerSingleton& rec, const RoiEditor& ed)
{
    QStringList out;
    for (int i = 0; i < rec.roiCount[0]; ++i) {
        const int kind = rec.kind[i];
        if (kind == RoiShape::Rect) {
            const QRect r = rec.rect[0][i].rect;
            out << QStringLiteral("r(%1,%2,%3,%4)").arg(r.left()).arg(r.top()).arg(r.right()).arg(r.bottom());
        } else if (kind == RoiShape::Circle) {
            const Circle& c = rec.circle[0][i];
            out << QStringLiteral("c(%1,%2,%3)").arg(c.x).arg(c.y).arg(c.r);
        } else {
            QStringList pts;
            for (const QPoint& q : rec.polygon[0][i].pts)
                pts << QStringLiteral("%1,%2").arg(q.x()).arg(q.y());
            out << QStringLiteral("p(%1)").arg(pts.join(' '));
        }
    }
    out << QStringLiteral("cur=%1").arg(ed.current());
    return out.join(' ');
}

// What of region i leaves the 3-pixel margin, or empty.
QString outside(const CammerSingleton& rec, int i)
{
    auto in = [](QPoint p) { return p.x() >= 3 && p.y() >= 3 && p.x() <= kW - 3 && p.y() <= kH - 3; };
    QVector<QPoint> corners;
    if (rec.kind[i] == RoiShape::Rect)
        corners = {rec.rect[0][i].rect.topLeft(), rec.rect[0][i].rect.bottomRight()};
    else if (rec.kind[i] == RoiShape::Circle)
        corners = {rec.circle[0][i].rect.topLeft(), rec.circle[0][i].rect.bottomRight()};
    else
        corners = rec.polygon[0][i].pts;
    for (const QPoint& q : corners)
        if (!in(q))
            return QStringLiteral("region %1 reaches %2,%3").arg(i).arg(q.x()).arg(q.y());
    return QString();
}

}  // namespace

class TestRoiEditor : public QObject {
    Q_OBJECT

private slots:
    void script_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const QString two = QStringLiteral("rect 100 100 299 279; rect 500 500 599 599; ");
        QTest::newRow("a press picks the region under it") << two + "tap 550 550" << "r(100,100,299,279) r(500,500,599,599) cur=1";
        QTest::newRow("a press elsewhere lets go") << two + "tap 550 550; tap 900 900" << "r(100,100,299,279) r(500,500,599,599) cur=-1";
        QTest::newRow("rectangle drawn") << "mode rect; press 100 100; drag 150 140; drag 300 260; release"
                                         << "r(100,100,300,260) cur=0";
        QTest::newRow("rectangle 9 px wide dropped") << "mode rect; press 100 100; drag 109 200; release" << "cur=-1";
        QTest::newRow("rectangle drawn past the edge") << "mode rect; press 1200 900; drag 1400 1100; release"
                                                       << "r(1200,900,1277,957) cur=0";
        QTest::newRow("circle drawn") << "mode circle; press 400 400; drag 500 500; release" << "c(450,450,50) cur=0";
        QTest::newRow("polygon tapped and stored")
            << "mode poly; press 100 100; release; press 300 100; release; press 200 300; release; save"
            << "p(100,100 300,100 200,300) cur=0";
        QTest::newRow("drag moves") << "rect 100 100 299 279; press 200 200; drag 240 260; release"
                                    << "r(140,160,339,339) cur=0";
        QTest::newRow("drag stops at the edge") << "rect 100 100 299 279; press 200 200; drag 0 0; release"
                                                << "r(3,3,202,182) cur=0";
        QTest::newRow("bottom-right handle") << "rect 100 100 299 279; tap 200 200; press 299 279; drag 330 300; release"
                                             << "r(100,100,330,300) cur=0";
        QTest::newRow("top-left handle") << "rect 100 100 299 279; tap 200 200; press 100 100; drag 90 80; release"
                                         << "r(90,80,299,279) cur=0";
        QTest::newRow("handle dragged out held inside")
            << "rect 100 100 299 279; tap 200 200; press 299 279; drag 2000 2000; release" << "r(100,100,1277,957) cur=0";
        QTest::newRow("move button") << "rect 100 100 299 279; tap 200 200; move 1 0; move 0 -1" << "r(101,99,300,278) cur=0";
        QTest::newRow("move all stops at a polygon that would leave")
            << "rect 100 100 199 199; poly 3 500 300 500 200 700; tap 150 150; all; all; move -1 0"
            << "r(99,100,198,199) p(3,500 300,500 200,700) cur=0";
        QTest::newRow("step buttons move the top-left corner") << "rect 100 100 299 279; tap 200 200; step 3; step 0"
                                                               << "r(101,99,299,279) cur=0";
        QTest::newRow("step buttons on the second corner")
            << "rect 100 100 299 279; tap 200 200; next; step 2; step 2" << "r(100,100,299,281) cur=0";
        QTest::newRow("step buttons keep a corner inside") << "rect 3 3 99 99; tap 50 50; step 0; step 1"
                                                           << "r(3,3,99,99) cur=0";
        QTest::newRow("middle region deleted") << two + "rect 700 100 799 199; delete 1"
                                               << "r(100,100,299,279) r(700,100,799,199) cur=-1";
    }

    void script()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        StateWindow win;
        ScriptedDialogs dialogs;
        QStringList warnings;
        dialogs.onWarn = [&](const QString& t) { warnings << t; };
        gShowW = kW;
        gShowH = kH;
        gDNum = 1;
        auto para = std::make_unique<WizardPara>();
        gpWPara = para.get();
        gpWPara->words[Word::Mode] = DetectMode::Standard;
        EditSession::get().reset();

        CamBuffers buf;
        buf.imageWidth = kW / 4;
        buf.imageHeight = kH / 4;
        CammerSingleton rec(0);
        buf.editRecord = &rec;
        RoiEditor ed(buf, [] { return RoiEditor::Scale{4.0f, 4.0f}; });

        auto add = [&](int kind) {
            const int i = rec.roiCount[0]++;
            rec.kind[i] = kind;
            return i;
        };
        for (const QString& step : script.split(';', Qt::SkipEmptyParts)) {
            const QStringList w = step.simplified().split(' ');
            QVector<int> n;
            for (int k = 1; k < w.size(); ++k)
                n << w[k].toInt();
            const QString op = w[0];
            if (op == "rect") {
                rec.rect[0][add(RoiShape::Rect)].rect = QRect(QPoint(n[0], n[1]), QPoint(n[2], n[3]));
                ed.renew(0, rec.roiCount[0] - 1);
            } else if (op == "poly") {
                QVector<QPoint> pts;
                for (int k = 0; k + 1 < n.size(); k += 2)
                    pts << QPoint(n[k], n[k + 1]);
                rec.polygon[0][add(RoiShape::Polygon)].setPoints(pts);
                ed.renew(0, rec.roiCount[0] - 1);
            } else if (op == "mode") {
                const QString m = w[1];
                EditSession::get().setDrawMode(m == "rect" ? RoiShape::Rect : m == "circle" ? RoiShape::Circle
                                                                                               : RoiShape::Polygon);
            } else if (op == "press" || op == "tap") {
                ed.press(QPoint(n[0], n[1]));
                if (op == "tap")
                    ed.release();
            } else if (op == "drag") {
                QVERIFY(ed.drag(QPoint(n[0], n[1])));
            } else if (op == "release") {
                ed.release();
            } else if (op == "save") {
                ed.savePolygon();
            } else if (op == "move") {
                ed.moveBy(n[0], n[1]);
            } else if (op == "all") {
                ed.nextMoveMode();
            } else if (op == "step") {
                ed.stepButton(n[0]);
            } else if (op == "next") {
                ed.nextObject();
            } else if (op == "delete") {
                ed.deleteRoi(n[0]);
                ed.select(-1);
            } else {
                QFAIL(qPrintable("unknown step " + op));
            }
            for (int i = 0; i < rec.roiCount[0]; ++i)
                QVERIFY2(outside(rec, i).isEmpty(), qPrintable(step + ": " + outside(rec, i)));
        }
        QCOMPARE(regions(rec, ed), expected);
        QCOMPARE(warnings, QStringList());
        // Whatever was stored or moved carries a mask of its picture rectangle.
        for (int i = 0; i < rec.roiCount[0]; ++i)
            QVERIFY(!buf.editMasks[0][i].empty());
        gpWPara = nullptr;
    }
};

QTEST_MAIN(TestRoiEditor)
#include "tst_roieditor.moc"
