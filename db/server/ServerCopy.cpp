// Reading a whole server ledger out, and filling or replacing one, for copies and restores.

#include "db/server/PgSession.h"

#include "db/server/ServerConnection.h"
#include "db/server/ServerSchema.h"

using namespace pg;

QList<StoredAccount> ServerStore::accounts()
{
    return withSession([](Session& session) {
        QList<StoredAccount> accounts;
        // The server keeps the passwords: none travels with an account.
        const Result rows = session.exec("SELECT user_name, login_order FROM users ORDER BY id");
        for (int row = 0; row < rows.rows(); ++row)
            accounts.append({ rows.text(row, 0), QStringLiteral(""), rows.integer(row, 1) });
        return accounts;
    });
}

QList<UserTotals> ServerStore::totalsByUser()
{
    return withSession([](Session& session) {
        QList<UserTotals> totals;
        // Day by day, so that a user's amounts add up beyond 64 bits.
        const Result rows = session.exec("SELECT user_name, lines, quantity, received, cost FROM day_sums "
                                         "ORDER BY md5(user_name), user_name");
        for (int row = 0; row < rows.rows(); ++row) {
            const QString user = rows.text(row, 0);
            if (totals.isEmpty() || totals.last().userName != user)
                totals.append({ user, {} });
            totals.last().totals.add(rows.sums(row, 2), rows.integer(row, 1));
        }
        return totals;
    });
}

void ServerStore::readLines(const QString& userName, const std::function<void(const QList<SalesLine>&)>& take)
{
    const QByteArray user = textValue(userName);
    withSession([&](Session& session) {
        session.begin();
        session.exec("DECLARE lines NO SCROLL CURSOR FOR SELECT id, day, product_name, quantity, received, cost, memo "
                     "FROM records WHERE md5(user_name) = md5($1) AND user_name = $1 ORDER BY id",
            { user });
        for (;;) {
            const Result rows = session.exec("FETCH 10000 FROM lines");
            if (rows.rows() == 0)
                break;
            QList<SalesLine> batch;
            batch.reserve(rows.rows());
            for (int row = 0; row < rows.rows(); ++row) {
                batch.append(rows.line(row));
                // A day the program cannot read (written with psql before the ledger refused it) is named, so that
                // the administrator can mend that line.
                if (!isLedgerDay(batch.last().day))
                    throw KivaroError(
                        QStringLiteral("数据库服务器“%1”上帐户“%2”的记录（编号 %3）日期是“%4”，"
                                       "超出了本程序能读写的范围（公元 1 年到 9999 年）；"
                                       "请管理员改正或删去这条记录后再试。")
                            .arg(FLocation.displayName(), userName, rows.text(row, 0), rows.text(row, 1)));
            }
            take(batch);
        }
        session.exec("CLOSE lines");
        session.commit();
    });
}

