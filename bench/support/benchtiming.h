// What the small benchmarks share: a mean time over a fixed span, and the
// result line with its anchor, ratio and target.
#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

#include <cstdio>
#include <functional>

namespace benchtiming {

// Mean milliseconds of `job` over runs filling `seconds`.
inline double measure(double seconds, const std::function<void()>& job)
{
    QElapsedTimer t;
    t.start();
    qint64 n = 0;
    while (t.nsecsElapsed() < qint64(seconds * 1e9)) {
        job();
        ++n;
    }
    return double(t.nsecsElapsed()) / 1e6 / double(qMax<qint64>(1, n));
}

inline void report(const char* what, double ours, double anchor, const char* anchorName, double target)
{
    std::printf("%-44s %8.3f ms   anchor (%s) %8.3f ms   ratio %6.1f   target < %.0f ms: %s\n", what, ours, anchorName,
                anchor, anchor > 0 ? ours / anchor : 0.0, target, ours < target ? "met" : "MISSED");
}

}  // namespace benchtiming
