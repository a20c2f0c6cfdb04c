// The server ledger: a server that stops, freezes or restarts, and a client killed mid-way: nothing half-stored, the
// window free again.

#include "tests/ServerTestCase.h"

class TestServerFaults : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { requireServer(); }
    void init() { setUpTest(); }
    void cleanup() { tearDownTest(); }

    // A till frozen in the middle of a save holds the user's turn: another till's save waits, shows the wait, and
    // the user may stop it; a server that is frozen itself answers not even the cancel and loses the connection.
    // Either way nothing is stored and the window is free again within seconds.
    void aWaitForTheServerCanBeStopped()
    {
        TDbMan db;
        QVERIFY(db.AddUser(user, QStringLiteral("pw")));
        QProcess frozenTill;
        frozenTill.start(QStringLiteral("psql"),
            { QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"), home->server()->connection(),
                QStringLiteral("-c"),
                QStringLiteral("SELECT kivaro_lock('user', '%1', true); SELECT pg_sleep(60)").arg(user) });
        // The other till's server process sleeps on: ending psql alone would not free the turn.
        const auto stopTill = [&] {
            server(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query LIKE "
                                  "'%pg_sleep(60)%' AND pid <> pg_backend_pid()"));
            frozenTill.waitForFinished();
        };
        const auto endTill = qScopeGuard(stopTill);
        QTRY_COMPARE_WITH_TIMEOUT(
            server(QStringLiteral("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND granted")),
            QStringLiteral("1"), 10'000);
        const SalesLine line { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 200, 100, {} };

        for (const bool freezeServer : { false, true }) {
            QStringList shown;
            QString frozenPid;
            ScopedHook wait(TDbMan::serverWait, std::function<bool(const QString&)>([&](const QString& text) {
                shown.append(text);
                if (!freezeServer)
                    return shown.size() < 3;
                // The backend that waits for the lock stops as a frozen server would, and then the user gives up.
                frozenPid = server(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                                                  "AND datname = current_database()"));
                if (!frozenPid.isEmpty())
                    QProcess::execute(QStringLiteral("kill"), { QStringLiteral("-STOP"), frozenPid });
                return frozenPid.isEmpty();
            }));
            const auto thaw = qScopeGuard([&] {
                if (!frozenPid.isEmpty())
                    QProcess::execute(QStringLiteral("kill"), { QStringLiteral("-CONT"), frozenPid });
            });
            std::optional<SaveOutcome> outcome;
            QString failure;
            try {
                outcome = addLines(db, user, { line });
            } catch (const KivaroError& error) {
                failure = error.text();
            }
            if (freezeServer) {
                // A server that answers not even the cancel is one that went away: the save waits in the outbox.
                QVERIFY2(outcome == SaveOutcome::SavedOffline, qPrintable(failure));
            } else {
                QVERIFY2(!outcome, "the save went through while another till held the user's turn");
                QVERIFY2(failure.contains(QStringLiteral("已经取消")), qPrintable(failure));
            }
            QVERIFY2(shown.size() >= 2 && shown.last().isEmpty(), qPrintable(shown.join(QLatin1Char('|'))));
            QVERIFY(shown.first().contains(QStringLiteral("正在等待")));
            if (freezeServer)
                QVERIFY(!frozenPid.isEmpty());
        }
        QCOMPARE(storedLineCount(*home), 0);
        // Once the other till lets go, the same store saves again.
        stopTill();
        QTRY_COMPARE_WITH_TIMEOUT(
            server(QStringLiteral("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND granted")),
            QStringLiteral("0"), 10'000);
        addLines(db, user, { line });
        QCOMPARE(storedLineCount(*home), 1);
    }

    void unreachableServerIsNamed()
    {
        try {
            TDbMan(LedgerLocation::server(QStringLiteral("host=127.0.0.1 port=1 dbname=ledger connect_timeout=5")))
                .UserExists(user);
            QFAIL("no error from a server that is not there");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("数据库服务器“127.0.0.1:1/ledger”连不上"))
                    && !error.text().contains(QLatin1String("refused")),
                qPrintable(error.text()));
        }
    }

    // The server stops during 完成: nothing half-stored, the pending lines stay, a message; once it is back the next
    // 完成 reconnects and stores them without an error.
    void serverStoppedDuringASave()
    {
        // A child's large save, cut by an immediate stop.
        const int lines = 300'000;
        ChildProcess saver({ QStringLiteral("save"), user, QString::number(lines), QStringLiteral("cut") });
        QVERIFY2(saver.waitReady(), qPrintable(saver.errors()));
        QTest::qWait(300);
        QVERIFY(cluster(QStringLiteral("stop")));
        auto restart = qScopeGuard([] { cluster(QStringLiteral("start")); });
        const bool saved = saver.finishedCleanly();
        const QString errors = saver.errors();
        QVERIFY(cluster(QStringLiteral("start")));
        const qint64 stored = storedLineCount(*home);
        QVERIFY2(stored == 0 || stored == lines, qPrintable(QString::number(stored)));
        qInfo("save of %d lines cut by the stop: %s, %lld lines stored", lines, saved ? "it finished" : "it failed",
            stored);
        if (!saved) {
            QVERIFY2(errors.contains(QStringLiteral("连接")), qPrintable(errors));
            // Only a save cut while the server committed may have landed, and then it says it cannot tell.
            QVERIFY2(stored == 0 || errors.contains(QStringLiteral("无法确定")), qPrintable(errors));
        }

        // The window: a 完成 while the server is away keeps its save in the outbox, which goes out once it is back.
        TfrmMain form;
        form.PrepareForUser(QStringLiteral("李四"));
        form.show();
        for (const char* product : { "毛巾", "牙刷", "香皂" }) {
            typeText(child<QComboBox>(&form, "ComboBox1"), QString::fromUtf8(product));
            QTest::keyClick(child<QComboBox>(&form, "ComboBox1"), Qt::Key_Return);
            for (const char* field : { "ComboBox2", "ComboBox3", "ComboBox4", "ComboBox5" }) {
                typeText(child<QLineEdit>(&form, field), QString(field) == QLatin1String("ComboBox5") ? "" : "2");
                QTest::keyClick(child<QLineEdit>(&form, field), Qt::Key_Return);
            }
        }
        auto* pending = child<QTreeView>(&form, "ListView1");
        QCOMPARE(pending->model()->rowCount(), 3);
        QVERIFY(cluster(QStringLiteral("stop")));
        QTest::mouseClick(child<QPushButton>(&form, "Button4"), Qt::LeftButton);
        // The save's own answer says where its lines are; going offline opens no second box.
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(QStringLiteral("等服务器恢复后自动上传")), qPrintable(shown.first()));
        QCOMPARE(pending->model()->rowCount(), 0);
        auto* state = child<QLabel>(&form, "LabelOutbox");
        QCOMPARE(state->text(), QStringLiteral("离线：1 次保存、3 条记录待上传"));
        QVERIFY(cluster(QStringLiteral("start")));
        restart.dismiss();
        QTRY_COMPARE_WITH_TIMEOUT(state->text(), QString(), 20'000);
        QCOMPARE(TDbMan().QueryDays({ QStringLiteral("李四"), QDate(1, 1, 1), QDate(9999, 12, 31) }).first().lines, 3);
    }

    // 查看 while the server is gone: a message, and the views keep what they showed.
    void serverGoneDuringAReview()
    {
        TDbMan db;
        for (int day = 1; day <= 3; ++day)
            addRecord(db, user, QStringLiteral("2024/05/0%1").arg(day), QStringLiteral("毛巾"), QStringLiteral("1"),
                QStringLiteral("2.00"), QStringLiteral("1.00"), QString());
        // More lines than the view fetches at first, so that scrolling asks the store for more.
        addLines(db, user, QList<SalesLine>(1000, { 0, QDate(2024, 5, 4), QStringLiteral("牙刷"), 1, 100, 50, {} }));
        std::unique_ptr<TfrmMain> form = openReviewWindow(user);
        child<QDateEdit>(form.get(), "DateTimePicker2")->setDate(QDate(2024, 5, 1));
        child<QDateEdit>(form.get(), "DateTimePicker3")->setDate(QDate(2024, 5, 31));
        auto* query = child<QPushButton>(form.get(), "Button7");
        QTest::mouseClick(query, Qt::LeftButton);
        auto* detail = child<QTreeView>(form.get(), "ListView2");
        QCOMPARE(detail->model()->rowCount(), 1003);
        const QString totals = child<QLabel>(form.get(), "Label19")->text();
        QVERIFY(cluster(QStringLiteral("stop")));
        auto restart = qScopeGuard([] { cluster(QStringLiteral("start")); });

        // Rows that come while the view paints: blank, one message after the paint, the window lives on.
        detail->scrollToBottom();
        QCOMPARE(detail->model()->index(1002, 2).data().toString(), QString());
        QCOMPARE(detail->model()->index(1001, 2).data().toString(), QString());
        QStringList failed;
        QTRY_VERIFY((failed += MessageBox::takeShownTexts()).size() > 0);
        QCOMPARE(failed.size(), 1);
        QVERIFY2(failed.first().contains(home->server()->name()), qPrintable(failed.first()));

        QTest::mouseClick(query, Qt::LeftButton);
        const QStringList shown = MessageBox::takeShownTexts();
        restart.dismiss();
        QVERIFY(cluster(QStringLiteral("start")));
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(home->server()->name()), qPrintable(shown.first()));
        QCOMPARE(detail->model()->rowCount(), 1003);
        QCOMPARE(child<QLabel>(form.get(), "Label19")->text(), totals);
        QVERIFY(query->isEnabled());
        QTest::mouseClick(query, Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList());
        QCOMPARE(detail->model()->index(1002, 2).data().toString(), QStringLiteral("牙刷"));
    }

    // A client killed in the middle of a save leaves none of it, and the next save of the same user goes through.
    void killedClientStoresNothing()
    {
        ChildProcess saver({ QStringLiteral("save"), user, QStringLiteral("200000"), QStringLiteral("killed") });
        QVERIFY2(saver.waitReady(), qPrintable(saver.errors()));
        QTest::qWait(200);
        saver.killNow();
        TDbMan db;
        addRecord(db, user, QStringLiteral("2024/05/01"), QStringLiteral("毛巾"), QStringLiteral("1"),
            QStringLiteral("2.00"), QStringLiteral("1.00"), QString());
        const qint64 stored = storedLineCount(*home);
        QVERIFY2(stored == 1 || stored == 200'001, qPrintable(QString::number(stored)));
        qInfo("client killed during a save of 200000 lines: %lld lines of it stored", stored - 1);
    }

    // A server restarted between two operations is reconnected on the next one, without a word.
    void restartedServerIsReconnected()
    {
        TDbMan db;
        QVERIFY(db.AddUser(user, QStringLiteral("pw")));
        addRecord(db, user, QStringLiteral("2024/05/01"), QStringLiteral("毛巾"), QStringLiteral("1"),
            QStringLiteral("2.00"), QStringLiteral("1.00"), QString());
        QVERIFY(cluster(QStringLiteral("restart")));
        QVERIFY(db.CheckUser(user, QStringLiteral("pw")));
        QVERIFY(cluster(QStringLiteral("restart")));
        addRecord(db, user, QStringLiteral("2024/05/01"), QStringLiteral("毛巾"), QStringLiteral("1"),
            QStringLiteral("2.00"), QStringLiteral("1.00"), QString());
        QCOMPARE(db.QueryDays({ user, QDate(2024, 1, 1), QDate(2024, 12, 31) }).first().lines, 2);
    }

    // An owner chooses whose lines the page shows; the shop's and another's are shown and printed under their name,
    // and only the owner's own can be edited or deleted.
    // An account's transaction held open with psql, idle or busy, or a till of it frozen in the middle of a save,
    // holds up only that account's saves: another account's save lands while it still holds, and the shop's sums
    // are the accounts' added up. A till of the same account waits, and a save that waited too long names him.
    void heldAccountHoldsUpOnlyItself()
    {
        const QString other = QStringLiteral("李四");
        TDbMan admin;
        QVERIFY(admin.AddUser(user, QStringLiteral("pw1")));
        QVERIFY(admin.AddUser(other, QStringLiteral("pw2")));
        const QString insert = QStringLiteral("INSERT INTO records (user_name, day, product_name, quantity, received, "
                                              "cost, memo) VALUES ('%1', '2024-05-0%2', '毛巾', 1, 100, 50, '')");
        const AsRole idle(home->server()->name(), user, QStringLiteral("pw1"));
        // Kept open however long the saves below take: a save that waited for it would fail at its lock_timeout.
        QVERIFY(idle.run(QStringLiteral("BEGIN; ") + insert.arg(user).arg(1)
            + QStringLiteral("; SET idle_in_transaction_session_timeout = 0")));
        const AsRole busy(home->server()->name(), user, QStringLiteral("pw1"));
        QVERIFY(
            busy.send(QStringLiteral("BEGIN; ") + insert.arg(user).arg(2) + QStringLiteral("; SELECT pg_sleep(30)")));
        QTRY_COMPARE_WITH_TIMEOUT(server(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE query LIKE "
                                                        "'%pg_sleep(30)%' AND pid <> pg_backend_pid()")),
            QStringLiteral("1"), 10'000);

        for (int day = 1; day <= 2; ++day)
            addLines(admin, other, { SalesLine { 0, QDate(2024, 5, day), QStringLiteral("牙刷"), 1, 200, 100, {} } });
        // Both still hold.
        QCOMPARE(server(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE query LIKE '%pg_sleep(30)%' "
                                       "AND pid <> pg_backend_pid()")),
            QStringLiteral("1"));
        QVERIFY(idle.run(QStringLiteral("COMMIT")));
        server(QStringLiteral("SELECT pg_cancel_backend(pid) FROM pg_stat_activity WHERE query LIKE '%pg_sleep(30)%' "
                              "AND pid <> pg_backend_pid()"));
        QVERIFY(!busy.finish());
        QVERIFY(busy.run(QStringLiteral("ROLLBACK")));
        const SalesRange shop { {}, QDate(2024, 5, 1), QDate(2024, 5, 2), true };
        const QList<DayCount> days = admin.QueryDays(shop);
        QCOMPARE(days.size(), 2);
        QCOMPARE(days.at(0).sums, (SalesSums { 2, 300, 150 }));
        QCOMPARE(days.at(1).sums, (SalesSums { 1, 200, 100 }));
        QCOMPARE(days.at(0).rows, 2);
        QCOMPARE(days.at(0).lines, 2);

        // A till of the same account frozen mid-save is dropped by the server before its other till gives up.
        const AsRole frozen(home->server()->name(), user, QStringLiteral("pw1"));
        QVERIFY(frozen.run(QStringLiteral("BEGIN; ") + insert.arg(user).arg(3)));
        addLines(admin, user, { SalesLine { 0, QDate(2024, 5, 3), QStringLiteral("牙刷"), 1, 200, 100, user } });
        QVERIFY(!frozen.run(QStringLiteral("COMMIT")));

        // With psql he may keep his transaction open on purpose: his own save that waited too long names him.
        const AsRole holding(home->server()->name(), user, QStringLiteral("pw1"));
        QVERIFY(holding.run(QStringLiteral("BEGIN; ") + insert.arg(user).arg(4)
            + QStringLiteral("; SET idle_in_transaction_session_timeout = 0")));
        try {
            addLines(admin, user, { SalesLine { 0, QDate(2024, 5, 4), QStringLiteral("牙刷"), 1, 200, 100, user } });
            QFAIL("a save went past a held lock");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("帐户“%1”").arg(user)), qPrintable(error.text()));
        }
        QVERIFY(holding.run(QStringLiteral("ROLLBACK")));
    }
};

KIVARO_TEST_MAIN(TestServerFaults)
#include "tst_server_faults.moc"
