#pragma once

#include <QString>
#include <QtGlobal>
#include <array>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// Thin wrappers over SQLite's C API: the floors that the program's own code is compared with, and the fast path
// that writes the generated data. Failures raise BenchError.
class RawSqliteDb
{
public:
    RawSqliteDb(const QString& path, bool writable);
    ~RawSqliteDb();
    RawSqliteDb(const RawSqliteDb&) = delete;
    RawSqliteDb& operator=(const RawSqliteDb&) = delete;

    sqlite3* handle() const { return m_db; }
    void exec(const char* sql);
    qint64 scalar(const char* sql);

private:
    sqlite3* m_db = nullptr;
};

class RawSqliteStatement
{
public:
    RawSqliteStatement(RawSqliteDb& db, const std::string& sql);
    ~RawSqliteStatement();
    RawSqliteStatement(const RawSqliteStatement&) = delete;
    RawSqliteStatement& operator=(const RawSqliteStatement&) = delete;

    // The text must stay alive until the statement is reset; a temporary is copied instead.
    void bind(int index, const std::string& text);
    void bind(int index, std::string&& text);
    void bind(int index, qint64 value);
    // True while a row is ready.
    bool step();
    void reset();
    sqlite3_stmt* get() const { return m_stmt; }

private:
    RawSqliteDb& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// A sales line in the form the table stores it: encoded texts, "yyyy-MM-dd", integer cents.
struct StoredLine
{
    std::string day;
    std::string name;
    qint32 quantity = 0;
    qint64 received = 0;
    qint64 cost = 0;
    std::string memo;
};

// The four report statements run on their own opening of the file with the same bound values, every column of
// every row read into a string. Returns the rows of each statement.
std::array<size_t, 4> rawReport(const QString& path, const std::string& encodedUser, const std::string& firstDay,
    const std::string& lastDay, std::vector<std::string>& texts);

// Inserts the lines for the user in one IMMEDIATE transaction with one prepared statement.
void rawInsert(const QString& path, const std::string& encodedUser, const std::vector<StoredLine>& lines);

// The engine's version, for the machine line.
QString sqliteVersion();
