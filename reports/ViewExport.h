#pragma once

#include "db/Comparison.h"
#include "db/SalesRows.h"
#include "reports/ReportBuilder.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TDbMan;
struct ViewSnapshot;

// The four review views, in the order of the "显示" list.
enum class ReviewView { Detail, Daily, PerDay, Ranking };

// The view's name as the "显示" list shows it.
QString viewTitle(ReviewView view);
// The view's name on the command line: detail, daily, perday, ranking.
QString viewKey(ReviewView view);
std::optional<ReviewView> viewFromKey(const QString& key);

// What a column holds, and so how a spreadsheet gets it. A change is in tenths of a percent.
enum class ColumnKind { Day, Text, Quantity, Amount, Change };
struct ViewColumn
{
    QString caption;
    ColumnKind kind;
    // A change's columns: the value now and the value before.
    int changeOf = -1;
    int changeFrom = -1;
};
// The view's columns as its list shows them; compared, the daily and ranking views have the earlier period's
// quantity, 实收 and profit after their own, then the three changes.
QList<ViewColumn> viewColumns(ReviewView view, Comparison comparison = Comparison::None);

// One row of a view, its cells in the order of viewColumns: a day, a text, a whole number, an amount in cents or a
// change in tenths of a percent.
struct ViewCell
{
    QDate day;
    QString text;
    // A profit is the difference of two 64-bit sums.
    WideCents number = 0;
    // A change with nothing to compare with.
    bool blank = false;
};
using ViewRow = QList<ViewCell>;

// What a review list shows: the snapshot 查看 read; for the detail, the positions deleted and the lines edited in
// the window since; the ranking's rows; the totals line under the list.
struct ShownView
{
    ReviewView view = ReviewView::Detail;
    std::shared_ptr<const ViewSnapshot> snapshot;
    std::vector<qint64> removed;
    QHash<qint64, SalesLine> edited;
    QList<RankingRow> ranking;
    SalesTotals totals;
    // A compared daily or ranking view: its rows as shown, the earlier period and its totals.
    Comparison comparison = Comparison::None;
    QList<ComparedRow> compared;
    SalesRange earlier;
    SalesTotals earlierTotals;
};

// Every row of a view over a range, read from the store a batch at a time in the view's order, so that a million
// lines never sit in memory at once: as the store holds them now, or as a list shows them (the lines as 查看 read
// them, whatever was written elsewhere since).
class ViewRows
{
public:
    ViewRows(TDbMan& store, ReviewView view, const SalesRange& range);
    ViewRows(TDbMan& store, std::shared_ptr<const ShownView> shown);
    ReviewView view() const { return m_view; }
    Comparison comparison() const { return m_shown ? m_shown->comparison : Comparison::None; }
    qint64 count() const { return m_count; }
    // The totals of the view, as under its list.
    const SalesTotals& totals() const { return m_totals; }
    // The totals line as under the list: a compared view's has a second line, the earlier period's.
    QString totalsText() const;
    // The next row, or false after the last one. Raises KivaroError when the store fails.
    bool next(ViewRow& row);
    // Back to the first row.
    void rewind();

private:
    void fill();
    void fillShown();

    TDbMan& m_store;
    std::shared_ptr<const ShownView> m_shown;
    // The next detail position of the snapshot, and where its days begin.
    qint64 m_position = 0;
    std::vector<qint64> m_dayStarts;
    ReviewView m_view;
    SalesRange m_range;
    QList<DayCount> m_days;
    qint64 m_count = 0;
    SalesTotals m_totals;
    // Where reading stands: the day, how far into it, and the rows read ahead.
    qsizetype m_day = 0;
    qint64 m_inDay = 0;
    QList<ViewRow> m_buffer;
    qsizetype m_next = 0;
    bool m_rankingRead = false;
};

// The printed columns of the daily or ranking view compared with an earlier period: those of viewColumns.
const ReportLayout& comparedReportLayout(ReviewView view, Comparison comparison);

// A row of the daily view (by day) or the ranking (by product) compared with the earlier period.
ViewRow comparedViewRow(ReviewView view, const ComparedRow& compared, const SalesRange& range, Comparison comparison);

// The cell's text as the lists and the printed pages show it (days yyyy-MM-dd, amounts with the given separator).
QString cellText(const ViewCell& cell, ColumnKind kind, QChar decimalSeparator);

// Called now and then with the rows written and the rows in all.
using ExportProgress = std::function<void(qint64 done, qint64 total)>;

enum class ExportFormat { Excel, Csv, Pdf };
// From the file name's extension: .xlsx, .csv, .pdf; nothing for any other.
std::optional<ExportFormat> exportFormatOf(const QString& path);

// Each writes every row of the view into path in one step: a file made beside it and renamed over it once
// complete. Raises KivaroError, with path as it was, on failure.
// CSV: UTF-8 with a byte-order mark, a header row, RFC 4180 quoting, days yyyy-MM-dd, amounts with a full stop.
void exportCsv(ViewRows& rows, const QString& path, const ExportProgress& progress = {});
// Excel: one sheet named after the view (a second and further ones past a sheet's 1,048,576 rows), a bold frozen
// header, real dates, whole numbers, amounts as numbers shown 0.00, texts as texts, a last row of SUM formulas.
// sheetRows: the rows a sheet holds, 1,048,576 as spreadsheets allow (at least 3).
inline constexpr int kSheetRowsMax = 1'048'576;
void exportXlsx(
    ViewRows& rows, const QString& path, const ExportProgress& progress = {}, int sheetRows = kSheetRowsMax);
// PDF: the printed pages, every one of them, with title (the user) on each.
void exportPdf(ViewRows& rows, const QString& title, const QString& path, const ExportProgress& progress = {});
// By the file name's extension.
void exportView(ViewRows& rows, const QString& title, const QString& path, const ExportProgress& progress = {});

// The name a save dialog offers: user, view and range, e.g. "张三-每天销售数量金额统计-2024-01-01至2024-12-31.xlsx".
QString defaultExportName(const QString& userName, ReviewView view, const SalesRange& range, ExportFormat format);
