// The fault-picture writer: empties the fault-picture slots filled by the
// result check and saves them as JPEG files below ./alarmimage.
//
// A picture is encoded in memory and written under a temporary name that is
// renamed to the final one only when every byte reached the disk, so a full
// disk or a power cut never leaves an empty or cut picture. A failed write
// leaves no file, is logged, and is neither counted, pruned for nor handed on.
// Before each picture the working folder's disk is checked: while it runs low
// the oldest OK pictures of all folders go first, whatever the keep counts,
// then the oldest NG pictures; the newest NG pictures always stay.
#pragma once

#include "globals.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>

class SaveFialImageThread : public QThread {
    Q_OBJECT
public:
    explicit SaveFialImageThread(QObject* parent = nullptr);
    ~SaveFialImageThread() override;

    // Size of camera c's pictures; a slot of a camera without a size is
    // never read (its buffer length is unknown).
    void setCameraSize(int camera, int width, int height);
    void stop() { stop_ = true; }

    // Called on this thread after each picture was written, with the camera
    // and step index, true for an OK picture, and the file's full path.
    std::function<void(int, int, bool, const QString&)> onSaved;

    // One sweep over all slots; returns the number of pictures written.
    int saveWaiting();

    // Keeps the newest `keep` complete JPEG files of a folder (keep <= 0
    // keeps all); empty files and left-over temporary files are removed and
    // never count as kept pictures.
    static void pruneFolder(const QString& dir, int keep);
    static QString folderFor(int camera, int step, bool ok);

    // The disk counts as low when less than `percent` % of it or less than
    // `bytes` is free (defaults 5 % and 1 GB).
    static void setLowDiskLimits(int percent, qint64 bytes);
    static bool diskLow(const QString& path);
    // While the disk of `root` is low, removes pictures below it (all cameras
    // and steps), logging each: the oldest OK pictures first (those the USB
    // copier does not wait for before those it does), then the oldest NG
    // pictures; the NG pictures of the last day, and never fewer than the
    // newest kKeptNg, always stay. When removing every removable picture would
    // still leave the disk low, only `room` bytes are made free. Pruning stops
    // when a removal frees nothing; that is logged once until the disk is no
    // longer low. Returns how many pictures went.
    static constexpr int kKeptNg = 100;
    static int pruneForSpace(const QString& root = QStringLiteral("./alarmimage"), qint64 room = 0);

protected:
    void run() override;

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> width_[kMaxCamera] = {};
    std::atomic<int> height_[kMaxCamera] = {};
};
