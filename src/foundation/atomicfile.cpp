#include "atomicfile.h"

#include <QDebug>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool writeAtomically(const QString& path, const QByteArray& content, const QFileDevice::Permissions* permissions)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        qWarning("cannot write %s: %s", qPrintable(path), qPrintable(out.errorString()));
        return false;
    }
    if (permissions && !out.setPermissions(*permissions)) {
        qWarning("cannot set the permissions of %s", qPrintable(path));
        out.cancelWriting();
        out.commit();
        return false;
    }
    // QSaveFile does not notice a failure of the final flush by itself
    // (the buffered bytes are written only at commit), so flush first and
    // check: a short write must never replace the old file.
    // Every byte on the disk before the rename: the old file stays until the
    // new one is whole there, whatever stops the machine in between.
    if (out.write(content) != content.size() || !out.flush() || out.error() != QFileDevice::NoError
        || (out.handle() >= 0 && ::fsync(out.handle()) != 0)) {
        qWarning("cannot write %s: %s", qPrintable(path), qPrintable(out.errorString()));
        out.cancelWriting();
        out.commit();  // removes the temporary file
        return false;
    }
    if (!out.commit()) {
        qWarning("cannot replace %s: %s", qPrintable(path), qPrintable(out.errorString()));
        return false;
    }
    syncFolderOf(path);
    return true;
}

}  // namespace

void syncFolderOf(const QString& path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)::fsync(fd);
    ::close(fd);
}

bool writeFileAtomically(const QString& path, const QByteArray& content)
{
    return writeAtomically(path, content, nullptr);
}

bool writeFileAtomically(const QString& path, const QByteArray& content, QFileDevice::Permissions permissions)
{
    return writeAtomically(path, content, &permissions);
}
