#pragma once

#include "db/LedgerLocation.h"
#include "db/server/ServerStore.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// What a ledger file holds, shown before it is restored.
struct LedgerFileInfo
{
    qint64 accounts = 0;
    qint64 lines = 0;
    // Invalid when the file holds no lines.
    QDate firstDay;
    QDate lastDay;
    // The layout the file was written in (PRAGMA user_version).
    int version = 0;
    // What the inspection found that a restore leaves out, in the user's words.
    QStringList findings;
    // Written and sealed by Kivaro with this data folder's key: restored as it is, without a rebuild.
    bool sealed = false;
    // Passes every check a restore makes (a backup just written, before its seal).
    bool sealable = false;
};

// Called now and then during long work with how much is done of the whole (both in the same unit; total 0 when not
// known yet). May be called from the thread that does the work.
using BackupProgress = std::function<void(qint64 done, qint64 total)>;

// Writes the whole ledger into path as a db.sjk that the program opens as it is: made in a temporary file beside
// path, checked (PRAGMA integrity_check, and the counts and totals per user equal to the ledger's at the moment the
// backup was taken), flushed to the disk and then renamed over path. A file ledger is read through SQLite's online
// backup while other instances keep working; a server ledger is copied. Product-name lists are not part of a backup.
// Raises KivaroError, leaving path as it was and no temporary file behind, when any step fails.
LedgerFileInfo backupLedger(const LedgerLocation& ledger, const QString& path, const BackupProgress& progress = {});

// Checks that path is a Kivaro ledger file this version can restore: an SQLite database, intact, with the program's
// tables, of this layout or an older one. Returns what it holds; raises KivaroError saying why not otherwise. A backup
// sealed on this computer for restoringInto's kind of ledger (backupseal::key) is only read for its counts.
LedgerFileInfo inspectBackup(const QString& path, const std::optional<LedgerLocation>& restoringInto = std::nullopt);

// Puts the backup at path in place of the ledger, after checking it as inspectBackup does. The present ledger is kept
// first in safetyFolder (a file ledger: the very file, moved aside; a server ledger: a backup of it), whose path is
// returned. A file ledger is replaced by a rename, an older layout upgraded in the copy before; a server ledger in
// one transaction. Raises KivaroError with nothing replaced when any step before the replacement fails.
QString restoreLedger(const LedgerLocation& ledger, const QString& path, const QString& safetyFolder,
    const BackupProgress& progress = {});

// The automatic backups: <data folder>/backups.
QString backupsFolder(const QString& dataDir);
// Where the automatic backups of a ledger go: a file ledger's beside it, a server ledger's in a folder of its own
// under this computer's dataDir.
QString dailyBackupsFolder(const LedgerLocation& ledger, const QString& dataDir);
// Today's automatic backup, made when the folder holds none for that day yet, then the folder rotated: the newest 7
// daily and the newest 12 monthly copies stay. A server ledger's is made by the first computer to claim the day on
// the server. Returns the file made, or nothing when there was no need. Raises KivaroError on failure, leaving the
// older backups untouched and the day's claim given up.
std::optional<QString> makeDailyBackup(const LedgerLocation& ledger, const QString& dataDir, const QDate& today);
// The newest automatic backup of a server ledger made by any computer; nothing for a file ledger.
std::optional<DailyBackupRecord> lastDailyBackup(const LedgerLocation& ledger);
// Removes the daily copies beyond the newest 7 and the monthly copies beyond the newest 12, newest by the date in
// their names; names dated after now are left alone and not counted.
void rotateBackups(const QString& folder, const QDateTime& now = QDateTime::currentDateTime());
// The same for the copies kept before a restore (Kivaro-恢复前-…): the newest 12 stay.
void rotateSafetyCopies(const QString& folder, const QDateTime& now = QDateTime::currentDateTime());
