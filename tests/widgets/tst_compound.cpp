// Compound input widgets: the stepped number box, the address field, the
// date and time editor, the painted slider, buttons and combo box.
#include "support_kit.h"

#include "colorbutton.h"
#include "edit.h"
#include "editip.h"
#include "globals.h"
#include "numberinput.h"
#include "statewindow.h"
#include "slider.h"

#include <QDateEdit>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimeEdit>

#include <climits>

using namespace kittest;

namespace {
void mouse(QWidget* w, QEvent::Type type, int x, int y = 30)
{
    QMouseEvent e(type, QPointF(x, y), type == QEvent::MouseButtonRelease ? Qt::LeftButton : Qt::NoButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    if (type == QEvent::MouseButtonPress)
        e = QMouseEvent(type, QPointF(x, y), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}
}  // namespace

class TestCompound : public QObject {
    Q_OBJECT
private slots:
    void editBoxRange_data();
    void editBoxRange();
    void editBoxDisplay_data();
    void editBoxDisplay();
    void editBoxSignalsEveryCheck();
    void editBoxTyping_data();
    void editBoxTyping();
    void editBoxLookedAtKeepsValue();
    void editIPGetAddress_data();
    void editIPGetAddress();
    void editIPSetAddress_data();
    void editIPSetAddress();
    void editIPDotMovesOn();
    void colorButtonFont_data();
    void colorButtonFont();
    void sliderDragStart_data();
    void sliderDragStart();
    void sliderSlowMovesAccumulate();
    void sliderValueBox();
    void sliderDegenerateRanges();
    void setSystemClock();
    void comboAndCheckBox();
};

void TestCompound::editBoxRange_data()
{
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<bool>("use0");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("expected");

    QTest::newRow("-5 at 7 stops at min") << 5 << 100 << false << 7 << "-5" << 5;
    QTest::newRow("+5 at 98 stops at max") << 5 << 100 << false << 98 << "+5" << 100;
    QTest::newRow("+1") << 5 << 100 << false << 50 << "+1" << 51;
    QTest::newRow("-1") << 5 << 100 << false << 50 << "-1" << 49;
    QTest::newRow("0 without use0") << 5 << 100 << false << 0 << "=" << 5;
    QTest::newRow("0 with use0") << 5 << 100 << true << 0 << "=" << 0;
    QTest::newRow("3 with use0") << 5 << 100 << true << 3 << "=" << 5;
    QTest::newRow("-1 from 0 with use0") << 5 << 100 << true << 0 << "-1" << 5;
    QTest::newRow("+1 at the int limit") << 0 << INT_MAX << false << INT_MAX << "+1" << INT_MAX;
    QTest::newRow("-5 at the int limit") << INT_MIN << 0 << false << INT_MIN << "-5" << INT_MIN;
}

void TestCompound::editBoxRange()
{
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(bool, use0);
    QFETCH(int, start);
    QFETCH(QString, op);
    QFETCH(int, expected);

    EditBox box(min, max, nullptr, QStringLiteral("caption"));
    box.setUse0(use0);
    box.setValue(start);
    if (op == QLatin1String("-5"))
        box.SubFive();
    else if (op == QLatin1String("+5"))
        box.AddFive();
    else if (op == QLatin1String("+1"))
        box.AddOne();
    else if (op == QLatin1String("-1"))
        box.SubOne();
    QCOMPARE(box.value(), expected);
    QCOMPARE(box.edit->text(), QString::number(expected));
}

void TestCompound::editBoxDisplay_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("divisor");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("buttons");   // -5, -1, +1, +5

    QTest::newRow("integer") << 0 << 1 << "125" << QStringList{"- 5", "- 1", "+ 1", "+ 5"};
    QTest::newRow("tenths") << 2 << 10 << "12.5" << QStringList{"- 0.5", "- 0.1", "+ 0.1", "+ 0.5"};
    QTest::newRow("other type shows nothing") << 1 << 1 << "" << QStringList{"- 5", "- 1", "+ 1", "+ 5"};
    QTest::newRow("zero divisor taken as 1") << 2 << 0 << "125" << QStringList{"- 5", "- 1", "+ 1", "+ 5"};
}

void TestCompound::editBoxDisplay()
{
    QFETCH(int, type);
    QFETCH(int, divisor);
    QFETCH(QString, shown);
    QFETCH(QStringList, buttons);

    EditBox box(0, 1000, nullptr, QStringLiteral("caption"), QStringLiteral("mm"), type, divisor);
    box.setValue(125);
    QCOMPARE(box.edit->text(), shown);
    QCOMPARE((QStringList{box.minusFive->text(), box.minusOne->text(), box.plusOne->text(), box.plusFive->text()}),
             buttons);
    QVERIFY(box.edit->unitLabel);
    QCOMPARE(box.edit->unitLabel->width(), 2 * 27 + 10);
}

void TestCompound::editBoxSignalsEveryCheck()
{
    EditBox box(0, 10, nullptr, QStringLiteral("caption"));
    QSignalSpy changed(&box, &EditBox::valueChanged);
    box.setValue(4);
    box.setValue(4);
    box.setValue(40);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(changed.at(2).at(0).toInt(), 10);
}

void TestCompound::editBoxTyping_data()
{
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QList<int>>("values");

    QTest::newRow("digits then erase") << 999 << "123BBB" << QList<int>{1, 12, 123, 12, 1, 0};
    QTest::newRow("clamped third digit") << 100 << "123" << QList<int>{1, 12, 100};
    QTest::newRow("long runs never wrap")
        << INT_MAX << "99999999999" << QList<int>{9, 99, 999, 9999, 99999, 999999, 9999999, 99999999, 999999999,
                                                  INT_MAX, INT_MAX};
}

void TestCompound::editBoxTyping()
{
    QFETCH(int, max);
    QFETCH(QString, keys);
    QFETCH(QList<int>, values);

    KitEnv env;
    QWidget screen;
    screen.setGeometry(0, 0, 1200, 700);
    auto* box = new EditBox(0, max, &screen, QStringLiteral("caption"));
    box->move(10, 10);
    box->setValue(250);
    QVERIFY(showWindow(&screen));
    tap(box->edit);
    QVERIFY(gpNumPad->isVisible());
    QCOMPARE(gpNumPad->parentWidget(), &screen);   // flag 8: the box's parent
    QList<int> seen;
    for (const QChar k : keys) {
        if (k == QLatin1Char('B'))
            tap(gpNumPad->eraseKey);
        else
            QVERIFY(tapDigit(k.toLatin1()));
        seen << box->value();
    }
    QCOMPARE(seen, values);
}

void TestCompound::editBoxLookedAtKeepsValue()
{
    KitEnv env;
    QWidget screen;
    screen.setGeometry(0, 0, 1200, 700);
    auto* box = new EditBox(0, 500, &screen, QStringLiteral("caption"));
    auto* other = new Edit(Edit::Numeric, &screen, 1);
    other->setGeometry(10, 300, 100, 50);
    box->setValue(40);
    QVERIFY(showWindow(&screen));
    QSignalSpy changed(box, &EditBox::valueChanged);
    tap(box->edit);
    QCOMPARE(box->edit->text(), QStringLiteral("40"));
    tap(other);   // leaving the field checks and shows the value again
    QCOMPARE(box->value(), 40);
    QCOMPARE(box->edit->text(), QStringLiteral("40"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), 40);
}

void TestCompound::editIPGetAddress_data()
{
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QString>("address");
    QTest::newRow("empty and non-numeric parts") << QStringList{"192", "", "1x", "7"} << "192.0.0.7";
    QTest::newRow("plain") << QStringList{"10", "0", "0", "1"} << "10.0.0.1";
    QTest::newRow("dots inside a part are dropped") << QStringList{"1.", "2", "3", "4"} << "1.2.3.4";
    QTest::newRow("as typed") << QStringList{"007", "1", "1", "1"} << "7.1.1.1";
}

void TestCompound::editIPGetAddress()
{
    QFETCH(QStringList, parts);
    QFETCH(QString, address);
    EditIP ip(QStringLiteral("IP"), 0);
    for (int i = 0; i < 4; ++i)
        ip.parts[i]->setText(parts[i]);
    QCOMPARE(ip.getAddress(), address);
}

void TestCompound::editIPSetAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address");   // parts start as 1.2.3.9
    QTest::newRow("full") << "192.168.1.20" << "192.168.1.20";
    QTest::newRow("short text keeps the rest") << "10.1" << "10.1.3.9";
    QTest::newRow("empty segment keeps its part") << "10..5.6" << "10.2.5.6";
    QTest::newRow("further dots restart part 4") << "1.2.3.4.5" << "1.2.3.5";
    QTest::newRow("trailing further dot") << "1.2.3.4." << "1.2.3.9";
    QTest::newRow("above 255 is clamped") << "300.1.1.1" << "255.1.1.1";
    QTest::newRow("empty text") << "" << "1.2.3.9";
}

