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
#include <QVBoxLayout>

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

void setMessageFont(QPainter& p)
{
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(40);
    p.setFont(f);
    p.setPen(Qt::red);
}

}  // namespace

// ---------------------------------------------------------------------------

WarnBox::WarnBox(QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    setGeometry(gShowW / 2 - 375, gShowH / 2 - 185, 750, 370);
    setFixedSize(750, 370);

    okButton = new ColorButton(kitText(121), this, 3);
    okButton->setFixedSize(220, 100);
    connect(okButton, &QPushButton::clicked, this, &WarnBox::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(20);
    layout->addWidget(okButton, 0, Qt::AlignHCenter);
    layout->addStretch(3);
}

void WarnBox::setText(const QString& message)
{
    text = message;
    update();
}

void WarnBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintBackground(p, rect());
    setMessageFont(p);
    const int w = width();
    const int h = height();
    // A long message without line breaks of its own wraps inside the box.
    p.drawText(QRect(20, 5, w - 40, 2 * h / 3), Qt::AlignCenter | Qt::TextWordWrap, text);
    paintBorder(p, rect());
}

void WarnBox::showEvent(QShowEvent* e)
{
    setGeometry(gShowW / 2 - 375, gShowH / 2 - 185, 750, 370);
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
    setGeometry(gShowW / 2 - boxWidth / 2, gShowH / 2 - boxHeight / 2, boxWidth, boxHeight);
    yesButton->setText(kitText(yesRow));
    noButton->setText(kitText(noRow));
    QDialog::showEvent(e);
}

void ChooseBox::setText(const QString& question)
{
    text = question;
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
    setMessageFont(p);
    p.drawText(QRect(20, 0, width() - 40, height() / 2 - 50), Qt::AlignHCenter | Qt::AlignBottom | Qt::TextWordWrap,
               text);
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
    setMessageFont(p);
    p.drawText(QRect(50, 50, width(), 50), Qt::AlignCenter, text);
    paintBorder(p, rect());
}
