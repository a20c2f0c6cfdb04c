#include "db/Outbox.h"

#include "base/HiClass.h"
#include "db/server/ServerConnection.h"

#include <QAtomicInt>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <libpq-fe.h>
#include <mutex>
#include <sodium.h>

namespace {

QAtomicInt connectionCounter;

const char* const kTables[] = {
    "CREATE TABLE IF NOT EXISTS accounts (user_name TEXT PRIMARY KEY, verifier TEXT NOT NULL, "
    "generation INTEGER NOT NULL DEFAULT 0, last_login TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS kept (id INTEGER PRIMARY KEY AUTOINCREMENT, user_name TEXT NOT NULL, "
    "owner TEXT NOT NULL, line TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS saves (seq INTEGER PRIMARY KEY AUTOINCREMENT, token TEXT NOT NULL UNIQUE, "
    "user_name TEXT NOT NULL, made_at TEXT NOT NULL, line_count INTEGER NOT NULL, lines TEXT NOT NULL, "
    "problem TEXT NOT NULL DEFAULT '', kept_owner TEXT NOT NULL DEFAULT '', kept_ids TEXT NOT NULL DEFAULT '')",
    "CREATE TABLE IF NOT EXISTS products (user_name TEXT PRIMARY KEY, names TEXT NOT NULL)",
    // Which server ledger this is (its own identity, learned at a login), whatever the address it was reached at.
    "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    // Kept lines the server still keeps for a window that went offline, forgotten here since: the server forgets them
    // too when the window is online again.
    "CREATE TABLE IF NOT EXISTS kept_forgotten (user_name TEXT NOT NULL, owner TEXT NOT NULL, "
    "server_kept INTEGER NOT NULL)",
    // The shop's catalogue as the last login here read it, for a till that logs in while the server is away: one
    // row, the items as JSON (amounts as texts), with a digest that tells whether it changed.
    "CREATE TABLE IF NOT EXISTS catalogue (id INTEGER PRIMARY KEY CHECK (id = 1), digest TEXT NOT NULL, "
    "items TEXT NOT NULL)",
};

QString catalogueRecord(const QList<CatalogueItem>& items)
{
    QJsonArray array;
    const auto amount
        = [](const std::optional<qint64>& cents) { return cents ? QJsonValue(QString::number(*cents)) : QJsonValue(); };
    for (const CatalogueItem& item : items)
        array.append(QJsonArray { item.name, item.code, amount(item.price), amount(item.cost) });
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString linesRecord(const QList<SalesLine>& lines)
{
    QJsonArray array;
    for (const SalesLine& line : lines)
        array.append(QJsonDocument::fromJson(lineRecord(line).toUtf8()).object());
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

// The lines of a save as they were written; what cannot be read exactly (a file damaged or changed by hand) is said in
// damage, and such a save is never sent.
QList<SalesLine> linesFromRecord(const QString& record, qint64 count, QString* damage)
{
    QList<SalesLine> lines;
    QJsonParseError parsed;
    const QJsonDocument document = QJsonDocument::fromJson(record.toUtf8(), &parsed);
    if (parsed.error != QJsonParseError::NoError || !document.isArray()) {
        *damage = QStringLiteral("记录无法读出");
        return lines;
    }
    for (const QJsonValue& value : document.array()) {
        const QJsonObject object = value.toObject();
        const auto text = [&object](const char* key) { return object.value(QLatin1String(key)).toString(); };
        bool quantityOk = false;
        bool receivedOk = false;
        bool costOk = false;
        SalesLine line { 0, QDate::fromString(text("day"), Qt::ISODate), text("name"),
            text("quantity").toInt(&quantityOk), text("received").toLongLong(&receivedOk),
            text("cost").toLongLong(&costOk), text("memo") };
        if (!line.day.isValid() || !quantityOk || !receivedOk || !costOk)
            *damage = QStringLiteral("第 %1 条记录无法读出（日期“%2”）").arg(lines.size() + 1).arg(text("day"));
        lines.append(line);
    }
    if (damage->isEmpty() && lines.size() != count)
        *damage = QStringLiteral("记录有 %1 条，与保存时的 %2 条不符").arg(lines.size()).arg(count);
    return lines;
}

// The key that seals an account's saves: made from the password the account logged in with, never kept on disk.
QByteArray sealKey(const QString& password, const QByteArray& salt)
{
    static std::mutex cacheMutex;
    static QHash<QByteArray, QByteArray> cache;
    const QByteArray cacheKey
        = QCryptographicHash::hash(QByteArray(password.toUtf8() + '\n' + salt), QCryptographicHash::Sha256);
    {
        const std::lock_guard lock(cacheMutex);
        if (const auto found = cache.constFind(cacheKey); found != cache.cend())
            return *found;
    }
    if (sodium_init() < 0 || salt.size() != crypto_pwhash_SALTBYTES)
        throw KivaroError(QStringLiteral("无法计算离线保存的校验"));
    QByteArray key(crypto_generichash_KEYBYTES, '\0');
    const QByteArray bytes = password.toUtf8();
    if (crypto_pwhash(reinterpret_cast<unsigned char*>(key.data()), size_t(key.size()), bytes.constData(),
            size_t(bytes.size()), reinterpret_cast<const unsigned char*>(salt.constData()),
            crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_DEFAULT)
        != 0)
        throw KivaroError(QStringLiteral("内存不足，无法计算离线保存的校验"));
    const std::lock_guard lock(cacheMutex);
    cache.insert(cacheKey, key);
    return key;
}

// Everything a save holds that the server would store, sealed with the account's key.
QString seal(const QByteArray& key, const QString& token, const QString& userName, qint64 lineCount,
    const QString& lines, const QString& keptOwner, const QString& keptIds)
{
    const QByteArray message = QStringList { token, userName, QString::number(lineCount), lines, keptOwner, keptIds }
                                   .join(QChar(0))
                                   .toUtf8();
    QByteArray mac(crypto_generichash_BYTES, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(mac.data()), size_t(mac.size()),
        reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size()),
        reinterpret_cast<const unsigned char*>(key.constData()), size_t(key.size()));
    return QString::fromLatin1(mac.toHex());
}

} // namespace

namespace {

QString outboxFile(const QString& text)
{
    const QByteArray key = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex();
    return THi::GetDataDir(QString()) + QStringLiteral("/outbox-") + QString::fromLatin1(key.left(16))
        + QStringLiteral(".sqlite");
}

// Where the ledger is, whatever the spelling: its host, address, port, database and service, as libpq reads them
// (with its defaults for what the text leaves out); not the role or the password, which name who connects.
QString ledgerAddress(const QString& connection)
{
    PQconninfoOption* parsed = PQconninfoParse(connection.toUtf8().constData(), nullptr);
    if (!parsed)
        return connection;
    PQconninfoOption* defaults = PQconndefaults();
    QStringList parts;
    for (const char* wanted : { "host", "hostaddr", "port", "dbname", "service" }) {
        QString value;
        for (const PQconninfoOption* option = parsed; option->keyword; ++option) {
            if (qstrcmp(option->keyword, wanted) == 0 && option->val && *option->val)
                value = QString::fromUtf8(option->val);
        }
        for (const PQconninfoOption* option = defaults; value.isEmpty() && option && option->keyword; ++option) {
            if (qstrcmp(option->keyword, wanted) == 0 && option->val)
                value = QString::fromUtf8(option->val);
        }
        parts.append(value);
    }
    PQconninfoFree(parsed);
    if (defaults)
        PQconninfoFree(defaults);
    return parts.join(QLatin1Char('|'));
}

} // namespace

QString outboxPath(const LedgerLocation& server)
{
    // A file named from the connection's own text by an earlier version goes on being used.
    const QString earlier = outboxFile(server.connection);
    if (QFile::exists(earlier))
        return earlier;
    return outboxFile(QStringLiteral("address:") + ledgerAddress(server.connection));
}

QStringList outboxesOfLedger(const QString& identity)
{
    QStringList found;
    if (identity.isEmpty())
        return found;
    const QDir folder(THi::GetDataDir(QString()));
    for (const QString& name : folder.entryList({ QStringLiteral("outbox-*.sqlite") }, QDir::Files, QDir::Name)) {
        const QString path = folder.filePath(name);
        const QString connectionName
            = QStringLiteral("kivaro-outbox-look-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
            if (db.open()) {
                QSqlQuery row(db);
                if (row.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'ledger'")) && row.next()
                    && row.value(0).toString() == identity)
                    found.append(path);
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connectionName);
    }
    return found;
}

// The outbox file, opened for the store's life. Every statement names the file in its failure.
class OutboxStore::Db
{
public:
    explicit Db(const QString& path)
        : m_path(path)
        , m_name(QStringLiteral("kivaro-outbox-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
    {
        if (!QFile::exists(path)) {
            // Made private before SQLite writes into it.
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !QFile::exists(path))
                throw KivaroError(QStringLiteral("无法新建离线记帐文件“%1”：%2")
                                      .arg(QDir::toNativeSeparators(path), file.errorString()));
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        // Two windows of the till take turns.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
        if (!db.open())
            fail(db.lastError());
        run(QStringLiteral("PRAGMA synchronous = FULL"));
        // The layout is checked and brought up to date under the write lock: two windows opening the file at once
        // would otherwise both see a column missing and both add it, and one would fail.
        transaction([&] {
            for (const char* statement : kTables)
                run(QString::fromLatin1(statement));
            // A kept line carried over from the server when the window went offline names the line the server keeps.
            if (!run(QStringLiteral("SELECT 1 FROM pragma_table_info('kept') WHERE name = 'server_kept'")).next())
                run(QStringLiteral("ALTER TABLE kept ADD COLUMN server_kept INTEGER NOT NULL DEFAULT 0"));
            // A save that cannot be sent as it is (damaged) is set aside: kept and shown, never sent, never blocking.
            if (!run(QStringLiteral("SELECT 1 FROM pragma_table_info('saves') WHERE name = 'set_aside'")).next())
                run(QStringLiteral("ALTER TABLE saves ADD COLUMN set_aside INTEGER NOT NULL DEFAULT 0"));
            // Each save is sealed with a key made from its account's password (the salt per account here): a save
            // written into the file by anyone else is never sent as that account's. Saves of earlier versions had
            // none.
            if (!run(QStringLiteral("SELECT 1 FROM pragma_table_info('saves') WHERE name = 'seal'")).next()) {
                run(QStringLiteral("ALTER TABLE saves ADD COLUMN seal TEXT NOT NULL DEFAULT ''"));
                run(QStringLiteral("UPDATE saves SET seal = 'earlier'"));
                run(QStringLiteral("ALTER TABLE accounts ADD COLUMN seal_salt TEXT NOT NULL DEFAULT ''"));
            }
        });
    }
    ~Db()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            if (db.isOpen()) {
                if (m_inTransaction)
                    db.rollback();
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(m_name);
    }

    [[noreturn]] void fail(const QSqlError& error) const
    {
        const QString engine = error.databaseText().trimmed().isEmpty() ? error.text() : error.databaseText();
        throw KivaroError(
            QStringLiteral("离线记帐文件“%1”出错：%2").arg(QDir::toNativeSeparators(m_path), engine.trimmed()));
    }

    QSqlQuery run(const QString& statement, const QVariantList& values = {})
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        query.setForwardOnly(true);
        if (!query.prepare(statement))
            fail(query.lastError());
        for (const QVariant& value : values)
            query.addBindValue(value);
        if (!query.exec())
            fail(query.lastError());
        return query;
    }

    // One write transaction; BEGIN IMMEDIATE makes another window wait here rather than fail at its first write.
    void transaction(const std::function<void()>& work)
    {
        run(QStringLiteral("BEGIN IMMEDIATE"));
        m_inTransaction = true;
        try {
            work();
            run(QStringLiteral("COMMIT"));
            m_inTransaction = false;
        } catch (...) {
            QSqlDatabase::database(m_name, false).rollback();
            m_inTransaction = false;
            throw;
        }
    }

private:
    QString m_path;
    QString m_name;
    bool m_inTransaction = false;
};

// A save offline: the lines wait in the outbox under the save's token.
class OutboxStore::Writer : public LedgerWrite
{
public:
    using Sealer = std::function<QString(
        const QString&, const QString&, qint64, const QString&, const QString&, const QString&)>;
    explicit Writer(Db& db, Sealer sealer = {})
        : m_db(db)
        , m_sealer(std::move(sealer))
    {
    }

    void lockUser(const QString&) override { }
    void insertLines(const QString& userName, const QList<SalesLine>& lines, bool) override
    {
        m_userName = userName;
        m_lines += lines;
    }
    // The save is recorded on the server when it arrives there.
    qint64 insertChange(
        const QString&, const QString&, ChangeEntry::Kind kind, qint64, const QString&, const QString&, qint64) override
    {
        if (kind != ChangeEntry::Kind::Save)
            refuseOfflineChange();
        return 0;
    }
    void recordSave(const QByteArray& token, const QString& userName, qint64 lines) override
    {
        if (userName != m_userName || lines != m_lines.size())
            throw KivaroError(QStringLiteral("离线保存的记录与保存的条数不符，没有保存。"));
        // Lines carried over from the server forget their kept lines there when the save arrives, in its
        // transaction; the save carries them, so they are no longer forgotten on their own.
        QStringList serverKept;
        bool carried = false;
        for (const qint64 id : std::as_const(m_serverKept)) {
            serverKept.append(QString::number(id));
            carried = carried || id != 0;
        }
        if (carried && serverKept.size() == m_lines.size()) {
            for (const qint64 id : std::as_const(m_serverKept))
                m_db.run(
                    QStringLiteral("DELETE FROM kept_forgotten WHERE user_name = ? AND owner = ? AND server_kept = ?"),
                    { userName, m_keptOwner, id });
        } else {
            carried = false;
        }
        const QString record = linesRecord(m_lines);
        const QString keptOwner = carried ? m_keptOwner : QStringLiteral("");
        const QString keptIds = carried ? serverKept.join(QLatin1Char(',')) : QStringLiteral("");
        m_db.run(
            QStringLiteral("INSERT INTO saves (token, user_name, made_at, line_count, lines, kept_owner, kept_ids, "
                           "seal) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
            { QString::fromLatin1(token), userName, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), lines,
                record, keptOwner, keptIds,
                m_sealer(QString::fromLatin1(token), userName, lines, record, keptOwner, keptIds) });
        m_lines.clear();
        m_serverKept.clear();
    }
    bool hasSave(const QByteArray& token) override
    {
        return m_db.run(QStringLiteral("SELECT 1 FROM saves WHERE token = ?"), { QString::fromLatin1(token) }).next();
    }

    QList<SalesLine> keptLines(const QString& userName, const QString& owner) override
    {
        QList<SalesLine> lines;
        QSqlQuery rows
            = m_db.run(QStringLiteral("SELECT id, line FROM kept WHERE user_name = ? AND owner = ? ORDER BY id"),
                { userName, owner });
        while (rows.next()) {
            SalesLine line = *lineFromRecord(rows.value(1).toString());
            line.id = rows.value(0).toLongLong();
            lines.append(line);
        }
        return lines;
    }
    QStringList keptOwners(const QString& userName) override
    {
        QStringList owners;
        QSqlQuery rows = m_db.run(
            QStringLiteral("SELECT DISTINCT owner FROM kept WHERE user_name = ? ORDER BY owner"), { userName });
        while (rows.next())
            owners.append(rows.value(0).toString());
        return owners;
    }
    QList<qint64> insertKept(const QString& userName, const QString& owner, const QList<SalesLine>& lines) override
    {
        QList<qint64> ids;
        for (const SalesLine& line : lines) {
            const QSqlQuery inserted
                = m_db.run(QStringLiteral("INSERT INTO kept (user_name, owner, line) VALUES (?, ?, ?)"),
                    { userName, owner, lineRecord(line) });
            ids.append(inserted.lastInsertId().toLongLong());
        }
        return ids;
    }
    qint64 removeKept(const QString& userName, const QString& owner, const QList<qint64>& ids) override
    {
        qint64 removed = 0;
        for (const qint64 id : ids) {
            QSqlQuery row
                = m_db.run(QStringLiteral("SELECT server_kept FROM kept WHERE id = ? AND user_name = ? AND owner = ?"),
                    { id, userName, owner });
            if (!row.next())
                continue;
            const qint64 serverKept = row.value(0).toLongLong();
            removed += m_db.run(QStringLiteral("DELETE FROM kept WHERE id = ?"), { id }).numRowsAffected();
            m_keptOwner = owner;
            m_serverKept.append(serverKept);
            if (serverKept != 0)
                m_db.run(QStringLiteral("INSERT INTO kept_forgotten (user_name, owner, server_kept) VALUES (?, ?, ?)"),
                    { userName, owner, serverKept });
        }
        return removed;
    }
    void moveKept(const QString& userName, const QString& from, const QString& to) override
    {
        m_db.run(QStringLiteral("UPDATE kept SET owner = ? WHERE user_name = ? AND owner = ?"), { to, userName, from });
    }

private:
    Db& m_db;
    Sealer m_sealer;
    QString m_userName;
    QList<SalesLine> m_lines;
    // The server's kept lines behind the kept lines removed so far, in order (0 for a line typed offline).
    QString m_keptOwner;
    QList<qint64> m_serverKept;
};

OutboxStore::OutboxStore(const LedgerLocation& server)
    : OutboxStore(server, outboxPath(server))
{
}

OutboxStore::OutboxStore(const LedgerLocation& server, const QString& path)
    : FLocation(server)
    , FDb(std::make_unique<Db>(path))
{
}

void OutboxStore::setLedgerIdentity(const QString& identity)
{
    FDb->run(QStringLiteral("INSERT INTO meta (key, value) VALUES ('ledger', ?) ON CONFLICT (key) DO UPDATE SET "
                            "value = excluded.value"),
        { identity });
}

void OutboxStore::keepCatalogue(const QList<CatalogueItem>& items)
{
    const QString record = catalogueRecord(items);
    const QString digest
        = QString::fromLatin1(QCryptographicHash::hash(record.toUtf8(), QCryptographicHash::Sha256).toHex());
    QSqlQuery kept = FDb->run(QStringLiteral("SELECT digest FROM catalogue WHERE id = 1"));
    if (kept.next() && kept.value(0).toString() == digest)
        return;
    FDb->run(QStringLiteral("INSERT INTO catalogue (id, digest, items) VALUES (1, ?, ?) ON CONFLICT (id) DO UPDATE "
                            "SET digest = excluded.digest, items = excluded.items"),
        { digest, record });
}

QList<CatalogueItem> OutboxStore::catalogue()
{
    QList<CatalogueItem> items;
    QSqlQuery row = FDb->run(QStringLiteral("SELECT items FROM catalogue WHERE id = 1"));
    if (!row.next())
        return items;
    const auto amount = [](const QJsonValue& value) -> std::optional<qint64> {
        bool number = false;
        const qint64 cents = value.toString().toLongLong(&number);
        return number ? std::optional<qint64>(cents) : std::nullopt;
    };
    for (const QJsonValue& value : QJsonDocument::fromJson(row.value(0).toString().toUtf8()).array()) {
        const QJsonArray item = value.toArray();
        items.append({ item.at(0).toString(), item.at(1).toString(), amount(item.at(2)), amount(item.at(3)) });
    }
    return items;
}

OutboxStore::~OutboxStore() = default;

QStringList OutboxStore::userNames()
{
    QStringList names;
    QSqlQuery rows = FDb->run(QStringLiteral("SELECT user_name FROM accounts ORDER BY last_login DESC"));
    while (rows.next())
        names.append(rows.value(0).toString());
    return names;
}

std::optional<QString> OutboxStore::passwordHash(const QString& name)
{
    QSqlQuery row = FDb->run(QStringLiteral("SELECT verifier FROM accounts WHERE user_name = ?"), { name });
    if (!row.next())
        return std::nullopt;
    return row.value(0).toString();
}

bool OutboxStore::insertUser(const QString& name, const QString& hash)
{
    QByteArray salt(crypto_pwhash_SALTBYTES, '\0');
    randombytes_buf(salt.data(), size_t(salt.size()));
    FDb->run(QStringLiteral("INSERT INTO accounts (user_name, verifier, last_login, seal_salt) VALUES (?, ?, ?, ?) "
                            "ON CONFLICT (user_name) DO UPDATE SET verifier = excluded.verifier, "
                            "last_login = excluded.last_login, seal_salt = CASE WHEN accounts.seal_salt = '' "
                            "THEN excluded.seal_salt ELSE accounts.seal_salt END"),
        { name, hash, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), QString::fromLatin1(salt.toHex()) });
    return true;
}

void OutboxStore::moveUserToFront(const QString&) { }

QString OutboxStore::sealOf(const QString& token, const QString& userName, qint64 lineCount, const QString& lines,
    const QString& keptOwner, const QString& keptIds)
{
    // Only the account's own login seals; a save made without it (the administrator's tools) is checked by nobody
    // and stays unsealed, which the account's next login does not take for its own.
    const std::optional<ServerAccount> account = signedInAccount(FLocation.connection);
    if (!account || account->name != userName)
        return QStringLiteral("");
    return sealWith(account->password, token, userName, lineCount, lines, keptOwner, keptIds);
}

QString OutboxStore::sealWith(const QString& password, const QString& token, const QString& userName, qint64 lineCount,
    const QString& lines, const QString& keptOwner, const QString& keptIds)
{
    QSqlQuery row = FDb->run(QStringLiteral("SELECT seal_salt FROM accounts WHERE user_name = ?"), { userName });
    const QByteArray salt = row.next() ? QByteArray::fromHex(row.value(0).toString().toLatin1()) : QByteArray();
    return seal(sealKey(password, salt), token, userName, lineCount, lines, keptOwner, keptIds);
}

void OutboxStore::write(const std::function<void(LedgerWrite&)>& work, const std::function<bool(LedgerWrite&)>&)
{
    Writer writer(*FDb,
        [this](const QString& token, const QString& user, qint64 count, const QString& lines, const QString& keptOwner,
            const QString& keptIds) { return sealOf(token, user, count, lines, keptOwner, keptIds); });
    FDb->transaction([&] { work(writer); });
}

std::optional<QStringList> OutboxStore::productNames(const QString& userName)
{
    QSqlQuery row = FDb->run(QStringLiteral("SELECT names FROM products WHERE user_name = ?"), { userName });
    if (!row.next())
        return std::nullopt;
    QStringList names;
    for (const QJsonValue& name : QJsonDocument::fromJson(row.value(0).toString().toUtf8()).array())
        names.append(name.toString());
    return names;
}

std::optional<QStringList> OutboxStore::rememberProductName(const QString& userName, const QString& name)
{
    return rememberProductNames(userName, { name });
}

std::optional<QStringList> OutboxStore::rememberProductNames(const QString& userName, const QStringList& used)
{
    std::optional<QStringList> result;
    FDb->transaction([&] {
        QStringList names = productNames(userName).value_or(QStringList());
        bool any = false;
        for (const QString& name : used) {
            if (name.trimmed().isEmpty())
                continue;
            names.removeAll(name);
            names.prepend(name);
            any = true;
        }
        if (!any)
            return;
        FDb->run(QStringLiteral("INSERT INTO products (user_name, names) VALUES (?, ?) "
                                "ON CONFLICT (user_name) DO UPDATE SET names = excluded.names"),
            { userName, QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(names)).toJson()) });
        result = names;
    });
    return result;
}

