#include "tapguard.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QMouseEvent>
#include <QPoint>
#include <QPointer>
#include <QVector>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace tapguard {

namespace {

const char* const kPageProperty = "tapguardPage";
// Closing taps remembered at once: a box closing over the settings screen
// and the screen closing after it keep one each; more is no double tap.
constexpr int kClosedKept = 8;
// Surfaces that came up by themselves, watched at once (hidden ones go).
constexpr int kCameUpKept = 8;
// Recent taps whose lag between making and reading maps the program's
// clock onto the taps' own.
constexpr int kLagsKept = 8;
// A tap made this long before a surface came up is on another clock.
constexpr qint64 kOtherClockMs = 60000;

// Posted behind each tap: once it arrives, the loop has taken up its queue
// again and the tap, with what its handling queued, is over.
const QEvent::Type kTapHandled = static_cast<QEvent::Type>(QEvent::registerEventType());

class TapHandled : public QEvent {
public:
    explicit TapHandled(quint64 serial) : QEvent(kTapHandled), serial(serial) {}
    const quint64 serial;
};

// When an input was made (its event's timestamp, 0: none) and when the
// program read it.
struct When {
    ulong made = 0;
    qint64 read = 0;
};

// Milliseconds from `a` to the later `b`: by the times the inputs were made
// when both carry one on the same clock (a later one is never earlier),
// else by the times they were read.
qint64 between(const When& a, const When& b)
{
    if (a.made != 0 && b.made != 0 && b.made >= a.made)
        return qint64(b.made - a.made);
    return b.read - a.read;
}

class Guard : public QObject {
public:
    // The tap that closed a surface.
    struct Closed {
        QPoint at;   // global coordinates
        When when;
    };
    QVector<Closed> closed;
    // A surface that came up by itself, and when.
    struct CameUp {
        QPointer<QWidget> surface;
        When shown;   // made: on the taps' clock (0: not known)
    };
    QVector<CameUp> cameUp;
    // Reading time less making time of the latest taps that carry one.
    QVector<qint64> lags;
    ulong lastMade = 0;
    // The tap being handled, if any.
    bool tapLive = false;
    QPoint tapAt;
    When tapWhen;
    quint64 tapSerial = 0;
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

    void arm()
    {
        if (!tapLive)
            return;
        const Closed c{tapAt, tapWhen};
        for (Closed& old : closed)
            if (old.at == c.at) {
                old = c;
                return;
            }
        if (closed.size() >= kClosedKept)
            closed.removeFirst();
        closed.append(c);
    }

    static bool closesByTap(const QWidget* w)
    {
        if (w->isWindow() && (qobject_cast<const QDialog*>(w) || w->windowType() == Qt::Popup))
            return true;
        return w->property(kPageProperty).toBool();
    }

    bool swallows(const QPoint& at, const When& when) const
    {
        for (const Closed& c : closed) {
            const QPoint d = at - c.at;
            if (qint64(d.x()) * d.x() + qint64(d.y()) * d.y() > qint64(kRadiusPx) * kRadiusPx)
                continue;
            if (between(c.when, when) < kGuardMs)
                return true;
        }
        return false;
    }

    // What the taps' clock read at the reading time `read`: the smallest
    // recent lag is the one least delayed by a busy program.
    ulong madeAt(qint64 read) const
    {
        if (lags.isEmpty())
            return 0;
        const qint64 made = read - *std::min_element(lags.begin(), lags.end());
        return made > 0 ? ulong(made) : 0;
    }

    void noteClock(const When& when)
    {
        if (when.made == 0)
            return;
        // A clock that went back is another one: what it told is void.
        if (when.made < lastMade)
            lags.clear();
        lastMade = when.made;
        if (lags.size() >= kLagsKept)
            lags.removeFirst();
        lags.append(when.read - qint64(when.made));
    }

