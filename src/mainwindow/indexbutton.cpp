#include "indexbutton.h"

#include "lanstr.h"

#include <QHBoxLayout>

IndexButton::IndexButton(QWidget* parent)
    : QWidget(parent)
{
    auto* l = new QHBoxLayout(this);
    l->setContentsMargins(4, 4, 4, 4);
    startStop_ = new QPushButton(this);
    startStop_->setMinimumSize(230, 80);
    startStop_->setStyleSheet(QStringLiteral("font-family: wqy-microhei; font-size: 26px;"));
    l->addWidget(startStop_);
    connect(startStop_, &QPushButton::clicked, this, &IndexButton::startStopClicked);
    retrain_ = new QPushButton(QStringLiteral("⟳ ") + lanStr(129), this);
    retrain_->setMinimumSize(230, 80);
    retrain_->setStyleSheet(startStop_->styleSheet());
    l->addWidget(retrain_);
    connect(retrain_, &QPushButton::clicked, this, &IndexButton::retrainClicked);
    roi_ = new QPushButton(lanStr(45), this);
    roi_->setMinimumSize(230, 80);
    roi_->setStyleSheet(startStop_->styleSheet());
    l->addWidget(roi_);
    connect(roi_, &QPushButton::clicked, this, &IndexButton::roiClicked);
    setRunning(false);
}

void IndexButton::setRunning(bool running)
{
    // Stop while running, start while stopped.
    startStop_->setText(running ? QStringLiteral("■ ") + lanStr(127) : QStringLiteral("▶ ") + lanStr(136));
}

void IndexButton::checkShowHide()
{
    shown_ = true;
    startStop_->show();
    retrain_->show();
    roi_->show();
}

void IndexButton::hideButtons()
{
    shown_ = false;
    startStop_->hide();
    retrain_->hide();
    roi_->hide();
}
