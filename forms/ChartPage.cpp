#include "forms/ChartPage.h"

#include "base/SafeFile.h"

#include "db/Numbers.h"
#include "forms/FormUtil.h"

#include <QHelpEvent>
#include <QImageWriter>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QToolTip>
#include <array>
#include <cmath>

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

QPen linePen(const LineSpec& spec)
{
    QPen pen(spec.colour, spec.width, spec.style);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

// Filled and outlined, so that bars stay bars on a black-and-white page.
const QPen kBarPen(Qt::black, 1);
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
    const QFontMetricsF metrics(chartFont());
    painter.setFont(chartFont());
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
    painter.setFont(chartFont(kFontPixels + 2));
    painter.setPen(Qt::black);
    painter.drawText(area, Qt::AlignCenter, note);
}

// The trend: legend at the top, amounts on the left, periods along the bottom.
Plot trendPlot(const SalesTrend& trend, const QRectF& box)
{
    double low = 0;
    double high = 0;
    for (const ChartPoint& point : trend.points) {
        for (const LineSpec& spec : lineSpecs()) {
            low = std::min(low, yuan(spec.value(point)));
            high = std::max(high, yuan(spec.value(point)));
        }
    }
    Plot plot;
    plot.amounts = niceScale(low, high, 5);
    plot.places = trend.points.size();
    const QFontMetricsF metrics(chartFont());
    qreal labels = 0;
    for (int i = 0; i < plot.amounts.ticks(); ++i)
        labels = std::max(labels, metrics.horizontalAdvance(amountLabel(plot.amounts.tick(i))));
    plot.area = QRectF(QPointF(box.left() + metrics.height() + 8 + labels, box.top() + metrics.height() + 10),
        QPointF(box.right() - 10, box.bottom() - 2 * metrics.height() - 8));
    return plot;
}

void drawTrend(QPainter& painter, const QRectF& box, const SalesTrend& trend, const QString& note)
{
    const Plot plot = trendPlot(trend, box);
    const QFontMetricsF metrics(chartFont());
    painter.setFont(chartFont());
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
    painter.setFont(chartFont());
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
        Qt::AlignCenter, periodTitle(trend.period));
    painter.save();
    painter.setClipRect(plot.area.adjusted(-4, -4, 4, 4));
    for (const LineSpec& spec : lineSpecs()) {
        QPolygonF line;
        line.reserve(count);
        for (qsizetype i = 0; i < count; ++i)
            line.append(QPointF(plot.placeAt(qreal(i)), plot.amountAt(yuan(spec.value(trend.points.at(i))))));
        painter.setPen(linePen(spec));
        painter.drawPolyline(line);
        // More points than this make markers a blur.
        if (count <= kMarkedPoints) {
            painter.setPen(QPen(spec.colour, 1.5));
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
QStringList rankingLabels(const TopProducts& top, qreal width)
{
    const QFontMetrics metrics(chartFont());
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
    for (const ChartShare& share : top.top) {
        low = std::min(low, yuan(share.received));
        high = std::max(high, yuan(share.received));
    }
    Plot plot;
    plot.upright = false;
    plot.amounts = niceScale(low, high, 3, top.hasShares() ? 0.25 : 0);
    plot.places = top.top.size();
    const QFontMetricsF metrics(chartFont());
    qreal labels = 0;
    for (const QString& label : rankingLabels(top, box.width()))
        labels = std::max(labels, metrics.horizontalAdvance(label));
    const QFontMetricsF titleMetrics(chartFont(kFontPixels, true));
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

void drawRanking(QPainter& painter, const QRectF& box, const TopProducts& top, const QString& note)
{
    const Plot plot = rankingPlot(top, box);
    const QFontMetricsF metrics(chartFont());
    painter.setFont(chartFont(kFontPixels, true));
    painter.setPen(Qt::black);
    const QFontMetrics titleMetrics(chartFont(kFontPixels, true));
    painter.drawText(QRectF(box.left(), box.top() + 2, box.width(), titleMetrics.height()), Qt::AlignCenter,
        elided(rankingTitle(top), titleMetrics, int(box.width())));
    drawAmountAxis(painter, plot, QStringLiteral("实收（元）"));
    const QStringList labels = rankingLabels(top, box.width());
    for (qsizetype i = 0; i < top.top.size(); ++i) {
        const qreal at = plot.placeAt(qreal(i));
        painter.setFont(chartFont());
        painter.setPen(Qt::black);
        painter.drawText(
            QRectF(box.left(), at - metrics.height() / 2, plot.area.left() - 6 - box.left(), metrics.height()),
            Qt::AlignRight | Qt::AlignVCenter, labels.at(i));
        const QRectF bar = barIn(plot, top, i);
        painter.setPen(kBarPen);
        painter.setBrush(kMainColour);
        painter.drawRect(bar);
        painter.setBrush(Qt::NoBrush);
        // Each product's share, at the end of its bar.
        if (top.hasShares()) {
            painter.setFont(chartFont(kFontPixels - 1));
            painter.setPen(Qt::black);
            const qreal end = plot.amountAt(std::max(yuan(top.top.at(i).received), 0.0)) + 4;
            painter.drawText(QRectF(end, at - metrics.height() / 2, box.right() - end, metrics.height()),
                Qt::AlignLeft | Qt::AlignVCenter, percent(top.top.at(i).share));
        }
    }
    drawNote(painter, plot.area, note);
}

} // namespace

// One of the two charts on screen; what it draws and its tooltips are the page's.
class TChartPage::ChartView : public QWidget
{
public:
    ChartView(TChartPage* page, const char* name, const QRect& geometry)
        : QWidget(page)
        , m_page(page)
    {
        setObjectName(QString::fromLatin1(name));
        setGeometry(geometry);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), Qt::white);
        m_page->drawChart(this, painter);
    }
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ToolTip) {
            m_page->showToolTip(this, static_cast<QHelpEvent*>(event)->pos());
            return true;
        }
        return QWidget::event(event);
    }

