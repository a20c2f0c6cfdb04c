#include "bench/BenchCases.h"
#include "bench/RawPq.h"
#include "tests/support/DataHome.h"
#include "tests/support/LedgerSeed.h"

#include "db/DbClass.h"
#include "db/KeptSession.h"
#include "db/Outbox.h"
#include "db/server/ServerStore.h"
#include "forms/MainForm.h"
#include "forms/SalesModels.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QScopeGuard>
#include <QThread>
#include <QTreeView>
#include <arpa/inet.h>
#include <cstdio>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The server lists the store's connection under this name, so that the statements it sent can be read back.
const char* const kStoreApplication = "kivaro_bench_store";

// The server data, loaded at the first server case; null when the server cases do not run.
const ServerData* serverData(BenchContext& context)
{
    if (!context.serverSkipped.isEmpty())
        return nullptr;
    if (!context.server) {
        const QString database = context.config.serverDatabase.isEmpty()
            ? QStringLiteral("kivaro_bench_%1").arg(context.config.data.rows)
            : context.config.serverDatabase;
        context.server = ServerData::prepare(context.data, database);
    }
    return &*context.server;
}

// A store already connected, under kStoreApplication.
std::unique_ptr<TDbMan> namedStore(const LedgerLocation& location)
{
    auto store = std::make_unique<TDbMan>(location);
    qputenv("PGAPPNAME", kStoreApplication);
    QStringList names;
    store->GetUserNames(&names);
    qunsetenv("PGAPPNAME");
    return store;
}

// The text of the statement the named store ran last, as the server received it.
std::string lastStatement(PgConnection& raw)
{
    const PgResult rows = raw.execParams("SELECT query FROM pg_stat_activity WHERE datname = current_database() "
                                         "AND application_name = $1",
        { kStoreApplication });
    check(rows.rows() == 1, QStringLiteral("the server lists %1 connections of the store").arg(rows.rows()));
    // The list keeps the first track_activity_query_size bytes (1024 unless set otherwise) of a statement.
    check(rows.length(0, 0) < 1023, QStringLiteral("the server's list of activity cut a statement short"));
    return rows.value(0, 0);
}

struct Window
{
    QDate day;
    qint64 offset = 0;
    int count = 0;
};

constexpr int kWindow = 256;

// Windows of 256 rows, each within one day, from the range's first row to its last.
std::vector<Window> windowsOf(const QList<DayCount>& days, bool rowsAreLines)
{
    std::vector<Window> windows;
    for (const DayCount& day : days) {
        const qint64 rows = rowsAreLines ? day.lines : day.rows;
        for (qint64 offset = 0; offset < rows; offset += kWindow)
            windows.push_back({ day.day, offset, int(qMin<qint64>(kWindow, rows - offset)) });
    }
    return windows;
}

// The statements behind the review: the days, a window of lines, a window of day-and-product rows, the ranking.
struct ReviewStatements
{
    std::string days;
    std::string lines;
    std::string groups;
};

// What a reading of the review returned, to tell that both sides read the same.
struct ReadFigures
{
    qint64 statements = 0;
    qint64 days = 0;
    qint64 lines = 0;
    qint64 quantity = 0;
    qint64 groups = 0;
    qint64 ranking = 0;
    QString firstProduct;

    bool operator==(const ReadFigures&) const = default;
    QString text() const
    {
        return QStringLiteral("%1 statements, %2 days, %3 lines (quantity %4), %5 day-and-product rows, %6 products "
                              "ranked, first %7")
            .arg(statements)
            .arg(days)
            .arg(lines)
            .arg(quantity)
            .arg(groups)
            .arg(ranking)
            .arg(firstProduct);
    }
};

// The windows of one reading: every line window and every day-and-product window of the range.
struct ReviewWindows
{
    std::vector<Window> lines;
    std::vector<Window> groups;
};

ReadFigures storeRead(TDbMan& db, const SalesRange& range, const ReviewWindows& windows)
{
    ReadFigures figures;
    figures.days = db.QueryDays(range).size();
    for (const Window& window : windows.lines) {
        const QList<SalesLine> lines = db.QueryLineWindow(range, window.day, window.offset, window.count);
        figures.lines += lines.size();
        for (const SalesLine& line : lines)
            figures.quantity += line.quantity;
    }
    for (const Window& window : windows.groups)
        figures.groups += db.QueryDayProductWindow(range, window.day, window.offset, window.count).size();
    const QList<RankingRow> ranking = db.QueryRanking(range);
    figures.ranking = ranking.size();
    figures.firstProduct = ranking.value(0).productName;
    figures.statements = 2 + qint64(windows.lines.size() + windows.groups.size());
    return figures;
}

qint64 columnSum(const PgResult& rows, const char* column)
{
    const int at = PQfnumber(rows.get(), column);
    check(at >= 0, QStringLiteral("no column %1 in the store's statement").arg(QString::fromLatin1(column)));
    qint64 sum = 0;
    for (int row = 0; row < rows.rows(); ++row)
        sum += rows.integer(row, at);
    return sum;
}

