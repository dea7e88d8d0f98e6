#include "support_paramdb.h"

#include "databases.h"
#include "globals.h"
#include "statewindow.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

namespace {
const QString kOwn = QStringLiteral("test-own");
}

ParamDbFixture::ParamDbFixture()
{
    win = new StateWindow;
    gpState = win;
    Databases::get().setParamDb(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn")));
    Databases::get().paramDb().setDatabaseName(QStringLiteral("PARAM.db"));
    if (!Databases::get().paramDb().open())
        qFatal("PARAM.db cannot be opened: %s", qPrintable(Databases::get().paramDb().lastError().text()));
    Databases::get().setParamQuery(new QSqlQuery(Databases::get().paramDb()));
    own_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kOwn);
    own_.setDatabaseName(QStringLiteral("PARAM.db"));
    if (!own_.open())
        qFatal("PARAM.db cannot be opened twice");
}

ParamDbFixture::~ParamDbFixture()
{
    delete Databases::get().paramQuery();
    Databases::get().setParamQuery(nullptr);
    Databases::get().paramDb().close();
    Databases::get().setParamDb(QSqlDatabase());
    own_.close();
    own_ = QSqlDatabase();
    delete win;
    gpState = nullptr;
    QSqlDatabase::removeDatabase(QStringLiteral("dbIn"));
    QSqlDatabase::removeDatabase(kOwn);
}

bool ParamDbFixture::exec(const QString& sql)
{
    QSqlQuery q(own_);
    if (q.exec(sql))
        return true;
    qWarning("test statement failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    return false;
}

QString ParamDbFixture::value(const QString& table, const QString& name)
{
    QSqlQuery q(own_);
    q.prepare(QStringLiteral("select value from \"%1\" where name=?").arg(table));
    q.addBindValue(name);
    if (q.exec() && q.next())
        return q.value(0).toString();
    return QString();
}

int ParamDbFixture::rowCount(const QString& table, const QString& name)
{
    QSqlQuery q(own_);
    q.prepare(QStringLiteral("select count(*) from \"%1\" where name=?").arg(table));
    q.addBindValue(name);
    if (q.exec() && q.next())
        return q.value(0).toInt();
    return -1;
}

QStringList ParamDbFixture::tables()
{
    QStringList t = own_.tables();
    t.sort();
    return t;
}

void ParamDbFixture::reopen()
{
    Databases::get().paramQuery()->finish();
    Databases::get().paramDb().close();
    QVERIFY(Databases::get().paramDb().open());
    delete Databases::get().paramQuery();
    Databases::get().setParamQuery(new QSqlQuery(Databases::get().paramDb()));
    own_.close();
    QVERIFY(own_.open());
}
