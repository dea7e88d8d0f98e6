#include "paragroup.h"

#include "databases.h"
#include "globals.h"
#include "platform.h"
#include "winstate.h"
#include "wizardpara.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>

namespace {

const QString kParamDb = QStringLiteral("PARAM.db");

// Copies a file over `dst` through a temporary file and a rename, so that
// `dst` is always either the old or the complete new file.
bool copyFileReplacing(const QString& src, const QString& dst)
{
    const QString tmp = dst + QStringLiteral(".partial~");
    QFile::remove(tmp);
    if (!QFile::copy(src, tmp)) {
        qWarning("parameter group: cannot copy %s", qPrintable(src));
        QFile::remove(tmp);
        return false;
    }
    if (std::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(dst).constData()) != 0) {
        qWarning("parameter group: cannot replace %s", qPrintable(dst));
        QFile::remove(tmp);
        return false;
    }
    return true;
}

// Copies the contents of folder `src` into folder `dst` (made when missing),
// replacing files of the same name. Symbolic links are not followed.
bool copyTree(const QString& src, const QString& dst)
{
    if (!QDir().mkpath(dst)) {
        qWarning("parameter group: cannot make %s", qPrintable(dst));
        return false;
    }
    const QFileInfoList entries = QDir(src).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    bool ok = true;
    for (const QFileInfo& e : entries) {
        if (e.isSymLink())
            continue;
        const QString target = QDir(dst).filePath(e.fileName());
        if (e.isDir())
            ok = copyTree(e.filePath(), target) && ok;
        else
            ok = copyFileReplacing(e.filePath(), target) && ok;
    }
    return ok;
}

QString templateFolder(int camera, int step)
{
    return QStringLiteral("cammer%1%2").arg(camera).arg(step);
}

int clampCount(int n)
{
    return std::clamp(n, 0, kMaxCamera);
}

void setCurrentIndex(int index)
{
    if (gpWParaBak) {
        gpWParaBak->words[Word::GroupIndex] = index;
        gpWParaBak->updateGroupName();
    }
    if (gpWPara) {
        gpWPara->words[Word::GroupIndex] = index;
        gpWPara->SaveAddFile();
        if (gpWParaBak)
            gpWParaBak->groupName = gpWPara->groupName;
    }
}

void syncDisks()
{
    platform::runner().runOnTarget(QStringLiteral("sync"), {});
}

}  // namespace

QString ParaGroup::folder()
{
    return QStringLiteral("./paraGroup");
}

QStringList ParaGroup::list()
{
    QDir dir(folder());
    if (!dir.exists())
        QDir().mkpath(folder());
    QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(names.begin(), names.end());
    return names;
}

ParaGroup::Result ParaGroup::checkName(const QString& name)
{
    if (name.trimmed().isEmpty())
        return EmptyName;
    if (name == QLatin1String("default"))
        return DefaultName;
    if (name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
        || name.contains(QLatin1String("..")) || QFile::encodeName(name).size() > 200)
        return BadName;
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
            || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            return BadName;
    return Ok;
}

bool ParaGroup::exists(const QString& name)
{
    return checkName(name) == Ok && QFileInfo(QDir(folder()).filePath(name)).isDir();
}

int ParaGroup::messageRow(Result r)
{
    switch (r) {
    case EmptyName:
    case BadName:
        return 282;
    case DefaultName:
        return 653;
    default:
        return -1;
    }
}

ParaGroup::Result ParaGroup::backup(const QString& name)
{
    const Result check = checkName(name);
    if (check != Ok) {
        qWarning("parameter group backup refused for the name \"%s\"", qPrintable(name));
        return check;
    }
    QDir base(folder());
    if (!base.exists() && !QDir().mkpath(folder()))
        return FileError;

    // Built beside the groups under a hidden name and renamed when complete:
    // a failure never leaves a half group in the list.
    const QString partial = base.filePath(QStringLiteral(".") + name + QStringLiteral(".partial"));
    QDir(partial).removeRecursively();
    bool ok = QDir().mkpath(partial);
    const int cameras = clampCount(numCamera);
    const int steps = clampCount(gDNum);
    for (int c = 1; ok && c <= cameras; ++c)
        for (int d = 1; ok && d <= steps; ++d)
            if (QFileInfo(templateFolder(c, d)).isDir())
                ok = copyTree(templateFolder(c, d), QDir(partial).filePath(templateFolder(c, d)));
    ok = ok && QFile::copy(QStringLiteral("./") + kParamDb, QDir(partial).filePath(kParamDb));
    const QString final = base.filePath(name);
    if (ok && QFileInfo::exists(final))
        ok = QDir(final).removeRecursively();
    ok = ok && base.rename(QFileInfo(partial).fileName(), name);
    if (!ok) {
        qWarning("parameter group backup of \"%s\" failed", qPrintable(name));
        QDir(partial).removeRecursively();
        return FileError;
    }
    setCurrentIndex(list().indexOf(name));
    syncDisks();
    return Ok;
}

