#include "db/Numbers.h"

#include <QLocale>
#include <QVarLengthArray>

namespace {

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

bool isDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

qsizetype skipBlanks(const QString& text, qsizetype pos)
{
    while (pos < text.size() && text.at(pos) == QLatin1Char(' '))
        ++pos;
    return pos;
}

} // namespace

std::optional<qint32> parseQuantity(const QString& text)
{
    qsizetype pos = skipBlanks(text, 0);
    bool negative = false;
    if (pos < text.size() && (text.at(pos) == QLatin1Char('+') || text.at(pos) == QLatin1Char('-')))
        negative = text.at(pos++) == QLatin1Char('-');
    int base = 10;
    if (pos < text.size() && (text.at(pos) == QLatin1Char('$') || text.at(pos).toLower() == QLatin1Char('x'))) {
        base = 16;
        ++pos;
    } else if (pos + 1 < text.size() && text.at(pos) == QLatin1Char('0')
        && text.at(pos + 1).toLower() == QLatin1Char('x')) {
        base = 16;
        pos += 2;
    }
    if (pos >= text.size())
        return std::nullopt;
    const qint64 limit = negative ? 2147483648LL : 2147483647LL;
    qint64 value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit
            = base == 16 ? hexValue(text.at(pos)) : (isDigit(text.at(pos)) ? text.at(pos).unicode() - '0' : -1);
        if (digit < 0)
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<qint32>(negative ? -value : value);
}

std::optional<qint64> parseAmountCents(const QString& text, QChar decimalSeparator)
{
    qsizetype pos = skipBlanks(text, 0);
    bool negative = false;
    if (pos < text.size() && (text.at(pos) == QLatin1Char('+') || text.at(pos) == QLatin1Char('-')))
        negative = text.at(pos++) == QLatin1Char('-');

    // The significant digits without leading zeros, and how many of the digits stood after the separator. Kept on the
    // stack for any amount a person types: totals parse every row of a list.
    QVarLengthArray<char, 32> digits;
    qint64 fractionDigits = 0;
    bool anyDigit = false;
    bool seenSeparator = false;
    for (; pos < text.size(); ++pos) {
        const QChar c = text.at(pos);
        if (isDigit(c)) {
            anyDigit = true;
            if (!digits.isEmpty() || c != QLatin1Char('0'))
                digits.append(char(c.unicode()));
            if (seenSeparator)
                ++fractionDigits;
        } else if (c == decimalSeparator && !seenSeparator) {
            seenSeparator = true;
        } else {
            break;
        }
    }
    if (!anyDigit)
        return std::nullopt;

    qint64 exponent = 0;
    if (pos < text.size() && text.at(pos).toLower() == QLatin1Char('e')) {
        ++pos;
        bool negativeExponent = false;
        if (pos < text.size() && (text.at(pos) == QLatin1Char('+') || text.at(pos) == QLatin1Char('-')))
            negativeExponent = text.at(pos++) == QLatin1Char('-');
        if (pos >= text.size() || !isDigit(text.at(pos)))
            return std::nullopt;
        for (; pos < text.size() && isDigit(text.at(pos)); ++pos)
            exponent = std::min<qint64>(exponent * 10 + (text.at(pos).unicode() - '0'), 1'000'000'000LL);
        if (negativeExponent)
            exponent = -exponent;
    }
    if (skipBlanks(text, pos) != text.size())
        return std::nullopt;

    // value = digits * 10^(exponent - fractionDigits); cents shift two places further.
    const qint64 shift = exponent - fractionDigits + 2;
    const qint64 length = digits.size();
    if (length == 0)
        return 0;
    if (length + shift > 15)
        return std::nullopt;
    qint64 cents = 0;
    const qint64 kept = std::max<qint64>(0, length + std::min<qint64>(shift, 0));
    for (qint64 i = 0; i < kept; ++i)
        cents = cents * 10 + (digits.at(i) - '0');
    for (qint64 i = 0; i < shift; ++i)
        cents *= 10;
    if (shift < 0 && length + shift >= 0 && digits.at(length + shift) >= '5')
        ++cents;
    if (cents > kMaxAmountCents)
        return std::nullopt;
    return negative ? -cents : cents;
}

QString formatCents(qint64 cents, QChar decimalSeparator)
{
    // Written from the right into a buffer: the review page formats hundreds of thousands of these.
    quint64 magnitude = cents < 0 ? 0 - quint64(cents) : quint64(cents);
    char16_t buffer[24];
    qsizetype pos = std::size(buffer);
    buffer[--pos] = char16_t(u'0' + magnitude % 10);
    magnitude /= 10;
    buffer[--pos] = char16_t(u'0' + magnitude % 10);
    magnitude /= 10;
    buffer[--pos] = decimalSeparator.unicode();
    do {
        buffer[--pos] = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (cents < 0)
        buffer[--pos] = u'-';
    return QString(reinterpret_cast<const QChar*>(buffer + pos), qsizetype(std::size(buffer)) - pos);
}

QString formatWideCents(WideCents cents, QChar decimalSeparator)
{
    using Magnitude = unsigned __int128;
    Magnitude magnitude = cents < 0 ? Magnitude(0) - Magnitude(cents) : Magnitude(cents);
    char16_t buffer[48];
    qsizetype pos = std::size(buffer);
    for (int digit = 0; digit < 3 || magnitude > 0; ++digit) {
        if (digit == 2)
            buffer[--pos] = decimalSeparator.unicode();
        buffer[--pos] = char16_t(u'0' + int(magnitude % 10));
        magnitude /= 10;
    }
    if (cents < 0)
        buffer[--pos] = u'-';
    return QString(reinterpret_cast<const QChar*>(buffer + pos), qsizetype(std::size(buffer)) - pos);
}

QChar localeDecimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 ? point.at(0) : QLatin1Char('.');
}

QString totalsLine(qint64 quantity, WideCents receivedCents, WideCents costCents)
{
    const QChar sep = localeDecimalSeparator();
    return QStringLiteral("数量：%1  实收：%2  成本：%3  利润：%4")
        .arg(QString::number(quantity), formatWideCents(receivedCents, sep), formatWideCents(costCents, sep),
            formatWideCents(receivedCents - costCents, sep));
}

std::optional<QDate> parseDayText(const QString& text)
{
    if (text.size() != 10)
        return std::nullopt;
    for (int i : { 0, 1, 2, 3, 5, 6, 8, 9 }) {
        if (!isDigit(text.at(i)))
            return std::nullopt;
    }
    if (isDigit(text.at(4)) || isDigit(text.at(7)))
        return std::nullopt;
    const QDate date(text.left(4).toInt(), text.mid(5, 2).toInt(), text.mid(8, 2).toInt());
    if (!date.isValid())
        return std::nullopt;
    return date;
}
