#pragma once

// What the files of the file store share, and nothing outside them includes: the session on one opening of the
// database, the engine's failures in the user's words, and the readers of stored days, names and changes.

#include "base/Error.h"
#include "base/TextCodec.h"
#include "db/DbError.h"
#include "db/LedgerStore.h"
#include "db/Numbers.h"
#include "db/SqliteStatement.h"
#include "db/SqliteStore.h"

#include <QByteArray>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace sqlite {

inline QString engineText(const QSqlError& error)
{
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

// The database's failure in the user's words, with the engine's text.
inline KivaroError failure(const QString& path, const QSqlError& error)
{
    return databaseFailure(path, error.nativeErrorCode().toInt(), engineText(error));
}

inline void checkDay(const QDate& day)
{
    if (!isLedgerDay(day))
        throw KivaroError(QStringLiteral("无效的日期“%1”").arg(day.toString(Qt::ISODate)));
}

inline QByteArray storedDay(const QDate& day)
{
    checkDay(day);
    return day.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
}

inline const QString kChangeColumns
    = QStringLiteral("SELECT ID, ChangedAt, UserName, Computer, Kind, LineID, Before, After, Undoes, UndoneBy "
                     "FROM Changes ");

inline ChangeEntry changeAt(const QSqlQuery& row)
{
    ChangeEntry entry;
    entry.id = row.value(0).toLongLong();
    entry.at = QDateTime::fromString(row.value(1).toString(), Qt::ISODateWithMs);
    entry.userName = DecodeText(row.value(2).toString());
    entry.computer = DecodeText(row.value(3).toString());
    entry.kind = kindFromName(row.value(4).toString());
    entry.lineId = row.value(5).toLongLong();
    if (entry.kind == ChangeEntry::Kind::Save) {
        entry.saved = savedFromRecord(row.value(7).toString());
    } else {
        entry.before = lineFromRecord(row.value(6).toString());
        entry.after = lineFromRecord(row.value(7).toString());
    }
    entry.undoes = row.value(8).toLongLong();
    entry.undoneBy = row.value(9).toLongLong();
    return entry;
}

// Product names repeat across many lines; each distinct stored form is decoded once per query.
class NameDecoder
{
public:
    QString operator()(QByteArrayView stored)
    {
        // The engine's bytes are looked up in place and copied only for a name not seen before.
        auto it = m_cache.constFind(QByteArray::fromRawData(stored.data(), stored.size()));
        if (it == m_cache.constEnd())
            it = m_cache.insert(stored.toByteArray(), decodeStoredBytes(stored));
        return *it;
    }

private:
    QHash<QByteArray, QString> m_cache;
};

// Rows come in order of days: each stored day is read once and shared by that day's rows.
class DayValue
{
public:
    QDate operator()(QByteArrayView stored)
    {
        if (stored != m_stored) {
            m_stored = stored.toByteArray();
            m_day = QDate::fromString(QString::fromLatin1(stored), QStringLiteral("yyyy-MM-dd"));
        }
        return m_day;
    }

private:
    QByteArray m_stored;
    QDate m_day;
};

inline SalesSums sumsAt(const SqliteStatement& rows, int first)
{
    return { rows.integer(first), rows.integer(first + 1), rows.integer(first + 2) };
}

} // namespace sqlite

// One opening of the database: opened on construction, closed on destruction. Writes that take more than one
// statement run inside begin()/commit(); a session left without commit rolls back.
class SqliteStore::Session
{
public:
    explicit Session(SqliteStore& owner)
        : m_db(QSqlDatabase::database(owner.FConnectionName, false))
        , m_path(owner.location().databasePath())
    {
        if (!QFile::exists(m_path)) {
            const QString templatePath = owner.templatePath();
            if (!QFile::exists(templatePath))
                throw KivaroError(QStringLiteral("找不到数据库文件“%1”，也找不到用来新建它的空数据库“%2”")
                                      .arg(QDir::toNativeSeparators(m_path), QDir::toNativeSeparators(templatePath)));
            if (!owner.FCopyFailure.isEmpty())
                throw KivaroError(QStringLiteral("无法从空数据库“%1”新建数据库文件“%2”：%3")
                                      .arg(QDir::toNativeSeparators(templatePath), QDir::toNativeSeparators(m_path),
                                          owner.FCopyFailure));
            throw KivaroError(QStringLiteral("找不到数据库文件“%1”").arg(QDir::toNativeSeparators(m_path)));
        }
        if (!m_db.open())
            throw sqlite::failure(m_path, m_db.lastError());
        owner.prepareSummaries(*this);
    }
    ~Session()
    {
        rollback();
        m_db.close();
    }

    QSqlDatabase& database() { return m_db; }
    // The engine's result code of the last failed statement.
    int lastEngineCode() const { return m_lastEngineCode; }

    QSqlQuery prepare(const QString& statement)
    {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.prepare(statement))
            throw sqlite::failure(m_path, query.lastError());
        return query;
    }
    void exec(QSqlQuery& query)
    {
        if (!query.exec()) {
            m_lastEngineCode = query.lastError().nativeErrorCode().toInt();
            throw sqlite::failure(m_path, query.lastError());
        }
    }
    QSqlQuery run(const QString& statement, const QVariantList& values = {})
    {
        QSqlQuery query = prepare(statement);
        for (const QVariant& value : values)
            query.addBindValue(value);
        exec(query);
        return query;
    }
    bool exists(const QString& statement, const QVariantList& values)
    {
        QSqlQuery query = run(statement, values);
        return query.next();
    }
    void begin()
    {
        // IMMEDIATE takes the write lock at once, so another instance waits for it instead of failing later.
        run(QStringLiteral("BEGIN IMMEDIATE"));
        m_inTransaction = true;
    }
    void commit()
    {
        run(QStringLiteral("COMMIT"));
        m_inTransaction = false;
    }
    // A plain BEGIN: the statements until the session ends read one state of the file.
    void beginRead()
    {
        run(QStringLiteral("BEGIN"));
        m_inTransaction = true;
    }
    void rollback()
    {
        if (m_inTransaction)
            QSqlQuery(QStringLiteral("ROLLBACK"), m_db);
        m_inTransaction = false;
    }
    int userVersion()
    {
        QSqlQuery query = run(QStringLiteral("PRAGMA user_version"));
        return query.next() ? query.value(0).toInt() : 0;
    }

private:
    QSqlDatabase m_db;
    QString m_path;
    bool m_inTransaction = false;
    int m_lastEngineCode = 0;
};
