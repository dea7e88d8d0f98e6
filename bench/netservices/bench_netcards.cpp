// The network-card screen's costs on the GUI thread.
//
//   1. One rate-sampling tick with 4 cards (link flags from the kernel, every
//      fifth tick the receive counters): target under 1 ms. Anchor: starting
//      one `cp` of the same counter file, the price of running a program on
//      every tick.
//   2. Opening the network settings dialog with 4 cards (built, shown, the
//      first paint done) and closing it: target under 300 ms. Anchor: the
//      same `cp` run.
//
//   netservices_bench_netcards [seconds per measurement, default 5]
#include "edit.h"
#include "lanstr.h"
#include "network.h"
#include "networkmanager.h"
#include "networksettingdialog.h"
#include "platform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "benchtiming.h"

#include <cstdio>
#include <functional>

namespace {

using benchtiming::measure;
using benchtiming::report;

void put(const QString& path, const QByteArray& data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? QByteArray(argv[1]).toDouble() : 5.0;
    qputenv("VMM_TARGET", "0");
    initLanStr();
    gShowW = 1920;
    gShowH = 1080;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QDir().mkpath("cnt_net");
    NetPaths p;
    p.netplanDir = dir.filePath("netplan");
    p.pyreport = dir.filePath("pyreport.txt");
    p.procNetDev = dir.filePath("proc_net_dev");
    QDir().mkpath(p.netplanDir);
    QByteArray dev = "Inter-|   Receive\n face |bytes    packets\n";
    QByteArray cards;
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "eth" + QByteArray::number(i);
        dev += "  " + name + ": 123456789 1000 0 0 0 0 0 0 5000 10 0 0 0 0 0 0\n";
        cards += QByteArray(i ? "," : "") + "{\"name\":\"" + name + "\",\"address\":\"10.0.0." + QByteArray::number(i + 2)
                 + "\",\"netmask\":\"255.255.255.0\",\"isdhcp\":false}";
    }
    put(p.procNetDev, dev);
    put(p.wiredFile(), "{\"netcard_info\":[" + cards + "]}");
    NetworkManager::instance = new NetworkManager(p);
    NetworkManager* nm = NetworkManager::instance;
    nm->linkFlags = [] {
        using F = QNetworkInterface;
        NetworkManager::LinkFlags links = NetworkManager::kernelLinks();
        for (int i = 0; i < 4; ++i)
            links.insert(QStringLiteral("eth%1").arg(i), F::IsUp | F::CanBroadcast | F::IsRunning);
        return links;
    };

    const double anchor = measure(seconds, [&] {
        QProcess::execute(QStringLiteral("cp"), {p.procNetDev, dir.filePath("copy")});
    });
    const double tick = measure(seconds, [&] { nm->sampleTick(); });
    report("sampling tick, 4 cards", tick, anchor, "cp", 1);

    XAN_NETMN services(dir.filePath("cnt_net/config.json"), 0, QHostAddress::LocalHost);
    const double open = measure(seconds, [&] {
        auto* d = new NetworkSettingDialog(nullptr, &services, dir.filePath("cnt_net/config.json"));
        gpNetDialog = d;
        d->show();
        d->repaint();
        QCoreApplication::processEvents();
        delete d;
    });
    report("open and close the network dialog, 4 cards", open, anchor, "cp", 300);
    QDir::setCurrent(QDir::tempPath());
    return 0;
}
