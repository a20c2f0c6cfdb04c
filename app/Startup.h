#pragma once

// Runs the program from the start of the process to the close of the main window; returns the exit code.
int runKivaro(int argc, char** argv);

// Maps the font the windows ask for, "宋体", onto an installed Song/Ming face.
void installFontSubstitutes();
