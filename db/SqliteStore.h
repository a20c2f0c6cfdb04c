#pragma once

#include "db/LedgerStore.h"

#include <QStringList>

// The ledger in the file db.sjk of a data folder. Every operation opens the file, runs its statements and closes it
// again, so that several instances on this computer share the file.
class SqliteStore : public LedgerStore
{
public:
    explicit SqliteStore(const LedgerLocation& location);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    LedgerLocation location() const override { return FLocation; }
    // The empty database beside the program that a first start copies.
    static QString templatePath();

    QStringList userNames() override;
    std::optional<QString> passwordHash(const QString& name) override;
    bool insertUser(const QString& name, const QString& hash) override;
    bool deleteUserIf(const QString& name, const std::function<bool(const QString&)>& check) override;
    bool replaceHashIf(
        const QString& name, const std::function<bool(const QString&)>& check, const QString& newHash) override;
    void moveUserToFront(const QString& name) override;

    void write(const std::function<void(LedgerWrite&)>& work, const std::function<bool(LedgerWrite&)>& landed) override;
    void writeEdits(const std::function<void(LineEdits&)>& work) override;
    QList<ChangeEntry> changes(const QString& userName, int limit) override;

    QList<DayCount> queryDays(const SalesRange& range) override;
    QList<SalesLine> queryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count) override;
    QList<DayProductRow> queryDayProductWindow(
        const SalesRange& range, const QDate& day, qint64 offset, int count) override;
    QList<RankingRow> queryRanking(const SalesRange& range) override;
    ViewSnapshot queryView(const SalesRange& range) override;
    std::vector<qint64> boundedLineIds(const ViewSnapshot& snapshot, qint64 first, qint64 count) override;
    bool daysMatchLines(const SalesRange& range) override;
    FoundLines findLines(const SalesRange& range) override;
    QList<SalesLine> linesById(const SalesRange& range, const std::vector<qint64>& ids) override;
    QList<ChangeEntry> lineChangesAfter(const SalesRange& range, qint64 after, const std::vector<qint64>& ids) override;

    std::optional<QStringList> productNames(const QString& userName) override;
    std::optional<QStringList> rememberProductName(const QString& userName, const QString& name) override;
    std::optional<QStringList> rememberProductNames(const QString& userName, const QStringList& names) override;
    void writeProductNames(const QString& userName, const QStringList& names) override;
    // The file that keeps a user's product names.
    QString productsPath(const QString& userName) const;

    QList<CatalogueItem> catalogue(const QString& userName) override;
    void changeCatalogue(const QString& userName, const QList<CatalogueChange>& changes) override;

    QList<StoredAccount> accounts() override;
    QList<UserTotals> totalsByUser() override;
    void readLines(const QString& userName, const std::function<void(const QList<SalesLine>&)>& take) override;
    std::unique_ptr<LedgerImport> startImport(ImportMode mode, const std::function<void()>& whileLocked) override;

    // Mends summaries that differ from the lines (changed by another program, or damaged): both summary tables are
    // filled again from the lines in one transaction. Returns how many summary rows differed.
    qint64 repairSummaries();

private:
    class Session;
    class Import;
    // Whether the file keeps a record of changes (one of an older layout, held read-only, may not).
    static bool keepsChanges(Session& session);
    class Write;
    class CatalogueWrite;
    // Raises KivaroError when the file has no catalogue (one of an older layout that cannot be written).
    void requireCatalogue(Session& session);
    // The items put into the user's catalogue inside the session's write (a copy's).
    void putCatalogue(Session& session, const QString& userName, const QList<CatalogueItem>& items);
    // Whether the open file has its summaries: not yet known, kept up to date, or missing and left so.
    enum class TSummaries { Unknown, Kept, Missing };

    // Gives a file of the old layout its summaries, once per store; a file that refuses keeps working without.
    void prepareSummaries(Session& session);
    qint64 recordChange(Session& session, const QString& userName, const QString& computer, ChangeEntry::Kind kind,
        qint64 lineId, const QString& before, const QString& after, qint64 undoes);
    std::optional<SalesLine> readLine(Session& session, qint64 id, QString* userName);
    QList<DayCount> daysIn(Session& session, const SalesRange& range, bool fromSummaries = true);
    void insertLines(Session& session, const QString& userName, const QList<SalesLine>& lines, bool keepIds);

    LedgerLocation FLocation;
    QString FConnectionName;
    // Why the first start could not copy the template; empty when it did or had no need to.
    QString FCopyFailure;
    TSummaries FSummaries = TSummaries::Unknown;
    // The file keeps MonthProductSums besides (version 3), and the catalogue (version 4): an older one that could not
    // be upgraded does not.
    bool FMonthSums = false;
    bool FCatalogue = false;
};
