#include "boardsim.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

qint64 BoardSimulator::nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {
unsigned char lrc(const unsigned char* d, int n)
{
    unsigned s = 0;
    for (int i = 0; i < n; ++i)
        s += d[i];
    return static_cast<unsigned char>(s & 0xFF);
}
}  // namespace

BoardSimulator::BoardSimulator() = default;

BoardSimulator::~BoardSimulator()
{
    stop();
    if (slaveKeep_ >= 0)
        ::close(slaveKeep_);
    if (master_ >= 0)
        ::close(master_);
}

bool BoardSimulator::open()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        return false;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return false;
    const char* name = ::ptsname(master_);
    if (!name)
        return false;
    slave_ = QString::fromLocal8Bit(name);
    // Keep one slave descriptor open so the master never sees a hang-up
    // while the program reopens its port.
    slaveKeep_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slaveKeep_ >= 0) {
        termios t{};
        if (::tcgetattr(slaveKeep_, &t) == 0) {
            cfmakeraw(&t);
            ::tcsetattr(slaveKeep_, TCSANOW, &t);
        }
    }
    startMs_ = nowMs();
    return true;
}

void BoardSimulator::start()
{
    if (running_ || master_ < 0)
        return;
    running_ = true;
    thread_ = std::thread([this] { loop(); });
}

void BoardSimulator::stop()
{
    running_ = false;
    if (thread_.joinable())
        thread_.join();
}

void BoardSimulator::portClosed()
{
    const bool wasRunning = running_;
    // The answering thread stops after the frame it is handling (its
    // reply, if any, goes to the line and is dropped below).
    stop();
    if (master_ >= 0) {
        unsigned char tmp[256];
        for (pollfd p{master_, POLLIN, 0}; ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);)
            if (::read(master_, tmp, sizeof tmp) <= 0)
                break;
    }
    if (slaveKeep_ >= 0)
        ::tcflush(slaveKeep_, TCIFLUSH);
    if (wasRunning)
        start();
}

void BoardSimulator::setInputs(int word) { inputs_ = word & 0x3FF; }

void BoardSimulator::setPulses(const std::vector<Pulse>& pulses)
{
    std::lock_guard<std::mutex> l(mutex_);
    pulses_ = pulses;
}

void BoardSimulator::setFaults(const Faults& f)
{
    std::lock_guard<std::mutex> l(mutex_);
    faults_ = f;
}

void BoardSimulator::writeRaw(const QByteArray& bytes)
{
    (void)::write(master_, bytes.constData(), static_cast<size_t>(bytes.size()));
}

void BoardSimulator::setSilences(const std::vector<Silence>& silences)
{
    std::lock_guard<std::mutex> l(mutex_);
    silences_ = silences;
}

bool BoardSimulator::silentNow() const
{
    const qint64 now = nowMs();
    if (now < silentUntilMs_.load())
        return true;
    const qint64 t = now - startMs_;
    std::lock_guard<std::mutex> l(mutex_);
    for (const Silence& q : silences_)
        if (q.periodMs > 0 && t % q.periodMs >= q.offsetMs && t % q.periodMs < q.offsetMs + q.lengthMs)
            return true;
    return false;
}

int BoardSimulator::framesOf(int command) const
{
    std::lock_guard<std::mutex> l(mutex_);
    return counts_[command & 0xFF];
}

std::vector<std::pair<int, int>> BoardSimulator::history() const
{
    std::lock_guard<std::mutex> l(mutex_);
    return history_;
}

QByteArray BoardSimulator::boardFrame(int command, quint32 payload)
{
    unsigned char f[8];
    f[0] = 0x5F;
    f[1] = static_cast<unsigned char>(command);
    f[2] = payload & 0xFF;
    f[3] = (payload >> 8) & 0xFF;
    f[4] = (payload >> 16) & 0xFF;
    f[5] = (payload >> 24) & 0xFF;
    f[6] = lrc(f, 6);
    f[7] = 0xF5;
    return QByteArray(reinterpret_cast<const char*>(f), 8);
}

QByteArray BoardSimulator::reply2(int inputs, int outputs)
{
    const quint32 p = quint32(inputs & 0xFF) | (quint32((inputs >> 8) & 3) << 8) | (quint32(outputs & 0xFF) << 16) |
                      (quint32((outputs >> 8) & 3) << 24);
    return boardFrame(2, p);
}

int BoardSimulator::scheduledInputs(qint64 t) const
{
    int word = inputs_.load();
    std::lock_guard<std::mutex> l(mutex_);
    for (const Pulse& p : pulses_) {
        if (p.periodMs <= 0)
            continue;
        const qint64 phase = t % p.periodMs;
        if (phase >= p.offsetMs && phase < p.offsetMs + p.widthMs)
            word |= (1 << p.bit);
    }
    return word & 0x3FF;
}

void BoardSimulator::send(const QByteArray& frame)
{
    Faults f;
    int n;
    {
        std::lock_guard<std::mutex> l(mutex_);
        f = faults_;
        n = ++replyCount_;
    }
    if (f.dropEvery > 0 && n % f.dropEvery == 0)
        return;
    QByteArray out = frame;
    if (f.corruptEvery > 0 && n % f.corruptEvery == 0)
        out[6] = static_cast<char>(out[6] ^ 0x5A);
    if (f.garbageEvery > 0 && n % f.garbageEvery == 0)
        out.prepend(QByteArray("\x5F\x02\x13\x37\xF5", 5));
    if (f.splitEvery > 0 && n % f.splitEvery == 0) {
        (void)::write(master_, out.constData(), 3);
        ::usleep(3000);
        (void)::write(master_, out.constData() + 3, static_cast<size_t>(out.size() - 3));
        return;
    }
    (void)::write(master_, out.constData(), static_cast<size_t>(out.size()));
    if (tap_ && frame.size() >= 8)
        tap_(false, static_cast<unsigned char>(frame[1]),
             static_cast<unsigned char>(frame[2]) | ((static_cast<unsigned char>(frame[3]) & 3) << 8));
}

void BoardSimulator::handle(int command, int value)
{
    if (tap_)
        tap_(true, command, value);
    {
        std::lock_guard<std::mutex> l(mutex_);
        counts_[command & 0xFF]++;
        if (history_.size() < 100000)
            history_.emplace_back(command, value);
    }
    switch (command) {
    case 1:
        outputs_ = value & 0x3FF;
        break;
    case 2:
        send(reply2(scheduledInputs(nowMs() - startMs_), outputs_.load()));
        break;
    case 3:
    case 4:
        send(boardFrame(command, value_.load()));
        break;
    default:
        break;
    }
}

void BoardSimulator::loop()
{
    std::vector<unsigned char> buf;
    unsigned char tmp[256];
    while (running_) {
        pollfd p{master_, POLLIN, 0};
        const int r = ::poll(&p, 1, 20);
        if (r <= 0 || !(p.revents & POLLIN))
            continue;
        const ssize_t n = ::read(master_, tmp, sizeof tmp);
        if (n <= 0)
            continue;
        // A silent board hears nothing either.
        if (silentNow())
            continue;
        buf.insert(buf.end(), tmp, tmp + n);
        size_t pos = 0;
        while (buf.size() - pos >= 6) {
            const unsigned char* f = buf.data() + pos;
            if (f[0] == 0x5F && f[5] == 0xF5 && f[4] == lrc(f, 4)) {
                handle(f[1], f[2] | (f[3] << 8));
                pos += 6;
            } else {
                ++pos;
            }
        }
        buf.erase(buf.begin(), buf.begin() + static_cast<long>(pos));
    }
}
