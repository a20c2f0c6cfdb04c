#pragma once

#include "base/Error.h"
#include "db/LedgerLocation.h"

#include <functional>

class LedgerStore;

// What a finished copy moved.
struct CopySummary
{
    qint64 accounts = 0;
    qint64 lines = 0;
    // Users that own lines, and how many of them have no account.
    qint64 users = 0;
    qint64 usersWithoutAccount = 0;
    qint64 productLists = 0;
};

// The target was written but does not hold a whole copy: the check after the commit found a difference, or what
// followed the commit failed. The text says what; the target must not be used as it is.
class TCopyIncomplete : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

// How a copy goes: with or without the product-name lists (a backup file keeps none), into an empty target or in
// place of everything the target holds (a restore).
struct CopyOptions
{
    bool productLists = true;
    bool replaceTarget = false;
    // Runs once the target's writers are held off, before anything is written (see LedgerStore::startImport).
    std::function<void()> whileLocked;
};

// Called after every batch of lines with the lines copied so far and the number to copy.
using CopyProgress = std::function<void(qint64 copied, qint64 total)>;

// Copies the accounts (hashes and login order included), every user's lines and each account's product names into
// target, which must be empty, in one transaction; then checks that both hold the same accounts and the same counts
// and totals per user. Lines are read and written a batch at a time. Raises KivaroError, with nothing changed on the
// target, when the copy fails before the target committed; TCopyIncomplete when it failed after.
CopySummary copyLedger(
    LedgerStore& source, LedgerStore& target, const CopyProgress& progress = {}, const CopyOptions& options = {});

// The same between two ledgers. Refuses one ledger given twice and a missing source file; a target file is made
// from the template when missing (its folder must exist) and removed again when the copy fails.
CopySummary copyLedger(const LedgerLocation& source, const LedgerLocation& target, const CopyProgress& progress = {},
    const CopyOptions& options = {});

// True when both name one file (links followed), or one server database as far as the connection texts and the
// environment's PG variables tell.
bool sameLedger(const LedgerLocation& a, const LedgerLocation& b);

// A ledger as messages name it: the file's path or the server and database, never a password.
QString ledgerName(const LedgerLocation& location);
