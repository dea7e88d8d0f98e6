// The operator's questions (the camera manager's among them) reach the
// operator through the widget kit's shared boxes; without them nothing is
// asked and the answer is "no".
#include "colorbutton.h"
#include "globals.h"
#include "kitdialogs.h"
#include "statewindow.h"
#include "warnbox.h"
#include "widgetkit.h"

#include <QApplication>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Presses a button of the modal box that opens next, and notes its size.
void pressWhenShown(std::function<QAbstractButton*(QDialog*)> pick, QSize* seen = nullptr, QString* text = nullptr)
{
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(box);
        if (seen)
            *seen = box->size();
        if (text) {
            if (auto* c = qobject_cast<ChooseBox*>(box))
                *text = c->text;
            else if (auto* w = qobject_cast<WarnBox*>(box))
                *text = w->text;
        }
        QTest::mouseClick(pick(box), Qt::LeftButton);
    });
}

}  // namespace

class TestManagerBoxes : public QObject {
    Q_OBJECT
    KitDialogs dialogs;

private slots:
    void initTestCase()
    {
        gShowW = 1280;
        gShowH = 1024;
    }

    void questionsWithoutBoxesAreAnsweredNo()
    {
        QVERIFY(!gpChooseBox);
        QVERIFY(!dialogs.choose(QStringLiteral("q")));
        QVERIFY(!dialogs.chooseScreen(QStringLiteral("q")));
        dialogs.warn(QStringLiteral("w"));   // logged only; must not block
    }

    void questionsUseTheSharedBoxes_data()
    {
        QTest::addColumn<bool>("screen");
        QTest::addColumn<bool>("yes");
        QTest::newRow("choice box, yes") << false << true;
        QTest::newRow("choice box, no") << false << false;
        QTest::newRow("whole-picture box, yes") << true << true;
        QTest::newRow("whole-picture box, no") << true << false;
    }
    void questionsUseTheSharedBoxes()
    {
        QFETCH(bool, screen);
        QFETCH(bool, yes);
        std::unique_ptr<StateWindow> win(new StateWindow);
        gpState = win.get();
        InitWidgetKit(win.get());
        QVERIFY(gpChooseBox);
        QSize size;
        QString text;
        pressWhenShown(
            [yes](QDialog* d) -> QAbstractButton* {
                auto* c = qobject_cast<ChooseBox*>(d);
                return yes ? static_cast<QAbstractButton*>(c->yesButton) : c->noButton;
            },
            &size, &text);
        const QString question = QStringLiteral("Clear the camera order?");
        const bool answer = screen ? dialogs.chooseScreen(question) : dialogs.choose(question);
        QCOMPARE(answer, yes);
        QCOMPARE(text, question);
        QCOMPARE(size, screen ? QSize(gShowW, gShowH) : QSize(750, 370));
        gpState = nullptr;
    }

    void warningWaitsForOk()
    {
        std::unique_ptr<StateWindow> win(new StateWindow);
        gpState = win.get();
        InitWidgetKit(win.get());
        QString text;
        pressWhenShown([](QDialog* d) { return static_cast<QAbstractButton*>(qobject_cast<WarnBox*>(d)->okButton); },
                       nullptr, &text);
        dialogs.warn(QStringLiteral("SN.db is damaged"));
        QCOMPARE(text, QStringLiteral("SN.db is damaged"));
        QVERIFY(!gpWarnBox->isVisible());
        gpState = nullptr;
    }
};

QTEST_MAIN(TestManagerBoxes)
#include "tst_managerboxes.moc"