void OutboxStore::writeProductNames(const QString& userName, const QStringList& names)
{
    FDb->run(QStringLiteral("INSERT INTO products (user_name, names) VALUES (?, ?) "
                            "ON CONFLICT (user_name) DO UPDATE SET names = excluded.names"),
        { userName, QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(names)).toJson()) });
}

void OutboxStore::parkSave(const QByteArray& token, const QString& userName, const QList<SalesLine>& lines,
    const QString& keptOwner, const QList<qint64>& keptIds)
{
    QStringList ids;
    for (const qint64 id : keptIds)
        ids.append(QString::number(id));
    const QString record = linesRecord(lines);
    const QString keptIdsText = ids.join(QLatin1Char(','));
    FDb->run(
        QStringLiteral("INSERT INTO saves (token, user_name, made_at, line_count, lines, kept_owner, kept_ids, seal) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
        { QString::fromLatin1(token), userName, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs),
            lines.size(), record, keptOwner, keptIdsText,
            sealOf(QString::fromLatin1(token), userName, lines.size(), record, keptOwner, keptIdsText) });
}

QList<OutboxSave> OutboxStore::saves(const QString& userName)
{
    QList<OutboxSave> waiting;
    QSqlQuery rows = FDb->run(QStringLiteral("SELECT seq, token, user_name, made_at, lines, problem, kept_owner, "
                                             "kept_ids, line_count, set_aside, seal FROM saves "
                                             "WHERE ? = '' OR user_name = ? ORDER BY seq"),
        // A null text would be bound as NULL, which equals nothing.
        { userName.isEmpty() ? QStringLiteral("") : userName, userName });
    while (rows.next()) {
        QString damage;
        OutboxSave save { rows.value(0).toLongLong(), rows.value(1).toString().toLatin1(), rows.value(2).toString(),
            QDateTime::fromString(rows.value(3).toString(), Qt::ISODateWithMs),
            linesFromRecord(rows.value(4).toString(), rows.value(8).toLongLong(), &damage), rows.value(6).toString(),
            {}, rows.value(5).toString(), QString(), false };
        for (const QString& id : rows.value(7).toString().split(QLatin1Char(','), Qt::SkipEmptyParts))
            save.keptIds.append(id.toLongLong());
        if (!save.keptIds.isEmpty() && save.keptIds.size() != save.lines.size() && damage.isEmpty())
            damage = QStringLiteral("待存记录的编号与记录不符");
        // The account's own saves are checked against their seals while it is logged in: a save another wrote into
        // the file under its name is never sent.
        const QString sealed = rows.value(10).toString();
        if (damage.isEmpty() && !userName.isEmpty() && sealed != QLatin1String("earlier")) {
            const QStringList passwords = passwordsSignedInWith(FLocation.connection, userName);
            bool own = passwords.isEmpty();
            for (const QString& password : passwords) {
                own = own
                    || sealed
                        == sealWith(password, rows.value(1).toString(), userName, rows.value(8).toLongLong(),
                            rows.value(4).toString(), rows.value(6).toString(), rows.value(7).toString());
            }
            if (!own)
                damage = QStringLiteral("它不是这个帐户在这台电脑上保存的（校验不符）");
        }
        save.damage = damage;
        save.setAside = rows.value(9).toInt() != 0;
        waiting.append(save);
    }
    return waiting;
}

