#include "base/TextCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <cstring>
#include <optional>

namespace {

// The GB18030 bytes of every character of the Basic Multilingual Plane but the surrogates, taken once from the
// converter itself. A text of such characters is then converted by lookups, to the same bytes, several times faster:
// the products file is converted whole on every sale.
class Gb18030Table
{
public:
    Gb18030Table()
    {
        QString all;
        all.reserve(0x10000);
        for (char32_t c = 0; c <= 0xFFFF; ++c)
            all.append(QChar::isSurrogate(c) ? QChar(u'?') : QChar(char16_t(c)));
        QStringEncoder encoder("GB18030");
        const QByteArray bytes = encoder.encode(all);
        // A character takes one byte below 0x80, four when the second byte is a digit, two otherwise.
        qsizetype at = 0;
        for (char32_t c = 0; c <= 0xFFFF && at < bytes.size(); ++c) {
            const auto first = static_cast<unsigned char>(bytes.at(at));
            const auto second = at + 1 < bytes.size() ? static_cast<unsigned char>(bytes.at(at + 1)) : 0;
            const int length = first < 0x80 ? 1 : (second >= 0x30 && second <= 0x39 ? 4 : 2);
            std::memcpy(m_bytes[c], bytes.constData() + at, size_t(std::min<qsizetype>(length, bytes.size() - at)));
            m_length[c] = static_cast<unsigned char>(length);
            at += length;
        }
        // Anything unexpected in the converter's output, and the table is left unused.
        m_usable = at == bytes.size() && m_length[0xFFFF] != 0;
    }

    // The bytes of a text without surrogates, or nothing when the table cannot give them.
    std::optional<QByteArray> convert(const QString& text) const
    {
        if (!m_usable)
            return std::nullopt;
        QByteArray out(text.size() * 4, Qt::Uninitialized);
        char* write = out.data();
        for (const QChar c : text) {
            if (c.isSurrogate())
                return std::nullopt;
            const char16_t code = c.unicode();
            std::memcpy(write, m_bytes[code], 4);
            write += m_length[code];
        }
        out.truncate(write - out.constData());
        return out;
    }

private:
    char m_bytes[0x10000][4] {};
    unsigned char m_length[0x10000] {};
    bool m_usable = false;
};

} // namespace

// Opening a converter costs several times more than converting a product name, so each thread keeps one of each
// and clears its state before every use, which converts exactly as a new one would.
QByteArray toGb18030(const QString& text)
{
    static const Gb18030Table table;
    if (std::optional<QByteArray> bytes = table.convert(text))
        return *bytes;
    thread_local QStringEncoder encoder("GB18030");
    encoder.resetState();
    // The converter holds back a final high surrogate to wait for its pair and never writes it; a NUL after it
    // makes it come out as the substitute byte, as it does anywhere else in a text.
    if (!text.isEmpty() && text.back().isHighSurrogate()) {
        QByteArray bytes = encoder.encode(text + QChar(0));
        bytes.chop(1);
        return bytes;
    }
    return encoder.encode(text);
}

QString withoutLoneSurrogates(const QString& text)
{
    return text.isValidUtf16() ? text : fromGb18030(toGb18030(text));
}

QString fromGb18030(const QByteArray& bytes)
{
    thread_local QStringDecoder decoder("GB18030");
    decoder.resetState();
    return decoder.decode(bytes);
}

QByteArray encodeTextBytes(const QString& text)
{
    if (text.isEmpty())
        return QByteArray("");
    const QByteArray base64 = toGb18030(text).toBase64();
    if (base64.size() <= 76)
        return base64.size() == 76 ? base64 + "\r\n" : base64;
    QByteArray out;
    out.reserve(base64.size() + base64.size() / 76 * 2);
    for (qsizetype pos = 0; pos < base64.size(); pos += 76) {
        const QByteArrayView line = QByteArrayView(base64).sliced(pos, std::min<qsizetype>(76, base64.size() - pos));
        out += line;
        if (line.size() == 76)
            out += "\r\n";
    }
    return out;
}

QString EncodeText(const QString& text)
{
    // Never a null text: the database would store it as NULL, which its columns refuse.
    const QByteArray bytes = encodeTextBytes(text);
    return bytes.isEmpty() ? QStringLiteral("") : QString::fromLatin1(bytes);
}

namespace {

// The value of each byte in the Base64 alphabet; "=" counts as 0, bytes outside the alphabet are -1.
struct Base64Table
{
    signed char value[256];
    constexpr Base64Table()
        : value {}
    {
        for (int c = 0; c < 256; ++c)
            value[c] = -1;
        for (int c = 'A'; c <= 'Z'; ++c)
            value[c] = static_cast<signed char>(c - 'A');
        for (int c = 'a'; c <= 'z'; ++c)
            value[c] = static_cast<signed char>(c - 'a' + 26);
        for (int c = '0'; c <= '9'; ++c)
            value[c] = static_cast<signed char>(c - '0' + 52);
        value[int('+')] = 62;
        value[int('/')] = 63;
        value[int('=')] = 0;
    }
};

constexpr Base64Table kBase64;

} // namespace

QByteArray decodeBase64Lines(QByteArrayView encoded)
{
    QByteArray out(encoded.size() * 3 / 4 + 3, Qt::Uninitialized);
    char* write = out.data();
    unsigned char group[4];
    int n = 0;
    for (const char c : encoded) {
        const auto byte = static_cast<unsigned char>(c);
        if (kBase64.value[byte] < 0)
            continue;
        group[n++] = byte;
        if (n < 4)
            continue;
        n = 0;
        const int v = (kBase64.value[group[0]] << 18) | (kBase64.value[group[1]] << 12) | (kBase64.value[group[2]] << 6)
            | kBase64.value[group[3]];
        *write++ = char((v >> 16) & 0xFF);
        if (group[2] != '=')
            *write++ = char((v >> 8) & 0xFF);
        if (group[3] != '=')
            *write++ = char(v & 0xFF);
    }
    out.truncate(write - out.constData());
    return out;
}

QString DecodeText(const QString& encoded)
{
    return fromGb18030(decodeBase64Lines(encoded.toLatin1()));
}

QString decodeStoredBytes(QByteArrayView encoded)
{
    if (encoded.isEmpty())
        return QString();
    return fromGb18030(decodeBase64Lines(encoded));
}

QString trimmed32(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

namespace {

// True for a text that composition cannot change: nothing but characters below the combining marks, the CJK,
// kana and Hangul blocks without their two combining sound marks, and the full-width forms. Composing a long list of
// names for every comparison costs more than the comparisons; most names pass this check and skip it.
bool isSurelyComposed(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x300 || (u >= 0x3000 && u < 0xF900 && u != 0x3099 && u != 0x309A) || (u >= 0xFF00 && u < 0xFFF0);
    });
}

} // namespace

bool isComposedTrimmed(const QString& text)
{
    const bool trimmed = text.isEmpty() || (text.front().unicode() > 32 && text.back().unicode() > 32);
    return trimmed && isSurelyComposed(text);
}

QString composedTrimmed(const QString& text)
{
    QString trimmed = trimmed32(text);
    if (isSurelyComposed(trimmed))
        return trimmed;
    return trimmed.normalized(QString::NormalizationForm_C);
}

bool isBlankText(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 32 || c.isSpace(); });
}
