#pragma once

#include "bench/SalesData.h"
#include "db/LedgerLocation.h"

#include <QByteArray>
#include <QString>

// The generated data in a database of its own on the PostgreSQL server that libpq's environment names. The
// database carries, as its comment, a key made from the data file and the program's server schema; it is loaded
// again only when that key differs or its lines no longer add up to the file's.
struct ServerData
{
    QString database;
    // For the program: the database by name, everything else from the environment.
    LedgerLocation location;
    // For the benchmark's own libpq connections.
    QByteArray conninfo;
    // Seconds the load took; negative when the database of an earlier run was kept.
    double loadSeconds = -1;

    static ServerData prepare(const SalesData& data, const QString& database);
    // Why no server answers; empty when one does.
    static QString whyUnreachable();
    // Where the server is, for the results: its version, host and port.
    static QString describe();
    void drop() const;
};
