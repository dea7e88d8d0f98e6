// The kit's touch rules: captions break between words only (Chinese and
// Japanese between characters), check boxes toggle from their caption,
// every combo box's drop-down rows are touch-high at readable text.
#include "colorbutton.h"
#include "publictools_widget.h"

#include <QAbstractItemView>
#include <QtTest>

class TestTouchKit : public QObject {
    Q_OBJECT
private slots:
    void captionsBreakBetweenWords_data();
    void captionsBreakBetweenWords();
    void wrappedCaptionShrinksInsteadOfBreakingAWord();
    void checkBoxTogglesFromItsCaption();
    void dropDownRowsAtTouchSize();
};

void TestTouchKit::captionsBreakBetweenWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("shown");   // the caption as drawn
    QTest::newRow("one word shrinks") << QStringLiteral("Confirm") << 60 << QStringLiteral("Confirm");
    QTest::newRow("one long word shrinks") << QStringLiteral("Lower") << 40 << QStringLiteral("Lower");
    QTest::newRow("two words wrap") << QStringLiteral("Multiple detection IO Settings") << 190
                                    << QStringLiteral("Multiple detection\nIO Settings");
    QTest::newRow("Chinese between characters") << QStringLiteral("多次检测IO设置") << 110
                                                << QStringLiteral("多次检测\nIO设置");
    QTest::newRow("Japanese fits") << QStringLiteral("確定") << 100 << QStringLiteral("確定");
}

void TestTouchKit::captionsBreakBetweenWords()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, shown);
    ColorButton b(text, nullptr, 3);
    b.resize(width, 56);
    b.show();
    b.fitCaption();
    QCOMPARE(b.shownCaption(), shown);
    // What is drawn fits the button.
    const QSize need = QFontMetrics(b.font()).size(0, b.shownCaption());
    QVERIFY2(need.width() <= width - 10, qPrintable(QString::number(need.width())));
}

void TestTouchKit::wrappedCaptionShrinksInsteadOfBreakingAWord()
{
    QFont f(QStringLiteral("wqy-microhei"));
    QCOMPARE(unbreakableWords(QStringLiteral("Enable  detection prod")),
             (QStringList{"Enable", "detection", "prod"}));
    QCOMPARE(unbreakableWords(QStringLiteral("自動シェーディング on")).size(), 10);
    // "detection" alone needs more than 60 px at 20 px: the size drops
    // until the longest word fits on its own line.
    const int px = fittingWrappedPixelSize(f, QStringLiteral("Enable detection"), QSize(60, 200), 20);
    QVERIFY(px < 20);
    f.setPixelSize(px);
    QVERIFY(QFontMetrics(f).horizontalAdvance(QStringLiteral("detection")) <= 60);
    f.setPixelSize(px + 1);
    QVERIFY(QFontMetrics(f).horizontalAdvance(QStringLiteral("detection")) > 60);
    // Characters of Chinese need no such room: each may start a line.
    QCOMPARE(fittingWrappedPixelSize(f, QStringLiteral("启用检测产品"), QSize(60, 200), 20), 20);
}

void TestTouchKit::checkBoxTogglesFromItsCaption()
{
    QWidget screen;
    auto* c = new CheckBox(&screen, QStringLiteral("Enable detection of the product"));
    c->setGeometry(0, 0, 300, c->heightForWidth(300));
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    QVERIFY(c->height() >= CheckBox::kTouchHeight);
    QVERIFY(c->boxRect().width() >= 32);
    for (const QPoint at : {c->captionRect().center(), c->captionRect().bottomRight() - QPoint(2, 2),
                            c->boxRect().center()}) {
        const bool was = c->isChecked();
        QTest::mouseClick(c, Qt::LeftButton, {}, at);
        QVERIFY(c->isChecked() != was);
    }
    // A caption too long for one line wraps between its words.
    c->resize(200, c->heightForWidth(200));
    QVERIFY(c->height() > CheckBox::kTouchHeight);
    QCOMPARE(c->captionFont().pixelSize(), CheckBox::kCaptionPixels);
}

void TestTouchKit::dropDownRowsAtTouchSize()
{
    ComboBox combo;
    combo.addItems({QStringLiteral("Left mold"), QStringLiteral("Right mold")});
    QVERIFY(combo.minimumHeight() >= TouchRowDelegate::kMinRowHeight);
    QCOMPARE(QFontInfo(combo.font()).pixelSize(), ComboBox::kTextPixels);
    QVERIFY(combo.view()->sizeHintForRow(0) >= TouchRowDelegate::kMinRowHeight);
    auto* rows = dynamic_cast<TouchRowDelegate*>(combo.view()->itemDelegate());
    QVERIFY(rows);
    QCOMPARE(rows->rowFont().pixelSize(), ComboBox::kTextPixels);
    // A small font set by the owner is never drawn below 16 px in the list.
    QFont small = combo.font();
    small.setPixelSize(12);
    combo.setFont(small);
    QCOMPARE(dynamic_cast<TouchRowDelegate*>(combo.view()->itemDelegate())->rowFont().pixelSize(),
             int(TouchRowDelegate::kMinRowPixels));
    // Asked rows below the touch height stay at it; taller ones are kept.
    combo.setItemHeight(30);
    QCOMPARE(combo.itemHeight(), int(TouchRowDelegate::kMinRowHeight));
    combo.setItemHeight(76);
    QVERIFY(combo.view()->sizeHintForRow(1) >= 76);
    // A plain combo box gets the same rows.
    QComboBox plain;
    plain.addItem(QStringLiteral("x"));
    useTouchRows(&plain);
    QVERIFY(plain.view()->sizeHintForRow(0) >= TouchRowDelegate::kMinRowHeight);
}

QTEST_MAIN(TestTouchKit)
#include "tst_touchkit.moc"
