#include "slider.h"

#include "colorbutton.h"
#include "edit.h"
#include "globals.h"
#include "publictools_widget.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>

#include <cmath>

namespace {
// Track length, fill offset and fill scale for a slider `w` pixels wide.
struct Track {
    explicit Track(int w)
        : length(qMax(0, w - 395))
        , offset(static_cast<int>(0.03 * length))
        , scale(static_cast<int>(0.93 * length))
    {
    }
    int length;
    int offset;
    int scale;
};
}  // namespace

Slider::Slider(int min, int max, int pageStep, int value, QWidget* parent, const QString& name)
    : QAbstractSlider(parent)
{
    setOrientation(Qt::Horizontal);
    setObjectName(name);
    setMinimum(min);
    setMaximum(max);
    setPageStep(pageStep);
    setValue(value);

    plusButton = new ColorButton(QStringLiteral("+ 1"), this, 3);
    plusButton->setFixedSize(70, 41);
    plusButton->SetRepeat();
    minusButton = new ColorButton(QStringLiteral("- 1"), this, 3);
    minusButton->setFixedSize(70, 41);
    minusButton->SetRepeat();
    connect(plusButton, &QPushButton::clicked, this, &Slider::Add);
    connect(minusButton, &QPushButton::clicked, this, &Slider::Sub);

    valueEdit = new Edit(Edit::Numeric | Edit::PadInGrandparent, this, 1);
    valueEdit->setFixedSize(0, 60);
    connect(valueEdit, &QLineEdit::textChanged, this, &Slider::SetText);
    updateGeometryValues();
}

void Slider::Reset(int min, int max, int pageStep, int value, const QString& name)
{
    setObjectName(name);
    setMinimum(min);
    setMaximum(max);
    setPageStep(pageStep);
    setValue(value);
    dragX = -1;
    dragY = -1;
    update();
}

void Slider::setValueClamped(qint64 v)
{
    setValue(static_cast<int>(qBound<qint64>(minimum(), v, maximum())));
}

void Slider::Add() { setValueClamped(qint64(value()) + 1); }
void Slider::Sub() { setValueClamped(qint64(value()) - 1); }

void Slider::SetText(const QString& text)
{
    // Nothing typed yet (or all erased) is no value: the slider keeps its own.
    if (text.isEmpty())
        return;
    static const QRegularExpression digits(QStringLiteral("^\\s*\\+?([0-9]+)\\s*$"));
    const QRegularExpressionMatch m = digits.match(text);
    qint64 v = 0;
    if (m.hasMatch()) {
        for (const QChar c : m.capturedRef(1)) {
            v = v * 10 + (c.unicode() - '0');
            if (v > INT_MAX) {
                v = INT_MAX;
                break;
            }
        }
    }
    setValueClamped(v);
}

void Slider::updateGeometryValues()
{
    const int w = width();
    const int h = height();
    const Track track(w);
    trackLength = track.length;
    fillOffset = track.offset;
    fillScale = track.scale;
    const int y = (h - 28) / 2 - 6;
    minusButton->move(240, y);
    plusButton->move(w - plusButton->width(), y);
}

void Slider::resizeEvent(QResizeEvent* e)
{
    updateGeometryValues();
    QAbstractSlider::resizeEvent(e);
}


int Slider::fillWidth() const
{
    const Track track(width());
    const qint64 span = qint64(maximum()) - minimum();
    if (span <= 0 || track.scale <= 0)
        return 0;
    const float ratio = static_cast<float>(qint64(value()) - minimum()) / static_cast<float>(span);
    return static_cast<int>(ratio * static_cast<float>(track.scale));
}

QRect Slider::computeThumbRect() const
{
    return QRect(315 + Track(width()).offset + fillWidth(), 3, 10, height() - 6);
}

QFont Slider::captionFont() const
{
    QFont caption(QStringLiteral("wqy-microhei"));
    caption.setPixelSize(fittingPixelSize(caption, objectName(), captionRect().size(), 30));
    return caption;
}

void Slider::paintEvent(QPaintEvent*)
{
    updateGeometryValues();
    QPainter p(this);
    const int h = height();

    p.setFont(captionFont());
    p.setPen(Qt::green);
    p.drawText(captionRect(), Qt::AlignLeft | Qt::AlignVCenter, objectName());
    QFont valueFont(QStringLiteral("wqy-microhei"));
    valueFont.setPixelSize(30);
    p.setFont(valueFont);

    if (gpPixmapEdit && !gpPixmapEdit->isNull())
        p.drawPixmap(QRect(135, 3, 100, h - 6), *gpPixmapEdit);
    p.setPen(Qt::white);
    p.drawText(QRect(135, 3, 100, h - 6), Qt::AlignCenter, QString::number(value()));

    if (gpPixmapSliderd && !gpPixmapSliderd->isNull() && trackLength > 0)
        p.drawPixmap(QRect(315, 3, trackLength, h - 6), *gpPixmapSliderd);
    const int fill = fillWidth();
    if (gpPixmapSlideru && !gpPixmapSlideru->isNull() && fill > 0)
        p.drawPixmap(QRect(315 + fillOffset, 11, fill, h - 22), *gpPixmapSlideru);
    thumbRect = computeThumbRect();
    if (gpPixmapSlidert && !gpPixmapSlidert->isNull())
        p.drawPixmap(thumbRect, *gpPixmapSlidert);
}

void Slider::mousePressEvent(QMouseEvent* e)
{
    const int x = qRound(e->localPos().x());
    const int y = qRound(e->localPos().y());
    updateGeometryValues();
    thumbRect = computeThumbRect();
    if (x >= thumbRect.x() - 20 && x <= thumbRect.x() + thumbRect.width() + 19) {
        dragX = x;
        dragY = y;
    } else {
        dragX = -1;
        dragY = -1;
    }
    e->accept();
}

void Slider::mouseMoveEvent(QMouseEvent* e)
{
    updateGeometryValues();
    if (dragX < 1 || fillScale <= 0)
        return;
    const int x = qRound(e->localPos().x());
    const int y = qRound(e->localPos().y());
    const float span = static_cast<float>(qint64(maximum()) - minimum());
    const float delta = std::trunc(span * (static_cast<float>(x - dragX) / static_cast<float>(fillScale)));
    if (delta == 0.0f)
        return;   // slow moves accumulate until they make a whole step
    setValueClamped(qint64(value()) + static_cast<qint64>(delta));
    dragX = x;
    dragY = y;
}

void Slider::mouseReleaseEvent(QMouseEvent* e)
{
    const int x = qRound(e->localPos().x());
    dragX = -1;
    dragY = -1;
    e->accept();
    if (x < 135 || x > 214)
        return;
    // The hidden value field starts from the slider's own value, so an erase
    // edits that value and a tap alone changes nothing.
    {
        const QSignalBlocker block(valueEdit);
        valueEdit->setText(QString::number(value()));
    }
    QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(valueEdit, &focusIn);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(0, 0), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(valueEdit, &release);
}
