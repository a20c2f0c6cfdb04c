#include "bench/BenchCases.h"

#include "db/DbClass.h"
#include "db/KeptSession.h"
#include "db/SalesCsv.h"
#include "forms/ChartPage.h"
#include "forms/EntryPage.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "reports/ViewExport.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>

namespace {

// What the user keeps at this computer in all, whichever window keeps it.
qsizetype keptCount(const QString& user)
{
    TDbMan db;
    return allKeptLines(db, user).size();
}

const char* const kFeatureChild = "--child-feature";

qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Exports the detail view of a range from the ledger in a data folder: argv xlsx|csv DATADIR USER FIRST LAST FILE.
// Reports the rows written, the seconds and the peak resident memory.
int exportChild(char** argv)
{
    TDbMan store(QString::fromLocal8Bit(argv[3]));
    const SalesRange range { QString::fromUtf8(argv[4]), QDate::fromString(QString::fromLatin1(argv[5]), Qt::ISODate),
        QDate::fromString(QString::fromLatin1(argv[6]), Qt::ISODate) };
    const QString file = QString::fromLocal8Bit(argv[7]);
    const qint64 before = peakKb();
    Stopwatch clock;
    ViewRows rows(store, ReviewView::Detail, range);
    if (qstrcmp(argv[2], "xlsx") == 0)
        exportXlsx(rows, file);
    else
        exportCsv(rows, file);
    const double seconds = clock.seconds();
    std::printf("rows %lld seconds %.6f hwm %lld before %lld\n", rows.count(), seconds, peakKb(), before);
    return 0;
}

// Imports a CSV file into the entry page of a fresh ledger: argv import FILE. Reports the rows shown.
int importChild(char** argv)
{
    TestDataHome home;
    TfrmMain form;
    const QString user = QStringLiteral("张三");
    check(TDbMan().AddUser(user, QStringLiteral("bench")), QStringLiteral("cannot add the user"));
    form.PrepareForUser(user);
    form.show();
    QCoreApplication::processEvents();
    auto* page = child<TEntryPage>(&form, "Panel2");
    QAbstractItemModel* pending = child<QTreeView>(&form, "ListView1")->model();
    const qint64 before = peakKb();
    Stopwatch clock;
    const SalesImport read = readSalesCsv(QString::fromLocal8Bit(argv[3]), QLatin1Char('.'));
    const double parsed = clock.seconds();
    page->addImportedLines(read.lines);
    QCoreApplication::processEvents();
    const double seconds = clock.seconds();
    std::printf("rows %d seconds %.6f hwm %lld before %lld parsed %.6f problems %lld kept %lld\n", pending->rowCount(),
        seconds, peakKb(), before, parsed, qint64(read.problems.size()), qint64(keptCount(user)));
    return 0;
}

int featureChild(int argc, char** argv)
{
    QApplication app(argc, argv);
    prepareTestApplication();
    int code = 2;
    try {
        if (argc >= 8 && (qstrcmp(argv[2], "xlsx") == 0 || qstrcmp(argv[2], "csv") == 0))
            code = exportChild(argv);
        else if (argc >= 4 && qstrcmp(argv[2], "import") == 0)
            code = importChild(argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        code = 1;
    }
    std::fflush(stdout);
    // Tearing the window and the store down is not what is measured.
    std::_Exit(code);
}

struct ChildRun
{
    qint64 rows = 0;
    double seconds = 0;
    double peakBytes = 0;
    double beforeBytes = 0;
    QList<QByteArray> rest;
};

ChildRun startFeatureChild(const QStringList& args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QCoreApplication::applicationFilePath(), QStringList { QString::fromLatin1(kFeatureChild) } + args);
    check(process.waitForFinished(600'000) && process.exitCode() == 0,
        QStringLiteral("the %1 child failed: %2")
            .arg(args.value(0), QString::fromLocal8Bit(process.readAllStandardError())));
    const QList<QByteArray> words = process.readAllStandardOutput().trimmed().split(' ');
    check(words.size() >= 8 && words[0] == "rows",
        QStringLiteral("the %1 child said %2").arg(args.value(0), QString::fromLocal8Bit(words.join(' '))));
    return { words[1].toLongLong(), words[3].toDouble(), words[5].toDouble() * 1024, words[7].toDouble() * 1024,
        words.mid(8) };
}

// Time and peak memory of fresh children; the rows each wrote or showed must be expected.
void measureChildren(BenchContext& context, const QString& key, const QString& what, const QStringList& args,
    qint64 expected, double seconds, const std::function<QString(const ChildRun&)>& extra = {})
{
    std::vector<double> times, peaks, before;
    ChildRun last;
    const auto run = [&] {
        last = startFeatureChild(args);
        check(last.rows == expected, QStringLiteral("%1: %2 rows, expected %3").arg(key).arg(last.rows).arg(expected));
        times.push_back(last.seconds);
        peaks.push_back(last.peakBytes);
        before.push_back(last.beforeBytes);
        return last.seconds;
    };
    Result time
        = measure(QStringLiteral("%1. %2: time").arg(key, what), context.config.slowPlan, run, {}, QStringLiteral("s"));
    time.target = Target::median(seconds);
    time.note = QStringLiteral("timed inside a fresh process per run")
        + (extra ? QStringLiteral("; ") + extra(last) : QString());
    context.results.push_back(time);

    const size_t warm = size_t(context.config.slowPlan.warmups);
    Result memory;
    memory.name = QStringLiteral("%1m. %2: peak resident memory").arg(key, what);
    memory.unit = QStringLiteral("MB");
    memory.runs = context.config.slowPlan.runs;
    memory.measured = Stats::of(std::vector<double>(peaks.begin() + warm, peaks.end()));
    memory.target = Target::median(200e6);
    memory.note = QStringLiteral("VmHWM of the same processes; %1 MB before the work began")
                      .arg(Stats::of(std::vector<double>(before.begin() + warm, before.end())).median / 1e6, 0, 'f', 1);
    context.results.push_back(memory);
}

void exportCase(BenchContext& context, const QString& key, const char* format, double seconds)
{
    const SalesData& data = context.data;
    TestDataHome home(data.file);
    const QString user = data.users.first();
    const QDate last = data.params.lastDay();
    const QDate first = data.firstDayForLines(user, context.config.reviewLines);
    const qint64 lines = data.countLines(user, first, last);
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("detail.") + QLatin1String(format));
    measureChildren(context, key,
        QStringLiteral("export of %1 detail rows to .%2").arg(lines).arg(QLatin1String(format)),
        { QString::fromLatin1(format), home.dataDir(), user, first.toString(Qt::ISODate), last.toString(Qt::ISODate),
            file },
        lines, seconds,
        [&](const ChildRun&) { return QStringLiteral("file of %1 MB").arg(QFile(file).size() / 1e6, 0, 'f', 1); });
    // A CSV holds the header, a line a row and the totals line at most; an xlsx is a zip that begins with PK.
    QFile written(file);
    check(written.open(QIODevice::ReadOnly), QStringLiteral("no exported file"));
    if (qstrcmp(format, "csv") == 0) {
        const qint64 newlines = written.readAll().count('\n');
        check(newlines >= lines + 1 && newlines <= lines + 2,
            QStringLiteral("the CSV holds %1 lines for %2 rows").arg(newlines).arg(lines));
    } else {
        check(written.read(2) == "PK", QStringLiteral("the xlsx is no zip"));
    }
}

// A CSV as a shop's other program writes it: a header, the six columns, amounts with a full stop.
void writeImportFile(const QString& path, const SalesData& data, qint64 rows, int products)
{
    const QStringList names = makeProductNames(products, data.params.seed ^ 0x1a9);
    LineMaker maker(data.params.seed ^ 0x1a90, products);
    QByteArray bytes = "日期,品名,数量,实收,成本,备注\r\n";
    const QDate first = data.params.lastDay().addDays(-364);
    const auto cents = [](qint64 v) -> QByteArray {
        return (v < 0 ? QByteArray("-") : QByteArray()) + QByteArray::number(qAbs(v) / 100) + '.'
            + QByteArray::number(qAbs(v) % 100).rightJustified(2, '0');
    };
    const auto quoted
        = [](const QString& text) -> QByteArray { return '"' + text.toUtf8().replace("\"", "\"\"") + '"'; };
    for (qint64 i = 0; i < rows; ++i) {
        const GeneratedLine g = maker.next();
        QByteArray line = first.addDays(i * 365 / rows).toString(Qt::ISODate).toLatin1();
        line += ',' + quoted(names.at(g.product)) + ',' + QByteArray::number(g.quantity) + ',' + cents(g.received) + ','
            + cents(g.cost) + ',';
        if (g.memo >= 0)
            line += quoted(maker.memos().at(g.memo));
        bytes += line + "\r\n";
    }
    QFile file(path);
    check(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), QStringLiteral("cannot write ") + path);
}

} // namespace

