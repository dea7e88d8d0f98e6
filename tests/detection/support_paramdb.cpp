#include "support_paramdb.h"

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
    win->paramDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn"));
    win->paramDb.setDatabaseName(QStringLiteral("PARAM.db"));
    if (!win->paramDb.open())
        qFatal("PARAM.db cannot be opened: %s", qPrintable(win->paramDb.lastError().text()));
    win->paramQuery = new QSqlQuery(win->paramDb);
    own_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kOwn);
    own_.setDatabaseName(QStringLiteral("PARAM.db"));
    if (!own_.open())
        qFatal("PARAM.db cannot be opened twice");
}

ParamDbFixture::~ParamDbFixture()
{
    delete win->paramQuery;
    win->paramQuery = nullptr;
    win->paramDb.close();
    win->paramDb = QSqlDatabase();
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
    win->paramQuery->finish();
    win->paramDb.close();
    QVERIFY(win->paramDb.open());
    delete win->paramQuery;
    win->paramQuery = new QSqlQuery(win->paramDb);
    own_.close();
    QVERIFY(own_.open());
}
