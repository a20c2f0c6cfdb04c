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

LedgerFileInfo backupLedger(const LedgerLocation& ledger, const QString& path, const BackupProgress& progress)
{
    if (!ledger.isServer())
        SafeFile::protect(ledger.databasePath());
    removeLeftoverWork(QFileInfo(path).absolutePath());
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
    // A backup that would pass every check of a restore is sealed, so that its restore need not make them again.
    if (info.sealable) {
        const QByteArray key = backupseal::key(ledger, true);
        backupseal::seal(work, key);
        info.sealed = !key.isEmpty();
    }
    QFile::setPermissions(work, QFile::ReadOwner | QFile::WriteOwner);
    file.commit();
    return info;
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
