// The disk watcher against made-up mount tables, sysfs and udev trees, and a
// folder standing in for a disk.
#include "diskmanager.h"
#include "platform.h"
#include "storagetypes.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void put(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// One block device: its sysfs folder (below `real`, linked from class/block)
// and, when given, its udev record.
void blockDevice(const QString& root, const QString& name, const QString& real, const QByteArray& dev,
                 const QByteArray& udev, const QByteArray& removable = {})
{
    const QString dir = root + QStringLiteral("/sys/devices/") + real;
    put(dir + QStringLiteral("/dev"), dev + '\n');
    if (!removable.isEmpty())
        put(dir + QStringLiteral("/removable"), removable + '\n');
    QDir().mkpath(root + QStringLiteral("/sys/class/block"));
    QFile::link(dir, root + QStringLiteral("/sys/class/block/") + name);
    if (!udev.isEmpty())
        put(root + QStringLiteral("/udev/b") + QString::fromLatin1(dev), udev);
}

DiskManager::Sources sourcesIn(const QString& root)
{
    DiskManager::Sources s;
    s.mounts = root + QStringLiteral("/mounts");
    s.sysBlock = root + QStringLiteral("/sys/class/block");
    s.udevData = root + QStringLiteral("/udev");
    s.mountBase = root + QStringLiteral("/media");
    return s;
}

}  // namespace

class TestDiskManager : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("VMM_TARGET", "0");
        registerStorageTypes();
    }

    void findsOnlyRemovableDisks()
    {
        QTemporaryDir tmp;
        const QString r = tmp.path();
        // sdb: USB stick known to udev; sdc: below a USB controller, no udev;
        // sdd: removable card reader (the mark sits on the disk, not on the
        // partition); sda: the system disk.
        blockDevice(r, "sdb1", "pci0/usb1/1-1/host6/block/sdb/sdb1", "8:17",
                    "E:ID_BUS=usb\nE:ID_FS_TYPE=vfat\nE:ID_FS_LABEL=KINGSTON\nE:ID_FS_UUID=12AB-34CD\n");
        blockDevice(r, "sdc1", "pci0/usb2/2-1/host7/block/sdc/sdc1", "8:33", {});
        blockDevice(r, "sdd", "pci0/ata3/block/sdd", "8:48", {}, "1");
        blockDevice(r, "sdd1", "pci0/ata3/block/sdd/sdd1", "8:49", {});
        put(r + "/sys/devices/pci0/ata3/block/sdd/sdd1/partition", "1\n");
        blockDevice(r, "sda2", "pci0/ata1/block/sda/sda2", "8:2", "E:ID_BUS=ata\nE:ID_FS_TYPE=ext4\n", "0");
        put(r + "/mounts",
            "/dev/sda2 / ext4 rw,relatime 0 0\n"
            "tmpfs /run tmpfs rw,nosuid 0 0\n"
            "/dev/sdb1 /media/usb\\040stick vfat rw,relatime,fmask=0022 0 0\n"
            "/dev/sdc1 /mnt/c exfat ro,relatime 0 0\n"
            "/dev/sdb1 /srv/bound vfat rw,relatime 0 0\n"
            "/dev/sdd1 /mnt/d ext4 rw 0 0\n"
            "garbage\n");
        // The file-system size is 0 here: the mount points do not exist.
        const QVector<UPanInfo> expected{
            {"/dev/sdb1", "/media/usb stick", "vfat", "KINGSTON", "12AB-34CD", false, 0},
            {"/dev/sdc1", "/mnt/c", "exfat", "", "", true, 0},
            {"/dev/sdd1", "/mnt/d", "ext4", "", "", false, 0}};
        QCOMPARE(DiskManager::findDisks(sourcesIn(r)), expected);
    }

    void folderDiskComesAndGoes()
    {
        QTemporaryDir tmp;
        DiskManager::Sources s = sourcesIn(tmp.path());
        put(s.mounts, "");
        const QString folder = tmp.filePath("stick");
        s.folders = QStringList{folder};
        DiskManager dm;
        dm.setSources(s);
        dm.setPeriodMs(5);
        QSignalSpy spy(&dm, &DiskManager::diskInfoChange);
        dm.start();
        QVERIFY(QDir().mkpath(folder));
        QTRY_COMPARE(spy.size(), 1);
        const auto added = spy.at(0).at(0).value<QVector<UPanInfo>>();
        QCOMPARE(added.size(), 1);
        QCOMPARE(added[0].mountPoint, folder);
        QCOMPARE(added[0].fsType, QString("folder"));
        QVERIFY(added[0].totalBytes > 0);
        QCOMPARE(dm.disks(), added);
        QVERIFY(QDir(folder).removeRecursively());
        QTRY_COMPARE(spy.size(), 2);
        QVERIFY(spy.at(1).at(0).value<QVector<UPanInfo>>().isEmpty());
        dm.stop();
        QCOMPARE(spy.size(), 2);  // nothing changed in between: nothing told
    }

    void mountsNewUsbFileSystemsOnce()
    {
        QTemporaryDir tmp;
        const QString r = tmp.path();
        const DiskManager::Sources s = sourcesIn(r);
        blockDevice(r, "sdz1", "pci0/usb1/block/sdz/sdz1", "8:161", "E:ID_BUS=usb\nE:ID_FS_USAGE=filesystem\nE:ID_FS_TYPE=vfat\n");
        blockDevice(r, "sdy", "pci0/usb1/block/sdy", "8:144", "E:ID_BUS=usb\nE:ID_PART_TABLE_TYPE=dos\n");
        put(s.mounts, "");
        platform::runner().clearRecorded();
        DiskManager dm;
        dm.setSources(s);
        QVERIFY(!dm.scanOnce());
        const QString dir = s.mountBase + "/sdz1";
        QCOMPARE(platform::runner().recorded(), (QStringList{"mkdir -p " + dir, "mount /dev/sdz1 " + dir}));
        // Mounted now (the target would have done it): the disk shows, no
        // second mount is asked for.
        put(s.mounts, QStringLiteral("/dev/sdz1 %1 vfat rw 0 0\n").arg(dir).toUtf8());
        QVERIFY(dm.scanOnce());
        QCOMPARE(dm.disks().size(), 1);
        QCOMPARE(platform::runner().recorded().size(), 2);
        // Pulled out while mounted: detached, and gone from the list.
        QFile::remove(r + "/sys/class/block/sdz1");
        platform::runner().clearRecorded();
        QVERIFY(dm.scanOnce());
        QCOMPARE(platform::runner().recorded(), QStringList{"umount -l " + dir});
        QVERIFY(dm.disks().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDiskManager)
#include "tst_diskmanager.moc"
