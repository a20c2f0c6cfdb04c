#pragma once

#include "db/SalesRows.h"
#include "reports/SalesChart.h"

#include <QImage>
#include <QPen>
#include <QWidget>

class QLabel;
class QPainter;

// The review page's sales chart ("销售趋势图"): 实收, 成本 and 利润 over the range by day, week or month, the ten
// products that took most with their shares, and the totals line. It never reads the store: the review page hands
// it the day rows and, when it has them, the ranking. Both charts are drawn here with QPainter, the same way on
// screen, in files and on paper.
class TChartPage : public QWidget
{
    Q_OBJECT

public:
    explicit TChartPage(QWidget* parent = nullptr);
    ~TChartPage() override;

    // The range is the span of the days that hold lines.
    void showRange(const QList<DayCount>& days, const QList<RankingRow>& ranking, const SalesTotals& totals);
    // Periods cover the whole range, those without lines at zero. An empty ranking for a range that holds lines
    // waits for setRanking.
    void showRange(const SalesRange& range, const QList<DayCount>& days, const QList<RankingRow>& ranking,
        const SalesTotals& totals);
    void setRanking(const QList<RankingRow>& ranking);
    bool rankingPending() const { return FRankingPending; }
    void clear();

    // Drawn above the charts by paint() and renderImage(), not on screen.
    void setTitle(const QString& title) { FTitle = title; }
    // Both charts and the totals line, laid out for the target at the painter's resolution.
    void paint(QPainter& painter, const QRect& target) const;
    QImage renderImage(const QSize& size) const;
    // Written whole or not at all; on failure error says why.
    // Raises KivaroError, naming the file and the reason, when the image could not be written.
    void exportPng(const QString& fileName, const QSize& size) const;

    const SalesTrend& trend() const { return FTrend; }
    const TopProducts& topProducts() const { return FTop; }

    // The note over each chart, empty when none is shown.
    QString trendNote() const;
    QString rankingNote() const;

private:
    class ChartView;
    void showToolTip(const ChartView* view, const QPoint& at) const;
    void drawChart(const ChartView* view, QPainter& painter) const;

    SalesTrend FTrend;
    TopProducts FTop;
    SalesTotals FTotals;
    bool FShowsRange = false;
    bool FRankingPending = false;
    QString FTitle;

    ChartView* ChartTrend = nullptr;
    ChartView* ChartRanking = nullptr;
    QLabel* LabelChartTotals = nullptr;
};
