#include "support_netns.h"
#include "support_ipcommand.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>
#include <unistd.h>

namespace netns {

QString currentNamespace()
{
    return QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net"));
}

bool isolated()
{
    const QByteArray parent = qgetenv(kParentEnv);
    const QString own = currentNamespace();
    return !parent.isEmpty() && !own.isEmpty() && own != QString::fromLocal8Bit(parent);
}

int reexecIsolated(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(kParentEnv))
        return -1;  // the child: run the cases (each guarded)
    const QString parent = currentNamespace();
    if (parent.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        return -1;  // no namespaces: the guarded cases skip
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("true")});
    if (!probe.waitForFinished(120000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return -1;
    qputenv(kParentEnv, parent.toLocal8Bit());
    QStringList args;
    args << QStringLiteral("-n") << QString::fromLocal8Bit(argv[0]);
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QStringLiteral("unshare"), args);
    if (!child.waitForStarted(120000))
        return -1;
    child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::NormalExit)
        return 1;
    return child.exitCode();
}

bool ip(const QStringList& args)
{
    if (!isolated())
        return false;
    return runIpCommand(args);
}

bool prepare()
{
    if (!ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}))
        return false;
    for (const char* path : {"/proc/sys/net/ipv4/conf/all/rp_filter", "/proc/sys/net/ipv4/conf/default/rp_filter"}) {
        QFile f(QString::fromLatin1(path));
        if (f.open(QIODevice::WriteOnly))
            f.write("0\n");
    }
    return true;
}

}  // namespace netns