// The same statements through libpq, with the same values, every value of every row read into a string.
ReadFigures rawRead(
    PgConnection& db, const ReviewStatements& sql, const SalesRange& range, const ReviewWindows& windows)
{
    const std::string user = range.userName.toStdString();
    const std::string last = dayStd(range.last);
    std::vector<std::string> texts;
    const auto run = [&](const std::string& statement, std::vector<std::string> values) {
        PgResult rows = db.execParams(statement, values);
        texts.clear();
        rows.readAll(texts);
        return rows;
    };
    const auto windowValues = [&](const Window& window) {
        return std::vector<std::string> { user, dayStd(window.day), last, std::to_string(window.count),
            std::to_string(window.offset) };
    };
    ReadFigures figures;
    figures.days = run(sql.days, { user, dayStd(range.first), last }).rows();
    for (const Window& window : windows.lines) {
        const PgResult rows = run(sql.lines, windowValues(window));
        figures.lines += rows.rows();
        figures.quantity += columnSum(rows, "quantity");
    }
    for (const Window& window : windows.groups)
        figures.groups += run(sql.groups, windowValues(window)).rows();
    // The ranking's statement is longer than the server's list of activity keeps: it is the store's own.
    const auto [rankingText, rankingBytes] = ServerStore::rankingQuery(range);
    std::vector<std::string> rankingValues;
    for (const QByteArray& value : rankingBytes)
        rankingValues.push_back(value.toStdString());
    const PgResult ranking = run(rankingText.toStdString(), rankingValues);
    figures.ranking = ranking.rows();
    figures.firstProduct = ranking.rows() > 0 ? ranking.text(0, 0) : QString();
    figures.statements = 2 + qint64(windows.lines.size() + windows.groups.size());
    return figures;
}

// The windows QueryReport reads: each day whole.
ReviewWindows wholeDays(const QList<DayCount>& days)
{
    ReviewWindows windows;
    for (const DayCount& day : days) {
        windows.lines.push_back({ day.day, 0, int(day.lines) });
        windows.groups.push_back({ day.day, 0, int(day.rows) });
    }
    return windows;
}

// The CPU seconds this thread spends in each timed run, beside the clock's figure: what is not CPU is the wait for
// the server.
class CpuTimes
{
public:
    template <typename Work> double time(Work&& work)
    {
        const double cpu = threadCpuSeconds();
        const Stopwatch clock;
        work();
        const double seconds = clock.seconds();
        m_runs.push_back(threadCpuSeconds() - cpu);
        return seconds;
    }
    // Milliseconds, the median of the last runs, so that the warm-ups are left out.
    double medianMs(int runs) const { return Stats::of({ m_runs.end() - runs, m_runs.end() }).median * 1000; }

private:
    std::vector<double> m_runs;
};

QString cpuNote(const CpuTimes& own, const CpuTimes& raw, int runs)
{
    return QStringLiteral("client CPU per run (median): the store %1 ms, libpq %2 ms")
        .arg(own.medianMs(runs), 0, 'f', 1)
        .arg(raw.medianMs(runs), 0, 'f', 1);
}

// One user-year near the end of the data, as case 1 reads it.
SalesRange userYear(const SalesData& data)
{
    const int year = data.params.firstYear + data.params.years - 2;
    return { data.users.first(), QDate(year, 1, 1), QDate(year, 12, 31) };
}

QString readsName(char key, qint64 lines)
{
    return key == 'a'
        ? QStringLiteral("S1a. server: QueryDays, every line and day-and-product window (%1 lines), QueryRanking of "
                         "one user-year vs the same statements through libpq")
              .arg(lines)
        : QStringLiteral("S1b. server: QueryReport, one user-year (%1 lines) vs the same statements through libpq")
              .arg(lines);
}

