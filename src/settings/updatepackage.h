// The software update from a USB disk.
//
// An update package is a file at the top of a USB disk named
// "vmm-update-<version>.tar.gz", ".tar" or ".rar" (the archive kinds of
// `package`), <version> being one to four dot-separated numbers. It holds one
// top folder "vmm-update-<version>/" and in it exactly:
//     vmm                     the program
//     Plugins/Cameras/*.so    the camera plug-ins, at least one
//     SHA256SUMS              optional, sha256sum's format, paths relative to
//                             the top folder; when present it must list every
//                             other file and every line must match
// Anything else makes it a foreign archive.
//
// The running files are the working folder's "vmm" and "Plugins/Cameras/":
// what the machine (and run.sh) start again after the reboot. The update
// works in two folders beside the working folder <dir>/<name>:
// <dir>/<name>-update (staging) and <dir>/<name>-rollback (the files the last
// update replaced, kept for one roll-back, with their version in VERSION).
//
// prepare() copies the package from the disk, lists it (every member's size
// against kMaxPackageBytes and against the free space the working disk must
// keep, kKeepFree, before anything is unpacked), unpacks and checks it (the
// new program must answer "--dry-start" with the package's version and load
// every plug-in; it runs as an unprivileged user, see platform::runConfined);
// it never touches the working folder. install() then swaps the running files.
// Both block: run them off the GUI thread. Every external program they run and
// the checksum pass have a bounded wait.
//
// The swap survives a kill or a power cut at any moment: before it changes
// anything it writes a journal, "swap.journal" in the staging folder, and it
// forces every step to disk before the next. The plug-ins go first, the
// program last, by one rename over the old one: that rename is the swap's
// commit. The working folder thus always holds a "vmm" (run.sh always finds
// one), and recover(), which the program runs first at every start, finishes
// the swap when the new program is in place (that is the one then running)
// and undoes it when the old one still is.
#pragma once

#include "upaninfo.h"

#include <QHash>
#include <QString>
#include <QVector>

#include <functional>

class UpdatePackage {
public:
    // Why an update was refused; None = done. Each has an operator text.
    enum Result {
        None,
        NoPackage,      // no update package on any disk
        NotLaidOut,     // the program does not run as the working folder's "vmm"
        DiskPulled,     // the disk went away or its file could not be read whole
        NoSpace,        // the staging folder's file system is full
        Broken,         // the archive does not unpack (damaged, truncated)
        Foreign,        // not an update package of this program
        NotRunnable,    // the new program does not answer its dry start
        BadChecksum,    // SHA256SUMS does not match
        WriteFailed,    // staging or the swap of the running files failed
        TooLarge,       // the unpacked package would exceed kMaxPackageBytes or the free space
        Interrupted,    // an interrupted swap could not be recovered: its journal (journalPath()) blocks every
                        // update until it is removed
    };

    // The most a package may unpack to, all members together.
    static constexpr qint64 kMaxPackageBytes = qint64(1) << 30;
    // What the working disk (latch, counters, record, pictures) must keep
    // free after the package is unpacked beside it.
    static constexpr qint64 kKeepFree = qint64(64) << 20;
    // The most of the dry start's output that is read.
    static constexpr int kMaxDryStartOutput = 4096;

    struct Found {
        QString path;     // the archive on the disk
        QString version;  // from its name
        QString kind;     // "gz", "tar" or "rar"
        bool isValid() const { return !path.isEmpty(); }
    };

    // The version and kind a package file name carries; false when the name
    // is not one of a package.
    static bool parseName(const QString& fileName, QString* version, QString* kind);
    // Orders dot-separated version numbers (-1, 0, 1); missing parts count 0.
    static int compareVersions(const QString& a, const QString& b);
    // The package with the highest version at the top of the disks (the
    // first disk's when two carry the same version); invalid when none.
    static Found find(const QVector<UPanInfo>& disks);

    // The operator text row of a result (0 for None); Interrupted's takes
    // the journal's path as %1.
    static int messageRow(Result r);

    // Whether `program` is the working folder's "vmm" (the update replaces
    // only a program that runs laid out in its working folder).
    static bool runsFrom(const QString& workDir, const QString& program);
    // The running program's file; QCoreApplication's by default. Tests that
    // play the program in a working folder replace it.
    static std::function<QString()> runningProgram;

    // Finishes or undoes a swap of `workDir`'s running files that a kill or
    // power cut interrupted (see above); when there was none, only drops what
    // an update left beside the working folder. Runs before anything of the
    // program is loaded; false when the journal could not be carried out
    // (logged). Nothing beside the working folder is followed through a link:
    // a link (or a file) where the staging or the new roll-back folder would
    // be is removed itself, and the journal is read only from a regular file,
    // without waiting. A journal that cannot be read, or whose swap left
    // anything but real folders and files where it renames, is refused: the
    // running files are left as they are, and every update is refused
    // (Interrupted) until someone removes the journal.
    static bool recover(const QString& workDir);
    // Called before every change of the swap and of its recovery with what
    // it is about to do. Tests end the process there, as a kill would.
    static std::function<void(const QString&)> beforeSwapStep;

    explicit UpdatePackage(const QString& workDir);

    QString workDir() const { return work_; }
    QString stagingDir() const;
    QString rollbackDir() const;
    // The swap's journal (in the staging folder).
    QString journalPath() const;
    // The checked top folder inside staging after a successful prepare().
    QString stagedDir() const { return staged_; }
    // What the refusal was about, for the log.
    QString detail() const { return detail_; }

    Result prepare(const Found& package);
    Result install(const QString& runningVersion);
    // Removes the staging folder.
    void discard();

    // Called after every piece of the copy with the bytes copied so far.
    std::function<void(qint64)> onCopied;
    // Free bytes where `path` lies; QStorageInfo by default.
    std::function<qint64(const QString&)> freeSpace;
    // Bounds of the external programs and of the checksum pass, in ms.
    int unpackTimeoutMs = 300000;
    int dryStartTimeoutMs = 120000;
    int checksumTimeoutMs = 300000;

private:
    Result copyArchive(const Found& package, QString* copy);
    Result unpack(const Found& package, const QString& archive);
    Result listArchive(const Found& package, const QString& archive, const QString& tool);
    Result checkTree(const QString& top);
    Result checkSums(const QString& top);
    Result dryStart(const QString& top, const QString& version);
    Result fail(Result r, const QString& why);

    QString work_;
    QString staged_;
    QString detail_;
    QHash<QString, qint64> listed_;   // member sizes by path relative to the top folder
};
