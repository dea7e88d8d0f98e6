#include "support_camera.h"

#include "globals.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

QVector<_cameraInfo> FakePlugin::enumCameras()
{
    QVector<_cameraInfo> list;
    for (int i = 0; i < serials_.size(); ++i) {
        _cameraInfo info;
        info.index = i;
        info.pluginName = name_;
        setCameraSerial(info, serials_[i]);
        list.append(info);
    }
    return list;
}

CameraInterface* FakePlugin::createCamera(_cameraInfo)
{
    if (refuse)
        return nullptr;
    auto* c = new FakeCamera(kind_);
    created.append(c);
    return c;
}

QStringList serialsOf(const QVector<_cameraInfo>& cameras)
{
    QStringList out;
    for (const _cameraInfo& c : cameras)
        out << cameraSerial(c);
    return out;
}

QStringList toList(const QVector<QString>& v)
{
    return QStringList(v.begin(), v.end());
}

bool writeSnDb(const QString& path, const QList<QPair<QString, QString>>& rows, bool withTable)
{
    QFile::remove(path);
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("testsn"));
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        if (ok && withTable) {
            ok = q.exec(QStringLiteral("create table sysparam(name text, value text)"));
            for (const auto& r : rows) {
                q.prepare(QStringLiteral("insert into sysparam values(?, ?)"));
                q.addBindValue(r.first);
                q.addBindValue(r.second);
                ok = ok && q.exec();
            }
        } else if (ok) {
            ok = q.exec(QStringLiteral("create table other(x text)"));
        }
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("testsn"));
    return ok;
}

QMap<QString, QString> readSnDb(const QString& path)
{
    QMap<QString, QString> out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("testsnread"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("select name, value from sysparam"));
            while (q.next())
                out.insert(q.value(0).toString(), q.value(1).toString());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("testsnread"));
    return out;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