void benchReviewReads(BenchContext& context, const ServerData& server, const SalesRange& range, qint64 expected)
{
    const SalesData& data = context.data;

    const std::unique_ptr<TDbMan> store = namedStore(server.location);
    PgConnection raw(server.conninfo);
    // Each statement is taken from what the store sent, so that both sides run the very same text.
    ReviewStatements sql;
    const QList<DayCount> days = store->QueryDays(range);
    sql.days = lastStatement(raw);
    check(!days.isEmpty(), QStringLiteral("the server holds no days for the range"));
    store->QueryLineWindow(range, days.first().day, 0, 1);
    sql.lines = lastStatement(raw);
    store->QueryDayProductWindow(range, days.first().day, 0, 1);
    sql.groups = lastStatement(raw);
    store->QueryRanking(range);

    const ReviewWindows scrolled { windowsOf(days, true), windowsOf(days, false) };
    ReadFigures ownFigures, rawFigures;
    CpuTimes ownCpu, rawCpu;
    Result windows = measure(
        readsName('a', expected), context.config.plan,
        [&] { return ownCpu.time([&] { ownFigures = storeRead(*store, range, scrolled); }); },
        [&] { return rawCpu.time([&] { rawFigures = rawRead(raw, sql, range, scrolled); }); });
    check(ownFigures == rawFigures,
        QStringLiteral("the store and libpq read different rows: %1 / %2").arg(ownFigures.text(), rawFigures.text()));
    check(ownFigures.lines == expected && ownFigures.days == data.countDays(range.userName, range.first, range.last),
        QStringLiteral("the server's review holds %1, the file %2 lines").arg(ownFigures.text()).arg(expected));
    windows.target = Target::ratio(1.3);
    windows.note = QStringLiteral("%1; windows of %2 rows, each within a day, from the first row to the last; %3")
                       .arg(ownFigures.text())
                       .arg(kWindow)
                       .arg(cpuNote(ownCpu, rawCpu, context.config.plan.runs));
    context.results.push_back(windows);

    const ReviewWindows perDay = wholeDays(days);
    QStringList lists[4];
    CpuTimes reportCpu, perDayCpu;
    Result report = measure(
        readsName('b', expected), context.config.plan,
        [&] {
            QStringList fresh[4];
            const double seconds = reportCpu.time([&] {
                queryReport(*store, range.userName, range.first.toString(QStringLiteral("yyyy/MM/dd")),
                    range.last.toString(QStringLiteral("yyyy/MM/dd")), fresh[0], fresh[1], fresh[2], fresh[3]);
            });
            for (int i = 0; i < 4; ++i)
                std::swap(lists[i], fresh[i]);
            return seconds;
        },
        [&] { return perDayCpu.time([&] { rawFigures = rawRead(raw, sql, range, perDay); }); });
    check(lists[0].size() == rawFigures.lines * 7 && lists[1].size() == rawFigures.days * 5
            && lists[2].size() == rawFigures.groups * 6 && lists[3].size() == rawFigures.ranking * 5
            && rawFigures.lines == expected,
        QStringLiteral("QueryReport returned %1, %2, %3 and %4 texts; libpq read %5")
            .arg(lists[0].size())
            .arg(lists[1].size())
            .arg(lists[2].size())
            .arg(lists[3].size())
            .arg(rawFigures.text()));
    report.target = Target::ratio(1.3);
    report.note = QStringLiteral("%1 statements: the days, each day's lines and day-and-product rows, the ranking; %2")
                      .arg(rawFigures.statements)
                      .arg(cpuNote(reportCpu, perDayCpu, context.config.plan.runs));
    context.results.push_back(report);
}

} // namespace

namespace {

// The ledger's account as a role of the server with a password of the benchmark's, in the ledger's group; an owner
// of the shop if asked.
QString makeAccountRole(const ServerData& server, const QString& user, bool owner)
{
    const QString password = QStringLiteral("kivaro-bench");
    QStringList names;
    TDbMan(server.location).GetUserNames(&names);
    PgConnection admin(server.conninfo);
    const QString role
        = QLatin1Char('"') + QString(user).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    const bool exists
        = admin.execParams("SELECT 1 FROM pg_roles WHERE rolname = $1", { user.toStdString() }).rows() > 0;
    admin.exec(QStringLiteral("%1 ROLE %2 LOGIN PASSWORD ").arg(exists ? "ALTER" : "CREATE", role).toUtf8()
        + admin.literal(password));
    admin.exec(QStringLiteral("GRANT \"%1_accounts\" TO %2").arg(server.database, role).toUtf8());
    admin.execParams("UPDATE users SET needs_password = false, shop_owner = $2 WHERE user_name = $1",
        { user.toStdString(), owner ? "true" : "false" });
    return password;
}

} // namespace

void benchServerRowSecurity(BenchContext& context)
{
    const SalesRange range = userYear(context.data);
    const qint64 lines = context.data.countLines(range.userName, range.first, range.last);
    const QString name = QStringLiteral("S4. server: the reads of S1a (%1 lines) as the account, through row-level "
                                        "security, vs as the administrator, who bypasses it")
                             .arg(lines);
    const ServerData* server = serverData(context);
    if (!server) {
        context.results.push_back(skippedResult(name, Target::ratio(1.2), context.serverSkipped));
        return;
    }
    const QString password = makeAccountRole(*server, range.userName, false);
    // A connection text of its own, so that only this store logs in as the account.
    TDbMan account(
        LedgerLocation::server(server->location.connection + QStringLiteral(" application_name=kivaro_account")));
    check(account.CheckUser(range.userName, password), QStringLiteral("the account could not log in"));
    TDbMan administrator(server->location);
    const QList<DayCount> days = administrator.QueryDays(range);
    const ReviewWindows scrolled { windowsOf(days, true), windowsOf(days, false) };
    ReadFigures asAccount, asAdministrator;
    Result result = measure(
        name, context.config.plan,
        [&] {
            const Stopwatch clock;
            asAccount = storeRead(account, range, scrolled);
            return clock.seconds();
        },
        [&] {
            const Stopwatch clock;
            asAdministrator = storeRead(administrator, range, scrolled);
            return clock.seconds();
        });
    check(asAccount == asAdministrator && asAccount.lines == lines,
        QStringLiteral("the account read %1, the administrator %2").arg(asAccount.text(), asAdministrator.text()));
    result.target = Target::ratio(1.2);
    result.note = QStringLiteral("%1; the same store and statements, only the role differs").arg(asAccount.text());
    context.results.push_back(result);
}

