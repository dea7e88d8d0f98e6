#include "publictools.h"

#include "atomicfile.h"
#include "platform.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QUuid>

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// Longest texts GetIfAddr writes, with the terminating NUL.
constexpr size_t kMacText = 18;  // "xx:xx:xx:xx:xx:xx"

void copyText(char* out, const std::string& text, size_t size)
{
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

quint32 sockaddrIPv4(const struct sockaddr& sa)
{
    struct sockaddr_in in {};
    std::memcpy(&in, &sa, sizeof in);
    return in.sin_addr.s_addr;
}

}  // namespace

qint64 gettimeofday_ms()
{
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    return static_cast<qint64>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

qint64 monotonic_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int raiseDescriptorLimit()
{
    struct rlimit l;
    if (getrlimit(RLIMIT_NOFILE, &l) != 0)
        return -1;
    if (l.rlim_cur != l.rlim_max) {
        struct rlimit raised = l;
        raised.rlim_cur = l.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) != 0)
            qWarning("cannot raise the open-file limit from %llu to %llu: %s", static_cast<unsigned long long>(l.rlim_cur),
                     static_cast<unsigned long long>(l.rlim_max), strerror(errno));
    }
    return descriptorLimit();
}

int descriptorLimit()
{
    struct rlimit l;
    if (getrlimit(RLIMIT_NOFILE, &l) != 0)
        return -1;
    if (l.rlim_cur == RLIM_INFINITY || l.rlim_cur > rlim_t(INT_MAX))
        return INT_MAX;
    return static_cast<int>(l.rlim_cur);
}

int descriptorReserve(int limit)
{
    // A quarter of the limit, and never fewer than 128: enough for the
    // threads, databases, plug-ins and pictures of a running program.
    return std::max(128, limit / 4);
}

int curtime_qint64_2_int()
{
    return static_cast<int>((gettimeofday_ms() / 10) % kTickWrap);
}

int curtime_tick_diff(int later, int earlier)
{
    long long d = (static_cast<long long>(later) - earlier) % kTickWrap;
    if (d < 0)
        d += kTickWrap;
    if (d > kTickWrap / 2)
        d -= kTickWrap;
    return static_cast<int>(d);
}

QString new_uuid()
{
    QString first = QUuid::createUuid().toString();
    first = first.left(first.indexOf(QLatin1Char('-')));
    first.remove(QLatin1Char('{'));
    return QStringLiteral("SC_#%1_#%2")
        .arg(first, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmsszzz")));
}

unsigned short RandPort()
{
    for (;;) {
        const unsigned short port = static_cast<unsigned short>(std::rand() & 0xFFFF);
        if (port > 10000 && (port < 10410 || port > 10419))
            return port;
    }
}

std::string nint2string(unsigned int addr)
{
    struct in_addr a {};
    a.s_addr = addr;
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &a, text, sizeof text))
        return std::string();
    return std::string(text);
}

std::string ethaddr2string(const unsigned char* mac)
{
    if (!mac)
        return std::string();
    char text[kMacText] = {};
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return std::string(text);
}

int string2ethaddr(const QString& text, unsigned char* out)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 6 || !out)
        return 0;
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint v = parts[i].toUInt(&ok, 16);
        out[i] = ok ? static_cast<unsigned char>(v) : 0;
    }
    return 0;
}

int setIPLast(QString& ip, int last)
{
    QStringList parts = ip.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return 0;
    parts[3] = QString::number(last);
    ip = parts.join(QLatin1Char('.'));
    return 1;
}

QString getSubNet(const QString& ip, const QString& mask)
{
    const QStringList a = ip.split(QLatin1Char('.'));
    const QStringList m = mask.split(QLatin1Char('.'));
    if (a.size() != 4 || m.size() != 4)
        return QString();
    QStringList net;
    for (int i = 0; i < 4; ++i) {
        bool okA = false;
        bool okM = false;
        const uint va = a[i].toUInt(&okA, 10);
        const uint vm = m[i].toUInt(&okM, 10);
        if (!okA || !okM)
            return QString();
        net << QString::number(va & vm);
    }
    return net.join(QLatin1Char('.'));
}

