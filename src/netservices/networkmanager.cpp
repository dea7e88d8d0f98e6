#include "networkmanager.h"

#include "atomicfile.h"
#include "ccomp_dialogframe.h"
#include "platform.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QSet>
#include <QRegularExpression>
#include <QTimer>

#include <unistd.h>

NetworkManager* NetworkManager::instance = nullptr;

namespace {

const char kNoCardText[] = "无法找到网卡信息 请联系开发人员!!";

QByteArray readAll(const QString& path, bool* ok = nullptr)
{
    QFile f(path);
    const bool opened = f.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    return opened ? f.readAll() : QByteArray();
}

void takeString(const QJsonObject& o, const char* key, QString& field)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isString())
        field = v.toString();
}

void takeBool(const QJsonObject& o, const char* key, bool& field)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isBool())
        field = v.toBool();
}

void runWaiting(std::function<void()> job)
{
    CComp_DiaWait wait(std::move(job));
    wait.exec();
}

}  // namespace

NetPaths NetworkManager::defaultPaths()
{
    NetPaths p;
    if (platform::runner().isTarget())
        return p;
    // Off the target the machine's own network files are never touched: the
    // request files live in the program folder, "applied" by the stand-in.
    p.netplanDir = QStringLiteral("./cnt_net/netplan");
    p.pyreport = QStringLiteral("./cnt_net/netplan/pyreport.txt");
    if (QFile::exists(QStringLiteral("./cnt_net/netcardsim.py")))
        p.simulator = QStringLiteral("./cnt_net/netcardsim.py");
    return p;
}

NetworkManager* NetworkManager::getInstance()
{
    if (!instance)
        instance = new NetworkManager(defaultPaths());
    return instance;
}

NetworkManager::NetworkManager(const NetPaths& paths, QObject* parent) : QObject(parent), paths_(paths)
{
    initnetcard(false);
}

NetworkManager::~NetworkManager()
{
    if (instance == this)
        instance = nullptr;
}

stu_netinfo NetworkManager::json2stu(const QJsonObject& o) const
{
    stu_netinfo s;
    takeString(o, "mac", s.mac);
    takeString(o, "name", s.name);
    takeString(o, "address", s.address);
    takeString(o, "netmask", s.netmask);
    takeString(o, "gateway", s.gateway);
    takeString(o, "dns", s.dns);
    takeBool(o, "isdhcp", s.isdhcp);
    takeString(o, "describe", s.describe);
    takeString(o, "status", s.status);
    takeBool(o, "iswifi", s.iswifi);
    takeBool(o, "ispriority", s.ispriority);
    const QJsonValue np = o.value(QLatin1String("describe_netplan"));
    if (np.isString())
        s.describe += QLatin1Char('(') + np.toString() + QLatin1Char(')');
    if (s.iswifi) {
        takeBool(o, "use", s.use);
        takeString(o, "hotname", s.hotname);
        takeString(o, "passwd", s.passwd);
    }
    return s;
}

QJsonObject NetworkManager::stu2json(const stu_netinfo& s) const
{
    QJsonObject o;
    o.insert(QStringLiteral("name"), s.name);
    o.insert(QStringLiteral("address"), s.address);
    o.insert(QStringLiteral("netmask"), s.netmask);
    o.insert(QStringLiteral("gateway"), s.gateway);
    o.insert(QStringLiteral("mac"), s.mac);
    o.insert(QStringLiteral("dns"), s.dns);
    o.insert(QStringLiteral("status"), s.status);
    o.insert(QStringLiteral("describe"), s.describe);
    o.insert(QStringLiteral("isdhcp"), s.isdhcp);
    o.insert(QStringLiteral("iswifi"), s.iswifi);
    o.insert(QStringLiteral("ispriority"), s.ispriority && !s.name.isEmpty() && s.name == priorityCard_);
    if (s.iswifi) {
        o.insert(QStringLiteral("use"), s.use);
        o.insert(QStringLiteral("hotname"), s.hotname);
        o.insert(QStringLiteral("passwd"), s.passwd);
    }
    return o;
}

