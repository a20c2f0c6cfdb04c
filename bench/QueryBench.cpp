#include "bench/BenchCases.h"

#include "db/DbClass.h"
#include "db/Numbers.h"

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

} // namespace

void benchQueryReport(BenchContext& context)
{
    const SalesData& data = context.data;
    DataHome home(data.file);
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
        db.QueryReport(user, rangeText(first), rangeText(last), lists[0], lists[1], lists[2], lists[3]);
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
