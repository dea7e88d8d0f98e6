#include "judgepool.h"

JudgePool::JudgePool(int threads)
{
    for (int i = 0; i < threads; ++i)
        threads_.emplace_back([this] { work(); });
}

JudgePool::~JudgePool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    jobsCame_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

bool JudgePool::take(std::unique_lock<std::mutex>& lock, int* index)
{
    (void)lock;
    if (!job_ || next_ >= count_)
        return false;
    *index = next_++;
    ++running_;
    return true;
}

void JudgePool::work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        jobsCame_.wait(lock, [this] { return stopping_ || (job_ && next_ < count_); });
        if (stopping_)
            return;
        int i = 0;
        while (take(lock, &i)) {
            const std::function<void(int)>& job = *job_;
            lock.unlock();
            job(i);
            lock.lock();
            if (--running_ == 0 && next_ >= count_)
                jobsDone_.notify_all();
        }
    }
}

void JudgePool::runAll(int count, const std::function<void(int)>& job)
{
    if (count <= 0)
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    job_ = &job;
    next_ = 0;
    count_ = count;
    running_ = 0;
    lock.unlock();
    jobsCame_.notify_all();
    // The calling thread takes jobs too.
    lock.lock();
    int i = 0;
    while (take(lock, &i)) {
        lock.unlock();
        job(i);
        lock.lock();
        --running_;
    }
    jobsDone_.wait(lock, [this] { return running_ == 0; });
    job_ = nullptr;
    count_ = 0;
}
