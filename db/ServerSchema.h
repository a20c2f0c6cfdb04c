#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace ServerSchema {

// A trigger function of the program: its name, its body (the text between the dollar quotes) and the bodies that
// earlier versions wrote for it, which do the same.
struct Function
{
    QString name;
    QString body;
    QStringList earlierBodies;
};
QList<Function> functions();

// The statements that create the program's tables, summaries, triggers and indexes in an empty PostgreSQL database
// and mark it with the version given.
QStringList createStatements(int version);
// The kept pending lines and the record of changes, which version 2 added.
QStringList historyStatements();

} // namespace ServerSchema
