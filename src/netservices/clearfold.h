// The operation record's rows for the counter clears of the HTTP API, at a
// bounded rate however many clients clear and however often.
//
// Every clear is counted in a row, but rows are at least kFoldMs apart: the
// first clear after such a time writes the row "API: 清除计数" at once, and
// starts the time; the clears that come within it, from any address, are
// held and written together as one row "API: 清除计数 ×N" when it is over,
// which starts the next time. So the record gains at most one row per
// kFoldMs from these clears (17,280 a day), plus one at each stop and start.
//
// The held count is kept in RECORD.db beside the rows (table HELDCLEARS),
// written with each clear, and zeroed in the same transaction that writes
// the row holding them: a kill at any instant loses no clear and writes
// none twice; the next start writes what a killed run held.
//
// GUI thread only.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class ClearFold {
public:
    static constexpr int kFoldMs = 5000;

    // Monotonic milliseconds.
    using Clock = std::function<qint64()>;
    // Has due() called after `ms` milliseconds.
    using Arm = std::function<void(int ms)>;

    // Without a clock, the monotonic clock; without `arm`, a timer of its own.
    explicit ClearFold(Clock clock = Clock(), Arm arm = Arm());

    // One clear.
    void add();
    // The time of the last row is looked at (what the timer runs).
    void due();
    // Writes the held clears at once: those of this run, or, at start, those
    // a killed run held.
    void writeHeld();

    // Clears counted and not yet in a row.
    int held();

private:
    void load();
    void arm(int ms);
    void writeRow(int count, bool folded);
    bool storeHeld();

    Clock clock_;
    Arm arm_;
    QTimer timer_;
    bool loaded_ = false;
    bool armed_ = false;
    bool anyRow_ = false;  // a row was written in this run
    qint64 rowMs_ = 0;     // when
    int held_ = 0;
};
