#include "db/Backup.h"

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
#include <cerrno>
#include <cstring>
#include <future>
#include <sqlite3.h>

namespace {

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

// A connection of its own to one database file, straight on the engine, closed on destruction.
class RawFile
{
public:
    // immutable: a backup read where it lies (readOnlyUri).
    RawFile(const QString& path, int flags, bool immutable = false)
        : m_path(path)
    {
        const QByteArray name = immutable ? readOnlyUri(path, true) : QFile::encodeName(path);
        const int code = sqlite3_open_v2(name.constData(), &m_db, immutable ? flags | SQLITE_OPEN_URI : flags, nullptr);
        if (code != SQLITE_OK)
            fail(code);
        sqlite3_extended_result_codes(m_db, 1);
        // Another instance's save finishes before this one reads or writes.
        sqlite3_busy_timeout(m_db, 10'000);
    }
    ~RawFile() { sqlite3_close_v2(m_db); }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    sqlite3* handle() const { return m_db; }
    [[noreturn]] void fail(int code) const
    {
        const QString engine = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(code));
        throw databaseFailure(m_path, code, engine);
    }
    void exec(const char* statement) const
    {
        const int code = sqlite3_exec(m_db, statement, nullptr, nullptr, nullptr);
        if (code != SQLITE_OK)
            fail(code);
    }
    // Runs a statement and hands each row to take.
    template <typename Take> void rows(const char* statement, Take&& take) const
    {
        sqlite3_stmt* prepared = nullptr;
        int code = sqlite3_prepare_v2(m_db, statement, -1, &prepared, nullptr);
        if (code != SQLITE_OK)
            fail(code);
        const auto finish = qScopeGuard([prepared] { sqlite3_finalize(prepared); });
        while ((code = sqlite3_step(prepared)) == SQLITE_ROW)
            take(prepared);
        if (code != SQLITE_DONE)
            fail(code);
    }
    QString text(const char* statement) const
    {
        QString value;
        rows(statement, [&value](sqlite3_stmt* row) {
            if (value.isNull())
                value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(row, 0)));
        });
        return value;
    }
    qint64 integer(const char* statement) const { return text(statement).toLongLong(); }
    bool compiles(const char* statement) const
    {
        sqlite3_stmt* prepared = nullptr;
        const int code = sqlite3_prepare_v2(m_db, statement, -1, &prepared, nullptr);
        sqlite3_finalize(prepared);
        return code == SQLITE_OK;
    }

private:
    QString m_path;
    sqlite3* m_db = nullptr;
};

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
bool summariesMatchLines(const RawFile& db)
{
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
    return closeDay() && !groups.next() && !days.next();
}

// Per stored (encoded) user name.
using Totals = QMap<QByteArray, SalesTotals>;

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
    if (db.integer("PRAGMA user_version") != Schema::kVersion)
        return lineTotals(db);
    Totals totals;
    db.rows("SELECT UserName, Lines, Quantity, Money, Cost FROM DaySums", [&totals](sqlite3_stmt* row) {
        totals[columnBytes(row, 0)].add(
            SalesSums { sqlite3_column_int64(row, 2), sqlite3_column_int64(row, 3), sqlite3_column_int64(row, 4) },
            sqlite3_column_int64(row, 1));
    });
    return totals;
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
void copyBytes(const QString& from, const QString& to, const BackupProgress& progress, qint64 limit = -1)
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

// The lines of a written backup do not add up to the ledger's summaries.
class SumsDisagree : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

// The backup as written: intact, and its lines add up to what they should.
LedgerFileInfo checkWritten(const QString& path, const std::optional<Totals>& expected)
{
    // A page copy holds the ledger's summaries as they are: each row is checked against the lines, on a connection of
    // its own beside the integrity check (both read the whole file). A pending check is waited for on every way out.
    std::future<bool> summariesRight;
    if (expected) {
        summariesRight = std::async(std::launch::async, [path] {
            const RawFile other(path, SQLITE_OPEN_READONLY);
            return other.integer("PRAGMA user_version") != Schema::kVersion || summariesMatchLines(other);
        });
    }
    const RawFile copy(path, SQLITE_OPEN_READONLY);
    const QString integrity = copy.text("PRAGMA integrity_check");
    if (integrity != QLatin1String("ok"))
        throw KivaroError(QStringLiteral("写出的备份没有通过检查：%1").arg(integrity));
    const Totals lines = lineTotals(copy);
    if (lines != (expected ? *expected : summaryTotals(copy)))
        throw SumsDisagree(QStringLiteral("写出的备份中的记录与账本的合计不符"));
    if (summariesRight.valid() && !summariesRight.get())
        throw SumsDisagree(QStringLiteral("写出的备份中的汇总与记录不符"));
    return infoOf(copy);
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
enum class BackupKind { Daily, Monthly, Safety };
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

} // namespace

