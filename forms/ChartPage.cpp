#include "forms/ChartPage.h"

#include "base/SafeFile.h"

#include "db/Numbers.h"
#include "forms/FormUtil.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCursor>
#include <QDir>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QHorizontalBarSeries>
#include <QImageWriter>
#include <QLineSeries>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QToolTip>
#include <QValueAxis>
#include <array>

namespace {

// The header's blue, the colour of 实收.
const QColor kMainColour(57, 173, 222);
const QColor kTotalsColour(128, 0, 0);
constexpr int kFontPixels = 12;
// Width of a tick label on the time axis with its gap.
constexpr int kTickSpacing = 120;
// More points than this make markers a blur.
constexpr qsizetype kMarkedPoints = 40;
const QString kEmptyNote = QStringLiteral("所选日期内没有销售记录");
const QString kPendingNote = QStringLiteral("正在统计产品排行…");

QFont chartFont(int pixels = kFontPixels, bool bold = false)
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

double yuan(WideCents cents)
{
    return double(cents) / 100.0;
}

QString money(WideCents cents)
{
    return formatWideCents(cents, localeDecimalSeparator());
}

QString percent(double share)
{
    return QString::number(share * 100, 'f', 1).replace(QLatin1Char('.'), localeDecimalSeparator()) + QLatin1Char('%');
}

// Cut at a character boundary so that the text and "…" fit the width; line breaks become spaces.
QString elided(const QString& text, const QFontMetrics& metrics, int width)
{
    const QString flat = text.simplified();
    if (metrics.horizontalAdvance(flat) <= width)
        return flat;
    const QString ellipsis = QStringLiteral("…");
    QList<qsizetype> cuts { 0 };
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, flat);
    for (qsizetype at = graphemes.toNextBoundary(); at > 0 && at < flat.size(); at = graphemes.toNextBoundary())
        cuts.append(at);
    qsizetype low = 0;
    qsizetype high = cuts.size() - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (metrics.horizontalAdvance(flat.left(cuts.at(middle)) + ellipsis) <= width)
            low = middle;
        else
            high = middle - 1;
    }
    return flat.left(cuts.at(low)) + ellipsis;
}

// Qt Charts reads axis labels as markup; product names are shown as typed.
QString literal(const QString& text)
{
    return text.toHtmlEscaped();
}

QChart* makeChart()
{
    auto* chart = new QChart;
    chart->setBackgroundRoundness(0);
    chart->setBackgroundBrush(Qt::white);
    chart->setBackgroundPen(Qt::NoPen);
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setTitleFont(chartFont(kFontPixels, true));
    chart->setTitleBrush(Qt::black);
    chart->legend()->setFont(chartFont());
    chart->legend()->setLabelColor(Qt::black);
    return chart;
}

template <typename Axis> Axis* addAxis(QChart* chart, Qt::Alignment alignment, const QString& title)
{
    auto* axis = new Axis;
    axis->setTitleText(title);
    axis->setTitleFont(chartFont());
    axis->setLabelsFont(chartFont());
    axis->setLabelsColor(Qt::black);
    axis->setTitleBrush(Qt::black);
    axis->setLinePenColor(Qt::black);
    axis->setGridLineColor(QColor(215, 215, 215));
    chart->addAxis(axis, alignment);
    return axis;
}

// An amount axis that always shows zero, with room past the highest value when asked.
void setAmountRange(QValueAxis* axis, double low, double high, double headroom = 0)
{
    low = std::min(low, 0.0);
    high = std::max(high, 0.0);
    if (high <= low)
        high = low + 1;
    axis->setTickCount(5);
    axis->setRange(low, high + (high - low) * headroom);
    axis->applyNiceNumbers();
}

QGraphicsSimpleTextItem* makeNote(QChart* chart, const QString& text)
{
    auto* note = new QGraphicsSimpleTextItem(text, chart);
    note->setFont(chartFont(kFontPixels + 2));
    note->setBrush(Qt::black);
    note->setZValue(10);
    note->setVisible(false);
    return note;
}

void centreNote(QGraphicsSimpleTextItem* note, const QRectF& plotArea)
{
    QRectF box = note->boundingRect();
    box.moveCenter(plotArea.center());
    note->setPos(box.topLeft());
}

QString periodTitle(ChartPeriod period)
{
    switch (period) {
    case ChartPeriod::Day:
        return QStringLiteral("日");
    case ChartPeriod::Week:
        return QStringLiteral("周");
    case ChartPeriod::Month:
        return QStringLiteral("月");
    }
    return {};
}

struct LineSpec
{
    QString name;
    QColor colour;
    Qt::PenStyle style;
    qreal width;
    WideCents (*value)(const ChartPoint&);
};

