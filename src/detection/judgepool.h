// Runs the judgements of the cameras of one step at the same time.
//
// One job per camera: threads of a pool of its own and the calling thread
// take the jobs, and runAll returns when every job has finished. The caller
// (the GUI thread) therefore sees every result exactly as if the jobs had
// run one after the other, and decides afterwards.
//
// A job may touch only what belongs to its camera (its view's buffers and its
// engine); what it reads elsewhere (parameter words, globals) must not change
// while runAll waits, which holds because the only writer is the waiting GUI
// thread. Jobs make no GUI calls. A job must not throw.
//
// Standard threads, mutex and conditions rather than Qt's: the race checker
// sees every hand-over.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class JudgePool {
public:
    // threads: the most jobs that run beside the calling thread.
    explicit JudgePool(int threads);
    ~JudgePool();
    JudgePool(const JudgePool&) = delete;
    JudgePool& operator=(const JudgePool&) = delete;

    // job(0) .. job(count - 1), at once; returns when all have finished.
    // Called from one thread at a time.
    void runAll(int count, const std::function<void(int)>& job);

private:
    void work();
    // Takes the next job under the lock; false when none is left.
    bool take(std::unique_lock<std::mutex>& lock, int* index);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable jobsCame_;
    std::condition_variable jobsDone_;
    const std::function<void(int)>* job_ = nullptr;
    int next_ = 0;      // index of the next job to take
    int count_ = 0;     // jobs of this round
    int running_ = 0;   // jobs taken and not finished
    bool stopping_ = false;
};
