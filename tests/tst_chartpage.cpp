#include "db/DbClass.h"
#include "forms/ChartPage.h"
#include "reports/ChartDrawing.h"
#include "reports/SalesChart.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QRandomGenerator>
#include <QTextDocument>
#include <QToolTip>

Q_DECLARE_METATYPE(ChartPeriod)

// The chart's sums are checked against lines stored through the store and summed here by a calendar reading of
// its own: ISO week numbers and months, not Mondays and offsets.
class TestChartPage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TChartPage> page;
    const QString user = QStringLiteral("张三");
    const QString emptyNote = QStringLiteral("所选日期内没有销售记录");
    const QString pendingNote = QStringLiteral("正在统计产品排行…");

    struct Expected
    {
        QString key;
        WideCents received = 0;
        WideCents cost = 0;
        qint64 lines = 0;
    };

    static QString keyOf(const QDate& day, ChartPeriod period)
    {
        int year = 0;
        switch (period) {
        case ChartPeriod::Day:
            return day.toString(Qt::ISODate);
        case ChartPeriod::Week: {
            const int week = day.weekNumber(&year);
            return QStringLiteral("%1W%2").arg(year).arg(week);
        }
        case ChartPeriod::Month:
            return QStringLiteral("%1M%2").arg(day.year()).arg(day.month());
        }
        return {};
    }

    static QList<Expected> expectedPeriods(
        const QList<SalesLine>& lines, const QDate& first, const QDate& last, ChartPeriod period)
    {
        QList<Expected> periods;
        QHash<QString, qsizetype> index;
        for (QDate day = first; day <= last; day = day.addDays(1)) {
            const QString key = keyOf(day, period);
            if (!index.contains(key)) {
                index.insert(key, periods.size());
                periods.append({ key });
            }
        }
        for (const SalesLine& line : lines) {
            if (line.day < first || line.day > last)
                continue;
            Expected& expected = periods[index.value(keyOf(line.day, period))];
            expected.received += line.received;
            expected.cost += line.cost;
            ++expected.lines;
        }
        return periods;
    }

    // Lines from 2023 to mid-2025 with returns and losses, and a week that runs from 2024 into 2025.
    static QList<SalesLine> sampleLines()
    {
        QRandomGenerator random(20241230);
        QList<SalesLine> lines;
        for (int i = 0; i < 600; ++i) {
            const QDate day = QDate(2023, 1, 1).addDays(random.bounded(912));
            const qint32 quantity = random.bounded(-3, 9);
            const qint64 received = quantity * random.bounded(1, 2'000'000);
            const qint64 cost = received / 10 * random.bounded(5, 14) - random.bounded(300);
            lines.append({ 0, day, QStringLiteral("品%1").arg(random.bounded(30)), quantity, received, cost, {} });
        }
        for (const QDate& day :
            { QDate(2024, 12, 29), QDate(2024, 12, 30), QDate(2025, 1, 1), QDate(2025, 1, 5), QDate(2025, 1, 6) }) {
            lines.append({ 0, day, QStringLiteral("毛巾"), 3, 1'250'075, 990'010, {} });
            lines.append({ 0, day, QStringLiteral("毛巾"), -1, -416'692, -330'003, QStringLiteral("退货") });
        }
        return lines;
    }

    QList<SalesLine> store(const QList<SalesLine>& lines)
    {
        addLines(TDbMan(), user, lines);
        return lines;
    }

    static SalesTotals totalsOf(const QList<DayCount>& days)
    {
        SalesTotals totals;
        for (const DayCount& day : days)
            totals.add(day.sums, day.lines);
        return totals;
    }

    // Shows the range as the review page does, from the store's summaries and ranking.
    void showStored(const QDate& first, const QDate& last)
    {
        const SalesRange range { user, first, last };
        TDbMan db;
        const QList<DayCount> days = db.QueryDays(range);
        page->showRange(range, days, db.QueryRanking(range), totalsOf(days));
    }

    // The mouse resting at a point of the ranking, as the application tells the widget.
    QWidget* rankingView() { return child<QWidget>(page.get(), "ChartRanking"); }
    // The ranking's labels and a product's bar where the ChartRanking widget draws them.
    QStringList barLabels() { return chart::rankingLabels(page->topProducts(), rankingView()->width()); }
    QRect barRect(int product)
    {
        return chart::barRect(page->topProducts(), QRectF(rankingView()->rect()), product).toAlignedRect();
    }
    void hoverRanking(const QPoint& at)
    {
        QWidget* ranking = child<QWidget>(page.get(), "ChartRanking");
        QHelpEvent event(QEvent::ToolTip, at, ranking->mapToGlobal(at));
        QCoreApplication::sendEvent(ranking, &event);
    }
    // Something other than white reaches the picture's right and bottom edges: it was drawn over all of it.
    static bool drawnAcross(const QImage& image)
    {
        QRect ink;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) != qRgb(255, 255, 255))
                    ink |= QRect(x, y, 1, 1);
            }
        }
        return ink.width() > image.width() * 0.9 && ink.bottom() > image.height() * 0.97;
    }

