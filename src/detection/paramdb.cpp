#include "paramdb.h"

#include "databases.h"
#include "winstate.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <climits>

namespace paramdb {

namespace {

QString quoted(const QString& table)
{
    QString t = table;
    t.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + t + QLatin1Char('"');
}

bool run(QSqlQuery& q, const char* what, const QString& table, const QString& name)
{
    if (q.exec())
        return true;
    qWarning("PARAM.db: %s %s/%s failed: %s", what, qPrintable(table), qPrintable(name),
             qPrintable(q.lastError().text()));
    return false;
}

}  // namespace

QSqlQuery* mainQuery(const char* who)
{
    if (!Databases::get().paramQuery() || !Databases::get().paramDb().isOpen()) {
        qWarning("%s: PARAM.db is not open", who);
        return nullptr;
    }
    return Databases::get().paramQuery();
}

QSqlDatabase mainDatabase()
{
    return Databases::get().paramDb();
}

bool ensureTable(QSqlQuery& q, const QString& table)
{
    if (q.exec(QStringLiteral("create table if not exists %1 (name text, value text)").arg(quoted(table))))
        return true;
    qWarning("PARAM.db: creating table %s failed: %s", qPrintable(table), qPrintable(q.lastError().text()));
    return false;
}

Lookup selectValue(QSqlQuery& q, const QString& table, const QString& name, QString* value)
{
    q.prepare(QStringLiteral("select value from %1 where name=?").arg(quoted(table)));
    q.addBindValue(name);
    if (!run(q, "reading", table, name))
        return Lookup::Failed;
    const bool found = q.next();
    if (found && value)
        *value = q.value(0).toString();
    q.finish();
    return found ? Lookup::Found : Lookup::Missing;
}

bool insertRow(QSqlQuery& q, const QString& table, const QString& name, const QString& value)
{
    q.prepare(QStringLiteral("insert into %1 (name, value) values(?, ?)").arg(quoted(table)));
    q.addBindValue(name);
    q.addBindValue(value);
    return run(q, "inserting", table, name);
}

bool writeRow(QSqlQuery& q, const QString& table, const QString& name, const QString& value)
{
    q.prepare(QStringLiteral("update %1 set value=? where name=?").arg(quoted(table)));
    q.addBindValue(value);
    q.addBindValue(name);
    if (!run(q, "updating", table, name))
        return false;
    if (q.numRowsAffected() > 0)
        return true;
    return insertRow(q, table, name, value);
}

bool deleteRow(QSqlQuery& q, const QString& table, const QString& name)
{
    q.prepare(QStringLiteral("delete from %1 where name=?").arg(quoted(table)));
    q.addBindValue(name);
    return run(q, "deleting", table, name);
}

Transaction::Transaction(QSqlDatabase db, QSqlQuery& q, const char* who)
    : db_(db), q_(q), who_(who)
{
    open_ = db_.isValid() && db_.transaction();
    if (!open_)
        qWarning("%s: no transaction on PARAM.db (%s); statements are applied one by one", who_,
                 qPrintable(db_.lastError().text()));
}

Transaction::~Transaction()
{
    if (open_) {
        q_.finish();
        db_.rollback();
    }
}

bool Transaction::commit()
{
    q_.finish();
    if (!open_)
        return ok_;
    open_ = false;
    if (!ok_) {
        db_.rollback();
        qWarning("%s: a statement failed, PARAM.db is left unchanged", who_);
        return false;
    }
    if (!db_.commit()) {
        qWarning("%s: commit on PARAM.db failed: %s", who_, qPrintable(db_.lastError().text()));
        db_.rollback();
        return false;
    }
    return true;
}

QVector<int> parseNumbers(const QString& text)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QVector<int> out;
    const QStringList parts = text.split(blanks, Qt::SkipEmptyParts);
    out.reserve(parts.size());
    for (const QString& p : parts) {
        bool ok = false;
        const qlonglong v = p.toLongLong(&ok, 10);
        if (!ok || v < INT_MIN || v > static_cast<qlonglong>(UINT_MAX))
            break;
        out.append(v > INT_MAX ? static_cast<int>(static_cast<quint32>(v)) : static_cast<int>(v));
    }
    return out;
}

}  // namespace paramdb
