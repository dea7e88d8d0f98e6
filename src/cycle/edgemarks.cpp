#include "edgemarks.h"

#include <QDateTime>

#include <algorithm>

EdgeMarks::EdgeMarks(Store store)
    : store_(std::move(store))
{
}

bool EdgeMarks::mark(int edges, int found, quint64 seq)
{
    edges &= (1 << kInputs) - 1;
    found &= (1 << kInputs) - 1;
    if (!(edges | found))
        return false;
    std::unique_lock<std::mutex> lock(mutex_);
    // A pass that took the edge has recorded what it holds for it.
    if (!ready_ || (seq > 0 && seq <= recordedSeq_))
        return false;
    for (int i = 0; i < kInputs; ++i)
        if (((edges | found) >> i) & 1)
            seq_[i] = seq;
    edges_ |= edges;
    found_ = (found_ | found) & ~edges_;
    ++version_;
    // The writer holding the file writes this state too before it lets go.
    if (writing_)
        return true;
    writing_ = true;
    return drain(lock, true);
}

bool EdgeMarks::write(const QByteArray& body, const QByteArray& base)
{
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !writing_; });
    writing_ = true;
    body_ = body;
    base_ = base;
    ++version_;
    const bool ok = drain(lock, false);
    ready_ = ok;
    return ok;
}

bool EdgeMarks::drain(std::unique_lock<std::mutex>& lock, bool fromBoard)
{
    bool ok = true;
    while (written_ != version_) {
        const quint64 v = version_;
        const QByteArray text = composeLocked();
        lock.unlock();
        ok = store_(text, fromBoard);
        lock.lock();
        // A failed store is its writer's to report; the marks stay, and the
        // cycle's next record carries them.
        written_ = v;
    }
    writing_ = false;
    idle_.notify_all();
    return ok;
}

void EdgeMarks::setReady(bool ready, const QByteArray& base)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ready_ = ready;
    base_ = base;
}

void EdgeMarks::clear(const QByteArray& base)
{
    std::lock_guard<std::mutex> lock(mutex_);
    edges_ = found_ = 0;
    base_ = base;
}

void EdgeMarks::taking(int inputs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    taking_ = inputs;
}

bool EdgeMarks::dropTaken(quint64 takenSeq)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bool dropped = false;
    for (int i = 0; i < kInputs; ++i)
        if (((taking_ >> i) & 1) && seq_[i] <= takenSeq && (((edges_ | found_) >> i) & 1)) {
            edges_ &= ~(1 << i);
            found_ &= ~(1 << i);
            dropped = true;
        }
    recordedSeq_ = std::max(recordedSeq_, takenSeq);
    taking_ = 0;
    return dropped;
}

void EdgeMarks::restore(int edges, int found)
{
    std::lock_guard<std::mutex> lock(mutex_);
    restoredEdges_ = edges_ = edges & ((1 << kInputs) - 1);
    restoredFound_ = found_ = found & ((1 << kInputs) - 1);
    std::fill(std::begin(seq_), std::end(seq_), 0);
}

int EdgeMarks::restoredInputs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return restoredEdges_ | restoredFound_;
}

void EdgeMarks::takeRestored(int* edges, int* found)
{
    std::lock_guard<std::mutex> lock(mutex_);
    *edges = restoredEdges_;
    *found = restoredFound_;
    restoredEdges_ = restoredFound_ = 0;
}

int EdgeMarks::markedEdges() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return edges_;
}

int EdgeMarks::markedFound() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return found_;
}

QByteArray EdgeMarks::lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return linesLocked();
}

QByteArray EdgeMarks::linesLocked() const
{
    QByteArray lines;
    if (edges_)
        lines += "edge=" + QByteArray::number(edges_) + '\n';
    if (found_)
        lines += "found=" + QByteArray::number(found_) + '\n';
    return lines;
}

QByteArray EdgeMarks::composeLocked() const
{
    // The edges on the wire that no pass has taken yet stay marked.
    QByteArray text = (edges_ | found_) ? base_ + linesLocked() : body_;
    if (!text.isEmpty())
        text += "time=" + QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + '\n';
    return text;
}