private Q_SLOTS:
    void init()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
        page = std::make_unique<TChartPage>();
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
    }
    void cleanup()
    {
        page.reset();
        hooks.reset();
        home.reset();
    }

    void sumsPerPeriodEqualTheLines_data()
    {
        QTest::addColumn<QDate>("first");
        QTest::addColumn<QDate>("last");
        QTest::addColumn<ChartPeriod>("period");
        QTest::newRow("days over the new year") << QDate(2024, 12, 20) << QDate(2025, 1, 10) << ChartPeriod::Day;
        QTest::newRow("weeks, one crossing the year") << QDate(2024, 6, 5) << QDate(2025, 5, 31) << ChartPeriod::Week;
        QTest::newRow("months") << QDate(2023, 1, 15) << QDate(2025, 6, 30) << ChartPeriod::Month;
    }
    void sumsPerPeriodEqualTheLines()
    {
        QFETCH(QDate, first);
        QFETCH(QDate, last);
        QFETCH(ChartPeriod, period);
        const QList<SalesLine> lines = store(sampleLines());
        showStored(first, last);

        const SalesTrend& trend = page->trend();
        QCOMPARE(trend.period, period);
        const QList<Expected> expected = expectedPeriods(lines, first, last, period);
        QCOMPARE(trend.points.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const ChartPoint& point = trend.points.at(i);
            const QString where = point.label;
            QVERIFY2(point.received == expected.at(i).received, qPrintable(where));
            QVERIFY2(point.cost == expected.at(i).cost, qPrintable(where));
            QVERIFY2(point.profit() == expected.at(i).received - expected.at(i).cost, qPrintable(where));
            QCOMPARE(point.lines, expected.at(i).lines);
            QCOMPARE(keyOf(point.start, period), expected.at(i).key);
        }
        if (period == ChartPeriod::Week) {
            const auto crossing = std::find_if(trend.points.begin(), trend.points.end(),
                [](const ChartPoint& point) { return point.label == QStringLiteral("2024-12-30周"); });
            QVERIFY(crossing != trend.points.end());
            QVERIFY(crossing->lines > 0);
        }
        const chart::Line received = chart::trendLines(page->trend()).value(0);
        QCOMPARE(received.name, QStringLiteral("实收"));
        QCOMPARE(received.points.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QCOMPARE(received.points.at(i).y(), double(expected.at(i).received) / 100);
    }

    void rangeLengthChoosesThePeriod_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<ChartPeriod>("period");
        QTest::addColumn<QString>("axisTitle");
        QTest::newRow("one day") << 1 << ChartPeriod::Day << QStringLiteral("日");
        QTest::newRow("92 days") << 92 << ChartPeriod::Day << QStringLiteral("日");
        QTest::newRow("93 days") << 93 << ChartPeriod::Week << QStringLiteral("周");
        QTest::newRow("731 days") << 731 << ChartPeriod::Week << QStringLiteral("周");
        QTest::newRow("732 days") << 732 << ChartPeriod::Month << QStringLiteral("月");
        QTest::newRow("five years") << 1826 << ChartPeriod::Month << QStringLiteral("月");
    }
    void rangeLengthChoosesThePeriod()
    {
        QFETCH(int, days);
        QFETCH(ChartPeriod, period);
        QFETCH(QString, axisTitle);
        const QDate first(2023, 11, 29);
        const QDate last = first.addDays(days - 1);
        QCOMPARE(chartPeriodFor(first, last), period);
        const QList<SalesLine> lines = store({ { 0, last, QStringLiteral("毛巾"), 1, 500, 300, {} } });
        showStored(first, last);
        QCOMPARE(chart::periodTitle(page->trend().period), axisTitle);
        // Periods without lines are there, at zero.
        QCOMPARE(page->trend().points.size(), expectedPeriods(lines, first, last, period).size());
        QCOMPARE(page->trend().points.last().received, WideCents(500));
    }

    void topTenByReceivedWithShares()
    {
        QList<SalesLine> lines;
        const QDate day(2024, 3, 1);
        for (int i = 0; i < 12; ++i)
            lines.append({ 0, day, QStringLiteral("产品%1").arg(i), i % 4 + 1, 10'000LL * (i % 5 + 1) + i, 100, {} });
        // Equal 实收: the earlier sale sells less, so the ranking's order differs from the order of sale.
        lines.append({ 0, day, QStringLiteral("平甲"), 1, 45'003, 0, {} });
        lines.append({ 0, day.addDays(1), QStringLiteral("平乙"), 9, 45'003, 0, {} });
        lines.append({ 0, day, QStringLiteral("产品3"), -2, -20'000, -100, QStringLiteral("退货") });
        lines.append({ 0, day, QStringLiteral("亏本"), 1, -7'000, 100, {} });
        store(lines);
        showStored(day, day.addDays(1));
        TDbMan db;
        const QList<RankingRow> ranking = db.QueryRanking({ user, day, day.addDays(1) });

        QHash<QString, WideCents> sums;
        WideCents total = 0;
        for (const SalesLine& line : lines) {
            sums[line.productName] += line.received;
            total += line.received;
        }
        QStringList order;
        for (const RankingRow& row : ranking)
            order.append(row.productName);
        std::stable_sort(
            order.begin(), order.end(), [&](const QString& a, const QString& b) { return sums[a] > sums[b]; });
        QVERIFY(
            order.indexOf(QStringLiteral("平乙")) < 10 && sums[QStringLiteral("平甲")] == sums[QStringLiteral("平乙")]);

        const TopProducts& top = page->topProducts();
        QCOMPARE(top.top.size(), 10);
        QVERIFY(top.total == total);
        WideCents shown = 0;
        double shares = 0;
        for (qsizetype i = 0; i < 10; ++i) {
            QCOMPARE(top.top.at(i).productName, order.at(i));
            QVERIFY(top.top.at(i).received == sums[order.at(i)]);
            QCOMPARE(top.top.at(i).share, double(sums[order.at(i)]) / double(total));
            shown += top.top.at(i).received;
            shares += top.top.at(i).share;
        }
        QCOMPARE(top.otherCount, qint64(sums.size() - 10));
        QVERIFY(top.others.received == total - shown);
        QCOMPARE(shares + top.others.share, 1.0);
        // The first product is the top bar.
        QCOMPARE(chart::barValues(page->topProducts()).size(), 10);
        QCOMPARE(chart::barValues(page->topProducts()).first(), double(sums[order.at(0)]) / 100);
        QVERIFY(barLabels().first().startsWith(QStringLiteral("1 ") + order.at(0)));
        QVERIFY(barRect(0).bottom() < barRect(1).top());
    }

    void longAndMarkupNamesAreShownAsTyped()
    {
        const QString longName = QStringLiteral("特别长的产品名称").repeated(8);
        const QString markup = QStringLiteral("<i>粗</i>&");
        const QDate day(2024, 5, 6);
        store({ { 0, day, longName, 2, 90'000, 1, {} }, { 0, day, markup, 1, 10'000, 1, {} } });
        showStored(day, day);

        const QString cut = barLabels().first();
        QVERIFY2(cut.contains(QStringLiteral("…")) && !cut.contains(longName), qPrintable(cut));
        QVERIFY(longName.startsWith(cut.section(QLatin1Char(' '), 1, 1).chopped(1)));
        QVERIFY2(barLabels().last().contains(markup), qPrintable(barLabels().last()));

        hoverRanking(barRect(0).center());
        QTRY_VERIFY(QToolTip::isVisible());
        QTextDocument shown;
        shown.setHtml(QToolTip::text());
        QVERIFY2(shown.toPlainText().contains(longName), qPrintable(shown.toPlainText()));
        hoverRanking(barRect(1).center());
        QTRY_VERIFY(QToolTip::text().contains(QStringLiteral("&lt;i&gt;")));
        hoverRanking(QPoint(1, 1));
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    void emptyRangeShowsTheNoteOnAxes()
    {
        store({ { 0, QDate(2024, 1, 10), QStringLiteral("毛巾"), 1, 500, 300, {} } });
        showStored(QDate(2024, 1, 1), QDate(2024, 1, 31));
        QVERIFY(page->trendNote().isEmpty());

        showStored(QDate(2024, 2, 1), QDate(2024, 2, 29));
        QVERIFY(page->trend().points.isEmpty());
        QCOMPARE(page->trendNote(), emptyNote);
        QVERIFY(page->rankingNote().isEmpty());
        QCOMPARE(child<QLabel>(page.get(), "LabelChartTotals")->text(), SalesTotals {}.text());
        QVERIFY(drawnAcross(page->renderImage(QSize(800, 500))));

        page->clear();
        QVERIFY(page->trendNote().isEmpty());
    }

    void rankingMayComeLater()
    {
        const QDate day(2024, 7, 1);
        store({ { 0, day, QStringLiteral("毛巾"), 1, 500, 300, {} },
            { 0, day, QStringLiteral("牙刷"), 4, 200, 30, {} } });
        const SalesRange range { user, day, day };
        TDbMan db;
        const QList<DayCount> days = db.QueryDays(range);
        page->showRange(range, days, {}, totalsOf(days));
        QVERIFY(page->rankingPending());
        QCOMPARE(page->rankingNote(), pendingNote);
        QCOMPARE(chart::trendLines(page->trend()).value(0).points.size(), 1);
        QCOMPARE(child<QLabel>(page.get(), "LabelChartTotals")->text(), totalsOf(days).text());

        page->setRanking(db.QueryRanking(range));
        QVERIFY(!page->rankingPending());
        QVERIFY(page->rankingNote().isEmpty());
        QCOMPARE(chart::barValues(page->topProducts()).size(), 2);
        QCOMPARE(page->topProducts().top.first().productName, QStringLiteral("毛巾"));
    }

    // The picture fills whatever it is drawn on, at any resolution, and stays readable without colour.
    void drawsForFilesAndPaper()
    {
        store(sampleLines());
        showStored(QDate(2024, 6, 5), QDate(2025, 5, 31));

        const QImage image = page->renderImage(QSize(1200, 800));
        QCOMPARE(image.size(), QSize(1200, 800));
        QVERIFY(drawnAcross(image));

        // A4 landscape at 150 dpi: laid out in 1/96 inch, the picture would fill two thirds of it unless scaled.
        QImage sheet(1754, 1240, QImage::Format_RGB32);
        sheet.setDotsPerMeterX(5906);
        sheet.setDotsPerMeterY(5906);
        sheet.fill(Qt::white);
        QPainter painter(&sheet);
        page->paint(painter, sheet.rect());
        painter.end();
        QVERIFY(drawnAcross(sheet));

        QList<Qt::PenStyle> styles;
        for (const chart::Line& line : chart::trendLines(page->trend()))
            styles.append(line.pen.style());
        QCOMPARE(styles.size(), 3);
        QVERIFY(styles.at(0) != styles.at(1) && styles.at(1) != styles.at(2) && styles.at(0) != styles.at(2));
        QVERIFY(chart::barPen().style() != Qt::NoPen);

        const QString file = home->base() + QStringLiteral("/图.png");
        page->exportPng(file, QSize(900, 600));
        QCOMPARE(QImage(file).size(), QSize(900, 600));
        const QString nowhere = home->base() + QStringLiteral("/没有/图.png");
        try {
            page->exportPng(nowhere, QSize(900, 600));
            QFAIL("an image was said to be written into a folder that does not exist");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QDir::toNativeSeparators(QStringLiteral("没有/图.png"))),
                qPrintable(error.text()));
        }
    }

    // Five years of summaries and 2,000 products: what the page itself takes to draw them.
    void drawsFiveYearsQuickly()
    {
        const QDate first(2020, 1, 1);
        const QDate last = first.addDays(1825);
        QList<DayCount> days;
        for (QDate day = first; day <= last; day = day.addDays(1))
            days.append({ day, 300, 548, { 600, 548 * 12'345, 548 * 9'876 } });
        QList<RankingRow> ranking;
        for (int i = 0; i < 2000; ++i)
            ranking.append({ QStringLiteral("产品%1").arg(i), { 2000 - i, 1'000'000LL * ((i * 7919) % 2000), 1 } });
        const SalesRange range { user, first, last };

        QElapsedTimer timer;
        timer.start();
        page->showRange(range, days, {}, totalsOf(days));
        QCoreApplication::processEvents();
        QPixmap shown = page->grab();
        const qint64 trendMs = timer.elapsed();
        page->setRanking(ranking);
        QCoreApplication::processEvents();
        shown = page->grab();
        const qint64 allMs = timer.elapsed();
        timer.restart();
        QImage sheet(3508, 2480, QImage::Format_RGB32);
        sheet.setDotsPerMeterX(11811);
        sheet.setDotsPerMeterY(11811);
        QPainter painter(&sheet);
        page->paint(painter, sheet.rect());
        painter.end();
        const qint64 sheetMs = timer.elapsed();
        qInfo("1826 days, 2000 products: trend shown in %lld ms, with the ranking %lld ms; A4 at 300 dpi %lld ms",
            trendMs, allMs, sheetMs);
        QCOMPARE(page->trend().points.first().start, first);
        QCOMPARE(page->trend().points.last().start, QDate(last.year(), last.month(), 1));
        QVERIFY2(allMs <= 300, qPrintable(QString::number(allMs)));
    }
};

KIVARO_TEST_MAIN(TestChartPage)
#include "tst_chartpage.moc"
