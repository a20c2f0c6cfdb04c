// Exporting the review views and importing sales lines as the user does it: the preview's export buttons, the lists'
// right-click menu, 导入销售记录… in the 更多 menu with its list of bad rows, and kivaro --export. What is written
// holds every row of the range from the store; what is refused writes nothing and stores nothing.

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "db/DbClass.h"
#include "db/ProductsFile.h"
#include "db/SalesCsv.h"
#include "forms/MainForm.h"
#include "reports/PrintForm.h"
#include "reports/ReportEngine.h"
#include "reports/ViewExport.h"
#include "tests/TestUtil.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
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

QString documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

// A written detail view read back as sales lines, in the file's order.
QList<SalesLine> linesOfCsv(const QString& path)
{
    const SalesImport read = parseSalesCsv(readAll(path), QLatin1Char('.'));
    if (!read.problems.isEmpty())
        qWarning(
            "%s: row %lld %s", qPrintable(path), read.problems.first().row, qPrintable(read.problems.first().reason));
    return read.lines;
}

// The stored lines of the range as the detail view orders them, ids left out as a file has none.
QList<SalesLine> storedLines(const SalesRange& range = kYear)
{
    TDbMan db;
    QList<SalesLine> all;
    for (const DayCount& day : db.QueryDays(range))
        all += db.QueryLineWindow(range, day.day, 0, int(day.lines));
    for (SalesLine& line : all)
        line.id = 0;
    return all;
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

// The built program, given input on standard input, in the test's data home.
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

    void query(const QDate& first, const QDate& last)
    {
        control<QDateEdit>("DateTimePicker2")->setDate(first);
        control<QDateEdit>("DateTimePicker3")->setDate(last);
        QTest::mouseClick(control<QPushButton>("Button7"), Qt::LeftButton);
    }
    void showView(int index) { control<QComboBox>("ComboBox6")->setCurrentIndex(index); }
    void openWindow()
    {
        form = std::make_unique<TfrmMain>();
        form->PrepareForUser(kUser);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    QStringList productNames() const { return TDbMan().ProductNames(kUser).value_or(QStringList()); }
    QStringList namesInTheBox()
    {
        QStringList names;
        auto* box = control<QComboBox>("ComboBox1");
        for (int i = 0; i < box->count(); ++i)
            names << box->itemText(i);
        return names;
    }
    // What an import through 更多 showed of its list of bad rows.
    struct ImportSeen
    {
        bool dialog = false;
        QStringList problems;
        // The progress window was up and the window answering events while the file was read.
        bool progress = false;
    };
    // Imports a file through 更多; a list of bad rows that shows is read and answered with the button, or with none
    // given closed as "都不添加".
    ImportSeen importFile(const QString& file, const char* answer = nullptr)
    {
        ImportSeen seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&seen, answer] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog && dialog->objectName() == QLatin1String("dlgWorkProgress"))
                seen.progress = true;
            if (!dialog || dialog->objectName() != QLatin1String("frmImport") || seen.dialog)
                return;
            seen.dialog = true;
            auto* list = child<QTreeWidget>(dialog, "lvProblems");
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QTreeWidgetItem* item = list->topLevelItem(i);
                seen.problems << QStringLiteral("%1|%2|%3").arg(item->text(0), item->text(1), item->text(2));
            }
            QTest::mouseClick(child<QPushButton>(dialog, answer ? answer : "btnImportNone"), Qt::LeftButton);
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
        db.AddLines(kUser, sampleLines());
    }
    void cleanup()
    {
        form.reset();
        hooks.reset();
        home.reset();
    }

    // The preview lays out a few pages of 200 rows; each button writes its format with every row of the view.
    void previewExportsEveryRow_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("magic");
        QTest::newRow("excel") << QByteArray("btnExportExcel") << int(ExportFormat::Excel)
                               << QStringLiteral("导出 “明细”.xlsx") << QByteArray("PK");
        QTest::newRow("csv") << QByteArray("btnExportCsv") << int(ExportFormat::Csv)
                             << QStringLiteral("导出 “明细”.csv") << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("pdf") << QByteArray("btnExportPdf") << int(ExportFormat::Pdf)
                             << QStringLiteral("导出 “明细”.pdf") << QByteArray("%PDF");
    }
    void previewExportsEveryRow()
    {
        QFETCH(QByteArray, button);
        QFETCH(int, format);
        QFETCH(QString, name);
        QFETCH(QByteArray, magic);
        openWindow();
        QTest::mouseClick(control<QLabel>("Label2"), Qt::LeftButton);
        query(kYear.first, kYear.last);
        // The pickers moving on after 查看 do not change what the preview shows.
        control<QDateEdit>("DateTimePicker3")->setDate(QDate(2024, 1, 31));
        const QString file = path(name);
        QStringList captions;
        whenDialogShows("frmPrint", [&](QWidget* preview) {
            QPushButton* print = child<QPushButton>(preview, "btnPrint");
            int right = print->geometry().right();
            for (const char* name : { "btnExportExcel", "btnExportCsv", "btnExportPdf" }) {
                auto* exportButton = child<QPushButton>(preview, name);
                QVERIFY(exportButton->isVisible() && exportButton->isFlat());
                QCOMPARE(exportButton->parentWidget(), print->parentWidget());
                QCOMPARE(exportButton->geometry().left(), right + 1);
                QVERIFY(exportButton->width() >= exportButton->sizeHint().width());
                right = exportButton->geometry().right();
                captions << exportButton->text();
            }
            FileDialog::setNextFileName(file);
            QTest::mouseClick(child<QPushButton>(preview, button.constData()), Qt::LeftButton);
            static_cast<QDialog*>(preview)->reject();
        });
        QTest::mouseClick(control<QPushButton>("Button8"), Qt::LeftButton);

        QCOMPARE(captions,
            (QStringList { QStringLiteral("导出Excel"), QStringLiteral("导出CSV"), QStringLiteral("导出PDF") }));
        QCOMPARE(FileDialog::lastStartPath(),
            documentsFolder() + QLatin1Char('/')
                + defaultExportName(kUser, ReviewView::Detail, kYear, ExportFormat(format)));
        QVERIFY2(readAll(file).startsWith(magic), qPrintable(file));
        if (ExportFormat(format) == ExportFormat::Csv)
            QCOMPARE(linesOfCsv(file), storedLines());
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(
            shown.first().contains(file) && shown.first().contains(QString::number(kLines)), qPrintable(shown.first()));
        // Nothing but the file is left beside it.
        QCOMPARE(QDir(home->base()).entryList(QDir::Files | QDir::Hidden), QStringList { name });
    }

    // A preview of something that cannot be exported keeps to its five buttons.
    void barePreviewHasNoExportButtons()
    {
        TfrmPrint preview;
        for (const char* name : { "btnExportExcel", "btnExportCsv", "btnExportPdf" })
            QVERIFY(child<QPushButton>(&preview, name)->isHidden());
        bool called = false;
        preview.setExportAction([&called](ExportFormat, QWidget*) { called = true; });
        QVERIFY(!child<QPushButton>(&preview, "btnExportPdf")->isHidden());
        child<QPushButton>(&preview, "btnExportPdf")->click();
        QVERIFY(called);
    }

    // Each list's menu exports its own view over the range last shown, with the rows the store holds now.
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
        openWindow();
        QTest::mouseClick(control<QLabel>("Label2"), Qt::LeftButton);
        query(kYear.first, kYear.last);
        showView(view);
        // Stored after the query on a day and of a product of its own: a row more in every view's file, though not in
        // the list.
        TDbMan().AddLines(kUser, { { 0, QDate(2024, 1, 3), QStringLiteral("新品"), 5, 100, 50, QString() } });
        const QString file = path(QStringLiteral("列表.csv"));
        FileDialog::setNextFileName(file);
        rightClick(control<QTreeView>(list.constData()));
        auto* menu = control<QMenu>("menuExport");
        QStringList entries;
        for (const QAction* action : menu->actions())
            entries << action->text();
        QCOMPARE(entries,
            (QStringList { QStringLiteral("导出Excel…"), QStringLiteral("导出CSV…"), QStringLiteral("导出PDF…") }));
        chooseFromMenu(menu, "actExportCsv");

        TDbMan db;
        ViewRows expected(db, ReviewView(view), kYear);
        QCOMPARE(control<QTreeView>(list.constData())->model()->rowCount() + 1, expected.count());
        const QList<QByteArray> rows = readAll(file).split('\n');
        // Header, the rows, and the empty piece after the last line end; no memo here holds a line break.
        QCOMPARE(rows.size(), expected.count() + 2);
        QVERIFY(rows.first().contains(viewColumns(ReviewView(view)).first().caption.toUtf8()));
        const QStringList shown = MessageBox::takeShownTexts();
        QVERIFY2(
            shown.size() == 1 && shown.first().contains(QString::number(expected.count())), qPrintable(shown.value(0)));
    }

    // A range without lines, or no 查看 yet: a message, no dialog and no file.
    void nothingToExport_data()
    {
        QTest::addColumn<bool>("queried");
        QTest::newRow("empty range") << true;
        QTest::newRow("not queried") << false;
    }
    void nothingToExport()
    {
        QFETCH(bool, queried);
        openWindow();
        QTest::mouseClick(control<QLabel>("Label2"), Qt::LeftButton);
        if (queried)
            query(QDate(2030, 1, 1), QDate(2030, 12, 31));
        FileDialog::setNextFileName(QString());
        FileDialog::getOpenFileName(nullptr, QString(), QStringLiteral("<before>"), QString());
        const QByteArray before = fingerprint(home->base());
        rightClick(control<QTreeView>("ListView2"));
        chooseFromMenu(control<QMenu>("menuExport"), "actExportExcel");
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(queried ? QStringLiteral("没有可以导出的记录") : QStringLiteral("查看")),
            qPrintable(shown.first()));
        QCOMPARE(FileDialog::lastStartPath(), QStringLiteral("<before>"));
        QCOMPARE(fingerprint(home->base()), before);
    }

    // Good and bad rows: every problem listed; the good rows become pending lines as if typed, nothing is stored,
    // and the product names end as typing the rows in file order leaves them.
    void importWithBadRows_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("add the good rows") << QByteArray("btnImportGood");
        QTest::newRow("add none") << QByteArray("btnImportNone");
    }
    void importWithBadRows()
    {
        QFETCH(QByteArray, answer);
        const bool adding = answer == "btnImportGood";
        TDbMan().WriteProductNames(kUser, { QStringLiteral("旧品"), QStringLiteral("乙") });
        const QString file = path(QStringLiteral("销售.csv"));
        QVERIFY(writeAll(file,
            QByteArray(kHeader)
                + "2025-03-01,甲,2,10.50,4.00,第一行\r\n"
                  "2025-02-30,乙,1,1.00,0.50,\r\n"
                  "2025-03-02,乙,3,3.00,1.00,\r\n"
                  "2025-03-02,丙,x,3.00,1.00,\r\n"
                  "2025-03-03,甲,-1,-10.50,-4.00,退货\r\n"
                  "2025-03-04, ,1,1.00,1.00,\r\n"));
        openWindow();
        // From the review page: adding turns to the bookkeeping page, where the lines are.
        QTest::mouseClick(control<QLabel>("Label2"), Qt::LeftButton);
        const qint64 stored = storedLineCount(*home);

        const ImportSeen seen = importFile(file, answer.constData());
        QVERIFY(seen.dialog);
        QCOMPARE(seen.problems,
            (QStringList { QStringLiteral("3|日期|“2025-02-30”不是日期"), QStringLiteral("5|数量|“x”不是整数"),
                QStringLiteral("7|品名|品名是空的") }));
        const QList<SalesLine> good {
            { 0, QDate(2025, 3, 1), QStringLiteral("甲"), 2, 1050, 400, QStringLiteral("第一行") },
            { 0, QDate(2025, 3, 2), QStringLiteral("乙"), 3, 300, 100, QString() },
            { 0, QDate(2025, 3, 3), QStringLiteral("甲"), -1, -1050, -400, QStringLiteral("退货") },
        };
        auto* pending = control<QTreeView>("ListView1");
        QCOMPARE(pending->model()->rowCount(), adding ? 3 : 0);
        QVERIFY(control<QWidget>("Panel2")->isVisible() == adding);
        SalesTotals totals;
        for (const SalesLine& line : good)
            totals.add(line);
        QCOMPARE(control<QLabel>("Label18")->text(), adding ? totals.text() : SalesTotals().text());
        if (adding)
            QCOMPARE(pending->model()->index(1, 2).data().toString(), QStringLiteral("乙"));
        const QStringList names = adding
            ? QStringList { QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("旧品") }
            : QStringList { QStringLiteral("旧品"), QStringLiteral("乙") };
        QCOMPARE(productNames(), names);
        QCOMPARE(namesInTheBox(), names);
        QCOMPARE(storedLineCount(*home), stored);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), adding ? 1 : 0);
        QVERIFY(!adding || shown.first().contains(QStringLiteral("完成")));
        if (!adding)
            return;
        // "完成" stores them as typed lines.
        QTest::mouseClick(control<QPushButton>("Button4"), Qt::LeftButton);
        MessageBox::takeShownTexts();
        QCOMPARE(storedLines({ kUser, QDate(2025, 1, 1), QDate(2025, 12, 31) }), good);
    }

    // A file without one good row: only a message naming the problems; no dialog, nothing pending.
    void importWithoutGoodRows()
    {
        const QString file = path(QStringLiteral("坏.csv"));
        QVERIFY(writeAll(file, QByteArray(kHeader) + "昨天,甲,1,1,1,\r\n2024-01-01,乙,1,很多,1,\r\n"));
        openWindow();
        const QStringList names = productNames();
        const ImportSeen seen = importFile(file);
        QVERIFY(!seen.dialog);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(QStringLiteral("第 2 行，日期"))
                && shown.first().contains(QStringLiteral("第 3 行，实收")),
            qPrintable(shown.first()));
        QCOMPARE(control<QTreeView>("ListView1")->model()->rowCount(), 0);
        QCOMPARE(productNames(), names);
    }

    // 100,000 lines of 2,000 products come in within seconds, and the names end in the order of their last line.
    void largeImport()
    {
        QByteArray bytes = kHeader;
        constexpr int kRows = 100'000;
        constexpr int kNames = 2'000;
        for (int i = 0; i < kRows; ++i)
            bytes += QStringLiteral("2024-05-%1,品名%2,1,2.50,1.00,\r\n").arg(1 + i % 28).arg(i * 7 % kNames).toUtf8();
        const QString file = path(QStringLiteral("大.csv"));
        QVERIFY(writeAll(file, bytes));
        openWindow();
        QElapsedTimer clock;
        clock.start();
        const ImportSeen seen = importFile(file);
        const qint64 elapsed = clock.elapsed();
        QVERIFY(!seen.dialog && seen.progress);
        qInfo("imported %d lines of %d names in %lld ms", kRows, kNames, elapsed);
        MessageBox::takeShownTexts();
        QCOMPARE(control<QTreeView>("ListView1")->model()->rowCount(), kRows);
        const QStringList names = productNames();
        QCOMPARE(names.size(), kNames);
        // The last rows name the products 7·i mod 2,000 for i from 99,999 down.
        for (int k = 0; k < 5; ++k)
            QCOMPARE(names.at(k), QStringLiteral("品名%1").arg((kRows - 1 - k) * 7 % kNames));
        QCOMPARE(namesInTheBox(), names);
        // A name is kept durably once per product, not once per line: a call per line would take minutes.
        QVERIFY2(elapsed < 60'000, qPrintable(QString::number(elapsed)));
    }

    void commandLineExport_data()
    {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("magic");
        QTest::newRow("detail csv") << "detail"
                                    << "明细.csv" << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("ranking xlsx") << "ranking"
                                      << "排行.XLSX" << QByteArray("PK");
        QTest::newRow("daily pdf") << "daily"
                                   << "每天.pdf" << QByteArray("%PDF");
    }
    void commandLineExport()
    {
        QFETCH(QString, view);
        QFETCH(QString, file);
        QFETCH(QByteArray, magic);
        const QString target = path(file);
        const ToolRun run
            = runTool({ QStringLiteral("--export"), view, QStringLiteral("2024-01-01"), QStringLiteral("2024-12-31"),
                          target, QStringLiteral("--user"), kUser, QStringLiteral("--password-stdin") },
                kPassword.toUtf8() + '\n');
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        QVERIFY2(readAll(target).startsWith(magic), qPrintable(target));
        TDbMan db;
        ViewRows expected(db, *viewFromKey(view), kYear);
        QVERIFY2(run.output.contains(target) && run.output.contains(QString::number(expected.count())),
            qPrintable(run.output));
        if (view == QLatin1String("detail"))
            QCOMPARE(linesOfCsv(target), storedLines());
        QVERIFY(!run.errors.contains(kPassword));
    }

    void commandLineRefusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("errorText");
        const QString user = QStringLiteral("--user");
        const QString stdinPassword = QStringLiteral("--password-stdin");
        const QByteArray right = kPassword.toUtf8() + '\n';
        const auto command = [&](const QString& view, const QString& from, const QString& to, const QString& file) {
            return QStringList { QStringLiteral("--export"), view, from, to, file, user, kUser, stdinPassword };
        };
        QTest::newRow("wrong password") << command("detail", "2024-01-01", "2024-12-31", "out.csv")
                                        << QByteArray("密码 2\n") << 1 << QStringLiteral("密码不对");
        QTest::newRow("unknown user") << (command("detail", "2024-01-01", "2024-12-31", "out.csv").mid(0, 6)
            << QStringLiteral("李四") << stdinPassword)
                                      << right << 1 << QStringLiteral("李四");
        QTest::newRow("unknown view") << command("weekly", "2024-01-01", "2024-12-31", "out.csv") << right << 2
                                      << QStringLiteral("weekly");
        QTest::newRow("bad day") << command("daily", "2024-01-01", "2024-02-30", "out.csv") << right << 2
                                 << QStringLiteral("2024-02-30");
        QTest::newRow("days reversed") << command("daily", "2024-12-31", "2024-01-01", "out.csv") << right << 2
                                       << QStringLiteral("之后");
        QTest::newRow("unknown extension")
            << command("daily", "2024-01-01", "2024-12-31", "out.txt") << right << 2 << QStringLiteral(".xlsx");
        QTest::newRow("no lines") << command("detail", "2030-01-01", "2030-12-31", "out.csv") << right << 1
                                  << QStringLiteral("没有可以导出的记录");
        QTest::newRow("no password") << command("detail", "2024-01-01", "2024-12-31", "out.csv").mid(0, 7)
                                     << QByteArray() << 2 << QStringLiteral("--password-stdin");
        QTest::newRow("missing user") << command("detail", "2024-01-01", "2024-12-31", "out.csv").mid(0, 5) << right
                                      << 2 << QStringLiteral("用法");
    }
    void commandLineRefusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QString, errorText);
        arguments[4] = path(arguments.at(4));
        const QByteArray before = fingerprint(home->base());
        const ToolRun run = runTool(arguments, input);
        QVERIFY2(run.exitCode == exitCode && run.errors.contains(errorText),
            qPrintable(QStringLiteral("%1\n%2").arg(run.exitCode).arg(run.errors)));
        QVERIFY(run.output.isEmpty());
        QCOMPARE(fingerprint(home->base()), before);
    }
};

KIVARO_TEST_MAIN(TestExportUi)

#include "tst_exportui.moc"