QStringList NetworkManager::presentInterfaces(const QByteArray& procNetDev)
{
    QStringList names;
    static const QRegularExpression re(QStringLiteral("\\s+(\\S+):\\s+"));
    const QString text = QString::fromUtf8(procNetDev);
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        const QString name = it.next().captured(1);
        if (name != QLatin1String("lo"))
            names << name;
    }
    return names;
}

QMap<QString, quint64> NetworkManager::receiveCounters(const QByteArray& procNetDev)
{
    QMap<QString, quint64> counters;
    static const QRegularExpression re(QStringLiteral("^\\s*(\\S+):\\s*(\\d+)\\s"));
    for (const QByteArray& line : procNetDev.split('\n')) {
        const auto m = re.match(QString::fromUtf8(line));
        if (!m.hasMatch() || m.captured(1) == QLatin1String("lo"))
            continue;
        bool ok = false;
        const quint64 v = m.captured(2).toULongLong(&ok);
        if (ok)
            counters.insert(m.captured(1), v);
    }
    return counters;
}

QString NetworkManager::rateText(double rate)
{
    if (qint64(rate / 1048576.0) >= 1)
        return QString::number(rate / 1048576.0, 'f', 2) + QStringLiteral("mb/s");
    if (qint64(rate / 1024.0) >= 1)
        return QString::number(rate / 1024.0, 'f', 2) + QStringLiteral("kb/s");
    return QString::number(rate, 'f', 2) + QStringLiteral("b/s");
}

QStringList NetworkManager::parseEssids(const QByteArray& scanOutput)
{
    QStringList ssids;
    static const QRegularExpression re(QStringLiteral("\\s+ESSID:\"(.*)\""));
    for (const QByteArray& line : scanOutput.split('\n')) {
        const auto m = re.match(QString::fromUtf8(line));
        if (!m.hasMatch())
            continue;
        const QString ssid = m.captured(1);
        if (!ssid.isEmpty() && !ssids.contains(ssid))
            ssids << ssid;
    }
    return ssids;
}

void NetworkManager::runCardScript()
{
    platform::CommandRunner& r = platform::runner();
    if (!r.isTarget() && !paths_.simulator.isEmpty()) {
        const auto res = r.run(paths_.simulator, {paths_.netplanDir, paths_.procNetDev, paths_.pyreport}, 60000);
        if (!res.ok())
            qWarning("card script stand-in failed (exit %d): %s", res.exitCode, res.err.constData());
        return;
    }
    const auto res = r.runOnTarget(paths_.scriptProgram, paths_.scriptArgs, 120000);
    if (r.isTarget() && !res.ok())
        qWarning("card script failed (exit %d): %s", res.exitCode, res.err.constData());
}

void NetworkManager::run_upnetcard()
{
    runCardScript();
}

