// Sizes that keep the settings screens' texts whole in every language: a
// combo box as wide as its longest item, a button tall enough for its caption
// to keep its size (the kit's buttons shrink a caption that does not fit).
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>

namespace screenfit {

constexpr int kButtonHeight = 56;

inline void combo(QComboBox* box)
{
    const QFontMetrics fm(box->font());
    int widest = 0;
    for (int i = 0; i < box->count(); ++i)
        widest = qMax(widest, fm.horizontalAdvance(box->itemText(i)));
    box->setMinimumWidth(widest + 56);   // the drop-down arrow and the frame
    box->setMinimumHeight(qMax(box->minimumHeight(), 48));   // a touch target
}

inline void button(QAbstractButton* b)
{
    b->setMinimumHeight(kButtonHeight);
}

}  // namespace screenfit
