// iosim: the simulated I/O board for demo runs.
//   iosim [--link PATH] [--cycle MS] [--open-bit N] [--faults]
//         [--pulse BIT,OFFSET,WIDTH]... [--silence OFFSET,LENGTH[,EVERY]]...
//         [--silence-on-signal MS] [--stats]
// Prints the pseudo-terminal's name (and makes PATH a symbolic link to it),
// then pulses the mould-open input once per cycle until killed. --pulse adds
// a pulse of input BIT in every cycle (OFFSET ms after the cycle's start,
// the mould opens at a quarter of it); --silence makes the board silent for
// LENGTH ms from OFFSET in every EVERY-th cycle (default every one); SIGUSR1
// makes it silent for the MS of --silence-on-signal (default 15000).
// --stats prints at the end how far apart the program's requests came
// (since SIGUSR2, when one came).
#include "boardsim.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <cstdio>
#include <unistd.h>

static volatile std::sig_atomic_t gStop = 0;
static void onSignal(int) { gStop = 1; }
static BoardSimulator* gSim = nullptr;
static volatile std::sig_atomic_t gStatsFresh = 0;
static void onStatsReset(int) { gStatsFresh = 1; }
static int gSignalSilenceMs = 15000;
static void onSilence(int)
{
    if (gSim)
        gSim->silenceFor(gSignalSilenceMs);
}

// "a,b,c" as up to `n` numbers; false when a part is not one.
static bool numbers(const QString& text, int n, int* out)
{
    const QStringList parts = text.split(',');
    if (parts.isEmpty() || parts.size() > n)
        return false;
    for (int i = 0; i < parts.size(); ++i) {
        bool ok = false;
        out[i] = parts[i].toInt(&ok);
        if (!ok || out[i] < 0)
            return false;
    }
    return true;
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString link;
    int cycle = 8000;
    int openBit = 0;
    bool faults = false;
    QStringList extraPulses;
    QStringList silences;
    bool stats = false;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--link" && i + 1 < args.size())
            link = args[++i];
        else if (args[i] == "--cycle" && i + 1 < args.size())
            cycle = qMax(300, args[++i].toInt());
        else if (args[i] == "--open-bit" && i + 1 < args.size())
            openBit = qBound(0, args[++i].toInt(), 9);
        else if (args[i] == "--faults")
            faults = true;
        else if (args[i] == "--pulse" && i + 1 < args.size())
            extraPulses << args[++i];
        else if (args[i] == "--silence" && i + 1 < args.size())
            silences << args[++i];
        else if (args[i] == "--stats")
            stats = true;
        else if (args[i] == "--silence-on-signal" && i + 1 < args.size())
            gSignalSilenceMs = qMax(0, args[++i].toInt());
        else {
            std::fprintf(stderr, "usage: iosim [--link PATH] [--cycle MS] [--open-bit N] [--faults]\n"
                                 "             [--pulse BIT,OFFSET,WIDTH]... [--silence OFFSET,LENGTH[,EVERY]]...\n"
                                 "             [--silence-on-signal MS] [--stats]\n");
            return 2;
        }
    }
    std::vector<BoardSimulator::Pulse> pulses;
    for (const QString& p : extraPulses) {
        int v[3] = {};
        if (!numbers(p, 3, v) || p.count(',') != 2 || v[0] > 9) {
            std::fprintf(stderr, "iosim: --pulse wants BIT,OFFSET,WIDTH, not %s\n", qPrintable(p));
            return 2;
        }
        pulses.push_back({v[0], cycle, v[1], v[2]});
    }
    std::vector<BoardSimulator::Silence> quiet;
    for (const QString& q : silences) {
        int v[3] = {0, 0, 1};
        if (!numbers(q, 3, v) || q.count(',') < 1 || v[2] < 1) {
            std::fprintf(stderr, "iosim: --silence wants OFFSET,LENGTH[,EVERY], not %s\n", qPrintable(q));
            return 2;
        }
        quiet.push_back({cycle * v[2], v[0], v[1]});
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
    pulses.insert(pulses.begin(), {openBit, cycle, cycle / 4, cycle / 2});
    sim.setPulses(pulses);
    sim.setSilences(quiet);
    gSim = &sim;
    if (faults)
        sim.setFaults({7, 5, 11, 13});
    // The gaps between the program's requests (command 2), in ms.
    std::mutex gapMutex;
    std::vector<int> gaps;
    qint64 lastRequestMs = 0;
    if (stats)
        sim.setTap([&](bool toBoard, int command, int) {
            if (!toBoard || command != 2)
                return;
            const qint64 now = BoardSimulator::nowMs();
            std::lock_guard<std::mutex> l(gapMutex);
            if (gStatsFresh) {
                gStatsFresh = 0;
                gaps.clear();
                lastRequestMs = 0;
            }
            if (lastRequestMs > 0)
                gaps.push_back(int(now - lastRequestMs));
            lastRequestMs = now;
        });
    std::printf("%s\n", qPrintable(sim.slaveName()));
    std::fflush(stdout);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGUSR1, onSilence);
    std::signal(SIGUSR2, onStatsReset);
    sim.start();
    while (!gStop)
        ::usleep(100000);
    sim.stop();
    if (stats && !gaps.empty()) {
        std::sort(gaps.begin(), gaps.end());
        const auto at = [&](double q) { return gaps[std::min(gaps.size() - 1, size_t(q * gaps.size()))]; };
        const long over = std::count_if(gaps.begin(), gaps.end(), [](int g) { return g > 100; });
        std::fprintf(stderr, "iosim: %zu request gaps: median %d ms, p99 %d ms, p99.9 %d ms, longest %d ms, %ld over 100 ms\n",
                     gaps.size(), at(0.5), at(0.99), at(0.999), gaps.back(), over);
    }
    return 0;
}
