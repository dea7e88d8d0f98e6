// Logging of what network peers send, at a bounded rate.
//
// A peer decides how often an event of its traffic happens (a datagram, an
// unasked request, a failed connect); the log must not follow it. Each kind
// of event has one PeerTrafficLog: the first event after a quiet interval is
// logged at once, the ones after it only counted, and the count goes out as
// one line when the interval has passed and the next event comes (or when
// flush() is called, or flushDue() finds the interval over). So a flood
// writes one line per kind per interval, whatever its rate. Every line that a
// peer or a device decides the rate of goes through one of these. Safe to
// call from any thread.
#pragma once

#include <QMutex>
#include <QString>

#include <functional>

class PeerTrafficLog {
public:
    static constexpr qint64 kIntervalMs = 10000;

    // `clock`: monotonic milliseconds; empty for the process's own.
    explicit PeerTrafficLog(QString kind, qint64 intervalMs = kIntervalMs, std::function<qint64()> clock = {});
    ~PeerTrafficLog();
    PeerTrafficLog(const PeerTrafficLog&) = delete;
    PeerTrafficLog& operator=(const PeerTrafficLog&) = delete;

    // Writes the count of every log whose interval is over with events not
    // yet reported (the network loops call it once a second), so the count
    // of a flood that stopped is not held back until the next event.
    static void flushDue();

    // Counts one event; `detail` describes it and is logged with the line
    // that event's interval writes, if any.
    void note(const QString& detail = QString());
    // Writes the count of events not reported yet, if any.
    void flush();

    // Events counted since this object was made.
    quint64 total() const;
    // Lines written so far.
    quint64 lines() const;

    // Monotonic milliseconds; tests replace it.
    std::function<qint64()> clockMs;

private:
    void write(const QString& line);
    void flushIfDue();

    const QString kind_;
    const qint64 intervalMs_;
    mutable QMutex mutex_;
    qint64 windowStart_ = 0;
    bool windowOpen_ = false;
    quint64 pending_ = 0;   // counted in this interval, not yet reported
    quint64 total_ = 0;
    quint64 lines_ = 0;
    QString lastDetail_;
};
