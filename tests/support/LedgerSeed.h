#pragma once

// Lines put into a ledger, and the ledger read back as four lists, the way the program's own windows do it: a save
// keeps the lines and stores them with 完成, a report reads the review page's days, windows and ranking.

#include "db/DbClass.h"
#include "db/SalesRows.h"

#include <QList>
#include <QString>
#include <QStringList>

// One sales line as a page or a file hands it over: day text ("yyyy/MM/dd" or "yyyy-MM-dd"), amounts with a full
// stop as decimal separator.
struct TextLine
{
    QString day;
    QString productName;
    QString quantity;
    QString received;
    QString cost;
    QString memo;
};

// Stores the lines in one save (their id is not read): all of them or, when one fails, none; the kept lines the save
// went through are forgotten either way. On a server that goes away meanwhile the save waits in the outbox, as a
// till's does (SaveOutcome::SavedOffline).
SaveOutcome addLines(TDbMan& db, const QString& userName, const QList<SalesLine>& lines);
void addRecords(TDbMan& db, const QString& userName, const QList<TextLine>& lines);
void addRecord(TDbMan& db, const QString& userName, const QString& day, const QString& productName,
    const QString& quantity, const QString& received, const QString& cost, const QString& memo);

// The review page's four lists for an inclusive range of days given as "yyyy/MM/dd": detail (id, day, name,
// quantity, 实收, 成本, 备注 per line), the daily totals, the day-and-product rows and the ranking (each with quantity,
// 实收, 成本 and profit), every value as the page shows it.
void queryReport(TDbMan& db, const QString& userName, const QString& firstDay, const QString& lastDay,
    QStringList& detail, QStringList& dailyTotals, QStringList& dailyProducts, QStringList& ranking);

// The same four lists as plain statements on the lines, without summaries; each binds the encoded user name, the
// first and the last day ("yyyy-MM-dd").
QStringList reportStatements();

// Whether db reads its review from summaries: a file ledger at path that has them in a layout this program knows,
// once db has opened it; a server ledger always.
bool hasSummaries(TDbMan& db, const QString& path);

// The same on a ledger opened for the call alone.
inline SaveOutcome addLines(TDbMan&& db, const QString& userName, const QList<SalesLine>& lines)
{
    return addLines(db, userName, lines);
}
inline void addRecord(TDbMan&& db, const QString& userName, const QString& day, const QString& productName,
    const QString& quantity, const QString& received, const QString& cost, const QString& memo)
{
    addRecord(db, userName, day, productName, quantity, received, cost, memo);
}
inline void queryReport(TDbMan&& db, const QString& userName, const QString& firstDay, const QString& lastDay,
    QStringList& detail, QStringList& dailyTotals, QStringList& dailyProducts, QStringList& ranking)
{
    queryReport(db, userName, firstDay, lastDay, detail, dailyTotals, dailyProducts, ranking);
}
inline bool hasSummaries(TDbMan&& db, const QString& path)
{
    return hasSummaries(db, path);
}
