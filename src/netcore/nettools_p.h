// Time stamps used inside the network library.
//
// The first two are the program's shared time helpers (wall-clock ms since the
// epoch, and 10 ms ticks for liveness); they are kept here, in the library's
// own namespace, until the foundation library offers them to everyone.
// monotonic_ms() is for ageing and time-outs, which must not jump with the
// wall clock (the operator can set the clock).
#pragma once

#include <QtGlobal>

#include <chrono>
#include <sys/time.h>

namespace nettools {

inline qint64 gettimeofday_ms()
{
    struct timeval tv;
    ::gettimeofday(&tv, nullptr);
    return qint64(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

inline int curtime_qint64_2_int()
{
    return int((gettimeofday_ms() / 10) % 1000000000LL);
}

inline qint64 monotonic_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace nettools
