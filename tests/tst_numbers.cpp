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