void benchServerQueries(BenchContext& context)
{
    const SalesRange range = userYear(context.data);
    const qint64 lines = context.data.countLines(range.userName, range.first, range.last);
    const ServerData* server = serverData(context);
    if (!server) {
        for (const char key : { 'a', 'b' })
            context.results.push_back(skippedResult(readsName(key, lines), Target::ratio(1.3), context.serverSkipped));
        return;
    }
    benchReviewReads(context, *server, range, lines);
}

namespace {

// The user's sums on a day, in day_sums and day_product_sums.
QString daySnapshot(PgConnection& db, const QString& user, const QDate& day)
{
    const PgResult rows = db.execParams(
        "SELECT (SELECT lines || ' ' || products || ' ' || quantity || ' ' || received || ' ' || cost FROM day_sums "
        "WHERE user_name = $1 AND day = $2), (SELECT count(*) || ' ' || sum(lines) || ' ' || sum(first_id) || ' ' || "
        "sum(received) FROM day_product_sums WHERE user_name = $1 AND day = $2)",
        { user.toStdString(), dayStd(day) });
    return rows.text(0, 0) + QLatin1Char('/') + rows.text(0, 1);
}

// A fingerprint of the lines stored after a given id, to tell that two ways of saving stored the same.
QString storedAfter(PgConnection& db, qint64 id)
{
    const PgResult rows
        = db.execParams("SELECT count(*), sum(quantity), sum(received), sum(cost), md5(string_agg(day || '|' || "
                        "product_name || '|' || memo || '|' || user_name, E'\\n' ORDER BY id)) FROM records "
                        "WHERE id > $1",
            { std::to_string(id) });
    QStringList parts;
    for (int column = 0; column < rows.columns(); ++column)
        parts << rows.text(0, column);
    return parts.join(QLatin1Char(' '));
}

// Takes back the lines stored after lastId and every save token, and checks that the day's sums are as before. The
// dead rows of a run go before the next, so that autovacuum does not start in the middle of one.
void removeLinesAfter(PgConnection& raw, qint64 lastId, const QString& user, const QDate& day, const QString& before)
{
    raw.execParams("DELETE FROM records WHERE id > $1", { std::to_string(lastId) });
    raw.exec("DELETE FROM saves");
    check(daySnapshot(raw, user, day) == before, QStringLiteral("deleting the stored lines left other day sums"));
    raw.exec("VACUUM records, day_sums, day_product_sums, saves");
}

} // namespace

void benchServerSave(BenchContext& context)
{
    const QString name = QStringLiteral("S2. server: AddLines (完成) of %1 lines vs a raw one-transaction insert, "
                                        "a prepared INSERT per row")
                             .arg(context.config.saveLines);
    const ServerData* server = serverData(context);
    if (!server) {
        context.results.push_back(skippedResult(name, Target::ratio(1.5), context.serverSkipped));
        return;
    }
    const SalesData& data = context.data;
    const QString user = data.users.at(1);
    const QDate day = data.params.lastDay();
    // The lines of case 3.
    LineMaker maker(data.params.seed ^ 0x5a7e, int(data.products.size()));
    QList<SalesLine> lines;
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < context.config.saveLines; ++i) {
        const GeneratedLine g = maker.next();
        const SalesLine line { 0, day, data.products.at(g.product), g.quantity, g.received, g.cost,
            g.memo < 0 ? QString() : maker.memos().at(g.memo) };
        lines.append(line);
        rows.push_back({ user.toStdString(), dayStd(day), line.productName.toStdString(), std::to_string(line.quantity),
            std::to_string(line.received), std::to_string(line.cost), line.memo.toStdString() });
    }

    PgConnection raw(server->conninfo);
    const qint64 lastId = raw.exec("SELECT max(id) FROM records").integer(0, 0);
    const QString before = daySnapshot(raw, user, day);
    TDbMan store(server->location);
    QStringList names;
    // Connected before the runs, as the page's store is by the time 完成 is clicked.
    store.GetUserNames(&names);
    const auto cleanUp = [&] { removeLinesAfter(raw, lastId, user, day, before); };
    QString ownStored, rawStored;
    const auto measured = [&] {
        Stopwatch clock;
        addLines(store, user, lines);
        const double seconds = clock.seconds();
        ownStored = storedAfter(raw, lastId);
        cleanUp();
        return seconds;
    };
    const auto baseline = [&] {
        Stopwatch clock;
        raw.exec("BEGIN");
        raw.prepare("insert_line",
            "INSERT INTO records (user_name, day, product_name, quantity, received, cost, memo) "
            "VALUES ($1, $2, $3, $4, $5, $6, $7)",
            7);
        for (const std::vector<std::string>& row : rows)
            raw.execPrepared("insert_line", row);
        raw.exec("COMMIT");
        const double seconds = clock.seconds();
        raw.exec("DEALLOCATE insert_line");
        rawStored = storedAfter(raw, lastId);
        cleanUp();
        return seconds;
    };
    Result result = measure(name, context.config.slowPlan, measured, baseline);
    check(!ownStored.isEmpty() && ownStored == rawStored,
        QStringLiteral("AddLines stored other values than the raw insert: %1 / %2").arg(ownStored, rawStored));
    check(ownStored.startsWith(QString::number(lines.size()) + QLatin1Char(' ')),
        QStringLiteral("AddLines stored the wrong number of lines: ") + ownStored);
    result.target = Target::ratio(1.5);
    result.note = QStringLiteral("the lines of 3, on the last day of user 2; both sides on a connection opened before, "
                                 "the summary triggers included; the lines are deleted after each run");
    context.results.push_back(result);
}

