#pragma once

#include "db/Backup.h"
#include "db/LedgerLocation.h"

#include <QString>
#include <functional>

class QWidget;

// Runs work on a worker thread while a modal window says what it is doing and how far it is; events keep flowing
// until the work ends. Returns the text of the error that ended it, or a null string when it succeeded.
QString runWithProgress(QWidget* parent, const QString& text, const std::function<void(const BackupProgress&)>& work);

// The same behind the busy cursor, with busyControl disabled meanwhile, for work that takes a moment.
QString runWithBusyCursor(QWidget* busyControl, const std::function<void()>& work);

// 备份数据…: asks where, writes a backup of the ledger there and says what it holds, or why it failed.
void backupThroughDialog(QWidget* parent, const LedgerLocation& ledger);

// 恢复数据…: asks for a backup file, shows what it holds and asks before putting it in place of the ledger, the
// present one kept in backupsFolder(dataDir) first; pendingLines, the lines on the bookkeeping page not yet saved, are
// named in the question. beforeReplacing runs on the worker just before the restore. True when the ledger was
// replaced.
bool restoreThroughDialog(QWidget* parent, QWidget* busyControl, const LedgerLocation& ledger, const QString& dataDir,
    const std::function<void()>& beforeReplacing = {}, qsizetype pendingLines = 0);

// What a backup file holds, in the words the dialogs and the command line use.
QString backupContentsText(const LedgerFileInfo& info);
