#include "subscribers.h"
#include "testworkdir.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

namespace {

QJsonObject sub(const QJsonValue& ip, const QJsonValue& port, const QJsonValue& topic)
{
    QJsonObject o;
    if (!ip.isUndefined())
        o.insert("subscriber_ip", ip);
    if (!port.isUndefined())
        o.insert("subscriber_port", port);
    if (!topic.isUndefined())
        o.insert("subscriber_topic", topic);
    return o;
}

QStringList sessions(const QList<Skt_Session>& list)
{
    QStringList out;
    for (const Skt_Session& s : list)
        out << QStringLiteral("%1:%2").arg(s.ip).arg(s.port);
    return out;
}

const qint64 kT0 = 1700000000000;

ino_t inode(const char* path)
{
    struct stat st {};
    return ::stat(path, &st) == 0 ? st.st_ino : 0;
}

}  // namespace

class TestSubscribers : public QObject {
    Q_OBJECT
private slots:
    void registration_data()
    {
        QTest::addColumn<QJsonValue>("subscriber");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("info") << QJsonValue(QJsonArray{sub("10.0.0.5", 9000, "detected_info")})
                              << QStringList{"10.0.0.5;9000;detected_info"};
        QTest::newRow("both topics in one text")
            << QJsonValue(QJsonArray{sub("10.0.0.5", 9000, "detected_info,detected_picture")})
            << QStringList{"10.0.0.5;9000;detected_info,detected_picture"};
        QTest::newRow("other topic") << QJsonValue(QJsonArray{sub("10.0.0.5", 9000, "weather")}) << QStringList{};
        QTest::newRow("no topic") << QJsonValue(QJsonArray{sub("10.0.0.5", 9000, QJsonValue::Undefined)}) << QStringList{};
        QTest::newRow("no port") << QJsonValue(QJsonArray{sub("10.0.0.5", QJsonValue::Undefined, "detected_info")})
                                 << QStringList{};
        QTest::newRow("no ip") << QJsonValue(QJsonArray{sub(QJsonValue::Undefined, 9000, "detected_info")}) << QStringList{};
        QTest::newRow("port as text") << QJsonValue(QJsonArray{sub("10.0.0.5", "9000", "detected_picture")})
                                      << QStringList{"10.0.0.5;0;detected_picture"};
        QTest::newRow("object, not array") << QJsonValue(sub("10.0.0.5", 9000, "detected_info")) << QStringList{};
        QTest::newRow("element not an object") << QJsonValue(QJsonArray{5, "x"}) << QStringList{};
        QTest::newRow("two") << QJsonValue(QJsonArray{sub("10.0.0.6", 1, "detected_picture"),
                                                      sub("10.0.0.5", 9000, "detected_info")})
                             << QStringList{"10.0.0.5;9000;detected_info", "10.0.0.6;1;detected_picture"};
    }
    void registration()
    {
        QFETCH(QJsonValue, subscriber);
        QFETCH(QStringList, keys);
        TestWorkDir wd;
        SubscriberRegistry r;
        r.load("cnt_net/workspace/subscriber.ini");
        QCOMPARE(r.registerFrom(subscriber, kT0), keys);
        // Kept across a reload (a restart of the program).
        SubscriberRegistry again;
        again.load("cnt_net/workspace/subscriber.ini");
        QCOMPARE(again.keys(), keys);
    }

    void renewalKeepsOneKey()
    {
        TestWorkDir wd;
        SubscriberRegistry r;
        r.load("s.ini");
        const QJsonArray a{sub("10.0.0.5", 9000, "detected_info")};
        r.registerFrom(a, kT0);
        QCOMPARE(r.registerFrom(a, kT0 + 60000), QStringList{"10.0.0.5;9000;detected_info"});
        QCOMPARE(r.map().value("10.0.0.5;9000;detected_info").toLongLong(), kT0 + 60000);
    }

    void expiry_data()
    {
        QTest::addColumn<qint64>("age");
        QTest::addColumn<bool>("served");
        QTest::newRow("fresh") << qint64(0) << true;
        QTest::newRow("exactly one hour") << qint64(3600000) << true;
        QTest::newRow("one hour and 1 ms") << qint64(3600001) << false;
    }
    void expiry()
    {
        QFETCH(qint64, age);
        QFETCH(bool, served);
        TestWorkDir wd;
        SubscriberRegistry r;
        r.load("s.ini");
        r.registerFrom(QJsonArray{sub("127.0.0.1", 9000, "detected_info")}, kT0);
        QCOMPARE(sessions(r.lookup("detected_info", kT0 + age)), served ? QStringList{"127.0.0.1:9000"} : QStringList{});
        QCOMPARE(r.keys().size(), served ? 1 : 0);
        SubscriberRegistry reloaded;
        reloaded.load("s.ini");
        QCOMPARE(reloaded.keys().size(), served ? 1 : 0);
    }