namespace {

// While it lives, the forms made take their ledger from the location given.
class LedgerChoice
{
public:
    explicit LedgerChoice(const LedgerLocation& location) { setCurrentLedger(location); }
    ~LedgerChoice() { setCurrentLedger(std::nullopt); }
    LedgerChoice(const LedgerChoice&) = delete;
    LedgerChoice& operator=(const LedgerChoice&) = delete;
};

// The rows the ranking view shows once the page's computation after the click is done, or after ten seconds.
int waitForRanking(TfrmMain& form, int expected)
{
    QAbstractItemModel* ranking = child<QTreeView>(&form, "ListView5")->model();
    const Stopwatch clock;
    while (ranking->rowCount() != expected && clock.seconds() < 10) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return ranking->rowCount();
}

qint64 rankedProducts(const QString& file, const SalesRange& range)
{
    RawSqliteDb db(file, false);
    RawSqliteStatement count(
        db, "SELECT COUNT(DISTINCT RecProductName) FROM Records WHERE UserName=? AND RecDate>=? AND RecDate<=?");
    count.bind(1, encodedStd(range.userName));
    count.bind(2, dayStd(range.first));
    count.bind(3, dayStd(range.last));
    check(count.step(), QStringLiteral("no count of products"));
    return sqlite3_column_int64(count.get(), 0);
}

void checkShown(TfrmMain& form, const QString& side, qint64 lines, qint64 days, const QString& totals)
{
    check(child<QTreeView>(&form, "ListView2")->model()->rowCount() == lines
            && child<QTreeView>(&form, "ListView3")->model()->rowCount() == days,
        QStringLiteral("查看 on the %1 showed the wrong number of rows").arg(side));
    for (const char* label : { "Label19", "Label22", "Label23" })
        check(child<QLabel>(&form, label)->text() == totals,
            QStringLiteral("%1 on the %2 shows %3, expected %4")
                .arg(QString::fromLatin1(label), side, child<QLabel>(&form, label)->text(), totals));
}

} // namespace

void benchServerReview(BenchContext& context)
{
    const SalesData& data = context.data;
    const SalesRange range = userYear(data);
    const qint64 lines = data.countLines(range.userName, range.first, range.last);
    const QString name = QStringLiteral("S3. 查看 one user-year (%1 lines, %2) on the server vs the file")
                             .arg(lines)
                             .arg(range.first.year());
    const ServerData* server = serverData(context);
    if (!server) {
        context.results.push_back(skippedResult(name, Target::ratio(2), context.serverSkipped));
        return;
    }
    TestDataHome home(data.file);
    const qint64 days = data.countDays(range.userName, range.first, range.last);
    const int products = int(rankedProducts(home.dbPath(), range));
    const QString totals = storedTotals(home.dbPath(), range.userName, range.first, range.last);

    const std::unique_ptr<TfrmMain> onFile = openReviewWindow(range.userName);
    std::unique_ptr<TfrmMain> onServer;
    {
        const LedgerChoice choice(server->location);
        onServer = openReviewWindow(range.userName);
    }
    QCoreApplication::processEvents();

    const QDate empty = data.params.lastDay().addDays(1);
    int fileRanking = -1, serverRanking = -1;
    const auto fresh = [&](TfrmMain& form, int& ranking) {
        timedQuery(form, empty, empty);
        const double seconds = timedQuery(form, range.first, range.last);
        ranking = waitForRanking(form, products);
        return seconds;
    };
    Result result = measure(
        name, context.config.plan, [&] { return fresh(*onServer, serverRanking); },
        [&] { return fresh(*onFile, fileRanking); });
    checkShown(*onFile, QStringLiteral("file"), lines, days, totals);
    checkShown(*onServer, QStringLiteral("server"), lines, days, totals);
    check(fileRanking == products && serverRanking == products,
        QStringLiteral("the pages ranked %1 (file) and %2 (server) products, expected %3")
            .arg(fileRanking)
            .arg(serverRanking)
            .arg(products));
    result.target = Target::ratio(2);
    result.note = QStringLiteral("from empty views to the detail view painted, as 2; the ranking of %1 products comes "
                                 "after the click on both, on a connection of its own, and is waited for between runs")
                      .arg(products);
    context.results.push_back(result);
}

