#pragma once

#include <QStringList>

namespace ServerSchema {

// The statements that create the program's tables, summaries, triggers and indexes in an empty PostgreSQL database
// and mark it with the version given.
QStringList createStatements(int version);
// The kept pending lines and the record of changes, which version 2 added.
QStringList historyStatements();

} // namespace ServerSchema
