#include "db/DbClass.h"
#include "db/Numbers.h"
#include "forms/ChartPage.h"
#include "forms/FileDialog.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "reports/PrintForm.h"
#include "reports/ReportEngine.h"
#include "tests/TestUtil.h"
#include "tests/support/Files.h"
#include "tests/support/LedgerSeed.h"
#include "tests/support/RawDb.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

// What a poppler tool printed about a file, or nothing when it failed.
// Whether more than a sliver of the image is drawn on.
bool drawnOn(const QImage& image)
{
    qint64 inked = 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); y += 2) {
        for (int x = 0; x < rgb.width(); x += 2)
            inked += rgb.pixel(x, y) != qRgb(255, 255, 255);
    }
    return inked * 4 > qint64(rgb.width()) * rgb.height() / 100;
}

} // namespace

class TestReviewPage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TfrmMain> form;
    const QString user = QStringLiteral("张三");

    QTreeView* view(const char* name) { return child<QTreeView>(form.get(), name); }
    QPushButton* button(const char* name) { return child<QPushButton>(form.get(), name); }
    QString label(const char* name) { return child<QLabel>(form.get(), name)->text(); }
    QString cell(const char* list, int row, int column)
    {
        QAbstractItemModel* model = view(list)->model();
        return model->data(model->index(row, column)).toString();
    }
    int rows(const char* list) { return view(list)->model()->rowCount(); }
    TChartPage* chart() { return child<TChartPage>(form.get(), "Panel8"); }
    void choose(const QString& shown)
    {
        auto* selector = child<QComboBox>(form.get(), "ComboBox6");
        selector->setCurrentIndex(selector->findText(shown));
    }
    void selectRow(int row)
    {
        QTreeView* detail = view("ListView2");
        detail->selectionModel()->select(
            detail->model()->index(row, 1), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void add(const QString& day, const QString& name, const QString& qty, const QString& money, const QString& cost,
        const QString& memo = QString())
    {
        TDbMan db;
        addRecord(db, user, day, name, qty, money, cost, memo);
    }
    void clickHeader(const char* list, const QString& caption)
    {
        QHeaderView* header = view(list)->header();
        for (int section = 0; section < header->count(); ++section) {
            if (header->model()->headerData(section, Qt::Horizontal).toString() == caption) {
                QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                        header->height() / 2));
                return;
            }
        }
        QFAIL("no such column");
    }
    QString column(const char* list, int column)
    {
        QStringList texts;
        for (int row = 0; row < rows(list); ++row)
            texts << cell(list, row, column);
        return texts.join(QLatin1Char(' '));
    }
    void showRange(const QDate& first, const QDate& last)
    {
        child<QDateEdit>(form.get(), "DateTimePicker2")->setDate(first);
        child<QDateEdit>(form.get(), "DateTimePicker3")->setDate(last);
        QTest::mouseClick(button("Button7"), Qt::LeftButton);
    }
    void addSampleWeek()
    {
        add(QStringLiteral("2009/01/01"), QStringLiteral("毛巾"), QStringLiteral("1"), QStringLiteral("10.00"),
            QStringLiteral("6.00"), QStringLiteral("李四"));
        add(QStringLiteral("2009/01/01"), QStringLiteral("牙刷"), QStringLiteral("1"), QStringLiteral("5.50"),
            QStringLiteral("3.25"));
        add(QStringLiteral("2009/01/07"), QStringLiteral("毛巾"), QStringLiteral("-1"), QStringLiteral("-10.00"),
            QStringLiteral("-6.00"), QStringLiteral("退货"));
        add(QStringLiteral("2009/01/08"), QStringLiteral("outside"), QStringLiteral("9"), QStringLiteral("9.00"),
            QStringLiteral("9.00"));
    }

