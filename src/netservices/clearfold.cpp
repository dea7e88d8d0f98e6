#include "clearfold.h"

#include "databases.h"
#include "peertrafficlog.h"
#include "publictools.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace {

const QString kClearRow = QStringLiteral("API: 清除计数");

bool setHeld(QSqlDatabase& db, int held)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS HELDCLEARS (held INTEGER)"))
        || !q.exec(QStringLiteral("DELETE FROM HELDCLEARS")))
        return false;
    if (held == 0)
        return true;
    q.prepare(QStringLiteral("INSERT INTO HELDCLEARS (held) VALUES (?)"));
    q.addBindValue(held);
    return q.exec();
}

}  // namespace

ClearFold::ClearFold(Clock clock, Arm arm)
    : clock_(clock ? std::move(clock) : Clock([] { return ::monotonic_ms(); }))
    , arm_(std::move(arm))
{
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { due(); });
}

int ClearFold::held()
{
    load();
    return held_;
}

// What a killed run held, once, when the record is first needed.
void ClearFold::load()
{
    if (loaded_)
        return;
    loaded_ = true;
    Databases::get().changeRecordDb([this](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT held FROM HELDCLEARS")))
            while (q.next())
                held_ += std::max(0, q.value(0).toInt());
        return true;
    });
}

void ClearFold::arm(int ms)
{
    if (armed_)
        return;
    armed_ = true;
    if (arm_)
        arm_(ms);
    else
        timer_.start(ms);
}

void ClearFold::add()
{
    load();
    const qint64 now = clock_();
    if (anyRow_ && now - rowMs_ < kFoldMs) {
        ++held_;
        storeHeld();
        arm(int(rowMs_ + kFoldMs - now));
        return;
    }
    // Its time is over even if the timer has not come yet: this clear is
    // written now, with those still held.
    writeRow(held_ + 1, held_ > 0);
}

void ClearFold::due()
{
    armed_ = false;
    load();
    if (held_ == 0)
        return;
    const qint64 now = clock_();
    if (anyRow_ && now - rowMs_ < kFoldMs) {
        arm(int(rowMs_ + kFoldMs - now));
        return;
    }
    writeRow(held_, true);
}

void ClearFold::writeHeld()
{
    load();
    if (held_ > 0)
        writeRow(held_, true);
}

// One row for `count` clears; the held count goes to zero with it. A row
// that cannot be written keeps its clears held for the next one.
void ClearFold::writeRow(int count, bool folded)
{
    const QString text = folded ? kClearRow + QStringLiteral(" ×%1").arg(count) : kClearRow;
    const bool ok = Databases::get().InsertRecordWith(text, QStringLiteral("API"),
                                                      [](QSqlDatabase& db) { return setHeld(db, 0); });
    anyRow_ = true;
    rowMs_ = clock_();
    if (ok) {
        held_ = 0;
        return;
    }
    held_ = count;
    storeHeld();
    arm(kFoldMs);
}

bool ClearFold::storeHeld()
{
    const int held = held_;
    if (Databases::get().changeRecordDb([held](QSqlDatabase& db) { return setHeld(db, held); }))
        return true;
    static PeerTrafficLog failed(QStringLiteral("API counter clears: the held count cannot be stored in RECORD.db"));
    failed.note(QString::number(held));
    return false;
}
