// The fault-picture writer: empties the fault-picture slots filled by the
// result check and saves them as JPEG files below ./alarmimage.
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

    // Keeps the newest `keep` JPEG files of a folder (keep <= 0 keeps all).
    static void pruneFolder(const QString& dir, int keep);
    static QString folderFor(int camera, int step, bool ok);

protected:
    void run() override;

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> width_[kMaxCamera] = {};
    std::atomic<int> height_[kMaxCamera] = {};
};
