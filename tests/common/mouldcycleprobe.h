// The moulding cycle's test seam: puts a cycle into a state its operations
// cannot reach quickly (a cycle half decided on given cameras, a step
// decided behind a running pass, a restart's latch file opened afresh).
// Tests and benchmarks only; the program never includes it.
#pragma once

#include "inplacerecord.h"
#include "mouldcycle.h"

#include <algorithm>

struct MouldCycleProbe {
    static void setCountdownActive(MouldCycle& m, int k, bool on) { m.countdownActive_[k] = on; }
    static void setStepOwed(MouldCycle& m, int k, bool on) { m.stepOwed_[k] = on; }
    static void setStepDecided(MouldCycle& m, int k, bool on) { m.stepDecided_[k] = on; }
    static void setStepTrained(MouldCycle& m, int camera, bool on) { m.stepTrained_[camera] = on; }
    static void setUnjudged(MouldCycle& m, int camera, bool on) { m.unjudged_[camera] = on; }
    static void setCameraHold(MouldCycle& m, bool on) { m.cameraHold_ = on; }
    // The input word the next pass compares with (its rising edges).
    static void setLastInputs(MouldCycle& m, int level) { m.lastInputs_ = level; }
    // As a restarted program: the latch file is opened afresh at the next use.
    static void reopenLatchFile(MouldCycle& m) { m.latchRecord_.reset(); }
    // Seconds went by: the next pass tries again to make the latch file.
    static void latchRetryDue(MouldCycle& m) { m.latchRetryNs_ = 0; }
    // The bound of every step in doubt after a gap is over.
    static void doubtsDue(MouldCycle& m) { std::fill(std::begin(m.doubtDueNs_), std::end(m.doubtDueNs_), 0); }
    // The latest two openings came `ms` apart.
    static void setCycleInterval(MouldCycle& m, int ms) { m.cycleInterval_ = ms / 100; }
    // Step k's trigger came `ms` after its opening.
    static void learnDelay(MouldCycle& m, int k, int ms) { m.learnDelay(k, qint64(ms) * 1000000); }
    // Until when step k in doubt is awaited, in ms after the opening.
    static qint64 doubtAfterOpeningMs(const MouldCycle& m, int k) { return (m.doubtDueNs_[k] - m.openedNs_) / 1000000; }
};
