#include "db/DbClass.h"

#include "base/Error.h"
#include "base/HiClass.h"
#include "db/LedgerStore.h"
#include "db/Numbers.h"
#include "db/ServerStore.h"
#include "db/SqliteStore.h"

#include <QSysInfo>
#include <mutex>
#include <sodium.h>

namespace {

QByteArray hashPassword(const QString& password)
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (sodium_init() < 0)
            throw KivaroError(QStringLiteral("无法初始化密码库"));
    });
    const QByteArray bytes = password.toUtf8();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, bytes.constData(), bytes.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
            crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        throw KivaroError(QStringLiteral("内存不足，无法计算密码摘要"));
    return QByteArray(hash);
}

bool verifyPassword(const QString& stored, const QString& password)
{
    const QByteArray hash = stored.toLatin1();
    const QByteArray bytes = password.toUtf8();
    return crypto_pwhash_str_verify(hash.constData(), bytes.constData(), bytes.size()) == 0;
}

QDate dayValue(const QString& dayText)
{
    const std::optional<QDate> day = parseDayText(dayText);
    if (!day)
        throw KivaroError(QStringLiteral("无效的日期“%1”").arg(dayText));
    return *day;
}

void checkDay(const QDate& day)
{
    // Four-digit years only, so that the stored texts sort as the days do.
    if (!day.isValid() || day.year() < 1 || day.year() > 9999)
        throw KivaroError(QStringLiteral("无效的日期“%1”").arg(day.toString(Qt::ISODate)));
}

void checkRange(const SalesRange& range)
{
    checkDay(range.first);
    checkDay(range.last);
}

// A typed line holds the same values that the entry fields accept.
void checkLine(const SalesLine& line)
{
    checkDay(line.day);
    for (const qint64 cents : { line.received, line.cost }) {
        if (cents > kMaxAmountCents || cents < -kMaxAmountCents)
            throw KivaroError(QStringLiteral("无效的金额“%1”").arg(formatCents(cents)));
    }
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

qint64 idValue(const QString& text)
{
    bool ok = false;
    const qint64 id = text.toLongLong(&ok);
    if (!ok)
        throw KivaroError(QStringLiteral("无效的记录编号“%1”").arg(text));
    return id;
}

std::unique_ptr<LedgerStore> openStore(const LedgerLocation& location)
{
    if (location.isServer())
        return std::make_unique<ServerStore>(location);
    return std::make_unique<SqliteStore>(location);
}

} // namespace

std::function<std::shared_ptr<void>(const QString&)> TDbMan::longWorkNotice;
std::function<std::optional<QString>(const QString&, const QString&)> TDbMan::passwordPrompt;

TDbMan::TDbMan()
    : TDbMan(currentLedger())
{
}

TDbMan::TDbMan(const QString& dataDir)
    : TDbMan(LedgerLocation::file(dataDir))
{
}

TDbMan::TDbMan(const LedgerLocation& location)
    : FLocation(location)
    , FStore(openStore(location))
{
}

TDbMan::~TDbMan() = default;

QString TDbMan::templatePath()
{
    return SqliteStore::templatePath();
}

bool TDbMan::UserExists(const QString& name)
{
    return FStore->passwordHash(name).has_value();
}

bool TDbMan::CheckUser(const QString& name, const QString& password)
{
    const std::optional<QString> hash = FStore->passwordHash(name);
    return hash && verifyPassword(*hash, password);
}

void TDbMan::GetUserNames(QStringList* list)
{
    if (!list)
        return;
    list->clear();
    *list = FStore->userNames();
}

bool TDbMan::AddUser(const QString& name, const QString& password)
{
    if (UserExists(name))
        return false;
    return FStore->insertUser(name, QString::fromLatin1(hashPassword(password)));
}

bool TDbMan::DeleteUser(const QString& name, const QString& password)
{
    return FStore->deleteUserIf(name, [&](const QString& hash) { return verifyPassword(hash, password); });
}

bool TDbMan::ChangePassword(const QString& name, const QString& oldPassword, const QString& newPassword)
{
    if (!CheckUser(name, oldPassword))
        return false;
    const QString hash = QString::fromLatin1(hashPassword(newPassword));
    // Another instance may have changed the password since the check above.
    return FStore->replaceHashIf(
        name, [&](const QString& stored) { return verifyPassword(stored, oldPassword); }, hash);
}

void TDbMan::MoveUserToFront(const QString& name)
{
    FStore->moveUserToFront(name);
}

void TDbMan::AddRecord(const QString& userName, const QString& day, const QString& productName, const QString& quantity,
    const QString& received, const QString& cost, const QString& memo)
{
    AddRecords(userName, { TSalesLine { day, productName, quantity, received, cost, memo } });
}

