#pragma once

#include "base/Error.h"
#include "db/AccountRules.h"
#include "db/Catalogue.h"
#include "db/SalesRows.h"

#include "db/LedgerLocation.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// An edit or delete found no line with its ID: another instance deleted it meanwhile.
class TRecordGone : public KivaroError
{
public:
    TRecordGone()
        : KivaroError(QStringLiteral("该记录已被删除或修改，请重新查看。"))
    {
    }
};

// What became of a save of a window's kept lines (完成). Every outcome but Saved is told to the user.
enum class SaveOutcome {
    Saved,
    // None of its kept lines was there any more and an earlier save of them landed (its answer was lost): stored
    // once, not twice.
    AlreadySaved,
    // The server went away during the save: it waits in this computer's outbox and is sent, once, when the server
    // answers again.
    SavedOffline,
    // The ledger had lost the window's kept lines with no save of this window (it was restored from a backup, or its
    // file removed, meanwhile): the lines shown were stored all the same.
    SavedIntoReplacedLedger,
};

class KeptSession;
class LedgerStore;
class ServerStore;
class WindowStore;
class OutboxStore;
struct ChangeEntry;
struct ViewSnapshot;

// Access to the ledger: the database file db.sjk in the data folder, or a PostgreSQL server. Every operation is one
// transaction; failures are raised as KivaroError in the user's words, with the engine's text.
class TDbMan
{
public:
    // The ledger this process uses (currentLedger()).
    TDbMan();
    ~TDbMan();
    // The file ledger in a given data folder.
    explicit TDbMan(const QString& dataDir);
    // A connection belongs to the thread that made it: another thread makes its own from location().
    explicit TDbMan(const LedgerLocation& location);
    LedgerLocation location() const { return FLocation; }
    QString dataDir() const { return FLocation.dataDir(); }

    // Asked for a password when a server wants one that neither the connection string nor libpq's password and
    // service files hold; gives nothing when the user declines. What it returns is kept in memory only.
    static std::function<std::optional<QString>(const QString& server, const QString& reason)> passwordPrompt;

    // Shown while the store does long work of its own (giving an old file its summaries takes seconds for a
    // million lines): called with the text to show, it returns what to destroy when the work is done.
    static std::function<std::shared_ptr<void>(const QString& text)> longWorkNotice;
    // Called about ten times a second while a statement has waited on a server for more than a moment, with the text
    // to show; returns false when the user chose to stop waiting. Called once more with an empty text when the wait
    // is over.
    static std::function<bool(const QString& text)> serverWait;
    TDbMan(const TDbMan&) = delete;
    TDbMan& operator=(const TDbMan&) = delete;

    QString databasePath() const { return FLocation.databasePath(); }
    // The empty database beside the program that a first start copies.
    static QString templatePath();

    // Accounts.
    bool UserExists(const QString& name);
    bool CheckUser(const QString& name, const QString& password);
    void GetUserNames(QStringList* list);
    bool AddUser(const QString& name, const QString& password);
    bool DeleteUser(const QString& name, const QString& password);
    bool ChangePassword(const QString& name, const QString& oldPassword, const QString& newPassword);
    // Puts the account at the head of GetUserNames.
    void MoveUserToFront(const QString& name);
    // The administrator's work.
    using AccountInfo = ::AccountInfo;
    QList<AccountInfo> Accounts();
    // Sets the account's password without the old one; false when there is no such account.
    bool SetPassword(const QString& name, const QString& password);
    // Marks the account as the shop's owner, who reviews every account's lines (a server ledger's only); false when
    // there is no such account.
    bool SetShopOwner(const QString& name);
    // The other accounts whose lines the user may review, read-only, besides the whole shop's: only a server ledger's
    // owner may (nullopt for anyone else).
    std::optional<QStringList> ReviewableAccounts(const QString& userName);

    // ---- Typed lines and the review views ----
    // An edit or delete names the user and the line as the window showed it (its id and every value: a line's
    // version is what it holds). When the stored line is no longer that line of that user, nothing changes and
    // TRecordGone is raised.
    void UpdateLine(const QString& userName, const SalesLine& seen, const SalesLine& edited);
    void DeleteLine(const QString& userName, const SalesLine& seen);

