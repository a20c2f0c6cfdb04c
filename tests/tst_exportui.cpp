// Exporting the review views and importing sales lines as the user does it: the preview's export buttons, the lists'
// right-click menu, 导入销售记录… in the 更多 menu with its list of bad rows, and kivaro --export. What is written
// holds every row of the range from the store; what is refused writes nothing and stores nothing.

#include "db/DbClass.h"
#include "db/SalesCsv.h"
#include "forms/FileDialog.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "reports/PrintForm.h"
#include "reports/ViewExport.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

namespace {

const QString kUser = QStringLiteral("张三");
const QString kPassword = QStringLiteral("密码 1");
const SalesRange kYear { kUser, QDate(2024, 1, 1), QDate(2024, 12, 31) };
constexpr int kLines = 200;
constexpr char kHeader[] = "日期,品名,数量,实收,成本,备注\r\n";

// More lines than the preview lays out at first, spread over the year, with returns and memos.
QList<SalesLine> sampleLines()
{
    QList<SalesLine> lines;
    for (int i = 0; i < kLines; ++i)
        lines.append({ 0, QDate(2024, 1, 1).addDays(i * 7 % 366), QStringLiteral("毛巾%1").arg(i % 13),
            i % 11 == 0 ? -1 : 1 + i % 4, i * 1250 + 5, i * 400, i % 3 ? QString() : QStringLiteral("备注%1").arg(i) });
    return lines;
}

// The stored lines of a range as the detail view orders them, without ids as a file has none.
QList<SalesLine> storedLines(const SalesRange& range)
{
    TDbMan db;
    QList<SalesLine> all;
    for (const DayCount& day : db.QueryDays(range))
        all += db.QueryLineWindow(range, day.day, 0, int(day.lines));
    for (SalesLine& line : all)
        line.id = 0;
    return all;
}

// An exported detail view read back as sales lines.
QList<SalesLine> linesOfCsv(const QString& path)
{
    return parseSalesCsv(readAll(path), QLatin1Char('.')).lines;
}

void chooseFromMenu(QMenu* menu, const char* action)
{
    QVERIFY(menu->isVisible());
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(child<QAction>(menu, action)).center());
}

void rightClick(QTreeView* list)
{
    const QPoint at(20, 20);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &event);
}

struct ToolRun
{
    int exitCode = -1;
    QString output;
    QString errors;
};

// The built program with the test's data home, given input on standard input.
ToolRun runTool(const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kivaro"), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

// What an import showed: its list of bad rows, and whether the progress window was up with events flowing.
struct ImportSeen
{
    bool dialog = false;
    QStringList problems;
    bool progress = false;
};

} // namespace

class TestExportUi : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TfrmMain> form;

    QString path(const QString& name) const { return home->base() + QLatin1Char('/') + name; }
    template <typename T> T* control(const char* name) { return child<T>(form.get(), name); }
    QStringList productNames() const { return TDbMan().ProductNames(kUser).value_or(QStringList()); }

    // The window on the review page; with a range, 查看 pressed over it.
    void openReview(const SalesRange& range = {})
    {
        form = openReviewWindow(kUser);
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        if (range.first.isNull())
            return;
        control<QDateEdit>("DateTimePicker2")->setDate(range.first);
        control<QDateEdit>("DateTimePicker3")->setDate(range.last);
        QTest::mouseClick(control<QPushButton>("Button7"), Qt::LeftButton);
    }
    // Imports a file through 更多; a list of bad rows is read and answered with the button given, else "都不添加".
    ImportSeen importFile(const QString& file, const char* answer = "btnImportNone")
    {
        ImportSeen seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&seen, answer] {
            auto* dialog = QApplication::activeModalWidget();
            seen.progress |= dialog && dialog->objectName() == QLatin1String("dlgWorkProgress");
            if (!dialog || dialog->objectName() != QLatin1String("frmImport") || std::exchange(seen.dialog, true))
                return;
            const auto* list = child<QTreeWidget>(dialog, "lvProblems");
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QTreeWidgetItem* item = list->topLevelItem(i);
                seen.problems << QStringLiteral("%1|%2|%3").arg(item->text(0), item->text(1), item->text(2));
            }
            QTest::mouseClick(child<QPushButton>(dialog, answer), Qt::LeftButton);
        });
        watch.start(10);
        FileDialog::setNextFileName(file);
        QTest::mouseClick(control<QLabel>("LabelMore"), Qt::LeftButton);
        chooseFromMenu(control<QMenu>("menuMore"), "actImport");
        return seen;
    }

