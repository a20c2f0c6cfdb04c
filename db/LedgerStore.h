#pragma once

#include "base/Error.h"
#include "db/AccountRules.h"
#include "db/Catalogue.h"
#include "db/LedgerLocation.h"
#include "db/SalesRows.h"
#include "db/ViewSnapshot.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

// An account as stored: the name, its password hash and its place in the login order.
struct StoredAccount
{
    QString name;
    QString passwordHash;
    qint64 loginOrder = 0;
    friend bool operator==(const StoredAccount&, const StoredAccount&) = default;
};

// The totals of one user's lines, for checking a copy.
struct UserTotals
{
    QString userName;
    SalesTotals totals;
    friend bool operator==(const UserTotals&, const UserTotals&) = default;
};

// One entry of the record of changes: a save, an edit or delete of a stored line, or the undo of one.
struct ChangeEntry
{
    enum class Kind { Save, Edit, Delete, Undo };
    qint64 id = 0;
    QDateTime at;
    QString userName;
    QString computer;
    Kind kind = Kind::Save;
    // An edit, delete or undo: the line and how it was before and after (a deleted line has no after, an undone
    // delete no before).
    qint64 lineId = 0;
    std::optional<SalesLine> before;
    std::optional<SalesLine> after;
    // A save: its lines and their totals.
    SalesTotals saved;
    // An undo: the entry it undid; an entry undone: the undo.
    qint64 undoes = 0;
    qint64 undoneBy = 0;
};

// The ledger was restored from a backup (by another computer) since this connection first read it: what the window
// shows belongs to the ledger that was replaced. The window returns to the login.
class TLedgerReplaced : public KivaroError
{
public:
    TLedgerReplaced()
        : KivaroError(QStringLiteral("账本刚由另一台电脑从备份恢复，窗口中的内容已经过时；请重新登录。"))
    {
    }
};

// The undo cannot be done: the line was changed again since, here or at another computer.
class TChangeConflict : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

// The text a change's line is kept as, and back: JSON with every number as a text, so that no amount loses a cent. A
// save's record carries its token, when it has one.
QString lineRecord(const std::optional<SalesLine>& line);
std::optional<SalesLine> lineFromRecord(const QString& record);
QString savedRecord(const SalesTotals& totals, const QByteArray& token = QByteArray());
SalesTotals savedFromRecord(const QString& record);
QString kindName(ChangeEntry::Kind kind);
ChangeEntry::Kind kindFromName(const QString& name);

// A ledger being filled by a copy: everything added lands in one transaction at commit(), or nothing does when the
// object is destroyed first.
class LedgerImport
{
public:
    virtual ~LedgerImport() = default;
    virtual void addAccount(const StoredAccount& account) = 0;
    // Lines in their order of entry, each kept under its id.
    virtual void addLines(const QString& userName, const QList<SalesLine>& lines) = 0;
    virtual void setProductNames(const QString& userName, const QStringList& names) = 0;
    // The user's catalogue (a server adds it to the shop's: a product or code the shop has already keeps the shop's).
    virtual void setCatalogue(const QString& userName, const QList<CatalogueItem>& items) = 0;
    virtual void commit() = 0;
};

// The steps of one write transaction, in the store's own SQL. The ledger's rules (TDbMan) decide what to write;
// a store only knows how. Every step raises KivaroError in the user's words.
class LedgerWrite
{
public:
    virtual ~LedgerWrite() = default;
    // Writers of one user take turns until the transaction ends (a file ledger has one writer at a time anyway).
    virtual void lockUser(const QString& userName) = 0;

    // New lines get new ids in their order; with keepIds each line is stored under its own id.
    virtual void insertLines(const QString& userName, const QList<SalesLine>& lines, bool keepIds) = 0;

    // The record of changes; before and after are lineRecord()s, a save's after its savedRecord().
    virtual qint64 insertChange(const QString& userName, const QString& computer, ChangeEntry::Kind kind, qint64 lineId,
        const QString& before, const QString& after, qint64 undoes)
        = 0;
    // A save's token, by which a save whose commit may not have landed is looked up.
    virtual void recordSave(const QByteArray& token, const QString& userName, qint64 lines) = 0;
    virtual bool hasSave(const QByteArray& token) = 0;

