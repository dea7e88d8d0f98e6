// mkskin <folder>: draws every skin picture the program loads from ./images/
// into <folder>. The pictures are simple vector drawings (gradients, lamps,
// arrows, symbols) at the sizes the screens show them.
#include "skinpictures.h"

#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

using Drawer = std::function<void(QPainter&, const QRectF&)>;

const QColor kAccent(0x00, 0xBC, 0xD4);
const QColor kDeep(0x0D, 0x47, 0xA1);
const QColor kLight(0xEC, 0xEF, 0xF1);
const QColor kDark(0x26, 0x32, 0x38);

QPen pen(const QColor& c, qreal w)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A filled triangle pointing in `dir` degrees (0 = right, 90 = up).
void arrow(QPainter& p, const QRectF& r, qreal dir, const QColor& c)
{
    const QPointF m = r.center();
    const qreal s = std::min(r.width(), r.height()) * 0.34;
    QPainterPath path;
    for (int i = 0; i < 3; ++i) {
        const qreal a = qDegreesToRadians(-dir + i * 120.0);
        const qreal k = i == 0 ? 1.0 : 0.8;
        const QPointF pt(m.x() + std::cos(a) * s * k, m.y() + std::sin(a) * s * k);
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(path);
}

void roundButton(QPainter& p, const QRectF& r, const QColor& top, const QColor& bottom)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(pen(bottom.darker(140), 2));
    p.setBrush(g);
    const qreal rad = std::min(r.width(), r.height()) * 0.22;
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), rad, rad);
}

void iconPlate(QPainter& p, const QRectF& r)
{
    roundButton(p, r.adjusted(2, 2, -2, -2), QColor(0x54, 0x6E, 0x7A), QColor(0x37, 0x47, 0x4F));
}

void lamp(QPainter& p, const QRectF& r, const QColor& c, bool lit)
{
    const QRectF d = r.adjusted(3, 3, -3, -3);
    QRadialGradient g(d.center() - QPointF(d.width() * 0.15, d.height() * 0.15), d.width() * 0.6);
    g.setColorAt(0, lit ? c.lighter(170) : QColor(0x90, 0x90, 0x90));
    g.setColorAt(0.6, lit ? c : QColor(0x5A, 0x5A, 0x5A));
    g.setColorAt(1, lit ? c.darker(160) : QColor(0x30, 0x30, 0x30));
    p.setPen(pen(QColor(0x20, 0x20, 0x20), 2));
    p.setBrush(g);
    p.drawEllipse(d);
}

void magnifier(QPainter& p, const QRectF& r, bool plus)
{
    iconPlate(p, r);
    const qreal s = r.width();
    const QRectF lens(r.left() + s * 0.2, r.top() + s * 0.2, s * 0.45, s * 0.45);
    p.setPen(pen(kLight, s * 0.07));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(lens);
    p.drawLine(lens.center() + QPointF(s * 0.16, s * 0.16), QPointF(r.left() + s * 0.8, r.top() + s * 0.8));
    const QPointF c = lens.center();
    p.setPen(pen(kLight, s * 0.05));
    p.drawLine(c - QPointF(s * 0.11, 0), c + QPointF(s * 0.11, 0));
    if (plus)
        p.drawLine(c - QPointF(0, s * 0.11), c + QPointF(0, s * 0.11));
}

void eye(QPainter& p, const QRectF& r, const QColor& c, bool slashed)
{
    const qreal w = r.width();
    const qreal h = std::min(r.height(), w * 0.7);
    const QRectF e(r.left() + w * 0.08, r.center().y() - h * 0.35, w * 0.84, h * 0.7);
    QPainterPath lid;
    lid.moveTo(e.left(), e.center().y());
    lid.quadTo(e.center().x(), e.top() - e.height() * 0.4, e.right(), e.center().y());
    lid.quadTo(e.center().x(), e.bottom() + e.height() * 0.4, e.left(), e.center().y());
    p.setPen(pen(c, std::max<qreal>(1.5, w * 0.07)));
    p.setBrush(Qt::NoBrush);
    p.drawPath(lid);
    p.setBrush(c);
    const qreal pr = e.height() * 0.3;
    p.drawEllipse(e.center(), pr, pr);
    if (slashed) {
        p.setPen(pen(QColor(0xE5, 0x39, 0x35), std::max<qreal>(2, w * 0.09)));
        p.drawLine(QPointF(r.left() + w * 0.15, r.bottom() - r.height() * 0.2),
                   QPointF(r.right() - w * 0.15, r.top() + r.height() * 0.2));
    }
}

