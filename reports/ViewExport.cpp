#include "reports/ViewExport.h"

#include "base/SafeFile.h"

#include "base/Error.h"
#include "db/DbClass.h"
#include "db/Numbers.h"
#include "db/SalesCsv.h"
#include "db/ViewSnapshot.h"
#include "reports/ReportBuilder.h"
#include "reports/ReportEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUuid>
#include <cstdio>
#include <xlsxwriter.h>

namespace {

// Rows read from the store at a time.
constexpr int kBatch = 5000;

// How often progress is told.
constexpr qint64 kProgressEvery = 2000;

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

ViewCell dayCell(const QDate& day)
{
    return { day, {}, 0 };
}

ViewCell textCell(const QString& text)
{
    return { {}, text, 0 };
}

ViewCell numberCell(WideCents number)
{
    return { {}, {}, number };
}

// Quantity, received, cost and, for the grouped views, profit.
void appendSums(ViewRow& row, const SalesSums& sums, bool profit)
{
    row << numberCell(sums.quantity) << numberCell(sums.received) << numberCell(sums.cost);
    if (profit)
        row << numberCell(WideCents(sums.received) - sums.cost);
}

// The rows of the views, from what the store gives.
ViewRow lineRow(const SalesLine& line)
{
    ViewRow row { dayCell(line.day), textCell(line.productName) };
    appendSums(row, { line.quantity, line.received, line.cost }, false);
    row << textCell(line.memo);
    return row;
}

ViewRow groupRow(const DayProductRow& group)
{
    ViewRow row { dayCell(group.day), textCell(group.productName) };
    appendSums(row, group.sums, true);
    return row;
}

ViewCell changeCell(WideCents now, WideCents before)
{
    const std::optional<WideCents> tenths = changeTenths(now, before);
    return { {}, {}, tenths.value_or(0), !tenths };
}

ViewRow rankingRow(const RankingRow& ranked)
{
    ViewRow row { textCell(ranked.productName) };
    appendSums(row, ranked.sums, true);
    return row;
}

QByteArray csvField(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    const bool quote = bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') || bytes.contains('\n')
        || bytes.startsWith(' ') || bytes.endsWith(' ');
    if (!quote)
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

// Display width in a spreadsheet's character units: a Chinese character takes two.
int textWidth(const QString& text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return width;
}

double toNumber(WideCents cents)
{
    return double(cents) / 100.0;
}

QString columnLetter(int column)
{
    QString letters;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        letters.prepend(QChar(u'A' + (n - 1) % 26));
    return letters;
}

const ReportLayout& layoutOf(ReviewView view, Comparison comparison)
{
    if (comparison != Comparison::None)
        return comparedReportLayout(view, comparison);
    switch (view) {
    case ReviewView::Detail:
        return detailReportLayout();
    case ReviewView::Daily:
        return dailyTotalsReportLayout();
    case ReviewView::PerDay:
        return dailyProductReportLayout();
    case ReviewView::Ranking:
        break;
    }
    return rankingReportLayout();
}

} // namespace

QString viewTitle(ReviewView view)
{
    switch (view) {
    case ReviewView::Detail:
        return QStringLiteral("每天销售产品明细列表");
    case ReviewView::Daily:
        return QStringLiteral("每天销售数量金额统计");
    case ReviewView::PerDay:
        return QStringLiteral("每天各个产品销量统计");
    case ReviewView::Ranking:
        break;
    }
    return QStringLiteral("各个产品销售数量排行");
}

QString viewKey(ReviewView view)
{
    switch (view) {
    case ReviewView::Detail:
        return QStringLiteral("detail");
    case ReviewView::Daily:
        return QStringLiteral("daily");
    case ReviewView::PerDay:
        return QStringLiteral("perday");
    case ReviewView::Ranking:
        break;
    }
    return QStringLiteral("ranking");
}

std::optional<ReviewView> viewFromKey(const QString& key)
{
    for (ReviewView view : { ReviewView::Detail, ReviewView::Daily, ReviewView::PerDay, ReviewView::Ranking }) {
        if (viewKey(view) == key)
            return view;
    }
    return std::nullopt;
}

QList<ViewColumn> viewColumns(ReviewView view, Comparison comparison)
{
    const ViewColumn day { QStringLiteral("日期"), ColumnKind::Day };
    const ViewColumn name { QStringLiteral("品名"), ColumnKind::Text };
    const QList<ViewColumn> sums { { QStringLiteral("数量"), ColumnKind::Quantity },
        { QStringLiteral("实收"), ColumnKind::Amount }, { QStringLiteral("成本"), ColumnKind::Amount } };
    const ViewColumn profit { QStringLiteral("利润"), ColumnKind::Amount };
    if (comparison != Comparison::None && (view == ReviewView::Daily || view == ReviewView::Ranking)) {
        // The day or the name, quantity, 实收 and profit; the earlier day; the earlier three; the three changes.
        const QString before = comparisonPrefix(comparison);
        QList<ViewColumn> columns { view == ReviewView::Daily ? day : name, sums.at(0), sums.at(1), profit };
        if (view == ReviewView::Daily)
            columns << ViewColumn { before + QStringLiteral("日期"), ColumnKind::Day };
        const int first = int(columns.size());
        columns << ViewColumn { before + QStringLiteral("数量"), ColumnKind::Quantity }
                << ViewColumn { before + QStringLiteral("实收"), ColumnKind::Amount }
                << ViewColumn { before + QStringLiteral("利润"), ColumnKind::Amount };
        columns << ViewColumn { QStringLiteral("数量增减"), ColumnKind::Change, 1, first }
                << ViewColumn { QStringLiteral("实收增减"), ColumnKind::Change, 2, first + 1 }
                << ViewColumn { QStringLiteral("利润增减"), ColumnKind::Change, 3, first + 2 };
        return columns;
    }
    switch (view) {
    case ReviewView::Detail:
        return QList<ViewColumn> { day, name } + sums
            + QList<ViewColumn> { { QStringLiteral("备注"), ColumnKind::Text } };
    case ReviewView::Daily:
        return QList<ViewColumn> { day } + sums + QList<ViewColumn> { profit };
    case ReviewView::PerDay:
        return QList<ViewColumn> { day, name } + sums + QList<ViewColumn> { profit };
    case ReviewView::Ranking:
        break;
    }
    return QList<ViewColumn> { name } + sums + QList<ViewColumn> { profit };
}

ViewRows::ViewRows(TDbMan& store, ReviewView view, const SalesRange& range)
    : m_store(store)
    , m_view(view)
    , m_range(range)
    , m_days(store.QueryDays(range))
{
    for (const DayCount& day : m_days) {
        m_totals.add(day.sums, day.lines);
        m_count += view == ReviewView::Detail ? day.lines : view == ReviewView::PerDay ? day.rows : 1;
    }
    if (view == ReviewView::Ranking) {
        fill();
        m_count = m_buffer.size();
    }
}

ViewRows::ViewRows(TDbMan& store, std::shared_ptr<const ShownView> shown)
    : m_store(store)
    , m_shown(shown)
    , m_view(shown->view)
    , m_range(shown->snapshot->range)
    , m_days(shown->snapshot->days)
    , m_totals(shown->totals)
{
    m_dayStarts = shown->snapshot->dayStarts();
    for (const DayCount& day : m_days)
        m_count += m_view == ReviewView::Detail ? day.lines : m_view == ReviewView::PerDay ? day.rows : 1;
    if (m_view == ReviewView::Detail)
        m_count -= qint64(m_shown->removed.size());
    else if (m_view == ReviewView::Ranking)
        m_count = m_shown->ranking.size();
    if (comparison() != Comparison::None)
        m_count = m_shown->compared.size();
}

QString ViewRows::totalsText() const
{
    if (comparison() == Comparison::None)
        return m_totals.text();
    return comparedTotalsText(m_shown->comparison, m_shown->earlier, m_totals, m_shown->earlierTotals);
}

void ViewRows::rewind()
{
    m_position = 0;
    m_day = 0;
    m_inDay = 0;
    m_buffer.clear();
    m_next = 0;
    m_rankingRead = false;
}

bool ViewRows::next(ViewRow& row)
{
    if (m_next >= m_buffer.size()) {
        m_buffer.clear();
        m_next = 0;
        fill();
        if (m_buffer.isEmpty())
            return false;
    }
    row = m_buffer.at(m_next++);
    return true;
}

void ViewRows::fillShown()
{
    const ViewSnapshot& snapshot = *m_shown->snapshot;
    if (comparison() != Comparison::None) {
        if (!m_rankingRead) {
            m_rankingRead = true;
            for (const ComparedRow& compared : m_shown->compared)
                m_buffer.append(comparedViewRow(m_view, compared, m_range, m_shown->comparison));
        }
        return;
    }
    switch (m_view) {
    case ReviewView::Ranking:
        if (!m_rankingRead) {
            m_rankingRead = true;
            for (const RankingRow& ranked : m_shown->ranking)
                m_buffer.append(rankingRow(ranked));
        }
        return;
    case ReviewView::Daily:
        // The snapshot's days, which fill() reads.
        return;
    case ReviewView::Detail: {
        const qint64 end = m_dayStarts.back();
        while (m_buffer.isEmpty() && m_position < end) {
            const qint64 first = m_position;
            const qint64 count = std::min<qint64>(kBatch, end - first);
            m_position += count;
            const QList<SalesLine> lines = m_store.LinesAsRead(snapshot, first, count);
            for (qint64 position = first; position < first + count; ++position) {
                if (std::binary_search(m_shown->removed.begin(), m_shown->removed.end(), position))
                    continue;
                const auto edited = m_shown->edited.constFind(position);
                const SalesLine& line = edited != m_shown->edited.cend() ? *edited : lines.at(position - first);
                // A line the store no longer has, nor its change: the list shows nothing for it either.
                if (line.id == 0)
                    continue;
                m_buffer.append(lineRow(line));
            }
        }
        return;
    }
    case ReviewView::PerDay:
        break;
    }
    for (; m_buffer.isEmpty() && m_day < m_days.size(); ++m_day) {
        const qint64 start = m_dayStarts[size_t(m_day)];
        QList<SalesLine> lines = m_store.LinesAsRead(snapshot, start, m_dayStarts[size_t(m_day) + 1] - start);
        lines.removeIf([](const SalesLine& line) { return line.id == 0; });
        for (const DayProductRow& group : groupByProduct(lines))
            m_buffer.append(groupRow(group));
    }
}

void ViewRows::fill()
{
    if (m_shown && (m_view != ReviewView::Daily || comparison() != Comparison::None)) {
        fillShown();
        return;
    }
    switch (m_view) {
    case ReviewView::Ranking:
        if (!m_rankingRead) {
            m_rankingRead = true;
            for (const RankingRow& ranked : m_store.QueryRanking(m_range))
                m_buffer.append(rankingRow(ranked));
        }
        return;
    case ReviewView::Daily:
        for (; m_day < m_days.size() && m_buffer.size() < kBatch; ++m_day) {
            ViewRow row { dayCell(m_days.at(m_day).day) };
            appendSums(row, m_days.at(m_day).sums, true);
            m_buffer.append(row);
        }
        return;
    case ReviewView::Detail:
    case ReviewView::PerDay:
        break;
    }
    while (m_buffer.isEmpty() && m_day < m_days.size()) {
        const DayCount& day = m_days.at(m_day);
        const qint64 inDay = m_view == ReviewView::Detail ? day.lines : day.rows;
        const int count = int(qMin<qint64>(kBatch, inDay - m_inDay));
        if (count <= 0) {
            ++m_day;
            m_inDay = 0;
            continue;
        }
        if (m_view == ReviewView::Detail) {
            for (const SalesLine& line : m_store.QueryLineWindow(m_range, day.day, m_inDay, count)) {
                if (line.day != day.day)
                    break;
                m_buffer.append(lineRow(line));
            }
        } else {
            for (const DayProductRow& group : m_store.QueryDayProductWindow(m_range, day.day, m_inDay, count)) {
                if (group.day != day.day)
                    break;
                m_buffer.append(groupRow(group));
            }
        }
        // Fewer than asked: another computer removed lines of the day meanwhile; the day ends here.
        m_inDay = m_buffer.size() < count ? inDay : m_inDay + count;
    }
}

ViewRow comparedViewRow(ReviewView view, const ComparedRow& compared, const SalesRange& range, Comparison comparison)
{
    const WideCents profitNow = WideCents(compared.now.received) - compared.now.cost;
    const WideCents profitBefore = WideCents(compared.before.received) - compared.before.cost;
    ViewRow row { view == ReviewView::Daily ? dayCell(compared.day) : textCell(compared.productName),
        numberCell(compared.now.quantity), numberCell(compared.now.received), numberCell(profitNow) };
    if (view == ReviewView::Daily)
        row << dayCell(comparedDay(compared.day, range, comparison));
    row << numberCell(compared.before.quantity) << numberCell(compared.before.received) << numberCell(profitBefore);
    row << changeCell(compared.now.quantity, compared.before.quantity)
        << changeCell(compared.now.received, compared.before.received) << changeCell(profitNow, profitBefore);
    return row;
}

QString cellText(const ViewCell& cell, ColumnKind kind, QChar decimalSeparator)
{
    switch (kind) {
    case ColumnKind::Day:
        return cell.day.toString(QStringLiteral("yyyy-MM-dd"));
    case ColumnKind::Text:
        return cell.text;
    case ColumnKind::Quantity:
        return QString::number(qint64(cell.number));
    case ColumnKind::Change:
        return cell.blank ? QString() : changeText(cell.number, decimalSeparator);
    case ColumnKind::Amount:
        break;
    }
    return formatWideCents(cell.number, decimalSeparator);
}

std::optional<ExportFormat> exportFormatOf(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xlsx"))
        return ExportFormat::Excel;
    if (suffix == QLatin1String("csv"))
        return ExportFormat::Csv;
    if (suffix == QLatin1String("pdf"))
        return ExportFormat::Pdf;
    return std::nullopt;
}

void exportCsv(ViewRows& rows, const QString& path, const ExportProgress& progress)
{
    const QList<ViewColumn> columns = viewColumns(rows.view(), rows.comparison());
    SafeFile file(path);
    QByteArray chunk("\xEF\xBB\xBF");
    QStringList captions;
    for (const ViewColumn& column : columns)
        captions << column.caption;
    chunk += captions.join(QLatin1Char(',')).toUtf8() + "\r\n";
    const auto flush = [&] {
        file.write(chunk);
        chunk.clear();
    };
    rows.rewind();
    ViewRow row;
    for (qint64 done = 0; rows.next(row); ++done) {
        for (qsizetype i = 0; i < columns.size(); ++i) {
            if (i > 0)
                chunk += ',';
            const QString text = cellText(row.at(i), columns.at(i).kind, QLatin1Char('.'));
            // A text that a spreadsheet would run as a formula stays a text.
            chunk += csvField(columns.at(i).kind == ColumnKind::Text ? defusedText(text) : text);
        }
        chunk += "\r\n";
        if (chunk.size() > (1 << 20))
            flush();
        if (progress && done % kProgressEvery == 0)
            progress(done, rows.count());
    }
    flush();
    file.commit();
    if (progress)
        progress(rows.count(), rows.count());
}

void exportXlsx(ViewRows& rows, const QString& path, const ExportProgress& progress, int sheetRows)
{
    // A sheet holds the header, the rows, and on the last sheet the totals.
    const lxw_row_t kSheetRows = lxw_row_t(qBound(3, sheetRows, kSheetRowsMax));
    const QList<ViewColumn> columns = viewColumns(rows.view(), rows.comparison());
    SafeFile file(path);
    lxw_workbook_options options {};
    // Rows go straight to disk as they are written: memory stays flat for any number of rows.
    options.constant_memory = LXW_TRUE;
    const QByteArray workName = QFile::encodeName(file.workPath());
    lxw_workbook* book = workbook_new_opt(workName.constData(), &options);
    if (!book)
        throw KivaroError(QStringLiteral("无法写入“%1”").arg(native(path)));
    bool closed = false;
    const auto closeBook = qScopeGuard([&] {
        if (!closed)
            workbook_close(book);
    });
    lxw_format* header = workbook_add_format(book);
    format_set_bold(header);
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy-mm-dd");
    lxw_format* amount = workbook_add_format(book);
    format_set_num_format(amount, "0.00");
    lxw_format* total = workbook_add_format(book);
    format_set_bold(total);
    lxw_format* totalAmount = workbook_add_format(book);
    format_set_bold(totalAmount);
    format_set_num_format(totalAmount, "0.00");
    lxw_format* change = workbook_add_format(book);
    format_set_num_format(change, "+0.0%;-0.0%;0.0%");
    lxw_format* totalChange = workbook_add_format(book);
    format_set_bold(totalChange);
    format_set_num_format(totalChange, "+0.0%;-0.0%;0.0%");

    QList<int> widths;
    for (const ViewColumn& column : columns)
        widths << textWidth(column.caption);
    // Each number column's exact total: the cached result of its SUM, shown by readers that do not recalculate.
    QList<WideCents> columnSums(columns.size(), 0);
    struct Sheet
    {
        lxw_worksheet* sheet;
        QString name;
        lxw_row_t lastRow;
    };
    QList<Sheet> sheets;
    const auto addSheet = [&] {
        const QString name = sheets.isEmpty()
            ? viewTitle(rows.view())
            : QStringLiteral("%1（%2）").arg(viewTitle(rows.view())).arg(sheets.size() + 1);
        lxw_worksheet* sheet = workbook_add_worksheet(book, name.toUtf8().constData());
        if (!sheet)
            throw KivaroError(QStringLiteral("无法写入“%1”").arg(native(path)));
        for (qsizetype i = 0; i < columns.size(); ++i)
            worksheet_write_string(sheet, 0, lxw_col_t(i), columns.at(i).caption.toUtf8().constData(), header);
        worksheet_freeze_panes(sheet, 1, 0);
        sheets.append({ sheet, name, 0 });
    };
    addSheet();
    rows.rewind();
    ViewRow row;
    lxw_row_t at = 0;
    for (qint64 done = 0; rows.next(row); ++done) {
        // The last sheet keeps a row free for the totals.
        if (at + 2 >= kSheetRows) {
            addSheet();
            at = 0;
        }
        ++at;
        lxw_worksheet* sheet = sheets.last().sheet;
        for (qsizetype i = 0; i < columns.size(); ++i) {
            const ViewCell& cell = row.at(i);
            const lxw_col_t column = lxw_col_t(i);
            switch (columns.at(i).kind) {
            case ColumnKind::Day: {
                // A spreadsheet's dates begin in 1900: an earlier day stays a text in ISO form, never a wrong number.
                if (cell.day.year() < 1900) {
                    worksheet_write_string(sheet, at, column,
                        cell.day.toString(QStringLiteral("yyyy-MM-dd")).toUtf8().constData(), nullptr);
                    break;
                }
                lxw_datetime day { cell.day.year(), cell.day.month(), cell.day.day(), 0, 0, 0 };
                worksheet_write_datetime(sheet, at, column, &day, date);
                widths[i] = qMax(widths[i], 10);
                break;
            }
            case ColumnKind::Text:
                // Always a string cell: a text that begins like a formula is never run as one.
                if (worksheet_write_string(sheet, at, column, cell.text.toUtf8().constData(), nullptr)
                    == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED) {
                    throw file.failure(QStringLiteral("第 %1 行的%2有 %3 个字符，超过了电子表格一个单元格能放的 32767 "
                                                      "个字符；请导出为 CSV")
                                           .arg(done + 1)
                                           .arg(columns.at(i).caption)
                                           .arg(cell.text.size()));
                }
                widths[i] = qMax(widths[i], textWidth(cell.text));
                break;
            case ColumnKind::Quantity:
                columnSums[i] += cell.number;
                worksheet_write_number(sheet, at, column, double(cell.number), nullptr);
                widths[i] = qMax(widths[i], int(QString::number(qint64(cell.number)).size()));
                break;
            case ColumnKind::Amount:
                columnSums[i] += cell.number;
                worksheet_write_number(sheet, at, column, toNumber(cell.number), amount);
                widths[i] = qMax(widths[i], int(formatWideCents(cell.number).size()));
                break;
            case ColumnKind::Change:
                // Nothing to compare with: the cell stays empty.
                if (!cell.blank) {
                    worksheet_write_number(sheet, at, column, double(cell.number) / 1000.0, change);
                    widths[i] = qMax(widths[i], int(changeText(cell.number).size()));
                }
                break;
            }
        }
        sheets.last().lastRow = at;
        if (progress && done % kProgressEvery == 0)
            progress(done, rows.count());
    }

    // The totals: SUM formulas over every sheet's rows, so that the sheet stays right when edited.
    const lxw_row_t totalsRow = at + 1;
    lxw_worksheet* last = sheets.last().sheet;
    worksheet_write_string(last, totalsRow, 0, "合计", total);
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const ColumnKind kind = columns.at(i).kind;
        if (kind == ColumnKind::Change) {
            // The change of the totals, from the totals row's own cells.
            const QString now = columnLetter(columns.at(i).changeOf) + QString::number(totalsRow + 1);
            const QString before = columnLetter(columns.at(i).changeFrom) + QString::number(totalsRow + 1);
            const std::optional<WideCents> tenths
                = changeTenths(columnSums.at(columns.at(i).changeOf), columnSums.at(columns.at(i).changeFrom));
            const QString formula = QStringLiteral("=IF(%1=0,\"\",(%2-%1)/ABS(%1))").arg(before, now);
            if (tenths)
                worksheet_write_formula_num(
                    last, totalsRow, lxw_col_t(i), formula.toUtf8().constData(), totalChange, double(*tenths) / 1000.0);
            else
                worksheet_write_formula_str(
                    last, totalsRow, lxw_col_t(i), formula.toUtf8().constData(), totalChange, "");
            continue;
        }
        if (kind != ColumnKind::Quantity && kind != ColumnKind::Amount)
            continue;
        const QString letter = columnLetter(int(i));
        QStringList ranges;
        for (const Sheet& sheet : sheets) {
            if (sheet.lastRow == 0)
                continue;
            const QString prefix = &sheet == &sheets.last() ? QString() : QStringLiteral("'%1'!").arg(sheet.name);
            ranges << QStringLiteral("%1%2%3:%2%4").arg(prefix, letter).arg(2).arg(sheet.lastRow + 1);
        }
        const QString formula
            = QStringLiteral("=SUM(%1)").arg(ranges.isEmpty() ? QStringLiteral("0") : ranges.join(QLatin1Char(',')));
        const double value = kind == ColumnKind::Quantity ? double(columnSums.at(i)) : toNumber(columnSums.at(i));
        worksheet_write_formula_num(last, totalsRow, lxw_col_t(i), formula.toUtf8().constData(),
            kind == ColumnKind::Amount ? totalAmount : total, value);
    }
    for (const Sheet& sheet : sheets) {
        for (qsizetype i = 0; i < columns.size(); ++i)
            worksheet_set_column(sheet.sheet, lxw_col_t(i), lxw_col_t(i), qMin(widths.at(i) + 2, 80), nullptr);
    }
    closed = true;
    const lxw_error error = workbook_close(book);
    if (error != LXW_NO_ERROR)
        throw file.failure(QString::fromUtf8(lxw_strerror(error)));
    file.commit();
    if (progress)
        progress(rows.count(), rows.count());
}

