#pragma once

#include <QString>
#include <cstdio>
#include <optional>

// The command line's terminal: texts written as UTF-8, lines and passwords read from standard input.
void print(FILE* stream, const QString& text);

// A line of standard input without its line end; ended when the input ended before a line end.
struct InputLine
{
    QString text;
    bool ended = false;
};
InputLine readInputLine();
// A line typed on the terminal after the prompt, without echo; nothing when the input is no terminal.
std::optional<InputLine> readWithoutEcho(const QString& prompt);
// A line typed on the terminal without echo; nothing when the input ends first or is empty.
std::optional<QString> readPassword(const QString& server, const QString& reason);
