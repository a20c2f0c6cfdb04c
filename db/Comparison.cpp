#include "db/Comparison.h"

#include "base/Error.h"

#include <QHash>
#include <QMap>
#include <algorithm>

QString comparisonPrefix(Comparison kind)
{
    return kind == Comparison::YearEarlier ? QStringLiteral("去年") : QStringLiteral("上期");
}

std::optional<SalesRange> comparedRange(const SalesRange& range, Comparison kind)
{
    if (kind == Comparison::None || !range.first.isValid() || !range.last.isValid() || range.last < range.first)
        return std::nullopt;
    SalesRange earlier = range;
    if (kind == Comparison::PeriodBefore) {
        const qint64 days = range.first.daysTo(range.last) + 1;
        earlier.first = range.first.addDays(-days);
        earlier.last = range.first.addDays(-1);
    } else {
        earlier.first = range.first.addYears(-1);
        earlier.last = range.last.addYears(-1);
    }
    const QDate firstDay(1, 1, 1);
    if (!earlier.last.isValid() || earlier.last < firstDay)
        return std::nullopt;
    if (!earlier.first.isValid() || earlier.first < firstDay)
        earlier.first = firstDay;
    return earlier;
}

QDate comparedDay(const QDate& day, const SalesRange& range, Comparison kind)
{
    if (kind == Comparison::PeriodBefore)
        return day.addDays(-(range.first.daysTo(range.last) + 1));
    return day.addYears(-1);
}

namespace {

// The day of the range whose row an earlier day is counted on.
QDate rowDayOf(const QDate& earlierDay, const SalesRange& range, Comparison kind)
{
    if (kind == Comparison::PeriodBefore)
        return earlierDay.addDays(range.first.daysTo(range.last) + 1);
    // A year on, clamped into the range: the 28th of a leap February a year on is the range's first day at most.
    return std::clamp(earlierDay.addYears(1), range.first, range.last);
}

void addSums(SalesSums& to, const SalesSums& sums, const QDate& day)
{
    if (__builtin_add_overflow(to.quantity, sums.quantity, &to.quantity)
        || __builtin_add_overflow(to.received, sums.received, &to.received)
        || __builtin_add_overflow(to.cost, sums.cost, &to.cost))
        throw KivaroError(QStringLiteral("%1 对比的合计超出了能计算的范围。").arg(day.toString(Qt::ISODate)));
}

} // namespace

QList<ComparedRow> compareDays(
    const SalesRange& range, Comparison kind, const QList<DayCount>& now, const QList<DayCount>& before)
{
    QMap<QDate, ComparedRow> rows;
    for (const DayCount& day : now) {
        ComparedRow& row = rows[day.day];
        row.day = day.day;
        row.now = day.sums;
    }
    for (const DayCount& day : before) {
        const QDate at = rowDayOf(day.day, range, kind);
        ComparedRow& row = rows[at];
        row.day = at;
        // Two earlier days on one row: a leap day a year earlier.
        addSums(row.before, day.sums, at);
    }
    return rows.values();
}

QList<ComparedRow> compareRankings(const QList<RankingRow>& now, const QList<RankingRow>& before)
{
    QHash<QString, qsizetype> earlier;
    for (qsizetype i = 0; i < before.size(); ++i)
        earlier.insert(before.at(i).productName, i);
    QList<ComparedRow> rows;
    rows.reserve(now.size());
    for (const RankingRow& ranked : now) {
        ComparedRow row { {}, ranked.productName, ranked.sums, {} };
        const auto it = earlier.constFind(ranked.productName);
        if (it != earlier.cend()) {
            row.before = before.at(*it).sums;
            earlier.erase(it);
        }
        rows.append(row);
    }
    for (const RankingRow& ranked : before) {
        if (earlier.contains(ranked.productName))
            rows.append({ {}, ranked.productName, {}, ranked.sums });
    }
    return rows;
}

std::optional<WideCents> changeTenths(WideCents now, WideCents before)
{
    if (before == 0)
        return std::nullopt;
    const WideCents size = before < 0 ? -before : before;
    const WideCents scaled = (now - before) * 1000;
    const WideCents half = size / 2;
    // Half away from zero; a division in C++ rounds towards it.
    return scaled >= 0 ? (scaled + half) / size : -((-scaled + half) / size);
}

QString changeText(const std::optional<WideCents>& tenths, QChar decimalSeparator)
{
    if (!tenths)
        return {};
    const WideCents size = *tenths < 0 ? -*tenths : *tenths;
    const QString sign = *tenths > 0 ? QStringLiteral("+") : *tenths < 0 ? QStringLiteral("-") : QString();
    // The integer part is printed as a whole amount of cents would be, without its two decimals.
    const QString whole = formatWideCents(size / 10 * 100).chopped(3);
    return QStringLiteral("%1%2%3%4%").arg(sign, whole, decimalSeparator, QString::number(int(size % 10)));
}

QString comparedTotalsText(
    Comparison kind, const SalesRange& earlier, const SalesTotals& now, const SalesTotals& before)
{
    const QChar separator = localeDecimalSeparator();
    const QString dayFormat = QStringLiteral("yyyy-MM-dd");
    const WideCents profitNow = now.received - now.cost;
    const WideCents profitBefore = before.received - before.cost;
    const auto change = [separator](WideCents a, WideCents b) {
        const QString text = changeText(changeTenths(a, b), separator);
        return text.isEmpty() ? QString() : QStringLiteral("（%1）").arg(text);
    };
    const QString period = kind == Comparison::YearEarlier ? QStringLiteral("去年同期") : QStringLiteral("上期");
    // A range that begins on the first day there is has nothing before it.
    if (!earlier.first.isValid())
        return now.text() + QLatin1Char('\n') + QStringLiteral("%1：没有更早的日子可比").arg(period);
    return now.text() + QLatin1Char('\n')
        + QStringLiteral("%1 %2 至 %3：数量 %4%5  实收 %6%7  利润 %8%9")
              .arg(kind == Comparison::YearEarlier ? QStringLiteral("去年同期") : QStringLiteral("上期"),
                  earlier.first.toString(dayFormat), earlier.last.toString(dayFormat), QString::number(before.quantity),
                  change(now.quantity, before.quantity), formatWideCents(before.received, separator),
                  change(now.received, before.received), formatWideCents(profitBefore, separator),
                  change(profitNow, profitBefore));
}
