#include "bench/ServerData.h"

#include "base/TextCodec.h"
#include "bench/Measure.h"
#include "bench/RawPq.h"
#include "db/DbClass.h"
#include "db/server/ServerSchema.h"
#include "db/server/ServerStore.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <cstdio>
#include <sqlite3.h>

namespace {

const QString kMarker = QStringLiteral("kivaro_bench ");
// Bump when the way of loading changes what the server's tables hold or how they lie.
constexpr int kLoadVersion = 2;

QString maintenanceDatabase()
{
    const QString named = qEnvironmentVariable("PGDATABASE");
    return named.isEmpty() ? QStringLiteral("postgres") : named;
}

QByteArray conninfoFor(const QString& database)
{
    return "dbname=" + database.toUtf8() + " application_name=kivaro_bench";
}

QString dataKey(const SalesData& data)
{
    const QByteArray schema = ServerSchema::createStatements(ServerStore::kSchemaVersion,
        { QStringLiteral("ledger"), QStringLiteral("public"), QStringLiteral("administrator"),
            QStringLiteral("ledger") })
                                  .join(QLatin1Char(';'))
                                  .toUtf8();
    return kMarker + QFileInfo(data.file).completeBaseName() + QStringLiteral(" load %1 schema ").arg(kLoadVersion)
        + QString::fromLatin1(QCryptographicHash::hash(schema, QCryptographicHash::Sha1).toHex().left(12));
}

// Per user: lines, quantity, received, cost.
using Totals = QMap<QString, std::array<qint64, 4>>;

Totals fileTotals(const QString& file)
{
    RawSqliteDb db(file, false);
    RawSqliteStatement sums(
        db, "SELECT UserName, COUNT(*), SUM(RecQuantity), SUM(RecMoney), SUM(RecCost) FROM Records GROUP BY UserName");
    Totals totals;
    while (sums.step()) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(sums.get(), 0));
        totals.insert(DecodeText(QString::fromLatin1(name)),
            { sqlite3_column_int64(sums.get(), 1), sqlite3_column_int64(sums.get(), 2),
                sqlite3_column_int64(sums.get(), 3), sqlite3_column_int64(sums.get(), 4) });
    }
    return totals;
}

Totals serverTotals(PgConnection& db, const char* sql)
{
    const PgResult rows = db.exec(sql);
    Totals totals;
    for (int row = 0; row < rows.rows(); ++row)
        totals.insert(rows.text(row, 0),
            { rows.integer(row, 1), rows.integer(row, 2), rows.integer(row, 3), rows.integer(row, 4) });
    return totals;
}

// The MD5 of a text column's distinct values, in byte order, each as UTF-8.
QByteArray fileTexts(const QString& file, const char* column)
{
    RawSqliteDb db(file, false);
    RawSqliteStatement values(db, std::string("SELECT DISTINCT ") + column + " FROM Records");
    QList<QByteArray> texts;
    while (values.step())
        texts.append(
            decodeStoredBytes(QByteArrayView(reinterpret_cast<const char*>(sqlite3_column_text(values.get(), 0)),
                                  sqlite3_column_bytes(values.get(), 0)))
                .toUtf8());
    std::sort(texts.begin(), texts.end());
    return QCryptographicHash::hash(texts.join('\n'), QCryptographicHash::Md5).toHex();
}

QByteArray serverTexts(PgConnection& db, const char* column)
{
    const PgResult hash = db.exec(QStringLiteral("SELECT md5(string_agg(t, E'\\n' ORDER BY t COLLATE \"C\")) FROM "
                                                 "(SELECT DISTINCT %1 AS t FROM records) AS d")
                                      .arg(QString::fromLatin1(column)));
    return QByteArray(hash.value(0, 0), hash.length(0, 0));
}