    // The days of the range that hold lines, in order: each day's number of lines, its number of rows in the view
    // per day and product (DayCount::rows), and its sums. Read from the summaries: a row a day, whatever the lines;
    // with 查找, counted from the lines it finds.
    QList<DayCount> QueryDays(const SalesRange& range);
    // Up to count lines of the range in the detail view's order (day, then ID), starting offset lines into day.
    QList<SalesLine> QueryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count);
    // Which of lines (read from a file) are already the user's, saved or among pending: the positions of those whose
    // six values match a line not matched before, as many times as the ledger and the list hold it.
    QSet<qsizetype> SameAsSaved(
        const QString& userName, const QList<SalesLine>& lines, const QList<SalesLine>& pending);
    // Up to count rows per day and product in their view's order (day, then first sale), starting offset rows into
    // day.
    QList<DayProductRow> QueryDayProductWindow(const SalesRange& range, const QDate& day, qint64 offset, int count);
    // Products by quantity sold, most first; equal quantities in the order of their first sale.
    QList<RankingRow> QueryRanking(const SalesRange& range);
    // What 查看 reads: the range's days and what fixes the order of its lines, in one consistent read.
    std::shared_ptr<const ViewSnapshot> QueryView(const SalesRange& range);
    // Whether the range's day summaries count its lines; see ReviewReads::daysMatchLines.
    bool DaysMatchLines(const SalesRange& range);
    // The IDs at positions [first, first + count) of a snapshot's detail order as 查看 saw them; 0 where a day holds
    // fewer lines than it counted.
    std::vector<qint64> LineIdsAsRead(const ViewSnapshot& snapshot, qint64 first, qint64 count);
    // The lines at those positions, as LinesAsRead gives them.
    QList<SalesLine> LinesAsRead(const ViewSnapshot& snapshot, qint64 first, qint64 count);
    // The lines ids of a snapshot as it read them, in the order of ids: a line changed or deleted since (here or at
    // another computer) is shown as it was, from the record of changes; a line that cannot be found has ID 0.
    QList<SalesLine> LinesAsRead(const ViewSnapshot& snapshot, const std::vector<qint64>& ids);
    // A user's product names by last use, shared by every computer on a server; nothing when none were kept.
    std::optional<QStringList> ProductNames(const QString& userName);
    // Moves the name to the top of the user's list as it is stored now and returns the list; nothing for a blank
    // name.
    std::optional<QStringList> RememberProductName(const QString& userName, const QString& name);
    // Several names used in this order, as many 添加 would leave them, in one write.
    std::optional<QStringList> RememberProductNames(const QString& userName, const QStringList& names);
    void WriteProductNames(const QString& userName, const QStringList& names);

    // ---- The products' catalogue (商品资料) ----
    // The user's catalogue on a file, the shop's on a server, in the order of entry; while the server is away, the
    // copy this computer kept when it last read the shop's.
    QList<CatalogueItem> Catalogue(const QString& userName);
    // Whether this login may change it (on a server, only the shop's owners and the administrator).
    bool MayChangeCatalogue();
    // Applies the changes in one write; raises KivaroError, with nothing changed, when one is refused.
    void ChangeCatalogue(const QString& userName, const QList<CatalogueChange>& changes);

    // ---- Pending lines kept until "完成", and the record of changes ----
    // This computer's name as the record of changes shows it.
    static QString computerName();
    // The session's kept lines of the user, in their list's order, each line's id its kept id. First adopts the kept
    // lines of this computer's windows that are gone (closed or crashed), each by one session only.
    QList<SalesLine> KeptLines(const QString& userName, const KeptSession& session);
    // A window that switches between the server and its outbox keeps the lines it shows (each line's id its kept id in
    // the store it leaves) in this store under the same session: offline they are kept in the outbox, naming the
    // server's copies; online the outbox's lines of the session replace those copies on the server. Their new kept
    // ids by their old ones.
    QHash<qint64, qint64> CarryKeptLines(
        const QString& userName, const KeptSession& session, const QList<SalesLine>& lines);
    // Keeps the lines, after the others, durably before it returns; their kept ids in order.
    QList<qint64> KeepLines(const QString& userName, const KeptSession& session, const QList<SalesLine>& lines);
    void ForgetKeptLine(const QString& userName, const KeptSession& session, qint64 keptId);
    // Keeps line in place of the kept line keptId, in one transaction; the new kept id.
    qint64 ReplaceKeptLine(const QString& userName, const KeptSession& session, qint64 keptId, const SalesLine& line);
    // Stores the kept lines the window shows (each line's id its kept id) and forgets exactly them, in one
    // transaction, and says what became of them (AlreadySaved when the save that forgot them is in the ledger: this
    // 完成's token, or the session's last save of them). Raises KivaroError, with nothing stored, when only some of
    // them are still kept.
    SaveOutcome SaveKeptLines(const QString& userName, KeptSession& session, const QList<SalesLine>& lines);
    // ---- A till that sells while its server is away ----
    // What one round of sending the outbox did: saves and lines that reached the server, and whether the ledger was
    // restored from a backup since the account last saw it (they went into the restored ledger).
    struct OutboxSent
    {
        int saves = 0;
        qint64 lines = 0;
        bool intoNewLedger = false;
        // Why the oldest save left could not be sent (it stays in the outbox).
        QString problem;
        // The server answered this round.
        bool reached = false;
    };
    // Sends the user's saves waiting in this computer's outbox, oldest first, each in one server transaction that also
    // records its token: a save whose token is on the server already is not stored again, and leaves the outbox.
    // Raises TServerUnreachable while the server is away. Online server ledgers only.
    OutboxSent SendOutbox(const QString& userName);

    // The user's saves, edits, deletes and undos, newest first.
    QList<ChangeEntry> Changes(const QString& userName, int limit = 1000);
    // Undoes the user's edit or delete changeId as it is shown. Raises TChangeConflict when the line changed since,
    // KivaroError when the change is not the user's, not an edit or delete, or undone already.
    ChangeEntry UndoChange(const QString& userName, qint64 changeId);

    // The store behind this object, for copying a ledger: raises KivaroError offline.
    LedgerStore& store();

