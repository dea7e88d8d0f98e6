#include "diskmanager.h"

#include "platform.h"
#include "workerthread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QThread>

#include <sys/statvfs.h>

DiskManager* DiskManager::_instance = nullptr;

namespace {

QByteArray readSmall(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(1 << 16).trimmed();
}

// What udev and sysfs tell of one block device.
struct BlockProps {
    bool exists = false;
    bool usb = false;
    QString fsUsage, fsType, label, uuid;
};

BlockProps blockProps(const DiskManager::Sources& s, const QString& name)
{
    BlockProps p;
    const QString dir = s.sysBlock + QLatin1Char('/') + name;
    const QByteArray dev = readSmall(dir + QStringLiteral("/dev"));
    if (dev.isEmpty())
        return p;
    p.exists = true;
    QHash<QString, QString> env;
    QFile udev(s.udevData + QStringLiteral("/b") + QString::fromLatin1(dev));
    if (udev.open(QIODevice::ReadOnly)) {
        for (const QByteArray& raw : udev.readAll().split('\n')) {
            if (!raw.startsWith("E:"))
                continue;
            const int eq = raw.indexOf('=');
            if (eq > 2)
                env.insert(QString::fromUtf8(raw.mid(2, eq - 2)), QString::fromUtf8(raw.mid(eq + 1)));
        }
    }
    p.fsUsage = env.value(QStringLiteral("ID_FS_USAGE"));
    p.fsType = env.value(QStringLiteral("ID_FS_TYPE"));
    p.label = env.value(QStringLiteral("ID_FS_LABEL"));
    p.uuid = env.value(QStringLiteral("ID_FS_UUID"));
    p.usb = env.value(QStringLiteral("ID_BUS")) == QLatin1String("usb") ||
            !env.value(QStringLiteral("ID_USB_DRIVER")).isEmpty();
    if (!p.usb) {
        // Without udev: a device below a USB controller, or one the kernel
        // marks removable (a partition carries the mark on its disk).
        const QString real = QFileInfo(dir).canonicalFilePath();
        if (real.contains(QLatin1String("/usb")))
            p.usb = true;
        else if (readSmall(dir + QStringLiteral("/removable")) == "1")
            p.usb = true;
        else if (QFileInfo::exists(dir + QStringLiteral("/partition")) && !real.isEmpty() &&
                 readSmall(QFileInfo(real).path() + QStringLiteral("/removable")) == "1")
            p.usb = true;
    }
    return p;
}

// The block device name ("sdb1") behind a mount source, or empty when the
// source is no device.
QString deviceName(const QString& source)
{
    if (!source.startsWith(QLatin1String("/dev/")))
        return {};
    const QString real = QFileInfo(source).canonicalFilePath();
    return QFileInfo(real.isEmpty() ? source : real).fileName();
}

void fillFromStatvfs(UPanInfo& info)
{
    struct statvfs st;
    if (::statvfs(QFile::encodeName(info.mountPoint).constData(), &st) != 0)
        return;
    info.totalBytes = static_cast<qint64>(st.f_blocks) * static_cast<qint64>(st.f_frsize);
    if (st.f_flag & ST_RDONLY)
        info.readOnly = true;
}

QString unescapeMountField(const QByteArray& field)
{
    // The kernel writes blank, tab, newline and backslash as \040 \011 \012 \134.
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray oct = field.mid(i + 1, 3);
            bool ok = false;
            const int v = oct.toInt(&ok, 8);
            if (ok && v < 256) {
                out.append(static_cast<char>(v));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QString::fromUtf8(out);
}

}  // namespace

DiskManager::DiskManager(QObject* parent)
    : QObject(parent)
{
    const QByteArray folders = qgetenv("VMM_USB_DISK");
    if (!folders.isEmpty())
        sources_.folders = QString::fromLocal8Bit(folders).split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

DiskManager::~DiskManager()
{
    stop();
}

void DiskManager::setSources(const Sources& sources)
{
    QMutexLocker lock(&mutex_);
    sources_ = sources;
}

QVector<DiskManager::MountEntry> DiskManager::parseMounts(const QByteArray& table)
{
    QVector<MountEntry> entries;
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 4)
            continue;
        MountEntry e;
        e.source = unescapeMountField(f[0]);
        e.mountPoint = unescapeMountField(f[1]);
        e.fsType = unescapeMountField(f[2]);
        e.options = QString::fromUtf8(f[3]).split(QLatin1Char(','));
        entries.append(e);
    }
    return entries;
}

