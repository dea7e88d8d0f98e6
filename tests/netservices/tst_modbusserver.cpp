#include "modbusserver.h"
#include "counted.h"

#include "apisnapshot.h"
#include "platform.h"
#include "statewindow.h"
#include "support_netservices.h"
#include "support_statewords.h"
#include "testworkdir.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#ifdef HAVE_LIBMODBUS
#include <modbus.h>
#include <cerrno>
#endif

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

void setCounters()
{
    CounterValues v;
    for (int i = 0; i < kMaxCamera; ++i) {
        v.all[i] = 10 * i;
        v.fail[i] = i;
        v.allCycle[i] = 5;
        v.failCycle[i] = 1;
    }
    v.all[3] = 120;
    v.syncNg = 7;
    v.syncNgCycle = 3;
    ProductionCounters::get().restore(v);
}

// A blocking client on its own thread: sends `chunks` one write each and
// collects `expect` bytes (or until the peer closes / 5 s pass).
struct RawClient {
    quint16 port = 0;
    QList<QByteArray> chunks;
    int expect = 0;
    QByteArray received;
    bool closedByPeer = false;

    void run()
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        if (!s.waitForConnected(5000))
            return;
        for (const QByteArray& c : chunks) {
            s.write(c);
            s.waitForBytesWritten(2000);
            QThread::msleep(30);  // separate TCP segments
        }
        QDeadlineTimer deadline(5000);
        while (received.size() < expect && !deadline.hasExpired()) {
            if (s.state() != QAbstractSocket::ConnectedState) {
                closedByPeer = true;
                break;
            }
            if (s.waitForReadyRead(100))
                received += s.readAll();
        }
        if (expect == 0) {
            // Looks for a close of the connection by the server.
            s.waitForReadyRead(1500);
            received += s.readAll();
            closedByPeer = s.state() != QAbstractSocket::ConnectedState;
        }
    }
};

// A connection that has sent `bytes`; with `reset` it is closed at once
// with a reset (linger 0).
std::unique_ptr<QTcpSocket> connection(quint16 port, const QByteArray& bytes, bool reset = false)
{
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, port);
    if (reset)
        QThread::msleep(5);  // taken by the server before the request comes
    if (s->waitForConnected(3000) && !bytes.isEmpty() && s->write(bytes) > 0)
        s->waitForBytesWritten(1000);
    const linger l{1, 0};
    if (reset && ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0)
        s->abort();
    return s;
}

// A blocking connection to 127.0.0.1:`port` (from the loopback address
// `source`, as if from another host, when one is given), or -1.
int connectLocal(quint16 port, const QByteArray& source = QByteArray())
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    if (!source.isEmpty()
        && (::inet_pton(AF_INET, source.constData(), &from.sin_addr) != 1
            || ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)) {
        ::close(fd);
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A connect left in a full listen queue gives up, as a client would.
    const timeval limit{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

// One read of registers 0-3 on `fd` with transaction `id`: whether the
// whole, right answer came.
bool pollRegisters(int fd, quint16 id)
{
    QByteArray request = hex("00 00 00 00 00 06 01 03 00 00 00 04");
    request[0] = char(id >> 8);
    request[1] = char(id & 0xff);
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size())
        return false;
    QByteArray answer;
    char chunk[64];
    while (answer.size() < 17) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        answer.append(chunk, int(got));
    }
    return answer.size() == 17 && answer.left(2) == request.left(2) && answer.mid(7, 2) == hex("03 08");
}

// The loopback address of the `n`th other host (127.0.1.1 onwards).
QByteArray otherHost(int n)
{
    return QByteArray("127.0.") + QByteArray::number(1 + n / 250) + '.' + QByteArray::number(1 + n % 250);
}

// Peers that take Modbus places and say nothing (every other one sends the
// first 3 bytes of a header; with `askOnce` each reads the registers once
// first) and connect again as soon as the server closes them, until `stop`,
// counting in `closed` how often the server closed one. With `ownHosts`
// each comes from an address of its own.
void holdPlaces(quint16 port, int peers, const std::atomic<bool>& stop, bool askOnce, std::atomic<int>& closed,
                bool ownHosts = false)
{
    std::vector<pollfd> fds(size_t(peers), pollfd{-1, POLLIN, 0});
    auto open = [&](size_t i) {
        fds[i].fd = connectLocal(port, ownHosts ? otherHost(int(i)) : QByteArray());
        if (fds[i].fd >= 0 && askOnce)
            pollRegisters(fds[i].fd, quint16(i));
        else if (fds[i].fd >= 0 && i % 2)
            ::send(fds[i].fd, "\x00\x07\x00", 3, MSG_NOSIGNAL);
    };
    for (size_t i = 0; i < fds.size(); ++i)
        open(i);
    // Bounded in passes as well, should the stop never come.
    for (int pass = 0; pass < 100000 && !stop.load(); ++pass) {
        ::poll(fds.data(), nfds_t(fds.size()), 10);
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd >= 0 && !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char byte;
            if (fds[i].fd >= 0 && ::recv(fds[i].fd, &byte, 1, MSG_DONTWAIT) > 0)
                continue;
            if (fds[i].fd >= 0) {
                ::close(fds[i].fd);
                ++closed;
            }
            open(i);
        }
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0)
            ::close(p.fd);
}

