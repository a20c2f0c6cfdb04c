// The ledger on a PostgreSQL server: its tables made once in an empty database, a foreign or newer one refused, the
// server gone and back, and the same data giving the same views and pages as the file.

#include "tests/support/LedgerSeed.h"
#include "base/Error.h"
#include "db/Backup.h"
#include "db/DbClass.h"
#include "db/KeptSession.h"
#include "db/Outbox.h"
#include "db/server/ServerStore.h"
#include "forms/LoginForm.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "reports/PrintForm.h"
#include "reports/ReportEngine.h"
#include "tests/TestUtil.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <libpq-fe.h>
#include <mutex>
#include <thread>

namespace {

// Stops or starts the test's server: pg_virtualenv's cluster, or the one KIVARO_TEST_CLUSTER names ("15 dev").
bool cluster(const QString& action, const QString& mode = QStringLiteral("immediate"))
{
    QString named = qEnvironmentVariable("KIVARO_TEST_CLUSTER");
    if (named.isEmpty())
        named = qEnvironmentVariable("PGVERSION", QStringLiteral("15")) + QStringLiteral(" regress");
    QStringList arguments = named.split(QLatin1Char(' '));
    arguments << action;
    if (action != QLatin1String("start"))
        arguments << QStringLiteral("-m") << mode;
    QProcess control;
    control.start(QStringLiteral("pg_ctlcluster"), arguments);
    return control.waitForFinished(60'000) && control.exitStatus() == QProcess::NormalExit && control.exitCode() == 0;
}

// Every text of every page of the report that a print button previews.
QStringList printedTexts(TfrmMain* form, const char* buttonName)
{
    QStringList texts;
    whenDialogShows("frmPrint", [&texts](QWidget* window) {
        auto* print = static_cast<TfrmPrint*>(window);
        for (int page = 1; page <= print->CompositeReport->pageCount(); ++page) {
            for (const auto& item : print->CompositeReport->page(page)->items())
                texts << item->text;
        }
        print->reject();
    });
    QTest::mouseClick(child<QPushButton>(form, buttonName), Qt::LeftButton);
    return texts;
}

// A client of the ledger's database as a role with its own password, as psql would be.
class AsRole
{
public:
    AsRole(const QString& database, const QString& role, const QString& password)
    {
        const QByteArray info = QStringLiteral("dbname=%1 user='%2' password='%3' application_name=psql")
                                    .arg(database, role, password)
                                    .toUtf8();
        m_connection = PQconnectdb(info.constData());
    }
    ~AsRole() { PQfinish(m_connection); }
    AsRole(const AsRole&) = delete;
    AsRole& operator=(const AsRole&) = delete;
    bool connected() const { return PQstatus(m_connection) == CONNECTION_OK; }
    // True when the statement ran; rows gets how many rows it returned or changed.
    bool run(const QString& statement, qint64* rows = nullptr) const
    {
        PGresult* result = PQexec(m_connection, statement.toUtf8().constData());
        const ExecStatusType status = PQresultStatus(result);
        if (rows)
            *rows = status == PGRES_TUPLES_OK ? PQntuples(result) : QByteArray(PQcmdTuples(result)).toLongLong();
        PQclear(result);
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    }
    QString value(const QString& query) const
    {
        PGresult* result = PQexec(m_connection, query.toUtf8().constData());
        const QString found = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0
            ? QString::fromUtf8(PQgetvalue(result, 0, 0))
            : QStringLiteral("(failed)");
        PQclear(result);
        return found;
    }

private:
    PGconn* m_connection;
};

// The whole shop's views as the lines give them: days in order with their sums and groups, the lines in the order of
// day and entry, the groups of a day in the order of their first line, the ranking by quantity, then first sale.
struct ShopViews
{
    QStringList days;
    std::vector<qint64> ids;
    QList<DayProductRow> groups;
    QList<RankingRow> ranking;
};

void addTo(SalesSums& sums, const SalesLine& line)
{
    sums.quantity += line.quantity;
    sums.received += line.received;
    sums.cost += line.cost;
}

QString dayText(const DayCount& day)
{
    return QStringLiteral("%1 %2/%3 %4 %5 %6")
        .arg(day.day.toString(Qt::ISODate))
        .arg(day.rows)
        .arg(day.lines)
        .arg(day.sums.quantity)
        .arg(day.sums.received)
        .arg(day.sums.cost);
}

QStringList dayTexts(const QList<DayCount>& days)
{
    QStringList texts;
    for (const DayCount& day : days)
        texts.append(dayText(day));
    return texts;
}

ShopViews expectedViews(QList<SalesLine> lines)
{
    std::sort(lines.begin(), lines.end(),
        [](const SalesLine& a, const SalesLine& b) { return std::pair(a.day, a.id) < std::pair(b.day, b.id); });
    ShopViews views;
    QList<DayCount> days;
    QList<qint64> groupFirst;
    QMap<QString, std::pair<qint64, SalesSums>> products;
    for (const SalesLine& line : std::as_const(lines)) {
        views.ids.push_back(line.id);
        if (days.isEmpty() || days.last().day != line.day)
            days.append({ line.day, 0, 0, {} });
        ++days.last().lines;
        addTo(days.last().sums, line);
        qsizetype group = views.groups.size() - 1;
        while (group >= 0 && views.groups.at(group).day == line.day
            && views.groups.at(group).productName != line.productName)
            --group;
        if (group < 0 || views.groups.at(group).day != line.day) {
            views.groups.append({ line.day, line.productName, {} });
            groupFirst.append(line.id);
            ++days.last().rows;
            group = views.groups.size() - 1;
        }
        addTo(views.groups[group].sums, line);
        auto& product = products[line.productName];
        product.first = product.first == 0 ? line.id : std::min(product.first, line.id);
        addTo(product.second, line);
    }
    views.days = dayTexts(days);
    std::vector<std::pair<qint64, RankingRow>> ranked;
    for (auto product = products.cbegin(); product != products.cend(); ++product)
        ranked.push_back({ product->first, { product.key(), product->second } });
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return std::pair(-a.second.sums.quantity, a.first) < std::pair(-b.second.sums.quantity, b.first);
    });
    for (const auto& row : ranked)
        views.ranking.append(row.second);
    return views;
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    const QString user = QStringLiteral("张三");

