// Starting a network object's event loop on its own one-thread pool.
#pragma once

#include <QSemaphore>
#include <QThreadPool>

namespace nettools {

// Runs loop(started, result) on pool and returns once the loop has reported
// whether it started: it sets *result and releases *started exactly once,
// and touches neither afterwards (both live in this call's frame). The loop
// itself goes on running on the pool's thread.
template <class Loop>
bool startLoopOnPool(QThreadPool& pool, Loop loop)
{
    QSemaphore started(0);
    bool result = false;
    pool.start([loop, &started, &result]() mutable { loop(&started, &result); });
    started.acquire();
    return result;
}

}  // namespace nettools
