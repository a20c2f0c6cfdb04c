#include "db/Schema.h"

#include "base/Error.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace Schema {

namespace {

    // Amounts are integer cents; days are "yyyy-MM-dd" texts, so they sort and compare as days.
    const char* const kBaseStatements[] = {
        "CREATE TABLE Users ("
        " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
        " UserName TEXT NOT NULL UNIQUE,"
        " Password TEXT NOT NULL,"
        " LoginOrder INTEGER NOT NULL DEFAULT 0)",
        "CREATE TABLE Records ("
        " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
        " UserName TEXT NOT NULL,"
        " RecDate TEXT NOT NULL,"
        " RecProductName TEXT NOT NULL,"
        " RecQuantity INTEGER NOT NULL,"
        " RecMoney INTEGER NOT NULL,"
        " RecCost INTEGER NOT NULL,"
        " RecMemo TEXT NOT NULL)",
        // Holds every column that the grouped report statements read, so that they never visit the table itself.
        "CREATE INDEX RecordsByUserDate ON Records (UserName, RecDate, RecProductName, RecQuantity, RecMoney, RecCost)",
    };

// SQLite turns an integer sum beyond 64 bits into an inexact REAL; the check makes such a write fail instead.
#define KIVARO_SUMS_CHECK                                                                                              \
    " CONSTRAINT SumsWithin64Bits CHECK (typeof(Quantity) = 'integer' AND typeof(Money) = 'integer'"                   \
    " AND typeof(Cost) = 'integer')"

    // Per user and day, and per user, day and product: the sums of the lines, kept by the triggers below. Products is
    // the day's number of DayProductSums rows, FirstID the group's smallest line ID (the order of first sale).
    const char* const kSummaryTables[] = {
        "CREATE TABLE DaySums ("
        " UserName TEXT NOT NULL,"
        " RecDate TEXT NOT NULL,"
        " Lines INTEGER NOT NULL,"
        " Products INTEGER NOT NULL,"
        " Quantity INTEGER NOT NULL,"
        " Money INTEGER NOT NULL,"
        " Cost INTEGER NOT NULL,"
        " PRIMARY KEY (UserName, RecDate)," KIVARO_SUMS_CHECK ") WITHOUT ROWID",
        "CREATE TABLE DayProductSums ("
        " UserName TEXT NOT NULL,"
        " RecDate TEXT NOT NULL,"
        " RecProductName TEXT NOT NULL,"
        " Lines INTEGER NOT NULL,"
        " FirstID INTEGER NOT NULL,"
        " Quantity INTEGER NOT NULL,"
        " Money INTEGER NOT NULL,"
        " Cost INTEGER NOT NULL,"
        " PRIMARY KEY (UserName, RecDate, RecProductName)," KIVARO_SUMS_CHECK ") WITHOUT ROWID",
    };

    // Per user, month ("yyyy-MM") and product: what a ranking of whole months reads instead of every day's groups.
    const char* const kMonthTable
        = "CREATE TABLE MonthProductSums ("
          " UserName TEXT NOT NULL,"
          " RecMonth TEXT NOT NULL,"
          " RecProductName TEXT NOT NULL,"
          " Lines INTEGER NOT NULL,"
          " FirstID INTEGER NOT NULL,"
          " Quantity INTEGER NOT NULL,"
          " Money INTEGER NOT NULL,"
          " Cost INTEGER NOT NULL,"
          " PRIMARY KEY (UserName, RecMonth, RecProductName)," KIVARO_SUMS_CHECK ") WITHOUT ROWID";

#undef KIVARO_SUMS_CHECK

    const char* const kSummaryIndexes[] = {
        // The engine appends the row ID, so a day's lines come in saving order without a sort.
        "CREATE INDEX RecordsByUserDateId ON Records (UserName, RecDate)",
        "CREATE INDEX DayProductSumsByFirstSale ON DayProductSums (UserName, RecDate, FirstID)",
    };

