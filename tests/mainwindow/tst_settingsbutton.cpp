// The run screen's settings and help buttons: the settings screen puts the
// help button and the version labels away while it is shown and brings them
// back when it closes; the ROI page's help shows the ROI page's picture; the
// settings screen's network button opens the network dialog over the window.
#include "drawroiwidget.h"
#include "edit.h"
#include "helpwidget.h"
#include "rivurevezi.h"
#include "support_roipage.h"
#include "wizardparawidget.h"

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
        env.win->InitSettings();
        env.win->showhideHelp(true);
        env.win->showhideVersion(true);

        env.win->SlotSettings();
        QVERIFY(env.win->SettingsVisible());
        bool dialogShown = false;
        QTimer closer;
        int ticks = 0;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            // The dialog is answered once it is up (or given up on), so the
            // test never waits on a modal loop that nobody ends.
            if (gpNetDialog && gpNetDialog->isVisible()) {
                dialogShown = gpNetDialog->parentWidget() == env.win;
                gpNetDialog->reject();
            } else if (++ticks > 400 && gpNetDialog) {
                gpNetDialog->reject();
            }
        });
        closer.start(50);
        env.win->wizardParaWidget->SlotToNetwork();
        closer.stop();
        QVERIFY(dialogShown);
        QVERIFY(!gpNetDialog);
        QVERIFY(env.win->SettingsVisible());
        QVERIFY(!env.win->helpButton->isVisible());
        QVERIFY(!env.win->settingsButton->isVisible());
        env.win->wizardParaWidget->cancel();
        QVERIFY(!env.win->SettingsVisible());
        QVERIFY(env.win->helpButton->isVisible());
        QVERIFY(env.win->versionLabel[1]->isVisible());

        env.page->SlotHelp();
        QVERIFY(env.win->helpWidget->isVisible());
        QCOMPARE(env.win->helpWidget->page(), 6);
    }
};

QTEST_MAIN(TestSettingsButton)
#include "tst_settingsbutton.moc"
