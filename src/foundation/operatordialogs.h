// What the libraries below the main window ask of the operator: the shared
// message and choice boxes, and the operator password they check against.
//
// The main window installs the program's boxes once when it is built (the
// widget kit's, KitDialogs); until then a message is only logged, a question
// is logged and answered "no" (which keeps stored state and never reboots),
// the password is empty and nobody is signed in. Tests install their own.
#pragma once

#include <QByteArray>

class QString;

class OperatorDialogs {
public:
    virtual ~OperatorDialogs() = default;

    // The `password` text of the live system parameter record, Latin-1.
    virtual QByteArray operatorPassword();
    // A message with one OK button; returns when it is confirmed.
    virtual void warn(const QString& text);
    // A yes/no question; true for yes.
    virtual bool choose(const QString& text);
    // A yes/no question in a box over the whole picture area.
    virtual bool chooseScreen(const QString& text);
    // A stored parameter was out of range and was repaired (already logged).
    virtual void parameterWarning(const QString& text);
    // The rights level the operator is signed in at (0 none, 1 operator,
    // 2 factory), as the operation record names it; 0 by default.
    virtual int rightsLevel();

    // The installed dialogs, else the defaults above.
    static OperatorDialogs& get();
    // Installs `dialogs` (nullptr: the defaults); returns the one replaced.
    static OperatorDialogs* install(OperatorDialogs* dialogs);
};