    // Pending lines kept per user and computer until they are saved, in their list's order (texts encoded as in
    // Records); and every save, edit, delete and undo of stored lines, with the line before and after as JSON (a
    // save's After holds its count and totals).
    const char* const kHistoryStatements[] = {
        "CREATE TABLE IF NOT EXISTS PendingLines ("
        " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
        " UserName TEXT NOT NULL,"
        " Computer TEXT NOT NULL,"
        " RecDate TEXT NOT NULL,"
        " RecProductName TEXT NOT NULL,"
        " RecQuantity INTEGER NOT NULL,"
        " RecMoney INTEGER NOT NULL,"
        " RecCost INTEGER NOT NULL,"
        " RecMemo TEXT NOT NULL)",
        "CREATE INDEX IF NOT EXISTS PendingLinesByOwner ON PendingLines (UserName, Computer)",
        "CREATE TABLE IF NOT EXISTS Changes ("
        " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
        " ChangedAt TEXT NOT NULL,"
        " UserName TEXT NOT NULL,"
        " Computer TEXT NOT NULL,"
        " Kind TEXT NOT NULL,"
        " LineID INTEGER,"
        " Before TEXT NOT NULL,"
        " After TEXT NOT NULL,"
        " Undoes INTEGER,"
        " UndoneBy INTEGER)",
        "CREATE INDEX IF NOT EXISTS ChangesByUser ON Changes (UserName, ID)",
    };

    const QString kGroupKey
        = QStringLiteral("UserName=%1.UserName AND RecDate=%1.RecDate AND RecProductName=%1.RecProductName");
    const QString kDayKey = QStringLiteral("UserName=%1.UserName AND RecDate=%1.RecDate");
    const QString kMonthKey = QStringLiteral(
        "UserName=%1.UserName AND RecMonth=substr(%1.RecDate, 1, 7) AND RecProductName=%1.RecProductName");

    // The statements that count the line row (NEW or OLD) into its day and group, and from version 3 its month.
    QString addLine(const QString& row, bool months)
    {
        const QString groupKey = kGroupKey.arg(row);
        const QString month = !months
            ? QString()
            : QStringLiteral("INSERT INTO MonthProductSums (UserName, RecMonth, RecProductName, Lines, "
                             "FirstID, Quantity, Money, Cost) VALUES (%1.UserName, substr(%1.RecDate, 1, "
                             "7), %1.RecProductName, 1, %1.ID, %1.RecQuantity, %1.RecMoney, %1.RecCost) "
                             "ON CONFLICT (UserName, RecMonth, RecProductName) DO UPDATE SET "
                             "Lines=Lines+1, FirstID=MIN(FirstID, excluded.FirstID), "
                             "Quantity=Quantity+excluded.Quantity, Money=Money+excluded.Money, "
                             "Cost=Cost+excluded.Cost;\n")
                  .arg(row);
        return QStringLiteral(
                   "INSERT INTO DaySums (UserName, RecDate, Lines, Products, Quantity, Money, Cost) "
                   "VALUES (%1.UserName, %1.RecDate, 1, 1, %1.RecQuantity, %1.RecMoney, %1.RecCost) "
                   "ON CONFLICT (UserName, RecDate) DO UPDATE SET Lines=Lines+1, "
                   "Products=Products+(NOT EXISTS (SELECT 1 FROM DayProductSums WHERE %2)), "
                   "Quantity=Quantity+excluded.Quantity, Money=Money+excluded.Money, Cost=Cost+excluded.Cost;\n"
                   "INSERT INTO DayProductSums (UserName, RecDate, RecProductName, Lines, FirstID, Quantity, Money, "
                   "Cost) "
                   "VALUES (%1.UserName, %1.RecDate, %1.RecProductName, 1, %1.ID, %1.RecQuantity, %1.RecMoney, "
                   "%1.RecCost) "
                   "ON CONFLICT (UserName, RecDate, RecProductName) DO UPDATE SET Lines=Lines+1, "
                   "FirstID=MIN(FirstID, excluded.FirstID), Quantity=Quantity+excluded.Quantity, "
                   "Money=Money+excluded.Money, "
                   "Cost=Cost+excluded.Cost;\n")
                   .arg(row, groupKey)
            + month;
    }

