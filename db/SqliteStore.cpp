#include "db/SqliteStore.h"

#include "base/Platform.h"

#include "base/SafeFile.h"

#include "db/DbClass.h"

#include "base/Error.h"
#include "base/HiClass.h"
#include "base/TextCodec.h"
#include "db/DbError.h"
#include "db/Numbers.h"
#include "db/ProductsFile.h"
#include "db/Schema.h"
#include "db/SqliteStatement.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QUrl>
#include <QVariant>
#include <cerrno>
#include <cstring>
#include <sqlite3.h>

namespace {

QAtomicInt connectionCounter;

QString engineText(const QSqlError& error)
{
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

// The database's failure in the user's words, with the engine's text.
KivaroError failure(const QString& path, const QSqlError& error)
{
    return databaseFailure(path, error.nativeErrorCode().toInt(), engineText(error));
}

void checkDay(const QDate& day)
{
    if (!isLedgerDay(day))
        throw KivaroError(QStringLiteral("无效的日期“%1”").arg(day.toString(Qt::ISODate)));
}

QByteArray storedDay(const QDate& day)
{
    checkDay(day);
    return day.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
}

// Copies the empty database into place, never over an existing file. Returns why it failed, or nothing. Every
// step is checked: a full disk must not leave a cut-off database behind.
QString copyTemplate(const QString& from, const QString& to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return source.errorString();
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return source.errorString();
    QTemporaryFile copy(to + QStringLiteral(".XXXXXX"));
    if (!copy.open() || !copy.setPermissions(QFile::ReadOwner | QFile::WriteOwner) || copy.write(bytes) != bytes.size()
        || !copy.flush())
        return copy.errorString();
    if (const QString why = Platform::syncHandle(copy.handle()); !why.isEmpty())
        return why;
    copy.close();
    // rename() never replaces: when another instance made the file meanwhile, its copy stays and serves.
    copy.setAutoRemove(false);
    if (copy.rename(to))
        return {};
    const QString why = copy.errorString();
    copy.remove();
    return QFile::exists(to) ? QString() : why;
}

} // namespace

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
            throw failure(m_path, m_db.lastError());
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
            throw failure(m_path, query.lastError());
        return query;
    }
    void exec(QSqlQuery& query)
    {
        if (!query.exec()) {
            m_lastEngineCode = query.lastError().nativeErrorCode().toInt();
            throw failure(m_path, query.lastError());
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

void SqliteStore::prepareSummaries(Session& session)
{
    if (FSummaries != TSummaries::Unknown)
        return;
    try {
        int version = session.userVersion();
        if (version < Schema::kVersion) {
            // A file held read-only keeps the summaries an earlier upgrade gave it.
            FSummaries = version >= 1 ? TSummaries::Kept : TSummaries::Missing;
            session.begin();
            // Another instance may have upgraded the file while this one waited for the lock.
            version = session.userVersion();
            if (version == 0) {
                const std::shared_ptr<void> notice = TDbMan::longWorkNotice
                    ? TDbMan::longWorkNotice(QStringLiteral("正在为数据库建立汇总，以后查帐会更快，请稍候……"))
                    : nullptr;
                Schema::addSummaries(session.database());
            } else if (version == 1) {
                Schema::addHistory(session.database());
            }
            session.commit();
            version = Schema::kVersion;
        }
        // A newer layout may keep other summaries; its lines are read directly.
        FSummaries = version == Schema::kVersion ? TSummaries::Kept : TSummaries::Missing;
    } catch (const KivaroError&) {
        session.rollback();
        // A file held by another instance may be upgraded at a later opening; any other refusal is final.
        const int code = session.lastEngineCode() & 0xFF;
        if (code == 5 || code == 6)
            FSummaries = TSummaries::Unknown;
        else if (FSummaries == TSummaries::Unknown)
            FSummaries = TSummaries::Missing;
    }
}

SqliteStore::SqliteStore(const LedgerLocation& location)
    : FLocation(location)
    , FConnectionName(QStringLiteral("kivaro-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
{
    const QString path = FLocation.databasePath();
    // No file the program writes may replace the ledger.
    SafeFile::protect(path);
    // A missing template or a failed copy shows up at the first operation.
    if (!QFile::exists(path) && QFile::exists(templatePath()))
        FCopyFailure = copyTemplate(templatePath(), path);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnectionName);
    // mode=rw: never let the engine create an empty file in place of a missing one.
    db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rw"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=10000"));
}

SqliteStore::~SqliteStore()
{
    QSqlDatabase::removeDatabase(FConnectionName);
}

QString SqliteStore::templatePath()
{
    return THi::GetAppDir() + QStringLiteral("/db.sjk.new");
}

namespace {
const QString kUserByName = QStringLiteral("SELECT Password FROM Users WHERE UserName=?");
} // namespace

QStringList SqliteStore::userNames()
{
    QStringList names;
    Session session(*this);
    QSqlQuery query = session.run(QStringLiteral("SELECT UserName FROM Users ORDER BY LoginOrder DESC, ID DESC"));
    while (query.next())
        names.append(DecodeText(query.value(0).toString()));
    return names;
}

std::optional<QString> SqliteStore::passwordHash(const QString& name)
{
    Session session(*this);
    QSqlQuery query = session.run(kUserByName, { EncodeText(name) });
    if (!query.next())
        return std::nullopt;
    return query.value(0).toString();
}

bool SqliteStore::insertUser(const QString& name, const QString& hash)
{
    const QString encoded = EncodeText(name);
    Session session(*this);
    session.begin();
    if (session.exists(kUserByName, { encoded }))
        return false;
    session.run(QStringLiteral("INSERT INTO Users (UserName, Password, LoginOrder) "
                               "VALUES (?, ?, (SELECT COALESCE(MAX(LoginOrder), 0) + 1 FROM Users))"),
        { encoded, hash });
    const bool added = session.exists(kUserByName, { encoded });
    session.commit();
    return added;
}

bool SqliteStore::deleteUserIf(const QString& name, const std::function<bool(const QString&)>& check)
{
    const QString encoded = EncodeText(name);
    Session session(*this);
    session.begin();
    QSqlQuery stored = session.run(kUserByName, { encoded });
    if (!stored.next() || !check(stored.value(0).toString()))
        return false;
    stored.finish();
    session.run(QStringLiteral("DELETE FROM Users WHERE UserName=?"), { encoded });
    const bool deleted = !session.exists(kUserByName, { encoded });
    session.commit();
    return deleted;
}

bool SqliteStore::replaceHashIf(
    const QString& name, const std::function<bool(const QString&)>& check, const QString& newHash)
{
    const QString encoded = EncodeText(name);
    Session session(*this);
    session.begin();
    QSqlQuery stored = session.run(kUserByName, { encoded });
    if (!stored.next() || !check(stored.value(0).toString()))
        return false;
    stored.finish();
    session.run(QStringLiteral("UPDATE Users SET Password=? WHERE UserName=?"), { newHash, encoded });
    QSqlQuery changed = session.run(kUserByName, { encoded });
    const bool ok = changed.next() && changed.value(0).toString() == newHash;
    changed.finish();
    session.commit();
    return ok;
}

void SqliteStore::moveUserToFront(const QString& name)
{
    Session session(*this);
    session.run(QStringLiteral("UPDATE Users SET LoginOrder=(SELECT COALESCE(MAX(LoginOrder), 0) + 1 FROM Users) "
                               "WHERE UserName=?"),
        { EncodeText(name) });
}

qint64 SqliteStore::recordChange(Session& session, const QString& userName, const QString& computer,
    ChangeEntry::Kind kind, qint64 lineId, const QString& before, const QString& after, qint64 undoes)
{
    QSqlQuery added = session.run(
        QStringLiteral("INSERT INTO Changes (ChangedAt, UserName, Computer, Kind, LineID, Before, After, Undoes) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
        { QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), EncodeText(userName), EncodeText(computer),
            kindName(kind), lineId ? QVariant(lineId) : QVariant(), before.isNull() ? QStringLiteral("") : before,
            after.isNull() ? QStringLiteral("") : after, undoes ? QVariant(undoes) : QVariant() });
    return added.lastInsertId().toLongLong();
}

std::optional<SalesLine> SqliteStore::readLine(Session& session, qint64 id, QString* userName)
{
    QSqlQuery row = session.run(QStringLiteral("SELECT UserName, RecDate, RecProductName, RecQuantity, RecMoney, "
                                               "RecCost, RecMemo FROM Records WHERE ID=?"),
        { id });
    if (!row.next())
        return std::nullopt;
    if (userName)
        *userName = DecodeText(row.value(0).toString());
    return SalesLine { id, QDate::fromString(row.value(1).toString(), QStringLiteral("yyyy-MM-dd")),
        DecodeText(row.value(2).toString()), row.value(3).toInt(), row.value(4).toLongLong(), row.value(5).toLongLong(),
        DecodeText(row.value(6).toString()) };
}

void SqliteStore::insertLines(Session& session, const QString& userName, const QList<SalesLine>& lines, bool keepIds)
{
    QList<QByteArray> days;
    days.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // The lines of one save mostly share their day.
        days.append(i > 0 && lines[i].day == lines[i - 1].day ? days.last() : storedDay(lines[i].day));
    }

    // A save holds many lines of the same products and memos; each text is encoded once.
    QHash<QString, QByteArray> storedTexts;
    const auto stored = [&storedTexts](const QString& text) -> const QByteArray& {
        auto it = storedTexts.constFind(text);
        if (it == storedTexts.cend())
            it = storedTexts.insert(text, encodeTextBytes(text));
        return *it;
    };

    const QByteArray user = encodeTextBytes(userName);
    SqliteStatement insert(session.database(),
        QStringLiteral("INSERT INTO Records (UserName, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, "
                       "RecMemo, ID) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    // A value stays bound from one line to the next; every bound text lives until the insert has run.
    insert.bind(1, user);
    if (!keepIds)
        insert.bindNull(8);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (keepIds)
            insert.bind(8, lines[i].id);
        insert.bind(2, days[i]);
        insert.bind(3, stored(lines[i].productName));
        insert.bind(4, qint64(lines[i].quantity));
        insert.bind(5, lines[i].received);
        insert.bind(6, lines[i].cost);
        insert.bind(7, stored(lines[i].memo));
        insert.run();
    }
}

namespace {

const QString kChangeColumns
    = QStringLiteral("SELECT ID, ChangedAt, UserName, Computer, Kind, LineID, Before, After, Undoes, UndoneBy "
                     "FROM Changes ");

ChangeEntry changeAt(const QSqlQuery& row)
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

} // namespace

QList<ChangeEntry> SqliteStore::changes(const QString& userName, int limit)
{
    QList<ChangeEntry> entries;
    Session session(*this);
    QSqlQuery rows = session.run(
        kChangeColumns + QStringLiteral("WHERE UserName=? ORDER BY ID DESC LIMIT ?"), { EncodeText(userName), limit });
    while (rows.next())
        entries.append(changeAt(rows));
    return entries;
}

namespace {

QString encodedList(const QList<qint64>& ids)
{
    QStringList texts;
    for (const qint64 id : ids)
        texts.append(QString::number(id));
    return texts.join(QLatin1Char(','));
}

} // namespace

// The steps of one write transaction on the file; BEGIN IMMEDIATE already makes this the only writer.
class SqliteStore::Write : public LedgerWrite
{
public:
    Write(SqliteStore& store, Session& session)
        : m_store(store)
        , m_session(session)
    {
    }

    void lockUser(const QString&) override { }
    std::optional<std::pair<QString, SalesLine>> lineForUpdate(qint64 id) override
    {
        QString userName;
        const std::optional<SalesLine> line = m_store.readLine(m_session, id, &userName);
        if (!line)
            return std::nullopt;
        return std::pair { userName, *line };
    }
    void insertLines(const QString& userName, const QList<SalesLine>& lines, bool keepIds) override
    {
        m_store.insertLines(m_session, userName, lines, keepIds);
    }
    void rewriteLine(const SalesLine& line) override
    {
        m_session.run(QStringLiteral("UPDATE Records SET RecDate=?, RecProductName=?, RecQuantity=?, RecMoney=?, "
                                     "RecCost=?, RecMemo=? WHERE ID=?"),
            { QString::fromLatin1(storedDay(line.day)), EncodeText(line.productName), line.quantity, line.received,
                line.cost, EncodeText(line.memo), line.id });
    }
    void removeLine(qint64 id) override { m_session.run(QStringLiteral("DELETE FROM Records WHERE ID=?"), { id }); }
    qint64 insertChange(const QString& userName, const QString& computer, ChangeEntry::Kind kind, qint64 lineId,
        const QString& before, const QString& after, qint64 undoes) override
    {
        return m_store.recordChange(m_session, userName, computer, kind, lineId, before, after, undoes);
    }
    std::optional<ChangeEntry> changeForUpdate(qint64 id) override
    {
        QSqlQuery row = m_session.run(kChangeColumns + QStringLiteral("WHERE ID=?"), { id });
        if (!row.next())
            return std::nullopt;
        return changeAt(row);
    }
    void markUndone(qint64 changeId, qint64 undoId) override
    {
        m_session.run(QStringLiteral("UPDATE Changes SET UndoneBy=? WHERE ID=?"), { undoId, changeId });
    }
    // A file's save keeps its token in its entry of the record of changes (savedRecord). A window asks only of its
    // last 完成, so the newest entries are enough.
    void recordSave(const QByteArray&, const QString&, qint64) override { }
    bool hasSave(const QByteArray& token) override
    {
        QSqlQuery found = m_session.run(
            QStringLiteral("SELECT 1 FROM Changes WHERE ID > (SELECT IFNULL(MAX(ID), 0) - 1000 FROM Changes) "
                           "AND Kind='save' AND instr(After, ?) > 0 LIMIT 1"),
            { QString::fromLatin1("\"token\":\"" + token + '"') });
        return found.next();
    }

    QList<SalesLine> keptLines(const QString& userName, const QString& owner) override
    {
        QList<SalesLine> lines;
        QSqlQuery rows
            = m_session.run(QStringLiteral("SELECT ID, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, "
                                           "RecMemo FROM PendingLines WHERE UserName=? AND Computer=? ORDER BY ID"),
                { EncodeText(userName), EncodeText(owner) });
        while (rows.next()) {
            lines.append(
                { rows.value(0).toLongLong(), QDate::fromString(rows.value(1).toString(), QStringLiteral("yyyy-MM-dd")),
                    DecodeText(rows.value(2).toString()), rows.value(3).toInt(), rows.value(4).toLongLong(),
                    rows.value(5).toLongLong(), DecodeText(rows.value(6).toString()) });
        }
        return lines;
    }
    QStringList keptOwners(const QString& userName) override
    {
        QStringList owners;
        QSqlQuery rows = m_session.run(
            QStringLiteral("SELECT DISTINCT Computer FROM PendingLines WHERE UserName=?"), { EncodeText(userName) });
        while (rows.next())
            owners.append(DecodeText(rows.value(0).toString()));
        return owners;
    }
    QList<qint64> insertKept(const QString& userName, const QString& owner, const QList<SalesLine>& lines) override
    {
        QList<qint64> ids;
        ids.reserve(lines.size());
        const QString user = EncodeText(userName);
        const QString where = EncodeText(owner);
        QSqlQuery insert = m_session.prepare(QStringLiteral(
            "INSERT INTO PendingLines (UserName, Computer, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, "
            "RecMemo) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const SalesLine& line : lines) {
            for (const QVariant& value : QVariantList { user, where, QString::fromLatin1(storedDay(line.day)),
                     EncodeText(line.productName), line.quantity, line.received, line.cost, EncodeText(line.memo) })
                insert.addBindValue(value);
            m_session.exec(insert);
            ids.append(insert.lastInsertId().toLongLong());
        }
        return ids;
    }
    qint64 removeKept(const QString& userName, const QString& owner, const QList<qint64>& ids) override
    {
        qint64 removed = 0;
        // The ids are numbers of our own, written into the statement in batches below the engine's limits.
        for (qsizetype first = 0; first < ids.size(); first += 10'000) {
            QSqlQuery done = m_session.run(QStringLiteral("DELETE FROM PendingLines WHERE UserName=? AND Computer=? "
                                                          "AND ID IN (%1)")
                                               .arg(encodedList(ids.mid(first, 10'000))),
                { EncodeText(userName), EncodeText(owner) });
            removed += done.numRowsAffected();
        }
        return removed;
    }
    void moveKept(const QString& userName, const QString& from, const QString& to) override
    {
        m_session.run(QStringLiteral("UPDATE PendingLines SET Computer=? WHERE UserName=? AND Computer=?"),
            { EncodeText(to), EncodeText(userName), EncodeText(from) });
    }

private:
    SqliteStore& m_store;
    Session& m_session;
};

void SqliteStore::write(const std::function<void(LedgerWrite&)>& work, const std::function<bool(LedgerWrite&)>&)
{
    for (int attempt = 0;; ++attempt) {
        Session session(*this);
        session.begin();
        try {
            Write write(*this, session);
            work(write);
            session.commit();
            return;
        } catch (const KivaroError& error) {
            // The ledger was replaced while this write waited for it (the engine refuses to write the file it opened,
            // which is no longer the ledger): the write runs once more, on the ledger now in place.
            if (attempt == 0 && session.lastEngineCode() == SQLITE_READONLY_DBMOVED)
                continue;
            // Sums beyond 64 bits, or summaries that another program changed: the second is mended from the lines,
            // and the write, refused and rolled back, runs once more.
            if (attempt > 0 || error.kind() != KivaroError::Kind::Overflow)
                throw;
            session.rollback();
            session.begin();
            if (Schema::repairSummaries(session.database()) == 0)
                throw;
            session.commit();
        }
    }
}

qint64 SqliteStore::repairSummaries()
{
    Session session(*this);
    if (session.userVersion() != Schema::kVersion)
        return 0;
    session.begin();
    const qint64 wrong = Schema::repairSummaries(session.database());
    session.commit();
    return wrong;
}

namespace {

const QString kRangeFilter = QStringLiteral("WHERE UserName=? AND RecDate>=? AND RecDate<=? ");
const QString kSums = QStringLiteral("SUM(RecQuantity), SUM(RecMoney), SUM(RecCost), SUM(RecMoney)-SUM(RecCost) ");

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

// Rows come in order of days: each day's text is made once and shared by that day's rows.
class DayText
{
public:
    QString operator()(QByteArrayView stored)
    {
        if (stored != m_stored) {
            m_stored = stored.toByteArray();
            m_text = QString::fromLatin1(stored);
        }
        return m_text;
    }

private:
    QByteArray m_stored;
    QString m_text;
};

// Appends the quantity sum and the three money sums, which end every grouped row.
void appendSums(QStringList& list, const SqliteStatement& rows, int first)
{
    list.append(QString::number(rows.integer(first)));
    for (int column = first + 1; column < first + 4; ++column)
        list.append(formatCents(rows.integer(column)));
}

} // namespace

QStringList SqliteStore::reportStatements()
{
    const QString from = QStringLiteral("FROM Records ") + kRangeFilter;
    return {
        QStringLiteral("SELECT ID, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo ") + from
            + QStringLiteral("ORDER BY RecDate, ID"),
        QStringLiteral("SELECT RecDate, ") + kSums + from + QStringLiteral("GROUP BY RecDate ORDER BY RecDate"),
        QStringLiteral("SELECT RecDate, RecProductName, ") + kSums + from
            + QStringLiteral("GROUP BY RecDate, RecProductName ORDER BY RecDate, MIN(ID)"),
        // Products with equal quantities keep the order in which they were first sold.
        QStringLiteral("SELECT RecProductName, ") + kSums + from
            + QStringLiteral("GROUP BY RecProductName ORDER BY SUM(RecQuantity) DESC, MIN(ID)"),
    };
}

void SqliteStore::queryReport(const SalesRange& range, QStringList& detail, QStringList& dailyTotals,
    QStringList& dailyProducts, QStringList& ranking)
{
    detail.clear();
    dailyTotals.clear();
    dailyProducts.clear();
    ranking.clear();
    const QString format = QStringLiteral("yyyy-MM-dd");
    const QStringList values { EncodeText(range.userName), range.first.toString(format), range.last.toString(format) };
    NameDecoder decodeName;
    DayText dayText;
    Session session(*this);
    const QSqlDatabase db = session.database();
    const QStringList statements = reportStatements();

    for (SqliteStatement rows(db, statements.at(0), values); rows.next();) {
        detail.append(QString::number(rows.integer(0)));
        detail.append(dayText(rows.bytes(1)));
        detail.append(decodeName(rows.bytes(2)));
        detail.append(QString::number(rows.integer(3)));
        detail.append(formatCents(rows.integer(4)));
        detail.append(formatCents(rows.integer(5)));
        detail.append(decodeStoredBytes(rows.bytes(6)));
    }
    for (SqliteStatement rows(db, statements.at(1), values); rows.next();) {
        dailyTotals.append(dayText(rows.bytes(0)));
        appendSums(dailyTotals, rows, 1);
    }
    for (SqliteStatement rows(db, statements.at(2), values); rows.next();) {
        dailyProducts.append(dayText(rows.bytes(0)));
        dailyProducts.append(decodeName(rows.bytes(1)));
        appendSums(dailyProducts, rows, 2);
    }
    for (SqliteStatement rows(db, statements.at(3), values); rows.next();) {
        ranking.append(decodeName(rows.bytes(0)));
        appendSums(ranking, rows, 1);
    }
}

namespace {

// Bound as ?1, ?2 and ?3 by every review statement below; a summary table's fallback binds them again inside.
const QString kSummaryFilter = QStringLiteral("UserName=?1 AND RecDate>=?2 AND RecDate<=?3");

// The encoded user and the days from..last of the range, as the statements below bind them.
QStringList rangeValues(const SalesRange& range, const QDate& from)
{
    checkDay(from);
    checkDay(range.last);
    const QString format = QStringLiteral("yyyy-MM-dd");
    return { EncodeText(range.userName), from.toString(format), range.last.toString(format) };
}

QString daySource(bool kept)
{
    return kept ? QStringLiteral("DaySums") : QLatin1Char('(') + Schema::dayGroups(kSummaryFilter) + QLatin1Char(')');
}

QString dayProductSource(bool kept)
{
    return kept ? QStringLiteral("DayProductSums")
                : QLatin1Char('(') + Schema::dayProductGroups(kSummaryFilter) + QLatin1Char(')');
}

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

SalesSums sumsAt(const SqliteStatement& rows, int first)
{
    return { rows.integer(first), rows.integer(first + 1), rows.integer(first + 2) };
}

} // namespace

bool SqliteStore::hasSummaries()
{
    Session session(*this);
    return FSummaries == TSummaries::Kept;
}

QList<DayCount> SqliteStore::queryDays(const SalesRange& range)
{
    Session session(*this);
    return daysIn(session, range);
}

QList<DayCount> SqliteStore::daysIn(Session& session, const SalesRange& range, bool fromSummaries)
{
    const QStringList values = rangeValues(range, range.first);
    QList<DayCount> days;
    DayValue dayValue;
    const QString statement = QStringLiteral("SELECT RecDate, Products, Lines, Quantity, Money, Cost FROM %1 WHERE %2 "
                                             "ORDER BY RecDate")
                                  .arg(daySource(fromSummaries && FSummaries == TSummaries::Kept), kSummaryFilter);
    for (SqliteStatement rows(session.database(), statement, values); rows.next();)
        days.append({ dayValue(rows.bytes(0)), rows.integer(1), rows.integer(2), sumsAt(rows, 3) });
    return days;
}

ViewSnapshot SqliteStore::queryView(const SalesRange& range)
{
    ViewSnapshot view { range, {}, {}, 0 };
    bool damaged = false;
    {
        Session session(*this);
        // One read transaction: the file cannot change between the statements.
        session.beginRead();
        view.days = daysIn(session, range);
        qint64 lines = 0;
        for (const DayCount& day : std::as_const(view.days))
            lines += day.lines;
        view.lineIds.reserve(size_t(lines));
        // The index RecordsByUserDateId holds every ID in this order: the table itself is not read.
        for (SqliteStatement ids(session.database(),
                 QStringLiteral("SELECT ID FROM Records WHERE %1 ORDER BY RecDate, ID").arg(kSummaryFilter),
                 rangeValues(range, range.first));
             ids.next();) {
            view.lineIds.push_back(ids.integer(0));
        }
        if (session.exists(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name='Changes'"), {})) {
            SqliteStatement mark(session.database(), QStringLiteral("SELECT max(ID) FROM Changes WHERE UserName=?1"),
                { EncodeText(range.userName) });
            if (mark.next())
                view.changeMark = mark.integer(0);
        }
        // The day summaries count other lines than the range holds: another program changed them. The days are taken
        // from the lines in the same read, and the summaries mended from the lines for the other views.
        damaged = qint64(view.lineIds.size()) != lines;
        if (damaged)
            view.days = daysIn(session, range, false);
    }
    if (damaged) {
        qWarning(
            "kivaro: the day summaries did not match the lines of %s; mending them", qUtf8Printable(range.userName));
        try {
            repairSummaries();
        } catch (const KivaroError&) {
            // A ledger that cannot be written: its views are right all the same, computed from its lines.
        }
    }
    return view;
}

namespace {

// A list of IDs as one parameter, read back with json_each.
QByteArray jsonIds(const std::vector<qint64>& ids)
{
    QByteArray text = "[";
    for (const qint64 id : ids) {
        if (text.size() > 1)
            text += ',';
        text += QByteArray::number(id);
    }
    return text + ']';
}

} // namespace

QList<SalesLine> SqliteStore::linesById(const SalesRange& range, const std::vector<qint64>& ids)
{
    QList<SalesLine> lines;
    if (ids.empty())
        return lines;
    lines.reserve(qsizetype(ids.size()));
    NameDecoder decodeName;
    DayValue dayValue;
    Session session(*this);
    const QByteArray idList = jsonIds(ids);
    SqliteStatement rows(session.database(),
        // CROSS JOIN keeps the IDs the outer loop: each is one look-up by row ID, never a walk over the user's lines.
        QStringLiteral("SELECT r.ID, r.RecDate, r.RecProductName, r.RecQuantity, r.RecMoney, r.RecCost, r.RecMemo "
                       "FROM json_each(?2) AS k CROSS JOIN Records AS r ON r.ID = k.value WHERE r.UserName=?1"),
        { EncodeText(range.userName) });
    rows.bind(2, idList);
    while (rows.next()) {
        lines.append({ rows.integer(0), dayValue(rows.bytes(1)), decodeName(rows.bytes(2)), qint32(rows.integer(3)),
            rows.integer(4), rows.integer(5), decodeStoredBytes(rows.bytes(6)) });
    }
    return lines;
}

QList<ChangeEntry> SqliteStore::lineChangesAfter(const SalesRange& range, qint64 after, const std::vector<qint64>& ids)
{
    QList<ChangeEntry> entries;
    if (ids.empty())
        return entries;
    Session session(*this);
    if (!session.exists(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name='Changes'"), {}))
        return entries;
    QSqlQuery rows = session.run(kChangeColumns
            + QStringLiteral("WHERE UserName=? AND ID>? AND LineID IN (SELECT value FROM json_each(?)) ORDER BY ID"),
        { EncodeText(range.userName), after, QString::fromLatin1(jsonIds(ids)) });
    while (rows.next())
        entries.append(changeAt(rows));
    return entries;
}

QList<SalesLine> SqliteStore::queryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    const QStringList values = rangeValues(range, qMax(day, range.first));
    QList<SalesLine> lines;
    if (count <= 0)
        return lines;
    lines.reserve(count);
    NameDecoder decodeName;
    DayValue dayValue;
    Session session(*this);
    // Seeks to the first day through RecordsByUserDateId and steps over offset entries of the index alone.
    SqliteStatement rows(session.database(),
        QStringLiteral("SELECT ID, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo FROM Records "
                       "WHERE %1 ORDER BY RecDate, ID LIMIT ?4 OFFSET ?5")
            .arg(kSummaryFilter),
        values);
    rows.bind(4, qint64(count));
    rows.bind(5, qMax(offset, qint64(0)));
    while (rows.next()) {
        lines.append({ rows.integer(0), dayValue(rows.bytes(1)), decodeName(rows.bytes(2)), qint32(rows.integer(3)),
            rows.integer(4), rows.integer(5), decodeStoredBytes(rows.bytes(6)) });
    }
    return lines;
}

QList<DayProductRow> SqliteStore::queryDayProductWindow(
    const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    const QStringList values = rangeValues(range, qMax(day, range.first));
    QList<DayProductRow> groups;
    if (count <= 0)
        return groups;
    groups.reserve(count);
    NameDecoder decodeName;
    DayValue dayValue;
    Session session(*this);
    SqliteStatement rows(session.database(),
        QStringLiteral("SELECT RecDate, RecProductName, Quantity, Money, Cost FROM %1 WHERE %2 "
                       "ORDER BY RecDate, FirstID LIMIT ?4 OFFSET ?5")
            .arg(dayProductSource(FSummaries == TSummaries::Kept), kSummaryFilter),
        values);
    rows.bind(4, qint64(count));
    rows.bind(5, qMax(offset, qint64(0)));
    while (rows.next())
        groups.append({ dayValue(rows.bytes(0)), decodeName(rows.bytes(1)), sumsAt(rows, 2) });
    return groups;
}

QList<RankingRow> SqliteStore::queryRanking(const SalesRange& range)
{
    const QStringList values = rangeValues(range, range.first);
    QList<RankingRow> ranking;
    NameDecoder decodeName;
    Session session(*this);
    // The engine's SUM raises on a total beyond 64 bits.
    SqliteStatement rows(session.database(),
        QStringLiteral("SELECT RecProductName, SUM(Quantity), SUM(Money), SUM(Cost) FROM %1 WHERE %2 "
                       "GROUP BY RecProductName ORDER BY SUM(Quantity) DESC, MIN(FirstID)")
            .arg(dayProductSource(FSummaries == TSummaries::Kept), kSummaryFilter),
        values);
    while (rows.next())
        ranking.append({ decodeName(rows.bytes(0)), sumsAt(rows, 1) });
    return ranking;
}

QString SqliteStore::productsPath(const QString& userName) const
{
    return QStringLiteral("%1/%2-products.txt").arg(FLocation.dataDir(), THi::GetMd5(userName));
}

std::optional<QStringList> SqliteStore::productNames(const QString& userName)
{
    return readProductNames(productsPath(userName));
}

std::optional<QStringList> SqliteStore::rememberProductName(const QString& userName, const QString& name)
{
    return ::rememberProductName(productsPath(userName), name);
}

std::optional<QStringList> SqliteStore::rememberProductNames(const QString& userName, const QStringList& names)
{
    return ::rememberProductNames(productsPath(userName), names);
}

void SqliteStore::writeProductNames(const QString& userName, const QStringList& names)
{
    ::writeProductNames(productsPath(userName), names);
}

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
