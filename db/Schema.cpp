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

    // Per user, month ("yyyy-MM") or year ("yyyy") and product: what a ranking of whole months and years reads
    // instead of every day's groups. Each is kept from the line itself, and its first line from the finer sums.
    struct Period
    {
        const char* table;
        const char* column;
        int length;
        // The sums one step finer, whose rows of the period give its first line, and their key's column.
        const char* finer;
        const char* finerColumn;
        const char* firstOfPeriod;
        const char* lastOfPeriod;
    };
    const Period kPeriods[] = {
        { "MonthProductSums", "RecMonth", 7, "DayProductSums", "RecDate", "-01", "-31" },
        { "YearProductSums", "RecYear", 4, "MonthProductSums", "RecMonth", "-01", "-12" },
    };

    QString periodTable(const Period& period)
    {
        return QStringLiteral(
                   "CREATE TABLE %1 (UserName TEXT NOT NULL, %2 TEXT NOT NULL, RecProductName TEXT NOT NULL, "
                   "Lines INTEGER NOT NULL, FirstID INTEGER NOT NULL, Quantity INTEGER NOT NULL, "
                   "Money INTEGER NOT NULL, Cost INTEGER NOT NULL, "
                   "PRIMARY KEY (UserName, %2, RecProductName),")
                   .arg(QLatin1String(period.table), QLatin1String(period.column))
            + QLatin1String(KIVARO_SUMS_CHECK ") WITHOUT ROWID");
    }

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

    // Each user's products: texts encoded as in Records, a code as typed (NULL when none), amounts of one unit in
    // cents (NULL when not given).
    const char* const kCatalogueStatements[] = {
        "CREATE TABLE IF NOT EXISTS Catalogue ("
        " ID INTEGER PRIMARY KEY,"
        " UserName TEXT NOT NULL,"
        " RecProductName TEXT NOT NULL,"
        " Code TEXT,"
        " Price INTEGER,"
        " Cost INTEGER,"
        " UNIQUE (UserName, RecProductName))",
        "CREATE UNIQUE INDEX IF NOT EXISTS CatalogueByCode ON Catalogue (UserName, Code) WHERE Code IS NOT NULL",
    };

    const QString kGroupKey
        = QStringLiteral("UserName=%1.UserName AND RecDate=%1.RecDate AND RecProductName=%1.RecProductName");
    const QString kDayKey = QStringLiteral("UserName=%1.UserName AND RecDate=%1.RecDate");
    // The line row counted into its period's sums.
    QString addToPeriod(const QString& row, const Period& period)
    {
        return QStringLiteral("INSERT INTO %2 (UserName, %3, RecProductName, Lines, FirstID, Quantity, Money, Cost) "
                              "VALUES (%1.UserName, substr(%1.RecDate, 1, %4), %1.RecProductName, 1, %1.ID, "
                              "%1.RecQuantity, %1.RecMoney, %1.RecCost) ON CONFLICT (UserName, %3, RecProductName) DO "
                              "UPDATE SET Lines=Lines+1, FirstID=MIN(FirstID, excluded.FirstID), "
                              "Quantity=Quantity+excluded.Quantity, Money=Money+excluded.Money, "
                              "Cost=Cost+excluded.Cost;\n")
            .arg(row, QLatin1String(period.table), QLatin1String(period.column))
            .arg(period.length);
    }

    // The line row taken out of its period's sums, after the finer sums: a period's first line is the first of its
    // finer rows, which are right by then.
    QString removeFromPeriod(const QString& row, const Period& period)
    {
        const QString key = QStringLiteral("UserName=%1.UserName AND %2=substr(%1.RecDate, 1, %3) AND "
                                           "RecProductName=%1.RecProductName")
                                .arg(row, QLatin1String(period.column))
                                .arg(period.length);
        return QStringLiteral("DELETE FROM %2 WHERE %3 AND Lines=1;\n"
                              "UPDATE %2 SET Lines=Lines-1, Quantity=Quantity-%1.RecQuantity, "
                              "Money=Money-%1.RecMoney, Cost=Cost-%1.RecCost, FirstID=CASE WHEN FirstID=%1.ID THEN "
                              "(SELECT MIN(FirstID) FROM %4 WHERE UserName=%1.UserName AND "
                              "%5>=substr(%1.RecDate, 1, %6)||'%7' AND %5<=substr(%1.RecDate, 1, %6)||'%8' "
                              "AND RecProductName=%1.RecProductName) ELSE FirstID END WHERE %3;\n")
            .arg(row, QLatin1String(period.table), key, QLatin1String(period.finer), QLatin1String(period.finerColumn))
            .arg(period.length)
            .arg(QLatin1String(period.firstOfPeriod), QLatin1String(period.lastOfPeriod));
    }

    // The statements that count the line row (NEW or OLD) into its day and group, and from version 3 its month.
    QString addLine(const QString& row, bool months)
    {
        const QString groupKey = kGroupKey.arg(row);
        QString periods;
        for (const Period& period : kPeriods) {
            if (months)
                periods += addToPeriod(row, period);
        }
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
            + periods;
    }

    // The statements that take the line row out of its day and group (and month); runs after the line has left
    // Records. A month's first line is then the first of its days' groups, which are right by then.
    QString removeLine(const QString& row, bool months)
    {
        const QString groupKey = kGroupKey.arg(row);
        const QString dayKey = kDayKey.arg(row);
        QString periods;
        for (const Period& period : kPeriods) {
            if (months)
                periods += removeFromPeriod(row, period);
        }
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
            + periods;
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

    // A period's rows, added up from the rows of the finer sums.
    QString periodGroups(const Period& period)
    {
        return QStringLiteral("SELECT UserName, substr(%1, 1, %2) AS %3, RecProductName, SUM(Lines) AS Lines, "
                              "MIN(FirstID) AS FirstID, SUM(Quantity) AS Quantity, SUM(Money) AS Money, "
                              "SUM(Cost) AS Cost FROM %4 GROUP BY UserName, substr(%1, 1, %2), RecProductName")
            .arg(QLatin1String(period.finerColumn))
            .arg(period.length)
            .arg(QLatin1String(period.column), QLatin1String(period.finer));
    }

    void insertPeriod(QSqlDatabase& db, const Period& period)
    {
        run(db,
            QStringLiteral("INSERT INTO %1 (UserName, %2, RecProductName, Lines, FirstID, Quantity, Money, Cost) ")
                    .arg(QLatin1String(period.table), QLatin1String(period.column))
                + periodGroups(period));
    }

    // The months from the days, then the years from the months.
    void insertPeriods(QSqlDatabase& db)
    {
        for (const Period& period : kPeriods)
            insertPeriod(db, period);
    }

    void createPeriods(QSqlDatabase& db)
    {
        for (const Period& period : kPeriods)
            run(db, periodTable(period));
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
    createPeriods(db);
    runAll(db, kSummaryIndexes);
    runAll(db, triggers());
    runAll(db, kHistoryStatements);
    addCatalogue(db);
}

void addHistory(QSqlDatabase& db)
{
    runAll(db, kHistoryStatements);
    addMonths(db);
}

void addMonths(QSqlDatabase& db)
{
    createPeriods(db);
    insertPeriods(db);
    dropTriggers(db);
    runAll(db, triggers());
    addCatalogue(db);
}

void addCatalogue(QSqlDatabase& db)
{
    runAll(db, kCatalogueStatements);
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
        insertPeriods(db);
    }

    // The summary tables filled from the lines, their indexes and the triggers that keep them.
    void fillSummaries(QSqlDatabase& db)
    {
        runAll(db, kSummaryTables);
        createPeriods(db);
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
    addCatalogue(db);
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
    runAll(db, kCatalogueStatements);
    if (sourceVersion >= 4)
        run(db,
            QStringLiteral("INSERT INTO main.Catalogue (ID, UserName, RecProductName, Code, Price, Cost) "
                           "SELECT ID, UserName, RecProductName, Code, Price, Cost FROM source.Catalogue ORDER BY ID"));
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
        for (const Period& period : kPeriods)
            run(db, QStringLiteral("DELETE FROM %1").arg(QLatin1String(period.table)));
        insertSummaries(db);
        return wrong;
    }
    // The months against the days, which are right by now, then the years against the months.
    for (const Period& period : kPeriods) {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT (SELECT COUNT(*) FROM (SELECT * FROM %1 EXCEPT %2)) + "
                                       "(SELECT COUNT(*) FROM (%2 EXCEPT SELECT * FROM %1))")
                            .arg(QLatin1String(period.table), periodGroups(period)))
            || !query.next())
            throw KivaroError(query.lastError().text());
        const qint64 differ = query.value(0).toLongLong();
        wrong += differ;
        if (differ == 0)
            continue;
        // This period and every coarser one are filled again from the finer sums.
        bool coarser = false;
        for (const Period& again : kPeriods) {
            coarser = coarser || &again == &period;
            if (coarser) {
                run(db, QStringLiteral("DELETE FROM %1").arg(QLatin1String(again.table)));
                insertPeriod(db, again);
            }
        }
        break;
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