int runFeatureChild(int argc, char** argv)
{
    if (argc > 2 && qstrcmp(argv[1], kFeatureChild) == 0)
        return featureChild(argc, argv);
    return -1;
}

void benchExportXlsx(BenchContext& context)
{
    exportCase(context, QStringLiteral("X1"), "xlsx", 3.0);
}

void benchExportCsv(BenchContext& context)
{
    exportCase(context, QStringLiteral("X2"), "csv", 1.0);
}

void benchImportCsv(BenchContext& context)
{
    const qint64 rows = context.config.importRows;
    const int products = context.config.importProducts;
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("sales.csv"));
    writeImportFile(file, context.data, rows, products);
    measureChildren(context, QStringLiteral("X3"),
        QStringLiteral("import of a %1-row CSV (%2 product names) into the pending list").arg(rows).arg(products),
        { QStringLiteral("import"), file }, rows, 3.0, [&](const ChildRun& last) {
            check(last.rest.size() >= 6 && last.rest[3] == "0", QStringLiteral("the import found bad rows"));
            return QStringLiteral("reading the file %1 s of it (last run); %2 lines kept in the store after (%3); "
                                  "file of %4 MB")
                .arg(last.rest[1].toDouble(), 0, 'f', 2)
                .arg(QString::fromLatin1(last.rest[5]))
                .arg(last.rest[5].toLongLong() == rows ? QStringLiteral("the page keeps imported lines")
                                                       : QStringLiteral("the page does not keep imported lines"))
                .arg(QFile(file).size() / 1e6, 0, 'f', 1);
        });
}

