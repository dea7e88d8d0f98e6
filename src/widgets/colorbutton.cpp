#include "colorbutton.h"

#include "globals.h"

#include "publictools_widget.h"

#include <QEvent>
#include <QListView>
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

// The text broken into two lines at the blank nearest its middle, or, for
// text without blanks (Chinese, Japanese), in its middle; empty for text too
// short to break.
QString splitInTwo(const QString& text)
{
    const QString t = text.trimmed();
    if (t.size() < 4)
        return QString();
    const int mid = t.size() / 2;
    int best = -1;
    for (int i = 0; i < t.size(); ++i)
        if (t.at(i).isSpace() && (best < 0 || qAbs(i - mid) < qAbs(best - mid)))
            best = i;
    if (best >= 0)
        return t.left(best).trimmed() + QLatin1Char('\n') + t.mid(best + 1).trimmed();
    return t.left(mid) + QLatin1Char('\n') + t.mid(mid);
}

// Rows of the drop-down list at the combo box's item height.
class RowHeightDelegate : public QStyledItemDelegate {
public:
    RowHeightDelegate(int height, QObject* parent)
        : QStyledItemDelegate(parent)
        , height_(height)
    {
    }
    void setHeight(int h) { height_ = h; }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(qMax(s.height(), height_));
        return s;
    }

private:
    int height_;
};
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
    f.setPixelSize(28);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::yellow);
    setPalette(pal);
    setStyleSheet(QStringLiteral("QCheckBox::indicator {width: %1px; height: %2px;} "
                                 "QCheckBox::indicator:checked {border-radius:5px; background:white; "
                                 "border-image: url(./images/check.png);}")
                      .arg(32)
                      .arg(32));
}

// ---------------------------------------------------------------------------

ComboBox::ComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setView(new QListView(this));
    installEventFilter(this);
}

void ComboBox::setItemHeight(int h)
{
    itemHeight_ = h;
    if (auto* d = dynamic_cast<RowHeightDelegate*>(view()->itemDelegate()))
        d->setHeight(h);
    else
        view()->setItemDelegate(new RowHeightDelegate(h, view()));
    setStyleSheet(QStringLiteral("QComboBox QAbstractItemView::item{height:%1px;}").arg(h)
                  + QStringLiteral("QComboBox::tab-bar{border-width:0px;}"));
}

bool ComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && event->type() == QEvent::MouseButtonPress)
        emit clicked();
    return QComboBox::eventFilter(watched, event);
}
