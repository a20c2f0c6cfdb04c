#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace ServerSchema {

// A function of the program: its name, what CREATE FUNCTION names before LANGUAGE, its language and its body (the
// text between the dollar quotes). Each runs as its owner, the administrator, with the search path below.
struct Function
{
    QString name;
    QString signature;
    QString language;
    QString body;
};
QList<Function> functions();

// The search path of the program's functions: the catalogue, then the ledger's schema, then (last, so that nothing
// of a caller's stands in for a ledger table) the caller's temporary tables.
QString searchPath(const QString& schema);

// Whose ledger it is: the database and schema, the administrator (who owns every part of it) and the group role
// whose members are its accounts.
struct Access
{
    QString database;
    QString schema;
    QString administrator;
    QString group;
};

// The statements that create the program's tables, summaries, triggers, indexes, grants and policies in an empty
// PostgreSQL database and mark it with the version given.
QStringList createStatements(int version, const Access& access);
// The kept pending lines and the record of changes, which version 2 added.
QStringList historyStatements();
// The ledger's generation and the claims of daily backups.
QStringList generationStatements();
// The indexes the whole shop's views read by (version 7 sums the accounts' sums when the shop is read).
QStringList shopIndexStatements();
// The index of a user's lines by day (version 7 adds the user's name to it), and the products' keys (version 7).
QString userLinesIndexStatement();
QString productKeyStatement();
// The month and year summaries (version 8), and their rows added up from the day summaries.
QStringList periodStatements();
QStringList fillPeriodStatements();
// The rows a ranking adds up, product by product, of the range's parts (rangeParts): the bounds, SQL expressions of
// dates, of the days before, the months before, the years, the months after and the days after, two each. whose is
// the condition on user_name.
QString rankingSource(const QString& whose, const QStringList& bounds);
// The days a line may have, and the secret behind the program's locks (with the change's session role); version 6.
QStringList dayLimitStatements();
QStringList lockKeyStatements();
// The shop's products' catalogue (version 9): every account reads it, the shop's owners write it.
QStringList catalogueStatements();
// At most a megabyte a text.
QStringList textLimitStatements();
// The program's functions and the triggers on records.
QStringList functionStatements(const QString& schema);
// Row-level security and the grants to the accounts' group.
QStringList accessStatements(const Access& access);

} // namespace ServerSchema