private:
    TChartPage* m_page;
};

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
    ChartTrend = new ChartView(this, "ChartTrend", QRect(8, 0, 384, 373));
    ChartRanking = new ChartView(this, "ChartRanking", QRect(396, 0, 288, 373));
    LabelChartTotals = makeLabel(this, "LabelChartTotals", QStringLiteral("#"), 8, 385);
    palette = LabelChartTotals->palette();
    palette.setColor(QPalette::WindowText, kTotalsColour);
    LabelChartTotals->setPalette(palette);
    clear();
}

TChartPage::~TChartPage() = default;

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
    update();
    ChartTrend->update();
    ChartRanking->update();
}

void TChartPage::setRanking(const QList<RankingRow>& ranking)
{
    FTop = topProductsByReceived(ranking);
    FRankingPending = false;
    ChartRanking->update();
}

void TChartPage::clear()
{
    FShowsRange = false;
    FRankingPending = false;
    FTrend = {};
    FTop = {};
    FTotals = {};
    setSizedText(LabelChartTotals, FTotals.text());
    ChartTrend->update();
    ChartRanking->update();
}

QString TChartPage::timeAxisTitle() const
{
    return periodTitle(FTrend.period);
}

QList<TChartPage::ChartLine> TChartPage::trendLines() const
{
    QList<ChartLine> lines;
    for (const LineSpec& spec : lineSpecs()) {
        ChartLine line { spec.name, linePen(spec), {} };
        for (const ChartPoint& point : FTrend.points)
            line.points.append(QPointF(qreal(line.points.size()), yuan(spec.value(point))));
        lines.append(line);
    }
    return lines;
}

QStringList TChartPage::barLabels() const
{
    return rankingLabels(FTop, ChartRanking->width());
}

QList<double> TChartPage::barValues() const
{
    QList<double> values;
    for (const ChartShare& share : FTop.top)
        values.append(yuan(share.received));
    return values;
}

QPen TChartPage::barPen() const
{
    return kBarPen;
}

QString TChartPage::trendNote() const
{
    return FShowsRange && FTrend.points.isEmpty() ? kEmptyNote : QString();
}

QString TChartPage::rankingNote() const
{
    return FRankingPending ? kPendingNote : QString();
}

QRect TChartPage::barRect(int product) const
{
    return barIn(rankingPlot(FTop, ChartRanking->rect()), FTop, product).toAlignedRect();
}

void TChartPage::drawChart(const ChartView* view, QPainter& painter) const
{
    if (view == ChartTrend)
        drawTrend(painter, view->rect(), FTrend, trendNote());
    else
        drawRanking(painter, view->rect(), FTop, rankingNote());
}

void TChartPage::showToolTip(const ChartView* view, const QPoint& at) const
{
    QString text;
    if (view == ChartTrend) {
        const Plot plot = trendPlot(FTrend, view->rect());
        const qsizetype index = qsizetype(std::floor((at.x() - plot.area.left()) / plot.slot()));
        if (plot.area.contains(at) && index >= 0 && index < FTrend.points.size()) {
            const ChartPoint& point = FTrend.points.at(index);
            text = QStringLiteral("%1\n实收：%2\n成本：%3\n利润：%4")
                       .arg(point.label, money(point.received), money(point.cost), money(point.profit()));
        }
    } else {
        const Plot plot = rankingPlot(FTop, view->rect());
        for (qsizetype i = 0; i < FTop.top.size(); ++i) {
            if (!barIn(plot, FTop, i).adjusted(-2, -2, 2, 2).contains(at))
                continue;
            const ChartShare& shown = FTop.top.at(i);
            text = shown.productName + QStringLiteral("\n实收：") + money(shown.received);
            if (FTop.hasShares())
                text += QStringLiteral("  占") + percent(shown.share);
        }
    }
    if (text.isEmpty())
        return QToolTip::hideText();
    QToolTip::showText(view->mapToGlobal(at), Qt::convertFromPlainText(text), const_cast<ChartView*>(view));
}

void TChartPage::paint(QPainter& painter, const QRect& target) const
{
    // Laid out in units of 1/96 inch, so that fonts keep their size on paper, and scaled to the device.
    const double dpi = painter.device() ? painter.device()->logicalDpiX() : 96.0;
    const double scale = dpi / 96.0;
    const QSizeF size = QSizeF(target.size()) / scale;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(target.topLeft());
    painter.scale(scale, scale);
    painter.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
    qreal top = 0;
    painter.setPen(Qt::black);
    if (!FTitle.isEmpty()) {
        const QFont font = chartFont(kFontPixels + 4, true);
        painter.setFont(font);
        const qreal height = QFontMetricsF(font).height();
        painter.drawText(QRectF(0, 0, size.width(), height), Qt::AlignLeft | Qt::AlignVCenter, FTitle);
        top = height + 8;
    }
    painter.setFont(chartFont());
    const qreal totalsHeight = QFontMetricsF(chartFont()).height();
    painter.drawText(QRectF(0, size.height() - totalsHeight, size.width(), totalsHeight),
        Qt::AlignLeft | Qt::AlignVCenter, FTotals.text());
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
    drawTrend(painter, trendBox, FTrend, trendNote());
    drawRanking(painter, rankingBox, FTop, rankingNote());
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

void TChartPage::exportPng(const QString& fileName, const QSize& size) const
{
    SafeFile file(fileName);
    QImageWriter writer(&file.device(), "png");
    if (!writer.write(renderImage(size)))
        throw file.failure(writer.errorString());
    file.commit();
}
