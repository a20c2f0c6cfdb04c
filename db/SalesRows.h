#pragma once

#include "db/Numbers.h"

#include <QDate>
#include <QList>
#include <QString>

// The values that travel from the store to the screen, the printed pages and the files. Amounts are cents.

// One stored or pending sales line.
struct SalesLine
{
    qint64 id = 0;
    QDate day;
    QString productName;
    qint32 quantity = 0;
    qint64 received = 0;
    qint64 cost = 0;
    QString memo;

    friend bool operator==(const SalesLine&, const SalesLine&) = default;
};

// The sums of a group of lines. The store adds them with overflow checks; a group beyond 64 bits is an error.
struct SalesSums
{
    qint64 quantity = 0;
    qint64 received = 0;
    qint64 cost = 0;

    friend bool operator==(const SalesSums&, const SalesSums&) = default;
};

// A row of "每天销售数量金额统计".
struct DayRow
{
    QDate day;
    SalesSums sums;
    friend bool operator==(const DayRow&, const DayRow&) = default;
};

// A row of "每天各个产品销量统计".
struct DayProductRow
{
    QDate day;
    QString productName;
    SalesSums sums;
    friend bool operator==(const DayProductRow&, const DayProductRow&) = default;
};

// A row of "各个产品销售数量排行".
struct RankingRow
{
    QString productName;
    SalesSums sums;
    friend bool operator==(const RankingRow&, const RankingRow&) = default;
};

// A totals line: the exact sums of any number of lines.
struct SalesTotals
{
    qint64 lines = 0;
    qint64 quantity = 0;
    WideCents received = 0;
    WideCents cost = 0;

    void add(const SalesSums& sums, qint64 count = 1)
    {
        lines += count;
        quantity += sums.quantity;
        received += sums.received;
        cost += sums.cost;
    }
    void add(const SalesLine& line) { add(SalesSums { line.quantity, line.received, line.cost }); }
    // Widened before the sign changes: the smallest quantity has no 32-bit negative.
    void remove(const SalesLine& line) { add(SalesSums { -qint64(line.quantity), -line.received, -line.cost }, -1); }
    // "数量：…  实收：…  成本：…  利润：…" in the user's number format.
    QString text() const { return totalsLine(quantity, received, cost); }
    friend bool operator==(const SalesTotals&, const SalesTotals&) = default;
};

// One user's lines over an inclusive range of days.
struct SalesRange
{
    QString userName;
    QDate first;
    QDate last;
    // Every account's lines together: the whole shop, which a server ledger's owner may review.
    bool shop = false;
};

// The names of the owner's two ranges besides the accounts: the whole shop's lines and the owner's own.
inline QString shopRangeName()
{
    return QStringLiteral("全店");
}
inline QString ownRangeName()
{
    return QStringLiteral("我的");
}

// Whose lines a range holds, as the views, pages and files name it.
inline QString rangeOwnerName(const SalesRange& range)
{
    return range.shop ? shopRangeName() : range.userName;
}

// The whole months within a range of days: the first day of the first whole month and of the last; both invalid
// when the range holds no whole month.
struct MonthSpan
{
    QDate first;
    QDate last;
};
inline MonthSpan wholeMonths(const QDate& first, const QDate& last)
{
    const QDate from = first.day() == 1 ? first : QDate(first.year(), first.month(), 1).addMonths(1);
    const QDate lastMonth(last.year(), last.month(), 1);
    const QDate to = last == lastMonth.addMonths(1).addDays(-1) ? lastMonth : lastMonth.addMonths(-1);
    if (!from.isValid() || !to.isValid() || to < from)
        return {};
    return { from, to };
}

// How many rows a grouped or detail view has on one day of a range, and the day's sums.
struct DayCount
{
    QDate day;
    qint64 rows = 0;
    qint64 lines = 0;
    SalesSums sums;
};
