#include "customionamewidget.h"

#include "colorbutton.h"
#include "globals.h"
#include "lanstr.h"
#include "publictools_widget.h"
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
    // Read, not chosen: drawn as readable as the names beside them.
    box->setStyleSheet(box->styleSheet()
                       + QStringLiteral("QComboBox:disabled{color:white;background:#34495e;border:1px solid #7f8c8d;}"));
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
    // Outside the multiple-detection mode nothing can be chosen: the dialog
    // says why and where, and offers only to close it.
    const int top = chosen ? 0 : 1;
    if (!chosen) {
        QFont f(QStringLiteral("wqy-microhei"));
        f.setPixelSize(kReasonPixels);
        // Broken between words here: the label's own wrap would break a kana word.
        reason = new QLabel(wrapAtWords(lanStr(717).arg(lanStr(472).trimmed()), QFontMetrics(f), kReasonWidth), this);
        reason->setFont(f);
        reason->setStyleSheet(QStringLiteral("QLabel{color:#ffd54f;font-size:%1px;}").arg(kReasonPixels));
        reason->setMinimumWidth(kReasonWidth + 4);
        grid->addWidget(reason, 0, 0, 1, 4);
    }
    for (int k = 0; k < kSlots; ++k) {
        grid->addWidget(new QLabel(lanStr(495).arg(kInputOf[k]).trimmed(), this), top + k, 0);
        inputName[k] = new ComboBox(this);
        if (chosen)
            fill(inputName[k], gInName, kInNames, w ? w[Word::InputNameIndex0 + k] : 0);
        else
            fixed(inputName[k], kInputOf[k] - 1 < 8 ? gaName[kInputOf[k] - 1] : QString::number(kInputOf[k]));
        grid->addWidget(inputName[k], top + k, 1);
        grid->addWidget(new QLabel(lanStr(476).arg(kOutputOf[k]).trimmed(), this), top + k, 2);
        outputName[k] = new ComboBox(this);
        if (chosen)
            fill(outputName[k], gOutName, kOutNames, w ? w[Word::OutputNameIndex0 + k] : 0);
        else
            fixed(outputName[k], QString::number(kOutputOf[k]));
        grid->addWidget(outputName[k], top + k, 3);
    }
    okButton = new ColorButton(lanStr(121), this, 3);
    cancelButton = new ColorButton(lanStr(124), this, 3);
    for (ColorButton* b : {okButton, cancelButton}) {
        screenfit::button(b);
        // The caption whole at its size: the grid would make it narrower.
        QFont f = b->font();
        f.setPixelSize(ColorButton::fontPixelsFor(3, gLan));
        b->setMinimumWidth(QFontMetrics(f).horizontalAdvance(b->text()) + 40);
    }
    connect(okButton, &QPushButton::clicked, this, &CustomIONameWidget::accept);
    connect(cancelButton, &QPushButton::clicked, this, &CustomIONameWidget::reject);
    grid->addWidget(cancelButton, top + kSlots, 2);
    grid->addWidget(okButton, top + kSlots, 3);
    // A Confirm that changes nothing would promise what does not happen.
    okButton->setVisible(chosen);
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