    // The widget a press at `at` reaches: the watched one, or for a window
    // the widget lying there.
    static QWidget* reached(QObject* watched, bool atWindow, const QPoint& at)
    {
        if (!atWindow)
            return static_cast<QWidget*>(watched);
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->windowHandle() != watched)
                continue;
            QWidget* hit = top->childAt(top->mapFromGlobal(at));
            return hit ? hit : top;
        }
        return nullptr;
    }

    // A press on a surface that came up by itself less than kGuardMs
    // before it was made.
    bool tooEarly(QObject* watched, bool atWindow, const QPoint& at, const When& when)
    {
        cameUp.erase(std::remove_if(cameUp.begin(), cameUp.end(),
                                    [](const CameUp& c) { return !c.surface || !c.surface->isVisible(); }),
                     cameUp.end());
        if (cameUp.isEmpty())
            return false;
        QWidget* hit = reached(watched, atWindow, at);
        if (!hit)
            return false;
        for (const CameUp& c : cameUp) {
            if (hit != c.surface && !c.surface->isAncestorOf(hit))
                continue;
            qint64 since = when.read - c.shown.read;
            if (when.made != 0 && c.shown.made != 0) {
                const qint64 made = qint64(when.made) - qint64(c.shown.made);
                if (made > -kOtherClockMs)
                    since = made;
            }
            if (since < kGuardMs)
                return true;
        }
        return false;
    }

    // A press, double click or release taken: what hides while it is
    // handled was closed by it.
    void noteTap(const QPoint& at, const When& when)
    {
        tapLive = true;
        tapAt = at;
        tapWhen = when;
        ++tapSerial;
        QCoreApplication::postEvent(this, new TapHandled(tapSerial), Qt::LowEventPriority);
    }

    void customEvent(QEvent* e) override
    {
        if (e->type() == kTapHandled && static_cast<TapHandled*>(e)->serial == tapSerial)
            tapLive = false;
    }

    bool eventFilter(QObject* watched, QEvent* e) override
    {
        const QEvent::Type t = e->type();
        if (t == QEvent::Hide) {
            auto* w = qobject_cast<QWidget*>(watched);
            if (w && hooked && !e->spontaneous() && closesByTap(w))
                arm();
            return false;
        }
        if (t != QEvent::MouseButtonPress && t != QEvent::MouseButtonDblClick && t != QEvent::MouseButtonRelease)
            return false;
        // A tap from the screen comes first to the widgets' window, which
        // hands it to the widget beneath; QApplication moves the keyboard
        // focus to that widget before any filter sees the widget's copy (a
        // field beneath would take the focus, a password field would empty).
        // So a tap to be swallowed is swallowed at the window already. Every
        // other decision is left to the widget's copy, which also comes alone
        // (sent to a widget directly, or a press a closing drop-down hands on).
        const bool atWindow = watched->isWindowType();
        if (atWindow ? !watched->inherits("QWidgetWindow") : !qobject_cast<QWidget*>(watched))
            return false;
        const auto* m = static_cast<QMouseEvent*>(e);
        const QPoint at = m->globalPos();
        const When when{m->timestamp(), now()};
        noteClock(when);
        if (t == QEvent::MouseButtonRelease) {
            if (!releaseOwed) {
                if (!atWindow)
                    noteTap(at, when);
                return false;
            }
            releaseOwed = false;
            return true;
        }
        const bool secondTap = !closed.isEmpty() && swallows(at, when);
        if (!secondTap && !tooEarly(watched, atWindow, at, when)) {
            if (atWindow)
                return false;
            // A release owed to a swallowed press that never came (its
            // window went away) must not take this tap's release.
            if (t == QEvent::MouseButtonPress)
                releaseOwed = false;
            // A tap elsewhere comes between: what follows is no second tap.
            closed.clear();
            noteTap(at, when);
            return false;
        }
        // Qt follows the second press of a double click with a double-click
        // event: one tap, counted once.
        if (!(t == QEvent::MouseButtonDblClick && releaseOwed)) {
            if (secondTap)
                qInfo("the second tap of a double tap on what had just closed was not taken");
            else
                qInfo("a tap made as a page came up by itself was not taken");
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
    if (!g.hooked)
        return;
    g.arm();
    g.releaseOwed = false;
}

void cameUp(QWidget* surface)
{
    if (!surface || !qApp)
        return;
    Guard& g = guard();
    const qint64 read = g.now();
    const Guard::CameUp c{surface, When{g.madeAt(read), read}};
    for (Guard::CameUp& old : g.cameUp)
        if (old.surface == surface) {
            old = c;
            return;
        }
    if (g.cameUp.size() >= kCameUpKept)
        g.cameUp.removeFirst();
    g.cameUp.append(c);
}

void wakingTouch(const QPoint& globalAt, ulong made, bool releaseFollows)
{
    if (!qApp)
        return;
    Guard& g = guard();
    const When when{made, g.now()};
    g.noteClock(when);
    g.closed.clear();
    g.closed.append(Guard::Closed{globalAt, when});
    if (releaseFollows)
        g.releaseOwed = true;
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
