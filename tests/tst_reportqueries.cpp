#include "base/TextCodec.h"
#include "db/Comparison.h"
#include "db/DbClass.h"
#include "db/LedgerStore.h"
#include "db/ViewSnapshot.h"
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
    // 查看's snapshot gives each position the line it read, whatever another window does after it: saves on its days,
    // edits that move lines between its days and out of its range, deletes, undoing a delete made before 查看 and one
    // made after. Read in windows of any size, across the ends of days and of the detail view's blocks.
    // 查找 on either store: the same lines found (Latin capitals folded, nothing else), the views' days and ranking
    // counted from them, and a line changed after 查看 shown as it was found.
    void findShowsOnlyWhatItFound()
    {
        const QDate first(2022, 3, 1);
        const auto line = [&](int day, const QString& name, qint32 quantity, qint64 received, const QString& memo) {
            return SalesLine { 0, first.addDays(day), name, quantity, received, 1, memo };
        };
        addLines(*db, user,
            { line(0, QStringLiteral("毛巾"), 2, 2000, {}), line(0, QStringLiteral("Towel"), 1, 900, {}),
                line(0, QStringLiteral("牙刷"), 3, 600, QStringLiteral("Blue TOWEL")),
                line(1, QStringLiteral("ÉCOLE towel"), 4, 100, {}), line(1, QStringLiteral("towel"), 4, 50, {}),
                line(2, QStringLiteral("香皂"), 1, 300, QStringLiteral("毛巾 赠品")),
                line(9, QStringLiteral("towel"), 1, 1, {}) });
        addLines(*db, QStringLiteral("B"), { line(0, QStringLiteral("towel"), 9, 9, {}) });
        SalesRange range { user, first, first.addDays(2) };
        const auto names = [&](const SalesRange& in) {
            const std::shared_ptr<const ViewSnapshot> view = db->QueryView(in);
            QStringList found;
            for (const SalesLine& each : db->LinesAsRead(*view, 0, view->lineCount()))
                found << each.productName;
            return found;
        };
        range.find = QStringLiteral("TOWEL");
        QCOMPARE(names(range), (QStringList { "Towel", "牙刷", "ÉCOLE towel", "towel" }));
        // Only A to Z are folded: an accented capital finds itself alone, on the server as on the file.
        range.find = QStringLiteral("école");
        QCOMPARE(names(range), QStringList());
        range.find = QStringLiteral("毛巾");
        QCOMPARE(names(range), (QStringList { "毛巾", "香皂" }));
        range.find = QStringLiteral("巾 赠");
        QCOMPARE(names(range), QStringList { "香皂" });

        range.find = QStringLiteral("towel");
        const std::shared_ptr<const ViewSnapshot> view = db->QueryView(range);
        QCOMPARE(view->days.size(), 2);
        QCOMPARE(view->days.at(0).lines, 2);
        QCOMPARE(view->days.at(0).rows, 2);
        QCOMPARE(view->days.at(1).sums, (SalesSums { 8, 150, 2 }));
        const QList<RankingRow> ranking = db->QueryRanking(range);
        QCOMPARE(ranking.size(), 4);
        QCOMPARE(ranking.at(0).productName, QStringLiteral("ÉCOLE towel"));
        QCOMPARE(ranking.at(1).productName, QStringLiteral("towel"));
        QCOMPARE(ranking.at(2).sums, (SalesSums { 3, 600, 1 }));
        // Edited elsewhere after 查看: the view keeps the line as it was found, the next 查看 finds by the new text.
        const QList<SalesLine> shown = db->LinesAsRead(*view, 0, view->lineCount());
        SalesLine renamed = shown.at(0);
        renamed.productName = QStringLiteral("浴巾");
        renamed.memo.clear();
        {
            TDbMan other;
            const SalesLine stored = other.QueryLineWindow({ user, first, first }, first, 0, 10).at(1);
            renamed.memo = stored.memo;
            other.UpdateLine(user, stored, renamed);
        }
        QCOMPARE(db->LinesAsRead(*view, 0, 1).at(0).productName, QStringLiteral("Towel"));
        QCOMPARE(db->QueryView(range)->lineCount(), 3);
    }

    // The earlier period of a comparison is read as the range is, 查找 included: its days counted from the lines
    // found, so that both sides count the same kind of lines, and its ranking beside the range's.
    void comparedPeriodIsReadLikeTheRange()
    {
        const auto line = [](const QDate& day, const char* name, qint32 quantity, qint64 received, const char* memo) {
            return SalesLine { 0, day, QString::fromUtf8(name), quantity, received, 10, QString::fromUtf8(memo) };
        };
        addLines(*db, user,
            { line(QDate(2024, 1, 5), "毛巾", 1, 1000, ""), line(QDate(2024, 1, 5), "香皂", 7, 700, "送毛巾"),
                line(QDate(2024, 1, 20), "牙刷", 9, 900, ""), line(QDate(2024, 2, 5), "毛巾", 3, 3000, ""),
                line(QDate(2024, 2, 6), "浴巾", 1, 500, "") });
        SalesRange february { user, QDate(2024, 2, 1), QDate(2024, 2, 29) };
        february.find = QStringLiteral("毛巾");
        const SalesRange earlier = *comparedRange(february, Comparison::PeriodBefore);
        QCOMPARE(earlier.find, february.find);
        const QList<DayCount> before = db->QueryDays(earlier);
        QCOMPARE(before.size(), 1);
        QCOMPARE(before.at(0).lines, 2);
        QCOMPARE(before.at(0).rows, 2);
        QCOMPARE(before.at(0).sums, (SalesSums { 8, 1700, 20 }));
        const QList<ComparedRow> days
            = compareDays(february, Comparison::PeriodBefore, db->QueryView(february)->days, before);
        QCOMPARE(days.size(), 2);
        QCOMPARE(days.at(0), (ComparedRow { QDate(2024, 2, 3), {}, {}, { 8, 1700, 20 } }));
        QCOMPARE(days.at(1), (ComparedRow { QDate(2024, 2, 5), {}, { 3, 3000, 10 }, {} }));
        const QList<ComparedRow> ranking = compareRankings(db->QueryRanking(february), db->QueryRanking(earlier));
        QCOMPARE(ranking.size(), 2);
        QCOMPARE(ranking.at(0), (ComparedRow { {}, QStringLiteral("毛巾"), { 3, 3000, 10 }, { 1, 1000, 10 } }));
        QCOMPARE(ranking.at(1), (ComparedRow { {}, QStringLiteral("香皂"), {}, { 7, 700, 10 } }));
        // Without 查找 the earlier days are the summaries' own.
        february.find.clear();
        QCOMPARE(db->QueryDays(*comparedRange(february, Comparison::PeriodBefore)).size(), 2);
    }

    void snapshotKeepsEachPositionsLine()
    {
        const QDate first(2021, 5, 1);
        const SalesRange range { user, first, first.addDays(8) };
        const int perDay[] = { 3, 300, 0, 1, 520, 7, 0, 260, 2 };
        QList<SalesLine> lines;
        for (int day = 0; day < 9; ++day) {
            for (int i = 0; i < perDay[day]; ++i)
                lines.append({ 0, first.addDays(day), QStringLiteral("品%1").arg(i % 4), qint32(1 + i % 9),
                    100LL * day + i, 10, QStringLiteral("d%1-%2").arg(day).arg(i) });
        }
        addLines(*db, user, lines);
        QList<SalesLine> stored = db->QueryLineWindow(range, first, 0, 10'000);
        QCOMPARE(stored.size(), lines.size());
        // Deleted before 查看; its delete is undone after it.
        deleteStored(*db, user, stored.at(1).id);
        const qint64 deletedBefore = db->Changes(user, 1).value(0).id;
        stored.removeAt(1);

        const std::shared_ptr<const ViewSnapshot> view = db->QueryView(range);
        QCOMPARE(view->lineCount(), stored.size());
        QCOMPARE(db->LinesAsRead(*view, 0, view->lineCount()), stored);
        const auto onDay = [&](int day, int index) {
            return *std::find_if(stored.cbegin(), stored.cend(), [&](const SalesLine& line) {
                return line.day == first.addDays(day) && line.memo == QStringLiteral("d%1-%2").arg(day).arg(index);
            });
        };
        {
            TDbMan other;
            addLines(other, user,
                { { 0, first.addDays(1), QStringLiteral("新"), 1, 1, 1, {} },
                    { 0, first.addDays(4), QStringLiteral("新"), 1, 1, 1, {} } });
            const auto moveTo = [&](SalesLine line, const QDate& day) {
                line.day = day;
                line.quantity += 1000;
                updateStored(other, user, line);
            };
            moveTo(onDay(4, 10), first.addDays(1));
            moveTo(onDay(1, 20), first.addDays(7));
            moveTo(onDay(7, 0), first.addDays(40));
            moveTo(onDay(8, 1), first.addDays(6));
            // Edited twice: the first change holds the line as read.
            moveTo(onDay(5, 3), first.addDays(2));
            moveTo(onDay(5, 3), first.addDays(3));
            // Saved after 查看, then edited: still not part of it.
            for (const SalesLine& line : other.QueryLineWindow(range, first.addDays(4), 0, 10'000)) {
                if (line.productName == QStringLiteral("新"))
                    moveTo(line, first.addDays(2));
            }
            deleteStored(other, user, onDay(4, 300).id);
            deleteStored(other, user, onDay(1, 299).id);
            other.UndoChange(user, other.Changes(user, 1).value(0).id);
            other.UndoChange(user, deletedBefore);
        }
        for (const qint64 size : { 1, 7, 256, 1000 }) {
            QList<SalesLine> read;
            for (qint64 at = 0; at < view->lineCount(); at += size)
                read += db->LinesAsRead(*view, at, size);
            QCOMPARE(read, stored);
        }
        QCOMPARE(TDbMan().LinesAsRead(*view, 250, 600), stored.mid(250, 600));
        // The next 查看 shows the ledger as it is: two saved, one moved out of the range, one deleted, one undeleted.
        QCOMPARE(db->QueryView(range)->lineCount(), stored.size() + 2 - 1 - 1 + 1);
    }

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
