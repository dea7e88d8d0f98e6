// The on-screen pads driven through the window: which field they type into,
// their labels, their re-creation, and what a tap between keys does.
#include "support_kit.h"

#include "colorbutton.h"
#include "edit.h"
#include "numberinput.h"
#include "statewindow.h"

#include <QDialog>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using namespace kittest;

namespace {

// A screen with one numeric and one letter field.
struct Screen {
    explicit Screen(QWidget* parent = nullptr)
        : widget(new QWidget(parent))
    {
        widget->setGeometry(0, 0, 1000, 700);
        number = new Edit(Edit::Numeric | Edit::InDialog, widget, 1);
        number->setGeometry(20, 20, 200, 50);
        letters = new Edit(Edit::LetterPad | Edit::InDialog, widget, 1);
        letters->setGeometry(20, 100, 200, 50);
    }
    QWidget* widget;
    Edit* number;
    Edit* letters;
};

// Counts the releases that reach it.
class ReleaseCounter : public QWidget {
public:
    using QWidget::QWidget;
    int releases = 0;

protected:
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        ++releases;
        e->accept();
    }
};

}  // namespace

class TestPads : public QObject {
    Q_OBJECT
private slots:
    void typingIntoNumericField_data();
    void typingIntoNumericField();
    void digitLabels();
    void padRecreatedAfterItsScreenDies();
    void padPutAwayByItsOwnerComesBackOnFirstTap();
    void letterPadPages();
    void letterPadTyping();
    void tapBetweenKeysIsSwallowed();
    void pressOnMainWindowHidesPads();
    void padRaisedAboveItsHostsChildren();
};

void TestPads::typingIntoNumericField_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("keys");   // digits, 'B' erase, 'H' hide key
    QTest::addColumn<QString>("expected");

    QTest::newRow("looked at only") << "250" << "H" << "250";
    QTest::newRow("first digit replaces") << "250" << "7" << "7";
    QTest::newRow("then digits append") << "250" << "712" << "712";
    QTest::newRow("erase after a tap edits the value") << "250" << "B7" << "257";
    QTest::newRow("erase to empty, next replaces") << "" << "5B3" << "3";
    QTest::newRow("erase keeps appending") << "" << "56B7" << "57";
    QTest::newRow("erase on empty field") << "" << "BB4" << "4";
}

void TestPads::typingIntoNumericField()
{
    QFETCH(QString, initial);
    QFETCH(QString, keys);
    QFETCH(QString, expected);

    KitEnv env;
    Screen s;
    s.number->setText(initial);
    QVERIFY(showWindow(s.widget));

    tap(s.number);
    QCOMPARE(Edit::currentEdit(), s.number);
    QVERIFY(gpNumPad && gpNumPad->isVisible());
    QCOMPARE(s.number->text(), initial);   // a tap alone changes nothing

    for (const QChar k : keys) {
        if (k == QLatin1Char('B'))
            tap(gpNumPad->eraseKey);
        else if (k == QLatin1Char('H'))
            tap(gpNumPad->hideKey);
        else
            QVERIFY2(tapDigit(k.toLatin1()), "digit key not found");
    }
    QCOMPARE(s.number->text(), expected);
    if (keys.endsWith(QLatin1Char('H'))) {
        QVERIFY(!gpNumPad->isVisible());
        QVERIFY(!Edit::currentEdit());
    }
}

