// Eight tills of one shop on one server, each a process of its own on an account of its own, saving as fast as a
// cashier's 完成 can go; the owner reads 全店 meanwhile, and one account holds a transaction open with psql, first
// idle, then busy. What is measured: the shop's saves per second, a save's 99th percentile, and the slowest save of
// the other accounts while the one account holds.

#include "bench/BenchCases.h"
#include "bench/RawPq.h"
#include "tests/support/DataHome.h"

#include "db/DbClass.h"
#include "db/KeptSession.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QScopeGuard>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <thread>

namespace {

const char* const kTillChild = "--child-till";
constexpr int kTills = 8;
constexpr int kLinesPerSave = 3;
const QDate kDay(2024, 6, 1);

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// A till: from the start moment until the end one, 添加 of three lines (kept on the server), then 完成, again and
// again. Each save's start (ms since the epoch) and length (µs) go to stdout, one per line; then "done saves
// failures".
int tillChild(int argc, char** argv)
{
    if (argc < 7)
        return 2;
    QCoreApplication app(argc, argv);
    const LedgerLocation location = LedgerLocation::server(QString::fromUtf8(argv[2]));
    const QString user = QString::fromUtf8(argv[3]);
    const QString password = QString::fromUtf8(argv[4]);
    const qint64 start = QByteArray(argv[5]).toLongLong();
    const qint64 end = QByteArray(argv[6]).toLongLong();
    TDbMan db(location);
    if (!db.CheckUser(user, password)) {
        std::cerr << "the till could not log in" << std::endl;
        return 3;
    }
    KeptSession session;
    while (nowMs() < start)
        QThread::msleep(1);
    int saves = 0, failures = 0;
    std::string out;
    for (int i = 0; nowMs() < end; ++i) {
        QList<SalesLine> lines;
        for (int j = 0; j < kLinesPerSave; ++j)
            lines.append({ 0, kDay, QStringLiteral("商品%1").arg(j), 1 + j, 100 + i, 50,
                QStringLiteral("%1-%2-%3").arg(user).arg(i).arg(j) });
        for (bool kept = false; !kept;) {
            try {
                const QList<qint64> ids = db.KeepLines(user, session, lines);
                for (int j = 0; j < kLinesPerSave; ++j)
                    lines[j].id = ids.at(j);
                kept = true;
            } catch (const KivaroError&) {
                ++failures;
            }
        }
        for (bool saved = false; !saved;) {
            const qint64 at = nowMs();
            const Stopwatch clock;
            try {
                const SaveOutcome outcome = db.SaveKeptLines(user, session, lines);
                if (outcome != SaveOutcome::Saved) {
                    std::cerr << "a save did not land on the server" << std::endl;
                    return 4;
                }
                saved = true;
                ++saves;
                out += std::to_string(at) + ' ' + std::to_string(qint64(clock.seconds() * 1e6)) + '\n';
            } catch (const KivaroError&) {
                // Waited too long for a transaction of its own account: the kept lines are saved again.
                ++failures;
            }
        }
    }
    std::cout << out << "done " << saves << ' ' << failures << std::endl;
    return 0;
}

struct Save
{
    int till;
    qint64 at;
    double seconds;
};

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, size_t(share * double(values.size()))));
}

Result single(const QString& name, double value, const Target& target, const QString& note)
{
    Result result;
    result.name = name;
    result.runs = 1;
    result.measured = { value, value, value };
    result.target = target;
    result.note = note;
    return result;
}

} // namespace

int runTillsChild(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], kTillChild) == 0)
        return tillChild(argc, argv);
    return -1;
}

