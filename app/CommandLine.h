#pragma once

#include <optional>

// The commands that run without a window, before any QApplication exists. Returns the exit code when the arguments
// name one ("--copy SOURCE TARGET", "--backup FILE", "--restore FILE --yes", "--export VIEW FROM TO FILE --user NAME"),
// nothing when the program should start as usual.
//
// kivaro --copy SOURCE TARGET copies a whole ledger into an empty one. Exit codes: 0 copied and checked, 1 failed with
// nothing changed on the target, 2 wrong arguments, 3 the target was written but the check after found a difference.
//
// kivaro --backup FILE [--database LEDGER] writes a backup of the ledger (the one the program would use without
// --database). kivaro --restore FILE --yes [--database LEDGER] puts a backup in place of the ledger, the present one
// kept first in the data folder's backups; without --yes it refuses. Exit codes: 0 done, 1 failed with nothing written
// or replaced, 2 wrong arguments, 3 (a server ledger's restore) written but the check after found a difference.
//
// kivaro --export VIEW FROM TO FILE --user NAME [--database LEDGER] [--password-stdin] writes every row of a review
// view (detail, daily, perday, ranking) over the days FROM to TO (yyyy-MM-dd) into FILE, in the format its extension
// names (.xlsx, .csv, .pdf). The password is typed on the terminal without echo, or is the first line of standard
// input with --password-stdin; never an argument. Exit codes: 0 written, 1 refused or failed with no file written (a
// wrong account or password, no lines, a write error), 2 wrong arguments (view, day, extension) or no password.
std::optional<int> runCommandLineTool(int argc, char** argv);
