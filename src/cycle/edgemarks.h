// The marks of input edges the board's thread held on the wire before any
// pass of the cycle took them, and the record file they go into with the
// cycle's own record. The board's thread marks an edge the moment it holds
// it (mark); the cycle writes its record with the marks not yet taken
// (write), takes the edges in its pass and drops their marks once what it
// holds for them is on disk (taking, dropTaken); a restart holds the marks
// of the previous run again (restore).
//
// Both threads write the same file; the board's thread never waits for the
// cycle's writes. Whoever writes holds the file until it has written the
// newest state: a mark that comes while the cycle writes is written by the
// cycle before it lets the file go, and a record the cycle asks for while
// the board's thread writes waits for that one write. The store only puts
// the record into the file (the page cache, which a kill keeps); forcing it
// to the disk is the caller's, after it let the file go.
#pragma once

#include <QByteArray>

#include <condition_variable>
#include <functional>
#include <mutex>

class EdgeMarks {
public:
    static constexpr int kInputs = 10;

    // Puts `text` into the record file; `fromBoard` when the board's thread
    // writes (the file must already be open: no disk wait there).
    using Store = std::function<bool(const QByteArray& text, bool fromBoard)>;
    explicit EdgeMarks(Store store);
    EdgeMarks(const EdgeMarks&) = delete;
    EdgeMarks& operator=(const EdgeMarks&) = delete;

    // ---- The board's thread
    // Edges `edges` (and the levels `found` at the board's first report),
    // edge number `seq`, held on the wire. Marked and written unless a pass
    // has taken that edge or the file takes no marks. True when the record
    // with the mark is in the file, or the writer holding it will put it
    // there before it lets go.
    bool mark(int edges, int found, quint64 seq);

    // ---- The cycle's thread
    // Writes the cycle's record `body` (empty: nothing held) with the marks
    // not yet taken, added to `base` (the record marks go with when the body
    // is empty). Waits only for a write of the board's thread in progress.
    // The store's result; the file takes marks from now on when true.
    bool write(const QByteArray& body, const QByteArray& base);
    // Whether the file takes marks, and the record they are added to.
    void setReady(bool ready, const QByteArray& base);
    // No marks any more (detection stops); `base` as above.
    void clear(const QByteArray& base);
    // The running pass takes the edges and levels of `inputs`.
    void taking(int inputs);
    // After the pass: the marks of the inputs it took, for edges up to
    // `takenSeq`, are off; edges up to it are recorded (a later mark of one
    // of them is stale). True when some mark went (the record is due).
    bool dropTaken(quint64 takenSeq);
    // A restart found marks of the previous run: marked again, and given to
    // the first pass (takeRestored) as edges of that pass.
    void restore(int edges, int found);
    int restoredInputs() const;
    void takeRestored(int* edges, int* found);

    int markedEdges() const;
    int markedFound() const;
    // The record's lines of the marks ("edge=", "found=").
    QByteArray lines() const;

private:
    QByteArray linesLocked() const;
    // The record the file should hold now, with its time.
    QByteArray composeLocked() const;
    // Writes until the file holds the newest state, then lets the file go.
    bool drain(std::unique_lock<std::mutex>& lock, bool fromBoard);

    Store store_;
    mutable std::mutex mutex_;   // memory only, never held over a store
    std::condition_variable idle_;
    bool writing_ = false;       // a thread holds the file
    quint64 version_ = 0;        // the state's changes that go to the file
    quint64 written_ = 0;        // ... and the latest one stored
    QByteArray body_;
    QByteArray base_;
    bool ready_ = false;
    int edges_ = 0;              // inputs whose edge is on disk as a mark only
    int found_ = 0;              // ... found at their level at the first report
    quint64 seq_[kInputs] = {};  // the latest edge marked per input
    quint64 recordedSeq_ = 0;    // edges up to this one are in the record
    int taking_ = 0;             // inputs whose marks the running pass takes
    int restoredEdges_ = 0;      // marks of the previous run, for the first pass
    int restoredFound_ = 0;
};
