// mkdefaultsn <file>: writes the default camera-order database: table
// sysparam(name, value) with the eight positions serialNB0..serialNB7 free ('0').
// An existing file is replaced.
#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdio>

static bool build(const QString& path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("mkdefaultsn"));
    db.setDatabaseName(path);
    if (!db.open()) {
        std::fprintf(stderr, "mkdefaultsn: %s: %s\n", qPrintable(path), qPrintable(db.lastError().text()));
        return false;
    }
    QSqlQuery q(db);
    bool ok = q.exec(QStringLiteral("create table sysparam(name text, value text)"));
    for (int i = 0; ok && i < 8; ++i) {
        q.prepare(QStringLiteral("insert into sysparam values(?, '0')"));
        q.addBindValue(QStringLiteral("serialNB%1").arg(i));
        ok = q.exec();
    }
    if (!ok)
        std::fprintf(stderr, "mkdefaultsn: %s\n", qPrintable(q.lastError().text()));
    q.finish();
    db.close();
    return ok;
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkdefaultsn <file>\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QFile::remove(path);
    const bool ok = build(path);
    QSqlDatabase::removeDatabase(QStringLiteral("mkdefaultsn"));
    if (!ok)
        QFile::remove(path);
    return ok ? 0 : 1;
}
