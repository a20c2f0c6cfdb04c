// Restoring a ledger from a backup: the backup read in place (or from a private copy), checked table by table,
// rebuilt into a fresh ledger of the program's own layout, and put in place of the ledger with a safety copy.

#include "db/Backup.h"

#include "db/BackupFiles.h"
#include "db/BackupSeal.h"

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

using namespace backupfiles;

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
        { QStringLiteral("MonthProductSums"),
            { "UserName", "RecMonth", "RecProductName", "Lines", "FirstID", "Quantity", "Money", "Cost" } },
        { QStringLiteral("YearProductSums"),
            { "UserName", "RecYear", "RecProductName", "Lines", "FirstID", "Quantity", "Money", "Cost" } },
        { QStringLiteral("PendingLines"),
            { "ID", "UserName", "Computer", "RecDate", "RecProductName", "RecQuantity", "RecMoney", "RecCost",
                "RecMemo" } },
        { QStringLiteral("Changes"),
            { "ID", "ChangedAt", "UserName", "Computer", "Kind", "LineID", "Before", "After", "Undoes", "UndoneBy" } },
        { QStringLiteral("Catalogue"), { "ID", "UserName", "RecProductName", "Code", "Price", "Cost" } },
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
    QStringList tables = programTables().keys();
    if (version < 3) {
        tables.removeOne(QStringLiteral("MonthProductSums"));
        tables.removeOne(QStringLiteral("YearProductSums"));
    }
    if (version < 4)
        tables.removeOne(QStringLiteral("Catalogue"));
    return tables;
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
    const qint64 size = headerLength(header).value_or(file.size());
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
        for (const QString& table :
            { QStringLiteral("Records"), QStringLiteral("PendingLines"), QStringLiteral("Catalogue") }) {
            if (!tables.contains(table))
                continue;
            if (const auto [odd, first] = oddValues(db, table); odd > 0)
                throw KivaroError(
                    QStringLiteral("“%1”已损坏：表“%2”中有 %3 行的值不是本程序能写下的（第一行的编号是 %4）")
                        .arg(shown, table)
                        .arg(odd)
                        .arg(first));
        }
        // The summaries against the lines; a restore checks them beside its rebuild instead (restoreLedger).
        if (Schema::checksDaySums(version) && checkSummaries && !summariesMatchLines(db))
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

// What a file sealed by this computer's Kivaro holds (its seal checked on every byte), when it is one: intact and
// checked in full when it was written, it needs only its counts read.
std::optional<LedgerFileInfo> sealedInfo(const QString& path, const QByteArray& key)
{
    const std::optional<Platform::FileStamp> stamp = Platform::fileStamp(path);
    if (!backupseal::sealedLength(path, key))
        return std::nullopt;
    // The seal vouches for every value: they were checked when it was made. The layout is checked again, as this
    // program's may be newer than the one that wrote the backup.
    const RawFile db(path, SQLITE_OPEN_READONLY, true);
    if (!layoutIsOwn(db))
        return std::nullopt;
    LedgerFileInfo info = infoOf(db);
    info.sealed = true;
    if (Platform::fileStamp(path) != stamp)
        return std::nullopt;
    return info;
}

// A sealed backup copied as it is, its seal checked on the bytes written, into the fresh ledger at target; the line
// and change counters go on past idFloor. Nothing when the file has no valid seal of key.
std::optional<LedgerFileInfo> copySealedLedger(
    const QString& path, const QString& target, const QByteArray& key, qint64 idFloor, const BackupProgress& progress)
{
    if (!backupseal::copySealed(path, target, key, progress))
        return std::nullopt;
    const RawFile db(target, SQLITE_OPEN_READWRITE);
    if (!layoutIsOwn(db))
        return std::nullopt;
    const QByteArray floor = QByteArray::number(idFloor);
    db.exec(QByteArray("UPDATE sqlite_sequence SET seq = MAX(seq, " + floor + ")").constData());
    LedgerFileInfo info = infoOf(db);
    info.sealed = true;
    return info;
}

} // namespace

LedgerFileInfo inspectBackup(const QString& path, const std::optional<LedgerLocation>& restoringInto)
{
    refuseNonDatabase(path);
    if (std::optional<LedgerFileInfo> sealed
        = restoringInto ? sealedInfo(path, backupseal::key(*restoringInto, false)) : std::nullopt)
        return *sealed;
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
    const QByteArray sealKey = backupseal::key(ledger, false);
    if (ledger.isServer()) {
        inspectBackup(path, ledger);
        makeFolder(safetyFolder);
    } else {
        refuseNonDatabase(path);
        makeFolder(ledger.dataDir());
    }
    const QString workFolder = ledger.isServer() ? safetyFolder : ledger.dataDir();
    removeLeftoverWork(workFolder);
    // The backup is read where it lies (or from a private copy, readableSource) and rebuilt into a fresh ledger:
    // nothing but its data is taken.
    const QString copy = workFileBeside(workFolder + QStringLiteral("/x"));
    const QString rebuilt = workFileBeside(workFolder + QStringLiteral("/x"));
    const auto cleanUp = qScopeGuard([&] {
        removeWorkFile(copy);
        removeWorkFile(rebuilt);
    });
    const qint64 idFloor = ledger.isServer() ? 0 : idCounter(ledger.databasePath());
    // A backup this computer sealed is copied as it is; any other is checked and rebuilt.
    const bool sealed = copySealedLedger(path, rebuilt, sealKey, idFloor, progress).has_value();
    std::optional<Totals> expected;
    if (!sealed) {
        removeWorkFile(rebuilt);
        const BackupSource source = readableSource(path, copy);
        if (progress)
            progress(0, 0);
        const LedgerFileInfo info = inspectCopy(path, source, false);
        {
            const RawFile db = openSource(source);
            expected = lineTotals(db);
        }
        // The backup's summaries against its lines, beside the rebuild: both read the whole file.
        std::future<bool> summariesRight = std::async(std::launch::async, [&source, version = info.version] {
            const RawFile db = openSource(source);
            QDeadlineTimer deadline(kReadLimitMs);
            sqlite3_progress_handler(db.handle(), 10'000, pastDeadline, &deadline);
            return !Schema::checksDaySums(version) || summariesMatchLines(db);
        });
        rebuildInto(source, info.version, rebuilt, idFloor);
        if (!summariesRight.get())
            throw wrongSummaries(native(path));
        checkUnchanged(source, path);
    }
    makeFolder(safetyFolder);
    // Never over an earlier one, which may be the very file being restored.
    QString safety = safetyFolder + QStringLiteral("/Kivaro-恢复前-%1.sjk").arg(stamp());
    for (int n = 2; QFileInfo::exists(safety); ++n)
        safety = safetyFolder + QStringLiteral("/Kivaro-恢复前-%1-%2.sjk").arg(stamp()).arg(n);
    if (expected)
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
