// The file store read out whole and filled in, for copies and restores.

#include "db/SqliteSession.h"

#include "db/Schema.h"

using namespace sqlite;

QList<StoredAccount> SqliteStore::accounts()
{
    QList<StoredAccount> accounts;
    Session session(*this);
    QSqlQuery query = session.run(QStringLiteral("SELECT UserName, Password, LoginOrder FROM Users ORDER BY ID"));
    while (query.next())
        accounts.append(
            { DecodeText(query.value(0).toString()), query.value(1).toString(), query.value(2).toLongLong() });
    return accounts;
}

QList<UserTotals> SqliteStore::totalsByUser()
{
    // Day by day, so that a user's amounts add up beyond 64 bits without the engine's overflow.
    QMap<QByteArray, SalesTotals> byUser;
    Session session(*this);
    const QString days = FSummaries == TSummaries::Kept
        ? QStringLiteral("SELECT UserName, Lines, Quantity, Money, Cost FROM DaySums")
        : QStringLiteral("SELECT UserName, Lines, Quantity, Money, Cost FROM (%1)")
              .arg(Schema::dayGroups(QStringLiteral("1")));
    for (SqliteStatement rows(session.database(), days); rows.next();)
        byUser[rows.bytes(0).toByteArray()].add(sumsAt(rows, 2), rows.integer(1));
    QList<UserTotals> totals;
    for (auto it = byUser.cbegin(); it != byUser.cend(); ++it)
        totals.append({ decodeStoredBytes(it.key()), it.value() });
    return totals;
}

void SqliteStore::readLines(const QString& userName, const std::function<void(const QList<SalesLine>&)>& take)
{
    constexpr int kBatch = 10000;
    QList<SalesLine> batch;
    NameDecoder decodeName;
    DayValue dayValue;
    Session session(*this);
    SqliteStatement rows(session.database(),
        QStringLiteral("SELECT ID, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo FROM Records "
                       "WHERE UserName=? ORDER BY ID"),
        { EncodeText(userName) });
    while (rows.next()) {
        batch.append({ rows.integer(0), dayValue(rows.bytes(1)), decodeName(rows.bytes(2)), qint32(rows.integer(3)),
            rows.integer(4), rows.integer(5), decodeStoredBytes(rows.bytes(6)) });
        if (batch.size() == kBatch) {
            take(batch);
            batch.clear();
        }
    }
    if (!batch.isEmpty())
        take(batch);
}

class SqliteStore::Import : public LedgerImport
{
public:
    Import(SqliteStore& store, ImportMode mode, const std::function<void()>& whileLocked)
        : m_store(store)
        , m_session(store)
    {
        // BEGIN IMMEDIATE: no other instance writes from here on.
        m_session.begin();
        if (whileLocked)
            whileLocked();
        if (mode == ImportMode::Replacing) {
            m_session.run(QStringLiteral("DELETE FROM Records"));
            m_session.run(QStringLiteral("DELETE FROM Users"));
            m_store.requireCatalogue(m_session);
            m_session.run(QStringLiteral("DELETE FROM Catalogue"));
        }
        if (m_session.exists(QStringLiteral("SELECT 1 FROM Users UNION ALL SELECT 1 FROM Records LIMIT 1"), {}))
            throw KivaroError(QStringLiteral("目标数据库“%1”中已有帐户或记录，不能复制到这里。")
                                  .arg(QDir::toNativeSeparators(store.FLocation.databasePath())));
    }
    void addAccount(const StoredAccount& account) override
    {
        m_session.run(QStringLiteral("INSERT INTO Users (UserName, Password, LoginOrder) VALUES (?, ?, ?)"),
            { EncodeText(account.name), account.passwordHash, account.loginOrder });
    }
    void addLines(const QString& userName, const QList<SalesLine>& lines) override
    {
        // A copy keeps every line's id, so that a restored ledger is the same down to its order of entry.
        m_store.insertLines(m_session, userName, lines, true);
    }
    void setProductNames(const QString& userName, const QStringList& names) override
    {
        m_productNames.append({ userName, names });
    }
    void setCatalogue(const QString& userName, const QList<CatalogueItem>& items) override
    {
        m_store.putCatalogue(m_session, userName, items);
    }
    void commit() override
    {
        // The lists are files beside the database: written once its transaction has succeeded.
        m_session.commit();
        for (const auto& [userName, names] : m_productNames)
            m_store.writeProductNames(userName, names);
    }

private:
    SqliteStore& m_store;
    Session m_session;
    QList<std::pair<QString, QStringList>> m_productNames;
};

std::unique_ptr<LedgerImport> SqliteStore::startImport(ImportMode mode, const std::function<void()>& whileLocked)
{
    return std::make_unique<Import>(*this, mode, whileLocked);
}
