#pragma once

#include <optional>

// The commands that run without a window, before any QApplication exists. Returns the exit code when the arguments
// name one ("--copy SOURCE TARGET", "--backup FILE", "--restore FILE --yes"), nothing when the program should start as
// usual.
//
// kivaro --copy SOURCE TARGET copies a whole ledger into an empty one. Exit codes: 0 copied and checked, 1 failed with
// nothing changed on the target, 2 wrong arguments, 3 the target was written but the check after found a difference.
//
// kivaro --backup FILE [--database LEDGER] writes a backup of the ledger (the one the program would use without
// --database). kivaro --restore FILE --yes [--database LEDGER] puts a backup in place of the ledger, the present one
// kept first in the data folder's backups; without --yes it refuses. Exit codes: 0 done, 1 failed with nothing written
// or replaced, 2 wrong arguments, 3 (a server ledger's restore) written but the check after found a difference.
std::optional<int> runCommandLineTool(int argc, char** argv);
