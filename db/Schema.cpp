#include "db/Schema.h"

#include "app/Error.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace Schema {

// Amounts are integer cents; days are "yyyy-MM-dd" texts, so they sort and compare as days.
static const char* const kStatements[] = {
    "CREATE TABLE Users ("
    " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " UserName TEXT NOT NULL UNIQUE,"
    " Password TEXT NOT NULL,"
    " LoginOrder INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE Records ("
    " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " UserName TEXT NOT NULL,"
    " RecDate TEXT NOT NULL,"
    " RecProductName TEXT NOT NULL,"
    " RecQuantity INTEGER NOT NULL,"
    " RecMoney INTEGER NOT NULL,"
    " RecCost INTEGER NOT NULL,"
    " RecMemo TEXT NOT NULL)",
    // Holds every column that the grouped report statements read, so that they never visit the table itself.
    "CREATE INDEX RecordsByUserDate ON Records (UserName, RecDate, RecProductName, RecQuantity, RecMoney, RecCost)",
};

void create(QSqlDatabase& db)
{
    QSqlQuery query(db);
    for (const char* statement : kStatements) {
        if (!query.exec(QString::fromLatin1(statement)))
            throw KivaroError(query.lastError().text());
    }
}

void writeTemplate(const QString& path)
{
    const QString temporary = path + QStringLiteral(".tmp");
    QFile::remove(temporary);
    const QString connection = QStringLiteral("kivaro-template-") + QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(temporary);
        if (!db.open())
            throw KivaroError(db.lastError().text());
        create(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    QFile::remove(path);
    if (!QFile::rename(temporary, path))
        throw KivaroError(QStringLiteral("无法写入模板文件“%1”").arg(path));
}

} // namespace Schema
