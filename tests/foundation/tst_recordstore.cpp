#include "recordstore.h"
#include "testworkdir.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {
QStringList remarksIn(const QString& file)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(QStringLiteral("SELECT remarks FROM RECORD ORDER BY rowid"), db);
            while (q.next())
                out << q.value(0).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return out;
}
}  // namespace

class TestRecordStore : public QObject {
    Q_OBJECT
private slots:
    void rowsStayWithTheirDay()
    {
        TestWorkDir wd;
        const QDate d1(2026, 3, 1), d2(2026, 3, 2), d5(2026, 3, 5);
        {
            RecordStore s;
            QVERIFY(s.open());
            QVERIFY(s.insert("10.00.00", "", "first", "", d1));
            QVERIFY(s.insert("23.59.59", "operator", "second", "", d1));
            QVERIFY(s.insert("00.00.01", "", "next day", "", d2));  // rolls over first
            QCOMPARE(s.day(), d2);
        }
        QCOMPARE(remarksIn("RECORD/2026-03-01.db"), (QStringList{"first", "second"}));
        QCOMPARE(remarksIn("RECORD.db"), (QStringList{"next day"}));

        // A restart on a later day rolls the old rows over too.
        {
            RecordStore s;
            QVERIFY(s.open());
            QCOMPARE(s.day(), d2);
            QVERIFY(s.rolloverIfNeeded(d5));
        }
        QCOMPARE(remarksIn("RECORD/2026-03-02.db"), (QStringList{"next day"}));
        QVERIFY(remarksIn("RECORD.db").isEmpty());
    }

    void existingDayFileIsMergedNotOverwritten()
    {
        TestWorkDir wd;
        const QDate d1(2026, 4, 1), d2(2026, 4, 2);
        {
            RecordStore s;
            QVERIFY(s.open());
            QVERIFY(s.insert("08.00.00", "", "morning", "", d1));
            QVERIFY(s.rolloverIfNeeded(d2));
        }
        // Someone put the clock back: the old day's rows come again.
        {
            RecordStore s;
            QVERIFY(s.open("./RECORD.db"));
            // Force the stored day back to d1 and add a row of that day.
            QSqlQuery q(s.db());
            QVERIFY(q.exec("UPDATE RECORDDAY SET day='2026-04-01'"));
        }
        {
            RecordStore s;
            QVERIFY(s.open());
            QVERIFY(s.insert("20.00.00", "", "evening", "", d1));
            QVERIFY(s.rolloverIfNeeded(d2));
        }
        QCOMPARE(remarksIn("RECORD/2026-04-01.db"), (QStringList{"morning", "evening"}));
    }

    void oldFileWithoutTypeColumnGetsIt()
    {
        TestWorkDir wd;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
            db.setDatabaseName("RECORD.db");
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT)"));
            QVERIFY(q.exec("INSERT INTO RECORD VALUES ('01.02.03','','kept')"));
            db.close();
        }
        QSqlDatabase::removeDatabase("old");
        RecordStore s;
        QVERIFY(s.open());
        QVERIFY(s.insert("01.02.04", "", "it's \"quoted\"; DROP TABLE RECORD;--", "REG", QDate::currentDate()));
        s.close();
        QCOMPARE(remarksIn("RECORD.db"), (QStringList{"kept", "it's \"quoted\"; DROP TABLE RECORD;--"}));
    }
};

QTEST_GUILESS_MAIN(TestRecordStore)
#include "tst_recordstore.moc"
