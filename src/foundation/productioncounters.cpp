#include "productioncounters.h"

#include <QSettings>
#include <QStringList>

namespace {

const QString kAll = QStringLiteral("list_allnum");
const QString kFail = QStringLiteral("list_failnum");
const QString kSyncNg = QStringLiteral("gSyncNGNum");
const QString kAllCycle = QStringLiteral("list_allcyclenum");
const QString kFailCycle = QStringLiteral("list_failcyclenum");
const QString kSyncNgCycle = QStringLiteral("gSyncNGcycleNum");

bool validCamera(int c) { return c >= 0 && c < kMaxCamera; }

void loadList(const QSettings& ini, const QString& key, std::array<int, kMaxCamera>* out)
{
    const QStringList l = ini.value(key).toStringList();
    for (int i = 0; i < kMaxCamera; ++i) {
        bool ok = false;
        const int v = i < l.size() ? l[i].toInt(&ok) : 0;
        (*out)[i] = ok && v >= 0 ? v : 0;
    }
}

QString listText(const std::array<int, kMaxCamera>& in)
{
    QStringList l;
    for (int v : in)
        l << QString::number(v);
    return l.join(QStringLiteral(", "));
}

}  // namespace

bool CounterValues::operator==(const CounterValues& o) const
{
    return all == o.all && fail == o.fail && allCycle == o.allCycle && failCycle == o.failCycle
        && syncNg == o.syncNg && syncNgCycle == o.syncNgCycle;
}

ProductionCounters& ProductionCounters::get()
{
    static ProductionCounters instance;
    return instance;
}

void ProductionCounters::countPart(int camera, bool ng)
{
    if (!validCamera(camera))
        return;
    ++v_.all[camera];
    if (ng)
        ++v_.fail[camera];
}

void ProductionCounters::countCycle(int camera, bool ng)
{
    if (!validCamera(camera))
        return;
    ++v_.allCycle[camera];
    if (ng)
        ++v_.failCycle[camera];
}

void ProductionCounters::resetFromModbus()
{
    v_.all.fill(0);
    v_.fail.fill(0);
}

void ProductionCounters::load(const QSettings& ini)
{
    loadList(ini, kAll, &v_.all);
    loadList(ini, kFail, &v_.fail);
    loadList(ini, kAllCycle, &v_.allCycle);
    loadList(ini, kFailCycle, &v_.failCycle);
    v_.syncNg = qMax(0, ini.value(kSyncNg).toInt());
    v_.syncNgCycle = qMax(0, ini.value(kSyncNgCycle).toInt());
}

QByteArray ProductionCounters::iniText() const
{
    // The text QSettings reads back: lists as "1, 2, 3".
    QString t = QStringLiteral("[General]\n");
    t += kSyncNg + '=' + QString::number(v_.syncNg) + '\n';
    t += kSyncNgCycle + '=' + QString::number(v_.syncNgCycle) + '\n';
    t += kAllCycle + '=' + listText(v_.allCycle) + '\n';
    t += kAll + '=' + listText(v_.all) + '\n';
    t += kFailCycle + '=' + listText(v_.failCycle) + '\n';
    t += kFail + '=' + listText(v_.fail) + '\n';
    return t.toUtf8();
}
