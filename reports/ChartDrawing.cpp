#include "reports/ChartDrawing.h"

#include "db/Numbers.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>
#include <QTextBoundaryFinder>
#include <array>
#include <cmath>

namespace {

// The header's blue, the colour of 实收.
const QColor kMainColour(57, 173, 222);
// Width of a tick label on the time axis with its gap.
constexpr int kTickSpacing = 120;
// More points than this make markers a blur.
constexpr qsizetype kMarkedPoints = 40;

QFont chartFontOf(int pixels, bool bold)
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

// An amount axis: from low to high in steps of step, zero always on it.
struct Scale
{
    double low = 0;
    double high = 1;
    double step = 1;

    int ticks() const { return int(std::lround((high - low) / step)) + 1; }
    double tick(int i) const { return low + step * i; }
};

// Round steps of 1, 2, 2.5 or 5 times a power of ten, with room past the highest value when asked.
Scale niceScale(double low, double high, int ticks, double headroom = 0)
{
    low = std::min(low, 0.0);
    high = std::max(high, 0.0);
    if (high <= low)
        high = low + 1;
    high += (high - low) * headroom;
    const double rough = (high - low) / std::max(1, ticks - 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    const double norm = rough / magnitude;
    const double step = (norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 2.5 ? 2.5 : norm <= 5 ? 5 : 10) * magnitude;
    return { std::floor(low / step) * step, std::ceil(high / step) * step, step };
}

QString amountLabel(double yuan)
{
    return QString::number(yuan, 'g', 10).replace(QLatin1Char('.'), localeDecimalSeparator());
}

QString periodName(ChartPeriod period)
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

QPen linePen(const LineSpec& spec)
{
    QPen pen(spec.colour, spec.width, spec.style);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

const QColor kGridColour(215, 215, 215);

// The plot area of a chart in its box, and where an amount and a place along the other axis are in it.
struct Plot
{
    QRectF area;
    Scale amounts;
    qsizetype places = 1;
    // Amounts run up (the trend) or to the right (the ranking).
    bool upright = true;

    qreal amountAt(double yuan) const
    {
        const double fraction = (yuan - amounts.low) / (amounts.high - amounts.low);
        return upright ? area.bottom() - fraction * area.height() : area.left() + fraction * area.width();
    }
    // The middle of the place's slot: periods left to right, products top down.
    qreal placeAt(qreal index) const
    {
        const qreal fraction = (index + 0.5) / qreal(std::max<qsizetype>(places, 1));
        return upright ? area.left() + fraction * area.width() : area.top() + fraction * area.height();
    }
    qreal slot() const { return (upright ? area.width() : area.height()) / qreal(std::max<qsizetype>(places, 1)); }
};

// The amounts, the grid across the plot and the axis lines through zero and along the other side.
void drawAmountAxis(QPainter& painter, const Plot& plot, const QString& title)
{
    const QFontMetricsF metrics(chartFontOf(chart::kFontPixels, false));
    painter.setFont(chartFontOf(chart::kFontPixels, false));
    for (int i = 0; i < plot.amounts.ticks(); ++i) {
        const double value = plot.amounts.tick(i);
        const qreal at = plot.amountAt(value);
        painter.setPen(QPen(kGridColour, 1));
        const QString label = amountLabel(value);
        if (plot.upright) {
            painter.drawLine(QPointF(plot.area.left(), at), QPointF(plot.area.right(), at));
            painter.setPen(Qt::black);
            const QRectF box(plot.area.left() - 4 - metrics.horizontalAdvance(label), at - metrics.height() / 2,
                metrics.horizontalAdvance(label), metrics.height());
            painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, label);
        } else {
            painter.drawLine(QPointF(at, plot.area.top()), QPointF(at, plot.area.bottom()));
            painter.setPen(Qt::black);
            const qreal width = metrics.horizontalAdvance(label);
            painter.drawText(
                QRectF(at - width / 2, plot.area.bottom() + 3, width, metrics.height()), Qt::AlignCenter, label);
        }
    }
    painter.setPen(QPen(Qt::black, 1));
    painter.drawLine(plot.area.bottomLeft(), plot.area.bottomRight());
    painter.drawLine(plot.area.bottomLeft(), plot.area.topLeft());
    if (plot.upright) {
        painter.save();
        painter.translate(plot.area.left(), plot.area.center().y());
        painter.rotate(-90);
        const qreal room = plot.area.left();
        painter.drawText(
            QRectF(-plot.area.height() / 2, -room, plot.area.height(), metrics.height()), Qt::AlignCenter, title);
        painter.restore();
    } else {
        painter.drawText(
            QRectF(plot.area.left(), plot.area.bottom() + 3 + metrics.height(), plot.area.width(), metrics.height()),
            Qt::AlignCenter, title);
    }
}

void drawNote(QPainter& painter, const QRectF& area, const QString& note)
{
    if (note.isEmpty())
        return;
    painter.setFont(chartFontOf(chart::kFontPixels + 2, false));
    painter.setPen(Qt::black);
    painter.drawText(area, Qt::AlignCenter, note);
}

// The trend: legend at the top, amounts on the left, periods along the bottom.
Plot trendPlot(const SalesTrend& trend, const QRectF& box)
{
    double low = 0;
    double high = 0;
    for (const chart::Line& line : chart::trendLines(trend)) {
        for (const QPointF& point : line.points) {
            low = std::min(low, point.y());
            high = std::max(high, point.y());
        }
    }
    Plot plot;
    plot.amounts = niceScale(low, high, 5);
    plot.places = trend.points.size();
    const QFontMetricsF metrics(chartFontOf(chart::kFontPixels, false));
    qreal labels = 0;
    for (int i = 0; i < plot.amounts.ticks(); ++i)
        labels = std::max(labels, metrics.horizontalAdvance(amountLabel(plot.amounts.tick(i))));
    plot.area = QRectF(QPointF(box.left() + metrics.height() + 8 + labels, box.top() + metrics.height() + 10),
        QPointF(box.right() - 10, box.bottom() - 2 * metrics.height() - 8));
    return plot;
}

void trendChart(QPainter& painter, const QRectF& box, const SalesTrend& trend, const QString& note)
{
    const Plot plot = trendPlot(trend, box);
    const QFontMetricsF metrics(chartFontOf(chart::kFontPixels, false));
    painter.setFont(chartFontOf(chart::kFontPixels, false));
    // The legend, centred above the plot.
    qreal legendWidth = 0;
    for (const LineSpec& spec : lineSpecs())
        legendWidth += 24 + metrics.horizontalAdvance(spec.name) + 16;
    qreal x = box.center().x() - legendWidth / 2;
    const qreal middle = box.top() + metrics.height() / 2 + 2;
    for (const LineSpec& spec : lineSpecs()) {
        painter.setPen(linePen(spec));
        painter.drawLine(QPointF(x, middle), QPointF(x + 20, middle));
        painter.setPen(Qt::black);
        const qreal width = metrics.horizontalAdvance(spec.name);
        painter.drawText(
            QRectF(x + 24, middle - metrics.height() / 2, width, metrics.height()), Qt::AlignVCenter, spec.name);
        x += 24 + width + 16;
    }
    drawAmountAxis(painter, plot, QStringLiteral("金额（元）"));
    // A label on as many periods as the width holds, evenly; weeks by their Monday.
    const qsizetype count = trend.points.size();
    const qsizetype labels = std::max<qsizetype>(2, qsizetype(plot.area.width()) / kTickSpacing);
    const qsizetype step = std::max<qsizetype>(1, (count + labels - 1) / labels);
    painter.setFont(chartFontOf(chart::kFontPixels, false));
    for (qsizetype i = 0; i < count; i += step) {
        const ChartPoint& point = trend.points.at(i);
        const QString label
            = trend.period == ChartPeriod::Week ? point.start.toString(QStringLiteral("yyyy-MM-dd")) : point.label;
        const qreal at = plot.placeAt(qreal(i));
        painter.setPen(Qt::black);
        painter.drawLine(QPointF(at, plot.area.bottom()), QPointF(at, plot.area.bottom() + 3));
        const qreal width = metrics.horizontalAdvance(label);
        painter.drawText(
            QRectF(at - width / 2, plot.area.bottom() + 3, width, metrics.height()), Qt::AlignCenter, label);
    }
    painter.drawText(
        QRectF(plot.area.left(), plot.area.bottom() + 5 + metrics.height(), plot.area.width(), metrics.height()),
        Qt::AlignCenter, periodName(trend.period));
    painter.save();
    painter.setClipRect(plot.area.adjusted(-4, -4, 4, 4));
    for (const chart::Line& drawn : chart::trendLines(trend)) {
        QPolygonF line;
        line.reserve(count);
        for (const QPointF& point : drawn.points)
            line.append(QPointF(plot.placeAt(point.x()), plot.amountAt(point.y())));
        painter.setPen(drawn.pen);
        painter.drawPolyline(line);
        // More points than this make markers a blur.
        if (count <= kMarkedPoints) {
            painter.setPen(QPen(drawn.pen.color(), 1.5));
            painter.setBrush(Qt::white);
            for (const QPointF& at : std::as_const(line))
                painter.drawEllipse(at, 3, 3);
            painter.setBrush(Qt::NoBrush);
        }
    }
    painter.restore();
    drawNote(painter, plot.area, note);
}

QString rankingTitle(const TopProducts& top)
{
    const QString title = QStringLiteral("实收前十的产品");
    if (top.otherCount == 0 || !top.hasShares())
        return title;
    return title + QStringLiteral("（其余%1种占%2）").arg(top.otherCount).arg(percent(top.others.share));
}

// Rank first keeps the labels apart whatever the names are cut to; the names take at most 40 % of the width.
QStringList labelsOf(const TopProducts& top, qreal width)
{
    const QFontMetrics metrics(chartFontOf(chart::kFontPixels, false));
    const int nameWidth = std::max(24, int(width * 0.4) - 16 - metrics.horizontalAdvance(QStringLiteral("10 ")));
    QStringList labels;
    for (qsizetype i = 0; i < top.top.size(); ++i)
        labels.append(
            QString::number(i + 1) + QLatin1Char(' ') + elided(top.top.at(i).productName, metrics, nameWidth));
    return labels;
}

// The ranking: its title at the top, the products down the left, 实收 along the bottom.
Plot rankingPlot(const TopProducts& top, const QRectF& box)
{
    double low = 0;
    double high = 0;
    for (const double value : chart::barValues(top)) {
        low = std::min(low, value);
        high = std::max(high, value);
    }
    Plot plot;
    plot.upright = false;
    plot.amounts = niceScale(low, high, 3, top.hasShares() ? 0.25 : 0);
    plot.places = top.top.size();
    const QFontMetricsF metrics(chartFontOf(chart::kFontPixels, false));
    qreal labels = 0;
    for (const QString& label : labelsOf(top, box.width()))
        labels = std::max(labels, metrics.horizontalAdvance(label));
    const QFontMetricsF titleMetrics(chartFontOf(chart::kFontPixels, true));
    // The highest amount's label is centred under the plot's right edge.
    const qreal right = std::max(12.0, metrics.horizontalAdvance(amountLabel(plot.amounts.high)) / 2 + 2);
    plot.area = QRectF(QPointF(box.left() + labels + 8, box.top() + titleMetrics.height() + 10),
        QPointF(box.right() - right, box.bottom() - 2 * metrics.height() - 8));
    return plot;
}

QRectF barIn(const Plot& plot, const TopProducts& top, qsizetype product)
{
    const qreal from = plot.amountAt(0);
    const qreal to = plot.amountAt(yuan(top.top.at(product).received));
    const qreal height = plot.slot() * 0.7;
    return QRectF(QPointF(std::min(from, to), plot.placeAt(qreal(product)) - height / 2),
        QPointF(std::max(from, to), plot.placeAt(qreal(product)) + height / 2));
}

void rankingChart(QPainter& painter, const QRectF& box, const TopProducts& top, const QString& note)
{
    const Plot plot = rankingPlot(top, box);
    const QFontMetricsF metrics(chartFontOf(chart::kFontPixels, false));
    painter.setFont(chartFontOf(chart::kFontPixels, true));
    painter.setPen(Qt::black);
    const QFontMetrics titleMetrics(chartFontOf(chart::kFontPixels, true));
    painter.drawText(QRectF(box.left(), box.top() + 2, box.width(), titleMetrics.height()), Qt::AlignCenter,
        elided(rankingTitle(top), titleMetrics, int(box.width())));
    drawAmountAxis(painter, plot, QStringLiteral("实收（元）"));
    const QStringList labels = labelsOf(top, box.width());
    for (qsizetype i = 0; i < top.top.size(); ++i) {
        const qreal at = plot.placeAt(qreal(i));
        painter.setFont(chartFontOf(chart::kFontPixels, false));
        painter.setPen(Qt::black);
        painter.drawText(
            QRectF(box.left(), at - metrics.height() / 2, plot.area.left() - 6 - box.left(), metrics.height()),
            Qt::AlignRight | Qt::AlignVCenter, labels.at(i));
        const QRectF bar = barIn(plot, top, i);
        painter.setPen(chart::barPen());
        painter.setBrush(kMainColour);
        painter.drawRect(bar);
        painter.setBrush(Qt::NoBrush);
        // Each product's share, at the end of its bar.
        if (top.hasShares()) {
            painter.setFont(chartFontOf(chart::kFontPixels - 1, false));
            painter.setPen(Qt::black);
            const qreal end = plot.amountAt(std::max(yuan(top.top.at(i).received), 0.0)) + 4;
            painter.drawText(QRectF(end, at - metrics.height() / 2, box.right() - end, metrics.height()),
                Qt::AlignLeft | Qt::AlignVCenter, percent(top.top.at(i).share));
        }
    }
    drawNote(painter, plot.area, note);
}

} // namespace

namespace chart {

const QString kEmptyNote = QStringLiteral("所选日期内没有销售记录");
const QString kPendingNote = QStringLiteral("正在统计产品排行…");

QFont font(int pixels, bool bold)
{
    return chartFontOf(pixels, bold);
}

QString periodTitle(ChartPeriod period)
{
    return periodName(period);
}

QList<Line> trendLines(const SalesTrend& trend)
{
    QList<Line> lines;
    for (const LineSpec& spec : lineSpecs()) {
        Line line { spec.name, linePen(spec), {} };
        for (const ChartPoint& point : trend.points)
            line.points.append(QPointF(qreal(line.points.size()), yuan(spec.value(point))));
        lines.append(line);
    }
    return lines;
}

QStringList rankingLabels(const TopProducts& top, qreal width)
{
    return labelsOf(top, width);
}

QList<double> barValues(const TopProducts& top)
{
    QList<double> values;
    for (const ChartShare& share : top.top)
        values.append(yuan(share.received));
    return values;
}

QPen barPen()
{
    // Filled and outlined, so that bars stay bars on a black-and-white page.
    return QPen(Qt::black, 1);
}

QRectF barRect(const TopProducts& top, const QRectF& box, qsizetype product)
{
    return barIn(rankingPlot(top, box), top, product);
}

void drawTrend(QPainter& painter, const QRectF& box, const SalesTrend& trend, const QString& note)
{
    trendChart(painter, box, trend, note);
}

void drawRanking(QPainter& painter, const QRectF& box, const TopProducts& top, const QString& note)
{
    rankingChart(painter, box, top, note);
}

QString trendTip(const SalesTrend& trend, const QRectF& box, const QPointF& at)
{
    const Plot plot = trendPlot(trend, box);
    const qsizetype index = qsizetype(std::floor((at.x() - plot.area.left()) / plot.slot()));
    if (!plot.area.contains(at) || index < 0 || index >= trend.points.size())
        return {};
    const ChartPoint& point = trend.points.at(index);
    return QStringLiteral("%1\n实收：%2\n成本：%3\n利润：%4")
        .arg(point.label, money(point.received), money(point.cost), money(point.profit()));
}

QString rankingTip(const TopProducts& top, const QRectF& box, const QPointF& at)
{
    const Plot plot = rankingPlot(top, box);
    QString text;
    for (qsizetype i = 0; i < top.top.size(); ++i) {
        if (!barIn(plot, top, i).adjusted(-2, -2, 2, 2).contains(at))
            continue;
        const ChartShare& shown = top.top.at(i);
        text = shown.productName + QStringLiteral("\n实收：") + money(shown.received);
        if (top.hasShares())
            text += QStringLiteral("  占") + percent(shown.share);
    }
    return text;
}

} // namespace chart