private:
    static QList<SalesLine> checkedLines(const QList<SalesLine>& lines);
    // Stores the lines with a save token; with a session, forgets exactly those kept lines in the same transaction.
    // Kept lines a save forgets in its transaction: all of them (or it is refused), or those still there.
    struct KeptLinesToForget
    {
        QString owner;
        QList<qint64> ids;
        bool all = true;
        // The token of the window's last save that landed, when it forgot these very lines.
        QByteArray landedToken;
    };
    // Stores the lines with a save token (a new one unless given; a given one already on the server stores nothing)
    // and forgets the kept lines, in one transaction.
    // Saved, AlreadySaved, or SavedIntoReplacedLedger when a window's kept lines were gone and stored all the same.
    SaveOutcome saveLines(const QString& userName, const QList<SalesLine>& lines, const KeptLinesToForget& kept,
        const QByteArray& token = QByteArray());
    // Kept lines typed offline here, of the session or of windows that are gone, become the session's kept lines on
    // the server, each owner's lines once.
    // One outbox file's saves of the user, oldest first, added to what was sent.
    void sendOutbox(OutboxStore& outbox, const QString& userName, const QString& refused, OutboxSent& sent);
    // Returns the new ids of the session's own lines, by their ids in the outbox.
    QHash<qint64, qint64> adoptOfflineKeptLines(const QString& userName, const KeptSession& session);

    // The ledger in reach, for reading and for the accounts' administration: raise KivaroError offline.
    LedgerStore& reads();
    LedgerStore& ledgerForEdits();
    LedgerStore& accountAdmin();

    LedgerLocation FLocation;
    std::unique_ptr<WindowStore> FStore;
    // The same store as a ledger in reach (a file, or a server that answers), and as a server; nothing offline, or
    // for a file.
    LedgerStore* FLedger = nullptr;
    ServerStore* FServer = nullptr;

    // What 查找 found over a range, read once: its ranking is kept for the QueryRanking of the same range that a
    // 查看 asks for next (of the range, and of the period it is compared with), which then ranks the very lines the
    // view shows.
    ViewSnapshot foundViewOf(const SalesRange& range);
    struct FoundRanking
    {
        SalesRange range;
        QList<RankingRow> rows;
    };
    QList<FoundRanking> FFoundRankings;
};
