// A main window with PARAM.db open on connection "dbIn", in a temporary
// working folder, as the parameter classes expect it at run time.
#pragma once

#include "testworkdir.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <memory>

class StateWindow;

class ParamDbFixture {
public:
    ParamDbFixture();
    ~ParamDbFixture();
    ParamDbFixture(const ParamDbFixture&) = delete;
    ParamDbFixture& operator=(const ParamDbFixture&) = delete;

    // Runs a statement on a connection of the test's own; false on failure.
    bool exec(const QString& sql);
    // Value of row `name` in `table`; a null string when there is none.
    QString value(const QString& table, const QString& name);
    // Number of rows named `name` in `table`.
    int rowCount(const QString& table, const QString& name);
    QStringList tables();
    // Closes and reopens both connections (a restart, or a replaced file).
    void reopen();

    TestWorkDir dir;
    StateWindow* win = nullptr;

private:
    QSqlDatabase own_;
};