void exportPdf(ViewRows& rows, const QString& title, const QString& path, const ExportProgress& progress)
{
    const QList<ViewColumn> columns = viewColumns(rows.view(), rows.comparison());
    const QChar separator = localeDecimalSeparator();
    // The report reads its rows page by page, in order; going back starts the reading over.
    auto position = std::make_shared<qsizetype>(0);
    auto current = std::make_shared<ViewRow>();
    ViewRows* source = &rows;
    rows.rewind();
    ReportRows reportRows;
    reportRows.count = rows.count();
    reportRows.row = [=](qsizetype index) {
        if (index < *position - 1) {
            source->rewind();
            *position = 0;
        }
        while (*position <= index) {
            if (!source->next(*current))
                return QStringList();
            ++*position;
            if (progress && *position % kProgressEvery == 0)
                progress(*position, source->count());
        }
        // The report's columns count the list's hidden first column (0), as the preview's rows have it.
        QStringList texts { QString() };
        for (qsizetype i = 0; i < columns.size(); ++i)
            texts << cellText(current->at(i), columns.at(i).kind, separator);
        return texts;
    };
    if (reportRows.count == 0)
        throw KivaroError(QStringLiteral("所选日期内没有可以导出的记录"));
    ReportDocument document;
    document.addReports = [&](ReportDocument& into) {
        addReportPages(into, layoutOf(rows.view(), rows.comparison()), reportRows, title, rows.totalsText());
    };
    document.prepare();
    document.writePdf(path);
    if (progress)
        progress(rows.count(), rows.count());
}

