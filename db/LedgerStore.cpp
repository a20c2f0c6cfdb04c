#include "db/LedgerStore.h"

#include "db/Numbers.h"

#include <QJsonDocument>
#include <QJsonObject>

QString lineRecord(const std::optional<SalesLine>& line)
{
    if (!line)
        return {};
    const QJsonObject record { { QStringLiteral("id"), QString::number(line->id) },
        { QStringLiteral("day"), line->day.toString(Qt::ISODate) }, { QStringLiteral("name"), line->productName },
        { QStringLiteral("quantity"), QString::number(line->quantity) },
        { QStringLiteral("received"), QString::number(line->received) },
        { QStringLiteral("cost"), QString::number(line->cost) }, { QStringLiteral("memo"), line->memo } };
    return QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact));
}

std::optional<SalesLine> lineFromRecord(const QString& record)
{
    if (record.isEmpty())
        return std::nullopt;
    const QJsonObject line = QJsonDocument::fromJson(record.toUtf8()).object();
    const auto text = [&line](const char* key) { return line.value(QLatin1String(key)).toString(); };
    return SalesLine { text("id").toLongLong(), QDate::fromString(text("day"), Qt::ISODate), text("name"),
        text("quantity").toInt(), text("received").toLongLong(), text("cost").toLongLong(), text("memo") };
}

namespace {

QString wideText(WideCents value)
{
    return formatWideCents(value).remove(QLatin1Char('.'));
}

WideCents wideValue(const QString& text)
{
    WideCents value = 0;
    const bool negative = text.startsWith(QLatin1Char('-'));
    for (const QChar c : QStringView(text).mid(negative ? 1 : 0))
        value = value * 10 + (c.unicode() - u'0');
    return negative ? -value : value;
}

} // namespace

QString savedRecord(const SalesTotals& totals, const QByteArray& token)
{
    QJsonObject record { { QStringLiteral("lines"), QString::number(totals.lines) },
        { QStringLiteral("quantity"), QString::number(totals.quantity) },
        { QStringLiteral("received"), wideText(totals.received) }, { QStringLiteral("cost"), wideText(totals.cost) } };
    if (!token.isEmpty())
        record.insert(QStringLiteral("token"), QString::fromLatin1(token));
    return QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact));
}

SalesTotals savedFromRecord(const QString& record)
{
    const QJsonObject saved = QJsonDocument::fromJson(record.toUtf8()).object();
    const auto text = [&saved](const char* key) { return saved.value(QLatin1String(key)).toString(); };
    SalesTotals totals;
    totals.lines = text("lines").toLongLong();
    totals.quantity = text("quantity").toLongLong();
    totals.received = wideValue(text("received"));
    totals.cost = wideValue(text("cost"));
    return totals;
}

QString kindName(ChangeEntry::Kind kind)
{
    switch (kind) {
    case ChangeEntry::Kind::Save:
        return QStringLiteral("save");
    case ChangeEntry::Kind::Edit:
        return QStringLiteral("edit");
    case ChangeEntry::Kind::Delete:
        return QStringLiteral("delete");
    case ChangeEntry::Kind::Undo:
        break;
    }
    return QStringLiteral("undo");
}

ChangeEntry::Kind kindFromName(const QString& name)
{
    for (ChangeEntry::Kind kind :
        { ChangeEntry::Kind::Save, ChangeEntry::Kind::Edit, ChangeEntry::Kind::Delete, ChangeEntry::Kind::Undo }) {
        if (kindName(kind) == name)
            return kind;
    }
    return ChangeEntry::Kind::Save;
}