// Told apart on paper in black and white by their strokes.
const std::array<LineSpec, 3>& lineSpecs()
{
    static const std::array<LineSpec, 3> specs { {
        { QStringLiteral("实收"), kMainColour, Qt::SolidLine, 2.5, [](const ChartPoint& p) { return p.received; } },
        { QStringLiteral("成本"), QColor(90, 90, 90), Qt::DashLine, 2, [](const ChartPoint& p) { return p.cost; } },
        { QStringLiteral("利润"), QColor(10, 60, 110), Qt::DotLine, 2, [](const ChartPoint& p) { return p.profit(); } },
    } };
    return specs;
}

} // namespace

struct TChartPage::TrendChart
{
    QChart* chart = makeChart();
    QCategoryAxis* time = addAxis<QCategoryAxis>(chart, Qt::AlignBottom, periodTitle(ChartPeriod::Day));
    QValueAxis* amounts = addAxis<QValueAxis>(chart, Qt::AlignLeft, QStringLiteral("金额（元）"));
    QList<QLineSeries*> lines;
    QGraphicsSimpleTextItem* note = makeNote(chart, kEmptyNote);

    TrendChart()
    {
        time->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        amounts->setLabelFormat(QStringLiteral("%.10g"));
        for (const LineSpec& spec : lineSpecs()) {
            auto* series = new QLineSeries;
            series->setName(spec.name);
            QPen pen(spec.colour, spec.width, spec.style);
            pen.setCapStyle(Qt::FlatCap);
            series->setPen(pen);
            chart->addSeries(series);
            series->attachAxis(time);
            series->attachAxis(amounts);
            lines.append(series);
        }
        chart->legend()->setAlignment(Qt::AlignTop);
        chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
        QObject::connect(chart, &QChart::plotAreaChanged, chart, [this] { place(); });
    }

    void fill(const SalesTrend& trend, qreal width, bool noteShown)
    {
        double low = 0;
        double high = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QList<QPointF> points;
            points.reserve(trend.points.size());
            for (const ChartPoint& point : trend.points) {
                points.append(QPointF(qreal(points.size()), yuan(lineSpecs().at(i).value(point))));
                low = std::min(low, points.last().y());
                high = std::max(high, points.last().y());
            }
            lines.at(i)->replace(points);
            lines.at(i)->setPointsVisible(points.size() <= kMarkedPoints);
        }
        fillTime(trend, width);
        setAmountRange(amounts, low, high);
        note->setVisible(noteShown);
        place();
    }

    // Every period has a place; a label is put on as many as the width holds, evenly.
    void fillTime(const SalesTrend& trend, qreal width)
    {
        for (const QString& label : time->categoriesLabels())
            time->remove(label);
        time->setTitleText(periodTitle(trend.period));
        const qsizetype count = trend.points.size();
        time->setStartValue(-0.5);
        time->setRange(-0.5, qreal(std::max<qsizetype>(count, 1)) - 0.5);
        const qsizetype labels = std::max<qsizetype>(2, qsizetype(width) / kTickSpacing);
        const qsizetype step = std::max<qsizetype>(1, (count + labels - 1) / labels);
        const bool week = trend.period == ChartPeriod::Week;
        for (qsizetype i = 0; i < count; i += step) {
            const ChartPoint& point = trend.points.at(i);
            time->append(week ? point.start.toString(QStringLiteral("yyyy-MM-dd")) : point.label, qreal(i));
        }
        // An axis without categories is not drawn at all.
        if (count == 0)
            time->append(QStringLiteral(" "), 0);
    }

    void place() { centreNote(note, chart->plotArea()); }
};

struct TChartPage::RankingChart
{
    QChart* chart = makeChart();
    QBarCategoryAxis* names = addAxis<QBarCategoryAxis>(chart, Qt::AlignLeft, QString());
    QValueAxis* amounts = addAxis<QValueAxis>(chart, Qt::AlignBottom, QStringLiteral("实收（元）"));
    QHorizontalBarSeries* series = new QHorizontalBarSeries;
    QBarSet* bars = new QBarSet(QStringLiteral("实收"));
    // Each product's share, at the end of its bar.
    QList<QGraphicsSimpleTextItem*> shares;
    QGraphicsSimpleTextItem* note = makeNote(chart, kPendingNote);

    RankingChart()
    {
        chart->legend()->setVisible(false);
        names->setGridLineVisible(false);
        amounts->setLabelFormat(QStringLiteral("%.10g"));
        // Filled and outlined, so that bars stay bars on a black-and-white page.
        bars->setBrush(kMainColour);
        bars->setPen(QPen(Qt::black, 1));
        series->setBarWidth(0.7);
        series->append(bars);
        chart->addSeries(series);
        series->attachAxis(names);
        series->attachAxis(amounts);
        QObject::connect(chart, &QChart::plotAreaChanged, chart, [this] { place(); });
    }

