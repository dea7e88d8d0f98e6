#include "udp_acam_gvcp.h"

#include "peertrafficlog.h"
#include "platform.h"
#include "publictools.h"

#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <arpa/inet.h>

#include <cstring>

namespace {

Udpsend_Cond broadcastFrom(const QString& local, int port)
{
    Udpsend_Cond c;
    c.destIp = gvcp::kBroadcast;
    c.destPort = port;
    c.sourceIp = local.toStdString();
    c.waitMs = 0;
    c.resendMs = 0;
    return c;
}

// A new address a device may take: a unicast address outside 0/8, loopback
// and multicast, with a contiguous, non-empty mask.
bool usableForceIp(quint32 ipNet, quint32 maskNet)
{
    const quint32 ip = ntohl(ipNet);
    const quint32 mask = ntohl(maskNet);
    const quint32 first = ip >> 24;
    if (first == 0 || first == 127 || first >= 224)
        return false;
    if (mask == 0 || (~mask & (~mask + 1)) != 0)
        return false;  // not of the form 1...10...0
    const quint32 host = ip & ~mask;
    return host != 0 && host != ~mask;  // neither the network nor its broadcast
}

}  // namespace

// ================================================================ client

UDP_ACam_Client::UDP_ACam_Client(QObject* parent) : UDP_Core(parent)
{
    // Answers are awaited only inside findCamera and ActForceIP: anything
    // else sent to the port is dropped on the listener's thread, so that no
    // host of the camera network reaches this thread or grows the table
    // between enumerations.
    setReceiveWindow(false);
    addListen(gvcp::kBroadcast, gvcp::kRequesterPort);
    ActUpdateTime();
}

UDP_ACam_Client::~UDP_ACam_Client()
{
    stopListen();
}

std::string UDP_ACam_Client::gvcp_cmd_discover()
{
    return gvcp::cmdDiscover();
}

std::string UDP_ACam_Client::gvcp_cmd_forceip(const char* ip, const char* mask, const char* gateway, const char* key)
{
    return gvcp::cmdForceIp(ip, mask, gateway, key);
}

std::string UDP_ACam_Client::gvcp_cmd_uptime()
{
    return gvcp::cmdDevice(gvcp::kKindSetTime, gettimeofday_ms());
}

std::string UDP_ACam_Client::gvcp_cmd_rebootdaemon()
{
    return gvcp::cmdDevice(gvcp::kKindRestart, 0);
}

void UDP_ACam_Client::sendCommand(const QString& local, const std::string& datagram)
{
    std::string reply;
    send_core(broadcastFrom(local, gvcp::kDevicePort), datagram, reply);
}

