#include "kitdialogs.h"

#include "globals.h"
#include "operatorrights.h"
#include "warnbox.h"
#include "winstate.h"

namespace {
bool askModal(ChooseBox* box, const QString& text)
{
    box->setText(text);
    return box->exec() == QDialog::Accepted;
}
}  // namespace

void KitDialogs::warn(const QString& text)
{
    if (!gpWarnBox) {
        OperatorDialogs::warn(text);
        return;
    }
    gpWarnBox->setText(text);
    gpWarnBox->exec();
}

bool KitDialogs::choose(const QString& text)
{
    if (!gpChooseBox)
        return OperatorDialogs::choose(text);
    return askModal(gpChooseBox, text);
}

bool KitDialogs::chooseScreen(const QString& text)
{
    if (!gpChooseBox)
        return OperatorDialogs::choose(text);
    ChooseBox box(gpState ? gpState->mainWidget : nullptr, gShowW, gShowH);
    return askModal(&box, text);
}

int KitDialogs::rightsLevel()
{
    return OperatorRights::get().rightsLevel();
}
