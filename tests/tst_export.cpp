// The review views leave as spreadsheets, CSV and PDF with every row, read back by independent readers; sales lines
// come in from CSV files with each bad row reported.

#include "base/Error.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/SalesCsv.h"
#include "db/ViewSnapshot.h"
#include "reports/ViewExport.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString kUser = QStringLiteral("张三");
const SalesRange kYear { kUser, QDate(2024, 1, 1), QDate(2024, 12, 31) };
const QStringList kFormulaLike { QStringLiteral("=SUM(A1:A9)"), QStringLiteral("+86-10-1234"), QStringLiteral("-减价"),
    QStringLiteral("@外卖"), QStringLiteral("'=已有撇号"), QStringLiteral("毛巾, \"特大\"") };

// Lines with every kind of value: returns, the largest amounts, formula-like texts, quotes and commas, line breaks.
QList<SalesLine> sampleLines(int count)
{
    QList<SalesLine> lines;
    for (int i = 0; i < count; ++i) {
        const bool big = i % 97 == 0;
        lines.append({ 0, QDate(2024, 1 + i % 12, 1 + i % 28), kFormulaLike.at(i % kFormulaLike.size()),
            i % 9 == 0 ? -2 : 1 + i % 5, big ? kMaxAmountCents : qint64(i) * 1001 - 333, big ? -kMaxAmountCents : i * 7,
            i % 4 == 0 ? QStringLiteral("=HYPERLINK(\"http://x\")\n第二行") : QString() });
    }
    return lines;
}

