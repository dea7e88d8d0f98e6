// The production counters, with one owner.
//
// Per camera: parts judged and NG parts, cycles judged and NG cycles; over all
// cameras: NG decisions and NG cycles. The cycle counts them, count.ini keeps
// them, and each face that may reset them says by its own operation what it
// clears, because the faces clear different things on purpose (the Modbus
// view shows only the part counts it resets). GUI thread only: other threads
// read the counters through the published API snapshot.
#pragma once

#include "globals.h"

#include <array>

class QByteArray;
class QSettings;

struct CounterValues {
    std::array<int, kMaxCamera> all{};        // parts judged, per camera
    std::array<int, kMaxCamera> fail{};       // NG parts, per camera
    std::array<int, kMaxCamera> allCycle{};   // cycles judged, per camera
    std::array<int, kMaxCamera> failCycle{};  // cycles with an NG, per camera
    int syncNg = 0;                           // NG decisions over all cameras
    int syncNgCycle = 0;                      // NG cycles over all cameras

    bool operator==(const CounterValues& o) const;
    bool operator!=(const CounterValues& o) const { return !(*this == o); }
};

class ProductionCounters
{
public:
    static ProductionCounters& get();

    const CounterValues& values() const { return v_; }

    // The cycle's counting.
    void countPart(int camera, bool ng);
    void countNgDecision() { ++v_.syncNg; }
    void countCycle(int camera, bool ng);
    void countNgCycle() { ++v_.syncNgCycle; }

    // What each face clears. The HTTP API's reset and the settings' Reset
    // Count clear everything; Modbus register 4 clears only the part counts
    // (parts judged and NG parts per camera): its NG register and the cycle
    // counts stay.
    void resetFromApi() { clearAll(); }
    void resetFromSettings() { clearAll(); }
    void resetFromModbus();

    // count.ini: what a restart takes up again. A missing, negative or
    // unreadable number loads as 0.
    void load(const QSettings& ini);
    // The file's whole text, for a writer that replaces it in one step.
    QByteArray iniText() const;

    // Start-up and tests set the values whole.
    void restore(const CounterValues& v) { v_ = v; }

private:
    void clearAll() { v_ = CounterValues{}; }

    CounterValues v_;
};
