#include "db/ProductsFile.h"

#include "app/Error.h"
#include "db/TextCodec.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>

QStringList splitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        const QChar c = text.at(pos);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) {
            ++pos;
            continue;
        }
        lines.append(text.mid(start, pos - start));
        const bool crLf = c == QLatin1Char('\r') && pos + 1 < text.size() && text.at(pos + 1) == QLatin1Char('\n');
        pos += crLf ? 2 : 1;
        start = pos;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QStringList decodeProductNames(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return splitLines(fromGb18030(nul < 0 ? bytes : bytes.left(nul)));
}

QByteArray encodeProductNames(const QStringList& names)
{
    // The list is rewritten on every sale, so its names go to the converter in one piece, which is about twice as fast
    // as one name at a time. A name holding a surrogate goes alone: an unpaired one must not pair up with a neighbour.
    QByteArray bytes;
    QString batch;
    for (const QString& name : names) {
        if (std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.isSurrogate(); })) {
            bytes += toGb18030(batch) + toGb18030(name) + "\r\n";
            batch.clear();
            continue;
        }
        batch += name;
        batch += QLatin1String("\r\n");
    }
    return bytes + toGb18030(batch);
}

std::optional<QStringList> readProductNames(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw KivaroError(QStringLiteral("无法读取品名文件“%1”：%2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw KivaroError(QStringLiteral("无法读取品名文件“%1”：%2").arg(path, file.errorString()));
    return decodeProductNames(bytes);
}

void writeProductNames(const QString& path, const QStringList& names)
{
    QSaveFile file(path);
    const QByteArray bytes = encodeProductNames(names);
    const bool written = file.open(QIODevice::WriteOnly)
        && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) && file.write(bytes) == bytes.size()
        && file.commit();
    if (!written)
        throw KivaroError(QStringLiteral("无法保存品名文件“%1”：%2").arg(path, file.errorString()));
}

qsizetype indexOfName(const QStringList& names, const QString& name)
{
    const QString wanted = trimmed32(name);
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (trimmed32(names.at(i)) == wanted)
            return i;
    }
    return -1;
}

bool putNameFirst(QStringList& names, const QString& name)
{
    const QString wanted = trimmed32(name);
    if (wanted.isEmpty())
        return false;
    const qsizetype at = indexOfName(names, wanted);
    if (at >= 0)
        names.removeAt(at);
    names.prepend(wanted);
    return true;
}