    void fill(const TopProducts& top, qreal width, bool pending)
    {
        chart->setTitle(literal(rankingTitle(top)));
        qDeleteAll(shares);
        shares.clear();
        QList<qreal> values;
        // The first product is the top bar; bars run bottom up.
        for (qsizetype i = top.top.size() - 1; i >= 0; --i) {
            values.append(yuan(top.top.at(i).received));
            if (top.hasShares()) {
                shares.append(new QGraphicsSimpleTextItem(percent(top.top.at(i).share), chart));
                shares.last()->setFont(chartFont(kFontPixels - 1));
                shares.last()->setBrush(Qt::black);
            }
        }
        bars->remove(0, bars->count());
        bars->append(values);
        names->clear();
        names->append(labels(top, width));
        setAmountRange(amounts, values.isEmpty() ? 0 : *std::min_element(values.begin(), values.end()),
            values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end()), top.hasShares() ? 0.25 : 0);
        amounts->setTickCount(3);
        note->setVisible(pending);
        place();
    }

    static QString rankingTitle(const TopProducts& top)
    {
        const QString title = QStringLiteral("实收前十的产品");
        if (top.otherCount == 0 || !top.hasShares())
            return title;
        return title + QStringLiteral("（其余%1种占%2）").arg(top.otherCount).arg(percent(top.others.share));
    }

    // Rank first keeps the labels distinct, as the axis needs, whatever the names are cut to. The axis takes at most
    // 40 % of the chart's width.
    static QStringList labels(const TopProducts& top, qreal width)
    {
        const QFontMetrics metrics(chartFont());
        const int nameWidth = std::max(24, int(width * 0.4) - 16 - metrics.horizontalAdvance(QStringLiteral("10 ")));
        QStringList labels;
        for (qsizetype i = top.top.size() - 1; i >= 0; --i)
            labels.append(literal(
                QString::number(i + 1) + QLatin1Char(' ') + elided(top.top.at(i).productName, metrics, nameWidth)));
        return labels;
    }

    void place()
    {
        centreNote(note, chart->plotArea());
        for (qsizetype i = 0; i < shares.size(); ++i) {
            const QPointF end = chart->mapToPosition(QPointF(std::max(bars->at(int(i)), 0.0), qreal(i)), series);
            shares.at(i)->setPos(end.x() + 4, end.y() - shares.at(i)->boundingRect().height() / 2);
        }
    }
};

namespace {

QChartView* makeChartView(QWidget* parent, const char* name, const QRect& geometry, QChart* chart)
{
    auto* view = new QChartView(chart, parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setGeometry(geometry);
    view->setRenderHint(QPainter::Antialiasing);
    view->setFrameShape(QFrame::NoFrame);
    view->setFocusPolicy(Qt::NoFocus);
    return view;
}

} // namespace

TChartPage::TChartPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Panel8"));
    // Where the review page shows its lists, white like them.
    setGeometry(0, 41, 692, 417);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setupCharts();
    clear();
}

TChartPage::~TChartPage()
{
    // The charts go with their views, before the parts that point into them.
    delete ChartTrend;
    delete ChartRanking;
}

void TChartPage::setupCharts()
{
    FTrendChart = std::make_unique<TrendChart>();
    FRankingChart = std::make_unique<RankingChart>();
    ChartTrend = makeChartView(this, "ChartTrend", QRect(8, 0, 384, 373), FTrendChart->chart);
    ChartRanking = makeChartView(this, "ChartRanking", QRect(396, 0, 288, 373), FRankingChart->chart);
    for (QLineSeries* series : FTrendChart->lines)
        connect(series, &QLineSeries::hovered, this, &TChartPage::showPointToolTip);
    connect(FRankingChart->bars, &QBarSet::hovered, this, &TChartPage::showBarToolTip);
    LabelChartTotals = makeLabel(this, "LabelChartTotals", QStringLiteral("#"), 8, 385);
    QPalette palette = LabelChartTotals->palette();
    palette.setColor(QPalette::WindowText, kTotalsColour);
    LabelChartTotals->setPalette(palette);
}

void TChartPage::showRange(const QList<DayCount>& days, const QList<RankingRow>& ranking, const SalesTotals& totals)
{
    showRange(SalesRange {}, days, ranking, totals);
}

void TChartPage::showRange(
    const SalesRange& range, const QList<DayCount>& days, const QList<RankingRow>& ranking, const SalesTotals& totals)
{
    FShowsRange = true;
    FTrend = salesTrend(days, range.first, range.last);
    FTop = topProductsByReceived(ranking);
    FRankingPending = ranking.isEmpty() && !days.isEmpty();
    FTotals = totals;
    setSizedText(LabelChartTotals, totals.text());
    showTrend();
    showTop();
}

