#include "db/SqliteStatement.h"

#include "base/Error.h"
#include "db/DbError.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>
#include <sqlite3.h>

namespace {

sqlite3* handleOf(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!db.isOpen() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw KivaroError(QStringLiteral("数据库连接不可用"));
    sqlite3* connection = *static_cast<sqlite3* const*>(handle.constData());
    if (!connection)
        throw KivaroError(QStringLiteral("数据库连接不可用"));
    return connection;
}

[[noreturn]] void fail(sqlite3* connection)
{
    throw databaseFailure(QString::fromUtf8(sqlite3_db_filename(connection, "main")),
        sqlite3_extended_errcode(connection), QString::fromUtf8(sqlite3_errmsg(connection)));
}

} // namespace

SqliteStatement::SqliteStatement(const QSqlDatabase& db, const QString& statement, const QStringList& values)
{
    sqlite3* connection = handleOf(db);
    const QByteArray sql = statement.toUtf8();
    if (sqlite3_prepare_v2(connection, sql.constData(), int(sql.size()), &m_statement, nullptr) != SQLITE_OK)
        fail(connection);
    for (int i = 0; i < values.size(); ++i) {
        const QByteArray text = values.at(i).toUtf8();
        if (sqlite3_bind_text(m_statement, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
            sqlite3_finalize(m_statement);
            fail(connection);
        }
    }
}

void SqliteStatement::bind(int index, QByteArrayView text)
{
    // A null pointer would bind NULL; an empty text stays a text.
    const char* data = text.data() ? text.data() : "";
    if (sqlite3_bind_text(m_statement, index, data, int(text.size()), SQLITE_STATIC) != SQLITE_OK)
        fail(sqlite3_db_handle(m_statement));
}

void SqliteStatement::bind(int index, qint64 value)
{
    if (sqlite3_bind_int64(m_statement, index, value) != SQLITE_OK)
        fail(sqlite3_db_handle(m_statement));
}

void SqliteStatement::bindNull(int index)
{
    if (sqlite3_bind_null(m_statement, index) != SQLITE_OK)
        fail(sqlite3_db_handle(m_statement));
}

void SqliteStatement::run()
{
    const int result = sqlite3_step(m_statement);
    if (result != SQLITE_DONE && result != SQLITE_ROW)
        fail(sqlite3_db_handle(m_statement));
    sqlite3_reset(m_statement);
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

bool SqliteStatement::next()
{
    const int result = sqlite3_step(m_statement);
    if (result == SQLITE_ROW)
        return true;
    if (result != SQLITE_DONE)
        fail(sqlite3_db_handle(m_statement));
    return false;
}

qint64 SqliteStatement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QByteArrayView SqliteStatement::bytes(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return QByteArrayView(text, text ? sqlite3_column_bytes(m_statement, column) : 0);
}

SqliteFunction::SqliteFunction(const QSqlDatabase& db, const char* name, Test test)
    : m_connection(handleOf(db))
    , m_name(name)
    , m_test(std::move(test))
{
    if (sqlite3_create_function_v2(
            m_connection, m_name.constData(), 2, SQLITE_UTF8, this, &SqliteFunction::call, nullptr, nullptr, nullptr)
        != SQLITE_OK)
        fail(m_connection);
}

SqliteFunction::~SqliteFunction()
{
    sqlite3_create_function_v2(
        m_connection, m_name.constData(), 2, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void SqliteFunction::call(sqlite3_context* context, int count, sqlite3_value** values)
{
    const auto text = [&](int i) {
        const auto* bytes = i < count ? reinterpret_cast<const char*>(sqlite3_value_text(values[i])) : nullptr;
        return QByteArrayView(bytes, bytes ? sqlite3_value_bytes(values[i]) : 0);
    };
    // Nothing may unwind through the engine's frames.
    try {
        sqlite3_result_int(context, static_cast<SqliteFunction*>(sqlite3_user_data(context))->m_test(text(0), text(1)));
    } catch (const std::exception& error) {
        sqlite3_result_error(context, error.what(), -1);
    } catch (...) {
        sqlite3_result_error(context, "unexpected failure", -1);
    }
}
