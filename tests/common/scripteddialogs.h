// The operator's boxes scripted by a test: installed for the object's life,
// then the dialogs it replaced come back. Each hook left empty hands the
// call on to the replaced dialogs (or the logging defaults).
#pragma once

#include "operatordialogs.h"

#include <QByteArray>
#include <QString>

#include <functional>

class ScriptedDialogs : public OperatorDialogs {
public:
    ScriptedDialogs() : replaced_(OperatorDialogs::install(this)) {}
    ~ScriptedDialogs() override { OperatorDialogs::install(replaced_); }
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    std::function<void(const QString&)> onWarn;
    std::function<bool(const QString&)> onChoose;
    std::function<bool(const QString&)> onChooseScreen;   // empty: onChoose when set
    std::function<void(const QString&)> onParameterWarning;

    QByteArray operatorPassword() override
    {
        return replaced_ ? replaced_->operatorPassword() : OperatorDialogs::operatorPassword();
    }
    void warn(const QString& text) override
    {
        if (onWarn)
            onWarn(text);
        else if (replaced_)
            replaced_->warn(text);
        else
            OperatorDialogs::warn(text);
    }
    bool choose(const QString& text) override
    {
        if (onChoose)
            return onChoose(text);
        return replaced_ ? replaced_->choose(text) : OperatorDialogs::choose(text);
    }
    bool chooseScreen(const QString& text) override
    {
        if (onChooseScreen)
            return onChooseScreen(text);
        if (onChoose)
            return onChoose(text);
        return replaced_ ? replaced_->chooseScreen(text) : OperatorDialogs::chooseScreen(text);
    }
    void parameterWarning(const QString& text) override
    {
        if (onParameterWarning)
            onParameterWarning(text);
        else if (replaced_)
            replaced_->parameterWarning(text);
    }

private:
    OperatorDialogs* replaced_;
};
