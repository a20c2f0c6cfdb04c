#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

class QSqlDatabase;
struct sqlite3_stmt;

// The rows of one statement read straight from the engine, under a connection that QtSql has opened. The report
// lists run to hundreds of thousands of values, and a QVariant and a UTF-16 copy made by the engine for each of them
// cost as much as the statement itself. Failures raise KivaroError with the engine's text.
class SqliteRows
{
public:
    // Binds the texts to the statement's parameters in order.
    SqliteRows(const QSqlDatabase& db, const QString& statement, const QStringList& values);
    ~SqliteRows();
    SqliteRows(const SqliteRows&) = delete;
    SqliteRows& operator=(const SqliteRows&) = delete;

    // Steps to the next row; false after the last one.
    bool next();
    qint64 integer(int column) const;
    // The column's UTF-8 bytes, valid until the next step.
    QByteArrayView bytes(int column) const;

private:
    sqlite3_stmt* m_statement = nullptr;
};
