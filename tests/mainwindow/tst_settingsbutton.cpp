// The run screen's settings and help buttons: the settings screen opens only
// while detection is stopped and the operator gate lets it, puts the help
// button and the version labels away while shown, and the ROI page's help
// shows the ROI page's help picture.
#include "drawroiwidget.h"
#include "helpwidget.h"
#include "rivurevezi.h"
#include "support_roipage.h"
#include "wizardparawidget.h"

#include <QHBoxLayout>
#include <QtTest>

using namespace pagetest;

class TestSettingsButton : public QObject {
    Q_OBJECT
private slots:
    void gateAndHelp()
    {
        Options o;
        o.showWindow = true;
        RoiEnv env(o);
        env.word(98) = 0;   // no operator password
        QHBoxLayout bar;
        env.win->InitSettings(&bar);
        env.win->showhideHelp(true);
        env.win->showhideVersion(true);

        const struct {
            int runState;
            int detectState;
            bool opens;
        } cases[] = {{1, 0, false}, {3, 3, false}, {3, 0, true}};
        for (const auto& c : cases) {
            env.win->runState = c.runState;
            env.win->detectState = c.detectState;
            env.win->SlotSettings();
            QCOMPARE(env.win->SettingsVisible(), c.opens);
            QCOMPARE(env.win->helpButton->isVisible(), !c.opens);
            QCOMPARE(env.win->versionLabel[0]->isVisible(), !c.opens);
            env.win->wizardParaWidget->cancel();
            QVERIFY(!env.win->SettingsVisible());
            QVERIFY(env.win->helpButton->isVisible());
        }

        env.page->SlotHelp();
        QVERIFY(env.win->helpWidget->isVisible());
        QCOMPARE(env.win->helpWidget->page(), 6);
    }
};

QTEST_MAIN(TestSettingsButton)
#include "tst_settingsbutton.moc"