    // The statements that take the line row out of its day and group (and month); runs after the line has left
    // Records. A month's first line is then the first of its days' groups, which are right by then.
    QString removeLine(const QString& row, bool months)
    {
        const QString groupKey = kGroupKey.arg(row);
        const QString dayKey = kDayKey.arg(row);
        const QString monthKey = kMonthKey.arg(row);
        const QString month = !months
            ? QString()
            : QStringLiteral("DELETE FROM MonthProductSums WHERE %2 AND Lines=1;\n"
                             "UPDATE MonthProductSums SET Lines=Lines-1, Quantity=Quantity-%1.RecQuantity, "
                             "Money=Money-%1.RecMoney, Cost=Cost-%1.RecCost, FirstID=CASE WHEN FirstID=%1.ID THEN "
                             "(SELECT MIN(FirstID) FROM DayProductSums WHERE UserName=%1.UserName AND "
                             "RecDate>=substr(%1.RecDate, 1, 7)||'-01' AND RecDate<=substr(%1.RecDate, 1, 7)||'-31' "
                             "AND RecProductName=%1.RecProductName) ELSE FirstID END WHERE %2;\n")
                  .arg(row, monthKey);
        return QStringLiteral(
                   "DELETE FROM DayProductSums WHERE %2 AND Lines=1;\n"
                   "UPDATE DayProductSums SET Lines=Lines-1, Quantity=Quantity-%1.RecQuantity, "
                   "Money=Money-%1.RecMoney, "
                   "Cost=Cost-%1.RecCost, "
                   "FirstID=CASE WHEN FirstID=%1.ID THEN (SELECT MIN(ID) FROM Records WHERE %2) ELSE FirstID END "
                   "WHERE %2;\n"
                   "DELETE FROM DaySums WHERE %3 AND Lines=1;\n"
                   "UPDATE DaySums SET Lines=Lines-1, Products=Products-(NOT EXISTS (SELECT 1 FROM DayProductSums "
                   "WHERE %2)), "
                   "Quantity=Quantity-%1.RecQuantity, Money=Money-%1.RecMoney, Cost=Cost-%1.RecCost WHERE %3;\n")
                   .arg(row, groupKey, dayKey)
            + month;
    }

    // Every writer, an older copy of the program included, keeps the summaries right within its own statement.
    // months: the triggers of version 3 on, which keep MonthProductSums too.
    QStringList triggers(bool months = true)
    {
        const QString newRow = QStringLiteral("NEW");
        const QString oldRow = QStringLiteral("OLD");
        return {
            QStringLiteral("CREATE TRIGGER RecordsAddToSums AFTER INSERT ON Records BEGIN\n") + addLine(newRow, months)
                + QStringLiteral("END"),
            QStringLiteral("CREATE TRIGGER RecordsRemoveFromSums AFTER DELETE ON Records BEGIN\n")
                + removeLine(oldRow, months) + QStringLiteral("END"),
            // A change of the memo alone leaves the sums as they are.
            QStringLiteral(
                "CREATE TRIGGER RecordsMoveInSums AFTER UPDATE OF ID, UserName, RecDate, RecProductName, "
                "RecQuantity, RecMoney, RecCost ON Records "
                "WHEN OLD.ID IS NOT NEW.ID OR OLD.UserName IS NOT NEW.UserName OR OLD.RecDate IS NOT NEW.RecDate "
                "OR OLD.RecProductName IS NOT NEW.RecProductName OR OLD.RecQuantity IS NOT NEW.RecQuantity "
                "OR OLD.RecMoney IS NOT NEW.RecMoney OR OLD.RecCost IS NOT NEW.RecCost BEGIN\n")
                + removeLine(oldRow, months) + addLine(newRow, months) + QStringLiteral("END"),
        };
    }

    void run(QSqlDatabase& db, const QString& statement)
    {
        QSqlQuery query(db);
        if (!query.exec(statement))
            throw KivaroError(query.lastError().text());
    }

    template <size_t N> void runAll(QSqlDatabase& db, const char* const (&statements)[N])
    {
        for (const char* statement : statements)
            run(db, QString::fromLatin1(statement));
    }

    void runAll(QSqlDatabase& db, const QStringList& statements)
    {
        for (const QString& statement : statements)
            run(db, statement);
    }

    void markVersion(QSqlDatabase& db)
    {
        run(db, QStringLiteral("PRAGMA user_version = %1").arg(kVersion));
    }

} // namespace