// Empty when the server's lines and its day sums add up, user by user, to the file's lines; else what differs.
QString differences(const SalesData& data, PgConnection& db)
{
    const Totals expected = fileTotals(data.file);
    if (serverTotals(db, "SELECT user_name, count(*), sum(quantity), sum(received), sum(cost) FROM records GROUP BY 1")
        != expected)
        return QStringLiteral("its lines differ from the file's");
    if (serverTotals(
            db, "SELECT user_name, sum(lines), sum(quantity), sum(received), sum(cost) FROM day_sums GROUP BY 1")
        != expected)
        return QStringLiteral("its day sums differ from the file's lines");
    // The shop's day sums are everyone's together.
    Totals shop;
    for (const std::array<qint64, 4>& user : expected) {
        std::array<qint64, 4>& sums = shop[QString()];
        for (size_t i = 0; i < sums.size(); ++i)
            sums[i] += user[i];
    }
    if (serverTotals(db,
            "SELECT '', sum(lines), sum(quantity), sum(received), sum(cost) FROM kivaro_shop_days('1900-01-01', "
            "'2100-12-31')")
        != shop)
        return QStringLiteral("its shop's day sums differ from the file's lines");
    for (const auto& [fileColumn, serverColumn] :
        { std::pair { "RecProductName", "product_name" }, std::pair { "RecMemo", "memo" } }) {
        if (fileTexts(data.file, fileColumn) != serverTexts(db, serverColumn))
            return QStringLiteral("its texts in %1 differ from the file's").arg(QString::fromLatin1(serverColumn));
    }
    RawSqliteDb file(data.file, false);
    const qint64 groups = file.scalar("SELECT COUNT(*) FROM DayProductSums");
    const qint64 shopGroups
        = file.scalar("SELECT COUNT(*) FROM (SELECT DISTINCT RecDate, RecProductName FROM Records)");
    const PgResult server
        = db.exec("SELECT (SELECT count(*) FROM day_product_sums), "
                  "(SELECT sum(products) FROM day_sums), (SELECT count(*) FROM (SELECT DISTINCT day, product_name "
                  "FROM day_product_sums) AS g), (SELECT sum(products) FROM kivaro_shop_days('1900-01-01', "
                  "'2100-12-31'))");
    if (server.integer(0, 0) != groups || server.integer(0, 1) != groups || server.integer(0, 2) != shopGroups
        || server.integer(0, 3) != shopGroups)
        return QStringLiteral("it holds %1 rows per day and product (%2 by its day sums) and %3 for the shop (%4), "
                              "the file %5 and %6")
            .arg(server.integer(0, 0))
            .arg(server.integer(0, 1))
            .arg(server.integer(0, 2))
            .arg(server.integer(0, 3))
            .arg(groups)
            .arg(shopGroups);
    return {};
}

void copyUsers(const SalesData& data, PgConnection& db)
{
    RawSqliteDb file(data.file, false);
    RawSqliteStatement users(file, "SELECT UserName, LoginOrder FROM Users ORDER BY ID");
    while (users.step()) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(users.get(), 0));
        db.execParams("INSERT INTO users (user_name, login_order, needs_password) VALUES ($1, $2, true)",
            { DecodeText(QString::fromLatin1(name)).toStdString(),
                std::to_string(sqlite3_column_int64(users.get(), 1)) });
    }
}

// The lines with the file's IDs, a COPY per day: the summary triggers run once a day, so that a day's summary rows lie
// together as in a ledger filled day by day (one COPY of everything scatters them in hash order, and the server's
// reads of them take twice as long).
void copyLines(const SalesData& data, PgConnection& db)
{
    RawSqliteDb file(data.file, false);
    RawSqliteStatement lines(file,
        "SELECT ID, UserName, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo FROM Records ORDER BY "
        "ID");
    QHash<QByteArray, QByteArray> decoded;
    const auto bytes = [&](int column) {
        return QByteArrayView(reinterpret_cast<const char*>(sqlite3_column_text(lines.get(), column)),
            sqlite3_column_bytes(lines.get(), column));
    };
    const auto text = [&](int column) -> const QByteArray& {
        const QByteArray stored = bytes(column).toByteArray();
        auto found = decoded.find(stored);
        if (found == decoded.end())
            found = decoded.insert(stored, decodeStoredBytes(stored).toUtf8());
        return *found;
    };
    const auto number = [&](int column) { return QByteArray::number(sqlite3_column_int64(lines.get(), column)); };
    bool pending = lines.step();
    while (pending) {
        const QByteArray day = bytes(2).toByteArray();
        db.copyIn("COPY records (id, user_name, day, product_name, quantity, received, cost, memo) FROM STDIN",
            [&](QByteArray& chunk) {
                for (int row = 0; row < 5000; ++row) {
                    chunk += number(0) + '\t';
                    appendCopyField(chunk, text(1));
                    chunk += '\t' + day + '\t';
                    appendCopyField(chunk, text(3));
                    chunk += '\t' + number(4) + '\t' + number(5) + '\t' + number(6) + '\t';
                    appendCopyField(chunk, text(7));
                    chunk += '\n';
                    pending = lines.step();
                    if (!pending || bytes(2) != day)
                        return false;
                }
                return true;
            });
    }
    db.exec("SELECT setval(pg_get_serial_sequence('records', 'id'), (SELECT max(id) FROM records))");
}

