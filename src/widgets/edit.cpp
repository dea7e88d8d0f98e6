#include "edit.h"

#include "colorbutton.h"
#include "numberinput.h"
#include "publictools_widget.h"
#include "winstate.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScreen>

#include <climits>

QPointer<QDialog> gpNetDialog;

namespace {

QPointer<Edit>& focusedField()
{
    static QPointer<Edit> field;
    return field;
}

int saturate(qint64 v)
{
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

}  // namespace

// ---------------------------------------------------------------------------

Edit::Edit(int flags_, QWidget* parent, int style)
    : QLineEdit(parent)
    , flags(flags_)
{
    if (style == 1)
        C_Type_COM::setTxtQss(this, C_Type_COM::C_Color_Blue);
    // Touch size unless the owner sizes the field itself.
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(kTextPixels);
    setFont(f);
    setMinimumHeight(kTouchHeight);
    connect(this, &QLineEdit::textChanged, this, &Edit::SlotRange);
}

Edit* Edit::currentEdit()
{
    return gpState ? focusedField().data() : nullptr;
}

void Edit::setCurrentEdit(Edit* e)
{
    if (gpState)
        focusedField() = e;
}

Edit::~Edit()
{
    // A field that dies while it receives the pads' keys takes the pads away
    // with it; the guarded pointer would only clear once the QObject is gone.
    if (gpState && focusedField().data() == this) {
        focusedField() = nullptr;
        hidePads();
    }
}

void Edit::setRange(int min, int max)
{
    minValue = min;
    maxValue = max;
}

bool Edit::parseInt(const QString& text, int* out)
{
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?)(\\d+)\\s*$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    const bool negative = m.capturedRef(1) == QLatin1String("-");
    const QStringRef digits = m.capturedRef(2);
    qint64 v = 0;
    for (const QChar c : digits) {
        v = v * 10 + (c.unicode() - '0');
        if (v > qint64(INT_MAX) + 1)
            break;   // saturated: further digits change nothing
    }
    if (out)
        *out = saturate(negative ? -v : v);
    return true;
}

int Edit::value() const
{
    int v = 0;
    return parseInt(text(), &v) ? v : 0;
}

void Edit::setValue(int v)
{
    setText(QString::number(v));
}

void Edit::setValue(double v)
{
    setText(QString::number(v, 'g', 6));
}

void Edit::addValue(QString key, bool replace)
{
    const QByteArray latin = key.toLatin1();
    if (latin.isEmpty())
        return;
    const QString ch = QString::fromLatin1(latin.left(1));
    setText(replace ? ch : text() + ch);
    setCursorPosition(text().length());
}

void Edit::deleteValue(bool& emptied)
{
    QString t = text();
    t.chop(1);
    setText(t);
    setCursorPosition(t.length());
    if (t.isEmpty())
        emptied = true;
}

void Edit::SlotRange(QString text)
{
    if (minValue == -1 || maxValue == -1)
        return;
    if (minValue > maxValue)
        std::swap(minValue, maxValue);
    int v = 0;
    if (!parseInt(text, &v))
        return;
    v = qBound(minValue, v, maxValue);
    const QString shown = QStringLiteral("%1").arg(v);
    if (shown != text)
        setText(shown);
}

// ---------------------------------------------------------------------------

