// Edit fields: the range clamp, number parsing, the two input operations,
// the pad placement rule, focus handling and a field deleted while in use.
#include "support_kit.h"

#include "edit.h"
#include "numberinput.h"
#include "statewindow.h"

#include <QDialog>
#include <QSignalSpy>
#include <QTest>

#include <climits>

using namespace kittest;

class TestEdit : public QObject {
    Q_OBJECT
private slots:
    void rangeClamp_data();
    void rangeClamp();
    void value_data();
    void value();
    void addAndDeleteValue();
    void placement_data();
    void placement();
    void padHostByFlags();
    void padHostStaysInsideTheFieldsWindow();
    void passwordFieldOnFocus();
    void deletedFieldLetsThePadsGo();
    void returnKeyTogglesThePad();
    void dotKeySignals();
};

void TestEdit::rangeClamp_data()
{
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::newRow("swapped range, above") << 10 << 5 << "12" << "10";
    QTest::newRow("swapped range, below") << 10 << 5 << "3" << "5";
    QTest::newRow("inside") << 0 << 255 << "17" << "17";
    QTest::newRow("leading zeros") << 0 << 255 << "007" << "7";
    QTest::newRow("negative below") << 0 << 100 << "-7" << "0";
    QTest::newRow("beyond int saturates") << 0 << 255 << "99999999999999999999" << "255";
    QTest::newRow("not a number stays") << 0 << 255 << "1x" << "1x";
    QTest::newRow("empty stays") << 0 << 255 << "" << "";
    QTest::newRow("no lower bound") << -1 << 5 << "999" << "999";
    QTest::newRow("no upper bound") << 5 << -1 << "-40" << "-40";
}

void TestEdit::rangeClamp()
{
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(QString, text);
    QFETCH(QString, shown);

    Edit e(Edit::Numeric, nullptr, 1);
    e.setText(QStringLiteral("1"));
    e.setRange(min, max);
    QCOMPARE(e.text(), QStringLiteral("1"));   // nothing is re-clamped by setRange
    e.setText(text);
    QCOMPARE(e.text(), shown);
    if (min != -1 && max != -1) {
        QCOMPARE(e.minValue, qMin(min, max));
        QCOMPARE(e.maxValue, qMax(min, max));
    }
}

void TestEdit::value_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "12" << 12;
    QTest::newRow("blanks") << " 7 " << 7;
    QTest::newRow("negative") << "-3" << -3;
    QTest::newRow("not a number") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("too large") << "99999999999" << INT_MAX;
    QTest::newRow("too small") << "-99999999999" << INT_MIN;
}

void TestEdit::value()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    Edit e(Edit::Numeric, nullptr, 1);
    e.setText(text);
    QCOMPARE(e.value(), value);
}

void TestEdit::addAndDeleteValue()
{
    Edit e(Edit::Numeric, nullptr, 1);
    e.setValue(2.5);
    QCOMPARE(e.text(), QStringLiteral("2.5"));
    e.setValue(1234567.0);
    QCOMPARE(e.text(), QStringLiteral("1.23457e+06"));
    e.setValue(40);
    e.addValue(QStringLiteral("57"), false);   // only the first character counts
    QCOMPARE(e.text(), QStringLiteral("405"));
    QCOMPARE(e.cursorPosition(), 3);
    e.addValue(QStringLiteral("9"), true);
    QCOMPARE(e.text(), QStringLiteral("9"));

    bool emptied = false;
    e.setText(QStringLiteral("12"));
    e.deleteValue(emptied);
    QCOMPARE(e.text(), QStringLiteral("1"));
    QVERIFY(!emptied);
    e.deleteValue(emptied);
    QVERIFY(emptied);
    emptied = true;
    e.setText(QStringLiteral("34"));
    e.deleteValue(emptied);   // never sets the flag back to false
    QVERIFY(emptied);
    e.setText(QString());
    emptied = false;
    e.deleteValue(emptied);
    QCOMPARE(e.text(), QString());
    QVERIFY(emptied);
}

void TestEdit::placement_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QPoint>("field");
    QTest::addColumn<QSize>("host");
    QTest::addColumn<QPoint>("pad");

    const QSize host(1280, 800);
    // The digit pad is 427 x 230, fields 50 high, screen 800 high (limit 751).
    QTest::newRow("below the field") << 5 << QPoint(100, 100) << host << QPoint(100, 155);
    QTest::newRow("pulled left at the right edge") << 5 << QPoint(1000, 100) << host << QPoint(853, 155);
    QTest::newRow("moved up near the bottom") << 5 << QPoint(100, 500) << host << QPoint(100, 280);
    QTest::newRow("kept inside a short host") << 9 << QPoint(100, 100) << QSize(600, 300) << QPoint(100, 70);
    QTest::newRow("network dialog: above") << 33 << QPoint(1000, 500) << host << QPoint(1000, 265);
    QTest::newRow("network dialog: below") << 33 << QPoint(1000, 100) << host << QPoint(1000, 155);
}

void TestEdit::placement()
{
    QFETCH(int, flags);
    QFETCH(QPoint, field);
    QFETCH(QSize, host);
    QFETCH(QPoint, pad);
    QCOMPARE(Edit::placePad(flags, field, 50, QSize(427, 230), host, 800), pad);
}

