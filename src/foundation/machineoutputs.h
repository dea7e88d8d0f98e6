// What the program drives outside itself, as the libraries below the main
// window ask for it: the I/O board's output word, the screen's light and the
// rows handed on to the local agent.
//
// The main window installs the program's outputs once when it is built;
// until then (and in a program part without a main window) an output only
// logs that nothing is connected. Tests install their own.
#pragma once

#include <QByteArray>

class QJsonObject;

class MachineOutputs {
public:
    virtual ~MachineOutputs() = default;

    // ControlPort::IOSetOut(n, on): changes one output of the wanted word.
    virtual void setOut(int n, int on);
    // ControlPort::IOFlashOut(): hands the wanted word to the I/O board thread.
    virtual void flashOut();
    // 1 lights the screen, 0 darkens it.
    virtual void lcdOnOff(int on);
    // A row was written to the operation record (recordtime, recordpassword,
    // remarks, recordtype): handed on to the local agent.
    virtual void recordInserted(const QJsonObject& row);

    // The installed outputs, else the defaults above.
    static MachineOutputs& get();
    // Installs `outputs` (nullptr: the defaults); returns the one replaced.
    static MachineOutputs* install(MachineOutputs* outputs);
};
