// HTTP API throughput and memory: wrk with 16 connections on
// get_product_infos against the API server on loopback, while the memory of
// this process is sampled every second.
//
//   netservices_bench_httpapi [seconds, default 60]
#include "httpapiserver.h"
#include "network.h"
#include "rivurevezi.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 60;
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QDir().mkpath(QStringLiteral("cnt_net/workspace"));
    {
        QFile f(QStringLiteral("cnt_net/config.json"));
        f.open(QIODevice::WriteOnly);
        f.write(QJsonDocument(QJsonObject{{"devicename", "bench"}, {"device_workapifunc", true}}).toJson());
    }
    RiVuRevezi win;
    gpWin = &win;
    numCamera = 4;
    XAN_NETMN m(XAN_NETMN::defaultConfigPath(), 0, QHostAddress::LocalHost);
    m.initStart();
    const quint16 port = m.apiServer->serverPort();
    if (port == 0) {
        std::fprintf(stderr, "API server did not start\n");
        return 1;
    }

    QList<long> rss;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&rss] { rss << rssKiB(); });
    sampler.start(1000);
    QElapsedTimer worst;
    qint64 lastTick = 0, lateness = 0;
    QTimer gui;
    worst.start();
    QObject::connect(&gui, &QTimer::timeout, [&] {
        const qint64 now = worst.elapsed();
        if (lastTick)
            lateness = std::max(lateness, now - lastTick - 10);
        lastTick = now;
    });
    gui.start(10);

    QProcess wrk;
    wrk.start(QStringLiteral("wrk"), {"-t4", "-c16", QStringLiteral("-d%1s").arg(seconds), "--latency",
                                      QStringLiteral("http://127.0.0.1:%1/v18/http/get_product_infos").arg(port)});
    if (!wrk.waitForStarted(5000)) {
        std::fprintf(stderr, "wrk is not installed\n");
        return 1;
    }
    QObject::connect(&wrk, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &app, &QCoreApplication::quit);
    app.exec();
    const QString out = QString::fromLocal8Bit(wrk.readAllStandardOutput());
    std::printf("%s\n", qPrintable(out));
    const double rps = QRegularExpression(QStringLiteral("Requests/sec:\\s+([0-9.]+)")).match(out).captured(1).toDouble();
    long first = 0, last = 0;
    const int n = std::min<int>(5, rss.size() / 2);
    for (int i = 0; i < n; ++i) {
        first += rss[i + 1 < rss.size() ? i + 1 : i];
        last += rss[rss.size() - 1 - i];
    }
    if (n > 0) {
        first /= n;
        last /= n;
    }
    std::printf("requests/s %.0f (target >= 10000)\n", rps);
    std::printf("RSS KiB: early %ld, late %ld (%+.1f%%), samples %d\n", first, last,
                first ? 100.0 * (last - first) / first : 0.0, rss.size());
    std::printf("worst GUI timer lateness %lld ms\n", static_cast<long long>(lateness));
    std::printf("%s\n", rps >= 10000 && (first == 0 || last < first * 1.1) ? "PASS" : "BELOW TARGET");
    gpWin = nullptr;
    return 0;
}
