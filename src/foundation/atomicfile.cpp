#include "atomicfile.h"

#include <QDebug>
#include <QSaveFile>

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
    if (out.write(content) != content.size() || !out.flush() || out.error() != QFileDevice::NoError) {
        qWarning("cannot write %s: %s", qPrintable(path), qPrintable(out.errorString()));
        out.cancelWriting();
        out.commit();  // removes the temporary file
        return false;
    }
    if (!out.commit()) {
        qWarning("cannot replace %s: %s", qPrintable(path), qPrintable(out.errorString()));
        return false;
    }
    return true;
}

}  // namespace

bool writeFileAtomically(const QString& path, const QByteArray& content)
{
    return writeAtomically(path, content, nullptr);
}

bool writeFileAtomically(const QString& path, const QByteArray& content, QFileDevice::Permissions permissions)
{
    return writeAtomically(path, content, &permissions);
}
