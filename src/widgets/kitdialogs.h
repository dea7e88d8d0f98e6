// The operator's boxes as the widget kit shows them: the shared message and
// choice boxes (gpWarnBox, gpChooseBox) run modally, and a choice box made
// for one question over the whole picture area. Without the shared boxes
// (no main window made them) a message is logged and a question answered
// "no", as OperatorDialogs does.
#pragma once

#include "operatordialogs.h"

class KitDialogs : public OperatorDialogs {
public:
    void warn(const QString& text) override;
    bool choose(const QString& text) override;
    bool chooseScreen(const QString& text) override;
    // The widget kit's rights (OperatorRights).
    int rightsLevel() override;
};
