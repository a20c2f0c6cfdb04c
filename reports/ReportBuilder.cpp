#include "reports/ReportBuilder.h"

#include "base/TextCodec.h"

#include <QAbstractItemModel>

namespace {

ReportColumn textColumn(const char* heading, int source, int left, int cut)
{
    return { QString::fromUtf8(heading), source, left, 0, cut, false };
}

ReportColumn figureColumn(const char* heading, int source, int left, int width, int cut)
{
    return { QString::fromUtf8(heading), source, left, width, cut, true };
}

// Centred on the content area; an item wider than the area overhangs both edges alike.
void centre(ReportText& item)
{
    item.left = (ReportPage::contentWidth() - item.width()) / 2;
}

ReportText* addPageText(ReportPage& page, const QString& text, int top)
{
    ReportText* item = page.addText();
    item->text = text;
    item->top = top;
    return item;
}

void placeInColumn(ReportText& item, const ReportColumn& col, const QString& text, int top)
{
    item.text = text;
    item.top = top;
    item.left = col.left;
    item.boxWidth = col.width;
    item.alignment = col.width > 0 ? ReportText::Alignment::Right : ReportText::Alignment::Left;
    // A figure within the cut fits its box at full size; only a longer one is drawn smaller.
    item.shrinkToBox = col.figure && cutToBytes(text, col.cut).size() < text.size();
}

void placeRow(ReportPage& page, const ReportLayout& layout, const QStringList& texts, int top)
{
    const QList<ReportText*> cells = CreateCellLabels(int(layout.size()), page);
    for (int c = 0; c < layout.size(); ++c)
        placeInColumn(*cells[c], layout[c], texts[c], top);
}

std::unique_ptr<ReportPage> startPage(int number, const ReportLayout& layout, const QString& title)
{
    auto page = std::make_unique<ReportPage>();
    ReportText* heading = addPageText(*page, title, 0);
    heading->fontSize = 20;
    heading->bold = true;
    centre(*heading);

    QStringList headings;
    for (const ReportColumn& col : layout)
        headings << col.heading;
    placeRow(*page, layout, headings, kHeadingTop);

    ReportText* footer = addPageText(*page, QStringLiteral("第 %1 页").arg(number), 0);
    footer->top = ReportPage::contentHeight() - footer->height();
    centre(*footer);
    return page;
}

QStringList rowCells(const ReportLayout& layout, const QStringList& row)
{
    QStringList cells;
    for (const ReportColumn& col : layout)
        cells << (col.figure ? row.value(col.source) : cutToBytes(row.value(col.source), col.cut));
    return cells;
}

// The right edge is fixed on the content area's edge, whatever the device measures the text at.
void placeTotals(ReportPage& page, const QString& text, int top)
{
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        ReportText* totals = addPageText(page, line, top);
        const int width = totals->width();
        totals->left = ReportPage::contentWidth() - width;
        totals->boxWidth = width;
        totals->alignment = ReportText::Alignment::Right;
        top += kRowPitch;
    }
}

} // namespace

const ReportLayout& detailReportLayout()
{
    static const ReportLayout layout { textColumn("日期", 1, 0, 10), textColumn("品名", 2, 72, 54),
        figureColumn("数量", 3, 408, 30, 5), figureColumn("实收", 4, 444, 60, 10), figureColumn("成本", 5, 510, 60, 10),
        textColumn("备注", 6, 576, 24) };
    return layout;
}

const ReportLayout& dailyTotalsReportLayout()
{
    static const ReportLayout layout { textColumn("日期", 1, 0, 10), figureColumn("数量", 2, 72, 30, 5),
        figureColumn("实收", 3, 108, 60, 10), figureColumn("成本", 4, 174, 60, 10),
        figureColumn("利润", 5, 240, 60, 10) };
    return layout;
}

