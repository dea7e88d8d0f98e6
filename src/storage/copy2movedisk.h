// The USB picture copier: copies every saved fault picture to the USB disk,
// into monitor_<device id>/<yyyy-MM-dd>/, and keeps only the newest day
// folders there. The local picture is never touched: a copy that fails
// (disk full, read-only or pulled out) stays queued and is tried again later.
// It runs on a thread of its own; its queue is bounded and drained in order.
// The names still waiting are kept in a journal in the working folder
// (replaced whole at every change), so that a restart, after a kill as after
// a clean stop, copies them.
#pragma once

#include "upaninfo.h"

#include <QDate>
#include <QMutex>
#include <QObject>
#include <QQueue>
#include <QStringList>
#include <QVector>
#include <QWaitCondition>

#include <atomic>
#include <functional>

class QThread;

class Copy2MoveDisk : public QObject {
    Q_OBJECT
public:
    static Copy2MoveDisk* getInstance();

    explicit Copy2MoveDisk(QObject* parent = nullptr);
    ~Copy2MoveDisk() override;

    // Day folders kept on the disk (system parameter word 213); below 1 keeps all.
    std::atomic<int> keepDays{31};

    // Accepts pictures from now on and starts the worker thread; with
    // `worker` false pictures are copied only by copyPending() (tests,
    // benchmarks). A second call does nothing.
    void start(bool worker = true);
    void stop();
    // Takes no more pictures until the next start(); those queued are still
    // copied. Never waits for a copy in progress.
    void pause() { started_ = false; }
    bool isStarted() const { return started_; }

    // The device identity in the folder name; gDeviceID when not set.
    void setDeviceId(const QString& id);
    void setQueueLimit(int n);
    void setRetryMs(int ms) { retryMs_ = ms; }
    // The journal of waiting names; set before start(), which queues the
    // names it holds (those whose local picture still exists) first.
    void setJournal(const QString& path);
    // Writes the journal when the queue changed since it was last written
    // (the worker does it after every change). False when it could not be.
    bool saveJournal();

    // Queues a saved picture (only once started). Its copy is named
    // `diskName` inside the folder of today's date.
    void addFile(const QString& localPath, const QString& diskName);
    // Local paths still waiting, oldest first.
    QStringList pending() const;
    // Names dropped because the queue was full.
    int dropped() const { return dropped_; }

    // One pass on the caller's thread: copies waiting pictures in order until
    // the queue is empty, no writable disk is known, or a copy fails.
    // Returns the number copied.
    int copyPending();
    // Writes the copies of the last passes out to the disk, which the
    // operator may pull soon after. The worker does it when the pictures
    // pause and at least every 5 s while they keep coming.
    void flushDisk();

    // Removes the oldest day folders of `root` so that `keep` remain; the
    // folder `current` is never removed. Folders whose name is no date stay.
    static void pruneDays(const QString& root, int keep, const QString& current);

    // Called after each block written during a copy (tests pull the disk here).
    std::function<void()> afterBlock;

public slots:
    // The disk watcher's list; the first writable disk receives the copies.
    void SlotDiskInfoChange(QVector<UPanInfo> disks);

private:
    struct Item {
        quint64 seq;
        QString localPath;
        QString diskName;
        QDate day;
    };
    enum class Result { Copied, SourceGone, Failed };
    Result copyOne(const Item& item, const UPanInfo& disk, const QString& id, QString* error);
    bool targetDisk(UPanInfo* disk);
    void kick();

    static Copy2MoveDisk* _instance;
    void loadJournal();

    mutable QMutex mutex_;  // queue, disks, settings
    QQueue<Item> queue_;
    quint64 nextSeq_ = 0;
    int queueLimit_ = 10000;
    std::atomic<int> dropped_{0};
    QVector<UPanInfo> disks_;
    QString deviceId_;
    bool disksChanged_ = false;
    QString readOnlyWarned_;
    QString journal_;
    bool journalDirty_ = false;
    bool journalFailing_ = false;   // its failure was logged

    QMutex journalMutex_;  // one journal write at a time

    QMutex passMutex_;  // one copy pass at a time
    QString preparedDay_;  // day folder made (and pruned around) in this pass chain
    QString failingWith_;  // the error of the last failed copy, logged once
    QString unflushed_;    // a folder on the disk written since the last flush

    std::atomic<bool> lastFailed_{false};
    std::atomic<bool> retryNow_{false};   // the disks changed: try at once
    std::atomic<bool> started_{false};
    std::atomic<bool> stop_{false};
    bool journalLoaded_ = false;   // the journal is queued at the first start only
    std::atomic<int> retryMs_{2000};
    QThread* thread_ = nullptr;
    QMutex waitMutex_;
    QWaitCondition wake_;
    bool kicked_ = false;
};
