// Starting a network object's event loop on its own one-thread pool.
#pragma once

#include <QThreadPool>

#include <condition_variable>
#include <mutex>

namespace nettools {

// What a starting loop reports, once, to the thread that started it. Plain
// standard primitives, so that a thread checker sees the hand-over (it does
// not see inside Qt's own semaphores).
class LoopStart {
public:
    // The loop's last touch of this object: the waiting thread may destroy
    // it as soon as the lock is released.
    void report(bool started)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = started;
        done_ = true;
        cv_.notify_one();
    }
    bool wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return done_; });
        return started_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    bool started_ = false;
};

// Runs loop(start) on pool and returns once the loop has reported whether it
// started (start->report, exactly once; `start` lives in this call's frame).
// The loop itself goes on running on the pool's thread.
template <class Loop>
bool startLoopOnPool(QThreadPool& pool, Loop loop)
{
    LoopStart start;
    pool.start([loop, &start]() mutable { loop(&start); });
    return start.wait();
}

}  // namespace nettools
