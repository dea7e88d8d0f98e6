// Modbus TCP throughput: libmodbus clients (1 and 8 connections) reading
// registers 0-3 from this program's server and, for comparison, from
// libmodbus's own server on another loopback port, in interleaved pairs
// (medians of 3). The reads answer from the state this thread publishes.
//
//   netservices_bench_modbus [seconds per run, default 5]
#include "apisnapshot.h"
#include "modbusserver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTimer>

#include <modbus.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

struct Result {
    double rps = 0;
    double p99us = 0;
    long errors = 0;
};

// libmodbus's reference server: select() over the listening socket and its
// clients, modbus_receive / modbus_reply.
class ReferenceServer {
public:
    explicit ReferenceServer(int port)
    {
        ctx_ = modbus_new_tcp("127.0.0.1", port);
        map_ = modbus_mapping_new(0, 0, 16, 0);
        map_->tab_registers[0] = 1;
        listen_ = modbus_tcp_listen(ctx_, 16);
        thread_ = std::thread([this] { run(); });
    }
    ~ReferenceServer()
    {
        stop_ = true;
        thread_.join();
        ::close(listen_);
        modbus_mapping_free(map_);
        modbus_free(ctx_);
    }
    bool ok() const { return listen_ >= 0; }

private:
    void run()
    {
        fd_set all;
        FD_ZERO(&all);
        FD_SET(listen_, &all);
        int maxFd = listen_;
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        while (!stop_) {
            fd_set ready = all;
            timeval tv{0, 100000};
            if (select(maxFd + 1, &ready, nullptr, nullptr, &tv) <= 0)
                continue;
            for (int fd = 0; fd <= maxFd; ++fd) {
                if (!FD_ISSET(fd, &ready))
                    continue;
                if (fd == listen_) {
                    int s = listen_;
                    const int client = modbus_tcp_accept(ctx_, &s);
                    if (client >= 0) {
                        FD_SET(client, &all);
                        maxFd = std::max(maxFd, client);
                    }
                    continue;
                }
                modbus_set_socket(ctx_, fd);
                const int rc = modbus_receive(ctx_, query);
                if (rc > 0) {
                    modbus_reply(ctx_, query, rc, map_);
                } else if (rc == -1) {
                    ::close(fd);
                    FD_CLR(fd, &all);
                }
            }
        }
    }

    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    int listen_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// `connections` client threads read for `seconds`; the calling thread keeps
// its event loop running (it is the GUI thread of the server's hand-over).
Result measure(int port, int connections, int seconds)
{
    std::atomic<long> errors{0};
    std::vector<std::vector<qint64>> latencies(static_cast<size_t>(connections));
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    QElapsedTimer wall;
    wall.start();
    for (int c = 0; c < connections; ++c) {
        threads.emplace_back([&, c] {
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
            if (!ctx || modbus_connect(ctx) != 0) {
                ++errors;
                ++done;
                return;
            }
            modbus_set_response_timeout(ctx, 2, 0);
            uint16_t regs[4];
            QElapsedTimer t;
            t.start();
            auto& lat = latencies[static_cast<size_t>(c)];
            lat.reserve(200000);
            while (t.elapsed() < seconds * 1000) {
                const qint64 before = t.nsecsElapsed();
                if (modbus_read_registers(ctx, 0, 4, regs) != 4)
                    ++errors;
                else
                    lat.push_back((t.nsecsElapsed() - before) / 1000);
            }
            modbus_close(ctx);
            modbus_free(ctx);
            ++done;
        });
    }
    // The event loop sleeps between events; a processEvents loop with a time
    // limit would spin and take a core from the servers being measured.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done.load() >= connections)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    for (auto& t : threads)
        t.join();
    const double elapsed = wall.elapsed() / 1000.0;
    std::vector<qint64> all;
    for (auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    Result r;
    r.errors = errors.load();
    r.rps = all.size() / elapsed;
    if (!all.empty()) {
        std::sort(all.begin(), all.end());
        r.p99us = static_cast<double>(all[static_cast<size_t>(all.size() * 0.99)]);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    ApiSnapshot::publishOnIdle();
    ModbusServer ours(QHostAddress::LocalHost, 0);
    if (!ours.isRunning()) {
        std::fprintf(stderr, "our server did not start\n");
        return 1;
    }
    int refPort = 0;
    {
        QTcpServer probe;  // a free loopback port for libmodbus's server
        probe.listen(QHostAddress::LocalHost, 0);
        refPort = probe.serverPort();
    }
    ReferenceServer reference(refPort);
    if (!reference.ok()) {
        std::fprintf(stderr, "libmodbus server did not start on %d\n", refPort);
        return 1;
    }
    std::printf("Modbus TCP, read of 4 registers, %d s per run\n", seconds);
    std::printf("%-12s %5s %12s %10s %7s\n", "server", "conns", "requests/s", "p99 (us)", "errors");
    bool pass = true;
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    for (int conns : {1, 8}) {
        std::vector<double> aRps, aP99, bRps, bP99;
        long errors = 0;
        for (int round = 0; round < 3; ++round) {
            const Result a = measure(ours.serverPort(), conns, seconds);
            const Result b = measure(refPort, conns, seconds);
            aRps.push_back(a.rps);
            aP99.push_back(a.p99us);
            bRps.push_back(b.rps);
            bP99.push_back(b.p99us);
            errors += a.errors;
        }
        std::printf("%-12s %5d %12.0f %10.0f %7ld\n", "this", conns, median(aRps), median(aP99), errors);
        std::printf("%-12s %5d %12.0f %10.0f %7s\n", "libmodbus", conns, median(bRps), median(bP99), "");
        const double ratio = median(bRps) > 0 ? median(aRps) / median(bRps) : 0;
        std::printf("ratio %d conns: %.2f (target >= 1.0), p99 %.0f us (target < 1000)\n", conns, ratio,
                    median(aP99));
        pass = pass && ratio >= 1.0 && median(aP99) < 1000 && errors == 0;
    }
    std::printf("%s\n", pass ? "PASS" : "BELOW TARGET");
    return 0;
}
