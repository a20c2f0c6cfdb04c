#include "db/BackupFiles.h"

#include "db/Catalogue.h"

#include "base/Platform.h"

#include "base/SafeFile.h"

#include "base/Error.h"
#include "db/DbClass.h"
#include "db/DbError.h"
#include "db/KeptSession.h"
#include "db/LedgerCopy.h"
#include "db/Numbers.h"
#include "db/SalesRows.h"
#include "db/Schema.h"
#include "db/SqliteStore.h"
#include "db/server/ServerConnection.h"
#include "db/server/ServerStore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <unordered_map>

namespace backupfiles {

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The engine's name for a file opened read-only; immutable: without locks and without the files beside it (a journal
// left there is not taken), as a copy of it would be read.
QByteArray readOnlyUri(const QString& path, bool immutable)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toUtf8()
        + (immutable ? "?mode=ro&immutable=1" : "?mode=ro");
}

// A statement stepped one row at a time, for reading several in step.
class RawCursor
{
public:
    RawCursor(const RawFile& db, const char* statement)
        : m_db(db)
    {
        const int code = sqlite3_prepare_v2(db.handle(), statement, -1, &m_statement, nullptr);
        if (code != SQLITE_OK)
            db.fail(code);
    }
    ~RawCursor() { sqlite3_finalize(m_statement); }
    RawCursor(const RawCursor&) = delete;
    RawCursor& operator=(const RawCursor&) = delete;

    // Moves to the next row; false after the last.
    bool next()
    {
        const int code = sqlite3_step(m_statement);
        if (code != SQLITE_ROW && code != SQLITE_DONE)
            m_db.fail(code);
        return code == SQLITE_ROW;
    }
    QByteArrayView bytes(int column) const
    {
        return QByteArrayView(static_cast<const char*>(sqlite3_column_blob(m_statement, column)),
            sqlite3_column_bytes(m_statement, column));
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    bool isInteger(int column) const { return sqlite3_column_type(m_statement, column) == SQLITE_INTEGER; }
    bool isText(int column) const { return sqlite3_column_type(m_statement, column) == SQLITE_TEXT; }

private:
    const RawFile& m_db;
    sqlite3_stmt* m_statement = nullptr;
};

// True when every row of the day and day-and-product summaries is what the lines make, read in one pass in the
// order of the keys: the lines grouped along their covering index, beside each summary table along its key.
namespace {

    // A period's rows of MonthProductSums or YearProductSums against the sums its days' groups make: the groups of
    // one user and period added up by product, then compared with that period's rows when the next one begins.
    class PeriodCheck
    {
    public:
        // The rows of a statement that reads a period's sums in key order; a period's key is the first length bytes
        // of a day. A closed period's sums are handed on to coarser, when there is one.
        PeriodCheck(const RawFile& db, const char* statement, int length, PeriodCheck* coarser = nullptr)
            : m_rows(db, statement)
            , m_length(length)
            , m_coarser(coarser)
        {
        }

        // A group of lines of one user, day (or finer period) and product: its count, first line and sums.
        bool add(QByteArrayView user, QByteArrayView day, std::string_view product, const qint64 (&values)[5])
        {
            const QByteArrayView period = day.first(qMin<qsizetype>(m_length, day.size()));
            if (!m_open || user != m_user || period != m_period) {
                if (!close())
                    return false;
                m_user = user.toByteArray();
                m_period = period.toByteArray();
                m_open = true;
            }
            auto found = m_products.find(product);
            if (found == m_products.end())
                found = m_products.emplace(std::string(product), Sums { 0, values[1], 0, 0, 0 }).first;
            Sums& sums = found->second;
            sums.firstId = qMin(sums.firstId, values[1]);
            const qint64 add[4] = { values[0], values[2], values[3], values[4] };
            qint64* into[4] = { &sums.lines, &sums.quantity, &sums.money, &sums.cost };
            for (int i = 0; i < 4; ++i) {
                if (__builtin_add_overflow(*into[i], add[i], into[i]))
                    return false;
            }
            return true;
        }

        // The period begun last is compared, and nothing is left in the table after it.
        bool finish() { return close() && !m_rows.next() && (!m_coarser || m_coarser->finish()); }

