#include "helpwidget.h"

#include "colorbutton.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "helppages.h"
#include "lanstr.h"
#include "screenfit.h"
#include "tapguard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

HelpWidget::HelpWidget(QWidget* parent) : QWidget(parent)
{
    // Painted from the style sheet: the screen covers the run screen whole.
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("HelpWidget{background:#20303c;}"));
    // Its Cancel lies over the run screen's button bar.
    tapguard::guardPage(this);
    auto* lay = new QVBoxLayout(this);
    picture = new QLabel(this);
    picture->setAlignment(Qt::AlignCenter);
    lay->addWidget(picture, 1);
    auto* bar = new QHBoxLayout;
    previous = new ColorButton(lanStr(339), this, 3);
    next = new ColorButton(lanStr(340), this, 3);
    close = new ColorButton(lanStr(124), this, 3);
    for (ColorButton* b : {previous, next, close}) {
        screenfit::button(b);
        bar->addWidget(b);
    }
    lay->addLayout(bar);
    connect(previous, &QPushButton::clicked, this, [this] { showPage(page_ - 1); });
    connect(next, &QPushButton::clicked, this, [this] { showPage(page_ + 1); });
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    hide();
}

void HelpWidget::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (parentWidget())
        setGeometry(parentWidget()->rect());
    showPage(gHelpC);
}

void HelpWidget::showPage(int page)
{
    page_ = qBound(0, page, helppages::kPages - 1);
    const QString file = helppages::fileName(page_, qBound(0, gLan, 3));
    const QPixmap pix(file);
    shown_ = !pix.isNull();
    if (!shown_)
        qWarning("help: picture %s cannot be read", qPrintable(file));
    picture->setPixmap(pix);
    previous->setEnabled(page_ > 0);
    next->setEnabled(page_ < helppages::kPages - 1);
}
