#include "reports/ReportBuilder.h"
#include "tests/TestUtil.h"
#include "tests/support/Files.h"

#include <QImage>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <numeric>

namespace {

const QString kTotals = QStringLiteral("数量：6  实收：30.00  成本：12.00  利润：18.00");

// A detail view row: hidden ID, date, name, quantity, received, cost, memo.
QStringList detailRow(int i)
{
    return { QString::number(i), QStringLiteral("2024-03-01"), QStringLiteral("毛巾%1").arg(i), QStringLiteral("1"),
        QStringLiteral("5.00"), QStringLiteral("2.00"), QStringLiteral("备注%1").arg(i) };
}

QList<QStringList> detailRows(int n)
{
    QList<QStringList> rows;
    for (int i = 0; i < n; ++i)
        rows << detailRow(i);
    return rows;
}

// Detail rows made when asked for, counting the reads of each row in reads.
ReportRows countedRows(QList<int>& reads)
{
    return { reads.size(), [&reads](qsizetype row) {
                ++reads[row];
                return detailRow(int(row));
            } };
}

// Everything a page prints, item by item.
QStringList contents(const ReportPage& page)
{
    QStringList items;
    for (const auto& item : page.items())
        items << QStringLiteral("%1|%2,%3,%4|%5,%6|%7,%8,%9")
                     .arg(item->text)
                     .arg(item->left)
                     .arg(item->top)
                     .arg(item->boxWidth)
                     .arg(int(item->alignment))
                     .arg(int(item->shrinkToBox))
                     .arg(item->fontName)
                     .arg(item->fontSize)
                     .arg(int(item->bold));
    return items;
}

ReportPages build(int n, const QString& title = QStringLiteral("张三"))
{
    ReportPages pages;
    buildReportPages(pages, detailReportLayout(), detailRows(n), title, kTotals);
    return pages;
}

QList<const ReportText*> itemsAt(const ReportPage& page, int top)
{
    QList<const ReportText*> found;
    for (const auto& item : page.items()) {
        if (item->top == top)
            found << item.get();
    }
    return found;
}

// The tops of the data rows on a page: every top between the headings and the page number.
QList<int> rowTops(const ReportPage& page)
{
    QList<int> tops;
    for (const auto& item : page.items()) {
        if (item->text.startsWith(QStringLiteral("毛巾")))
            tops << item->top;
    }
    return tops;
}

// A detail row whose figures are wider than their boxes, with a name and a memo longer than their cuts.
QStringList bigDetailRow()
{
    return { QString(), QStringLiteral("2024-03-01"), QStringLiteral("毛").repeated(40), QStringLiteral("3000000024"),
        QStringLiteral("24000002.64"), QStringLiteral("12345678901.23"), QStringLiteral("备注").repeated(10) };
}

// The leftmost and rightmost inked columns of the sheet between two heights, in dots; (-1, -1) when blank.
QPair<int, int> inkColumns(const QImage& sheet, int top, int bottom)
{
    int first = -1;
    int last = -1;
    for (int y = qMax(0, top); y < qMin(sheet.height(), bottom); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(sheet.constScanLine(y));
        for (int x = 0; x < sheet.width(); ++x) {
            if (qGray(line[x]) < 224) {
                first = first < 0 ? x : qMin(first, x);
                last = qMax(last, x);
            }
        }
    }
    return { first, last };
}

QString pdfText(const QString& fileName, const QStringList& options = {})
{
    return popplerOutput(QStringLiteral("pdftotext"), options + QStringList { fileName, QStringLiteral("-") });
}

} // namespace

