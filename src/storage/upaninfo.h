// The description of one USB disk as the disk watcher reports it.
#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

struct UPanInfo {
    QString device;      // block device ("/dev/sdb1"), or the folder standing in for a disk
    QString mountPoint;  // where its file system is reachable
    QString fsType;      // "vfat", "exfat", ...; "folder" for a stand-in folder
    QString label;       // file-system label, empty when unknown
    QString uuid;        // file-system UUID, empty when unknown
    bool readOnly = false;
    qint64 totalBytes = 0;

    bool operator==(const UPanInfo& o) const
    {
        return device == o.device && mountPoint == o.mountPoint && fsType == o.fsType && label == o.label &&
               uuid == o.uuid && readOnly == o.readOnly && totalBytes == o.totalBytes;
    }
    bool operator!=(const UPanInfo& o) const { return !(*this == o); }
};

Q_DECLARE_METATYPE(UPanInfo)
Q_DECLARE_METATYPE(QVector<UPanInfo>)