void TestCompound::editIPSetAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    EditIP ip(QStringLiteral("IP"), 1);
    ip.setAddress(QStringLiteral("1.2.3.9"));
    QSignalSpy changes(&ip, &EditIP::textchange);
    ip.setAddress(text);
    QCOMPARE(ip.getAddress(), address);
    if (!changes.isEmpty())
        QCOMPARE(changes.last().at(0).toString(), address);
    QCOMPARE(ip.parts[0]->flags, Edit::Numeric | Edit::PadInNetDialog);
}

void TestCompound::editIPDotMovesOn()
{
    KitEnv env;
    QWidget screen;
    screen.setGeometry(0, 0, 1000, 400);
    auto* ip = new EditIP(QStringLiteral("IP"), 0, &screen);
    ip->setGeometry(0, 0, 900, 80);
    QVERIFY(showWindow(&screen));
    ip->parts[1]->setText(QStringLiteral("77"));
    ip->parts[0]->setFocus();
    QTRY_VERIFY(ip->parts[0]->hasFocus());
    QTest::keyClick(ip->parts[0], Qt::Key_Period);
    QCOMPARE(ip->parts[1]->text(), QStringLiteral("0"));
    QTRY_VERIFY(ip->parts[1]->hasFocus());
    QCOMPARE(Edit::currentEdit(), ip->parts[1]);
}

