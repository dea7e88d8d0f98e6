#include "warnbox.h"

#include "databases.h"
#include "screenlight.h"
#include "colorbutton.h"
#include "editip.h"
#include "cyclecontrol.h"
#include "machineoutputs.h"
#include "platform.h"
#include "publictools_widget.h"
#include "winstate.h"

#include <QPainter>

WarnBox* gpWarnBox = nullptr;
ChooseBox* gpChooseBox = nullptr;
ProductAlarmWarnBox* gpProductAlarmWarnBox = nullptr;
LostCameraWarnBox* gpLostCameraWarnBox = nullptr;

namespace {

void paintBackground(QPainter& p, const QRect& r)
{
    if (gpPixmapBG && !gpPixmapBG->isNull())
        p.drawPixmap(r, *gpPixmapBG);
    else
        p.fillRect(r, QColor(40, 40, 40));
}

void paintBorder(QPainter& p, const QRect& r)
{
    p.setPen(QPen(Qt::white, 5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(2, 2, -3, -3));
}

constexpr int kMessagePixels = 40;
constexpr int kSmallestMessagePixels = 24;
// Inside the 5 px frame, with a margin; between the text and the buttons.
constexpr int kTextTop = 12;
constexpr int kTextGap = 16;
constexpr int kButtonHeight = 100;
constexpr int kButtonBottom = 35;

// The largest size (40 px down to 24) at which every word of `text` fits
// `width` and its lines are no taller than `maxHeight`.
int messagePixels(const QString& text, int width, int maxHeight)
{
    for (int px = kMessagePixels; px > kSmallestMessagePixels; --px) {
        const QFontMetrics fm(screenFont(px));
        bool fits = true;
        for (const QString& w : unbreakableWords(text))
            fits = fits && fm.horizontalAdvance(w) <= width;
        if (fits && fm.size(0, wrapAtWords(text, fm, width)).height() <= maxHeight)
            return px;
    }
    return kSmallestMessagePixels;
}

// The height a box needs for `text` over a row of buttons: at least
// `height`, more when the text's lines need it (up to the screen).
int boxHeightFor(const QString& text, int width, int height)
{
    const int screenH = gShowH > 0 ? gShowH : 1080;
    const int most = qMax(height, screenH - 40);
    const int room = most - kTextTop - kTextGap - kButtonHeight - kButtonBottom;
    const QFontMetrics fm(screenFont(messagePixels(text, width, room)));
    const int need = text.isEmpty() ? 0 : fm.size(0, wrapAtWords(text, fm, width)).height();
    return qBound(height, kTextTop + need + kTextGap + kButtonHeight + kButtonBottom, most);
}

}  // namespace

// ---------------------------------------------------------------------------

QFont MessageArea::font() const
{
    return screenFont(pixels);
}

QRect MessageArea::needs() const
{
    return QFontMetrics(font()).boundingRect(area, align, lines);
}

MessageArea MessageArea::lay(const QString& text, const QRect& area, int align)
{
    MessageArea m;
    m.area = area;
    m.align = align;
    m.pixels = messagePixels(text, area.width(), area.height());
    m.lines = wrapAtWords(text, QFontMetrics(m.font()), area.width());
    return m;
}

void MessageArea::paint(QPainter& p) const
{
    p.setFont(font());
    p.setPen(Qt::red);
    p.drawText(area, align, lines);
}

// ---------------------------------------------------------------------------

WarnBox::WarnBox(QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    setGeometry(gShowW / 2 - 375, gShowH / 2 - 185, 750, 370);
    setFixedSize(750, 370);

    okButton = new ColorButton(kitText(121), this, 3);
    okButton->setFixedSize(220, kButtonHeight);
    connect(okButton, &QPushButton::clicked, this, &WarnBox::accept);
    fitToText();
}

void WarnBox::setText(const QString& message)
{
    text = message;
    if (isVisible())
        fitToText();
    update();
}

void WarnBox::fitToText()
{
    // As high as the message's lines need over the button, centred.
    const int h = boxHeightFor(text, kWidth - 40, kHeight);
    setFixedSize(kWidth, h);
    setGeometry(gShowW / 2 - kWidth / 2, gShowH / 2 - h / 2, kWidth, h);
    okButton->move((kWidth - okButton->width()) / 2, h - kButtonBottom - kButtonHeight);
}

MessageArea WarnBox::message() const
{
    // A long message without line breaks of its own wraps inside the box.
    const QRect area(20, kTextTop, width() - 40, okButton->y() - kTextGap - kTextTop);
    return MessageArea::lay(text, area, Qt::AlignCenter);
}

void WarnBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintBackground(p, rect());
    message().paint(p);
    paintBorder(p, rect());
}

void WarnBox::showEvent(QShowEvent* e)
{
    fitToText();
    okButton->setText(kitText(okRow));
    // A message must be readable: it wakes a dark screen.
    if (ScreenLight::get().screenOff()) {
        MachineOutputs::get().lcdOnOff(1);
        const qint64 delay = CycleControl::get().paraWord(Word::ScreenOffSeconds);
        if (delay > 0 && ScreenLight::get().screenOffTimer())
            ScreenLight::get().screenOffTimer()->start(static_cast<int>(qMin<qint64>(delay * 1000, INT_MAX)));
    }
    QDialog::showEvent(e);
}

void WarnBox::hideEvent(QHideEvent* e)
{
    QDialog::hideEvent(e);
}

// ---------------------------------------------------------------------------

ProductAlarmWarnBox::ProductAlarmWarnBox(QWidget* parent)
    : WarnBox(parent)
{
    setText(QStringLiteral("生产已达设定次数，请确认后复位"));
}