ParaGroup::Result ParaGroup::restore(int index)
{
    const QStringList groups = list();
    if (index < 0 || index >= groups.size())
        return NoSuchGroup;
    const QString source = QDir(folder()).filePath(groups[index]);
    if (!QFileInfo(QDir(source).filePath(kParamDb)).isFile()) {
        qWarning("parameter group \"%s\" holds no PARAM.db; nothing is restored", qPrintable(groups[index]));
        return FileError;
    }

    // The group is copied whole beside the working files first and only then
    // renamed into place: a copy that fails leaves the machine as it was,
    // templates included.
    const QString staging = QStringLiteral("./.paraGroup-restore.partial");
    QDir(staging).removeRecursively();
    if (!copyTree(source, staging)) {
        qWarning("parameter group \"%s\" could not be copied; nothing is restored", qPrintable(groups[index]));
        QDir(staging).removeRecursively();
        return FileError;
    }
    setCurrentIndex(index);

    // SQLite must not write into the file while it is being replaced.
    if (Databases::get().paramQuery())
        Databases::get().paramQuery()->finish();
    if (Databases::get().paramDb().isValid())
        Databases::get().paramDb().close();

    // The local template folders step aside; the group's take their place.
    QStringList aside;
    const int cameras = clampCount(numCamera);
    const int steps = clampCount(gDNum);
    for (int c = 1; c <= cameras; ++c)
        for (int d = 1; d <= steps; ++d) {
            const QString local = templateFolder(c, d);
            const QString old = local + QStringLiteral(".old~");
            QDir(old).removeRecursively();
            if (QFileInfo(local).isDir() && QDir().rename(local, old))
                aside << local;
        }
    bool ok = true;
    QStringList placed;
    const QFileInfoList entries = QDir(staging).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo& e : entries) {
        const QString target = QStringLiteral("./") + e.fileName();
        if (e.isDir()) {
            if (QFileInfo::exists(target) && !aside.contains(e.fileName()))
                ok = copyTree(e.filePath(), target) && ok;
            else if (QDir().rename(e.filePath(), target))
                placed << e.fileName();
            else
                ok = false;
        } else if (std::rename(QFile::encodeName(e.filePath()).constData(), QFile::encodeName(target).constData()) != 0) {
            qWarning("parameter group: cannot replace %s", qPrintable(target));
            ok = false;
        }
    }
    // Done: the set-aside folders go. Failed: the group's folders that were
    // placed go and ours come back.
    if (!ok)
        for (const QString& name : qAsConst(placed))
            QDir(QStringLiteral("./") + name).removeRecursively();
    for (const QString& local : qAsConst(aside)) {
        const QString old = local + QStringLiteral(".old~");
        if (ok || QFileInfo::exists(local))
            QDir(old).removeRecursively();
        else
            QDir().rename(old, local);
    }
    QDir(staging).removeRecursively();
    // A journal left by the replaced file must not be played into the new one.
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        QFile::remove(QStringLiteral("./") + kParamDb + QLatin1String(suffix));
    syncDisks();
    if (!ok) {
        qWarning("parameter group \"%s\" was restored only in part", qPrintable(groups[index]));
        return FileError;
    }
    return Ok;
}

ParaGroup::Result ParaGroup::remove(int index)
{
    const QStringList groups = list();
    if (index < 0 || index >= groups.size())
        return NoSuchGroup;
    // The default group is the factory state that replaces a missing PARAM.db.
    if (groups[index] == QLatin1String("default"))
        return DefaultName;
    const QString path = QDir(folder()).filePath(groups[index]);
    QDir(path).removeRecursively();
    if (QFileInfo::exists(path)) {
        qWarning("parameter group \"%s\" could not be removed", qPrintable(groups[index]));
        return FileError;
    }
    const int current = gpWPara ? gpWPara->words[Word::GroupIndex] : -1;
    if (index == current)
        setCurrentIndex(-1);
    else if (index < current && current < groups.size())
        setCurrentIndex(current - 1);
    else {
        if (gpWPara)
            gpWPara->updateGroupName();
        if (gpWParaBak)
            gpWParaBak->updateGroupName();
    }
    syncDisks();
    return Ok;
}
