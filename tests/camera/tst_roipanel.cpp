// The ROI parameter panel: starting parameters, method cycling, what the
// sliders write, sync of packed values, what shows, the step buttons, and
// that looking at an ROI never changes it.
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "roifunctions.h"
#include "editsession.h"
#include "colorbutton.h"
#include "globals.h"
#include "lanstr.h"
#include "statewindow.h"
#include "slider.h"
#include "viewrig.h"

#include <QLabel>
#include <QtTest>

using rig::ViewEnv;

namespace {

// Selects ROI i the way the page does and rebuilds the panel.
void select(ViewEnv& env, int i)
{
    env.view->editor()->deselect();
    env.view->editor()->select(i);
    env.view->ShowHideROIPara();
}

bool shown(QWidget* w)
{
    return w->isVisibleTo(w->parentWidget());
}

int packHalves(int low, int high)
{
    return int((unsigned(high) << 16) | unsigned(low));
}

}  // namespace

class TestRoiPanel : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("VMM_TARGET", "0"); }

    void startingParameters_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QVector<int>>("params");
        QTest::addColumn<bool>("known");
        QTest::newRow("0") << 0 << QVector<int>{45, 60, 5} << true;
        QTest::newRow("1") << 1 << QVector<int>{80, 500, 12800} << true;
        QTest::newRow("2") << 2 << QVector<int>{0, 0, 30} << true;
        QTest::newRow("3") << 3 << QVector<int>{10, 0, 1} << true;
        QTest::newRow("4") << 4 << QVector<int>{50, 100, -1} << true;
        QTest::newRow("5") << 5 << QVector<int>{200, 100, -1} << true;
        QTest::newRow("6") << 6 << QVector<int>{80, -1, -1} << true;
        QTest::newRow("7") << 7 << QVector<int>{128, packHalves(1, 100), 1} << true;
        QTest::newRow("8") << 8 << QVector<int>{128, packHalves(1, 100), 1} << true;
        QTest::newRow("9") << 9 << QVector<int>{6553601, 6553601, 6553601} << true;
        QTest::newRow("10") << 10 << QVector<int>{1, 1, 1} << true;
        QTest::newRow("11") << 11 << QVector<int>{45, 60, 5} << false;
    }

    void startingParameters()
    {
        QFETCH(int, method);
        QFETCH(QVector<int>, params);
        QFETCH(bool, known);
        ViewEnv env;
        env.word(116) = 5;
        env.word(117) = 60;
        int p[3] = {-1, -1, -1};   // members a method leaves alone stay -1
        QCOMPARE(RoiFunctions::startParameters(method, p[0], p[1], p[2]), known);
        QCOMPARE((QVector<int>{p[0], p[1], p[2]}), params);
    }

    void newSpotRoiShowsItsBand()
    {
        ViewEnv env;
        env.word(140) = 1;
        EditSession::get().setDrawMode(1);
        env.drag(QPoint(300, 300), QPoint(500, 500));
        QCOMPARE(env.count(), 1);
        CammerWidget& v = *env.view;
        const RoiPanel& panel = *v.panel();
        QVERIFY(shown(panel.slider(0)) && shown(panel.slider(1)) && shown(panel.slider(2)) && shown(panel.pairButton()));
        QCOMPARE((QVector<int>{panel.slider(0)->value(), panel.slider(1)->value(), panel.slider(2)->value()}),
                 (QVector<int>{80, 500, 0}));
        QCOMPARE(v.panel()->slider(0)->objectName(), lanStr(13));
        QCOMPARE(v.panel()->slider(2)->objectName(), lanStr(10));
        QCOMPARE(v.panel()->methodButton()->text(), lanStr(15));
        QTest::mouseClick(v.panel()->pairButton(), Qt::LeftButton);
        QCOMPARE(v.panel()->slider(2)->value(), 50);
        QCOMPARE(v.panel()->slider(2)->objectName(), lanStr(11));
        QCOMPARE(env.edit().p3[0], 12800);
    }

    void methodCycling_data()
    {
        QTest::addColumn<QVector<int>>("switches");   // words switched on
        QTest::addColumn<QVector<int>>("methods");    // after each press
        QTest::newRow("0 and 7") << QVector<int>{139, 182} << QVector<int>{7, 0, 7};
        QTest::newRow("0, 1 and 10") << QVector<int>{139, 140, 154} << QVector<int>{1, 10, 0};
        QTest::newRow("6 and 9") << QVector<int>{185, 184} << QVector<int>{6, 9, 6};
        QTest::newRow("only 8") << QVector<int>{183} << QVector<int>{8, 8};
        QTest::newRow("none") << QVector<int>{} << QVector<int>{0, 0};
    }

    void methodCycling()
    {
        QFETCH(QVector<int>, switches);
        QFETCH(QVector<int>, methods);
        ViewEnv env;
        for (int w : {139, 140, 141, 142, 154, 180, 181, 182, 183, 184, 185})
            env.word(w) = switches.contains(w) ? 1 : 0;
        env.addRect(0, QRect(300, 300, 200, 200), 0, 33, 44, 5);
        select(env, 0);
        QCOMPARE(shown(env.view->panel()->methodButton()),
                 switches.size() > 1 || (switches.size() == 1 && switches[0] != 139));
        for (int m : methods) {
            env.view->panel()->changeMethod();
            QCOMPARE(env.edit().method[0], m);
        }
        if (switches.isEmpty()) {
            QCOMPARE(env.edit().p1[0], 33);   // nothing to change to: untouched
        } else {
            int p[3] = {0, 0, 0};
            RoiFunctions::startParameters(methods.last(), p[0], p[1], p[2]);
            QCOMPARE((QVector<int>{env.edit().p1[0], env.edit().p2[0], env.edit().p3[0]}),
                     (QVector<int>{p[0], p[1], p[2]}));
        }
    }

    void lookingNeverChangesParameters_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("p1");
        QTest::addColumn<int>("p2");
        QTest::addColumn<int>("p3");
        QTest::addColumn<int>("word143");
        QTest::newRow("0, filter 30, own limits") << 0 << 45 << 100 << 30 << 1;
        QTest::newRow("0, area 5000") << 0 << 45 << 5000 << 3 << 1;
        QTest::newRow("1 past its sliders") << 1 << 2000000 << -5 << 0x01ff00ff << 0;
        QTest::newRow("7, high half 500") << 7 << 300 << packHalves(200, 500) << 150 << 0;
        QTest::newRow("9, halves past 255") << 9 << packHalves(300, 260) << packHalves(1, 999) << -1 << 0;
        QTest::newRow("10 out of range") << 10 << 5 << 0 << 7 << 0;
        QTest::newRow("unknown method") << 15 << 200 << 2000 << 20 << 0;
    }

    void lookingNeverChangesParameters()
    {
        QFETCH(int, method);
        QFETCH(int, p1);
        QFETCH(int, p2);
        QFETCH(int, p3);
        QFETCH(int, word143);
        ViewEnv env;
        env.word(143) = word143;
        env.word(123) = 1;
        env.addRect(0, QRect(300, 300, 200, 200), method, p1, p2, p3);
        env.addRect(0, QRect(350, 350, 200, 200), method, p1, p2, p3);
        env.edit().outputNo[0] = 3;
        CammerWidget& v = *env.view;
        env.tap(QPoint(400, 400));   // select by touch
        QCOMPARE(v.editor()->current(), 0);
        v.panel()->togglePair();
        v.panel()->togglePair();
        v.editor()->nextRoi();
        v.editor()->nextRoi();
        v.editor()->nextObject();
        QTest::mouseClick(v.panel()->fineTuneSwitch(), Qt::LeftButton);
        v.editor()->nextMoveMode();
        v.editor()->nextMoveMode();
        v.editor()->nextMoveMode();
        QTest::mouseClick(v.panel()->fineTuneSwitch(), Qt::LeftButton);
        env.tap(QPoint(1100, 900));  // deselect
        env.tap(QPoint(400, 400));   // and again
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(env.edit().method[i], method);
            QCOMPARE((QVector<int>{env.edit().p1[i], env.edit().p2[i], env.edit().p3[i]}), (QVector<int>{p1, p2, p3}));
        }
        QCOMPARE(env.edit().outputNo[0], 3);
    }

    void slidersWriteTheirMember_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("slider");
        QTest::addColumn<bool>("second");   // the pair switch pressed first
        QTest::addColumn<int>("value");
        QTest::addColumn<QVector<int>>("params");
        QTest::addColumn<int>("hint");       // gDrawHint, -1: not set
        QTest::newRow("defect filter") << 0 << 3 << false << 7 << QVector<int>{45, 100, 7} << 7;
        QTest::newRow("defect area") << 0 << 2 << false << 400 << QVector<int>{45, 400, 3} << 20;
        QTest::newRow("spot min area") << 1 << 1 << false << 401 << QVector<int>{401, 500, 12800} << 20;
        QTest::newRow("spot min grey") << 1 << 3 << false << 20 << QVector<int>{80, 500, 12820} << -1;
        QTest::newRow("spot max grey") << 1 << 3 << true << 60 << QVector<int>{80, 500, 15360} << -1;
        QTest::newRow("white count min") << 7 << 2 << false << 5 << QVector<int>{128, packHalves(5, 100), 1} << 0;
        QTest::newRow("white count max") << 7 << 2 << true << 90 << QVector<int>{128, packHalves(1, 90), 1} << 0;
        QTest::newRow("red max") << 9 << 1 << true << 200
                                  << QVector<int>{packHalves(1, 200), 6553601, 6553601} << -1;
        QTest::newRow("blue min") << 9 << 3 << false << 9 << QVector<int>{6553601, 6553601, packHalves(9, 100)} << -1;
    }

    void slidersWriteTheirMember()
    {
        QFETCH(int, method);
        QFETCH(int, slider);
        QFETCH(bool, second);
        QFETCH(int, value);
        QFETCH(QVector<int>, params);
        QFETCH(int, hint);
        rig::EnvOptions o;
        o.train = true;
        ViewEnv env(o);
        env.word(143) = 1;
        int p[3] = {45, 100, 3};
        if (method != 0)
            RoiFunctions::startParameters(method, p[0], p[1], p[2]);
        env.addRect(0, QRect(300, 300, 200, 200), method, p[0], p[1], p[2]);
        select(env, 0);
        CammerWidget& v = *env.view;
        if (second)
            QTest::mouseClick(v.panel()->pairButton(), Qt::LeftButton);
        gDrawHint = -1;
        Slider* s = slider == 1 ? v.panel()->slider(0) : slider == 2 ? v.panel()->slider(1) : v.panel()->slider(2);
        s->setValue(value);
        QCOMPARE((QVector<int>{env.edit().p1[0], env.edit().p2[0], env.edit().p3[0]}), params);
        QCOMPARE(gDrawHint, hint);
        QCOMPARE(EditSession::get().sizeHintTimer()->isActive(), hint > 0);
        // Spot detection previews at once on the template.
        if (method == 1)
            QVERIFY(v.previewShown);
    }

    void slowPreviewsAreCoalesced()
    {
        rig::EnvOptions o;
        o.train = true;
        ViewEnv env(o);
        int p[3];
        RoiFunctions::startParameters(1, p[0], p[1], p[2]);
        env.addRect(0, QRect(300, 300, 200, 200), 1, p[0], p[1], p[2]);
        select(env, 0);
        CammerWidget& v = *env.view;
        v.panel()->slider(0)->setValue(100);
        QVERIFY(v.previewShown);
        // As if that preview had taken a second.
        v.panel()->assumePreviewCost(1000);
        v.previewShown = false;
        v.panel()->slider(0)->setValue(101);
        v.panel()->slider(0)->setValue(102);
        QVERIFY(!v.previewShown);
        QVERIFY(v.panel()->previewTimer()->isActive());
        QCOMPARE(env.edit().p1[0], 102);
        QTRY_VERIFY_WITH_TIMEOUT(v.previewShown, 5000);
        QVERIFY(!v.panel()->previewTimer()->isActive());
    }

    void syncCarriesDifferences_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("slider");
        QTest::addColumn<bool>("second");
        QTest::addColumn<int>("value");
        QTest::addColumn<QVector<int>>("current");   // p1, p2, p3 before
        QTest::addColumn<QVector<int>>("sibling");
        QTest::addColumn<QVector<int>>("expected");  // sibling after
        QTest::newRow("defect area +100") << 0 << 2 << false << 200 << QVector<int>{45, 100, 3}
                                          << QVector<int>{50, 250, 4} << QVector<int>{50, 350, 4};
        QTest::newRow("grey band minimum +10") << 1 << 3 << false << 20 << QVector<int>{80, 500, 10 | (50 << 8)}
                                               << QVector<int>{90, 600, 250 | (20 << 8)}
                                               << QVector<int>{90, 600, 255 | (20 << 8)};
        QTest::newRow("grey band maximum -60") << 1 << 3 << true << 0 << QVector<int>{80, 500, 10 | (60 << 8)}
                                               << QVector<int>{90, 600, 7 | (20 << 8)}
                                               << QVector<int>{90, 600, 7};
        QTest::newRow("count minimum -3") << 7 << 2 << false << 0 << QVector<int>{128, packHalves(3, 100), 1}
                                          << QVector<int>{120, packHalves(1, 100), 2}
                                          << QVector<int>{120, packHalves(0, 100), 2};
        QTest::newRow("count maximum +50") << 8 << 2 << true << 100 << QVector<int>{128, packHalves(1, 50), 1}
                                           << QVector<int>{120, packHalves(1, 65500), 2}
                                           << QVector<int>{120, packHalves(1, 65535), 2};
        QTest::newRow("red minimum +5") << 9 << 1 << false << 15 << QVector<int>{packHalves(10, 100), 0, 0}
                                        << QVector<int>{packHalves(0, 7), 3, 4}
                                        << QVector<int>{packHalves(5, 7), 3, 4};
    }

    void syncCarriesDifferences()
    {
        QFETCH(int, method);
        QFETCH(int, slider);
        QFETCH(bool, second);
        QFETCH(int, value);
        QFETCH(QVector<int>, current);
        QFETCH(QVector<int>, sibling);
        QFETCH(QVector<int>, expected);
        ViewEnv env;
        env.word(143) = 1;
        env.addRect(0, QRect(100, 100, 100, 100), method, current[0], current[1], current[2]);
        env.addRect(0, QRect(300, 100, 100, 100), method, sibling[0], sibling[1], sibling[2]);
        const int other = method == 4 ? 5 : 4;
        env.addRect(0, QRect(500, 100, 100, 100), other, sibling[0], sibling[1], sibling[2]);
        select(env, 0);
        CammerWidget& v = *env.view;
        if (second)
            QTest::mouseClick(v.panel()->pairButton(), Qt::LeftButton);
        Slider* s = slider == 1 ? v.panel()->slider(0) : slider == 2 ? v.panel()->slider(1) : v.panel()->slider(2);
        s->setValue(value);
        QTest::mouseClick(v.panel()->syncSwitch(), Qt::LeftButton);
        const CammerSingleton& rec = env.edit();
        QCOMPARE((QVector<int>{rec.p1[1], rec.p2[1], rec.p3[1]}), expected);
        QCOMPARE((QVector<int>{rec.p1[2], rec.p2[2], rec.p3[2]}), sibling);   // another method
        // A second press carries nothing more.
        QTest::mouseClick(v.panel()->syncSwitch(), Qt::LeftButton);
        QCOMPARE((QVector<int>{rec.p1[1], rec.p2[1], rec.p3[1]}), expected);
    }

    void whatShows_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("word143");
        QTest::addColumn<QString>("visible");   // p1 p2 p3 pair-switch as 0/1
        QTest::newRow("defect") << 0 << 0 << "1000";
        QTest::newRow("defect, own limits") << 0 << 1 << "1110";
        QTest::newRow("spot") << 1 << 0 << "1111";
        QTest::newRow("ignore area") << 2 << 0 << "0000";
        QTest::newRow("positioning") << 3 << 0 << "0000";
        QTest::newRow("black area") << 4 << 0 << "1100";
        QTest::newRow("similarity") << 6 << 0 << "1000";
        QTest::newRow("white count") << 7 << 0 << "1111";
        QTest::newRow("colour") << 9 << 0 << "1111";
        QTest::newRow("angle") << 10 << 0 << "1110";
    }

    void whatShows()
    {
        QFETCH(int, method);
        QFETCH(int, word143);
        QFETCH(QString, visible);
        ViewEnv env;
        env.word(143) = word143;
        env.addRect(0, QRect(300, 300, 200, 200), method);
        select(env, 0);
        CammerWidget& v = *env.view;
        const QString got = QStringLiteral("%1%2%3%4")
                                .arg(int(shown(v.panel()->slider(0))))
                                .arg(int(shown(v.panel()->slider(1))))
                                .arg(int(shown(v.panel()->slider(2))))
                                .arg(int(shown(v.panel()->pairButton())));
        QCOMPARE(got, visible);
        QVERIFY(shown(v.panel()->syncSwitch()) && shown(v.panel()->roiButton()) && shown(v.panel()->objectSwitch()) &&
                shown(v.panel()->fineTuneSwitch()));
        QVERIFY(!shown(v.panel()->moveButton(0)) && !shown(v.panel()->moveModeSwitch()));
        // The move modes hide the parameters; the fine-tune toggle shows the
        // move row.
        QTest::mouseClick(v.panel()->fineTuneSwitch(), Qt::LeftButton);
        QVERIFY(shown(v.panel()->moveButton(0)) && shown(v.panel()->moveModeSwitch()));
        QCOMPARE(v.panel()->fineTuneSwitch()->text(), QStringLiteral("隐藏"));
        v.editor()->nextMoveMode();
        QCOMPARE(v.panel()->moveModeSwitch()->text(), lanStr(32));
        QVERIFY(!shown(v.panel()->slider(0)) && !shown(v.panel()->syncSwitch()) && !shown(v.panel()->pairButton()));
        v.editor()->nextMoveMode();
        QCOMPARE(v.panel()->moveModeSwitch()->text(), lanStr(34));
        v.editor()->nextMoveMode();
        QCOMPARE(v.panel()->moveModeSwitch()->text(), lanStr(12));
        QCOMPARE(shown(v.panel()->slider(0)), visible[0] == QLatin1Char('1'));
        // Nothing current: everything hides and the toggle is released.
        v.editor()->deselect();
        v.ShowHideROIPara();
        QVERIFY(!shown(v.panel()->slider(0)) && !shown(v.panel()->fineTuneSwitch()) &&
                !v.panel()->fineTuneSwitch()->isChecked());
    }

    void outputSelector()
    {
        ViewEnv env;
        env.word(123) = 1;
        env.addRect(0, QRect(300, 300, 200, 200));
        env.addRect(1, QRect(300, 300, 200, 200));
        env.edit().outputNo[0] = 2;
        select(env, 0);
        CammerWidget& v = *env.view;
        QVERIFY(shown(v.panel()->outputCombo()));
        QCOMPARE(v.panel()->outputCombo()->currentIndex(), 2);
        QCOMPARE(env.edit().outputNo[0], 2);
        v.panel()->outputCombo()->setCurrentIndex(3);
        QCOMPARE(env.edit().outputNo[0], 3);
        // Outside step 0 the selector is hidden and changes nothing.
        EditSession::get().setCurrentDetect(1);
        select(env, 0);
        QVERIFY(!shown(v.panel()->outputCombo()));
        v.panel()->setOutput(1);
        QCOMPARE(env.edit().outputNo[0], 3);
        EditSession::get().setCurrentDetect(0);
    }

    void stepButtons_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("object");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("caption");   // of the first step button
        QTest::addColumn<QString>("objectText");
        QTest::addColumn<QString>("after");     // the changed value
        QTest::newRow("circle inner +10") << 4 << 0 << 0 << "+10" << lanStr(28) << "ri 10";
        QTest::newRow("circle outer -10") << 4 << 1 << 3 << "+10" << lanStr(26) << "r 90";
        QTest::newRow("circle centre up") << 4 << 2 << 0 << "Y -1" << lanStr(27) << "y 499";
        QTest::newRow("rectangle corner right") << 1 << 1 << 3 << "Y -1" << lanStr(29) << "x2 600";
        QTest::newRow("rectangle corner up") << 1 << 0 << 0 << "Y -1" << lanStr(30) << "y1 299";
        QTest::newRow("polygon point held inside") << 2 << 1 << 1 << "Y -1" << lanStr(31).arg(2) << "x 3";
    }

    void stepButtons()
    {
        QFETCH(int, kind);
        QFETCH(int, object);
        QFETCH(int, button);
        QFETCH(QString, caption);
        QFETCH(QString, objectText);
        QFETCH(QString, after);
        ViewEnv env;
        if (kind == 4)
            env.addCircle(0, QPoint(500, 500), 100);
        else if (kind == 1)
            env.addRect(0, QRect(QPoint(300, 300), QPoint(599, 599)));
        else
            env.addPolygon(0, {{300, 300}, {3, 400}, {500, 600}});
        select(env, 0);
        CammerWidget& v = *env.view;
        for (int k = 0; k < object; ++k)
            v.editor()->nextObject();
        QCOMPARE(v.panel()->stepButton(0)->text(), caption);
        QCOMPARE(v.panel()->objectSwitch()->text(), objectText);
        QTest::mouseClick(v.panel()->stepButton(button), Qt::LeftButton);
        const CammerSingleton& rec = env.edit();
        QString got;
        if (kind == 4) {
            const Circle& c = rec.circle[0][0];
            got = object == 0 ? QStringLiteral("ri %1").arg(c.ri)
                              : object == 1 ? QStringLiteral("r %1").arg(c.r) : QStringLiteral("y %1").arg(c.y);
        } else if (kind == 1) {
            const QRect& r = rec.rect[0][0].rect;
            got = object == 1 ? QStringLiteral("x2 %1").arg(r.right()) : QStringLiteral("y1 %1").arg(r.top());
        } else {
            got = QStringLiteral("x %1").arg(rec.polygon[0][0].pts[1].x());
        }
        QCOMPARE(got, after);
        QCOMPARE(rig::checkInvariants(v, 0), QString());
    }

    void placement_data()
    {
        QTest::addColumn<QRect>("roi");
        QTest::addColumn<int>("top");
        QTest::newRow("room above") << QRect(QPoint(400, 600), QPoint(599, 799)) << 600 - 102 - 20;
        QTest::newRow("room below") << QRect(QPoint(400, 52), QPoint(599, 251)) << 252 + 20;
        QTest::newRow("no room") << QRect(QPoint(400, 52), QPoint(599, 1000)) << 52 + 20;
    }

    void placement()
    {
        QFETCH(QRect, roi);
        QFETCH(int, top);
        ViewEnv env;
        env.addRect(0, roi);
        select(env, 0);
        QCOMPARE(env.view->panel()->slider(0)->geometry().top(), top);
        QCOMPARE(env.view->panel()->methodButton()->geometry().top(), top + 50);
        QCOMPARE(env.view->panel()->slider(0)->geometry().left(), 400);
        QCOMPARE(env.view->panel()->slider(0)->geometry().right(), gShowW / 2 + 424);
    }
};

QTEST_MAIN(TestRoiPanel)
#include "tst_roipanel.moc"