bool NetworkManager::initnetcard(bool force)
{
    error_.clear();
    if (force || !QFile::exists(paths_.wiredFile())) {
        runWaiting([this] { run_upnetcard(); });
        if (!QFile::exists(paths_.wiredFile())) {
            error_ = QString::fromUtf8(kNoCardText);
            return false;
        }
    }
    const QByteArray wired = readAll(paths_.wiredFile());
    QStringList present = presentInterfaces(readAll(paths_.procNetDev));

    cards_ = QJsonArray();
    const QJsonValue list = QJsonDocument::fromJson(wired).object().value(QStringLiteral("netcard_info"));
    if (list.isArray()) {
        for (const QJsonValue& v : list.toArray()) {
            const QString name = v.toObject().value(QStringLiteral("name")).toString();
            if (!name.isEmpty() && present.removeOne(name))
                cards_.append(v);
            else
                error_ = QStringLiteral("Warning: Number of nics Changed");
        }
    }
    if (cards_.isEmpty()) {
        QFile::remove(paths_.pyreport);
        error_ = QString::fromUtf8(kNoCardText);
        return false;
    }

    QJsonParseError perr;
    const QJsonDocument wifi = QJsonDocument::fromJson(readAll(paths_.wifiFile()), &perr);
    if (perr.error == QJsonParseError::NoError) {
        const QJsonValue wl = wifi.object().value(QStringLiteral("netcard_info"));
        if (wl.isArray()) {
            for (const QJsonValue& v : wl.toArray()) {
                const QString name = v.toObject().value(QStringLiteral("name")).toString();
                if (!name.isEmpty() && present.removeOne(name))
                    cards_.append(v);
            }
        }
    }
    // A card plugged in after the request files were made is in neither:
    // it is listed with DHCP, as the card script lists a new card, and
    // reaches the request files when the operator confirms a card. Not
    // while the Wi-Fi file is unreadable: its cards would pass for new ones.
    if (perr.error == QJsonParseError::NoError || !QFile::exists(paths_.wifiFile())) {
        for (const QString& name : present) {
            QJsonObject card{{QStringLiteral("name"), name},
                             {QStringLiteral("isdhcp"), true},
                             {QStringLiteral("iswifi"), isWifi(name)},
                             {QStringLiteral("describe"), QStringLiteral("Port %1").arg(cards_.size() + 1)},
                             {QStringLiteral("describe_netplan"), name}};
            if (card.value(QStringLiteral("iswifi")).toBool())
                card.insert(QStringLiteral("use"), false);
            cards_.append(card);
        }
    }
    return true;
}

QMap<QString, stu_netinfo> NetworkManager::readNetInfo() const
{
    QMap<QString, stu_netinfo> out;
    for (const QJsonValue& v : cards_) {
        const stu_netinfo s = json2stu(v.toObject());
        out.insert(s.name, s);
    }
    return out;
}

bool NetworkManager::writeRequestFiles(const QMap<QString, stu_netinfo>& cards) const
{
    QJsonArray wired, wifi;
    for (const stu_netinfo& s : cards) {
        if (s.iswifi)
            wifi.append(stu2json(s));
        else
            wired.append(stu2json(s));
    }
    auto doc = [](const QJsonArray& a) {
        return QJsonDocument(QJsonObject{{QStringLiteral("netcard_info"), a}}).toJson(QJsonDocument::Indented);
    };
    const bool w = writeFileAtomically(paths_.wiredFile(), doc(wired));
    const bool f = writeFileAtomically(paths_.wifiFile(), doc(wifi), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return w && f;
}

void NetworkManager::NDSpeed_Touch(bool on, int periodMs)
{
    ticks_ = 0;
    if (timer_) {
        timer_->stop();
        timer_->deleteLater();
        timer_ = nullptr;
    }
    if (!on)
        return;
    periodMs_ = qMax(1, periodMs);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &NetworkManager::sampleTick);
    timer_->start(periodMs_);
}

void NetworkManager::sampleTick()
{
    // Link state straight from the kernel's interface flags (no program
    // started): an interface that is up and can broadcast gets an entry;
    // without a running link it is inactive. A card already listed that is
    // reported down (the kernel may say so for a while when its peer goes)
    // is inactive too, never left showing its last state.
    const LinkFlags links = linkFlags ? linkFlags() : LinkFlags();
    QSet<QString> withoutLink;
    for (auto it = links.cbegin(); it != links.cend(); ++it) {
        const auto flags = it.value();
        if (!(flags & QNetworkInterface::CanBroadcast))
            continue;
        if (!(flags & QNetworkInterface::IsUp) && !speeds_.contains(it.key()))
            continue;
        stu_speedinfo& e = speeds_[it.key()];
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning)) {
            e.active = false;
            withoutLink.insert(it.key());
        }
    }

    const int t = ticks_++;
    if (t % 5 != 0)
        return;
    bool ok = false;
    const QByteArray dev = readAll(paths_.procNetDev, &ok);
    if (!ok)
        return;
    const double seconds = periodMs_ * 5 / 1000.0;
    const QMap<QString, quint64> counters = receiveCounters(dev);
    for (auto it = counters.cbegin(); it != counters.cend(); ++it) {
        auto e = speeds_.find(it.key());
        if (e == speeds_.end())
            continue;
        const quint64 now = it.value();
        const bool baseline = !counted_.contains(it.key());
        counted_.insert(it.key());
        // The first sample of a card only sets the baseline (its counter
        // holds the bytes since boot, not a rate); a counter that went
        // backwards (reset or wrap) gives no rate.
        const float rate = (baseline || now < e->curBytes) ? 0.0f : float((now - e->curBytes) / seconds);
        // Bytes still counted on a card whose link is gone (the last
        // frames before it dropped) do not make it active.
        e->active = rate != 0.0f && !withoutLink.contains(it.key());
        e->prevBytes = e->curBytes = now;
        if (!baseline)
            e->rate = rateText(rate);
    }
}

