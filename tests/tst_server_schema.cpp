// The server ledger: the ledger's parts on a server: made once, a changed or foreign one refused, an older one
// upgraded.

#include "tests/ServerTestCase.h"

class TestServerSchema : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { requireServer(); }
    void init() { setUpTest(); }
    void cleanup() { tearDownTest(); }

    // Two computers meeting an empty database at once make its tables once, and both go on.
    void emptyDatabaseGetsItsTablesOnce()
    {
        ChildProcess a(
            { QStringLiteral("adduser"), QStringLiteral("甲"), QStringLiteral("pw"), QStringLiteral("wait") });
        ChildProcess b(
            { QStringLiteral("adduser"), QStringLiteral("乙"), QStringLiteral("pw"), QStringLiteral("wait") });
        QVERIFY2(a.waitReady() && b.waitReady(), qPrintable(a.errors() + b.errors()));
        a.release();
        b.release();
        QVERIFY2(a.finishedCleanly(), qPrintable(a.errors()));
        QVERIFY2(b.finishedCleanly(), qPrintable(b.errors()));
        QVERIFY(a.output().contains(QStringLiteral("added")) && b.output().contains(QStringLiteral("added")));
        QCOMPARE(server(QStringLiteral("SELECT count(*) || ':' || max(version) FROM kivaro_schema")),
            QStringLiteral("1:%1").arg(ServerStore::kSchemaVersion));
        QCOMPARE(server(QStringLiteral("SELECT data_type FROM information_schema.columns "
                                       "WHERE table_name = 'records' AND column_name = 'day'")),
            QStringLiteral("date"));
        TDbMan db;
        QVERIFY(db.CheckUser(QStringLiteral("甲"), QStringLiteral("pw")));
        QVERIFY(db.CheckUser(QStringLiteral("乙"), QStringLiteral("pw")));
    }

    // A ledger whose parts another program changed would change every later sale in silence: each change found at
    // the opening refuses the ledger, with nothing written. So does a connection that moves the ledger's schema.
    void changedLedgerIsRefused_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("named");
        QTest::newRow("summary function emptied") << QStringLiteral(
            "CREATE OR REPLACE FUNCTION records_add_to_sums() RETURNS trigger LANGUAGE plpgsql "
            "AS $$BEGIN RETURN NULL; END$$") << QStringLiteral("函数“records_add_to_sums”");
        QTest::newRow("trigger of another program")
            << QStringLiteral("CREATE FUNCTION wipe() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN DELETE FROM records; "
                              "RETURN NULL; END$$; CREATE TRIGGER wipe AFTER INSERT ON records EXECUTE FUNCTION wipe()")
            << QStringLiteral("触发器“wipe”");
        QTest::newRow("trigger calling another function")
            << QStringLiteral("DROP TRIGGER records_add_to_sums ON records; CREATE TRIGGER records_add_to_sums AFTER "
                              "INSERT ON records FOR EACH STATEMENT EXECUTE FUNCTION records_refuse_truncate()")
            << QStringLiteral("触发器“records_add_to_sums”");
        QTest::newRow("trigger left to replicas")
            << QStringLiteral("ALTER TABLE records ENABLE REPLICA TRIGGER records_add_to_sums")
            << QStringLiteral("不完整");
        QTest::newRow("transition tables swapped")
            << QStringLiteral("DROP TRIGGER records_move_in_sums ON records; CREATE TRIGGER records_move_in_sums AFTER "
                              "UPDATE ON records REFERENCING OLD TABLE AS added NEW TABLE AS removed "
                              "FOR EACH STATEMENT EXECUTE FUNCTION records_move_in_sums()")
            << QStringLiteral("触发器“records_move_in_sums”");
        QTest::newRow("function with a search_path of its own")
            << QStringLiteral("ALTER FUNCTION records_add_to_sums() SET search_path = pg_catalog")
            << QStringLiteral("函数“records_add_to_sums”");
        QTest::newRow("rule") << QStringLiteral("CREATE RULE lose AS ON INSERT TO records DO INSTEAD NOTHING")
                              << QStringLiteral("规则“lose”");
        QTest::newRow("view in place of a table")
            << QStringLiteral("ALTER TABLE saves RENAME TO saves_kept; CREATE VIEW saves AS SELECT * FROM saves_kept")
            << QStringLiteral("“saves”不是表");
        QTest::newRow("search_path set by the connection") << QString() << QStringLiteral("search_path");
        QTest::newRow("policy that lets everyone read")
            << QStringLiteral("ALTER POLICY kivaro_read ON records USING (true)") << QStringLiteral("策略或授权");
        QTest::newRow("owner's column granted")
            << QStringLiteral("GRANT UPDATE (user_name) ON records TO PUBLIC") << QStringLiteral("策略或授权");
        QTest::newRow("truncate granted")
            << QStringLiteral("GRANT TRUNCATE ON records TO PUBLIC") << QStringLiteral("策略或授权");
    }

    void changedLedgerIsRefused()
    {
        QFETCH(QString, change);
        QFETCH(QString, named);
        addLines(
            TDbMan(), user, { SalesLine { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 200, 100, QString() } });
        LedgerLocation ledger = currentLedger();
        if (change.isEmpty())
            ledger.connection += QStringLiteral(" options='-c search_path=public'");
        else
            QVERIFY(home->server()->exec(change));
        try {
            addLines(TDbMan(ledger), user,
                { SalesLine { 0, QDate(2024, 5, 2), QStringLiteral("牙刷"), 1, 300, 100, QString() } });
            QFAIL("a changed ledger was written");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(named), qPrintable(error.text()));
        }
        QCOMPARE(server(QStringLiteral("SELECT count(*) FROM records")), QStringLiteral("1"));
    }

    void foreignOrNewerDatabaseIsRefusedUntouched()
    {
        QVERIFY(home->server()->exec(QStringLiteral("CREATE TABLE shop_stock (item text)")));
        try {
            TDbMan().UserExists(user);
            QFAIL("a foreign database was taken");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("不是空的")), qPrintable(error.text()));
        }
        QCOMPARE(server(QStringLiteral("SELECT to_regclass('users') IS NULL")), QStringLiteral("t"));

        QVERIFY(home->server()->exec(QStringLiteral("DROP TABLE shop_stock")));
        // A ledger whose tables live in another schema is not taken for an empty database.
        QVERIFY(
            home->server()->exec(QStringLiteral("CREATE SCHEMA shop; CREATE TABLE shop.kivaro_schema (version int)")));
        try {
            TDbMan().UserExists(user);
            QFAIL("a ledger in another schema was taken for an empty database");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("“shop”")), qPrintable(error.text()));
        }
        QCOMPARE(server(QStringLiteral("SELECT to_regclass('users') IS NULL")), QStringLiteral("t"));
        QVERIFY(home->server()->exec(QStringLiteral("DROP SCHEMA shop CASCADE")));
        QVERIFY(TDbMan().AddUser(user, QStringLiteral("pw")));
        QVERIFY(home->server()->exec(QStringLiteral("UPDATE kivaro_schema SET version = 99")));
        try {
            TDbMan().AddUser(QStringLiteral("李四"), QStringLiteral("pw"));
            QFAIL("a newer ledger was written");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("更新版本")), qPrintable(error.text()));
        }
        QCOMPARE(server(QStringLiteral("SELECT count(*) FROM users")), QStringLiteral("1"));

        // A ledger that lost a summary trigger would save lines that no view shows.
        QVERIFY(home->server()->exec(QStringLiteral("UPDATE kivaro_schema SET version = %1; "
                                                    "DROP TRIGGER records_add_to_sums ON records")
                                         .arg(ServerStore::kSchemaVersion)));
        try {
            addRecord(TDbMan(), user, QStringLiteral("2024/05/01"), QStringLiteral("毛巾"), QStringLiteral("1"),
                QStringLiteral("2.00"), QStringLiteral("1.00"), QString());
            QFAIL("a ledger without its trigger was written");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("不完整")), qPrintable(error.text()));
        }
        QCOMPARE(storedLineCount(*home), 0);

        // A connection that names no database lands in the server's own, which is no place for a ledger.
        try {
            TDbMan(LedgerLocation::server(QStringLiteral("dbname=postgres"))).UserExists(user);
            QFAIL("the ledger was made in the maintenance database");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("服务器自己的数据库")), qPrintable(error.text()));
        }
    }

    void olderLedgerIsUpgraded_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("nameless");
        QTest::newRow("before kept lines and the record of changes") << 1 << false;
        QTest::newRow("one shared role, hashes in users") << 2 << false;
        QTest::newRow("no sums of the whole shop") << 3 << false;
        QTest::newRow("the shop's sums among the users'") << 4 << false;
        QTest::newRow("a line of no name") << 4 << true;
        QTest::newRow("the shop's sums in tables of their own") << 6 << false;
        QTest::newRow("no month sums") << 7 << false;
    }

    // A ledger of an earlier layout is upgraded by the administrator's next connection: its accounts become roles
    // (an account whose role the server had keeps its password; the others wait for one), and its triggers, policies
    // and grants are the program's.
    void olderLedgerIsUpgraded()
    {
        QFETCH(int, version);
        QFETCH(bool, nameless);
        QVERIFY(TDbMan().AddUser(user, QStringLiteral("pw")));
        addLines(TDbMan(), user, { { 0, QDate(2024, 4, 30), QStringLiteral("毛巾"), 2, 400, 200, {} } });
        if (nameless)
            QVERIFY(home->server()->exec(
                QStringLiteral("INSERT INTO records (user_name, day, product_name, quantity, "
                               "received, cost, memo) VALUES ('', '2024-04-30', 'x', 1, 1, 1, '')")));
        // Version 4 kept the shop's sums under the user '' of the users' tables, a copy of the users' here; a line of
        // no name was counted in both. Versions 5 and 6 kept them in tables of their own.
        // Version 7 kept no month or year sums: the tables are left empty here, for the triggers of this version to
        // write.
        QString older = QStringLiteral("DELETE FROM month_product_sums; DELETE FROM year_product_sums; ");
        if (version < 7)
            older += QStringLiteral("DROP INDEX records_by_day, day_sums_by_day, day_product_sums_by_day, "
                                    "records_by_user_day; CREATE INDEX records_by_user_day ON records "
                                    "(md5(user_name), day, id); ALTER TABLE day_product_sums DROP COLUMN "
                                    "product_key; ");
        if (version == 4 && !nameless)
            older
                += QStringLiteral("INSERT INTO day_sums SELECT '', day, lines, products, quantity, received, cost FROM "
                                  "day_sums; INSERT INTO day_product_sums SELECT '', day, product_name, lines, "
                                  "first_id, quantity, received, cost FROM day_product_sums");
        if (version >= 5 && version < 7)
            older += QStringLiteral("CREATE INDEX records_by_day ON records (day, id); CREATE TABLE shop_day_sums AS "
                                    "SELECT '' AS user_name, day, lines FROM day_sums; CREATE TABLE "
                                    "shop_day_product_sums AS SELECT '' AS user_name, day, product_name FROM "
                                    "day_product_sums");
        QVERIFY(home->server()->exec(older));
        const SalesRange shop { {}, QDate(2024, 4, 1), QDate(2024, 4, 30), true };
        if (version >= 3) {
            QVERIFY(home->server()->exec(QStringLiteral("UPDATE kivaro_schema SET version = %1").arg(version)));
            if (nameless) {
                try {
                    TDbMan().QueryDays(shop);
                    QFAIL("a ledger with a line of no name was upgraded");
                } catch (const KivaroError& error) {
                    QVERIFY2(error.text().contains(QStringLiteral("1 条记录没有用户名")), qPrintable(error.text()));
                }
                QCOMPARE(server(QStringLiteral("SELECT max(version) FROM kivaro_schema")), QStringLiteral("4"));
                return;
            }
            // A till of the earlier version is saving a line as the upgrade begins: the upgrade, which replaces the
            // triggers, waits for it, and the shop's sums count its line.
            const AsRole earlierTill(
                home->server()->name(), qEnvironmentVariable("PGUSER"), qEnvironmentVariable("PGPASSWORD"));
            QVERIFY(earlierTill.run(QStringLiteral("BEGIN; INSERT INTO "
                                                   "records (user_name, day, product_name, quantity, received, cost, "
                                                   "memo) VALUES ('%1', '2024-04-30', '牙刷', 1, 100, 50, '')")
                                        .arg(user)));
            QList<DayCount> days;
            QString failed;
            std::thread upgrade([&] {
                try {
                    days = TDbMan().QueryDays(shop);
                } catch (const KivaroError& error) {
                    failed = error.text();
                }
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const bool committed = earlierTill.run(QStringLiteral("COMMIT"));
            upgrade.join();
            QVERIFY(committed);
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
            QCOMPARE(days.size(), 1);
            QCOMPARE(days.first().rows, 2);
            QCOMPARE(days.first().sums, (SalesSums { 3, 500, 250 }));
            // April whole: the ranking reads the month sums the upgrade made, the earlier till's line counted.
            QCOMPARE(TDbMan().QueryRanking(shop).size(), 2);
            QCOMPARE(server(QStringLiteral("SELECT sum(quantity) || ' ' || sum(received) FROM month_product_sums")),
                QStringLiteral("3 500"));
            QCOMPARE(server(QStringLiteral("SELECT sum(quantity) || ' ' || sum(received) FROM year_product_sums")),
                QStringLiteral("3 500"));
            QCOMPARE(server(QStringLiteral("SELECT count(*) FROM day_sums WHERE user_name = ''")), QStringLiteral("0"));
            QCOMPARE(server(QStringLiteral(
                         "SELECT to_regclass('shop_day_sums') IS NULL AND to_regclass("
                         "'shop_day_product_sums') IS NULL AND to_regclass('day_sums_by_day') IS "
                         "NOT NULL AND (SELECT indexdef LIKE '%INCLUDE (user_name)' FROM pg_indexes WHERE indexname = "
                         "'records_by_user_day') AND (SELECT bool_and(product_key = md5(product_name)::uuid) FROM "
                         "day_product_sums)")),
                QStringLiteral("t"));
            QCOMPARE(server(QStringLiteral("SELECT max(version) FROM kivaro_schema")),
                QString::number(ServerStore::kSchemaVersion));
            return;
        }
        const QString waiting = QStringLiteral("老王") + home->server()->name().right(4);
        QVERIFY(home->server()->exec(
            QStringLiteral("ALTER TABLE users ADD COLUMN password_hash text NOT NULL DEFAULT '', "
                           "DROP COLUMN shop_owner, DROP COLUMN needs_password; "
                           "DROP FUNCTION records_record_saves, records_record_edits, records_record_deletes, "
                           "kivaro_is_shop_owner, kivaro_note_login CASCADE; "
                           "INSERT INTO users (user_name, password_hash, login_order) VALUES ('%1', '$argon2id$x', 9); "
                           "%2 UPDATE kivaro_schema SET version = %3")
                .arg(waiting, version == 1 ? QStringLiteral("DROP TABLE pending_lines, changes;") : QString())
                .arg(version)));
        TDbMan db;
        QStringList names;
        db.GetUserNames(&names);
        QCOMPARE(names, (QStringList { waiting, user }));
        QCOMPARE(server(QStringLiteral("SELECT max(version) FROM kivaro_schema")),
            QString::number(ServerStore::kSchemaVersion));
        QCOMPARE(server(QStringLiteral("SELECT string_agg(user_name || ':' || needs_password, ',' ORDER BY id) "
                                       "FROM users")),
            QStringLiteral("%1:false,%2:true").arg(user, waiting));
        try {
            db.CheckUser(waiting, QStringLiteral("anything"));
            QFAIL("an account waiting for its password logged in");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("还没有密码")), qPrintable(error.text()));
        }
        QVERIFY(db.CheckUser(user, QStringLiteral("pw")));
        KeptSession window;
        db.KeepLines(user, window, { { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 200, 100, {} } });
        db.SaveKeptLines(user, window, db.KeptLines(user, window));
        // The save before the upgrade is on record where the record was kept.
        QCOMPARE(db.Changes(user).size(), version == 1 ? 1 : 2);
    }
};

KIVARO_TEST_MAIN(TestServerSchema)
#include "tst_server_schema.moc"