    private:
        struct Sums
        {
            qint64 lines = 0;
            qint64 firstId = 0;
            qint64 quantity = 0;
            qint64 money = 0;
            qint64 cost = 0;
        };
        // Looked up by the bytes of a row, without a copy.
        struct Hash
        {
            using is_transparent = void;
            size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
        };

        bool close()
        {
            if (!m_open)
                return true;
            m_open = false;
            // The period's rows come in the order of their product names, which the hash does not keep: each is
            // looked up, and there must be as many as the hash holds.
            for (size_t left = m_products.size(); left > 0; --left) {
                if (!m_rows.next() || !m_rows.isText(0) || !m_rows.isText(1) || !m_rows.isText(2)
                    || m_rows.bytes(0) != m_user || m_rows.bytes(1) != m_period)
                    return false;
                const QByteArrayView name = m_rows.bytes(2);
                const auto found = m_products.find(std::string_view(name.data(), size_t(name.size())));
                if (found == m_products.end())
                    return false;
                const Sums& sums = found->second;
                const qint64 expected[5] = { sums.lines, sums.firstId, sums.quantity, sums.money, sums.cost };
                for (int i = 0; i < 5; ++i) {
                    if (!m_rows.isInteger(3 + i) || m_rows.integer(3 + i) != expected[i])
                        return false;
                }
            }
            if (m_coarser) {
                for (const auto& [name, sums] : m_products) {
                    const qint64 values[5] = { sums.lines, sums.firstId, sums.quantity, sums.money, sums.cost };
                    if (!m_coarser->add(m_user, m_period, name, values))
                        return false;
                }
            }
            m_products.clear();
            return true;
        }

