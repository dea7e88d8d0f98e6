// The system parameter record: the sysparam row layout, the load with its
// repairs and derivations, the save, the password, the display names and the
// group index file.
#include "globals.h"
#include "databases.h"
#include "paramdb.h"
#include "statewindow.h"
#include "support_paramdb.h"
#include "wizardpara.h"

#include <QFile>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

// The stored layout of table sysparam, row by row in load order: the word
// that each value fills ("L" is the language gLan). This is the file format
// shared with every other program version.
const char* const kLayout[] = {
    "trigInDelay 40 41 42 43 44 45 46 47",
    "exposeTime 0 1 2 3",
    "adjustPlus 8 9 10 11",
    "numFailDetect 175 177 187 179 184 180 181 185",
    "numAllDetect 32 33 34 35 36 37 38 39",
    "isPswUsed 98",
    "system1 85 100 94 96 95 178 110 104 163",
    "system2 97 102 171 103 111 112 123 126 122 135 136 160 L 147 148 105 106 114",
    "system3 125 138 107 139 140 141 142 143 108 145 144",
    "system4 99 116 117",
    "sharp 16 17 18 19",
    "contrast 24 25 26 27",
    "system5 4 5 12 13 20 21 28 29 128 186 129 284 130",
    "system6 6 7 14 15 22 23 30 31 115 146 152 137",
    "system7 167 168 169 172 76 77 78 170 79 173 149 216 150 157 80 81 82 83 84 182",
    "system8 217 226 227 228 229 230 231 232 233 234 235 236 237 238 239 240 241 127 151 153",
    "system9 218 219 220 221 222 223 224 225 120 121 131 113 162 132 133 164 165 134 339 187",
    "system10 251 252 253 254 255 256 257 258 259 260 261 262 263 264 265 266 213 214 215 187",
    "system11 285 286 287 288 289 290 291 292 301 302 303 304 305 306 307 308 268 187 187 187",
    "system12 154 317 318 319 320 321 322 323 324 325 326 327 328 329 330 331 332 155 156 174",
    "system13 187 187 187 187 187 187 187 187 187 187 187 187 187 187 187 187 183 158 187 159",
    "system14 124 187 161 166 187 187 187 187 187 187 187 187 187 187 187 187 187 187 187 187",
    "colorArea 118 119",
};

struct LayoutRow {
    QString name;
    QStringList words;
};

QVector<LayoutRow> layout()
{
    QVector<LayoutRow> rows;
    for (const char* line : kLayout) {
        QStringList parts = QString::fromLatin1(line).split(QLatin1Char(' '));
        LayoutRow r;
        r.name = parts.takeFirst();
        r.words = parts;
        rows.append(r);
    }
    return rows;
}

// In-range values for a full round trip: distinct where the ranges allow.
int roundTripValue(int w)
{
    static const QMap<int, int> fixed = {
        {217, 5}, {175, 3}, {116, 16}, {120, 7}, {121, 8}, {102, 12}, {96, -1}, {186, 86},
        {107, 4}, {106, 60}, {167, 1}, {171, 71}, {184, 0},
        {218, 3}, {219, -1}, {220, 0}, {221, 7}, {222, 1}, {223, 2}, {224, 6}, {225, 5},
    };
    if (fixed.contains(w))
        return fixed.value(w);
    if (w >= 226 && w <= 233)
        return 233 - w;          // input slots 7..0
    if (w >= 251 && w <= 258)
        return w - 248;          // input names 3..10
    if (w >= 259 && w <= 266)
        return w - 257;          // output names 2..9
    return 100 + w;
}

void writeRows(ParamDbFixture& db, const std::function<QString(const LayoutRow&)>& text)
{
    QVERIFY(db.exec("create table sysparam (name text, value text)"));
    for (const LayoutRow& r : layout()) {
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("test-own")));
        q.prepare(QStringLiteral("insert into sysparam values(?, ?)"));
        q.addBindValue(r.name);
        q.addBindValue(text(r));
        QVERIFY(q.exec());
    }
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("test-own")));
    q.prepare(QStringLiteral("insert into sysparam values('password', ?)"));
    q.addBindValue(QStringLiteral("12'3\"x;--"));
    QVERIFY(q.exec());
}

