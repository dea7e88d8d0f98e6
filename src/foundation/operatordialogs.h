// What the libraries below the main window ask of the operator: the shared
// message and choice boxes, and the operator password they check against.
//
// The main window installs the program's boxes once when it is built; until
// then a message is only logged, a question is logged and answered "no"
// (which keeps stored state and never reboots) and the password is empty.
// Tests install their own.
#pragma once

#include <QByteArray>

class QString;

class OperatorDialogs {
public:
    virtual ~OperatorDialogs() = default;

    // The `password` text of the live system parameter record, Latin-1.
    virtual QByteArray operatorPassword();

    // The installed dialogs, else the defaults above.
    static OperatorDialogs& get();
    // Installs `dialogs` (nullptr: the defaults); returns the one replaced.
    static OperatorDialogs* install(OperatorDialogs* dialogs);
};
