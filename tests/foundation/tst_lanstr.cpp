#include "lanstr.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <climits>
#include <memory>

namespace {

// Rows 0-717 that hold no text.
const QSet<int> kGaps = {153, 321, 322, 530, 531, 532, 533, 534, 535, 536, 537, 538,
                         539, 578, 632, 633, 634, 635, 636, 637, 638, 639, 648};
// Rows shown only in Chinese: the English cell is empty.
const QSet<int> kNoEnglish = {549, 552, 553, 555, 557, 561};
// Rows without a Japanese text.
const QSet<int> kNoJapanese = {557};

const char* const kColumnName[kLanCols] = {"zh_CN", "en", "zh_TW", "ja"};

QSet<int> placeholders(const QString& text)
{
    QSet<int> found;
    static const QRegularExpression re(QStringLiteral("%(\\d)"));
    auto it = re.globalMatch(text);
    while (it.hasNext())
        found.insert(it.next().captured(1).toInt());
    return found;
}

QString leadingBlanks(const QString& text)
{
    int n = 0;
    while (n < text.size() && text.at(n) == QLatin1Char(' '))
        ++n;
    return text.left(n);
}

struct Table {
    std::unique_ptr<QString[][kLanCols]> rows{new QString[kLanRows][kLanCols]};
    QString at(int r, int c) const { return rows[r][c]; }
};

}  // namespace

class TestLanStr : public QObject {
    Q_OBJECT
private:
    int savedLan = 0;

private slots:
    void initTestCase()
    {
        savedLan = gLan;
        QCOMPARE(initLanStr(), 713);
        // A refill starts from an empty table: nothing stale survives.
        gaLanStr[153][kLanEnglish] = QStringLiteral("stale");
        gaLanStr[2][kLanJapanese] = QStringLiteral("stale");
        QCOMPARE(initLanStr(), 713);
    }
    void cleanup() { gLan = savedLan; }

    void filledRowsAndGaps()
    {
        int filled = 0;
        for (int r = 0; r < kLanRows; ++r) {
            const bool listed = (r <= 718 || (r >= 728 && r <= 732) || (r >= 736 && r <= 740) || (r >= 745 && r <= 750) || r == 752) && !kGaps.contains(r);
            for (int c = 0; c < kLanCols; ++c) {
                const bool expectText = listed
                    && !(c == kLanEnglish && kNoEnglish.contains(r))
                    && !(c == kLanJapanese && kNoJapanese.contains(r));
                QVERIFY2(gaLanStr[r][c].isEmpty() != expectText,
                         qPrintable(QStringLiteral("row %1 column %2").arg(r).arg(kColumnName[c])));
            }
            filled += listed;
        }
        QCOMPARE(filled, 713);
    }

    // Callers fill texts with QString::arg and lay out multi-line boxes from
    // the line breaks, so every language must carry the same placeholders,
    // the same number of breaks and the same leading blanks as the English
    // text (or the Chinese one where there is no English text).
    void columnsAgree()
    {
        for (int r = 0; r <= 737; ++r) {
            const QString ref = gaLanStr[r][kLanEnglish].isEmpty() ? gaLanStr[r][kLanSimplifiedChinese]
                                                                   : gaLanStr[r][kLanEnglish];
            if (ref.isEmpty())
                continue;
            const QSet<int> refArgs = placeholders(ref);
            // Placeholders are numbered 1..n without holes.
            for (int k = 1; k <= refArgs.size(); ++k)
                QVERIFY2(refArgs.contains(k), qPrintable(QString::number(r)));
            for (int c = 0; c < kLanCols; ++c) {
                const QString t = gaLanStr[r][c];
                if (t.isEmpty())
                    continue;
                const QByteArray where = QStringLiteral("row %1 column %2: %3")
                                             .arg(r).arg(kColumnName[c]).arg(t).toUtf8();
                QVERIFY2(placeholders(t) == refArgs, where.constData());
                // Row 0's Japanese text is broken over two lines on purpose.
                if (!(r == 0 && c == kLanJapanese)) {
                    QVERIFY2(t.count(QLatin1Char('\n')) == ref.count(QLatin1Char('\n')), where.constData());
                    QVERIFY2(t.count(QLatin1Char('\r')) == ref.count(QLatin1Char('\r')), where.constData());
                }
                // Row 16's Chinese and Japanese texts are padded on purpose.
                if (r != 16)
                    QVERIFY2(leadingBlanks(t) == leadingBlanks(ref), where.constData());
            }
        }
    }

