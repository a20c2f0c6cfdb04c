#pragma once

// What backups and restores share, and nothing outside them includes: a raw connection to a ledger file, its totals
// and summaries checked, file copies through SafeFile, and the names backups are kept under.

#include "base/Error.h"
#include "db/Backup.h"
#include "db/DbError.h"
#include "db/SalesRows.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QMap>
#include <QString>
#include <optional>
#include <sqlite3.h>
#include <utility>

namespace backupfiles {

QString native(const QString& path);

// The engine's name for a file opened read-only; immutable: without locks and without the files beside it (a journal
// left there is not taken), as a copy of it would be read.
QByteArray readOnlyUri(const QString& path, bool immutable);

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

// Per stored (encoded) user name.
using Totals = QMap<QByteArray, SalesTotals>;

// True when every row of the day, day-and-product and month summaries is what the lines make, read in one pass in
// the order of the keys: the lines grouped along their covering index, beside each summary table along its key.
bool summariesMatchLines(const RawFile& db);

// How many rows of Records, PendingLines or Catalogue hold a value the program could not have written, and the first
// one's ID.
std::pair<qint64, qint64> oddValues(const RawFile& db, const QString& table);
// The file's tables, indexes and triggers by name and text, and those of a ledger this program makes.
QStringList catalogue(const RawFile& db);
const QStringList& ownCatalogue();
// The file is of this program's layout and version, with nothing added.
bool layoutIsOwn(const RawFile& db);
// The file, known to be intact, has this program's layout (layoutIsOwn) and every value in it is one the program
// could have written: it needs no rebuilding to become a ledger.
bool passesEveryCheck(const RawFile& db);

// The length of the database an SQLite file's first 100 bytes give, when their page count is valid (written by the
// change the header names); nothing otherwise, and then the engine reads the whole file.
std::optional<qint64> headerLength(const QByteArray& header);

// Added up from the lines themselves.
Totals lineTotals(const RawFile& db);

// Added up from the day summaries, a row a day, when the file keeps them.
Totals summaryTotals(const RawFile& db);

LedgerFileInfo infoOf(const RawFile& db);

// A file's bytes reached the disk, and so did its name in the folder.
void syncFile(const QString& path);

void renameInto(const QString& from, const QString& to);

// Copies a file's bytes through SafeFile: every step checked, the copy on the disk and owner-only before it takes
// the target's name, and the target as it was when the copy fails.
void copyBytes(const QString& from, const QString& to, const BackupProgress& progress, qint64 limit = -1);

// A name beside path for work in progress, not yet made.
QString workFileBeside(const QString& path);

void removeWorkFile(const QString& path);
// Removes the work files and new files that a backup or restore killed in the middle left in folder an hour ago or
// more.
void removeLeftoverWork(const QString& folder);

// Copies the file ledger page by page through SQLite's online backup, inside one read transaction: other instances
// wait to commit until it is done, so the copy and the totals returned are of one moment.
Totals backupPages(const QString& sourcePath, const QString& targetPath, const BackupProgress& progress);

QString stamp();

void makeFolder(const QString& folder);

// Puts the file ledger's present file aside and the restored one in its place. Holding the write lock, no other
// instance is in the middle of a save while the files change places.
void swapFileLedger(const QString& live, const QString& restored, const QString& safety);

// The lines of a written backup do not add up to the ledger's summaries.
class SumsDisagree : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

// The backup as written: intact, and its lines add up to what they should. Its sealable says whether it passes
// every check a restore makes (passesEveryCheck), checked beside the rest.
LedgerFileInfo checkWritten(const QString& path, const std::optional<Totals>& expected);

enum class BackupKind { Daily, Monthly, Safety };
// The moment a backup's name says it was made: Kivaro-yyyy-MM-dd.sjk (daily), Kivaro-yyyy-MM.sjk (monthly) or
// Kivaro-恢复前-yyyy-MM-dd-HHmmss[-n].sjk (a copy kept before a restore). Nothing for any other name or an impossible
// date.
std::optional<std::pair<QDateTime, int>> backupMoment(const QString& name, BackupKind kind);
// Keeps the newest keep backups of a kind by the moment their names say, and removes the older ones. A name dated
// after now (a clock set wrong once, a file copied in) is neither counted nor removed: it never pushes out today's.
void keepNewest(const QString& folder, BackupKind kind, int keep, const QDateTime& now);

} // namespace backupfiles