    // Kept pending lines, per user and owner ("<computer>/<session>"), each with an id of its own.
    virtual QList<SalesLine> keptLines(const QString& userName, const QString& owner) = 0;
    virtual QStringList keptOwners(const QString& userName) = 0;
    virtual QList<qint64> insertKept(const QString& userName, const QString& owner, const QList<SalesLine>& lines) = 0;
    // How many of the ids were kept lines of the user and owner; those are gone now.
    virtual qint64 removeKept(const QString& userName, const QString& owner, const QList<qint64>& ids) = 0;
    virtual void moveKept(const QString& userName, const QString& from, const QString& to) = 0;
};

// The steps of a transaction that changes stored lines (an edit, a delete, an undo): only a ledger in reach has them.
class LineEdits : public LedgerWrite
{
public:
    // A stored line and its owner, unchanged by others until the transaction ends; nothing when no line has the id.
    virtual std::optional<std::pair<QString, SalesLine>> lineForUpdate(qint64 id) = 0;
    virtual void rewriteLine(const SalesLine& line) = 0;
    virtual void removeLine(qint64 id) = 0;
    // Said before the line changes when the change is an undo of changeId (a store whose triggers keep the record
    // needs to know).
    virtual void aboutToUndo(qint64 /*changeId*/) { }
    virtual std::optional<ChangeEntry> changeForUpdate(qint64 id) = 0;
    virtual void markUndone(qint64 changeId, qint64 undoId) = 0;
};

// What a window writes, and what a login reads: the accounts' names and password hashes (a server's are verifiers
// or nothing), the lines and kept lines of a save (LedgerWrite), and the product names. Every store has it, the
// offline outbox too. Values are checked by TDbMan before they reach a store; failures are raised as KivaroError in
// the user's words.
class WindowStore
{
public:
    virtual ~WindowStore() = default;
    virtual LedgerLocation location() const = 0;

    // Accounts. Hashes are made and checked by the caller; the checks run inside the store's transaction.
    virtual QStringList userNames() = 0;
    virtual std::optional<QString> passwordHash(const QString& name) = 0;
    // False when the name is taken.
    virtual bool insertUser(const QString& name, const QString& hash) = 0;
    virtual void moveUserToFront(const QString& name) = 0;

    // Runs work as one write transaction and commits it. A store that cannot tell whether its commit landed (a
    // server whose connection broke during COMMIT) asks landed on a new transaction, runs work once more when it says
    // no, and raises KivaroError when it cannot ask. Failures that only mean "try again" (a serialization failure or
    // deadlock on a server) are retried a few times before they reach the caller.
    virtual void write(
        const std::function<void(LedgerWrite&)>& work, const std::function<bool(LedgerWrite&)>& landed = {})
        = 0;

    // A user's product names by last use: nothing when none were ever kept.
    virtual std::optional<QStringList> productNames(const QString& userName) = 0;
    // Moves the name to the top of the stored list (kept names another computer added meanwhile stay) and returns
    // the list; nothing, with no change, for a blank name.
    virtual std::optional<QStringList> rememberProductName(const QString& userName, const QString& name) = 0;
    // Several names used in this order (the last ends on top), in one write.
    virtual std::optional<QStringList> rememberProductNames(const QString& userName, const QStringList& names) = 0;
    virtual void writeProductNames(const QString& userName, const QStringList& names) = 0;
};

// What the review page reads of stored lines.
class ReviewReads
{
public:
    virtual ~ReviewReads() = default;
    // The user's changes, newest first.
    virtual QList<ChangeEntry> changes(const QString& userName, int limit) = 0;