void TestPads::digitLabels()
{
    KitEnv env;
    Screen s;
    auto* secret = new Edit(Edit::Numeric, s.widget, 1);
    secret->setEchoMode(QLineEdit::Password);
    secret->setGeometry(300, 20, 200, 50);
    QVERIFY(showWindow(s.widget));

    tap(s.number);
    QStringList labels;
    for (ColorButton* k : gpNumPad->keys)
        labels << k->text();
    QCOMPARE(labels.join(QString()), QStringLiteral("1234567890"));
    QCOMPARE(gpNumPad->keys[4]->geometry(), QRect(5, 81, 100, 70));   // "5" opens the second row

    // A password field shuffles the labels; each digit shows exactly once
    // and a key sends the digit it shows.
    for (int round = 0; round < 3; ++round) {
        tap(secret);
        QCOMPARE(Edit::currentEdit(), secret);
        QVERIFY(gpNumPad->isVisible());
        QString shown;
        for (ColorButton* k : gpNumPad->keys)
            shown += k->text();
        QString sorted = shown;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(sorted, QStringLiteral("0123456789"));
        tap(gpNumPad->keys[3]);
        QCOMPARE(secret->text(), shown.mid(3, 1));
    }
}

void TestPads::padRecreatedAfterItsScreenDies()
{
    KitEnv env;
    NumberInput* first = gpNumPad;
    QVERIFY(first);
    {
        QDialog dialog;
        dialog.setGeometry(0, 0, 900, 600);
        Screen s(&dialog);
        QVERIFY(showWindow(&dialog));
        tap(s.number);
        QCOMPARE(gpNumPad->parentWidget(), s.widget);
        QVERIFY(typeDigits(QStringLiteral("42")));
        QCOMPARE(s.number->text(), QStringLiteral("42"));
    }   // the dialog takes the pad with it

    QVERIFY(gpNumPad);
    QVERIFY(gpNumPad != first);
    QVERIFY(!gpNumPad->parentWidget());
    QVERIFY(!gpNumPad->isVisible());

    Screen again;
    QVERIFY(showWindow(again.widget));
    tap(again.number);
    QVERIFY(gpNumPad->isVisible());
    QVERIFY(typeDigits(QStringLiteral("913")));
    QCOMPARE(again.number->text(), QStringLiteral("913"));
    tap(gpNumPad->hideKey);
    QVERIFY(!gpNumPad->isVisible());
    QVERIFY(!Edit::currentEdit());
}

void TestPads::padPutAwayByItsOwnerComesBackOnFirstTap()
{
    KitEnv env;
    Screen s;
    QVERIFY(showWindow(s.widget));
    // An editor that ends deletes the pad and clears the global itself.
    delete gpNumPad;
    gpNumPad = nullptr;
    tap(s.number);
    QVERIFY(gpNumPad);
    QVERIFY(gpNumPad->isVisible());
    QVERIFY(typeDigits(QStringLiteral("8")));
    QCOMPARE(s.number->text(), QStringLiteral("8"));
}

void TestPads::letterPadPages()
{
    KitEnv env;
    Screen s;
    QVERIFY(showWindow(s.widget));
    NumCharInput* pad = gpNumCharPad;
    auto row = [pad](int from, int to) {
        QString t;
        for (int i = from; i <= to; ++i)
            t += pad->keys[i]->text();
        return t;
    };

    tap(s.letters);
    QVERIFY(pad->isVisible());
    QCOMPARE(row(11, 20), QStringLiteral("qwertyuiop"));
    QCOMPARE(pad->keys[37]->text(), rowText(441));
    QCOMPARE(pad->keys[38]->text(), rowText(158));

    tap(pad->keys[38]);   // caps
    QCOMPARE(row(21, 29), QStringLiteral("ASDFGHJKL"));
    QCOMPARE(pad->keys[38]->text(), rowText(159));
    tap(pad->keys[38]);   // caps again: lower case
    QCOMPARE(row(30, 36), QStringLiteral("zxcvbnm"));

    tap(pad->keys[38]);
    tap(pad->keys[37]);   // page key from capitals: punctuation
    QCOMPARE(row(11, 20), QStringLiteral("-=[]\\;',./"));
    QCOMPARE(row(30, 36), QStringLiteral("`~!{}:\""));
    QCOMPARE(pad->keys[37]->text(), rowText(442));
    QCOMPARE(pad->keys[38]->text(), rowText(158));
    tap(pad->keys[37]);   // page key again: lower case, not capitals
    QCOMPARE(row(11, 20), QStringLiteral("qwertyuiop"));

    tap(pad->keys[37]);
    tap(pad->keys[38]);   // caps on punctuation: capitals
    QCOMPARE(row(11, 20), QStringLiteral("QWERTYUIOP"));
    QCOMPARE(pad->keys[37]->text(), rowText(441));

    // Every appearance starts on the lower-case page.
    tap(pad->keys[40]);
    QVERIFY(!pad->isVisible());
    tap(s.letters);
    QVERIFY(pad->isVisible());
    QCOMPARE(row(11, 20), QStringLiteral("qwertyuiop"));
}