        RawCursor m_rows;
        int m_length;
        PeriodCheck* m_coarser;
        QByteArray m_user;
        QByteArray m_period;
        std::unordered_map<std::string, Sums, Hash, std::equal_to<>> m_products;
        bool m_open = false;
    };

} // namespace

bool summariesMatchLines(const RawFile& db)
{
    // The month and year sums, when the file keeps them: each month closed is added into its year.
    std::unique_ptr<PeriodCheck> years, months;
    if (db.integer("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'MonthProductSums'") > 0) {
        years = std::make_unique<PeriodCheck>(db,
            "SELECT UserName, RecYear, RecProductName, Lines, FirstID, Quantity, Money, Cost FROM YearProductSums "
            "ORDER BY UserName, RecYear, RecProductName",
            4);
        months = std::make_unique<PeriodCheck>(db,
            "SELECT UserName, RecMonth, RecProductName, Lines, FirstID, Quantity, Money, Cost FROM MonthProductSums "
            "ORDER BY UserName, RecMonth, RecProductName",
            7, years.get());
    }
    RawCursor lines(db,
        "SELECT UserName, RecDate, RecProductName, COUNT(*), MIN(ID), SUM(RecQuantity), SUM(RecMoney), "
        "SUM(RecCost) FROM Records GROUP BY UserName, RecDate, RecProductName "
        "ORDER BY UserName, RecDate, RecProductName");
    RawCursor groups(db,
        "SELECT UserName, RecDate, RecProductName, Lines, FirstID, Quantity, Money, Cost FROM DayProductSums "
        "ORDER BY UserName, RecDate, RecProductName");
    RawCursor days(
        db, "SELECT UserName, RecDate, Lines, Products, Quantity, Money, Cost FROM DaySums ORDER BY UserName, RecDate");
    // The day being added up from the groups, compared with its DaySums row when the next day begins.
    QByteArray user;
    QByteArray day;
    qint64 dayValues[5] = {};
    bool open = false;
    const auto closeDay = [&]() {
        if (!open)
            return true;
        open = false;
        // Keys must be texts too: a blob of the same bytes sorts elsewhere and is found by no look-up.
        if (!days.next() || !days.isText(0) || !days.isText(1) || days.bytes(0) != user || days.bytes(1) != day)
            return false;
        for (int i = 0; i < 5; ++i) {
            if (!days.isInteger(2 + i) || days.integer(2 + i) != dayValues[i])
                return false;
        }
        return true;
    };
    while (lines.next()) {
        if (!groups.next())
            return false;
        for (int column = 0; column < 3; ++column) {
            if (!groups.isText(column) || lines.bytes(column) != groups.bytes(column))
                return false;
        }
        for (int column = 3; column < 8; ++column) {
            if (!groups.isInteger(column) || lines.integer(column) != groups.integer(column))
                return false;
        }
        const qint64 group[5]
            = { lines.integer(3), lines.integer(4), lines.integer(5), lines.integer(6), lines.integer(7) };
        const QByteArrayView product = lines.bytes(2);
        if (months
            && !months->add(lines.bytes(0), lines.bytes(1), std::string_view(product.data(), product.size()), group))
            return false;
        if (!open || lines.bytes(0) != user || lines.bytes(1) != day) {
            if (!closeDay())
                return false;
            user = lines.bytes(0).toByteArray();
            day = lines.bytes(1).toByteArray();
            std::fill(std::begin(dayValues), std::end(dayValues), 0);
            open = true;
        }
        // A day's sums beyond 64 bits cannot be what any summary holds.
        const qint64 add[5] = { lines.integer(3), 1, lines.integer(5), lines.integer(6), lines.integer(7) };
        for (int i = 0; i < 5; ++i) {
            if (__builtin_add_overflow(dayValues[i], add[i], &dayValues[i]))
                return false;
        }
    }
    return closeDay() && !groups.next() && !days.next() && (!months || months->finish());
}

QByteArray columnBytes(sqlite3_stmt* row, int column)
{
    return QByteArray(
        reinterpret_cast<const char*>(sqlite3_column_blob(row, column)), sqlite3_column_bytes(row, column));
}

// Added up from the lines themselves.
Totals lineTotals(const RawFile& db)
{
    Totals totals;
    db.rows("SELECT UserName, RecQuantity, RecMoney, RecCost FROM Records", [&totals](sqlite3_stmt* row) {
        totals[columnBytes(row, 0)].add(
            SalesSums { sqlite3_column_int64(row, 1), sqlite3_column_int64(row, 2), sqlite3_column_int64(row, 3) });
    });
    return totals;
}

// Added up from the day summaries, a row a day, when the file keeps them.
Totals summaryTotals(const RawFile& db)
{
    if (!Schema::checksDaySums(db.integer("PRAGMA user_version")))
        return lineTotals(db);
    Totals totals;
    db.rows("SELECT UserName, Lines, Quantity, Money, Cost FROM DaySums", [&totals](sqlite3_stmt* row) {
        totals[columnBytes(row, 0)].add(
            SalesSums { sqlite3_column_int64(row, 2), sqlite3_column_int64(row, 3), sqlite3_column_int64(row, 4) },
            sqlite3_column_int64(row, 1));
    });
    return totals;
}

std::pair<qint64, qint64> oddValues(const RawFile& db, const QString& table)
{
    // Values the program itself could have written, in the lines and in the kept lines alike: a day as yyyy-MM-dd, a
    // quantity of 32 bits, amounts within what the entry accepts, texts.
    // The catalogue: a name, a code as the entry takes it or none, unit amounts within the limits or none.
    const QString catalogueWhere = QStringLiteral(
        " FROM Catalogue WHERE typeof(ID) <> 'integer' OR typeof(UserName) <> 'text' OR typeof(RecProductName) <> "
        "'text' OR (Code IS NOT NULL AND (typeof(Code) <> 'text' OR length(Code) NOT BETWEEN 1 AND %1 OR Code GLOB "
        "'*[^!-~]*')) OR (Price IS NOT NULL AND (typeof(Price) <> 'integer' OR Price NOT BETWEEN 0 AND %2)) OR "
        "(Cost IS NOT NULL AND (typeof(Cost) <> 'integer' OR Cost NOT BETWEEN 0 AND %2))")
                                       .arg(kLongestCode)
                                       .arg(kMaxAmountCents);
    const QString lineWhere = QStringLiteral(
        " FROM %1 WHERE typeof(ID) <> 'integer' OR typeof(UserName) <> 'text' "
        "OR typeof(RecDate) <> 'text' OR RecDate NOT GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' "
        "OR date(RecDate) IS NOT RecDate OR typeof(RecProductName) <> 'text' OR typeof(RecMemo) <> "
        "'text' OR typeof(RecQuantity) <> 'integer' OR RecQuantity NOT BETWEEN -2147483648 AND "
        "2147483647 OR typeof(RecMoney) <> 'integer' OR typeof(RecCost) <> 'integer' "
        "OR RecMoney NOT BETWEEN -%2 AND %2 OR RecCost NOT BETWEEN -%2 AND %2")
                                  .arg(table)
                                  .arg(kMaxAmountCents);
    const QString where = table == QLatin1String("Catalogue") ? catalogueWhere : lineWhere;
    qint64 odd = 0, first = 0;
    db.rows(QStringLiteral("SELECT COUNT(*), MIN(ID)").append(where).toUtf8().constData(), [&](sqlite3_stmt* row) {
        odd = sqlite3_column_int64(row, 0);
        first = sqlite3_column_int64(row, 1);
    });
    return { odd, first };
}

QStringList catalogue(const RawFile& db)
{
    QStringList entries;
    // The engine's statistics only guide its plans.
    db.rows("SELECT type || ' ' || name || ' ' || tbl_name || ' ' || ifnull(sql, '') FROM sqlite_master "
            "WHERE name NOT LIKE 'sqlite\\_stat%' ESCAPE '\\' ORDER BY type, name",
        [&entries](sqlite3_stmt* row) {
            entries << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(row, 0)));
        });
    return entries;
}