// One poll of a PLC that connects for each poll, with a 1 s time-out (with
// `master`, a libmodbus master where there is one; it waits with select(),
// so not beside hundreds of peers in this process): whether registers 0-3
// came.
bool pollOnNewConnection(quint16 port, quint16 id, bool master)
{
#ifdef HAVE_LIBMODBUS
    if (master) {
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
        if (!ctx)
            return false;
        modbus_set_response_timeout(ctx, 1, 0);
        uint16_t regs[4] = {};
        const bool ok = modbus_connect(ctx) == 0 && modbus_read_registers(ctx, 0, 4, regs) == 4 && regs[2] == 120;
        modbus_close(ctx);
        modbus_free(ctx);
        return ok;
    }
#else
    Q_UNUSED(master);
#endif
    const int fd = connectLocal(port);
    const bool ok = fd >= 0 && pollRegisters(fd, id);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// A client connected to `port` whose read `id` has been answered, or -1.
int answeredClient(quint16 port, quint16 id)
{
    const int fd = connectLocal(port);
    if (fd >= 0 && !pollRegisters(fd, id)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Runs `job` on a thread of its own until finish() or the end of scope.
class Background {
public:
    explicit Background(std::function<void(const std::atomic<bool>& stop)> job)
        : thread_([this, job] { job(stop_); })
    {
    }
    ~Background() { finish(); }
    void finish()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// `peers` silent peers churning through the places of the server on `port`
// (holdPlaces) on a thread of their own, until finish() or the end of scope.
class Churn {
public:
    Churn(quint16 port, int peers, bool askOnce = false, bool ownHosts = false)
        : run_([=](const std::atomic<bool>& stop) { holdPlaces(port, peers, stop, askOnce, closed_, ownHosts); })
    {
    }
    // How often the server has closed one so far.
    int closedSoFar() const { return closed_.load(); }
    // Stops the peers: how often the server closed one.
    int finish()
    {
        run_.finish();
        return closed_.load();
    }

private:
    std::atomic<int> closed_{0};
    Background run_;
};

// Runs the server's time bounds `times` faster, so that minutes of polls
// play out in seconds; restarts it.
void playFaster(ModbusServer& s, int times)
{
    s.setIdleLimits(ModbusServer::kIdleCloseMs / times, ModbusServer::kPartialAduMs / times);
    s.setIdleGiveWay(ModbusServer::kIdleGiveWayMs / times);
    s.setLoneKeep(ModbusServer::kLoneKeepMs / times);
    s.setRhythmSlack(ModbusServer::kRhythmSlackMs / times);
    s.reAction(QHostAddress::LocalHost, 0);
}

#ifdef HAVE_LIBMODBUS
// A PLC that keeps its connection (from `source`) and polls with a libmodbus
// master every `intervalMs`: `warmUp` polls, then on until it is stopped.
// After a failed poll it connects again, as a PLC does.
struct KeptPlc {
    std::atomic<bool> warm{false};
    std::atomic<int> polls{0}, failed{0};
    Background run;

    KeptPlc(quint16 port, const QByteArray& source, int intervalMs, int warmUp)
        : run([=](const std::atomic<bool>& stop) {
            int fd = -1;
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
            modbus_set_response_timeout(ctx, 3, 0);
            for (int i = 0; !stop.load(); ++i) {
                for (QDeadlineTimer next(i > 0 ? intervalMs : 0); !next.hasExpired() && !stop.load();)
                    QThread::msleep(10);
                fd = fd < 0 ? connectLocal(port, source) : fd;
                uint16_t regs[4] = {};
                modbus_set_socket(ctx, fd);
                const bool ok = fd >= 0 && modbus_read_registers(ctx, 0, 4, regs) == 4 && regs[2] == 120;
                ++polls;
                if (!ok) {
                    ++failed;
                    if (fd >= 0)
                        ::close(fd);
                    fd = -1;
                }
                warm.store(warm.load() || i + 1 >= warmUp);
            }
            if (fd >= 0)
                ::close(fd);
            modbus_free(ctx);
        })
    {
    }
};
#endif

// Clients from `source` that crowd the places until `stop`, each polling
// every `periodMs`: busy ones on a kept connection, careless ones on a new
// connection each time, left open. How often the server closed one of them
// (or, careless, how many it closed in the end) is counted in `pushed`.
void crowdPlaces(quint16 port, const QByteArray& source, int clients, bool careless, int periodMs,
                 const std::atomic<bool>& stop, std::atomic<int>& pushed)
{
    std::vector<int> fds(size_t(clients), -1);
    for (quint16 id = 1; !stop.load(); ++id, QThread::msleep(periodMs)) {
        if (careless)  // its system takes back the oldest in the end
            fds.push_back(-1);
        for (size_t i = careless ? fds.size() - 1 : 0; i < fds.size(); ++i) {
            if (fds[i] < 0)
                fds[i] = connectLocal(port, source);
            if (fds[i] >= 0 && !pollRegisters(fds[i], id)) {
                ::close(fds[i]);
                fds[i] = -1;
                ++pushed;
            }
        }
        if (careless && fds.size() > 64) {
            char byte;
            pushed += fds.front() >= 0 && ::recv(fds.front(), &byte, 1, MSG_DONTWAIT) == 0 ? 1 : 0;
            ::close(fds.front());
            fds.erase(fds.begin());
        }
    }
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
}

}  // namespace

class TestModbusServer : public QObject {
    Q_OBJECT
private:
    TestWorkDir* wd_ = nullptr;
    StateWindow* win_ = nullptr;
    ModbusServer* server_ = nullptr;

private slots:
    void initTestCase()
    {
        wd_ = new TestWorkDir;
        win_ = new StateWindow;
        gpState = win_;
        server_ = new ModbusServer(QHostAddress::LocalHost, 0);
        QVERIFY(server_->isRunning());
        QVERIFY(server_->serverPort() != 0);
    }
    void cleanupTestCase()
    {
        delete server_;
        gpState = nullptr;
        delete win_;
        delete wd_;
    }
    void init()
    {
        setCounters();
        win_->cycleStatus().runState = 1;
        win_->cycleStatus().detectState = 0;
        win_->cycleStatus().runStep = 0;
        // What the GUI thread's event loop does between handlers.
        ApiSnapshot::publish();
    }

    // ---- frames, without sockets -------------------------------------------

    void replies_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("clears");

        QTest::newRow("read 0-3") << hex("00 01 00 00 00 06 01 03 00 00 00 04")
                                  << hex("00 01 00 00 00 0b 01 03 08 00 01 00 00 00 78 00 07") << false;
        QTest::newRow("read 2+5 pads with zeros") << hex("00 09 00 00 00 06 11 03 00 02 00 05")
                                                  << hex("00 09 00 00 00 0d 11 03 0a 00 78 00 07 00 00 00 00 00 00") << false;
        QTest::newRow("read quantity 0") << hex("00 01 00 00 00 06 01 03 00 00 00 00")
                                         << hex("00 01 00 00 00 03 01 03 00") << false;
        QTest::newRow("read far address") << hex("ab cd 00 00 00 06 01 03 ff ff 00 01")
                                          << hex("ab cd 00 00 00 05 01 03 02 00 00") << false;
        QTest::newRow("read quantity 126") << hex("00 01 00 00 00 06 01 03 00 00 00 7e")
                                           << hex("00 01 00 00 00 03 01 83 03") << false;
        QTest::newRow("read quantity 65535") << hex("00 01 00 00 00 06 01 03 00 00 ff ff")
                                             << hex("00 01 00 00 00 03 01 83 03") << false;
        QTest::newRow("read of 10 bytes") << hex("00 01 00 00 00 04 01 03 00 00")
                                          << hex("00 01 00 00 00 03 01 83 03") << false;
        QTest::newRow("read of 11 bytes") << hex("00 01 00 00 00 05 01 03 00 00 00")
                                          << hex("00 01 00 00 00 03 01 83 03") << false;
        QTest::newRow("read of 9 bytes") << hex("00 01 00 00 00 03 01 03 00")
                                         << hex("00 01 00 00 00 03 01 83 03") << false;
        QTest::newRow("FC17 of 8 bytes") << hex("00 04 00 00 00 02 01 11") << hex("00 04 00 00 00 03 01 91 01") << false;
        QTest::newRow("unknown FC, one data byte") << hex("00 04 00 00 00 03 01 41 00")
                                                   << hex("00 04 00 00 00 03 01 c1 01") << false;
        QTest::newRow("no function code: no answer") << hex("00 04 00 00 00 01 01") << QByteArray() << false;

        QTest::newRow("write 1 to reg 4 clears") << hex("00 02 00 00 00 09 01 10 00 04 00 01 02 00 01")
                                                 << hex("00 02 00 00 00 06 01 10 00 04 00 01") << true;
        QTest::newRow("write 3..4 clears") << hex("00 02 00 00 00 0b 01 10 00 03 00 02 04 00 09 00 01")
                                           << hex("00 02 00 00 00 06 01 10 00 03 00 02") << true;
        QTest::newRow("write 2 to reg 4 echoed") << hex("00 02 00 00 00 09 01 10 00 04 00 01 02 00 02")
                                                 << hex("00 02 00 00 00 09 01 10 00 04 00 01 02 00 02") << false;
        QTest::newRow("write regs 0-3 echoed") << hex("00 02 00 00 00 0f 01 10 00 00 00 04 08 00 01 00 01 00 01 00 01")
                                               << hex("00 02 00 00 00 0f 01 10 00 00 00 04 08 00 01 00 01 00 01 00 01") << false;
        QTest::newRow("write at 5") << hex("00 02 00 00 00 09 01 10 00 05 00 01 02 00 01")
                                    << hex("00 02 00 00 00 03 01 90 02") << false;
        QTest::newRow("short write") << hex("00 02 00 00 00 09 01 10 00 03 00 03 06 00 01")
                                     << hex("00 02 00 00 00 03 01 90 03") << false;
        QTest::newRow("write quantity 126") << hex("00 02 00 00 00 09 01 10 00 04 00 7e 02 00 01")
                                            << hex("00 02 00 00 00 03 01 90 03") << false;
        QTest::newRow("write of 11 bytes") << hex("00 02 00 00 00 05 01 10 00 04 00")
                                           << hex("00 02 00 00 00 03 01 90 03") << false;

        QTest::newRow("FC6 is refused") << hex("00 03 00 00 00 06 01 06 00 04 00 01")
                                        << hex("00 03 00 00 00 03 01 86 01") << false;
        QTest::newRow("FC4 is refused") << hex("00 03 00 00 00 06 01 04 00 00 00 01")
                                        << hex("00 03 00 00 00 03 01 84 01") << false;
        QTest::newRow("FC0x81 is refused") << hex("00 03 00 00 00 06 01 81 00 00 00 01")
                                           << hex("00 03 00 00 00 03 01 81 01") << false;
    }
    void replies()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(bool, clears);
        int clearsSeen = 0;
        ModbusServer::DataAccess access;
        access.read = [](ModbusServer::Registers* r) {
            *r = ModbusServer::getData();
            return true;
        };
        access.clear = [&clearsSeen] {
            ++clearsSeen;
            return true;
        };
        QCOMPARE(ModbusServer::analysis(request, access).toHex(' '), reply.toHex(' '));
        QCOMPARE(clearsSeen, clears ? 1 : 0);
    }

    void busyDataGivesException06()
    {
        ModbusServer::DataAccess access;
        access.read = [](ModbusServer::Registers*) { return false; };
        access.clear = [] { return false; };
        QCOMPARE(ModbusServer::analysis(hex("00 01 00 00 00 06 01 03 00 00 00 04"), access),
                 hex("00 01 00 00 00 03 01 83 06"));
        QCOMPARE(ModbusServer::analysis(hex("00 02 00 00 00 09 01 10 00 04 00 01 02 00 01"), access),
                 hex("00 02 00 00 00 03 01 90 06"));
    }

    void registerWords_data() { addStateWordRows(); }
    void registerWords()
    {
        applyStateRow(win_);
        QFETCH(int, run);
        QFETCH(int, detect);
        const ModbusServer::Registers r = ModbusServer::getData();
        QCOMPARE(int(r[0]), run);
        QCOMPARE(int(r[1]), detect);
    }

    void countersAreClampedAndTruncated()
    {
        CounterValues v;
        v.all.fill(-5);
        v.syncNg = 0x12345;
        ProductionCounters::get().restore(v);
        ModbusServer::Registers r = ModbusServer::getData();
        QCOMPARE(int(r[2]), 0);
        QCOMPARE(int(r[3]), 0x2345);
        v.all[6] = 70000;
        ProductionCounters::get().restore(v);
        r = ModbusServer::getData();
        QCOMPARE(int(r[2]), 70000 & 0xffff);
    }

    void aduLength_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length");
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("5 bytes") << hex("00 01 00 00 00") << 0;
        QTest::newRow("length 0") << hex("00 01 00 00 00 00") << -1;
        QTest::newRow("header only") << hex("00 01 00 00 00 06") << 0;
        QTest::newRow("complete") << hex("00 01 00 00 00 06 01 03 00 00 00 04") << 12;
        QTest::newRow("complete + more") << hex("00 01 00 00 00 06 01 03 00 00 00 04 00 02") << 12;
        QTest::newRow("longest") << hex("00 01 00 00 00 fe") << 0;
        QTest::newRow("too long") << hex("00 01 00 00 00 ff") << -1;
        QTest::newRow("huge") << hex("00 01 00 00 ff 06") << -1;
    }
    void aduLength()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QCOMPARE(ModbusServer::aduLength(bytes.constData(), bytes.size()), length);
        if (bytes.size() >= 6 && length == 0) {
            const int full = ((quint8(bytes[4]) << 8) | quint8(bytes[5])) + 6;
            QByteArray padded = bytes + QByteArray(full - bytes.size(), '\0');
            QCOMPARE(ModbusServer::aduLength(padded.constData(), padded.size()), full);
        }
    }

    // ---- over the socket -------------------------------------------------------

    void streamCutting_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray read = hex("00 01 00 00 00 06 01 03 00 00 00 04");
        const QByteArray answer = hex("00 01 00 00 00 0b 01 03 08 00 01 00 00 00 78 00 07");
        QTest::newRow("one write") << QList<QByteArray>{read} << answer;
        QTest::newRow("two ADUs in one write") << QList<QByteArray>{read + read} << answer + answer;
        QTest::newRow("split in two writes") << QList<QByteArray>{read.left(5), read.mid(5)} << answer;
        QTest::newRow("split after header") << QList<QByteArray>{read.left(8), read.mid(8) + read.left(3), read.mid(3)}
                                            << answer + answer;
        QTest::newRow("short ADU then read") << QList<QByteArray>{hex("00 07 00 00 00 03 01 03 00") + read}
                                             << hex("00 07 00 00 00 03 01 83 03") + answer;
        QTest::newRow("FC6 then read") << QList<QByteArray>{hex("00 03 00 00 00 06 01 06 00 04 00 01") + read}
                                       << hex("00 03 00 00 00 03 01 86 01") + answer;
    }
    void streamCutting()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QByteArray, reply);
        GuiLatenessWatch watch;
        RawClient c;
        c.port = server_->serverPort();
        c.chunks = chunks;
        c.expect = reply.size();
        QVERIFY(runBeside([&c] { c.run(); }));
        QCOMPARE(c.received.toHex(' '), reply.toHex(' '));
        QVERIFY(watch.report("streamCutting"));
    }

    void invalidLengthClosesConnection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("length 0") << hex("00 01 00 00 00 00 01 03 00 00 00 04");
        QTest::newRow("length 300") << hex("00 01 00 00 01 2c 01 03 00 00 00 04");
    }
    void invalidLengthClosesConnection()
    {
        QFETCH(QByteArray, bytes);
        RawClient c;
        c.port = server_->serverPort();
        c.chunks = {bytes};
        QVERIFY(runBeside([&c] { c.run(); }));
        QVERIFY(c.received.isEmpty());
        QVERIFY(c.closedByPeer);
        QVERIFY(server_->isRunning());
    }

    void lyingLengthWaitsForTheRest()
    {
        // The header claims 8 bytes of PDU; the server waits for them and
        // answers only the whole ADU, whose last two bytes are the next write.
        RawClient c;
        c.port = server_->serverPort();
        c.chunks = {hex("00 05 00 00 00 08 01 03 00 00 00 02"), hex("ff ff")};
        c.expect = 9 + 4;
        QVERIFY(runBeside([&c] { c.run(); }));
        QCOMPARE(c.received.toHex(' '), hex("00 05 00 00 00 07 01 03 04 00 01 00 00").toHex(' '));
    }

    void connectionLimit()
    {
        const quint16 port = server_->serverPort();
        QList<QByteArray> replies;
        bool firstClosed = false;
        QVERIFY(runBeside([&] {
            QList<QTcpSocket*> sockets;
            for (int i = 0; i < ModbusServer::kMaxConnections + 1; ++i) {
                auto* s = new QTcpSocket;
                s->connectToHost(QHostAddress::LocalHost, port);
                s->waitForConnected(3000);
                sockets << s;
                QThread::msleep(20);
            }
            // The seventeenth takes the place of the one quiet the longest.
            QTcpSocket* first = sockets.first();
            first->waitForReadyRead(1000);
            firstClosed = first->state() != QAbstractSocket::ConnectedState;
            // The other sixteen are served.
            for (int i = 1; i <= ModbusServer::kMaxConnections; ++i) {
                sockets[i]->write(hex("00 01 00 00 00 06 01 03 00 00 00 01"));
                sockets[i]->waitForBytesWritten(1000);
                QByteArray r;
                QDeadlineTimer d(3000);
                while (r.size() < 11 && !d.hasExpired())
                    if (sockets[i]->waitForReadyRead(100))
                        r += sockets[i]->readAll();
                replies << r;
            }
            qDeleteAll(sockets);
        }));
        QVERIFY(firstClosed);
        QCOMPARE(replies.size(), ModbusServer::kMaxConnections);
        for (const QByteArray& r : replies)
            QCOMPARE(r, hex("00 01 00 00 00 05 01 03 02 00 01"));
        // Closed connections free their places: sixteen new ones are served.
        QList<QByteArray> again;
        QVERIFY(runBeside([&] {
            QList<QTcpSocket*> sockets;
            for (int i = 0; i < ModbusServer::kMaxConnections; ++i) {
                auto* s = new QTcpSocket;
                s->connectToHost(QHostAddress::LocalHost, port);
                s->waitForConnected(3000);
                sockets << s;
            }
            for (QTcpSocket* s : sockets) {
                s->write(hex("00 01 00 00 00 06 01 03 00 00 00 01"));
                QByteArray r;
                QDeadlineTimer d(3000);
                while (r.size() < 11 && !d.hasExpired() && s->state() == QAbstractSocket::ConnectedState)
                    if (s->waitForReadyRead(100))
                        r += s->readAll();
                again << r;
            }
            qDeleteAll(sockets);
        }));
        QCOMPARE(again.size(), ModbusServer::kMaxConnections);
        for (const QByteArray& r : again)
            QCOMPARE(r, hex("00 01 00 00 00 05 01 03 02 00 01"));
    }

    void pollingClientKeepsItsPlace_data()
    {
        QTest::addColumn<int>("peers");
        QTest::newRow("16 silent peers") << ModbusServer::kMaxConnections;
        QTest::newRow("20 silent peers") << 20;
        QTest::newRow("40 silent peers") << 40;
    }
    void pollingClientKeepsItsPlace()
    {
        // A PLC polls beside peers that connect, say nothing (or 3 bytes of
        // a header) and connect again when closed: each new one takes the
        // place of a silent one, never the PLC's. Every poll is answered on
        // the PLC's one connection.
        QFETCH(int, peers);
        ModbusServer s(QHostAddress::LocalHost, 0);
        QVERIFY(s.isRunning());
        const quint16 port = s.serverPort();
        int plc = answeredClient(port, 1);
        QVERIFY(plc >= 0);
        Churn churn(port, peers);
        QTRY_COMPARE(s.connectionCount(), ModbusServer::kMaxConnections);
        int failed = 0, reconnects = 0;
        for (quint16 i = 2; i < 32; ++i) {
            if (!pollRegisters(plc, i)) {
                ++failed;
                ::close(plc);
                plc = connectLocal(port);
                ++reconnects;
            }
            QThread::msleep(50);
        }
        const int closedPeers = churn.finish();
        ::close(plc);
        QCOMPARE(failed, 0);
        QCOMPARE(reconnects, 0);
        // The places were fought over the whole time (more peers than
        // places) or held by the silent peers alone (as many as places).
        if (peers + 1 > ModbusServer::kMaxConnections)
            QVERIFY2(closedPeers > 0, qPrintable(QString::number(closedPeers)));
    }

    void freshClientIsAnsweredDuringChurn_data()
    {
        QTest::addColumn<int>("peers");
        QTest::newRow("25 silent peers") << 25;
        QTest::newRow("40 silent peers") << 40;
        QTest::newRow("300 silent peers") << 300;
        QTest::newRow("600 silent peers") << 600;
    }
    void freshClientIsAnsweredDuringChurn()
    {
        // Clients connect one after another while peers that say nothing
        // churn through every place (and, past the places and the waiting
        // room, through the room), and each sends its read at once on
        // connecting: the peers that arrive just after it cannot push it off
        // before its request is read, so every one of them is answered.
        QFETCH(int, peers);
        ModbusServer s(QHostAddress::LocalHost, 0);
        QVERIFY(s.isRunning());
        const quint16 port = s.serverPort();
        Churn churn(port, peers);
        QTRY_VERIFY(s.connectionCount() + s.waitingCount() >= ModbusServer::kMaxConnections);
        int failed = 0;
        for (quint16 i = 1; i <= 20; ++i) {
            QThread::msleep(30);
            failed += pollOnNewConnection(port, i, false) ? 0 : 1;
        }
        const int closedPeers = churn.finish();
        QCOMPARE(failed, 0);
        QVERIFY2(closedPeers > 0, qPrintable(QString::number(closedPeers)));
    }

    void talkingPeersKeepTheirPlaces_data()
    {
        QTest::addColumn<bool>("lateAsks");
        QTest::addColumn<int>("silentPeers");
        QTest::newRow("a silent late one") << false << 0;
        QTest::newRow("a late one that asks") << true << 0;
        // The sixteen idle past the give-way bound: peers that say nothing
        // still push none of them off.
        QTest::newRow("silent ones churning") << false << 40;
    }
    void talkingPeersKeepTheirPlaces()
    {
        // Every place is held by a peer answered a moment ago: a new
        // connection finds no place. If it asks, it gets its answer first;
        // either way the server closes it, and all sixteen are still served.
        QFETCH(bool, lateAsks);
        QFETCH(int, silentPeers);
        ModbusServer s(QHostAddress::LocalHost, 0);
        QVERIFY(s.isRunning());
        s.setIdleGiveWay(silentPeers > 0 ? 1 : 60000);
        std::vector<int> talking;
        for (int i = 0; i < ModbusServer::kMaxConnections; ++i) {
            talking.push_back(answeredClient(s.serverPort(), quint16(i)));
            QVERIFY(talking.back() >= 0);
        }
        Churn churn(s.serverPort(), silentPeers);
        if (silentPeers > 0)  // every one of them has been closed, as a rule
            QTRY_VERIFY(churn.closedSoFar() >= silentPeers);
        const int late = connectLocal(s.serverPort());
        QVERIFY(late >= 0);
        if (lateAsks)
            QVERIFY(pollRegisters(late, 77));
        char byte;
        QCOMPARE(::recv(late, &byte, 1, 0), ssize_t(0));  // closed by the server
        ::close(late);
        churn.finish();
        int answered = 0;
        for (int fd : talking) {
            answered += pollRegisters(fd, 99) ? 1 : 0;
            ::close(fd);
        }
        QCOMPARE(answered, ModbusServer::kMaxConnections);
    }

    void plcBesidePeersThatAskedOnce_data()
    {
        QTest::addColumn<bool>("keepsConnection");
        QTest::newRow("connecting for each poll") << false;
        QTest::newRow("keeping its connection") << true;
    }
    void plcBesidePeersThatAskedOnce()
    {
        // Sixteen peers read once, then say nothing, and read once again on
        // a new connection as soon as the server closes them. A PLC that
        // connects for each poll is answered every time, places or not; one
        // that keeps its connection gets the place of a peer idle past the
        // give-way bound (shortened here) and keeps it.
        QFETCH(bool, keepsConnection);
        ModbusServer s(QHostAddress::LocalHost, 0);
        QVERIFY(s.isRunning());
        s.setIdleGiveWay(keepsConnection ? 500 : 60000);
        const quint16 port = s.serverPort();
        Churn peers(port, ModbusServer::kMaxConnections, true);
        QTRY_COMPARE(s.connectionCount(), ModbusServer::kMaxConnections);
        int plc = -1;
        if (keepsConnection) {
            // Answered at once, and placed once the peers have been idle
            // long enough: then a second read on the connection is answered.
            for (int i = 0; i < 200 && plc < 0; ++i) {
                plc = answeredClient(port, 1);
                if (plc >= 0 && !pollRegisters(plc, 2)) {
                    ::close(plc);
                    plc = -1;
                    QThread::msleep(50);
                }
            }
            QVERIFY(plc >= 0);
        }
        int failed = 0;
        for (quint16 i = 3; i < 33; ++i) {
            failed += (keepsConnection ? pollRegisters(plc, i) : pollOnNewConnection(port, i, true)) ? 0 : 1;
            QThread::msleep(20);
        }
        if (keepsConnection)
            ::close(plc);
        peers.finish();
        QCOMPARE(failed, 0);
    }

    void carelessHolderGivesWay_data()
    {
        // Holders "address:requests:quiet ms:longest gap ms"; a newcomer from
        // `source` that asks; the give-way time 100 ms, the lone-keep time
        // 1,000 ms, the rhythm slack 10 ms.
        QTest::addColumn<QString>("holders");
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("givesWay");
        QTest::newRow("all asked a moment ago") << "a:1:50:0 b:1:90:0" << "a" << -1;
        QTest::newRow("its own address's, past the give-way time") << "b:1:900:0 a:1:150:0" << "a" << 1;
        QTest::newRow("a lone one keeps its place") << "a:1:900:0" << "b" << -1;
        QTest::newRow("a lone one, past the lone-keep time") << "a:1:1100:0" << "b" << 0;
        QTest::newRow("two places more crowd") << "a:1:150:0 a:1:200:0 c:5:900:0" << "b" << 1;
        QTest::newRow("one place more does not") << "a:1:150:0 a:1:200:0 b:1:50:0" << "b" << -1;
        QTest::newRow("its rhythm keeps it past the lone-keep time") << "a:5:1005:500" << "b" << -1;
        QTest::newRow("out of its rhythm") << "a:5:1020:500" << "a" << 0;
        QTest::newRow("the address holding the most first") << "c:1:900:0 c:1:900:0 a:9:300:0 a:9:300:0 a:9:300:0"
                                                           << "b" << 2;
        QTest::newRow("of an address, the one that asked least") << "a:3:500:0 a:1:200:0 a:2:900:0" << "a" << 1;
        QTest::newRow("then the one quiet the longest") << "a:1:200:0 a:1:400:0 a:1:300:0" << "a" << 1;
        QTest::newRow("silent ones count for their address") << "a:0:0:0 a:0:0:0 a:1:900:0" << "b" << 2;
        // "b!": b's connection has just given way itself.
        QTest::newRow("one just pushed off takes no lone one's place") << "a:1:1100:0" << "b!" << -1;
        QTest::newRow("but its own address's") << "b:1:150:0 a:1:1100:0" << "b!" << 0;
    }
    void carelessHolderGivesWay()
    {
        QFETCH(QString, holders);
        QFETCH(QString, source);
        QFETCH(int, givesWay);
        constexpr qint64 kNow = 100000;
        QVector<ModbusServer::Holder> list;
        for (const QString& h : holders.split(' ')) {
            const QStringList f = h.split(':');
            list << ModbusServer::Holder{f[0], f[1].toULongLong(), kNow - f[2].toLongLong(), f[3].toLongLong()};
        }
        const bool gaveWay = source.endsWith('!');
        QCOMPARE(ModbusServer::carelessHolder(list, source.remove('!'), gaveWay, kNow, {100, 1000, 10}), givesWay);
    }

