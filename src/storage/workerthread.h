#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

// Stops a storage worker thread that sleeps on wake under waitMutex: raises
// stop, wakes the thread, waits for it to end and deletes it. Does nothing
// when no thread runs.
inline void stopWorkerThread(QThread*& thread, QMutex& waitMutex, QWaitCondition& wake, std::atomic<bool>& stop)
{
    if (!thread)
        return;
    {
        QMutexLocker lock(&waitMutex);
        stop = true;
        wake.wakeAll();
    }
    thread->wait();
    delete thread;
    thread = nullptr;
}
