// The two sides of the camera discovery over the UDP core.
//
// UDP_ACam_Client (the monitor's side) finds the cameras on every local
// network by broadcast, keeps them in a table keyed by device key, moves
// cameras that answered from a foreign subnet (or with a clashing address)
// onto a free address of the local subnet, sets their clocks and restarts a
// camera's daemon.
//
// UDP_ACam_Server (the camera's side) answers discover commands with one
// description per interface, takes a new address when a force-IP command
// names its key, sets the clock and announces a daemon restart. Every
// machine-changing command goes through the platform command runner.
#pragma once

#include "gvcppacket.h"
#include "udp_core.h"

#include <QMap>
#include <QString>

#include <string>

class UDP_ACam_Client : public UDP_Core {
    Q_OBJECT
public:
    static constexpr int kFindWaitMs = 500;
    static constexpr int kForceIpWaitMs = 1000;
    static constexpr int kCommandWaitMs = 200;
    static constexpr int kMaxCandidates = 249;
    // Device keys the table takes; answers with further new keys are dropped.
    static constexpr int kMaxCameraKeys = 1024;

    explicit UDP_ACam_Client(QObject* parent = nullptr);
    ~UDP_ACam_Client() override;

    QMap<QString, gvcp_discover_ack_payload> findCamera();
    void ActForceIP();
    void ActUpdateTime();
    void ActRebootDaemon(const QString& key);

    const QMap<QString, gvcp_discover_ack_payload>& cameraMap() const { return cameraMap_; }

    // One planned force-IP: sent from `local` to the camera with `key`.
    struct ForceIpPlan {
        QString local;
        QString address;
        QString mask;
        QString gateway;
        QString key;
    };
    // The force-IP commands the current table calls for (no sending).
    QList<ForceIpPlan> planForceIp() const;

    static std::string gvcp_cmd_discover();
    static std::string gvcp_cmd_forceip(const char* ip, const char* mask, const char* gateway, const char* key);
    static std::string gvcp_cmd_uptime();
    static std::string gvcp_cmd_rebootdaemon();

public slots:
    QString AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf) override;

protected:
    // Sends one command from `local` to the devices' port.
    void sendCommand(const QString& local, const std::string& datagram);
    // Lets queued datagrams be handled for `ms` on this thread.
    static void waitHandling(int ms);
    // Opens the receive window for `ms`, handling the answers on this thread;
    // all that came in the window is in the table on return.
    void collectAnswers(int ms);

    QMap<QString, gvcp_discover_ack_payload> cameraMap_;
    PeerTrafficLog discoverAckLog_ {QStringLiteral("AppCli-Recv(GVCP_DISCOVERY_ACK)")};
    PeerTrafficLog forceIpAckLog_ {QStringLiteral("AppCli-Recv(GVCP_FORCEIP_ACK) found")};
    PeerTrafficLog tableFullLog_ {QStringLiteral("AppCli-Recv(GVCP_DISCOVERY_ACK): camera table full, new key dropped")};
};

class UDP_ACam_Server : public UDP_Core {
    Q_OBJECT
public:
    explicit UDP_ACam_Server(QObject* parent = nullptr);
    ~UDP_ACam_Server() override;

    static std::string gvcp_ack_discover(const char* key, const char* requester, const char* ip, const char* mask,
                                         const char* gateway, const char* mac);
    static std::string gvcp_ack_forceip(const char* key, const char* requester, const char* ip, const char* mask,
                                        const char* gateway, const char* mac);
    static std::string gvcp_ack_updatetime();
    static std::string gvcp_ack_rebootdaemon();

    // The zone file copied into place before the clock is set.
    static constexpr const char* kZoneFile = "/usr/share/zoneinfo/Asia/Shanghai";

public slots:
    QString AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf) override;

signals:
    void sig_updatetime();
    void sig_rebootdaemon();

private:
    void answerDiscover(const sockaddr_in& from);
    void applyForceIp(const sockaddr_in& from, const QByteArray& datagram);
    void deviceCommand(const QByteArray& datagram);
    void sendAck(const QString& source, const std::string& datagram);
};