#ifdef HAVE_LIBMODBUS
    void keptPlcsKeepTheirPlaces_data()
    {
        QTest::addColumn<QString>("crowd");
        QTest::addColumn<bool>("plcsShareAnAddress");
        // Each PLC from a host of its own, just connected (one poll) when
        // the crowd comes.
        QTest::newRow("a careless client") << "careless" << false;
        QTest::newRow("16 ask-once peers from one host") << "ask once" << false;
        QTest::newRow("16 ask-once peers from 16 hosts") << "ask once, own hosts" << false;
        // The PLCs behind one address (a gateway) that 14 busy clients
        // share, polling for a while (two polls) when the crowd comes.
        QTest::newRow("14 busy clients from the PLCs' address") << "busy" << true;
    }
    void keptPlcsKeepTheirPlaces()
    {
        // PLCs that keep their connection and poll every 10, 20, 30 and
        // 60 s (and one late on its minute, still far from the idle bound)
        // beside clients that crowd the places, with the server's bounds and
        // the polls 50 times faster: every poll is answered, and so is every
        // poll of a PLC that connects for each poll.
        QFETCH(QString, crowd);
        QFETCH(bool, plcsShareAnAddress);
        constexpr int kFaster = 50;
        ModbusServer s(QHostAddress::LocalHost, 0);
        playFaster(s, kFaster);
        s.setRhythmSlack(200);  // a poll late by up to this on a loaded machine
        QVERIFY(s.isRunning());
        const quint16 port = s.serverPort();
        const QByteArray gateway("127.0.0.2");
        std::vector<std::unique_ptr<KeptPlc>> plcs;
        int n = 0;
        for (int seconds : {10, 20, 30, 60, 65}) {
            const QByteArray host = plcsShareAnAddress ? gateway : "127.0.0." + QByteArray::number(2 + n++);
            plcs.push_back(std::make_unique<KeptPlc>(port, host, seconds * 1000 / kFaster, plcsShareAnAddress ? 2 : 1));
        }
        QTRY_VERIFY(std::all_of(plcs.begin(), plcs.end(), [](const auto& p) { return p->warm.load(); }));
        std::atomic<int> pushed{0}, perPollFailed{0};
        const bool askOnce = crowd.startsWith("ask once");
        Churn churn(port, askOnce ? ModbusServer::kMaxConnections : 0, true, crowd.endsWith("own hosts"));
        Background crowding([&](const std::atomic<bool>& stop) {
            if (!askOnce)
                crowdPlaces(port, crowd == "busy" ? gateway : otherHost(0), crowd == "busy" ? 14 : 0,
                            crowd == "careless", 1000 / kFaster, stop, pushed);
        });
        Background perPoll([&](const std::atomic<bool>& stop) {
            for (quint16 id = 1; !stop.load(); ++id, QThread::msleep(100))
                perPollFailed += pollOnNewConnection(port, id, true) ? 0 : 1;
        });
        QTRY_COMPARE(s.connectionCount(), ModbusServer::kMaxConnections);
        QTest::qWait(5000);
        for (Background* b : {&crowding, &perPoll})
            b->finish();
        pushed += churn.finish();
        for (auto& p : plcs) {
            p->run.finish();
            QVERIFY(p->polls >= 4);
            QCOMPARE(p->failed.load(), 0);
        }
        QCOMPARE(perPollFailed.load(), 0);
        QVERIFY2(pushed.load() > 0, "the places were never contested");
    }
