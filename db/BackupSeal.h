#pragma once

// The seal on a backup this computer's Kivaro wrote and checked: a keyed hash of the file's bytes, appended after the
// database's own pages (which the engine does not read), with a key kept in the data folder. A restore or an
// inspection that finds its own seal intact knows the file is, byte for byte, one that passed every check when it was
// written, and need not rebuild it row by row. A file from elsewhere, or changed since, has no valid seal and is
// checked and rebuilt in full.

#include "db/Backup.h"
#include "db/LedgerLocation.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace backupseal {

// The key of the data folder of the ledger's backups on this computer (a file ledger's own folder, a server ledger's
// the user's data folder); made when make is true and there is none yet. Empty when there is none and none could be
// made (a backup is then written without a seal).
QByteArray key(const LedgerLocation& ledger, bool make);

// Appends the seal to the finished backup at path. Leaves a file whose header does not give its own length as it is.
void seal(const QString& path, const QByteArray& key);

// The length of the database in the file at path when it carries a valid seal of key; nullopt otherwise. Reads the
// whole file.
std::optional<qint64> sealedLength(const QString& path, const QByteArray& key, const BackupProgress& progress = {});

// Copies the database of the sealed file at path to target (a new file, owner-only), checking the seal on the very
// bytes it writes. False, with target removed, when the file has no valid seal of key.
bool copySealed(const QString& path, const QString& target, const QByteArray& key, const BackupProgress& progress = {});

} // namespace backupseal
