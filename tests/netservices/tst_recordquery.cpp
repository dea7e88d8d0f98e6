#include "recordquery.h"
#include "testworkdir.h"

#include <QFile>
#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

namespace {

struct Row {
    const char* time;
    const char* op;
    const char* remarks;
    const char* type;
};

void makeRecordDb(const QString& path, const QString& connection, const QList<Row>& rows)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connection);
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)"));
        for (const Row& r : rows) {
            q.prepare("INSERT INTO RECORD VALUES (?, ?, ?, ?)");
            q.addBindValue(QString::fromUtf8(r.time));
            q.addBindValue(QString::fromUtf8(r.op));
            q.addBindValue(QString::fromUtf8(r.remarks));
            q.addBindValue(QString::fromUtf8(r.type));
            QVERIFY(q.exec());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

QStringList flatten(const QJsonObject& answer)
{
    QStringList out;
    for (const QJsonValue& row : answer.value("record").toArray()) {
        QStringList cells;
        for (const QJsonValue& c : row.toArray())
            cells << c.toString();
        out << cells.join('|');
    }
    return out;
}

QJsonObject request(const QString& start, const QString& end)
{
    return QJsonObject{{"datetime_start", start}, {"datetime_end", end}};
}

const QDate kToday(2024, 5, 3);

}  // namespace

class TestRecordQuery : public QObject {
    Q_OBJECT
private:
    TestWorkDir* wd_ = nullptr;
    QSqlDatabase today_;

private slots:
    void initTestCase()
    {
        wd_ = new TestWorkDir;
        makeRecordDb("RECORD/2024-05-01.db", "fx1",
                     {{"09.59.59", "未登录", "before start", "SYS"},
                      {"10.00.00", "未登录", "at start", "SYS"},
                      {"23.59.59", "操作员", "last second", "API"}});
        makeRecordDb("RECORD/2024-05-02.db", "fx2",
                     {{"00.00.00", "未登录", "midnight", "SYS"},
                      {"07.30.15", "operator", "morning", "API"},
                      {"12.00.00", "未登录", "it's quoted", "it's"}});
        // A stale copy of today's day file must never be read.
        makeRecordDb("RECORD/2024-05-03.db", "fx3", {{"01.00.00", "未登录", "stale", "SYS"}});
        makeRecordDb("RECORD/2023-12-31.db", "fx4", {{"12.00.00", "未登录", "last year", "SYS"}});
        makeRecordDb("RECORD/.2024-04-30.db", "fx5", {{"12.00.00", "未登录", "hidden name", "SYS"}});
        makeRecordDb("RECORD/notadate.db", "fx6", {{"12.00.00", "未登录", "not a day file", "SYS"}});
        makeRecordDb("RECORD.db", "fx7",
                     {{"07.59.59", "未登录", "today early", "SYS"},
                      {"08.00.01", "未登录", "today late", "SYS"}});
        today_ = QSqlDatabase::addDatabase("QSQLITE", "today");
        today_.setDatabaseName("RECORD.db");
        QVERIFY(today_.open());
    }
    void cleanupTestCase()
    {
        today_.close();
        today_ = QSqlDatabase();
        QSqlDatabase::removeDatabase("today");
        delete wd_;
    }

