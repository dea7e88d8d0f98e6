// The USB disk watcher: finds the removable disks in the kernel's mount table
// (with the device properties udev and sysfs give), on the target computer
// mounts USB file systems that nothing has mounted, and reports the list of
// disks whenever it changes. It runs on a thread of its own.
#pragma once

#include "upaninfo.h"

#include <QMutex>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVector>
#include <QWaitCondition>

#include <atomic>

class QThread;

class DiskManager : public QObject {
    Q_OBJECT
public:
    // The watcher `main` creates; never destroyed.
    static DiskManager* _instance;

    // Where the watcher reads the machine. Tests point these at a made-up tree.
    struct Sources {
        QString mounts = QStringLiteral("/proc/self/mounts");
        QString sysBlock = QStringLiteral("/sys/class/block");
        QString udevData = QStringLiteral("/run/udev/data");
        // Where the watcher mounts a USB file system on the target.
        QString mountBase = QStringLiteral("/media/vmm");
        // Folders treated as disks while they exist (the demo's stand-in for a
        // USB disk); taken from VMM_USB_DISK (':'-separated) by default.
        QStringList folders;
    };

    explicit DiskManager(QObject* parent = nullptr);
    ~DiskManager() override;

    // Set before start().
    void setSources(const Sources& sources);
    void setPeriodMs(int ms) { periodMs_ = ms; }

    // Starts the watcher thread; a second call does nothing.
    void start();
    void stop();

    // The disks of the last scan.
    QVector<UPanInfo> disks() const;

    // One scan on the caller's thread: mounts what is new (on the target),
    // reads the disks and emits diskInfoChange when the list changed.
    // Returns whether it changed.
    bool scanOnce();

    // The removable disks the sources show, in mount-table order, then the
    // stand-in folders that exist.
    static QVector<UPanInfo> findDisks(const Sources& sources);

    // One mount-table line split into its fields, octal escapes resolved.
    struct MountEntry {
        QString source, mountPoint, fsType;
        QStringList options;
    };
    static QVector<MountEntry> parseMounts(const QByteArray& table);

signals:
    void diskInfoChange(QVector<UPanInfo> disks);

private:
    void mountNewDevices(const QVector<MountEntry>& mounted);

    Sources sources_;
    int periodMs_ = 50;
    mutable QMutex mutex_;  // sources_ and disks_
    QVector<UPanInfo> disks_;
    // One scan at a time; it guards the rest (a mount may take a while, and
    // readers of disks() must not wait for it).
    QMutex scanMutex_;
    bool scanned_ = false;
    // Devices a mount was asked for in this appearance, and what we mounted.
    QSet<QString> mountTried_;
    QHash<QString, QString> ourMounts_;  // device name -> mount point

    QThread* thread_ = nullptr;
    std::atomic<bool> stop_{false};
    QMutex waitMutex_;
    QWaitCondition wake_;
};