void TestCompound::colorButtonFont_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("lan");
    QTest::addColumn<int>("px");
    QTest::newRow("3 Chinese") << 3 << 0 << 27;
    QTest::newRow("3 English") << 3 << 1 << 22;
    QTest::newRow("4 Traditional") << 4 << 2 << 30;
}

void TestCompound::colorButtonFont()
{
    QFETCH(int, style);
    QFETCH(int, lan);
    QFETCH(int, px);
    gLan = lan;
    ColorButton b(QStringLiteral("x"), nullptr, style);
    gLan = 0;
    QVERIFY(b.styleSheet().contains(QStringLiteral("font-size:%1px;").arg(px)));
    b.SetRepeat();
    QVERIFY(b.autoRepeat());
    QCOMPARE(b.autoRepeatDelay(), 300);
    QCOMPARE(b.autoRepeatInterval(), 50);
}

void TestCompound::sliderDragStart_data()
{
    QTest::addColumn<int>("offset");   // from the thumb's left edge
    QTest::addColumn<bool>("drag");
    QTest::newRow("25 left") << -25 << false;
    QTest::newRow("21 left") << -21 << false;
    QTest::newRow("20 left") << -20 << true;
    QTest::newRow("15 left") << -15 << true;
    QTest::newRow("29 right") << 29 << true;   // thumb width 10, plus 19
    QTest::newRow("30 right") << 30 << false;
}

void TestCompound::sliderDragStart()
{
    QFETCH(int, offset);
    QFETCH(bool, drag);
    Slider s(0, 100, 10, 50, nullptr, QStringLiteral("Exp"));
    s.resize(900, 60);
    // 505-pixel track: fill offset 15, fill scale 469, fill 234 at the middle.
    QCOMPARE(s.computeThumbRect(), QRect(564, 3, 10, 54));
    mouse(&s, QEvent::MouseButtonPress, 564 + offset);
    QCOMPARE(s.dragX >= 0, drag);
}

void TestCompound::sliderSlowMovesAccumulate()
{
    Slider s(0, 100, 10, 50, nullptr, QStringLiteral("Exp"));
    s.resize(900, 60);
    QSignalSpy changed(&s, &QAbstractSlider::valueChanged);
    mouse(&s, QEvent::MouseButtonPress, 560);
    mouse(&s, QEvent::MouseMove, 562);   // under one step: nothing yet
    mouse(&s, QEvent::MouseMove, 564);
    QCOMPARE(s.value(), 50);
    mouse(&s, QEvent::MouseMove, 565);   // 5 pixels from the press: one step
    QCOMPARE(s.value(), 51);
    mouse(&s, QEvent::MouseMove, 565 - 47);
    QCOMPARE(s.value(), 41);
    mouse(&s, QEvent::MouseMove, 0);
    QCOMPARE(s.value(), 0);
    mouse(&s, QEvent::MouseButtonRelease, 0);
    QCOMPARE(s.dragX, -1);
    mouse(&s, QEvent::MouseMove, 900);   // no drag: nothing
    QCOMPARE(s.value(), 0);
    QCOMPARE(changed.count(), 3);
}

void TestCompound::sliderValueBox()
{
    KitEnv env;
    QWidget screen;
    screen.setGeometry(0, 0, 1200, 700);
    auto* s = new Slider(10, 200, 10, 50, &screen, QStringLiteral("Exp"));
    s->setGeometry(20, 20, 900, 60);
    QVERIFY(showWindow(&screen));
    QSignalSpy changed(s, &QAbstractSlider::valueChanged);

    mouse(s, QEvent::MouseButtonRelease, 220);   // painted box, but past 214
    QVERIFY(!gpNumPad->isVisible());

    mouse(s, QEvent::MouseButtonRelease, 150);
    QVERIFY(gpNumPad->isVisible());
    QCOMPARE(Edit::currentEdit(), s->valueEdit);
    QCOMPARE(gpNumPad->parentWidget(), &screen);
    QCOMPARE(s->value(), 50);   // a tap alone does not write the minimum
    QVERIFY(typeDigits(QStringLiteral("75")));
    QCOMPARE(s->value(), 75);
    tap(gpNumPad->eraseKey);
    QCOMPARE(s->value(), 10);   // "7", kept within the range
    tap(gpNumPad->hideKey);
    QVERIFY(!gpNumPad->isVisible());
    QVERIFY(!Edit::currentEdit());

    // Looked at only: the value stays.
    mouse(s, QEvent::MouseButtonRelease, 150);
    tap(gpNumPad->hideKey);
    QCOMPARE(s->value(), 10);

    // An erase right after the tap edits the slider's own value.
    s->setValue(123);
    mouse(s, QEvent::MouseButtonRelease, 150);
    tap(gpNumPad->eraseKey);
    QCOMPARE(s->value(), 12);
    QVERIFY(typeDigits(QStringLiteral("9999999999")));
    QCOMPARE(s->value(), 200);
    tap(gpNumPad->hideKey);
}

