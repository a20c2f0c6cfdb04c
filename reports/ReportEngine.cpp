#include "reports/ReportEngine.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QtMath>

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
    return qCeil(QFontMetricsF(font(), unitDevice()).horizontalAdvance(text));
}

int ReportText::height() const
{
    return qCeil(QFontMetricsF(font(), unitDevice()).height()) + 1;
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
    const double dpiX = device.logicalDpiX();
    const double dpiY = device.logicalDpiY();
    painter.save();
    painter.setPen(Qt::black);
    for (const auto& item : m_items) {
        const QFont font(item->font(), &device);
        const QFontMetricsF metrics(font, &device);
        int x = ReportUnits::toDots(item->left, dpiX);
        if (item->alignment == ReportText::Alignment::Right)
            x = ReportUnits::toDots(item->left + item->boxWidth, dpiX) - qCeil(metrics.horizontalAdvance(item->text));
        const int y = ReportUnits::toDots(item->top, dpiY);
        painter.setFont(font);
        painter.drawText(QPointF(origin.x() + x, origin.y() + y + metrics.ascent()), item->text);
    }
    painter.restore();
}

QImage ReportPage::toImage(double dpi) const
{
    const QSize size(ReportUnits::mmToDots(paperWidthMm, dpi), ReportUnits::mmToDots(paperHeightMm, dpi));
    QImage image = blankImage(size, dpi);
    QPainter painter(&image);
    const int margin = ReportUnits::mmToDots(marginMm, dpi);
    render(painter, image, QPoint(margin, margin));
    return image;
}

void ReportDocument::prepare()
{
    m_pages.clear();
    if (!addReports)
        return;
    try {
        addReports(*this);
    } catch (...) {
        // The document keeps the pages added before the failure.
    }
}

const ReportPage* ReportDocument::page(int number) const
{
    if (number < 1 || number > m_pages.size())
        return nullptr;
    return m_pages.at(number - 1);
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
        for (int number = first; number <= last; ++number) {
            const ReportPage* sheet = page(number);
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

bool ReportDocument::writePdf(const QString& fileName, int resolution) const
{
    QPdfWriter writer(fileName);
    writer.setResolution(resolution);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    return print(writer, 1, pageCount());
}