QVector<UPanInfo> DiskManager::findDisks(const Sources& s)
{
    QVector<UPanInfo> disks;
    QSet<QString> seen;
    QFile f(s.mounts);
    if (f.open(QIODevice::ReadOnly)) {
        for (const MountEntry& e : parseMounts(f.readAll())) {
            const QString name = deviceName(e.source);
            if (name.isEmpty() || seen.contains(name))
                continue;  // bind mounts of a disk show once, at its first place
            const BlockProps p = blockProps(s, name);
            if (!p.exists || !p.usb)
                continue;
            seen.insert(name);
            UPanInfo info;
            info.device = QStringLiteral("/dev/") + name;
            info.mountPoint = e.mountPoint;
            info.fsType = e.fsType;
            info.label = p.label;
            info.uuid = p.uuid;
            info.readOnly = e.options.contains(QStringLiteral("ro"));
            fillFromStatvfs(info);
            disks.append(info);
        }
    }
    for (const QString& folder : s.folders) {
        const QFileInfo fi(folder);
        if (!fi.isDir())
            continue;
        UPanInfo info;
        info.device = fi.absoluteFilePath();
        info.mountPoint = info.device;
        info.fsType = QStringLiteral("folder");
        fillFromStatvfs(info);
        disks.append(info);
    }
    return disks;
}

void DiskManager::mountNewDevices(const QVector<MountEntry>& mounted)
{
    Sources s;
    {
        QMutexLocker lock(&mutex_);
        s = sources_;
    }
    QSet<QString> mountedNames;
    QSet<QString> mountPoints;
    for (const MountEntry& e : mounted) {
        mountedNames.insert(deviceName(e.source));
        mountPoints.insert(e.mountPoint);
    }
    const QStringList names = QDir(s.sysBlock).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    QSet<QString> present;
    for (const QString& name : names) {
        const BlockProps p = blockProps(s, name);
        if (!p.exists)
            continue;
        present.insert(name);
        if (!p.usb || p.fsUsage != QLatin1String("filesystem") || mountedNames.contains(name) ||
            mountTried_.contains(name))
            continue;
        // Asked once per appearance: off the target the runner only records it.
        mountTried_.insert(name);
        const QString dir = s.mountBase + QLatin1Char('/') + name;
        const QString dev = QStringLiteral("/dev/") + name;
        qInfo("USB disk %s (%s): mounting at %s", qPrintable(dev), qPrintable(p.fsType), qPrintable(dir));
        auto& run = platform::runner();
        if (!run.runOnTarget(QStringLiteral("mkdir"), {QStringLiteral("-p"), dir}).ok() ||
            !run.runOnTarget(QStringLiteral("mount"), {dev, dir}).ok()) {
            qWarning("USB disk %s could not be mounted at %s", qPrintable(dev), qPrintable(dir));
            continue;
        }
        ourMounts_.insert(name, dir);
    }
    // A disk pulled out while mounted: detach what we mounted, so that the
    // next disk finds a free place.
    for (auto it = mountTried_.begin(); it != mountTried_.end();) {
        if (present.contains(*it)) {
            ++it;
            continue;
        }
        const QString dir = ourMounts_.take(*it);
        if (!dir.isEmpty() && mountPoints.contains(dir)) {
            qInfo("USB disk %s is gone: unmounting %s", qPrintable(*it), qPrintable(dir));
            platform::runner().runOnTarget(QStringLiteral("umount"), {QStringLiteral("-l"), dir});
        }
        it = mountTried_.erase(it);
    }
}

bool DiskManager::scanOnce()
{
    QMutexLocker scan(&scanMutex_);
    Sources s;
    {
        QMutexLocker lock(&mutex_);
        s = sources_;
    }
    {
        QFile f(s.mounts);
        mountNewDevices(f.open(QIODevice::ReadOnly) ? parseMounts(f.readAll()) : QVector<MountEntry>{});
    }
    const QVector<UPanInfo> now = findDisks(s);
    const bool first = !scanned_;
    scanned_ = true;
    QVector<UPanInfo> before;
    {
        QMutexLocker lock(&mutex_);
        if (!first && now == disks_)
            return false;
        before = disks_;
        disks_ = now;
    }
    if (first && now.isEmpty())
        return false;  // nothing at start: nothing to tell
    for (const UPanInfo& d : now)
        if (!before.contains(d))
            qInfo("USB disk %s at %s (%s%s)", qPrintable(d.device), qPrintable(d.mountPoint), qPrintable(d.fsType),
                  d.readOnly ? ", read-only" : "");
    for (const UPanInfo& d : before)
        if (!now.contains(d))
            qInfo("USB disk %s at %s is gone", qPrintable(d.device), qPrintable(d.mountPoint));
    emit diskInfoChange(now);
    return true;
}

QVector<UPanInfo> DiskManager::disks() const
{
    QMutexLocker lock(&mutex_);
    return disks_;
}

void DiskManager::start()
{
    if (thread_)
        return;
    stop_ = false;
    thread_ = QThread::create([this] {
        while (!stop_) {
            scanOnce();
            QMutexLocker lock(&waitMutex_);
            if (!stop_)
                wake_.wait(&waitMutex_, static_cast<unsigned long>(periodMs_));
        }
    });
    thread_->setObjectName(QStringLiteral("DiskManager"));
    thread_->start();
}

void DiskManager::stop()
{
    stopWorkerThread(thread_, waitMutex_, wake_, stop_);
}
