#include "updatepackage.h"

#include "globals.h"
#include "platform.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <memory>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kCopyPiece = 1 << 20;
constexpr qint64 kMaxSumsFile = 1 << 20;
const QString kProgram = QStringLiteral("vmm");
const QString kPluginDir = QStringLiteral("Plugins/Cameras");
const QString kSums = QStringLiteral("SHA256SUMS");

// The file name ending of each archive kind, in the order of `package`.
QString suffixOf(const QString& kind)
{
    if (kind == package[0])
        return QStringLiteral(".tar.gz");
    if (kind == package[1])
        return QStringLiteral(".tar");
    return QStringLiteral(".rar");
}

QString topName(const QString& version) { return QStringLiteral("vmm-update-") + version; }

bool isPluginName(const QString& rel)
{
    static const QRegularExpression re(QStringLiteral("^Plugins/Cameras/[A-Za-z0-9._+-]+\\.so$"));
    return re.match(rel).hasMatch();
}

// The files a package may hold, relative to its top folder.
bool allowedFile(const QString& rel) { return rel == kProgram || rel == kSums || isPluginName(rel); }
bool allowedDir(const QString& rel) { return rel == QLatin1String("Plugins") || rel == kPluginDir; }

// Runs `program` with a bounded wait; false when it did not start, did not
// end in time (it is killed) or ended abnormally.
bool runBounded(const QString& program, const QStringList& args, const QString& dir, int timeoutMs,
                int* exitCode, QByteArray* out, QByteArray* err)
{
    QProcess p;
    if (!dir.isEmpty())
        p.setWorkingDirectory(dir);
    // Listings and messages in the one form this code reads.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        *err = p.errorString().toUtf8();
        return false;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        *err = "timed out";
        return false;
    }
    *out = p.readAllStandardOutput();
    *err = p.readAllStandardError();
    *exitCode = p.exitCode();
    return p.exitStatus() == QProcess::NormalExit;
}

// Whether every folder down to `path` may be passed by any user.
bool openToOthers(const QString& path)
{
    for (QString p = QFileInfo(path).absoluteFilePath();; p = QFileInfo(p).path()) {
        struct stat st {};
        if (::stat(QFile::encodeName(p).constData(), &st) != 0 || !(st.st_mode & S_IXOTH))
            return false;
        if (p == QLatin1String("/"))
            return true;
    }
}

dev_t deviceOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_dev : dev_t(-1);
}

// What lies at a path beside the working folder, the link itself where one
// lies (nothing there is followed through a link: the program runs as root
// and anyone may have put it there).
enum class Kind { Missing, Folder, File, Other };

Kind kindOf(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? Kind::Missing : Kind::Other;
    return S_ISDIR(st.st_mode) ? Kind::Folder : S_ISREG(st.st_mode) ? Kind::File : Kind::Other;
}

// What lies at `path`, for the log.
QString describe(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("a link to ") + QFile::symLinkTarget(path);
    return S_ISDIR(st.st_mode) ? QStringLiteral("a folder")
                               : S_ISREG(st.st_mode) ? QStringLiteral("a file") : QStringLiteral("a special file");
}

// Removes everything below the open folder `fd` (which it closes), never
// through a link (a link is removed as it is) and never into another file
// system (a mount below is left, and the removal fails).
bool removeBelow(int fd, dev_t device)
{
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    while (const struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = ok && errno == ENOENT;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            ok = (::unlinkat(::dirfd(dir), e->d_name, 0) == 0 || errno == ENOENT) && ok;
            continue;
        }
        if (st.st_dev != device) {
            ok = false;
            continue;
        }
        const int sub = ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ok = sub >= 0 && removeBelow(sub, device) && ::unlinkat(::dirfd(dir), e->d_name, AT_REMOVEDIR) == 0 && ok;
    }
    ::closedir(dir);
    return ok;
}

// Removes `path` and all below it, never following a link: a link there is
// removed itself, what it points to is left (logged, since the update never
// makes one). True when nothing is left.
bool removeTree(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) {
        qWarning("update: %s is %s, not a folder of the update: removed without following it", name.constData(),
                 qPrintable(describe(path)));
        return ::unlink(name.constData()) == 0 || errno == ENOENT;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || !removeBelow(fd, st.st_dev) || ::rmdir(name.constData()) != 0) {
        qWarning("update: cannot remove all of %s", name.constData());
        return false;
    }
    return true;
}