    void windows_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("three days") << "2024-05-01 10:00:00" << "2024-05-03 08:00:00"
                                    << QStringList{"2024-05-01 10.00.00-23.59.59", "2024-05-02 00.00.00-23.59.59",
                                                   "2024-05-03 00.00.00-08.00.00"};
        QTest::newRow("one day") << "2024-05-02 01:02:03" << "2024-05-02 04:05:06"
                                 << QStringList{"2024-05-02 01.02.03-04.05.06"};
        QTest::newRow("end before start") << "2024-05-02 10:00:00" << "2024-04-28 08:00:00"
                                          << QStringList{"2024-05-02 10.00.00-08.00.00"};
        QTest::newRow("over a year end") << "2023-12-31 23:00:00" << "2024-01-01 01:00:00"
                                         << QStringList{"2023-12-31 23.00.00-23.59.59", "2024-01-01 00.00.00-01.00.00"};
    }
    void windows()
    {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QStringList, expected);
        const auto w = recordquery::dayWindows(QDateTime::fromString(start, "yyyy-MM-dd hh:mm:ss"),
                                               QDateTime::fromString(end, "yyyy-MM-dd hh:mm:ss"));
        QStringList got;
        for (auto it = w.cbegin(); it != w.cend(); ++it)
            if (it.value().first.isValid())
                got << it.key().toString("yyyy-MM-dd") + ' ' + it.value().first.toString("hh.mm.ss") + '-'
                           + it.value().second.toString("hh.mm.ss");
        QCOMPARE(got, expected);
    }

    void rows_data()
    {
        QTest::addColumn<QJsonObject>("req");
        QTest::addColumn<QStringList>("expected");
        const QJsonObject threeDays = request("2024-05-01 10:00:00", "2024-05-03 08:00:00");
        const QStringList threeWindows{"2024-05-01 10:00:00|未登录|at start|SYS",
                                       "2024-05-01 23:59:59|操作员|last second|API",
                                       "2024-05-02 00:00:00|未登录|midnight|SYS",
                                       "2024-05-02 07:30:15|operator|morning|API",
                                       "2024-05-02 12:00:00|未登录|it's quoted|it's",
                                       "2024-05-03 07:59:59|未登录|today early|SYS"};
        QTest::newRow("three windows") << threeDays << threeWindows;
        QJsonObject r = threeDays;
        r["recordtype"] = "API";
        QTest::newRow("type API") << r
                                  << QStringList{"2024-05-01 23:59:59|操作员|last second|API",
                                                 "2024-05-02 07:30:15|operator|morning|API"};
        r["operator"] = "operator";
        QTest::newRow("type and operator") << r << QStringList{"2024-05-02 07:30:15|operator|morning|API"};
        r = threeDays;
        r["recordtype"] = "all";
        r["operator"] = "all";
        QTest::newRow("all and all") << r << threeWindows;
        r = threeDays;
        r["operator"] = "";
        QTest::newRow("empty operator is nobody")
            << r
            << QStringList{"2024-05-01 10:00:00|未登录|at start|SYS", "2024-05-02 00:00:00|未登录|midnight|SYS",
                           "2024-05-02 12:00:00|未登录|it's quoted|it's", "2024-05-03 07:59:59|未登录|today early|SYS"};
        r = threeDays;
        r["recordtype"] = "ALL";
        QTest::newRow("ALL is a type") << r << QStringList{};
        r = threeDays;
        r["recordtype"] = "it's";
        QTest::newRow("quote in value matches") << r << QStringList{"2024-05-02 12:00:00|未登录|it's quoted|it's"};
        r = threeDays;
        r["recordtype"] = "x' OR '1'='1";
        QTest::newRow("injection in type") << r << QStringList{};
        r = threeDays;
        r["operator"] = "' OR 1=1; --";
        QTest::newRow("injection in operator") << r << QStringList{};
        r = threeDays;
        r["recordtype"] = "SYS'; DROP TABLE RECORD; --";
        QTest::newRow("drop table probe") << r << QStringList{};
        QTest::newRow("today only") << request("2024-05-03 00:00:00", "2024-05-03 23:59:59")
                                    << QStringList{"2024-05-03 07:59:59|未登录|today early|SYS",
                                                   "2024-05-03 08:00:01|未登录|today late|SYS"};
        QTest::newRow("day without file") << request("2024-04-29 00:00:00", "2024-04-29 23:59:59") << QStringList{};
        QTest::newRow("hidden and odd names skipped")
            << request("2024-04-30 00:00:00", "2024-04-30 23:59:59") << QStringList{};
        QTest::newRow("end before start") << request("2024-05-02 07:00:00", "2024-04-01 08:00:00")
                                          << QStringList{"2024-05-02 07:30:15|operator|morning|API"};
    }
    void rows()
    {
        QFETCH(QJsonObject, req);
        QFETCH(QStringList, expected);
        const QStringList before = QSqlDatabase::connectionNames();
        const QJsonObject answer = recordquery::query(req, today_, kToday);
        QCOMPARE(answer.keys(), QStringList{"record"});
        for (const QJsonValue& row : answer.value("record").toArray())
            QCOMPARE(row.toArray().size(), 4);
        QCOMPARE(flatten(answer), expected);
        // Day-file connections do not stay behind.
        QCOMPARE(QSqlDatabase::connectionNames(), before);
        // The probes changed nothing.
        QSqlQuery q(today_);
        QVERIFY(q.exec("SELECT COUNT(*) FROM RECORD") && q.next());
        QCOMPARE(q.value(0).toInt(), 2);
    }

    void wholeCalendar()
    {
        const QJsonObject all = recordquery::query(request("0001-01-01 00:00:00", "9999-12-31 23:59:59"), today_, kToday);
        QStringList expected = flatten(recordquery::query(request("2023-01-01 00:00:00", "2024-05-03 23:59:59"), today_, kToday));
        QCOMPARE(flatten(all), expected);
        QCOMPARE(expected.size(), 9);
        QCOMPARE(expected.first(), QString("2023-12-31 12:00:00|未登录|last year|SYS"));
    }

    void badTimes_data()
    {
        QTest::addColumn<QJsonObject>("req");
        QTest::newRow("no seconds") << request("2024-05-01 10:00", "2024-05-02 10:00:00");
        QTest::newRow("bad end") << request("2024-05-01 10:00:00", "tomorrow");
        QTest::newRow("missing start") << QJsonObject{{"datetime_end", "2024-05-02 10:00:00"}};
        QTest::newRow("number") << QJsonObject{{"datetime_start", 20240501}, {"datetime_end", "2024-05-02 10:00:00"}};
        QTest::newRow("30th of February") << request("2024-02-30 10:00:00", "2024-05-02 10:00:00");
    }
    void badTimes()
    {
        QFETCH(QJsonObject, req);
        QCOMPARE(recordquery::query(req, today_, kToday), (QJsonObject{{"errorstring", "错误的时间格式"}}));
    }

    void brokenDayFileLeavesOthers()
    {
        {
            QFile f("RECORD/2024-05-04.db");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("this is not an sqlite file, just some bytes that fill the header page......");
        }
        makeRecordDb("RECORD/2024-05-05.db", "fx8", {{"12.00.00", "未登录", "after broken", "SYS"}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^查询失败：.*"));
        const QJsonObject answer =
            recordquery::query(request("2024-05-04 00:00:00", "2024-05-05 23:59:59"), today_, QDate(2024, 6, 1));
        QCOMPARE(flatten(answer), QStringList{"2024-05-05 12:00:00|未登录|after broken|SYS"});
        QFile::remove("RECORD/2024-05-04.db");
        QFile::remove("RECORD/2024-05-05.db");
    }
};

QTEST_GUILESS_MAIN(TestRecordQuery)
#include "tst_recordquery.moc"
