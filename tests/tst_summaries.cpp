// The per-day and per-day-and-product summaries behind the review views: kept right by every writer, given to files
// of the old layout, done without where a file cannot take them, and the typed queries that read them.

#include "base/Error.h"
#include "base/TextCodec.h"
#include "db/Backup.h"
#include "db/DbClass.h"
#include "db/Numbers.h"
#include "db/Schema.h"
#include "db/ViewSnapshot.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <limits>

namespace {

const QString kUser = QStringLiteral("张三");
const QString kOther = QStringLiteral("Mary Chen");
const QStringList kProducts { QStringLiteral("毛巾"), QStringLiteral("牙刷"), QStringLiteral("Yoga mat"),
    QStringLiteral("张三牌Super保温杯 500ml").repeated(4), QStringLiteral("水杯") };

// What the summaries must hold, computed here from the lines themselves.
const QString kExpectedDays = QStringLiteral(
    "SELECT UserName || '|' || RecDate || '|' || COUNT(*) || '|' || COUNT(DISTINCT RecProductName) || '|' || "
    "SUM(RecQuantity) || '|' || SUM(RecMoney) || '|' || SUM(RecCost) FROM Records GROUP BY UserName, RecDate "
    "ORDER BY 1");
const QString kStoredDays = QStringLiteral("SELECT UserName || '|' || RecDate || '|' || Lines || '|' || Products || "
                                           "'|' || Quantity || '|' || Money || '|' || Cost FROM DaySums ORDER BY 1");
const QString kExpectedGroups = QStringLiteral(
    "SELECT UserName || '|' || RecDate || '|' || RecProductName || '|' || COUNT(*) || '|' || MIN(ID) || '|' || "
    "SUM(RecQuantity) || '|' || SUM(RecMoney) || '|' || SUM(RecCost) FROM Records "
    "GROUP BY UserName, RecDate, RecProductName ORDER BY 1");
const QString kStoredGroups = QStringLiteral(
    "SELECT UserName || '|' || RecDate || '|' || RecProductName || '|' || Lines || '|' || FirstID || '|' || "
    "Quantity || '|' || Money || '|' || Cost FROM DayProductSums ORDER BY 1");
const QString kExpectedMonths = QStringLiteral(
    "SELECT UserName || '|' || substr(RecDate, 1, 7) || '|' || RecProductName || '|' || COUNT(*) || '|' || MIN(ID) "
    "|| '|' || SUM(RecQuantity) || '|' || SUM(RecMoney) || '|' || SUM(RecCost) FROM Records "
    "GROUP BY UserName, substr(RecDate, 1, 7), RecProductName ORDER BY 1");
const QString kExpectedYears = QStringLiteral(
    "SELECT UserName || '|' || substr(RecDate, 1, 4) || '|' || RecProductName || '|' || COUNT(*) || '|' || MIN(ID) "
    "|| '|' || SUM(RecQuantity) || '|' || SUM(RecMoney) || '|' || SUM(RecCost) FROM Records "
    "GROUP BY UserName, substr(RecDate, 1, 4), RecProductName ORDER BY 1");
const QString kStoredYears = QStringLiteral(
    "SELECT UserName || '|' || RecYear || '|' || RecProductName || '|' || Lines || '|' || FirstID || '|' || "
    "Quantity || '|' || Money || '|' || Cost FROM YearProductSums ORDER BY 1");
const QString kStoredMonths = QStringLiteral(
    "SELECT UserName || '|' || RecMonth || '|' || RecProductName || '|' || Lines || '|' || FirstID || '|' || "
    "Quantity || '|' || Money || '|' || Cost FROM MonthProductSums ORDER BY 1");

// The layout files had before the summaries.
const char* const kOldSchema[] = {
    "CREATE TABLE Users (ID INTEGER PRIMARY KEY AUTOINCREMENT, UserName TEXT NOT NULL UNIQUE, Password TEXT NOT NULL,"
    " LoginOrder INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE Records (ID INTEGER PRIMARY KEY AUTOINCREMENT, UserName TEXT NOT NULL, RecDate TEXT NOT NULL,"
    " RecProductName TEXT NOT NULL, RecQuantity INTEGER NOT NULL, RecMoney INTEGER NOT NULL, RecCost INTEGER NOT NULL,"
    " RecMemo TEXT NOT NULL)",
    "CREATE INDEX RecordsByUserDate ON Records (UserName, RecDate, RecProductName, RecQuantity, RecMoney, RecCost)",
};

const QString kInsertRaw = QStringLiteral("INSERT INTO Records (UserName, RecDate, RecProductName, RecQuantity, "
                                          "RecMoney, RecCost, RecMemo) VALUES (?, ?, ?, ?, ?, ?, ?)");

QVariantList rawLine(const QString& user, const QString& day, const QString& product, qint64 quantity, qint64 money,
    qint64 cost, const QString& memo = QString())
{
    return { EncodeText(user), day, EncodeText(product), quantity, money, cost, EncodeText(memo) };
}

QString dayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

QStringList lineTexts(const SalesLine& line)
{
    return { QString::number(line.id), dayText(line.day), line.productName, QString::number(line.quantity),
        formatCents(line.received), formatCents(line.cost), line.memo };
}

QStringList sumsTexts(const SalesSums& sums)
{
    return { QString::number(sums.quantity), formatCents(sums.received), formatCents(sums.cost),
        formatWideCents(WideCents(sums.received) - sums.cost) };
}

QList<QStringList> rowsOf(const QStringList& flat, int width)
{
    QList<QStringList> rows;
    for (qsizetype i = 0; i + width <= flat.size(); i += width)
        rows.append(flat.mid(i, width));
    return rows;
}

// Where the row at position lies: its day and its offset into that day, for a view that counts size rows a day.
std::pair<QDate, qint64> windowStart(const QList<DayCount>& days, qint64 DayCount::*size, qint64 position)
{
    for (const DayCount& day : days) {
        if (position < day.*size)
            return { day.day, position };
        position -= day.*size;
    }
    return { days.isEmpty() ? QDate() : days.last().day.addDays(1), 0 };
}

// Random sales over eight days of five products, returns among them; the same seed gives the same lines.
class Walk
{
public:
    explicit Walk(quint32 seed)
        : m_rng(seed)
    {
    }
    QDate day() { return QDate(2024, 2, 26).addDays(m_rng.bounded(8)); }
    QString product() { return kProducts.at(m_rng.bounded(int(kProducts.size()))); }
    SalesLine line()
    {
        const int quantity = m_rng.bounded(-3, 20);
        const qint64 money = quantity * qint64(m_rng.bounded(1, 100000));
        return { 0, day(), product(), quantity, money, money / 2,
            m_rng.bounded(3) == 0 ? QStringLiteral("退货") : QString() };
    }
    int below(int n) { return m_rng.bounded(n); }

private:
    QRandomGenerator m_rng;
};

} // namespace