void TDbMan::AddRecords(const QString& userName, const QList<TSalesLine>& lines)
{
    QList<SalesLine> parsed;
    parsed.reserve(lines.size());
    // The lines of one save mostly share their day.
    QString lastDay;
    QDate lastParsed;
    for (const TSalesLine& line : lines) {
        if (parsed.isEmpty() || line.day != lastDay) {
            lastDay = line.day;
            lastParsed = dayValue(line.day);
        }
        parsed.append({ 0, lastParsed, line.productName, quantityValue(line.quantity), centsValue(line.received),
            centsValue(line.cost), line.memo });
    }
    AddLines(userName, parsed);
}

void TDbMan::AddLines(const QString& userName, const QList<SalesLine>& lines)
{
    // Every line is checked before the first one is written.
    for (const SalesLine& line : lines)
        checkLine(line);
    FStore->addLines(userName, lines, computerName(), false);
}

void TDbMan::UpdateRecord(const QString& id, const QString& day, const QString& productName, const QString& quantity,
    const QString& received, const QString& cost, const QString& memo)
{
    const QDate parsedDay = dayValue(day);
    const qint32 parsedQuantity = quantityValue(quantity);
    const qint64 parsedReceived = centsValue(received);
    const qint64 parsedCost = centsValue(cost);
    UpdateLine({ idValue(id), parsedDay, productName, parsedQuantity, parsedReceived, parsedCost, memo });
}

void TDbMan::UpdateLine(const SalesLine& line)
{
    checkLine(line);
    if (!FStore->updateLine(line, computerName()))
        throw TRecordGone();
}

void TDbMan::DeleteRecord(const QString& id)
{
    DeleteLine(idValue(id));
}

void TDbMan::DeleteLine(qint64 id)
{
    if (!FStore->deleteLine(id, computerName()))
        throw TRecordGone();
}

QList<DayCount> TDbMan::QueryDays(const SalesRange& range)
{
    checkRange(range);
    return FStore->queryDays(range);
}

QList<SalesLine> TDbMan::QueryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    checkRange(range);
    if (count <= 0)
        return {};
    return FStore->queryLineWindow(range, qMax(day, range.first), qMax(offset, qint64(0)), count);
}

QList<DayProductRow> TDbMan::QueryDayProductWindow(const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    checkRange(range);
    if (count <= 0)
        return {};
    return FStore->queryDayProductWindow(range, qMax(day, range.first), qMax(offset, qint64(0)), count);
}

QList<RankingRow> TDbMan::QueryRanking(const SalesRange& range)
{
    checkRange(range);
    return FStore->queryRanking(range);
}

bool TDbMan::HasSummaries()
{
    return FStore->hasSummaries();
}

void TDbMan::QueryReport(const QString& userName, const QString& firstDay, const QString& lastDay, QStringList& detail,
    QStringList& dailyTotals, QStringList& dailyProducts, QStringList& ranking)
{
    detail.clear();
    dailyTotals.clear();
    dailyProducts.clear();
    ranking.clear();
    const SalesRange range { userName, dayValue(firstDay), dayValue(lastDay) };
    checkRange(range);
    FStore->queryReport(range, detail, dailyTotals, dailyProducts, ranking);
}

QStringList TDbMan::ReportStatements()
{
    return SqliteStore::reportStatements();
}

std::optional<QStringList> TDbMan::ProductNames(const QString& userName)
{
    return FStore->productNames(userName);
}

std::optional<QStringList> TDbMan::RememberProductName(const QString& userName, const QString& name)
{
    return FStore->rememberProductName(userName, name);
}

std::optional<QStringList> TDbMan::RememberProductNames(const QString& userName, const QStringList& names)
{
    return FStore->rememberProductNames(userName, names);
}

void TDbMan::WriteProductNames(const QString& userName, const QStringList& names)
{
    FStore->writeProductNames(userName, names);
}

QString TDbMan::computerName()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("本机") : name;
}

QList<SalesLine> TDbMan::KeptLines(const QString& userName)
{
    return FStore->keptLines(userName, computerName());
}

QList<qint64> TDbMan::KeepLines(const QString& userName, const QList<SalesLine>& lines)
{
    for (const SalesLine& line : lines)
        checkLine(line);
    return FStore->keepLines(userName, computerName(), lines);
}

void TDbMan::ForgetKeptLine(const QString& userName, qint64 keptId)
{
    FStore->forgetKeptLine(userName, computerName(), keptId);
}

void TDbMan::SaveKeptLines(const QString& userName, const QList<SalesLine>& lines)
{
    for (const SalesLine& line : lines)
        checkLine(line);
    FStore->addLines(userName, lines, computerName(), true);
}

QList<ChangeEntry> TDbMan::Changes(const QString& userName, int limit)
{
    return FStore->changes(userName, limit);
}

ChangeEntry TDbMan::UndoNewestChange(const QString& userName)
{
    return FStore->undoNewest(userName, computerName());
}