namespace {

// What the whole shop's views show over the range, from the file.
struct ShopFigures
{
    QString totals;
    int products = 0;
    qint64 lines = 0;
    qint64 days = 0;
};

ShopFigures shopFigures(const QString& file, const QDate& first, const QDate& last)
{
    RawSqliteDb db(file, false);
    RawSqliteStatement sums(db,
        "SELECT SUM(RecQuantity), SUM(RecMoney), SUM(RecCost), COUNT(DISTINCT RecProductName), COUNT(*), "
        "COUNT(DISTINCT RecDate) FROM Records WHERE RecDate>=? AND RecDate<=?");
    sums.bind(1, dayStd(first));
    sums.bind(2, dayStd(last));
    check(sums.step(), QStringLiteral("no sums"));
    const auto column = [&](int i) { return sqlite3_column_int64(sums.get(), i); };
    return { totalsLine(column(0), column(1), column(2)), int(column(3)), column(4), column(5) };
}

} // namespace

void benchServerShopReview(BenchContext& context)
{
    const SalesData& data = context.data;
    const QDate first = data.params.firstDay(), last = data.params.lastDay();
    const QString owner = data.users.first();
    const QString name = QStringLiteral("S5. 全店 查看 of every line (%1 lines, %2 accounts, %3 to %4) on the server, "
                                        "by the shop's owner vs 我的 (one account's lines)")
                             .arg(data.params.rows)
                             .arg(data.users.size())
                             .arg(first.year())
                             .arg(last.year());
    const ServerData* server = serverData(context);
    if (!server) {
        context.results.push_back(skippedResult(name, Target::median(0.3), context.serverSkipped));
        return;
    }
    const QString password = makeAccountRole(*server, owner, true);
    // The owner logs in as a role of the server, through the policies, on a connection text of its own.
    const LedgerLocation asOwner
        = LedgerLocation::server(server->location.connection + QStringLiteral(" application_name=kivaro_owner"));
    check(TDbMan(asOwner).CheckUser(owner, password), QStringLiteral("the owner could not log in"));
    TestDataHome home(data.file);
    const ShopFigures shop = shopFigures(home.dbPath(), first, last);
    const QString ownTotals = storedTotals(home.dbPath(), owner, first, last);
    std::unique_ptr<TfrmMain> form;
    {
        const LedgerChoice choice(asOwner);
        form = openReviewWindow(owner);
    }
    QCoreApplication::processEvents();
    auto* whose = child<QComboBox>(form.get(), "ComboBoxAccount");
    check(whose->count() == data.users.size() + 1,
        QStringLiteral("the owner's chooser has %1 entries").arg(whose->count()));
    const QDate empty = last.addDays(1);
    const int ownProducts = int(rankedProducts(home.dbPath(), { owner, first, last }));
    const auto fresh = [&](int chosen, int products) {
        whose->setCurrentIndex(chosen);
        timedQuery(*form, empty, empty);
        const double seconds = timedQuery(*form, first, last);
        check(waitForRanking(*form, products) == products, QStringLiteral("the ranking did not come"));
        return seconds;
    };
    Result result = measure(
        name, context.config.plan, [&] { return fresh(1, shop.products); }, [&] { return fresh(0, ownProducts); });
    whose->setCurrentIndex(1);
    timedQuery(*form, first, last);
    checkShown(*form, QStringLiteral("shop"), shop.lines, shop.days, shop.totals);
    result.target = Target::median(0.3);
    result.note = QStringLiteral("from empty views to the detail view painted; 我的 shows %1's lines (%2); the "
                                 "ranking of %3 products comes after the click, on a connection of its own, and is "
                                 "waited for between runs")
                      .arg(owner, ownTotals)
                      .arg(shop.products);
    context.results.push_back(result);
}

