#include "bench/BenchCases.h"
#include "tests/support/LedgerSeed.h"

#include "app/Startup.h"
#include "db/DbClass.h"
#include "db/Numbers.h"
#include "reports/ReportBuilder.h"
#include "reports/ReportEngine.h"
#include "reports/ReportPreview.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const kReportMemoryChild = "--child-report-memory";

// The detail view's rows as the review page shows them: the hidden ID, then the six columns.
QList<QStringList> detailRows(const SalesData& data, int rows, QString* totals)
{
    const QString user = data.users.first();
    const QDate last = data.params.lastDay();
    const QDate first = data.firstDayForLines(user, rows);
    QStringList detail, daily, products, ranking;
    queryReport(TDbMan(), user, first.toString(QStringLiteral("yyyy/MM/dd")),
        last.toString(QStringLiteral("yyyy/MM/dd")), detail, daily, products, ranking);
    check(detail.size() >= qsizetype(rows) * 7, QStringLiteral("too few lines for the report"));
    QList<QStringList> shown;
    qint64 quantity = 0, received = 0, cost = 0;
    for (qsizetype at = 0; at < qsizetype(rows) * 7; at += 7) {
        shown << detail.mid(at, 7);
        quantity += detail.at(at + 3).toLongLong();
        received += parseAmountCents(detail.at(at + 4), QLatin1Char('.')).value_or(0);
        cost += parseAmountCents(detail.at(at + 5), QLatin1Char('.')).value_or(0);
    }
    *totals = totalsLine(quantity, received, cost);
    return shown;
}

void attach(ReportDocument& document, const ReportPages& pages)
{
    document.addReports = [&pages](ReportDocument& d) {
        d.clearPages();
        for (const auto& page : pages)
            d.addPage(page.get());
    };
    document.prepare();
}

// Pages of a PDF file as poppler counts them, or -1 without pdfinfo.
int pdfPages(const QString& file)
{
    const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (pdfinfo.isEmpty())
        return -1;
    QProcess info;
    info.start(pdfinfo, { file });
    info.waitForFinished(60000);
    for (const QByteArray& line : info.readAllStandardOutput().split('\n')) {
        if (line.startsWith("Pages:"))
            return line.mid(6).trimmed().toInt();
    }
    return 0;
}

// kB of VmHWM in /proc/self/status.
qint64 peakResidentKb()
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

