// The file store's reads for the review page: the days, windows of lines and day-and-product rows, the ranking,
// and the view's snapshot.

#include "db/SqliteSession.h"

#include "db/Schema.h"

#include <QHash>
#include <QSet>
#include <algorithm>

using namespace sqlite;

namespace {

// Bound as ?1, ?2 and ?3 by every review statement below; a summary table's fallback binds them again inside.
const QString kSummaryFilter = QStringLiteral("UserName=?1 AND RecDate>=?2 AND RecDate<=?3");

// The encoded user and the days from..last of the range, as the statements below bind them.
QStringList rangeValues(const SalesRange& range, const QDate& from)
{
    checkDay(from);
    checkDay(range.last);
    const QString format = QStringLiteral("yyyy-MM-dd");
    return { EncodeText(range.userName), from.toString(format), range.last.toString(format) };
}

QString daySource(bool kept)
{
    return kept ? QStringLiteral("DaySums") : QLatin1Char('(') + Schema::dayGroups(kSummaryFilter) + QLatin1Char(')');
}

QString dayProductSource(bool kept)
{
    return kept ? QStringLiteral("DayProductSums")
                : QLatin1Char('(') + Schema::dayProductGroups(kSummaryFilter) + QLatin1Char(')');
}
} // namespace

bool SqliteStore::keepsChanges(Session& session)
{
    return session.exists(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name='Changes'"), {});
}

QList<DayCount> SqliteStore::queryDays(const SalesRange& range)
{
    Session session(*this);
    return daysIn(session, range);
}

QList<DayCount> SqliteStore::daysIn(Session& session, const SalesRange& range, bool fromSummaries)
{
    const QStringList values = rangeValues(range, range.first);
    QList<DayCount> days;
    DayValue dayValue;
    const QString statement = QStringLiteral("SELECT RecDate, Products, Lines, Quantity, Money, Cost FROM %1 WHERE %2 "
                                             "ORDER BY RecDate")
                                  .arg(daySource(fromSummaries && FSummaries == TSummaries::Kept), kSummaryFilter);
    for (SqliteStatement rows(session.database(), statement, values); rows.next();)
        days.append({ dayValue(rows.bytes(0)), rows.integer(1), rows.integer(2), sumsAt(rows, 3) });
    return days;
}

ViewSnapshot SqliteStore::queryView(const SalesRange& range)
{
    ViewSnapshot view;
    view.range = range;
    Session session(*this);
    // One read transaction: the file cannot change between the statements.
    session.beginRead();
    view.days = daysIn(session, range);
    // IDs only grow (AUTOINCREMENT, one writer at a time): every line saved after this read has a higher one.
    SqliteStatement last(session.database(), QStringLiteral("SELECT coalesce(max(ID), 0) FROM Records"), {});
    view.lastLineId = last.next() ? last.integer(0) : 0;
    if (keepsChanges(session)) {
        SqliteStatement mark(session.database(), QStringLiteral("SELECT max(ID) FROM Changes WHERE UserName=?1"),
            { EncodeText(range.userName) });
        if (mark.next())
            view.changeMark = mark.integer(0);
    }
    return view;
}

ReviewReads::FoundLines SqliteStore::findLines(const SalesRange& range)
{
    FoundLines found;
    const QString find = foldedForFind(range.find);
    Session session(*this);
    // One read transaction: the lines and the change mark of one moment.
    session.beginRead();
    // Names and memos repeat: each stored form is decoded and compared once, inside the engine's pass over the
    // lines, so that only the lines found come out of it.
    struct Name
    {
        QString text;
        bool found = false;
    };
    QHash<QByteArray, Name> names;
    QHash<QByteArray, bool> memos;
    const auto nameOf = [&](QByteArrayView stored) -> const Name& {
        auto name = names.constFind(QByteArray::fromRawData(stored.data(), stored.size()));
        if (name == names.cend()) {
            const QString text = decodeStoredBytes(stored);
            name = names.insert(stored.toByteArray(), { text, foundIn(text, find) });
        }
        return *name;
    };
    const SqliteFunction holds(session.database(), "kivaro_found", [&](QByteArrayView name, QByteArrayView memo) {
        if (nameOf(name).found)
            return true;
        auto known = memos.constFind(QByteArray::fromRawData(memo.data(), memo.size()));
        if (known == memos.cend())
            known = memos.insert(memo.toByteArray(), foundIn(decodeStoredBytes(memo), find));
        return *known;
    });
    // A range that holds most of the file's lines is read in the table's own order, page after page, and the lines
    // found put in order after; a shorter one by the day index, which skips the rest.
    const QStringList values { EncodeText(range.userName), QString::fromLatin1(storedDay(range.first)),
        QString::fromLatin1(storedDay(range.last)) };
    bool wholeTable = false;
    if (FSummaries == TSummaries::Kept) {
        SqliteStatement share(session.database(),
            QStringLiteral("SELECT (SELECT total(Lines) FROM DaySums WHERE UserName=?1 AND RecDate>=?2 AND "
                           "RecDate<=?3) * 2 >= (SELECT total(Lines) FROM DaySums)"),
            values);
        wholeTable = share.next() && share.integer(0) != 0;
    }
    DayValue dayValue;
    SqliteStatement rows(session.database(),
        QStringLiteral("SELECT ID, RecDate, RecProductName, RecQuantity, RecMoney, RecCost FROM Records %1 WHERE "
                       "UserName=?1 AND RecDate>=?2 AND RecDate<=?3 AND kivaro_found(RecProductName, RecMemo) %2")
            .arg(wholeTable ? QStringLiteral("NOT INDEXED") : QString(),
                wholeTable ? QString() : QStringLiteral("ORDER BY RecDate, ID")),
        values);
    while (rows.next())
        found.lines.append({ rows.integer(0), dayValue(rows.bytes(1)), nameOf(rows.bytes(2)).text,
            qint32(rows.integer(3)), rows.integer(4), rows.integer(5), QString() });
    if (wholeTable) {
        std::sort(found.lines.begin(), found.lines.end(),
            [](const SalesLine& a, const SalesLine& b) { return a.day != b.day ? a.day < b.day : a.id < b.id; });
    }
    if (keepsChanges(session)) {
        SqliteStatement mark(session.database(), QStringLiteral("SELECT max(ID) FROM Changes WHERE UserName=?1"),
            { EncodeText(range.userName) });
        if (mark.next())
            found.changeMark = mark.integer(0);
    }
    return found;
}

std::vector<qint64> SqliteStore::boundedLineIds(const ViewSnapshot& snapshot, qint64 first, qint64 count)
{
    const qint64 lastLineId = snapshot.lastLineId.value_or(0);
    const std::vector<qint64> starts = snapshot.dayStarts();
    const QString user = EncodeText(snapshot.range.userName);
    Session session(*this);
    // The changes and the days' lines from one read: a change cannot land between them.
    session.beginRead();
    // Each line changed since 查看, with the day it had then (none when it did not exist), from its first change
    // after the snapshot; and every day such a change took a line from or to.
    QHash<qint64, std::optional<QDate>> dayThen;
    QSet<QDate> touchedDays;
    if (keepsChanges(session)) {
        QSqlQuery rows
            = session.run(kChangeColumns + QStringLiteral("WHERE UserName=? AND ID>? AND Kind<>? ORDER BY ID"),
                { user, snapshot.changeMark, kindName(ChangeEntry::Kind::Save) });
        while (rows.next()) {
            const ChangeEntry change = changeAt(rows);
            for (const std::optional<SalesLine>& side : { change.before, change.after }) {
                if (side)
                    touchedDays.insert(side->day);
            }
            if (!dayThen.contains(change.lineId))
                dayThen.insert(change.lineId, change.before ? std::optional(change.before->day) : std::nullopt);
        }
    }
    const QString dayFilter = QStringLiteral("UserName=?1 AND RecDate=?2 AND ID<=?3");
    std::vector<qint64> ids;
    ids.reserve(size_t(count));
    const auto startOf = [&](qsizetype day) { return starts[size_t(day)]; };
    qsizetype day = qsizetype(std::upper_bound(starts.begin(), starts.end(), first) - starts.begin()) - 1;
    for (qint64 position = first; position < first + count && day < snapshot.days.size(); ++day) {
        const QDate date = snapshot.days.at(day).day;
        const qint64 from = position - startOf(day);
        const qint64 upTo = std::min(first + count, startOf(day + 1)) - startOf(day);
        const QStringList values { user, date.toString(Qt::ISODate), QString::number(lastLineId) };
        std::vector<qint64> found;
        if (!touchedDays.contains(date)) {
            // Nothing moved in or out of this day since 查看: its lines then are its lines now up to the last ID,
            // one index range (RecordsByUserDateId) of which only the window is stepped through.
            SqliteStatement rows(session.database(),
                QStringLiteral("SELECT ID FROM Records WHERE %1 ORDER BY ID LIMIT ?4 OFFSET ?5").arg(dayFilter),
                values);
            rows.bind(4, upTo - from);
            rows.bind(5, from);
            while (rows.next())
                found.push_back(rows.integer(0));
        } else {
            // The day as it is, less the lines changed since, plus those that were on it then.
            std::vector<qint64> dayIds;
            for (SqliteStatement rows(session.database(),
                     QStringLiteral("SELECT ID FROM Records WHERE %1 ORDER BY ID").arg(dayFilter), values);
                 rows.next();) {
                if (!dayThen.contains(rows.integer(0)))
                    dayIds.push_back(rows.integer(0));
            }
            for (auto it = dayThen.cbegin(); it != dayThen.cend(); ++it) {
                if (it.key() <= lastLineId && it.value() == date)
                    dayIds.push_back(it.key());
            }
            std::sort(dayIds.begin(), dayIds.end());
            for (qint64 at = from; at < upTo && at < qint64(dayIds.size()); ++at)
                found.push_back(dayIds[size_t(at)]);
        }
        // A day with fewer lines than counted leaves its last positions blank.
        found.resize(size_t(upTo - from), 0);
        ids.insert(ids.end(), found.begin(), found.end());
        position = startOf(day) + upTo;
    }
    return ids;
}

bool SqliteStore::daysMatchLines(const SalesRange& range)
{
    {
        Session session(*this);
        if (FSummaries != TSummaries::Kept)
            return true;
        session.beginRead();
        // The index RecordsByUserDateId counts the lines; the table itself is not read.
        SqliteStatement counts(session.database(),
            QStringLiteral("SELECT (SELECT count(*) FROM Records WHERE %1), (SELECT coalesce(sum(Lines), 0) FROM "
                           "DaySums WHERE %1)")
                .arg(kSummaryFilter),
            rangeValues(range, range.first));
        if (!counts.next() || counts.integer(0) == counts.integer(1))
            return true;
    }
    qWarning("kivaro: the day summaries did not match the lines of %s; mending them", qUtf8Printable(range.userName));
    try {
        repairSummaries();
    } catch (const KivaroError&) {
        // A ledger that cannot be written: its views are computed from its lines from now on.
        FSummaries = TSummaries::Missing;
    }
    return false;
}

namespace {

// A list of IDs as one parameter, read back with json_each.
QByteArray jsonIds(const std::vector<qint64>& ids)
{
    QByteArray text = "[";
    for (const qint64 id : ids) {
        if (text.size() > 1)
            text += ',';
        text += QByteArray::number(id);
    }
    return text + ']';
}

} // namespace

QList<SalesLine> SqliteStore::linesById(const SalesRange& range, const std::vector<qint64>& ids)
{
    QList<SalesLine> lines;
    if (ids.empty())
        return lines;
    lines.reserve(qsizetype(ids.size()));
    NameDecoder decodeName;
    DayValue dayValue;
    Session session(*this);
    const QByteArray idList = jsonIds(ids);
    SqliteStatement rows(session.database(),
        // CROSS JOIN keeps the IDs the outer loop: each is one look-up by row ID, never a walk over the user's lines.
        QStringLiteral("SELECT r.ID, r.RecDate, r.RecProductName, r.RecQuantity, r.RecMoney, r.RecCost, r.RecMemo "
                       "FROM json_each(?2) AS k CROSS JOIN Records AS r ON r.ID = k.value WHERE r.UserName=?1"),
        { EncodeText(range.userName) });
    rows.bind(2, idList);
    while (rows.next()) {
        lines.append({ rows.integer(0), dayValue(rows.bytes(1)), decodeName(rows.bytes(2)), qint32(rows.integer(3)),
            rows.integer(4), rows.integer(5), decodeStoredBytes(rows.bytes(6)) });
    }
    return lines;
}

QList<ChangeEntry> SqliteStore::lineChangesAfter(const SalesRange& range, qint64 after, const std::vector<qint64>& ids)
{
    QList<ChangeEntry> entries;
    if (ids.empty())
        return entries;
    Session session(*this);
    if (!keepsChanges(session))
        return entries;
    QSqlQuery rows = session.run(kChangeColumns
            + QStringLiteral("WHERE UserName=? AND ID>? AND LineID IN (SELECT value FROM json_each(?)) ORDER BY ID"),
        { EncodeText(range.userName), after, QString::fromLatin1(jsonIds(ids)) });
    while (rows.next())
        entries.append(changeAt(rows));
    return entries;
}

QList<SalesLine> SqliteStore::queryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    const QStringList values = rangeValues(range, qMax(day, range.first));
    QList<SalesLine> lines;
    if (count <= 0)
        return lines;
    lines.reserve(count);
    NameDecoder decodeName;
    DayValue dayValue;
    Session session(*this);
    // Seeks to the first day through RecordsByUserDateId and steps over offset entries of the index alone.
    SqliteStatement rows(session.database(),
        QStringLiteral("SELECT ID, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo FROM Records "
                       "WHERE %1 ORDER BY RecDate, ID LIMIT ?4 OFFSET ?5")
            .arg(kSummaryFilter),
        values);
    rows.bind(4, qint64(count));
    rows.bind(5, qMax(offset, qint64(0)));
    while (rows.next()) {
        lines.append({ rows.integer(0), dayValue(rows.bytes(1)), decodeName(rows.bytes(2)), qint32(rows.integer(3)),
            rows.integer(4), rows.integer(5), decodeStoredBytes(rows.bytes(6)) });
    }
    return lines;
}