#endif

    void repliesWaitForAPeerThatDoesNotRead()
    {
        // A peer sends many reads before it reads a single answer (more
        // answers than a socket buffer holds): the answers the kernel cannot
        // take wait, later requests wait in the kernel, and in the end every
        // answer arrives, in order.
        const quint16 port = server_->serverPort();
        constexpr int kCount = 100000;
        const QByteArray tail = hex("00 00 00 06 01 03 00 00 00 04");
        const QByteArray answerTail = hex("00 00 00 0b 01 03 08 00 01 00 00 00 78 00 07");
        int inOrder = -1;
        QVERIFY(runBeside([&] {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            const int small = 4096;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            const timeval limit{10, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
                ::close(fd);
                return;
            }
            std::thread writer([&] {
                QByteArray all;
                for (int i = 0; i < kCount; ++i)
                    all += QByteArray(1, char(i >> 8 & 0xff)) + char(i & 0xff) + tail;
                for (int at = 0; at < all.size();) {
                    const ssize_t n = ::send(fd, all.constData() + at, size_t(all.size() - at), MSG_NOSIGNAL);
                    if (n <= 0)
                        return;
                    at += int(n);
                }
            });
            // Every request is out before the first answer is read, so the
            // answers pile up at the server.
            writer.join();
            QThread::msleep(200);
            QByteArray got;
            char buf[65536];
            while (got.size() < kCount * 17) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                got.append(buf, int(n));
            }
            ::close(fd);
            inOrder = 0;
            for (int i = 0; i < kCount && (i + 1) * 17 <= got.size(); ++i, ++inOrder)
                if (got.mid(i * 17, 17) != QByteArray(1, char(i >> 8 & 0xff)) + char(i & 0xff) + answerTail)
                    break;
        }));
        QCOMPARE(inOrder, kCount);
    }

    void quietConnectionsAreClosed_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("partialMs");
        QTest::newRow("silent") << QByteArray() << 200 << 60000;
        QTest::newRow("half an ADU") << hex("00 01 00 00 00 06 01 03") << 60000 << 100;
    }
    void quietConnectionsAreClosed()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, idleMs);
        QFETCH(int, partialMs);
        ModbusServer s(QHostAddress::LocalHost, 0);
        s.setIdleLimits(idleMs, partialMs);
        QVERIFY(s.reAction(QHostAddress::LocalHost, 0));
        auto c = connection(s.serverPort(), bytes);
        QTRY_COMPARE(c->state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(s.connectionCount(), 0);
    }

    void busyGuiThreadGetsBusyAndNoLateClear()
    {
        server_->setHandOverTimeout(200);
        RawClient c;
        c.port = server_->serverPort();
        c.chunks = {hex("00 02 00 00 00 09 01 10 00 04 00 01 02 00 01")};
        c.expect = 9;
        std::thread t([&c] { c.run(); });
        // The GUI thread is blocked (no events) until the client has its answer.
        t.join();
        QCOMPARE(c.received, hex("00 02 00 00 00 03 01 90 06"));
        // The queued clear now reaches the GUI thread and must not run.
        QCoreApplication::processEvents();
        QTest::qWait(50);
        QCOMPARE(counted().all[3], 120);
        server_->setHandOverTimeout(ModbusServer::kDefaultHandOverMs);
    }

    void stopWhileWaitingForTheGuiThread()
    {
        ModbusServer s(QHostAddress::LocalHost, 0);
        QVERIFY(s.isRunning());
        s.setHandOverTimeout(60000);
        QTcpSocket sock;
        sock.connectToHost(QHostAddress::LocalHost, s.serverPort());
        QVERIFY(sock.waitForConnected(3000));
        sock.write(hex("00 01 00 00 00 06 01 03 00 00 00 04"));
        QVERIFY(sock.waitForBytesWritten(3000));
        QThread::msleep(100);  // the pool thread now waits for this thread
        s.deinitialize();      // must not dead-lock
        QVERIFY(!s.isRunning());
        QVERIFY(s.reAction(QHostAddress::LocalHost, 0));
        QVERIFY(s.isRunning());
    }

    void portInUseLeavesServerStopped()
    {
        ModbusServer second(QHostAddress::LocalHost, server_->serverPort());
        QVERIFY(!second.isRunning());
        QCOMPARE(int(second.serverPort()), 0);
    }

