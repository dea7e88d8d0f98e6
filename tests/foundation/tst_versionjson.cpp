#include "globals.h"
#include "testworkdir.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

class TestVersionJson : public QObject {
    Q_OBJECT
private:
    static QJsonObject readConfig()
    {
        QFile f(QStringLiteral("cnt_net/config.json"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    static void writeRaw(const QByteArray& data)
    {
        QFile f(QStringLiteral("cnt_net/config.json"));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(data);
    }

private slots:
    void missingOrGarbageGivesOnlyTheTwoKeys_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("garbage") << QByteArray("{not json") << true;
        QTest::newRow("array") << QByteArray("[1,2]") << true;
        QTest::newRow("empty") << QByteArray() << true;
    }
    void missingOrGarbageGivesOnlyTheTwoKeys()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        TestWorkDir wd;
        if (exists)
            writeRaw(content);
        numCamera = 3;
        writeVersionToJson();
        const QJsonObject o = readConfig();
        QCOMPARE(o.keys(), (QStringList{"camcount", "version"}));
        QCOMPARE(o.value("version").toString(), QString::fromLatin1(VMM_PROJECT_VERSION));
        QCOMPARE(o.value("camcount").toInt(), 3);
    }

    void foreignKeysAreKept()
    {
        TestWorkDir wd;
        writeRaw(R"({"version":"1.0","camcount":8,"http_port":10100,"nested":{"a":1}})");
        numCamera = 2;
        writeVersionToJson();
        const QJsonObject o = readConfig();
        QCOMPARE(o.value("version").toString(), QString::fromLatin1(VMM_PROJECT_VERSION));
        QCOMPARE(o.value("camcount").toInt(), 2);
        QCOMPARE(o.value("http_port").toInt(), 10100);
        QCOMPARE(o.value("nested").toObject().value("a").toInt(), 1);
    }

    void unwritableKeepsOldFile()
    {
        if (geteuid() == 0)
            QSKIP("root ignores permissions; the atomic replace is covered by QSaveFile");
        TestWorkDir wd;
        writeRaw(R"({"keep":true})");
        QFile::setPermissions(QStringLiteral("cnt_net"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        writeVersionToJson();
        QFile::setPermissions(QStringLiteral("cnt_net"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(readConfig(), QJsonObject({{"keep", true}}));
    }

    void failedWriteKeepsOldFile()
    {
        // A write that fails half-way (disk full; here a file-size limit,
        // which binds root too) must leave the old file as it was.
        TestWorkDir wd;
        const QByteArray old = R"({"keep":true})";
        writeRaw(old);
        numCamera = 5;
        struct rlimit saved {};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        struct rlimit tiny = saved;
        tiny.rlim_cur = 8;
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &tiny) == 0);
        writeVersionToJson();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QFile f(QStringLiteral("cnt_net/config.json"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), old);
        QCOMPARE(QDir(QStringLiteral("cnt_net")).entryList(QDir::Files), QStringList{"config.json"});
    }
};

QTEST_GUILESS_MAIN(TestVersionJson)
#include "tst_versionjson.moc"
