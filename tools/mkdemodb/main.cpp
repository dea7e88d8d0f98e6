// Writes the demo parameter file: the default PARAM.db with one grey
// template comparison region over most of the picture for steps 1 and 2 of
// cameras 1 and 2, short trigger delays and the USB picture copy on, so that
// a demo run judges real cycles from the first mould opening on.
//   mkdemodb <default PARAM.db> <output PARAM.db>
#include "cammersingleton.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkdemodb <default PARAM.db> <output PARAM.db>\n");
        return 2;
    }
    const QString in = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QString tmp = out + QStringLiteral(".tmp");
    QFile::remove(tmp);
    if (!QFile::copy(in, tmp)) {
        std::fprintf(stderr, "mkdemodb: cannot copy %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("demo"));
        db.setDatabaseName(tmp);
        ok = db.open();
        QSqlQuery q(db);
        // Product after 0.3 s, cavity after 1.5 s (the ejector has pushed the part out).
        ok = ok && q.exec(QStringLiteral("update sysparam set value='3 15 0 0 0 0 0 0' where name='trigInDelay'"));
        // Fault pictures are copied to the USB disk (word 215, the 19th value
        // of row system10); run.sh gives a folder standing in for the disk.
        if (ok && q.exec(QStringLiteral("select value from sysparam where name='system10'")) && q.next()) {
            QStringList v = q.value(0).toString().split(QLatin1Char(' '));
            if (v.size() > 18) {
                v[18] = QStringLiteral("1");
                ok = q.exec(QStringLiteral("update sysparam set value='%1' where name='system10'").arg(v.join(QLatin1Char(' '))));
            }
        }
        // View coordinates of a 1280 x 800 screen; other screens clamp them.
        for (int camera = 0; ok && camera < 2; ++camera) {
            CammerSingleton rec(camera);
            ok = rec.LoadRows(db, q, RoiViewLink{});
            for (int g = 0; g < 2; ++g) {
                rec.roiCount[g] = 1;
                rec.SetDefaultRoi(g, 0, 1.0f, 1.0f);
                rec.rect[g][0].rect.setCoords(64, 40, 1215, 759);
            }
            ok = ok && rec.SaveRows(db, q);
        }
        if (!ok)
            std::fprintf(stderr, "mkdemodb: %s\n", qPrintable(q.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("demo"));
    if (!ok)
        return 1;
    QFile::remove(out);
    return QFile::rename(tmp, out) ? 0 : 1;
}