QString dayGroups(const QString& condition)
{
    return QStringLiteral("SELECT UserName, RecDate, COUNT(*) AS Lines, COUNT(DISTINCT RecProductName) AS Products, "
                          "SUM(RecQuantity) AS Quantity, SUM(RecMoney) AS Money, SUM(RecCost) AS Cost "
                          "FROM Records WHERE %1 GROUP BY UserName, RecDate")
        .arg(condition);
}

QString dayProductGroups(const QString& condition)
{
    return QStringLiteral("SELECT UserName, RecDate, RecProductName, COUNT(*) AS Lines, MIN(ID) AS FirstID, "
                          "SUM(RecQuantity) AS Quantity, SUM(RecMoney) AS Money, SUM(RecCost) AS Cost "
                          "FROM Records WHERE %1 GROUP BY UserName, RecDate, RecProductName")
        .arg(condition);
}

namespace {

    // The rows of MonthProductSums, added up from the rows of DayProductSums.
    QString monthProductGroups()
    {
        return QStringLiteral(
            "SELECT UserName, substr(RecDate, 1, 7) AS RecMonth, RecProductName, SUM(Lines) AS Lines, "
            "MIN(FirstID) AS FirstID, SUM(Quantity) AS Quantity, SUM(Money) AS Money, "
            "SUM(Cost) AS Cost FROM DayProductSums GROUP BY UserName, substr(RecDate, 1, 7), "
            "RecProductName");
    }

    void insertMonths(QSqlDatabase& db)
    {
        run(db,
            QStringLiteral(
                "INSERT INTO MonthProductSums (UserName, RecMonth, RecProductName, Lines, FirstID, Quantity, "
                "Money, Cost) ")
                + monthProductGroups());
    }

    void dropTriggers(QSqlDatabase& db)
    {
        for (const char* name : { "RecordsAddToSums", "RecordsRemoveFromSums", "RecordsMoveInSums" })
            run(db, QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(QLatin1String(name)));
    }

} // namespace

void create(QSqlDatabase& db)
{
    runAll(db, kBaseStatements);
    runAll(db, kSummaryTables);
    run(db, QString::fromLatin1(kMonthTable));
    runAll(db, kSummaryIndexes);
    runAll(db, triggers());
    runAll(db, kHistoryStatements);
    markVersion(db);
}

void addHistory(QSqlDatabase& db)
{
    runAll(db, kHistoryStatements);
    addMonths(db);
}

void addMonths(QSqlDatabase& db)
{
    run(db, QString::fromLatin1(kMonthTable));
    insertMonths(db);
    dropTriggers(db);
    runAll(db, triggers());
    markVersion(db);
}

namespace {

    // Counts the stored summary rows that are wrong: those not among the rows the lines make (right), and the rows
    // missing for a key the lines have. Over the columns of DaySums (daySums true) or of DayProductSums.
    QString wrongSummaries(bool daySums, const QString& stored, const QString& right)
    {
        const QString keys
            = daySums ? QStringLiteral("UserName, RecDate") : QStringLiteral("UserName, RecDate, RecProductName");
        const QString values = daySums ? QStringLiteral("Lines, Products, Quantity, Money, Cost")
                                       : QStringLiteral("Lines, FirstID, Quantity, Money, Cost");
        return QStringLiteral("SELECT (SELECT COUNT(*) FROM (SELECT %1, %2 FROM %3 EXCEPT SELECT %1, %2 FROM %4)) + "
                              "(SELECT COUNT(*) FROM (SELECT %1 FROM %4 EXCEPT SELECT %1 FROM %3))")
            .arg(keys, values, stored, right);
    }

    // The rows of the empty summary tables, computed from the lines.
    void insertSummaries(QSqlDatabase& db)
    {
        const QString all = QStringLiteral("1");
        run(db,
            QStringLiteral("INSERT INTO DaySums (UserName, RecDate, Lines, Products, Quantity, Money, Cost) ")
                + dayGroups(all));
        run(db,
            QStringLiteral("INSERT INTO DayProductSums (UserName, RecDate, RecProductName, Lines, FirstID, Quantity, "
                           "Money, Cost) ")
                + dayProductGroups(all));
        insertMonths(db);
    }

    // The summary tables filled from the lines, their indexes and the triggers that keep them.
    void fillSummaries(QSqlDatabase& db)
    {
        runAll(db, kSummaryTables);
        run(db, QString::fromLatin1(kMonthTable));
        insertSummaries(db);
        // Indexes made after the rows are filled in are built in one sort.
        runAll(db, kSummaryIndexes);
        runAll(db, triggers());
    }

} // namespace

