// A camera's side of the discovery for the tests, run in a network namespace
// of its own:
//   udpcam_helper <parent net namespace> <interface> <address/prefix>
// Built with WITH_NETCAM it also runs a simulated camera's control and
// picture services. It refuses to run in the parent's namespace, waits for the interface the
// test moves into its namespace (after the line "started"), gives it the address, starts the discovery
// server and prints "ready <key> <mac>". Every machine-changing command of
// the server is printed as "run: <command>" and recorded by the platform
// runner (never executed: this is not the target); address and route
// changes are also applied with `ip` here, inside the helper's own
// namespace, as the camera's system would apply them.
#include "platform.h"
#include "support_ipcommand.h"
#include "udp_acam_gvcp.h"
#ifdef WITH_NETCAM
#include "simnetcamera.h"
#endif

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QThread>

#include <cstdio>

#include <net/if.h>

namespace {

QString gParentNs;

bool isolated()
{
    const QString own = QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net"));
    return !own.isEmpty() && !gParentNs.isEmpty() && own != gParentNs;
}

bool ip(const QStringList& args)
{
    if (!isolated())
        return false;
    return runIpCommand(args);
}

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

int prefixOf(const QString& mask)
{
    const quint32 m = QHostAddress(mask).toIPv4Address();
    int n = 0;
    for (quint32 bit = 0x80000000u; bit && (m & bit); bit >>= 1)
        ++n;
    return n;
}

class NamespaceRunner : public platform::CommandRunner {
public:
    platform::CommandResult runOnTarget(const QString& program, const QStringList& args, int timeoutMs) override
    {
        say(QStringLiteral("run: ") + program + QLatin1Char(' ') + args.join(QLatin1Char(' ')));
        const platform::CommandResult r = CommandRunner::runOnTarget(program, args, timeoutMs);
        if (program == QLatin1String("ip"))
            ip(args);
        else if (program == QLatin1String("ifconfig") && args.size() == 4)
            ip({QStringLiteral("addr"), QStringLiteral("add"), args[1] + QLatin1Char('/') + QString::number(prefixOf(args[3])),
                QStringLiteral("dev"), args[0]});
        else if (program == QLatin1String("route") && args.size() == 4)
            ip({QStringLiteral("route"), QStringLiteral("replace"), QStringLiteral("default"), QStringLiteral("via"), args[3]});
        return r;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    qputenv("VMM_TARGET", "0");  // the clock and the reboot are only ever recorded
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: udpcam_helper <parent-ns> <interface> <address/prefix>\n");
        return 2;
    }
    gParentNs = args[1];
    if (!isolated()) {
        say(QStringLiteral("not-isolated"));
        return 3;
    }
    // Only now is the namespace surely ours: the test moves the interface in
    // after this line.
    say(QStringLiteral("started"));
    const QString itf = args[2];
    const QByteArray itfName = itf.toLocal8Bit();
    // The test's own `ip` may be slow on a loaded machine: wait for up to
    // five minutes (the test gives up on its side long before).
    for (int i = 0; i < 30000 && if_nametoindex(itfName.constData()) == 0; ++i)
        QThread::msleep(10);
    if (!ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}) ||
        !ip({QStringLiteral("addr"), QStringLiteral("add"), args[3], QStringLiteral("dev"), itf}) ||
        !ip({QStringLiteral("link"), QStringLiteral("set"), itf, QStringLiteral("up")})) {
        say(QStringLiteral("no-interface"));
        return 4;
    }
    QFile rp(QStringLiteral("/proc/sys/net/ipv4/conf/all/rp_filter"));
    if (rp.open(QIODevice::WriteOnly))
        rp.write("0\n");

    static NamespaceRunner runner;
    platform::setRunner(&runner);
    UDP_ACam_Server server;
    QObject::connect(&server, &UDP_ACam_Server::sig_updatetime, [] { say(QStringLiteral("signal updatetime")); });
    QObject::connect(&server, &UDP_ACam_Server::sig_rebootdaemon, [] { say(QStringLiteral("signal rebootdaemon")); });
    if (server.netTable().isEmpty()) {
        say(QStringLiteral("no-table"));
        return 5;
    }
#ifdef WITH_NETCAM
    // Built with the simulated camera: its control and picture services too,
    // on every address the camera has now or is given later.
    netcamsim::Options options;
    options.address = QHostAddress::AnyIPv4;
    options.width = 64;
    options.height = 48;
    netcamsim::SimNetCamera camera(options);
    if (!camera.start()) {
        say(QStringLiteral("no-camera"));
        return 6;
    }
#endif
    say(QStringLiteral("ready %1 %2").arg(server.deviceKey(), server.netTable().first().mac));
    return app.exec();
}
