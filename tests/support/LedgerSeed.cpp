#include "tests/support/LedgerSeed.h"

#include "db/DbClass.h"
#include "db/KeptSession.h"
#include "db/Numbers.h"
#include "db/Schema.h"
#include "tests/support/RawDb.h"

namespace {

// The texts a page or a file hands over, refused as the program refuses them.
QDate dayValue(const QString& text)
{
    const std::optional<QDate> day = parseDayText(text);
    if (!day)
        throw KivaroError(QStringLiteral("无效的日期“%1”").arg(text));
    return *day;
}

qint32 quantityValue(const QString& text)
{
    const std::optional<qint32> quantity = parseQuantity(text);
    if (!quantity)
        throw KivaroError(QStringLiteral("无效的数量“%1”").arg(text));
    return *quantity;
}

qint64 centsValue(const QString& text)
{
    const std::optional<qint64> cents = parseAmountCents(text, QLatin1Char('.'));
    if (!cents)
        throw KivaroError(QStringLiteral("无效的金额“%1”").arg(text));
    return *cents;
}

} // namespace

SaveOutcome addLines(TDbMan& db, const QString& userName, const QList<SalesLine>& lines)
{
    if (lines.isEmpty())
        return SaveOutcome::Saved;
    KeptSession window;
    QList<SalesLine> kept = lines;
    const QList<qint64> ids = db.KeepLines(userName, window, lines);
    for (qsizetype i = 0; i < kept.size(); ++i)
        kept[i].id = ids.value(i);
    try {
        return db.SaveKeptLines(userName, window, kept);
    } catch (const KivaroError&) {
        for (const qint64 id : ids) {
            try {
                db.ForgetKeptLine(userName, window, id);
            } catch (const KivaroError&) {
                // The store refuses everything now (a full disk, a stopped server): the caller sees the save's error.
            }
        }
        throw;
    }
}

void addRecords(TDbMan& db, const QString& userName, const QList<TextLine>& lines)
{
    QList<SalesLine> parsed;
    parsed.reserve(lines.size());
    for (const TextLine& line : lines)
        parsed.append({ 0, dayValue(line.day), line.productName, quantityValue(line.quantity),
            centsValue(line.received), centsValue(line.cost), line.memo });
    addLines(db, userName, parsed);
}

void addRecord(TDbMan& db, const QString& userName, const QString& day, const QString& productName,
    const QString& quantity, const QString& received, const QString& cost, const QString& memo)
{
    addRecords(db, userName, { TextLine { day, productName, quantity, received, cost, memo } });
}

namespace {

void appendSums(QStringList& list, const SalesSums& sums)
{
    list.append(QString::number(sums.quantity));
    list.append(formatCents(sums.received));
    list.append(formatCents(sums.cost));
    list.append(formatCents(sums.received - sums.cost));
}

} // namespace

void queryReport(TDbMan& db, const QString& userName, const QString& firstDay, const QString& lastDay,
    QStringList& detail, QStringList& dailyTotals, QStringList& dailyProducts, QStringList& ranking)
{
    detail.clear();
    dailyTotals.clear();
    dailyProducts.clear();
    ranking.clear();
    const SalesRange range { userName, dayValue(firstDay), dayValue(lastDay) };
    const QString dayFormat = QStringLiteral("yyyy-MM-dd");
    for (const DayCount& day : db.QueryDays(range)) {
        const QString dayText = day.day.toString(dayFormat);
        dailyTotals.append(dayText);
        appendSums(dailyTotals, day.sums);
        for (const SalesLine& line : db.QueryLineWindow(range, day.day, 0, int(day.lines))) {
            if (line.day != day.day)
                break;
            detail << QString::number(line.id) << dayText << line.productName << QString::number(line.quantity)
                   << formatCents(line.received) << formatCents(line.cost) << line.memo;
        }
        for (const DayProductRow& group : db.QueryDayProductWindow(range, day.day, 0, int(day.rows))) {
            if (group.day != day.day)
                break;
            dailyProducts << dayText << group.productName;
            appendSums(dailyProducts, group.sums);
        }
    }
    for (const RankingRow& row : db.QueryRanking(range)) {
        ranking.append(row.productName);
        appendSums(ranking, row.sums);
    }
}

QStringList reportStatements()
{
    const QString from = QStringLiteral("FROM Records WHERE UserName=? AND RecDate>=? AND RecDate<=? ");
    const QString sums = QStringLiteral("SUM(RecQuantity), SUM(RecMoney), SUM(RecCost), SUM(RecMoney)-SUM(RecCost) ");
    return {
        QStringLiteral("SELECT ID, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo ") + from
            + QStringLiteral("ORDER BY RecDate, ID"),
        QStringLiteral("SELECT RecDate, ") + sums + from + QStringLiteral("GROUP BY RecDate ORDER BY RecDate"),
        QStringLiteral("SELECT RecDate, RecProductName, ") + sums + from
            + QStringLiteral("GROUP BY RecDate, RecProductName ORDER BY RecDate, MIN(ID)"),
        // Products with equal quantities keep the order in which they were first sold.
        QStringLiteral("SELECT RecProductName, ") + sums + from
            + QStringLiteral("GROUP BY RecProductName ORDER BY SUM(RecQuantity) DESC, MIN(ID)"),
    };
}

bool hasSummaries(TDbMan& db, const QString& path)
{
    // A server ledger's summaries are made with its tables and kept by its triggers.
    if (db.location().isServer())
        return true;
    // A read opens the file, which gives it its summaries when it may.
    db.QueryDays({ QStringLiteral("-"), QDate(2000, 1, 1), QDate(2000, 1, 1) });
    RawDb raw(path);
    const int version = raw.value(QStringLiteral("PRAGMA user_version")).toInt();
    // A file held read-only keeps the summaries an earlier upgrade gave it; a newer layout's are not read.
    return version >= 1 && version <= Schema::kVersion;
}
