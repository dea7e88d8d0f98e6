#include "updatepackage.h"

#include "globals.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStorageInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool renamePath(const QString& from, const QString& to, QString* why)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *why = QStringLiteral("rename %1 -> %2: %3").arg(from, to, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

dev_t deviceOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_dev : dev_t(-1);
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
    QDir(stagingDir()).removeRecursively();
    staged_.clear();
}

UpdatePackage::Result UpdatePackage::prepare(const Found& package)
{
    staged_.clear();
    detail_.clear();
    if (!package.isValid())
        return fail(NoPackage, QStringLiteral("no package"));
    discard();
    if (!QDir().mkpath(stagingDir()))
        return fail(WriteFailed, QStringLiteral("cannot make %1").arg(stagingDir()));
    QString archive;
    Result r = copyArchive(package, &archive);
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
    if (freeSpace(stagingDir()) < size)
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

UpdatePackage::Result UpdatePackage::unpack(const Found& package, const QString& archive)
{
    const bool rar = package.kind == QLatin1String("rar");
    const QString tool = rar ? QStringLiteral("bsdtar") : QStringLiteral("tar");
    int code = -1;
    QByteArray out, err;
    // The member names first: a foreign archive is refused before anything
    // of it is written.
    if (!runBounded(tool, {QStringLiteral("-tf"), archive}, QString(), unpackTimeoutMs, &code, &out, &err) || code != 0)
        return fail(Broken, QStringLiteral("%1 -tf: %2").arg(tool, QString::fromLocal8Bit(err).trimmed()));
    const QString top = topName(package.version);
    bool hasProgram = false;
    for (QString name : QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        while (name.startsWith(QLatin1String("./")))
            name.remove(0, 2);
        while (name.endsWith(QLatin1Char('/')))
            name.chop(1);
        if (name.isEmpty() || name == QLatin1String(".") || name == top)
            continue;
        const QString rel = name.startsWith(top + QLatin1Char('/')) ? name.mid(top.size() + 1) : QString();
        if (rel.isEmpty() || !(allowedFile(rel) || allowedDir(rel)))
            return fail(Foreign, QStringLiteral("member %1 does not belong in %2").arg(name, top));
        hasProgram = hasProgram || rel == kProgram;
    }
    if (!hasProgram)
        return fail(Foreign, QStringLiteral("no %1/%2 in the archive").arg(top, kProgram));
    const QStringList args = rar ? QStringList{QStringLiteral("-xof"), archive, QStringLiteral("-C"), stagingDir()}
                                 : QStringList{QStringLiteral("--no-same-owner"), QStringLiteral("-xf"), archive,
                                               QStringLiteral("-C"), stagingDir()};
    if (!runBounded(tool, args, QString(), unpackTimeoutMs, &code, &out, &err) || code != 0) {
        const QString why = QString::fromLocal8Bit(err).trimmed();
        const bool full = why.contains(QLatin1String("No space left on device"));
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
    while (it.hasNext()) {
        const QFileInfo f(it.next());
        const QString rel = QDir(top).relativeFilePath(f.filePath());
        // Links and special files could reach outside the package.
        const bool ok = !f.isSymLink() && ((f.isDir() && allowedDir(rel)) || (f.isFile() && allowedFile(rel)));
        if (!ok)
            return fail(Foreign, QStringLiteral("%1 does not belong in the package").arg(rel));
        plugins += isPluginName(rel) ? 1 : 0;
    }
    const QFileInfo program(QDir(top).filePath(kProgram));
    if (!program.isFile() || program.size() == 0 || plugins == 0)
        return fail(Foreign, QStringLiteral("the package lacks the program or its plug-ins"));
    QFile::setPermissions(program.filePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                  QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                  QFile::ExeOther);
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
    static const QRegularExpression line(QStringLiteral("^([0-9a-fA-F]{64}) [ *](?:\\./)?(.+)$"));
    QSet<QString> listed;
    for (const QByteArray& raw : sums.readAll().split('\n')) {
        const QString text = QString::fromUtf8(raw).trimmed();
        if (text.isEmpty())
            continue;
        const QRegularExpressionMatch m = line.match(text);
        if (!m.hasMatch() || !files.contains(m.captured(2)) || listed.contains(m.captured(2)))
            return fail(BadChecksum, QStringLiteral("%1: bad line \"%2\"").arg(kSums, text));
        QFile f(QDir(top).filePath(m.captured(2)));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f) ||
            hash.result().toHex() != m.captured(1).toLower().toLatin1())
            return fail(BadChecksum, QStringLiteral("%1 does not match its checksum").arg(m.captured(2)));
        listed.insert(m.captured(2));
    }
    if (listed != files)
        return fail(BadChecksum, QStringLiteral("%1 does not list every file").arg(kSums));
    return None;
}

