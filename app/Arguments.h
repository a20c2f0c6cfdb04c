#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The --database option at arguments[i], as "--database LEDGER" or "--database=LEDGER", read the same way by the
// window and by every command: its value, with i moved onto the value; nothing when arguments[i] is another
// argument. Raises KivaroError when the option has no value (none, a blank one, or the next option).
std::optional<QString> takeDatabaseOption(const QStringList& arguments, qsizetype& i);
