#pragma once

#include "db/LedgerLocation.h"

#include <QStringList>
#include <optional>

// Runs the program from the start of the process to the close of the main window; returns the exit code.
int runKivaro(int argc, char** argv);

// Maps the font the windows ask for, "宋体", onto an installed Song/Ming face.
void installFontSubstitutes();

// The ledger named by the last --database VALUE or --database=VALUE of the program's arguments (the first one is the
// program), nothing without the option. Raises KivaroError when the option has no value.
std::optional<LedgerLocation> ledgerChosenOnCommandLine(const QStringList& arguments);