    virtual QList<DayCount> queryDays(const SalesRange& range) = 0;
    virtual QList<SalesLine> queryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count) = 0;
    virtual QList<DayProductRow> queryDayProductWindow(
        const SalesRange& range, const QDate& day, qint64 offset, int count)
        = 0;
    virtual QList<RankingRow> queryRanking(const SalesRange& range) = 0;
    // The days, the user's newest change ID and what fixes the detail order (see ViewSnapshot), all from one read.
    virtual ViewSnapshot queryView(const SalesRange& range) = 0;
    // The IDs at positions [first, first + count) of a snapshot that keeps a highest ID rather than a list, as it read
    // them; fewer where the days hold fewer lines than counted. A store whose snapshots list their IDs is never asked.
    virtual std::vector<qint64> boundedLineIds(const ViewSnapshot& snapshot, qint64 first, qint64 count)
    {
        Q_UNUSED(snapshot);
        Q_UNUSED(first);
        Q_UNUSED(count);
        return {};
    }
    // Whether the range's day summaries count the lines it holds. When they do not (another program changed them),
    // they are mended from the lines, or, in a ledger that cannot be written, this store reads the lines from now on.
    // A store whose summaries nothing else can write has nothing to check.
    virtual bool daysMatchLines(const SalesRange& range)
    {
        Q_UNUSED(range);
        return true;
    }
    // The range's lines that 查找 finds (range.find: in the product name or the memo, see foundIn), in the detail
    // order, without their memos; and the newest change of the range's user (or shop), from the same read.
    struct FoundLines
    {
        QList<SalesLine> lines;
        qint64 changeMark = 0;
    };
    virtual FoundLines findLines(const SalesRange& range) = 0;
    // The range's lines among ids (of its user, or of the shop), in any order.
    virtual QList<SalesLine> linesById(const SalesRange& range, const std::vector<qint64>& ids) = 0;
    // The changes of the range's user (or shop) after the change ID after that concern the lines ids, oldest first.
    virtual QList<ChangeEntry> lineChangesAfter(const SalesRange& range, qint64 after, const std::vector<qint64>& ids)
        = 0;
};

// A whole ledger read out or filled in: backups, restores and copies.
class LedgerTransfer
{
public:
    virtual ~LedgerTransfer() = default;
    // The accounts with their password hashes (a server keeps none: its accounts are roles with passwords of their
    // own).
    virtual bool keepsPasswordHashes() const { return true; }
    virtual QList<StoredAccount> accounts() = 0;
    // Every user that owns lines, with their totals.
    virtual QList<UserTotals> totalsByUser() = 0;
    // Hands the user's lines to take, in order of entry, a batch at a time.
    virtual void readLines(const QString& userName, const std::function<void(const QList<SalesLine>&)>& take) = 0;
    // Into an empty store (raises KivaroError when it already holds accounts or lines), or replacing every account
    // and line it holds, in the same transaction as the import (its product-name lists stay).
    enum class ImportMode { IntoEmpty, Replacing };
    // whileLocked runs once every writer of the target is held off and before anything is replaced (a restore takes
    // its safety copy there, so that no save falls between the copy and the replacement).
    virtual std::unique_ptr<LedgerImport> startImport(
        ImportMode mode = ImportMode::IntoEmpty, const std::function<void()>& whileLocked = {})
        = 0;
    // While held, the reads of ReviewReads and of this class see the ledger as it was when the hold began, whatever
    // other computers write meanwhile; a file store, read through one connection at a time, has nothing to hold.
    virtual void holdSnapshot(bool /*hold*/) { }
};

// The products' catalogue: a file keeps one per user, a server one for the whole shop, which every account reads and
// only the shop's owners and the administrator change.
class CatalogueStore
{
public:
    virtual ~CatalogueStore() = default;
    // In the order the products were added.
    virtual QList<CatalogueItem> catalogue(const QString& userName) = 0;
    // Applies the changes in one write (applyCatalogueChanges); nothing changes when one is refused.
    virtual void changeCatalogue(const QString& userName, const QList<CatalogueChange>& changes) = 0;
    virtual bool mayChangeCatalogue() { return true; }
};

// A ledger in reach (a file, or a server that answers): everything above, and the account administrator's work on
// password hashes.
class LedgerStore : public WindowStore, public ReviewReads, public LedgerTransfer, public CatalogueStore
{
public:
    // As write(), with the steps that change stored lines.
    virtual void writeEdits(const std::function<void(LineEdits&)>& work) = 0;
    // Deletes the account when check accepts its stored hash; true when it is gone.
    virtual bool deleteUserIf(const QString& name, const std::function<bool(const QString& hash)>& check) = 0;
    // Replaces the hash when check accepts the stored one; true when the new hash is stored.
    virtual bool replaceHashIf(
        const QString& name, const std::function<bool(const QString& hash)>& check, const QString& newHash)
        = 0;
};
