#include "bench/BenchCases.h"

#include "db/DbClass.h"
#include "db/Numbers.h"
#include "forms/ReportListModel.h"
#include "reports/ReportBuilder.h"
#include "reports/ReportEngine.h"
#include "reports/ReportPreview.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// The detail view's rows as the review page shows them: the hidden ID, then the six columns.
ReportListModel* detailModel(const SalesData& data, int rows, QString* totals, QObject* parent)
{
    const QString user = data.users.first();
    const QDate last = data.params.lastDay();
    const QDate first = data.firstDayForLines(user, rows);
    QStringList detail, daily, products, ranking;
    TDbMan().QueryReport(user, first.toString(QStringLiteral("yyyy/MM/dd")),
        last.toString(QStringLiteral("yyyy/MM/dd")), detail, daily, products, ranking);
    check(detail.size() >= qsizetype(rows) * 7, QStringLiteral("too few lines for the report"));
    const QStringList shown = detail.mid(0, qsizetype(rows) * 7);
    qint64 quantity = 0, received = 0, cost = 0;
    for (qsizetype at = 0; at < shown.size(); at += 7) {
        quantity += shown.at(at + 3).toLongLong();
        received += parseAmountCents(shown.at(at + 4), QLatin1Char('.')).value_or(0);
        cost += parseAmountCents(shown.at(at + 5), QLatin1Char('.')).value_or(0);
    }
    *totals = totalsLine(quantity, received, cost);
    QList<ReportListModel::Column> columns;
    for (int c = 0; c < 7; ++c)
        columns.append({ QString(), 60, Qt::AlignLeft });
    auto* model = new ReportListModel(columns, parent);
    model->setTexts(shown, true);
    return model;
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

} // namespace

void benchReport(BenchContext& context)
{
    const SalesData& data = context.data;
    DataHome home(data.file);
    const int rows = context.config.reportRows;
    const int expectedPages = context.config.reportPages;
    QObject owner;
    QString totals;
    ReportListModel* model = detailModel(data, rows, &totals, &owner);
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("report.pdf"));
    const QString title = data.users.first();

    std::vector<double> buildTimes, pdfTimes;
    const auto run = [&] {
        QFile::remove(pdf);
        Stopwatch clock;
        ReportPages pages;
        buildReportPages(pages, detailReportLayout(), displayedRows(*model), title, totals);
        ReportDocument document;
        attach(document, pages);
        const double built = clock.seconds();
        check(document.pageCount() == expectedPages,
            QStringLiteral("the report has %1 pages, expected %2").arg(document.pageCount()).arg(expectedPages));
        const bool written = document.writePdf(pdf);
        const double seconds = clock.seconds();
        check(written && QFile(pdf).size() > 0, QStringLiteral("no PDF written"));
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
    buildReportPages(pages, detailReportLayout(), displayedRows(*model), title, totals);
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