    void exactRows_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        auto add = [](int row, int column, const QString& text) {
            QTest::addRow("%d/%s", row, kColumnName[column]) << row << column << text;
        };
        add(0, 0, QStringLiteral("相机参数文件打开错误！"));
        add(0, 1, QStringLiteral("Camera parameter file error!"));
        add(0, 2, QStringLiteral("相機參數檔打開錯誤！"));
        const char* const row2[] = {"功能：", "Func", "功能：", "機能："};
        const char* const row16[] = {" 保    留 ", "Reserved", " 保    留 ", " 保    持"};
        const char* const row652[] = {"完成", "complete", "完成", "完了"};
        for (int c = 0; c < kLanCols; ++c) {
            add(2, c, QString::fromUtf8(row2[c]));
            add(16, c, QString::fromUtf8(row16[c]));
            add(652, c, QString::fromUtf8(row652[c]));
        }
        const struct { int row; const char* text; } english[] = {
            {1, "Regional parameter file error, \r\n please restore the Parameter Group \r\n or contact the supplier!"},
            {39, "Warning: The camera is unavailable, \r\n please check the connection!"},
            {68, "If you want to delete the first \r\ntemplate, please click \"Resample\"!"},
            {160, "System parameter file error, please \r\n restore parameter group \r\n or contact supplier"},
            {204, "  Break"},
            {250, "active"},
            {251, "deactive"},
            {286, "Restore the parameter group to %1"},
            {328, "Network Settings"},
            {330, "Mask"},
            {345, "delay setting"},
            {404, "   Open"},
            {458, "calibrate \n touch screen"},
            {495, "   Input %1"},
            {512, "No select was made for \r\n the last detection!"},
            {527, "Are you sure you want to \r\n restore the default settings"},
            {598, "Whether to enable big data networking"},
            {599, "Whether to transmit video"},
            {600, "Native ID"},
            {601, "Server port:"},
            {602, "server address:"},
            {603, "Unsuccessful communication with ZIz"},
            {604, "Failed to connect to the server"},
            {605, "Networking program not started"},
            {606, "This machine is not registered on the server"},
            {607, "Connection successful"},
            {608, "static state"},
            {609, "Automatically"},
            {610, "Connection mode"},
            {611, "Default gateway"},
            {612, "Default DNS"},
            {613, "Whether to enable this network card"},
            {649, "Find the camera and obtain the image"},
            {650, "Load application interface"},
            {651, "Load other plugins"},
            {653, "Default is the default parameter \n group and cannot be operated on. \n Please choose a new name for backup!"},
            {669, "password:"},
            {678, "Image storage disk exception warning"},
        };
        for (const auto& e : english)
            add(e.row, kLanEnglish, QString::fromUtf8(e.text));
        const struct { int row; const char* text; } chineseOnly[] = {
            {549, "早班 / 晚班"}, {552, "统计文件不存在，需要重启来生成它"}, {553, "冲压"},
            {555, "温度报警控制合模"}, {557, "产品名称:"}, {561, "方向识别"},
        };
        for (const auto& e : chineseOnly)
            add(e.row, kLanSimplifiedChinese, QString::fromUtf8(e.text));
    }
    void exactRows()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, text);
        QCOMPARE(gaLanStr[row][column], text);
        QCOMPARE(lanStr(row, column), text);
    }

    // The operation record writes the restored group's name into row 286.
    void groupNameReachesEveryLanguage()
    {
        for (int c = 0; c < kLanCols; ++c) {
            const QString text = lanStr(286, c).arg(QStringLiteral("mouldA"));
            QVERIFY2(text.contains(QLatin1String("mouldA")), qPrintable(text));
        }
    }

    void accessorFallbacks_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("lan");
        QTest::addColumn<int>("fromColumn");
        QTest::addColumn<bool>("emptied");       // the test empties the row's cell of `lan`
        QTest::newRow("own text") << 2 << int(kLanJapanese) << int(kLanJapanese) << false;
        QTest::newRow("no Japanese, English") << 621 << int(kLanJapanese) << int(kLanEnglish) << true;
        QTest::newRow("no English, Chinese") << 549 << int(kLanEnglish) << int(kLanSimplifiedChinese) << false;
        QTest::newRow("neither, Chinese") << 557 << int(kLanJapanese) << int(kLanSimplifiedChinese) << false;
        QTest::newRow("Traditional own") << 557 << int(kLanTraditionalChinese) << int(kLanTraditionalChinese) << false;
    }
    void accessorFallbacks()
    {
        QFETCH(int, row);
        QFETCH(int, lan);
        QFETCH(int, fromColumn);
        QFETCH(bool, emptied);
        const QString own = gaLanStr[row][lan];
        const auto restore = qScopeGuard([&] { gaLanStr[row][lan] = own; });
        if (emptied)
            gaLanStr[row][lan].clear();
        const QString expected = gaLanStr[row][fromColumn];
        QVERIFY(!expected.isEmpty());
        QCOMPARE(lanStr(row, lan), expected);
        gLan = lan;
        QCOMPARE(lanStr(row), expected);
    }

    void outOfRangeIsEmpty_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("lan");
        QTest::newRow("row -1") << -1 << 0;
        QTest::newRow("row 2048") << 2048 << 1;
        QTest::newRow("row INT_MIN") << INT_MIN << 1;
        QTest::newRow("row INT_MAX") << INT_MAX << 1;
        QTest::newRow("lan -1") << 2 << -1;
        QTest::newRow("lan 4") << 2 << 4;
        QTest::newRow("gap row") << 153 << 1;
        QTest::newRow("spare row") << 2000 << 0;
        QTest::newRow("last row") << 2047 << 3;
    }
    void outOfRangeIsEmpty()
    {
        QFETCH(int, row);
        QFETCH(int, lan);
        QVERIFY(lanStr(row, lan).isEmpty());
        gLan = lan;
        QVERIFY(lanStr(row).isEmpty());
    }

    void parserDecodes()
    {
        Table t;
        const QByteArray data =
            "# comment\n"
            "\n"
            "5\ta\\r\\nb\tx\\ty\tback\\\\slash\t\n"
            "7\t\xe4\xb8\xad\tE\t\xe4\xb8\xad\t\xe6\x97\xa5\r\n"  // CRLF line end
            "2047\t  lead\t%1\t\t";                                // no final line feed
        QCOMPARE(parseLanStr(data, t.rows.get()), 3);
        QCOMPARE(t.at(5, 0), QStringLiteral("a\r\nb"));
        QCOMPARE(t.at(5, 1), QStringLiteral("x\ty"));
        QCOMPARE(t.at(5, 2), QStringLiteral("back\\slash"));
        QCOMPARE(t.at(5, 3), QString());
        QCOMPARE(t.at(7, 0), QStringLiteral("中"));
        QCOMPARE(t.at(7, 3), QStringLiteral("日"));
        QCOMPARE(t.at(2047, 0), QStringLiteral("  lead"));
        QCOMPARE(t.at(2047, 1), QStringLiteral("%1"));
    }

    void parserRefusesBadLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("too few fields") << QByteArray("9\ta\tb\tc") << "expected a row number";
        QTest::newRow("too many fields") << QByteArray("9\ta\tb\tc\td\te") << "expected a row number";
        QTest::newRow("empty row number") << QByteArray("\ta\tb\tc\td") << "bad row number";
        QTest::newRow("negative row") << QByteArray("-1\ta\tb\tc\td") << "bad row number";
        QTest::newRow("row 2048") << QByteArray("2048\ta\tb\tc\td") << "bad row number";
        QTest::newRow("huge row") << QByteArray("99999999999\ta\tb\tc\td") << "bad row number";
        QTest::newRow("row with blank") << QByteArray(" 9\ta\tb\tc\td") << "bad row number";
        QTest::newRow("repeated row") << QByteArray("1\tdup\tdup\tdup\tdup") << "row given twice";
        QTest::newRow("unknown escape") << QByteArray("9\ta\\x\tb\tc\td") << "bad escape";
        QTest::newRow("lone backslash") << QByteArray("9\ta\tb\tc\td\\") << "bad escape";
        QTest::newRow("invalid UTF-8") << QByteArray("9\ta\t\xff\xfe\tc\td") << "not UTF-8";
        QTest::newRow("cut UTF-8") << QByteArray("9\ta\t\xe4\xb8\tc\td") << "not UTF-8";
    }
    void parserRefusesBadLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, reason);
        Table t;
        const QByteArray data = "1\tone\tone\tone\tone\n" + line + "\n3\tthree\tthree\tthree\tthree\n";
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^operator texts: line 2 refused: ")
                                                + QRegularExpression::escape(reason)));
        QCOMPARE(parseLanStr(data, t.rows.get()), 2);
        // The lines around it are taken; the refused one changes nothing.
        QCOMPARE(t.at(1, 0), QStringLiteral("one"));
        QCOMPARE(t.at(3, 3), QStringLiteral("three"));
        for (int c = 0; c < kLanCols; ++c)
            QVERIFY(t.at(9, c).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLanStr)
#include "tst_lanstr.moc"
