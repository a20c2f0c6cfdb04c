#include "reports/SalesChart.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

constexpr qint64 kDaysByDay = 92;
constexpr qint64 kDaysByWeek = 731;

QDate periodStart(const QDate& day, ChartPeriod period)
{
    switch (period) {
    case ChartPeriod::Day:
        return day;
    case ChartPeriod::Week:
        return day.addDays(1 - day.dayOfWeek());
    case ChartPeriod::Month:
        return QDate(day.year(), day.month(), 1);
    }
    return day;
}

QDate nextStart(const QDate& start, ChartPeriod period)
{
    switch (period) {
    case ChartPeriod::Day:
        return start.addDays(1);
    case ChartPeriod::Week:
        return start.addDays(7);
    case ChartPeriod::Month:
        return start.addMonths(1);
    }
    return start.addDays(1);
}

QString periodLabel(const QDate& start, ChartPeriod period)
{
    switch (period) {
    case ChartPeriod::Day:
        return start.toString(QStringLiteral("yyyy-MM-dd"));
    case ChartPeriod::Week:
        return start.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("周");
    case ChartPeriod::Month:
        return start.toString(QStringLiteral("yyyy-MM"));
    }
    return {};
}

// Where a day's period is in a list of periods that begins with the period starting at origin.
qint64 periodIndex(const QDate& origin, const QDate& day, ChartPeriod period)
{
    switch (period) {
    case ChartPeriod::Day:
        return origin.daysTo(day);
    case ChartPeriod::Week:
        return origin.daysTo(periodStart(day, period)) / 7;
    case ChartPeriod::Month:
        return (day.year() - origin.year()) * 12 + day.month() - origin.month();
    }
    return 0;
}

} // namespace

ChartPeriod chartPeriodFor(const QDate& first, const QDate& last)
{
    const qint64 days = first.daysTo(last) + 1;
    if (days <= kDaysByDay)
        return ChartPeriod::Day;
    return days <= kDaysByWeek ? ChartPeriod::Week : ChartPeriod::Month;
}

SalesTrend salesTrend(const QList<DayCount>& days, QDate first, QDate last)
{
    for (const DayCount& day : days) {
        if (!first.isValid() || day.day < first)
            first = day.day;
        if (!last.isValid() || day.day > last)
            last = day.day;
    }
    SalesTrend trend;
    if (first.isValid() && last.isValid())
        trend.period = chartPeriodFor(first, last);
    if (days.isEmpty())
        return trend;
    const QDate origin = periodStart(first, trend.period);
    for (QDate start = origin; start <= last; start = nextStart(start, trend.period))
        trend.points.append({ start, periodLabel(start, trend.period) });
    for (const DayCount& day : days) {
        ChartPoint& point = trend.points[periodIndex(origin, day.day, trend.period)];
        point.lines += day.lines;
        point.received += day.sums.received;
        point.cost += day.sums.cost;
    }
    return trend;
}

TopProducts topProductsByReceived(const QList<RankingRow>& ranking, int count)
{
    TopProducts result;
    for (const RankingRow& row : ranking)
        result.total += row.sums.received;
    std::vector<qsizetype> order(size_t(ranking.size()));
    std::iota(order.begin(), order.end(), 0);
    const auto shown = order.begin() + std::clamp<qsizetype>(count, 0, ranking.size());
    // The position in the ranking breaks ties, which keeps a partial sort as stable as a full one.
    std::partial_sort(order.begin(), shown, order.end(), [&ranking](qsizetype a, qsizetype b) {
        const qint64 left = ranking.at(a).sums.received;
        const qint64 right = ranking.at(b).sums.received;
        return left != right ? left > right : a < b;
    });
    const auto shareOf
        = [&result](WideCents received) { return result.hasShares() ? double(received) / double(result.total) : 0.0; };
    WideCents shownSum = 0;
    for (auto it = order.begin(); it != shown; ++it) {
        const RankingRow& row = ranking.at(*it);
        result.top.append({ row.productName, row.sums.received, shareOf(row.sums.received) });
        shownSum += row.sums.received;
    }
    result.otherCount = ranking.size() - result.top.size();
    result.others.received = result.total - shownSum;
    result.others.share = shareOf(result.others.received);
    return result;
}
