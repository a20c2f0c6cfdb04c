#include "bench/BenchCases.h"
#include "tests/support/LedgerSeed.h"

#include "db/DbClass.h"
#include "db/Numbers.h"

#include <sqlite3.h>

namespace {

QString rangeText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy/MM/dd"));
}

qint64 detailQuantity(const QStringList& detail)
{
    qint64 sum = 0;
    for (qsizetype at = 3; at < detail.size(); at += 7)
        sum += detail.at(at).toLongLong();
    return sum;
}

qint64 rawDetailQuantity(const std::vector<std::string>& texts, size_t rows)
{
    qint64 sum = 0;
    for (size_t row = 0; row < rows; ++row)
        sum += std::stoll(texts[row * 7 + 3]);
    return sum;
}

// A grouped report statement over the lines themselves, as the review views ran before the summaries; returns the
// rows and the first column of the first row.
std::pair<qint64, std::string> rawGrouped(
    RawSqliteDb& db, int statement, const std::string& user, const QDate& first, const QDate& last)
{
    RawSqliteStatement query(db, reportStatements().at(statement).toStdString());
    query.bind(1, user);
    query.bind(2, dayStd(first));
    query.bind(3, dayStd(last));
    qint64 rows = 0;
    std::string head;
    for (; query.step(); ++rows) {
        if (rows == 0)
            head = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0));
    }
    return { rows, head };
}

QString queryPlan(RawSqliteDb& db, const std::string& statement)
{
    RawSqliteStatement plan(db, "EXPLAIN QUERY PLAN " + statement);
    QStringList steps;
    while (plan.step())
        steps.append(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(plan.get(), 3))));
    return steps.join(QStringLiteral("; "));
}

// The review views of one user with all the lines over five years: the day list, a window at the very end, and the
// ranking, read from the summaries; the grouped statements over the lines are the baseline.
void benchReviewSummaries(BenchContext& context)
{
    DataParams params = context.config.data;
    params.users = 1;
    const SalesData data = SalesData::prepare(params, context.config.cacheDir);
    TestDataHome home(data.file);
    const QString user = data.users.first();
    const std::string encodedUser = encodedStd(user);
    const SalesRange all { user, params.firstDay(), params.lastDay() };
    const SalesRange lastYear { user, QDate(params.lastDay().year(), 1, 1), params.lastDay() };
    const qint64 lines = data.countLines(user, all.first, all.last);
    const qint64 dayCount = data.countDays(user, all.first, all.last);

    TDbMan db;
    check(hasSummaries(db, home.dbPath()), QStringLiteral("the generated file has no summaries"));
    RawSqliteDb raw(home.dbPath(), false);
    const auto name = [&](char key, const QString& what) {
        return QStringLiteral("1%1. one user, %2 lines over %3 years: %4")
            .arg(QLatin1Char(key))
            .arg(lines)
            .arg(params.years)
            .arg(what);
    };

    QList<DayCount> days;
    Result daysResult = measure(
        name('b', QStringLiteral("QueryDays over all years vs grouping the lines")), context.config.plan,
        [&] {
            Stopwatch clock;
            QList<DayCount> fetched = db.QueryDays(all);
            const double seconds = clock.seconds();
            std::swap(days, fetched);
            return seconds;
        },
        [&] {
            Stopwatch clock;
            const auto grouped = rawGrouped(raw, 1, encodedUser, all.first, all.last);
            const double seconds = clock.seconds();
            check(grouped.first == dayCount, QStringLiteral("the raw daily statement returned another number of days"));
            return seconds;
        });
    qint64 summed = 0;
    for (const DayCount& day : days)
        summed += day.lines;
    check(days.size() == dayCount && summed == lines,
        QStringLiteral("QueryDays returned %1 days and %2 lines, expected %3 and %4")
            .arg(days.size())
            .arg(summed)
            .arg(dayCount)
            .arg(lines));
    context.results.push_back(daysResult);

    // The window that ends at the last line, as the detail view fetches it when scrolled to the bottom.
    const int window = 100;
    qint64 offset = lines - window;
    QDate start;
    for (const DayCount& day : days) {
        start = day.day;
        if (offset < day.lines)
            break;
        offset -= day.lines;
    }
    RawSqliteStatement maxId(raw, "SELECT MAX(ID) FROM Records WHERE UserName=?");
    maxId.bind(1, encodedUser);
    check(maxId.step(), QStringLiteral("no last line"));
    const qint64 lastId = sqlite3_column_int64(maxId.get(), 0);
    QList<SalesLine> tail;
    Result windowResult
        = measure(name('c', QStringLiteral("QueryLineWindow of %1 lines ending at the last").arg(window)),
            context.config.plan, [&] {
                Stopwatch clock;
                QList<SalesLine> fetched = db.QueryLineWindow(all, start, offset, window);
                const double seconds = clock.seconds();
                std::swap(tail, fetched);
                return seconds;
            });
    check(tail.size() == window && tail.last().id == lastId,
        QStringLiteral("the last window held %1 lines ending at ID %2, expected %3 ending at %4")
            .arg(tail.size())
            .arg(tail.isEmpty() ? 0 : tail.last().id)
            .arg(window)
            .arg(lastId));
    windowResult.note
        = QStringLiteral("%1 lines on the last day; plan: %2")
              .arg(days.last().lines)
              .arg(queryPlan(raw,
                  "SELECT ID, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo FROM Records "
                  "WHERE UserName=?1 AND RecDate>=?2 AND RecDate<=?3 ORDER BY RecDate, ID LIMIT ?4 OFFSET ?5"));
    context.results.push_back(windowResult);

    for (const auto& [key, range, what] : { std::tuple { 'd', all, QStringLiteral("all years") },
             std::tuple { 'e', lastYear, QStringLiteral("the last year") } }) {
        QList<RankingRow> ranking;
        std::pair<qint64, std::string> rawRanking;
        Result result = measure(
            name(key, QStringLiteral("QueryRanking over %1 vs grouping the lines").arg(what)), context.config.plan,
            [&] {
                Stopwatch clock;
                QList<RankingRow> fetched = db.QueryRanking(range);
                const double seconds = clock.seconds();
                std::swap(ranking, fetched);
                return seconds;
            },
            [&] {
                Stopwatch clock;
                rawRanking = rawGrouped(raw, 3, encodedUser, range.first, range.last);
                return clock.seconds();
            });
        check(ranking.size() == rawRanking.first && encodedStd(ranking.value(0).productName) == rawRanking.second,
            QStringLiteral("QueryRanking disagrees with the raw ranking: %1 products, first %2")
                .arg(ranking.size())
                .arg(ranking.value(0).productName));
        qint64 groups = 0;
        for (const DayCount& day : days)
            groups += day.day >= range.first ? day.rows : 0;
        result.target = Target::median(key == 'd' ? 0.1 : 0.03);
        result.note = QStringLiteral(
            "%1 products; whole years and months from their own sums, the other days from the day sums "
            "(%2 rows per day and product in the range)")
                          .arg(ranking.size())
                          .arg(groups);
        context.results.push_back(result);
    }
}

