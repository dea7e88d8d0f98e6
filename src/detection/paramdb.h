// Statements on the parameter database PARAM.db. They run through the
// installed query on connection "dbIn" (Databases::get().paramQuery()), with
// bound values; every failure is logged.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVector>

class QSqlQuery;

namespace paramdb {

// The main window's PARAM.db query when the connection is open, else null
// (with a warning naming `who`).
QSqlQuery* mainQuery(const char* who);
// The main window's PARAM.db connection (invalid when there is none).
QSqlDatabase mainDatabase();

// Result of looking a row up.
enum class Lookup { Found, Missing, Failed };

// Name/value table access on the connection of `q`. `table` must be a name
// of this program's own ("sysparam", "cammer0", ...); it is quoted, values
// are bound.
bool ensureTable(QSqlQuery& q, const QString& table);
Lookup selectValue(QSqlQuery& q, const QString& table, const QString& name, QString* value);
bool insertRow(QSqlQuery& q, const QString& table, const QString& name, const QString& value);
// Updates the row; when no row was changed it is inserted, so a setting is
// never dropped because its row was missing.
bool writeRow(QSqlQuery& q, const QString& table, const QString& name, const QString& value);
bool deleteRow(QSqlQuery& q, const QString& table, const QString& name);

// One transaction on the connection of `q`. commit() returns false (and the
// changes are rolled back) when any statement of the transaction failed or
// the commit itself failed. Without a commit the destructor rolls back.
class Transaction {
public:
    Transaction(QSqlDatabase db, QSqlQuery& q, const char* who);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    // Records the result of one statement of the transaction.
    bool note(bool ok)
    {
        ok_ = ok_ && ok;
        return ok;
    }
    bool commit();

private:
    QSqlDatabase db_;
    QSqlQuery& q_;
    const char* who_;
    bool open_ = false;
    bool ok_ = true;
};

// Whitespace-separated decimal integers of a stored value, first first.
// Reading stops at the first entry that is not a decimal integer in 32 bits
// (values 2^31..2^32-1 wrap as unsigned words do); the missing ones are
// for the caller to default.
QVector<int> parseNumbers(const QString& text);

// Writes a complete default PARAM.db (table sysparam with all rows of a
// record with factory settings and operator language `lan`, tables cammer0
// to cammer7 with their step rows) to `path`, replacing the file. Used by the
// build to make the default parameter group.
bool writeDefaultDatabase(const QString& path, int lan, QString* error);

}  // namespace paramdb
