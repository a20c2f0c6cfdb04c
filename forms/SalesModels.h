#pragma once

#include "db/SalesRows.h"

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
    // The text a cell shows; column 0 is the hidden one.
    virtual QString text(int row, int column) const = 0;
    // Every column's text, the hidden one first.
    QStringList rowTexts(int row) const;
    // The totals line under the list: the exact sums of the lines it covers.
    const SalesTotals& totals() const { return m_totals; }

protected:
    SalesTotals m_totals;

private:
    QList<Column> m_columns;
};

// Rows of one kind fetched in blocks by their position in a range: the range's days with how many rows each holds,
// and a fetch that returns up to count rows starting offset rows into a day. A bounded number of blocks is kept.
template <typename Row> class RowWindows
{
public:
    using Fetch = std::function<QList<Row>(const QDate& day, qint64 offset, int count)>;
    static constexpr int kBlock = 256;
    static constexpr int kKeptBlocks = 64;

    void reset(const QList<DayCount>& days, bool rowsAreLines, Fetch fetch);
    qint64 size() const { return m_starts.empty() ? 0 : m_starts.back(); }
    // The row at a position, fetched with its block when needed; nullptr past the end or when the store failed.
    const Row* at(qint64 position) const;

private:
    QList<QDate> m_days;
    // m_starts[i]: the position of day i's first row; one more entry holds the total.
    std::vector<qint64> m_starts;
    Fetch m_fetch;
    mutable QHash<qint64, QList<Row>> m_blocks;
    mutable QList<qint64> m_recent;
};

// "每天销售产品明细列表": every line of the range, in order of day and ID. A deleted line leaves the list and an
// edited one shows what was typed until the next query.
class DetailListModel : public SalesListModel
{
    Q_OBJECT

public:
    using Fetch = RowWindows<SalesLine>::Fetch;
    explicit DetailListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QString text(int row, int column) const override;

    void reset(const QList<DayCount>& days, Fetch fetch);
    void clear() { reset({}, {}); }
    // The line shown in a row, as stored (or as last edited here); nullptr when it cannot be read.
    const SalesLine* line(int row) const;
    // Shows the edited line with the texts the user typed (date, name, quantity, received, cost, memo).
    void setEdited(int row, const SalesLine& line, const QStringList& typed);
    void removeLine(int row);

private:
    qint64 position(int row) const;

    RowWindows<SalesLine> m_windows;
    // Positions of removed rows, ascending.
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

// "每天各个产品销量统计": a row per day and product, fetched in windows.
class DayProductListModel : public SalesListModel
{
    Q_OBJECT

public:
    using Fetch = RowWindows<DayProductRow>::Fetch;
    explicit DayProductListModel(QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QString text(int row, int column) const override;
    void reset(const QList<DayCount>& days, Fetch fetch);

private:
    RowWindows<DayProductRow> m_windows;
};

// "各个产品销售数量排行": a row per product.
class RankingListModel : public SalesListModel
{
    Q_OBJECT

public:
    explicit RankingListModel(QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QString text(int row, int column) const override;
    // The totals stay those of the range while the rows are still being computed.
    void reset(const SalesTotals& totals);
    void setRows(QList<RankingRow> rows);

private:
    QList<RankingRow> m_rows;
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