// The chart page over all five years of the one-user file, from the day rows read to the page painted.
void benchChartPage(BenchContext& context)
{
    DataParams params = context.config.data;
    params.users = 1;
    const SalesData data = SalesData::prepare(params, context.config.cacheDir);
    TestDataHome home(data.file);
    const SalesRange range { data.users.first(), params.firstDay(), params.lastDay() };
    const qint64 lines = data.countLines(range.userName, range.first, range.last);
    TDbMan store;
    TChartPage page;
    page.resize(1000, 700);
    page.show();
    QCoreApplication::processEvents();
    SalesTotals totals;
    const auto run = [&] {
        page.clear();
        QCoreApplication::processEvents();
        Stopwatch clock;
        const QList<DayCount> days = store.QueryDays(range);
        totals = {};
        for (const DayCount& day : days)
            totals.add(day.sums, day.lines);
        page.showRange(range, days, {}, totals);
        const QImage shown = page.grab().toImage();
        const double seconds = clock.seconds();
        check(!shown.isNull(), QStringLiteral("the chart page was not painted"));
        return seconds;
    };
    Result result = measure(QStringLiteral("C1. chart page over %1 years of one user's %2 lines: day rows, showRange, "
                                           "page painted")
                                .arg(params.years)
                                .arg(lines),
        context.config.plan, run);
    qint64 pointLines = 0;
    for (const ChartPoint& point : page.trend().points)
        pointLines += point.lines;
    check(totals.lines == lines && pointLines == lines,
        QStringLiteral("the chart holds %1 lines, the day rows %2, the file %3")
            .arg(pointLines)
            .arg(totals.lines)
            .arg(lines));
    check(page.trend().period == ChartPeriod::Month && page.trend().points.size() == params.years * 12,
        QStringLiteral("the chart shows %1 periods").arg(page.trend().points.size()));
    check(page.rankingPending(), QStringLiteral("the chart did not wait for its ranking"));
    result.target = Target::median(0.3);
    result.note
        = QStringLiteral("%1 monthly points; the ranking is not part of it: the page waits for it (setRanking), "
                         "which the review page computes away from the window afterwards")
              .arg(page.trend().points.size());
    context.results.push_back(result);
}