void tick(QPainter& p, const QRectF& r, const QColor& c)
{
    const qreal s = r.width();
    QPainterPath t;
    t.moveTo(r.left() + s * 0.2, r.top() + s * 0.52);
    t.lineTo(r.left() + s * 0.42, r.top() + s * 0.74);
    t.lineTo(r.left() + s * 0.8, r.top() + s * 0.28);
    p.setPen(pen(c, s * 0.12));
    p.setBrush(Qt::NoBrush);
    p.drawPath(t);
}

void checkBox(QPainter& p, const QRectF& r, bool checked)
{
    const QRectF b = r.adjusted(2, 2, -2, -2);
    p.setPen(pen(kLight, 2));
    p.setBrush(checked ? kAccent : QColor(0x42, 0x42, 0x42));
    p.drawRoundedRect(b, 5, 5);
    if (checked)
        tick(p, r, Qt::white);
}

QMap<QString, Drawer> drawers()
{
    QMap<QString, Drawer> d;
    d["logo.bmp"] = [](QPainter& p, const QRectF& r) {
        QLinearGradient g(r.topLeft(), r.bottomRight());
        g.setColorAt(0, kDeep);
        g.setColorAt(1, QColor(0x01, 0x57, 0x9B));
        p.fillRect(r, g);
        // A lens beside three rising bars: a camera that judges.
        const qreal h = r.height();
        const QPointF c(h * 0.6, h * 0.5);
        for (int i = 0; i < 3; ++i) {
            const qreal rad = h * (0.38 - i * 0.1);
            p.setPen(pen(i == 1 ? kAccent : kLight, h * 0.05));
            p.setBrush(i == 2 ? QBrush(kAccent) : QBrush(Qt::NoBrush));
            p.drawEllipse(c, rad, rad);
        }
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 3; ++i) {
            const qreal bh = h * (0.3 + 0.18 * i);
            p.setBrush(i == 2 ? kAccent : kLight);
            p.drawRoundedRect(QRectF(h * 1.25 + i * h * 0.45, h * 0.82 - bh, h * 0.3, bh), 3, 3);
        }
        p.setPen(pen(kLight, 2));
        p.drawLine(QPointF(h * 1.2, h * 0.86), QPointF(r.right() - h * 0.2, h * 0.86));
    };
    d["background.png"] = [](QPainter& p, const QRectF& r) {
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, QColor(0x2B, 0x3A, 0x4A));
        g.setColorAt(1, QColor(0x10, 0x18, 0x20));
        p.fillRect(r, g);
        p.setPen(QPen(QColor(255, 255, 255, 14), 1));
        for (qreal x = 0; x < r.width(); x += 40)
            p.drawLine(QPointF(x, 0), QPointF(x, r.height()));
        for (qreal y = 0; y < r.height(); y += 40)
            p.drawLine(QPointF(0, y), QPointF(r.width(), y));
    };
    d["title.png"] = [](QPainter& p, const QRectF& r) {
        QLinearGradient g(r.topLeft(), r.topRight());
        g.setColorAt(0, QColor(0x15, 0x65, 0xC0));
        g.setColorAt(1, kDeep);
        p.fillRect(r, g);
        QLinearGradient shine(r.topLeft(), r.bottomLeft());
        shine.setColorAt(0, QColor(255, 255, 255, 60));
        shine.setColorAt(0.5, QColor(255, 255, 255, 0));
        p.fillRect(r, shine);
        p.fillRect(QRectF(0, r.bottom() - 2, r.width(), 3), kAccent);
    };
    d["line.png"] = [](QPainter& p, const QRectF& r) {
        QLinearGradient g(r.topLeft(), r.topRight());
        g.setColorAt(0, QColor(0, 188, 212, 0));
        g.setColorAt(0.5, kAccent);
        g.setColorAt(1, QColor(0, 188, 212, 0));
        p.fillRect(r, g);
    };
    d["edit.png"] = [](QPainter& p, const QRectF& r) {
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, QColor(0x1C, 0x25, 0x2B));
        g.setColorAt(1, QColor(0x37, 0x47, 0x4F));
        p.setPen(pen(QColor(0x95, 0x95, 0x95), 2));
        p.setBrush(g);
        p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 8, 8);
    };
    d["slideru.png"] = [](QPainter& p, const QRectF& r) {
        roundButton(p, r, QColor(0x7C, 0x5C, 0xFF), QColor(0x5A, 0x31, 0xFF));
    };
    d["sliderd.png"] = [](QPainter& p, const QRectF& r) {
        roundButton(p, r, QColor(0xFF, 0xFF, 0xFF), QColor(0xCF, 0xD8, 0xDC));
    };
    d["slidert.png"] = [](QPainter& p, const QRectF& r) {
        roundButton(p, r, QColor(0xEC, 0xEF, 0xF1), QColor(0xC1, 0xCC, 0xD0));
        p.setPen(pen(QColor(0x78, 0x90, 0x9C), 1.5));
        for (int i = -1; i <= 1; ++i) {
            const qreal y = r.center().y() + i * 5;
            p.drawLine(QPointF(r.left() + 7, y), QPointF(r.right() - 7, y));
        }
    };
    d["buttonu.png"] = [](QPainter& p, const QRectF& r) { roundButton(p, r, kAccent.lighter(130), kAccent.darker(120)); };
    d["buttond.png"] = [](QPainter& p, const QRectF& r) { roundButton(p, r, kAccent.darker(160), kAccent.darker(120)); };
    d["OUT1.png"] = [](QPainter& p, const QRectF& r) { lamp(p, r, QColor(0x2E, 0xCC, 0x40), true); };
    d["OUT0.png"] = [](QPainter& p, const QRectF& r) { lamp(p, r, QColor(0x2E, 0xCC, 0x40), false); };
    d["Origin.png"] = [](QPainter& p, const QRectF& r) {
        iconPlate(p, r);
        const QPointF c = r.center();
        const qreal s = r.width();
        p.setPen(pen(kLight, s * 0.05));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, s * 0.22, s * 0.22);
        p.drawLine(c - QPointF(s * 0.32, 0), c + QPointF(s * 0.32, 0));
        p.drawLine(c - QPointF(0, s * 0.32), c + QPointF(0, s * 0.32));
        p.setBrush(kAccent);
        p.drawEllipse(c, s * 0.06, s * 0.06);
    };
    d["MoveUp.png"] = [](QPainter& p, const QRectF& r) { iconPlate(p, r); arrow(p, r, 90, kLight); };
    d["MoveDown.png"] = [](QPainter& p, const QRectF& r) { iconPlate(p, r); arrow(p, r, 270, kLight); };
    d["MoveLeft.png"] = [](QPainter& p, const QRectF& r) { iconPlate(p, r); arrow(p, r, 180, kLight); };
    d["MoveRight.png"] = [](QPainter& p, const QRectF& r) { iconPlate(p, r); arrow(p, r, 0, kLight); };
    d["EnlargeScale.png"] = [](QPainter& p, const QRectF& r) { magnifier(p, r, true); };
    d["ReductionScale.png"] = [](QPainter& p, const QRectF& r) { magnifier(p, r, false); };

    d["check.png"] = [](QPainter& p, const QRectF& r) { tick(p, r, kDark); };
    d["CheckBox1.png"] = [](QPainter& p, const QRectF& r) { checkBox(p, r, false); };
    d["CheckBox2.png"] = [](QPainter& p, const QRectF& r) { checkBox(p, r, true); };
    d["left.png"] = [](QPainter& p, const QRectF& r) { arrow(p, r, 180, kAccent); };
    d["right.png"] = [](QPainter& p, const QRectF& r) { arrow(p, r, 0, kAccent); };
    d["wait.png"] = [](QPainter& p, const QRectF& r) {
        const QPointF c = r.center();
        const qreal s = r.width();
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 12; ++i) {
            const qreal a = qDegreesToRadians(i * 30.0);
            QColor col = kAccent;
            col.setAlpha(40 + i * 18);
            p.setBrush(col);
            const QPointF pt(c.x() + std::cos(a) * s * 0.36, c.y() + std::sin(a) * s * 0.36);
            p.drawEllipse(pt, s * 0.06, s * 0.06);
        }
    };
    d["error.png"] = [](QPainter& p, const QRectF& r) {
        const QRectF c = r.adjusted(4, 4, -4, -4);
        p.setPen(pen(QColor(0xB7, 0x1C, 0x1C), 2));
        p.setBrush(QColor(0xE5, 0x39, 0x35));
        p.drawEllipse(c);
        const qreal k = c.width() * 0.22;
        p.setPen(pen(Qt::white, c.width() * 0.1));
        p.drawLine(c.center() + QPointF(-k, -k), c.center() + QPointF(k, k));
        p.drawLine(c.center() + QPointF(-k, k), c.center() + QPointF(k, -k));
    };
    d["hide.png"] = [](QPainter& p, const QRectF& r) { eye(p, r, kLight, true); };
    d["show.png"] = [](QPainter& p, const QRectF& r) { eye(p, r, kLight, false); };
    d["ShowHide.png"] = [](QPainter& p, const QRectF& r) { iconPlate(p, r); eye(p, r, kLight, true); };
    d["ShowHideChecked.png"] = [](QPainter& p, const QRectF& r) {
        roundButton(p, r.adjusted(2, 2, -2, -2), kAccent.lighter(120), kAccent.darker(130));
        eye(p, r, Qt::white, false);
    };
    d["Rotate.png"] = [](QPainter& p, const QRectF& r) {
        const qreal s = std::min(r.width(), r.height());
        const QRectF arc(r.center().x() - s * 0.32, r.center().y() - s * 0.32, s * 0.64, s * 0.64);
        p.setPen(pen(kLight, s * 0.09));
        p.setBrush(Qt::NoBrush);
        p.drawArc(arc, 60 * 16, 280 * 16);
        const QPointF tip(arc.center().x() + std::cos(qDegreesToRadians(60.0)) * arc.width() / 2,
                          arc.center().y() - std::sin(qDegreesToRadians(60.0)) * arc.height() / 2);
        arrow(p, QRectF(tip - QPointF(s * 0.25, s * 0.25), QSizeF(s * 0.5, s * 0.5)), 0, kLight);
    };
    d["wifi.png"] = [](QPainter& p, const QRectF& r) {
        const qreal s = r.width();
        const QPointF base(r.center().x(), r.bottom() - s * 0.15);
        p.setBrush(Qt::NoBrush);
        for (int i = 1; i <= 3; ++i) {
            const qreal rad = s * 0.22 * i;
            p.setPen(pen(kLight, s * 0.08));
            p.drawArc(QRectF(base - QPointF(rad, rad), QSizeF(rad * 2, rad * 2)), 45 * 16, 90 * 16);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(kLight);
        p.drawEllipse(base, s * 0.07, s * 0.07);
    };
    d["modify.png"] = [](QPainter& p, const QRectF& r) {
        const qreal s = r.width();
        p.save();
        p.translate(r.center());
        p.rotate(-45);
        p.setPen(pen(kDark, 1));
        p.setBrush(QColor(0xFF, 0xC1, 0x07));
        p.drawRect(QRectF(-s * 0.3, -s * 0.09, s * 0.5, s * 0.18));
        p.setBrush(QColor(0xF4, 0x8F, 0xB1));
        p.drawRect(QRectF(s * 0.2, -s * 0.09, s * 0.12, s * 0.18));
        QPainterPath nib;
        nib.moveTo(-s * 0.3, -s * 0.09);
        nib.lineTo(-s * 0.44, 0);
        nib.lineTo(-s * 0.3, s * 0.09);
        nib.closeSubpath();
        p.setBrush(kLight);
        p.drawPath(nib);
        p.restore();
    };
    return d;
}

bool drawOne(const QDir& out, const QMap<QString, Drawer>& all, const SkinPicture& pic)
{
    const QString name = QString::fromLatin1(pic.name);
    const auto it = all.find(name);
    if (it == all.end()) {
        std::fprintf(stderr, "mkskin: no drawing for %s\n", pic.name);
        return false;
    }
    const bool opaque = name.endsWith(QLatin1String(".bmp"));
    QImage img(pic.width, pic.height, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    img.fill(opaque ? Qt::black : Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        it.value()(p, QRectF(0, 0, pic.width, pic.height));
    }
    if (!img.save(out.filePath(name))) {
        std::fprintf(stderr, "mkskin: cannot write %s\n", qPrintable(out.filePath(name)));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkskin <folder>\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "mkskin: cannot create %s\n", argv[1]);
        return 1;
    }
    const QMap<QString, Drawer> all = drawers();
    bool ok = true;
    for (const SkinPicture& pic : kSkinPictures)
        ok = drawOne(out, all, pic) && ok;
    for (const SkinPicture& pic : kWidgetPictures)
        ok = drawOne(out, all, pic) && ok;
    return ok ? 0 : 1;
}
