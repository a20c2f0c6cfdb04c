// The server ledger: accounts on a server: each role reaches its own lines, a hostile one stops no other, logins say
// why they fail.

#include "tests/ServerTestCase.h"

class TestServerAccounts : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { requireServer(); }
    void init() { setUpTest(); }
    void cleanup() { tearDownTest(); }

    // A role that may only read logs in and reviews; a save is refused in words.
    // With psql and his own password, a cashier reaches his own lines and nothing else: no line, sum, kept line,
    // product name, save or change of another account, no password of anyone, no way to rewrite the record or the
    // ledger's parts; what he changes by hand is on record.
    void accountWithItsOwnPasswordReachesOnlyItsOwn()
    {
        const QString other = QStringLiteral("李四");
        TDbMan admin;
        QVERIFY(admin.AddUser(user, QStringLiteral("pw1")));
        QVERIFY(admin.AddUser(other, QStringLiteral("pw2")));
        for (const QString& name : { user, other }) {
            addLines(admin, name,
                { SalesLine { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 200, 100, name },
                    SalesLine { 0, QDate(2024, 5, 2), QStringLiteral("牙刷"), 2, 300, 100, name } });
            admin.RememberProductName(name, QStringLiteral("毛巾"));
            KeptSession window;
            admin.KeepLines(name, window, { { 0, QDate(2024, 5, 3), QStringLiteral("肥皂"), 1, 100, 50, {} } });
        }
        const AsRole cashier(home->server()->name(), user, QStringLiteral("pw1"));
        QVERIFY(cashier.connected());
        const QString own = QStringLiteral("user_name = '%1'").arg(user);
        for (const char* table : { "records", "day_sums", "day_product_sums", "month_product_sums", "year_product_sums",
                 "product_names", "pending_lines", "saves", "changes" }) {
            const QString name = QLatin1String(table);
            QCOMPARE(cashier.value(QStringLiteral("SELECT count(*) FROM %1 WHERE NOT (%2)").arg(name, own)),
                QStringLiteral("0"));
            QVERIFY2(cashier.value(QStringLiteral("SELECT count(*) FROM %1").arg(name)) != QStringLiteral("0"), table);
        }
        // Nobody's password: not in the ledger, not in the server's catalogue.
        QCOMPARE(cashier.value(QStringLiteral("SELECT count(*) FROM information_schema.columns WHERE table_schema = "
                                              "current_schema() AND column_name LIKE '%pass%' AND column_name <> "
                                              "'needs_password'")),
            QStringLiteral("0"));
        QVERIFY(!cashier.run(QStringLiteral("SELECT rolpassword FROM pg_authid")));
        // Nor the whole shop's lines, which its owners read through a function of the ledger's.
        QCOMPARE(cashier.value(QStringLiteral("SELECT kivaro_shop_lines('2024-01-01', '2024-12-31') IS NULL")),
            QStringLiteral("t"));
        QVERIFY(!cashier.run(QStringLiteral("SELECT passwd FROM pg_shadow")));
        // Nothing of the other's can be changed, nor the record rewritten, nor the ledger's parts.
        qint64 rows = -1;
        QVERIFY(
            cashier.run(QStringLiteral("UPDATE records SET received = 1 WHERE user_name = '%1'").arg(other), &rows));
        QCOMPARE(rows, 0);
        const QStringList refused {
            QStringLiteral("INSERT INTO records (user_name, day, product_name, quantity, received, cost, memo) "
                           "VALUES ('%1', '2024-05-09', 'x', 1, 1, 1, '')")
                .arg(other),
            QStringLiteral("UPDATE records SET user_name = '%1'").arg(other),
            QStringLiteral("UPDATE changes SET before = ''"),
            QStringLiteral("DELETE FROM changes"),
            QStringLiteral("INSERT INTO changes (user_name, computer, kind, before, after) VALUES ('%1', '', 'save', "
                           "'', '')")
                .arg(user),
            QStringLiteral("UPDATE day_sums SET received = 0"),
            QStringLiteral("UPDATE users SET shop_owner = true"),
            QStringLiteral("ALTER TABLE records DISABLE ROW LEVEL SECURITY"),
            QStringLiteral("ALTER TABLE records NO FORCE ROW LEVEL SECURITY"),
            QStringLiteral("DROP POLICY kivaro_read ON records"),
            QStringLiteral("ALTER TABLE records DISABLE TRIGGER records_record_deletes"),
            QStringLiteral("DROP TRIGGER records_record_edits ON records"),
            QStringLiteral("CREATE OR REPLACE FUNCTION records_add_to_sums() RETURNS trigger LANGUAGE plpgsql "
                           "AS $$BEGIN RETURN NULL; END$$"),
            QStringLiteral("DROP TABLE changes"),
            QStringLiteral("TRUNCATE records"),
            QStringLiteral("SET row_security = off; SELECT * FROM records"),
            QStringLiteral("CREATE TEMP TABLE day_sums (x int)"),
            QStringLiteral("CREATE TABLE public.changes_kept (x int)"),
            // Under the group's name, lines would belong to no account.
            QStringLiteral("SET ROLE \"%1_accounts\"; INSERT INTO records (user_name, day, product_name, quantity, "
                           "received, cost, memo) VALUES (current_user, '2024-05-09', 'x', 1, 1, 1, '')")
                .arg(home->server()->name()),
            QStringLiteral("UPDATE records SET id = id + 1000000"),
            // A disk filled for everyone, a megabyte and more at a time.
            QStringLiteral("UPDATE records SET memo = repeat('x', 1100000)"),
            QStringLiteral("INSERT INTO daily_backups (day, computer, label, folder) VALUES (current_date, 'x', 'x', "
                           "'/tmp')"),
        };
        for (const QString& statement : refused)
            QVERIFY2(!cashier.run(statement), qPrintable(statement));
        // Through the program, the limit on a text's size is said in words.
        try {
            addLines(admin, user,
                { SalesLine {
                    0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 1, 1, QString(400'000, QChar(0x6BDB)) } });
            QFAIL("a memo of more than a megabyte was stored");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("文字太长")), qPrintable(error.text()));
        }
        // His own line changed and deleted by hand: both on record, and the sums follow.
        const QString id = cashier.value(QStringLiteral("SELECT min(id) FROM records"));
        // An edit of one line passed off as the undo of another's change is refused.
        admin.UpdateLine(user,
            admin.QueryLineWindow({ user, QDate(2024, 5, 2), QDate(2024, 5, 2) }, QDate(2024, 5, 2), 0, 1).first(),
            SalesLine { 0, QDate(2024, 5, 2), QStringLiteral("牙刷"), 2, 310, 100, user });
        const qint64 edit = admin.Changes(user).first().id;
        QVERIFY(!cashier.run(QStringLiteral("BEGIN; SET LOCAL kivaro.undoes = '%1'; UPDATE records SET received = 1 "
                                            "WHERE id = %2; COMMIT")
                                 .arg(edit)
                                 .arg(id)));
        QVERIFY(cashier.run(QStringLiteral("ROLLBACK")));
        QVERIFY(cashier.run(QStringLiteral("UPDATE records SET received = 250 WHERE id = %1").arg(id), &rows));
        QCOMPARE(rows, 1);
        // A delete goes through the program's function (DELETE would let him lock the table against every till).
        QVERIFY(!cashier.run(QStringLiteral("DELETE FROM records WHERE id = %1").arg(id)));
        QCOMPARE(cashier.value(QStringLiteral("SELECT kivaro_delete_line(%1)").arg(id)), QStringLiteral("1"));
        const QList<ChangeEntry> changes = admin.Changes(user);
        QCOMPARE(changes.size(), 4);
        QCOMPARE(changes.at(2).undoneBy, 0);
        QCOMPARE(changes.at(0).kind, ChangeEntry::Kind::Delete);
        QCOMPARE(changes.at(0).before->received, 250);
        QCOMPARE(changes.at(0).computer, QStringLiteral("psql"));
        QCOMPARE(changes.at(1).kind, ChangeEntry::Kind::Edit);
        QCOMPARE(changes.at(1).before->received, 200);
        QCOMPARE(admin.QueryDays({ user, QDate(2024, 5, 1), QDate(2024, 5, 31) }).size(), 1);
        QCOMPARE(admin.QueryDays({ other, QDate(2024, 5, 1), QDate(2024, 5, 31) }).size(), 2);
        QCOMPARE(server(QStringLiteral("SELECT count(*) FROM changes WHERE user_name = '%1'").arg(other)),
            QStringLiteral("1"));
        // The whole shop's sums are its owners'.
        QCOMPARE(cashier.value(QStringLiteral(
                     "SELECT (SELECT count(*) FROM kivaro_shop_days('2024-01-01', "
                     "'2024-12-31')) + (SELECT count(*) FROM kivaro_shop_ranking("
                     "NULL, NULL, NULL, NULL, '2024-01-01', '2024-01-01', NULL, NULL, NULL, NULL)) + (SELECT "
                     "count(*) FROM "
                     "kivaro_shop_day_products('2024-01-01', '2024-12-31', 0, 100))")),
            QStringLiteral("0"));

        // An amount no program would take overflows only his own sums: another account's save of that day still
        // lands, and the whole shop's day is refused rather than shown wrong.
        QVERIFY(
            cashier.run(QStringLiteral("INSERT INTO records (user_name, day, product_name, quantity, received, "
                                       "cost, memo) VALUES ('%1', '2024-05-09', 'x', 1, 9223372036854775000, 0, '')")
                            .arg(user)));
        addLines(admin, other, { SalesLine { 0, QDate(2024, 5, 9), QStringLiteral("毛巾"), 1, 1000, 0, other } });
        QCOMPARE(
            admin.QueryDays({ other, QDate(2024, 5, 9), QDate(2024, 5, 9) }).first().sums, (SalesSums { 1, 1000, 0 }));
        try {
            admin.QueryDays({ {}, QDate(2024, 5, 9), QDate(2024, 5, 9), true });
            QFAIL("the shop's sum beyond 64 bits was read");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("合计超出")), qPrintable(error.text()));
        }
        // Ids the next saves of others would get are not taken: the line gets the ledger's next one.
        QCOMPARE(
            cashier.value(QStringLiteral("INSERT INTO records (id, user_name, day, product_name, quantity, received, "
                                         "cost, memo) VALUES (nextval('records_id_seq') + 5, '%1', '2024-05-10', "
                                         "'x', 1, 1, 1, '') RETURNING id = currval('records_id_seq')")
                              .arg(user)),
            QStringLiteral("t"));
    }

    // A till holds no password of the server's: its login lists the accounts this computer saw last and logs in as
    // the account; only the administrator's work asks for the administrator's password, once.
    // An account with psql and its own password cannot take the program's locks, squat the ledger's ids, write a day
    // the program cannot read, or pass an edit off as an undo; the other accounts keep working meanwhile, and a day
    // written before the ledger refused it is named by the backup that meets it.
    void hostileAccountCannotStopBlockOrForge()
    {
        const QString victim = QStringLiteral("李四");
        {
            TDbMan admin;
            QVERIFY(admin.AddUser(user, QStringLiteral("pw1")));
            QVERIFY(admin.AddUser(victim, QStringLiteral("pw2")));
        }
        const AsRole hostile(home->server()->name(), user, QStringLiteral("pw1"));
        QVERIFY(hostile.connected());
        const auto refused = [&](const QString& statement) {
            hostile.run(QStringLiteral("SAVEPOINT attempt"));
            const bool ran = hostile.run(statement);
            hostile.run(QStringLiteral("ROLLBACK TO SAVEPOINT attempt"));
            return !ran;
        };
        // Every key the program locked by before, held in a transaction left open, and the program's own locks.
        QVERIFY(hostile.run(QStringLiteral("BEGIN")));
        for (const QString& key : QStringList { QStringLiteral("kivaro-restore"), QStringLiteral("kivaro-schema"),
                 QString(), victim, QStringLiteral("kivaro-products:") + victim })
            QVERIFY(hostile.run(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('%1'))").arg(key)));
        QVERIFY(refused(QStringLiteral("SELECT kivaro_lock('restore', '', true)")));
        QVERIFY(refused(QStringLiteral("SELECT kivaro_lock('user', '%1', true)").arg(victim)));
        QVERIFY(refused(QStringLiteral("SELECT kivaro_lock('shop', '', true)")));
        QVERIFY(hostile.run(QStringLiteral("SELECT kivaro_lock('restore', '', false)")));
        // Nor can he lock a table the tills write, or read, against them.
        for (const char* table : { "records", "pending_lines", "product_names", "saves", "users", "day_sums" }) {
            for (const char* mode : { "SHARE", "ACCESS EXCLUSIVE" })
                QVERIFY2(
                    refused(QStringLiteral("LOCK TABLE %1 IN %2 MODE").arg(QLatin1String(table), QLatin1String(mode))),
                    table);
        }
        // The next kept-line ids taken ahead, and days no till can read.
        QVERIFY(hostile.run(QStringLiteral(
            "INSERT INTO pending_lines (id, user_name, computer, day, product_name, quantity, received, "
            "cost, memo) SELECT nextval('pending_lines_id_seq') + g, '%1', 'x', '2024-05-01', 'x', 1, 1, 1, '' "
            "FROM generate_series(1, 5) AS g")
                                .arg(user)));
        for (const char* day : { "10000-01-01", "0044-03-15 BC" })
            QVERIFY(refused(QStringLiteral("INSERT INTO records (user_name, day, product_name, quantity, received, "
                                           "cost, memo) VALUES ('%1', '%2', 'x', 1, 1, 1, '')")
                                .arg(user, QLatin1String(day))));

        // The other account logs in and works as a till does, undo included; a lock it had to wait for would have
        // failed it after 8 s.
        TDbMan till;
        QVERIFY(till.CheckUser(victim, QStringLiteral("pw2")));
        KeptSession window;
        const SalesLine line { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 200, 100, {} };
        const QList<qint64> kept = till.KeepLines(victim, window, { line, line });
        till.SaveKeptLines(victim, window,
            { SalesLine { kept.at(0), line.day, line.productName, 1, 200, 100, {} },
                SalesLine { kept.at(1), line.day, line.productName, 1, 200, 100, {} } });
        QVERIFY(till.RememberProductName(victim, QStringLiteral("毛巾")));
        const SalesRange range { victim, QDate(2024, 5, 1), QDate(2024, 5, 1) };
        const QList<SalesLine> stored = till.QueryLineWindow(range, range.first, 0, 10);
        QCOMPARE(stored.size(), 2);
        till.DeleteLine(victim, stored.first());
        // The program's deletes are the owner's alone.
        QCOMPARE(
            hostile.value(QStringLiteral("SELECT kivaro_delete_line(%1)").arg(stored.at(1).id)), QStringLiteral("0"));
        QVERIFY(hostile.run(QStringLiteral("SELECT kivaro_forget_product_names('%1', NULL)").arg(victim)));
        QVERIFY(hostile.run(QStringLiteral("COMMIT")));
        QCOMPARE(till.ProductNames(victim).value_or(QStringList()), QStringList { QStringLiteral("毛巾") });
        QCOMPARE(till.QueryLineWindow(range, range.first, 0, 10).size(), 1);

        // The deleted line's id taken by the other account does not block its owner's undo.
        QCOMPARE(hostile.value(QStringLiteral("INSERT INTO records (id, user_name, day, product_name, quantity, "
                                              "received, cost, memo) VALUES (%1, '%2', '2024-05-02', 'x', 1, 1, 1, '') "
                                              "RETURNING id = %1")
                                   .arg(stored.first().id)
                                   .arg(user)),
            QStringLiteral("f"));
        const QList<ChangeEntry> changes = till.Changes(victim);
        QCOMPARE(changes.first().kind, ChangeEntry::Kind::Delete);
        till.UndoChange(victim, changes.first().id);
        QCOMPARE(till.QueryLineWindow(range, range.first, 0, 10).first().id, stored.first().id);

        // An edit passed off as an undo of another change, its own or the other's, is refused.
        const QString own = hostile.value(QStringLiteral("SELECT id FROM records WHERE user_name = '%1'").arg(user));
        QVERIFY(hostile.run(QStringLiteral("UPDATE records SET received = 5 WHERE id = %1").arg(own)));
        const QString edit = hostile.value(
            QStringLiteral("SELECT max(id) FROM changes WHERE user_name = '%1' AND kind = 'edit'").arg(user));
        QVERIFY(hostile.run(QStringLiteral("BEGIN")));
        for (const QString& change : QStringList { edit, QString::number(changes.first().id) })
            QVERIFY2(refused(QStringLiteral("SELECT set_config('kivaro.undoes', '%1', true); "
                                            "UPDATE records SET received = 999 WHERE id = %2")
                                 .arg(change, own)),
                qPrintable(change));
        QVERIFY(hostile.run(QStringLiteral("ROLLBACK")));
        QCOMPARE(hostile.value(
                     QStringLiteral("SELECT count(*) FROM changes WHERE kind = 'undo' AND user_name = '%1'").arg(user)),
            QStringLiteral("0"));

        // A line of year 10000 written before the ledger refused such days stops a backup with its account and id.
        useLedgerAsAdministrator();
        QVERIFY(home->server()->exec(QStringLiteral("ALTER TABLE records DROP CONSTRAINT records_day_range")));
        const QString bad = home->server()->value(
            QStringLiteral("INSERT INTO records (user_name, day, product_name, quantity, received, cost, memo) "
                           "VALUES ('%1', '10000-01-01', 'x', 1, 1, 1, '') RETURNING id")
                .arg(victim));
        try {
            backupLedger(currentLedger(), home->dataDir() + QStringLiteral("/backup.sjk"));
            QFAIL("a backup took a day it cannot hold");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(victim) && error.text().contains(bad)
                    && error.text().contains(QStringLiteral("10000-01-01")),
                qPrintable(error.text()));
        }
    }

    void tillHoldsNoPasswordButTheAccounts()
    {
        TDbMan admin;
        QVERIFY(admin.AddUser(user, QStringLiteral("pw1")));
        QStringList names;
        admin.GetUserNames(&names);
        const QByteArray serverPassword = qgetenv("PGPASSWORD");
        QVERIFY(!serverPassword.isEmpty());
        qunsetenv("PGPASSWORD");
        const auto putBack = qScopeGuard([&] { qputenv("PGPASSWORD", serverPassword); });
        int asked = 0;
        const ScopedHook prompt(TDbMan::passwordPrompt,
            std::function<std::optional<QString>(const QString&, const QString&)>(
                [&](const QString&, const QString&) -> std::optional<QString> {
                    ++asked;
                    return QString::fromUtf8(serverPassword);
                }));
        TDbMan till;
        names.clear();
        till.GetUserNames(&names);
        QCOMPARE(names, QStringList { user });
        QVERIFY(till.CheckUser(user, QStringLiteral("pw1")));
        till.MoveUserToFront(user);
        addLines(TDbMan(), user, { SalesLine { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 200, 100, {} } });
        QCOMPARE(TDbMan().QueryDays({ user, QDate(2024, 5, 1), QDate(2024, 5, 1) }).size(), 1);
        // The account could not back up the others' lines: the day's backup waits for the administrator.
        const QDate today(2024, 5, 2);
        QCOMPARE(makeDailyBackup(currentLedger(), home->dataDir(), today), std::nullopt);
        QCOMPARE(asked, 0);
        QVERIFY(TDbMan().AddUser(QStringLiteral("李四"), QStringLiteral("pw2")));
        QVERIFY(TDbMan().SetShopOwner(user));
        QCOMPARE(asked, 1);
        addLines(TDbMan(currentLedger().asAdministrator()), QStringLiteral("李四"),
            { SalesLine { 0, QDate(2024, 5, 1), QStringLiteral("牙刷"), 1, 300, 100, {} } });
        const std::optional<QString> daily = makeDailyBackup(currentLedger(), home->dataDir(), today);
        QVERIFY(daily);
        QCOMPARE(inspectBackup(*daily).lines, 2);
        QCOMPARE(asked, 1);
        useLedgerAsAdministrator();
    }

    // Each reason a login fails is said as it is, and nothing asks for a password a second time.
    void loginSaysWhyItFails()
    {
        int asked = 0;
        const ScopedHook prompt(TDbMan::passwordPrompt,
            std::function<std::optional<QString>(const QString&, const QString&)>(
                [&](const QString&, const QString&) -> std::optional<QString> {
                    ++asked;
                    return std::nullopt;
                }));
        TDbMan db;
        const QString shut = QStringLiteral("李四");
        const QString waiting = QStringLiteral("王五");
        for (const QString& name : { user, shut, waiting })
            QVERIFY(db.AddUser(name, QStringLiteral("pw")));
        QVERIFY(home->server()->exec(QStringLiteral("ALTER ROLE \"%1\" NOLOGIN; ALTER ROLE \"%2\" PASSWORD NULL; "
                                                    "UPDATE users SET needs_password = true WHERE user_name = '%2'")
                                         .arg(shut, waiting)));
        QStringList names;
        db.GetUserNames(&names);
        QVERIFY(!db.CheckUser(user, QStringLiteral("wrong")));
        QVERIFY(!db.CheckUser(QStringLiteral("无此人"), QStringLiteral("pw")));
        const auto refusal = [&](const QString& name) {
            try {
                db.CheckUser(name, QStringLiteral("pw"));
            } catch (const KivaroError& error) {
                return error.text();
            }
            return QString();
        };
        QVERIFY2(refusal(shut).contains(QStringLiteral("不允许帐户“李四”登录")), qPrintable(refusal(shut)));
        QVERIFY2(refusal(waiting).contains(QStringLiteral("还没有密码")), qPrintable(refusal(waiting)));
        QVERIFY(db.CheckUser(user, QStringLiteral("pw")));
        QCOMPARE(asked, 0);
        // The administrator's wrong password is said in words, without the server's code and English.
        useLedgerAsAdministrator();
        try {
            TDbMan(LedgerLocation::server(home->server()->connection() + QStringLiteral(" password=wrong")))
                .UserExists(user);
            QFAIL("a wrong password connected");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("不接受给出的密码"))
                    && !error.text().contains(QLatin1String("28P01")) && !error.text().contains(QLatin1String("FATAL")),
                qPrintable(error.text()));
        }
    }

    // A role named as the accounts' group that is more than a plain group would lend its rights to every account.
    void groupRoleOfAnotherIsRefused()
    {
        const QString group = home->server()->name() + QStringLiteral("_accounts");
        QVERIFY(home->server()->exec(QStringLiteral("CREATE ROLE %1 LOGIN CREATEDB").arg(group)));
        try {
            TDbMan().AddUser(user, QStringLiteral("pw"));
            QFAIL("a ledger was made with a group role that is more than a group");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(group), qPrintable(error.text()));
        }
        QCOMPARE(server(QStringLiteral("SELECT to_regclass('users') IS NULL")), QStringLiteral("t"));
    }

    // A role of the server that is no account of the ledger gets nothing: not the list of names, not a line.
    void roleOutsideTheLedgerGetsNothing()
    {
        QVERIFY(TDbMan().AddUser(user, QStringLiteral("pw")));
        addRecord(TDbMan(), user, QStringLiteral("2024/05/01"), QStringLiteral("毛巾"), QStringLiteral("1"),
            QStringLiteral("2.00"), QStringLiteral("1.00"), QString());
        const QString role = home->server()->name() + QStringLiteral("_reader");
        QVERIFY(home->server()->exec(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'reader-pw'").arg(role)));
        const LedgerLocation asReader = LedgerLocation::server(
            home->server()->connection() + QStringLiteral(" user=%1 password=reader-pw").arg(role));
        QVERIFY_THROWS_EXCEPTION(KivaroError, TDbMan(asReader).UserExists(user));
        // Nor does its name and password pass the login as an account.
        QVERIFY(!TDbMan().CheckUser(role, QStringLiteral("reader-pw")));
        QCOMPARE(storedLineCount(*home), 1);
    }

    // A password that nothing else holds is asked for, kept in memory for the next connection, and never written.
    void passwordIsAskedOnceAndKeptInMemory()
    {
        const QByteArray password = qgetenv("PGPASSWORD");
        QVERIFY(!password.isEmpty());
        const QByteArray passFile = qgetenv("PGPASSFILE");
        qunsetenv("PGPASSWORD");
        qputenv("PGPASSFILE", "/nonexistent/pgpass");
        const auto restore = qScopeGuard([&] {
            qputenv("PGPASSWORD", password);
            if (passFile.isNull())
                qunsetenv("PGPASSFILE");
            else
                qputenv("PGPASSFILE", passFile);
            TDbMan::passwordPrompt = nullptr;
        });
        QStringList reasons;
        TDbMan::passwordPrompt = [&](const QString& server, const QString& reason) -> std::optional<QString> {
            reasons << reason << server;
            return reasons.size() == 2 ? QStringLiteral("wrong") : QString::fromUtf8(password);
        };
        QVERIFY(TDbMan().AddUser(user, QStringLiteral("pw")));
        QCOMPARE(reasons.size(), 4);
        QVERIFY2(reasons.at(2).contains(QStringLiteral("不对")), qPrintable(reasons.at(2)));
        QVERIFY2(reasons.at(3).endsWith(QLatin1Char('/') + home->server()->name()), qPrintable(reasons.at(3)));
        QVERIFY(TDbMan().UserExists(user));
        QCOMPARE(reasons.size(), 4);
        // Nothing under the home (data and settings) holds it.
        saveServerChoice(home->server()->connection());
        QDirIterator files(home->base(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        int read = 0;
        for (; files.hasNext(); ++read)
            QVERIFY2(!readAll(files.next()).contains(password), qPrintable(files.filePath()));
        QVERIFY(read > 0);
        saveServerChoice(std::nullopt);

        // Declined: the failure names the server and nothing is kept.
        TDbMan::passwordPrompt = [](const QString&, const QString&) { return std::optional<QString>(); };
        try {
            TDbMan(LedgerLocation::server(home->server()->connection() + QStringLiteral(" application_name=other")))
                .UserExists(user);
            QFAIL("connected without a password");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(home->server()->name()), qPrintable(error.text()));
        }
    }
};

KIVARO_TEST_MAIN(TestServerAccounts)
#include "tst_server_accounts.moc"
