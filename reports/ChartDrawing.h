#pragma once

// The review page's two charts drawn on any painter, the same on screen, in a PNG and on paper: the trend of 实收,
// 成本 and 利润 over the periods, and the products that took most. What they draw is also given as data: the
// lines and bars the painter draws, and the tooltip under a point.

#include "reports/SalesChart.h"

#include <QFont>
#include <QList>
#include <QPen>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

namespace chart {

inline constexpr int kFontPixels = 12;
// The notes over a chart: a range with no sales, and a ranking still being counted.
extern const QString kEmptyNote;
extern const QString kPendingNote;

QFont font(int pixels = kFontPixels, bool bold = false);
// The time axis's title: 日, 周 or 月.
QString periodTitle(ChartPeriod period);

// One line of the trend: 实收, 成本 or 利润, each point at its period's index and its amount in yuan.
struct Line
{
    QString name;
    QPen pen;
    QList<QPointF> points;
};
QList<Line> trendLines(const SalesTrend& trend);

// The ranking's labels, rank first, the names cut to fit a chart of that width; its bars' amounts in yuan, from the
// first product down; the pen that outlines them; and where a product's bar lies in a ranking drawn in box.
QStringList rankingLabels(const TopProducts& top, qreal width);
QList<double> barValues(const TopProducts& top);
QPen barPen();
QRectF barRect(const TopProducts& top, const QRectF& box, qsizetype product);

void drawTrend(QPainter& painter, const QRectF& box, const SalesTrend& trend, const QString& note);
void drawRanking(QPainter& painter, const QRectF& box, const TopProducts& top, const QString& note);

// The tooltip at a point of a chart drawn in box: the period's sums, or the product's 实收 and share; empty off them.
QString trendTip(const SalesTrend& trend, const QRectF& box, const QPointF& at);
QString rankingTip(const TopProducts& top, const QRectF& box, const QPointF& at);

} // namespace chart