void TChartPage::setRanking(const QList<RankingRow>& ranking)
{
    FTop = topProductsByReceived(ranking);
    FRankingPending = false;
    showTop();
}

void TChartPage::clear()
{
    FShowsRange = false;
    FRankingPending = false;
    FTrend = {};
    FTop = {};
    FTotals = {};
    setSizedText(LabelChartTotals, FTotals.text());
    showTrend();
    showTop();
}

void TChartPage::showTrend()
{
    FTrendChart->fill(FTrend, ChartTrend->width(), FShowsRange && FTrend.points.isEmpty());
}

void TChartPage::showTop()
{
    FRankingChart->fill(FTop, ChartRanking->width(), FRankingPending);
}

void TChartPage::showPointToolTip(const QPointF& at, bool hovered)
{
    const qsizetype index = qRound(at.x());
    if (!hovered || index < 0 || index >= FTrend.points.size())
        return QToolTip::hideText();
    const ChartPoint& point = FTrend.points.at(index);
    const QString text = QStringLiteral("%1\n实收：%2\n成本：%3\n利润：%4")
                             .arg(point.label, money(point.received), money(point.cost), money(point.profit()));
    QToolTip::showText(QCursor::pos(), Qt::convertFromPlainText(text), ChartTrend);
}

void TChartPage::showBarToolTip(bool hovered, int index)
{
    // Bars run bottom up; the first product is the last bar.
    const qsizetype product = FTop.top.size() - 1 - index;
    if (!hovered || product < 0 || product >= FTop.top.size())
        return QToolTip::hideText();
    const ChartShare& shown = FTop.top.at(product);
    QString text = shown.productName + QStringLiteral("\n实收：") + money(shown.received);
    if (FTop.hasShares())
        text += QStringLiteral("  占") + percent(shown.share);
    QToolTip::showText(QCursor::pos(), Qt::convertFromPlainText(text), ChartRanking);
}

void TChartPage::paint(QPainter& painter, const QRect& target) const
{
    // Laid out in units of 1/96 inch, so that fonts keep their size on paper, and scaled to the device.
    const double dpi = painter.device() ? painter.device()->logicalDpiX() : 96.0;
    const QSizeF size = QSizeF(target.size()) * (96.0 / dpi);
    // The parts point into charts that the scene owns: the scene goes first.
    TrendChart trend;
    RankingChart ranking;
    QGraphicsScene scene(QRectF(QPointF(0, 0), size));
    qreal top = 0;
    if (!FTitle.isEmpty()) {
        QGraphicsSimpleTextItem* title = scene.addSimpleText(FTitle, chartFont(kFontPixels + 4, true));
        top = title->boundingRect().height() + 8;
    }
    QGraphicsSimpleTextItem* totals = scene.addSimpleText(FTotals.text(), chartFont());
    const qreal totalsHeight = totals->boundingRect().height();
    totals->setPos(0, size.height() - totalsHeight);
    const QRectF charts(0, top, size.width(), size.height() - top - totalsHeight - 6);
    // A tall target puts the ranking under the trend, a wide one beside it.
    const bool stacked = charts.width() < charts.height() * 1.2;
    QRectF trendBox = charts;
    QRectF rankingBox = charts;
    if (stacked) {
        trendBox.setHeight(charts.height() * 0.55);
        rankingBox.setTop(trendBox.bottom() + 8);
    } else {
        trendBox.setWidth(charts.width() * 0.58);
        rankingBox.setLeft(trendBox.right() + 8);
    }
    trend.fill(FTrend, trendBox.width(), FShowsRange && FTrend.points.isEmpty());
    ranking.fill(FTop, rankingBox.width(), FRankingPending);
    scene.addItem(trend.chart);
    scene.addItem(ranking.chart);
    trend.chart->setGeometry(trendBox);
    ranking.chart->setGeometry(rankingBox);
    trend.place();
    ranking.place();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(target), scene.sceneRect(), Qt::IgnoreAspectRatio);
    painter.restore();
}

QImage TChartPage::renderImage(const QSize& size) const
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint(painter, QRect(QPoint(0, 0), size));
    return image;
}

bool TChartPage::exportPng(const QString& fileName, const QSize& size, QString* error) const
{
    QString reason;
    try {
        SafeFile file(fileName);
        QImageWriter writer(&file.device(), "png");
        if (!writer.write(renderImage(size)))
            throw file.failure(writer.errorString());
        file.commit();
        return true;
    } catch (const KivaroError& failed) {
        reason = failed.text();
    }
    if (error)
        *error = reason;
    return false;
}