void TestPads::letterPadTyping()
{
    KitEnv env;
    Screen s;
    s.letters->setText(QStringLiteral("ab"));
    QVERIFY(showWindow(s.widget));
    tap(s.letters);
    NumCharInput* pad = gpNumCharPad;
    QCOMPARE(s.letters->text(), QStringLiteral("ab"));   // a letter field keeps its text
    tap(pad->keys[10]);           // "_"
    tap(pad->keys[38]);           // capitals
    tap(pad->keys[11]);           // "Q"
    tap(pad->keys[10]);           // "_" on every page
    tap(pad->keys[37]);           // punctuation
    tap(pad->keys[21]);           // "@"
    tap(pad->keys[10]);
    QCOMPARE(s.letters->text(), QStringLiteral("ab_Q_@_"));
    tap(pad->keys[39]);           // erase
    QCOMPARE(s.letters->text(), QStringLiteral("ab_Q_@"));
    tap(pad->keys[40]);           // hide: the field keeps the focus
    QVERIFY(!pad->isVisible());
    QCOMPARE(Edit::currentEdit(), s.letters);
}

void TestPads::tapBetweenKeysIsSwallowed()
{
    KitEnv env;
    auto* host = new ReleaseCounter;
    host->setGeometry(0, 0, 1000, 700);
    auto* field = new Edit(Edit::Numeric, host, 1);
    field->setGeometry(20, 20, 200, 50);
    QVERIFY(showWindow(host));
    tap(field);
    QVERIFY(gpNumPad->isVisible());
    QCOMPARE(gpNumPad->parentWidget(), host);
    const int before = host->releases;
    // The 6-pixel gap between the first two digit keys.
    tap(gpNumPad, QPoint(107, 40));
    tap(gpNumPad, QPoint(2, 2));
    QCOMPARE(host->releases, before);
    QVERIFY(gpNumPad->isVisible());
    QCOMPARE(field->text(), QString());
    delete host;
}

void TestPads::pressOnMainWindowHidesPads()
{
    KitEnv env;
    auto* field = new Edit(Edit::Numeric, env.win, 1);
    field->setGeometry(20, 20, 200, 50);
    QVERIFY(showWindow(env.win));
    tap(field);
    QVERIFY(gpNumPad->isVisible());
    tap(env.win, QPoint(900, 700));   // the window's own surface
    QVERIFY(!gpNumPad->isVisible());
}

void TestPads::padRaisedAboveItsHostsChildren()
{
    KitEnv env;
    Screen s;
    QVERIFY(showWindow(s.widget));
    tap(s.number);
    tap(gpNumPad->hideKey);
    QCOMPARE(gpNumPad->parentWidget(), s.widget);
    // A sibling made after the pad moved in lies where the pad appears.
    auto* cover = new QWidget(s.widget);
    cover->setGeometry(0, 60, 1000, 640);
    cover->setAutoFillBackground(true);
    cover->show();
    tap(s.number);
    QVERIFY(gpNumPad->isVisible());
    const QPoint keyCentre = gpNumPad->keys[0]->geometry().center() + gpNumPad->pos();
    QCOMPARE(s.widget->childAt(keyCentre), gpNumPad->keys[0]);
    tap(gpNumPad->keys[0]);
    QCOMPARE(s.number->text(), QStringLiteral("1"));
}

QTEST_MAIN(TestPads)
#include "tst_pads.moc"
