// A small record kept in a file of fixed size that is rewritten in place, so
// that replacing it needs no free disk space: the file is made at its full
// size once (when there is room, at start-up), and every later write only
// overwrites its own bytes. The file holds two slots, each in a 4 KiB block
// of its own (so that a block torn or zeroed by a power cut on flash takes
// one slot at most), each with a sequence number and a checksum; a write
// goes to the older slot and is forced to the disk before it returns.
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
    // Writes `payload` into the older slot and forces it to the disk (into
    // both, one after the other, when the other slot is not whole). False
    // (and logged) when the file is not ready or the write failed.
    bool write(const QByteArray& payload);

private:
    // The record with sequence `seq` into its slot, forced to the disk.
    bool writeSlot(quint32 seq, const QByteArray& payload);

    QString path_;
    int fd_ = -1;
    quint32 seq_ = 0;   // sequence number of the newest slot on the disk
    bool whole_[2] = {false, false};   // each slot known whole on the disk
};