QList<DayProductRow> SqliteStore::queryDayProductWindow(
    const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    const QStringList values = rangeValues(range, qMax(day, range.first));
    QList<DayProductRow> groups;
    if (count <= 0)
        return groups;
    groups.reserve(count);
    NameDecoder decodeName;
    DayValue dayValue;
    Session session(*this);
    SqliteStatement rows(session.database(),
        QStringLiteral("SELECT RecDate, RecProductName, Quantity, Money, Cost FROM %1 WHERE %2 "
                       "ORDER BY RecDate, FirstID LIMIT ?4 OFFSET ?5")
            .arg(dayProductSource(FSummaries == TSummaries::Kept), kSummaryFilter),
        values);
    rows.bind(4, qint64(count));
    rows.bind(5, qMax(offset, qint64(0)));
    while (rows.next())
        groups.append({ dayValue(rows.bytes(0)), decodeName(rows.bytes(1)), sumsAt(rows, 2) });
    return groups;
}

QList<RankingRow> SqliteStore::queryRanking(const SalesRange& range)
{
    QStringList values = rangeValues(range, range.first);
    QList<RankingRow> ranking;
    NameDecoder decodeName;
    Session session(*this);
    // Whole years and months from their own sums, the days at either end from the day-and-product sums.
    const bool byPeriod = FSummaries == TSummaries::Kept && FMonthSums;
    const QString columns = QStringLiteral("SELECT RecProductName, Quantity, Money, Cost, FirstID FROM ");
    const QString source = byPeriod
        ? QStringLiteral("(%1DayProductSums WHERE UserName=?1 AND RecDate>=?2 AND RecDate<=?3 UNION ALL "
                         "%1MonthProductSums WHERE UserName=?1 AND RecMonth>=?4 AND RecMonth<=?5 UNION ALL "
                         "%1YearProductSums WHERE UserName=?1 AND RecYear>=?6 AND RecYear<=?7 UNION ALL "
                         "%1MonthProductSums WHERE UserName=?1 AND RecMonth>=?8 AND RecMonth<=?9 UNION ALL "
                         "%1DayProductSums WHERE UserName=?1 AND RecDate>=?10 AND RecDate<=?11)")
              .arg(columns)
        : QStringLiteral("(SELECT * FROM %1 WHERE %2)")
              .arg(dayProductSource(FSummaries == TSummaries::Kept), kSummaryFilter);
    if (byPeriod) {
        const RangeParts parts = rangeParts(range.first, range.last);
        // A part the range does not have is a range no key lies in.
        const auto bounds = [&values](const std::pair<QDate, QDate>& part, const QString& format) {
            values << (part.first.isValid() ? part.first.toString(format) : QStringLiteral("9"))
                   << (part.second.isValid() ? part.second.toString(format) : QStringLiteral("0"));
        };
        values = values.mid(0, 1);
        const QString day = QStringLiteral("yyyy-MM-dd"), month = QStringLiteral("yyyy-MM");
        bounds(parts.daysBefore, day);
        bounds(parts.monthsBefore, month);
        bounds(parts.years, QStringLiteral("yyyy"));
        bounds(parts.monthsAfter, month);
        bounds(parts.daysAfter, day);
    }
    // The engine's SUM raises on a total beyond 64 bits.
    SqliteStatement rows(session.database(),
        QStringLiteral("SELECT RecProductName, SUM(Quantity), SUM(Money), SUM(Cost) FROM %1 "
                       "GROUP BY RecProductName ORDER BY SUM(Quantity) DESC, MIN(FirstID)")
            .arg(source),
        values);
    while (rows.next())
        ranking.append({ decodeName(rows.bytes(0)), sumsAt(rows, 1) });
    return ranking;
}
