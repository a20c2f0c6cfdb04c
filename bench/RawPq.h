#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

// Thin wrappers over libpq: the floors that the server store is compared with, and the fast path that loads the
// generated data. Failures raise BenchError.
class PgResult
{
public:
    explicit PgResult(pg_result* result = nullptr)
        : m_result(result)
    {
    }
    ~PgResult();
    PgResult(PgResult&& other) noexcept;
    PgResult& operator=(PgResult&& other) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    pg_result* get() const { return m_result; }
    int rows() const;
    int columns() const;
    bool isNull(int row, int column) const;
    const char* value(int row, int column) const;
    int length(int row, int column) const;
    QString text(int row, int column) const;
    qint64 integer(int row, int column) const;
    // Every value of every row appended to texts as a string, the way the baselines read their rows.
    void readAll(std::vector<std::string>& texts) const;

private:
    pg_result* m_result;
};

class PgConnection
{
public:
    // Everything the text leaves out comes from libpq's environment (PGHOST, PGPORT, PGUSER, PGPASSWORD, ...).
    explicit PgConnection(const QByteArray& conninfo);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    pg_conn* handle() const { return m_connection; }
    PgResult exec(const char* sql);
    PgResult exec(const QString& sql) { return exec(sql.toUtf8().constData()); }
    PgResult exec(const QByteArray& sql) { return exec(sql.constData()); }
    // False when the statement fails.
    bool tryExec(const char* sql);
    // PQexecParams with every value as text and the types left to the server, as the program sends them.
    PgResult execParams(const std::string& sql, const std::vector<std::string>& values);
    void prepare(const char* name, const char* sql, int parameters);
    PgResult execPrepared(const char* name, const std::vector<std::string>& values);
    // COPY ... FROM STDIN: write hands over the data a piece at a time until it returns false.
    void copyIn(const char* sql, const std::function<bool(QByteArray& chunk)>& write);
    // An SQL literal of the text, escaped by libpq.
    QByteArray literal(const QString& text);
    // The server's version, for the machine line.
    QString serverVersion() const;

private:
    PgResult checked(pg_result* result, const char* what);

    pg_conn* m_connection = nullptr;
};

// A text as one field of COPY's text format.
void appendCopyField(QByteArray& row, QByteArrayView value);