int set_socket_nonblock(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return -1;
    return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

int GetIfAddr(const char* name, char* ip, char* mask, char* gateway, char* mac)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        qWarning("socket error");
        return -1;
    }
    struct ifreq ifr {};
    const size_t nameLen = name ? ::strnlen(name, IFNAMSIZ) : IFNAMSIZ;
    if (nameLen == 0 || nameLen >= IFNAMSIZ) {
        // The kernel would not know such a name either.
        ::close(fd);
        qWarning("ioctl SIOCGIFHWADDR error");
        return -2;
    }
    std::memcpy(ifr.ifr_name, name, nameLen);
    ifr.ifr_name[nameLen] = '\0';

    if (::ioctl(fd, SIOCGIFHWADDR, &ifr) < 0) {
        ::close(fd);
        qWarning("ioctl SIOCGIFHWADDR error");
        return -2;
    }
    unsigned char hw[6];
    std::memcpy(hw, ifr.ifr_hwaddr.sa_data, sizeof hw);
    copyText(mac, ethaddr2string(hw), kMacText);

    if (::ioctl(fd, SIOCGIFADDR, &ifr) < 0) {
        ::close(fd);
        return -4;
    }
    const quint32 ownAddr = sockaddrIPv4(ifr.ifr_addr);
    copyText(ip, nint2string(ownAddr), INET_ADDRSTRLEN);

    if (::ioctl(fd, SIOCGIFNETMASK, &ifr) < 0) {
        ::close(fd);
        return -5;
    }
    copyText(mask, nint2string(sockaddrIPv4(ifr.ifr_netmask)), INET_ADDRSTRLEN);
    ::close(fd);

    FILE* routes = std::fopen("/proc/net/route", "r");
    if (!routes)
        return -6;
    char line[256];
    bool found = false;
    unsigned long gw = 0;
    if (std::fgets(line, sizeof line, routes)) {  // header
        while (std::fgets(line, sizeof line, routes)) {
            char iface[IFNAMSIZ] = {};
            unsigned long dest = 0;
            unsigned long g = 0;
            if (std::sscanf(line, "%15s\t%lX\t%lX", iface, &dest, &g) == 3 && dest == 0) {
                gw = g;
                found = true;
                break;
            }
        }
    }
    std::fclose(routes);

    quint32 gateway4 = static_cast<quint32>(gw);
    if (!found) {
        switch (platform::runner().replaceDefaultRoute(ownAddr)) {
        case platform::CommandRunner::RouteChange::NoSocket:
            return -7;
        case platform::CommandRunner::RouteChange::Failed:
            return -8;
        case platform::CommandRunner::RouteChange::Done:
            break;
        }
        gateway4 = ownAddr;
    }
    copyText(gateway, nint2string(gateway4), INET_ADDRSTRLEN);
    return 0;
}

QString diskUuidFromBlkid(const QByteArray& output)
{
    static const QRegularExpression kUuid(QStringLiteral("^.*\\s+UUID=\"(\\S+)\".*"));
    QString result;
    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList parts = line.split(QStringLiteral("TYPE="), Qt::SkipEmptyParts);
        if (parts.size() != 2 || !parts[1].contains(QLatin1String("ext4")))
            continue;
        const QRegularExpressionMatch m = kUuid.match(line);
        if (m.hasMatch())
            result = m.captured(1);
    }
    return result;
}

QString found_diskuuid_by_blkid()
{
    // blkid is killed and reaped by the runner when it hangs past the limit.
    const platform::CommandResult r = platform::runner().run(QStringLiteral("blkid"), {}, 1000);
    if (!r.started || r.timedOut)
        return QString();
    return diskUuidFromBlkid(r.out + r.err);
}

namespace {
// The stand-in identity of a computer that names none: made once from the
// time and kept, so that every start of one monitor has the same identity.
QString standInDeviceId(const QString& path)
{
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) {
        const QString kept = QString::fromUtf8(f.read(64)).trimmed();
        static const QRegularExpression kId(QStringLiteral("^[0-9A-Za-z_.]{1,40}$"));
        if (kId.match(kept).hasMatch())
            return kept;
        qWarning("%s holds no device identity; a new one is made", qPrintable(path));
    }
    const QString id = QString::number(gettimeofday_ms());
    if (!writeFileAtomically(path, id.toUtf8() + '\n'))
        qWarning("the device identity %s could not be kept in %s", qPrintable(id), qPrintable(path));
    return id;
}
}  // namespace

QString getlocal_deviceid(const QString& cpuinfoPath, const QString& standInPath)
{
    if (!QFile::exists(cpuinfoPath))
        return standInDeviceId(standInPath);
    QString id;
    QByteArray content;
    QFile f(cpuinfoPath);
    if (f.open(QIODevice::ReadOnly))
        content = f.readAll();
    static const QRegularExpression kSerial(QStringLiteral("^Serial\\s+:\\s+(\\S+)"));
    bool serial = false;
    for (const QString& line : QString::fromUtf8(content).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = kSerial.match(line);
        if (m.hasMatch()) {
            id = m.captured(1);
            serial = true;
        }
    }
    if (!serial) {
        const QString uuid = found_diskuuid_by_blkid();
        id = uuid.isEmpty() ? standInDeviceId(standInPath) : uuid;
    }
    id.remove(QLatin1Char(';'));
    return id.split(QLatin1Char('-')).last();
}

bool isOpen_Env()
{
    const platform::CommandResult r = platform::runner().run(
        QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("echo $QT_QPA_PLATFORM_PLUGIN_PATH")}, 30000);
    const QString first = QString::fromUtf8(r.out + r.err).split(QLatin1Char('\n')).first();
    qInfo("%s", qPrintable(first));
    return first == QLatin1String("/opt/Qt5.15.7/plugins/platforms");
}
