#include "db/Numbers.h"
#include "forms/SalesModels.h"
#include "tests/TestUtil.h"

#include <QLocale>
#include <limits>

// The review lists show a snapshot's lines, fetched by their IDs in blocks; these tests give them a fetch over a list
// in memory and check that what they show is that list, whatever is fetched when.
class TestSalesModels : public QObject
{
    Q_OBJECT

private:
    // Lines over a few days, some days empty: day i holds (i * 37) % 300 lines.
    struct Data
    {
        QList<DayCount> days;
        QList<SalesLine> lines;
        int fetches = 0;
        // Fetches that fail before the first one that answers.
        int failures = 0;

        std::shared_ptr<const ViewSnapshot> snapshot() const
        {
            auto view = std::make_shared<ViewSnapshot>();
            view->days = days;
            for (const SalesLine& line : lines)
                view->lineIds.push_back(line.id);
            return view;
        }
    };

    static Data makeData(int dayCount)
    {
        Data data;
        qint64 id = 1;
        for (int i = 0; i < dayCount; ++i) {
            const QDate day = QDate(2020, 1, 1).addDays(i);
            DayCount count { day, 0, 0, {} };
            for (int n = 0; n < (i * 37) % 300; ++n) {
                const SalesLine line { id, day, QStringLiteral("品%1").arg(n % 7), qint32(n - 3), n * 101LL, n * 77LL,
                    n % 5 ? QString() : QStringLiteral("备注") };
                id += 1 + n % 3;
                data.lines.append(line);
                ++count.lines;
                count.rows = qMin(n + 1, 7);
                count.sums.quantity += line.quantity;
                count.sums.received += line.received;
                count.sums.cost += line.cost;
            }
            if (count.lines > 0)
                data.days.append(count);
        }
        return data;
    }

    static DetailListModel::Fetch fetchFrom(Data& data)
    {
        return [&data](qint64 first, qint64 count) -> std::optional<QList<SalesLine>> {
            ++data.fetches;
            if (data.failures > 0) {
                --data.failures;
                return std::nullopt;
            }
            return data.lines.mid(first, count);
        };
    }

    static QStringList expectedTexts(const SalesLine& line)
    {
        return { QString::number(line.id), line.day.toString(QStringLiteral("yyyy-MM-dd")), line.productName,
            QString::number(line.quantity), formatCents(line.received), formatCents(line.cost), line.memo };
    }

