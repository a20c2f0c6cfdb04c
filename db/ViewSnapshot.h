#pragma once

#include "db/SalesRows.h"

#include <QHash>
#include <QList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What 查看 read, in one consistent read of the store: the range's days with their counts and sums, and the user's
// newest change at that moment. The views show this until the next 查看, whatever other windows and computers write
// meanwhile: a line is shown as it was when read (see TDbMan::LinesAsRead), so rows never shift, repeat or vanish under
// the user's eyes.
//
// The detail order (day, then ID) is found in one of two ways. A file ledger's IDs only grow, one writer at a time:
// the snapshot keeps the highest ID of the moment, and a day's lines as read are its lines up to that ID, corrected by
// the changes since (TDbMan::LineIdsAsRead), so 查看 costs the days, not the lines. A server hands out IDs in another
// order than its transactions commit, so its snapshot lists every ID of the range.
struct ViewSnapshot
{
    SalesRange range;
    QList<DayCount> days;
    qint64 changeMark = 0;
    // The file's highest line ID at 查看; empty when lineIds holds the order instead.
    std::optional<qint64> lastLineId;
    std::vector<qint64> lineIds;

    // The number of lines in the detail order.
    qint64 lineCount() const;
    // Where each day's lines start in the detail order; one more entry holds the total.
    std::vector<qint64> dayStarts() const;
};

// The rows of one user's day per product, in order of their first sale; the same grouping as the store's summaries.
QList<DayProductRow> groupByProduct(const QList<SalesLine>& dayLines);

// The detail and day-and-product rows of a snapshot by position, read in blocks as they are asked for. A bounded
// number of blocks is kept. A block that could not be read is not kept: it is asked for again after a pause.
class SnapshotRows
{
public:
    // The lines at positions [first, first + count) of the detail order as the snapshot read them (a line that cannot
    // be found has ID 0); nothing when the store failed.
    using Fetch = std::function<std::optional<QList<SalesLine>>(qint64 first, qint64 count)>;
    static constexpr int kBlock = 256;
    static constexpr int kKeptBlocks = 64;

    void reset(std::shared_ptr<const ViewSnapshot> snapshot, Fetch fetch);
    const ViewSnapshot* snapshot() const { return m_snapshot.get(); }
    std::shared_ptr<const ViewSnapshot> shared() const { return m_snapshot; }

    qint64 lineCount() const { return m_lineStarts.back(); }
    // The line at a position of the detail order; nullptr past the end, when it is gone, or when reading failed.
    const SalesLine* line(qint64 position) const;

    qint64 groupCount() const { return m_groupStarts.empty() ? 0 : m_groupStarts.back(); }
    // The row per day and product at a position; read with every line of its day.
    const DayProductRow* group(qint64 position) const;

private:
    bool mayFetch() const;
    std::optional<QList<SalesLine>> fetch(qint64 first, qint64 count) const;

    std::shared_ptr<const ViewSnapshot> m_snapshot;
    Fetch m_fetch;
    // m_lineStarts[i], m_groupStarts[i]: the position of day i's first line and first group; one more holds the total.
    std::vector<qint64> m_lineStarts { 0 };
    std::vector<qint64> m_groupStarts { 0 };
    mutable QHash<qint64, QList<SalesLine>> m_lineBlocks;
    mutable QList<qint64> m_recentLines;
    mutable QHash<qsizetype, QList<DayProductRow>> m_dayGroups;
    mutable QList<qsizetype> m_recentDays;
    mutable qint64 m_failedAt = -1;
};
