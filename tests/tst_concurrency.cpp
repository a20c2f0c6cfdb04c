// Two instances of the program write the same db.sjk at the same moment: each one's save goes in whole, once,
// and neither reports an error; two new accounts with one name leave exactly one account.

#include "db/DbClass.h"
#include "db/TextCodec.h"
#include "tests/TestUtil.h"

#include <QSet>

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

            RawDb raw(home->dbPath());
            const QVariantList key { EncodeText(user) };
            QCOMPARE(raw.value(QStringLiteral("SELECT COUNT(*) FROM Records WHERE UserName=?"), key).toLongLong(),
                qint64(2 * kLinesEach * (round + 1)));
            const std::optional<QVariantList> memos
                = raw.column(QStringLiteral("SELECT RecMemo FROM Records WHERE UserName=? ORDER BY ID"), key);
            QVERIFY(memos);
            QSet<QString> seen;
            for (const QVariant& memo : *memos)
                seen.insert(DecodeText(memo.toString()));
            QCOMPARE(seen.size(), memos->size());
            for (const QString& tag : { tagA, tagB }) {
                for (int i = 0; i < kLinesEach; ++i)
                    QVERIFY2(seen.contains(QStringLiteral("%1-%2").arg(tag).arg(i)), qPrintable(tag));
                // One transaction each: the lines of one save are never interleaved with the other's.
                const std::optional<QVariantList> ids = raw.column(
                    QStringLiteral("SELECT MAX(ID) - MIN(ID) + 1 FROM Records WHERE UserName=? AND RecMemo IN "
                                   "(?, ?)"),
                    { EncodeText(user), EncodeText(tag + QStringLiteral("-0")),
                        EncodeText(tag + QStringLiteral("-%1").arg(kLinesEach - 1)) });
                QVERIFY(ids && ids->size() == 1);
                QCOMPARE(ids->first().toLongLong(), qint64(kLinesEach));
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

            RawDb raw(home->dbPath());
            QCOMPARE(raw.value(QStringLiteral("SELECT COUNT(*) FROM Users WHERE UserName=?"), { EncodeText(name) })
                         .toLongLong(),
                1);
            TDbMan db;
            QCOMPARE(db.CheckUser(name, QStringLiteral("first-pw")), aAdded);
            QCOMPARE(db.CheckUser(name, QStringLiteral("second-pw")), bAdded);
        }
        qInfo("%d races for one new name: each made exactly one account", kNameRaces);
    }
};

KIVARO_TEST_MAIN(TestConcurrency)
#include "tst_concurrency.moc"