const QStringList& ownCatalogue()
{
    static const QStringList own = [] {
        QTemporaryDir folder;
        if (!folder.isValid())
            throw KivaroError(QStringLiteral("无法建立临时文件夹：%1").arg(folder.errorString()));
        const QString path = folder.filePath(QStringLiteral("layout.sjk"));
        Schema::writeTemplate(path);
        return catalogue(RawFile(path, SQLITE_OPEN_READONLY));
    }();
    return own;
}

bool layoutIsOwn(const RawFile& db)
{
    return db.integer("PRAGMA user_version") == Schema::kVersion && catalogue(db) == ownCatalogue();
}

bool passesEveryCheck(const RawFile& db)
{
    return layoutIsOwn(db) && oddValues(db, QStringLiteral("Records")).first == 0
        && oddValues(db, QStringLiteral("PendingLines")).first == 0
        && oddValues(db, QStringLiteral("Catalogue")).first == 0;
}

std::optional<qint64> headerLength(const QByteArray& header)
{
    if (header.size() < 100)
        return std::nullopt;
    const auto number = [&header](int at, int bytes) {
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | quint8(header.at(at + i));
        return value;
    };
    const quint64 pageSize = number(16, 2) == 1 ? 65536 : number(16, 2);
    const quint64 pages = number(28, 4);
    if (pages == 0 || number(92, 4) != number(24, 4))
        return std::nullopt;
    return qint64(pages * pageSize);
}

LedgerFileInfo infoOf(const RawFile& db)
{
    LedgerFileInfo info;
    info.version = int(db.integer("PRAGMA user_version"));
    info.accounts = db.integer("SELECT COUNT(*) FROM Users");
    info.lines = db.integer("SELECT COUNT(*) FROM Records");
    const QString format = QStringLiteral("yyyy-MM-dd");
    info.firstDay = QDate::fromString(db.text("SELECT MIN(RecDate) FROM Records"), format);
    info.lastDay = QDate::fromString(db.text("SELECT MAX(RecDate) FROM Records"), format);
    return info;
}

// A file's bytes reached the disk, and so did its name in the folder.
void syncFile(const QString& path)
{
    if (const QString why = Platform::syncFile(path); !why.isEmpty())
        throw KivaroError(QStringLiteral("无法把文件“%1”写到磁盘上：%2").arg(native(path), why));
}

void renameInto(const QString& from, const QString& to)
{
    if (const QString why = Platform::replaceFile(from, to); !why.isEmpty())
        throw KivaroError(QStringLiteral("无法写入“%1”：%2").arg(native(to), why));
    Platform::syncFolder(QFileInfo(to).absolutePath());
}