void UDP_ACam_Client::waitHandling(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void UDP_ACam_Client::collectAnswers(int ms)
{
    setReceiveWindow(true);
    waitHandling(ms);
    setReceiveWindow(false);
    deliverQueued();
    discoverAckLog_.flush();
    forceIpAckLog_.flush();
}

QMap<QString, gvcp_discover_ack_payload> UDP_ACam_Client::findCamera()
{
    cameraMap_.clear();
    QStringList addresses;
    for (const NetBase& row : netTable_)
        addresses << row.ip;
    setReceiveWindow(true);  // before the first command: no answer is missed
    for (const QString& ip : addresses) {
        qDebug() << "AppCli-Send(gvcp_cmd_discover) by:" << ip;
        sendCommand(ip, gvcp_cmd_discover());
    }
    collectAnswers(kFindWaitMs);
    return cameraMap_;
}

QList<UDP_ACam_Client::ForceIpPlan> UDP_ACam_Client::planForceIp() const
{
    QList<ForceIpPlan> plans;
    for (auto it = cameraMap_.constBegin(); it != cameraMap_.constEnd(); ++it) {
        const gvcp_discover_ack_payload& p = it.value();
        const QString camIp = gvcp::addressText(p.ip);
        const QString camMask = gvcp::addressText(p.netmask);
        const QString requester = gvcp::addressText(p.requester_ip);
        const NetBase local = foundNetBaseByIP(requester);
        if (local.name.isEmpty())
            continue;
        const QString camNet = getSubNet(camIp, camMask);
        const QString localNet = getSubNet(requester, local.mask);
        if (camNet.isEmpty() || localNet.isEmpty())
            continue;
        ForceIpPlan plan;
        plan.local = requester;
        plan.key = it.key();
        if (camNet == localNet) {
            plan.address = camIp;
            plan.mask = camMask;
        } else {
            plan.address = requester;
            plan.mask = local.mask;
        }
        plans << plan;
    }

    QStringList inUse;
    for (const NetBase& row : netTable_)
        inUse << row.ip;
    QList<ForceIpPlan> sending;
    for (ForceIpPlan plan : plans) {
        if (!inUse.contains(plan.address)) {
            inUse << plan.address;
            continue;
        }
        const QStringList parts = plan.address.split(QLatin1Char('.'));
        if (parts.size() != 4)
            continue;
        const int base = parts[3].toInt();
        for (int k = 0; k < kMaxCandidates; ++k) {
            QString candidate = plan.address;
            if (!setIPLast(candidate, ((base + k) % 253) + 1))
                break;
            if (inUse.contains(candidate))
                continue;
            plan.address = candidate;
            plan.gateway = candidate;
            inUse << candidate;
            sending << plan;
            break;
        }
    }
    return sending;
}

void UDP_ACam_Client::ActForceIP()
{
    const QList<ForceIpPlan> sending = planForceIp();
    if (!sending.isEmpty())
        setReceiveWindow(true);
    for (const ForceIpPlan& plan : sending) {
        qDebug() << "AppCli-Send(gvcp_cmd_forceip) by:" << plan.local;
        const QByteArray ip = plan.address.toLatin1();
        const QByteArray mask = plan.mask.toLatin1();
        const QByteArray gateway = plan.gateway.toLatin1();
        const QByteArray key = plan.key.toLatin1();
        sendCommand(plan.local, gvcp_cmd_forceip(ip.constData(), mask.constData(), gateway.constData(),
                                                 key.constData()));
    }
    if (!sending.isEmpty())
        collectAnswers(kForceIpWaitMs);
}

void UDP_ACam_Client::ActUpdateTime()
{
    QStringList addresses;
    for (const NetBase& row : netTable_)
        addresses << row.ip;
    for (const QString& ip : addresses) {
        qDebug() << "AppCli-Send(gvcp_cmd_uptime) by:" << ip;
        sendCommand(ip, gvcp_cmd_uptime());
    }
    waitHandling(kCommandWaitMs);
}

void UDP_ACam_Client::ActRebootDaemon(const QString& key)
{
    const auto it = cameraMap_.constFind(key);
    if (it == cameraMap_.constEnd()) {
        qInfo() << "Reboot ZelCamera error!";
        return;
    }
    const QString local = getSameUseNet(gvcp::addressText(it.value().ip));
    if (local.isEmpty())
        return;
    qDebug() << "AppCli-Send(gvcp_cmd_rebootdaemon) by:" << local;
    sendCommand(local, gvcp_cmd_rebootdaemon());
    waitHandling(kCommandWaitMs);
}

QString UDP_ACam_Client::AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf)
{
    Q_UNUSED(saclient);
    gvcp::Header h;
    if (!gvcp::readHeader(recvbuf.constData(), recvbuf.size(), &h))
        return QStringLiteral("success");
    if (h.code == gvcp::kAckDiscover) {
        gvcp_discover_ack_payload p;
        gvcp::copyPayload(recvbuf.constData(), recvbuf.size(), &p, sizeof p);
        const QString key = gvcp::fixedText(p.device_key, gvcp::kKeyBytes);
        if (key.isEmpty()) {
            // Without a key the camera could be neither told apart nor moved.
            discoverAckLog_.note(QStringLiteral("no device key, dropped"));
            return QStringLiteral("success");
        }
        if (cameraMap_.size() >= kMaxCameraKeys && !cameraMap_.contains(key)) {
            tableFullLog_.note(key);
            return QStringLiteral("success");
        }
        cameraMap_.insert(key, p);
        discoverAckLog_.note(QStringLiteral("%1 %2 %3 %4 -> %5")
                                 .arg(gvcp::fixedText(p.model_name, sizeof p.model_name), key,
                                      gvcp::addressText(p.ip), gvcp::addressText(p.netmask),
                                      gvcp::addressText(p.requester_ip)));
    } else if (h.code == gvcp::kAckForceIp) {
        gvcp_forceip_ack_payload p;
        gvcp::copyPayload(recvbuf.constData(), recvbuf.size(), &p, sizeof p);
        const QString key = gvcp::fixedText(p.device_key, gvcp::kKeyBytes);
        const auto it = cameraMap_.find(key);
        if (it != cameraMap_.end()) {
            it.value().requester_ip = p.requester_ip;
            it.value().ip = p.ip;
            it.value().netmask = p.netmask;
            it.value().gateway = p.gateway;
            forceIpAckLog_.note(QStringLiteral("%1 %2 %3 -> %4")
                                    .arg(key, gvcp::addressText(p.ip), gvcp::addressText(p.netmask),
                                         gvcp::addressText(p.requester_ip)));
        }
    }
    return QStringLiteral("success");
}

