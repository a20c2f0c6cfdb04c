#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

// A run that did not produce what it should have; the benchmark stops with this text.
class BenchError : public std::runtime_error
{
public:
    explicit BenchError(const QString& text)
        : std::runtime_error(text.toStdString())
    {
    }
};

// Stops the benchmark when a run's result is wrong: a fast wrong answer proves nothing.
void check(bool condition, const QString& what);

struct Stats
{
    double min = 0;
    double median = 0;
    double max = 0;

    static Stats of(std::vector<double> values);
};

// What a figure is held to: its median at most limit, or the ratio of the medians at most limit.
struct Target
{
    enum class Kind { None, Median, Ratio };
    Kind kind = Kind::None;
    double limit = 0;

    static Target median(double limit) { return { Kind::Median, limit }; }
    static Target ratio(double limit) { return { Kind::Ratio, limit }; }
};

struct Result
{
    QString name;
    // Figures are kept in seconds or bytes; the table shows them in this unit.
    QString unit = QStringLiteral("ms");
    int runs = 0;
    Stats measured;
    std::optional<Stats> baseline;
    Target target;
    QString note;
    // Not measured; the note says why.
    bool skipped = false;

    double ratio() const { return baseline && baseline->median > 0 ? measured.median / baseline->median : 0; }
    bool judged() const { return target.kind != Target::Kind::None; }
    bool met() const;
};

// The row of a measurement that did not run.
Result skippedResult(const QString& name, const Target& target, const QString& why);

struct RunPlan
{
    int warmups = 1;
    int runs = 7;
};

// Times one run of the code given; the code may do untimed preparation around the part it times by returning
// the seconds itself, so each function returns the figure of one run.
using RunFunction = std::function<double()>;

// Warm-up runs, then the runs of the plan. With a baseline each run times both, one after the other, alternating
// which goes first, so that whatever the machine does meanwhile falls on both alike.
Result measure(const QString& name, const RunPlan& plan, const RunFunction& measured, const RunFunction& baseline = {},
    const QString& unit = QStringLiteral("ms"));

// For measurements whose baseline is interleaved inside each run, step by step: one call times both and returns the
// measured figure and the baseline's.
using PairedRunFunction = std::function<std::pair<double, double>()>;
Result measurePaired(
    const QString& name, const RunPlan& plan, const PairedRunFunction& run, const QString& unit = QStringLiteral("ms"));

// A figure in the unit the table shows.
double inUnit(const QString& unit, double value);

class Stopwatch
{
public:
    Stopwatch() { m_timer.start(); }
    double seconds() const { return m_timer.nsecsElapsed() / 1e9; }

private:
    QElapsedTimer m_timer;
};

// CPU seconds this thread has used, to tell the client's work from the wait for a server.
double threadCpuSeconds();

// The table of all results, in Markdown; without judging, the last column stays empty.
QString resultTable(const std::vector<Result>& results, bool judge = true);