void benchEightTills(BenchContext& context)
{
    const bool quick = context.config.quick;
    const int seconds = quick ? 4 : 60;
    const int readEvery = quick ? 1 : 5;
    const QString name = QStringLiteral("S7a. server: %1 till processes on %1 accounts of one shop for %2 s, the owner "
                                        "reading 全店 every %3 s: the shop's time per save (the run's length ÷ saves)")
                             .arg(kTills)
                             .arg(seconds)
                             .arg(readEvery);
    const QString p99Name = QStringLiteral("S7b. the same run: a save's 99th percentile (完成 of 3 kept lines)");
    const QString heldName = QStringLiteral("S7c. the same run: the other accounts' slowest save while one account "
                                            "holds a transaction with psql (idle, then busy), vs as long a stretch "
                                            "before it");
    if (!context.serverSkipped.isEmpty()) {
        context.results.push_back(skippedResult(name, Target::median(1.0 / 900), context.serverSkipped));
        context.results.push_back(skippedResult(p99Name, Target::median(0.025), context.serverSkipped));
        context.results.push_back(skippedResult(heldName, Target::median(0.1), context.serverSkipped));
        return;
    }
    // A ledger of its own, made anew: the tills' lines are all there is in it.
    const QString database = QStringLiteral("kivaro_bench_tills");
    const QString maintenance = qEnvironmentVariable("PGDATABASE", QStringLiteral("postgres"));
    PgConnection server("dbname=" + maintenance.toUtf8());
    const QString suffix = QString::number(QCoreApplication::applicationPid());
    QStringList accounts;
    for (int i = 1; i <= kTills; ++i)
        accounts.append(QStringLiteral("收银%1_%2").arg(i).arg(suffix));
    const QString owner = QStringLiteral("店主_") + suffix;
    const QString password = QStringLiteral("kivaro-bench");
    server.exec("DROP DATABASE IF EXISTS " + database.toUtf8());
    server.exec("CREATE DATABASE " + database.toUtf8());
    const QByteArray conninfo = "dbname=" + database.toUtf8();
    const LedgerLocation location = LedgerLocation::server(QString::fromUtf8(conninfo));
    const auto dropAll = [&] {
        server.exec("DROP DATABASE IF EXISTS " + database.toUtf8() + " WITH (FORCE)");
        for (const QString& role : accounts + QStringList { owner, database + QStringLiteral("_accounts") }) {
            const QByteArray statement = "DROP ROLE IF EXISTS \"" + role.toUtf8().replace('"', "\"\"") + '"';
            server.tryExec(statement.constData());
        }
    };
    const auto cleanUp = qScopeGuard(dropAll);
    TestDataHome home;
    {
        TDbMan admin(location);
        for (const QString& account : accounts + QStringList { owner })
            check(admin.AddUser(account, password), QStringLiteral("the account %1 was not added").arg(account));
        check(admin.SetShopOwner(owner), QStringLiteral("the owner was not made"));
    }

    const qint64 start = nowMs() + 3000;
    const qint64 end = start + seconds * 1000LL;
    std::vector<std::unique_ptr<QProcess>> tills;
    for (const QString& account : std::as_const(accounts)) {
        auto till = std::make_unique<QProcess>();
        till->setProcessChannelMode(QProcess::SeparateChannels);
        till->start(QCoreApplication::applicationFilePath(),
            { QString::fromLatin1(kTillChild), QString::fromUtf8(conninfo), account, password, QString::number(start),
                QString::number(end) });
        check(till->waitForStarted(10'000), QStringLiteral("a till did not start"));
        tills.push_back(std::move(till));
    }

    // The first account holds a transaction with psql over the middle of the run: a third of it idle (with the
    // server's limit on idle transactions turned off), a third busy.
    const qint64 heldFrom = start + seconds * 1000LL / 6, heldUntil = start + seconds * 1000LL * 5 / 6;
    std::thread holder([&] {
        const QByteArray as = conninfo + " user='" + accounts.first().toUtf8() + "' password='" + password.toUtf8()
            + "' application_name=psql";
        PgConnection psql(as);
        while (nowMs() < heldFrom)
            QThread::msleep(5);
        const QString line = QStringLiteral("INSERT INTO records (user_name, day, product_name, quantity, received, "
                                            "cost, memo) VALUES ('%1', '2024-06-01', '毛巾', 1, 100, 50, 'psql')")
                                 .arg(accounts.first());
        psql.exec(QStringLiteral("BEGIN; %1; SET idle_in_transaction_session_timeout = 0").arg(line));
        const qint64 middle = (heldFrom + heldUntil) / 2;
        while (nowMs() < middle)
            QThread::msleep(5);
        psql.exec(QStringLiteral("SELECT pg_sleep(%1)").arg(double(heldUntil - nowMs()) / 1000.0));
        psql.exec("ROLLBACK");
    });

    // The owner reads the whole shop every few seconds.
    // A connection text of its own, so that only this store logs in as the owner.
    TDbMan ownerStore(LedgerLocation::server(QString::fromUtf8(conninfo) + QStringLiteral(" application_name=owner")));
    check(ownerStore.CheckUser(owner, password), QStringLiteral("the owner could not log in"));
    const SalesRange shop { {}, kDay, kDay, true };
    std::vector<double> shopReads;
    for (qint64 next = start; nowMs() < end; next += readEvery * 1000) {
        while (nowMs() < next)
            QThread::msleep(5);
        const Stopwatch clock;
        ownerStore.QueryDays(shop);
        shopReads.push_back(clock.seconds());
    }
    holder.join();

    std::vector<Save> saves;
    std::vector<int> savedBy(kTills), failedBy(kTills);
    for (int t = 0; t < kTills; ++t) {
        QProcess& till = *tills[size_t(t)];
        // waitForFinished() says false at once for a till that was already reaped, and a sanitized run once saw it
        // say false early for one still running: the wait goes on until the till is done or two minutes have passed.
        const qint64 giveUpAt = nowMs() + 120'000;
        while (till.state() != QProcess::NotRunning && nowMs() < giveUpAt)
            if (!till.waitForFinished(int(std::max<qint64>(1, giveUpAt - nowMs()))))
                QThread::msleep(10);
        const bool finished = till.state() == QProcess::NotRunning;
        check(finished && till.exitStatus() == QProcess::NormalExit && till.exitCode() == 0,
            QStringLiteral("till %1 ended with %2 (%3): %4")
                .arg(t + 1)
                .arg(till.exitCode())
                .arg(finished ? QStringLiteral("finished") : till.errorString())
                .arg(QString::fromUtf8(till.readAllStandardError())));
        for (const QByteArray& row : till.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> fields = row.split(' ');
            if (fields.value(0) == "done") {
                savedBy[size_t(t)] = fields.value(1).toInt();
                failedBy[size_t(t)] = fields.value(2).toInt();
            } else if (fields.size() == 2) {
                saves.push_back({ t, fields.at(0).toLongLong(), fields.at(1).toLongLong() / 1e6 });
            }
        }
    }

    // Every save is on the server once, with its lines; the shop's sums are the accounts' added up.
    PgConnection admin(conninfo);
    SalesSums accountsTogether;
    qint64 linesTogether = 0;
    TDbMan reader(location);
    for (int t = 0; t < kTills; ++t) {
        const PgResult stored = admin.execParams("SELECT count(*), count(DISTINCT memo) FROM records WHERE "
                                                 "user_name = $1",
            { accounts.at(t).toStdString() });
        check(stored.integer(0, 0) == qint64(savedBy[size_t(t)]) * kLinesPerSave
                && stored.integer(0, 1) == stored.integer(0, 0),
            QStringLiteral("till %1 saved %2 times, the server holds %3 lines (%4 distinct)")
                .arg(t + 1)
                .arg(savedBy[size_t(t)])
                .arg(stored.integer(0, 0))
                .arg(stored.integer(0, 1)));
        for (const DayCount& day : reader.QueryDays({ accounts.at(t), kDay, kDay })) {
            accountsTogether.quantity += day.sums.quantity;
            accountsTogether.received += day.sums.received;
            accountsTogether.cost += day.sums.cost;
            linesTogether += day.lines;
        }
    }
    const QList<DayCount> shopDays = ownerStore.QueryDays(shop);
    check(shopDays.size() == 1 && shopDays.first().sums == accountsTogether && shopDays.first().lines == linesTogether,
        QStringLiteral("全店 is not the accounts' sums added up"));

    int total = 0;
    for (const int n : savedBy)
        total += n;
    check(total > 0 && int(saves.size()) == total,
        QStringLiteral("the tills reported %1 saves and %2 figures").arg(total).arg(saves.size()));
    std::vector<double> all, held, before;
    const qint64 stretch = heldUntil - heldFrom;
    for (const Save& save : saves) {
        all.push_back(save.seconds);
        if (save.till == 0)
            continue;
        if (save.at >= heldFrom && save.at < heldUntil)
            held.push_back(save.seconds);
        else if (save.at >= heldFrom - stretch / 4 && save.at < heldFrom)
            before.push_back(save.seconds);
    }
    QStringList perTill;
    for (int t = 0; t < kTills; ++t)
        perTill.append(QStringLiteral("%1%2")
                           .arg(savedBy[size_t(t)])
                           .arg(failedBy[size_t(t)] ? QStringLiteral(" (%1 gave up waiting)").arg(failedBy[size_t(t)])
                                                    : QString()));
    const double perSecond = total / double(seconds);
    context.results.push_back(single(name, seconds / double(total), Target::median(1.0 / 900),
        QStringLiteral(
            "%1 saves, %2 a second (target ≥ 900); per till: %3; every save's lines on the server once, 全店 "
            "the accounts' sums added up; the owner's 全店 read took %4 ms (median of %5)")
            .arg(total)
            .arg(perSecond, 0, 'f', 0)
            .arg(perTill.join(QStringLiteral(", ")))
            .arg(percentile(shopReads, 0.5) * 1000, 0, 'f', 1)
            .arg(shopReads.size())));
    context.results.push_back(single(p99Name, percentile(all, 0.99), Target::median(0.025),
        QStringLiteral("median %1 ms, max %2 ms over %3 saves; the first till's saves while its own account held "
                       "waited for it, and are counted")
            .arg(percentile(all, 0.5) * 1000, 0, 'f', 2)
            .arg(percentile(all, 1.0) * 1000, 0, 'f', 1)
            .arg(all.size())));
    Result heldResult = single(heldName, percentile(held, 1.0), Target::median(0.1),
        QStringLiteral("%1 saves of the other %2 accounts while held (99th percentile %3 ms); the stretch before: %4 "
                       "saves, slowest shown as the baseline; the holding account's own till waited %5 times until "
                       "it gave up")
            .arg(held.size())
            .arg(kTills - 1)
            .arg(percentile(held, 0.99) * 1000, 0, 'f', 1)
            .arg(before.size())
            .arg(failedBy[0]));
    heldResult.baseline = Stats { percentile(before, 1.0), percentile(before, 1.0), percentile(before, 1.0) };
    context.results.push_back(heldResult);
    std::fprintf(stderr, "S7: %d saves in %d s\n", total, seconds);
}
