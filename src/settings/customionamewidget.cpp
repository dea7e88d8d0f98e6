#include "customionamewidget.h"

#include "colorbutton.h"
#include "globals.h"
#include "lanstr.h"
#include "screenfit.h"
#include "wizardpara.h"

#include <QGridLayout>
#include <QLabel>

namespace {

constexpr int kInNames = 16;
constexpr int kOutNames = 14;
// The board input and output each slot names (input 2 is the safety door,
// output 3 the alarm: their names are fixed).
constexpr int kInputOf[8] = {1, 3, 4, 5, 6, 7, 8, 9};
constexpr int kOutputOf[8] = {1, 2, 4, 5, 6, 7, 8, 9};

void fill(ComboBox* box, const char* const (*names)[4], int count, int current)
{
    const int lan = qBound(0, gLan, 3);
    for (int i = 0; i < count; ++i)
        box->addItem(QString::fromUtf8(names[i][lan]).trimmed());
    box->setCurrentIndex(current >= 0 && current < count ? current : 0);
    screenfit::combo(box);
}

// Outside the multiple-detection mode the lamps carry the mode's own names:
// shown as they are, not to be chosen.
void fixed(ComboBox* box, const QString& name)
{
    box->addItem(name);
    box->setEnabled(false);
    screenfit::combo(box);
}

}  // namespace

bool CustomIONameWidget::namesChosen()
{
    return gpWParaBak && gpWParaBak->words[Word::Mode] == DetectMode::MultiStep;
}

CustomIONameWidget::CustomIONameWidget(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(lanStr(498));
    setStyleSheet(QStringLiteral("QDialog{background:#20303c;border:2px solid #DCE4EC;} "
                                 "QLabel{color:white;font-size:20px;}"));
    auto* grid = new QGridLayout(this);
    grid->setVerticalSpacing(10);
    grid->setHorizontalSpacing(16);
    const int* w = gpWParaBak ? gpWParaBak->words : nullptr;
    const bool chosen = namesChosen();
    for (int k = 0; k < kSlots; ++k) {
        grid->addWidget(new QLabel(lanStr(495).arg(kInputOf[k]).trimmed(), this), k, 0);
        inputName[k] = new ComboBox(this);
        if (chosen)
            fill(inputName[k], gInName, kInNames, w ? w[Word::InputNameIndex0 + k] : 0);
        else
            fixed(inputName[k], kInputOf[k] - 1 < 8 ? gaName[kInputOf[k] - 1] : QString::number(kInputOf[k]));
        grid->addWidget(inputName[k], k, 1);
        grid->addWidget(new QLabel(lanStr(476).arg(kOutputOf[k]).trimmed(), this), k, 2);
        outputName[k] = new ComboBox(this);
        if (chosen)
            fill(outputName[k], gOutName, kOutNames, w ? w[Word::OutputNameIndex0 + k] : 0);
        else
            fixed(outputName[k], QString::number(kOutputOf[k]));
        grid->addWidget(outputName[k], k, 3);
    }
    okButton = new ColorButton(lanStr(121), this, 3);
    cancelButton = new ColorButton(lanStr(124), this, 3);
    screenfit::button(okButton);
    screenfit::button(cancelButton);
    connect(okButton, &QPushButton::clicked, this, &CustomIONameWidget::accept);
    connect(cancelButton, &QPushButton::clicked, this, &CustomIONameWidget::reject);
    grid->addWidget(cancelButton, kSlots, 2);
    grid->addWidget(okButton, kSlots, 3);
}

void CustomIONameWidget::accept()
{
    if (gpWParaBak && namesChosen()) {
        for (int k = 0; k < kSlots; ++k) {
            gpWParaBak->words[Word::InputNameIndex0 + k] = inputName[k]->currentIndex();
            gpWParaBak->words[Word::OutputNameIndex0 + k] = outputName[k]->currentIndex();
        }
    }
    QDialog::accept();
}
