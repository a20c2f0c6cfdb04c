// Two instances of the program (two computers, on a server) write the same ledger at the same moment: each one's save
// goes in whole, once, and neither reports an error; two new accounts with one name leave exactly one account.

#include "db/DbClass.h"
#include "tests/TestUtil.h"

#include <QHash>
#include <limits>

namespace {

constexpr int kLinesEach = 5'000;
constexpr int kRounds = 3;
constexpr int kNameRaces = 5;

} // namespace

class TestConcurrency : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDataHome> home;

    // Starts two children with the given arguments, waits until both are about to write, then lets both go.
    static void raceTwo(ChildProcess& first, ChildProcess& second)
    {
        QVERIFY2(first.waitReady(), qPrintable(first.errors()));
        QVERIFY2(second.waitReady(), qPrintable(second.errors()));
        first.release();
        second.release();
    }

private Q_SLOTS:
    void init()
    {
        home = std::make_unique<TestDataHome>();
        TDbMan create;
    }
    void cleanup() { home.reset(); }

    void twoSavesAtOnceStoreEveryLineOnce()
    {
        const QString user = QStringLiteral("张三");
        for (int round = 0; round < kRounds; ++round) {
            const QString tagA = QStringLiteral("a%1").arg(round);
            const QString tagB = QStringLiteral("b%1").arg(round);
            ChildProcess a({ QStringLiteral("save"), user, QString::number(kLinesEach), tagA, QStringLiteral("wait") });
            ChildProcess b({ QStringLiteral("save"), user, QString::number(kLinesEach), tagB, QStringLiteral("wait") });
            raceTwo(a, b);
            if (QTest::currentTestFailed())
                return;
            QVERIFY2(a.finishedCleanly(), qPrintable(a.errors()));
            QVERIFY2(b.finishedCleanly(), qPrintable(b.errors()));
            QVERIFY(a.output().contains(QStringLiteral("saved")));
            QVERIFY(b.output().contains(QStringLiteral("saved")));

            // Read back through the store, so that the same checks hold for the file and for a server.
            const QList<SalesLine> lines = TDbMan().QueryLineWindow(
                { user, QDate(2024, 1, 1), QDate(2024, 12, 31) }, QDate(2024, 1, 1), 0, 10 * kLinesEach * kRounds);
            QCOMPARE(lines.size(), qsizetype(2 * kLinesEach * (round + 1)));
            QHash<QString, qint64> idOf;
            for (const SalesLine& line : lines)
                idOf.insert(line.memo, line.id);
            QCOMPARE(idOf.size(), lines.size());
            for (const QString& tag : { tagA, tagB }) {
                qint64 first = std::numeric_limits<qint64>::max();
                qint64 last = 0;
                for (int i = 0; i < kLinesEach; ++i) {
                    const QString memo = QStringLiteral("%1-%2").arg(tag).arg(i);
                    QVERIFY2(idOf.contains(memo), qPrintable(memo));
                    first = qMin(first, idOf.value(memo));
                    last = qMax(last, idOf.value(memo));
                }
                // One transaction each: the lines of one save are never interleaved with the other's.
                QCOMPARE(last - first + 1, qint64(kLinesEach));
            }
        }
        qInfo("%d rounds of two saves of %d lines at once: all %d lines stored once, each save in one piece", kRounds,
            kLinesEach, 2 * kLinesEach * kRounds);
    }

    void twoNewAccountsWithOneNameMakeOne()
    {
        for (int race = 0; race < kNameRaces; ++race) {
            const QString name = QStringLiteral("同名%1").arg(race);
            ChildProcess a({ QStringLiteral("adduser"), name, QStringLiteral("first-pw"), QStringLiteral("wait") });
            ChildProcess b({ QStringLiteral("adduser"), name, QStringLiteral("second-pw"), QStringLiteral("wait") });
            raceTwo(a, b);
            if (QTest::currentTestFailed())
                return;
            QVERIFY2(a.finishedCleanly(), qPrintable(a.errors()));
            QVERIFY2(b.finishedCleanly(), qPrintable(b.errors()));
            const bool aAdded = a.output().contains(QStringLiteral("added"));
            const bool bAdded = b.output().contains(QStringLiteral("added"));
            QVERIFY2(aAdded != bAdded, qPrintable(a.output() + b.output()));
            QVERIFY((aAdded ? b : a).output().contains(QStringLiteral("taken")));

            TDbMan db;
            QStringList names;
            db.GetUserNames(&names);
            QCOMPARE(names.count(name), 1);
            QCOMPARE(db.CheckUser(name, QStringLiteral("first-pw")), aAdded);
            QCOMPARE(db.CheckUser(name, QStringLiteral("second-pw")), bAdded);
        }
        qInfo("%d races for one new name: each made exactly one account", kNameRaces);
    }
};

KIVARO_TEST_MAIN(TestConcurrency)
#include "tst_concurrency.moc"