private Q_SLOTS:
    void init()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
        TDbMan db;
        QVERIFY(db.AddUser(kUser, kPassword));
        addLines(db, kUser, sampleLines());
    }
    void cleanup()
    {
        form.reset();
        hooks.reset();
        home.reset();
    }

    // The preview shows a few pages at a time; each of its buttons writes every row of the range last shown.
    void previewExportsEveryRow_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("magic");
        QTest::newRow("xlsx") << QByteArray("btnExportExcel") << int(ExportFormat::Excel) << QByteArray("PK");
        QTest::newRow("csv") << QByteArray("btnExportCsv") << int(ExportFormat::Csv) << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("pdf") << QByteArray("btnExportPdf") << int(ExportFormat::Pdf) << QByteArray("%PDF");
    }
    void previewExportsEveryRow()
    {
        QFETCH(QByteArray, button);
        QFETCH(int, format);
        QFETCH(QByteArray, magic);
        openReview(kYear);
        control<QDateEdit>("DateTimePicker3")->setDate(QDate(2024, 1, 31));
        const QString proposed = defaultExportName(kUser, ReviewView::Detail, kYear, ExportFormat(format));
        const QString file = path(QStringLiteral("导出 “明细”.") + QFileInfo(proposed).suffix());
        whenDialogShows("frmPrint", [&](QWidget* preview) {
            int right = -1;
            for (const char* name : { "btnPrint", "btnExportExcel", "btnExportCsv", "btnExportPdf" }) {
                const auto* shown = child<QPushButton>(preview, name);
                QVERIFY(shown->isVisible() && shown->isFlat());
                QVERIFY(right < 0 || shown->x() == right + 1);
                right = shown->geometry().right();
            }
            FileDialog::setNextFileName(file);
            QTest::mouseClick(child<QPushButton>(preview, button.constData()), Qt::LeftButton);
            static_cast<QDialog*>(preview)->reject();
        });
        QTest::mouseClick(control<QPushButton>("Button8"), Qt::LeftButton);

        QVERIFY2(QFileInfo::exists(file), "the preview was not shown");
        QCOMPARE(FileDialog::lastStartPath(),
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/') + proposed);
        QVERIFY2(readAll(file).startsWith(magic), qPrintable(file));
        if (ExportFormat(format) == ExportFormat::Csv)
            QCOMPARE(linesOfCsv(file), storedLines(kYear));
        const QStringList shown = MessageBox::takeShownTexts();
        QVERIFY2(shown.size() == 1 && shown.first().contains(QDir::toNativeSeparators(file))
                && shown.first().contains(QString::number(kLines)),
            qPrintable(shown.join('\n')));
        // Nothing is left beside it.
        QCOMPARE(QDir(home->base()).entryList(QDir::Files | QDir::Hidden), QStringList { QFileInfo(file).fileName() });
    }

    // An export's dialog starts where the last export went while that folder exists, never in the program's own
    // folder, else in Documents; an import's dialog keeps its own folder.
    void exportsStartWhereTheLastOneWent()
    {
        openReview(kYear);
        const QString proposed = defaultExportName(kUser, ReviewView::Detail, kYear, ExportFormat::Csv);
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        // Exports a CSV to file through the preview; where its dialog started.
        const auto exportTo = [&](const QString& file) {
            whenDialogShows("frmPrint", [&](QWidget* preview) {
                FileDialog::setNextFileName(file);
                QTest::mouseClick(child<QPushButton>(preview, "btnExportCsv"), Qt::LeftButton);
                static_cast<QDialog*>(preview)->reject();
            });
            QTest::mouseClick(control<QPushButton>("Button8"), Qt::LeftButton);
            MessageBox::takeShownTexts();
            return FileDialog::lastStartPath();
        };
        const QString elsewhere = path(QStringLiteral("月报"));
        QVERIFY(QDir().mkpath(elsewhere));
        QCOMPARE(exportTo(elsewhere + QStringLiteral("/一月.csv")), documents + QLatin1Char('/') + proposed);
        QCOMPARE(exportTo(elsewhere + QStringLiteral("/二月.csv")), elsewhere + QLatin1Char('/') + proposed);
        FileDialog::setNextFileName(QString());
        FileDialog::getOpenFileName(nullptr, FileKind::Import, QString(), QString());
        QCOMPARE(FileDialog::lastStartPath(), documents);

        const QString inProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/kivaro-export-test.csv");
        const auto removeIt = qScopeGuard([&] { QFile::remove(inProgram); });
        exportTo(inProgram);
        QVERIFY(QFile::exists(inProgram));
        QCOMPARE(exportTo(elsewhere + QStringLiteral("/三月.csv")), documents + QLatin1Char('/') + proposed);
        QVERIFY(QDir(elsewhere).removeRecursively());
        QCOMPARE(exportTo(path(QStringLiteral("四月.csv"))), documents + QLatin1Char('/') + proposed);
        QCOMPARE(exportTo(path(QStringLiteral("五月.csv"))), home->base() + QLatin1Char('/') + proposed);
    }

    // 导出PDF writes the pages the preview shows and printing to a PDF file makes: the same words at the same places,
    // for every view.
    void pdfIsThePrintedPage_data()
    {
        QTest::addColumn<int>("view");
        QTest::addColumn<QByteArray>("button");
        QTest::newRow("detail") << 0 << QByteArray("Button8");
        QTest::newRow("daily") << 1 << QByteArray("Button13");
        QTest::newRow("per day and product") << 2 << QByteArray("Button14");
        QTest::newRow("ranking") << 3 << QByteArray("Button15");
    }
    void pdfIsThePrintedPage()
    {
        KIVARO_NEEDS_POPPLER();
        QFETCH(int, view);
        QFETCH(QByteArray, button);
        openReview({ kUser, QDate(2024, 1, 1), QDate(2024, 1, 20) });
        control<QComboBox>("ComboBox6")->setCurrentIndex(view);
        const QString exported = path(QStringLiteral("exported.pdf"));
        const QString printed = path(QStringLiteral("printed.pdf"));
        TfrmPrint::execPrintDialog = [&printed](QPrintDialog& dialog) {
            dialog.printer()->setOutputFormat(QPrinter::PdfFormat);
            dialog.printer()->setOutputFileName(printed);
            return true;
        };
        whenDialogShows("frmPrint", [&](QWidget* preview) {
            FileDialog::setNextFileName(exported);
            QTest::mouseClick(child<QPushButton>(preview, "btnExportPdf"), Qt::LeftButton);
            QTest::mouseClick(child<QPushButton>(preview, "btnPrint"), Qt::LeftButton);
            static_cast<QDialog*>(preview)->reject();
        });
        QTest::mouseClick(control<QPushButton>(button.constData()), Qt::LeftButton);
        MessageBox::takeShownTexts();
        // Every word with its box, to the point: the two files come from different paint devices.
        const auto words = [](const QString& file) {
            static const QRegularExpression word(QStringLiteral(
                "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" yMax=\"[0-9.]+\">([^<]*)</word>"));
            QStringList found;
            const QString html
                = popplerOutput(QStringLiteral("pdftotext"), { QStringLiteral("-bbox"), file, QStringLiteral("-") });
            for (auto match = word.globalMatch(html); match.hasNext();) {
                const QRegularExpressionMatch m = match.next();
                found << QStringLiteral("%1@%2,%3")
                             .arg(m.captured(3))
                             .arg(qRound(m.captured(1).toDouble()))
                             .arg(qRound(m.captured(2).toDouble()));
            }
            return found;
        };
        const QStringList fromPrinter = words(printed);
        QVERIFY2(fromPrinter.size() > 20, qPrintable(fromPrinter.join(' ')));
        QCOMPARE(words(exported), fromPrinter);
    }

    // Each list's menu writes its own view with the rows the list shows, as 查看 read them: not a line saved
    // elsewhere since.
    void listMenuExportsItsView_data()
    {
        QTest::addColumn<int>("view");
        QTest::addColumn<QByteArray>("list");
        QTest::newRow("detail") << int(ReviewView::Detail) << QByteArray("ListView2");
        QTest::newRow("daily") << int(ReviewView::Daily) << QByteArray("ListView3");
        QTest::newRow("per day") << int(ReviewView::PerDay) << QByteArray("ListView4");
        QTest::newRow("ranking") << int(ReviewView::Ranking) << QByteArray("ListView5");
    }
    void listMenuExportsItsView()
    {
        QFETCH(int, view);
        QFETCH(QByteArray, list);
        openReview(kYear);
        control<QComboBox>("ComboBox6")->setCurrentIndex(view);
        // A day and a product of their own: one row more in every view.
        addLines(TDbMan(), kUser, { { 0, QDate(2024, 1, 3), QStringLiteral("新品"), 5, 100, 50, QString() } });
        const QString file = path(QStringLiteral("列表.csv"));
        FileDialog::setNextFileName(file);
        rightClick(control<QTreeView>(list.constData()));
        chooseFromMenu(control<QMenu>("menuExport"), "actExportCsv");

        TDbMan db;
        const qint64 rows = control<QTreeView>(list.constData())->model()->rowCount();
        QCOMPARE(ViewRows(db, ReviewView(view), kYear).count(), rows + 1);
        const QByteArray bytes = readAll(file);
        const QList<QByteArray> written = bytes.split('\n');
        // The header, the rows and what follows the last line end; no text here holds a line break.
        QCOMPARE(written.size(), rows + 2);
        QVERIFY(written.first().contains(viewColumns(ReviewView(view)).first().caption.toUtf8()));
        QVERIFY(!bytes.contains("2024-01-03") && !bytes.contains("新品"));
        const QStringList shown = MessageBox::takeShownTexts();
        QVERIFY2(shown.size() == 1 && shown.first().contains(QString::number(rows)), qPrintable(shown.join('\n')));
    }

    // A range without lines: a message, and neither a dialog nor a file.
    void nothingToExport()
    {
        openReview({ kUser, QDate(2030, 1, 1), QDate(2030, 12, 31) });
        FileDialog::setNextFileName(QString());
        FileDialog::getOpenFileName(nullptr, FileKind::Import, QString(), QString());
        const QString importStart = FileDialog::lastStartPath();
        const QByteArray before = fingerprint(home->base());
        rightClick(control<QTreeView>("ListView2"));
        chooseFromMenu(control<QMenu>("menuExport"), "actExportExcel");
        const QStringList shown = MessageBox::takeShownTexts();
        QVERIFY2(shown.size() == 1 && shown.first().contains("没有可以导出的记录"), qPrintable(shown.join('\n')));
        QCOMPARE(FileDialog::lastStartPath(), importStart);
        QCOMPARE(fingerprint(home->base()), before);
    }

    // Every bad row is listed; the good rows become pending lines as if typed, and nothing is stored before 完成.
    void importWithBadRows_data()
    {
        QTest::addColumn<bool>("adding");
        QTest::newRow("添加正确的行") << true;
        QTest::newRow("都不添加") << false;
    }
    void importWithBadRows()
    {
        QFETCH(bool, adding);
        TDbMan().WriteProductNames(kUser, { QStringLiteral("旧品"), QStringLiteral("乙") });
        const QString file = path(QStringLiteral("销售.csv"));
        QVERIFY(writeAll(file,
            QByteArray(kHeader)
                + "2025-03-01,甲,2,10.50,4.00,第一行\r\n2025-02-30,乙,1,1.00,0.50,\r\n2025-03-02,乙,3,3.00,1.00,\r\n"
                  "2025-03-02,丙,x,3.00,1.00,\r\n2025-03-03,甲,-1,-10.50,-4.00,退货\r\n2025-03-04, ,1,1.00,1.00,\r\n"));
        openReview();
        const qint64 stored = storedLineCount(*home);
        const ImportSeen seen = importFile(file, adding ? "btnImportGood" : "btnImportNone");

        QVERIFY(seen.dialog);
        QCOMPARE(
            seen.problems, QStringList({ "3|日期|“2025-02-30”不是日期", "5|数量|“x”不是整数", "7|品名|品名是空的" }));
        const QList<SalesLine> good { { 0, QDate(2025, 3, 1), "甲", 2, 1050, 400, "第一行" },
            { 0, QDate(2025, 3, 2), "乙", 3, 300, 100, QString() },
            { 0, QDate(2025, 3, 3), "甲", -1, -1050, -400, "退货" } };
        SalesTotals totals;
        for (const SalesLine& line : good)
            totals.add(line);
        const auto* pending = control<QTreeView>("ListView1")->model();
        QCOMPARE(pending->rowCount(), adding ? 3 : 0);
        QCOMPARE(control<QWidget>("Panel2")->isVisible(), adding);
        QCOMPARE(control<QLabel>("Label18")->text(), adding ? totals.text() : SalesTotals().text());
        // Typing 甲, 乙, 甲 in turn leaves 甲 first and 乙 moved up.
        const QStringList names = adding ? QStringList { "甲", "乙", "旧品" } : QStringList { "旧品", "乙" };
        QCOMPARE(productNames(), names);
        QCOMPARE(control<QComboBox>("ComboBox1")->itemText(0), names.first());
        QCOMPARE(storedLineCount(*home), stored);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), adding ? 1 : 0);
        if (!adding)
            return;
        QTest::mouseClick(control<QPushButton>("Button4"), Qt::LeftButton);
        MessageBox::takeShownTexts();
        QCOMPARE(storedLines({ kUser, QDate(2025, 1, 1), QDate(2025, 12, 31) }), good);
    }

    // 100,000 lines of 2,000 products: the window keeps answering, and the names end in the order of their last line.
    void largeImport()
    {
        constexpr int kRows = 100'000;
        constexpr int kNames = 2'000;
        QByteArray bytes = kHeader;
        for (int i = 0; i < kRows; ++i)
            bytes += QStringLiteral("2024-05-%1,品名%2,1,2.50,1.00,\r\n").arg(1 + i % 28).arg(i * 7 % kNames).toUtf8();
        const QString file = path(QStringLiteral("大.csv"));
        QVERIFY(writeAll(file, bytes));
        openReview();
        QElapsedTimer clock;
        clock.start();
        const ImportSeen seen = importFile(file, "btnImportGood");
        const qint64 elapsed = clock.elapsed();
        qInfo("imported %d lines of %d products in %lld ms", kRows, kNames, elapsed);
        MessageBox::takeShownTexts();
        QVERIFY(seen.dialog && seen.progress && seen.problems.isEmpty());
        QCOMPARE(control<QTreeView>("ListView1")->model()->rowCount(), kRows);
        const QStringList names = productNames();
        QCOMPARE(names.size(), kNames);
        QCOMPARE(names.first(), QStringLiteral("品名%1").arg((kRows - 1) * 7 % kNames));
        QCOMPARE(control<QComboBox>("ComboBox1")->itemText(1), names.at(1));
        // A name is kept once per product, not once per line: a write per line would take minutes.
        QVERIFY2(elapsed < 60'000, qPrintable(QString::number(elapsed)));
    }

    // A file in the format its extension names, or a refusal in words that leaves no file; never a password argument.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("magic");
        const QByteArray right = kPassword.toUtf8() + '\n';
        const auto run = [](const QString& view, const QString& last, const QString& file) {
            return QStringList { "--export", view, "2024-01-01", last, file, "--user", kUser, "--password-stdin" };
        };
        QTest::newRow("detail csv") << run("detail", "2024-12-31", "明细.csv") << right << 0 << QString()
                                    << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("daily pdf") << run("daily", "2024-01-07", "每天.pdf") << right << 0 << QString()
                                   << QByteArray("%PDF");
        QTest::newRow("wrong password") << run("detail", "2024-12-31", "x.csv") << QByteArray("密码 2\n") << 1
                                        << "密码不对" << QByteArray();
        QTest::newRow("unknown view") << run("weekly", "2024-12-31", "x.csv") << right << 2 << "weekly" << QByteArray();
        QTest::newRow("bad day") << run("daily", "2024-02-30", "x.csv") << right << 2 << "2024-02-30" << QByteArray();
        QTest::newRow("unknown extension")
            << run("daily", "2024-12-31", "x.txt") << right << 2 << ".xlsx" << QByteArray();
        QTest::newRow("no password") << run("daily", "2024-12-31", "x.csv").mid(0, 7) << QByteArray() << 2
                                     << "--password-stdin" << QByteArray();
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QString, text);
        QFETCH(QByteArray, magic);
        const QString file = arguments[4] = path(arguments.at(4));
        const QByteArray before = fingerprint(home->base());
        const ToolRun run = runTool(arguments, input);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.errors));
        if (exitCode != 0) {
            QVERIFY2(run.errors.contains(text) && run.output.isEmpty(), qPrintable(run.errors));
            QCOMPARE(fingerprint(home->base()), before);
            return;
        }
        TDbMan db;
        const SalesRange range { kUser, kYear.first, QDate::fromString(arguments.at(3), Qt::ISODate) };
        const qint64 rows = ViewRows(db, *viewFromKey(arguments.at(1)), range).count();
        QVERIFY2(run.output.contains(QDir::toNativeSeparators(file))
                && run.output.contains(QStringLiteral(" %1 行").arg(rows)),
            qPrintable(run.output));
        QVERIFY(readAll(file).startsWith(magic));
        if (arguments.at(1) == QLatin1String("detail"))
            QCOMPARE(linesOfCsv(file), storedLines(kYear));
    }
};

KIVARO_TEST_MAIN(TestExportUi)

#include "tst_exportui.moc"
