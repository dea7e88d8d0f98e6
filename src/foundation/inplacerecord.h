// A small record kept in a file of fixed size that is rewritten in place, so
// that replacing it needs no free disk space: the file is made at its full
// size once (when there is room, at start-up), and every later write only
// overwrites its own bytes. The file holds two slots, each in a 4 KiB block
// of its own (so that a block torn or zeroed by a power cut on flash takes
// one slot at most), each with a sequence number and a checksum. A record is
// stored into a slot (written into the page cache: a kill keeps it) and
// forced to the disk after, by the writer or by the record's own syncing
// thread, so that a thread that must not wait on the disk can store. At most
// one slot is ever not yet on the disk: a store goes to the older slot once
// the newer one is on the disk, and otherwise overwrites the newer one again,
// so the other slot always holds a whole record the disk has.
// A file as made already holds a whole (empty) record in both slots, so in a
// made file every slot is whole: a slot that is not (a write cut short, a
// zeroed block) means the record was being changed when the power went, and
// what it was changing to is unknown; the file then reads as damaged, never
// as empty and never as the record before. Files of the earlier layout (two
// 512-byte slots in one 1 KiB file, made all zeros: its empty record) are
// read as that version read them, and grown to this layout with the record
// they hold.
#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class InPlaceRecord {
public:
    // Largest record a slot holds.
    static constexpr int kMaxPayload = 480;

    enum class State {
        Missing,   // no file
        Empty,     // the file as made: nothing written yet
        Valid,     // a record (possibly of zero length) was read
        Damaged,   // a file, but not every slot passes its checksum
    };

    explicit InPlaceRecord(const QString& path);
    ~InPlaceRecord();
    InPlaceRecord(const InPlaceRecord&) = delete;
    InPlaceRecord& operator=(const InPlaceRecord&) = delete;

    const QString& path() const { return path_; }

    // Reads the newer of the two records; damaged unless both slots hold a
    // whole one (the earlier layout: see examine() in the source).
    static State read(const QString& path, QByteArray* payload);

    // Makes the file at its full size when it is missing or not of that
    // size (written aside and renamed, so a failure leaves what was there),
    // and opens it for writing in place. A file replaced so reads as it did
    // before: its record, or damaged. True when the file is ready.
    bool prepare();
    // store() and sync(): `payload` into its slot and forced to the disk.
    // False (and logged) when the file is not ready or the write failed.
    bool write(const QByteArray& payload);
    // Writes `payload` into its slot (into both, when one is not whole)
    // without waiting for the disk. `make`: prepare() first (may make the
    // file and sync it); without it, only into the file already open, and
    // false when none is. prepare() and store with `make` are called from
    // one thread; store without it and sync() from any.
    bool store(const QByteArray& payload, bool make = true);
    // Forces what was stored to the disk; true when all of it is there.
    bool sync();
    // Has the record's own thread force what was stored to the disk soon.
    void syncSoon();
    // Whether everything stored is on the disk.
    bool allOnDisk() const;

    // Test seam: runs before every sync of every record (a slow disk).
    static void setSyncSeam(std::function<void()> seam);

private:
    // The record with sequence `seq` into its slot; under mutex_.
    bool writeSlot(quint32 seq, const QByteArray& payload);
    void syncLoop();

    QString path_;
    // Guards what follows; held only for memory and pwrite, never a sync.
    mutable std::mutex mutex_;
    int fd_ = -1;
    quint32 seq_ = 0;   // sequence number of the newest slot written
    bool whole_[2] = {false, false};   // each slot known whole in the file
    // Stores are numbered; those up to synced_ are on the disk. slotGen_:
    // the number of each slot's latest store; epoch_ counts the files opened.
    quint64 stored_ = 0;
    quint64 synced_ = 0;
    quint64 slotGen_[2] = {0, 0};
    quint64 epoch_ = 0;
    // The syncing thread, started at the first syncSoon().
    std::thread syncer_;
    std::condition_variable syncWanted_;
    bool syncDue_ = false;
    bool stopping_ = false;
};
