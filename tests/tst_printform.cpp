#include "reports/PrintForm.h"
#include "reports/ReportBuilder.h"
#include "reports/ReportPreview.h"
#include "tests/TestUtil.h"
#include "tests/support/Files.h"

#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <numeric>

namespace {

// A report of n detail rows, with a document that asks for its pages the way the main window's does.
struct Report
{
    explicit Report(int n, ReportDocument* shared = nullptr)
        : document(shared ? shared : &own)
    {
        QList<QStringList> rows;
        for (int i = 0; i < n; ++i)
            rows << QStringList { QString(), QStringLiteral("2024-03-01"), QStringLiteral("毛巾%1").arg(i),
                QStringLiteral("1"), QStringLiteral("5.00"), QStringLiteral("2.00"), QString() };
        buildReportPages(pages, detailReportLayout(), rows, QStringLiteral("张三"), QStringLiteral("数量：1"));
        document->addReports = [this](ReportDocument& doc) {
            doc.clearPages();
            for (const auto& page : pages)
                doc.addPage(page.get());
        };
        document->prepare();
    }

    ReportPages pages;
    ReportDocument own;
    ReportDocument* document;
};

// A report of n detail rows read when a page asks for them, counting the reads; rows from failFrom on fail.
struct StreamedReport
{
    explicit StreamedReport(qsizetype n, qsizetype failFrom = -1)
        : reads(n, 0)
    {
        const ReportRows rows { n, [this, failFrom](qsizetype row) {
                                   if (failFrom >= 0 && row >= failFrom)
                                       throw std::runtime_error("row not readable");
                                   ++reads[row];
                                   return QStringList { QString(), QStringLiteral("2024-03-01"),
                                       QStringLiteral("毛巾%1").arg(row), QStringLiteral("1"), QStringLiteral("5.00"),
                                       QStringLiteral("2.00"), QString() };
                               } };
        document.addReports = [rows](ReportDocument& doc) {
            addReportPages(doc, detailReportLayout(), rows, QStringLiteral("张三"), QStringLiteral("数量：1"));
        };
        document.prepare();
    }

    QList<int> reads;
    ReportDocument document;
};

// What the print dialog was offered, and how the test answers it.
struct DialogAnswer
{
    bool confirm = true;
    QString pdfFile;
    int from = 0;
    int to = 0;
    int copies = 1;

    int shown = 0;
    int offeredCopies = 0;
    int offeredMin = 0;
    int offeredMax = 0;
    QAbstractPrintDialog::PrintDialogOptions offeredOptions;
    QPageLayout::Orientation offeredOrientation = QPageLayout::Landscape;
};

void answerPrintDialogWith(DialogAnswer& answer)
{
    TfrmPrint::execPrintDialog = [&answer](QPrintDialog& dialog) {
        QPrinter* printer = dialog.printer();
        ++answer.shown;
        answer.offeredCopies = printer->copyCount();
        answer.offeredMin = dialog.minPage();
        answer.offeredMax = dialog.maxPage();
        answer.offeredOptions = dialog.options();
        answer.offeredOrientation = printer->pageLayout().orientation();
        if (!answer.confirm)
            return false;
        printer->setOutputFileName(answer.pdfFile);
        printer->setCopyCount(answer.copies);
        if (answer.from > 0) {
            printer->setPrintRange(QPrinter::PageRange);
            printer->setFromTo(answer.from, answer.to);
        }
        return true;
    };
}

QStringList pdfSheets(const QString& fileName)
{
    return popplerOutput(QStringLiteral("pdftotext"), { fileName, QStringLiteral("-") })
        .split(QLatin1Char('\f'), Qt::SkipEmptyParts);
}

} // namespace

class TestPrintForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TfrmPrint> form;
    QTemporaryDir dir;

    QString status() const { return child<QLabel>(form.get(), "StatusPanel")->text(); }
    ReportPreview* preview() const { return child<ReportPreview>(form.get(), "QRPreview1"); }
    void click(const char* button) { QTest::mouseClick(child<QPushButton>(form.get(), button), Qt::LeftButton); }

    void open(ReportDocument* document)
    {
        form = std::make_unique<TfrmPrint>();
        form->connectDocument(document);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

private Q_SLOTS:
    void init() { hooks = std::make_unique<HookGuard>(); }
    void cleanup()
    {
        form.reset();
        hooks.reset();
    }

    void windowLayout()
    {
        Report report(1);
        open(report.document);
        QCOMPARE(form->objectName(), QStringLiteral("frmPrint"));
        QCOMPARE(form->windowTitle(), QStringLiteral("打印"));
        // The window with its frame fills the work area, so its title and status bars are on the screen.
        QCOMPARE(form->frameGeometry(), form->screen()->availableGeometry());
        QCOMPARE(form->minimumSize(), form->maximumSize());
        const char* names[] = { "btnFirstPage", "btnPrevPage", "btnNextPage", "btnLastPage", "btnPrint" };
        const QStringList captions { QStringLiteral("最前页"), QStringLiteral("前一页"), QStringLiteral("后一页"),
            QStringLiteral("最后页"), QStringLiteral("打印") };
        for (int i = 0; i < 5; ++i) {
            auto* button = child<QPushButton>(form.get(), names[i]);
            QCOMPARE(button->text(), captions[i]);
            QCOMPARE(button->geometry(), QRect(74 * i, 0, 74, 23));
            QVERIFY(button->isFlat());
            QVERIFY2(!button->icon().isNull(), names[i]);
            QCOMPARE(button->icon().availableSizes().value(0), QSize(18, 18));
            if (i < 4)
                QCOMPARE(button->property("Tag").toInt(), i);
        }
        QCOMPARE(child<QStatusBar>(form.get(), "StatusBar1")->height(), 21);
        QCOMPARE(child<QWidget>(form.get(), "CoolBar1")->height(), 27);
        // Escape does not end the preview; its close box does.
        QTest::keyClick(form.get(), Qt::Key_Escape);
        QTest::keyClick(preview(), Qt::Key_Escape);
        QVERIFY(form->isVisible());
        form->close();
        QVERIFY(!form->isVisible());
    }

    void pageShownAt100Percent()
    {
        Report report(1);
        open(report.document);
        const QLabel* sheet = qobject_cast<QLabel*>(preview()->widget());
        const double dpi = form->screen()->logicalDotsPerInchX();
        QCOMPARE(sheet->pixmap().width(), ReportUnits::mmToDots(210, dpi));
        QCOMPARE(sheet->pixmap().height(), ReportUnits::mmToDots(297, dpi));
    }

    void onePageReportStaysOnPageOne()
    {
        Report report(47);
        open(report.document);
        QCOMPARE(status(), QStringLiteral("第 1 页 / 共 1 页"));
        for (const char* button : { "btnNextPage", "btnLastPage", "btnPrevPage", "btnFirstPage" }) {
            click(button);
            QCOMPARE(preview()->pageNumber(), 1);
            QCOMPARE(status(), QStringLiteral("第 1 页 / 共 1 页"));
        }
    }

    void navigatesAThreePageReport()
    {
        Report report(95);
        open(report.document);
        QCOMPARE(status(), QStringLiteral("第 1 页 / 共 3 页"));
        click("btnPrevPage");
        QCOMPARE(status(), QStringLiteral("第 1 页 / 共 3 页"));
        click("btnNextPage");
        QCOMPARE(status(), QStringLiteral("第 2 页 / 共 3 页"));

        QScrollBar* down = preview()->verticalScrollBar();
        QVERIFY(down->maximum() > 0);
        down->setValue(down->maximum());
        preview()->horizontalScrollBar()->setValue(preview()->horizontalScrollBar()->maximum());
        click("btnLastPage");
        QCOMPARE(preview()->pageNumber(), 3);
        QCOMPARE(status(), QStringLiteral("第 3 页 / 共 3 页"));
        QCOMPARE(down->value(), 0);
        QCOMPARE(preview()->horizontalScrollBar()->value(), 0);

        // A request that changes no page leaves the view where it was.
        down->setValue(down->maximum());
        click("btnNextPage");
        QCOMPARE(status(), QStringLiteral("第 3 页 / 共 3 页"));
        QCOMPARE(down->value(), down->maximum());

        click("btnFirstPage");
        QCOMPARE(status(), QStringLiteral("第 1 页 / 共 3 页"));
        QCOMPARE(down->value(), 0);
    }

    void printsTheChosenPagesAndRemembersCopies()
    {
        KIVARO_NEEDS_POPPLER();
        ReportDocument document;
        Report report(95, &document);
        open(&document);
        click("btnNextPage");
        DialogAnswer answer;
        answer.pdfFile = dir.filePath(QStringLiteral("pages2to3.pdf"));
        answer.from = 2;
        answer.to = 3;
        answer.copies = 2;
        answerPrintDialogWith(answer);
        click("btnPrint");

        QCOMPARE(answer.shown, 1);
        QCOMPARE(answer.offeredCopies, 1);
        QCOMPARE(answer.offeredMin, 1);
        QCOMPARE(answer.offeredMax, 3);
        QVERIFY(answer.offeredOrientation == QPageLayout::Portrait);
        QVERIFY(!answer.offeredOptions.testFlag(QAbstractPrintDialog::PrintSelection));
        QVERIFY(!answer.offeredOptions.testFlag(QAbstractPrintDialog::PrintToFile));
        QVERIFY(answer.offeredOptions.testFlag(QAbstractPrintDialog::PrintPageRange));

        const QStringList sheets = pdfSheets(answer.pdfFile);
        QCOMPARE(sheets.size(), 4);
        for (int i = 0; i < 4; ++i)
            QVERIFY2(sheets[i].contains(QStringLiteral("第 %1 页").arg(2 + i % 2)), qPrintable(sheets[i]));
        QCOMPARE(document.settings.copies, 2);
        QCOMPARE(document.settings.firstPage, 2);
        QCOMPARE(document.settings.lastPage, 3);
        QVERIFY(document.settings.printerIndex >= 0);
        QCOMPARE(status(), QStringLiteral("第 2 页 / 共 3 页"));

        // A later preview of another report on the same document offers the two copies again.
        form.reset();
        Report later(1, &document);
        open(&document);
        answer.confirm = false;
        click("btnPrint");
        QCOMPARE(answer.shown, 2);
        QCOMPARE(answer.offeredCopies, 2);
        QCOMPARE(answer.offeredMax, 1);
    }

    void allPagesWhenNoRangeIsChosen()
    {
        KIVARO_NEEDS_POPPLER();
        Report report(48);
        open(report.document);
        DialogAnswer answer;
        answer.pdfFile = dir.filePath(QStringLiteral("all.pdf"));
        answerPrintDialogWith(answer);
        click("btnPrint");
        QCOMPARE(pdfSheets(answer.pdfFile).size(), 2);
        QCOMPARE(report.document->settings.firstPage, 0);
        QCOMPARE(report.document->settings.lastPage, 0);
    }

    void cancelledDialogPrintsNothing()
    {
        Report report(95);
        report.document->settings.copies = 3;
        open(report.document);
        click("btnLastPage");
        DialogAnswer answer;
        answer.confirm = false;
        answerPrintDialogWith(answer);
        click("btnPrint");
        QCOMPARE(answer.shown, 1);
        QCOMPARE(answer.offeredCopies, 3);
        QCOMPARE(report.document->settings.printerIndex, -1);
        QCOMPARE(report.document->settings.copies, 3);
        QCOMPARE(status(), QStringLiteral("第 3 页 / 共 3 页"));
        QVERIFY(form->isVisible());
    }

    void previewReadsTheRowsOfThePagesShown()
    {
        StreamedReport report(46990);
        open(&report.document);
        QCOMPARE(status(), QStringLiteral("第 1 页 / 共 1000 页"));
        QCOMPARE(std::accumulate(report.reads.begin(), report.reads.end(), 0), 47);
        click("btnLastPage");
        QCOMPARE(status(), QStringLiteral("第 1000 页 / 共 1000 页"));
        QCOMPARE(std::accumulate(report.reads.begin(), report.reads.end(), 0), 47 + 37);
    }

    void printingReadsOnlyTheRowsOfThePagesChosen()
    {
        KIVARO_NEEDS_POPPLER();
        StreamedReport report(95);
        open(&report.document);
        DialogAnswer answer;
        answer.pdfFile = dir.filePath(QStringLiteral("streamed.pdf"));
        answer.from = 2;
        answer.to = 3;
        answer.copies = 2;
        answerPrintDialogWith(answer);
        report.reads.fill(0);
        click("btnPrint");
        QCOMPARE(pdfSheets(answer.pdfFile).size(), 4);
        QCOMPARE(report.reads.mid(0, 47), QList<int>(47, 0));
        // At most once a sheet.
        QVERIFY(std::all_of(report.reads.begin() + 47, report.reads.end(), [](int n) { return n == 1 || n == 2; }));
    }

    void unreadableRowsKeepThePageShown()
    {
        StreamedReport report(95, 47);
        open(&report.document);
        click("btnNextPage");
        click("btnLastPage");
        QCOMPARE(preview()->pageNumber(), 1);
        QCOMPARE(status(), QStringLiteral("第 1 页 / 共 3 页"));
        QVERIFY(!qobject_cast<QLabel*>(preview()->widget())->pixmap().isNull());
    }

    void printerFailureIsIgnored()
    {
        Report report(1);
        open(report.document);
        DialogAnswer answer;
        answer.pdfFile = dir.filePath(QStringLiteral("no/such/folder/out.pdf"));
        answerPrintDialogWith(answer);
        click("btnPrint");
        QCOMPARE(answer.shown, 1);
        QVERIFY(!QFile::exists(answer.pdfFile));
        QVERIFY(form->isVisible());
        QCOMPARE(status(), QStringLiteral("第 1 页 / 共 1 页"));
    }
};

KIVARO_TEST_MAIN(TestPrintForm)
#include "tst_printform.moc"
