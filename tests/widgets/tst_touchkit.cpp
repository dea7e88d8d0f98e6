// The kit's caption rule: a caption that does not fit breaks between words
// only (Chinese and Japanese between characters), else it is drawn smaller.
// (Touch sizes, check-box captions and drop-down rows are checked on the
// real screens by mainwindow_tst_screens.)
#include "colorbutton.h"
#include "publictools_widget.h"

#include <QtTest>

class TestTouchKit : public QObject {
    Q_OBJECT
private slots:
    void captionsBreakBetweenWords_data();
    void captionsBreakBetweenWords();
    void wrappedCaptionShrinksInsteadOfBreakingAWord();
    void clausesAndPhrasesStartALineRatherThanBreak();
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
    // Ideographs stand alone; a run of kana is one word, a closing mark
    // stays with the word before it.
    const QVector<QPair<QString, QStringList>> words{
        {QStringLiteral("自動シェーディング on"), {"自", "動", "シェーディング", "on"}},
        {QStringLiteral("エジェクタ"), {"エジェクタ"}},
        {QStringLiteral("安全ドア"), {"安", "全", "ドア"}},
        {QStringLiteral("ライブ↔テンプレート"), {"ライブ↔テンプレート"}},
        {QStringLiteral("前のテンプレート"), {"前", "の", "テンプレート"}},
        {QStringLiteral("プログラムを更新"), {"プログラムを", "更", "新"}},
        {QStringLiteral("是否更新程序？"), {"是", "否", "更", "新", "程", "序？"}},
        {QStringLiteral("Running version 1.2\r\nVersion"), {"Running", "version", "1.2", "Version"}},
    };
    for (const auto& w : words)
        QCOMPARE(unbreakableWords(w.first), w.second);
    // Lines break only between those words, however narrow the room.
    f.setPixelSize(20);
    const QFontMetrics fm(f);
    for (const QString& text : {QStringLiteral("安全ドア アラーム エジェクタ"), QStringLiteral("ライブ↔テンプレート"),
                                QStringLiteral("USBメモリがありません、\r\n挿入して再試行しますか？")})
        for (int width : {10, 60, 120, 400}) {
            const QString lines = wrapAtWords(text, fm, width);
            QStringList rejoined;
            for (const QString& line : lines.split(QLatin1Char('\n')))
                rejoined << unbreakableWords(line);
            QCOMPARE(rejoined, unbreakableWords(text));
            for (const QString& line : lines.split(QLatin1Char('\n')))
                QVERIFY2(fm.horizontalAdvance(line) <= width || unbreakableWords(line).size() == 1, qPrintable(line));
        }
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

// A Chinese clause and a Japanese phrase that fit on a line are not broken
// ("容|量", "収|まりません", "金|型"); one wider than a line still is.
void TestTouchKit::clausesAndPhrasesStartALineRatherThanBreak()
{
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(40);
    const QFontMetrics fm(f);
    const struct {
        const char* text;
        int room;   // in characters of the text
        QStringList lines;
    } cases[] = {
        {"更新包解压后过大，超出本机磁盘的容量，\r\n程序未改变！", 17, {"更新包解压后过大，", "超出本机磁盘的容量，", "程序未改变！"}},
        {"更新パッケージが大きすぎて、このコンピュータのディスクに収まりません。", 29,
         {"更新パッケージが大きすぎて、このコンピュータのディスクに", "収まりません。"}},
        {"完成品がNGの場合、安全ドアの開閉後に直接スキップし、金型キャビティを再検査する", 27,
         {"完成品がNGの場合、安全ドアの開閉後に直接スキップし、", "金型キャビティを再検査する"}},
        {"「%1」がオン：テンプレート", 8, {"「%1」がオン：", "テンプレート"}},
        {"启用检测产品", 3, {"启用检", "测产品"}},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        const int width = fm.horizontalAdvance(text.left(c.room));
        QCOMPARE(wrapAtWords(text, fm, width).split(QLatin1Char('\n')), c.lines);
    }
}

QTEST_MAIN(TestTouchKit)
#include "tst_touchkit.moc"