#ifdef HAVE_LIBMODBUS
    void libmodbusClient()
    {
        GuiLatenessWatch watch;
        win_->cycleStatus().detectState = 2;
        win_->cycleStatus().runStep = 1;
        ApiSnapshot::publish();
        uint16_t regs[6] = {};
        int readCount = -1, writeResult = -1, fc6Result = 0, fc6Errno = 0, readAfter = -1;
        uint16_t after[4] = {};
        const int port = server_->serverPort();
        QVERIFY(runBeside([&] {
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
            if (!ctx || modbus_connect(ctx) != 0)
                return;
            modbus_set_response_timeout(ctx, 3, 0);
            readCount = modbus_read_registers(ctx, 0, 6, regs);
            const uint16_t one = 1;
            writeResult = modbus_write_registers(ctx, 4, 1, &one);
            fc6Result = modbus_write_register(ctx, 4, 1);
            fc6Errno = errno;
            readAfter = modbus_read_registers(ctx, 0, 4, after);
            modbus_close(ctx);
            modbus_free(ctx);
        }));
        QCOMPARE(readCount, 6);
        QCOMPARE(regs[0], uint16_t(1));
        QCOMPARE(regs[1], uint16_t(2));
        QCOMPARE(regs[2], uint16_t(120));
        QCOMPARE(regs[3], uint16_t(7));
        QCOMPARE(regs[4], uint16_t(0));
        QCOMPARE(regs[5], uint16_t(0));
        QCOMPARE(writeResult, 1);
        QCOMPARE(fc6Result, -1);
        QCOMPARE(fc6Errno, int(EMBXILFUN));
        QCOMPARE(readAfter, 4);
        QCOMPARE(after[2], uint16_t(0));
        QCOMPARE(after[3], uint16_t(7));  // the Modbus clear keeps counted().syncNg
        for (int i = 0; i < kMaxCamera; ++i) {
            QCOMPARE(counted().all[i], 0);
            QCOMPARE(counted().fail[i], 0);
            QCOMPARE(counted().allCycle[i], 5);
        }
        QCOMPARE(counted().syncNgCycle, 3);
        QSettings ini(QStringLiteral("./count.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value("list_allnum").toStringList(), (QStringList{"0", "0", "0", "0", "0", "0", "0", "0"}));
        QCOMPARE(ini.value("gSyncNGNum").toInt(), 7);
        QVERIFY(watch.report("libmodbusClient"));
    }
#endif

#ifdef HAVE_LIBMODBUS
    void plcGetsInPastResetsAndIdlePeers()
    {
        // A hundred peers reset while their read is with the GUI thread, then
        // eight silent and eight half-sent ones take every place: a PLC is
        // served at once all the same, and a short request gets exception 01.
        const quint16 port = server_->serverPort();
        QVERIFY(runBeside([&] {
            for (int i = 0; i < 100; ++i)
                connection(port, hex("00 01 00 00 00 06 01 03 00 00 00 04"), true);
        }));
        QTRY_COMPARE(server_->connectionCount(), 0);
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < ModbusServer::kMaxConnections; ++i)
            held.push_back(connection(port, i % 2 ? hex("00 01 00 00 00 06 01") : QByteArray()));
        QTRY_COMPARE(server_->connectionCount(), ModbusServer::kMaxConnections);
        int readCount = -1, reportErrno = 0;
        uint16_t regs[4] = {};
        QVERIFY(runBeside([&] {
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
            if (!ctx || modbus_connect(ctx) != 0)
                return;
            modbus_set_response_timeout(ctx, 3, 0);
            readCount = modbus_read_registers(ctx, 0, 4, regs);
            uint8_t id[64];
            if (modbus_report_slave_id(ctx, sizeof id, id) < 0)  // function 17, no data
                reportErrno = errno;
            modbus_close(ctx);
            modbus_free(ctx);
        }));
        QCOMPARE(readCount, 4);
        QCOMPARE(regs[2], uint16_t(120));
        QCOMPARE(reportErrno, int(EMBXILFUN));
    }
#endif

    void mbpollClient()
    {
        if (QStandardPaths::findExecutable("mbpoll").isEmpty())
            QSKIP("mbpoll is not installed");
        GuiLatenessWatch watch;
        platform::CommandResult r;
        const QString port = QString::number(server_->serverPort());
        QVERIFY(runBeside([&] {
            r = platform::runner().run(QStringLiteral("mbpoll"),
                                       {"-m", "tcp", "-p", port, "-a", "1", "-0", "-r", "0", "-c", "4", "-1", "-t", "4",
                                        "127.0.0.1"},
                                       10000);
        }));
        QVERIFY2(r.ok(), r.err.constData());
        const QString out = QString::fromLocal8Bit(r.out);
        QVERIFY2(out.contains("[0]: \t1") || out.contains("[0]: 1") || out.contains(QRegularExpression("\\[0\\]:\\s+1")), qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression("\\[2\\]:\\s+120")), qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression("\\[3\\]:\\s+7")), qPrintable(out));
        QVERIFY(watch.report("mbpollClient"));
    }
};

QTEST_MAIN(TestModbusServer)
#include "tst_modbusserver.moc"