private Q_SLOTS:
    void init()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
        form = openReviewWindow(user);
    }
    void cleanup()
    {
        hooks.reset();
        form.reset();
        home.reset();
    }

    void startsEmptyWithoutQuery()
    {
        const QDate today = QDate::currentDate();
        QCOMPARE(child<QDateEdit>(form.get(), "DateTimePicker2")->date(), QDate(today.year(), today.month(), 1));
        QCOMPARE(child<QDateEdit>(form.get(), "DateTimePicker3")->date(), today);
        QVERIFY(child<QWidget>(form.get(), "Panel4")->isVisible());
        for (const char* totals : { "Label19", "Label22", "Label23", "Label24" })
            QCOMPARE(label(totals), QStringLiteral("数量：0  实收：0.00  成本：0.00  利润：0.00"));
        for (const char* name : { "Button8", "Button10", "Button11", "Button13", "Button14", "Button15" })
            QVERIFY2(!button(name)->isEnabled(), name);
        QCOMPARE(button("Button8")->text(), QStringLiteral("预览&&打印"));
    }

    void queryFillsAllFourViewsAndSwitchingDoesNotQuery()
    {
        addSampleWeek();
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 7));
        QCOMPARE(rows("ListView2"), 3);
        QCOMPARE(rows("ListView3"), 2);
        QCOMPARE(rows("ListView4"), 3);
        QCOMPARE(rows("ListView5"), 2);
        QCOMPARE(cell("ListView2", 0, 1), QStringLiteral("2009-01-01"));
        QCOMPARE(cell("ListView2", 0, 6), QStringLiteral("李四"));
        QCOMPARE(cell("ListView2", 2, 4), QStringLiteral("-10.00"));
        QCOMPARE(label("Label19"), QStringLiteral("数量：1  实收：5.50  成本：3.25  利润：2.25"));
        QCOMPARE(label("Label22"), label("Label19"));
        QCOMPARE(cell("ListView5", 0, 1), QStringLiteral("牙刷"));
        QVERIFY(button("Button8")->isEnabled() && button("Button15")->isEnabled());
        QVERIFY(!button("Button10")->isEnabled());
        QVERIFY(button("Button7")->isEnabled());

        add(QStringLiteral("2009/01/02"), QStringLiteral("new"), QStringLiteral("1"), QStringLiteral("1"),
            QStringLiteral("1"));
        auto* selector = child<QComboBox>(form.get(), "ComboBox6");
        selector->setCurrentIndex(3);
        QVERIFY(child<QWidget>(form.get(), "Panel7")->isVisible());
        QVERIFY(!child<QWidget>(form.get(), "Panel4")->isVisible());
        QCOMPARE(rows("ListView5"), 2);

        showRange(QDate(2009, 2, 1), QDate(2009, 1, 1));
        QCOMPARE(rows("ListView2") + rows("ListView3") + rows("ListView4") + rows("ListView5"), 0);
        QCOMPARE(label("Label24"), QStringLiteral("数量：0  实收：0.00  成本：0.00  利润：0.00"));
        QVERIFY(!button("Button15")->isEnabled());
    }

    // The chart takes the lists' place; their rows, selection and totals are there again when the user goes back.
    void chartShowsInPlaceOfTheListsAndKeepsTheirState()
    {
        auto* selector = child<QComboBox>(form.get(), "ComboBox6");
        QCOMPARE(selector->count(), 5);
        QCOMPARE(selector->itemText(4), QStringLiteral("销售趋势图"));
        QVERIFY(!button("Button16")->isEnabled());
        addSampleWeek();
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 7));
        selectRow(1);
        const QString totals = label("Label19");

        choose(QStringLiteral("销售趋势图"));
        QVERIFY(chart()->isVisible());
        for (const char* panel : { "Panel4", "Panel5", "Panel6", "Panel7" })
            QVERIFY2(!child<QWidget>(form.get(), panel)->isVisible(), panel);
        QCOMPARE(label("LabelChartTotals"), label("Label22"));
        QCOMPARE(chart()->trend().points.size(), 7);
        QVERIFY(!chart()->rankingPending());
        QCOMPARE(chart()->topProducts().top.first().productName, QStringLiteral("牙刷"));
        QVERIFY(button("Button16")->isEnabled());

        choose(QStringLiteral("每天销售产品明细列表"));
        QVERIFY(!chart()->isVisible());
        QVERIFY(child<QWidget>(form.get(), "Panel4")->isVisible());
        const QModelIndexList selected = view("ListView2")->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().row(), 1);
        QVERIFY(button("Button10")->isEnabled());
        QCOMPARE(label("Label19"), totals);

        // A range without lines empties the chart with the lists.
        choose(QStringLiteral("销售趋势图"));
        showRange(QDate(2010, 1, 1), QDate(2010, 1, 2));
        QCOMPARE(label("LabelChartTotals"), label("Label22"));
        QCOMPARE(label("LabelChartTotals"), SalesTotals {}.text());
        QVERIFY(chart()->topProducts().top.isEmpty());
        QVERIFY(!button("Button16")->isEnabled());
    }

    // The chart is previewed, printed and saved as PDF on one A4 sheet lying on its side, titled with the user and
    // the range; the preview offers a picture instead of the spreadsheets. The lists still print upright after it.
    void chartPrintsOnALandscapeSheetAndExports()
    {
        QTemporaryDir dir;
        addSampleWeek();
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 7));
        choose(QStringLiteral("销售趋势图"));
        const QString printed = dir.filePath(QStringLiteral("printed.pdf"));
        const QString pdf = dir.filePath(QStringLiteral("chart.pdf"));
        const QString png = dir.filePath(QStringLiteral("chart.png"));
        QPageLayout::Orientation offered = QPageLayout::Portrait;
        TfrmPrint::execPrintDialog = [&](QPrintDialog& dialog) {
            offered = dialog.printer()->pageLayout().orientation();
            dialog.printer()->setOutputFileName(printed);
            return true;
        };
        bool shown = false;
        QString pngStart;
        whenDialogShows("frmPrint", [&](QWidget* window) {
            shown = true;
            auto* preview = static_cast<TfrmPrint*>(window);
            const ReportDocument* document = preview->CompositeReport;
            QCOMPARE(document->pageCount(), 1);
            QVERIFY(document->orientation == QPageLayout::Landscape);
            const ReportPage* page = document->page(1);
            QVERIFY(page->orientation() == QPageLayout::Landscape);
            QCOMPARE(page->drawings().size(), size_t(1));
            const QImage sheet = page->toImage(96);
            QCOMPARE(sheet.size(), QSize(ReportUnits::mmToDots(297, 96), ReportUnits::mmToDots(210, 96)));
            QVERIFY(drawnOn(sheet));
            for (const char* name : { "btnExportPdf", "btnExportPng" })
                QVERIFY2(child<QPushButton>(preview, name)->isVisible(), name);
            for (const char* name : { "btnExportExcel", "btnExportCsv" })
                QVERIFY2(!child<QPushButton>(preview, name)->isVisible(), name);

            QTest::mouseClick(child<QPushButton>(preview, "btnPrint"), Qt::LeftButton);
            FileDialog::setNextFileName(pdf);
            QTest::mouseClick(child<QPushButton>(preview, "btnExportPdf"), Qt::LeftButton);
            FileDialog::setNextFileName(png);
            QTest::mouseClick(child<QPushButton>(preview, "btnExportPng"), Qt::LeftButton);
            pngStart = FileDialog::lastStartPath();
            preview->reject();
        });
        QTest::mouseClick(button("Button16"), Qt::LeftButton);
        QVERIFY(shown);
        QVERIFY(offered == QPageLayout::Landscape);
        QCOMPARE(QFileInfo(pngStart).fileName(), QStringLiteral("张三-销售趋势图-2009-01-01至2009-01-07.png"));
        QCOMPARE(MessageBox::takeShownTexts().size(), 2);

        KIVARO_NEEDS_POPPLER();
        for (const QString& file : { printed, pdf }) {
            const QString info = popplerOutput(QStringLiteral("pdfinfo"), { file });
            // A4 on its side, 297 × 210 mm in points; a printer rounds to whole points.
            const QRegularExpressionMatch size
                = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(info);
            QVERIFY2(size.hasMatch(), qPrintable(info));
            QVERIFY2(qAbs(size.captured(1).toDouble() - 841.89) < 0.5, qPrintable(info));
            QVERIFY2(qAbs(size.captured(2).toDouble() - 595.28) < 0.5, qPrintable(info));
            QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))), qPrintable(info));
            const QString text = popplerOutput(QStringLiteral("pdftotext"), { file, QStringLiteral("-") });
            QVERIFY2(
                text.contains(user) && text.contains(QStringLiteral("2009-01-01 至 2009-01-07")), qPrintable(text));
            QVERIFY2(text.contains(QStringLiteral("牙刷")), qPrintable(text));
        }
        const QImage image(png);
        QCOMPARE(image.size(), QSize(1600, 1100));
        QVERIFY(drawnOn(image));

        QPageLayout::Orientation listShown = QPageLayout::Landscape;
        whenDialogShows("frmPrint", [&](QWidget* window) {
            listShown = static_cast<TfrmPrint*>(window)->CompositeReport->page(1)->orientation();
            static_cast<TfrmPrint*>(window)->reject();
        });
        choose(QStringLiteral("每天销售数量金额统计"));
        QTest::mouseClick(button("Button13"), Qt::LeftButton);
        QVERIFY(listShown == QPageLayout::Portrait);
    }

    void totalsAreExactToTheCent()
    {
        add(QStringLiteral("2009/01/05"), QStringLiteral("大件"), QStringLiteral("1000000008"),
            QStringLiteral("8000000.88"), QStringLiteral("6000000.68"));
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 31));
        QCOMPARE(cell("ListView2", 0, 4), QStringLiteral("8000000.88"));
        const QString expected
            = QStringLiteral("数量：1000000008  实收：8000000.88  成本：6000000.68  利润：2000000.20");
        for (const char* totals : { "Label19", "Label22", "Label23", "Label24" })
            QCOMPARE(label(totals), expected);
    }

    // Group sums outgrow what one typed line may hold; every totals line still equals the exact sum of the lines,
    // on screen and in full (the label grows with its text).
    void totalsOfLargeSumsAreExact()
    {
        for (int i = 0; i < 3; ++i)
            add(QStringLiteral("2009/01/05"), QStringLiteral("大件"), QStringLiteral("1000000008"),
                QStringLiteral("8000000.88"), QStringLiteral("6000000.68"));
        add(QStringLiteral("2009/01/06"), QStringLiteral("小件"), QStringLiteral("5"), QStringLiteral("10"),
            QStringLiteral("4"));
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 31));
        QCOMPARE(cell("ListView3", 0, 2), QStringLiteral("3000000024"));
        const QString expected
            = QStringLiteral("数量：3000000029  实收：24000012.64  成本：18000006.04  利润：6000006.60");
        for (const char* totals : { "Label19", "Label22", "Label23", "Label24" })
            QCOMPARE(label(totals), expected);

        // Amounts at the one-trillion limit: three of them sum past every 64-bit cent limit of one line.
        for (int i = 0; i < 3; ++i)
            add(QStringLiteral("2009/02/01"), QStringLiteral("巨"), QStringLiteral("2147483647"),
                QStringLiteral("1000000000000"), QStringLiteral("-1000000000000"));
        showRange(QDate(2009, 2, 1), QDate(2009, 2, 1));
        const QString huge = QStringLiteral(
            "数量：6442450941  实收：3000000000000.00  成本：-3000000000000.00  利润：6000000000000.00");
        for (const char* totals : { "Label19", "Label22", "Label23", "Label24" }) {
            QCOMPARE(label(totals), huge);
            auto* shown = child<QLabel>(form.get(), totals);
            QVERIFY2(shown->width() >= shown->fontMetrics().horizontalAdvance(huge), totals);
        }
    }

    // After a delete no row is selected, so a second click cannot reach a line the user never chose; after an edit
    // the edited line stays chosen; a line another instance deleted meanwhile is reported and left on screen as it was.
    void changesLeaveTheRightSelectionAndVanishedLinesAreReported()
    {
        addSampleWeek();
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 7));
        selectRow(0);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button10"), Qt::LeftButton);
        QCOMPARE(rows("ListView2"), 2);
        QVERIFY(view("ListView2")->selectionModel()->selectedRows().isEmpty());
        QVERIFY(!button("Button10")->isEnabled() && !button("Button11")->isEnabled());
        MessageBox::takeShownTexts();

        selectRow(0);
        whenDialogShows("frmUpdateRecord",
            [](QWidget* dialog) { QTest::keyClick(child<QLineEdit>(dialog, "Edit5"), Qt::Key_Return); });
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button11"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts().last(), QStringLiteral("恭喜您，本次操作成功！"));
        QCOMPARE(view("ListView2")->selectionModel()->selectedRows().value(0).row(), 0);
        QVERIFY(button("Button10")->isEnabled() && button("Button11")->isEnabled());
        view("ListView2")->selectionModel()->clear();

        // Another instance deletes both lines that are still shown.
        {
            TDbMan other;
            deleteStored(other, QStringLiteral("张三"), cell("ListView2", 0, 0).toLongLong());
            deleteStored(other, QStringLiteral("张三"), cell("ListView2", 1, 0).toLongLong());
        }
        const QString gone = QStringLiteral("该记录已被删除或修改，请重新查看。");
        const QString totals = label("Label19");
        selectRow(0);
        whenDialogShows("frmUpdateRecord", [](QWidget* dialog) {
            child<QLineEdit>(dialog, "Edit1")->setText(QStringLiteral("changed"));
            QTest::keyClick(child<QLineEdit>(dialog, "Edit5"), Qt::Key_Return);
        });
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button11"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts(), (QStringList { QStringLiteral("真的要编辑指定的记录？"), gone }));
        QCOMPARE(cell("ListView2", 0, 2), QStringLiteral("牙刷"));
        selectRow(1);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button10"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts(), (QStringList { QStringLiteral("真的要删除指定的记录？"), gone }));
        QCOMPARE(rows("ListView2"), 2);
        QCOMPARE(label("Label19"), totals);
    }

    // A range of many lines: the lists show every row while fetching only what is looked at, the last row is the
    // last line, and a ranking too long to compute at once arrives without a further click.
    void manyLinesAreShownAndRankedInTheBackground()
    {
        QList<SalesLine> lines;
        SalesTotals expected;
        for (int i = 0; i < 30'000; ++i) {
            const SalesLine line { 0, QDate(2020, 1, 1).addDays(i / 500), QStringLiteral("品%1").arg(i % 500),
                qint32(1 + i % 7), 1000 + i, 500 + i % 300, QString() };
            lines.append(line);
            expected.add(line);
        }
        {
            TDbMan db;
            addLines(db, user, lines);
        }
        showRange(QDate(2020, 1, 1), QDate(2020, 12, 31));
        QCOMPARE(rows("ListView2"), 30'000);
        QCOMPARE(rows("ListView3"), 60);
        QCOMPARE(rows("ListView4"), 30'000);
        for (const char* totals : { "Label19", "Label22", "Label23", "Label24" })
            QCOMPARE(label(totals), expected.text());
        view("ListView2")->scrollToBottom();
        QCOMPARE(cell("ListView2", 29'999, 2), QStringLiteral("品499"));
        QCOMPARE(cell("ListView2", 29'999, 4), formatCents(1000 + 29'999));
        QCOMPARE(cell("ListView4", 15'001, 2), QStringLiteral("品1"));
        QTRY_COMPARE(rows("ListView5"), 500);
        // The chart got the ranking too: the product with the highest numbers took most.
        QVERIFY(!chart()->rankingPending());
        QCOMPARE(chart()->topProducts().top.size(), 10);
        QCOMPARE(chart()->topProducts().top.first().productName, QStringLiteral("品499"));
        // Most sold first; equal quantities in the order of the first sale, which is the order of the numbers.
        QList<std::pair<qint64, int>> sold(500);
        for (int i = 0; i < 500; ++i)
            sold[i] = { 0, i };
        for (const SalesLine& line : std::as_const(lines))
            sold[line.productName.mid(1).toInt()].first += line.quantity;
        std::stable_sort(sold.begin(), sold.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const int row : { 0, 1, 250, 499 }) {
            QCOMPARE(cell("ListView5", row, 1), QStringLiteral("品%1").arg(sold.at(row).second));
            QCOMPARE(cell("ListView5", row, 2), QString::number(sold.at(row).first));
        }
        QVERIFY(button("Button15")->isEnabled());

        // Day summaries that another program changed are found by the check beside the ranking, and the views are
        // read again, right, a moment after 查看.
        if (home->server())
            return;
        QVERIFY(RawDb(home->dbPath()).exec(QStringLiteral("UPDATE DaySums SET Lines = Lines + 2")));
        showRange(QDate(2020, 1, 1), QDate(2020, 12, 31));
        QCOMPARE(rows("ListView2"), 30'120);
        QTRY_COMPARE(rows("ListView2"), 30'000);
        QCOMPARE(label("Label19"), expected.text());
        QCOMPARE(cell("ListView2", 29'999, 2), QStringLiteral("品499"));
    }

    // The same check on a short range, at once: a day whose summary row another program deleted comes back.
    void damagedDaySumsAreReadAgain()
    {
        if (home->server())
            QSKIP("the server's summaries are written by its own triggers alone");
        addSampleWeek();
        showRange(QDate(2009, 1, 1), QDate(2009, 12, 31));
        const int days = rows("ListView3");
        const int lines = rows("ListView2");
        const QString totals = label("Label19");
        QVERIFY(RawDb(home->dbPath())
                    .exec(QStringLiteral("DELETE FROM DaySums WHERE RecDate = (SELECT max(RecDate) FROM DaySums)")));
        showRange(QDate(2009, 1, 1), QDate(2009, 12, 31));
        QTRY_COMPARE(rows("ListView3"), days);
        QCOMPARE(rows("ListView2"), lines);
        QCOMPARE(label("Label19"), totals);
        QCOMPARE(label("Label22"), totals);
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }

    // A click on a column header of the ranking sorts it by that column, most first, a second click the other way;
    // equal rows keep the ranking's order, 品名 gives that order back, and so does the next 查看. The printout and
    // the totals follow what the list shows.
    void rankingSortsByTheClickedColumn()
    {
        const QString day = QStringLiteral("2009/03/01");
        add(day, QStringLiteral("甲"), QStringLiteral("5"), QStringLiteral("10.00"), QStringLiteral("9.00"));
        add(day, QStringLiteral("乙"), QStringLiteral("3"), QStringLiteral("30.00"), QStringLiteral("5.00"));
        add(day, QStringLiteral("丙"), QStringLiteral("4"), QStringLiteral("20.00"), QStringLiteral("19.50"));
        add(day, QStringLiteral("丁"), QStringLiteral("3"), QStringLiteral("1.00"), QStringLiteral("2.00"));
        showRange(QDate(2009, 3, 1), QDate(2009, 3, 1));
        choose(QStringLiteral("各个产品销售数量排行"));
        const QString ranked = QStringLiteral("甲 丙 乙 丁");
        QCOMPARE(column("ListView5", 1), ranked);
        const QString totals = label("Label24");
        const std::pair<QString, QString> clicks[] = { { QStringLiteral("实收"), QStringLiteral("乙 丙 甲 丁") },
            { QStringLiteral("实收"), QStringLiteral("丁 甲 丙 乙") },
            { QStringLiteral("成本"), QStringLiteral("丙 甲 乙 丁") },
            { QStringLiteral("利润"), QStringLiteral("乙 甲 丙 丁") },
            { QStringLiteral("利润"), QStringLiteral("丁 丙 甲 乙") }, { QStringLiteral("品名"), ranked },
            { QStringLiteral("数量"), ranked }, { QStringLiteral("数量"), QStringLiteral("乙 丁 丙 甲") } };
        for (const auto& [caption, order] : clicks) {
            clickHeader("ListView5", caption);
            QCOMPARE(column("ListView5", 1), order);
            QCOMPARE(label("Label24"), totals);
        }
        QVERIFY(view("ListView5")->header()->isSortIndicatorShown());

        // The preview prints the rows in the order shown.
        QList<int> tops;
        whenDialogShows("frmPrint", [&](QWidget* window) {
            auto* preview = static_cast<TfrmPrint*>(window);
            const ReportPage* page = preview->CompositeReport->page(1);
            for (const QString& name : QStringLiteral("乙 丁 丙 甲").split(QLatin1Char(' ')))
                tops << (page->find(name) ? page->find(name)->top : -1);
            preview->reject();
        });
        QTest::mouseClick(button("Button15"), Qt::LeftButton);
        QCOMPARE(tops.size(), 4);
        QVERIFY2(tops.first() >= 0 && std::is_sorted(tops.begin(), tops.end()) && tops.first() < tops.last(),
            qPrintable(QString::number(tops.first())));

        showRange(QDate(2009, 3, 1), QDate(2009, 3, 1));
        QCOMPARE(column("ListView5", 1), ranked);
        QVERIFY(!view("ListView5")->header()->isSortIndicatorShown());
        clickHeader("ListView5", QStringLiteral("实收"));
        QCOMPARE(column("ListView5", 1), QStringLiteral("乙 丙 甲 丁"));
    }

    // Until the next 查看 every view shows the ledger as 查看 read it: a delete here changes only the detail view, and
    // lines saved, edited or deleted by another window meanwhile neither appear, nor shift, repeat or blank rows.
    void viewsShowWhatTheQueryRead()
    {
        const QDate day(2020, 3, 1);
        QList<SalesLine> lines;
        for (int i = 0; i < 300; ++i)
            lines.append({ 0, day, QStringLiteral("品%1").arg(i % 3), qint32(1 + i % 5), 100 + i, 50, {} });
        {
            TDbMan db;
            addLines(db, user, lines);
        }
        showRange(day, day);
        QCOMPARE(rows("ListView2"), 300);
        QList<SalesLine> read;
        {
            TDbMan db;
            for (int row = 0; row < 300; ++row)
                read.append(storedLine(db, user, cell("ListView2", row, 0).toLongLong()));
        }
        const QString groupTotals = label("Label23");

        selectRow(0);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button10"), Qt::LeftButton);
        MessageBox::takeShownTexts();
        read.removeFirst();
        {
            // Another window saves a line of the day, edits one and deletes another.
            TDbMan other;
            addLines(other, user, { { 0, day, QStringLiteral("新"), 9, 900, 1, {} } });
            SalesLine edited = read.at(150);
            edited.quantity = 77;
            edited.productName = QStringLiteral("改");
            updateStored(other, user, edited);
            deleteStored(other, user, read.at(200).id);
        }

        view("ListView2")->scrollToBottom();
        QCOMPARE(rows("ListView2"), 299);
        for (int row = 298; row >= 0; --row) {
            QCOMPARE(cell("ListView2", row, 0).toLongLong(), read.at(row).id);
            QCOMPARE(cell("ListView2", row, 2), read.at(row).productName);
            QCOMPARE(cell("ListView2", row, 3), QString::number(read.at(row).quantity));
        }

        choose(QStringLiteral("每天各个产品销量统计"));
        QCOMPARE(rows("ListView4"), 3);
        for (int k = 0; k < 3; ++k) {
            qint64 quantity = 0;
            for (int i = k; i < 300; i += 3)
                quantity += 1 + i % 5;
            QCOMPARE(cell("ListView4", k, 2), QStringLiteral("品%1").arg(k));
            QCOMPARE(cell("ListView4", k, 3), QString::number(quantity));
        }
        QCOMPARE(label("Label23"), groupTotals);

        // The next 查看 shows the ledger as it is now.
        showRange(day, day);
        QCOMPARE(rows("ListView2"), 299);
        QCOMPARE(rows("ListView4"), 5);
        MessageBox::takeShownTexts();
    }

    // Every day the ledger accepts can be chosen: a line of 1700 (a QDateEdit stops at 1752 by itself) is shown.
    void daysBefore1752CanBeShown()
    {
        {
            TDbMan db;
            addLines(db, user, { { 0, QDate(1700, 3, 1), QStringLiteral("旧账"), 1, 100, 50, {} } });
        }
        showRange(QDate(1700, 1, 1), QDate(1700, 12, 31));
        QCOMPARE(child<QDateEdit>(form.get(), "DateTimePicker2")->date(), QDate(1700, 1, 1));
        QCOMPARE(rows("ListView2"), 1);
        QCOMPARE(cell("ListView2", 0, 1), QStringLiteral("1700-03-01"));
    }

    void deleteAsksAndOnlyTheDetailViewFollows()
    {
        addSampleWeek();
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 7));
        selectRow(0);
        QVERIFY(button("Button10")->isEnabled() && button("Button11")->isEnabled());
        // A click into the empty part of the list leaves no row selected.
        QTest::mouseClick(view("ListView2")->viewport(), Qt::LeftButton, {}, QPoint(200, 300));
        QVERIFY(!button("Button10")->isEnabled() && !button("Button11")->isEnabled());
        selectRow(0);
        MessageBox::setNextAnswer(QMessageBox::No);
        QTest::mouseClick(button("Button10"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("真的要删除指定的记录？") });
        QCOMPARE(rows("ListView2"), 3);

        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button10"), Qt::LeftButton);
        QCOMPARE(rows("ListView2"), 2);
        QCOMPARE(cell("ListView2", 0, 2), QStringLiteral("牙刷"));
        QCOMPARE(label("Label19"), QStringLiteral("数量：0  实收：-4.50  成本：-2.75  利润：-1.75"));
        QCOMPARE(label("Label22"), QStringLiteral("数量：1  实收：5.50  成本：3.25  利润：2.25"));
        QVERIFY(!button("Button10")->isEnabled());
        QCOMPARE(rows("ListView4"), 3);

        showRange(QDate(2009, 1, 1), QDate(2009, 1, 7));
        QCOMPARE(rows("ListView4"), 2);
        MessageBox::takeShownTexts();
    }

    void editRewritesTheRowInPlace()
    {
        addSampleWeek();
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 7));
        selectRow(1);
        MessageBox::setNextAnswer(QMessageBox::No);
        QTest::mouseClick(button("Button11"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("真的要编辑指定的记录？") });

        bool sawDialog = false;
        whenDialogShows("frmUpdateRecord", [&sawDialog](QWidget* dialog) {
            sawDialog = true;
            QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("真的要编辑指定的记录？") });
            auto* name = child<QLineEdit>(dialog, "Edit1");
            auto* quantity = child<QLineEdit>(dialog, "Edit2");
            auto* ok = child<QPushButton>(dialog, "Button2");
            QCOMPARE(name->text(), QStringLiteral("牙刷"));
            QCOMPARE(child<QLineEdit>(dialog, "Edit3")->text(), QStringLiteral("5.50"));
            QVERIFY(ok->isEnabled());
            name->setText(QStringLiteral("   "));
            QVERIFY(!ok->isEnabled());
            name->setText(QStringLiteral("  电动牙刷 "));
            quantity->setText(QStringLiteral("2 "));
            QTest::keyClick(child<QLineEdit>(dialog, "Edit5"), Qt::Key_Return);
            QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("很抱歉，您的输入有错误！") });
            QVERIFY(dialog->isVisible());
            quantity->setText(QStringLiteral("-2"));
            child<QLineEdit>(dialog, "Edit3")->setText(QStringLiteral("12.5"));
            QTest::keyClick(child<QLineEdit>(dialog, "Edit5"), Qt::Key_Return);
        });
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button11"), Qt::LeftButton);
        QVERIFY(sawDialog);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("恭喜您，本次操作成功！") });
        QCOMPARE(cell("ListView2", 1, 2), QStringLiteral("电动牙刷"));
        QCOMPARE(cell("ListView2", 1, 3), QStringLiteral("-2"));
        QCOMPARE(cell("ListView2", 1, 4), QStringLiteral("12.5"));
        QCOMPARE(label("Label19"), QStringLiteral("数量：-2  实收：12.50  成本：3.25  利润：9.25"));
        QCOMPARE(label("Label22"), QStringLiteral("数量：1  实收：5.50  成本：3.25  利润：2.25"));

        showRange(QDate(2009, 1, 1), QDate(2009, 1, 7));
        QCOMPARE(cell("ListView2", 1, 4), QStringLiteral("12.50"));
        QCOMPARE(cell("ListView2", 1, 2), QStringLiteral("电动牙刷"));
    }

    void failingQueryKeepsTheViewsAndRestoresTheButton()
    {
        addSampleWeek();
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 7));
        if (home->server())
            QVERIFY(home->server()->exec(QStringLiteral("ALTER TABLE day_sums RENAME TO day_sums_gone")));
        else
            QVERIFY(QFile::remove(home->dbPath()));
        showRange(QDate(2009, 1, 1), QDate(2009, 1, 31));
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        const QString where = home->server() ? home->server()->name() : QStringLiteral("db.sjk");
        QVERIFY2(shown.first().contains(where), qPrintable(shown.first()));
        QCOMPARE(rows("ListView2"), 3);
        QVERIFY(button("Button7")->isEnabled());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }
};

KIVARO_TEST_MAIN(TestReviewPage)
#include "tst_reviewpage.moc"