// Whose line it is, as the file says.
QString ownerOf(RawDb& raw, qint64 id)
{
    return DecodeText(raw.value(QStringLiteral("SELECT UserName FROM Records WHERE ID=?"), { id }).toString());
}

class TestSummaries : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDataHome> home;

    void createOldFile(const QList<QVariantList>& lines)
    {
        QVERIFY(QDir().mkpath(home->dataDir()));
        RawDb db(home->dbPath(), RawDb::Open::CreateIfMissing);
        QVERIFY(db.isOpen());
        for (const char* statement : kOldSchema)
            QVERIFY2(db.exec(QString::fromLatin1(statement)), qPrintable(db.lastError()));
        QVERIFY(db.exec(QStringLiteral("BEGIN")));
        for (const QVariantList& line : lines)
            QVERIFY2(db.exec(kInsertRaw, line), qPrintable(db.lastError()));
        QVERIFY(db.exec(QStringLiteral("COMMIT")));
    }

    // Lines of both users over a week, with repeated products, returns and long names.
    static QList<QVariantList> sampleLines()
    {
        QList<QVariantList> lines;
        Walk walk(7);
        for (int i = 0; i < 90; ++i) {
            const SalesLine line = walk.line();
            lines.append(rawLine(i % 4 == 3 ? kOther : kUser, dayText(line.day), line.productName, line.quantity,
                line.received, line.cost, line.memo));
        }
        return lines;
    }

    // The engine's plan for a statement over the test's file, one step a line.
    QString queryPlan(const QString& statement)
    {
        RawDb db(home->dbPath());
        return db
            .queryPlan(statement, { EncodeText(kUser), QStringLiteral("2024-01-01"), QStringLiteral("2024-12-31") })
            .value_or(db.lastError());
    }

    void verifySummaries(RawDb& raw)
    {
        const std::optional<QVariantList> days = raw.column(kStoredDays);
        QVERIFY2(days, qPrintable(raw.lastError()));
        QCOMPARE(*days, *raw.column(kExpectedDays));
        const std::optional<QVariantList> groups = raw.column(kStoredGroups);
        QVERIFY2(groups, qPrintable(raw.lastError()));
        QCOMPARE(*groups, *raw.column(kExpectedGroups));
        const std::optional<QVariantList> months = raw.column(kStoredMonths);
        QVERIFY2(months, qPrintable(raw.lastError()));
        QCOMPARE(*months, *raw.column(kExpectedMonths));
        const std::optional<QVariantList> years = raw.column(kStoredYears);
        QVERIFY2(years, qPrintable(raw.lastError()));
        QCOMPARE(*years, *raw.column(kExpectedYears));
    }

    // Every typed query answers what QueryReport lists for the same user and days.
    void verifyTypedQueries(TDbMan& db, const SalesRange& range)
    {
        QStringList detail, daily, products, ranking;
        queryReport(db, range.userName, range.first.toString(QStringLiteral("yyyy/MM/dd")),
            range.last.toString(QStringLiteral("yyyy/MM/dd")), detail, daily, products, ranking);
        const QList<QStringList> detailRows = rowsOf(detail, 7);
        const QList<QStringList> productRows = rowsOf(products, 6);

        const QList<DayCount> days = db.QueryDays(range);
        QList<QStringList> dayRows;
        qint64 lines = 0, groups = 0;
        for (const DayCount& day : days) {
            dayRows.append(QStringList { dayText(day.day) } + sumsTexts(day.sums));
            lines += day.lines;
            groups += day.rows;
        }
        // A wrong count of a day shows in the windows below, which start at the day the counts point to.
        QCOMPARE(lines, detailRows.size());
        QCOMPARE(groups, productRows.size());
        QCOMPARE(dayRows, rowsOf(daily, 5));

        QList<QStringList> rankingRows;
        for (const RankingRow& row : db.QueryRanking(range))
            rankingRows.append(QStringList { row.productName } + sumsTexts(row.sums));
        QCOMPARE(rankingRows, rowsOf(ranking, 5));
        // The ranking added up here from the lines: by quantity, ties in the order of each product's first line.
        QMap<QString, std::pair<SalesSums, qint64>> byProduct;
        for (const SalesLine& line : db.QueryLineWindow(range, range.first, 0, int(lines))) {
            auto& [sums, firstId] = byProduct[line.productName];
            firstId = firstId == 0 ? line.id : qMin(firstId, line.id);
            sums.quantity += line.quantity;
            sums.received += line.received;
            sums.cost += line.cost;
        }
        QList<std::pair<QString, std::pair<SalesSums, qint64>>> expected(
            byProduct.keyValueBegin(), byProduct.keyValueEnd());
        std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
            return a.second.first.quantity != b.second.first.quantity
                ? a.second.first.quantity > b.second.first.quantity
                : a.second.second < b.second.second;
        });
        QList<QStringList> expectedRows;
        for (const auto& [name, group] : expected)
            expectedRows.append(QStringList { name } + sumsTexts(group.first));
        QCOMPARE(rankingRows, expectedRows);

        // Windows of every size from every row on: they end inside days, at their ends, and run across them.
        for (const int count : { 1, 2, 3, 7, int(qMax(lines, qint64(1))) }) {
            for (qint64 position = 0; position < lines; ++position) {
                const auto [day, offset] = windowStart(days, &DayCount::lines, position);
                QList<QStringList> texts;
                for (const SalesLine& line : db.QueryLineWindow(range, day, offset, count))
                    texts.append(lineTexts(line));
                QCOMPARE(texts, detailRows.mid(position, count));
            }
            for (qint64 position = 0; position < groups; ++position) {
                const auto [day, offset] = windowStart(days, &DayCount::rows, position);
                QList<QStringList> texts;
                for (const DayProductRow& row : db.QueryDayProductWindow(range, day, offset, count))
                    texts.append(QStringList { dayText(row.day), row.productName } + sumsTexts(row.sums));
                QCOMPARE(texts, productRows.mid(position, count));
            }
        }
    }

    void verifyTypedQueries(TDbMan& db)
    {
        const QDate monday(2024, 2, 26);
        for (const SalesRange& range : { SalesRange { kUser, monday, monday.addDays(7) },
                 SalesRange { kUser, monday.addDays(2), monday.addDays(4) },
                 SalesRange { kOther, monday.addDays(-30), monday.addDays(30) },
                 SalesRange { kUser, monday.addDays(5), monday.addDays(1) },
                 // Whole months alone, whole months with days at either end, and one whole month with days after.
                 SalesRange { kUser, QDate(2024, 2, 1), QDate(2024, 3, 31) },
                 SalesRange { kOther, QDate(2024, 1, 15), QDate(2024, 3, 2) },
                 SalesRange { kUser, QDate(2024, 2, 27), QDate(2024, 4, 30) },
                 SalesRange { kUser, QDate(2024, 2, 1), QDate(2024, 3, 3) },
                 // Whole years, alone and with months and days at either end.
                 SalesRange { kUser, QDate(2024, 1, 1), QDate(2024, 12, 31) },
                 SalesRange { kOther, QDate(2022, 11, 15), QDate(2025, 2, 10) },
                 SalesRange { kUser, QDate(2023, 12, 1), QDate(2025, 1, 31) } }) {
            verifyTypedQueries(db, range);
            if (QTest::currentTestFailed())
                qWarning() << "range" << range.userName << range.first << range.last;
        }
    }