    QString server(const QString& query) { return home->server()->value(query); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!testingOnServer())
            QFAIL("needs a server: run under pg_virtualenv with KIVARO_TEST_SERVER=1");
    }
    void init()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
    }
    void cleanup()
    {
        hooks.reset();
        home.reset();
        // A window that went offline chose the outbox for the process.
        setCurrentLedger(std::nullopt);
    }

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
            try {
                addLines(db, user, { line });
                QFAIL("the save went through while another till held the user's turn");
            } catch (const KivaroError& error) {
                const QString expected = freezeServer ? QStringLiteral("没有回应") : QStringLiteral("已经取消");
                QVERIFY2(error.text().contains(expected), qPrintable(error.text()));
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
        addLines(TDbMan(), user, { SalesLine { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 200, 100, QString() } });
        LedgerLocation ledger = currentLedger();
        if (change.isEmpty())
            ledger.connection += QStringLiteral(" options='-c search_path=public'");
        else
            QVERIFY(home->server()->exec(change));
        try {
            addLines(TDbMan(ledger), 
                user, { SalesLine { 0, QDate(2024, 5, 2), QStringLiteral("牙刷"), 1, 300, 100, QString() } });
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
        for (const char* table :
            { "records", "day_sums", "day_product_sums", "product_names", "pending_lines", "saves", "changes" }) {
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
        QVERIFY(cashier.run(QStringLiteral("DELETE FROM records WHERE id = %1").arg(id), &rows));
        QCOMPARE(rows, 1);
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
        QCOMPARE(cashier.value(QStringLiteral("SELECT count(*) FROM shop_day_sums")), QStringLiteral("0"));

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
        QVERIFY(hostile.run(QStringLiteral("COMMIT")));

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
        addLines(TDbMan(currentLedger().asAdministrator()),
            QStringLiteral("李四"),
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

    void olderLedgerIsUpgraded_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("nameless");
        QTest::newRow("before kept lines and the record of changes") << 1 << false;
        QTest::newRow("one shared role, hashes in users") << 2 << false;
        QTest::newRow("no sums of the whole shop") << 3 << false;
        QTest::newRow("the shop's sums among the users'") << 4 << false;
        QTest::newRow("a line of no name") << 4 << true;
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
        // no name was counted in both.
        QVERIFY(home->server()->exec(
            QStringLiteral("DROP TABLE shop_day_sums, shop_day_product_sums; DROP INDEX records_by_day; %1")
                .arg(version < 4 || nameless
                        ? QString()
                        : QStringLiteral("INSERT INTO day_sums SELECT '', day, lines, products, quantity, "
                                         "received, cost FROM day_sums; INSERT INTO day_product_sums SELECT "
                                         "'', day, product_name, lines, first_id, quantity, received, cost "
                                         "FROM day_product_sums"))));
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
            // A till of the earlier version is saving a line as the upgrade begins (its triggers go with the
            // functions the upgrade replaces): the upgrade waits for it, and the shop's sums count its line.
            const AsRole earlierTill(
                home->server()->name(), qEnvironmentVariable("PGUSER"), qEnvironmentVariable("PGPASSWORD"));
            QVERIFY(earlierTill.run(QStringLiteral("DROP FUNCTION records_add_to_sums CASCADE; BEGIN; INSERT INTO "
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
            QCOMPARE(TDbMan().QueryRanking(shop).size(), 2);
            QCOMPARE(server(QStringLiteral("SELECT count(*) FROM day_sums WHERE user_name = ''")), QStringLiteral("0"));
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
        QCOMPARE(server.QueryRanking(range), file.QueryRanking(range));
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

    // An owner chooses whose lines the page shows; the shop's and another's are shown and printed under their name,
    // and only the owner's own can be edited or deleted.
    // A till that stops answering in the middle of a save holds the whole shop's sums: the server drops it before
    // another account's save gives up waiting.
    void frozenTillHoldsUpOthersOnlyMoments()
    {
        const QString other = QStringLiteral("李四");
        TDbMan admin;
        QVERIFY(admin.AddUser(user, QStringLiteral("pw1")));
        QVERIFY(admin.AddUser(other, QStringLiteral("pw2")));
        const AsRole frozen(home->server()->name(), user, QStringLiteral("pw1"));
        QVERIFY(
            frozen.run(QStringLiteral("BEGIN; INSERT INTO records (user_name, day, product_name, quantity, received, "
                                      "cost, memo) VALUES ('%1', '2024-05-01', '毛巾', 1, 100, 50, '')")
                           .arg(user)));
        QElapsedTimer waited;
        waited.start();
        addLines(admin, other, { SalesLine { 0, QDate(2024, 5, 1), QStringLiteral("牙刷"), 1, 200, 100, other } });
        qInfo("the save waited %lld ms for the frozen till", waited.elapsed());
        QVERIFY(!frozen.run(QStringLiteral("COMMIT")));
        QCOMPARE(admin.QueryDays({ {}, QDate(2024, 5, 1), QDate(2024, 5, 1), true }).first().sums,
            (SalesSums { 1, 200, 100 }));

        // With psql he may keep his transaction open on purpose: the save that waited too long names him.
        const AsRole holding(home->server()->name(), user, QStringLiteral("pw1"));
        QVERIFY(holding.run(QStringLiteral("BEGIN; INSERT INTO records (user_name, day, product_name, quantity, "
                                           "received, cost, memo) VALUES ('%1', '2024-05-02', '毛巾', 1, 100, 50, ''); "
                                           "SET idle_in_transaction_session_timeout = 0")
                                .arg(user)));
        try {
            addLines(admin, other, { SalesLine { 0, QDate(2024, 5, 2), QStringLiteral("牙刷"), 1, 200, 100, other } });
            QFAIL("a save went past a held lock");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("帐户“%1”").arg(user)), qPrintable(error.text()));
        }
        QVERIFY(holding.run(QStringLiteral("ROLLBACK")));
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
        addLines(TDbMan(first.asOffline()),
            user, { { 0, QDate(2024, 8, 1), QStringLiteral("毛巾"), 1, 100, 50, QStringLiteral("旧地址") } });
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
        addLines(TDbMan(server.asOffline()),
            user, { { 0, QDate(2024, 8, 1), QStringLiteral("毛巾"), 1, 100, 50, QStringLiteral("离线") } });
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

        // The till sells while the server stops and starts and the till is killed, each at random moments.
        const int outages
            = qEnvironmentVariableIsSet("KIVARO_OUTAGES") ? qEnvironmentVariableIntValue("KIVARO_OUTAGES") : 100;
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
        QVERIFY2(reported.size() > 100, qPrintable(QString::number(reported.size())));
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

KIVARO_TEST_MAIN(TestServer)
#include "tst_server.moc"
