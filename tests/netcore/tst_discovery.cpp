// The discovery client against two cameras, each a helper process in a
// network namespace of its own, joined to this test's namespace by a veth
// pair: camera A inside the monitor's subnet, camera B in a foreign one.
#include "support_netns.h"
#include "support_nscamera.h"
#include "udp_acam_gvcp.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

namespace {

QString addr(quint32 networkOrder)
{
    return gvcp::addressText(networkOrder);
}

QString macText(const unsigned char* m)
{
    return QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
}

}  // namespace

class TstDiscovery : public QObject {
    Q_OBJECT
    NsCamera a_ {UDPCAM_HELPER, "vm0", "vc0", "192.168.7.10/24", "192.168.7.21/24"};
    NsCamera b_ {UDPCAM_HELPER, "vm1", "vc1", "192.168.8.10/24", "10.0.0.5/8"};
    std::unique_ptr<UDP_ACam_Client> client_;

    // An enumeration listens 500 ms; a loaded machine may need another pass.
    QMap<QString, gvcp_discover_ack_payload> findBoth()
    {
        QMap<QString, gvcp_discover_ack_payload> found;
        for (int pass = 0; pass < 5 && found.size() < 2; ++pass)
            found = client_->findCamera();
        return found;
    }

private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        qputenv("VMM_TARGET", "0");
        QVERIFY(netns::prepare());
        QVERIFY2(a_.start(), qPrintable(a_.lines.join('|')));
        QVERIFY2(b_.start(), qPrintable(b_.lines.join('|')));
        // Constructing the client broadcasts a set-time command on every network.
        client_ = std::make_unique<UDP_ACam_Client>();
        QCOMPARE(client_->netTable().size(), 2);
    }

    void setTimeReachesEveryCameraRunner()
    {
        for (NsCamera* cam : {&a_, &b_}) {
            QVERIFY2(cam->waitLine(QRegularExpression(QStringLiteral("^signal updatetime$"))),
                     qPrintable(cam->lines.join('|')));
            const QStringList runs = cam->runs();
            QVERIFY2(runs.size() >= 3, qPrintable(runs.join('|')));
            QCOMPARE(runs[0], QStringLiteral("run: cp /usr/share/zoneinfo/Asia/Shanghai /etc/localtime"));
            QVERIFY2(QRegularExpression(QStringLiteral("^run: date -s \\d{8} \\d\\d:\\d\\d:\\d\\d$")).match(runs[1]).hasMatch(),
                     qPrintable(runs[1]));
            QCOMPARE(runs[2], QStringLiteral("run: hwclock --systohc"));
        }
    }

    void enumerationFindsBothCameras()
    {
        const QMap<QString, gvcp_discover_ack_payload> found = findBoth();
        QCOMPARE(found.size(), 2);
        struct Want {
            NsCamera* cam;
            const char* ip;
            const char* mask;
            const char* requester;
        };
        for (const Want& w : {Want {&a_, "192.168.7.21", "255.255.255.0", "192.168.7.10"},
                              Want {&b_, "10.0.0.5", "255.0.0.0", "192.168.8.10"}}) {
            QVERIFY2(found.contains(w.cam->key), qPrintable(w.cam->key));
            const gvcp_discover_ack_payload& p = found[w.cam->key];
            QCOMPARE(addr(p.ip), QString::fromLatin1(w.ip));
            QCOMPARE(addr(p.netmask), QString::fromLatin1(w.mask));
            QCOMPARE(addr(p.requester_ip), QString::fromLatin1(w.requester));
            QCOMPARE(macText(p.mac), w.cam->mac);
            QCOMPARE(gvcp::fixedText(p.model_name, 32), QStringLiteral("XAN-QB117-82KT"));
            QCOMPARE(gvcp::fixedText(p.version_text, 32), QStringLiteral("V2.8.6 180210 143913"));
            QCOMPARE(gvcp::fixedText(p.device_name, 48), QStringLiteral("XAN MONITOR"));
            QCOMPARE(gvcp::fixedText(p.protocol_name, 32), QStringLiteral("GEV"));
        }
    }

    void forceIpMovesTheForeignCameraIntoTheSubnet()
    {
        QCOMPARE(findBoth().size(), 2);
        const QList<UDP_ACam_Client::ForceIpPlan> plans = client_->planForceIp();
        QCOMPARE(plans.size(), 1);
        QCOMPARE(plans[0].key, b_.key);
        client_->ActForceIP();
        // The answer normally lands within the call's own wait; a loaded
        // machine may deliver it a little later.
        QTRY_COMPARE_WITH_TIMEOUT(addr(client_->cameraMap()[b_.key].ip), QStringLiteral("192.168.8.11"), 60000);

        QVERIFY(b_.waitLine(QRegularExpression(QStringLiteral("^run: ifconfig"))));
        const QStringList runs = b_.runs();
        for (const QString& want : {QStringLiteral("run: ip addr flush dev vc1"),
                                    QStringLiteral("run: ip route flush table main"),
                                    QStringLiteral("run: ifconfig vc1 192.168.8.11 netmask 255.255.255.0"),
                                    QStringLiteral("run: route add default gw 192.168.8.11")})
            QVERIFY2(runs.contains(want), qPrintable(runs.join('|')));
        QVERIFY(a_.runs().filter(QStringLiteral("ifconfig")).isEmpty());

        // A fresh enumeration finds the camera at its new address, and there
        // is nothing more to move.
        const QMap<QString, gvcp_discover_ack_payload> found = findBoth();
        QCOMPARE(found.size(), 2);
        QCOMPARE(addr(found[b_.key].ip), QStringLiteral("192.168.8.11"));
        QCOMPARE(addr(found[b_.key].netmask), QStringLiteral("255.255.255.0"));
        QVERIFY(client_->planForceIp().isEmpty());
    }

    void restartReachesTheCameraOfThatNetworkOnly()
    {
        QVERIFY(findBoth().contains(a_.key));
        client_->ActRebootDaemon(a_.key);
        QVERIFY(a_.waitLine(QRegularExpression(QStringLiteral("^signal rebootdaemon$"))));
        // Give B's helper the same chance to report, then check it did not.
        b_.waitLine(QRegularExpression(QStringLiteral("^signal rebootdaemon$")), 300);
        QVERIFY(!b_.lines.contains(QStringLiteral("signal rebootdaemon")));
    }

    void cleanupTestCase()
    {
        client_.reset();
    }
};

NETNS_TEST_MAIN(TstDiscovery)
#include "tst_discovery.moc"