// Copies a file's bytes through SafeFile: every step checked, the copy on the disk and owner-only before it takes
// the target's name, and the target as it was when the copy fails.
void copyBytes(const QString& from, const QString& to, const BackupProgress& progress, qint64 limit)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        throw KivaroError(QStringLiteral("无法读取“%1”：%2").arg(native(from), source.errorString()));
    SafeFile target(to, QFile::ReadOwner | QFile::WriteOwner);
    const qint64 size = limit < 0 ? source.size() : qMin(limit, source.size());
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (qint64 done = 0;;) {
        const qint64 read = source.read(buffer.data(), qMin<qint64>(buffer.size(), size - done));
        if (read < 0)
            throw KivaroError(QStringLiteral("无法读取“%1”：%2").arg(native(from), source.errorString()));
        if (read == 0)
            break;
        target.write(QByteArrayView(buffer.constData(), read));
        done += read;
        if (progress)
            progress(done, size);
    }
    target.commit();
}

// A name beside path for work in progress, not yet made.
QString workFileBeside(const QString& path)
{
    return QFileInfo(path).absolutePath() + QStringLiteral("/.kivaro-work-")
        + QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".sjk");
}

void removeWorkFile(const QString& path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
}

void removeLeftoverWork(const QString& folder)
{
    SafeFile::removeLeftovers(folder, { QStringLiteral(".kivaro-work-*") });
}

// Copies the file ledger page by page through SQLite's online backup, inside one read transaction: other instances
// wait to commit until it is done, so the copy and the totals returned are of one moment.
Totals backupPages(const QString& sourcePath, const QString& targetPath, const BackupProgress& progress)
{
    if (!QFileInfo(sourcePath).isFile())
        throw KivaroError(QStringLiteral("找不到数据库文件“%1”").arg(native(sourcePath)));
    const RawFile source(sourcePath, SQLITE_OPEN_READONLY);
    source.exec("BEGIN");
    const Totals totals = summaryTotals(source);
    const RawFile target(targetPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3_backup* backup = sqlite3_backup_init(target.handle(), "main", source.handle(), "main");
    if (!backup)
        target.fail(sqlite3_errcode(target.handle()));
    int code = SQLITE_OK;
    while (code == SQLITE_OK || code == SQLITE_BUSY || code == SQLITE_LOCKED) {
        code = sqlite3_backup_step(backup, 4096);
        if (progress) {
            const int pages = sqlite3_backup_pagecount(backup);
            progress(pages - sqlite3_backup_remaining(backup), pages);
        }
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            sqlite3_sleep(20);
    }
    const int finished = sqlite3_backup_finish(backup);
    if (code != SQLITE_DONE)
        source.fail(code);
    if (finished != SQLITE_OK)
        target.fail(finished);
    source.exec("COMMIT");
    return totals;
}

// The backup as written: intact, and its lines add up to what they should.
LedgerFileInfo checkWritten(const QString& path, const std::optional<Totals>& expected)
{
    // A page copy holds the ledger's summaries as they are: each row is checked against the lines, on a connection of
    // its own beside the integrity check (both read the whole file), and so is what a seal needs besides. A pending
    // check is waited for on every way out.
    std::future<std::pair<bool, bool>> besides
        = std::async(std::launch::async, [path, checkSums = expected.has_value()] {
              const RawFile other(path, SQLITE_OPEN_READONLY);
              const bool summaries = !checkSums || !Schema::checksDaySums(other.integer("PRAGMA user_version"))
                  || summariesMatchLines(other);
              return std::pair { summaries, summaries && passesEveryCheck(other) };
          });
    const RawFile copy(path, SQLITE_OPEN_READONLY);
    const QString integrity = copy.text("PRAGMA integrity_check");
    if (integrity != QLatin1String("ok"))
        throw KivaroError(QStringLiteral("写出的备份没有通过检查：%1").arg(integrity));
    const Totals lines = lineTotals(copy);
    if (lines != (expected ? *expected : summaryTotals(copy)))
        throw SumsDisagree(QStringLiteral("写出的备份中的记录与账本的合计不符"));
    const auto [summariesRight, sealable] = besides.get();
    if (!summariesRight)
        throw SumsDisagree(QStringLiteral("写出的备份中的汇总与记录不符"));
    LedgerFileInfo info = infoOf(copy);
    info.sealable = sealable;
    return info;
}

QString stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
}

