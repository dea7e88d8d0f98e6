// Writes the demo parameter file: the default PARAM.db with one grey
// template comparison region on the moulded part for steps 1 and 2 of
// cameras 1 and 2, short trigger delays and the USB picture copy on, so that
// a demo run judges real cycles from the first mould opening on. The region is
// sensitive enough to see a part left in the mould or a colour blob, and
// positioning follows the small turns of a mould (3 degrees) as well as its
// shifts.
//   mkdemodb <default PARAM.db> <output PARAM.db> [<screen width> <screen height>]
// The region is placed in picture coordinates of the simulated camera
// (1280 x 1024, the part in its middle) and stored, as every region is, in
// the view coordinates of the screen (default 1920 x 1080, the monitor's).
#include "cammersingleton.h"
#include "wizardpara.h"

#include <QCoreApplication>
#include <QFile>
#include <QRect>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <cstdio>

namespace {
// The simulated camera's picture and the part in it: the cavity is the
// middle 56 % x 50 % of the picture, the part fills it but for a 4 % rim.
// The region keeps a further margin inside the part's edge, so that the
// camera's small shake never puts the edge into it, and it takes in the far
// end where a short shot shows (of the simulated network camera, netcamsim,
// too: its part is the middle 50 % x 50 %, its short shot inside this region).
constexpr int kPictureW = 1280;
constexpr int kPictureH = 1024;
const QRect kRegionInPicture(QPoint(345, 300), QPoint(935, 724));

QRect demoRegionInView(int screenW, int screenH)
{
    const double sx = double(screenW) / kPictureW;
    const double sy = double(screenH) / kPictureH;
    return QRect(QPoint(qRound(kRegionInPicture.left() * sx), qRound(kRegionInPicture.top() * sy)),
                 QPoint(qRound(kRegionInPicture.right() * sx), qRound(kRegionInPicture.bottom() * sy)));
}
}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: mkdemodb <default PARAM.db> <output PARAM.db> [<screen width> <screen height>]\n");
        return 2;
    }
    int screenW = 1920;
    int screenH = 1080;
    if (argc == 5) {
        bool okW = false, okH = false;
        screenW = QString::fromLocal8Bit(argv[3]).toInt(&okW);
        screenH = QString::fromLocal8Bit(argv[4]).toInt(&okH);
        if (!okW || !okH || screenW < 320 || screenH < 240 || screenW > 16384 || screenH > 16384) {
            std::fprintf(stderr, "mkdemodb: bad screen size %s x %s\n", argv[3], argv[4]);
            return 2;
        }
    }
    const QRect view = demoRegionInView(screenW, screenH);
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
        para.words[Word::AngleRange] = 3;  // positioning angle range
        // Fault pictures are copied to the USB disk; run.sh gives a folder
        // standing in for the disk.
        para.words[Word::UsbSave] = 1;
        ok = ok && para.SaveRows(db, q);
        for (int camera = 0; ok && camera < 2; ++camera) {
            CammerSingleton rec(camera);
            ok = rec.LoadRows(db, q, RoiViewLink{});
            for (int g = 0; g < 2; ++g) {
                rec.roiCount[g] = 1;
                rec.SetDefaultRoi(g, 0, 1.0f, 1.0f);
                rec.p1[g * 100] = 60;  // sensitivity
                rec.rect[g][0].rect = view;
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
