// Writes the demo parameter file: the default PARAM.db with one grey
// template comparison region over most of the picture for steps 1 and 2 of
// cameras 1 and 2, and short trigger delays, so that a demo run judges real
// cycles from the first mould opening on. The regions are sensitive enough
// to see a part left in the mould or a colour blob, and positioning follows
// the small turns of a mould (3 degrees) as well as its shifts.
//   mkdemodb <default PARAM.db> <output PARAM.db>
#include "cammersingleton.h"
#include "wizardpara.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

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
        WizardPara para;
        ok = ok && para.LoadRows(db, q);
        para.words[186] = 3;  // positioning angle range
        ok = ok && para.SaveRows(db, q);
        // View coordinates of a 1280 x 800 screen; other screens clamp them.
        for (int camera = 0; ok && camera < 2; ++camera) {
            CammerSingleton rec(camera);
            ok = rec.LoadRows(db, q, RoiViewLink{});
            for (int g = 0; g < 2; ++g) {
                rec.roiCount[g] = 1;
                rec.SetDefaultRoi(g, 0, 1.0f, 1.0f);
                rec.p1[g * 100] = 60;  // sensitivity
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
