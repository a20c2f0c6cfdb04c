#pragma once

#include "db/Numbers.h"

#include <QDate>
#include <QList>
#include <QString>
#include <utility>

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
    // Only the lines whose product name or memo contains this text (查找); every line when it is empty.
    QString find = {};
    friend bool operator==(const SalesRange&, const SalesRange&) = default;
};

// A text as 查找 compares it: the Latin capitals A to Z as small letters, everything else as it is (a Chinese
// character matches only itself). The same on every store, whatever the server's locale.
inline QString foldedForFind(const QString& text)
{
    QString folded = text;
    for (QChar& c : folded) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return folded;
}
// Whether the text holds what 查找 looks for, given folded.
inline bool foundIn(const QString& text, const QString& foldedFind)
{
    return foldedForFind(text).contains(foldedFind);
}

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

// A range of days cut into what the summaries hold: the days before the first whole month, the whole months up to
// the first whole year, the whole years, the whole months after them and the days after the last whole month. Each
// part is an inclusive range of its first days (a month's or a year's); a part the range does not have is two
// invalid dates. A ranking adds up each part from its own summaries.
struct RangeParts
{
    std::pair<QDate, QDate> daysBefore, monthsBefore, years, monthsAfter, daysAfter;
};
inline RangeParts rangeParts(const QDate& first, const QDate& last)
{
    RangeParts parts;
    const QDate firstMonth = first.day() == 1 ? first : QDate(first.year(), first.month(), 1).addMonths(1);
    const QDate lastMonth = last.addDays(1).day() == 1 ? QDate(last.year(), last.month(), 1)
                                                       : QDate(last.year(), last.month(), 1).addMonths(-1);
    if (!firstMonth.isValid() || !lastMonth.isValid() || lastMonth < firstMonth) {
        parts.daysBefore = { first, last };
        return parts;
    }
    if (first < firstMonth)
        parts.daysBefore = { first, firstMonth.addDays(-1) };
    if (lastMonth.addMonths(1).addDays(-1) < last)
        parts.daysAfter = { lastMonth.addMonths(1), last };
    const QDate firstYear = firstMonth.month() == 1 ? firstMonth : QDate(firstMonth.year() + 1, 1, 1);
    const QDate lastYear = lastMonth.month() == 12 ? QDate(lastMonth.year(), 1, 1) : QDate(lastMonth.year() - 1, 1, 1);
    if (lastYear < firstYear) {
        parts.monthsBefore = { firstMonth, lastMonth };
        return parts;
    }
    parts.years = { firstYear, lastYear };
    if (firstMonth < firstYear)
        parts.monthsBefore = { firstMonth, firstYear.addMonths(-1) };
    if (lastYear.addYears(1) <= lastMonth)
        parts.monthsAfter = { lastYear.addYears(1), lastMonth };
    return parts;
}

// How many rows a grouped or detail view has on one day of a range, and the day's sums.
struct DayCount
{
    QDate day;
    qint64 rows = 0;
    qint64 lines = 0;
    SalesSums sums;
};
