#include "operatordialogs.h"

namespace {
OperatorDialogs*& installed()
{
    static OperatorDialogs* dialogs = nullptr;
    return dialogs;
}
}  // namespace

QByteArray OperatorDialogs::operatorPassword() { return QByteArray(); }

OperatorDialogs& OperatorDialogs::get()
{
    static OperatorDialogs defaults;
    return installed() ? *installed() : defaults;
}

OperatorDialogs* OperatorDialogs::install(OperatorDialogs* dialogs)
{
    OperatorDialogs* replaced = installed();
    installed() = dialogs;
    return replaced;
}