LedgerFileInfo backupLedger(const LedgerLocation& ledger, const QString& path, const BackupProgress& progress)
{
    if (!ledger.isServer())
        SafeFile::protect(ledger.databasePath());
    SafeFile file(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString work = file.workPath();
    const auto cleanUp = qScopeGuard([&work] { QFile::remove(work + QStringLiteral("-journal")); });
    // The copy makes its file itself, from the template or page by page.
    QFile::remove(work);
    LedgerFileInfo info;
    if (ledger.isServer()) {
        const CopyProgress copied = [&progress](qint64 done, qint64 total) {
            if (progress)
                progress(done, total);
        };
        // A server's backup holds every account's lines: it is read as the administrator.
        copyLedger(ledger.asAdministrator(), LedgerLocation::fileAt(work), copied, CopyOptions { false, false, {} });
        info = checkWritten(work, std::nullopt);
    } else {
        try {
            info = checkWritten(work, backupPages(ledger.databasePath(), work, progress));
        } catch (const SumsDisagree&) {
            // The pages are copied as they are, so it is the ledger's own summaries that disagree with its lines:
            // changed by another program, or damaged. They are mended from the lines, and the backup taken again.
            // Taken again also when another instance's write mended them meanwhile.
            const qint64 wrong = SqliteStore(ledger).repairSummaries();
            QFile::remove(work);
            info = checkWritten(work, backupPages(ledger.databasePath(), work, progress));
            if (wrong > 0)
                info.findings << QStringLiteral(
                    "账本中有 %1 行汇总与记录不符（被别的程序改动过或已损坏），已按记录重新计算；"
                    "此前查帐看到的合计可能有误")
                                     .arg(wrong);
        }
    }
    QFile::setPermissions(work, QFile::ReadOwner | QFile::WriteOwner);
    file.commit();
    return info;
}

namespace {

// A restore reads a backup for at most this long: a crafted file may hold work that never ends.
constexpr int kReadLimitMs = 10 * 60 * 1000;

int pastDeadline(void* deadline)
{
    return static_cast<const QDeadlineTimer*>(deadline)->hasExpired() ? 1 : 0;
}

// The program's tables and their columns, in the layout of this version; a backup holds no others.
const QMap<QString, QStringList>& programTables()
{
    static const QMap<QString, QStringList> tables {
        { QStringLiteral("Users"), { "ID", "UserName", "Password", "LoginOrder" } },
        { QStringLiteral("Records"),
            { "ID", "UserName", "RecDate", "RecProductName", "RecQuantity", "RecMoney", "RecCost", "RecMemo" } },
        { QStringLiteral("DaySums"), { "UserName", "RecDate", "Lines", "Products", "Quantity", "Money", "Cost" } },
        { QStringLiteral("DayProductSums"),
            { "UserName", "RecDate", "RecProductName", "Lines", "FirstID", "Quantity", "Money", "Cost" } },
        { QStringLiteral("PendingLines"),
            { "ID", "UserName", "Computer", "RecDate", "RecProductName", "RecQuantity", "RecMoney", "RecCost",
                "RecMemo" } },
        { QStringLiteral("Changes"),
            { "ID", "ChangedAt", "UserName", "Computer", "Kind", "LineID", "Before", "After", "Undoes", "UndoneBy" } },
    };
    return tables;
}

// The tables a file of a layout version must hold.
QStringList requiredTables(qint64 version)
{
    if (version < 1)
        return { QStringLiteral("Users"), QStringLiteral("Records") };
    if (version < 2)
        return { QStringLiteral("Users"), QStringLiteral("Records"), QStringLiteral("DaySums"),
            QStringLiteral("DayProductSums") };
    return programTables().keys();
}

// The most a backup may hold: a ledger of decades is far smaller.
constexpr qint64 kLargestBackup = 8LL * 1024 * 1024 * 1024;

// Where a backup is read: in place, or from a private copy for a file in WAL mode (the engine would want the files
// beside it): such a file says so in bytes 18 and 19 of its header, which the copy sets back to 1 (its -wal file, if
// any, is not part of a backup). Only the database's own pages are copied.
struct BackupSource
{
    QString file;
    bool inPlace = false;
    std::optional<Platform::FileStamp> stamp;
};

RawFile openSource(const BackupSource& source)
{
    return RawFile(source.file, SQLITE_OPEN_READONLY, source.inPlace);
}

// What the file was read from has not changed since it was opened: another program writing a backup while it is
// restored would give a mixture.
void checkUnchanged(const BackupSource& source, const QString& path)
{
    if (source.inPlace && Platform::fileStamp(path) != source.stamp)
        throw KivaroError(QStringLiteral("“%1”在读取时被改动了，请稍后再试").arg(native(path)));
}

BackupSource readableSource(const QString& path, const QString& copy)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw KivaroError(QStringLiteral("无法读取“%1”：%2").arg(native(path), file.errorString()));
    const std::optional<Platform::FileStamp> stamp = Platform::fileStamp(path);
    const QByteArray header = file.read(100);
    if (header.size() < 100)
        throw KivaroError(QStringLiteral("“%1”不是 Kivaro 的账本文件").arg(native(path)));
    const auto number = [&header](int at, int bytes) {
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | quint8(header.at(at + i));
        return value;
    };
    // The pages the header counts, when the count is valid (written by the change it names); else the file's size.
    const quint64 pageSize = number(16, 2) == 1 ? 65536 : number(16, 2);
    const quint64 pages = number(28, 4);
    const qint64 size = pages > 0 && number(92, 4) == number(24, 4) ? qint64(pages * pageSize) : file.size();
    if (size > kLargestBackup)
        throw KivaroError(QStringLiteral("“%1”太大（超过 8 GB），不像是 Kivaro 的账本文件").arg(native(path)));
    if (header.at(18) == 1 && header.at(19) == 1)
        return { path, true, stamp };
    file.close();
    copyBytes(path, copy, {}, qMin(size, file.size()));
    QFile copied(copy);
    if (!copied.open(QIODevice::ReadWrite) || !copied.seek(18) || copied.write("\x01\x01", 2) != 2 || !copied.flush())
        throw KivaroError(QStringLiteral("无法读取“%1”：%2").arg(native(path), copied.errorString()));
    return { copy, false, {} };
}

// A backup whose summaries differ from what its lines make.
KivaroError wrongSummaries(const QString& shown)
{
    return KivaroError(QStringLiteral("“%1”已损坏：汇总与记录不符，这个备份被改动过；请选用另一个备份").arg(shown));
}

// Checks that a copy of the backup shown as path holds the program's tables with the program's columns, values of
// the program's kinds, and summaries that agree with its lines, day by day and product by product. What it holds
// besides (triggers, views, indexes) is named in the findings: none of it reaches the ledger.
LedgerFileInfo inspectCopy(const QString& path, const BackupSource& copy, bool checkSummaries)
{
    const QString shown = native(path);
    try {
        const RawFile db = openSource(copy);
        QDeadlineTimer deadline(kReadLimitMs);
        sqlite3_progress_handler(db.handle(), 10'000, pastDeadline, &deadline);
        const QString integrity = db.text("PRAGMA integrity_check");
        if (integrity != QLatin1String("ok"))
            throw KivaroError(QStringLiteral("“%1”已损坏：%2").arg(shown, integrity));
        const qint64 version = db.integer("PRAGMA user_version");
        if (version > Schema::kVersion)
            throw KivaroError(
                QStringLiteral("“%1”由更新版本的 Kivaro 写成（版本 %2），本程序不能恢复它，请先升级本程序")
                    .arg(shown)
                    .arg(version));
        QStringList tables, others;
        // The summaries' triggers exactly as the program writes them are its own; anything else is named.
        const QStringList ownTriggers = Schema::triggerStatements();
        db.rows("SELECT type, name, sql FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\'",
            [&](sqlite3_stmt* row) {
                const QString type = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(row, 0)));
                const QString name = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(row, 1)));
                const QString sql = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(row, 2)));
                if (type == QLatin1String("table"))
                    tables << name;
                else if (programTables().contains(name))
                    throw KivaroError(QStringLiteral("“%1”不是 Kivaro 的账本文件：“%2”不是表").arg(shown, name));
                else if (type != QLatin1String("index")
                    && !(type == QLatin1String("trigger") && ownTriggers.contains(sql)))
                    others << name;
            });
        for (const QString& table : std::as_const(tables)) {
            if (!programTables().contains(table))
                throw KivaroError(
                    QStringLiteral("“%1”不是 Kivaro 的账本文件：其中有不属于本程序的表“%2”").arg(shown, table));
            QStringList columns;
            db.rows(
                QStringLiteral("PRAGMA table_info(\"%1\")").arg(table).toUtf8().constData(), [&](sqlite3_stmt* row) {
                    columns << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(row, 1)));
                });
            if (columns != programTables().value(table))
                throw KivaroError(
                    QStringLiteral("“%1”不是 Kivaro 的账本文件：表“%2”的列不是本程序的").arg(shown, table));
        }
        for (const QString& table : requiredTables(version)) {
            if (!tables.contains(table))
                throw KivaroError(QStringLiteral("“%1”不是 Kivaro 的账本文件（没有账本的表“%2”）").arg(shown, table));
        }
        // Values the program itself could have written, in the lines and in the kept lines alike: a day as
        // yyyy-MM-dd, a quantity of 32 bits, amounts within what the entry accepts, texts.
        const QString valueOutOfRange = QStringLiteral(
            "typeof(ID) <> 'integer' OR typeof(UserName) <> 'text' "
            "OR typeof(RecDate) <> 'text' OR RecDate NOT GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' "
            "OR date(RecDate) IS NOT RecDate OR typeof(RecProductName) <> 'text' OR typeof(RecMemo) <> 'text' "
            "OR typeof(RecQuantity) <> 'integer' OR RecQuantity NOT BETWEEN -2147483648 AND 2147483647 "
            "OR typeof(RecMoney) <> 'integer' OR typeof(RecCost) <> 'integer' "
            "OR RecMoney NOT BETWEEN -%1 AND %1 OR RecCost NOT BETWEEN -%1 AND %1")
                                            .arg(kMaxAmountCents);
        for (const QString& table : { QStringLiteral("Records"), QStringLiteral("PendingLines") }) {
            if (!tables.contains(table))
                continue;
            const QString where = QStringLiteral(" FROM %1 WHERE %2").arg(table, valueOutOfRange);
            const qint64 odd = db.integer(QStringLiteral("SELECT COUNT(*)").append(where).toUtf8().constData());
            if (odd > 0)
                throw KivaroError(
                    QStringLiteral("“%1”已损坏：表“%2”中有 %3 行的值不是本程序能写下的（第一行的编号是 %4）")
                        .arg(shown, table)
                        .arg(odd)
                        .arg(db.integer(QStringLiteral("SELECT MIN(ID)").append(where).toUtf8().constData())));
        }
        // The summaries against the lines; a restore checks them beside its rebuild instead (restoreLedger).
        if (version == Schema::kVersion && checkSummaries && !summariesMatchLines(db))
            throw wrongSummaries(shown);
        LedgerFileInfo info = infoOf(db);
        if (!others.isEmpty())
            info.findings << QStringLiteral("备份中另有 %1 个触发器或视图（%2），恢复时不会带入")
                                 .arg(others.size())
                                 .arg(others.join(QStringLiteral("、")));
        return info;
    } catch (const KivaroError& error) {
        if (error.text().startsWith(QStringLiteral("“%1”").arg(shown)))
            throw;
        throw KivaroError(QStringLiteral("无法读取“%1”，它不是完好的 Kivaro 账本文件：%2").arg(shown, error.text()));
    }
}