// ================================================================ server

UDP_ACam_Server::UDP_ACam_Server(QObject* parent) : UDP_Core(parent)
{
    addListen(gvcp::kBroadcast, gvcp::kDevicePort);
}

UDP_ACam_Server::~UDP_ACam_Server()
{
    stopListen();
}

std::string UDP_ACam_Server::gvcp_ack_discover(const char* key, const char* requester, const char* ip,
                                               const char* mask, const char* gateway, const char* mac)
{
    return gvcp::ackDiscover(key, requester, ip, mask, gateway, mac);
}

std::string UDP_ACam_Server::gvcp_ack_forceip(const char* key, const char* requester, const char* ip,
                                              const char* mask, const char* gateway, const char* mac)
{
    return gvcp::ackForceIp(key, requester, ip, mask, gateway, mac);
}

std::string UDP_ACam_Server::gvcp_ack_updatetime()
{
    return gvcp::ackDevice(gvcp::kKindSetTime, gettimeofday_ms());
}

std::string UDP_ACam_Server::gvcp_ack_rebootdaemon()
{
    return gvcp::ackDevice(gvcp::kKindRestart, gettimeofday_ms());
}

void UDP_ACam_Server::sendAck(const QString& source, const std::string& datagram)
{
    std::string reply;
    send_core(broadcastFrom(source, gvcp::kRequesterPort), datagram, reply);
}

QString UDP_ACam_Server::AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf)
{
    gvcp::Header h;
    if (!gvcp::readHeader(recvbuf.constData(), recvbuf.size(), &h))
        return QStringLiteral("no success");
    if (h.first != gvcp::kCommandKey)
        return QStringLiteral("success");
    switch (h.code) {
    case gvcp::kCmdDiscover:
        answerDiscover(saclient);
        break;
    case gvcp::kCmdForceIp:
        applyForceIp(saclient, recvbuf);
        break;
    case gvcp::kCmdDevice:
        deviceCommand(recvbuf);
        break;
    default:
        break;
    }
    return QStringLiteral("success");
}

void UDP_ACam_Server::answerDiscover(const sockaddr_in& from)
{
    const QByteArray requester = gvcp::addressText(from.sin_addr.s_addr).toLatin1();
    const QByteArray key = deviceKey_.toLatin1();
    const QList<NetBase> rows = netTable_.values();
    for (const NetBase& row : rows) {
        const QByteArray ip = row.ip.toLatin1();
        const QByteArray mask = row.mask.toLatin1();
        const QByteArray gateway = row.gateway.toLatin1();
        const QByteArray mac = row.mac.toLatin1();
        sendAck(row.ip, gvcp_ack_discover(key.constData(), requester.constData(), ip.constData(), mask.constData(),
                                          gateway.constData(), mac.constData()));
        static PeerTrafficLog answered(QStringLiteral("ArmServ-Send(gvcp_ack_discover) callback"));
        answered.note(QStringLiteral("from: %1 %2 to %3").arg(deviceKey_, row.ip, QString::fromLatin1(requester)));
    }
}

