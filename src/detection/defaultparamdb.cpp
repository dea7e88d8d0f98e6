// The factory PARAM.db of the default parameter group.
#include "cammersingleton.h"
#include "globals.h"
#include "paramdb.h"
#include "wizardpara.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

#include <memory>

namespace paramdb {

bool writeDefaultDatabase(const QString& path, int lan, QString* error)
{
    const QString tmp = path + QStringLiteral(".tmp");
    const QString connection = QStringLiteral("vmm-default-param-db");
    QFile::remove(tmp);
    bool ok = false;
    const int oldLan = gLan;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(tmp);
        if (!db.open()) {
            if (error)
                *error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            // Factory settings: the constructor's values, the camera values
            // that a repair would give, both steps of the standard mode on,
            // output 3 inverted as in a new row system7, and every checked
            // word within its range.
            auto rec = std::make_unique<WizardPara>();
            for (int c = 0; c < kMaxCamera; ++c) {
                rec->words[c] = 30;
                rec->words[Word::Gain0 + c] = 32;
                rec->words[Word::Contrast0 + c] = 50;
                rec->words[Word::Gamma0 + c] = 70;
            }
            rec->words[Word::ProductStepEnabled] = 1;
            rec->words[Word::OutputInverted0 + 2] = 1;  // as a missing row system7 is filled
            gLan = lan;
            rec->CheckRange();
            ok = rec->SaveRows(db, q);
            for (int c = 0; ok && c < kMaxCamera; ++c) {
                auto cam = std::make_unique<CammerSingleton>(c);
                ok = cam->SaveRows(db, q);
            }
            if (!ok && error)
                *error = QStringLiteral("a statement failed");
            q.finish();
            db.close();
        }
    }
    gLan = oldLan;
    QSqlDatabase::removeDatabase(connection);
    if (!ok) {
        QFile::remove(tmp);
        return false;
    }
    QFile::remove(path);
    if (!QFile::rename(tmp, path)) {
        if (error)
            *error = QStringLiteral("cannot rename %1").arg(tmp);
        return false;
    }
    return true;
}

}  // namespace paramdb
