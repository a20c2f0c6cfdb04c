// The server ledger: the till that sells while its server is away: the outbox, sent once, whatever happens meanwhile.

#include "tests/ServerTestCase.h"

class TestServerOutbox : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { requireServer(); }
    void init() { setUpTest(); }
    void cleanup() { tearDownTest(); }

    // The window offline: the login lists the accounts that logged in here, the header counts what waits, the review
    // page says it needs the server, and once the server answers the saves go out and the header falls silent.
    void offlineWindowSaysWhatWaits()
    {
        const QString password = QStringLiteral("pw");
        QVERIFY(TDbMan().AddUser(user, password));
        const LedgerLocation server = currentLedger();
        QVERIFY(TDbMan(server).CheckUser(user, password));
        useLedgerAsAdministrator();
        const auto online = qScopeGuard([] { setCurrentLedger(std::nullopt); });
        QVERIFY(cluster(QStringLiteral("stop")));
        auto restart = qScopeGuard([] { cluster(QStringLiteral("start")); });
        {
            TfrmLogin login;
            auto* names = child<QComboBox>(&login, "ComboBox1");
            QCOMPARE(names->currentText(), user);
            typeText(child<QLineEdit>(&login, "Edit1"), password);
            QTest::mouseClick(child<QPushButton>(&login, "Button1"), Qt::LeftButton);
            QCOMPARE(login.result(), int(QDialog::Accepted));
            QVERIFY(currentLedger().offline);
        }
        TfrmMain form;
        form.PrepareForUser(user);
        form.show();
        auto* state = child<QLabel>(&form, "LabelOutbox");
        QCOMPARE(state->text(), QStringLiteral("离线：0 次保存、0 条记录待上传"));
        for (const QString& product : { QStringLiteral("毛巾"), QStringLiteral("牙刷") }) {
            typeText(child<QComboBox>(&form, "ComboBox1"), product);
            for (const char* field : { "ComboBox2", "ComboBox3", "ComboBox4" })
                typeText(child<QLineEdit>(&form, field), QStringLiteral("2"));
            QTest::mouseClick(child<QPushButton>(&form, "Button1"), Qt::LeftButton);
        }
        QTest::mouseClick(child<QPushButton>(&form, "Button4"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);
        QCOMPARE(state->text(), QStringLiteral("离线：1 次保存、2 条记录待上传"));
        QTest::mouseClick(child<QLabel>(&form, "Label2"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(&form, "Button7"), Qt::LeftButton);
        const QStringList shown = MessageBox::takeShownTexts();
        QVERIFY2(
            shown.size() == 1 && shown.first().contains(QStringLiteral("查帐需要服务器")), qPrintable(shown.join('|')));

        QVERIFY(cluster(QStringLiteral("start")));
        QTRY_COMPARE_WITH_TIMEOUT(state->text(), QString(), 20'000);
        QVERIFY(!currentLedger().offline);
        QCOMPARE(home->server()->value(QStringLiteral("SELECT count(*) FROM records WHERE user_name = '%1'").arg(user)),
            QStringLiteral("2"));
    }

    // Saves made offline for one spelling of the ledger's address reach it through any other: spellings of one
    // address share an outbox, and an outbox made for an address the ledger left is found by the ledger's identity.
    void outboxFoundWhateverTheSpelling()
    {
        QVERIFY(TDbMan().AddUser(user, QStringLiteral("pw")));
        const QString database = home->server()->name();
        const QString host = qEnvironmentVariable("PGHOST", QStringLiteral("localhost"));
        const LedgerLocation first = LedgerLocation::server(QStringLiteral("host=%1 dbname=%2").arg(host, database));
        for (const QString& spelling : { QStringLiteral("dbname=%2 host=%1 user=%3"),
                 QStringLiteral("postgresql://%3@%1/%2"), QStringLiteral("host=%1 dbname=%2 password=other") })
            QCOMPARE(outboxPath(LedgerLocation::server(spelling.arg(host, database, user))), outboxPath(first));
        QVERIFY(TDbMan(first).CheckUser(user, QStringLiteral("pw")));
        addLines(TDbMan(first.asOffline()), user,
            { { 0, QDate(2024, 8, 1), QStringLiteral("毛巾"), 1, 100, 50, QStringLiteral("旧地址") } });
        // The same server reached at another address: another outbox, empty, and the first one's save still goes.
        const QString moved
            = host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : QStringLiteral("localhost");
        const LedgerLocation second = LedgerLocation::server(QStringLiteral("host=%1 dbname=%2").arg(moved, database));
        QVERIFY(outboxPath(second) != outboxPath(first));
        QVERIFY(TDbMan(second).CheckUser(user, QStringLiteral("pw")));
        const TDbMan::OutboxSent sent = TDbMan(second).SendOutbox(user);
        QVERIFY2(sent.problem.isEmpty(), qPrintable(sent.problem));
        QCOMPARE(sent.saves, 1);
        QCOMPARE(OutboxStore(first.asOffline()).count(user).saves, 0);
        useLedgerAsAdministrator();
        QCOMPARE(home->server()->value(QStringLiteral("SELECT count(*) FROM records WHERE memo = '旧地址'")),
            QStringLiteral("1"));
    }

    // A save the server no longer takes (the account's password changed meanwhile) stays in the outbox and says why;
    // a restore of the ledger meanwhile is told once the saves went into the restored ledger.
    void outboxSavesThatCannotBeSentStay()
    {
        QVERIFY(TDbMan().AddUser(user, QStringLiteral("pw")));
        const LedgerLocation server = currentLedger();
        QVERIFY(TDbMan(server).CheckUser(user, QStringLiteral("pw")));
        addLines(TDbMan(server.asOffline()), user,
            { { 0, QDate(2024, 8, 1), QStringLiteral("毛巾"), 1, 100, 50, QStringLiteral("离线") } });
        useLedgerAsAdministrator();
        QVERIFY(TDbMan(server).SetPassword(user, QStringLiteral("new")));
        // The till still signs in with the password it was given at its login.
        QVERIFY(TDbMan(server.asOffline()).CheckUser(user, QStringLiteral("pw")));
        const TDbMan::OutboxSent refused = TDbMan(server).SendOutbox(user);
        QCOMPARE(refused.saves, 0);
        QVERIFY2(refused.problem.contains(QStringLiteral("密码")), qPrintable(refused.problem));
        const OutboxCount waiting = OutboxStore(server.asOffline()).count(user);
        QCOMPARE(waiting.saves, 1);
        QCOMPARE(waiting.problem, refused.problem);

        // With the new password it goes, into a ledger restored meanwhile.
        useLedgerAsAdministrator();
        QVERIFY(home->server()->exec(QStringLiteral("UPDATE ledger_generation SET generation = generation + 1")));
        QVERIFY(TDbMan(server).CheckUser(user, QStringLiteral("new")));
        const TDbMan::OutboxSent sent = TDbMan(server).SendOutbox(user);
        QCOMPARE(sent.saves, 1);
        QVERIFY(sent.intoNewLedger);
        QCOMPARE(OutboxStore(server.asOffline()).count(user).saves, 0);
        useLedgerAsAdministrator();
    }

    // Two tills, each its own computer (data and settings folders), sell offline while the server is away and send
    // their outboxes as soon as it is back, at the same moment: every save reaches it once.
    void twoTillsReconnectAtOnce()
    {
        const QString password = QStringLiteral("pw");
        QVERIFY(TDbMan().AddUser(user, password));
        const LedgerLocation server = currentLedger();
        QTemporaryDir other;
        const QStringList homes { home->base(), other.path() };
        const auto useHome = [](const QString& base) {
            TestDataHome::setBase(base);
            qputenv("XDG_CONFIG_HOME", (base + QStringLiteral("/config")).toLocal8Bit());
        };
        std::vector<std::unique_ptr<ChildProcess>> tills;
        for (int i = 0; i < 2; ++i) {
            useHome(homes.at(i));
            tills.push_back(std::make_unique<ChildProcess>(
                QStringList { QStringLiteral("till"), user, password, QStringLiteral("t%1").arg(i) }));
        }
        useHome(homes.first());
        for (const auto& till : tills)
            QVERIFY2(till->waitReady(), qPrintable(till->errors()));
        QThread::msleep(300);
        QVERIFY(cluster(QStringLiteral("stop")));
        auto restart = qScopeGuard([] { cluster(QStringLiteral("start")); });
        QThread::msleep(1500);
        QVERIFY(cluster(QStringLiteral("start")));
        restart.dismiss();
        QThread::msleep(3000);
        QStringList reported;
        int offline = 0;
        for (int i = 0; i < 2; ++i) {
            tills.at(i)->killNow();
            for (const QString& line : tills.at(i)->output().split(QLatin1Char('\n'))) {
                const QStringList words = line.trimmed().split(QLatin1Char(' '));
                if (words.value(0) != QLatin1String("saved"))
                    continue;
                reported << QStringLiteral("'t%1-%2-0'").arg(i).arg(words.value(1));
                offline += words.size() > 2;
            }
        }
        QVERIFY(offline > 0);
        // Whatever either till had not sent yet goes now, each from its own computer.
        for (const QString& base : homes) {
            useHome(base);
            QVERIFY(TDbMan(server).CheckUser(user, password));
            QVERIFY(TDbMan(server).SendOutbox(user).problem.isEmpty());
            QCOMPARE(OutboxStore(server.asOffline()).count(user).saves, 0);
        }
        useHome(homes.first());
        useLedgerAsAdministrator();
        QCOMPARE(home->server()->value(QStringLiteral("SELECT count(*) FROM (SELECT memo FROM records GROUP BY memo "
                                                      "HAVING count(*) > 1) AS doubled")),
            QStringLiteral("0"));
        QCOMPARE(
            home->server()->value(
                QStringLiteral("SELECT count(*) FROM records WHERE memo IN (%1)").arg(reported.join(QLatin1Char(',')))),
            QString::number(reported.size()));
        qInfo("two tills: %lld saves reported, %d of them into an outbox", qlonglong(reported.size()), offline);
    }

    // Two windows of one till send one outbox at the same moment: every save lands once, and the outbox empties.
    void twoWindowsSendOneOutboxOnce()
    {
        QVERIFY(TDbMan().AddUser(user, QStringLiteral("pw")));
        const LedgerLocation server = currentLedger();
        {
            TDbMan offline(server.asOffline());
            for (int i = 0; i < 40; ++i)
                addLines(offline, user,
                    { { 0, QDate(2024, 7, 1 + i % 28), QStringLiteral("毛巾"), 1, 100 + i, 50,
                          QStringLiteral("o%1-0").arg(i) },
                        { 0, QDate(2024, 7, 1), QStringLiteral("牙刷"), 2, 300, 100,
                            QStringLiteral("o%1-1").arg(i) } });
        }
        std::atomic<int> sent { 0 };
        std::atomic<bool> failed { false };
        const auto window = [&] {
            try {
                sent += TDbMan(server).SendOutbox(user).saves;
            } catch (const KivaroError&) {
                failed = true;
            }
        };
        std::thread first(window);
        std::thread second(window);
        first.join();
        second.join();
        QVERIFY(!failed);
        QVERIFY(sent >= 40);
        QCOMPARE(OutboxStore(server.asOffline()).count(user).saves, 0);
        QCOMPARE(home->server()->value(QStringLiteral("SELECT count(DISTINCT memo) || '/' || count(*) FROM records "
                                                      "WHERE memo LIKE 'o%'")),
            QStringLiteral("80/80"));
        QCOMPARE(home->server()->value(QStringLiteral("SELECT count(*) FROM saves")), QStringLiteral("40"));
    }

    // While the server is away an account that logged in here before sells offline; its saves reach the server
    // once, whatever moment the server stops (COMMIT included) or the till is killed.
    void offlineTillSavesExactlyOnce()
    {
        const QString password = QStringLiteral("pw");
        QVERIFY(TDbMan().AddUser(user, password));
        QVERIFY(TDbMan().AddUser(QStringLiteral("新人"), password));
        const LedgerLocation server = currentLedger();
        QVERIFY(TDbMan(server).CheckUser(user, password));
        useLedgerAsAdministrator();
        QVERIFY(cluster(QStringLiteral("stop")));
        auto restart = qScopeGuard([] { cluster(QStringLiteral("start")); });
        // Offline logins: the right password, a wrong one, and an account that never logged in here.
        QVERIFY_THROWS_EXCEPTION(TServerUnreachable, TDbMan(server).CheckUser(user, password));
        TDbMan offline(server.asOffline());
        QVERIFY(!offline.CheckUser(user, QStringLiteral("wrong")));
        try {
            offline.CheckUser(QStringLiteral("新人"), password);
            QFAIL("an account that never logged in here logged in offline");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("没有在这台电脑上登录过")), qPrintable(error.text()));
        }
        QVERIFY(offline.CheckUser(user, password));
        QVERIFY_THROWS_EXCEPTION(KivaroError, offline.QueryDays({ user, QDate(2024, 1, 1), QDate(2024, 12, 31) }));
        QVERIFY(cluster(QStringLiteral("start")));
        useLedgerAsAdministrator();

        // The till sells while the server stops and starts and the till is killed, each at random moments. A stop and
        // start of the cluster takes seconds: 50 keep the test within a few minutes (KIVARO_OUTAGES asks for more).
        const int outages
            = qEnvironmentVariableIsSet("KIVARO_OUTAGES") ? qEnvironmentVariableIntValue("KIVARO_OUTAGES") : 50;
        const int kills = outages / 2;
        const quint32 seed = testSeed();
        qInfo("%d outages, %d kills", outages, kills);
        QRandomGenerator random(seed);
        QList<bool> events(outages, true);
        events += QList<bool>(kills, false);
        std::shuffle(events.begin(), events.end(), random);
        QStringList reported;
        int offlineSaves = 0;
        int run = 0;
        const auto startTill = [&] {
            return std::make_unique<ChildProcess>(
                QStringList { QStringLiteral("till"), user, password, QStringLiteral("r%1").arg(run++) });
        };
        const auto collect = [&](ChildProcess& till) {
            const QString tag = QStringLiteral("r%1").arg(run - 1);
            for (const QString& line : till.output().split(QLatin1Char('\n'))) {
                const QStringList words = line.trimmed().split(QLatin1Char(' '));
                if (words.value(0) != QLatin1String("saved"))
                    continue;
                reported.append(tag + QLatin1Char('-') + words.value(1));
                offlineSaves += words.size() > 2;
            }
        };
        std::unique_ptr<ChildProcess> till = startTill();
        int immediate = 0;
        for (const bool outage : events) {
            QThread::msleep(50 + random.bounded(300));
            if (outage) {
                const bool now = random.bounded(2) == 0;
                immediate += now;
                QVERIFY(cluster(QStringLiteral("stop"), now ? QStringLiteral("immediate") : QStringLiteral("fast")));
                QThread::msleep(random.bounded(400));
                QVERIFY(cluster(QStringLiteral("start")));
            } else {
                till->killNow();
                collect(*till);
                till = startTill();
            }
        }
        QThread::msleep(500);
        till->killNow();
        collect(*till);
        till.reset();
        QVERIFY2(reported.size() > outages, qPrintable(QString::number(reported.size())));
        QVERIFY(offlineSaves > 0);

        // Back online, whatever waits is sent.
        QVERIFY(TDbMan(server).CheckUser(user, password));
        const TDbMan::OutboxSent sent = TDbMan(server).SendOutbox(user);
        QVERIFY2(sent.problem.isEmpty(), qPrintable(sent.problem));
        QCOMPARE(OutboxStore(server.asOffline()).count(user).saves, 0);
        useLedgerAsAdministrator();
        // Every save the till reported is there exactly once; none is there twice.
        QCOMPARE(home->server()->value(QStringLiteral("SELECT count(*) FROM (SELECT memo FROM records GROUP BY memo "
                                                      "HAVING count(*) > 1) AS doubled")),
            QStringLiteral("0"));
        QStringList memos;
        for (const QString& save : reported)
            memos << QLatin1Char('\'') + save + QStringLiteral("-0'");
        QCOMPARE(
            home->server()->value(
                QStringLiteral("SELECT count(*) FROM records WHERE memo IN (%1)").arg(memos.join(QLatin1Char(',')))),
            QString::number(reported.size()));
        QCOMPARE(home->server()->value(QStringLiteral("SELECT count(*) FROM records")).toLongLong() % 3, 0);
        qInfo("%lld saves reported (%d into the outbox) by %d runs of the till, %lld lines on the server; %d of %d "
              "stops immediate",
            qlonglong(reported.size()), offlineSaves, run,
            home->server()->value(QStringLiteral("SELECT count(*) FROM records")).toLongLong(), immediate, outages);
    }
};

KIVARO_TEST_MAIN(TestServerOutbox)
#include "tst_server_outbox.moc"