void benchReportLists(BenchContext& context)
{
    const SalesData& data = context.data;
    TestDataHome home(data.file);
    const QString user = data.users.first();
    // A whole year near the end of the data, when the table is at its largest.
    const int year = data.params.firstYear + data.params.years - 2;
    const QDate first(year, 1, 1);
    const QDate last(year, 12, 31);
    const qint64 expected = data.countLines(user, first, last);

    TDbMan db;
    QStringList detail, daily, products, ranking;
    std::vector<std::string> texts;
    std::array<size_t, 4> rawRows {};
    const std::string encodedUser = encodedStd(user);
    // Each run fills new lists, as the review page does; freeing the last run's results is not timed on either side.
    const auto measured = [&] {
        QStringList lists[4];
        Stopwatch clock;
        queryReport(db, user, rangeText(first), rangeText(last), lists[0], lists[1], lists[2], lists[3]);
        const double seconds = clock.seconds();
        std::swap(detail, lists[0]);
        std::swap(daily, lists[1]);
        std::swap(products, lists[2]);
        std::swap(ranking, lists[3]);
        return seconds;
    };
    const auto baseline = [&] {
        std::vector<std::string> strings;
        Stopwatch clock;
        rawRows = rawReport(home.dbPath(), encodedUser, dayStd(first), dayStd(last), strings);
        const double seconds = clock.seconds();
        std::swap(texts, strings);
        return seconds;
    };
    Result result = measure(QStringLiteral("1. QueryReport, one user-year (%1 lines) vs raw sqlite3").arg(expected),
        context.config.plan, measured, baseline);

    check(detail.size() == expected * 7 && rawRows[0] == size_t(expected),
        QStringLiteral("QueryReport returned %1 detail texts, expected %2").arg(detail.size()).arg(expected * 7));
    check(daily.size() == qsizetype(rawRows[1] * 5) && products.size() == qsizetype(rawRows[2] * 6)
            && ranking.size() == qsizetype(rawRows[3] * 5),
        QStringLiteral("QueryReport and the raw statements disagree on the grouped rows"));
    check(detailQuantity(detail) == rawDetailQuantity(texts, rawRows[0]),
        QStringLiteral("QueryReport's quantities differ from the raw rows"));
    check(data.products.contains(detail.value(2)) && data.products.contains(ranking.value(0)),
        QStringLiteral("QueryReport decoded an unknown product name: ") + detail.value(2));

    result.target = Target::ratio(1.2);
    result.note = QStringLiteral("rows: %1 detail, %2 daily, %3 per day and product, %4 ranking")
                      .arg(rawRows[0])
                      .arg(rawRows[1])
                      .arg(rawRows[2])
                      .arg(rawRows[3]);
    context.results.push_back(result);
}

} // namespace

void benchQueryReport(BenchContext& context)
{
    benchReportLists(context);
    benchReviewSummaries(context);
}