void benchOutboxSend(BenchContext& context)
{
    constexpr int kSaves = 100;
    constexpr int kLinesEach = 100;
    const QString name = QStringLiteral("S6. server: sending %1 offline lines in %2 saves from the outbox vs storing "
                                        "them online, %2 AddLines")
                             .arg(kSaves * kLinesEach)
                             .arg(kSaves);
    const ServerData* server = serverData(context);
    if (!server) {
        context.results.push_back(skippedResult(name, Target::ratio(1.5), context.serverSkipped));
        return;
    }
    const SalesData& data = context.data;
    const QString user = data.users.at(2);
    const QDate day = data.params.lastDay();
    LineMaker maker(data.params.seed ^ 0x0b0c, int(data.products.size()));
    QList<QList<SalesLine>> saves;
    for (int i = 0; i < kSaves; ++i) {
        QList<SalesLine> lines;
        for (int j = 0; j < kLinesEach; ++j) {
            const GeneratedLine g = maker.next();
            lines.append({ 0, day, data.products.at(g.product), g.quantity, g.received, g.cost,
                g.memo < 0 ? QString() : maker.memos().at(g.memo) });
        }
        saves.append(lines);
    }
    // The outbox lives in the data folder: a private one for the bench.
    TestDataHome home;
    PgConnection raw(server->conninfo);
    const qint64 lastId = raw.exec("SELECT max(id) FROM records").integer(0, 0);
    const QString before = daySnapshot(raw, user, day);
    TDbMan store(server->location);
    QStringList names;
    store.GetUserNames(&names);
    const auto cleanUp = [&] { removeLinesAfter(raw, lastId, user, day, before); };
    QString sentStored, onlineStored;
    const auto measured = [&] {
        {
            TDbMan offline(server->location.asOffline());
            for (const QList<SalesLine>& lines : saves)
                addLines(offline, user, lines);
        }
        Stopwatch clock;
        const TDbMan::OutboxSent sent = store.SendOutbox(user);
        const double seconds = clock.seconds();
        check(sent.saves == kSaves && sent.problem.isEmpty(),
            QStringLiteral("the outbox sent %1 saves: %2").arg(sent.saves).arg(sent.problem));
        sentStored = storedAfter(raw, lastId);
        cleanUp();
        return seconds;
    };
    const auto baseline = [&] {
        Stopwatch clock;
        for (const QList<SalesLine>& lines : saves)
            addLines(store, user, lines);
        const double seconds = clock.seconds();
        onlineStored = storedAfter(raw, lastId);
        cleanUp();
        return seconds;
    };
    Result result = measure(name, context.config.slowPlan, measured, baseline);
    check(!sentStored.isEmpty() && sentStored == onlineStored,
        QStringLiteral("the outbox stored other values than AddLines: %1 / %2").arg(sentStored, onlineStored));
    result.target = Target::ratio(1.5);
    result.note = QStringLiteral("the outbox is filled before each run, untimed; both sides on a connection opened "
                                 "before; the lines are deleted after each run");
    context.results.push_back(result);

    // The first 添加 after the server went away: a store that must connect again finds it away and keeps the line
    // in the outbox. A stopped server refuses at once; a frozen one is given the connect timeout.
    const auto firstOfflineKeep = [&](const QString& connection) {
        const LedgerLocation away = LedgerLocation::server(connection);
        KeptSession session;
        const SalesLine line = saves.first().first();
        Stopwatch clock;
        try {
            TDbMan(away).KeepLines(user, session, { line });
            check(false, QStringLiteral("a line was kept on a server that is away"));
        } catch (const TServerUnreachable&) {
            TDbMan(away.asOffline()).KeepLines(user, session, { line });
        }
        return clock.seconds();
    };
    // A port that listens and never accepts: the system completes the connection, no server answers.
    const auto listening = [](bool keep) {
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        check(socket >= 0 && ::bind(socket, reinterpret_cast<sockaddr*>(&address), length) == 0
                && ::listen(socket, 16) == 0
                && ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0,
            QStringLiteral("no local port for the bench"));
        if (!keep)
            ::close(socket);
        return std::pair { socket, int(ntohs(address.sin_port)) };
    };
    const auto [frozenSocket, frozenPort] = listening(true);
    const auto closeFrozen = qScopeGuard([socket = frozenSocket] { ::close(socket); });
    const QString refusedAt = QStringLiteral("host=127.0.0.1 port=%1 dbname=x").arg(listening(false).second);
    Result refused = measure(QStringLiteral("S6b. the first offline 添加 after the server stopped (connection "
                                            "refused)"),
        context.config.slowPlan, [&] { return firstOfflineKeep(refusedAt); });
    refused.target = Target::median(1.0);
    refused.note = QStringLiteral("a new connection refused, then the line kept in the outbox");
    context.results.push_back(refused);
    Result silent = measure(QStringLiteral("S6c. the first offline 添加 after the server froze (accepts, never "
                                           "answers)"),
        RunPlan { 0, 3 },
        [&] { return firstOfflineKeep(QStringLiteral("host=127.0.0.1 port=%1 dbname=x").arg(frozenPort)); });
    silent.target = Target::median(1.0);
    silent.note = QStringLiteral("a listener that never answers: the connection is given libpq's shortest connect "
                                 "timeout, 2 s, once");
    context.results.push_back(silent);
}

