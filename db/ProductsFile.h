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
// Replaces the file's content in one step, readable by its owner only, while holding the file's lock. Raises
// KivaroError on failure, and the old content stays then.
void writeProductNames(const QString& path, const QStringList& names);
// Moves the name to the top of what the file holds at this moment (a missing file holds nothing) and writes the
// result, all under the file's lock, so that a name another instance added in the meantime is kept. Returns the
// names written, or nothing without touching the file when the name is blank. Raises KivaroError when the file
// cannot be locked, read or written; the old content stays then.
std::optional<QStringList> rememberProductName(const QString& path, const QString& name);
// The same for several names used in this order (the last ends on top), in one write.
std::optional<QStringList> rememberProductNames(const QString& path, const QStringList& names);

// The first entry that equals the name, both trimmed and composed, or -1.
qsizetype indexOfName(const QStringList& names, const QString& name);

// Moves the first entry that equals the name (both trimmed and composed) to the top as the trimmed, composed name,
// or puts that name there. Returns false and changes nothing when the name is blank.
bool putNameFirst(QStringList& names, const QString& name);