void load(const SalesData& data, const ServerData& server)
{
    std::fprintf(stderr, "loading %lld sales lines into the database %s on the server\n", data.params.rows,
        qPrintable(server.database));
    {
        // The program makes its own tables at its first operation.
        TDbMan ledger(server.location);
        QStringList names;
        ledger.GetUserNames(&names);
        check(names.isEmpty(), QStringLiteral("the new database already holds accounts"));
    }
    PgConnection db(server.conninfo);
    db.exec("BEGIN");
    // The lines of a copy were recorded where they were made.
    db.exec("SET LOCAL kivaro.importing = 'on'");
    copyUsers(data, db);
    copyLines(data, db);
    db.exec("COMMIT");
    // What autovacuum would do after a load, done now so that it does not run during the measurements.
    db.exec("VACUUM (ANALYZE)");
    // Only a superuser may; then the load's writes are not flushed in the middle of a measurement.
    db.tryExec("CHECKPOINT");
}

} // namespace

ServerData ServerData::prepare(const SalesData& data, const QString& database)
{
    static const QRegularExpression plainName(QStringLiteral("^[a-z_][a-z0-9_]*$"));
    check(plainName.match(database).hasMatch(), QStringLiteral("not a plain database name: ") + database);
    ServerData server;
    server.database = database;
    server.location = LedgerLocation::server(QStringLiteral("dbname=") + database);
    server.conninfo = conninfoFor(database);

    PgConnection admin(conninfoFor(maintenanceDatabase()));
    const QString key = dataKey(data);
    const PgResult found = admin.execParams(
        "SELECT coalesce(shobj_description(oid, 'pg_database'), '') FROM pg_database WHERE datname = $1",
        { database.toStdString() });
    if (found.rows() > 0) {
        const QString comment = found.text(0, 0);
        check(comment.startsWith(kMarker),
            QStringLiteral("the database %1 exists and was not made by the benchmark; name another with "
                           "--server-database")
                .arg(database));
        if (comment == key) {
            PgConnection db(server.conninfo);
            const QString why = differences(data, db);
            if (why.isEmpty())
                return server;
            std::fprintf(stderr, "the database %s is loaded again: %s\n", qPrintable(database), qPrintable(why));
        }
        admin.exec(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(database));
    }
    admin.exec(QStringLiteral("CREATE DATABASE %1").arg(database));
    // Marked as the benchmark's before anything is in it, so that a load cut short is dropped by the next run.
    admin.exec(QStringLiteral("COMMENT ON DATABASE %1 IS ").arg(database).toUtf8()
        + admin.literal(kMarker + QStringLiteral("loading")));
    Stopwatch clock;
    load(data, server);
    server.loadSeconds = clock.seconds();
    PgConnection db(server.conninfo);
    const QString why = differences(data, db);
    check(why.isEmpty(), QStringLiteral("the database loaded on the server is wrong: ") + why);
    admin.exec(QStringLiteral("COMMENT ON DATABASE %1 IS ").arg(database).toUtf8() + admin.literal(key));
    std::fprintf(stderr, "loaded in %.1f s\n", server.loadSeconds);
    return server;
}

QString ServerData::whyUnreachable()
{
    try {
        PgConnection admin(conninfoFor(maintenanceDatabase()));
    } catch (const BenchError& error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

QString ServerData::describe()
{
    PgConnection admin(conninfoFor(maintenanceDatabase()));
    const PgResult where = admin.exec("SELECT coalesce(host(inet_server_addr()), 'local socket'), "
                                      "current_setting('port'), current_setting('shared_buffers'), "
                                      "current_setting('fsync'), current_setting('synchronous_commit')");
    return QStringLiteral("PostgreSQL %1 at %2, port %3, shared_buffers %4, fsync %5, synchronous_commit %6")
        .arg(admin.serverVersion(), where.text(0, 0), where.text(0, 1), where.text(0, 2), where.text(0, 3),
            where.text(0, 4));
}

void ServerData::drop() const
{
    PgConnection admin(conninfoFor(maintenanceDatabase()));
    admin.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(database));
}
