// iosim: the simulated I/O board for demo runs.
//   iosim [--link PATH] [--cycle MS] [--open-bit N] [--faults]
// Prints the pseudo-terminal's name (and makes PATH a symbolic link to it),
// then pulses the mould-open input once per cycle until killed.
#include "boardsim.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <unistd.h>

static volatile std::sig_atomic_t gStop = 0;
static void onSignal(int) { gStop = 1; }

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString link;
    int cycle = 8000;
    int openBit = 0;
    bool faults = false;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--link" && i + 1 < args.size())
            link = args[++i];
        else if (args[i] == "--cycle" && i + 1 < args.size())
            cycle = qMax(300, args[++i].toInt());
        else if (args[i] == "--open-bit" && i + 1 < args.size())
            openBit = qBound(0, args[++i].toInt(), 9);
        else if (args[i] == "--faults")
            faults = true;
        else {
            std::fprintf(stderr, "usage: iosim [--link PATH] [--cycle MS] [--open-bit N] [--faults]\n");
            return 2;
        }
    }
    BoardSimulator sim;
    if (!sim.open()) {
        std::fprintf(stderr, "iosim: cannot open a pseudo-terminal\n");
        return 1;
    }
    if (!link.isEmpty()) {
        QFile::remove(link);
        if (!QFile::link(sim.slaveName(), link))
            std::fprintf(stderr, "iosim: cannot link %s\n", qPrintable(link));
    }
    // The mould opens for half of every cycle; the safety door (input 2, driven
    // while the door is closed) stays closed.
    sim.setInputs(1 << 1);
    sim.setPulses({{openBit, cycle, cycle / 4, cycle / 2}});
    if (faults)
        sim.setFaults({7, 5, 11, 13});
    std::printf("%s\n", qPrintable(sim.slaveName()));
    std::fflush(stdout);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    sim.start();
    while (!gStop)
        ::usleep(100000);
    sim.stop();
    return 0;
}
