#include "judgepool.h"

#include <QSemaphore>

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
    QSemaphore done;
    for (int i = 1; i < count; ++i)
        pool_.start([&job, &done, i] {
            job(i);
            done.release();
        });
    job(0);
    // The semaphore's release and acquire order every job's writes before
    // whatever the caller does next.
    done.acquire(count - 1);
}
