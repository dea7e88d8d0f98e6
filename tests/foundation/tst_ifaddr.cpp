// GetIfAddr runs only inside a network namespace the test makes itself
// (`unshare -n`), never against the routes of this machine.
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

class TestIfAddr : public QObject {
    Q_OBJECT
private:
    QString parentNs_;

    bool canUnshare()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
            return false;
        QProcess p;
        p.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("true")});
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        if (!canUnshare())
            QSKIP("no network namespaces here (unshare -n is unavailable or not permitted)");
        parentNs_ = QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net"));
        QVERIFY(!parentNs_.isEmpty());
    }

    void interfaceState_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("expected");
        // lo is down in a fresh namespace: it has a hardware address but no IPv4 address yet.
        QTest::newRow("no address") << "noaddr" << "0"
                                    << "rc=-4 ip=- mask=- gw=- mac=00:00:00:00:00:00 routes=none recorded=";
        QTest::newRow("missing interface") << "missing" << "0"
                                           << "rc=-2 ip=- mask=- gw=- mac=- routes=none recorded=";
        QTest::newRow("name too long") << "longname" << "0"
                                       << "rc=-2 ip=- mask=- gw=- mac=- routes=none recorded=";
        QTest::newRow("default route present")
            << "route" << "1"
            << "rc=0 ip=127.0.0.1 mask=255.0.0.0 gw=10.9.8.7 mac=00:00:00:00:00:00 routes=0708090A recorded=";
        QTest::newRow("no default route, target: route through own address")
            << "noroute" << "1"
            << "rc=0 ip=127.0.0.1 mask=255.0.0.0 gw=127.0.0.1 mac=00:00:00:00:00:00 routes=0100007F recorded=";
        QTest::newRow("no default route, off target: recorded only")
            << "noroute" << "0"
            << "rc=0 ip=127.0.0.1 mask=255.0.0.0 gw=127.0.0.1 mac=00:00:00:00:00:00 routes=none "
               "recorded=route del default|route add default gw 127.0.0.1";
    }
    void interfaceState()
    {
        QFETCH(QString, which);
        QFETCH(QString, target);
        QFETCH(QString, expected);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VMM_TARGET"), target);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("unshare"),
                {QStringLiteral("-n"), QStringLiteral(FOUNDATION_HELPER), QStringLiteral("ifaddr"), parentNs_, which});
        QVERIFY(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        QVERIFY2(p.exitCode() == 0, qPrintable(out + QLatin1Char(' ') + QString::fromUtf8(p.readAllStandardError())));
        QCOMPARE(out, expected);
    }
};

QTEST_GUILESS_MAIN(TestIfAddr)
#include "tst_ifaddr.moc"
