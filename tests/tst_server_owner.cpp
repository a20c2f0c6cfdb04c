// The server ledger: the shop's owner: the same views and pages as a file ledger, the whole shop, whose lines the page
// shows.

#include "tests/ServerTestCase.h"

class TestServerOwner : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { requireServer(); }
    void init() { setUpTest(); }
    void cleanup() { tearDownTest(); }

    // The same lines in the file and on the server: the four views, their totals and their printed pages agree.
    void sameDataGivesTheSameViewsAndPages()
    {
        QVERIFY(QDir().mkpath(home->dataDir()));
        TDbMan file(home->dataDir());
        TDbMan server;
        const QStringList names { QStringLiteral("毛巾"), QStringLiteral("牙刷"), QStringLiteral("O'Brien \"皂\""),
            QStringLiteral("  空格  "), QStringLiteral("香皂"), QChar(0xD83D) + QStringLiteral("半个表情") };
        QList<SalesLine> lines;
        for (int i = 0; i < 400; ++i) {
            const int sign = i % 9 == 0 ? -1 : 1;
            lines.append({ 0, QDate(2024, 1 + i % 3, 1 + i % 27), names.at(i * 7 % names.size()), sign * (1 + i % 4),
                sign * (i * 137 % 100'000), sign * (i * 71 % 50'000), QStringLiteral("备注%1").arg(i % 5) });
        }
        for (TDbMan* db : { &file, &server }) {
            addLines(*db, user, lines.mid(0, 250));
            addLines(*db, user, lines.mid(250));
        }
        const SalesRange range { user, QDate(2024, 1, 1), QDate(2024, 3, 31) };
        QCOMPARE(server.QueryDays(range).size(), file.QueryDays(range).size());
        // Whole months alone, and with days at either end.
        for (const SalesRange& within : { range, SalesRange { user, QDate(2024, 1, 15), QDate(2024, 3, 10) },
                 SalesRange { user, QDate(2024, 2, 1), QDate(2024, 3, 20) } })
            QCOMPARE(server.QueryRanking(within), file.QueryRanking(within));
        QStringList fileLists[4], serverLists[4];
        queryReport(file, user, QStringLiteral("2024/01/01"), QStringLiteral("2024/03/31"), fileLists[0], fileLists[1],
            fileLists[2], fileLists[3]);
        queryReport(server, user, QStringLiteral("2024/01/01"), QStringLiteral("2024/03/31"), serverLists[0],
            serverLists[1], serverLists[2], serverLists[3]);
        for (int list = 0; list < 4; ++list)
            QCOMPARE(serverLists[list], fileLists[list]);

        QStringList pages[2];
        QStringList totals[2];
        for (int kind = 0; kind < 2; ++kind) {
            setCurrentLedger(kind == 0 ? std::optional(file.location()) : std::nullopt);
            std::unique_ptr<TfrmMain> form = openReviewWindow(user);
            child<QDateEdit>(form.get(), "DateTimePicker2")->setDate(range.first);
            child<QDateEdit>(form.get(), "DateTimePicker3")->setDate(range.last);
            QTest::mouseClick(child<QPushButton>(form.get(), "Button7"), Qt::LeftButton);
            for (const char* label : { "Label19", "Label22", "Label23", "Label24" })
                totals[kind] << child<QLabel>(form.get(), label)->text();
            for (const char* button : { "Button8", "Button13", "Button14", "Button15" })
                pages[kind] << printedTexts(form.get(), button);
        }
        setCurrentLedger(std::nullopt);
        QVERIFY(totals[0].first().startsWith(QStringLiteral("数量：")));
        QCOMPARE(totals[1], totals[0]);
        QVERIFY(pages[0].size() > 400);
        QCOMPARE(pages[1], pages[0]);
    }

    // Two owners and three cashiers saving, editing and deleting at once: each cashier reviews his own lines and
    // nothing else; an owner's 全店 is every account's lines together, in the sums the triggers keep for the shop.
    void ownersReviewTheWholeShop()
    {
        const QStringList owners { QStringLiteral("店主甲"), QStringLiteral("店主乙") };
        const QStringList cashiers { QStringLiteral("收银一"), QStringLiteral("收银二"), QStringLiteral("收银三") };
        const QStringList everyone = owners + cashiers;
        const QDate first(2024, 3, 1), last(2024, 3, 6);
        const QStringList products { QStringLiteral("毛巾"), QStringLiteral("牙刷"), QStringLiteral("香皂") };
        {
            TDbMan admin;
            for (const QString& name : everyone)
                QVERIFY(admin.AddUser(name, QStringLiteral("pw-") + name));
            for (const QString& name : owners)
                QVERIFY(admin.SetShopOwner(name));
        }
        // Every save, edit and delete of anyone changes the shop's rows of its day.
        std::vector<std::thread> tills;
        QStringList failures;
        std::mutex failed;
        for (int till = 0; till < everyone.size(); ++till) {
            tills.emplace_back([&, till] {
                try {
                    TDbMan db;
                    const QString name = everyone.at(till);
                    QRandomGenerator rng(quint32(till + 1));
                    for (int round = 0; round < 40; ++round) {
                        QList<SalesLine> lines;
                        for (int i = rng.bounded(1, 4); i > 0; --i)
                            lines.append({ 0, first.addDays(rng.bounded(6)), products.at(rng.bounded(3)),
                                rng.bounded(-2, 9), rng.bounded(100, 9000), rng.bounded(50, 4000), name });
                        addLines(db, name, lines);
                        if (round % 3 != 2)
                            continue;
                        const QList<SalesLine> stored = db.QueryLineWindow({ name, first, last }, first, 0, 1000);
                        SalesLine seen = stored.at(rng.bounded(int(stored.size())));
                        if (round % 2)
                            db.DeleteLine(name, seen);
                        else
                            db.UpdateLine(name, seen,
                                { seen.id, first.addDays(rng.bounded(6)), products.at(rng.bounded(3)),
                                    seen.quantity + 1, seen.received, seen.cost, seen.memo });
                    }
                } catch (const std::exception& error) {
                    const auto* own = dynamic_cast<const KivaroError*>(&error);
                    const std::lock_guard lock(failed);
                    failures.append(own ? own->text() : QString::fromLocal8Bit(error.what()));
                }
            });
        }
        for (std::thread& till : tills)
            till.join();
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));

        QMap<QString, QList<SalesLine>> linesOf;
        QList<SalesLine> all;
        for (const QString& name : everyone) {
            linesOf[name] = TDbMan().QueryLineWindow({ name, first, last }, first, 0, 1000);
            QVERIFY(!linesOf[name].isEmpty());
            all += linesOf[name];
        }
        const auto showsAsExpected = [&](TDbMan& db, const SalesRange& range, const QList<SalesLine>& lines) {
            const ShopViews expected = expectedViews(lines);
            const std::shared_ptr<const ViewSnapshot> view = db.QueryView(range);
            QCOMPARE(dayTexts(view->days), expected.days);
            QCOMPARE(view->lineIds, expected.ids);
            QCOMPARE(db.QueryDayProductWindow(range, first, 0, 1000), expected.groups);
            QCOMPARE(db.QueryRanking(range), expected.ranking);
            // The whole month around the days, read from the month sums the edits and deletes kept.
            QCOMPARE(db.QueryRanking({ range.userName, QDate(2024, 3, 1), QDate(2024, 3, 31), range.shop }),
                expected.ranking);
            QList<SalesLine> read = db.LinesAsRead(*view, view->lineIds);
            QList<SalesLine> sorted = lines;
            const auto byId = [](const SalesLine& a, const SalesLine& b) { return a.id < b.id; };
            std::sort(read.begin(), read.end(), byId);
            std::sort(sorted.begin(), sorted.end(), byId);
            QCOMPARE(read, sorted);
        };
        const SalesRange shop { QString(), first, last, true };
        for (const QString& name : cashiers) {
            TDbMan db;
            QVERIFY(db.CheckUser(name, QStringLiteral("pw-") + name));
            QCOMPARE(db.ReviewableAccounts(name), std::nullopt);
            showsAsExpected(db, { name, first, last }, linesOf[name]);
            if (QTest::currentTestFailed())
                return;
            // Neither the shop's rows nor another's lines reach a cashier, whatever the program asks for.
            QVERIFY_THROWS_EXCEPTION(KivaroError, db.QueryView(shop));
            QVERIFY(db.QueryDays(shop).isEmpty());
            QVERIFY(db.QueryView({ owners.first(), first, last })->lineIds.empty());
        }
        for (const QString& name : owners) {
            TDbMan db;
            QVERIFY(db.CheckUser(name, QStringLiteral("pw-") + name));
            QStringList others = everyone;
            others.removeOne(name);
            std::sort(others.begin(), others.end(),
                [](const QString& a, const QString& b) { return QString::localeAwareCompare(a, b) < 0; });
            QCOMPARE(db.ReviewableAccounts(name), std::optional(others));
            showsAsExpected(db, shop, all);
            showsAsExpected(db, { cashiers.first(), first, last }, linesOf[cashiers.first()]);
            if (QTest::currentTestFailed())
                return;
            // Others' lines are read-only, to an owner too.
            const SalesLine theirs = linesOf[cashiers.first()].first();
            QVERIFY_THROWS_EXCEPTION(KivaroError, db.DeleteLine(cashiers.first(), theirs));
            QVERIFY_THROWS_EXCEPTION(KivaroError, db.DeleteLine(name, theirs));
        }
        useLedgerAsAdministrator();
        QCOMPARE(TDbMan().QueryView(shop)->lineIds.size(), all.size());
        // A file ledger has no shop to show.
        QVERIFY_THROWS_EXCEPTION(KivaroError, TDbMan(home->dataDir()).QueryDays(shop));
    }

    void ownerChoosesWhoseLinesThePageShows()
    {
        const QString owner = QStringLiteral("店主甲");
        const QString cashier = QStringLiteral("收银一");
        {
            TDbMan admin;
            QVERIFY(admin.AddUser(owner, QStringLiteral("pw")));
            QVERIFY(admin.AddUser(cashier, QStringLiteral("pw")));
            QVERIFY(admin.SetShopOwner(owner));
            addLines(admin, owner, { { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 1000, 500, {} } });
            addLines(admin, cashier, { { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 2, 2000, 1000, {} } });
            // No new account may take a name the chooser offers; one made before is shown as an account.
            try {
                admin.AddUser(QStringLiteral("全店"), QStringLiteral("pw"));
                QFAIL("an account named 全店 was made");
            } catch (const KivaroError& error) {
                QVERIFY2(error.text().contains(QStringLiteral("不能用作用户名")), qPrintable(error.text()));
            }
            QVERIFY(home->server()->exec(QStringLiteral("INSERT INTO users (user_name) VALUES ('全店')")));
        }
        QVERIFY(TDbMan().CheckUser(cashier, QStringLiteral("pw")));
        QVERIFY(!child<QComboBox>(openReviewWindow(cashier).get(), "ComboBoxAccount")->isVisibleTo(nullptr));
        QVERIFY(TDbMan().CheckUser(owner, QStringLiteral("pw")));
        std::unique_ptr<TfrmMain> form = openReviewWindow(owner);
        auto* whose = child<QComboBox>(form.get(), "ComboBoxAccount");
        QVERIFY(whose->isVisibleTo(form.get()));
        QCOMPARE(whose->count(), 4);
        QCOMPARE(whose->itemText(0), QStringLiteral("我的"));
        QCOMPARE(whose->itemText(1), QStringLiteral("全店"));
        const int cashierAt = whose->findText(cashier);
        QVERIFY(cashierAt >= 2);
        const int namedLikeShop = whose->findText(QStringLiteral("帐户“全店”"));
        QVERIFY(namedLikeShop >= 2);
        QCOMPARE(whose->itemData(namedLikeShop).toString(), QStringLiteral("全店"));
        child<QDateEdit>(form.get(), "DateTimePicker2")->setDate(QDate(2024, 5, 1));
        child<QDateEdit>(form.get(), "DateTimePicker3")->setDate(QDate(2024, 5, 31));
        auto* detail = child<QTreeView>(form.get(), "ListView2");
        const auto show = [&](int chosen) {
            whose->setCurrentIndex(chosen);
            QTest::mouseClick(child<QPushButton>(form.get(), "Button7"), Qt::LeftButton);
            detail->selectionModel()->select(
                detail->model()->index(0, 1), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        };
        const auto canChange = [&] {
            return child<QPushButton>(form.get(), "Button10")->isEnabled()
                && child<QPushButton>(form.get(), "Button11")->isEnabled();
        };
        show(1);
        QCOMPARE(detail->model()->rowCount(), 2);
        QVERIFY(child<QLabel>(form.get(), "Label19")->text().startsWith(QStringLiteral("数量：3")));
        QVERIFY(!canChange());
        const QStringList printed = printedTexts(form.get(), "Button8");
        QVERIFY2(printed.contains(QStringLiteral("全店")), qPrintable(printed.join(QLatin1Char('|'))));
        QVERIFY(!printed.contains(owner));
        show(cashierAt);
        QCOMPARE(detail->model()->rowCount(), 1);
        QVERIFY(!canChange());
        QVERIFY(printedTexts(form.get(), "Button13").contains(cashier));
        show(0);
        QCOMPARE(detail->model()->rowCount(), 1);
        QVERIFY(canChange());
        useLedgerAsAdministrator();
    }
};

KIVARO_TEST_MAIN(TestServerOwner)
#include "tst_server_owner.moc"
