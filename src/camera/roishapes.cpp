#include "roishapes.h"

#include "cammersingleton.h"
#include "globals.h"
#include "miscfunc.h"

namespace {

using Rec = CammerSingleton;

// The entry of one shape type, the shapes living in the record's array M.
template <class S, S (Rec::*M)[Rec::kSteps][Rec::kRois]>
struct Of {
    static const S& at(const Rec& r, int g, int i) { return (r.*M)[g][i]; }
    static S& at(Rec& r, int g, int i) { return (r.*M)[g][i]; }
    static QRect imageRect(const Rec& r, int g, int i) { return at(r, g, i).imgRect; }
    static bool selected(const Rec& r, int g, int i) { return at(r, g, i).IsSelected(); }
    static void select(Rec& r, int g, int i, bool on) { at(r, g, i).SetSelected(on); }
    static bool contains(const Rec& r, int g, int i, QPoint p) { return at(r, g, i).Contains(p); }
    static bool onHandle(Rec& r, int g, int i, QPoint p, int* handle) { return at(r, g, i).PtInCtrl(p, handle); }
    static bool touchesHandle(const Rec& r, int g, int i, QPoint p)
    {
        S copy = at(r, g, i);
        return copy.PtInCtrl(p, nullptr);
    }
    static cv::Mat renew(Rec& r, int g, int i, float sx, float sy)
    {
        S& s = at(r, g, i);
        s.setShowA(sx, sy);
        s.setImageRect();
        return s.UpdateMask();
    }
    static bool boxCorner(const Rec& r, int g, int i, QPoint* corner)
    {
        *corner = at(r, g, i).rect.topLeft();
        return true;
    }
};

using RectOf = Of<ClustomRect, &Rec::rect>;
using PolygonOf = Of<RePolygon, &Rec::polygon>;
using CircleOf = Of<Circle, &Rec::circle>;

bool firstPoint(const Rec& r, int g, int i, QPoint* corner)
{
    const RePolygon& poly = r.polygon[g][i];
    if (poly.pts.isEmpty())
        return false;
    *corner = poly.pts.first();
    return true;
}

// A rectangle's two corners; a circle's inner radius, outer radius and centre.
int twoCorners(const Rec&, int, int)
{
    return 2;
}

int radiiAndCentre(const Rec&, int, int)
{
    return 3;
}

int points(const Rec& r, int g, int i)
{
    return r.polygon[g][i].count();
}

bool moveRect(Rec& r, int g, int i, QPoint d)
{
    r.rect[g][i].rect.translate(d);
    CheckInRange(&r.rect[g][i].rect, gShowW, gShowH, true);
    return true;
}

bool movePolygon(Rec& r, int g, int i, QPoint d)
{
    QVector<QPoint>& pts = r.polygon[g][i].pts;
    for (const QPoint& q : qAsConst(pts)) {
        const long long x = static_cast<long long>(q.x()) + d.x();
        const long long y = static_cast<long long>(q.y()) + d.y();
        if (x < 3 || y < 3 || x >= gShowW - 3 || y >= gShowH - 3)
            return false;
    }
    for (QPoint& q : pts)
        q += d;
    return true;
}

bool moveCircle(Rec& r, int g, int i, QPoint d)
{
    Circle& c = r.circle[g][i];
    c.rect.translate(d);
    CheckInRange(&c.rect, gShowW, gShowH, true);
    c.UpdateAll();
    return true;
}

const RoiShapes::Ops kRect = {RoiShape::Rect,        &RectOf::imageRect, &RectOf::selected,
                              &RectOf::select,       &RectOf::contains,  &RectOf::onHandle,
                              &RectOf::touchesHandle, &RectOf::renew,    &RectOf::boxCorner,
                              &twoCorners,            &moveRect};
const RoiShapes::Ops kPolygon = {RoiShape::Polygon,        &PolygonOf::imageRect, &PolygonOf::selected,
                                 &PolygonOf::select,       &PolygonOf::contains,  &PolygonOf::onHandle,
                                 &PolygonOf::touchesHandle, &PolygonOf::renew,    &firstPoint,
                                 &points,                   &movePolygon};
const RoiShapes::Ops kCircle = {RoiShape::Circle,        &CircleOf::imageRect, &CircleOf::selected,
                                &CircleOf::select,       &CircleOf::contains,  &CircleOf::onHandle,
                                &CircleOf::touchesHandle, &CircleOf::renew,    &CircleOf::boxCorner,
                                &radiiAndCentre,          &moveCircle};

}  // namespace

const RoiShapes::Ops* RoiShapes::of(int kind)
{
    switch (kind) {
    case RoiShape::Rect:
        return &kRect;
    case RoiShape::Polygon:
        return &kPolygon;
    case RoiShape::Circle:
        return &kCircle;
    default:
        return nullptr;
    }
}

const RoiShapes::Ops* RoiShapes::of(const CammerSingleton& rec, int step, int i)
{
    if (step < 0 || step >= Rec::kSteps || i < 0 || i >= Rec::kRois)
        return nullptr;
    return of(rec.kind[step * Rec::kRois + i]);
}
