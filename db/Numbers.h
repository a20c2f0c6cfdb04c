#pragma once

#include <QChar>
#include <QDate>
#include <QString>
#include <optional>

// The largest amount a field accepts, in cents (one trillion).
inline constexpr qint64 kMaxAmountCents = 100'000'000'000'000LL;

// A day the ledger keeps: four-digit years only, so that the stored texts sort as the days do.
inline bool isLedgerDay(const QDate& day)
{
    return day.isValid() && day.year() >= 1 && day.year() <= 9999;
}

// A signed 32-bit quantity: leading blanks, an optional sign, then decimal digits or hexadecimal digits after
// "$", "x", "X", "0x" or "0X". Nothing may follow the digits.
std::optional<qint32> parseQuantity(const QString& text);

// An amount in exact cents, rounded half away from zero: blanks, an optional sign, digits with at most one
// decimal separator, an optional exponent, blanks. No thousands separators; above one trillion is refused.
std::optional<qint64> parseAmountCents(const QString& text, QChar decimalSeparator);

// Sums of many amounts: a total of lines near the one-trillion limit outgrows 64 bits.
using WideCents = __int128;

// Cents as a fixed two-decimal text without thousands separators.
QString formatCents(qint64 cents, QChar decimalSeparator = QLatin1Char('.'));
QString formatWideCents(WideCents cents, QChar decimalSeparator = QLatin1Char('.'));

// The decimal separator of the user's number format.
QChar localeDecimalSeparator();

// "数量：%d  实收：%0.2f  成本：%0.2f  利润：%0.2f"
QString totalsLine(qint64 quantity, WideCents receivedCents, WideCents costCents);

// Year, month and day as four, two and two digits, each pair joined by any one character.
std::optional<QDate> parseDayText(const QString& text);
