#include "colorbutton.h"

#include "globals.h"

#include <QEvent>
#include <QListView>

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
    setStyleSheet(QStringLiteral("QComboBox QAbstractItemView::item{height:%1px;}").arg(h)
                  + QStringLiteral("QComboBox::tab-bar{border-width:0px;}"));
}

bool ComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && event->type() == QEvent::MouseButtonPress)
        emit clicked();
    return QComboBox::eventFilter(watched, event);
}
