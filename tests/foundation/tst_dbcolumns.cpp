#include "miscfunc.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

class TestDbColumns : public QObject {
    Q_OBJECT
private:
    QSqlDatabase db_;

    int columnCount(const QString& table) { return db_.record(table).count(); }

private slots:
    void init()
    {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("columns"));
        db_.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(db_.open());
        QSqlQuery q(db_);
        QVERIFY(q.exec("CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT)"));
        QVERIFY(q.exec("CREATE TABLE \"order\" (\"my col\" TEXT)"));
    }
    void cleanup()
    {
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("columns"));
    }

    void existence_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("column");
        QTest::addColumn<bool>("exists");
        QTest::newRow("present") << "RECORD" << "remarks" << true;
        QTest::newRow("absent") << "RECORD" << "recordtype" << false;
        QTest::newRow("other letter case") << "RECORD" << "Remarks" << false;
        QTest::newRow("missing table") << "NOSUCH" << "remarks" << false;
        QTest::newRow("keyword table, blank in column") << "order" << "my col" << true;
        QTest::newRow("name with a quote") << "RECORD\"" << "remarks" << false;
    }
    void existence()
    {
        QFETCH(QString, table);
        QFETCH(QString, column);
        QFETCH(bool, exists);
        QCOMPARE(columnExists(db_, table, column), exists);
        QVERIFY(db_.isOpen());
    }

    void addedOnce()
    {
        QVERIFY(addColumnIfNotExists(db_, "RECORD", "recordtype", "TEXT"));
        QVERIFY(columnExists(db_, "RECORD", "recordtype"));
        QVERIFY(!addColumnIfNotExists(db_, "RECORD", "recordtype", "TEXT"));
        QCOMPARE(columnCount("RECORD"), 4);
        // Rows written before keep their values; the new column is empty.
        QSqlQuery q(db_);
        QVERIFY(q.exec("INSERT INTO RECORD (remarks, recordtype) VALUES ('r', 't')"));
        QVERIFY(q.exec("SELECT recordtype FROM RECORD") && q.next());
        QCOMPARE(q.value(0).toString(), QString("t"));
        QVERIFY(db_.isOpen());
    }

    void refused_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("type");
        QTest::newRow("same name in other case: duplicate for SQLite") << "RECORD" << "REMARKS" << "TEXT";
        QTest::newRow("missing table") << "NOSUCH" << "recordtype" << "TEXT";
        QTest::newRow("statement in the type") << "RECORD" << "x" << "TEXT; DROP TABLE RECORD";
        QTest::newRow("comment in the type") << "RECORD" << "x" << "TEXT -- y";
    }
    void refused()
    {
        QFETCH(QString, table);
        QFETCH(QString, column);
        QFETCH(QString, type);
        QVERIFY(!addColumnIfNotExists(db_, table, column, type));
        QCOMPARE(columnCount("RECORD"), 3);
        QVERIFY(db_.tables().contains("RECORD"));
    }

    void oddNamesAreIdentifiersNotStatements()
    {
        const QString evil = QStringLiteral("x\" TEXT); DROP TABLE RECORD; --");
        QVERIFY(addColumnIfNotExists(db_, "RECORD", evil, "TEXT"));
        QVERIFY(db_.tables().contains("RECORD"));
        QVERIFY(columnExists(db_, "RECORD", evil));
        QVERIFY(addColumnIfNotExists(db_, "order", "second col", "INTEGER"));
        QCOMPARE(columnCount("order"), 2);
    }

    void closedConnectionFails()
    {
        db_.close();
        QVERIFY(!columnExists(db_, "RECORD", "remarks"));
        QVERIFY(!addColumnIfNotExists(db_, "RECORD", "recordtype", "TEXT"));
        QVERIFY(!db_.isOpen());  // nothing was reopened
    }
};

QTEST_GUILESS_MAIN(TestDbColumns)
#include "tst_dbcolumns.moc"
