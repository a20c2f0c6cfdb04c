#include "bench/BenchCases.h"
#include "bench/RawSqlite.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QSysInfo>
#include <QThread>
#include <cstdio>
#include <functional>

#ifndef KIVARO_BENCH_CACHE
#define KIVARO_BENCH_CACHE "bench-data"
#endif

BenchConfig BenchConfig::full()
{
    BenchConfig config;
    config.plan = { 1, 7 };
    config.slowPlan = { 1, 5 };
    config.cacheDir = QString::fromLocal8Bit(KIVARO_BENCH_CACHE);
    return config;
}

BenchConfig BenchConfig::quickRun()
{
    BenchConfig config = full();
    config.quick = true;
    config.plan = { 0, 1 };
    config.slowPlan = { 0, 1 };
    config.data.rows = 20'000;
    config.data.products = 300;
    config.reviewLines = 2'000;
    config.saveLines = 200;
    config.addLines = 50;
    config.productsFileNames = 500;
    config.reportRows = 500;
    config.reportPages = 11;
    config.reportMemoryRows = 2'000;
    config.keptLines = 50;
    config.importRows = 2'000;
    config.importProducts = 100;
    return config;
}

namespace {

QString firstLine(const QString& path, const QByteArray& prefix)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return QString::fromLocal8Bit(line.mid(line.indexOf(':') + 1).trimmed());
    }
    return {};
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

QString machineLine()
{
    return QStringLiteral("%1; %2 cores (%3); %4 memory; %5; Qt %6, SQLite %7; build %8")
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
            QString::number(QThread::idealThreadCount()), firstLine(QStringLiteral("/proc/cpuinfo"), "model name"),
            firstLine(QStringLiteral("/proc/meminfo"), "MemTotal"), QSysInfo::prettyProductName(),
            QString::fromLatin1(qVersion()), sqliteVersion(), QStringLiteral(KIVARO_BENCH_BUILD_TYPE));
}

struct Options
{
    bool quick = false;
    int runs = 0;
    QString cacheDir;
    QStringList only;
    QString markdown;
    bool server = false;
    QString noServer;
    QString serverDatabase;
};

Options parse(const QStringList& args)
{
    Options options;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const QString value = args.value(i + 1);
        if (a == QLatin1String("--quick")) {
            options.quick = true;
        } else if (a == QLatin1String("--runs")) {
            options.runs = value.toInt();
            ++i;
        } else if (a == QLatin1String("--cache-dir")) {
            options.cacheDir = value;
            ++i;
        } else if (a == QLatin1String("--only")) {
            options.only = value.split(QLatin1Char(','));
            ++i;
        } else if (a == QLatin1String("--markdown")) {
            options.markdown = value;
            ++i;
        } else if (a == QLatin1String("--server")) {
            options.server = true;
        } else if (a == QLatin1String("--no-server")) {
            options.noServer = value;
            ++i;
        } else if (a == QLatin1String("--server-database")) {
            options.serverDatabase = value;
            ++i;
        } else {
            throw BenchError(QStringLiteral(
                "unknown argument %1\nusage: kivaro_bench [--quick] [--runs N] "
                "[--cache-dir DIR] [--only 1,2,...,5,5c,6,7,8,8d,b1,b2,x1,x2,x3,c1,k1,k2,s1,s2,s3,s4,s5,s6,s7,s8] "
                "[--markdown FILE] [--server [--server-database NAME] | --no-server WHY]\n"
                "--server runs the cases s1-s8 on the PostgreSQL server that libpq's "
                "environment names (PGHOST, PGPORT, PGUSER, PGPASSWORD)")
                                 .arg(a));
        }
    }
    return options;
}

