#pragma once

#include "app/Error.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

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

    // The four review lists for a user and an inclusive range of days given as "yyyy/MM/dd".
    void QueryReport(const QString& userName, const QString& firstDay, const QString& lastDay, QStringList& detail,
        QStringList& dailyTotals, QStringList& dailyProducts, QStringList& ranking);
    // The four statements behind QueryReport; each binds the encoded user name, the first and the last day.
    static QStringList ReportStatements();

private:
    class Session;

    QString FDataDir;
    QString FConnectionName;
    // Why the first start could not copy the template; empty when it did or had no need to.
    QString FCopyFailure;
};
