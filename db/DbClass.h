#pragma once

#include "app/Error.h"
#include "db/SalesRows.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// One sales line as the pages hand it over: day text, product name, quantity, amounts with a full stop as
// decimal separator, memo.
struct TSalesLine
{
    QString day;
    QString productName;
    QString quantity;
    QString received;
    QString cost;
    QString memo;
};

// An edit or delete found no line with its ID: another instance deleted it meanwhile.
class TRecordGone : public KivaroError
{
public:
    TRecordGone()
        : KivaroError(QStringLiteral("该记录已被删除或修改，请重新查看。"))
    {
    }
};

// Access to the database file db.sjk in the data folder. Every operation opens the file, runs its statements and
// closes it again; failures are raised as KivaroError with the engine's text.
class TDbMan
{
public:
    TDbMan();
    ~TDbMan();
    // The store in a given data folder. A connection belongs to the thread that made it: another thread makes its
    // own from dataDir().
    explicit TDbMan(const QString& dataDir);
    QString dataDir() const { return FDataDir; }

    // Shown while the store does long work of its own (giving an old file its summaries takes seconds for a
    // million lines): called with the text to show, it returns what to destroy when the work is done.
    static std::function<std::shared_ptr<void>(const QString& text)> longWorkNotice;
    TDbMan(const TDbMan&) = delete;
    TDbMan& operator=(const TDbMan&) = delete;

    QString databasePath() const { return FDataDir + QStringLiteral("/db.sjk"); }
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

    // Sales lines.
    void AddRecord(const QString& userName, const QString& day, const QString& productName, const QString& quantity,
        const QString& received, const QString& cost, const QString& memo);
    // Stores all lines or, when one fails, none of them.
    void AddRecords(const QString& userName, const QList<TSalesLine>& lines);
    // Both raise TRecordGone when no line has the ID.
    void UpdateRecord(const QString& id, const QString& day, const QString& productName, const QString& quantity,
        const QString& received, const QString& cost, const QString& memo);
    void DeleteRecord(const QString& id);

    // ---- Typed lines and the review views ----
    // Stores the lines (their id is not read) in one transaction: all of them or, when one fails, none.
    void AddLines(const QString& userName, const QList<SalesLine>& lines);
    // Rewrites the stored line line.id, or raises TRecordGone.
    void UpdateLine(const SalesLine& line);
    // Raises TRecordGone when no line has the id.
    void DeleteLine(qint64 id);

    // The days of the range that hold lines, in order: each day's number of lines, its number of rows in the view
    // per day and product (DayCount::rows), and its sums. Read from the summaries: a row a day, whatever the lines.
    QList<DayCount> QueryDays(const SalesRange& range);
    // Up to count lines of the range in the detail view's order (day, then ID), starting offset lines into day.
    QList<SalesLine> QueryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count);
    // Up to count rows per day and product in their view's order (day, then first sale), starting offset rows into
    // day.
    QList<DayProductRow> QueryDayProductWindow(const SalesRange& range, const QDate& day, qint64 offset, int count);
    // Products by quantity sold, most first; equal quantities in the order of their first sale.
    QList<RankingRow> QueryRanking(const SalesRange& range);
    // False when the file lacks its summaries and could not be given them (read-only): answers are the same, slower.
    bool HasSummaries();

    // The four review lists for a user and an inclusive range of days given as "yyyy/MM/dd".
    void QueryReport(const QString& userName, const QString& firstDay, const QString& lastDay, QStringList& detail,
        QStringList& dailyTotals, QStringList& dailyProducts, QStringList& ranking);
    // The four statements behind QueryReport; each binds the encoded user name, the first and the last day.
    static QStringList ReportStatements();

private:
    class Session;
    // Whether the open file has its summaries: not yet known, kept up to date, or missing and left so.
    enum class TSummaries { Unknown, Kept, Missing };

    // Gives a file of the old layout its summaries, once per TDbMan; a file that refuses keeps working without.
    void prepareSummaries(Session& session);

    QString FDataDir;
    QString FConnectionName;
    // Why the first start could not copy the template; empty when it did or had no need to.
    QString FCopyFailure;
    TSummaries FSummaries = TSummaries::Unknown;
};