OutboxCount OutboxStore::count(const QString& userName)
{
    OutboxCount counted;
    QSqlQuery row = FDb->run(QStringLiteral("SELECT count(*) FILTER (WHERE set_aside = 0), "
                                            "coalesce(sum(line_count) FILTER (WHERE set_aside = 0), 0), "
                                            "count(*) FILTER (WHERE set_aside <> 0) FROM saves WHERE user_name = ?"),
        { userName });
    if (row.next())
        counted = { row.value(0).toLongLong(), row.value(1).toLongLong(), QString(), row.value(2).toLongLong() };
    QSqlQuery problem = FDb->run(
        QStringLiteral("SELECT problem FROM saves WHERE user_name = ? AND problem <> '' ORDER BY seq LIMIT 1"),
        { userName });
    if (problem.next())
        counted.problem = problem.value(0).toString();
    return counted;
}

void OutboxStore::removeSave(qint64 seq)
{
    FDb->run(QStringLiteral("DELETE FROM saves WHERE seq = ?"), { seq });
}

void OutboxStore::setProblem(qint64 seq, const QString& problem)
{
    FDb->run(QStringLiteral("UPDATE saves SET problem = ? WHERE seq = ?"), { problem, seq });
}

void OutboxStore::setAside(qint64 seq, const QString& problem)
{
    FDb->run(QStringLiteral("UPDATE saves SET problem = ?, set_aside = 1 WHERE seq = ?"), { problem, seq });
}

