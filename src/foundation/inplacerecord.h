// A small record kept in a file of fixed size that is rewritten in place, so
// that replacing it needs no free disk space: the file is made at its full
// size once (when there is room, at start-up), and every later write only
// overwrites its own bytes. The file holds two slots, each with a sequence
// number and a checksum; a write goes to the older slot and is forced to the
// disk before it returns, so a write cut short by a power cut or a kill
// leaves the previous record readable.
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
        Damaged,   // a file, but no slot that passes its checksum
    };

    explicit InPlaceRecord(const QString& path);
    ~InPlaceRecord();
    InPlaceRecord(const InPlaceRecord&) = delete;
    InPlaceRecord& operator=(const InPlaceRecord&) = delete;

    const QString& path() const { return path_; }

    // Reads the newest record whose checksum holds.
    static State read(const QString& path, QByteArray* payload);

    // Makes the file at its full size when it is missing or not of that
    // size (written aside and renamed, so a failure leaves what was there),
    // and opens it for writing in place. True when the file is ready.
    bool prepare();
    // Writes `payload` into the older slot and forces it to the disk. False
    // (and logged) when the file is not ready or the write failed.
    bool write(const QByteArray& payload);

private:
    QString path_;
    int fd_ = -1;
    quint32 seq_ = 0;   // sequence number of the newest slot on the disk
};
