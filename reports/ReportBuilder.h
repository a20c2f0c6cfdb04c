#pragma once

#include "reports/ReportEngine.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QAbstractItemModel;

// One printed column: the heading, the column of the view it is read from (the hidden first column is 0), where
// it stands, and how many GB18030 bytes of its text fit. A column with a width is right-aligned in it.
// A text is cut to fit; a figure is never cut, and one longer than the cut is printed smaller to fit the box.
struct ReportColumn
{
    QString heading;
    int source = 0;
    int left = 0;
    int width = 0;
    int cut = 0;
    bool figure = false;
};

using ReportLayout = QList<ReportColumn>;
using ReportPages = std::vector<std::unique_ptr<ReportPage>>;

const ReportLayout& detailReportLayout();
const ReportLayout& dailyTotalsReportLayout();
const ReportLayout& dailyProductReportLayout();
const ReportLayout& rankingReportLayout();

constexpr int kRowsPerPage = 47;
constexpr int kHeadingTop = 40;
constexpr int kFirstRowTop = 60;
constexpr int kRowPitch = 20;

// The longest prefix whose GB18030 form has at most maxBytes bytes; a character is never split.
QString cutToBytes(const QString& text, int maxBytes);

// n items in the cell style ("宋体" 9 pt, left-aligned), in creation order.
QList<ReportText*> CreateCellLabels(int n, ReportPage& page);

// The rows of a report, read one at a time when a page is built: row(i) gives every column's display text of
// row i, the hidden first column included.
struct ReportRows
{
    qsizetype count = 0;
    std::function<QStringList(qsizetype row)> row;
};

// Rows from a list held by the source itself.
ReportRows listRows(const QList<QStringList>& rows);
// The rows of a model as it shows them, top-level rows in order, read from the model when asked for; the count is
// taken now, and the model must outlive the source.
ReportRows modelRows(const QAbstractItemModel& model);

// The rows of a model as it shows them: every column's display text, top-level rows in order.
QList<QStringList> displayedRows(const QAbstractItemModel& model);

// 47 rows a page, one fewer for each line of the totals past the first; no rows, no pages.
int reportPageCount(qsizetype rows, const QString& totalsLine = {});
// The rows a page holds above a totals line of that text (a line each, split at line feeds).
int reportRowsPerPage(const QString& totalsLine);

// Page index (from 0) of one report, with the title and the headings, its rows, and under the last row of the
// report the totals line (its lines one under the other). Reads only the rows of that page; null past the last page.
std::unique_ptr<ReportPage> buildReportPage(
    const ReportLayout& layout, const ReportRows& rows, int index, const QString& title, const QString& totalsLine);

// Appends the pages of one report to the document, each built from its rows when it is shown or printed.
void addReportPages(ReportDocument& document, const ReportLayout& layout, const ReportRows& rows, const QString& title,
    const QString& totalsLine);

// Appends every page of one report, built now.
void buildReportPages(ReportPages& pages, const ReportLayout& layout, const QList<QStringList>& rows,
    const QString& title, const QString& totalsLine);
