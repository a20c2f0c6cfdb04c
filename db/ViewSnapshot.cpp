#include "db/ViewSnapshot.h"

#include <algorithm>
#include <chrono>

namespace {

// After a failed read, the rows stay blank this long before they are read again: a view paints many cells, and a
// server that is away must not be asked once for each of them.
constexpr qint64 kRetryAfterMs = 2000;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Where a position falls: the index of the last start at or before it.
qsizetype dayOf(const std::vector<qint64>& starts, qint64 position)
{
    return qsizetype(std::upper_bound(starts.begin(), starts.end(), position) - starts.begin()) - 1;
}

// Lines of one day are read this many at a time when a day is grouped.
constexpr qint64 kDayChunk = 4096;

} // namespace

QList<DayProductRow> groupByProduct(const QList<SalesLine>& dayLines)
{
    QList<DayProductRow> rows;
    QHash<QString, qsizetype> rowOf;
    for (const SalesLine& line : dayLines) {
        auto found = rowOf.constFind(line.productName);
        if (found == rowOf.cend()) {
            found = rowOf.insert(line.productName, rows.size());
            rows.append({ line.day, line.productName, {} });
        }
        SalesSums& sums = rows[*found].sums;
        sums.quantity += line.quantity;
        sums.received += line.received;
        sums.cost += line.cost;
    }
    return rows;
}

qint64 ViewSnapshot::lineCount() const
{
    return dayStarts().back();
}

std::vector<qint64> ViewSnapshot::dayStarts() const
{
    std::vector<qint64> starts(1, 0);
    starts.reserve(size_t(days.size()) + 1);
    for (const DayCount& day : days)
        starts.push_back(starts.back() + qMax<qint64>(day.lines, 0));
    // A listed order and the counts come from one read; should they ever disagree, the list decides.
    if (!lastLineId)
        starts.back() = qint64(lineIds.size());
    return starts;
}

void SnapshotRows::reset(std::shared_ptr<const ViewSnapshot> snapshot, Fetch fetch)
{
    m_snapshot = std::move(snapshot);
    m_fetch = std::move(fetch);
    m_lineStarts.assign(1, 0);
    m_groupStarts.assign(1, 0);
    if (m_snapshot) {
        m_lineStarts = m_snapshot->dayStarts();
        for (const DayCount& day : m_snapshot->days)
            m_groupStarts.push_back(m_groupStarts.back() + qMax<qint64>(day.rows, 0));
    }
    m_lineBlocks.clear();
    m_recentLines.clear();
    m_dayGroups.clear();
    m_recentDays.clear();
    m_failedAt = -1;
}

bool SnapshotRows::mayFetch() const
{
    return m_fetch && (m_failedAt < 0 || nowMs() - m_failedAt >= kRetryAfterMs);
}

std::optional<QList<SalesLine>> SnapshotRows::fetch(qint64 first, qint64 count) const
{
    std::optional<QList<SalesLine>> lines = m_fetch(first, count);
    if (!lines || lines->size() != count) {
        m_failedAt = nowMs();
        return std::nullopt;
    }
    m_failedAt = -1;
    return lines;
}

const SalesLine* SnapshotRows::line(qint64 position) const
{
    if (position < 0 || position >= lineCount())
        return nullptr;
    const qint64 block = position / kBlock;
    auto found = m_lineBlocks.constFind(block);
    if (found == m_lineBlocks.cend()) {
        if (!mayFetch())
            return nullptr;
        std::optional<QList<SalesLine>> lines
            = fetch(block * kBlock, std::min<qint64>(kBlock, lineCount() - block * kBlock));
        if (!lines)
            return nullptr;
        if (m_lineBlocks.size() >= kKeptBlocks)
            m_lineBlocks.remove(m_recentLines.takeFirst());
        found = m_lineBlocks.insert(block, std::move(*lines));
        m_recentLines.append(block);
    }
    const SalesLine& shown = found->at(position - block * kBlock);
    return shown.id != 0 ? &shown : nullptr;
}

const DayProductRow* SnapshotRows::group(qint64 position) const
{
    if (position < 0 || position >= groupCount())
        return nullptr;
    const qsizetype day = dayOf(m_groupStarts, position);
    auto found = m_dayGroups.constFind(day);
    if (found == m_dayGroups.cend()) {
        if (!mayFetch())
            return nullptr;
        const qint64 begin = m_lineStarts[size_t(day)];
        const qint64 end = m_lineStarts[size_t(day) + 1];
        QList<SalesLine> lines;
        lines.reserve(end - begin);
        for (qint64 chunk = begin; chunk < end; chunk += std::min(kDayChunk, end - chunk)) {
            std::optional<QList<SalesLine>> read = fetch(chunk, std::min(kDayChunk, end - chunk));
            if (!read)
                return nullptr;
            for (const SalesLine& line : std::as_const(*read)) {
                if (line.id != 0)
                    lines.append(line);
            }
        }
        if (m_dayGroups.size() >= kKeptBlocks)
            m_dayGroups.remove(m_recentDays.takeFirst());
        found = m_dayGroups.insert(day, groupByProduct(lines));
        m_recentDays.append(day);
    }
    const qint64 inDay = position - m_groupStarts[size_t(day)];
    return inDay < found->size() ? &found->at(inDay) : nullptr;
}
