// The ROI parameter panel on its own, over a record and a selection of the
// test's: what it shows for each function, what its sliders write, and
// when it asks for a preview, without a camera view around it.
#include "cammersingleton.h"
#include "colorbutton.h"
#include "globals.h"
#include "roifunctions.h"
#include "roipanel.h"
#include "slider.h"
#include "wizardpara.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>

namespace {

struct Rig {
    QWidget view;
    CammerSingleton rec;
    int roi = 0;
    int moveMode = MoveMode::None;
    QVector<QPair<int, int>> previews;
    bool engine = true;
    RoiPanel* panel = nullptr;

    explicit Rig(int method, int p1 = 0, int p2 = 0, int p3 = 0)
    {
        view.resize(gShowW, gShowH);
        rec.roiCount[0] = 2;
        for (int j : {0, 1}) {
            rec.kind[j] = RoiShape::Rect;
            rec.method[j] = method;
            rec.rect[0][j].imgRect = QRect(600 + 300 * j, 600, 100, 100);
        }
        rec.p1[0] = p1;
        rec.p2[0] = p2;
        rec.p3[0] = p3;
        RoiPanel::Host host;
        host.record = [this] { return &rec; };
        host.step = [] { return 0; };
        host.roi = [this] { return roi; };
        host.moveMode = [this] { return moveMode; };
        host.object = [] { return 0; };
        host.scales = [] { return RoiPanel::Scales{}; };
        host.canPreview = [this] { return engine; };
        host.preview = [this](int step, int i) { previews.append({step, i}); };
        panel = new RoiPanel(&view, host);
    }
    bool shown(QWidget* w) const { return w->isVisibleTo(&view); }
};

}  // namespace

class TestRoiPanelPart : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        gShowW = 1920;
        gShowH = 1080;
        gpWPara = new WizardPara;
    }
    void cleanup()
    {
        delete gpWPara;
        gpWPara = nullptr;
    }

    // Each function's sliders: shown as its entry says, with its ranges, the
    // first member of a packed value, and the pair switch where it has pairs.
    void showsFunction_data()
    {
        QTest::addColumn<int>("method");
        for (int m = 0; m < RoiFunctions::kCount; ++m)
            QTest::newRow(qPrintable(QString::number(m))) << m;
    }
    void showsFunction()
    {
        QFETCH(int, method);
        Rig rig(method, 0x00300004, 0x00200002, 0x1505);
        QVERIFY(rig.panel->rebuild());
        const RoiFunctions::Info& f = RoiFunctions::info(method);
        const int values[3] = {0x00300004, 0x00200002, 0x1505};
        for (int k = 0; k < 3; ++k) {
            const RoiFunctions::Slider& s = f.sliders[k];
            QCOMPARE(rig.shown(rig.panel->slider(k)), s.shown == RoiFunctions::Shown::Always);
            QCOMPARE(rig.panel->slider(k)->minimum(), s.min);
            QCOMPARE(rig.panel->slider(k)->maximum(), s.max);
            // A value outside the slider's range is only shown: the record keeps it.
            const int first = RoiFunctions::member(s.packing, values[k], false);
            QCOMPARE(rig.panel->slider(k)->value(), std::clamp(first, s.min, s.max));
        }
        QCOMPARE(rig.shown(rig.panel->pairButton()), f.paired);
        QCOMPARE((QVector<int>{rig.rec.p1[0], rig.rec.p2[0], rig.rec.p3[0]}),
                 (QVector<int>{values[0], values[1], values[2]}));
    }

    void hiddenWithoutSelection()
    {
        Rig rig(CammerRecong::kGreyBand);
        rig.roi = 5;   // past the step's regions
        QVERIFY(!rig.panel->rebuild());
        QVERIFY(!rig.shown(rig.panel->slider(0)) && !rig.shown(rig.panel->syncSwitch()));
        rig.panel->setP1(77);   // no region: nothing written, no preview
        QCOMPARE(rig.rec.p1[0], 0);
        QVERIFY(rig.previews.isEmpty());
    }

    // The pair switch sends the sliders to the second members; the other
    // members stay as they were.
    void pairedSliders()
    {
        Rig rig(CammerRecong::kColourBox, 0x00100020, 0x00300040, 0x00500060);
        QVERIFY(rig.panel->rebuild());
        rig.panel->togglePair();
        QCOMPARE(rig.panel->slider(2)->value(), 0x50);
        rig.panel->slider(2)->setValue(99);
        QCOMPARE(rig.rec.p3[0], 0x00630060);
        rig.panel->togglePair();
        rig.panel->slider(0)->setValue(7);
        QCOMPARE(rig.rec.p1[0], 0x00100007);
        QCOMPARE(rig.rec.p2[0], 0x00300040);
    }

    void syncFollowsMembers()
    {
        Rig rig(CammerRecong::kGreyBand, 80, 500, 0x2010);
        rig.rec.p3[1] = 0x20f8;
        rig.rec.setSelectRoi(0, 0);
        QVERIFY(rig.panel->rebuild());
        rig.panel->slider(2)->setValue(0x18);   // byte 0 up by 8
        rig.panel->syncParameters();
        QCOMPARE(rig.rec.p3[1], 0x20ff);        // stops at 255, byte 1 untouched
    }

    void methodChangeAsksForReshow()
    {
        gpWPara->words[RoiFunctions::info(CammerRecong::kPositioning).switchWord] = 1;
        Rig rig(CammerRecong::kGreyTemplate);
        QSignalSpy reshow(rig.panel, &RoiPanel::reshow);
        rig.panel->changeMethod();
        QCOMPARE(rig.rec.method[0], int(CammerRecong::kPositioning));
        QCOMPARE((QVector<int>{rig.rec.p1[0], rig.rec.p2[0], rig.rec.p3[0]}), (QVector<int>{10, 0, 1}));
        QCOMPARE(reshow.count(), 1);
    }

    void previews()
    {
        Rig rig(CammerRecong::kGreyTemplate);
        rig.roi = 1;
        QVERIFY(rig.panel->rebuild());
        rig.panel->slider(0)->setValue(30);
        QCOMPARE(rig.previews, (QVector<QPair<int, int>>{{0, 1}}));
        QCOMPARE(rig.rec.p1[1], 30);
        // A slow last preview: the next waits instead of running at once.
        rig.panel->assumePreviewCost(1000);
        rig.panel->slider(0)->setValue(31);
        QCOMPARE(rig.previews.size(), 1);
        QVERIFY(rig.panel->previewTimer()->isActive());
        // Without an engine nothing is asked for.
        Rig bare(CammerRecong::kGreyTemplate);
        bare.engine = false;
        QVERIFY(bare.panel->rebuild());
        bare.panel->slider(0)->setValue(30);
        QVERIFY(bare.previews.isEmpty() && !bare.panel->previewTimer()->isActive());
    }
};

QTEST_MAIN(TestRoiPanelPart)
#include "tst_roipanelpart.moc"
