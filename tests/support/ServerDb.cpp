#include "tests/support/ServerDb.h"

#include "db/LedgerLocation.h"
#include "db/server/ServerConnection.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <libpq-fe.h>
#include <memory>

namespace {

QAtomicInt databaseCounter;

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;

Connection connectTo(const QString& database)
{
    const QByteArray info = "dbname=" + database.toUtf8();
    Connection connection(PQconnectdb(info.constData()), &PQfinish);
    if (PQstatus(connection.get()) != CONNECTION_OK)
        qFatal("no PostgreSQL server for the server tests (run them under pg_virtualenv): %s",
            PQerrorMessage(connection.get()));
    return connection;
}

QString maintenanceDatabase()
{
    const QString named = qEnvironmentVariable("PGDATABASE");
    return named.isEmpty() ? QStringLiteral("postgres") : named;
}

bool run(const QString& database, const QString& statement, QString* value = nullptr, QStringList* column = nullptr)
{
    Connection connection = connectTo(database);
    std::unique_ptr<PGresult, decltype(&PQclear)> result(
        PQexec(connection.get(), statement.toUtf8().constData()), &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        return false;
    if (value && PQntuples(result.get()) > 0 && !PQgetisnull(result.get(), 0, 0))
        *value = QString::fromUtf8(PQgetvalue(result.get(), 0, 0));
    for (int row = 0; column && row < PQntuples(result.get()); ++row)
        column->append(QString::fromUtf8(PQgetvalue(result.get(), row, 0)));
    return true;
}

} // namespace

TestServerDb::TestServerDb()
    : m_name(QStringLiteral("kivaro_test_%1_%2")
                 .arg(QCoreApplication::applicationPid())
                 .arg(databaseCounter.fetchAndAddRelaxed(1)))
{
    if (!run(maintenanceDatabase(), QStringLiteral("CREATE DATABASE %1").arg(m_name)))
        qFatal("cannot create the test database %s", qPrintable(m_name));
    run(maintenanceDatabase(), QStringLiteral("SELECT rolname FROM pg_roles"), nullptr, &m_rolesBefore);
}

TestServerDb::~TestServerDb()
{
    run(maintenanceDatabase(), QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
    // Roles belong to the server: the accounts a test made would meet the next test's accounts of the same name.
    QStringList roles;
    run(maintenanceDatabase(), QStringLiteral("SELECT rolname FROM pg_roles WHERE NOT rolsuper"), nullptr, &roles);
    for (const QString& role : std::as_const(roles)) {
        if (!m_rolesBefore.contains(role))
            run(maintenanceDatabase(),
                QStringLiteral("DROP ROLE IF EXISTS \"%1\"")
                    .arg(QString(role).replace(QLatin1Char('"'), QStringLiteral("\"\""))));
    }
}

bool TestServerDb::exec(const QString& statement) const
{
    return run(m_name, statement);
}

QString TestServerDb::value(const QString& query) const
{
    QString found;
    run(m_name, query, &found);
    return found;
}

bool testingOnServer()
{
    return qEnvironmentVariable("KIVARO_TEST_SERVER") == QLatin1String("1");
}

void useLedgerAsAdministrator()
{
    if (testingOnServer())
        signOutOfServer(currentLedger().connection);
}