void ProductAlarmWarnBox::accept()
{
    MachineOutputs::get().setOut(0, 0);
    MachineOutputs::get().setOut(2, 0);
    MachineOutputs::get().flashOut();
    QDialog::accept();
}

// ---------------------------------------------------------------------------

LostCameraWarnBox::LostCameraWarnBox(QWidget* parent)
    : WarnBox(parent)
{
    okRow = 209;
    okButton->setText(kitText(209));
    setText(kitText(657));
}

void LostCameraWarnBox::accept()
{
    qInfo("camera lost: the operator powers the machine off");
    Databases::get().InsertRecord(QStringLiteral("因丢失相机手动关闭电源"), QString());
    StopWTD();
    Databases::get().FLushAll();
    platform::sleeper().sleepMs(1000);
    if (!platform::powerOff()) {
        // The machine is still on: the box stays up so that the operator
        // sees it and can try again.
        qWarning("camera lost: power-off failed; the box stays open");
        return;
    }
    QDialog::accept();
}

// ---------------------------------------------------------------------------

ChooseBox::ChooseBox(QWidget* parent, int width, int height)
    : QDialog(parent)
    , boxWidth(width)
    , boxHeight(height)
{
    setGeometry(gShowW / 2 - width / 2, gShowH / 2 - height / 2, width, height);
    setFixedSize(width, height);

    yesButton = new ColorButton(kitText(122), this, 3);
    yesButton->setGeometry(width / 2 - 270, height / 2 + 50, 220, 100);
    noButton = new ColorButton(kitText(123), this, 3);
    noButton->setGeometry(width / 2 + 50, height / 2 + 50, 220, 100);
    connect(yesButton, &QPushButton::clicked, this, &ChooseBox::accept);
    connect(noButton, &QPushButton::clicked, this, &ChooseBox::reject);

    hide();
    raise();
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint | Qt::WindowFullscreenButtonHint);
}

void ChooseBox::showEvent(QShowEvent* e)
{
    fitToText();
    yesButton->setText(kitText(yesRow));
    noButton->setText(kitText(noRow));
    QDialog::showEvent(e);
}

void ChooseBox::fitToText()
{
    // The question above the buttons, whole: a question of more lines than
    // the upper half holds makes the box higher, the buttons below it.
    const int upper = boxHeight / 2 + 50 - kTextGap - kTextTop;
    const QFontMetrics fm(screenFont(messagePixels(text, boxWidth - 40, upper)));
    const int need = text.isEmpty() ? 0 : fm.size(0, wrapAtWords(text, fm, boxWidth - 40)).height();
    const int h = need <= upper ? boxHeight : boxHeightFor(text, boxWidth - 40, boxHeight);
    setFixedSize(boxWidth, h);
    setGeometry(gShowW / 2 - boxWidth / 2, gShowH / 2 - h / 2, boxWidth, h);
    const int buttonsAt = h == boxHeight ? boxHeight / 2 + 50 : h - kButtonBottom - kButtonHeight;
    yesButton->move(yesButton->x(), buttonsAt);
    noButton->move(noButton->x(), buttonsAt);
}

MessageArea ChooseBox::message() const
{
    // Ending where it always ended (the upper half less 50 px) when it fits
    // there, else lower, down to the buttons.
    const int lowest = yesButton->y() - kTextGap;
    MessageArea m = MessageArea::lay(text, QRect(20, kTextTop, width() - 40, lowest - kTextTop),
                                     Qt::AlignHCenter | Qt::AlignBottom);
    const int bottom = qMin(lowest, qMax(boxHeight / 2 - 50, kTextTop + m.needs().height()));
    m.area.setBottom(bottom - 1);
    return m;
}

void ChooseBox::setText(const QString& question)
{
    text = question;
    if (isVisible())
        fitToText();
    update();
}

void ChooseBox::paintFrame(QPainter& p, bool border)
{
    paintBackground(p, rect());
    if (border)
        paintBorder(p, rect());
}

void ChooseBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintBackground(p, rect());
    message().paint(p);
    paintBorder(p, rect());
}

// ---------------------------------------------------------------------------

ModifyTimeWidget::ModifyTimeWidget(QWidget* parent)
    : ChooseBox(parent, 750, 370)
{
    dateTimeEdit = new EditDateTime(QString(), this);
    dateTimeEdit->adjustSize();
    dateTimeEdit->move((boxWidth - dateTimeEdit->width()) / 2, 90);
    yesRow = 121;
    noRow = 124;
    yesButton->setText(kitText(121));
    noButton->setText(kitText(124));
}

void ModifyTimeWidget::showEvent(QShowEvent* e)
{
    // The editors start from the clock as it is, so that today's date and
    // time are a few taps away.
    dateTimeEdit->ShowDateTime();
    ChooseBox::showEvent(e);
}

void ModifyTimeWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintFrame(p, false);
}

// ---------------------------------------------------------------------------

ChooseCaliNumWidget::ChooseCaliNumWidget(QWidget* parent)
    : ChooseBox(parent, 750, 370)
{
    comboBox = new ComboBox(this);
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(33);
    comboBox->setFont(f);
    comboBox->setGeometry((boxWidth - 200) / 2, boxHeight / 4 + 30, 200, 50);
    comboBox->addItem(QStringLiteral(" 4 "));
    comboBox->addItem(QStringLiteral(" 9 "));
    comboBox->addItem(QStringLiteral(" 25 "));
    comboBox->setItemHeight(50);
}

void ChooseCaliNumWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintBackground(p, rect());
    p.setFont(screenFont(kMessagePixels));
    p.setPen(Qt::red);
    p.drawText(QRect(50, 50, width(), 50), Qt::AlignCenter, text);
    paintBorder(p, rect());
}