    void lookupMatchesTopicExactly()
    {
        TestWorkDir wd;
        SubscriberRegistry r;
        r.load("s.ini");
        r.registerFrom(QJsonArray{sub("127.0.0.1", 9001, "detected_info"), sub("127.0.0.1", 9002, "detected_picture"),
                                  sub("127.0.0.1", 9003, "detected_info,detected_picture"),
                                  sub("127.0.0.1", 9004, "xdetected_info")},
                       kT0);
        QCOMPARE(sessions(r.lookup("detected_info", kT0)), QStringList{"127.0.0.1:9001"});
        QCOMPARE(sessions(r.lookup("detected_picture", kT0)), QStringList{"127.0.0.1:9002"});
        QCOMPARE(sessions(r.lookup("", kT0)), QStringList{});
    }

    void onlyUsableTargets()
    {
        TestWorkDir wd;
        SubscriberRegistry r;
        r.load("s.ini");
        r.registerFrom(QJsonArray{sub("127.0.0.1", 0, "detected_info"), sub("127.0.0.1", 70000, "detected_info"),
                                  sub("127.0.0.1", -1, "detected_info"), sub("not-an-ip", 9000, "detected_info"),
                                  sub("", 9000, "detected_info"), sub("::1", 9000, "detected_info"),
                                  sub("127.0.0.1", 65535, "detected_info")},
                       kT0);
        QCOMPARE(r.keys().size(), 7);
        QCOMPARE(sessions(r.lookup("detected_info", kT0)), (QStringList{"127.0.0.1:65535", "::1:9000"}));
    }

    void atMost32PerTopic()
    {
        TestWorkDir wd;
        SubscriberRegistry r;
        r.load("s.ini");
        QJsonArray many;
        for (int i = 0; i < 40; ++i)
            many.append(sub("127.0.0.1", 10000 + i, "detected_info"));
        many.append(sub("127.0.0.1", 9000, "detected_picture"));
        r.registerFrom(many, kT0);
        QCOMPARE(r.lookup("detected_info", kT0).size(), 32);
        QCOMPARE(r.lookup("detected_picture", kT0).size(), 1);
        // A known subscriber renews even when the topic is full.
        r.registerFrom(QJsonArray{sub("127.0.0.1", 10000, "detected_info")}, kT0 + 1000);
        QCOMPARE(r.map().value("127.0.0.1;10000;detected_info").toLongLong(), kT0 + 1000);
        // Expired places are free again.
        QCOMPARE(r.registerFrom(QJsonArray{sub("127.0.0.1", 20000, "detected_info")}, kT0 + 3600000 + 500).size(), 2);
    }

    void fileWrittenOnlyWhenChanged()
    {
        TestWorkDir wd;
        SubscriberRegistry r;
        r.load("s.ini");
        r.registerFrom(QJsonArray{sub("127.0.0.1", 9000, "detected_info")}, kT0);
        // Every write replaces the file (temporary file + rename): a new inode.
        const ino_t first = inode("s.ini");
        for (int i = 0; i < 5; ++i)
            QCOMPARE(r.lookup("detected_info", kT0 + i).size(), 1);
        QCOMPARE(inode("s.ini"), first);
        r.lookup("detected_info", kT0 + 3600001);  // prunes: written
        QVERIFY(inode("s.ini") != first);
        QCOMPARE(QDir(".").entryList({"s.ini*"}, QDir::Files | QDir::Hidden), QStringList{"s.ini"});
    }

    void readsAnExistingFile()
    {
        TestWorkDir wd;
        {
            QSettings s("old.ini", QSettings::IniFormat);
            QVariantMap m;
            m.insert("192.168.1.20;9000;detected_info", QVariant::fromValue<qint64>(kT0));
            s.setValue("subscriber_groups", m);
        }
        SubscriberRegistry r;
        r.load("old.ini");
        QCOMPARE(sessions(r.lookup("detected_info", kT0 + 5)), QStringList{"192.168.1.20:9000"});
    }
};

QTEST_GUILESS_MAIN(TestSubscribers)
#include "tst_subscribers.moc"