QWidget* Edit::padHost(QPoint* fieldPos) const
{
    if ((flags & PadInNetDialog) && gpNetDialog && window() == gpNetDialog.data()) {
        if (fieldPos)
            *fieldPos = gpNetDialog->mapFromGlobal(mapToGlobal(QPoint(0, 0)));
        return gpNetDialog.data();
    }
    if ((flags & PadInNetDialog) && gpNetDialog) {
        // The field sits in a window opened over the network dialog (a card
        // editor): a pad inside the network dialog would lie underneath it.
        // The pad floats over the field's own window instead, in screen
        // coordinates.
        if (fieldPos)
            *fieldPos = mapToGlobal(QPoint(0, 0));
        return window();
    }
    if ((flags & PadInNetDialog) && !gpNetDialog)
        qWarning("Edit: no network dialog open for a field that places its pad there");

    const int levels = (flags & PadInGrandparent) ? 2 : (flags & PadInGreatGrandparent) ? 3 : 1;
    const QWidget* host = this;
    QPoint pos(0, 0);
    // Walk up as far as the flags ask, but never out of the field's window:
    // a pad placed in a window below a dialog would be hidden by it.
    for (int i = 0; i < levels; ++i) {
        if (host->isWindow() || !host->parentWidget())
            break;
        pos += host->pos();
        host = host->parentWidget();
    }
    if (host == this) {
        if (fieldPos)
            *fieldPos = mapToGlobal(QPoint(0, 0));
        return nullptr;
    }
    if (fieldPos)
        *fieldPos = pos;
    return const_cast<QWidget*>(host);
}

QPoint Edit::placePad(int flags, QPoint fieldPos, int fieldH, QSize pad, QSize host, int screenH)
{
    const int limit = screenH - 49;
    int x = fieldPos.x();
    const int top = fieldPos.y();
    int y = top + fieldH + 5;
    if (flags & PadInNetDialog) {
        if (y + pad.height() >= limit)
            y = top - pad.height() - 5;
        return QPoint(x, y);
    }
    if (x + pad.width() > host.width())
        x = host.width() - pad.width();
    if (y + pad.height() >= limit)
        y = y - (pad.height() + 45);
    if (y + pad.height() > host.height())
        y = host.height() - pad.height();
    return QPoint(x, y);
}

void Edit::callUpPad()
{
    const bool letter = (flags & LetterPad) != 0;
    QWidget* pad = letter ? static_cast<QWidget*>(gpNumCharPad) : static_cast<QWidget*>(gpNumPad);
    if (!pad)
        return;
    if (!letter)
        gpNumPad->eraseAll();

    QPoint pos;
    QWidget* host = padHost(&pos);
    int effectiveFlags = flags;
    if ((flags & PadInNetDialog) && (!gpNetDialog || host != gpNetDialog.data()))
        effectiveFlags &= ~PadInNetDialog;
    const bool floating = (flags & PadInNetDialog) && gpNetDialog && host && host != gpNetDialog.data();

    const QScreen* screen = QGuiApplication::primaryScreen();
    // The program's screen as it was measured at start-up, else the system's.
    const QSize screenSize = gShowW > 0 && gShowH > 0 ? QSize(gShowW, gShowH)
                             : screen                 ? screen->geometry().size()
                                                      : QSize(1920, 1080);
    if (floating) {
        // A window of its own owned by the field's window: above it, and not
        // blocked while that window is modal.
        pad->setParent(host, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                 | Qt::WindowDoesNotAcceptFocus);
        QPoint at = placePad(PadInNetDialog, pos, height(), pad->size(), screenSize, screenSize.height());
        at.setX(qBound(0, at.x(), qMax(0, screenSize.width() - pad->width())));
        at.setY(qMax(0, at.y()));
        pad->move(at);
        pad->show();
        pad->raise();
        return;
    }

    QSize hostSize;
    if (host) {
        hostSize = host->size();
    } else {
        hostSize = screen ? screen->availableGeometry().size() : QSize(gShowW, gShowH);
    }
    if (pad->parentWidget() != host || pad->isWindow() != !host)
        pad->setParent(host);
    if (!host)
        pad->setWindowFlags(pad->windowFlags() | Qt::WindowDoesNotAcceptFocus);
    pad->move(placePad(effectiveFlags, pos, height(), pad->size(), hostSize, gShowH));
    pad->show();
    pad->raise();
    pad->activateWindow();
}

