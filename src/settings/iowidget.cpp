#include "iowidget.h"

#include "colorbutton.h"
#include "globals.h"
#include "lanstr.h"
#include "screenfit.h"
#include "wizardpara.h"
#include "wizardparawidget.h"
#include "operatordialogs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>

IOWidget::IOWidget(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(lanStr(499));
    // Framed and painted by itself, centred over the settings: the screen has
    // no window manager to give it a frame.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(QStringLiteral("QLabel,QCheckBox{color:white;font-size:20px;}"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(lanStr(499), this), 0, 0, 1, 4);
    stepCount = new ComboBox(this);
    for (int n = 2; n <= 8; ++n)
        stepCount->addItem(lanStr(501 + n - 2));
    screenfit::combo(stepCount);
    grid->addWidget(stepCount, 1, 0);
    notSequential = new CheckBox(this, lanStr(675).trimmed());
    grid->addWidget(notSequential, 1, 1, 1, 3);
    for (int r = 0; r < kRows; ++r) {
        grid->addWidget(new QLabel(lanStr(495).arg(r + 1).trimmed(), this), r + 2, 0);
        rowStep[r] = new ComboBox(this);
        rowStep[r]->addItem(lanStr(523));
        for (int s = 0; s < 8; ++s)
            rowStep[r]->addItem(lanStr(477 + s));
        rowInput[r] = new ComboBox(this);
        for (int i = 0; i < 8; ++i)
            rowInput[r]->addItem(lanStr(495).arg(i + 1).trimmed());
        rowCut[r] = new ComboBox(this);
        for (int row : {523, 168, 169})
            rowCut[r]->addItem(lanStr(row).trimmed());
        for (ComboBox* box : {rowStep[r], rowInput[r], rowCut[r]})
            screenfit::combo(box);
        grid->addWidget(rowStep[r], r + 2, 1);
        grid->addWidget(rowInput[r], r + 2, 2);
        grid->addWidget(rowCut[r], r + 2, 3);
    }
    auto* ok = new ColorButton(lanStr(121), this, 3);
    auto* no = new ColorButton(lanStr(124), this, 3);
    screenfit::button(ok);
    screenfit::button(no);
    connect(ok, &QPushButton::clicked, this, &IOWidget::accept);
    connect(no, &QPushButton::clicked, this, &IOWidget::reject);
    grid->addWidget(no, kRows + 2, 1, 1, 2);
    grid->addWidget(ok, kRows + 2, 3);
    load();
}

void IOWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(kBackground));
    p.setPen(QPen(QColor(kFrame), kFrameWidth));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(rect()).adjusted(kFrameWidth / 2.0, kFrameWidth / 2.0, -kFrameWidth / 2.0, -kFrameWidth / 2.0));
}

void IOWidget::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    QRect area(0, 0, gShowW, gShowH);
    if (area.isEmpty() && screen())
        area = screen()->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void IOWidget::load()
{
    if (!gpWParaBak)
        return;
    const int* w = gpWParaBak->words;
    stepCount->setCurrentIndex(qBound(2, w[Word::StepCountMode3], 8) - 2);
    for (int r = 0; r < kRows; ++r) {
        rowStep[r]->setCurrentIndex(0);
        rowInput[r]->setCurrentIndex(w[Word::TriggerSlotOfRow0 + r] >= 0 && w[Word::TriggerSlotOfRow0 + r] < 8
                                         ? w[Word::TriggerSlotOfRow0 + r]
                                         : 0);
        rowCut[r]->setCurrentIndex(
            w[Word::CutModeOfRow0 + r] >= 0 && w[Word::CutModeOfRow0 + r] < 3 ? w[Word::CutModeOfRow0 + r] : 0);
    }
    for (int s = 0; s < 8; ++s) {
        const int r = w[Word::IoRowOfStep0 + s];
        if (r >= 0 && r < kRows)
            rowStep[r]->setCurrentIndex(s + 1);
    }
    notSequential->setChecked(w[Word::Sequential] == 0);
}

void IOWidget::accept()
{
    if (!gpWParaBak)
        return;
    const int steps = stepCount->currentIndex() + 2;
    int serving[8];
    std::fill(std::begin(serving), std::end(serving), -1);
    for (int r = 0; r < kRows; ++r) {
        const int s = rowStep[r]->currentIndex() - 1;
        if (s < 0)
            continue;
        if (serving[s] >= 0) {
            OperatorDialogs::get().warn(lanStr(361).arg(lanStr(477 + s)));
            return;
        }
        serving[s] = r;
    }
    if (serving[steps - 1] < 0) {
        OperatorDialogs::get().warn(lanStr(512));
        return;
    }
    int* w = gpWParaBak->words;
    w[Word::StepCountMode3] = steps;
    for (int s = 0; s < 8; ++s)
        w[Word::IoRowOfStep0 + s] = serving[s];
    for (int r = 0; r < kRows; ++r) {
        w[Word::TriggerSlotOfRow0 + r] = rowInput[r]->currentIndex();
        w[Word::CutModeOfRow0 + r] = rowCut[r]->currentIndex();
    }
    w[Word::Sequential] = notSequential->isChecked() ? 0 : 1;
    QDialog::accept();
}