class TestReports : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void contentAreaInUnits()
    {
        QCOMPARE(ReportPage::contentWidth(), 718);
        QCOMPARE(ReportPage::contentHeight(), 1047);
        QCOMPARE(ReportUnits::toDots(60, 96), 60);
        QCOMPARE(ReportUnits::toDots(60, 300), 188);
        // Each position on its own: 20 units at 300 dpi are 62.5 dots, but row 47 is not 47 × 63 dots down.
        QCOMPARE(ReportUnits::toDots(980, 300), 3063);
    }

    void pagination_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("rowsOnLastPage");
        QTest::addColumn<int>("totalsTop");
        QTest::newRow("1 row") << 1 << 1 << 1 << 80;
        QTest::newRow("47 rows, a full page") << 47 << 1 << 47 << 1000;
        QTest::newRow("48 rows") << 48 << 2 << 1 << 80;
        QTest::newRow("95 rows") << 95 << 3 << 1 << 80;
    }

    void pagination()
    {
        QFETCH(int, rows);
        QFETCH(int, pages);
        QFETCH(int, rowsOnLastPage);
        QFETCH(int, totalsTop);
        const ReportPages built = build(rows);
        QCOMPARE(int(built.size()), pages);
        for (int p = 0; p < pages; ++p) {
            const ReportPage& page = *built[p];
            const int expectedRows = p + 1 < pages ? kRowsPerPage : rowsOnLastPage;
            QCOMPARE(int(rowTops(page).size()), expectedRows);
            QCOMPARE(rowTops(page).first(), 60);
            QCOMPARE(rowTops(page).last(), 60 + 20 * (expectedRows - 1));
            QVERIFY(page.find(QStringLiteral("第 %1 页").arg(p + 1)));
            QCOMPARE(page.find(QStringLiteral("张三"))->top, 0);
            QCOMPARE(itemsAt(page, 40).size(), 6);
            // Only the last page carries the totals line.
            QCOMPARE(page.find(kTotals) != nullptr, p + 1 == pages);
        }
        QCOMPARE(built.back()->find(kTotals)->top, totalsTop);
        // The first row of the last page is row 47 × (pages − 1) of the view.
        QVERIFY(built.back()->find(QStringLiteral("毛巾%1").arg(47 * (pages - 1))));
    }

    void noRowsNoPages() { QCOMPARE(build(0).size(), size_t(0)); }

    void fixedGeometry()
    {
        const ReportPages built = build(2);
        const ReportPage& page = *built.front();

        const ReportText* title = page.find(QStringLiteral("张三"));
        QCOMPARE(title->fontSize, 20);
        QVERIFY(title->bold);
        QCOMPARE(title->left, (718 - title->width()) / 2);

        const ReportText* number = page.find(QStringLiteral("第 1 页"));
        QCOMPARE(number->top + number->height(), 1047);
        QCOMPARE(number->left, (718 - number->width()) / 2);
        QVERIFY(!number->bold);
        QCOMPARE(number->fontSize, 9);

        const ReportText* totals = page.find(kTotals);
        QCOMPARE(totals->top, 100);
        QCOMPARE(totals->textRight(), 718);
        QCOMPARE(totals->textLeft(), 718 - totals->width());
    }

    void headingsAndCellsShareTheirColumns()
    {
        const ReportPages built = build(1);
        const QList<const ReportText*> headings = itemsAt(*built.front(), 40);
        const QList<const ReportText*> cells = itemsAt(*built.front(), 60);
        QCOMPARE(headings.size(), 6);
        QCOMPARE(cells.size(), 6);
        const QStringList expected { QStringLiteral("日期"), QStringLiteral("品名"), QStringLiteral("数量"),
            QStringLiteral("实收"), QStringLiteral("成本"), QStringLiteral("备注") };
        const QStringList row = detailRow(0).mid(1);
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(headings[c]->text, expected[c]);
            QCOMPARE(cells[c]->text, row[c]);
            QCOMPARE(headings[c]->fontSize, 9);
            QVERIFY(!cells[c]->bold);
            QCOMPARE(headings[c]->left, cells[c]->left);
            QCOMPARE(headings[c]->boxWidth, cells[c]->boxWidth);
            QVERIFY(headings[c]->alignment == cells[c]->alignment);
        }
        // "数量" is right-aligned in 408 … 438, "品名" starts at 72, both for the heading and the cell.
        QCOMPARE(headings[2]->textRight(), 438);
        QCOMPARE(cells[2]->textRight(), 438);
        QCOMPARE(cells[3]->textRight(), 504);
        QCOMPARE(headings[1]->textLeft(), 72);
        QCOMPARE(cells[1]->textLeft(), 72);
    }

    void otherLayoutsReadTheirOwnColumns()
    {
        ReportPages pages;
        const QStringList row { QString(), QStringLiteral("毛巾"), QStringLiteral("7"), QStringLiteral("35.00"),
            QStringLiteral("14.00"), QStringLiteral("21.00") };
        buildReportPages(pages, rankingReportLayout(), { row }, QStringLiteral("A"), kTotals);
        const QList<const ReportText*> cells = itemsAt(*pages.front(), 60);
        QCOMPARE(cells.size(), 5);
        QCOMPARE(cells[0]->text, QStringLiteral("毛巾"));
        QCOMPARE(cells[0]->textLeft(), 0);
        QCOMPARE(cells[1]->text, QStringLiteral("7"));
        QCOMPARE(cells[4]->text, QStringLiteral("21.00"));
        QCOMPARE(cells[4]->textRight(), 636);

        pages.clear();
        const QStringList day { QString(), QStringLiteral("2024-03-01"), QStringLiteral("7"), QStringLiteral("35.00"),
            QStringLiteral("14.00"), QStringLiteral("21.00") };
        buildReportPages(pages, dailyTotalsReportLayout(), { day }, QStringLiteral("A"), kTotals);
        QCOMPARE(itemsAt(*pages.front(), 60)[1]->textRight(), 102);
        QCOMPARE(itemsAt(*pages.front(), 60)[4]->textRight(), 300);
    }

    void wideTitleOverhangsBothEdges()
    {
        const QString title = QStringLiteral("很长的用户名").repeated(6);
        const ReportPages built = build(1, title);
        const ReportText* item = built.front()->find(title);
        QVERIFY(item->width() > 718);
        QVERIFY(item->left < 0);
        QVERIFY(qAbs(-item->left - (item->textRight() - 718)) <= 1);
    }

    void cut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("quantity") << "123456" << 5 << "12345";
        QTest::newRow("quantity that fits") << "-1234" << 5 << "-1234";
        QTest::newRow("amount") << "12345678.90" << 10 << "12345678.9";
        QTest::newRow("empty") << "" << 10 << "";
        QTest::newRow("name of 27 characters fits")
            << QStringLiteral("毛").repeated(27) << 54 << QStringLiteral("毛").repeated(27);
        QTest::newRow("long name") << QStringLiteral("毛").repeated(40) << 54 << QStringLiteral("毛").repeated(27);
        QTest::newRow("letter and Chinese") << QStringLiteral("A") + QStringLiteral("巾").repeated(30) << 54
                                            << QStringLiteral("A") + QStringLiteral("巾").repeated(26);
        // 23 bytes: the next character would end at byte 25.
        QTest::newRow("long memo") << QStringLiteral("备注abc").repeated(5) << 24
                                   << QStringLiteral("备注abc备注abc备注abc备");
        QTest::newRow("four-byte character kept whole") << QStringLiteral("ab\U00020000") << 5 << QStringLiteral("ab");
        QTest::newRow("four-byte character fits")
            << QStringLiteral("a\U00020000") << 5 << QStringLiteral("a\U00020000");
    }

    void cut()
    {
        QFETCH(QString, text);
        QFETCH(int, limit);
        QFETCH(QString, expected);
        QCOMPARE(cutToBytes(text, limit), expected);
    }

    void rowsAreCutAsPrinted()
    {
        QStringList row = detailRow(0);
        row[2] = QStringLiteral("A") + QStringLiteral("巾").repeated(30);
        row[3] = QStringLiteral("123456");
        row[6] = QStringLiteral("备注").repeated(10);
        ReportPages pages;
        buildReportPages(pages, detailReportLayout(), { row }, QStringLiteral("A"), kTotals);
        const QList<const ReportText*> cells = itemsAt(*pages.front(), 60);
        QCOMPARE(cells[1]->text, QStringLiteral("A") + QStringLiteral("巾").repeated(26));
        // A figure is never cut.
        QCOMPARE(cells[2]->text, QStringLiteral("123456"));
        QCOMPARE(cells[5]->text, QStringLiteral("备注").repeated(6));
        // The cut name ends before the quantity box.
        QVERIFY(cells[1]->textRight() <= 408);
    }

    void figuresPrintWholeInsideTheirBoxes()
    {
        ReportPages pages;
        QStringList ordinary = detailRow(0);
        ordinary[3] = QStringLiteral("99999");
        ordinary[4] = QStringLiteral("1234567.89");
        buildReportPages(pages, detailReportLayout(), { bigDetailRow(), ordinary }, QStringLiteral("A"), kTotals);
        const QList<const ReportText*> big = itemsAt(*pages.front(), 60);
        QCOMPARE(big[1]->text, QStringLiteral("毛").repeated(27));
        QCOMPARE(big[5]->text, QStringLiteral("备注").repeated(6));
        const QStringList expected { QStringLiteral("3000000024"), QStringLiteral("24000002.64"),
            QStringLiteral("12345678901.23") };
        const QList<int> boxLeft { 408, 444, 510 };
        const QList<int> boxRight { 438, 504, 570 };
        for (int c = 2; c < 5; ++c) {
            QCOMPARE(big[c]->text, expected[c - 2]);
            QVERIFY(big[c]->shrinkToBox);
            QCOMPARE(big[c]->textRight(), boxRight[c - 2]);
            QCOMPARE(big[c]->textLeft(), boxLeft[c - 2]);
        }
        // Figures that fit their cut, and the headings, keep the full size and grow left as before.
        const QList<const ReportText*> fitting = itemsAt(*pages.front(), 80);
        QCOMPARE(fitting[3]->text, QStringLiteral("1234567.89"));
        for (const ReportText* item : fitting + itemsAt(*pages.front(), 40))
            QVERIFY2(!item->shrinkToBox, qPrintable(item->text));

        pages.clear();
        const QStringList ranked { QString(), QStringLiteral("毛巾"), QStringLiteral("7"), QStringLiteral("5.00"),
            QStringLiteral("1.00"), QStringLiteral("-12345678896.23") };
        buildReportPages(pages, rankingReportLayout(), { ranked }, QStringLiteral("A"), kTotals);
        QCOMPARE(itemsAt(*pages.front(), 60)[4]->text, ranked[5]);
        QCOMPARE(itemsAt(*pages.front(), 60)[4]->textLeft(), 576);
    }

    void shrunkFiguresStayInTheirBoxesOnEveryDevice_data()
    {
        QTest::addColumn<double>("dpi");
        QTest::newRow("screen") << 96.0;
        QTest::newRow("300 dpi") << 300.0;
        QTest::newRow("600 dpi") << 600.0;
    }

    void shrunkFiguresStayInTheirBoxesOnEveryDevice()
    {
        QFETCH(double, dpi);
        for (const QString& figure : { QStringLiteral("3000000024"), QStringLiteral("-12345678901.23") }) {
            ReportPage page;
            ReportText* item = page.addText();
            item->text = figure;
            item->top = 60;
            item->left = 444;
            item->boxWidth = 60;
            item->alignment = ReportText::Alignment::Right;
            item->shrinkToBox = true;
            const QImage sheet = page.toImage(dpi);
            const int margin = ReportUnits::mmToDots(ReportPage::marginMm, dpi);
            const int left = margin + ReportUnits::toDots(444, dpi);
            const int right = margin + ReportUnits::toDots(504, dpi);
            const auto [first, last] = inkColumns(
                sheet, margin + ReportUnits::toDots(60, dpi), margin + ReportUnits::toDots(60 + item->height(), dpi));
            const QString where
                = QStringLiteral("%1: ink %2 … %3, box %4 … %5").arg(figure).arg(first).arg(last).arg(left).arg(right);
            QVERIFY2(first >= left && last < right, qPrintable(where));
            // Filled, not shrunk more than it must be.
            QVERIFY2(last - first >= (right - left) * 8 / 10, qPrintable(where));
        }
    }

    void ordinaryFiguresDrawAsAtFullSize()
    {
        QList<QStringList> rows;
        for (const QString& amount :
            { QStringLiteral("1234567.89"), QStringLiteral("-123456.78"), QStringLiteral("5.00") }) {
            QStringList row = detailRow(0);
            row[3] = QStringLiteral("-9999");
            row[4] = amount;
            rows << row;
        }
        rows << bigDetailRow();
        ReportPages pages;
        buildReportPages(pages, detailReportLayout(), rows, QStringLiteral("A"), kTotals);
        // At 300 dpi a ten-character amount measures a little wider than its box; it must still print unscaled.
        const ReportPage& page = *pages.front();
        const QImage shrinkable = page.toImage(300);
        for (const auto& item : page.items())
            item->shrinkToBox = false;
        const QImage fullSize = page.toImage(300);
        const int margin = ReportUnits::mmToDots(ReportPage::marginMm, 300);
        const int bigRow = margin + ReportUnits::toDots(120, 300);
        QCOMPARE(shrinkable.copy(0, 0, shrinkable.width(), bigRow), fullSize.copy(0, 0, fullSize.width(), bigRow));
        QVERIFY(shrinkable != fullSize);
    }

    void documentAsksForItsPagesOnEveryPrepare()
    {
        ReportPages pages = build(48);
        ReportDocument document;
        int asked = 0;
        document.addReports = [&](ReportDocument& doc) {
            ++asked;
            doc.clearPages();
            for (const auto& page : pages)
                doc.addPage(page.get());
        };
        document.prepare();
        QCOMPARE(document.pageCount(), 2);
        QCOMPARE(document.page(2), pages[1].get());
        QVERIFY(!document.page(0) && !document.page(3));
        pages = build(1);
        document.prepare();
        QCOMPARE(asked, 2);
        QCOMPARE(document.pageCount(), 1);
        QCOMPARE(document.page(1), pages[0].get());
    }

    void failingPageRequestKeepsPagesAddedBefore()
    {
        const ReportPages pages = build(95);
        ReportDocument document;
        document.addReports = [&](ReportDocument& doc) {
            doc.addPage(pages[0].get());
            throw std::runtime_error("out of pages");
        };
        document.prepare();
        QCOMPARE(document.pageCount(), 1);
    }

    void threePagesToPdfAndBack()
    {
        KIVARO_NEEDS_POPPLER();
        const ReportPages pages = build(95);
        ReportDocument document;
        document.addReports = [&](ReportDocument& doc) {
            for (const auto& page : pages)
                doc.addPage(page.get());
        };
        document.prepare();
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("report.pdf"));
        document.writePdf(file);

        const QStringList sheets = pdfText(file).split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QCOMPARE(sheets.size(), 3);
        for (int p = 0; p < 3; ++p) {
            QVERIFY2(sheets[p].contains(QStringLiteral("张三")), qPrintable(sheets[p]));
            QVERIFY(sheets[p].contains(QStringLiteral("品名")));
            QVERIFY(sheets[p].contains(QStringLiteral("第 %1 页").arg(p + 1)));
        }
        QVERIFY(sheets[1].contains(QStringLiteral("毛巾50")));
        QVERIFY(sheets[2].contains(QStringLiteral("毛巾94")));
        QVERIFY(!sheets[1].contains(QStringLiteral("利润：18.00")));
        QVERIFY(sheets[2].contains(QStringLiteral("利润：18.00")));
    }

    void pagesBuiltOnDemandMatchPagesBuiltUpFront()
    {
        QStandardItemModel model;
        for (int i = 0; i < 1000; ++i) {
            QList<QStandardItem*> items;
            for (const QString& text : i % 97 == 5 ? bigDetailRow() : detailRow(i))
                items << new QStandardItem(text);
            model.appendRow(items);
        }
        ReportPages upFront;
        buildReportPages(upFront, detailReportLayout(), displayedRows(model), QStringLiteral("张三"), kTotals);
        ReportDocument document;
        addReportPages(document, detailReportLayout(), modelRows(model), QStringLiteral("张三"), kTotals);
        QCOMPARE(int(upFront.size()), 22);
        QCOMPARE(document.pageCount(), 22);
        // Out of order, so that no page can borrow anything from the one built before it.
        for (int number : { 22, 1, 12, 2, 21, 3, 11, 13, 4, 20, 5, 19, 6, 18, 7, 17, 8, 16, 9, 15, 10, 14 })
            QCOMPARE(contents(*document.page(number)), contents(*upFront[number - 1]));
    }

    void pagesReadOnlyTheirOwnRows()
    {
        QList<int> reads(46990, 0);
        ReportDocument document;
        addReportPages(document, detailReportLayout(), countedRows(reads), QStringLiteral("张三"), kTotals);
        QCOMPARE(document.pageCount(), 1000);
        const ReportPage* last = document.page(1000);
        QCOMPARE(rowTops(*last).size(), 37);
        QCOMPARE(last->find(kTotals)->top, 60 + 20 * 37);
        QVERIFY(document.page(1)->find(QStringLiteral("毛巾46")));
        QCOMPARE(std::accumulate(reads.begin(), reads.end(), 0), 47 + 37);
        QCOMPARE(reads.first() + reads.at(46) + reads.at(46953) + reads.last(), 4);
        // Built pages are let go once others have been asked for.
        for (int number = 2; number <= 2 + ReportDocument::keptPages; ++number)
            document.page(number);
        document.page(1);
        QCOMPARE(reads.first(), 2);
    }

    void pdfReadsEveryRowOnce()
    {
        KIVARO_NEEDS_POPPLER();
        const ReportPages cover = build(1, QStringLiteral("封面"));
        QList<int> reads(95, 0);
        ReportDocument document;
        document.addPage(cover[0].get());
        addReportPages(document, detailReportLayout(), countedRows(reads), QStringLiteral("张三"), kTotals);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("streamed.pdf"));
        document.writePdf(file, 300);
        QCOMPARE(reads, QList<int>(95, 1));
        const QStringList sheets = pdfText(file).split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QCOMPARE(sheets.size(), 4);
        QVERIFY(sheets[0].contains(QStringLiteral("封面")));
        QVERIFY(sheets[1].contains(QStringLiteral("毛巾46")) && !sheets[1].contains(QStringLiteral("毛巾47")));
        QVERIFY(sheets[3].contains(QStringLiteral("毛巾94")) && sheets[3].contains(QStringLiteral("利润：18.00")));
    }

    void pdfHoldsWholeFiguresAndCutTexts()
    {
        KIVARO_NEEDS_POPPLER();
        ReportPages pages;
        buildReportPages(pages, detailReportLayout(), { bigDetailRow() }, QStringLiteral("A"), kTotals);
        ReportDocument document;
        document.addReports = [&](ReportDocument& doc) { doc.addPage(pages[0].get()); };
        document.prepare();
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("big.pdf"));
        document.writePdf(file, 600);
        const QString text = pdfText(file);
        for (const char* figure : { "3000000024", "24000002.64", "12345678901.23" })
            QVERIFY2(text.contains(QLatin1String(figure)), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("毛").repeated(27)));
        QVERIFY(!text.contains(QStringLiteral("毛").repeated(28)));
    }

    void pdfPlacesItemsByTheirUnits()
    {
        KIVARO_NEEDS_POPPLER();
        const ReportPages pages = build(1);
        ReportDocument document;
        document.addReports = [&](ReportDocument& doc) { doc.addPage(pages[0].get()); };
        document.prepare();
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("one.pdf"));
        document.writePdf(file, 600);
        const QString boxes = pdfText(file, { QStringLiteral("-bbox") });
        // In points from the sheet's corner: the margin is 28.35, a unit 0.75.
        const QRegularExpression date(QStringLiteral("xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\"[^>]*>2024-03-01<"));
        const QRegularExpressionMatch dateBox = date.match(boxes);
        QVERIFY2(dateBox.hasMatch(), qPrintable(boxes));
        QVERIFY(qAbs(dateBox.captured(1).toDouble() - 28.35) < 1);
        QVERIFY(qAbs(dateBox.captured(2).toDouble() - (28.35 + 45)) < 1);
        const QRegularExpression profit(QStringLiteral("xMax=\"([\\d.]+)\"[^>]*>利润：18.00<"));
        const QRegularExpressionMatch profitBox = profit.match(boxes);
        QVERIFY(profitBox.hasMatch());
        QVERIFY(qAbs(profitBox.captured(1).toDouble() - (28.35 + 718 * 0.75)) < 1);
    }
};

KIVARO_TEST_MAIN(TestReports)
#include "tst_reports.moc"
