#include "cammersingleton.h"

#include "globals.h"
#include "paramdb.h"
#include "roigeometry.h"
#include "wizardpara.h"

#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <string>

using roigeom::clampToView;

namespace {

CammerSingleton::ViewResolver& resolver()
{
    static CammerSingleton::ViewResolver r = nullptr;
    return r;
}

QString detectName(int g)
{
    return QStringLiteral("detect%1").arg(g);
}

QString roiName(int g, int i)
{
    return QStringLiteral("ROI%1-%2").arg(g).arg(i);
}

int clampX(int v)
{
    return clampToView(v, gShowW);
}

int clampY(int v)
{
    return clampToView(v, gShowH);
}

}  // namespace

CammerSingleton::CammerSingleton(int cam)
    : camera(cam)
{
}

void CammerSingleton::setViewResolver(ViewResolver r)
{
    resolver() = r;
}

QString CammerSingleton::tableName() const
{
    return QStringLiteral("cammer%1").arg(camera);
}

void CammerSingleton::SetDefaultRoi(int g, int i, float sx, float sy)
{
    const int j = g * kRois + i;
    p3[j] = 3;
    p1[j] = 25;
    p2[j] = 100;
    method[j] = 0;
    kind[j] = RoiShape::Rect;
    outputNo[i] = 0;
    ClustomRect& r = rect[g][i];
    r.rect.setCoords(50, 50, 100, 100);
    r.setShowA(sx, sy);
    r.setImageRect();
}

void CammerSingleton::LoadDatafromFile(void* view)
{
    RoiViewLink link;
    if (view) {
        if (resolver())
            link = resolver()(view);
        else
            qWarning("CammerSingleton: no camera view resolver installed; loading with scale 1 and no masks");
    }
    LoadDatafromFile(link);
}

void CammerSingleton::LoadDatafromFile(const RoiViewLink& view)
{
    if (QSqlQuery* q = paramdb::mainQuery("CammerSingleton::LoadDatafromFile"))
        LoadRows(paramdb::mainDatabase(), *q, view);
}

void CammerSingleton::SaveDatatoFile()
{
    if (QSqlQuery* q = paramdb::mainQuery("CammerSingleton::SaveDatatoFile"))
        SaveRows(paramdb::mainDatabase(), *q);
}

bool CammerSingleton::LoadRows(QSqlDatabase db, QSqlQuery& q, const RoiViewLink& view)
{
    const QString table = tableName();
    paramdb::Transaction tx(db, q, "CammerSingleton::LoadDatafromFile");
    tx.note(paramdb::ensureTable(q, table));
    const float sx = view.sx;
    const float sy = view.sy;
    // Shown after the transaction: a modal box runs an event loop, and
    // nothing else may write into this transaction meanwhile.
    int damagedSteps = 0;

    for (int g = 0; g < kSteps; ++g) {
        QString value;
        const paramdb::Lookup got = paramdb::selectValue(q, table, detectName(g), &value);
        if (got == paramdb::Lookup::Failed) {
            tx.note(false);
            continue;
        }
        if (got == paramdb::Lookup::Missing) {
            tx.note(paramdb::insertRow(q, table, detectName(g), QStringLiteral("0")));
        } else {
            const QVector<int> n = paramdb::parseNumbers(value);
            roiCount[g] = n.isEmpty() ? 0 : n[0];
            for (int k = 0; k < 8; ++k)
                stepValue[g][k] = k + 1 < n.size() ? n[k + 1] : 0;
        }
        if (static_cast<unsigned>(roiCount[g]) > static_cast<unsigned>(kRois)) {
            qWarning("%s: step %d holds %d ROIs; the step is emptied", qPrintable(table), g, roiCount[g]);
            ++damagedSteps;
            roiCount[g] = 0;
            continue;
        }

        for (int i = 0; i < roiCount[g]; ++i) {
            const int j = g * kRois + i;
            cv::Mat mask;
            bool maskMade = true;
            const paramdb::Lookup roiGot = paramdb::selectValue(q, table, roiName(g, i), &value);
            if (roiGot != paramdb::Lookup::Found) {
                if (roiGot == paramdb::Lookup::Failed)
                    tx.note(false);
                qWarning("%s: row %s is missing; the ROI becomes the default rectangle", qPrintable(table),
                         qPrintable(roiName(g, i)));
                SetDefaultRoi(g, i, sx, sy);
                mask = rect[g][i].UpdateMask();
            } else {
                maskMade = readRoiRow(g, i, paramdb::parseNumbers(value), sx, sy, mask);
            }
            if (maskMade && view.liveMasks)
                view.liveMasks[j] = mask;
        }
    }
    const bool ok = tx.commit();
    for (int k = 0; k < damagedSteps; ++k)
        showParamWarn(gaLanStr[0][(gLan >= 0 && gLan < kLanCols) ? gLan : 0]);
    return ok;
}

