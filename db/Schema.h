#pragma once

#include <QSqlDatabase>
#include <QString>

namespace Schema {

// Creates the program's tables and indexes in an empty, open database. Raises KivaroError on failure.
void create(QSqlDatabase& db);

// Writes an empty database with the program's tables to path, replacing it atomically.
void writeTemplate(const QString& path);

} // namespace Schema