// Writes a fresh ledger at target from a checked copy of a backup: the program's own layout, the backup's accounts,
// lines, kept lines and changes read by named columns, the summaries computed. The line and change counters go on
// past idFloor, the counters of the ledger being replaced.
void rebuildInto(const BackupSource& copy, int version, const QString& target, qint64 idFloor)
{
    removeWorkFile(target);
    const QString connection = QStringLiteral("kivaro-rebuild-") + QUuid::createUuid().toString(QUuid::Id128);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(target);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
        if (!db.open())
            throw KivaroError(QStringLiteral("无法建立“%1”：%2").arg(native(target), db.lastError().text()));
        QDeadlineTimer deadline(kReadLimitMs);
        const QVariant handle = db.driver()->handle();
        sqlite3_progress_handler(*static_cast<sqlite3* const*>(handle.data()), 10'000, pastDeadline, &deadline);
        const auto run = [&db](const QString& statement, const QVariantList& values = {}) {
            QSqlQuery query(db);
            query.prepare(statement);
            for (const QVariant& value : values)
                query.addBindValue(value);
            if (!query.exec())
                throw KivaroError(query.lastError().text());
        };
        // A new file nobody else opens: written without a journal, and synced once it is complete.
        run(QStringLiteral("PRAGMA journal_mode = OFF"));
        run(QStringLiteral("PRAGMA synchronous = OFF"));
        run(QStringLiteral("ATTACH DATABASE ? AS source"),
            { QVariant(QString::fromUtf8(readOnlyUri(copy.file, copy.inPlace))) });
        run(QStringLiteral("BEGIN"));
        Schema::rebuildFrom(db, version);
        run(QStringLiteral("UPDATE main.sqlite_sequence SET seq = MAX(seq, ?)"), { idFloor });
        run(QStringLiteral("COMMIT"));
        run(QStringLiteral("DETACH DATABASE source"));
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

// What needs no copy: the file can be read and begins as a database file does.
void refuseNonDatabase(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        throw KivaroError(QStringLiteral("无法打开文件“%1”").arg(native(path)));
    if (file.read(16) != QByteArray("SQLite format 3", 16))
        throw KivaroError(QStringLiteral("“%1”不是 Kivaro 的账本文件").arg(native(path)));
}

// The largest line or change ID the ledger file ever gave out; 0 when there is no file.
qint64 idCounter(const QString& live)
{
    if (!QFileInfo::exists(live))
        return 0;
    const RawFile db(live, SQLITE_OPEN_READONLY);
    if (db.integer("SELECT COUNT(*) FROM sqlite_master WHERE name = 'sqlite_sequence'") == 0)
        return 0;
    return db.integer("SELECT IFNULL(MAX(seq), 0) FROM sqlite_sequence WHERE name IN ('Records', 'Changes')");
}

} // namespace

LedgerFileInfo inspectBackup(const QString& path)
{
    refuseNonDatabase(path);
    QTemporaryDir folder;
    if (!folder.isValid())
        throw KivaroError(QStringLiteral("无法建立临时文件夹：%1").arg(folder.errorString()));
    const BackupSource source = readableSource(path, folder.filePath(QStringLiteral("backup.sjk")));
    const LedgerFileInfo info = inspectCopy(path, source, true);
    checkUnchanged(source, path);
    return info;
}

QString restoreLedger(
    const LedgerLocation& ledger, const QString& path, const QString& safetyFolder, const BackupProgress& progress)
{
    // A file ledger's work files go beside it; a server's beside the safety copies, a folder made only for a backup
    // that passed its inspection (made on a copy of its own first).
    if (ledger.isServer()) {
        inspectBackup(path);
        makeFolder(safetyFolder);
    } else {
        refuseNonDatabase(path);
        makeFolder(ledger.dataDir());
    }
    const QString workFolder = ledger.isServer() ? safetyFolder : ledger.dataDir();
    // The backup is read where it lies (or from a private copy, readableSource) and rebuilt into a fresh ledger:
    // nothing but its data is taken.
    const QString copy = workFileBeside(workFolder + QStringLiteral("/x"));
    const QString rebuilt = workFileBeside(workFolder + QStringLiteral("/x"));
    const auto cleanUp = qScopeGuard([&] {
        removeWorkFile(copy);
        removeWorkFile(rebuilt);
    });
    const BackupSource source = readableSource(path, copy);
    if (progress)
        progress(0, 0);
    const LedgerFileInfo info = inspectCopy(path, source, false);
    Totals expected;
    {
        const RawFile db = openSource(source);
        expected = lineTotals(db);
    }
    // The backup's summaries against its lines, beside the rebuild: both read the whole file.
    std::future<bool> summariesRight = std::async(std::launch::async, [&source, version = info.version] {
        const RawFile db = openSource(source);
        QDeadlineTimer deadline(kReadLimitMs);
        sqlite3_progress_handler(db.handle(), 10'000, pastDeadline, &deadline);
        return version != Schema::kVersion || summariesMatchLines(db);
    });
    rebuildInto(source, info.version, rebuilt, ledger.isServer() ? 0 : idCounter(ledger.databasePath()));
    if (!summariesRight.get())
        throw wrongSummaries(native(path));
    checkUnchanged(source, path);
    makeFolder(safetyFolder);
    // Never over an earlier one, which may be the very file being restored.
    QString safety = safetyFolder + QStringLiteral("/Kivaro-恢复前-%1.sjk").arg(stamp());
    for (int n = 2; QFileInfo::exists(safety); ++n)
        safety = safetyFolder + QStringLiteral("/Kivaro-恢复前-%1-%2.sjk").arg(stamp()).arg(n);
    checkWritten(rebuilt, expected);
    syncFile(rebuilt);
    if (ledger.isServer()) {
        // The safety copy is taken while the server's writers are held off: a line saved during the restore is in
        // it or in the ledger restored, never lost between the two.
        CopyOptions options { false, true, [&] { backupLedger(ledger, safety, progress); } };
        copyLedger(LedgerLocation::fileAt(rebuilt), ledger, progress, options);
        rotateSafetyCopies(safetyFolder);
        return safety;
    }
    const bool hadLedger = QFileInfo::exists(ledger.databasePath());
    swapFileLedger(ledger.databasePath(), rebuilt, safety);
    rotateSafetyCopies(safetyFolder);
    return hadLedger ? safety : QString();
}

QString backupsFolder(const QString& dataDir)
{
    return dataDir + QStringLiteral("/backups");
}

QString dailyBackupsFolder(const LedgerLocation& ledger, const QString& dataDir)
{
    if (!ledger.isServer())
        return backupsFolder(ledger.dataDir());
    // One folder per server ledger, named so that a person finds it; what a file name may not hold becomes "_".
    static const QRegularExpression unsafe(QStringLiteral("[\\\\/:*?\"<>|\\x00-\\x1f]"));
    QString name = ledger.displayName();
    name.replace(unsafe, QStringLiteral("_"));
    // The name leaves out what tells two ledgers apart on one machine (a socket's port, for one): a short hash of
    // the whole connection, its password left out, does not.
    const QByteArray key
        = QCryptographicHash::hash(connectionWithoutPassword(ledger.connection).toUtf8(), QCryptographicHash::Md5)
              .toHex()
              .left(8);
    return backupsFolder(dataDir) + QStringLiteral("/服务器 %1 %2").arg(name.left(100), QString::fromLatin1(key));
}

std::optional<QString> makeDailyBackup(const LedgerLocation& ledger, const QString& dataDir, const QDate& today)
{
    if (!ledger.isServer() && !QFileInfo(ledger.databasePath()).isFile())
        return std::nullopt;
    const QString folder = dailyBackupsFolder(ledger, dataDir);
    const QString daily = folder + today.toString(QStringLiteral("/Kivaro-yyyy-MM-dd.sjk"));
    if (QFileInfo::exists(daily))
        return std::nullopt;
    // Of the computers that use a server ledger, the first to start on a day that may read the whole ledger (as its
    // administrator, without asking anyone for a password) makes that day's backup.
    std::unique_ptr<ServerStore> server;
    const QString computer = KeptSession::computerId();
    if (ledger.isServer()) {
        server = std::make_unique<ServerStore>(ledger, true);
        if (!server->claimDailyBackup(today, computer, QSysInfo::machineHostName(), folder))
            return std::nullopt;
    }
    auto giveUp = qScopeGuard([&] {
        if (server) {
            try {
                server->settleDailyBackup(today, computer, false);
            } catch (const KivaroError&) {
                // The claim runs out by itself after an hour.
            }
        }
    });
    makeFolder(folder);
    // Work left by a backup that was killed a day or more ago.
    const QDateTime stale = QDateTime::currentDateTime().addDays(-1);
    for (const QFileInfo& left :
        QDir(folder).entryInfoList({ QStringLiteral(".kivaro-*") }, QDir::Files | QDir::Hidden)) {
        if (left.lastModified() < stale)
            QFile::remove(left.filePath());
    }
    backupLedger(ledger, daily);
    const QString monthly = folder + today.toString(QStringLiteral("/Kivaro-yyyy-MM.sjk"));
    if (!QFileInfo::exists(monthly) && !Platform::hardLink(daily, monthly))
        copyBytes(daily, monthly, {});
    rotateBackups(folder, today.endOfDay());
    giveUp.dismiss();
    if (server)
        server->settleDailyBackup(today, computer, true);
    return daily;
}

std::optional<DailyBackupRecord> lastDailyBackup(const LedgerLocation& ledger)
{
    if (!ledger.isServer())
        return std::nullopt;
    return ServerStore(ledger).lastDailyBackup();
}

void rotateBackups(const QString& folder, const QDateTime& now)
{
    keepNewest(folder, BackupKind::Daily, 7, now);
    keepNewest(folder, BackupKind::Monthly, 12, now);
}

void rotateSafetyCopies(const QString& folder, const QDateTime& now)
{
    keepNewest(folder, BackupKind::Safety, 12, now);
}
