// Parameter groups: names, listing, backup, restore and delete in a
// temporary working folder.
#include "globals.h"
#include "databases.h"
#include "paragroup.h"
#include "platform.h"
#include "statewindow.h"
#include "support_paramdb.h"
#include "wizardpara.h"

#include <QFile>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The live and the working record, as the main window makes them.
struct Records {
    Records()
    {
        live = std::make_unique<WizardPara>();
        work = std::make_unique<WizardPara>();
        gpWPara = live.get();
        gpWParaBak = work.get();
    }
    ~Records()
    {
        gpWPara = nullptr;
        gpWParaBak = nullptr;
    }
    void setIndex(int i)
    {
        live->words[Word::GroupIndex] = i;
        live->SaveAddFile();
        work->words[Word::GroupIndex] = i;
        work->updateGroupName();
    }
    std::unique_ptr<WizardPara> live;
    std::unique_ptr<WizardPara> work;
};

}  // namespace

class TestParaGroup : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        platform::runner().clearRecorded();
        numCamera = 2;
        gDNum = 2;
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("result");
        QTest::newRow("plain") << "mould 17" << int(ParaGroup::Ok);
        QTest::newRow("Chinese") << QStringLiteral("\u6a21\u5177A") << int(ParaGroup::Ok);
        QTest::newRow("quote and semicolon") << "a'b;c" << int(ParaGroup::Ok);
        QTest::newRow("dots inside") << "v1.2" << int(ParaGroup::Ok);
        QTest::newRow("empty") << "" << int(ParaGroup::EmptyName);
        QTest::newRow("blanks") << "   " << int(ParaGroup::EmptyName);
        QTest::newRow("default") << "default" << int(ParaGroup::DefaultName);
        QTest::newRow("slash") << "a/b" << int(ParaGroup::BadName);
        QTest::newRow("backslash") << "a\\b" << int(ParaGroup::BadName);
        QTest::newRow("parent") << ".." << int(ParaGroup::BadName);
        QTest::newRow("parent path") << "../../etc" << int(ParaGroup::BadName);
        QTest::newRow("double dot inside") << "a..b" << int(ParaGroup::BadName);
        QTest::newRow("leading dot") << ".hidden" << int(ParaGroup::BadName);
        QTest::newRow("line feed") << "a\nb" << int(ParaGroup::BadName);
        QTest::newRow("tab") << "a\tb" << int(ParaGroup::BadName);
        QTest::newRow("escape") << "a\x1b[2J" << int(ParaGroup::BadName);
        QTest::newRow("too long") << QString(300, QLatin1Char('x')) << int(ParaGroup::BadName);
    }
    void names()
    {
        QFETCH(QString, name);
        QFETCH(int, result);
        QCOMPARE(int(ParaGroup::checkName(name)), result);

        // A refused name never reaches the disk.
        ParamDbFixture db;
        Records rec;
        const QStringList before = ParaGroup::list();
        const int got = ParaGroup::backup(name);
        if (result == ParaGroup::Ok) {
            QCOMPARE(got, int(ParaGroup::Ok));
            QVERIFY(ParaGroup::list().contains(name));
        } else {
            QCOMPARE(got, result);
            QCOMPARE(ParaGroup::list(), before);
            QVERIFY(!QFileInfo::exists("etc"));
            QVERIFY(!QFileInfo::exists("../etc/PARAM.db"));
        }
    }

    void listing()
    {
        TestWorkDir wd;
        for (const char* n : {"b", "A", "default", ".partial", "a"})
            QDir().mkpath(QStringLiteral("paraGroup/%1").arg(n));
        writeFile("paraGroup/file.txt", "not a group");
        QCOMPARE(ParaGroup::list(), (QStringList{"A", "a", "b", "default"}));
        QDir("paraGroup").removeRecursively();
        QCOMPARE(ParaGroup::list(), QStringList());
        QVERIFY(QFileInfo("paraGroup").isDir());
    }

    void backupCopiesTheParameterState()
    {
        ParamDbFixture db;
        Records rec;
        QDir().mkpath("paraGroup/zz");
        writeFile("cammer11/template0.bmp", "t11");
        writeFile("cammer22/ignorepoint.bmp", "i22");
        writeFile("cammer33/template0.bmp", "not a used camera");
        QVERIFY(db.exec("create table marker (v text)"));
        QVERIFY(db.exec("insert into marker values('first')"));

        QCOMPARE(int(ParaGroup::backup("Mould B")), int(ParaGroup::Ok));
        QCOMPARE(readFile("paraGroup/Mould B/cammer11/template0.bmp"), QByteArray("t11"));
        QCOMPARE(readFile("paraGroup/Mould B/cammer22/ignorepoint.bmp"), QByteArray("i22"));
        QVERIFY(!QFileInfo::exists("paraGroup/Mould B/cammer33"));
        QCOMPARE(readFile("paraGroup/Mould B/PARAM.db"), readFile("PARAM.db"));
        // The new group is current in both records and in sysadd.txt.
        const int index = ParaGroup::list().indexOf("Mould B");
        QCOMPARE(index, 0);
        QCOMPARE(rec.live->words[Word::GroupIndex], index);
        QCOMPARE(rec.work->words[Word::GroupIndex], index);
        QCOMPARE(rec.live->getCurGroupName(), QStringLiteral("Mould B"));
        QCOMPARE(rec.work->getCurGroupName(), QStringLiteral("Mould B"));
        QCOMPARE(readFile("sysadd.txt"), QByteArray("0\n"));
        QVERIFY(platform::runner().recorded().contains("sync"));

        // Backing up under the same name replaces the group as a whole.
        QFile::remove("cammer22/ignorepoint.bmp");
        QDir("cammer22").removeRecursively();
        writeFile("cammer11/template0.bmp", "t11 new");
        QCOMPARE(int(ParaGroup::backup("Mould B")), int(ParaGroup::Ok));
        QCOMPARE(readFile("paraGroup/Mould B/cammer11/template0.bmp"), QByteArray("t11 new"));
        QVERIFY(!QFileInfo::exists("paraGroup/Mould B/cammer22"));
        QCOMPARE(ParaGroup::list(), (QStringList{"Mould B", "default", "zz"}));
    }

    void backupWithoutDatabaseLeavesNothing()
    {
        TestWorkDir wd;
        Records rec;
        QCOMPARE(int(ParaGroup::backup("lonely")), int(ParaGroup::FileError));
        QCOMPARE(ParaGroup::list(), QStringList{"default"});
        QCOMPARE(QDir("paraGroup").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"default"});
        QVERIFY(!QFileInfo::exists("sysadd.txt"));
    }

    void restoreReplacesTheParameterState()
    {
        ParamDbFixture db;
        Records rec;
        // The group: its own database and templates.
        QDir().mkpath("paraGroup/saved/cammer11");
        writeFile("paraGroup/saved/cammer11/template0.bmp", "group template");
        {
            QSqlDatabase g = QSqlDatabase::addDatabase("QSQLITE", "group");
            g.setDatabaseName("paraGroup/saved/PARAM.db");
            QVERIFY(g.open());
            QSqlQuery q(g);
            QVERIFY(q.exec("create table marker (v text)"));
            QVERIFY(q.exec("insert into marker values('from the group')"));
            g.close();
        }
        QSqlDatabase::removeDatabase("group");
        // The working folder: other templates, another database.
        writeFile("cammer11/template1.bmp", "local template");
        writeFile("cammer12/template0.bmp", "local step 2");
        QVERIFY(db.exec("create table marker (v text)"));
        QVERIFY(db.exec("insert into marker values('local')"));
        writeFile("PARAM.db-journal", "stale");

        const int index = ParaGroup::list().indexOf("saved");
        QCOMPARE(int(ParaGroup::restore(index)), int(ParaGroup::Ok));
        QVERIFY(!Databases::get().paramDb().isOpen());
        QCOMPARE(readFile("cammer11/template0.bmp"), QByteArray("group template"));
        QVERIFY(!QFileInfo::exists("cammer11/template1.bmp"));
        QVERIFY(!QFileInfo::exists("cammer12"));
        QVERIFY(!QFileInfo::exists("PARAM.db-journal"));
        QCOMPARE(readFile("PARAM.db"), readFile("paraGroup/saved/PARAM.db"));
        QCOMPARE(readFile("sysadd.txt"), QByteArray::number(index) + "\n");
        QCOMPARE(rec.live->getCurGroupName(), QStringLiteral("saved"));
        QVERIFY(platform::runner().recorded().contains("sync"));
        QStringList leftovers = QDir(".").entryList({"*.partial~"}, QDir::Files | QDir::Hidden);
        QCOMPARE(leftovers, QStringList());

        db.reopen();
        QCOMPARE(db.value("marker", QString()), QString());
        QSqlQuery q(QSqlDatabase::database("dbIn"));
        QVERIFY(q.exec("select v from marker"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("from the group"));
    }

    void restoreRefusals()
    {
        ParamDbFixture db;
        Records rec;
        QDir().mkpath("paraGroup/empty");
        writeFile("cammer11/template0.bmp", "keep");
        QCOMPARE(int(ParaGroup::restore(ParaGroup::list().indexOf("empty"))), int(ParaGroup::FileError));
        QCOMPARE(int(ParaGroup::restore(5)), int(ParaGroup::NoSuchGroup));
        QCOMPARE(int(ParaGroup::restore(-1)), int(ParaGroup::NoSuchGroup));
        QCOMPARE(readFile("cammer11/template0.bmp"), QByteArray("keep"));
        QVERIFY(Databases::get().paramDb().isOpen());
        QVERIFY(!QFileInfo::exists("sysadd.txt"));
    }

    void removeKeepsTheCurrentGroup_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QString>("afterwards");  // current group name afterwards
        QTest::addColumn<int>("result");
        QTest::newRow("before the current") << "c" << "a" << "c" << int(ParaGroup::Ok);
        QTest::newRow("the current") << "c" << "c" << "default" << int(ParaGroup::Ok);
        QTest::newRow("after the current") << "a" << "c" << "a" << int(ParaGroup::Ok);
        QTest::newRow("none current") << "" << "b" << "default" << int(ParaGroup::Ok);
        QTest::newRow("the default group") << "c" << "default" << "c" << int(ParaGroup::DefaultName);
    }
    void removeKeepsTheCurrentGroup()
    {
        QFETCH(QString, current);
        QFETCH(QString, removed);
        QFETCH(QString, afterwards);
        QFETCH(int, result);
        TestWorkDir wd;
        for (const char* n : {"a", "b", "c"})
            writeFile(QStringLiteral("paraGroup/%1/PARAM.db").arg(n), "x");
        Records rec;
        rec.setIndex(ParaGroup::list().indexOf(current));
        QCOMPARE(int(ParaGroup::remove(ParaGroup::list().indexOf(removed))), result);
        QCOMPARE(QFileInfo::exists("paraGroup/" + removed), result != ParaGroup::Ok);
        QCOMPARE(rec.live->getCurGroupName(), afterwards);
        QCOMPARE(rec.work->getCurGroupName(), afterwards);
        QCOMPARE(rec.work->words[Word::GroupIndex], rec.live->words[Word::GroupIndex]);
        // What a restart reads from sysadd.txt names the same group.
        auto restarted = std::make_unique<WizardPara>();
        restarted->LoadDatafromFile();
        QCOMPARE(restarted->getCurGroupName(), afterwards);
        QCOMPARE(int(ParaGroup::remove(99)), int(ParaGroup::NoSuchGroup));
    }
};

QTEST_MAIN(TestParaGroup)
#include "tst_paragroup.moc"
