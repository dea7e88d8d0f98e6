// Starting a network object's event loop on its own one-thread pool.
#pragma once

#include <QThreadPool>

#include <condition_variable>
#include <mutex>

namespace nettools {

// What a starting loop reports once: whether it started. A standard mutex
// and condition rather than Qt's semaphore, so that the race checker sees
// the hand-over of the result.
class LoopStart {
public:
    void report(bool started)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = started;
        reported_ = true;
        reportedCondition_.notify_one();
    }
    bool wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        reportedCondition_.wait(lock, [this] { return reported_; });
        return started_;
    }

private:
    std::mutex mutex_;
    std::condition_variable reportedCondition_;
    bool reported_ = false;
    bool started_ = false;
};

// Runs loop(start) on pool and returns once the loop has reported whether it
// started: it calls start->report exactly once and touches `start` no more
// afterwards (it lives in this call's frame). The loop itself goes on
// running on the pool's thread.
template <class Loop>
bool startLoopOnPool(QThreadPool& pool, Loop loop)
{
    LoopStart start;
    pool.start([loop, &start]() mutable { loop(&start); });
    return start.wait();
}

}  // namespace nettools