void TestEdit::padHostByFlags()
{
    QWidget top;
    top.setGeometry(0, 0, 1000, 700);
    auto* outer = new QWidget(&top);
    outer->move(10, 20);
    auto* inner = new QWidget(outer);
    inner->move(30, 40);
    auto* plain = new Edit(Edit::Numeric, inner, 1);
    plain->move(5, 6);
    auto* grand = new Edit(Edit::Numeric | Edit::PadInGrandparent, inner, 1);
    grand->move(5, 6);
    auto* great = new Edit(Edit::Numeric | Edit::PadInGreatGrandparent, inner, 1);
    great->move(5, 6);

    QPoint pos;
    QCOMPARE(plain->padHost(&pos), inner);
    QCOMPARE(pos, QPoint(5, 6));
    QCOMPARE(grand->padHost(&pos), outer);
    QCOMPARE(pos, QPoint(35, 46));
    QCOMPARE(great->padHost(&pos), &top);
    QCOMPARE(pos, QPoint(45, 66));

    auto* net = new Edit(Edit::Numeric | Edit::PadInNetDialog, inner, 1);
    net->move(5, 6);
    QCOMPARE(net->padHost(&pos), inner);   // no network dialog open: the parent
    QDialog dialog;
    gpNetDialog = &dialog;
    // A field in a window over the network dialog (a card editor): its own
    // window, so that the pad is not drawn underneath that window.
    QCOMPARE(net->padHost(&pos), &top);
    auto* inDialog = new Edit(Edit::Numeric | Edit::PadInNetDialog, &dialog, 1);
    inDialog->move(7, 8);
    QCOMPARE(inDialog->padHost(&pos), &dialog);
    QCOMPARE(pos, QPoint(7, 8));
    gpNetDialog = nullptr;
}

void TestEdit::padHostStaysInsideTheFieldsWindow()
{
    QWidget mainSurface;
    QDialog dialog(&mainSurface);
    dialog.move(200, 100);
    auto* field = new Edit(Edit::Numeric | Edit::PadInGreatGrandparent, &dialog, 1);
    field->move(10, 10);
    QPoint pos;
    QCOMPARE(field->padHost(&pos), &dialog);
    QCOMPARE(pos, QPoint(10, 10));
}

void TestEdit::passwordFieldOnFocus()
{
    KitEnv env;
    QWidget w;
    w.setGeometry(0, 0, 800, 600);
    auto* secret = new Edit(Edit::Numeric | Edit::InDialog, &w, 1);
    secret->setGeometry(20, 20, 200, 50);
    secret->setEchoMode(QLineEdit::Password);
    secret->setText(QStringLiteral("1234"));
    QVERIFY(showWindow(&w));
    tap(secret);
    QCOMPARE(secret->text(), QString());
    QCOMPARE(secret->placeholderText(), rowText(125));
    QVERIFY(!secret->hasFocus());
    QCOMPARE(Edit::currentEdit(), secret);
    QVERIFY(gpNumPad->isVisible());
}

void TestEdit::deletedFieldLetsThePadsGo()
{
    KitEnv env;
    QWidget w;
    w.setGeometry(0, 0, 800, 600);
    auto* field = new Edit(Edit::Numeric, &w, 1);
    field->setGeometry(20, 20, 200, 50);
    QVERIFY(showWindow(&w));
    tap(field);
    QCOMPARE(Edit::currentEdit(), field);
    QVERIFY(gpNumPad->isVisible());
    delete field;
    QVERIFY(!Edit::currentEdit());
    QVERIFY(!gpNumPad->isVisible());
    // Keys that still arrive find no field and do nothing.
    gpNumPad->setContent(1);
    gpNumPad->eraseContent();
    gpNumPad->HideUpdate();
    gpNumCharPad->setContent(3);
    gpNumCharPad->eraseContent();
    QVERIFY(!Edit::currentEdit());
}

void TestEdit::returnKeyTogglesThePad()
{
    KitEnv env;
    QWidget w;
    w.setGeometry(0, 0, 800, 600);
    auto* field = new Edit(Edit::Numeric, &w, 1);
    field->setGeometry(20, 20, 200, 50);
    field->setText(QStringLiteral("31"));
    QVERIFY(showWindow(&w));
    field->setFocus();
    QTRY_COMPARE(Edit::currentEdit(), field);
    QVERIFY(!gpNumPad->isVisible());
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(gpNumPad->isVisible());
    QCOMPARE(gpNumPad->parentWidget(), &w);
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(!gpNumPad->isVisible());
    QVERIFY(!field->hasFocus());
    QVERIFY(!Edit::currentEdit());
    QCOMPARE(field->text(), QStringLiteral("31"));
}

void TestEdit::dotKeySignals()
{
    Edit e(Edit::Numeric, nullptr, 1);
    QSignalSpy dots(&e, &Edit::sig_Dot);
    QTest::keyClick(&e, Qt::Key_Period);
    QTest::keyClick(&e, Qt::Key_5);
    QCOMPARE(dots.count(), 1);
}

QTEST_MAIN(TestEdit)
#include "tst_edit.moc"
