#include "passwordbox.h"

#include "colorbutton.h"
#include "edit.h"
#include "cyclecontrol.h"
#include "operatordialogs.h"
#include "numberinput.h"
#include "publictools_widget.h"
#include "globals.h"
#include "operatorrights.h"

#include <QMouseEvent>
#include <QPainter>

PasswordBox* gpPasswordBox = nullptr;

const char* const PasswordBox::kFactoryPassword = "3721";

namespace {
std::function<QDateTime()>& clockFn()
{
    static std::function<QDateTime()> fn;
    return fn;
}

QDateTime now()
{
    return clockFn() ? clockFn()() : QDateTime::currentDateTime();
}
}  // namespace

void PasswordBox::setClock(std::function<QDateTime()> clock)
{
    clockFn() = std::move(clock);
}

QString PasswordBox::factoryCode(bool passwordInUse, const QDateTime& at)
{
    const QString fixed = QString::fromLatin1(kFactoryPassword);
    if (!passwordInUse)
        return fixed;
    return fixed + at.toString(QStringLiteral("MMddhh"));
}

PasswordBox::PasswordBox(QWidget* parent)
    : QDialog(parent)
{
    // Kept a window of its own, so that it is modal over every screen.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    setGeometry(gShowW / 2 - 375, gShowH / 2 - 185, 750, 370);
    setFixedSize(750, 370);

    okButton = new ColorButton(kitText(121), this, 3);
    okButton->setGeometry(100, 220, 220, 100);
    cancelButton = new ColorButton(kitText(124), this, 3);
    cancelButton->setGeometry(430, 220, 220, 100);
    connect(okButton, &QPushButton::clicked, this, &PasswordBox::accept);
    connect(cancelButton, &QPushButton::clicked, this, &PasswordBox::reject);

    pwdEdit = new Edit(Edit::Numeric | Edit::InDialog, this, 1);
    pwdEdit->setEchoMode(QLineEdit::Password);
    pwdEdit->setGeometry(245, 70, gLan == 3 ? 420 : 350, 50);
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(27);
    pwdEdit->setFont(f);
    connect(pwdEdit, &QLineEdit::textChanged, this, &PasswordBox::SlotTextChanged);
    // The digit pad's hide key reaches accept() through the link that the
    // pad factory makes (numberinput.cpp), so a re-created pad works too.
    hide();
}

void PasswordBox::accept()
{
    const QString typed = pwdEdit->text();
    const QString operatorPassword = QString::fromLatin1(OperatorDialogs::get().operatorPassword());
    const QDateTime at = now();
    const QString factory = factoryCode(CycleControl::get().paraWord(Word::PasswordUsed) != 0, at);

    int level = 0;
    if (typed == factory)
        level = 2;
    else if (!typed.isEmpty() && typed == operatorPassword)
        level = 1;   // an empty entry never matches, not even an unset password

    if (level > 0) {
        OperatorRights::get().setRightsLevel(level);
        failState = NotRefused;
        pwdEdit->setPlaceholderText(kitText(125));
        QDialog::accept();
        return;
    }
    pwdEdit->setText(QString());
    failState = Refused;
    OperatorRights::get().setRightsLevel(0);
    pwdEdit->setPlaceholderText(kitText(357));
}

void PasswordBox::SlotTextChanged(const QString& text)
{
    if (!text.isEmpty()) {
        pwdEdit->setPlaceholderText(QString());
        return;
    }
    if (failState == Refused) {
        pwdEdit->setPlaceholderText(kitText(357));
        failState = NotRefused;
    } else {
        pwdEdit->setPlaceholderText(kitText(125));
    }
}

void PasswordBox::showEvent(QShowEvent* e)
{
    setGeometry(gShowW / 2 - 375, gShowH / 2 - 185, 750, 370);
    // Built before the language is known: captions and the field's width
    // follow the current one.
    okButton->setText(kitText(121));
    cancelButton->setText(kitText(124));
    pwdEdit->setGeometry(245, 70, gLan == 3 ? 420 : 350, 50);
    failState = NotRefused;
    pwdEdit->setText(QString());
    pwdEdit->setPlaceholderText(kitText(125));
    QDialog::showEvent(e);
}

void PasswordBox::hideEvent(QHideEvent* e)
{
    if (Edit* e = Edit::currentEdit()) {
        e->clearFocus();
        Edit::setCurrentEdit(nullptr);
    }
    if (gpNumPad)
        gpNumPad->HideUpdate();
    QDialog::hideEvent(e);
}

void PasswordBox::mouseReleaseEvent(QMouseEvent* e)
{
    // A tap on the box's empty area checks the password like the OK button.
    e->accept();
    if (gpNumPad && gpPasswordBox == this) {
        gpNumPad->HideUpdate();
    } else {
        if (gpNumPad)
            gpNumPad->hide();
        accept();
    }
}

void PasswordBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (gpPixmapBG && !gpPixmapBG->isNull())
        p.drawPixmap(rect(), *gpPixmapBG);
    else
        p.fillRect(rect(), QColor(40, 40, 40));
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(40);
    p.setFont(f);
    p.setPen(Qt::yellow);
    p.drawText(QRect(gLan == 3 ? 45 : 95, 75, 200, 40), Qt::AlignLeft | Qt::AlignVCenter, kitText(356));
    p.setPen(QPen(Qt::white, 5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(2, 2, -3, -3));
}