void exportView(ViewRows& rows, const QString& title, const QString& path, const ExportProgress& progress)
{
    const std::optional<ExportFormat> format = exportFormatOf(path);
    if (!format)
        throw KivaroError(
            QStringLiteral("不知道用什么格式写“%1”：文件名应以 .xlsx、.csv 或 .pdf 结尾").arg(native(path)));
    switch (*format) {
    case ExportFormat::Excel:
        exportXlsx(rows, path, progress);
        return;
    case ExportFormat::Csv:
        exportCsv(rows, path, progress);
        return;
    case ExportFormat::Pdf:
        exportPdf(rows, title, path, progress);
        return;
    }
}

QString defaultExportName(const QString& userName, ReviewView view, const SalesRange& range, ExportFormat format)
{
    const QString suffix = format == ExportFormat::Excel ? QStringLiteral("xlsx")
        : format == ExportFormat::Csv                    ? QStringLiteral("csv")
                                                         : QStringLiteral("pdf");
    QString user = userName;
    // A user name may hold characters a file name cannot.
    for (const QChar c : QStringLiteral("/\\:*?\"<>|"))
        user.replace(c, QLatin1Char('_'));
    const QString format2 = QStringLiteral("yyyy-MM-dd");
    return QStringLiteral("%1-%2-%3至%4.%5")
        .arg(user, viewTitle(view), range.first.toString(format2), range.last.toString(format2), suffix);
}