void TestCompound::sliderDegenerateRanges()
{
    Slider same(5, 5, 1, 5, nullptr, QStringLiteral("One"));
    same.resize(900, 60);
    QCOMPARE(same.fillWidth(), 0);
    QVERIFY(!same.grab().isNull());
    mouse(&same, QEvent::MouseButtonPress, same.computeThumbRect().x());
    mouse(&same, QEvent::MouseMove, 800);
    QCOMPARE(same.value(), 5);

    Slider narrow(0, 100, 1, 50, nullptr, QStringLiteral("Narrow"));
    narrow.resize(200, 60);
    mouse(&narrow, QEvent::MouseButtonPress, 0);
    QCOMPARE(narrow.trackLength, 0);
    QCOMPARE(narrow.fillWidth(), 0);
    QVERIFY(!narrow.grab().isNull());
    mouse(&narrow, QEvent::MouseButtonPress, narrow.computeThumbRect().x());
    QVERIFY(narrow.dragX >= 1);
    mouse(&narrow, QEvent::MouseMove, 190);
    QCOMPARE(narrow.value(), 50);

    Slider wide(INT_MIN, INT_MAX, 1, 0, nullptr, QStringLiteral("Wide"));
    wide.resize(900, 60);
    wide.Add();
    QCOMPARE(wide.value(), 1);
    wide.setValue(INT_MAX);
    wide.Add();
    QCOMPARE(wide.value(), INT_MAX);
    QVERIFY(!wide.grab().isNull());
    QCOMPARE(wide.fillWidth(), wide.fillScale);
    mouse(&wide, QEvent::MouseButtonPress, wide.computeThumbRect().x());
    mouse(&wide, QEvent::MouseMove, 0);
    QVERIFY(wide.value() < INT_MAX);

    wide.Reset(0, 10, 1, 3, QStringLiteral("Again"));
    QCOMPARE(wide.objectName(), QStringLiteral("Again"));
    QCOMPARE(wide.value(), 3);
    QCOMPARE(wide.dragX, -1);
}

void TestCompound::setSystemClock()
{
    KitEnv env;
    EditDateTime dt(QStringLiteral("Time"));
    dt.dateEdit->setDate(QDate(2024, 3, 7));
    dt.timeEdit->setTime(QTime(10, 5, 9));
    QVERIFY(dt.setSysDateTime());
    QCOMPARE(env.runner.commands,
             (QStringList{QStringLiteral("date -s 2024-03-07 10:05:09"), QStringLiteral("hwclock --systohc")}));
    QCOMPARE(*dt.dateTime, QDateTime(QDate(2024, 3, 7), QTime(10, 5, 9)));

    env.runner.commands.clear();
    env.runner.failProgram = QStringLiteral("date");
    QVERIFY(!dt.setSysDateTime());
    QCOMPARE(env.runner.commands.size(), 2);   // the hardware clock is still tried

    dt.ShowDateTime();
    QVERIFY(qAbs(QDateTime(dt.dateEdit->date(), dt.timeEdit->time()).secsTo(QDateTime::currentDateTime())) < 5);
}

void TestCompound::comboAndCheckBox()
{
    ComboBox combo;
    combo.addItem(QStringLiteral("a"));
    QSignalSpy clicks(&combo, &ComboBox::clicked);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&combo, &press);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(combo.focusPolicy(), Qt::NoFocus);
    combo.setItemHeight(50);
    QCOMPARE(combo.itemHeight(), 50);
    QCOMPARE(combo.styleSheet(), QStringLiteral("QComboBox QAbstractItemView::item{height:50px;}"
                                                "QComboBox::tab-bar{border-width:0px;}"));

    CheckBox check(nullptr, QStringLiteral("on"));
    check.setValue(7);
    QCOMPARE(check.value(), 1);
    check.setValue(0);
    QCOMPARE(check.value(), 0);
}

QTEST_MAIN(TestCompound)
#include "tst_compound.moc"