bool CammerSingleton::readRoiRow(int g, int i, const QVector<int>& n, float sx, float sy, cv::Mat& mask)
{
    const int j = g * kRois + i;
    const QString table = tableName();
    auto num = [&n](int k) { return k < n.size() ? n[k] : 0; };
    p3[j] = num(0);
    p1[j] = num(1);
    p2[j] = num(2);
    method[j] = num(3);
    const unsigned storedKind = static_cast<unsigned>(num(4));
    int out = num(5);
    if (out < 0 || out > 3)
        out = 0;
    outputNo[i] = out;
    kind[j] = static_cast<int>(storedKind & 255u);
    const int first = num(6);

    if (kind[j] == RoiShape::Polygon) {
        RePolygon& poly = polygon[g][i];
        if (first < 1 || first > RePolygon::kMaxPoints) {
            qWarning("%s: polygon %s has %d vertices; the ROI becomes the default rectangle", qPrintable(table),
                     qPrintable(roiName(g, i)), first);
            poly.pts.clear();
            poly.imgPts.clear();
            SetDefaultRoi(g, i, sx, sy);
            mask = rect[g][i].UpdateMask();
        } else {
            QVector<QPoint> pts(first);
            for (int v = 0; v < first; ++v)
                pts[v] = QPoint(clampX(num(7 + 2 * v)), clampY(num(8 + 2 * v)));
            poly.setPoints(pts);
            poly.SetHand((storedKind >> 8) != 0);
            poly.setShowA(sx, sy);
            poly.setImageRect();
            mask = poly.UpdateMask();
        }
    } else if (kind[j] == RoiShape::Rect) {
        ClustomRect& r = rect[g][i];
        r.rect.setCoords(clampX(num(7)), clampY(num(8)), clampX(num(9)), clampY(num(10)));
        r.setShowA(sx, sy);
        r.setImageRect();
        mask = r.UpdateMask();
    } else if (kind[j] == RoiShape::Circle) {
        Circle& c = circle[g][i];
        c.x = clampX(num(7));
        c.y = clampY(num(8));
        const unsigned packed = static_cast<unsigned>(num(9));
        c.r = static_cast<int>(packed & 0xffffu);
        c.ri = static_cast<int>(packed >> 16);
        // Kept inside the view as the drawing tools keep it: a damaged radius
        // must not make a picture-sized mask many times over.
        const int room = std::min({c.x - 3, c.y - 3, gShowW - 2 - c.x, gShowH - 2 - c.y});
        c.r = std::clamp(c.r, 0, std::max(room, 0));
        c.UpdateRect();
        c.setShowA(sx, sy);
        c.setImageRect();
        mask = c.UpdateMask();
    } else {
        qWarning("%s: %s has the unknown kind %u; its shape is left as it was", qPrintable(table),
                 qPrintable(roiName(g, i)), storedKind);
        return false;
    }
    return true;
}

QString CammerSingleton::detectText(int g) const
{
    QStringList parts;
    parts << QString::number(roiCount[g]);
    for (int k = 0; k < 8; ++k)
        parts << QString::number(stepValue[g][k]);
    return parts.join(QLatin1Char(' '));
}