private Q_SLOTS:
    void init() { home = std::make_unique<TestDataHome>(); }
    void cleanup() { home.reset(); }

    // Adds, edits that move a line to another day, product or user, deletions of the first line of a group, and
    // writes straight into Records as an older copy of the program makes them.
    void summariesFollowEveryWrite()
    {
        TDbMan db;
        QVERIFY(hasSummaries(db, home->dbPath()));
        RawDb raw(home->dbPath());
        QVERIFY(raw.isOpen());
        Walk walk(20240226);
        for (int step = 0; step < 400; ++step) {
            const std::optional<QVariantList> ids = raw.column(QStringLiteral("SELECT ID FROM Records"));
            QVERIFY(ids);
            const qint64 someId = ids->isEmpty() ? 0 : ids->at(walk.below(int(ids->size()))).toLongLong();
            const QVariant firstOfGroup
                = raw.value(QStringLiteral("SELECT FirstID FROM DayProductSums LIMIT 1 OFFSET ?"), { walk.below(4) });
            switch (ids->size() < 20 ? 0 : walk.below(9)) {
            case 0:
            case 1: {
                QList<SalesLine> lines;
                for (int i = walk.below(5); i >= 0; --i)
                    lines.append(walk.line());
                addLines(db, walk.below(3) == 0 ? kOther : kUser, lines);
                break;
            }
            case 2: {
                SalesLine line = walk.line();
                line.id = someId;
                updateStored(db, ownerOf(raw, someId), line);
                break;
            }
            case 3:
                deleteStored(db, ownerOf(raw, someId), someId);
                break;
            case 4:
                if (firstOfGroup.isValid())
                    deleteStored(db, ownerOf(raw, firstOfGroup.toLongLong()), firstOfGroup.toLongLong());
                break;
            case 5: {
                // The first line of a group moves on to another product of the same day.
                if (!firstOfGroup.isValid())
                    break;
                QVERIFY(raw.exec(QStringLiteral("UPDATE Records SET RecProductName=? WHERE ID=?"),
                    { EncodeText(walk.product()), firstOfGroup }));
                break;
            }
            case 6: {
                const SalesLine line = walk.line();
                QVERIFY2(
                    raw.exec(kInsertRaw,
                        rawLine(kUser, dayText(line.day), line.productName, line.quantity, line.received, line.cost)),
                    qPrintable(raw.lastError()));
                break;
            }
            case 7:
                QVERIFY(raw.exec(QStringLiteral("UPDATE Records SET UserName=?, RecMemo=? WHERE ID=?"),
                    { EncodeText(walk.below(2) ? kUser : kOther), EncodeText(QStringLiteral("改")), someId }));
                break;
            default:
                QVERIFY(raw.exec(QStringLiteral("DELETE FROM Records WHERE RecDate=? AND RecQuantity < 3"),
                    { dayText(walk.day()) }));
            }
            verifySummaries(raw);
            if (QTest::currentTestFailed()) {
                qWarning() << "after step" << step;
                return;
            }
        }
        verifyTypedQueries(db);
        QVERIFY(raw.exec(QStringLiteral("DELETE FROM Records")));
        QCOMPARE(
            raw.value(QStringLiteral("SELECT (SELECT COUNT(*) FROM DaySums) + (SELECT COUNT(*) FROM DayProductSums) "
                                     "+ (SELECT COUNT(*) FROM MonthProductSums)")),
            QVariant(0));
    }

    // Summaries changed by another program are mended from the lines: by the next write they make fail (a value no
    // sum can be), and by a backup, which says so. The lines are never touched.
    void damagedSummariesAreMendedFromTheLines()
    {
        // Each damage, and how many summary rows it makes wrong.
        const QList<std::pair<QString, QString>> damages {
            { QStringLiteral("UPDATE DaySums SET Quantity = 1.5"), QString() },
            { QStringLiteral("UPDATE DayProductSums SET Money = Money + 1"),
                QStringLiteral("SELECT COUNT(*) FROM DayProductSums") },
            { QStringLiteral("DELETE FROM DaySums WHERE RecDate IN (SELECT RecDate FROM DaySums ORDER BY 1 LIMIT 2)"),
                QStringLiteral("SELECT 2") },
            { QStringLiteral("UPDATE DaySums SET Lines = 0"), QStringLiteral("SELECT COUNT(*) FROM DaySums") },
            // The months or the years alone: mended from the days.
            { QStringLiteral("UPDATE MonthProductSums SET Quantity = Quantity + 1 WHERE RecMonth = '2024-03'"),
                QStringLiteral("SELECT 2 * COUNT(*) FROM MonthProductSums WHERE RecMonth = '2024-03'") },
            { QStringLiteral("UPDATE YearProductSums SET Money = Money + 1"),
                QStringLiteral("SELECT 2 * COUNT(*) FROM YearProductSums") },
        };
        const QString everyLine = QStringLiteral(
            "SELECT quote(ID) || quote(UserName) || quote(RecDate) || quote(RecProductName) || quote(RecQuantity) || "
            "quote(RecMoney) || quote(RecCost) || quote(RecMemo) FROM Records WHERE ID <= 40 ORDER BY ID");
        for (const auto& [damage, wrongRows] : damages) {
            home = std::make_unique<TestDataHome>();
            TDbMan db;
            Walk walk(7);
            QList<SalesLine> lines;
            for (int i = 0; i < 40; ++i)
                lines.append(walk.line());
            addLines(db, kUser, lines);
            RawDb raw(home->dbPath());
            const QVariantList stored = *raw.column(everyLine);
            const QString wrong = wrongRows.isEmpty() ? QString() : raw.value(wrongRows).toString();
            QVERIFY(raw.exec(QStringLiteral("PRAGMA ignore_check_constraints = ON")));
            QVERIFY2(raw.exec(damage), qPrintable(raw.lastError()));
            QVERIFY(raw.exec(QStringLiteral("PRAGMA ignore_check_constraints = OFF")));

            // A write that meets a broken sum mends the summaries and lands; one that does not leaves them.
            addLines(db, kUser, { lines.first() });
            if (damage.contains(QLatin1String("1.5"))) {
                verifySummaries(raw);
                continue;
            }
            const QString taken = home->base() + QStringLiteral("/备份.sjk");
            const LedgerFileInfo info = backupLedger(currentLedger(), taken);
            QCOMPARE(info.findings.size(), 1);
            QVERIFY2(info.findings.first().contains(QStringLiteral("有 %1 行汇总与记录不符").arg(wrong))
                    && info.findings.first().contains(QStringLiteral("已按记录重新计算")),
                qPrintable(info.findings.first()));
            verifySummaries(raw);
            QCOMPARE(inspectBackup(taken).lines, 41);
            QCOMPARE(backupLedger(currentLedger(), taken).findings, QStringList());
            QCOMPARE(*raw.column(everyLine), stored);
        }
    }

    // The check after 查看 notices day summaries that count other lines than the range holds (a day's row deleted by
    // another program, a count changed): it says so once, and mends them from the lines, so the next 查看 is right.
    void viewNoticesDamagedDayCounts()
    {
        for (const QString& damage : { QStringLiteral("DELETE FROM DaySums WHERE RecDate = (SELECT min(RecDate) FROM "
                                                      "DaySums)"),
                 QStringLiteral("UPDATE DaySums SET Lines = Lines + 1") }) {
            home = std::make_unique<TestDataHome>();
            TDbMan db;
            Walk walk(5);
            QList<SalesLine> lines;
            for (int i = 0; i < 30; ++i)
                lines.append(walk.line());
            addLines(db, kUser, lines);
            const SalesRange all { kUser, QDate(2000, 1, 1), QDate(2099, 12, 31) };
            const auto dayTexts = [](const ViewSnapshot& view) {
                QStringList texts;
                for (const DayCount& day : view.days)
                    texts << QStringLiteral("%1 %2 %3 %4")
                                 .arg(day.day.toString(Qt::ISODate))
                                 .arg(day.lines)
                                 .arg(day.rows)
                                 .arg(day.sums.received);
                return texts;
            };
            const QStringList right = dayTexts(*db.QueryView(all));
            QVERIFY(db.DaysMatchLines(all));
            RawDb raw(home->dbPath());
            QVERIFY2(raw.exec(damage), qPrintable(raw.lastError()));
            QVERIFY(dayTexts(*db.QueryView(all)) != right);
            QVERIFY(!db.DaysMatchLines(all));
            QCOMPARE(dayTexts(*db.QueryView(all)), right);
            QVERIFY(db.DaysMatchLines(all));
            verifySummaries(raw);
        }
    }

    void typedQueriesAnswerAsTheReport()
    {
        TDbMan db;
        QList<SalesLine> mine, theirs;
        Walk walk(11);
        for (int i = 0; i < 80; ++i)
            (i % 5 == 4 ? theirs : mine).append(walk.line());
        addLines(db, kUser, mine);
        addLines(db, kOther, theirs);
        verifyTypedQueries(db);

        const SalesRange week { kUser, QDate(2024, 2, 26), QDate(2024, 3, 4) };
        const QList<SalesLine> all = db.QueryLineWindow(week, week.first, 0, 1000);
        QCOMPARE(all.size(), mine.size());
        // An offset past the day's own lines runs on into the next days.
        const QList<DayCount> days = db.QueryDays(week);
        QCOMPARE(
            db.QueryLineWindow(week, days.first().day, days.first().lines + 2, 3), all.mid(days.first().lines + 2, 3));
        QVERIFY(db.QueryLineWindow(week, week.first, 0, 0).isEmpty());
        QVERIFY(db.QueryLineWindow(week, week.last.addDays(1), 0, 10).isEmpty());
        QVERIFY_THROWS_EXCEPTION(KivaroError, db.QueryDays(SalesRange { kUser, QDate(), week.last }));
    }

    // Equal quantities rank in the order of each product's first sale in the range, not of its latest group.
    void rankingTiesFollowTheFirstSale()
    {
        TDbMan db;
        const QString shop = QStringLiteral("王五小店");
        const QDate day(2024, 5, 1);
        addLines(db, shop,
            { { 0, day, QStringLiteral("P"), 2, 200, 100, {} }, { 0, day, QStringLiteral("Q"), 3, 300, 100, {} },
                { 0, day.addDays(1), QStringLiteral("P"), 1, 100, 50, {} },
                { 0, day.addDays(1), QStringLiteral("R"), 3, 1, 1, {} } });
        const auto names = [&db, &shop](const QDate& first) {
            QStringList order;
            for (const RankingRow& row : db.QueryRanking({ shop, first, first.addDays(1) }))
                order.append(row.productName);
            return order;
        };
        QCOMPARE(names(day), (QStringList { QStringLiteral("P"), QStringLiteral("Q"), QStringLiteral("R") }));
        QCOMPARE(names(day.addDays(1)), (QStringList { QStringLiteral("R"), QStringLiteral("P") }));
        verifyTypedQueries(db, { shop, day, day.addDays(1) });
    }

    void typedWritesCheckTheirLines()
    {
        TDbMan db;
        const SalesLine good { 0, QDate(2024, 3, 1), QStringLiteral("毛巾"), 2, kMaxAmountCents, -kMaxAmountCents, {} };
        SalesLine tooMuch = good;
        tooMuch.received = kMaxAmountCents + 1;
        SalesLine noDay = good;
        noDay.day = QDate();
        SalesLine farDay = good;
        farDay.day = QDate(10000, 1, 1);
        for (const SalesLine& bad : { tooMuch, noDay, farDay })
            QVERIFY_THROWS_EXCEPTION(KivaroError, addLines(db, kUser, { good, bad }));
        const SalesRange range { kUser, QDate(2024, 1, 1), QDate(2024, 12, 31) };
        QVERIFY(db.QueryDays(range).isEmpty());
        addLines(db, kUser, { good });
        SalesLine stored = db.QueryLineWindow(range, range.first, 0, 1).value(0);
        QVERIFY(stored.id > 0);
        tooMuch.id = stored.id;
        QVERIFY_THROWS_EXCEPTION(KivaroError, db.UpdateLine(kUser, stored, tooMuch));
        QCOMPARE(db.QueryLineWindow(range, range.first, 0, 1).value(0), stored);
        SalesLine edited = stored;
        edited.memo = QStringLiteral("改过");
        db.UpdateLine(kUser, stored, edited);
        QCOMPARE(db.QueryLineWindow(range, range.first, 0, 1).value(0), edited);
        db.DeleteLine(kUser, edited);
        QVERIFY_THROWS_EXCEPTION(TRecordGone, db.DeleteLine(kUser, edited));
        QVERIFY_THROWS_EXCEPTION(TRecordGone, db.UpdateLine(kUser, edited, stored));
    }

    // The detail view's order comes from an index, not from sorting the range, and so do the other two views'.
    void theViewOrdersNeedNoSort()
    {
        {
            TDbMan db;
            addLines(db, kUser, { SalesLine { 0, QDate(2024, 3, 1), QStringLiteral("A"), 1, 1, 1, {} } });
        }
        const QString filter = QStringLiteral("WHERE UserName=? AND RecDate>=? AND RecDate<=? ");
        const QStringList statements {
            QStringLiteral("SELECT ID, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo FROM Records ")
                + filter + QStringLiteral("ORDER BY RecDate, ID LIMIT 50 OFFSET 10"),
            QStringLiteral("SELECT RecDate, RecProductName, Quantity, Money, Cost FROM DayProductSums ") + filter
                + QStringLiteral("ORDER BY RecDate, FirstID LIMIT 50 OFFSET 10"),
            QStringLiteral("SELECT RecDate, Lines, Products FROM DaySums ") + filter
                + QStringLiteral("ORDER BY RecDate"),
        };
        for (const QString& statement : statements) {
            const QString plan = queryPlan(statement);
            QVERIFY2(plan.startsWith(QStringLiteral("SEARCH")), qPrintable(statement + plan));
            QVERIFY2(!plan.contains(QStringLiteral("TEMP B-TREE")), qPrintable(statement + plan));
        }
    }

    // A file of the old layout gets its summaries at its first opening and answers as before; later writes keep
    // them, and a second program on the file finds them made.
    void oldFileIsUpgradedOnFirstOpening()
    {
        createOldFile(sampleLines());
        // The upgrade says what it is doing while it works, once, and ends its notice when done.
        int shown = 0;
        std::weak_ptr<void> notice;
        const ScopedHook noticeHook(
            TDbMan::longWorkNotice, std::function<std::shared_ptr<void>(const QString&)>([&](const QString& text) {
                ++shown;
                auto token = std::make_shared<QString>(text);
                notice = token;
                return std::shared_ptr<void>(token);
            }));
        {
            TDbMan db;
            QVERIFY(hasSummaries(db, home->dbPath()));
            QCOMPARE(shown, 1);
            QVERIFY(notice.expired());
            verifyTypedQueries(db);
            Walk walk(3);
            addLines(db, kUser, { walk.line(), walk.line() });
            deleteStored(db, kUser, 1);
        }
        RawDb raw(home->dbPath());
        QCOMPARE(raw.value(QStringLiteral("PRAGMA user_version")).toInt(), Schema::kVersion);
        verifySummaries(raw);
        TDbMan again;
        QVERIFY(hasSummaries(again, home->dbPath()));
        verifyTypedQueries(again);
        QCOMPARE(shown, 1);
    }

    // A file of the layout before the month summaries, written to by that program, gets them from its days at its
    // next opening, with the triggers that keep them; the ranking of whole months then reads them.
    void fileWithoutMonthsGetsThem()
    {
        {
            TDbMan db;
            Walk walk(17);
            QList<SalesLine> mine, theirs;
            for (int i = 0; i < 60; ++i)
                (i % 3 == 2 ? theirs : mine).append(walk.line());
            addLines(db, kUser, mine);
            addLines(db, kOther, theirs);
        }
        {
            RawDb raw(home->dbPath());
            for (const QString& statement : { QStringLiteral("DROP TABLE MonthProductSums"),
                     QStringLiteral("DROP TABLE YearProductSums"), QStringLiteral("DROP TRIGGER RecordsAddToSums"),
                     QStringLiteral("DROP TRIGGER RecordsRemoveFromSums"),
                     QStringLiteral("DROP TRIGGER RecordsMoveInSums"), QStringLiteral("PRAGMA user_version = 2") })
                QVERIFY2(raw.exec(statement), qPrintable(raw.lastError()));
            const QStringList earlier = Schema::triggerStatements().mid(3);
            QCOMPARE(earlier.size(), 3);
            for (const QString& statement : earlier) {
                QVERIFY(!statement.contains(QLatin1String("MonthProductSums")));
                QVERIFY2(raw.exec(statement), qPrintable(raw.lastError()));
            }
            QVERIFY(
                raw.exec(kInsertRaw, rawLine(kUser, QStringLiteral("2024-03-01"), QStringLiteral("毛巾"), 4, 40, 4)));
            QVERIFY(raw.exec(QStringLiteral("DELETE FROM Records WHERE ID = 1")));
        }
        TDbMan db;
        QVERIFY(hasSummaries(db, home->dbPath()));
        verifyTypedQueries(db);
        RawDb raw(home->dbPath());
        QCOMPARE(raw.value(QStringLiteral("PRAGMA user_version")).toInt(), Schema::kVersion);
        verifySummaries(raw);
        const std::optional<QVariantList> firstLines = raw.column(
            QStringLiteral("SELECT FirstID FROM MonthProductSums WHERE UserName = ?"), { EncodeText(kUser) });
        QVERIFY(firstLines && !firstLines->isEmpty());
        for (const QVariant& id : *firstLines)
            deleteStored(db, kUser, id.toLongLong());
        verifySummaries(raw);
        verifyTypedQueries(db);
    }

    // A read-only old file, or one in a read-only folder, cannot take the summaries: it answers the same from its
    // lines and is left as it was.
    void oldFileThatCannotBeUpgradedStillAnswers_data()
    {
        QTest::addColumn<bool>("folderReadOnly");
        QTest::newRow("file read-only") << false;
        QTest::newRow("folder read-only") << true;
    }
    void oldFileThatCannotBeUpgradedStillAnswers()
    {
        QFETCH(bool, folderReadOnly);
        createOldFile(sampleLines());
        QVERIFY(QFile::setPermissions(folderReadOnly ? home->dataDir() : home->dbPath(),
            folderReadOnly ? QFileDevice::ReadOwner | QFileDevice::ExeOwner : QFileDevice::ReadOwner));
        const QByteArray file = fingerprint(home->dbPath());
        const QByteArray folder = fingerprint(home->dataDir());
        {
            PermissionsApply apply;
            if (!PermissionsApply::refuseWriting(folderReadOnly ? home->dataDir() : home->dbPath()))
                QSKIP("this system lets the test write there whatever the bits say");
            TDbMan db;
            QVERIFY(!hasSummaries(db, home->dbPath()));
            verifyTypedQueries(db);
        }
        QCOMPARE(fingerprint(home->dbPath()), file);
        QCOMPARE(fingerprint(home->dataDir()), folder);
        QVERIFY(QFile::setPermissions(
            home->dataDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QVERIFY(QFile::setPermissions(home->dbPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        RawDb raw(home->dbPath());
        QCOMPARE(raw.value(QStringLiteral("PRAGMA user_version")), QVariant(0));
    }

    // A file of a later layout is read through its lines and never marked back to this one.
    void newerFileIsReadAndLeftNewer()
    {
        {
            TDbMan db;
            QList<SalesLine> lines;
            Walk walk(5);
            for (int i = 0; i < 40; ++i)
                lines.append(walk.line());
            addLines(db, kUser, lines);
        }
        {
            RawDb raw(home->dbPath());
            QVERIFY(raw.exec(QStringLiteral("PRAGMA user_version = %1").arg(Schema::kVersion + 1)));
        }
        {
            TDbMan db;
            QVERIFY(!hasSummaries(db, home->dbPath()));
            verifyTypedQueries(db);
            addLines(db, kUser, { Walk(9).line() });
        }
        RawDb raw(home->dbPath());
        QCOMPARE(raw.value(QStringLiteral("PRAGMA user_version")).toInt(), Schema::kVersion + 1);
        verifySummaries(raw);
    }

    // Sums beyond 64 bits are refused with an error, whoever writes the lines; nothing of the write is kept and no
    // query returns a wrapped or rounded total.
    void sumsBeyond64BitsFailTheWrite()
    {
        constexpr qint64 kMax = std::numeric_limits<qint64>::max();
        TDbMan db;
        RawDb raw(home->dbPath());
        const QString day = QStringLiteral("2024-03-01");
        // An older writer knows no limit per line.
        QVERIFY(raw.exec(kInsertRaw, rawLine(kUser, day, QStringLiteral("A"), 1, kMax - kMaxAmountCents, 0)));
        QVERIFY(!raw.exec(kInsertRaw, rawLine(kUser, day, QStringLiteral("B"), 1, kMaxAmountCents + 1, 0)));
        QVERIFY2(raw.lastError().contains(QStringLiteral("SumsWithin64Bits")), qPrintable(raw.lastError()));

        const SalesLine last { 0, QDate(2024, 3, 1), QStringLiteral("A"), 1, kMaxAmountCents, 0, {} };
        addLines(db, kUser, { last });
        SalesLine over = last;
        over.received = 1;
        QVERIFY_THROWS_EXCEPTION(KivaroError, addLines(db, kUser, { last, over }));
        try {
            addLines(db, kUser, { over });
            QFAIL("a day beyond 64 bits was stored");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().startsWith(QStringLiteral("合计超出了能精确记录的范围")), qPrintable(error.text()));
        }
        QVERIFY_THROWS_EXCEPTION(KivaroError, addLines(db, kUser, { over }));
        // A line moved onto the full day takes it beyond 64 bits: the edit fails and the line stays where it was.
        addLines(db, kUser, { SalesLine { 0, QDate(2024, 3, 5), QStringLiteral("C"), 1, 5, 0, {} } });
        const SalesRange range { kUser, QDate(2024, 1, 1), QDate(2024, 12, 31) };
        const QList<SalesLine> lines = db.QueryLineWindow(range, range.first, 0, 10);
        QCOMPARE(lines.size(), 3);
        SalesLine moved = lines.at(2);
        moved.day = last.day;
        QVERIFY_THROWS_EXCEPTION(KivaroError, db.UpdateLine(kUser, lines.at(2), moved));
        QCOMPARE(db.QueryLineWindow(range, range.first, 0, 10), lines);
        verifySummaries(raw);
        QCOMPARE(db.QueryDays(range).value(0).sums.received, kMax);

        // Nor does a line whose month or year would go beyond 64 bits, on another day.
        for (const QString& day : { QStringLiteral("2024-03-02"), QStringLiteral("2024-04-02") }) {
            QVERIFY(!raw.exec(kInsertRaw, rawLine(kUser, day, QStringLiteral("A"), 1, 1, 0)));
            QVERIFY2(raw.lastError().contains(QStringLiteral("SumsWithin64Bits")), qPrintable(raw.lastError()));
        }
        // Each year fits, the two years together do not: the ranking refuses to add them up.
        QVERIFY(raw.exec(kInsertRaw, rawLine(kUser, QStringLiteral("2025-01-02"), QStringLiteral("A"), 1, 1, 0)));
        try {
            db.QueryRanking({ kUser, range.first, QDate(2025, 12, 31) });
            QFAIL("a ranking beyond 64 bits was answered");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().startsWith(QStringLiteral("合计超出了能精确记录的范围")), qPrintable(error.text()));
        }
        QStringList detail, daily, products, ranking;
        QVERIFY_THROWS_EXCEPTION(KivaroError,
            queryReport(db, kUser, QStringLiteral("2024/01/01"), QStringLiteral("2025/12/31"), detail, daily, products,
                ranking));
    }
};

KIVARO_TEST_MAIN(TestSummaries)
#include "tst_summaries.moc"
