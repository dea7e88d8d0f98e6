#include "colorbutton.h"

#include "globals.h"

#include "publictools_widget.h"

#include <QEvent>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QStyledItemDelegate>

namespace {
const QRegularExpression& fontSizeRule()
{
    static const QRegularExpression re(QStringLiteral("font-size:\\s*(\\d+)px"));
    return re;
}

// The text broken into two lines at the blank nearest its middle; text
// without blanks is broken between characters only where the script allows
// it (Chinese, Japanese), never inside a word. Empty for text that cannot
// be broken.
QString splitInTwo(const QString& text)
{
    const QString t = text.trimmed();
    if (t.size() < 2)
        return QString();
    const int mid = t.size() / 2;
    int best = -1;
    for (int i = 0; i < t.size(); ++i)
        if (t.at(i).isSpace() && (best < 0 || qAbs(i - mid) < qAbs(best - mid)))
            best = i;
    if (best >= 0)
        return t.left(best).trimmed() + QLatin1Char('\n') + t.mid(best + 1).trimmed();
    // Between two words of Chinese or Japanese (an ideograph, a kana word).
    const QStringList words = unbreakableWords(t);
    int cut = -1;
    for (int i = 1; i < t.size(); ++i)
        if ((cut < 0 || qAbs(i - mid) < qAbs(cut - mid)) && unbreakableWords(t.left(i)) + unbreakableWords(t.mid(i)) == words)
            cut = i;
    if (cut < 0)
        return QString();
    return t.left(cut) + QLatin1Char('\n') + t.mid(cut);
}

}  // namespace

int ColorButton::fontPixelsFor(int style, int lan)
{
    const bool chinese = (lan == 0);
    switch (style) {
    case 3:
        return chinese ? 27 : 22;
    case 4:
        return chinese ? 33 : 30;
    default:
        return 25;
    }
}

ColorButton::ColorButton(const QString& text, QWidget* parent, int style_)
    : QPushButton(text, parent)
    , style(style_)
{
    setStyleSheet(QStringLiteral(
        "QPushButton{outline:0px;border:none;font-size:%1px;color:white;background-color:#322f2f;border-radius: 8px;}"
        "QPushButton:checked{color:#ffffff;background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ed9d11, "
        "stop:1 #ff9900);}QPushButton:pressed{color:#ffffff;background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
        "stop:0 #ed9d11, stop:1 #ff9900);}QPushButton:disabled {  background-color: gray;   color: white; }")
                      .arg(fontPixelsFor(style, gLan)));
    setAttribute(Qt::WA_StyledBackground);
}

void ColorButton::fitCaption()
{
    if (fitting_ || !isVisible())
        return;
    const QString sheet = styleSheet();
    if (sheet != fittedSheet_)
        ownSheet_ = sheet;   // the owner has set a sheet of its own since
    const QRegularExpressionMatch m = fontSizeRule().match(ownSheet_);
    if (!m.hasMatch())
        return;
    const int asked = m.captured(1).toInt();
    // Room for the rounded corners on both sides.
    const QSize box(width() - 10, height() - 2);
    int px = fittingPixelSize(font(), text(), box, asked);
    shown_ = QString();
    if (px < asked && !text().contains(QLatin1Char('\n'))) {
        const QString twoLines = splitInTwo(text());
        const int px2 = twoLines.isEmpty() ? 0 : fittingPixelSize(font(), twoLines, box, asked);
        if (px2 > px) {
            px = px2;
            shown_ = twoLines;
        }
    }
    QString target = ownSheet_;
    if (px != asked)
        target.replace(fontSizeRule(), QStringLiteral("font-size:%1px").arg(px));
    fittedSheet_ = target;
    if (target == sheet)
        return;
    fitting_ = true;
    setStyleSheet(target);
    fitting_ = false;
}

void ColorButton::showEvent(QShowEvent* e)
{
    QPushButton::showEvent(e);
    fitCaption();
}

void ColorButton::resizeEvent(QResizeEvent* e)
{
    QPushButton::resizeEvent(e);
    fitCaption();
}

void ColorButton::changeEvent(QEvent* e)
{
    QPushButton::changeEvent(e);
    if (e->type() == QEvent::StyleChange)
        fitCaption();
}

void ColorButton::paintEvent(QPaintEvent* e)
{
    // The caption may have changed since the last fit (setText is not virtual).
    fitCaption();
    if (shown_.isNull()) {
        QPushButton::paintEvent(e);
        return;
    }
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    opt.text = shown_;
    p.drawControl(QStyle::CE_PushButton, opt);
}

void ColorButton::SetRepeat()
{
    setAutoRepeat(true);
    setAutoRepeatDelay(300);
    setAutoRepeatInterval(50);
}

// ---------------------------------------------------------------------------

CheckBox::CheckBox(QWidget* parent, const QString& text)
    : QCheckBox(text, parent)
{
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(kCaptionPixels);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
    QSizePolicy sp(QSizePolicy::Preferred, QSizePolicy::Minimum);
    sp.setHeightForWidth(true);
    setSizePolicy(sp);
    setMinimumHeight(kTouchHeight);
}

