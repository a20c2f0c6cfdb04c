#include "db/LedgerStore.h"

#include "db/Numbers.h"

namespace {

void appendSums(QStringList& list, const SalesSums& sums)
{
    list.append(QString::number(sums.quantity));
    list.append(formatCents(sums.received));
    list.append(formatCents(sums.cost));
    list.append(formatCents(sums.received - sums.cost));
}

} // namespace

void LedgerStore::queryReport(const SalesRange& range, QStringList& detail, QStringList& dailyTotals,
    QStringList& dailyProducts, QStringList& ranking)
{
    const QString dayFormat = QStringLiteral("yyyy-MM-dd");
    const QList<DayCount> days = queryDays(range);
    for (const DayCount& day : days) {
        const QString dayText = day.day.toString(dayFormat);
        dailyTotals.append(dayText);
        appendSums(dailyTotals, day.sums);
        for (const SalesLine& line : queryLineWindow(range, day.day, 0, int(day.lines))) {
            if (line.day != day.day)
                break;
            detail << QString::number(line.id) << dayText << line.productName << QString::number(line.quantity)
                   << formatCents(line.received) << formatCents(line.cost) << line.memo;
        }
        for (const DayProductRow& group : queryDayProductWindow(range, day.day, 0, int(day.rows))) {
            if (group.day != day.day)
                break;
            dailyProducts << dayText << group.productName;
            appendSums(dailyProducts, group.sums);
        }
    }
    for (const RankingRow& row : queryRanking(range)) {
        ranking.append(row.productName);
        appendSums(ranking, row.sums);
    }
}
