#include "base/Error.h"
#include "db/DbClass.h"
#include "db/SalesRows.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

class TestRecords : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TDbMan> db;
    const QString user = QStringLiteral("张三");

    struct Query
    {
        QStringList detail, daily, products, ranking;
    };
    Query query(const QString& first, const QString& last, const QString& who)
    {
        Query q;
        queryReport(*db, who, first, last, q.detail, q.daily, q.products, q.ranking);
        return q;
    }
    Query query(const QString& first = QStringLiteral("2009/01/01"), const QString& last = QStringLiteral("2009/12/31"))
    {
        return query(first, last, user);
    }
    void add(const QString& day, const QString& name, const QString& qty, const QString& money, const QString& cost,
        const QString& memo = QString(), const QString& who = QString())
    {
        addRecord(*db, who.isNull() ? user : who, day, name, qty, money, cost, memo);
    }
    qint64 rowCount() { return storedLineCount(*home); }

private Q_SLOTS:
    void init()
    {
        home = std::make_unique<TestDataHome>();
        db = std::make_unique<TDbMan>();
    }
    void cleanup()
    {
        db.reset();
        home.reset();
    }

    void addedLineReadsBackUnderItsUserOnly()
    {
        const QString longName = QStringLiteral("O'Neil 牌毛巾 ") + QString(60, QChar(0x5DFE));
        add(QStringLiteral("2009-03-05"), longName, QStringLiteral("-3"), QStringLiteral("-12.50"),
            QStringLiteral("8000000.88"), QStringLiteral("退货 'x'"));
        add(QStringLiteral("2009.03.05"), longName, QStringLiteral("1"), QStringLiteral("1.00"), QStringLiteral("0.00"),
            QString(), QStringLiteral("李四"));
        const Query q = query();
        QCOMPARE(q.detail.size(), 7);
        QCOMPARE(q.detail.mid(1),
            (QStringList { QStringLiteral("2009-03-05"), longName, QStringLiteral("-3"), QStringLiteral("-12.50"),
                QStringLiteral("8000000.88"), QStringLiteral("退货 'x'") }));
        QCOMPARE(query(QStringLiteral("2009/01/01"), QStringLiteral("2009/12/31"), QStringLiteral("李四")).detail.at(6),
            QString());
    }

    void badValuesRaiseAndStoreNothing()
    {
        QVERIFY_THROWS_EXCEPTION(KivaroError,
            add(QStringLiteral("2009/02/30"), QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("1"),
                QStringLiteral("1")));
        QVERIFY_THROWS_EXCEPTION(KivaroError,
            add(QStringLiteral("2009/02/03"), QStringLiteral("A"), QStringLiteral("1.5"), QStringLiteral("1"),
                QStringLiteral("1")));
        QCOMPARE(rowCount(), 0);
    }

    void savingIsAllOrNothing()
    {
        QList<TextLine> lines;
        for (int i = 0; i < 3; ++i)
            lines.append({ QStringLiteral("2009/01/0%1").arg(i + 1), QStringLiteral("P%1").arg(i), QStringLiteral("1"),
                QStringLiteral("1.00"), QStringLiteral("0.50"), QString() });
        lines[2].day = QStringLiteral("2009/13/01");
        QVERIFY_THROWS_EXCEPTION(KivaroError, addRecords(*db, user, lines));
        QCOMPARE(rowCount(), 0);
        lines[2].day = QStringLiteral("2009/01/03");
        addRecords(*db, user, lines);
        const Query q = query();
        QCOMPARE(q.detail.size(), 21);
        QCOMPARE(q.detail.at(2), QStringLiteral("P0"));
        QCOMPARE(q.detail.at(16), QStringLiteral("P2"));
    }

    // Days, names and memos repeat within a save; each line keeps its own.
    void savedLinesKeepTheirOwnTexts()
    {
        const QStringList days { "2009/01/01", "2009/01/01", "2009/01/02", "2009/01/01", "2009-01-02" };
        const QStringList names { "毛巾", "牙刷", "毛巾", "退货", "毛巾" };
        const QStringList memos { "退货", QString(), "毛巾", "退货", QString() };
        QList<TextLine> lines;
        for (int i = 0; i < days.size(); ++i)
            lines.append({ days.at(i), names.at(i), QString::number(i + 1), QStringLiteral("%1.25").arg(i),
                QStringLiteral("0.5"), memos.at(i) });
        addRecords(*db, user, lines);
        const Query q = query();
        QCOMPARE(q.detail.size(), 35);
        for (int i = 0; i < days.size(); ++i) {
            const QStringList row = q.detail.mid(i * 7, 7);
            // The detail list runs by day, then in saving order.
            const int saved = QList<int> { 0, 1, 3, 2, 4 }.at(i);
            QCOMPARE(row.at(1), QString(days.at(saved)).replace(QLatin1Char('/'), QLatin1Char('-')));
            QCOMPARE(row.at(2), names.at(saved));
            QCOMPARE(row.at(3), QString::number(saved + 1));
            QCOMPARE(row.at(4), QStringLiteral("%1.25").arg(saved));
            QCOMPARE(row.at(6), memos.at(saved));
        }
    }

    // A line the engine refuses in the middle of a save leaves none of the lines stored.
    void anEngineFailureMidwayStoresNothing()
    {
        if (home->server()) {
            QVERIFY(!db->UserExists(QStringLiteral("nobody")));
            QVERIFY(home->server()->exec(QStringLiteral(
                "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                "IF NEW.quantity = 99 THEN RAISE EXCEPTION 'refused by test'; END IF; RETURN NEW; END $$; "
                "CREATE TRIGGER refuse BEFORE INSERT ON records FOR EACH ROW EXECUTE FUNCTION refuse()")));
        } else {
            RawDb raw(home->dbPath());
            QVERIFY(raw.isOpen());
            QVERIFY(raw.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Records WHEN NEW.RecQuantity = 99 "
                                            "BEGIN SELECT RAISE(ABORT, 'refused by test'); END")));
        }
        QList<TextLine> lines;
        for (const char* quantity : { "1", "2", "99", "4" })
            lines.append({ QStringLiteral("2009/01/01"), QStringLiteral("P"), QString::fromLatin1(quantity),
                QStringLiteral("1.00"), QStringLiteral("0.50"), QString() });
        try {
            addRecords(*db, user, lines);
            QFAIL("the refused line did not raise");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("refused by test")), qPrintable(error.text()));
        }
        QCOMPARE(rowCount(), 0);
        lines.removeAt(2);
        addRecords(*db, user, lines);
        QCOMPARE(rowCount(), 3);
    }

    // An edit or delete names the user and the line as the window showed it: a stale window, another user's list
    // or a line deleted meanwhile changes nothing, and says so.
    void editsAndDeletesChangeOnlyTheLineAsSeen()
    {
        add(QStringLiteral("2009/01/01"), QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("1.00"),
            QStringLiteral("0.50"));
        add(QStringLiteral("2009/01/01"), QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("1.00"),
            QStringLiteral("0.50"), QString(), QStringLiteral("李四"));
        const qint64 id = query().detail.at(0).toLongLong();
        const SalesLine seen = storedLine(*db, user, id);
        QCOMPARE(seen.productName, QStringLiteral("A"));
        const SalesLine moved { id, QDate(2009, 2, 1), QStringLiteral("B"), 2, 1250, 300, QStringLiteral("memo") };
        db->UpdateLine(user, seen, moved);
        QCOMPARE(query(QStringLiteral("2009/02/01"), QStringLiteral("2009/02/01")).detail,
            (QStringList { QString::number(id), QStringLiteral("2009-02-01"), QStringLiteral("B"), QStringLiteral("2"),
                QStringLiteral("12.50"), QStringLiteral("3.00"), QStringLiteral("memo") }));

        // A second window still shows the line as it was and changes only its memo: the first edit stands.
        SalesLine staleMemo = seen;
        staleMemo.memo = QStringLiteral("from a stale window");
        QVERIFY_THROWS_EXCEPTION(TRecordGone, db->UpdateLine(user, seen, staleMemo));
        QVERIFY_THROWS_EXCEPTION(TRecordGone, db->DeleteLine(user, seen));
        // The same id and values named by another user (a list from before a restore handed ids out again).
        QVERIFY_THROWS_EXCEPTION(TRecordGone, db->DeleteLine(QStringLiteral("李四"), moved));
        QVERIFY_THROWS_EXCEPTION(TRecordGone, db->UpdateLine(QStringLiteral("李四"), moved, seen));
        QCOMPARE(
            query(QStringLiteral("2009/02/01"), QStringLiteral("2009/02/01")).detail.at(6), QStringLiteral("memo"));
        QCOMPARE(rowCount(), 2);

        db->DeleteLine(user, moved);
        QCOMPARE(rowCount(), 1);
        // Deleted meanwhile: neither change may pass for done.
        QVERIFY_THROWS_EXCEPTION(TRecordGone, db->DeleteLine(user, moved));
        QVERIFY_THROWS_EXCEPTION(TRecordGone, db->UpdateLine(user, moved, seen));
        QCOMPARE(rowCount(), 1);
    }
};

KIVARO_TEST_MAIN(TestRecords)
#include "tst_records.moc"
