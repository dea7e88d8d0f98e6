#include "operatordialogs.h"

#include <QString>
#include <QtGlobal>

namespace {
OperatorDialogs*& installed()
{
    static OperatorDialogs* dialogs = nullptr;
    return dialogs;
}
}  // namespace

QByteArray OperatorDialogs::operatorPassword() { return QByteArray(); }

int OperatorDialogs::rightsLevel() { return 0; }

void OperatorDialogs::warn(const QString& text)
{
    qWarning("operator message (no box to show it): %s", qPrintable(text));
}

bool OperatorDialogs::choose(const QString& text)
{
    qWarning("operator question (no box, answered no): %s", qPrintable(text));
    return false;
}

bool OperatorDialogs::chooseScreen(const QString& text) { return choose(text); }

void OperatorDialogs::parameterWarning(const QString&) {}

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
