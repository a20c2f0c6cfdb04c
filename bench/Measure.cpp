#include "bench/Measure.h"

#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <ctime>

void check(bool condition, const QString& what)
{
    if (!condition)
        throw BenchError(what);
}

Stats Stats::of(std::vector<double> values)
{
    check(!values.empty(), QStringLiteral("a measurement without runs"));
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return { values.front(), median, values.back() };
}

Result skippedResult(const QString& name, const Target& target, const QString& why)
{
    std::fprintf(stderr, "  %s: skipped, %s\n", qPrintable(name), qPrintable(why));
    Result result;
    result.name = name;
    result.target = target;
    result.note = QStringLiteral("skipped: ") + why;
    result.skipped = true;
    return result;
}

bool Result::met() const
{
    switch (target.kind) {
    case Target::Kind::Median:
        return measured.median <= target.limit;
    case Target::Kind::Ratio:
        return baseline && ratio() <= target.limit;
    case Target::Kind::None:
        break;
    }
    return true;
}

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double inUnit(const QString& unit, double value)
{
    if (unit == QLatin1String("MB"))
        return value / 1e6;
    if (unit == QLatin1String("s"))
        return value;
    return value * 1000;
}

Result measure(const QString& name, const RunPlan& plan, const RunFunction& measured, const RunFunction& baseline,
    const QString& unit)
{
    std::fprintf(stderr, "  %s ...", qPrintable(name));
    std::fflush(stderr);
    for (int i = 0; i < plan.warmups; ++i) {
        measured();
        if (baseline)
            baseline();
    }
    std::vector<double> own;
    std::vector<double> floor;
    for (int i = 0; i < plan.runs; ++i) {
        if (baseline && i % 2 == 1) {
            floor.push_back(baseline());
            own.push_back(measured());
        } else {
            own.push_back(measured());
            if (baseline)
                floor.push_back(baseline());
        }
        std::fprintf(stderr, " %.1f", inUnit(unit, own.back()));
        std::fflush(stderr);
    }
    std::fprintf(stderr, "\n");
    Result result;
    result.name = name;
    result.unit = unit;
    result.runs = plan.runs;
    result.measured = Stats::of(own);
    if (baseline)
        result.baseline = Stats::of(floor);
    return result;
}

Result measurePaired(const QString& name, const RunPlan& plan, const PairedRunFunction& run, const QString& unit)
{
    std::fprintf(stderr, "  %s ...", qPrintable(name));
    std::fflush(stderr);
    for (int i = 0; i < plan.warmups; ++i)
        run();
    std::vector<double> own;
    std::vector<double> floor;
    for (int i = 0; i < plan.runs; ++i) {
        const auto [measured, baseline] = run();
        own.push_back(measured);
        floor.push_back(baseline);
        std::fprintf(stderr, " %.2f/%.2f", inUnit(unit, measured), inUnit(unit, baseline));
        std::fflush(stderr);
    }
    std::fprintf(stderr, "\n");
    Result result;
    result.name = name;
    result.unit = unit;
    result.runs = plan.runs;
    result.measured = Stats::of(own);
    result.baseline = Stats::of(floor);
    return result;
}

namespace {

QString figure(const Result& result, double value)
{
    const double v = inUnit(result.unit, value);
    return QString::number(v, 'f', v < 10 ? 2 : 1);
}

QString targetText(const Result& result)
{
    switch (result.target.kind) {
    case Target::Kind::Median:
        return QStringLiteral("≤ %1 %2").arg(figure(result, result.target.limit), result.unit);
    case Target::Kind::Ratio:
        return QStringLiteral("ratio ≤ %1").arg(result.target.limit, 0, 'f', 2);
    case Target::Kind::None:
        break;
    }
    return QStringLiteral("—");
}

} // namespace

QString resultTable(const std::vector<Result>& results, bool judge)
{
    QStringList lines;
    lines << QStringLiteral("| measurement | runs | min | median | max | baseline median | ratio | target | met |");
    lines << QStringLiteral("|---|---:|---:|---:|---:|---:|---:|---|---|");
    for (const Result& r : results) {
        if (r.skipped) {
            lines << QStringLiteral("| %1 | 0 | — | — | — | — | — | %2 | skipped |").arg(r.name, targetText(r));
            continue;
        }
        const QString unit = QLatin1Char(' ') + r.unit;
        lines << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 |")
                     .arg(r.name, QString::number(r.runs), figure(r, r.measured.min) + unit,
                         figure(r, r.measured.median) + unit, figure(r, r.measured.max) + unit,
                         r.baseline ? figure(r, r.baseline->median) + unit : QStringLiteral("—"),
                         r.baseline ? QString::number(r.ratio(), 'f', 2) : QStringLiteral("—"), targetText(r),
                         judge && r.judged() ? (r.met() ? QStringLiteral("yes") : QStringLiteral("**no**"))
                                             : QStringLiteral("—"));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