QRect CheckBox::boxRect() const
{
    return QRect(4, (height() - kBox) / 2, kBox, kBox);
}

QRect CheckBox::captionRect() const
{
    const int x = kBox + 16;
    return QRect(x, 2, qMax(0, width() - x - 4), qMax(0, height() - 4));
}

QFont CheckBox::captionFont() const
{
    QFont f = font();
    const int asked = f.pixelSize() > 0 ? f.pixelSize() : kCaptionPixels;
    f.setPixelSize(fittingWrappedPixelSize(f, text(), captionRect().size(), asked));
    return f;
}

QSize CheckBox::sizeHint() const
{
    const QFontMetrics fm(font());
    const int w = kBox + 20 + fm.horizontalAdvance(text());
    return QSize(w, qMax(kTouchHeight, fm.height() + 8));
}

QSize CheckBox::minimumSizeHint() const
{
    // Room for the longest word, so that a caption wraps between words.
    const QFontMetrics fm(font());
    int word = 0;
    for (const QString& w : unbreakableWords(text()))
        word = qMax(word, fm.horizontalAdvance(w));
    return QSize(kBox + 20 + word, kTouchHeight);
}

int CheckBox::heightForWidth(int w) const
{
    const QFontMetrics fm(font());
    const QSize need = fm.size(0, wrapAtWords(text(), fm, qMax(1, w - kBox - 20)));
    return qMax(kTouchHeight, need.height() + 8);
}

bool CheckBox::hitButton(const QPoint& pos) const
{
    // The caption is part of the box: a tap anywhere on it toggles.
    return rect().contains(pos);
}

void CheckBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect box = boxRect();
    p.setPen(QPen(QColor(QStringLiteral("#DCE4EC")), 3));
    p.setBrush(isChecked() ? QColor(QStringLiteral("#ff9900")) : QColor(QStringLiteral("#322f2f")));
    p.drawRoundedRect(QRectF(box).adjusted(1.5, 1.5, -1.5, -1.5), 6, 6);
    if (isChecked()) {
        QPainterPath tick;
        tick.moveTo(box.left() + kBox * 0.22, box.top() + kBox * 0.52);
        tick.lineTo(box.left() + kBox * 0.42, box.top() + kBox * 0.74);
        tick.lineTo(box.left() + kBox * 0.80, box.top() + kBox * 0.28);
        p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    }
    const QFont f = captionFont();
    p.setFont(f);
    p.setPen(isEnabled() ? palette().color(QPalette::WindowText) : QColor(Qt::gray));
    // Broken between words only: Qt's own wrap would break a kana word.
    p.drawText(captionRect(), Qt::AlignLeft | Qt::AlignVCenter, wrapAtWords(text(), QFontMetrics(f), captionRect().width()));
}

// ---------------------------------------------------------------------------

TouchRowDelegate::TouchRowDelegate(const QWidget* owner, int height, QObject* parent)
    : QStyledItemDelegate(parent)
    , owner_(owner)
    , height_(height)
{
}

QFont TouchRowDelegate::rowFont() const
{
    QFont f = owner_ ? owner_->font() : QFont(QStringLiteral("wqy-microhei"));
    if (QFontInfo(f).pixelSize() < kMinRowPixels)
        f.setPixelSize(kMinRowPixels);
    return f;
}

void TouchRowDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    // The list of a drop-down is a window of its own and does not inherit
    // the owner's font: its rows are drawn at that font here.
    option->font = rowFont();
    option->fontMetrics = QFontMetrics(option->font);
}

QSize TouchRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(qMax(s.height(), height_));
    return s;
}

void useTouchRows(QComboBox* box, int height)
{
    if (!box)
        return;
    const int h = qMax(height, TouchRowDelegate::kMinRowHeight);
    if (auto* old = dynamic_cast<TouchRowDelegate*>(box->view()->itemDelegate()))
        old->setHeight(h);
    else
        box->view()->setItemDelegate(new TouchRowDelegate(box, h, box->view()));
    box->view()->setFont(static_cast<TouchRowDelegate*>(box->view()->itemDelegate())->rowFont());
}

// ---------------------------------------------------------------------------

ComboBox::ComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setView(new QListView(this));
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(kTextPixels);
    setFont(f);
    setMinimumHeight(TouchRowDelegate::kMinRowHeight);
    setItemHeight(TouchRowDelegate::kMinRowHeight);
    installEventFilter(this);
}

void ComboBox::setItemHeight(int h)
{
    itemHeight_ = qMax(h, int(TouchRowDelegate::kMinRowHeight));
    useTouchRows(this, itemHeight_);
    setStyleSheet(QStringLiteral("QComboBox QAbstractItemView::item{height:%1px;}").arg(itemHeight_)
                  + QStringLiteral("QComboBox::tab-bar{border-width:0px;}"));
}

void ComboBox::changeEvent(QEvent* e)
{
    QComboBox::changeEvent(e);
    // A font set by the owner reaches the drop-down's rows as well.
    if (e->type() == QEvent::FontChange && view())
        useTouchRows(this, itemHeight_);
}

bool ComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && event->type() == QEvent::MouseButtonPress)
        emit clicked();
    return QComboBox::eventFilter(watched, event);
}
