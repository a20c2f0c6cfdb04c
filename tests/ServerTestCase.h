#pragma once

// What the server tests share: the cluster under test stopped and started, a role connected as psql would connect,
// the whole shop's views worked out from its lines, and the fixture every server test case starts from.

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
#include "tests/support/LedgerSeed.h"
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

// Stops or starts the test's server: pg_virtualenv's cluster, or the one KIVARO_TEST_CLUSTER names ("15 dev").
inline bool cluster(const QString& action, const QString& mode = QStringLiteral("immediate"))
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
inline QStringList printedTexts(TfrmMain* form, const char* buttonName)
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
    // Sends a statement and returns at once: the server runs it while the test goes on. True when it was sent.
    bool send(const QString& statement) const { return PQsendQuery(m_connection, statement.toUtf8().constData()); }
    // Waits for what send() started; true when every statement of it ran.
    bool finish() const
    {
        bool ran = true;
        while (PGresult* result = PQgetResult(m_connection)) {
            const ExecStatusType status = PQresultStatus(result);
            ran = ran && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
            PQclear(result);
        }
        return ran;
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

inline void addTo(SalesSums& sums, const SalesLine& line)
{
    sums.quantity += line.quantity;
    sums.received += line.received;
    sums.cost += line.cost;
}

inline QString dayText(const DayCount& day)
{
    return QStringLiteral("%1 %2/%3 %4 %5 %6")
        .arg(day.day.toString(Qt::ISODate))
        .arg(day.rows)
        .arg(day.lines)
        .arg(day.sums.quantity)
        .arg(day.sums.received)
        .arg(day.sums.cost);
}

inline QStringList dayTexts(const QList<DayCount>& days)
{
    QStringList texts;
    for (const DayCount& day : days)
        texts.append(dayText(day));
    return texts;
}

inline ShopViews expectedViews(QList<SalesLine> lines)
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

// A data home of its own and the hooks put back after every test; the ledger chosen for the process forgotten.
class ServerTestCase : public QObject
{
protected:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    const QString user = QStringLiteral("张三");

    QString server(const QString& query) { return home->server()->value(query); }

    static void requireServer()
    {
        if (!testingOnServer())
            QFAIL("needs a server: run under pg_virtualenv with KIVARO_TEST_SERVER=1");
    }
    void setUpTest()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
    }
    void tearDownTest()
    {
        hooks.reset();
        home.reset();
        // A window that went offline chose the outbox for the process.
        setCurrentLedger(std::nullopt);
    }
};