const ReportLayout& dailyProductReportLayout()
{
    static const ReportLayout layout { textColumn("日期", 1, 0, 10), textColumn("品名", 2, 72, 54),
        figureColumn("数量", 3, 408, 30, 5), figureColumn("实收", 4, 444, 60, 10), figureColumn("成本", 5, 510, 60, 10),
        figureColumn("利润", 6, 576, 60, 10) };
    return layout;
}

const ReportLayout& rankingReportLayout()
{
    static const ReportLayout layout { textColumn("品名", 1, 0, 54), figureColumn("数量", 2, 408, 30, 5),
        figureColumn("实收", 3, 444, 60, 10), figureColumn("成本", 4, 510, 60, 10),
        figureColumn("利润", 5, 576, 60, 10) };
    return layout;
}

QString cutToBytes(const QString& text, int maxBytes)
{
    int bytes = 0;
    for (qsizetype start = 0; start < text.size();) {
        const bool pair = text[start].isHighSurrogate() && start + 1 < text.size() && text[start + 1].isLowSurrogate();
        const qsizetype length = pair ? 2 : 1;
        bytes += int(toGb18030(text.mid(start, length)).size());
        if (bytes > maxBytes)
            return text.left(start);
        start += length;
    }
    return text;
}

QList<ReportText*> CreateCellLabels(int n, ReportPage& page)
{
    QList<ReportText*> cells;
    cells.reserve(n);
    for (int i = 0; i < n; ++i)
        cells << page.addText();
    return cells;
}

ReportRows listRows(const QList<QStringList>& rows)
{
    return { rows.size(), [rows](qsizetype row) { return rows.at(row); } };
}

ReportRows modelRows(const QAbstractItemModel& model)
{
    return { model.rowCount(), [&model](qsizetype row) {
                QStringList cells;
                for (int c = 0; c < model.columnCount(); ++c)
                    cells << model.data(model.index(int(row), c), Qt::DisplayRole).toString();
                return cells;
            } };
}

QList<QStringList> displayedRows(const QAbstractItemModel& model)
{
    const ReportRows rows = modelRows(model);
    QList<QStringList> list;
    list.reserve(rows.count);
    for (qsizetype r = 0; r < rows.count; ++r)
        list << rows.row(r);
    return list;
}

int reportPageCount(qsizetype rows, const QString& totalsLine)
{
    const int perPage = reportRowsPerPage(totalsLine);
    return int((rows + perPage - 1) / perPage);
}

int reportRowsPerPage(const QString& totalsLine)
{
    return kRowsPerPage - int(totalsLine.count(QLatin1Char('\n')));
}

std::unique_ptr<ReportPage> buildReportPage(
    const ReportLayout& layout, const ReportRows& rows, int index, const QString& title, const QString& totalsLine)
{
    const int perPage = reportRowsPerPage(totalsLine);
    const qsizetype first = qsizetype(index) * perPage;
    if (index < 0 || first >= rows.count)
        return nullptr;
    std::unique_ptr<ReportPage> page = startPage(index + 1, layout, title);
    const qsizetype end = qMin(rows.count, first + perPage);
    for (qsizetype i = first; i < end; ++i) {
        const int top = kFirstRowTop + kRowPitch * int(i - first);
        placeRow(*page, layout, rowCells(layout, rows.row(i)), top);
        if (i == rows.count - 1)
            placeTotals(*page, totalsLine, top + kRowPitch);
    }
    return page;
}

void addReportPages(ReportDocument& document, const ReportLayout& layout, const ReportRows& rows, const QString& title,
    const QString& totalsLine)
{
    document.addPages(reportPageCount(rows.count, totalsLine), [layout, rows, title, totalsLine](int index) {
        return buildReportPage(layout, rows, index, title, totalsLine);
    });
}

void buildReportPages(ReportPages& pages, const ReportLayout& layout, const QList<QStringList>& rows,
    const QString& title, const QString& totalsLine)
{
    const ReportRows source = listRows(rows);
    const int count = reportPageCount(source.count, totalsLine);
    for (int index = 0; index < count; ++index)
        pages.push_back(buildReportPage(layout, source, index, title, totalsLine));
}