UpdatePackage::Result UpdatePackage::dryStart(const QString& top, const QString& version)
{
    int code = -1;
    QByteArray out, err;
    const QString program = QDir(top).filePath(kProgram);
    if (!runBounded(program, {QStringLiteral("--dry-start")}, top, dryStartTimeoutMs, &code, &out, &err) || code != 0)
        return fail(NotRunnable, QStringLiteral("%1 --dry-start (exit %2): %3 %4")
                                     .arg(program).arg(code)
                                     .arg(QString::fromLocal8Bit(out).trimmed(), QString::fromLocal8Bit(err).trimmed()));
    const QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty() || lines.first().trimmed() != QStringLiteral("vmm ") + version)
        return fail(Foreign, QStringLiteral("the program answers \"%1\", the package is named %2")
                                 .arg(lines.value(0).trimmed(), version));
    const QStringList plugins = QDir(QDir(top).filePath(kPluginDir)).entryList({QStringLiteral("*.so")}, QDir::Files);
    for (const QString& p : plugins)
        if (!lines.contains(QStringLiteral("plugin %1 ok").arg(p)))
            return fail(NotRunnable, QStringLiteral("plug-in %1 not loaded by the new program").arg(p));
    return None;
}

UpdatePackage::Result UpdatePackage::install(const QString& runningVersion)
{
    if (staged_.isEmpty())
        return fail(WriteFailed, QStringLiteral("nothing prepared"));
    const QString program = QDir(work_).filePath(kProgram);
    const QString plugins = QDir(work_).filePath(kPluginDir);
    const QString rb = rollbackDir();
    const QString rbPrevious = rb + QStringLiteral(".previous");
    if (!QFileInfo(program).isFile())
        return fail(NotLaidOut, QStringLiteral("%1 missing").arg(program));
    if (deviceOf(staged_) != deviceOf(work_))
        return fail(WriteFailed, QStringLiteral("%1 and %2 lie on different file systems").arg(staged_, work_));

    // The last roll-back is set aside and dropped only once the swap is done.
    QDir(rbPrevious).removeRecursively();
    QString why;
    if (QFileInfo::exists(rb) && !renamePath(rb, rbPrevious, &why))
        return fail(WriteFailed, why);
    struct Move {
        QString from, to;
    };
    QVector<Move> moves{{program, rb + QLatin1Char('/') + kProgram}};
    if (QFileInfo(plugins).isDir())
        moves.append({plugins, rb + QLatin1Char('/') + kPluginDir});
    moves.append({QDir(staged_).filePath(kProgram), program});
    moves.append({QDir(staged_).filePath(kPluginDir), plugins});
    QVector<Move> done;
    bool ok = QDir().mkpath(rb + QStringLiteral("/Plugins")) && QDir().mkpath(QDir(work_).filePath(QStringLiteral("Plugins")));
    if (!ok)
        why = QStringLiteral("cannot make %1").arg(rb);
    for (const Move& m : moves) {
        if (!ok || !(ok = renamePath(m.from, m.to, &why)))
            break;
        done.append(m);
    }
    if (!ok) {
        // Back to the files that ran, in reverse order.
        for (int i = done.size() - 1; i >= 0; --i) {
            QString undoWhy;
            if (!renamePath(done[i].to, done[i].from, &undoWhy))
                qCritical("update: undo failed: %s", qPrintable(undoWhy));
        }
        QDir(rb).removeRecursively();
        QString ignored;
        if (QFileInfo::exists(rbPrevious))
            renamePath(rbPrevious, rb, &ignored);
        return fail(WriteFailed, why);
    }
    QFile version(rb + QStringLiteral("/VERSION"));
    if (version.open(QIODevice::WriteOnly | QIODevice::Truncate))
        version.write(runningVersion.toUtf8() + '\n');
    version.close();
    QDir(rbPrevious).removeRecursively();
    discard();
    ::sync();   // the renames must survive the reboot that follows
    qInfo("update: the running files of %s were replaced; the old ones are in %s", qPrintable(work_), qPrintable(rb));
    return None;
}
