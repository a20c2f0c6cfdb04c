#include "db/SqliteStore.h"

#include "db/SqliteSession.h"

#include "base/Error.h"
#include "base/HiClass.h"
#include "base/Platform.h"
#include "base/SafeFile.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
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

using namespace sqlite;

namespace {

QAtomicInt connectionCounter;

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

void SqliteStore::prepareSummaries(Session& session)
{
    if (FSummaries != TSummaries::Unknown)
        return;
    try {
        int version = session.userVersion();
        if (version < Schema::kVersion) {
            // A file held read-only keeps the summaries an earlier upgrade gave it.
            FSummaries = version >= 1 ? TSummaries::Kept : TSummaries::Missing;
            FMonthSums = Schema::keepsMonthSums(version);
            session.begin();
            // Another instance may have upgraded the file while this one waited for the lock.
            version = session.userVersion();
            if (version < Schema::kVersion) {
                const std::shared_ptr<void> notice = TDbMan::longWorkNotice
                    ? TDbMan::longWorkNotice(QStringLiteral("正在为数据库建立汇总，以后查帐会更快，请稍候……"))
                    : nullptr;
                if (version == 0)
                    Schema::addSummaries(session.database());
                else if (version == 1)
                    Schema::addHistory(session.database());
                else if (version == 2)
                    Schema::addMonths(session.database());
                else
                    Schema::addCatalogue(session.database());
            }
            session.commit();
            version = Schema::kVersion;
        }
        // A newer layout may keep other summaries; its lines are read directly.
        FSummaries = version == Schema::kVersion ? TSummaries::Kept : TSummaries::Missing;
        FMonthSums = FSummaries == TSummaries::Kept;
        FCatalogue = FSummaries == TSummaries::Kept;
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
class SqliteStore::Write : public LineEdits
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
    if (!Schema::keepsMonthSums(session.userVersion()))
        return 0;
    session.begin();
    const qint64 wrong = Schema::repairSummaries(session.database());
    session.commit();
    return wrong;
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

void SqliteStore::writeEdits(const std::function<void(LineEdits&)>& work)
{
    // The store's transactions all run on its Write, which has the edits' steps.
    write([&](LedgerWrite& steps) { work(static_cast<Write&>(steps)); }, {});
}
