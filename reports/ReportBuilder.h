#pragma once

#include "reports/ReportEngine.h"

#include <QList>
#include <QString>
#include <QStringList>
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

// The rows of a model as it shows them: every column's display text, top-level rows in order.
QList<QStringList> displayedRows(const QAbstractItemModel& model);

// Appends the pages of one report, 47 rows a page, with the title and the headings on each page and the totals
// line under the last row. No rows, no pages.
void buildReportPages(ReportPages& pages, const ReportLayout& layout, const QList<QStringList>& rows,
    const QString& title, const QString& totalsLine);
