#include "reports/ReportEngine.h"

#include "base/SafeFile.h"

#include <QFile>
#include <QFontMetricsF>
#include <QImage>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QtMath>
#include <algorithm>

namespace ReportUnits {

int toDots(int units, double dpi)
{
    return qRound(units * dpi / perInch);
}

int mmToDots(double mm, double dpi)
{
    return qRound(mm / 25.4 * dpi);
}

int mmToUnits(double mm)
{
    return mmToDots(mm, perInch);
}

} // namespace ReportUnits

namespace {

QImage blankImage(const QSize& size, double dpi)
{
    QImage image(size, QImage::Format_RGB32);
    const int dotsPerMetre = qRound(dpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    image.fill(Qt::white);
    return image;
}

// The device on which layouts are measured: one dot per unit.
QPaintDevice* unitDevice()
{
    static QImage device = blankImage(QSize(1, 1), ReportUnits::perInch);
    return &device;
}

void drawItem(QPainter& painter, const ReportText& item, QPaintDevice& device, const QPoint& origin)
{
    const QFont font(item.font(), &device);
    const QFontMetricsF metrics(font, &device);
    const double advance = metrics.horizontalAdvance(item.text);
    const int boxLeft = ReportUnits::toDots(item.left, device.logicalDpiX());
    const int boxRight = ReportUnits::toDots(item.left + item.boxWidth, device.logicalDpiX());
    const double baseline = origin.y() + ReportUnits::toDots(item.top, device.logicalDpiY()) + metrics.ascent();
    painter.setFont(font);
    if (item.shrinks() && advance > boxRight - boxLeft) {
        // Scaled as a whole on the common baseline, so the text fills the box exactly on any device.
        const double scale = (boxRight - boxLeft) / advance;
        painter.save();
        painter.translate(origin.x() + boxRight, baseline);
        painter.scale(scale, scale);
        painter.drawText(QPointF(-advance, 0), item.text);
        painter.restore();
        return;
    }
    const int x = item.alignment == ReportText::Alignment::Right ? boxRight - qCeil(advance) : boxLeft;
    painter.drawText(QPointF(origin.x() + x, baseline), item.text);
}

} // namespace

QFont ReportText::font() const
{
    QFont f(fontName);
    f.setPointSize(fontSize);
    f.setBold(bold);
    return f;
}

int ReportText::width() const
{
    const int natural = qCeil(QFontMetricsF(font(), unitDevice()).horizontalAdvance(text));
    return shrinks() ? qMin(natural, boxWidth) : natural;
}

int ReportText::height() const
{
    return qCeil(QFontMetricsF(font(), unitDevice()).height()) + 1;
}

bool ReportText::shrinks() const
{
    return shrinkToBox && alignment == Alignment::Right && boxWidth > 0;
}

int ReportText::textLeft() const
{
    return alignment == Alignment::Right ? textRight() - width() : left;
}

int ReportText::textRight() const
{
    return alignment == Alignment::Right ? left + boxWidth : left + width();
}

int ReportPage::contentWidth()
{
    return ReportUnits::mmToUnits(paperWidthMm - 2 * marginMm);
}

int ReportPage::contentHeight()
{
    return ReportUnits::mmToUnits(paperHeightMm - 2 * marginMm);
}

QSize ReportPage::contentSize(QPageLayout::Orientation orientation)
{
    const QSize upright(contentWidth(), contentHeight());
    return orientation == QPageLayout::Landscape ? upright.transposed() : upright;
}

ReportPage::ReportPage(QPageLayout::Orientation orientation)
    : m_orientation(orientation)
{
}

ReportDrawing* ReportPage::addDrawing(const QRect& box, ReportDrawing::Draw draw)
{
    m_drawings.push_back(std::make_unique<ReportDrawing>(ReportDrawing { box, std::move(draw) }));
    return m_drawings.back().get();
}

ReportText* ReportPage::addText()
{
    m_items.push_back(std::make_unique<ReportText>());
    return m_items.back().get();
}

const ReportText* ReportPage::find(const QString& text) const
{
    for (const auto& item : m_items) {
        if (item->text == text)
            return item.get();
    }
    return nullptr;
}

void ReportPage::render(QPainter& painter, QPaintDevice& device, const QPoint& origin) const
{
    painter.save();
    painter.setPen(Qt::black);
    for (const auto& item : m_items)
        drawItem(painter, *item, device, origin);
    painter.restore();
    for (const auto& drawing : m_drawings) {
        const QRect& box = drawing->box;
        const double dpiX = device.logicalDpiX();
        const double dpiY = device.logicalDpiY();
        const QPoint topLeft(ReportUnits::toDots(box.left(), dpiX), ReportUnits::toDots(box.top(), dpiY));
        const QPoint bottomRight(
            ReportUnits::toDots(box.left() + box.width(), dpiX), ReportUnits::toDots(box.top() + box.height(), dpiY));
        painter.save();
        drawing->draw(painter, QRect(origin + topLeft, origin + bottomRight - QPoint(1, 1)));
        painter.restore();
    }
}

QImage ReportPage::toImage(double dpi) const
{
    QSize size(ReportUnits::mmToDots(paperWidthMm, dpi), ReportUnits::mmToDots(paperHeightMm, dpi));
    if (m_orientation == QPageLayout::Landscape)
        size.transpose();
    QImage image = blankImage(size, dpi);
    QPainter painter(&image);
    const int margin = ReportUnits::mmToDots(marginMm, dpi);
    render(painter, image, QPoint(margin, margin));
    return image;
}

void ReportDocument::clearPages()
{
    m_runs.clear();
    m_pageCount = 0;
    m_kept.clear();
}

void ReportDocument::addRun(int count, SharedMaker make)
{
    if (count <= 0)
        return;
    m_runs.push_back({ m_pageCount, count, std::move(make) });
    m_pageCount += count;
}

void ReportDocument::addPages(int count, PageMaker make)
{
    addRun(count, [make = std::move(make)](int index) { return std::shared_ptr<const ReportPage>(make(index)); });
}

void ReportDocument::addPage(const ReportPage* page)
{
    addRun(1, [page](int) { return std::shared_ptr<const ReportPage>(page, [](const ReportPage*) {}); });
}

void ReportDocument::prepare()
{
    clearPages();
    orientation = QPageLayout::Portrait;
    if (!addReports)
        return;
    try {
        addReports(*this);
    } catch (...) {
        // The document keeps the pages added before the failure.
    }
}

std::shared_ptr<const ReportPage> ReportDocument::kept(int number) const
{
    for (const auto& [keptNumber, page] : m_kept) {
        if (keptNumber == number)
            return page;
    }
    return nullptr;
}

std::shared_ptr<const ReportPage> ReportDocument::build(int number) const
{
    const auto run = std::upper_bound(
        m_runs.begin(), m_runs.end(), number - 1, [](int index, const Run& r) { return index < r.first; });
    return std::prev(run)->make(number - 1 - std::prev(run)->first);
}

const ReportPage* ReportDocument::page(int number) const
{
    if (number < 1 || number > m_pageCount)
        return nullptr;
    const auto found
        = std::find_if(m_kept.begin(), m_kept.end(), [number](const auto& entry) { return entry.first == number; });
    if (found != m_kept.end()) {
        std::rotate(found, found + 1, m_kept.end());
        return m_kept.back().second.get();
    }
    std::shared_ptr<const ReportPage> built = build(number);
    if (m_kept.size() >= size_t(keptPages))
        m_kept.erase(m_kept.begin());
    m_kept.emplace_back(number, std::move(built));
    return m_kept.back().second.get();
}

bool ReportDocument::print(QPagedPaintDevice& device, int first, int last, int copies) const
{
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    const QPoint origin(ReportUnits::mmToDots(ReportPage::marginMm, device.logicalDpiX()),
        ReportUnits::mmToDots(ReportPage::marginMm, device.logicalDpiY()));
    bool firstSheet = true;
    for (int copy = 0; copy < copies; ++copy) {
        for (int number = qMax(first, 1); number <= qMin(last, m_pageCount); ++number) {
            std::shared_ptr<const ReportPage> sheet = kept(number);
            if (!sheet)
                sheet = build(number);
            if (!sheet)
                continue;
            if (!firstSheet)
                device.newPage();
            firstSheet = false;
            sheet->render(painter, device, origin);
        }
    }
    return painter.end();
}

void ReportDocument::writePdf(const QString& fileName, int resolution) const
{
    SafeFile file(fileName);
    bool printed = false;
    {
        QPdfWriter writer(&file.device());
        writer.setResolution(resolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), orientation, QMarginsF()));
        printed = print(writer, 1, pageCount());
    }
    if (!printed)
        throw file.failure(file.device().errorString());
    file.commit();
}