int runBenchmarks(const Options& options)
{
    BenchContext context;
    context.config = options.quick ? BenchConfig::quickRun() : BenchConfig::full();
    if (options.runs > 0) {
        context.config.plan.runs = options.runs;
        context.config.slowPlan.runs = options.runs;
    }
    if (!options.cacheDir.isEmpty())
        context.config.cacheDir = options.cacheDir;
    context.config.serverDatabase = options.serverDatabase;
    if (!options.noServer.isEmpty())
        context.serverSkipped = options.noServer;
    else if (!options.server)
        context.serverSkipped = QStringLiteral("no server asked for (kivaro_bench --server)");
    else
        context.serverSkipped = ServerData::whyUnreachable();
    const QString serverLine = context.serverSkipped.isEmpty()
        ? QStringLiteral("server: ") + ServerData::describe()
        : QStringLiteral("server cases skipped: ") + context.serverSkipped;
    const QString loadBefore = loadAverage();
    context.data = SalesData::prepare(context.config.data, context.config.cacheDir);
    std::fprintf(stderr, "data: %s\n", qPrintable(context.data.file));

    const std::vector<std::pair<QString, std::function<void(BenchContext&)>>> cases {
        { QStringLiteral("1"), benchQueryReport }, { QStringLiteral("2"), benchReviewPage },
        { QStringLiteral("3"), benchSavePending }, { QStringLiteral("4"), benchAddLine },
        { QStringLiteral("5"), benchReport }, { QStringLiteral("5c"), benchReportMemory },
        { QStringLiteral("6"), benchStartup }, { QStringLiteral("7"), benchPeakMemory },
        { QStringLiteral("8"), benchBigReview }, { QStringLiteral("8d"), benchBigReviewMemory },
        { QStringLiteral("b1"), benchBackup }, { QStringLiteral("b2"), benchRestore },
        { QStringLiteral("x1"), benchExportXlsx }, { QStringLiteral("x2"), benchExportCsv },
        { QStringLiteral("x3"), benchImportCsv }, { QStringLiteral("c1"), benchChartPage },
        // After case 3, whose ratio is the target of k2.
        { QStringLiteral("k1"), benchAddKept }, { QStringLiteral("k2"), benchSaveKept },
        { QStringLiteral("p1"), benchScanAtTill },
        // Last: loading the server's data leaves work to its background processes.
        { QStringLiteral("s1"), benchServerQueries }, { QStringLiteral("s2"), benchServerSave },
        { QStringLiteral("s3"), benchServerReview }, { QStringLiteral("s4"), benchServerRowSecurity },
        { QStringLiteral("s5"), benchServerShopReview }, { QStringLiteral("s6"), benchOutboxSend },
        { QStringLiteral("s7"), benchEightTills }, { QStringLiteral("s8"), benchServerRanking },
        { QStringLiteral("s9"), benchServerFind }
    };
    for (const auto& [key, run] : cases) {
        if (options.only.isEmpty() || options.only.contains(key))
            run(context);
    }

    QString serverData = serverLine;
    if (context.server) {
        serverData += context.server->loadSeconds < 0
            ? QStringLiteral("; database %1 kept from an earlier run").arg(context.server->database)
            : QStringLiteral("; database %1 loaded in %2 s")
                  .arg(context.server->database)
                  .arg(context.server->loadSeconds, 0, 'f', 1);
        // A quick run's database is of no use to the next run.
        if (context.config.quick)
            context.server->drop();
    }
    const QString header = QStringLiteral("%1\n%2 lines, %3 users, %4 years from %5, %6 product names; load average "
                                          "%7 before, %8 after\n%9\n\n")
                               .arg(machineLine())
                               .arg(context.config.data.rows)
                               .arg(context.config.data.users)
                               .arg(context.config.data.years)
                               .arg(context.config.data.firstYear)
                               .arg(context.config.data.products)
                               .arg(loadBefore, loadAverage(), serverData);
    QString notes;
    for (const Result& r : context.results) {
        if (!r.note.isEmpty())
            notes += QStringLiteral("- %1: %2\n").arg(r.name.section(QLatin1Char(' '), 0, 0), r.note);
    }
    if (context.config.quick)
        notes += QStringLiteral("\nQuick mode: the data is too small for the targets, which are not judged.\n");
    const QString report = header + resultTable(context.results, !context.config.quick) + QLatin1Char('\n') + notes;
    std::printf("\n%s", report.toUtf8().constData());
    if (!options.markdown.isEmpty()) {
        QSaveFile file(options.markdown);
        check(file.open(QIODevice::WriteOnly) && file.write(report.toUtf8()) >= 0 && file.commit(),
            QStringLiteral("cannot write ") + options.markdown);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int child = runChild(argc, argv);
    if (child < 0)
        child = runReportChild(argc, argv);
    if (child < 0)
        child = runFeatureChild(argc, argv);
    if (child < 0)
        child = runTillsChild(argc, argv);
    if (child >= 0)
        return child;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The file cases measure the file: a server named for the tests must not take its place.
    qunsetenv("KIVARO_TEST_SERVER");
    qunsetenv("KIVARO_DATABASE");
    QApplication app(argc, argv);
    prepareTestApplication();
    try {
        return runBenchmarks(parse(QCoreApplication::arguments()));
    } catch (const BenchError& error) {
        std::fprintf(stderr, "\nbenchmark failed: %s\n", error.what());
        return 1;
    }
}