bool Edit::event(QEvent* e)
{
    const QEvent::Type t = e->type();
    if (t == QEvent::FocusIn || t == QEvent::FocusOut || t == QEvent::MouseButtonPress
        || t == QEvent::MouseButtonDblClick || t == QEvent::MouseButtonRelease) {
        // Pads destroyed with a screen, or put away by their owner, come back
        // on the next touch; that touch then works like any other.
        if (!gpNumPad || !gpNumCharPad)
            ensurePads();
    }

    switch (t) {
    case QEvent::FocusIn:
        if (echoMode() == QLineEdit::Password && !padShownByTap()) {
            setText(QString());
            // The pad types into it; no caret. Its own focus-out below is
            // no leaving of the field.
            droppingFocus_ = true;
            clearFocus();
            droppingFocus_ = false;
            setPlaceholderText(kitText(125));
        }
        setCurrentEdit(this);
        break;
    case QEvent::FocusOut:
        if (droppingFocus_)
            break;
        if (currentEdit() == this)
            setCurrentEdit(nullptr);
        hidePads();
        break;
    case QEvent::MouseButtonPress:
    // A tap soon after the last one at its place comes as a double click
    // alone (Qt delivers no press for it): it takes the pads all the same.
    case QEvent::MouseButtonDblClick:
        // The press takes the pads, not the focus: right after a box
        // closes, the window is active again only some time later, and the
        // focus (with its focus-in) comes then, after this tap's release.
        if (isEnabled() && !isReadOnly())
            setCurrentEdit(this);
        break;
    case QEvent::MouseButtonRelease:
        // Only the field that took the pads with the press calls them up.
        if (currentEdit() == this)
            callUpPad();
        break;
    default:
        break;
    }
    return QLineEdit::event(e);
}

bool Edit::padShownByTap() const
{
    // The focus of a window activated late arrives after the tap called up
    // the pad: what is typed on it by then stays.
    if (currentEdit() != this)
        return false;
    const QWidget* pad = (flags & LetterPad) ? static_cast<QWidget*>(gpNumCharPad) : static_cast<QWidget*>(gpNumPad);
    return pad && pad->isVisible();
}

void Edit::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Period || e->key() == 13)
        emit sig_Dot();
    if (e->key() == Qt::Key_Return) {
        if (gpNumCharPad && gpNumCharPad->isVisible()) {
            gpNumCharPad->HideUpdate();
        } else if (gpNumPad && gpNumPad->isVisible()) {
            gpNumPad->HideUpdate();
        } else {
            QMouseEvent release(QEvent::MouseButtonRelease, QPointF(0, 0), Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            QCoreApplication::sendEvent(this, &release);
        }
    }
    QLineEdit::keyPressEvent(e);
}

void Edit::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
}

void Edit::focusOutEvent(QFocusEvent* e)
{
    emit focusOut();
    QLineEdit::focusOutEvent(e);
}

// ---------------------------------------------------------------------------

EditParam::EditParam(int flags_, QString unit, EditBox* box_)
    : Edit(flags_, box_, 1)
    , box(box_)
{
    if (!unit.isEmpty()) {
        unitLabel = new QLabel(unit, this);
        unitLabel->setFixedSize(unit.length() * unitFontPx + 10, 50);
        QFont f(QStringLiteral("wqy-microhei"));
        f.setPixelSize(unitFontPx);
        unitLabel->setFont(f);
        unitLabel->setAlignment(Qt::AlignCenter);
        setTextMargins(0, 0, unitLabel->width(), 0);
        auto* row = new QHBoxLayout(this);
        row->setSpacing(0);
        row->setContentsMargins(0, 0, 0, 0);
        row->addStretch();
        row->addWidget(unitLabel);
        connect(this, &QLineEdit::textChanged, this, &EditParam::ChangeLabelP);
    }
    setFocusPolicy(Qt::StrongFocus);
    setAlignment(Qt::AlignCenter);
}

void EditParam::addValue(QString key, bool replace)
{
    if (!box) {
        Edit::addValue(key, replace);
        return;
    }
    int digit = 0;
    if (!parseInt(key, &digit))
        digit = 0;
    // Computed wide so that a long run of digits saturates instead of wrapping.
    const qint64 next = replace ? qint64(digit) : qint64(box->value()) * 10 + digit;
    box->setValue(next > INT_MAX ? INT_MAX : next < INT_MIN ? INT_MIN : static_cast<int>(next));
}

