#include "base/Error.h"
#include "db/Comparison.h"
#include "db/Numbers.h"
#include "tests/TestUtil.h"

using OptInt = std::optional<qint32>;
using OptCents = std::optional<qint64>;
Q_DECLARE_METATYPE(OptInt)
Q_DECLARE_METATYPE(OptCents)

class TestNumbers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quantity_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptInt>("expected");
        QTest::newRow("plain") << "5" << OptInt(5);
        QTest::newRow("blank before") << " 7" << OptInt(7);
        QTest::newRow("blank after") << "5 " << OptInt();
        QTest::newRow("negative") << "-3" << OptInt(-3);
        QTest::newRow("plus") << "+4" << OptInt(4);
        QTest::newRow("zero") << "0" << OptInt(0);
        QTest::newRow("dollar hex") << "$10" << OptInt(16);
        QTest::newRow("x hex") << "x1F" << OptInt(31);
        QTest::newRow("0X hex") << "0XfF" << OptInt(255);
        QTest::newRow("negative hex") << "-$10" << OptInt(-16);
        QTest::newRow("int max") << "2147483647" << OptInt(2147483647);
        QTest::newRow("int max + 1") << "2147483648" << OptInt();
        QTest::newRow("int min") << "-2147483648" << OptInt(std::numeric_limits<qint32>::min());
        QTest::newRow("hex too big") << "$80000000" << OptInt();
        QTest::newRow("decimal point") << "1.5" << OptInt();
        QTest::newRow("letters") << "abc" << OptInt();
        QTest::newRow("sign only") << "-" << OptInt();
        QTest::newRow("prefix only") << "0x" << OptInt();
        QTest::newRow("empty") << "" << OptInt();
        QTest::newRow("sample") << "1000000008" << OptInt(1000000008);
        QTest::newRow("many zeros") << QString(200, QLatin1Char('0')) + "9" << OptInt(9);
    }

    void quantity()
    {
        QFETCH(QString, text);
        QFETCH(OptInt, expected);
        QCOMPARE(parseQuantity(text), expected);
    }

    void amount_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<OptCents>("expected");
        QTest::newRow("two decimals") << "10.00"
                                      << "." << OptCents(1000);
        QTest::newRow("sample received") << "8000000.88"
                                         << "." << OptCents(800000088);
        QTest::newRow("sample cost") << "6000000.68"
                                     << "." << OptCents(600000068);
        QTest::newRow("negative") << "-12.5"
                                  << "." << OptCents(-1250);
        QTest::newRow("blanks around") << "  3.25  "
                                       << "." << OptCents(325);
        QTest::newRow("no integer part") << ".5"
                                         << "." << OptCents(50);
        QTest::newRow("no fraction") << "5."
                                     << "." << OptCents(500);
        QTest::newRow("exponent") << "1.5e3"
                                  << "." << OptCents(150000);
        QTest::newRow("negative exponent") << "125E-2"
                                           << "." << OptCents(125);
        QTest::newRow("half cent rounds up") << "0.005"
                                             << "." << OptCents(1);
        QTest::newRow("half cent negative") << "-0.005"
                                            << "." << OptCents(-1);
        QTest::newRow("below half cent") << "0.0049999"
                                         << "." << OptCents(0);
        QTest::newRow("thousands separator") << "1,000"
                                             << "." << OptCents();
        QTest::newRow("comma locale") << "12,34"
                                      << "," << OptCents(1234);
        QTest::newRow("point in comma locale") << "12.34"
                                               << "," << OptCents();
        QTest::newRow("two separators") << "1.2.3"
                                        << "." << OptCents();
        QTest::newRow("exponent without digits") << "1e"
                                                 << "." << OptCents();
        QTest::newRow("letters") << "abc"
                                 << "." << OptCents();
        QTest::newRow("empty") << ""
                               << "." << OptCents();
        QTest::newRow("one trillion") << "1000000000000"
                                      << "." << OptCents(100000000000000LL);
        QTest::newRow("above one trillion") << "1000000000000.01"
                                            << "." << OptCents();
        QTest::newRow("huge exponent") << "1e400"
                                       << "." << OptCents();
        QTest::newRow("tiny exponent") << "1e-400"
                                       << "." << OptCents(0);
    }

    void amount()
    {
        QFETCH(QString, text);
        QFETCH(QString, separator);
        QFETCH(OptCents, expected);
        QCOMPARE(parseAmountCents(text, separator.at(0)), expected);
    }

    void formatsCentsWithTwoDecimals()
    {
        QCOMPARE(formatCents(0), QStringLiteral("0.00"));
        QCOMPARE(formatCents(-1250), QStringLiteral("-12.50"));
        QCOMPARE(formatCents(-5), QStringLiteral("-0.05"));
        QCOMPARE(formatCents(800000088), QStringLiteral("8000000.88"));
        QCOMPARE(formatCents(1234, QLatin1Char(',')), QStringLiteral("12,34"));
    }

    void formatsCentsAtTheEdges()
    {
        QCOMPARE(formatCents(7), QStringLiteral("0.07"));
        QCOMPARE(formatCents(100), QStringLiteral("1.00"));
        QCOMPARE(formatCents(-100), QStringLiteral("-1.00"));
        QCOMPARE(formatCents(-99, QLatin1Char(',')), QStringLiteral("-0,99"));
        QCOMPARE(formatCents(std::numeric_limits<qint64>::max()), QStringLiteral("92233720368547758.07"));
        QCOMPARE(formatCents(std::numeric_limits<qint64>::min()), QStringLiteral("-92233720368547758.08"));
    }

    void totalsLineAddsExactly()
    {
        QCOMPARE(totalsLine(0, 0, 0), QStringLiteral("数量：0  实收：0.00  成本：0.00  利润：0.00"));
        QCOMPARE(totalsLine(1000000008, 800000088, 600000068),
            QStringLiteral("数量：1000000008  实收：8000000.88  成本：6000000.68  利润：2000000.20"));
        QCOMPARE(totalsLine(-1, -500, 300), QStringLiteral("数量：-1  实收：-5.00  成本：3.00  利润：-8.00"));
    }

    // A change is rounded half away from zero in tenths of a percent of the earlier value's size, so a profit that
    // grows from a loss is a rise; from nothing there is no change to tell.
    void changeInPercent()
    {
        const auto text = [](WideCents now, WideCents before) { return changeText(changeTenths(now, before)); };
        QCOMPARE(text(4, 3), QStringLiteral("+33.3%"));
        QCOMPARE(text(2, 3), QStringLiteral("-33.3%"));
        QCOMPARE(text(1, 16), QStringLiteral("-93.8%"));
        QCOMPARE(text(3, 16), QStringLiteral("-81.3%"));
        QCOMPARE(text(5, 5), QStringLiteral("0.0%"));
        QCOMPARE(text(10, -10), QStringLiteral("+200.0%"));
        QCOMPARE(text(-30, -10), QStringLiteral("-200.0%"));
        QCOMPARE(text(7, 0), QString());
        QCOMPARE(text(WideCents(kMaxAmountCents) * 1'000'000, 1), QStringLiteral("+9999999999999999999900.0%"));
        QCOMPARE(changeText(changeTenths(4, 3), QLatin1Char(',')), QStringLiteral("+33,3%"));
    }

    // The earlier period of a range, and which row each earlier day lands on: every earlier day on one row, so the
    // earlier column adds up to the earlier period, leap days and the first year included.
    void comparedPeriods()
    {
        const SalesRange february { QStringLiteral("A"), QDate(2024, 2, 1), QDate(2024, 2, 29) };
        QCOMPARE(comparedRange(february, Comparison::PeriodBefore)->first, QDate(2024, 1, 3));
        QCOMPARE(comparedRange(february, Comparison::PeriodBefore)->last, QDate(2024, 1, 31));
        QCOMPARE(comparedRange(february, Comparison::YearEarlier)->last, QDate(2023, 2, 28));
        QVERIFY(!comparedRange(february, Comparison::None));
        const SalesRange firstDays { QStringLiteral("A"), QDate(1, 1, 1), QDate(1, 1, 10) };
        QVERIFY(!comparedRange(firstDays, Comparison::PeriodBefore));
        QVERIFY(!comparedRange(firstDays, Comparison::YearEarlier));
        const SalesRange secondYear { QStringLiteral("A"), QDate(1, 12, 1), QDate(2, 1, 31) };
        QCOMPARE(comparedRange(secondYear, Comparison::YearEarlier)->first, QDate(1, 1, 1));

        // A year after a leap year: 29 February a year earlier is counted on the 28th, beside the 28th's own.
        const SalesRange year { QStringLiteral("A"), QDate(2025, 1, 1), QDate(2025, 12, 31) };
        const QList<DayCount> before { { QDate(2024, 2, 28), 1, 1, { 1, 100, 10 } },
            { QDate(2024, 2, 29), 2, 2, { 2, 200, 20 } }, { QDate(2024, 12, 31), 1, 1, { 4, 400, 40 } } };
        const QList<DayCount> now { { QDate(2025, 2, 28), 1, 1, { 9, 900, 90 } },
            { QDate(2025, 6, 1), 1, 1, { 1, 1, 1 } } };
        const QList<ComparedRow> rows = compareDays(year, Comparison::YearEarlier, now, before);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0), (ComparedRow { QDate(2025, 2, 28), {}, { 9, 900, 90 }, { 3, 300, 30 } }));
        QCOMPARE(rows.at(1).before, SalesSums());
        QCOMPARE(rows.at(2).day, QDate(2025, 12, 31));
        QCOMPARE(comparedDay(QDate(2025, 2, 28), year, Comparison::YearEarlier), QDate(2024, 2, 28));
        // The leap year's own 29th compares with the 28th a year earlier; the earlier range starts there.
        const SalesRange leapDay { QStringLiteral("A"), QDate(2024, 2, 29), QDate(2024, 3, 1) };
        const QList<ComparedRow> leap = compareDays(leapDay, Comparison::YearEarlier, {},
            { { QDate(2023, 2, 28), 1, 1, { 1, 1, 1 } }, { QDate(2023, 3, 1), 1, 1, { 2, 2, 2 } } });
        QCOMPARE(leap.size(), 2);
        QCOMPARE(leap.at(0).day, QDate(2024, 2, 29));
        QCOMPARE(leap.at(1).day, QDate(2024, 3, 1));

        // Two earlier days on one row whose sums outgrow 64 bits are refused in words, never wrapped.
        const qint64 most = std::numeric_limits<qint64>::max() / 2 + 1;
        QVERIFY_THROWS_EXCEPTION(KivaroError,
            compareDays(year, Comparison::YearEarlier, {},
                { { QDate(2024, 2, 28), 1, 1, { 1, most, 0 } }, { QDate(2024, 2, 29), 1, 1, { 1, most, 0 } } }));
        // A range from the first day there is has no earlier period; its totals say so.
        SalesRange none = firstDays;
        none.first = none.last = QDate();
        QVERIFY(comparedTotalsText(Comparison::PeriodBefore, none, {}, {})
                    .endsWith(QStringLiteral("上期：没有更早的日子可比")));

        // The ranking: its own order, then what sold only before, in the earlier order.
        const QList<ComparedRow> ranked
            = compareRankings({ { QStringLiteral("甲"), { 3, 30, 1 } }, { QStringLiteral("丙"), { 1, 5, 1 } } },
                { { QStringLiteral("乙"), { 5, 50, 1 } }, { QStringLiteral("甲"), { 1, 10, 1 } },
                    { QStringLiteral("丁"), { 1, 1, 1 } } });
        QStringList names;
        for (const ComparedRow& row : ranked)
            names << row.productName;
        QCOMPARE(names, (QStringList { "甲", "丙", "乙", "丁" }));
        QCOMPARE(ranked.at(0).before, (SalesSums { 1, 10, 1 }));
    }

    void dayText()
    {
        QCOMPARE(parseDayText(QStringLiteral("2009/01/31")), QDate(2009, 1, 31));
        QCOMPARE(parseDayText(QStringLiteral("2009-01-31")), QDate(2009, 1, 31));
        QCOMPARE(parseDayText(QStringLiteral("2009.01.31")), QDate(2009, 1, 31));
        QVERIFY(!parseDayText(QStringLiteral("2009/02/30")));
        QVERIFY(!parseDayText(QStringLiteral("2009/1/31")));
        QVERIFY(!parseDayText(QStringLiteral("20090131")));
        QVERIFY(!parseDayText(QStringLiteral("2009/01/31 ")));
    }
};

KIVARO_TEST_MAIN(TestNumbers)
#include "tst_numbers.moc"
