#pragma once

#include "db/SalesRows.h"

#include <QDate>
#include <QList>
#include <QString>

// What the sales chart shows of a range: 实收, 成本 and 利润 per period, and the products that took most.

// How the days of a range are grouped.
enum class ChartPeriod { Day, Week, Month };

// Up to 92 days by day, up to two years (731 days) by ISO week, longer ranges by month.
ChartPeriod chartPeriodFor(const QDate& first, const QDate& last);

// One period of the range, with the exact sums of its lines.
struct ChartPoint
{
    // The first day of the period: the day itself, the Monday of the week, the first of the month.
    QDate start;
    // "2024-03-05", "2024-12-30周", "2024-03".
    QString label;
    qint64 lines = 0;
    WideCents received = 0;
    WideCents cost = 0;

    WideCents profit() const { return received - cost; }
};

// Every period from the first to the last day of the range, those without lines at zero; none when no day holds
// lines. Days outside first … last widen the range; without a range the days' own span is taken.
struct SalesTrend
{
    ChartPeriod period = ChartPeriod::Day;
    QList<ChartPoint> points;
};
SalesTrend salesTrend(const QList<DayCount>& days, QDate first = {}, QDate last = {});

// A product's 实收 and its share of the whole range's 实收.
struct ChartShare
{
    QString productName;
    WideCents received = 0;
    // A fraction of total; 0 when the range took nothing or less (TopProducts::hasShares).
    double share = 0;
};

struct TopProducts
{
    // Most 实收 first; equal amounts keep the ranking's order.
    QList<ChartShare> top;
    // All products past the top, as one; its name is empty.
    ChartShare others;
    qint64 otherCount = 0;
    WideCents total = 0;

    bool hasShares() const { return total > 0; }
};
TopProducts topProductsByReceived(const QList<RankingRow>& ranking, int count = 10);
