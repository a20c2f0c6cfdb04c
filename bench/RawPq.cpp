#include "bench/RawPq.h"

#include "bench/Measure.h"

#include <QVarLengthArray>
#include <cstdlib>
#include <libpq-fe.h>
#include <utility>

PgResult::~PgResult()
{
    PQclear(m_result);
}

PgResult::PgResult(PgResult&& other) noexcept
    : m_result(std::exchange(other.m_result, nullptr))
{
}

PgResult& PgResult::operator=(PgResult&& other) noexcept
{
    if (this != &other) {
        PQclear(m_result);
        m_result = std::exchange(other.m_result, nullptr);
    }
    return *this;
}

int PgResult::rows() const
{
    return PQntuples(m_result);
}

int PgResult::columns() const
{
    return PQnfields(m_result);
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(m_result, row, column);
}

const char* PgResult::value(int row, int column) const
{
    return PQgetvalue(m_result, row, column);
}

int PgResult::length(int row, int column) const
{
    return PQgetlength(m_result, row, column);
}

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(value(row, column), length(row, column));
}

qint64 PgResult::integer(int row, int column) const
{
    return std::strtoll(value(row, column), nullptr, 10);
}

void PgResult::readAll(std::vector<std::string>& texts) const
{
    const int rowCount = rows();
    const int columnCount = columns();
    for (int row = 0; row < rowCount; ++row) {
        for (int column = 0; column < columnCount; ++column)
            texts.emplace_back(value(row, column), size_t(length(row, column)));
    }
}

PgConnection::PgConnection(const QByteArray& conninfo)
    : m_connection(PQconnectdb(conninfo.constData()))
{
    if (PQstatus(m_connection) != CONNECTION_OK) {
        const QString why = QString::fromUtf8(PQerrorMessage(m_connection)).trimmed();
        PQfinish(m_connection);
        throw BenchError(QStringLiteral("cannot connect to the server (%1): %2").arg(QString::fromUtf8(conninfo), why));
    }
    PQsetClientEncoding(m_connection, "UTF8");
    exec("SET DateStyle = ISO");
}

PgConnection::~PgConnection()
{
    PQfinish(m_connection);
}

PgResult PgConnection::checked(pg_result* result, const char* what)
{
    PgResult owned(result);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_COPY_IN)
        throw BenchError(QStringLiteral("%1: %2").arg(
            QString::fromUtf8(what).left(300), QString::fromUtf8(PQerrorMessage(m_connection)).trimmed()));
    return owned;
}

PgResult PgConnection::exec(const char* sql)
{
    return checked(PQexec(m_connection, sql), sql);
}

bool PgConnection::tryExec(const char* sql)
{
    const PgResult result(PQexec(m_connection, sql));
    const ExecStatusType status = PQresultStatus(result.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

PgResult PgConnection::execParams(const std::string& sql, const std::vector<std::string>& values)
{
    QVarLengthArray<const char*, 16> pointers;
    for (const std::string& value : values)
        pointers.append(value.c_str());
    return checked(
        PQexecParams(m_connection, sql.c_str(), int(values.size()), nullptr, pointers.constData(), nullptr, nullptr, 0),
        sql.c_str());
}

void PgConnection::prepare(const char* name, const char* sql, int parameters)
{
    checked(PQprepare(m_connection, name, sql, parameters, nullptr), sql);
}

PgResult PgConnection::execPrepared(const char* name, const std::vector<std::string>& values)
{
    QVarLengthArray<const char*, 16> pointers;
    for (const std::string& value : values)
        pointers.append(value.c_str());
    return checked(
        PQexecPrepared(m_connection, name, int(values.size()), pointers.constData(), nullptr, nullptr, 0), name);
}

void PgConnection::copyIn(const char* sql, const std::function<bool(QByteArray& chunk)>& write)
{
    checked(PQexec(m_connection, sql), sql);
    QByteArray chunk;
    bool more = true;
    while (more) {
        chunk.clear();
        more = write(chunk);
        if (!chunk.isEmpty() && PQputCopyData(m_connection, chunk.constData(), int(chunk.size())) != 1)
            throw BenchError(QStringLiteral("COPY: ") + QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
    }
    if (PQputCopyEnd(m_connection, nullptr) != 1)
        throw BenchError(QStringLiteral("COPY: ") + QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
    // The rows' triggers run now; the statement's result comes after them.
    checked(PQgetResult(m_connection), sql);
    while (pg_result* rest = PQgetResult(m_connection))
        PQclear(rest);
}

QByteArray PgConnection::literal(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    char* escaped = PQescapeLiteral(m_connection, bytes.constData(), size_t(bytes.size()));
    if (!escaped)
        throw BenchError(QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
    const QByteArray result(escaped);
    PQfreemem(escaped);
    return result;
}

QString PgConnection::serverVersion() const
{
    const int version = PQserverVersion(m_connection);
    return QStringLiteral("%1.%2").arg(version / 10000).arg(version % 10000);
}

void appendCopyField(QByteArray& row, QByteArrayView value)
{
    for (const char c : value) {
        switch (c) {
        case '\\':
            row.append("\\\\");
            break;
        case '\t':
            row.append("\\t");
            break;
        case '\n':
            row.append("\\n");
            break;
        case '\r':
            row.append("\\r");
            break;
        default:
            row.append(c);
        }
    }
}