qint64 OutboxStore::generation(const QString& userName)
{
    QSqlQuery row = FDb->run(QStringLiteral("SELECT generation FROM accounts WHERE user_name = ?"), { userName });
    return row.next() ? row.value(0).toLongLong() : 0;
}

void OutboxStore::setGeneration(const QString& userName, qint64 generation)
{
    FDb->run(QStringLiteral("UPDATE accounts SET generation = ? WHERE user_name = ?"), { generation, userName });
}

QStringList OutboxStore::keptOwners(const QString& userName)
{
    QStringList owners;
    QSqlQuery rows = FDb->run(QStringLiteral("SELECT owner FROM kept WHERE user_name = ? UNION "
                                             "SELECT owner FROM kept_forgotten WHERE user_name = ? ORDER BY owner"),
        { userName, userName });
    while (rows.next())
        owners.append(rows.value(0).toString());
    return owners;
}

QList<SalesLine> OutboxStore::keptLines(const QString& userName, const QString& owner)
{
    Writer reader(*FDb);
    return reader.keptLines(userName, owner);
}

void OutboxStore::removeKeptOwner(const QString& userName, const QString& owner)
{
    FDb->transaction([&] {
        FDb->run(QStringLiteral("DELETE FROM kept WHERE user_name = ? AND owner = ?"), { userName, owner });
        FDb->run(QStringLiteral("DELETE FROM kept_forgotten WHERE user_name = ? AND owner = ?"), { userName, owner });
    });
}

