#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// A user's remembered product names: a GB18030 text file with one name per line, most recently used first.

// The lines of a text split at CR LF, a lone CR or a lone LF. Empty lines are kept; a final line break does not
// start another line.
QStringList splitLines(const QString& text);

// The names held by a file's bytes: decoded as GB18030 up to the first NUL, then split into lines.
QStringList decodeProductNames(const QByteArray& bytes);
// GB18030 bytes with CR LF after every name; no names give no bytes.
QByteArray encodeProductNames(const QStringList& names);

// The names in the file, or nothing when no file exists. Raises KivaroError when it exists but cannot be read.
std::optional<QStringList> readProductNames(const QString& path);
// Replaces the file's content in one step, readable by its owner only. Raises KivaroError on failure, and the old
// content stays then.
void writeProductNames(const QString& path, const QStringList& names);

// The first entry that equals the trimmed name after trimming the entry too, or -1.
qsizetype indexOfName(const QStringList& names, const QString& name);

// Moves the first entry that equals the trimmed name (after trimming the entry too) to the top as the trimmed name,
// or puts the trimmed name there. Returns false and changes nothing when the trimmed name is empty.
bool putNameFirst(QStringList& names, const QString& name);