namespace {

ReportLayout makeComparedLayout(ReviewView view, Comparison comparison)
{
    const QList<ViewColumn> columns = viewColumns(view, comparison);
    // Where each column stands and how wide it is; a day or a name has no width.
    const QList<std::pair<int, int>> daily { { 0, 0 }, { 72, 30 }, { 108, 60 }, { 174, 60 }, { 252, 0 }, { 330, 36 },
        { 372, 60 }, { 438, 60 }, { 516, 60 }, { 582, 60 }, { 648, 60 } };
    const QList<std::pair<int, int>> ranking { { 0, 0 }, { 186, 36 }, { 228, 60 }, { 294, 60 }, { 366, 48 },
        { 420, 60 }, { 486, 60 }, { 560, 50 }, { 614, 50 }, { 668, 50 } };
    const QList<std::pair<int, int>>& places = view == ReviewView::Daily ? daily : ranking;
    ReportLayout layout;
    for (qsizetype i = 0; i < columns.size() && i < places.size(); ++i) {
        const auto [left, width] = places.at(i);
        const ColumnKind kind = columns.at(i).kind;
        const int cut = kind == ColumnKind::Day ? 10 : kind == ColumnKind::Text ? 30 : width / 6;
        layout.append({ columns.at(i).caption, int(i) + 1, left, width, cut, width > 0 });
    }
    return layout;
}

} // namespace

const ReportLayout& comparedReportLayout(ReviewView view, Comparison comparison)
{
    static const ReportLayout layouts[] = { makeComparedLayout(ReviewView::Daily, Comparison::PeriodBefore),
        makeComparedLayout(ReviewView::Daily, Comparison::YearEarlier),
        makeComparedLayout(ReviewView::Ranking, Comparison::PeriodBefore),
        makeComparedLayout(ReviewView::Ranking, Comparison::YearEarlier) };
    return layouts[(view == ReviewView::Daily ? 0 : 2) + (comparison == Comparison::YearEarlier ? 1 : 0)];
}
