#pragma once

#include <QSqlDatabase>
#include <QString>

namespace Schema {

// The layout this program writes, kept in the file as PRAGMA user_version. Version 0 had no summaries, version 1 no
// kept pending lines and no record of changes, version 2 no month and year summaries, version 3 no catalogue.
inline constexpr int kVersion = 4;
// Whether a file of this layout keeps the month and year summaries, and the products' catalogue.
inline bool keepsMonthSums(qint64 version)
{
    return version >= 3 && version <= kVersion;
}
inline bool keepsCatalogue(qint64 version)
{
    return version >= 4 && version <= kVersion;
}
// Whether a file of this layout keeps the day summaries that a backup and a restore check against its lines.
inline bool checksDaySums(qint64 version)
{
    return version >= 2 && version <= kVersion;
}

// Creates the program's tables, indexes and triggers in an empty, open database and marks it kVersion. Raises
// KivaroError on failure.
void create(QSqlDatabase& db);

// Gives a version 0 database its summaries, filled from its lines, and marks it kVersion. Runs inside the caller's
// transaction; raises KivaroError on failure.
void addSummaries(QSqlDatabase& db);

// Builds the program's layout in an empty, open database and fills it with the data of the database attached as
// "source" (which must have been checked to hold the program's tables and columns): accounts, lines with their IDs,
// for a version 2 source its kept pending lines and record of changes, for a version 4 source its catalogue. Only those
// columns are read; the summaries are computed from the lines, and nothing else of the source (triggers, views,
// settings) is taken. Runs inside the caller's transaction; raises KivaroError on failure.
void rebuildFrom(QSqlDatabase& db, int sourceVersion);

// Gives a version 1 database the kept pending lines and the record of changes, then its month summaries (addMonths).
// Runs inside the caller's transaction; raises KivaroError on failure.
void addHistory(QSqlDatabase& db);
// Gives a version 2 database its month and year summaries, added up from its day summaries, and the triggers that
// keep them, then the catalogue (addCatalogue). Runs inside the caller's transaction; raises KivaroError on failure.
void addMonths(QSqlDatabase& db);
// Gives a version 3 database the products' catalogue and marks it kVersion. Runs inside the caller's transaction;
// raises KivaroError on failure.
void addCatalogue(QSqlDatabase& db);

// The rows of DaySums and of DayProductSums computed from the lines of Records that meet the condition, with the
// same column names: what the summaries hold, for a file that lacks them.
QString dayGroups(const QString& condition);
QString dayProductGroups(const QString& condition);

// Compares the summaries of a kVersion database with what its lines make and, where they differ, empties the
// summary tables and fills them again from the lines (the month and year summaries alone from the days, when only they
// differ). Returns the number of summary rows that differed (0: nothing was written). Runs inside the caller's
// transaction; raises KivaroError on failure.
qint64 repairSummaries(QSqlDatabase& db);
// Writes an empty database with the program's tables to path, replacing it atomically.
void writeTemplate(const QString& path);

// The statements that make the summaries' triggers, as this program and the one before the month summaries wrote them
// into a ledger.
QStringList triggerStatements();

} // namespace Schema
