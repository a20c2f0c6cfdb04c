#include "forms/ChartPage.h"

#include "base/SafeFile.h"

#include "db/Numbers.h"
#include "forms/Anchors.h"
#include "forms/FormUtil.h"
#include "reports/ChartDrawing.h"

#include <QHelpEvent>
#include <QImageWriter>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QToolTip>

namespace {

// The totals line's colour, as on the other views.
const QColor kTotalsColour(128, 0, 0);

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
    // The trend takes what the page grows by; the ranking keeps its width at the right; the totals stay under them.
    anchor(ChartTrend, Qt::TopEdge | Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge);
    anchor(ChartRanking, Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge);
    anchor(LabelChartTotals, Qt::LeftEdge | Qt::BottomEdge);
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

QString TChartPage::trendNote() const
{
    return FShowsRange && FTrend.points.isEmpty() ? chart::kEmptyNote : QString();
}

QString TChartPage::rankingNote() const
{
    return FRankingPending ? chart::kPendingNote : QString();
}

void TChartPage::drawChart(const ChartView* view, QPainter& painter) const
{
    if (view == ChartTrend)
        chart::drawTrend(painter, view->rect(), FTrend, trendNote());
    else
        chart::drawRanking(painter, view->rect(), FTop, rankingNote());
}

void TChartPage::showToolTip(const ChartView* view, const QPoint& at) const
{
    const QString text
        = view == ChartTrend ? chart::trendTip(FTrend, view->rect(), at) : chart::rankingTip(FTop, view->rect(), at);
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
        const QFont font = chart::font(chart::kFontPixels + 4, true);
        painter.setFont(font);
        const qreal height = QFontMetricsF(font).height();
        painter.drawText(QRectF(0, 0, size.width(), height), Qt::AlignLeft | Qt::AlignVCenter, FTitle);
        top = height + 8;
    }
    painter.setFont(chart::font());
    const qreal totalsHeight = QFontMetricsF(chart::font()).height();
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
    chart::drawTrend(painter, trendBox, FTrend, trendNote());
    chart::drawRanking(painter, rankingBox, FTop, rankingNote());
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