// The first line of the swap's journal, read only from a regular file and
// without waiting (a FIFO or a device there would block the start); empty
// when it is not one or cannot be read.
QString readJournal(const QString& path, QString* why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ELOOP ? describe(path) : QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }
    struct stat st {};
    QByteArray line(64, '\0');
    ssize_t n = -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        *why = QStringLiteral("not a regular file");
    else if ((n = ::read(fd, line.data(), size_t(line.size()))) < 0)
        *why = QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    if (n <= 0)
        return QString();
    line.truncate(int(n));
    return QString::fromUtf8(line.left(line.indexOf('\n'))).trimmed();
}

}  // namespace

std::function<QString()> UpdatePackage::runningProgram = [] { return QCoreApplication::applicationFilePath(); };

bool UpdatePackage::parseName(const QString& fileName, QString* version, QString* kind)
{
    static const QRegularExpression re(QStringLiteral("^vmm-update-(\\d{1,9}(?:\\.\\d{1,9}){0,3})(\\.tar\\.gz|\\.tar|\\.rar)$"));
    const QRegularExpressionMatch m = re.match(fileName);
    if (!m.hasMatch())
        return false;
    for (int k = 0; k < 3; ++k)
        if (suffixOf(package[k]) == m.captured(2)) {
            if (version)
                *version = m.captured(1);
            if (kind)
                *kind = package[k];
            return true;
        }
    return false;
}