void UDP_ACam_Server::applyForceIp(const sockaddr_in& from, const QByteArray& datagram)
{
    gvcp_forceip_payload p;
    gvcp::copyPayload(datagram.constData(), datagram.size(), &p, sizeof p);
    const QString ip = gvcp::addressText(p.ip);
    const QString mask = gvcp::addressText(p.netmask);
    const QString gateway = gvcp::addressText(p.gateway);
    const QString key = gvcp::fixedText(p.device_key, gvcp::kKeyBytes);
    // Requests come as often as peers send them: counted, one line per interval.
    static PeerTrafficLog requests(QStringLiteral("ArmServ-Recv(gvcp_forceip_req)"));
    requests.note(QStringLiteral("%1 %2 %3 %4").arg(key, ip, mask, gateway));

    if (key == deviceKey_ && !netTable_.isEmpty()) {
        if (!usableForceIp(p.ip, p.netmask)) {
            // An address the device could not be reached at would cut it off.
            static PeerTrafficLog refused(QStringLiteral("ArmServ-Recv(gvcp_forceip_req): refused, not a usable address"));
            refused.note(QStringLiteral("%1 %2").arg(ip, mask));
        } else {
            const NetBase first = netTable_.first();
            platform::CommandRunner& run = platform::runner();
            run.runOnTarget(QStringLiteral("ip"), {QStringLiteral("addr"), QStringLiteral("flush"),
                                                   QStringLiteral("dev"), first.name});
            run.runOnTarget(QStringLiteral("ip"), {QStringLiteral("route"), QStringLiteral("flush"),
                                                   QStringLiteral("table"), QStringLiteral("main")});
            run.runOnTarget(QStringLiteral("ifconfig"), {first.name, ip, QStringLiteral("netmask"), mask});
            run.runOnTarget(QStringLiteral("route"), {QStringLiteral("add"), QStringLiteral("default"),
                                                      QStringLiteral("gw"), gateway});

            char newIp[32] = {};
            char newMask[32] = {};
            char newGateway[32] = {};
            char newMac[32] = {};
            const QByteArray name = first.name.toLatin1();
            const int rc = GetIfAddr(name.constData(), newIp, newMask, newGateway, newMac);
            if (rc >= 0) {
                NetBase row;
                row.name = first.name;
                row.ip = QString::fromLatin1(newIp);
                row.mask = QString::fromLatin1(newMask);
                row.gateway = QString::fromLatin1(newGateway);
                row.mac = QString::fromLatin1(newMac);
                netTable_.insert(row.mac, row);
            } else {
                errorText_ = QStringLiteral("error CasterManager::GetIfAddr ") + QString::number(rc);
            }

            const NetBase now = netTable_.first();
            const QByteArray keyBytes = deviceKey_.toLatin1();
            const QByteArray requester = gvcp::addressText(from.sin_addr.s_addr).toLatin1();
            const QByteArray nowIp = now.ip.toLatin1();
            const QByteArray nowMask = now.mask.toLatin1();
            const QByteArray nowGateway = now.gateway.toLatin1();
            const QByteArray nowMac = now.mac.toLatin1();
            sendAck(now.ip, gvcp_ack_forceip(keyBytes.constData(), requester.constData(), nowIp.constData(),
                                             nowMask.constData(), nowGateway.constData(), nowMac.constData()));
            static PeerTrafficLog applied(QStringLiteral("ArmServ-Send(gvcp_forceip_req) response new info"));
            applied.note(QStringLiteral("%1 %2").arg(deviceKey_, now.ip));
        }
    }
}

void UDP_ACam_Server::deviceCommand(const QByteArray& datagram)
{
    unsigned char record[gvcp::kDevicePayloadBytes];
    gvcp::copyPayload(datagram.constData(), datagram.size(), record, sizeof record);
    const gvcp::DevicePayload cmd = gvcp::readDevicePayload(record);
    if (cmd.kind == gvcp::kKindSetTime) {
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(cmd.timeMs).toLocalTime();
        if (cmd.timeMs < 0 || !when.isValid() || when.date().year() > 9999) {
            static PeerTrafficLog refused(QStringLiteral("ArmServ-Recv(gvcp_cmd_uptime): refused, not a valid time"));
            refused.note(QString::number(cmd.timeMs));
            return;
        }
        platform::CommandRunner& run = platform::runner();
        run.runOnTarget(QStringLiteral("cp"), {QString::fromLatin1(kZoneFile), QStringLiteral("/etc/localtime")});
        // The clock is written to the hardware clock only when it was set.
        if (run.runOnTarget(QStringLiteral("date"),
                            {QStringLiteral("-s"), when.toString(QStringLiteral("yyyyMMdd hh:mm:ss"))})
                .ok())
            run.runOnTarget(QStringLiteral("hwclock"), {QStringLiteral("--systohc")});
        emit sig_updatetime();
        if (!netTable_.isEmpty())
            sendAck(netTable_.first().ip, gvcp_ack_updatetime());
    } else if (cmd.kind == gvcp::kKindRestart) {
        emit sig_rebootdaemon();
        if (!netTable_.isEmpty())
            sendAck(netTable_.first().ip, gvcp_ack_rebootdaemon());
    }
}
