#include "db/TextCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

QByteArray toGb18030(const QString& text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

QString fromGb18030(const QByteArray& bytes)
{
    QStringDecoder decoder("GB18030");
    return decoder.decode(bytes);
}

QString EncodeText(const QString& text)
{
    const QByteArray base64 = toGb18030(text).toBase64();
    QByteArray out;
    out.reserve(base64.size() + base64.size() / 76 * 2);
    for (qsizetype pos = 0; pos < base64.size(); pos += 76) {
        const QByteArray line = base64.mid(pos, 76);
        out += line;
        if (line.size() == 76)
            out += "\r\n";
    }
    return QString::fromLatin1(out);
}

static int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=')
        return 0;
    return -1;
}

QByteArray decodeBase64Lines(const QByteArray& encoded)
{
    QByteArray out;
    out.reserve(encoded.size() * 3 / 4);
    char group[4];
    int n = 0;
    for (char c : encoded) {
        if (base64Value(c) < 0)
            continue;
        group[n++] = c;
        if (n < 4)
            continue;
        n = 0;
        const int v = (base64Value(group[0]) << 18) | (base64Value(group[1]) << 12) | (base64Value(group[2]) << 6)
            | base64Value(group[3]);
        out += char((v >> 16) & 0xFF);
        if (group[2] != '=')
            out += char((v >> 8) & 0xFF);
        if (group[3] != '=')
            out += char(v & 0xFF);
    }
    return out;
}

QString DecodeText(const QString& encoded)
{
    return fromGb18030(decodeBase64Lines(encoded.toLatin1()));
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