int UpdatePackage::compareVersions(const QString& a, const QString& b)
{
    const QStringList pa = a.split(QLatin1Char('.')), pb = b.split(QLatin1Char('.'));
    for (int i = 0; i < qMax(pa.size(), pb.size()); ++i) {
        const qlonglong x = i < pa.size() ? pa[i].toLongLong() : 0;
        const qlonglong y = i < pb.size() ? pb[i].toLongLong() : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

UpdatePackage::Found UpdatePackage::find(const QVector<UPanInfo>& disks)
{
    Found best;
    for (const UPanInfo& disk : disks) {
        const QFileInfoList files =
            QDir(disk.mountPoint).entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Readable, QDir::Name);
        for (const QFileInfo& f : files) {
            Found c;
            if (!parseName(f.fileName(), &c.version, &c.kind))
                continue;
            c.path = f.absoluteFilePath();
            if (!best.isValid() || compareVersions(c.version, best.version) > 0)
                best = c;
        }
    }
    return best;
}

int UpdatePackage::messageRow(Result r)
{
    switch (r) {
    case None: return 0;
    case NoPackage: return 694;
    case NotLaidOut: return 695;
    case DiskPulled: return 696;
    case NoSpace: return 697;
    case Broken: return 698;
    case Foreign: return 699;
    case NotRunnable: return 700;
    case BadChecksum: return 701;
    case WriteFailed: return 702;
    case TooLarge: return 714;
    case Interrupted: return 718;
    }
    return 702;
}

bool UpdatePackage::runsFrom(const QString& workDir, const QString& program)
{
    const QString running = QFileInfo(program).canonicalFilePath();
    return !running.isEmpty() && running == QFileInfo(QDir(workDir).filePath(kProgram)).canonicalFilePath();
}

UpdatePackage::UpdatePackage(const QString& workDir)
    : work_(QDir(workDir).absolutePath())
{
    freeSpace = [](const QString& path) { return QStorageInfo(path).bytesAvailable(); };
}

QString UpdatePackage::stagingDir() const { return work_ + QStringLiteral("-update"); }
QString UpdatePackage::rollbackDir() const { return work_ + QStringLiteral("-rollback"); }

UpdatePackage::Result UpdatePackage::fail(Result r, const QString& why)
{
    detail_ = why;
    qWarning("update refused (%d): %s", int(r), qPrintable(why));
    return r;
}

void UpdatePackage::discard()
{
    removeTree(stagingDir());
    staged_.clear();
}

UpdatePackage::Result UpdatePackage::prepare(const Found& package)
{
    staged_.clear();
    detail_.clear();
    if (!package.isValid())
        return fail(NoPackage, QStringLiteral("no package"));
    // A swap a kill interrupted is carried out before its staging goes.
    if (!recover(work_))
        return fail(Interrupted, QStringLiteral("an interrupted update of %1 could not be recovered: %2 blocks it")
                                     .arg(work_, journalPath()));
    discard();
    // Made here, now: whatever lay there before is gone.
    const QByteArray staging = QFile::encodeName(stagingDir());
    if (::mkdir(staging.constData(), 0755) != 0 || kindOf(stagingDir()) != Kind::Folder ||
        ::chmod(staging.constData(), 0755) != 0)
        return fail(WriteFailed, QStringLiteral("cannot make %1: %2").arg(stagingDir(),
                                                                          QString::fromLocal8Bit(std::strerror(errno))));
    QString archive;
    Result r = copyArchive(package, &archive);
    if (r == None && deviceOf(stagingDir()) != deviceOf(work_))
        r = fail(WriteFailed, QStringLiteral("%1 and %2 lie on different file systems").arg(stagingDir(), work_));
    if (r == None)
        r = unpack(package, archive);
    QFile::remove(archive);
    const QString top = QDir(stagingDir()).filePath(topName(package.version));
    if (r == None)
        r = checkTree(top);
    if (r == None)
        r = checkSums(top);
    if (r == None)
        r = dryStart(top, package.version);
    if (r != None) {
        discard();
        return r;
    }
    staged_ = top;
    qInfo("update %s from %s unpacked and checked", qPrintable(package.version), qPrintable(package.path));
    return None;
}

UpdatePackage::Result UpdatePackage::copyArchive(const Found& package, QString* copy)
{
    QFile src(package.path);
    if (!src.open(QIODevice::ReadOnly))
        return fail(DiskPulled, QStringLiteral("cannot open %1: %2").arg(package.path, src.errorString()));
    const qint64 size = src.size();
    *copy = QDir(stagingDir()).filePath(QStringLiteral("package") + suffixOf(package.kind));
    if (freeSpace(stagingDir()) - size < kKeepFree)
        return fail(NoSpace, QStringLiteral("%1 bytes needed in %2").arg(size).arg(stagingDir()));
    QFile dst(*copy);
    if (!dst.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(WriteFailed, QStringLiteral("cannot write %1: %2").arg(*copy, dst.errorString()));
    QByteArray piece;
    qint64 copied = 0;
    while (copied < size) {
        piece = src.read(qMin(kCopyPiece, size - copied));
        // A disk pulled out reads as an error or as a file that ends early.
        if (piece.isEmpty())
            return fail(DiskPulled, QStringLiteral("%1 ended after %2 of %3 bytes: %4")
                                        .arg(package.path).arg(copied).arg(size).arg(src.errorString()));
        if (dst.write(piece) != piece.size()) {
            const bool full = freeSpace(stagingDir()) < piece.size();
            return fail(full ? NoSpace : WriteFailed, QStringLiteral("writing %1: %2").arg(*copy, dst.errorString()));
        }
        copied += piece.size();
        if (onCopied)
            onCopied(copied);
        if (!QFileInfo::exists(package.path))
            return fail(DiskPulled, QStringLiteral("%1 gone while copying").arg(package.path));
    }
    if (!dst.flush() || ::fsync(dst.handle()) != 0) {
        const bool full = freeSpace(stagingDir()) <= 0;
        return fail(full ? NoSpace : WriteFailed, QStringLiteral("writing %1: %2").arg(*copy, dst.errorString()));
    }
    return None;
}

UpdatePackage::Result UpdatePackage::listArchive(const Found& package, const QString& archive, const QString& tool)
{
    int code = -1;
    QByteArray out, err;
    if (!runBounded(tool, {QStringLiteral("--numeric-owner"), QStringLiteral("-tvf"), archive}, QString(),
                    unpackTimeoutMs, &code, &out, &err) ||
        code != 0)
        return fail(Broken, QStringLiteral("%1 -tvf: %2").arg(tool, QString::fromLocal8Bit(err).trimmed()));
    // GNU tar: mode, owner/group, size, date, time, name; bsdtar: mode,
    // links, owner, group, size, month, day, time or year, name. Names that
    // hold blanks or need quoting are none of a package's.
    const bool gnu = tool == QLatin1String("tar");
    const int fixedFields = gnu ? 5 : 8;
    const int sizeField = gnu ? 2 : 4;
    const QString top = topName(package.version);
    listed_.clear();
    qint64 total = 0;
    for (const QByteArray& raw : out.split('\n')) {
        const QStringList fields = QString::fromUtf8(raw).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        if (fields.size() <= fixedFields)
            return fail(Broken, QStringLiteral("%1 lists \"%2\"").arg(tool, QString::fromUtf8(raw)));
        QString name = fields.mid(fixedFields).join(QLatin1Char(' '));
        while (name.startsWith(QLatin1String("./")))
            name.remove(0, 2);
        while (name.endsWith(QLatin1Char('/')))
            name.chop(1);
        // Only plain files and folders: links, devices and pipes could
        // reach outside the package.
        const QChar type = fields[0].at(0);
        if ((name.isEmpty() || name == QLatin1String(".") || name == top) && type == QLatin1Char('d'))
            continue;
        const QString rel = name.startsWith(top + QLatin1Char('/')) ? name.mid(top.size() + 1) : QString();
        const bool file = type == QLatin1Char('-') && allowedFile(rel);
        if (rel.isEmpty() || !(file || (type == QLatin1Char('d') && allowedDir(rel))))
            return fail(Foreign, QStringLiteral("member %1 does not belong in %2").arg(name, top));
        if (!file)
            continue;
        bool number = false;
        const qint64 size = fields[sizeField].toLongLong(&number);
        if (!number || size < 0)
            return fail(Broken, QStringLiteral("%1 lists %2 with size \"%3\"").arg(tool, name, fields[sizeField]));
        if (listed_.contains(rel))
            return fail(Foreign, QStringLiteral("member %1 given twice").arg(name));
        listed_.insert(rel, size);
        // Sizes as listed: a sparse or highly compressed member counts whole.
        if (size > kMaxPackageBytes || (total += size) > kMaxPackageBytes)
            return fail(TooLarge, QStringLiteral("%1 bytes and more unpacked, at most %2 allowed")
                                      .arg(qMax(size, total)).arg(kMaxPackageBytes));
    }
    if (!listed_.contains(kProgram))
        return fail(Foreign, QStringLiteral("no %1/%2 in the archive").arg(top, kProgram));
    const qint64 free = freeSpace(work_);
    if (free - total < kKeepFree)
        return fail(TooLarge, QStringLiteral("%1 bytes unpacked would leave %2 of %3 free bytes on the disk of %4, "
                                             "which must keep %5")
                                  .arg(total).arg(free - total).arg(free).arg(work_).arg(kKeepFree));
    return None;
}

UpdatePackage::Result UpdatePackage::unpack(const Found& package, const QString& archive)
{
    const bool rar = package.kind == QLatin1String("rar");
    const QString tool = rar ? QStringLiteral("bsdtar") : QStringLiteral("tar");
    // The members first: a foreign or oversized archive is refused before
    // anything of it is written.
    const Result listing = listArchive(package, archive, tool);
    if (listing != None)
        return listing;
    int code = -1;
    QByteArray out, err;
    const QStringList args = rar ? QStringList{QStringLiteral("-xof"), archive, QStringLiteral("-C"), stagingDir()}
                                 : QStringList{QStringLiteral("--no-same-owner"), QStringLiteral("-xf"), archive,
                                               QStringLiteral("-C"), stagingDir()};
    if (!runBounded(tool, args, QString(), unpackTimeoutMs, &code, &out, &err) || code != 0) {
        const QString why = QString::fromLocal8Bit(err).trimmed();
        const bool full = why.contains(QLatin1String("No space left on device")) || freeSpace(work_) < kKeepFree;
        return fail(full ? NoSpace : Broken, QStringLiteral("%1 -x: %2").arg(tool, why));
    }
    return None;
}

UpdatePackage::Result UpdatePackage::checkTree(const QString& top)
{
    if (!QFileInfo(top).isDir())
        return fail(Foreign, QStringLiteral("%1 missing after unpacking").arg(top));
    int plugins = 0;
    QDirIterator it(top, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    const QFile::Permissions runnable = readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    while (it.hasNext()) {
        const QFileInfo f(it.next());
        const QString rel = QDir(top).relativeFilePath(f.filePath());
        // Links and special files could reach outside the package.
        const bool ok = !f.isSymLink() && ((f.isDir() && allowedDir(rel)) || (f.isFile() && allowedFile(rel)));
        if (!ok)
            return fail(Foreign, QStringLiteral("%1 does not belong in the package").arg(rel));
        if (f.isFile() && f.size() != listed_.value(rel, -1))
            return fail(Broken, QStringLiteral("%1 unpacked to %2 bytes, listed with %3")
                                    .arg(rel).arg(f.size()).arg(listed_.value(rel, -1)));
        // The archive's modes are not taken over: the dry start's user must
        // be able to read the package, nobody else to change it.
        QFile::setPermissions(f.filePath(), f.isDir() || rel == kProgram ? runnable : readable);
        plugins += isPluginName(rel) ? 1 : 0;
    }
    const QFileInfo program(QDir(top).filePath(kProgram));
    if (!program.isFile() || program.size() == 0 || plugins == 0)
        return fail(Foreign, QStringLiteral("the package lacks the program or its plug-ins"));
    QFile::setPermissions(top, runnable);
    return None;
}

UpdatePackage::Result UpdatePackage::checkSums(const QString& top)
{
    QFile sums(QDir(top).filePath(kSums));
    if (!sums.exists())
        return None;
    if (sums.size() > kMaxSumsFile || !sums.open(QIODevice::ReadOnly))
        return fail(BadChecksum, QStringLiteral("%1 unreadable").arg(kSums));
    QSet<QString> files;
    QDirIterator it(top, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = QDir(top).relativeFilePath(it.next());
        if (rel != kSums)
            files.insert(rel);
    }
    const QDeadlineTimer deadline(checksumTimeoutMs);
    static const QRegularExpression line(QStringLiteral("^([0-9a-fA-F]{64}) [ *](?:\\./)?(.+)$"));
    QSet<QString> listed;
    for (const QByteArray& raw : sums.readAll().split('\n')) {
        const QString text = QString::fromUtf8(raw).trimmed();
        if (text.isEmpty())
            continue;
        const QRegularExpressionMatch m = line.match(text);
        if (!m.hasMatch() || !files.contains(m.captured(2)) || listed.contains(m.captured(2)))
            return fail(BadChecksum, QStringLiteral("%1: bad line \"%2\"").arg(kSums, text));
        // No more than the archive listed for the file (checkTree saw it
        // unpack to that), and no longer than the pass may take.
        QFile f(QDir(top).filePath(m.captured(2)));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        qint64 left = listed_.value(m.captured(2), 0);
        bool read = f.open(QIODevice::ReadOnly);
        while (read && left > 0) {
            if (deadline.hasExpired())
                return fail(BadChecksum, QStringLiteral("the checksums took longer than %1 ms").arg(checksumTimeoutMs));
            const QByteArray piece = f.read(qMin(left, kCopyPiece));
            read = !piece.isEmpty();
            hash.addData(piece);
            left -= piece.size();
        }
        if (!read || hash.result().toHex() != m.captured(1).toLower().toLatin1())
            return fail(BadChecksum, QStringLiteral("%1 does not match its checksum").arg(m.captured(2)));
        listed.insert(m.captured(2));
    }
    if (listed != files)
        return fail(BadChecksum, QStringLiteral("%1 does not list every file").arg(kSums));
    return None;
}

UpdatePackage::Result UpdatePackage::dryStart(const QString& top, const QString& version)
{
    // The new program finds its plug-ins by its own full path. Run by root as
    // an unprivileged user, it could not follow that path through a folder
    // closed to others (a working folder below /root): then it starts from a
    // copy of the package in a folder of its own under the temporary folder.
    QString where = top;
    std::unique_ptr<QTemporaryDir> copy;
    if (::geteuid() == 0 && !openToOthers(top)) {
        qint64 total = 0;
        for (const qint64 size : qAsConst(listed_))
            total += size;
        copy.reset(new QTemporaryDir(QDir::tempPath() + QStringLiteral("/vmm-dry-start-XXXXXX")));
        if (!copy->isValid() || freeSpace(copy->path()) - total < kKeepFree)
            return fail(NoSpace, QStringLiteral("no room for a copy of the package in %1").arg(QDir::tempPath()));
        where = copy->path();
        const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        const QFile::Permissions runnable = readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        bool copied = QDir(where).mkpath(kPluginDir) && QFile::setPermissions(where, runnable) &&
                      QFile::setPermissions(QDir(where).filePath(QStringLiteral("Plugins")), runnable) &&
                      QFile::setPermissions(QDir(where).filePath(kPluginDir), runnable);
        for (auto it = listed_.constBegin(); copied && it != listed_.constEnd(); ++it)
            copied = it.key() == kSums ||
                     (QFile::copy(QDir(top).filePath(it.key()), QDir(where).filePath(it.key())) &&
                      QFile::setPermissions(QDir(where).filePath(it.key()), it.key() == kProgram ? runnable : readable));
        if (!copied)
            return fail(NoSpace, QStringLiteral("cannot copy the package to %1").arg(where));
    }
    // The package's program is not trusted yet: it runs confined, started
    // inside its folder, and only the start of its answer is read.
    const platform::ConfinedResult r = platform::runConfined(where, QStringLiteral("./") + kProgram,
                                                             {QStringLiteral("--dry-start")}, dryStartTimeoutMs,
                                                             kMaxDryStartOutput);
    // What it ran under, as far as its keeper reported it: a keeper that
    // was lost reported nothing, and nothing is claimed then.
    if (r.reported)
        qInfo("update: dry start of %s/%s as %s, %s, %s, %s", qPrintable(where), qPrintable(kProgram),
              qPrintable(r.user), r.ownPids ? "in a PID namespace of its own" : "under a subreaper",
              r.noNetwork ? "without the network" : "with the network",
              r.noDisplay ? "without the displays" : "with the displays' sockets");
    else if (r.leftEnded >= 0)
        qWarning("update: dry start of %s/%s: its keeper reported nothing; its guard ended the %d %s it left",
                 qPrintable(where), qPrintable(kProgram), r.leftEnded, platform::processes(r.leftEnded));
    else
        qWarning("update: dry start of %s/%s: neither its keeper nor the keeper's guard reported", qPrintable(where),
                 qPrintable(kProgram));
    // For the log: what it said, in short.
    const QString said = (QString::fromLocal8Bit(r.out) + QLatin1Char(' ') + QString::fromLocal8Bit(r.err))
                             .simplified()
                             .left(400);
    if (!r.ok() || r.cutShort)
        return fail(NotRunnable, QStringLiteral("%1/%2 --dry-start (exit %3%4%5%6): %7")
                                     .arg(top, kProgram).arg(r.exitCode)
                                     .arg(r.timedOut ? QStringLiteral(", timed out") : QString(),
                                          r.cutShort ? QStringLiteral(", printed too much") : QString(),
                                          r.reported ? QString() : QStringLiteral(", its keeper lost"), said));
    const QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty() || lines.first().trimmed() != QStringLiteral("vmm ") + version)
        return fail(Foreign, QStringLiteral("the program answers \"%1\", the package is named %2")
                                 .arg(lines.value(0).trimmed(), version));
    const QStringList plugins = QDir(QDir(top).filePath(kPluginDir)).entryList({QStringLiteral("*.so")}, QDir::Files);
    for (const QString& p : plugins)
        if (!lines.contains(QStringLiteral("plugin %1 ok").arg(p)))
            return fail(NotRunnable, QStringLiteral("plug-in %1 not loaded by the new program: %2").arg(p, said));
    return None;
}

namespace {

// The swap of the running files, step by step, each forced to disk before the
// next, so that after a power cut the disk holds the state after some step:
//   begin   the staged package and the new roll-back folder (with VERSION)
//           on disk, then the journal (written whole, by rename);
//   apply   the old program hard-linked into the new roll-back folder, the
//           old plug-ins moved there, the new plug-ins moved in, and last the
//           new program renamed over the old one: the commit;
//   finish  the new roll-back folder replaces the old one, the journal and
//           the staging folder go;
//   undo    (before the commit) the plug-ins moved back, the new roll-back
//           folder, the journal and the staging folder go.
// Every step of finish and undo looks at what is where first, so that either
// may be interrupted and run again.
class Swap {
public:
    Swap(const QString& work, const QString& stagedName)
        : work_(work), update_(work + QStringLiteral("-update")), staged_(update_ + QLatin1Char('/') + stagedName),
          rollback_(work + QStringLiteral("-rollback")), fresh_(rollback_ + QStringLiteral(".new")),
          journal_(journalOf(work)), name_(stagedName)
    {
    }

    static QString journalOf(const QString& work) { return work + QStringLiteral("-update/swap.journal"); }
    static QString freshOf(const QString& work) { return work + QStringLiteral("-rollback.new"); }

    QString why;

    bool committed() const { return !exists(staged_ + QLatin1Char('/') + kProgram); }

    // Whether what the journal's recovery renames and moves is what the swap
    // made: the staged folder a real folder inside the staging folder, the
    // new roll-back folder one beside the working folder (or gone), their
    // folders real folders and their files regular files (or gone). A link
    // or anything else there is not followed: the recovery is refused.
    bool trusted()
    {
        const struct {
            QString path;
            bool folder;
            bool mayLack;
        } expected[] = {
            {staged_, true, false},
            {path(staged_, QStringLiteral("Plugins")), true, true},
            {path(staged_, kPluginDir), true, true},
            {path(staged_, kProgram), false, true},
            {fresh_, true, true},
            {path(fresh_, QStringLiteral("Plugins")), true, true},
            {path(fresh_, kPluginDir), true, true},
            {path(fresh_, kProgram), false, true},
        };
        for (const auto& e : expected) {
            const Kind k = kindOf(e.path);
            if (k == (e.folder ? Kind::Folder : Kind::File) || (k == Kind::Missing && e.mayLack))
                continue;
            why = QStringLiteral("%1 is %2, not the %3 the swap made")
                      .arg(e.path, describe(e.path),
                           e.folder ? QStringLiteral("folder") : QStringLiteral("file"));
            return false;
        }
        return true;
    }

    bool begin(const QString& runningVersion)
    {
        const QString fresh = fresh_ + QLatin1Char('/');
        if (!syncTree(staged_) || !sync(update_) || !removeTree(fresh_) || !makeDir(fresh_) ||
            !makeDir(fresh + QStringLiteral("Plugins")) ||
            !writeWhole(fresh + QStringLiteral("VERSION"), runningVersion.toUtf8() + '\n') ||
            !sync(fresh + QStringLiteral("Plugins")) || !sync(fresh_) || !sync(parentOf(work_)))
            return false;
        if (!exists(path(work_, QStringLiteral("Plugins"))) &&
            (!makeDir(path(work_, QStringLiteral("Plugins"))) || !sync(work_)))
            return false;
        const QString temporary = journal_ + QStringLiteral(".tmp");
        return writeWhole(temporary, name_.toUtf8() + '\n') && move(temporary, journal_) && sync(update_);
    }

    bool apply()
    {
        const QString program = path(work_, kProgram), plugins = path(work_, kPluginDir);
        const QString workPlugins = path(work_, QStringLiteral("Plugins"));
        const QString freshPlugins = path(fresh_, QStringLiteral("Plugins"));
        step(QStringLiteral("link ") + program);
        if (::link(QFile::encodeName(program).constData(), QFile::encodeName(path(fresh_, kProgram)).constData()) != 0)
            return failed(QStringLiteral("link %1 into %2").arg(program, fresh_));
        if (!sync(fresh_))
            return false;
        if (exists(plugins) && (!move(plugins, path(fresh_, kPluginDir)) || !sync(workPlugins) || !sync(freshPlugins)))
            return false;
        return move(path(staged_, kPluginDir), plugins) && sync(path(staged_, QStringLiteral("Plugins"))) &&
               sync(workPlugins) && move(path(staged_, kProgram), program) && sync(staged_) && sync(work_);
    }

    bool finish()
    {
        if (exists(fresh_) && (!removeTree(rollback_) || !move(fresh_, rollback_) || !sync(parentOf(work_))))
            return false;
        return remove(journal_) && sync(update_) && removeTree(update_);
    }

    bool undo()
    {
        const QString plugins = path(work_, kPluginDir), staged = path(staged_, kPluginDir);
        const QString kept = path(fresh_, kPluginDir);
        const QString workPlugins = path(work_, QStringLiteral("Plugins"));
        if (!exists(staged) && exists(plugins) &&
            (!move(plugins, staged) || !sync(workPlugins) || !sync(path(staged_, QStringLiteral("Plugins")))))
            return false;
        if (!exists(plugins) && exists(kept) &&
            (!move(kept, plugins) || !sync(path(fresh_, QStringLiteral("Plugins"))) || !sync(workPlugins)))
            return false;
        return removeTree(fresh_) && sync(parentOf(work_)) && remove(journal_) && sync(update_) &&
               removeTree(update_);
    }

private:
    static QString path(const QString& dir, const QString& rel) { return dir + QLatin1Char('/') + rel; }
    static QString parentOf(const QString& p) { return QFileInfo(p).absolutePath(); }
    static bool exists(const QString& p)
    {
        struct stat st {};
        return ::lstat(QFile::encodeName(p).constData(), &st) == 0;
    }

    bool failed(const QString& what)
    {
        why = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Where a test ends the process as a kill would.
    static void step(const QString& what)
    {
        if (UpdatePackage::beforeSwapStep)
            UpdatePackage::beforeSwapStep(what);
    }
    bool sync(const QString& p)
    {
        step(QStringLiteral("fsync ") + p);
        const int fd = ::open(QFile::encodeName(p).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const bool ok = fd >= 0 && ::fsync(fd) == 0;
        if (!ok)
            failed(QStringLiteral("fsync %1").arg(p));
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    bool syncTree(const QString& dir)
    {
        QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            if (!sync(it.next()))
                return false;
        return sync(dir);
    }
    bool move(const QString& from, const QString& to)
    {
        step(QStringLiteral("rename %1 %2").arg(from, to));
        return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 ||
               failed(QStringLiteral("rename %1 -> %2").arg(from, to));
    }
    bool remove(const QString& p)
    {
        step(QStringLiteral("remove ") + p);
        return ::unlink(QFile::encodeName(p).constData()) == 0 || errno == ENOENT ||
               failed(QStringLiteral("remove %1").arg(p));
    }
    bool removeTree(const QString& dir)
    {
        step(QStringLiteral("remove ") + dir);
        if (::removeTree(dir))
            return true;
        why = QStringLiteral("cannot remove %1").arg(dir);
        return false;
    }
    bool makeDir(const QString& dir)
    {
        step(QStringLiteral("mkdir ") + dir);
        // Only a folder made here: one found there may be anything.
        return ::mkdir(QFile::encodeName(dir).constData(), 0755) == 0 || failed(QStringLiteral("mkdir %1").arg(dir));
    }
    bool writeWhole(const QString& file, const QByteArray& data)
    {
        step(QStringLiteral("write ") + file);
        const int fd = ::open(QFile::encodeName(file).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        struct stat st {};
        const bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                        ::write(fd, data.constData(), size_t(data.size())) == data.size() && ::fsync(fd) == 0;
        if (!ok)
            failed(QStringLiteral("write %1").arg(file));
        if (fd >= 0)
            ::close(fd);
        return ok;
    }

    const QString work_, update_, staged_, rollback_, fresh_, journal_, name_;
};

}  // namespace

std::function<void(const QString&)> UpdatePackage::beforeSwapStep;

QString UpdatePackage::journalPath() const { return Swap::journalOf(work_); }

bool UpdatePackage::recover(const QString& workDir)
{
    const QString work = QDir(workDir).absolutePath();
    const QString update = work + QStringLiteral("-update");
    const QString journal = Swap::journalOf(work);
    // A swap of ours has its journal in a real staging folder; anything else
    // there (a link above all) holds none, whatever it points to.
    const Kind kind = kindOf(update);
    if (kind != Kind::Folder || kindOf(journal) == Kind::Missing) {
        // No swap, or one that never began or had already ended: nothing of
        // the running files is in question; what an update left is dropped.
        removeTree(Swap::freshOf(work));
        removeTree(update);
        return true;
    }
    static const QRegularExpression name(QStringLiteral("^vmm-update-[0-9.]{1,40}$"));
    QString why = QStringLiteral("no staged folder named");
    const QString staged = readJournal(journal, &why);
    if (!name.match(staged).hasMatch()) {
        qCritical("update: the journal %s is unreadable (%s); the running files are left as they are",
                  qPrintable(journal), qPrintable(why));
        return false;
    }
    Swap swap(work, staged);
    if (!swap.trusted()) {
        qCritical("update: the swap to %s is not recovered: %s; the running files are left as they are",
                  qPrintable(staged), qPrintable(swap.why));
        return false;
    }
    const bool forward = swap.committed();
    qWarning("update: the swap to %s was interrupted; %s", qPrintable(staged),
             forward ? "the new program is in place, finishing it" : "undoing it");
    if (!(forward ? swap.finish() : swap.undo())) {
        qCritical("update: recovering the swap failed: %s", qPrintable(swap.why));
        return false;
    }
    return true;
}

UpdatePackage::Result UpdatePackage::install(const QString& runningVersion)
{
    if (staged_.isEmpty())
        return fail(WriteFailed, QStringLiteral("nothing prepared"));
    const QString program = QDir(work_).filePath(kProgram);
    if (!QFileInfo(program).isFile())
        return fail(NotLaidOut, QStringLiteral("%1 missing").arg(program));
    if (deviceOf(staged_) != deviceOf(work_))
        return fail(WriteFailed, QStringLiteral("%1 and %2 lie on different file systems").arg(staged_, work_));

    Swap swap(work_, QFileInfo(staged_).fileName());
    staged_.clear();
    if (!swap.begin(runningVersion)) {
        // Nothing of the running files has changed yet.
        const QString why = swap.why;
        if (!swap.undo())
            qCritical("update: cleaning up after a failed start of the swap: %s", qPrintable(swap.why));
        return fail(WriteFailed, why);
    }
    if (!swap.apply()) {
        const QString why = swap.why;
        if (swap.committed()) {
            qWarning("update: %s after the new program was in place", qPrintable(why));
        } else {
            if (!swap.undo())
                qCritical("update: undo failed, the next start tries again: %s", qPrintable(swap.why));
            return fail(WriteFailed, why);
        }
    }
    if (!swap.finish())
        qWarning("update: finishing the swap failed, the next start tries again: %s", qPrintable(swap.why));
    qInfo("update: the running files of %s were replaced; the old ones are in %s", qPrintable(work_),
          qPrintable(rollbackDir()));
    return None;
}
