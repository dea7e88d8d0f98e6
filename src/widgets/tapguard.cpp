#include "tapguard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPointer>
#include <QRect>
#include <QWidget>

namespace tapguard {

namespace {

class Guard : public QObject {
public:
    QPointer<QWidget> page;
    QPointer<QWidget> window;
    QRect area;   // global coordinates
    qint64 until = 0;
    bool releaseOwed = false;
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

    bool eventFilter(QObject* watched, QEvent* e) override
    {
        const QEvent::Type t = e->type();
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
        if (!window || w->window() != window || now() >= until)
            return false;
        if (page && (w == page || page->isAncestorOf(w)) && page->isVisible())
            return false;
        const QPoint at = static_cast<QMouseEvent*>(e)->globalPos();
        if (!area.contains(at))
            return false;
        qInfo("a tap on the place of a page that had just closed was not taken");
        releaseOwed = true;
        ++count;
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

void pageClosed(QWidget* page)
{
    if (!page || !qApp)
        return;
    Guard& g = guard();
    g.page = page;
    g.window = page->window();
    g.area = QRect(page->mapToGlobal(QPoint(0, 0)), page->size());
    g.until = g.now() + kGuardMs;
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