void benchServerRanking(BenchContext& context)
{
    const SalesData& data = context.data;
    const QDate first = data.params.firstDay(), last = data.params.lastDay();
    const QString user = data.users.first();
    const std::tuple<char, SalesRange, QString, double> cases[] = {
        { 'a', SalesRange { user, first, last },
            QStringLiteral("every year (%1 to %2)").arg(first.year()).arg(last.year()), 0.1 },
        { 'b', SalesRange { user, QDate(last.year(), 1, 1), last }, QStringLiteral("the last year"), 0.03 },
    };
    const ServerData* server = serverData(context);
    for (const auto& [key, range, what, limit] : cases) {
        const qint64 lines = data.countLines(user, range.first, range.last);
        const QString name = QStringLiteral("S8%1. server: QueryRanking of one account over %2 (%3 lines) vs grouping "
                                            "its lines through libpq")
                                 .arg(QLatin1Char(key))
                                 .arg(what)
                                 .arg(lines);
        if (!server) {
            context.results.push_back(skippedResult(name, Target::median(limit), context.serverSkipped));
            continue;
        }
        const std::unique_ptr<TDbMan> store = namedStore(server->location);
        PgConnection raw(server->conninfo);
        const std::vector<std::string> values { user.toStdString(), range.first.toString(Qt::ISODate).toStdString(),
            range.last.toString(Qt::ISODate).toStdString() };
        QList<RankingRow> ranking;
        int rawRows = 0;
        QString rawFirst;
        Result result = measure(
            name, context.config.plan,
            [&] {
                Stopwatch clock;
                QList<RankingRow> fetched = store->QueryRanking(range);
                const double seconds = clock.seconds();
                std::swap(ranking, fetched);
                return seconds;
            },
            [&] {
                Stopwatch clock;
                const PgResult rows = raw.execParams(
                    "SELECT product_name, sum(quantity), sum(received), sum(cost) FROM records WHERE "
                    "md5(user_name) = md5($1) AND user_name = $1 AND day >= $2 AND day <= $3 GROUP BY product_name "
                    "ORDER BY sum(quantity) DESC, min(id)",
                    values);
                const double seconds = clock.seconds();
                rawRows = rows.rows();
                rawFirst = rows.rows() > 0 ? rows.text(0, 0) : QString();
                return seconds;
            });
        check(ranking.size() == rawRows && ranking.value(0).productName == rawFirst,
            QStringLiteral("the server's ranking disagrees with the lines: %1 products, first %2; grouped %3, first %4")
                .arg(ranking.size())
                .arg(ranking.value(0).productName)
                .arg(rawRows)
                .arg(rawFirst));
        result.target = Target::median(limit);
        result.note
            = QStringLiteral("%1 products; whole years and months from their own sums, the other days from the day "
                             "sums; the baseline groups the account's lines")
                  .arg(ranking.size());
        context.results.push_back(result);
    }
}

// 查找 by two Chinese characters of a product name over every year on the server, in one account's lines and in the
// whole shop's (全店, a million lines): the view's read (QueryView with the text, then its ranking) against libpq
// reading the lines that hold it, as the store's statement would without the program's own steps.
void benchServerFind(BenchContext& context)
{
    const SalesData& data = context.data;
    SalesRange account { data.users.first(), data.params.firstDay(), data.params.lastDay() };
    account.find = data.findText();
    SalesRange shop = account;
    shop.userName.clear();
    shop.shop = true;
    const ServerData* server = serverData(context);
    for (const auto& [key, range] : { std::pair { 'a', account }, std::pair { 'b', shop } }) {
        const QString name = QStringLiteral("S9%1. server: 查看 of %2 over every year with 查找 “%3” vs libpq reading "
                                            "the lines found")
                                 .arg(QLatin1Char(key))
                                 .arg(range.shop ? QStringLiteral("the whole shop (%1 lines)").arg(data.params.rows)
                                                 : QStringLiteral("one account"))
                                 .arg(range.find);
        if (!server) {
            context.results.push_back(skippedResult(name, Target::median(0.5), context.serverSkipped));
            continue;
        }
        // The administrator, who may read the whole shop as its owners do.
        const std::unique_ptr<TDbMan> store = namedStore(server->location);
        PgConnection raw(server->conninfo);
        std::vector<std::string> values { range.first.toString(Qt::ISODate).toStdString(),
            range.last.toString(Qt::ISODate).toStdString(), range.find.toStdString() };
        QByteArray statement = "SELECT id, day, product_name, quantity, received, cost FROM records WHERE day >= $1 "
                               "AND day <= $2 AND (strpos(product_name, $3) > 0 OR strpos(memo, $3) > 0)";
        if (!range.shop) {
            values.push_back(range.userName.toStdString());
            statement += " AND md5(user_name) = md5($4) AND user_name = $4";
        }
        statement += " ORDER BY day, id";
        qint64 shown = 0;
        int rawRows = 0;
        Result result = measure(
            name, context.config.plan,
            [&] {
                Stopwatch clock;
                const std::shared_ptr<const ViewSnapshot> view = store->QueryView(range);
                const QList<RankingRow> ranking = store->QueryRanking(range);
                const double seconds = clock.seconds();
                shown = view->lineCount();
                check(!ranking.isEmpty(), QStringLiteral("查找 ranked nothing"));
                return seconds;
            },
            [&] {
                Stopwatch clock;
                const PgResult rows = raw.execParams(statement.constData(), values);
                const double seconds = clock.seconds();
                rawRows = rows.rows();
                return seconds;
            });
        check(shown == rawRows, QStringLiteral("查找 showed %1 lines, libpq found %2").arg(shown).arg(rawRows));
        result.target = Target::median(0.5);
        result.note = QStringLiteral("%1 lines found; the view and its ranking, as a 查看 reads them; the baseline "
                                     "reads the lines with the text, case as typed")
                          .arg(shown);
        context.results.push_back(result);
    }
}
