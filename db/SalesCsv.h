#pragma once

#include "db/SalesRows.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// A row of an imported file that cannot become a sales line, and why.
struct ImportProblem
{
    // Counted from 1 as a spreadsheet numbers its rows, the header included.
    qint64 row = 0;
    QString column;
    QString reason;
    friend bool operator==(const ImportProblem&, const ImportProblem&) = default;
};

// What a file of sales lines held: the lines that pass the checks of typing a line, and the problems of the others.
struct SalesImport
{
    QList<SalesLine> lines;
    QList<ImportProblem> problems;
    // Rows with a value in them, the header not counted.
    qint64 rows = 0;
    // "UTF-8", "UTF-16" or "GB18030"; the other of UTF-8 and GB18030 when the whole file is valid in it too.
    QString encoding;
    QString otherEncoding;
    bool header = false;
};

// A text a spreadsheet would take for a formula (it begins with =, +, -, @, a tab or a carriage return), or one that
// begins with the apostrophe added here, gets an apostrophe in front; undefusedText takes it off again, so that a
// file written and read back gives every text as it was.
QString defusedText(const QString& text);
QString undefusedText(const QString& text);

// Called now and then with the bytes read and the bytes in all.
using ImportProgress = std::function<void(qint64 done, qint64 total)>;

// Reads sales lines from CSV bytes: UTF-8 with or without a byte-order mark when the whole file is valid UTF-8,
// UTF-16 behind its byte-order mark, or GB18030 when the whole file is valid GB18030 (any other file raises
// KivaroError naming the encodings tried), or in the encoding given ("UTF-8" or "GB18030") when it is valid in it;
// a comma, semicolon or tab between fields; RFC 4180 quoting. Columns are found by the header's captions (日期, 品名,
// 数量, 实收, 成本, 备注) or, without a header, taken in that order. Each row is checked as a typed line is: a day,
// a name that is not blank, a whole quantity, amounts within their limits (a full stop or the decimal separator
// given; a quantity in decimal digits); names and memos are kept trimmed and composed, an apostrophe that guarded one
// against formulas removed; a U+0000 in a text is a problem of its row.
SalesImport parseSalesCsv(const QByteArray& bytes, QChar decimalSeparator, const ImportProgress& progress = {},
    const QString& encoding = QString());
// The same from a file; raises KivaroError when it cannot be read or is too large to be a list of sales.
SalesImport readSalesCsv(const QString& path, QChar decimalSeparator, const ImportProgress& progress = {},
    const QString& encoding = QString());

// Sales lines as a file the import reads back (UTF-8 with a byte-order mark, a header, comma-separated, every text
// quoted and guarded against formulas, amounts with a full stop).
QByteArray salesCsv(const QList<SalesLine>& lines);
