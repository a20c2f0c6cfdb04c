#pragma once

#include <QString>
#include <QStringList>

// A fresh, empty database on the PostgreSQL server that the environment names (PGHOST, PGPORT, PGUSER, PGPASSWORD,
// as pg_virtualenv sets them), dropped again when the object goes. Fails the process when no server answers.
class TestServerDb
{
public:
    TestServerDb();
    ~TestServerDb();
    TestServerDb(const TestServerDb&) = delete;
    TestServerDb& operator=(const TestServerDb&) = delete;

    QString name() const { return m_name; }
    // A connection string for Kivaro: the database by name, everything else from the environment.
    QString connection() const { return QStringLiteral("dbname=") + m_name; }
    // Runs a statement on the database as the test's own client; false when it fails.
    bool exec(const QString& statement) const;
    // The first value of a query's first row, or a null string.
    QString value(const QString& query) const;

private:
    QString m_name;
    QStringList m_rolesBefore;
};

// True when the tests run against a server (KIVARO_TEST_SERVER=1): every TestDataHome then comes with its own
// database, and KIVARO_DATABASE points at it.
bool testingOnServer();

// After a login the process uses a server ledger as that account, which sees only its own lines; a test that goes on
// to read every account's lines uses the ledger as the administrator again.
void useLedgerAsAdministrator();
