#include "tapguard.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPointer>
#include <QRect>
#include <QVector>
#include <QWidget>

namespace tapguard {

namespace {

const char* const kPageProperty = "tapguardPage";

class Guard : public QObject {
public:
    // One surface that closed: a box closing over the settings screen and
    // the screen closing after it each keep their own area. A dialog
    // destroyed as soon as it has closed is guarded all the same.
    struct Closed {
        QPointer<QWidget> surface;
        QRect area;   // global coordinates
        qint64 until = 0;
        // The windows shown when it closed: what it uncovers lies on them.
        // A window shown afterwards (the next question) takes its taps.
        QVector<QPointer<QWidget>> uncovered;
    };
    QVector<Closed> closed;
    bool releaseOwed = false;
    bool hooked = false;
    int count = 0;
    std::function<qint64()> clock;

    qint64 now() const
    {
        if (clock)
            return clock();
        static QElapsedTimer steady;
        if (!steady.isValid())
            steady.start();
        return steady.elapsed();
    }

    void arm(QWidget* surface)
    {
        const qint64 t = now();
        Closed c{surface, QRect(surface->mapToGlobal(QPoint(0, 0)), surface->size()), t + kGuardMs, {}};
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != surface && w->isVisible())
                c.uncovered.append(w);
        for (Closed& old : closed)
            if (old.surface == surface || old.until <= t) {
                old = c;
                return;
            }
        closed.append(c);
    }

    static bool closesByTap(const QWidget* w)
    {
        return (w->isWindow() && qobject_cast<const QDialog*>(w)) || w->property(kPageProperty).toBool();
    }

    bool swallows(QWidget* w, const QPoint& at)
    {
        bool inside = false;
        qint64 t = -1;
        for (const Closed& c : closed) {
            if (!c.area.contains(at))
                continue;
            if (t < 0)
                t = now();
            if (t >= c.until)
                continue;
            // The surface shown again takes its own taps.
            if (c.surface && c.surface->isVisible() && (w == c.surface || c.surface->isAncestorOf(w)))
                return false;
            inside = inside || c.uncovered.contains(w->window());
        }
        return inside;
    }

    bool eventFilter(QObject* watched, QEvent* e) override
    {
        const QEvent::Type t = e->type();
        if (t == QEvent::Hide) {
            auto* w = qobject_cast<QWidget*>(watched);
            if (w && hooked && !e->spontaneous() && closesByTap(w))
                arm(w);
            return false;
        }
        if (t != QEvent::MouseButtonPress && t != QEvent::MouseButtonDblClick && t != QEvent::MouseButtonRelease)
            return false;
        auto* w = qobject_cast<QWidget*>(watched);
        if (!w)
            return false;
        if (t == QEvent::MouseButtonRelease) {
            if (!releaseOwed)
                return false;
            releaseOwed = false;
            return true;
        }
        if (closed.isEmpty() || !swallows(w, static_cast<QMouseEvent*>(e)->globalPos())) {
            // A release owed to a swallowed press that never came (its
            // window went away) must not take this tap's release.
            if (t == QEvent::MouseButtonPress)
                releaseOwed = false;
            return false;
        }
        // Qt follows the second press of a double click with a double-click
        // event: one tap, counted once.
        if (!(t == QEvent::MouseButtonDblClick && releaseOwed)) {
            qInfo("a tap on the place of a page that had just closed was not taken");
            ++count;
        }
        releaseOwed = true;
        return true;
    }
};

Guard& guard()
{
    // Owned by the application, which filters every press through it.
    static QPointer<Guard> g;
    if (!g) {
        g = new Guard;
        g->setParent(qApp);
        qApp->installEventFilter(g);
    }
    return *g;
}

}  // namespace

void install()
{
    if (qApp)
        guard().hooked = true;
}

void guardPage(QWidget* page)
{
    if (!page)
        return;
    page->setProperty(kPageProperty, true);
    install();
}

void pageClosed(QWidget* page)
{
    if (!page || !qApp)
        return;
    Guard& g = guard();
    g.arm(page);
    g.releaseOwed = false;
}

void setClock(std::function<qint64()> clock)
{
    if (qApp)
        guard().clock = std::move(clock);
}

int swallowed()
{
    return qApp ? guard().count : 0;
}

}  // namespace tapguard
