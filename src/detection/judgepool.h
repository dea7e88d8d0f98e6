// Runs the judgements of the cameras of one step at the same time.
//
// One job per camera: the calling thread does the first one itself, threads
// of a pool of its own do the others, and runAll returns when every job has
// finished. The caller (the GUI thread) therefore sees every result exactly
// as if the jobs had run one after the other, and decides afterwards.
//
// A job may touch only what belongs to its camera (its view's buffers and its
// engine); what it reads elsewhere (parameter words, globals) must not change
// while runAll waits, which holds because the only writer is the waiting GUI
// thread. Jobs make no GUI calls. A job must not throw.
#pragma once

#include <QThreadPool>

#include <condition_variable>
#include <functional>
#include <mutex>

class JudgePool {
public:
    // threads: the most jobs that run beside the calling thread.
    explicit JudgePool(int threads);
    ~JudgePool();
    JudgePool(const JudgePool&) = delete;
    JudgePool& operator=(const JudgePool&) = delete;

    // job(0) .. job(count - 1), at once; returns when all have finished.
    void runAll(int count, const std::function<void(int)>& job);

private:
    QThreadPool pool_;
    // The jobs still running; a standard mutex and condition (not Qt's
    // semaphore) so that the race checker sees the hand-back.
    std::mutex mutex_;
    std::condition_variable finished_;
    int running_ = 0;
};