// Detail rows made from their number alone, the way a view that fetches its rows hands them over one at a time:
// newest day first, about 55 lines a day, names from the generator's list, one memo in ten.
ReportRows generatedRows(qsizetype count, const QStringList& names, const QDate& lastDay)
{
    return { count, [names, lastDay](qsizetype row) {
                Rng rng { quint64(row) };
                const qint64 quantity = 1 + rng.below(5);
                const qint64 received = quantity * (100 + rng.below(50'000));
                const qint64 cost = received * (40 + rng.below(40)) / 100;
                const QString name = names.at(rng.below(int(names.size())));
                return QStringList { QString::number(row + 1),
                    lastDay.addDays(-row / 55).toString(QStringLiteral("yyyy-MM-dd")), name, QString::number(quantity),
                    formatCents(received), formatCents(cost),
                    rng.chance(10) ? QStringLiteral("购买者%1").arg(row % 997) : QString() };
            } };
}

QString totalsOf(const ReportRows& rows)
{
    qint64 quantity = 0;
    WideCents received = 0, cost = 0;
    for (qsizetype r = 0; r < rows.count; ++r) {
        const QStringList row = rows.row(r);
        quantity += row.at(3).toLongLong();
        received += parseAmountCents(row.at(4), QLatin1Char('.')).value_or(0);
        cost += parseAmountCents(row.at(5), QLatin1Char('.')).value_or(0);
    }
    return totalsLine(quantity, received, cost);
}

// A fresh process that writes the PDF of a report of generated rows and reports its peak resident memory and
// the time of the writing. "streamed" reads the rows as the pages are printed; "upfront" first holds every row
// as text and builds every page, as reports were made before.
int reportMemoryChild(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    QApplication app(argc, argv);
    installFontSubstitutes();
    const qsizetype count = QByteArray(argv[2]).toLongLong();
    const QString pdf = QString::fromLocal8Bit(argv[3]);
    const bool streamed = qstrcmp(argv[4], "streamed") == 0;
    const ReportRows rows = generatedRows(count, makeProductNames(2'000, 20240601), QDate(2023, 12, 31));
    const QString title = QStringLiteral("张三");
    const QString totals = totalsOf(rows);
    const qint64 before = peakResidentKb();

    Stopwatch clock;
    ReportPages pages;
    ReportDocument document;
    if (streamed) {
        addReportPages(document, detailReportLayout(), rows, title, totals);
    } else {
        QList<QStringList> all;
        for (qsizetype r = 0; r < rows.count; ++r)
            all << rows.row(r);
        buildReportPages(pages, detailReportLayout(), all, title, totals);
        for (const auto& page : pages)
            document.addPage(page.get());
    }
    bool written = true;
    try {
        document.writePdf(pdf);
    } catch (const KivaroError&) {
        written = false;
    }
    const qint64 nanoseconds = qint64(clock.seconds() * 1e9);
    std::printf("pages %d hwm %lld before %lld ns %lld\n", written ? document.pageCount() : -1, peakResidentKb(),
        before, nanoseconds);
    std::fflush(stdout);
    std::_Exit(0);
}

struct ChildFigures
{
    double peakBytes = 0;
    double beforeBytes = 0;
    double seconds = 0;
};

ChildFigures runReportMemoryChild(qsizetype rows, const QString& pdf, const char* mode, int expectedPages)
{
    QFile::remove(pdf);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
        { QString::fromLatin1(kReportMemoryChild), QString::number(rows), pdf, QString::fromLatin1(mode) });
    check(child.waitForFinished(600'000), QStringLiteral("the report memory child did not finish"));
    const QList<QByteArray> words = child.readAllStandardOutput().trimmed().split(' ');
    check(words.size() == 8 && words[0] == "pages" && words[1].toInt() == expectedPages,
        QStringLiteral("the report memory child (%1) reported %2 %3")
            .arg(QString::fromLatin1(mode), QString::fromLocal8Bit(words.join(' ')),
                QString::fromLocal8Bit(child.readAllStandardError())));
    check(QFile(pdf).size() > 0, QStringLiteral("no PDF written"));
    return { words[3].toDouble() * 1024, words[5].toDouble() * 1024, words[7].toDouble() / 1e9 };
}

} // namespace

int runReportChild(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], kReportMemoryChild) == 0)
        return reportMemoryChild(argc, argv);
    return -1;
}

void benchReportMemory(BenchContext& context)
{
    const qsizetype rows = context.config.reportMemoryRows;
    const int expectedPages = reportPageCount(rows);
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("streamed.pdf"));
    std::vector<double> before, times, upfrontTimes;
    const auto streamed = [&] {
        const ChildFigures figures = runReportMemoryChild(rows, pdf, "streamed", expectedPages);
        before.push_back(figures.beforeBytes);
        times.push_back(figures.seconds);
        return figures.peakBytes;
    };
    const auto upfront = [&] {
        const ChildFigures figures
            = runReportMemoryChild(rows, out.filePath(QStringLiteral("upfront.pdf")), "upfront", expectedPages);
        upfrontTimes.push_back(figures.seconds);
        return figures.peakBytes;
    };
    const RunPlan& plan = context.config.slowPlan;
    Result memory = measure(
        QStringLiteral("5c. PDF of a %1-row report (%2 pages) read from a row source: peak resident memory, vs all "
                       "pages built up front")
            .arg(rows)
            .arg(expectedPages),
        plan, streamed, upfront, QStringLiteral("MB"));
    const int counted = pdfPages(pdf);
    check(counted < 0 || counted == expectedPages, QStringLiteral("the PDF has %1 pages").arg(counted));
    memory.target = Target::median(200e6);
    memory.note = QStringLiteral("VmHWM of a fresh process per run, rows generated when a page asks for them; %1 MB "
                                 "before the report; PDF of %2 KiB%3")
                      .arg(Stats::of(before).median / 1e6, 0, 'f', 1)
                      .arg(QFile(pdf).size() / 1024)
                      .arg(counted < 0 ? QString() : QStringLiteral(", %1 pages by pdfinfo").arg(counted));
    context.results.push_back(memory);

    // The warm-up runs' times are left out, as measure leaves out their figures.
    times.erase(times.begin(), times.begin() + plan.warmups);
    upfrontTimes.erase(upfrontTimes.begin(), upfrontTimes.begin() + plan.warmups);
    Result time;
    time.name = QStringLiteral("5d. the same PDF: time to build the pages and write them, vs built up front");
    time.runs = plan.runs;
    time.measured = Stats::of(times);
    time.baseline = Stats::of(upfrontTimes);
    time.note = QStringLiteral("timed inside the child from the first page to the written file");
    context.results.push_back(time);
}

