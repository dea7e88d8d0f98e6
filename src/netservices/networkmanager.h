// The program's side of the network-card arrangement of the target computer.
//
// The cards are configured by the target's own card script; it leaves the
// card list in two request files (wired and Wi-Fi) and applies what this
// program writes back into them. `NetworkManager` reads that list (keeping
// only the cards the kernel really has), writes the operator's wishes back,
// samples the kernel's receive counters for a live rate and link state per
// card, and scans for Wi-Fi networks.
//
// Every file path goes through `NetPaths`, so that tests and the demo point
// the manager at folders of their own; every command goes through the
// platform command runner with an argument list (off the target the
// machine-changing ones are only recorded). Off the target, when
// `NetPaths::simulator` names a program, that program stands in for the card
// script (tools/netcardsim).
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QNetworkInterface>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;

struct stu_netinfo {
    bool isdhcp = false;
    bool iswifi = false;
    bool ispriority = false;
    QString name;
    QString address;
    QString netmask;
    QString gateway;
    QString mac;
    QString dns;
    QString status;
    QString describe;
    bool use = true;  // Wi-Fi only
    QString hotname;  // Wi-Fi only: SSID to join
    QString passwd;   // Wi-Fi only: pass phrase of that network
};

struct stu_speedinfo {
    bool active = false;
    quint64 prevBytes = 0;
    quint64 curBytes = 0;
    QString rate = QStringLiteral("0 kb/s");
    QString spare;
};

struct NetPaths {
    QString netplanDir = QStringLiteral("/etc/netplan");
    QString pyreport = QStringLiteral("/etc/network/pyreport.txt");
    QString procNetDev = QStringLiteral("/proc/net/dev");
    QString sysClassNet = QStringLiteral("/sys/class/net");
    QString proc = QStringLiteral("/proc");
    // The target's card script, run from the program folder.
    QString scriptProgram = QStringLiteral("python3");
    QStringList scriptArgs{QStringLiteral("./cnt_net/zelqx71_upnetcard.py")};
    // Off the target: the stand-in for the card script (empty: none).
    QString simulator;

    QString wiredFile() const { return netplanDir + QStringLiteral("/netplan_prejson.txt"); }
    QString wifiFile() const { return netplanDir + QStringLiteral("/wifi_prejson.txt"); }
};

class NetworkManager : public QObject {
    Q_OBJECT
public:
    static NetworkManager* getInstance();
    // The target's own files there; elsewhere folders of the program.
    static NetPaths defaultPaths();
    static NetworkManager* instance;

    // Loads the card list once (initnetcard without force).
    explicit NetworkManager(const NetPaths& paths = defaultPaths(), QObject* parent = nullptr);
    ~NetworkManager() override;

    const NetPaths& paths() const { return paths_; }
    void setPaths(const NetPaths& paths) { paths_ = paths; }

    // Runs the card script when the wired request file is missing or `force`
    // is set, then loads the cards the kernel lists. True: at least one card.
    bool initnetcard(bool force);
    QMap<QString, stu_netinfo> readNetInfo() const;
    QJsonArray cardList() const { return cards_; }
    QString errorText() const { return error_; }

    stu_netinfo json2stu(const QJsonObject& o) const;
    QJsonObject stu2json(const stu_netinfo& s) const;

    // Writes the request files from `cards` (ascending name order; Wi-Fi cards
    // to the Wi-Fi file, created readable by the owner only since it holds
    // pass phrases), each replaced atomically. False when one could not be
    // written.
    bool writeRequestFiles(const QMap<QString, stu_netinfo>& cards) const;

    // Starts (on) or stops the rate sampling with the given period.
    void NDSpeed_Touch(bool on, int periodMs);
    bool isSampling() const { return timer_ != nullptr; }
    QMap<QString, stu_speedinfo> speedMap() const { return speeds_; }
    // One sampling tick; the timer calls it.
    void sampleTick();
    // The kernel's interfaces and their flags (tests replace it).
    using LinkFlags = QMap<QString, QNetworkInterface::InterfaceFlags>;
    std::function<LinkFlags()> linkFlags = &NetworkManager::kernelLinks;
    static LinkFlags kernelLinks();

    // Prepares the card and scans for SSIDs (empty card: no scan).
    QStringList getHotPoints(const QString& card);
    void run_upnetcard();
    void run_wireless();

    QMap<QString, QString> NetInfoChk() const;
    bool isWifi(const QString& name) const;
    bool getProcessAlive(const QString& name) const;
    static bool chkIPformat(const QString& text);

    QString priorityCard() const { return priorityCard_; }
    void setPriorityCard(const QString& name) { priorityCard_ = name; }

    // Interface names of a /proc/net/dev text, "lo" left out, in order.
    static QStringList presentInterfaces(const QByteArray& procNetDev);
    // Receive byte counters of a /proc/net/dev text by interface name.
    static QMap<QString, quint64> receiveCounters(const QByteArray& procNetDev);
    // The rate text of `bytesPerSecond`: "1.00mb/s", "2.00kb/s", "12.00b/s".
    static QString rateText(double bytesPerSecond);
    // The SSIDs of an iwlist scan output, each once, no empty one.
    static QStringList parseEssids(const QByteArray& scanOutput);

private:
    void runCardScript();

    NetPaths paths_;
    QJsonArray cards_;
    QString error_;
    QTimer* timer_ = nullptr;
    QMap<QString, stu_speedinfo> speeds_;
    QSet<QString> counted_;  // cards whose receive counter was read once
    int ticks_ = 0;
    int periodMs_ = 500;
    QString scanCard_;
    QStringList ssids_;
    QString priorityCard_;
};