void EditParam::deleteValue(bool& emptied)
{
    Q_UNUSED(emptied)
    if (!box)
        return;
    box->setValue(box->value() / 10);
}

void EditParam::ChangeLabelP(QString text)
{
    if (!unitLabel)
        return;
    const int x = (width() - unitLabel->width() + static_cast<int>(text.length() * 27 * 0.5)) / 2;
    unitLabel->move(x, 1);
    unitX = x;
}

// ---------------------------------------------------------------------------

EditBox::EditBox(int min, int max, QWidget* parent, const QString& label_, QString unit, int type_, int divisor_)
    : QWidget(parent)
    , minValue(min)
    , maxValue(max)
    , divisor(divisor_ > 0 ? divisor_ : 1)
    , type(type_)
    , labelText(label_)
{
    if (divisor_ <= 0)
        qWarning("EditBox %s: display divisor %d taken as 1", qPrintable(label_), divisor_);

    layout = new QHBoxLayout(this);
    layout->setSpacing(10);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    label = new QLabel(labelText, this);
    label->setFixedSize(160, 50);
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(27);
    label->setFont(f);
    label->setStyleSheet(QStringLiteral("color:yellow;"));

    const QString five = QString::number(5.0 / divisor, 'g', 6);
    const QString one = QString::number(1.0 / divisor, 'g', 6);
    minusFive = new ColorButton(QStringLiteral("- %1").arg(five), this, 3);
    minusOne = new ColorButton(QStringLiteral("- %1").arg(one), this, 3);
    plusOne = new ColorButton(QStringLiteral("+ %1").arg(one), this, 3);
    plusFive = new ColorButton(QStringLiteral("+ %1").arg(five), this, 3);

    edit = new EditParam(Edit::Numeric | Edit::PadInGrandparent, unit, this);
    edit->setFixedSize(150, 50);
    edit->setFrame(true);
    edit->setFont(f);

    layout->addWidget(label);
    layout->addWidget(minusFive);
    layout->addWidget(minusOne);
    layout->addWidget(edit);
    layout->addWidget(plusOne);
    layout->addWidget(plusFive);

    for (ColorButton* b : {minusFive, minusOne, plusOne, plusFive}) {
        b->setFixedSize(130, 50);
        b->SetRepeat();
    }
    connect(minusFive, &QPushButton::clicked, this, &EditBox::SubFive);
    connect(minusOne, &QPushButton::clicked, this, &EditBox::SubOne);
    connect(plusOne, &QPushButton::clicked, this, &EditBox::AddOne);
    connect(plusFive, &QPushButton::clicked, this, &EditBox::AddFive);
    connect(edit, &Edit::focusOut, this, &EditBox::CheckRange);
}

void EditBox::setSampleMode()
{
    label->setFixedWidth(120);
    minusOne->setFixedWidth(90);
    plusOne->setFixedWidth(90);
    edit->setFixedWidth(100);
    minusFive->hide();
    plusFive->hide();
}

void EditBox::step(int delta)
{
    const qint64 next = qint64(value_) + delta;
    value_ = next > INT_MAX ? INT_MAX : next < INT_MIN ? INT_MIN : static_cast<int>(next);
    CheckRange();
}

void EditBox::AddOne() { step(1); }
void EditBox::SubOne() { step(-1); }
void EditBox::AddFive() { step(5); }
void EditBox::SubFive() { step(-5); }

void EditBox::setValue(int v)
{
    value_ = v;
    CheckRange();
}

void EditBox::setValue()
{
    if (type == 0)
        edit->setText(QString::number(value_));
    else if (type == 2)
        edit->setText(QString::number(static_cast<double>(value_) / divisor, 'g', 6));
    else
        edit->setText(QString());
}

void EditBox::CheckRange()
{
    if (value_ < minValue) {
        if (!(value_ == 0 && use0))
            value_ = minValue;
    } else if (value_ > maxValue) {
        value_ = maxValue;
    }
    setValue();
    emit valueChanged(value_);
}

void EditBox::setText(const QString& text)
{
    labelText = text;
    label->setText(text);
}
