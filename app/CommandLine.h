#pragma once

#include <optional>

// The commands that run without a window, before any QApplication exists. Returns the exit code when the arguments
// name one ("--copy SOURCE TARGET"), nothing when the program should start as usual.
//
// kivaro --copy SOURCE TARGET copies a whole ledger into an empty one. Exit codes: 0 copied and checked, 1 failed with
// nothing changed on the target, 2 wrong arguments, 3 the target was written but the check after found a difference.
std::optional<int> runCommandLineTool(int argc, char** argv);
