#pragma once

#include "db/LedgerStore.h"
#include "db/server/ServerSchema.h"

#include <QByteArray>
#include <QList>

#include <QDate>
#include <QString>

struct pg_conn;
struct pg_result;

// An automatic backup of a server ledger: its day, the computer that made it (its host name) and the folder there.
struct DailyBackupRecord
{
    QDate day;
    QString computer;
    QString folder;
};

// The ledger in a PostgreSQL database, shared by every computer that connects to it, through libpq with every value
// as a parameter. A connection lost between two operations is made again without a word. Its files in db/server/:
// PgSession.h (the session on a connection), Connector, SchemaSetup, Accounts, ServerStore (lines, reads, product
// names), ServerCopy, DailyBackupClaims.
class ServerStore : public LedgerStore
{
public:
    // As the account logged in on this ledger, or (before a login, or as administrator) as the connection's role.
    explicit ServerStore(const LedgerLocation& location, bool administrator = false);
    ~ServerStore() override;
    ServerStore(const ServerStore&) = delete;
    ServerStore& operator=(const ServerStore&) = delete;

    // The layout this program creates, kept in the table kivaro_schema.
    static constexpr int kSchemaVersion = 9;

    LedgerLocation location() const override { return FLocation; }
    bool keepsPasswordHashes() const override { return false; }

    QStringList userNames() override;
    std::optional<QString> passwordHash(const QString& name) override;
    bool insertUser(const QString& name, const QString& hash) override;
    bool deleteUserIf(const QString& name, const std::function<bool(const QString&)>& check) override;
    bool replaceHashIf(
        const QString& name, const std::function<bool(const QString&)>& check, const QString& newHash) override;
    void moveUserToFront(const QString& name) override;

    // Accounts are roles of the server, which keeps their passwords. A login as the account: accepted (and this
    // process then uses the ledger as it), a wrong password, or an account that waits for one; an account the server
    // does not let in is KivaroError.
    enum class LoginCheck { Accepted, WrongPassword, NeedsPassword };
    LoginCheck logIn(const QString& name, const QString& password);
    // The administrator's work (asked for its password when the server wants one): false when the name is taken.
    bool addAccount(const QString& name, const QString& password);
    // With the account's password: false when it is wrong. The role stays on the server.
    bool deleteAccount(const QString& name, const QString& password);
    // The account changes its own password, as itself: false when the old one is wrong.
    bool changePassword(const QString& name, const QString& oldPassword, const QString& newPassword);
    // The administrator's work: false when there is no such account.
    bool setPassword(const QString& name, const QString& password);
    bool setShopOwner(const QString& name);
    // The ledger's generation now: a restore from a backup counts it up.
    // The ledger's own identity, the same at any address.
    QString ledgerIdentity();
    qint64 ledgerGeneration();
    QList<AccountInfo> accountList();

    void write(const std::function<void(LedgerWrite&)>& work, const std::function<bool(LedgerWrite&)>& landed) override;
    void writeEdits(const std::function<void(LineEdits&)>& work) override;
    QList<ChangeEntry> changes(const QString& userName, int limit) override;

    QList<DayCount> queryDays(const SalesRange& range) override;
    QList<SalesLine> queryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count) override;
    QList<DayProductRow> queryDayProductWindow(
        const SalesRange& range, const QDate& day, qint64 offset, int count) override;
    QList<RankingRow> queryRanking(const SalesRange& range) override;
    // The statement queryRanking sends and its values.
    static std::pair<QString, QList<QByteArray>> rankingQuery(const SalesRange& range);
    ViewSnapshot queryView(const SalesRange& range) override;
    FoundLines findLines(const SalesRange& range) override;
    QList<SalesLine> linesById(const SalesRange& range, const std::vector<qint64>& ids) override;
    QList<ChangeEntry> lineChangesAfter(const SalesRange& range, qint64 after, const std::vector<qint64>& ids) override;

    std::optional<QStringList> productNames(const QString& userName) override;
    std::optional<QStringList> rememberProductName(const QString& userName, const QString& name) override;
    std::optional<QStringList> rememberProductNames(const QString& userName, const QStringList& names) override;
    void writeProductNames(const QString& userName, const QStringList& names) override;

    QList<CatalogueItem> catalogue(const QString& userName) override;
    void changeCatalogue(const QString& userName, const QList<CatalogueChange>& changes) override;
    bool mayChangeCatalogue() override;

    QList<StoredAccount> accounts() override;
    QList<UserTotals> totalsByUser() override;
    void readLines(const QString& userName, const std::function<void(const QList<SalesLine>&)>& take) override;
    std::unique_ptr<LedgerImport> startImport(ImportMode mode, const std::function<void()>& whileLocked) override;
    void holdSnapshot(bool hold) override;

    // The day's automatic backup of a server ledger is made by one computer: the first to claim the day, or one that
    // takes over a claim left unfinished for an hour. True when this computer is to make it.
    bool claimDailyBackup(const QDate& day, const QString& computer, const QString& label, const QString& folder);
    // Marks this computer's claim as made, or gives it up so that the next start of any computer tries again.
    void settleDailyBackup(const QDate& day, const QString& computer, bool made);
    // The newest automatic backup made, and by which computer.
    std::optional<DailyBackupRecord> lastDailyBackup();

private:
    class Result;
    class Session;
    class Import;
    class Write;
    class CatalogueWrite;

    // Runs work on an open connection with the schema in place. When the connection turns out to be lost before
    // anything was committed, it is made again and the work runs once more.
    template <typename Work> auto withSession(Work&& work);
    pg_conn* connect();
    void disconnect();
    void setUpConnection(pg_conn* connection);
    void prepareSchema(Session& session);
    void upgradeToAccounts(Session& session, qint64 found);
    static void upgradeToShopSums(Session& session, const QString& server);
    static void upgradeToSharedNothing(Session& session);
    static void upgradeToMonths(Session& session);
    QString lockHolders();
    static ServerSchema::Access access(Session& session);
    static bool isAdministrator(Session& session);
    void makeGroup(Session& session, const ServerSchema::Access& access);
    bool admitRole(Session& session, const ServerSchema::Access& access, const QString& name, const QString& password);
    template <typename Work> auto asAdministrator(Work&& work);
    static void checkLedgerParts(Session& session, const QString& server);
    std::optional<SalesLine> readLine(Session& session, qint64 id, QString* userName, bool forUpdate);
    QList<DayCount> daysIn(Session& session, const SalesRange& range);
    static ChangeEntry changeAt(const Result& rows, int row);
    void insertLines(Session& session, const QString& userName, const QList<SalesLine>& lines, bool keepIds);
    void putProductNames(Session& session, const QString& userName, const QStringList& names);
    static void putCatalogue(Session& session, const QList<CatalogueChange>& changes);

    LedgerLocation FLocation;
    pg_conn* FConnection = nullptr;
    bool FAdministrator = false;
    // False while a connection must not ask the user for a password.
    bool FMayAsk = true;
    // The sign-ins counted when the connection was made.
    int FSignIns = -1;
    bool FSchemaReady = false;
    // A read-only snapshot transaction spans the operations while true.
    bool FSnapshot = false;
    // The ledger's generation when this store first met it: a restore makes a new one.
    qint64 FGeneration = -1;
    void checkGeneration(Session& session);
    // Raises KivaroError when the range is the whole shop's and the login is neither an owner nor the administrator.
    static void checkShopReader(Session& session, const SalesRange& range);
};