QList<qint64> OutboxStore::carryKept(const QString& userName, const QString& owner, const QList<SalesLine>& lines)
{
    QList<qint64> ids;
    FDb->transaction([&] {
        for (const SalesLine& line : lines) {
            const QSqlQuery inserted
                = FDb->run(QStringLiteral("INSERT INTO kept (user_name, owner, line, server_kept) VALUES (?, ?, ?, ?)"),
                    { userName, owner, lineRecord(line), line.id });
            ids.append(inserted.lastInsertId().toLongLong());
        }
    });
    return ids;
}

QList<qint64> OutboxStore::serverKeptToForget(const QString& userName, const QString& owner)
{
    QList<qint64> ids;
    QSqlQuery rows = FDb->run(QStringLiteral("SELECT server_kept FROM kept WHERE user_name = ? AND owner = ? "
                                             "AND server_kept <> 0 UNION SELECT server_kept FROM kept_forgotten "
                                             "WHERE user_name = ? AND owner = ?"),
        { userName, owner, userName, owner });
    while (rows.next())
        ids.append(rows.value(0).toLongLong());
    return ids;
}

void refuseOfflineChange()
{
    throw KivaroError(QStringLiteral("服务器连不上：修改、删除已保存的记录和撤销都需要服务器，这次什么也没有改。"));
}