void makeFolder(const QString& folder)
{
    if (QFileInfo(folder).isDir())
        return;
    if (!QDir().mkpath(folder))
        throw KivaroError(QStringLiteral("无法建立文件夹“%1”").arg(native(folder)));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Puts the file ledger's present file aside and the restored one in its place. Holding the write lock, no other
// instance is in the middle of a save while the files change places.
void swapFileLedger(const QString& live, const QString& restored, const QString& safety)
{
    if (!QFileInfo::exists(live)) {
        renameInto(restored, live);
        return;
    }
    const RawFile lock(live, SQLITE_OPEN_READWRITE);
    lock.exec("BEGIN EXCLUSIVE");
    if (QFileInfo::exists(live + QStringLiteral("-journal")))
        throw KivaroError(QStringLiteral("数据库文件“%1”正在被写入，请稍后再恢复").arg(native(live)));
#ifndef Q_OS_WIN
    if (!Platform::hardLink(live, safety))
        copyBytes(live, safety, {});
    Platform::syncFolder(QFileInfo(safety).absolutePath());
    renameInto(restored, live);
    lock.exec("ROLLBACK");
#else
    // Windows replaces no file that is open, and the engine keeps the ledger open. The restored pages are written
    // into the ledger's own file instead, in one transaction of its journal; the copy put aside is a copy of its
    // own, since a second name would share the pages being overwritten.
    copyBytes(live, safety, {});
    Platform::syncFolder(QFileInfo(safety).absolutePath());
    lock.exec("ROLLBACK");
    const RawFile from(restored, SQLITE_OPEN_READONLY);
    sqlite3_backup* copy = sqlite3_backup_init(lock.handle(), "main", from.handle(), "main");
    if (!copy)
        lock.fail(sqlite3_errcode(lock.handle()));
    const int stepped = sqlite3_backup_step(copy, -1);
    const int finished = sqlite3_backup_finish(copy);
    if (stepped != SQLITE_DONE)
        lock.fail(stepped);
    if (finished != SQLITE_OK)
        lock.fail(finished);
    QFile::remove(restored);
#endif
}

// The moment a backup's name says it was made: Kivaro-yyyy-MM-dd.sjk (daily), Kivaro-yyyy-MM.sjk (monthly) or
// Kivaro-恢复前-yyyy-MM-dd-HHmmss[-n].sjk (a copy kept before a restore). Nothing for any other name or an impossible
// date.
std::optional<std::pair<QDateTime, int>> backupMoment(const QString& name, BackupKind kind)
{
    static const QRegularExpression daily(QStringLiteral("^Kivaro-(\\d{4}-\\d{2}-\\d{2})\\.sjk$"));
    static const QRegularExpression monthly(QStringLiteral("^Kivaro-(\\d{4}-\\d{2})\\.sjk$"));
    static const QRegularExpression safety(
        QStringLiteral("^Kivaro-恢复前-(\\d{4}-\\d{2}-\\d{2}-\\d{6})(?:-(\\d{1,6}))?\\.sjk$"));
    const QRegularExpressionMatch match = (kind == BackupKind::Daily ? daily
            : kind == BackupKind::Monthly                            ? monthly
                                                                     : safety)
                                              .match(name);
    if (!match.hasMatch())
        return std::nullopt;
    QDateTime at;
    if (kind == BackupKind::Daily)
        at = QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd")).startOfDay();
    else if (kind == BackupKind::Monthly)
        at = QDate::fromString(match.captured(1) + QStringLiteral("-01"), QStringLiteral("yyyy-MM-dd")).startOfDay();
    else
        at = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd-HHmmss"));
    if (!at.isValid())
        return std::nullopt;
    return std::pair { at, match.captured(2).toInt() };
}

// Keeps the newest keep backups of a kind by the moment their names say, and removes the older ones. A name dated
// after now (a clock set wrong once, a file copied in) is neither counted nor removed: it never pushes out today's.
void keepNewest(const QString& folder, BackupKind kind, int keep, const QDateTime& now)
{
    QList<std::pair<std::pair<QDateTime, int>, QString>> dated;
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        const std::optional<std::pair<QDateTime, int>> at = backupMoment(name, kind);
        if (at && at->first <= now)
            dated.append({ *at, name });
    }
    std::sort(dated.begin(), dated.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (qsizetype i = keep; i < dated.size(); ++i)
        QFile::remove(folder + QLatin1Char('/') + dated.at(i).second);
}

} // namespace backupfiles