    static SalesTotals sumOf(const QList<SalesLine>& lines)
    {
        SalesTotals totals;
        for (const SalesLine& line : lines)
            totals.add(line);
        return totals;
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // Every row, read in any order, is the line at its position; a read fetches its block once and a bounded
    // number of blocks is kept.
    void detailRowsAreTheLinesInOrder()
    {
        Data data = makeData(40);
        QVERIFY(data.lines.size() > 5000);
        DetailListModel model;
        model.reset(data.snapshot(), fetchFrom(data));
        QCOMPARE(model.rowCount(), int(data.lines.size()));
        QCOMPARE(model.totals(), sumOf(data.lines));
        QCOMPARE(model.columnCount(), 7);
        QCOMPARE(model.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("实收"));
        QCOMPARE(model.data(model.index(0, 3), Qt::TextAlignmentRole).value<Qt::Alignment>(),
            Qt::AlignRight | Qt::AlignVCenter);

        const int last = model.rowCount() - 1;
        QCOMPARE(model.rowTexts(last), expectedTexts(data.lines.last()));
        QCOMPARE(data.fetches, 1);
        for (int row = 0; row <= last; row += 97)
            QCOMPARE(model.rowTexts(row), expectedTexts(data.lines.at(row)));
        for (int row = last; row >= 0; row -= 131)
            QCOMPARE(model.data(model.index(row, 2), Qt::DisplayRole).toString(), data.lines.at(row).productName);
        const int blocks = (last + SnapshotRows::kBlock) / SnapshotRows::kBlock;
        QVERIFY2(data.fetches <= 2 * blocks, qPrintable(QString::number(data.fetches)));
        QVERIFY(!model.data(model.index(last + 1, 1), Qt::DisplayRole).isValid());
    }

    // Removing and editing rows shifts the rows below and keeps the totals exact.
    void detailRemoveAndEdit()
    {
        Data data = makeData(12);
        DetailListModel model;
        model.reset(data.snapshot(), fetchFrom(data));
        QList<SalesLine> expected = data.lines;
        for (const int row : { 0, 300, 299, int(expected.size()) - 8, 500 }) {
            model.removeLine(row);
            expected.removeAt(row);
        }
        SalesLine edited = expected.at(10);
        edited.productName = QStringLiteral("改");
        edited.received = 123456789012345LL;
        model.setEdited(10, edited,
            { QStringLiteral("2020-01-05"), QStringLiteral("改"), QStringLiteral(" 7"),
                QStringLiteral("1234567890123.45"), QStringLiteral("0"), QString() });
        expected[10] = edited;
        QCOMPARE(model.rowCount(), int(expected.size()));
        for (int row = 0; row < model.rowCount(); row += 53) {
            if (row != 10)
                QCOMPARE(model.rowTexts(row), expectedTexts(expected.at(row)));
        }
        QCOMPARE(model.text(10, 3), QStringLiteral(" 7"));
        QCOMPARE(*model.line(10), edited);
        QCOMPARE(model.rowTexts(model.rowCount() - 1), expectedTexts(expected.last()));
        QCOMPARE(model.totals(), sumOf(expected));
        model.removeLine(10);
        expected.removeAt(10);
        QCOMPARE(model.totals(), sumOf(expected));
        QCOMPARE(model.rowTexts(10), expectedTexts(expected.at(10)));
    }

    // The rows per day and product are the lines of their day grouped by name in order of first sale, with the
    // detail's totals; a read that fails leaves the rows blank for a moment and is made again, never kept blank.
    void dayProductRowsAndFailedReads()
    {
        Data data = makeData(9);
        data.failures = 1;
        DayProductListModel model;
        model.reset(data.snapshot(), fetchFrom(data));
        QCOMPARE(model.totals(), sumOf(data.lines));
        QVERIFY(model.rowCount() > 9);
        QCOMPARE(model.text(0, 2), QString());
        QCOMPARE(model.text(0, 2), QString());
        QCOMPARE(data.fetches, 1);
        QTest::qWait(2100);

        // Every day holds all seven names, first sold in the order 品0 … 品6.
        QList<DayProductRow> expected;
        for (const DayCount& day : std::as_const(data.days)) {
            for (int k = 0; k < 7; ++k) {
                DayProductRow row { day.day, QStringLiteral("品%1").arg(k), {} };
                for (const SalesLine& line : std::as_const(data.lines)) {
                    if (line.day == day.day && line.productName == row.productName)
                        row.sums = { row.sums.quantity + line.quantity, row.sums.received + line.received,
                            row.sums.cost + line.cost };
                }
                expected.append(row);
            }
        }
        QCOMPARE(model.rowCount(), int(expected.size()));
        SalesTotals grouped;
        for (int row = 0; row < model.rowCount(); ++row) {
            const DayProductRow& want = expected.at(row);
            QCOMPARE(model.text(row, 1), want.day.toString(QStringLiteral("yyyy-MM-dd")));
            QCOMPARE(model.text(row, 2), want.productName);
            QCOMPARE(model.text(row, 3), QString::number(want.sums.quantity));
            grouped.add(want.sums, 0);
        }
        grouped.lines = model.totals().lines;
        QCOMPARE(grouped, model.totals());
    }

    // Grouped rows format sums beyond what one line may hold; a profit beyond 64 bits is shown exactly.
    void groupedRowsAndTotals()
    {
        const qint64 big = std::numeric_limits<qint64>::max() - 5;
        const QList<DayCount> days { { QDate(2021, 3, 1), 2, 5, { 6000000000LL, big, -big } },
            { QDate(2021, 3, 2), 1, 1, { -1, -5, 5 } } };
        DailyListModel daily;
        daily.reset(days);
        QCOMPARE(daily.rowCount(), 2);
        QCOMPARE(daily.rowTexts(0),
            (QStringList { QString(), QStringLiteral("2021-03-01"), QStringLiteral("6000000000"),
                QStringLiteral("92233720368547758.02"), QStringLiteral("-92233720368547758.02"),
                QStringLiteral("184467440737095516.04") }));
        QCOMPARE(daily.totals().lines, 6);
        QCOMPARE(daily.totals().text(),
            QStringLiteral("数量：5999999999  实收：92233720368547757.97  "
                           "成本：-92233720368547757.97  利润：184467440737095515.94"));

        RankingListModel ranking;
        ranking.reset(daily.totals());
        QCOMPARE(ranking.rowCount(), 0);
        QCOMPARE(ranking.totals(), daily.totals());
        ranking.setRows({ { QStringLiteral("甲"), { 3, 250, 100 } } });
        QCOMPARE(ranking.rowTexts(0),
            (QStringList { QString(), QStringLiteral("甲"), QStringLiteral("3"), QStringLiteral("2.50"),
                QStringLiteral("1.00"), QStringLiteral("1.50") }));
    }

    // Every quantity the entry accepts, the smallest included, leaves the totals exact when its line is removed.
    void totalsStayExactForExtremeQuantities()
    {
        const std::optional<qint32> smallest = parseQuantity(QStringLiteral("-2147483648"));
        QVERIFY(smallest);
        SalesTotals totals;
        const SalesLine low { 1, QDate(2024, 5, 1), QStringLiteral("杯子"), *smallest, 100, 50, {} };
        const SalesLine high { 2, QDate(2024, 5, 1), QStringLiteral("杯子"), std::numeric_limits<qint32>::max(), 1, 0,
            {} };
        totals.add(low);
        totals.add(high);
        totals.remove(low);
        QCOMPARE(totals.quantity, qint64(std::numeric_limits<qint32>::max()));
        QCOMPARE(totals.lines, 1);
        totals.remove(high);
        QCOMPARE(totals, SalesTotals());
    }
};

KIVARO_TEST_MAIN(TestSalesModels)
#include "tst_salesmodels.moc"
