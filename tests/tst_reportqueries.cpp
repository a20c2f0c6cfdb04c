#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

// Rows of a flat list, width texts each.
static QList<QStringList> rowsOf(const QStringList& flat, int width)
{
    QList<QStringList> rows;
    for (qsizetype i = 0; i + width <= flat.size(); i += width)
        rows.append(flat.mid(i, width));
    return rows;
}

class TestReportQueries : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TDbMan> db;
    const QString user = QStringLiteral("A");
    QStringList detail, daily, products, ranking;

    void add(const QString& day, const QString& name, int qty, const QString& money, const QString& cost,
        const QString& who = QStringLiteral("A"))
    {
        addRecord(*db, who, day, name, QString::number(qty), money, cost, QString());
    }
    void query(const QString& first, const QString& last)
    {
        queryReport(*db, user, first, last, detail, daily, products, ranking);
    }
    QVariantList planValues() const
    {
        return { EncodeText(user), QStringLiteral("2009-01-01"), QStringLiteral("2009-12-31") };
    }

private Q_SLOTS:
    void init()
    {
        home = std::make_unique<TestDataHome>();
        db = std::make_unique<TDbMan>();
        // Stale content that every query must clear first.
        detail = daily = products = ranking = QStringList { QStringLiteral("stale") };
    }
    void cleanup()
    {
        db.reset();
        home.reset();
    }

    void rangeIsInclusiveAndOtherUsersNeverShow()
    {
        add(QStringLiteral("2009/01/01"), QStringLiteral("P"), 1, QStringLiteral("1.00"), QStringLiteral("0.50"));
        add(QStringLiteral("2009/01/31"), QStringLiteral("P"), 2, QStringLiteral("2.00"), QStringLiteral("1.00"));
        add(QStringLiteral("2009/02/01"), QStringLiteral("P"), 4, QStringLiteral("4.00"), QStringLiteral("2.00"));
        add(QStringLiteral("2009/01/15"), QStringLiteral("P"), 8, QStringLiteral("8.00"), QStringLiteral("4.00"),
            QStringLiteral("B"));
        query(QStringLiteral("2009/01/01"), QStringLiteral("2009/01/31"));
        QCOMPARE(rowsOf(daily, 5),
            (QList<QStringList> { { QStringLiteral("2009-01-01"), QStringLiteral("1"), QStringLiteral("1.00"),
                                      QStringLiteral("0.50"), QStringLiteral("0.50") },
                { QStringLiteral("2009-01-31"), QStringLiteral("2"), QStringLiteral("2.00"), QStringLiteral("1.00"),
                    QStringLiteral("1.00") } }));
        query(QStringLiteral("2009/01/31"), QStringLiteral("2009/01/31"));
        QCOMPARE(detail.size(), 7);
        query(QStringLiteral("2009/02/02"), QStringLiteral("2009/01/01"));
        QVERIFY(detail.isEmpty() && daily.isEmpty() && products.isEmpty() && ranking.isEmpty());
        query(QStringLiteral("2010/01/01"), QStringLiteral("2010/12/31"));
        QVERIFY(detail.isEmpty() && daily.isEmpty() && products.isEmpty() && ranking.isEmpty());
    }

    void groupsFollowFirstSavingAndRankByQuantity()
    {
        // IDs 1..5: A, B, A on one day, A on two more days, and a return of B.
        add(QStringLiteral("2009/03/01"), QStringLiteral("A"), 1, QStringLiteral("10.00"), QStringLiteral("6.00"));
        add(QStringLiteral("2009/03/01"), QStringLiteral("B"), 5, QStringLiteral("5.50"), QStringLiteral("3.25"));
        add(QStringLiteral("2009/03/01"), QStringLiteral("A"), 2, QStringLiteral("20.00"), QStringLiteral("12.00"));
        add(QStringLiteral("2009/03/02"), QStringLiteral("A"), 3, QStringLiteral("30.00"), QStringLiteral("18.00"));
        add(QStringLiteral("2009/03/03"), QStringLiteral("B"), -1, QStringLiteral("-1.10"), QStringLiteral("-0.65"));
        add(QStringLiteral("2009/03/03"), QStringLiteral("a"), 100, QStringLiteral("0.01"), QStringLiteral("0.00"));
        query(QStringLiteral("2009/03/01"), QStringLiteral("2009/03/31"));

        const QList<QStringList> lines = rowsOf(detail, 7);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines.at(1).at(2), QStringLiteral("B"));
        QCOMPARE(lines.at(2).at(2), QStringLiteral("A"));
        QVERIFY(lines.at(0).at(0).toInt() < lines.at(1).at(0).toInt());
        QCOMPARE(lines.at(4).at(3), QStringLiteral("-1"));
        QCOMPARE(lines.at(4).at(6), QString());

        const QList<QStringList> perDay = rowsOf(products, 6);
        QCOMPARE(perDay.size(), 5);
        QCOMPARE(perDay.at(0),
            (QStringList { QStringLiteral("2009-03-01"), QStringLiteral("A"), QStringLiteral("3"),
                QStringLiteral("30.00"), QStringLiteral("18.00"), QStringLiteral("12.00") }));
        QCOMPARE(perDay.at(1).at(1), QStringLiteral("B"));

        const QList<QStringList> ranked = rowsOf(ranking, 5);
        QCOMPARE(ranked.size(), 3);
        QCOMPARE(ranked.at(0).at(0), QStringLiteral("a"));
        QCOMPARE(ranked.at(1),
            (QStringList { QStringLiteral("A"), QStringLiteral("6"), QStringLiteral("60.00"), QStringLiteral("36.00"),
                QStringLiteral("24.00") }));
        QCOMPARE(ranked.at(2),
            (QStringList { QStringLiteral("B"), QStringLiteral("4"), QStringLiteral("4.40"), QStringLiteral("2.60"),
                QStringLiteral("1.80") }));

        QCOMPARE(rowsOf(daily, 5).at(2),
            (QStringList { QStringLiteral("2009-03-03"), QStringLiteral("99"), QStringLiteral("-1.09"),
                QStringLiteral("-0.65"), QStringLiteral("-0.44") }));
    }

    void longNamesAndMemosComeBackWhole()
    {
        // Long enough that their stored forms run over several Base64 lines.
        const QString name = QStringLiteral("张三牌Super保温杯 500ml").repeated(6);
        const QString memo = QStringLiteral("购买者李四 Order #42; ").repeated(6);
        QVERIFY(EncodeText(name).contains(QStringLiteral("\r\n")) && EncodeText(memo).contains(QStringLiteral("\r\n")));
        addRecord(*db, user, QStringLiteral("2009/05/01"), name, QStringLiteral("2"), QStringLiteral("3.50"),
            QStringLiteral("1.25"), memo);
        addRecord(*db, user, QStringLiteral("2009/05/02"), name, QStringLiteral("-1"), QStringLiteral("-1.75"),
            QStringLiteral("-0.60"), QString());
        query(QStringLiteral("2009/05/01"), QStringLiteral("2009/05/02"));
        const QList<QStringList> lines = rowsOf(detail, 7);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0).mid(1),
            (QStringList { QStringLiteral("2009-05-01"), name, QStringLiteral("2"), QStringLiteral("3.50"),
                QStringLiteral("1.25"), memo }));
        QCOMPARE(lines.at(1).mid(1),
            (QStringList { QStringLiteral("2009-05-02"), name, QStringLiteral("-1"), QStringLiteral("-1.75"),
                QStringLiteral("-0.60"), QString() }));
        QCOMPARE(rowsOf(products, 6).at(1),
            (QStringList { QStringLiteral("2009-05-02"), name, QStringLiteral("-1"), QStringLiteral("-1.75"),
                QStringLiteral("-0.60"), QStringLiteral("-1.15") }));
        QCOMPARE(ranking,
            (QStringList {
                name, QStringLiteral("1"), QStringLiteral("1.75"), QStringLiteral("0.65"), QStringLiteral("1.10") }));
    }

    // The grouped statements find every column they need in the index and never read the table's rows.
    void groupedStatementsReadTheIndexAlone()
    {
        KIVARO_FILE_STORE_ONLY();
        add(QStringLiteral("2009/03/01"), QStringLiteral("A"), 1, QStringLiteral("1"), QStringLiteral("1"));
        RawDb raw(home->dbPath());
        QVERIFY(raw.isOpen());
        const QStringList statements = reportStatements();
        for (const QString& statement : statements.mid(1)) {
            const std::optional<QString> details = raw.queryPlan(statement, planValues());
            QVERIFY2(details, qPrintable(raw.lastError()));
            QVERIFY2(details->contains(QStringLiteral("COVERING INDEX RecordsByUserDate")),
                qPrintable(statement + *details));
        }
    }

    void everyStatementUsesTheUserDateIndex()
    {
        KIVARO_FILE_STORE_ONLY();
        add(QStringLiteral("2009/03/01"), QStringLiteral("A"), 1, QStringLiteral("1"), QStringLiteral("1"));
        RawDb raw(home->dbPath());
        QVERIFY(raw.isOpen());
        for (const QString& statement : reportStatements()) {
            const std::optional<QString> details = raw.queryPlan(statement, planValues());
            QVERIFY2(details, qPrintable(raw.lastError()));
            QVERIFY2(details->contains(QStringLiteral("RecordsByUserDate")), qPrintable(statement + *details));
            QVERIFY2(!details->contains(QStringLiteral("SCAN Records")), qPrintable(*details));
        }
    }
};

KIVARO_TEST_MAIN(TestReportQueries)
#include "tst_reportqueries.moc"
