#pragma once

#include "db/SalesRows.h"

#include <QList>
#include <QString>
#include <optional>

// Comparing a range with an earlier one: the daily and ranking views can show, beside each row, the same row of the
// same-length period just before the range or of the same days a year earlier, and the change in percent.

enum class Comparison { None, PeriodBefore, YearEarlier };

// "上期" or "去年", the captions' prefix of the earlier period's columns.
QString comparisonPrefix(Comparison kind);

// The earlier period: as many days just before the range, or the range's days a year earlier (29 February as the
// 28th). Days before 1 January of year 1 are left out; nothing when none is left, or for Comparison::None.
std::optional<SalesRange> comparedRange(const SalesRange& range, Comparison kind);

// A row of a compared view: a day (daily view) or a product (ranking), its sums in the range and in the earlier
// period. A daily row's earlier day is comparedDay(day).
struct ComparedRow
{
    QDate day;
    QString productName;
    SalesSums now;
    SalesSums before;
    friend bool operator==(const ComparedRow&, const ComparedRow&) = default;
};

// The day of the earlier period that a day of the range is compared with.
QDate comparedDay(const QDate& day, const SalesRange& range, Comparison kind);

// A row for every day that has lines in the range or whose earlier day has, in the order of the days. Every earlier
// day lands on exactly one row, so the earlier column adds up to the earlier period: a leap day a year earlier
// is counted on the 28th.
QList<ComparedRow> compareDays(
    const SalesRange& range, Comparison kind, const QList<DayCount>& now, const QList<DayCount>& before);

// The ranking's products in its order, then those sold only in the earlier period, in the earlier ranking's order.
QList<ComparedRow> compareRankings(const QList<RankingRow>& now, const QList<RankingRow>& before);

// The change from before to now in tenths of a percent of before's size, rounded half away from zero; nothing
// when before is zero.
std::optional<WideCents> changeTenths(WideCents now, WideCents before);
// "+12.5%", "-3.0%", "0.0%", or empty for no change to tell.
QString changeText(const std::optional<WideCents>& tenths, QChar decimalSeparator = QLatin1Char('.'));

// The two totals lines of a compared view: the range's, as any view has it, then the earlier period's dates,
// quantity, 实收 and profit, each with its change, e.g.
// "上期 2024-01-01 至 2024-01-31：数量 8（+25.0%）  实收 90.00（+11.1%）  利润 30.00（+33.3%）".
QString comparedTotalsText(
    Comparison kind, const SalesRange& earlier, const SalesTotals& now, const SalesTotals& before);