QString CammerSingleton::roiText(int g, int i) const
{
    const int j = g * kRois + i;
    int k = kind[j];
    if (k == RoiShape::Polygon && polygon[g][i].getHand())
        k = 258;
    // Built by hand: a free-hand polygon has thousands of numbers, and a
    // whole camera is written at every save.
    std::string s;
    const RePolygon& poly = polygon[g][i];
    s.reserve(64 + static_cast<size_t>(poly.count()) * 10);
    auto put = [&s](long long v, char after) {
        char buf[24];
        const auto res = std::to_chars(buf, buf + sizeof(buf), v);
        s.append(buf, res.ptr);
        if (after)
            s.push_back(after);
    };
    for (int v : {p3[j], p1[j], p2[j], method[j], k, outputNo[i]})
        put(v, ' ');
    if (kind[j] == RoiShape::Rect) {
        const QRect& r = rect[g][i].rect;
        put(0, ' ');
        put(r.left(), ' ');
        put(r.top(), ' ');
        put(r.right(), ' ');
        put(r.bottom(), 0);
    } else if (kind[j] == RoiShape::Circle) {
        const Circle& c = circle[g][i];
        put(0, ' ');
        put(c.x, ' ');
        put(c.y, ' ');
        put(static_cast<long long>(c.ri) * 65536 + c.r, 0);
    } else {
        put(poly.count(), ' ');
        for (const QPoint& p : poly.pts) {
            put(p.x(), ' ');
            put(p.y(), ' ');
        }
    }
    return QString::fromLatin1(s.data(), static_cast<int>(s.size()));
}

bool CammerSingleton::SaveRows(QSqlDatabase db, QSqlQuery& q) const
{
    const QString table = tableName();
    paramdb::Transaction tx(db, q, "CammerSingleton::SaveDatatoFile");
    tx.note(paramdb::ensureTable(q, table));
    for (int g = 0; g < kSteps; ++g) {
        tx.note(paramdb::writeRow(q, table, detectName(g), detectText(g)));
        const int count = std::clamp(roiCount[g], 0, kRois);
        for (int i = 0; i < count; ++i)
            tx.note(paramdb::writeRow(q, table, roiName(g, i), roiText(g, i)));
        for (int i = count; i < kRois; ++i)
            tx.note(paramdb::deleteRow(q, table, roiName(g, i)));
    }
    return tx.commit();
}

void CammerSingleton::setSelectRoi(int s, int i)
{
    if (s < 0 || s >= kSteps || i < 0 || i >= roiCount[s] || i >= kRois)
        return;
    const int j = s * kRois + i;
    selRoi = i;
    selMethod = method[j];
    selP1 = p1[j];
    selP2 = p2[j];
    selP3 = p3[j];
}

bool CammerSingleton::sameRoi(const CammerSingleton& o, int j) const
{
    if (j < 0 || j >= kSlots)
        return false;
    if (p1[j] != o.p1[j] || p2[j] != o.p2[j] || p3[j] != o.p3[j] || method[j] != o.method[j] || kind[j] != o.kind[j])
        return false;
    const int g = j / kRois;
    const int i = j % kRois;
    if (kind[j] == RoiShape::Rect)
        return rect[g][i] == o.rect[g][i];
    if (kind[j] == RoiShape::Circle)
        return circle[g][i] == o.circle[g][i];
    return polygon[g][i] == o.polygon[g][i];
}

bool CammerSingleton::operator==(const CammerSingleton& o) const
{
    if (camera != o.camera)
        return false;
    for (int g = 0; g < kSteps; ++g) {
        if (roiCount[g] != o.roiCount[g])
            return false;
        for (int k = 0; k < 8; ++k)
            if (stepValue[g][k] != o.stepValue[g][k])
                return false;
        const int count = std::clamp(roiCount[g], 0, kRois);
        for (int i = 0; i < count; ++i)
            if (!sameRoi(o, g * kRois + i))
                return false;
    }
    return std::equal(std::begin(outputNo), std::end(outputNo), std::begin(o.outputNo));
}
