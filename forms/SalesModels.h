#pragma once

#include "db/SalesRows.h"
#include "db/ViewSnapshot.h"
#include "reports/ViewExport.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QStringList>
#include <functional>
#include <vector>

// The review page's lists. Each holds typed rows and formats them in data(); column 0 is hidden (the ID in the
// detail list). The two lists that may hold hundreds of thousands of rows keep only windows of them, fetched from
// the store as they are looked at; their row counts and totals come from per-day counts and sums.
class SalesListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct Column
    {
        QString caption;
        int width;
        Qt::Alignment alignment;
    };

    SalesListModel(QList<Column> columns, QObject* parent);

    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const QList<Column>& columns() const { return m_columns; }
    // The columns of quantities and amounts (those aligned right), which widen to show every digit.
    QList<int> numericColumns() const;
    // The text a cell shows; column 0 is the hidden one.
    virtual QString text(int row, int column) const = 0;
    // Every column's text, the hidden one first.
    QStringList rowTexts(int row) const;
    // The totals line under the list: the exact sums of the lines it covers.
    const SalesTotals& totals() const { return m_totals; }
    // The column the rows are sorted by, or -1 for the view's own order.
    virtual int sortColumn() const { return -1; }

protected:
    // New columns, for a model reset by the caller.
    void setColumns(QList<Column> columns);
    SalesTotals m_totals;

private:
    QList<Column> m_columns;
};

// "每天销售产品明细列表": every line 查看 read, in order of day and ID, each as it was read. A line deleted here leaves
// the list and one edited here shows what was typed, until the next query; nothing else changes it.
class DetailListModel : public SalesListModel
{
    Q_OBJECT

public:
    using Fetch = SnapshotRows::Fetch;
    explicit DetailListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QString text(int row, int column) const override;

    void reset(std::shared_ptr<const ViewSnapshot> snapshot, Fetch fetch);
    void clear() { reset({}, {}); }
    // The line shown in a row, as stored (or as last edited here); nullptr when it cannot be read.
    const SalesLine* line(int row) const;
    // Shows the edited line with the texts the user typed (date, name, quantity, received, cost, memo).
    void setEdited(int row, const SalesLine& line, const QStringList& typed);
    void removeLine(int row);
    // What the list shows: the snapshot with the deletes and edits made here since.
    ShownView shown() const;

private:
    qint64 position(int row) const;

    SnapshotRows m_rows;
    // Positions in the snapshot of removed rows, ascending.
    std::vector<qint64> m_removed;
    struct Edited
    {
        SalesLine line;
        QStringList texts;
    };
    QHash<qint64, Edited> m_edited;
};

// "每天销售数量金额统计": a row a day.
class DailyListModel : public SalesListModel
{
    Q_OBJECT

public:
    explicit DailyListModel(QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QString text(int row, int column) const override;
    void reset(const QList<DayCount>& days);

private:
    QList<DayCount> m_days;
};

// "每天各个产品销量统计": a row per day and product, grouped from the lines 查看 read as they were read.
class DayProductListModel : public SalesListModel
{
    Q_OBJECT

public:
    using Fetch = SnapshotRows::Fetch;
    explicit DayProductListModel(QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QString text(int row, int column) const override;
    void reset(std::shared_ptr<const ViewSnapshot> snapshot, Fetch fetch);

private:
    SnapshotRows m_rows;
};

// "各个产品销售数量排行": a row per product.
class RankingListModel : public SalesListModel
{
    Q_OBJECT

public:
    explicit RankingListModel(QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QString text(int row, int column) const override;
    // A column of numbers is sorted most first at its first click.
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The totals stay those of the range while the rows are still being computed; the ranking's own order comes back.
    void reset(const SalesTotals& totals);
    // The rows in the ranking's order, shown in the order chosen.
    void setRows(QList<RankingRow> rows);
    // The rows as shown.
    const QList<RankingRow>& rows() const { return m_rows; }
    // Sorts by 数量, 实收, 成本 or 利润 (columns 2 to 5); equal rows keep the ranking's order. Any other column gives
    // the ranking's own order back.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // The column sorted by, or -1 for the ranking's own order.
    int sortColumn() const override { return m_sortColumn; }

private:
    void arrange();

    QList<RankingRow> m_ranked;
    QList<RankingRow> m_rows;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
};

// The daily list or the ranking compared with an earlier period: each row's quantity, 实收, 成本 and profit, the
// earlier day's (daily list) or the product's earlier quantity, 实收 and profit, and the three changes in percent.
// The ranking's rows sort by any column of numbers, as RankingListModel's do.
class ComparedListModel : public SalesListModel
{
    Q_OBJECT

public:
    // view: ReviewView::Daily or ReviewView::Ranking.
    ComparedListModel(ReviewView view, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QString text(int row, int column) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The range and the earlier period with their totals; the rows come with setRows.
    void reset(Comparison comparison, const SalesRange& range, const SalesRange& earlier, const SalesTotals& now,
        const SalesTotals& before);
    void setRows(QList<ComparedRow> rows);
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const override { return m_sortColumn; }
    // The rows as shown, and what an export of them needs.
    const QList<ComparedRow>& rows() const { return m_rows; }
    Comparison comparison() const { return m_comparison; }
    const SalesRange& earlier() const { return m_earlier; }
    const SalesTotals& earlierTotals() const { return m_before; }
    // The two lines under the list: the range's totals, and the earlier period's with the changes.
    QString totalsText() const;

private:
    void arrange();
    // A cell of a row, as the export has it.
    ViewCell cell(const ComparedRow& row, int column) const;

    ReviewView m_view;
    Comparison m_comparison = Comparison::PeriodBefore;
    // What each column holds (the hidden one not counted), read once per comparison rather than per painted cell.
    QList<ColumnKind> m_kinds;
    SalesRange m_range;
    SalesRange m_earlier;
    SalesTotals m_before;
    QList<ComparedRow> m_ordered;
    QList<ComparedRow> m_rows;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
};

// The bookkeeping page's pending lines, typed; the shown texts are made in data(), in the user's number format.
class PendingListModel : public SalesListModel
{
    Q_OBJECT

public:
    explicit PendingListModel(QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QString text(int row, int column) const override;

    const QList<SalesLine>& lines() const { return m_lines; }
    void append(const SalesLine& line);
    void removeLine(int row);
    void clear();

private:
    QList<SalesLine> m_lines;
};
