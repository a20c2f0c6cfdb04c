#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The --database option at arguments[i], as "--database LEDGER" or "--database=LEDGER", read the same way by the
// window and by every command: its value, with i moved onto the value; nothing when arguments[i] is another
// argument. Raises KivaroError when the option has no value (none, a blank one, or the next option).
std::optional<QString> takeDatabaseOption(const QStringList& arguments, qsizetype& i);

// An option of a command and how many values follow it (0: a flag). A value is not blank and does not start with
// "-", except where loose (a user's name may): then only "--" is refused.
struct OptionSpec
{
    QString name;
    int values = 0;
    bool loose = false;
};

// What a command line gave: each option's values (a flag's are empty) and --database's.
struct GivenOptions
{
    QHash<QString, QStringList> options;
    std::optional<QString> database;

    bool has(const QString& name) const { return options.contains(name); }
    QString value(const QString& name, int at = 0) const { return options.value(name).value(at); }
};

// The command line read against the options a command takes, --database anywhere. Nothing (the command's usage
// error) when an argument is none of them, an option comes twice, a value is missing, or --database has none.
std::optional<GivenOptions> readOptions(const QStringList& arguments, const QList<OptionSpec>& options);
