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

void fill(ComboBox* box, const char* const (*names)[4], int count, int current)
{
    const int lan = qBound(0, gLan, 3);
    for (int i = 0; i < count; ++i)
        box->addItem(QString::fromUtf8(names[i][lan]).trimmed());
    box->setCurrentIndex(current >= 0 && current < count ? current : 0);
    screenfit::combo(box);
}

}  // namespace

CustomIONameWidget::CustomIONameWidget(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(lanStr(498));
    setStyleSheet(QStringLiteral("QDialog{background:#20303c;} QLabel{color:white;font-size:20px;}"));
    auto* grid = new QGridLayout(this);
    const int* w = gpWParaBak ? gpWParaBak->words : nullptr;
    for (int k = 0; k < kSlots; ++k) {
        grid->addWidget(new QLabel(lanStr(495).arg(k + 1).trimmed(), this), k, 0);
        inputName[k] = new ComboBox(this);
        fill(inputName[k], gInName, kInNames, w ? w[251 + k] : 0);
        grid->addWidget(inputName[k], k, 1);
        grid->addWidget(new QLabel(lanStr(476).arg(k + 1).trimmed(), this), k, 2);
        outputName[k] = new ComboBox(this);
        fill(outputName[k], gOutName, kOutNames, w ? w[259 + k] : 0);
        grid->addWidget(outputName[k], k, 3);
    }
    auto* ok = new ColorButton(lanStr(121), this, 3);
    auto* no = new ColorButton(lanStr(124), this, 3);
    screenfit::button(ok);
    screenfit::button(no);
    connect(ok, &QPushButton::clicked, this, &CustomIONameWidget::accept);
    connect(no, &QPushButton::clicked, this, &CustomIONameWidget::reject);
    grid->addWidget(no, kSlots, 2);
    grid->addWidget(ok, kSlots, 3);
}

void CustomIONameWidget::accept()
{
    if (gpWParaBak) {
        for (int k = 0; k < kSlots; ++k) {
            gpWParaBak->words[251 + k] = inputName[k]->currentIndex();
            gpWParaBak->words[259 + k] = outputName[k]->currentIndex();
        }
    }
    QDialog::accept();
}
