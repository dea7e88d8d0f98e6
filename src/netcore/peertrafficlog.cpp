#include "peertrafficlog.h"

#include "publictools.h"

#include <QDebug>

#include <set>

namespace {

// Every live log, for flushDue. Made by the first log, so it outlives the
// function-local static ones.
struct Registry {
    QMutex mutex;
    std::set<PeerTrafficLog*> logs;
};

Registry& registry()
{
    static Registry r;
    return r;
}

}  // namespace

PeerTrafficLog::PeerTrafficLog(QString kind, qint64 intervalMs, std::function<qint64()> clock)
    : clockMs(clock ? std::move(clock) : [] { return ::monotonic_ms(); }), kind_(std::move(kind)),
      intervalMs_(intervalMs)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.logs.insert(this);
}

PeerTrafficLog::~PeerTrafficLog()
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.logs.erase(this);
}

void PeerTrafficLog::flushDue()
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    for (PeerTrafficLog* log : r.logs)
        log->flushIfDue();
}

void PeerTrafficLog::flushIfDue()
{
    {
        QMutexLocker lock(&mutex_);
        if (pending_ == 0 || clockMs() - windowStart_ < intervalMs_)
            return;
    }
    flush();
}

void PeerTrafficLog::note(const QString& detail)
{
    QString line;
    {
        QMutexLocker lock(&mutex_);
        ++total_;
        const qint64 now = clockMs();
        if (windowOpen_ && now - windowStart_ < intervalMs_) {
            ++pending_;
            lastDetail_ = detail;
            return;
        }
        // A new interval: report the one before (if it counted anything)
        // together with this event, in one line.
        if (pending_ > 0)
            line = QStringLiteral("%1: %2 more in the last %3 s, then: %4")
                       .arg(kind_)
                       .arg(pending_)
                       .arg((now - windowStart_) / 1000)
                       .arg(detail);
        else
            line = detail.isEmpty() ? kind_ : kind_ + QStringLiteral(": ") + detail;
        pending_ = 0;
        lastDetail_.clear();
        windowStart_ = now;
        windowOpen_ = true;
        ++lines_;
    }
    write(line);
}

void PeerTrafficLog::flush()
{
    QString line;
    {
        QMutexLocker lock(&mutex_);
        if (pending_ == 0)
            return;
        line = QStringLiteral("%1: %2 more in the last %3 s, last: %4")
                   .arg(kind_)
                   .arg(pending_)
                   .arg((clockMs() - windowStart_) / 1000)
                   .arg(lastDetail_);
        pending_ = 0;
        lastDetail_.clear();
        windowOpen_ = false;
        ++lines_;
    }
    write(line);
}

quint64 PeerTrafficLog::total() const
{
    QMutexLocker lock(&mutex_);
    return total_;
}

quint64 PeerTrafficLog::lines() const
{
    QMutexLocker lock(&mutex_);
    return lines_;
}

void PeerTrafficLog::write(const QString& line)
{
    qWarning().noquote() << line;
}
