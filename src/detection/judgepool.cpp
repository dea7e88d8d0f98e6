#include "judgepool.h"

JudgePool::JudgePool(int threads)
{
    pool_.setMaxThreadCount(threads < 1 ? 1 : threads);
    // Threads stay: starting them again for every decision would cost more
    // than they save.
    pool_.setExpiryTimeout(-1);
}

JudgePool::~JudgePool()
{
    pool_.waitForDone();
}

void JudgePool::runAll(int count, const std::function<void(int)>& job)
{
    if (count <= 0)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = count - 1;
    }
    for (int i = 1; i < count; ++i)
        pool_.start([this, &job, i] {
            job(i);
            std::lock_guard<std::mutex> lock(mutex_);
            if (--running_ == 0)
                finished_.notify_one();
        });
    job(0);
    // Every job's writes happen before whatever the caller does next.
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return running_ == 0; });
}
