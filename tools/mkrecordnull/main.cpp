// Writes the empty operation record RECORDNULL.db, the template that replaces
// a missing RECORD.db.   mkrecordnull <output file>
#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkrecordnull <output file>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString tmp = out + QStringLiteral(".tmp");
    QFile::remove(tmp);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("out"));
        db.setDatabaseName(tmp);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(QStringLiteral("CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)"));
            if (!ok)
                std::fprintf(stderr, "mkrecordnull: %s\n", qPrintable(q.lastError().text()));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("out"));
    if (!ok)
        return 1;
    QFile::remove(out);
    return QFile::rename(tmp, out) ? 0 : 1;
}
