// Child process of the foundation tests.
//   foundation_helper log|fatal|crash|term|twice|bound <folder>
//       sets up logging in <folder> and writes the lines the test inspects
//   foundation_helper ifaddr <parent net namespace> <case>
//       runs GetIfAddr inside a fresh network namespace (refuses to run in
//       the parent's namespace) and prints what it found
#include "logmanager.h"
#include "platform.h"
#include "publictools.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int logCase(const QString& mode, const QString& folder)
{
    if (!QDir::setCurrent(folder))
        return 10;
    if (mode == QLatin1String("bound")) {
        // 3.5 MB under a bound of 2 MB in files of 1 MB, half a megabyte a
        // second: glog names its files by the second, one a second at most.
        LogManager::setLimits({2 * 1024 * 1024, 1, 256 * 1024});
        LogManager::__instance = new LogManager(nullptr);
        for (int i = 0; i < 3500; ++i) {
            for (const qint64 s = QDateTime::currentSecsSinceEpoch(); i % 500 == 0 && QDateTime::currentSecsSinceEpoch() == s;)
                QThread::msleep(20);
            qInfo("bound-line %d %s", i, QByteArray(1000, 'x').constData());
        }
        return 0;
    }
    LogManager::__instance = new LogManager(nullptr);
    if (mode == QLatin1String("twice")) {
        // A second manager must not initialise glog again.
        new LogManager(nullptr);
        qInfo("after-second");
        return 0;
    }
    qDebug("debug-line");
    qInfo("info-line");
    qWarning("warn-line");
    qInfo("中文-line");
    QMessageLogger(nullptr, 0, nullptr).info("nofile-line");
    if (mode == QLatin1String("log")) {
        qCritical("critical-line");
        return 0;
    }
    if (mode == QLatin1String("fatal")) {
        qFatal("fatal-line");
        return 0;
    }
    if (mode == QLatin1String("crash")) {
        std::raise(SIGABRT);
        return 0;
    }
    if (mode == QLatin1String("term")) {
        // A stop request while the event loop runs, start-up over.
        LogManager::startupEnded();
        QTimer::singleShot(0, [] { std::raise(SIGTERM); });
        const int rc = QCoreApplication::exec();
        qInfo("after-loop");
        return rc;
    }
    return 11;
}

bool ip(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString defaultRoutes()
{
    QFile f(QStringLiteral("/proc/net/route"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unreadable");
    QStringList gws;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cols = lines[i].simplified().split(' ');
        if (cols.size() > 2 && cols[1] == "00000000")
            gws << QString::fromLatin1(cols[2]);
    }
    return gws.isEmpty() ? QStringLiteral("none") : gws.join(QLatin1Char(','));
}

int ifaddrCase(const QString& parentNs, const QString& which)
{
    // Never touch the routes of the machine: only a namespace of our own.
    const QString ownNs = QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net"));
    if (ownNs.isEmpty() || ownNs == parentNs || !defaultRoutes().startsWith(QLatin1String("none"))) {
        std::printf("not-isolated\n");
        return 3;
    }
    QString name = QStringLiteral("lo");
    if (which == QLatin1String("missing"))
        name = QStringLiteral("nosuch0");
    else if (which == QLatin1String("longname"))
        name = QStringLiteral("abcdefghijklmnopq");
    if (which.startsWith(QLatin1String("noroute")) || which == QLatin1String("route")) {
        if (!ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}))
            return 4;
    }
    if (which == QLatin1String("route")) {
        if (!ip({QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("10.9.8.7/24"), QStringLiteral("dev"),
                 QStringLiteral("lo")}) ||
            !ip({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"), QStringLiteral("via"),
                 QStringLiteral("10.9.8.7")}))
            return 4;
    }
    char ipText[32] = "-";
    char mask[32] = "-";
    char gw[32] = "-";
    char mac[32] = "-";
    const QByteArray n = name.toLatin1();
    const int rc = GetIfAddr(n.constData(), ipText, mask, gw, mac);
    std::printf("rc=%d ip=%s mask=%s gw=%s mac=%s routes=%s recorded=%s\n", rc, ipText, mask, gw, mac,
                qPrintable(defaultRoutes()), qPrintable(platform::runner().recorded().join(QLatin1Char('|'))));
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("ifaddr") && args.size() == 4)
        return ifaddrCase(args[2], args[3]);
    if (args.size() == 3)
        return logCase(args[1], args[2]);
    std::fprintf(stderr, "usage: foundation_helper log|fatal|crash|twice <folder> | ifaddr <ns> <case>\n");
    return 2;
}