// The spreadsheet as openpyxl reads it.
QJsonArray readXlsx(const QString& path)
{
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral(KIVARO_SOURCE_DIR "/tests/read_xlsx.py"), path });
    if (!reader.waitForFinished(300'000) || reader.exitCode() != 0)
        qFatal("reading %s failed: %s", qPrintable(path), reader.readAllStandardError().constData());
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
}

QList<ViewRow> allRows(ViewRows& rows)
{
    QList<ViewRow> all;
    rows.rewind();
    for (ViewRow row; rows.next(row);)
        all.append(row);
    return all;
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TDbMan> db;
    QString path(const QString& name) const { return home->base() + QLatin1Char('/') + name; }
    // The year's detail view written in a format, whatever the target's name says.
    void exportDetailAs(ExportFormat format, const QString& target)
    {
        ViewRows rows(*db, ReviewView::Detail, kYear);
        if (format == ExportFormat::Csv)
            exportCsv(rows, target);
        else if (format == ExportFormat::Excel)
            exportXlsx(rows, target);
        else
            exportPdf(rows, kUser, target);
    }

private Q_SLOTS:
    void init()
    {
        home = std::make_unique<TestDataHome>();
        QVERIFY(QDir().mkpath(home->dataDir()));
        db = std::make_unique<TDbMan>();
        addLines(*db, kUser, sampleLines(600));
    }
    void cleanup()
    {
        db.reset();
        home.reset();
    }

    // Every cell of every view, as openpyxl reads it: dates, numbers, texts never taken for formulas, the totals row
    // of SUM formulas, a bold frozen header.
    void spreadsheetHoldsEveryCellTyped_data()
    {
        QTest::addColumn<int>("view");
        for (ReviewView view : { ReviewView::Detail, ReviewView::Daily, ReviewView::PerDay, ReviewView::Ranking })
            QTest::newRow(qPrintable(viewKey(view))) << int(view);
    }
    void spreadsheetHoldsEveryCellTyped()
    {
        QFETCH(int, view);
        ViewRows rows(*db, ReviewView(view), kYear);
        const QString file = path(QStringLiteral("view.xlsx"));
        exportXlsx(rows, file);
        const QJsonArray sheets = readXlsx(file);
        QCOMPARE(sheets.size(), 1);
        const QJsonObject sheet = sheets.at(0).toObject();
        QCOMPARE(sheet[QStringLiteral("name")].toString(), viewTitle(ReviewView(view)));
        QCOMPARE(sheet[QStringLiteral("freeze")].toString(), QStringLiteral("A2"));
        const QList<ViewColumn> columns = viewColumns(ReviewView(view));
        const QJsonArray cells = sheet[QStringLiteral("rows")].toArray();
        const QList<ViewRow> expected = allRows(rows);
        QCOMPARE(cells.size(), expected.size() + 2);
        for (qsizetype c = 0; c < columns.size(); ++c) {
            QCOMPARE(cells.at(0).toArray().at(c).toObject()[QStringLiteral("value")].toString(), columns.at(c).caption);
            QVERIFY(sheet[QStringLiteral("bold")].toArray().at(c).toBool());
            QVERIFY(sheet[QStringLiteral("widths")].toArray().at(c).toDouble() >= 6);
        }
        for (qsizetype r = 0; r < expected.size(); ++r) {
            const QJsonArray row = cells.at(r + 1).toArray();
            for (qsizetype c = 0; c < columns.size(); ++c) {
                const QJsonObject cell = row.at(c).toObject();
                const ViewCell& want = expected.at(r).at(c);
                const QString kind = cell[QStringLiteral("kind")].toString();
                switch (columns.at(c).kind) {
                case ColumnKind::Day:
                    QCOMPARE(kind, QStringLiteral("date"));
                    QCOMPARE(cell[QStringLiteral("value")].toString(), want.day.toString(Qt::ISODate));
                    break;
                case ColumnKind::Text:
                    if (!want.text.isEmpty()) {
                        QCOMPARE(kind, QStringLiteral("text"));
                        QCOMPARE(cell[QStringLiteral("value")].toString(), want.text);
                    }
                    break;
                case ColumnKind::Quantity:
                    QCOMPARE(kind, QStringLiteral("number"));
                    QCOMPARE(qint64(cell[QStringLiteral("value")].toDouble()), qint64(want.number));
                    break;
                case ColumnKind::Change:
                    QFAIL("a view compared with nothing has no change");
                case ColumnKind::Amount:
                    QCOMPARE(kind, QStringLiteral("number"));
                    QCOMPARE(cell[QStringLiteral("format")].toString(), QStringLiteral("0.00"));
                    QCOMPARE(QString::number(cell[QStringLiteral("value")].toDouble(), 'f', 2),
                        formatWideCents(want.number));
                    break;
                }
            }
        }
        const QJsonArray totals = cells.last().toArray();
        for (qsizetype c = 0; c < columns.size(); ++c) {
            if (columns.at(c).kind == ColumnKind::Quantity || columns.at(c).kind == ColumnKind::Amount) {
                const QString letter = QChar(char16_t(u'A' + c));
                QCOMPARE(totals.at(c).toObject()[QStringLiteral("value")].toString(),
                    QStringLiteral("=SUM(%1%2:%1%3)").arg(letter).arg(2).arg(expected.size() + 1));
                // The cached result, which readers that do not recalculate show, is the column's own total.
                WideCents sum = 0;
                for (const ViewRow& row : expected)
                    sum += row.at(c).number;
                const double cached = totals.at(c).toObject()[QStringLiteral("cached")].toDouble();
                if (columns.at(c).kind == ColumnKind::Quantity)
                    QCOMPARE(qint64(cached), qint64(sum));
                else
                    QCOMPARE(QString::number(cached, 'f', 2), formatWideCents(sum));
            }
        }
    }

    // Past a sheet's rows the view goes on in a second sheet, and the totals add up both.
    void rowsBeyondASheetGoOnInTheNext()
    {
        ViewRows rows(*db, ReviewView::Detail, kYear);
        const QString file = path(QStringLiteral("split.xlsx"));
        exportXlsx(rows, file, {}, 400);
        const QJsonArray sheets = readXlsx(file);
        QCOMPARE(sheets.size(), 2);
        QCOMPARE(sheets.at(0).toObject()[QStringLiteral("rows")].toArray().size(), 399);
        QCOMPARE(sheets.at(1).toObject()[QStringLiteral("name")].toString(),
            viewTitle(ReviewView::Detail) + QStringLiteral("（2）"));
        const QJsonArray second = sheets.at(1).toObject()[QStringLiteral("rows")].toArray();
        QCOMPARE(second.size(), 600 - 398 + 2);
        QCOMPARE(second.last().toArray().at(2).toObject()[QStringLiteral("value")].toString(),
            QStringLiteral("=SUM('%1'!C2:C399,C2:C203)").arg(viewTitle(ReviewView::Detail)));
    }

    // CSV: a byte-order mark, RFC 4180 quoting read back by Python's csv module, formula-like texts behind an
    // apostrophe; and read in again, the very lines that were stored.
    void csvRoundTripGivesTheLinesBack()
    {
        ViewRows rows(*db, ReviewView::Detail, kYear);
        const QString file = path(QStringLiteral("detail.csv"));
        exportCsv(rows, file);
        const QByteArray bytes = readAll(file);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF日期,品名,数量,实收,成本,备注\r\n"));
        QProcess reader;
        reader.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral("-c"),
                QStringLiteral("import csv,json,sys; print(json.dumps(list(csv.reader(open(sys.argv[1], "
                               "encoding='utf-8-sig', newline=''))), ensure_ascii=False))"),
                file });
        QVERIFY(reader.waitForFinished(60'000) && reader.exitCode() == 0);
        const QJsonArray parsed = QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
        QCOMPARE(parsed.size(), 601);
        QCOMPARE(parsed.at(1).toArray().at(1).toString(), QStringLiteral("'=SUM(A1:A9)"));
        QCOMPARE(parsed.at(1).toArray().at(5).toString(), QStringLiteral("'=HYPERLINK(\"http://x\")\n第二行"));

        const SalesImport imported = readSalesCsv(file, QLatin1Char('.'));
        QVERIFY(imported.header);
        QCOMPARE(imported.problems, QList<ImportProblem>());
        QList<SalesLine> stored = db->QueryLineWindow(kYear, kYear.first, 0, 10'000);
        for (SalesLine& line : stored)
            line.id = 0;
        QCOMPARE(imported.lines, stored);
    }

    // No export replaces the ledger, whether typed as its own name, through a symbolic or a hard link; a write that
    // fails half way (a file size limit standing in for a full disk) is an error, and the old file stays as it was.
    void exportsNeverHurtTheLedgerOrReportAFailedWriteAsDone()
    {
        const QString ledger = home->dataDir() + QStringLiteral("/db.sjk");
        const QByteArray before = readAll(ledger);
        QVERIFY(!before.isEmpty());
        const QList<DayCount> days = db->QueryDays(kYear);
        const QString symlink = path(QStringLiteral("link.csv"));
        const QString hardlink = path(QStringLiteral("hard.xlsx"));
        QVERIFY(QFile::link(ledger, symlink));
        QVERIFY(::link(QFile::encodeName(ledger).constData(), QFile::encodeName(hardlink).constData()) == 0);
        for (const QString& target :
            QStringList { ledger, symlink, hardlink, ledger.chopped(3) + QStringLiteral("SJK") }) {
            for (ExportFormat format : { ExportFormat::Csv, ExportFormat::Excel, ExportFormat::Pdf }) {
                const auto write = [&] { exportDetailAs(format, target); };
                // The upper-case name is another file on this system, and may be written.
                if (target.endsWith(QStringLiteral("SJK"))) {
                    write();
                    continue;
                }
                QVERIFY_THROWS_EXCEPTION(KivaroError, write());
                QCOMPARE(readAll(ledger), before);
            }
        }
        QCOMPARE(db->QueryDays(kYear).size(), days.size());

        const QString kept = path(QStringLiteral("kept.pdf"));
        QFile old(kept);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        const QStringList left = QDir(home->base()).entryList(QDir::Files | QDir::Hidden);
        rlimit limit {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit small { 4096, limit.rlim_max };
        const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        QStringList failures;
        for (ExportFormat format : { ExportFormat::Csv, ExportFormat::Excel, ExportFormat::Pdf }) {
            try {
                exportDetailAs(format, kept);
            } catch (const KivaroError& error) {
                failures << error.text();
            }
        }
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, oldSignal);
        QVERIFY2(failures.size() == 3, qPrintable(failures.join(QLatin1Char('\n'))));
        for (const QString& failure : std::as_const(failures))
            QVERIFY2(failure.contains(QDir::toNativeSeparators(kept)), qPrintable(failure));
        QCOMPARE(readAll(kept), QByteArray("old"));
        QCOMPARE(QDir(home->base()).entryList(QDir::Files | QDir::Hidden), left);
    }

    void pdfHoldsEveryPage()
    {
        ViewRows rows(*db, ReviewView::PerDay, kYear);
        const QString file = path(QStringLiteral("perday.pdf"));
        exportPdf(rows, kUser, file);
        QProcess text;
        text.start(QStringLiteral("pdftotext"), { QStringLiteral("-layout"), file, QStringLiteral("-") });
        QVERIFY(text.waitForFinished(60'000) && text.exitCode() == 0);
        const QString shown = QString::fromUtf8(text.readAllStandardOutput());
        QCOMPARE(shown.count(QChar(u'\f')), int((rows.count() + 46) / 47));
        QVERIFY(shown.contains(rows.totals().text().section(QLatin1Char(' '), 0, 0)));
    }

    // The daily view compared with the year before, in every format: the earlier day's columns beside each day,
    // changes as percentages (empty with nothing to compare with), the totals' changes worked out from the totals
    // row itself, and on the printed pages a second totals line, for which a page holds one row fewer.
    void comparedViewInEveryFormat()
    {
        addLines(*db, kUser,
            { { 0, QDate(2023, 3, 1), QStringLiteral("甲"), 2, 1000, 400, {} },
                { 0, QDate(2023, 2, 28), QStringLiteral("乙"), 1, 500, 100, {} } });
        auto shown = std::make_shared<ShownView>();
        shown->view = ReviewView::Daily;
        shown->snapshot = db->QueryView(kYear);
        shown->comparison = Comparison::YearEarlier;
        shown->earlier = *comparedRange(kYear, Comparison::YearEarlier);
        const QList<DayCount> before = db->QueryDays(shown->earlier);
        for (const DayCount& day : before)
            shown->earlierTotals.add(day.sums, day.lines);
        for (const DayCount& day : shown->snapshot->days)
            shown->totals.add(day.sums, day.lines);
        shown->compared = compareDays(kYear, Comparison::YearEarlier, shown->snapshot->days, before);
        ViewRows rows(*db, shown);
        QCOMPARE(rows.count(), shown->compared.size());

        exportCsv(rows, path(QStringLiteral("compared.csv")));
        QFile csv(path(QStringLiteral("compared.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(csv.readAll());
        QVERIFY2(
            text.startsWith(QStringLiteral("日期,数量,实收,利润,去年日期,去年数量,去年实收,去年利润,数量增减,实收增减,"
                                           "利润增减\r\n")),
            qPrintable(text.left(120)));
        const QString feb28 = text.section(QStringLiteral("\r\n2024-02-28,"), 1).section(QStringLiteral("\r\n"), 0, 0);
        QVERIFY2(feb28.contains(QStringLiteral(",2023-02-28,1,5.00,4.00,")), qPrintable(feb28));

        const QString file = path(QStringLiteral("compared.xlsx"));
        exportXlsx(rows, file);
        const QJsonArray cells = readXlsx(file).at(0).toObject()[QStringLiteral("rows")].toArray();
        const QList<ViewRow> expected = allRows(rows);
        QCOMPARE(cells.size(), expected.size() + 2);
        bool blankSeen = false;
        for (qsizetype r = 0; r < expected.size(); ++r) {
            for (int c : { 8, 9, 10 }) {
                const QJsonObject cell = cells.at(r + 1).toArray().at(c).toObject();
                if (expected.at(r).at(c).blank) {
                    blankSeen = true;
                    QVERIFY(cell[QStringLiteral("value")].isNull());
                    continue;
                }
                QCOMPARE(cell[QStringLiteral("format")].toString(), QStringLiteral("+0.0%;-0.0%;0.0%"));
                QCOMPARE(
                    qRound64(cell[QStringLiteral("value")].toDouble() * 1000), qint64(expected.at(r).at(c).number));
            }
        }
        QVERIFY(blankSeen);
        const QJsonArray totals = cells.last().toArray();
        const QString row = QString::number(expected.size() + 2);
        QCOMPARE(totals.at(8).toObject()[QStringLiteral("value")].toString(),
            QStringLiteral("=IF(F%1=0,\"\",(B%1-F%1)/ABS(F%1))").arg(row));
        const std::optional<WideCents> quantityChange = changeTenths(shown->totals.quantity, 3);
        QCOMPARE(
            qRound64(totals.at(8).toObject()[QStringLiteral("cached")].toDouble() * 1000), qint64(*quantityChange));
        QCOMPARE(totals.at(5).toObject()[QStringLiteral("cached")].toDouble(), 3.0);

        KIVARO_NEEDS_POPPLER();
        const QString pdf = path(QStringLiteral("compared.pdf"));
        exportPdf(rows, kUser, pdf);
        const QString printed
            = popplerOutput(QStringLiteral("pdftotext"), { QStringLiteral("-layout"), pdf, QStringLiteral("-") });
        QCOMPARE(printed.count(QChar(u'\f')), int((rows.count() + 45) / 46));
        QVERIFY(printed.contains(QStringLiteral("去年同期 2023-01-01 至 2023-12-31：数量 3")));
    }

    // A row with more filled fields than the header has is a problem of its own row, never taken with its columns
    // shifted; empty fields after the last are no problem.
    void importRowWithExtraFields()
    {
        const QByteArray withHeader = "日期,品名,数量,实收,成本,备注\n"
                                      "2024-01-05,甲,1,1,000.00,600.00,大单\n"
                                      "2024-01-06,乙,2,3.00,1.00,,,\n";
        const SalesImport read = parseSalesCsv(withHeader, QLatin1Char('.'));
        QCOMPARE(read.problems.size(), 1);
        QCOMPARE(read.problems.first().row, 2);
        QCOMPARE(read.problems.first().column, QStringLiteral("整行"));
        QCOMPARE(read.lines.size(), 1);
        QCOMPARE(read.lines.first().productName, QStringLiteral("乙"));
        const SalesImport headless = parseSalesCsv("2024-01-05,甲,1,1,000.00,600.00,大单\n", QLatin1Char('.'));
        QCOMPARE(headless.problems.size(), 1);
        QVERIFY(headless.lines.isEmpty());
    }

    // Each kind of bad row is named by its row, column and reason; the good rows come through.
    void importReportsEveryBadRow()
    {
        const QByteArray file = "\xEF\xBB\xBF备注;成本;实收;数量;品名;日期\r\n"
                                "好;1.50;3;2;毛巾;2024-05-01\r\n"
                                ";1;1;1;毛巾;2024-02-30\r\n"
                                ";1;1;1.5; ;2024/5/2\r\n"
                                ";x;1e13;1;牙刷;2024.05.03\r\n"
                                ";;;;;\r\n"
                                "\"第一行\n第二行\";0;-9.999;-3;\"'=1+1\";2024-5-4\r\n";
        const SalesImport imported = parseSalesCsv(file, QLatin1Char(','));
        QCOMPARE(imported.rows, 5);
        const QList<ImportProblem> expected { { 3, QStringLiteral("日期"), QStringLiteral("“2024-02-30”不是日期") },
            { 4, QStringLiteral("品名"), QStringLiteral("品名是空的") },
            { 4, QStringLiteral("数量"), QStringLiteral("“1.5”不是整数") },
            { 5, QStringLiteral("实收"), QStringLiteral("“1e13”不是金额，或超出了一万亿") },
            { 5, QStringLiteral("成本"), QStringLiteral("“x”不是金额，或超出了一万亿") } };
        QCOMPARE(imported.problems, expected);
        const QList<SalesLine> lines { { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 2, 300, 150,
                                           QStringLiteral("好") },
            { 0, QDate(2024, 5, 4), QStringLiteral("=1+1"), -3, -1000, 0, QStringLiteral("第一行\n第二行") } };
        QCOMPARE(imported.lines, lines);

        // A header without a column of the line is refused as a whole.
        const SalesImport missing = parseSalesCsv("日期,品名,数量,实收\n2024-05-01,毛巾,1,2\n", QLatin1Char('.'));
        QCOMPARE(missing.lines.size(), 0);
        QCOMPARE(missing.problems.first().column, QStringLiteral("成本"));
    }

    void importDetectsTheEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("encoding");
        const QString text = QStringLiteral("2024-05-01,张三牌毛巾€,1,2.50,1,备注😀\r\n");
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF" + text.toUtf8()) << QStringLiteral("UTF-8");
        QTest::newRow("UTF-8") << text.toUtf8() << QStringLiteral("UTF-8");
        QTest::newRow("GB18030") << toGb18030(text) << QStringLiteral("GB18030");
        QByteArray utf16("\xFF\xFE");
        for (const QChar unit : text) {
            utf16 += char(unit.unicode() & 0xFF);
            utf16 += char(unit.unicode() >> 8);
        }
        QTest::newRow("UTF-16 with BOM") << utf16 << QStringLiteral("UTF-16");
    }
    void importDetectsTheEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, encoding);
        const SalesImport imported = parseSalesCsv(bytes, QLatin1Char('.'));
        QCOMPARE(imported.encoding, encoding);
        QVERIFY(!imported.header);
        QCOMPARE(imported.lines,
            (QList<SalesLine> {
                { 0, QDate(2024, 5, 1), QStringLiteral("张三牌毛巾€"), 1, 250, 100, QStringLiteral("备注😀") } }));
    }

    // Bytes valid in both encodings are read as UTF-8 and the other is offered; asked for, it gives the GB18030 text.
    // A UTF-8 file with one GB18030 line is valid GB18030 only: UTF-8, asked for, is refused rather than guessed.
    void importReadsTheEncodingAskedFor()
    {
        const QByteArray both = toGb18030(QStringLiteral("2024-01-06,原味,1,1.00,0.50,女士\r\n"));
        const SalesImport asRead = parseSalesCsv(both, QLatin1Char('.'));
        QCOMPARE(asRead.encoding, QStringLiteral("UTF-8"));
        QCOMPARE(asRead.otherEncoding, QStringLiteral("GB18030"));
        const SalesImport asked = parseSalesCsv(both, QLatin1Char('.'), {}, QStringLiteral("GB18030"));
        QCOMPARE(asked.encoding, QStringLiteral("GB18030"));
        QCOMPARE(asked.otherEncoding, QStringLiteral("UTF-8"));
        QCOMPARE(asked.lines.value(0).productName, QStringLiteral("原味"));
        QCOMPARE(asked.lines.value(0).memo, QStringLiteral("女士"));

        const QByteArray mixed = QStringLiteral("2024-01-05,甲乙,1,1,1\r\n").toUtf8()
            + toGb18030(QStringLiteral("2024-01-05,丙,1,1,1\r\n"));
        const SalesImport guessed = parseSalesCsv(mixed, QLatin1Char('.'));
        QCOMPARE(guessed.encoding, QStringLiteral("GB18030"));
        QVERIFY(guessed.otherEncoding.isEmpty());
        QVERIFY_THROWS_EXCEPTION(KivaroError, parseSalesCsv(mixed, QLatin1Char('.'), {}, QStringLiteral("UTF-8")));
        // Plain ASCII reads the same in both: nothing to offer.
        QVERIFY(parseSalesCsv("2024-01-05,abc,1,1,1\r\n", QLatin1Char('.')).otherEncoding.isEmpty());
    }

    // A file in neither encoding is refused as a whole, naming them; a U+0000, a hexadecimal quantity and a day before
    // 1752 are each the problem of their row only.
    void importRefusesWhatItCannotReadExactly()
    {
        // Latin-1 "café": neither valid UTF-8 nor valid GB18030.
        try {
            parseSalesCsv("2024-05-01,caf\xe9,1,2,1\n", QLatin1Char('.'));
            QFAIL("a file in another encoding was read");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("GB18030")), qPrintable(error.text()));
        }
        const QByteArray nul(1, '\0');
        const QByteArray file = "2024-05-01,毛" + nul + "巾,1,2,1\n2024-05-01,毛巾,$10,2,1\n2024-05-01,毛巾,0x10,2,1\n"
            + "1700-03-01,毛巾,10,2,1,旧" + nul + "账\n1700-03-01,毛巾,+10,2,1\n";
        const SalesImport imported = parseSalesCsv(file, QLatin1Char('.'));
        QCOMPARE(imported.rows, 5);
        QStringList problems;
        for (const ImportProblem& problem : imported.problems)
            problems << QStringLiteral("%1 %2").arg(problem.row).arg(problem.column);
        QCOMPARE(problems,
            (QStringList { QStringLiteral("1 品名"), QStringLiteral("2 数量"), QStringLiteral("3 数量"),
                QStringLiteral("4 备注") }));
        QCOMPARE(imported.lines.size(), 1);
        QCOMPARE(imported.lines.first().day, QDate(1700, 3, 1));
        QCOMPARE(imported.lines.first().quantity, 10);
    }

    // Spreadsheet cells: a day before 1900 stays a text in ISO form, a full-width equals sign is a formula sign, and a
    // text longer than a cell holds is refused by name rather than left blank.
    void spreadsheetLimits()
    {
        addLines(*db, QStringLiteral("王五"),
            { { 0, QDate(1800, 5, 1), QStringLiteral("＝SUM(1)"), 1, 100, 50, QStringLiteral("﹦1+1") },
                { 0, QDate(1900, 3, 1), QStringLiteral("茶"), 1, 100, 50, {} } });
        const SalesRange range { QStringLiteral("王五"), QDate(1, 1, 1), QDate(9999, 12, 31) };
        ViewRows rows(*db, ReviewView::Detail, range);
        const QString file = path(QStringLiteral("old.xlsx"));
        exportXlsx(rows, file);
        const QJsonArray cells = readXlsx(file).at(0).toObject()[QStringLiteral("rows")].toArray();
        const auto cell = [&](int row, int column) { return cells.at(row).toArray().at(column).toObject(); };
        QCOMPARE(cell(1, 0)[QStringLiteral("kind")].toString(), QStringLiteral("text"));
        QCOMPARE(cell(1, 0)[QStringLiteral("value")].toString(), QStringLiteral("1800-05-01"));
        QCOMPARE(cell(2, 0)[QStringLiteral("value")].toString(), QStringLiteral("1900-03-01"));
        QCOMPARE(cell(2, 0)[QStringLiteral("kind")].toString(), QStringLiteral("date"));
        QCOMPARE(defusedText(QStringLiteral("＝SUM(1)")), QStringLiteral("'＝SUM(1)"));
        QCOMPARE(undefusedText(defusedText(QStringLiteral("﹦1+1"))), QStringLiteral("﹦1+1"));

        addLines(*db, QStringLiteral("王五"),
            { { 0, QDate(2024, 1, 1), QStringLiteral("长"), 1, 1, 1, QString(40'000, u'字') } });
        ViewRows longRows(*db, ReviewView::Detail, range);
        const QString tooLong = path(QStringLiteral("long.xlsx"));
        try {
            exportXlsx(longRows, tooLong);
            QFAIL("a text longer than a cell holds was exported");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("32767")), qPrintable(error.text()));
        }
        QVERIFY(!QFileInfo::exists(tooLong));
    }

    // 100,000 rows out to both spreadsheet formats and back in.
    void hundredThousandRows()
    {
        addLines(*db, QStringLiteral("李四"),
            QList<SalesLine>(100'000, { 0, QDate(2024, 3, 3), QStringLiteral("牙刷"), 3, 1250, 400, {} }));
        ViewRows rows(*db, ReviewView::Detail, { QStringLiteral("李四"), kYear.first, kYear.last });
        exportCsv(rows, path(QStringLiteral("big.csv")));
        exportXlsx(rows, path(QStringLiteral("big.xlsx")));
        const SalesImport imported = readSalesCsv(path(QStringLiteral("big.csv")), QLatin1Char('.'));
        QCOMPARE(imported.lines.size(), 100'000);
        QCOMPARE(imported.lines.last(), (SalesLine { 0, QDate(2024, 3, 3), QStringLiteral("牙刷"), 3, 1250, 400, {} }));
        const QJsonArray sheets = readXlsx(path(QStringLiteral("big.xlsx")));
        QCOMPARE(sheets.at(0).toObject()[QStringLiteral("rows")].toArray().size(), 100'002);
    }
};

KIVARO_TEST_MAIN(TestExport)
#include "tst_export.moc"