NetworkManager::LinkFlags NetworkManager::kernelLinks()
{
    LinkFlags out;
    for (const QNetworkInterface& nif : QNetworkInterface::allInterfaces())
        if (nif.name() != QLatin1String("lo"))
            out.insert(nif.name(), nif.flags());
    return out;
}

QStringList NetworkManager::getHotPoints(const QString& card)
{
    ssids_.clear();
    if (card.isEmpty())
        return ssids_;
    platform::CommandRunner& r = platform::runner();
    r.runOnTarget(QStringLiteral("ifconfig"), {card, QStringLiteral("down")}, 10000);
    r.runOnTarget(QStringLiteral("iwconfig"), {card, QStringLiteral("mode"), QStringLiteral("managed")}, 10000);
    r.runOnTarget(QStringLiteral("ifconfig"), {card, QStringLiteral("up")}, 10000);
    scanCard_ = card;
    runWaiting([this] { run_wireless(); });
    return ssids_;
}

void NetworkManager::run_wireless()
{
    if (scanCard_.isEmpty())
        return;
    const auto res = platform::runner().runOnTarget(QStringLiteral("iwlist"), {scanCard_, QStringLiteral("scan")}, 30000);
    ssids_ = parseEssids(res.out + '\n' + res.err);
}

QMap<QString, QString> NetworkManager::NetInfoChk() const
{
    QMap<QString, QString> groups;
    for (const QNetworkInterface& nif : QNetworkInterface::allInterfaces()) {
        if (nif.name() == QLatin1String("lo") || nif.addressEntries().isEmpty())
            continue;
        const QStringList parts = nif.addressEntries().first().ip().toString().split(QLatin1Char('.'), Qt::SkipEmptyParts);
        if (parts.size() != 4)
            continue;
        groups[parts.mid(0, 3).join(QLatin1Char('.'))] += nif.name() + QLatin1Char(';');
    }
    return groups;
}

bool NetworkManager::isWifi(const QString& name) const
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return false;
    const QDir sys(paths_.sysClassNet);
    return sys.exists(name) && sys.exists(name + QStringLiteral("/wireless"));
}

bool NetworkManager::getProcessAlive(const QString& name) const
{
    if (name.isEmpty())
        return false;
    const QString self = QString::number(::getpid());
    const QDir proc(paths_.proc);
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        QByteArray cmd = readAll(proc.filePath(pid + QStringLiteral("/cmdline")));
        cmd.replace('\0', ' ');
        if (QString::fromUtf8(cmd).contains(name)
            || QString::fromUtf8(readAll(proc.filePath(pid + QStringLiteral("/comm")))).trimmed() == name)
            return true;
    }
    return false;
}

bool NetworkManager::chkIPformat(const QString& text)
{
    if (text.isEmpty())
        return false;
    QHostAddress a;
    return a.setAddress(text)
           && (a.protocol() == QAbstractSocket::IPv4Protocol || a.protocol() == QAbstractSocket::IPv6Protocol);
}
