// Link state and receive rates read from the kernel for real, inside a
// network namespace of this test with a veth pair of its own.
#include "networkmanager.h"
#include "support_netns.h"

#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

class TestNetLinks : public QObject {
    Q_OBJECT
private slots:
    void vethPair()
    {
        NETNS_GUARD();
        QVERIFY(netns::prepare());
        QTemporaryDir dir;
        NetPaths p;
        p.netplanDir = dir.path();
        p.pyreport = dir.filePath("pyreport.txt");
        QFile wired(p.wiredFile());
        QVERIFY(wired.open(QIODevice::WriteOnly));
        wired.write("{}");
        wired.close();
        NetworkManager m(p);

        QVERIFY(netns::ip({"link", "add", "va", "type", "veth", "peer", "name", "vb"}));
        QVERIFY(netns::ip({"addr", "add", "10.9.0.1/24", "dev", "va"}));
        QVERIFY(netns::ip({"link", "set", "va", "up"}));
        QVERIFY(netns::ip({"link", "set", "vb", "up"}));
        QTRY_VERIFY(NetworkManager::kernelLinks().value("va") & QNetworkInterface::IsRunning);

        for (int i = 0; i < 5; ++i)
            m.sampleTick();  // the first one sets the baselines
        QVERIFY(m.speedMap().contains("va"));
        QVERIFY(m.speedMap().contains("vb"));
        QCOMPARE(m.speedMap()["vb"].rate, QString("0 kb/s"));

        // Broadcasts out of va arrive at vb: bytes received there.
        QUdpSocket s;
        QVERIFY(s.bind(QHostAddress("10.9.0.1"), 0));
        const QByteArray payload(1000, 'x');
        for (int i = 0; i < 20; ++i)
            QCOMPARE(s.writeDatagram(payload, QHostAddress("10.9.0.255"), 9), qint64(payload.size()));
        auto vbBytes = [] {
            QFile f("/proc/net/dev");
            return f.open(QIODevice::ReadOnly) ? NetworkManager::receiveCounters(f.readAll()).value("vb") : 0;
        };
        QTRY_VERIFY(vbBytes() >= 20000);
        m.sampleTick();
        QVERIFY2(m.speedMap()["vb"].active, qPrintable(m.speedMap()["vb"].rate));
        QVERIFY(m.speedMap()["vb"].rate.endsWith("kb/s"));
        QVERIFY(!m.speedMap()["vb"].rate.startsWith("0"));

        // The peer goes down: va stays up without a link and shows inactive.
        QVERIFY(netns::ip({"link", "set", "vb", "down"}));
        // The kernel may report va as not even up for a while: either way
        // it has no link.
        QTRY_VERIFY(NetworkManager::kernelLinks().contains("va") &&
                    !(NetworkManager::kernelLinks().value("va") & QNetworkInterface::IsRunning));
        m.sampleTick();
        QVERIFY(!m.speedMap()["va"].active);
    }
};

NETNS_TEST_MAIN(TestNetLinks)
#include "tst_netlinks.moc"
