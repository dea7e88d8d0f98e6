#include "iostatus.h"

#include "globals.h"
#include "lanstr.h"
#include "productioncounters.h"

#include <algorithm>
#include "publictools_widget.h"
#include "rivurevezi.h"
#include "wizardpara.h"

#include <QMutexLocker>
#include <QPainter>

namespace {
// Sized to be read from a step back on the monitor's 1920 x 1080 screen.
constexpr int kRowHeight = 44;
constexpr int kLamp = 20;
constexpr int kTitleWidth = 90;
constexpr int kTextPixels = 22;
constexpr int kSmallestTextPixels = 12;
constexpr int kStatePixels = 26;

}  // namespace

IOStatusWidget::IOStatusWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(3 * kRowHeight + 12);
    connect(&timer_, &QTimer::timeout, this, &IOStatusWidget::refresh);
    timer_.start(200);
}

void IOStatusWidget::refresh()
{
    int in = 0;
    int out = 0;
    if (pMutexIO) {
        QMutexLocker lock(pMutexIO);
        in = gDataIn;
        out = gDataOut;
    }
    in_ = in;
    out_ = out;
    update();
}

QRect IOStatusWidget::lampCell(int row, int i) const
{
    const int cell = qMax(1, (width() - kTitleWidth - 6) / 10);
    return QRect(kTitleWidth + i * cell, 4 + row * kRowHeight, cell, kRowHeight);
}

QString IOStatusWidget::lampName(bool input, int i)
{
    // In the multiple-detection mode the display names (words 251-266, set in
    // the I/O names dialog) name inputs 1-9 (gaName 0-8) and outputs 1-9
    // (gaName 9-17); in the other modes the mode's names stand on the inputs.
    // The texts carry blanks that once aligned them; the panel aligns itself.
    const bool custom = gpWPara && gpWPara->words[Word::Mode] == DetectMode::MultiStep;
    const int perRow = custom ? 9 : 8;
    const int entry = i >= perRow ? -1 : input ? i : (custom ? 9 + i : -1);
    if (entry >= 0 && !gaName[entry].trimmed().isEmpty())
        return gaName[entry].trimmed();
    return QString::number(i + 1);
}

QRect IOStatusWidget::lampTextRect(int row, int i) const
{
    // As wide as the cell allows with a gap before the next lamp: a kana
    // word of five at 16 px must fit.
    return lampCell(row, i).adjusted(kLamp + 3, 0, -6, 0);
}

QRect IOStatusWidget::lampTextNeeds(const QString& name, const QFont& font) const
{
    const QRect room = lampTextRect(0, 0);
    const QFontMetrics fm(font);
    // Every word on one line: a word wider than the room needs its width.
    int widest = 0;
    for (const QString& word : unbreakableWords(name))
        widest = qMax(widest, fm.horizontalAdvance(word));
    const QSize lines = fm.size(0, wrapAtWords(name, fm, room.width()));
    return QRect(0, 0, qMax(widest, lines.width()), lines.height());
}

QFont IOStatusWidget::lampFont(const QString& name) const
{
    // The name shares its cell with the lamp: a long one goes on two lines
    // (between words, or between characters in Chinese and Japanese) and
    // only then is drawn smaller, rather than running into the next lamp.
    const QSize room = lampTextRect(0, 0).size();
    QFont f = screenFont(kTextPixels);
    for (int px = kTextPixels; px >= kSmallestTextPixels; --px) {
        f.setPixelSize(px);
        const QRect need = lampTextNeeds(name, f);
        if (need.width() <= room.width() && need.height() <= room.height())
            return f;
    }
    return f;
}

QFont IOStatusWidget::rowFont(bool inputs) const
{
    // One size for the whole row, the one its longest name needs: names of
    // one row in sizes of their own read as unequal signals.
    QFont f = lampFont(lampName(inputs, 0));
    for (int i = 1; i < 10; ++i) {
        const QFont g = lampFont(lampName(inputs, i));
        if (g.pixelSize() < f.pixelSize())
            f = g;
    }
    return f;
}

QString IOStatusWidget::stateLine() const
{
    if (!gpWin)
        return QString();
    const int r = gpWin->cycle().runState;
    const int d = gpWin->cycle().detectState;
    const QString run = r == RunState::Running ? lanStr(681)
        : r == RunState::Training              ? lanStr(682)
        : r == RunState::Stopped               ? lanStr(683)
                                               : QString();
    // OK and NG read the same in every language; region setting is named.
    static const char* const kDet[] = {"-", "OK", "NG"};
    const QString det = d == DetectState::RegionSetting
        ? lanStr(45)
        : QString::fromLatin1(d >= DetectState::Idle && d <= DetectState::NgLatched ? kDet[d] : "?");
    return QStringLiteral("%1  %2  %3").arg(run, det, lanStr(684).arg(gpWin->cycle().runStep + 1));
}

QString IOStatusWidget::countLine() const
{
    // The same cycle counters the camera headers show, so that the numbers
    // on one screen agree: every camera sees every cycle.
    const CounterValues& counters = ProductionCounters::get().values();
    const int all = *std::max_element(counters.allCycle.begin(), counters.allCycle.end());
    const int open = gpWin ? gpWin->cycle().openNgCycles() : 0;
    return lanStr(685).arg(all).arg(CycleStatus::ngCycleText(counters.syncNgCycle, open));
}

void IOStatusWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(32, 36, 44));
    auto row = [&](int r, int word, const QString& title, bool inputs) {
        p.setFont(screenFont(kTextPixels));
        p.setPen(Qt::white);
        p.drawText(QRect(6, 4 + r * kRowHeight, kTitleWidth - 8, kRowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   title);
        const QFont names = rowFont(inputs);
        for (int i = 0; i < 10; ++i) {
            const QRect cell = lampCell(r, i);
            const bool on = word >= 0 && ((word >> i) & 1);
            p.setBrush(on ? (inputs ? QColor(80, 220, 90) : QColor(255, 170, 40)) : QColor(70, 70, 70));
            p.setPen(Qt::black);
            p.drawEllipse(cell.x(), cell.center().y() - kLamp / 2, kLamp, kLamp);
            const QString name = lampName(inputs, i);
            p.setFont(names);
            p.setPen(QColor(210, 210, 210));
            p.save();
            p.setClipRect(lampTextRect(r, i));
            // Broken between words only, never inside a kana word as Qt's wrap would.
            p.drawText(lampTextRect(r, i), Qt::AlignLeft | Qt::AlignVCenter,
                       wrapAtWords(name, QFontMetrics(names), lampTextRect(r, i).width()));
            p.restore();
        }
    };
    row(0, in_, lanStr(679), true);
    row(1, out_, lanStr(680), false);

    p.setPen(Qt::white);
    p.setFont(screenFont(kStatePixels));
    const QRect line(6, 4 + 2 * kRowHeight, width() - 12, kRowHeight);
    p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, stateLine());
    p.drawText(line, Qt::AlignRight | Qt::AlignVCenter, countLine());
}