// Holds one transaction open from the first account to commit().
class ServerStore::Import : public LedgerImport
{
public:
    Import(ServerStore& store, ImportMode mode, const std::function<void()>& whileLocked)
        : m_store(store)
        , m_session(store, store.connect())
        , m_replacing(mode == ImportMode::Replacing)
    {
        if (!store.FSchemaReady)
            store.prepareSchema(m_session);
        m_session.begin();
        m_access = store.access(m_session);
        // The lines come with their own record of changes, or none.
        m_session.exec("SET LOCAL kivaro.importing = 'on'");
        // Nobody else writes while the copy fills the ledger: every write holds this lock shared, a replacement
        // waits for the writes under way and holds it alone until it commits.
        m_session.exec(
            m_replacing ? "SELECT kivaro_lock('restore', '', true)" : "SELECT kivaro_lock('restore', '', false)");
        m_session.exec("LOCK TABLE users, records, product_names, catalogue IN SHARE ROW EXCLUSIVE MODE");
        if (whileLocked)
            whileLocked();
        if (m_replacing) {
            // Emptied together, the summaries stay right; the guard on records lets this one truncate through. The
            // record of changes belongs to the ledger replaced: an undo must not bring its lines back. The kept
            // lines of the tills are not part of the ledger and stay, to be saved into the one restored. The
            // counters of line and change IDs go on: an ID is never given out twice.
            m_session.exec("SET LOCAL kivaro.replacing = 'on'");
            m_session.exec(
                "TRUNCATE records, day_sums, day_product_sums, month_product_sums, year_product_sums, users, "
                "saves, changes, catalogue");
            m_session.exec("UPDATE ledger_generation SET generation = generation + 1");
        }
        if (m_session.exec("SELECT 1 FROM users UNION ALL SELECT 1 FROM records LIMIT 1").rows() > 0)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本中已有帐户或记录，不能复制到这里。")
                                  .arg(store.FLocation.displayName()));
    }
    // The server cannot use a file's password hash: an account that is not a role yet becomes one without a
    // password, waiting for the administrator to set one.
    void addAccount(const StoredAccount& account) override
    {
        const bool needsPassword = m_store.admitRole(m_session, m_access, account.name, QString());
        m_session.exec("INSERT INTO users (user_name, login_order, needs_password) VALUES ($1, $2, $3)",
            { textValue(account.name), numberValue(account.loginOrder), needsPassword ? "t" : "f" });
    }
    void addLines(const QString& userName, const QList<SalesLine>& lines) override
    {
        // No account can have the empty name.
        if (userName.isEmpty())
            throw KivaroError(QStringLiteral("有 %1 条记录没有用户名，服务器上的账本不能保存它们；"
                                             "请先在原来的账本里删去或改正这些记录。")
                                  .arg(lines.size()));
        // A copy keeps every line's id, so that a restored ledger is the same down to its order of entry.
        m_store.insertLines(m_session, userName, lines, true);
    }
    void setProductNames(const QString& userName, const QStringList& names) override
    {
        m_store.putProductNames(m_session, userName, names);
    }
    // The shop has one catalogue: each user's products join it, a name or code it has already keeps the shop's.
    void setCatalogue(const QString& /*userName*/, const QList<CatalogueItem>& items) override
    {
        if (!m_catalogueRead) {
            // A copy into an empty ledger may meet a catalogue there already.
            const Result rows = m_session.exec("SELECT product_name, code FROM catalogue");
            for (int row = 0; row < rows.rows(); ++row) {
                m_names.insert(rows.text(row, 0));
                m_codes.insert(rows.text(row, 1));
            }
            m_catalogueRead = true;
        }
        QList<CatalogueChange> changes;
        for (CatalogueItem item : items) {
            if (m_names.contains(item.name))
                continue;
            if (m_codes.contains(item.code))
                item.code.clear();
            m_names.insert(item.name);
            m_codes.insert(item.code);
            changes.append({ CatalogueChange::Kind::Put, item, {} });
        }
        m_store.putCatalogue(m_session, changes);
    }
    void commit() override
    {
        // New lines continue after the highest ID copied or ever given out, whichever is higher.
        m_session.exec("SELECT setval(pg_get_serial_sequence('records', 'id'), GREATEST((SELECT max(id) FROM records), "
                       "pg_sequence_last_value(pg_get_serial_sequence('records', 'id')::regclass), 1))");
        // A restored ledger's accounts are the backup's: a member of the group that is none of them no longer writes.
        if (m_replacing) {
            const Result gone
                = m_session.exec("SELECT r.rolname FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member "
                                 "JOIN pg_roles g ON g.oid = m.roleid WHERE g.rolname = $1 AND NOT EXISTS "
                                 "(SELECT 1 FROM users u WHERE u.user_name = r.rolname::text)",
                    { textValue(m_access.group) });
            for (int row = 0; row < gone.rows(); ++row)
                m_session.exec(
                    QStringLiteral("REVOKE %1 FROM %2").arg(quotedName(m_access.group), quotedName(gone.text(row, 0))));
        }
        const Result generation = m_session.exec("SELECT generation FROM ledger_generation");
        m_session.commit();
        // The computer that restored goes on in the new ledger.
        if (m_replacing)
            m_store.FGeneration = generation.integer(0, 0);
    }

private:
    ServerStore& m_store;
    Session m_session;
    bool m_replacing;
    ServerSchema::Access m_access;
    // The names and codes the shop's catalogue has (the empty code among them: a product without one).
    QSet<QString> m_names, m_codes { QString() };
    bool m_catalogueRead = false;
};

std::unique_ptr<LedgerImport> ServerStore::startImport(ImportMode mode, const std::function<void()>& whileLocked)
{
    if (FSnapshot)
        throw KivaroError(QStringLiteral("账本正在被读取，不能同时写入"));
    // Filling or replacing a ledger is the administrator's work.
    if (!FAdministrator) {
        FAdministrator = true;
        disconnect();
    }
    return std::make_unique<Import>(*this, mode, whileLocked);
}

QString ServerStore::ledgerIdentity()
{
    return withSession(
        [&](Session& session) { return session.exec("SELECT id::text FROM kivaro_ledger_id").text(0, 0); });
}

qint64 ServerStore::ledgerGeneration()
{
    return withSession(
        [&](Session& session) { return session.exec("SELECT generation FROM ledger_generation").integer(0, 0); });
}