void benchReport(BenchContext& context)
{
    const SalesData& data = context.data;
    TestDataHome home(data.file);
    const int rows = context.config.reportRows;
    const int expectedPages = context.config.reportPages;
    QString totals;
    const QList<QStringList> detail = detailRows(data, rows, &totals);
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("report.pdf"));
    const QString title = data.users.first();

    std::vector<double> buildTimes, pdfTimes;
    const auto run = [&] {
        QFile::remove(pdf);
        Stopwatch clock;
        ReportPages pages;
        buildReportPages(pages, detailReportLayout(), detail, title, totals);
        ReportDocument document;
        attach(document, pages);
        const double built = clock.seconds();
        check(document.pageCount() == expectedPages,
            QStringLiteral("the report has %1 pages, expected %2").arg(document.pageCount()).arg(expectedPages));
        document.writePdf(pdf);
        const double seconds = clock.seconds();
        check(QFile(pdf).size() > 0, QStringLiteral("no PDF written"));
        buildTimes.push_back(built);
        pdfTimes.push_back(seconds - built);
        return seconds;
    };
    Result result = measure(
        QStringLiteral("5a. report of %1 rows (%2 pages): build and write the PDF").arg(rows).arg(expectedPages),
        context.config.plan, run);
    const int counted = pdfPages(pdf);
    check(counted < 0 || counted == expectedPages, QStringLiteral("the PDF has %1 pages").arg(counted));
    result.target = Target::median(2.0);
    result.note = QStringLiteral("build %1 ms, PDF %2 ms (medians); PDF of %3 KiB%4")
                      .arg(Stats::of(buildTimes).median * 1000, 0, 'f', 1)
                      .arg(Stats::of(pdfTimes).median * 1000, 0, 'f', 1)
                      .arg(QFile(pdf).size() / 1024)
                      .arg(counted < 0 ? QString() : QStringLiteral(", %1 pages by pdfinfo").arg(counted));
    context.results.push_back(result);

    ReportPages pages;
    buildReportPages(pages, detailReportLayout(), detail, title, totals);
    ReportDocument document;
    attach(document, pages);
    ReportPreview preview;
    preview.resize(820, 640);
    preview.show();
    preview.setDocument(&document);
    QCoreApplication::processEvents();
    int next = 1;
    const auto page = [&] {
        // A different page each run, so nothing drawn before can be reused.
        next = next % document.pageCount() + 1;
        if (next == preview.pageNumber())
            next = next % document.pageCount() + 1;
        Stopwatch clock;
        preview.showPage(next);
        QCoreApplication::processEvents();
        const double seconds = clock.seconds();
        check(preview.pageNumber() == next, QStringLiteral("the preview did not turn to page %1").arg(next));
        return seconds;
    };
    Result shown = measure(QStringLiteral("5b. preview: render and show one page"), context.config.plan, page);
    shown.target = Target::median(0.05);
    context.results.push_back(shown);
}
