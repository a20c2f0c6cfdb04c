#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <functional>

class QSqlDatabase;
struct sqlite3;
struct sqlite3_context;
struct sqlite3_stmt;
struct sqlite3_value;

// One statement run straight on the engine, under a connection that QtSql has opened. The report lists run to
// hundreds of thousands of values and a save to thousands of lines; a QVariant and a UTF-16 copy made for each value
// cost as much as the engine's own work. Failures raise KivaroError with the engine's text.
class SqliteStatement
{
public:
    // Binds copies of the texts to the statement's first parameters in order.
    SqliteStatement(const QSqlDatabase& db, const QString& statement, const QStringList& values = {});
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Parameters count from 1. The text is not copied: it must stay unchanged until the statement has run.
    void bind(int index, QByteArrayView text);
    void bind(int index, qint64 value);
    void bindNull(int index);
    // Runs a statement that returns no rows, then makes it ready to run again with new values.
    void run();

    // Steps to the next row; false after the last one.
    bool next();
    qint64 integer(int column) const;
    // The column's UTF-8 bytes, valid until the next step.
    QByteArrayView bytes(int column) const;

private:
    sqlite3_stmt* m_statement = nullptr;
};

// An SQL function of two texts, answered by a C++ test for as long as this lives on the connection: a statement can
// then keep only the rows the program's own rules pick (a decoded text, say) without handing every row over.
class SqliteFunction
{
public:
    using Test = std::function<bool(QByteArrayView, QByteArrayView)>;
    SqliteFunction(const QSqlDatabase& db, const char* name, Test test);
    ~SqliteFunction();
    SqliteFunction(const SqliteFunction&) = delete;
    SqliteFunction& operator=(const SqliteFunction&) = delete;

private:
    static void call(sqlite3_context* context, int count, sqlite3_value** values);

    sqlite3* m_connection = nullptr;
    QByteArray m_name;
    Test m_test;
};
