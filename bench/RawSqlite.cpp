#include "bench/RawSqlite.h"
#include "tests/support/LedgerSeed.h"

#include "bench/Measure.h"
#include "db/DbClass.h"

#include <sqlite3.h>

namespace {

void fail(sqlite3* db, const char* what)
{
    throw BenchError(QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromUtf8(sqlite3_errmsg(db))));
}

} // namespace

RawSqliteDb::RawSqliteDb(const QString& path, bool writable)
{
    const int flags = writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr) != SQLITE_OK)
        fail(m_db, "open");
    sqlite3_busy_timeout(m_db, 10000);
}

RawSqliteDb::~RawSqliteDb()
{
    sqlite3_close(m_db);
}

void RawSqliteDb::exec(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(m_db, sql);
}

qint64 RawSqliteDb::scalar(const char* sql)
{
    RawSqliteStatement statement(*this, sql);
    check(statement.step(), QStringLiteral("no row from %1").arg(QString::fromLatin1(sql)));
    return sqlite3_column_int64(statement.get(), 0);
}

RawSqliteStatement::RawSqliteStatement(RawSqliteDb& db, const std::string& sql)
    : m_db(db)
{
    if (sqlite3_prepare_v2(db.handle(), sql.c_str(), int(sql.size()), &m_stmt, nullptr) != SQLITE_OK)
        fail(db.handle(), "prepare");
}

RawSqliteStatement::~RawSqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

void RawSqliteStatement::bind(int index, const std::string& text)
{
    if (sqlite3_bind_text(m_stmt, index, text.data(), int(text.size()), SQLITE_STATIC) != SQLITE_OK)
        fail(m_db.handle(), "bind");
}

void RawSqliteStatement::bind(int index, std::string&& text)
{
    if (sqlite3_bind_text(m_stmt, index, text.data(), int(text.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        fail(m_db.handle(), "bind");
}

void RawSqliteStatement::bind(int index, qint64 value)
{
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        fail(m_db.handle(), "bind");
}

bool RawSqliteStatement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        fail(m_db.handle(), "step");
    return false;
}

void RawSqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
}

std::array<size_t, 4> rawReport(const QString& path, const std::string& encodedUser, const std::string& firstDay,
    const std::string& lastDay, std::vector<std::string>& texts)
{
    texts.clear();
    std::array<size_t, 4> rows {};
    RawSqliteDb db(path, true);
    const QStringList statements = reportStatements();
    for (int s = 0; s < 4; ++s) {
        RawSqliteStatement query(db, statements.at(s).toStdString());
        query.bind(1, encodedUser);
        query.bind(2, firstDay);
        query.bind(3, lastDay);
        const int columns = sqlite3_column_count(query.get());
        while (query.step()) {
            for (int c = 0; c < columns; ++c) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), c));
                texts.emplace_back(text ? text : "", size_t(sqlite3_column_bytes(query.get(), c)));
            }
            ++rows[s];
        }
    }
    return rows;
}

void rawInsert(const QString& path, const std::string& encodedUser, const std::vector<StoredLine>& lines)
{
    RawSqliteDb db(path, true);
    db.exec("BEGIN IMMEDIATE");
    {
        RawSqliteStatement insert(db,
            "INSERT INTO Records (UserName, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo) "
            "VALUES (?, ?, ?, ?, ?, ?, ?)");
        for (const StoredLine& line : lines) {
            insert.bind(1, encodedUser);
            insert.bind(2, line.day);
            insert.bind(3, line.name);
            insert.bind(4, qint64(line.quantity));
            insert.bind(5, line.received);
            insert.bind(6, line.cost);
            insert.bind(7, line.memo);
            insert.step();
            insert.reset();
        }
    }
    db.exec("COMMIT");
}

QString sqliteVersion()
{
    return QString::fromLatin1(sqlite3_libversion());
}