QMap<int, int> parseWordList(const QString& words)
{
    QMap<int, int> m;
    for (const QString& kv : words.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList p = kv.split(QLatin1Char('='));
        m.insert(p[0].toInt(), p[1].toInt());
    }
    return m;
}

}  // namespace

class TestWizardPara : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        gLan = 0;
        gDNum = 0;
        for (QString& n : gaName)
            n.clear();
    }

    // Every value position lands in its word, and a save writes every word
    // back into the same position.
    void rowPositionsMapToWords()
    {
        ParamDbFixture db;
        QVector<LayoutRow> rows = layout();
        auto valueAt = [](int row, int pos) { return 10000 + row * 100 + pos; };
        int row = 0;
        QHash<QString, int> rowIndex;
        for (const LayoutRow& r : rows)
            rowIndex.insert(r.name, row++);
        writeRows(db, [&](const LayoutRow& r) {
            QStringList v;
            for (int p = 0; p < r.words.size(); ++p)
                v << QString::number(valueAt(rowIndex[r.name], p));
            return v.join(' ');
        });

        auto rec = std::make_unique<WizardPara>();
        QVERIFY(rec->LoadRows(Databases::get().paramDb(), *Databases::get().paramQuery()));
        int scratch = 0;
        for (const LayoutRow& r : rows) {
            for (int p = 0; p < r.words.size(); ++p) {
                const int v = valueAt(rowIndex[r.name], p);
                if (r.words[p] == QLatin1String("L"))
                    QCOMPARE(gLan, v);
                else if (r.words[p] == QLatin1String("187"))
                    scratch = v;  // the last one read stays
                else
                    QCOMPARE(rec->words[r.words[p].toInt()], v);
            }
        }
        QCOMPARE(rec->words[187], scratch);
        QCOMPARE(rec->passwordText(), QStringLiteral("12'3\"x;--"));

        rec->words[176] = 4242;  // a save writes the chosen mode in place of word 175
        QVERIFY(rec->SaveRows(Databases::get().paramDb(), *Databases::get().paramQuery()));
        for (const LayoutRow& r : rows) {
            QStringList expected;
            for (int p = 0; p < r.words.size(); ++p) {
                if (r.words[p] == QLatin1String("187"))
                    expected << QString::number(scratch);
                else if (r.name == QLatin1String("numFailDetect") && p == 0)
                    expected << QStringLiteral("4242");
                else
                    expected << QString::number(valueAt(rowIndex[r.name], p));
            }
            QCOMPARE(db.value("sysparam", r.name), expected.join(' '));
            QCOMPARE(db.rowCount("sysparam", r.name), 1);
        }
        QCOMPARE(db.value("sysparam", "password"), QStringLiteral("12'3\"x;--"));
    }

    // A record whose values are all within range survives load and save
    // exactly, text for text.
    void loadSaveRoundTripIsExact()
    {
        ParamDbFixture db;
        QHash<QString, QString> written;
        writeRows(db, [&](const LayoutRow& r) {
            QStringList v;
            for (const QString& w : r.words)
                v << QString::number(w == QLatin1String("L") ? 2 : roundTripValue(w.toInt()));
            written.insert(r.name, v.join(' '));
            return v.join(' ');
        });
        QFile names(QStringLiteral("name.txt"));
        QVERIFY(!names.exists());

        auto rec = std::make_unique<WizardPara>();
        rec->LoadDatafromFile();
        QCOMPARE(gLan, 2);
        QCOMPARE(gDNum, 5);
        rec->SaveDatatoFile();
        for (const LayoutRow& r : layout())
            QCOMPARE(db.value("sysparam", r.name), written.value(r.name));

        // A restart reads the same record back.
        db.reopen();
        auto again = std::make_unique<WizardPara>();
        again->LoadDatafromFile();
        QVERIFY(*again == *rec);
    }

    void damagedValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");  // words 0..3
        QTest::newRow("too few") << "5 6" << "5 6 0 0";
        QTest::newRow("surplus ignored") << "1 2 3 4 5 6" << "1 2 3 4";
        QTest::newRow("empty") << "" << "0 0 0 0";
        QTest::newRow("non-numeric stops") << "7 x 9 9" << "7 0 0 0";
        QTest::newRow("extra blanks") << "  8\t 9   10 11 " << "8 9 10 11";
        QTest::newRow("beyond 32 bits stops") << "1 99999999999 3 4" << "1 0 0 0";
    }
    void damagedValues()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        ParamDbFixture db;
        QVERIFY(db.exec("create table sysparam (name text, value text)"));
        QVERIFY(db.exec(QStringLiteral("insert into sysparam values('exposeTime', '%1')").arg(text)));
        auto rec = std::make_unique<WizardPara>();
        for (int c = 0; c < 4; ++c)
            rec->words[c] = 77;
        QVERIFY(rec->LoadRows(Databases::get().paramDb(), *Databases::get().paramQuery()));
        QStringList got;
        for (int c = 0; c < 4; ++c)
            got << QString::number(rec->words[c]);
        QCOMPARE(got.join(' '), expected);
    }

    void rangeChecks_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("exposure 10000 kept") << 3 << 10000 << 10000;
        QTest::newRow("exposure 10001") << 3 << 10001 << 30;
        QTest::newRow("exposure negative") << 7 << -1 << 30;
        QTest::newRow("gain") << 12 << 10001 << 32;
        QTest::newRow("sharpness") << 16 << -5 << 0;
        QTest::newRow("contrast") << 31 << 20000 << 50;
        QTest::newRow("gamma") << 39 << 10001 << 70;
        QTest::newRow("steps 1") << 217 << 1 << 2;
        QTest::newRow("steps 9") << 217 << 9 << 2;
        QTest::newRow("steps 8 kept") << 217 << 8 << 8;
        QTest::newRow("mode 4") << 175 << 4 << 0;
        QTest::newRow("pre-cut") << 178 << 10001 << 0;
        QTest::newRow("recheck") << 110 << -3 << 0;
        QTest::newRow("filter 0") << 116 << 0 << 3;
        QTest::newRow("filter 100 kept") << 116 << 100 << 100;
        QTest::newRow("area 1001") << 117 << 1001 << 100;
        QTest::newRow("colour min 0") << 118 << 0 << 1000;
        QTest::newRow("colour max 100001") << 119 << 100001 << 1000;
        QTest::newRow("accuracy 11") << 120 << 11 << 5;
        QTest::newRow("layers 10 kept") << 121 << 10 << 10;
        QTest::newRow("templates 0") << 102 << 0 << 10;
        QTest::newRow("templates 101") << 102 << 101 << 10;
        QTest::newRow("NG pictures") << 103 << 20001 << 0;
        QTest::newRow("OK pictures kept") << 104 << 20000 << 20000;
        QTest::newRow("ejector pulse") << 111 << 10001 << 0;
        QTest::newRow("clamp pulse") << 112 << -1 << 0;
        QTest::newRow("motion 1") << 96 << 1 << -1;
        QTest::newRow("motion 0 kept") << 96 << 0 << 0;
        QTest::newRow("motion -1 kept") << 96 << -1 << -1;
        QTest::newRow("angle 181") << 186 << 181 << 0;
        QTest::newRow("logout") << 108 << 10001 << 0;
        QTest::newRow("amplify 5") << 107 << 5 << 0;
        QTest::newRow("offset 0") << 148 << 0 << 8000;
        QTest::newRow("offset 8000 kept") << 148 << 8000 << 8000;
        QTest::newRow("screen off 0 kept") << 105 << 0 << 0;
        QTest::newRow("screen off 29") << 105 << 29 << 600;
        QTest::newRow("screen off 30 kept") << 105 << 30 << 30;
        QTest::newRow("screen off 9999 kept") << 105 << 9999 << 9999;
        QTest::newRow("screen off 10000") << 105 << 10000 << 600;
        QTest::newRow("speed") << 106 << 101 << 12;
        QTest::newRow("input time-out") << 114 << 100000001 << 60;
        QTest::newRow("serial port") << 167 << 101 << 0;
        QTest::newRow("spot filter 0") << 171 << 0 << 3;
        QTest::newRow("USB days 0 (signed)") << 213 << 0 << 31;
        QTest::newRow("USB days negative") << 213 << -4 << 31;
        QTest::newRow("USB days large kept") << 213 << 2000000000 << 2000000000;
        QTest::newRow("scratch") << 187 << 100000001 << 0;
        QTest::newRow("colour spots always off") << 184 << 1 << 0;
    }
    void rangeChecks()
    {
        QFETCH(int, word);
        QFETCH(int, stored);
        QFETCH(int, expected);
        auto rec = std::make_unique<WizardPara>();
        rec->words[139] = 1;
        rec->words[word] = stored;
        rec->CheckRange();
        QCOMPARE(rec->words[word], expected);
    }

    void rangeChecksOfLanguageModeAndAlgorithms()
    {
        auto rec = std::make_unique<WizardPara>();
        gLan = 5;
        rec->words[175] = 2;
        rec->words[176] = 0;
        rec->CheckRange();
        QCOMPARE(gLan, 0);
        QCOMPARE(rec->words[176], 2);   // the mode in force is also the chosen one
        QCOMPARE(rec->words[139], 1);   // no algorithm on: defect detection comes on
        rec->words[139] = 0;
        rec->words[183] = 1;
        rec->CheckRange();
        QCOMPARE(rec->words[139], 0);
        gLan = 3;
        rec->CheckRange();
        QCOMPARE(gLan, 3);
    }

    void stepLayout_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("dnum");
        QTest::addColumn<QString>("expected");
        QTest::newRow("standard, semi-auto, ejector kept")
            << "175=0 85=1 123=0 100=1" << 2 << "267=4 87=1 86=1 49=0 50=2 80=1 81=1 82=1 83=1";
        QTest::newRow("standard, cut ejector")
            << "175=0 85=0 123=1 100=0 80=1" << 2 << "86=0 50=0 80=0 81=0 82=0 83=0";
        QTest::newRow("two-colour, left mould")
            << "175=1 177=0 100=1" << 4 << "267=4 87=1 88=0 89=0 86=1 49=0 50=2";
        QTest::newRow("two-colour, right mould")
            << "175=1 177=1 100=1" << 4 << "89=1 86=0 87=0 88=1 49=0 50=3";
        QTest::newRow("two-colour, all moulds")
            << "175=1 177=2 100=0" << 4 << "87=1 89=1 86=0 88=0 49=0 50=255";
        QTest::newRow("turntable, right mould, semi-auto")
            << "175=2 177=1 85=1 100=1" << 4 << "49=3 50=2 88=1";
        QTest::newRow("turntable, all moulds")
            << "175=2 177=3 85=0 100=1" << 4 << "49=255 50=255 86=1 88=1";
        QTest::newRow("turntable, mould word 9")
            << "175=2 177=9 100=1" << 4 << "177=0 49=0 50=0 87=1";
        QTest::newRow("multi, three steps")
            << "175=3 217=3 218=0 219=2 220=-1 221=4 226=1 228=7"
            << 3 << "267=3 86=1 49=2 242=0 87=1 50=8 243=2 88=0 51=-1 244=-1 89=0 52=-1 245=55";
        QTest::newRow("multi, first step off") << "175=3 217=2 218=-1 219=1 227=0" << 2 << "86=0 49=-1 242=-1 87=1 50=0";
        QTest::newRow("multi, row out of range")
            << "175=3 217=2 218=9 219=-2 226=0" << 2 << "86=0 49=-1 242=9 87=0 50=-1";
        QTest::newRow("multi, slot out of range")
            << "175=3 217=2 218=0 219=1 226=8 227=-1" << 2 << "86=0 49=-1 87=0 50=-1";
    }
    void stepLayout()
    {
        QFETCH(QString, stored);
        QFETCH(int, dnum);
        QFETCH(QString, expected);
        auto rec = std::make_unique<WizardPara>();
        for (int w = 49; w <= 56; ++w)
            rec->words[w] = 99;
        for (int w = 86; w <= 93; ++w)
            rec->words[w] = 99;
        for (int w = 242; w <= 249; ++w)
            rec->words[w] = 55;
        const QMap<int, int> in = parseWordList(stored);
        for (auto it = in.begin(); it != in.end(); ++it)
            rec->words[it.key()] = it.value();
        rec->CheckRange();
        rec->DeriveSteps();
        QCOMPARE(gDNum, dnum);
        const QMap<int, int> out = parseWordList(expected);
        for (auto it = out.begin(); it != out.end(); ++it)
            QVERIFY2(rec->words[it.key()] == it.value(),
                     qPrintable(QStringLiteral("word %1 is %2, expected %3").arg(it.key()).arg(rec->words[it.key()]).arg(it.value())));
        if (rec->words[175] == 3)
            for (int k = dnum; k < 8; ++k) {
                QCOMPARE(rec->words[86 + k], 0);
                QCOMPARE(rec->words[49 + k], -1);
            }
    }

    // A database without the table, then without the later rows: the rows
    // are added, the record keeps its values on this load and takes the
    // added ones on the next.
    void missingTableAndRows()
    {
        ParamDbFixture db;
        auto rec = std::make_unique<WizardPara>();
        rec->LoadDatafromFile();
        QVERIFY(db.tables().contains("sysparam"));
        for (const QString& name : WizardPara::rowNames())
            QCOMPARE(db.rowCount("sysparam", name), 1);
        QCOMPARE(db.value("sysparam", "system7"), QStringLiteral("0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0"));
        QCOMPARE(db.value("sysparam", "system12"), QStringLiteral("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"));
        QCOMPARE(db.value("sysparam", "trigInDelay"), QStringLiteral("0 0 0 0 0 0 0 0"));
        QCOMPARE(rec->words[78], 0);
        QCOMPARE(rec->words[118], 1000);
        QCOMPARE(rec->words[119], 1000);

        auto next = std::make_unique<WizardPara>();
        next->LoadDatafromFile();
        QCOMPARE(next->words[78], 1);

        // An older file without the colour-area row loads the defaults and
        // gets the row; afterwards the limits are kept.
        QVERIFY(db.exec("delete from sysparam where name='colorArea'"));
        auto older = std::make_unique<WizardPara>();
        older->LoadDatafromFile();
        QCOMPARE(older->words[118], 1000);
        QCOMPARE(db.rowCount("sysparam", "colorArea"), 1);
        older->words[118] = 25;
        older->words[119] = 5000;
        older->SaveDatatoFile();
        auto kept = std::make_unique<WizardPara>();
        kept->LoadDatafromFile();
        QCOMPARE(kept->words[118], 25);
        QCOMPARE(kept->words[119], 5000);
    }

    // A save never loses a setting: a missing row is inserted, and a failing
    // statement leaves the whole table as it was.
    void saveIsCompleteAndAtomic()
    {
        ParamDbFixture db;
        auto rec = std::make_unique<WizardPara>();
        rec->LoadDatafromFile();
        QVERIFY(db.exec("delete from sysparam where name='system12'"));
        QVERIFY(db.exec("delete from sysparam where name='password'"));
        rec->words[154] = 1;
        QVERIFY(rec->setPassword(QStringLiteral("o'k")));
        rec->SaveDatatoFile();
        QCOMPARE(db.value("sysparam", "system12").split(' ').first(), QStringLiteral("1"));
        QCOMPARE(db.value("sysparam", "password"), QStringLiteral("o'k"));

        QVERIFY(db.exec("create trigger refuse before update on sysparam when new.name='system5' "
                        "begin select raise(abort, 'refused'); end"));
        const QString before = db.value("sysparam", "trigInDelay");
        rec->words[40] = 77;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("updating sysparam/system5 failed"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("left unchanged"));
        rec->SaveDatatoFile();
        QCOMPARE(db.value("sysparam", "trigInDelay"), before);
        QVERIFY(db.exec("drop trigger refuse"));
        rec->SaveDatatoFile();
        QCOMPARE(db.value("sysparam", "trigInDelay").split(' ').first(), QStringLiteral("77"));
    }

    void password()
    {
        ParamDbFixture db;
        auto rec = std::make_unique<WizardPara>();
        rec->LoadDatafromFile();
        const QString nasty = QStringLiteral("a'b\"c; drop table sysparam;--\\ \u00e9");
        QVERIFY(rec->setPassword(nasty));
        rec->SaveDatatoFile();
        auto back = std::make_unique<WizardPara>();
        back->LoadDatafromFile();
        QCOMPARE(back->passwordText(), nasty);

        // 99 characters are taken, 100 leave the previous password.
        const QString p99(99, QLatin1Char('7'));
        QVERIFY(db.exec(QStringLiteral("update sysparam set value='%1' where name='password'").arg(p99)));
        back->LoadDatafromFile();
        QCOMPARE(back->passwordText(), p99);
        QVERIFY(db.exec(QStringLiteral("update sysparam set value='%1' where name='password'").arg(QString(100, '8'))));
        back->LoadDatafromFile();
        QCOMPARE(back->passwordText(), p99);

        QVERIFY(!rec->setPassword(QString(100, QLatin1Char('1'))));
        QVERIFY(!rec->setPassword(QStringLiteral("\u4e2d")));
        QVERIFY(!rec->setPassword(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
        QCOMPARE(rec->passwordText(), nasty);
        QVERIFY(rec->setPassword(QString()));
        QCOMPARE(rec->passwordText(), QString());
    }

    void displayNames_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("expected");  // entries 0..17; "-" unchanged
        QTest::newRow("standard") << 0
            << QStringList{"t301", "t302", "t303", "t304", "t305", "t306", "t307", "t304", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-"};
        QTest::newRow("two-colour") << 1
            << QStringList{"t301", "t302", "t376", "t377", "t305", "t378", "t307", "t304", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-"};
        QTest::newRow("turntable") << 2
            << QStringList{"t379", "t380", "t381", "t382", "t378", "t306", "t307", "t304", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-"};
        QTest::newRow("multi") << 3
            << QStringList{"Mol op", "t302", "clo door", "op door", "Thim O", "", "Mol val", "Manip", "Neu C O",
                           "Al clam", "Al thim", "t307", "Neu A I", "Neu A O", "", "Neu B O", "Mac mov", ""};
    }
    void displayNames()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, expected);
        TestWorkDir wd;
        QString saved[2048];
        for (int r : {301, 302, 303, 304, 305, 306, 307, 376, 377, 378, 379, 380, 381, 382}) {
            saved[r] = gaLanStr[r][1];
            gaLanStr[r][1] = QStringLiteral("t%1").arg(r);
        }
        gLan = 1;
        for (QString& n : gaName)
            n = QStringLiteral("-");
        auto rec = std::make_unique<WizardPara>();
        rec->words[175] = mode;
        // Input names 0 1 2 3 16 5 6 15, output names 0 1 2 3 -1 5 13 14.
        const int in[8] = {0, 1, 2, 3, 16, 5, 6, 15};
        const int out[8] = {0, 1, 2, 3, -1, 5, 13, 14};
        for (int i = 0; i < 8; ++i) {
            rec->words[251 + i] = in[i];
            rec->words[259 + i] = out[i];
        }
        if (mode == 3) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("input name index 16"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("output name index -1"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("output name index 14"));
        }
        rec->FillNames();
        for (int r : {301, 302, 303, 304, 305, 306, 307, 376, 377, 378, 379, 380, 381, 382})
            gaLanStr[r][1] = saved[r];
        for (int i = 0; i < 18; ++i)
            QCOMPARE(gaName[i], expected[i]);
    }

    void displayNamesFromNameFile()
    {
        TestWorkDir wd;
        QFile f(QStringLiteral("name.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Open A\r\n\xe5\xbc\x80\xe6\xa8\xa1\nThird\n");
        f.close();
        for (QString& n : gaName)
            n = QStringLiteral("-");
        auto rec = std::make_unique<WizardPara>();
        rec->words[175] = 3;
        rec->FillNames();
        QCOMPARE(gaName[0], QStringLiteral("Open A"));
        QCOMPARE(gaName[1], QStringLiteral("\u5f00\u6a21"));
        QCOMPARE(gaName[2], QStringLiteral("Third"));
        for (int i = 3; i < 8; ++i)
            QCOMPARE(gaName[i], QString());
        for (int i = 8; i < 18; ++i)
            QCOMPARE(gaName[i], QStringLiteral("-"));
    }

    void groupIndexFile_data()
    {
        QTest::addColumn<QByteArray>("content");  // "<none>" = no file
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << QByteArray("<none>") << -1 << "default";
        QTest::newRow("empty") << QByteArray("") << -1 << "default";
        QTest::newRow("garbage") << QByteArray("abc") << -1 << "default";
        QTest::newRow("0") << QByteArray("0\n") << 0 << "A";
        QTest::newRow("1") << QByteArray("1") << 1 << "b";
        QTest::newRow("2") << QByteArray("2\n") << 2 << "default";
        QTest::newRow("beyond the list") << QByteArray("7\n") << 7 << "default";
        QTest::newRow("-1 without a default folder") << QByteArray("-1") << -1 << "default";
    }
    void groupIndexFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, index);
        QFETCH(QString, name);
        TestWorkDir wd;
        QDir().mkpath("paraGroup/b");
        QDir().mkpath("paraGroup/A");
        QDir().mkpath("paraGroup/.hidden");
        if (content != "<none>") {
            QFile f(QStringLiteral("sysadd.txt"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        auto rec = std::make_unique<WizardPara>();
        rec->LoadDatafromFile();
        QCOMPARE(rec->words[Word::GroupIndex], index);
        QCOMPARE(rec->getCurGroupName(), name);
        if (content == "<none>") {
            QFile f(QStringLiteral("sysadd.txt"));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("-1"));
        }
        rec->words[Word::GroupIndex] = 1;
        rec->SaveAddFile();
        QCOMPARE(rec->getCurGroupName(), QStringLiteral("b"));
        QFile f(QStringLiteral("sysadd.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("1\n"));
    }

    void noGroupFolder()
    {
        TestWorkDir wd;
        QDir("paraGroup/default").removeRecursively();
        QDir().rmdir("paraGroup");
        auto rec = std::make_unique<WizardPara>();
        rec->updateGroupName();
        QVERIFY(QFileInfo("paraGroup").isDir());
        QCOMPARE(rec->getCurGroupName(), QStringLiteral("default"));
    }

    // The working copy compares equal only with the same settings.
    void copyAndCompare()
    {
        auto a = std::make_unique<WizardPara>();
        auto b = std::make_unique<WizardPara>();
        QVERIFY(*a == *b);
        a->words[300] = 1;
        QVERIFY(*a != *b);
        *b = *a;
        QVERIFY(*a == *b);
        QVERIFY(b->setPassword(QStringLiteral("1234")));
        QVERIFY(*a != *b);
        *a = *b;
        a->groupName = QStringLiteral("other");
        QVERIFY(*a != *b);
    }
};

QTEST_MAIN(TestWizardPara)
#include "tst_wizardpara.moc"