void addSummaries(QSqlDatabase& db)
{
    fillSummaries(db);
    runAll(db, kHistoryStatements);
    markVersion(db);
}

void rebuildFrom(QSqlDatabase& db, int sourceVersion)
{
    // The tables first and their indexes after the rows are in: each index is then built in one sort.
    QStringList indexes;
    for (const char* statement : kBaseStatements) {
        if (QLatin1String(statement).startsWith(QLatin1String("CREATE INDEX")))
            indexes.append(QString::fromLatin1(statement));
        else
            run(db, QString::fromLatin1(statement));
    }
    run(db,
        QStringLiteral("INSERT INTO main.Users (ID, UserName, Password, LoginOrder) "
                       "SELECT ID, UserName, Password, LoginOrder FROM source.Users ORDER BY ID"));
    run(db,
        QStringLiteral(
            "INSERT INTO main.Records (ID, UserName, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, "
            "RecMemo) SELECT ID, UserName, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo "
            "FROM source.Records ORDER BY ID"));
    runAll(db, indexes);
    fillSummaries(db);
    runAll(db, kHistoryStatements);
    if (sourceVersion >= 2) {
        run(db,
            QStringLiteral(
                "INSERT INTO main.PendingLines (ID, UserName, Computer, RecDate, RecProductName, RecQuantity, "
                "RecMoney, RecCost, RecMemo) SELECT ID, UserName, Computer, RecDate, RecProductName, "
                "RecQuantity, RecMoney, RecCost, RecMemo FROM source.PendingLines ORDER BY ID"));
        run(db,
            QStringLiteral("INSERT INTO main.Changes (ID, ChangedAt, UserName, Computer, Kind, LineID, Before, After, "
                           "Undoes, UndoneBy) SELECT ID, ChangedAt, UserName, Computer, Kind, LineID, Before, After, "
                           "Undoes, UndoneBy FROM source.Changes ORDER BY ID"));
    }
    markVersion(db);
}

qint64 repairSummaries(QSqlDatabase& db)
{
    const QString all = QStringLiteral("1");
    qint64 wrong = 0;
    for (const QString& statement :
        { wrongSummaries(true, QStringLiteral("DaySums"), QLatin1Char('(') + dayGroups(all) + QLatin1Char(')')),
            wrongSummaries(false, QStringLiteral("DayProductSums"),
                QLatin1Char('(') + dayProductGroups(all) + QLatin1Char(')')) }) {
        QSqlQuery query(db);
        if (!query.exec(statement) || !query.next())
            throw KivaroError(query.lastError().text());
        wrong += query.value(0).toLongLong();
    }
    if (wrong > 0) {
        run(db, QStringLiteral("DELETE FROM DaySums"));
        run(db, QStringLiteral("DELETE FROM DayProductSums"));
        run(db, QStringLiteral("DELETE FROM MonthProductSums"));
        insertSummaries(db);
        return wrong;
    }
    // The months against the days, which are right by now.
    QSqlQuery months(db);
    if (!months.exec(QStringLiteral("SELECT (SELECT COUNT(*) FROM (SELECT * FROM MonthProductSums EXCEPT %1)) + "
                                    "(SELECT COUNT(*) FROM (%1 EXCEPT SELECT * FROM MonthProductSums))")
                         .arg(monthProductGroups()))
        || !months.next())
        throw KivaroError(months.lastError().text());
    wrong = months.value(0).toLongLong();
    if (wrong > 0) {
        run(db, QStringLiteral("DELETE FROM MonthProductSums"));
        insertMonths(db);
    }
    return wrong;
}

void writeTemplate(const QString& path)
{
    const QString temporary = path + QStringLiteral(".tmp");
    QFile::remove(temporary);
    const QString connection = QStringLiteral("kivaro-template-") + QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(temporary);
        if (!db.open())
            throw KivaroError(db.lastError().text());
        create(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    QFile::remove(path);
    if (!QFile::rename(temporary, path))
        throw KivaroError(QStringLiteral("无法写入模板文件“%1”").arg(path));
}

QStringList triggerStatements()
{
    return triggers() + triggers(false);
}

} // namespace Schema
