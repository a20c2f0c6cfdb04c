#include "db/DbClass.h"

#include "db/Outbox.h"

#include "base/Error.h"
#include "base/HiClass.h"
#include "base/TextCodec.h"
#include "db/KeptSession.h"
#include "db/LedgerStore.h"
#include "db/Numbers.h"
#include "db/SqliteStore.h"
#include "db/server/ServerConnection.h"
#include "db/server/ServerStore.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QSysInfo>
#include <QUuid>
#include <algorithm>
#include <climits>
#include <mutex>
#include <sodium.h>

namespace {

void checkDay(const QDate& day)
{
    if (!isLedgerDay(day))
        throw KivaroError(QStringLiteral("无效的日期“%1”").arg(day.toString(Qt::ISODate)));
}

void checkRange(const SalesRange& range, bool onServer)
{
    checkDay(range.first);
    checkDay(range.last);
    // Only a server ledger keeps the whole shop's sums, and only its owners may read them.
    if (range.shop && !onServer)
        throw KivaroError(QStringLiteral("只有服务器上的账本才能查看全店。"));
}

// A text as both stores keep it: U+0000 is refused (a server cannot hold it), a lone surrogate becomes what GB18030
// makes of it.
QString storedText(const QString& text)
{
    if (text.contains(QChar(0)))
        throw KivaroError(QStringLiteral("文字中含有空字符（U+0000），不能保存。"));
    return withoutLoneSurrogates(text);
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

[[noreturn]] void needsServerToReview()
{
    throw KivaroError(QStringLiteral("服务器连不上：查帐需要服务器，离线时只能记帐。"));
}

[[noreturn]] void needsServerForAccounts()
{
    throw KivaroError(QStringLiteral("服务器连不上：帐户的管理需要服务器。"));
}

} // namespace

std::function<std::shared_ptr<void>(const QString&)> TDbMan::longWorkNotice;
std::function<bool(const QString&)> TDbMan::serverWait;
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
{
    if (location.isServer() && location.offline) {
        FStore = std::make_unique<OutboxStore>(location);
        return;
    }
    std::unique_ptr<LedgerStore> ledger;
    if (location.isServer()) {
        auto server = std::make_unique<ServerStore>(location, location.administrator);
        FServer = server.get();
        ledger = std::move(server);
    } else {
        ledger = std::make_unique<SqliteStore>(location);
    }
    FLedger = ledger.get();
    FStore = std::move(ledger);
}

LedgerStore& TDbMan::reads()
{
    if (!FLedger)
        needsServerToReview();
    return *FLedger;
}

LedgerStore& TDbMan::ledgerForEdits()
{
    if (!FLedger)
        refuseOfflineChange();
    return *FLedger;
}

LedgerStore& TDbMan::accountAdmin()
{
    if (!FLedger)
        needsServerForAccounts();
    return *FLedger;
}

LedgerStore& TDbMan::store()
{
    return reads();
}

TDbMan::~TDbMan() = default;

QString TDbMan::templatePath()
{
    return SqliteStore::templatePath();
}

QList<SalesLine> TDbMan::checkedLines(const QList<SalesLine>& lines)
{
    // Every line is checked before the first one is written.
    QList<SalesLine> checked = lines;
    for (SalesLine& line : checked) {
        checkLine(line);
        line.productName = storedText(line.productName);
        line.memo = storedText(line.memo);
    }
    return checked;
}

SaveOutcome TDbMan::saveLines(
    const QString& userName, const QList<SalesLine>& lines, const KeptLinesToForget& kept, const QByteArray& given)
{
    const QList<SalesLine> checked = checkedLines(lines);
    if (checked.isEmpty())
        return SaveOutcome::Saved;
    const QByteArray token = given.isEmpty() ? QUuid::createUuid().toByteArray(QUuid::WithoutBraces) : given;
    SaveOutcome outcome = SaveOutcome::Saved;
    FStore->write(
        [&](LedgerWrite& write) {
            write.lockUser(userName);
            outcome = SaveOutcome::Saved;
            // A save from the outbox that reached the server before (its answer, or its removal, was lost).
            if (!kept.all && !given.isEmpty() && write.hasSave(token))
                return;
            QList<SalesLine> stored = checked;
            if (!kept.owner.isEmpty() && kept.all) {
                const qint64 forgotten = write.removeKept(userName, kept.owner, kept.ids);
                if (forgotten != kept.ids.size()) {
                    // An earlier 完成 of this window landed although its answer was lost, or the same lines are saved
                    // again after their save: stored once, not twice.
                    if ((!given.isEmpty() && write.hasSave(token))
                        || (!kept.landedToken.isEmpty() && write.hasSave(kept.landedToken))) {
                        if (forgotten == 0) {
                            outcome = SaveOutcome::AlreadySaved;
                            return;
                        }
                        throw KivaroError(QStringLiteral("待存的记录在别处被改动过，这次没有保存任何记录；"
                                                         "请切换用户后重新登录，核对待存的记录后再保存。"));
                    }
                    // No save of this window holds them: the ledger lost what the window kept (it was restored from
                    // a backup, or its file removed, meanwhile). The lines the window shows are what the user typed.
                    outcome = SaveOutcome::SavedIntoReplacedLedger;
                }
            } else if (!kept.owner.isEmpty()) {
                // A save parked when the server went away: a kept line is stored by the save that forgets it, so a
                // line whose kept line is gone was stored by an earlier save (or is another window's now).
                // A line typed offline (no kept line on the server) is stored as it is.
                stored.clear();
                for (int i = 0; i < checked.size(); ++i) {
                    const qint64 keptId = kept.ids.value(i);
                    if (keptId == 0 || write.removeKept(userName, kept.owner, { keptId }) == 1)
                        stored.append(checked.at(i));
                }
                if (stored.isEmpty())
                    return;
            }
            SalesTotals saved;
            for (const SalesLine& line : stored)
                saved.add(line);
            write.insertLines(userName, stored, false);
            write.recordSave(token, userName, stored.size());
            write.insertChange(
                userName, computerName(), ChangeEntry::Kind::Save, 0, QString(), savedRecord(saved, token), 0);
        },
        [&](LedgerWrite& write) { return write.hasSave(token); });
    return outcome;
}

namespace {

// The stored line is still the one the window showed, of the user that showed it.
bool isAsSeen(
    const std::optional<std::pair<QString, SalesLine>>& stored, const QString& userName, const SalesLine& seen)
{
    return stored && stored->first == userName && stored->second == seen;
}

} // namespace

void TDbMan::UpdateLine(const QString& userName, const SalesLine& seen, const SalesLine& edited)
{
    SalesLine line = checkedLines({ edited }).first();
    line.id = seen.id;
    ledgerForEdits().writeEdits([&](LineEdits& write) {
        write.lockUser(userName);
        const auto stored = write.lineForUpdate(seen.id);
        if (!isAsSeen(stored, userName, seen))
            throw TRecordGone();
        write.rewriteLine(line);
        write.insertChange(userName, computerName(), ChangeEntry::Kind::Edit, line.id, lineRecord(stored->second),
            lineRecord(line), 0);
    });
}

void TDbMan::DeleteLine(const QString& userName, const SalesLine& seen)
{
    ledgerForEdits().writeEdits([&](LineEdits& write) {
        write.lockUser(userName);
        const auto stored = write.lineForUpdate(seen.id);
        if (!isAsSeen(stored, userName, seen))
            throw TRecordGone();
        write.removeLine(seen.id);
        write.insertChange(
            userName, computerName(), ChangeEntry::Kind::Delete, seen.id, lineRecord(stored->second), QString(), 0);
    });
}

namespace {

QString sixValues(const SalesLine& line)
{
    return QStringList { line.day.toString(Qt::ISODate), line.productName, QString::number(line.quantity),
        QString::number(line.received), QString::number(line.cost), line.memo }
        .join(QChar(0));
}

} // namespace

QSet<qsizetype> TDbMan::SameAsSaved(
    const QString& userName, const QList<SalesLine>& lines, const QList<SalesLine>& pending)
{
    QSet<qsizetype> same;
    if (lines.isEmpty())
        return same;
    QSet<QDate> days;
    QDate first = lines.first().day;
    QDate last = first;
    for (const SalesLine& line : lines) {
        days.insert(line.day);
        first = qMin(first, line.day);
        last = qMax(last, line.day);
    }
    QHash<QString, qint64> there;
    for (const SalesLine& line : pending)
        ++there[sixValues(line)];
    const SalesRange range { userName, first, last };
    for (const DayCount& day : QueryDays(range)) {
        if (!days.contains(day.day))
            continue;
        for (const SalesLine& line : QueryLineWindow(range, day.day, 0, int(qMin<qint64>(day.lines, INT_MAX))))
            if (line.day == day.day)
                ++there[sixValues(line)];
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        auto it = there.find(sixValues(lines.at(i)));
        if (it != there.end() && it.value() > 0) {
            --it.value();
            same.insert(i);
        }
    }
    return same;
}

QList<SalesLine> TDbMan::QueryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    checkRange(range, FServer != nullptr);
    if (count <= 0)
        return {};
    return reads().queryLineWindow(range, qMax(day, range.first), qMax(offset, qint64(0)), count);
}

QList<DayProductRow> TDbMan::QueryDayProductWindow(const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    checkRange(range, FServer != nullptr);
    if (count <= 0)
        return {};
    return reads().queryDayProductWindow(range, qMax(day, range.first), qMax(offset, qint64(0)), count);
}

namespace {

// The ranking of lines: per product, most sold first, then in the order of the first sale; as the stores rank.
QList<RankingRow> rankingOf(const QList<SalesLine>& lines)
{
    struct Product
    {
        qint64 firstId = 0;
        SalesSums sums;
    };
    QHash<QString, Product> products;
    for (const SalesLine& line : lines) {
        Product& product = products[line.productName];
        if (product.firstId == 0 || line.id < product.firstId)
            product.firstId = line.id;
        SalesSums& sums = product.sums;
        if (__builtin_add_overflow(sums.quantity, qint64(line.quantity), &sums.quantity)
            || __builtin_add_overflow(sums.received, line.received, &sums.received)
            || __builtin_add_overflow(sums.cost, line.cost, &sums.cost))
            throw KivaroError(QStringLiteral("“%1”的合计超出了能计算的范围。").arg(line.productName));
    }
    QList<std::pair<qint64, RankingRow>> rows;
    rows.reserve(products.size());
    for (auto it = products.cbegin(); it != products.cend(); ++it)
        rows.append({ it->firstId, { it.key(), it->sums } });
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return a.second.sums.quantity != b.second.sums.quantity ? a.second.sums.quantity > b.second.sums.quantity
                                                                : a.first < b.first;
    });
    QList<RankingRow> ranking;
    ranking.reserve(rows.size());
    for (auto& row : rows)
        ranking.append(std::move(row.second));
    return ranking;
}

// A snapshot of the lines 查找 found: their IDs in the detail order, and days counted from them.
ViewSnapshot foundView(const SalesRange& range, const ReviewReads::FoundLines& found)
{
    ViewSnapshot view;
    view.range = range;
    view.changeMark = found.changeMark;
    view.lineIds.reserve(size_t(found.lines.size()));
    QSet<QString> dayProducts;
    for (const SalesLine& line : found.lines) {
        view.lineIds.push_back(line.id);
        if (view.days.isEmpty() || view.days.last().day != line.day) {
            view.days.append({ line.day, 0, 0, {} });
            dayProducts.clear();
        }
        DayCount& day = view.days.last();
        ++day.lines;
        if (!dayProducts.contains(line.productName)) {
            dayProducts.insert(line.productName);
            ++day.rows;
        }
        day.sums.quantity += line.quantity;
        day.sums.received += line.received;
        day.sums.cost += line.cost;
    }
    return view;
}

} // namespace

ViewSnapshot TDbMan::foundViewOf(const SalesRange& range)
{
    FFoundRankings.removeIf([&](const FoundRanking& kept) { return kept.range == range; });
    const ReviewReads::FoundLines found = reads().findLines(range);
    // A ranking too large to add up is refused when it is asked for, not with the view.
    try {
        FFoundRankings.append({ range, rankingOf(found.lines) });
    } catch (const KivaroError&) {
    }
    // The range's and its comparison's.
    while (FFoundRankings.size() > 2)
        FFoundRankings.removeFirst();
    return foundView(range, found);
}

QList<DayCount> TDbMan::QueryDays(const SalesRange& range)
{
    checkRange(range, FServer != nullptr);
    if (!range.find.isEmpty())
        return foundViewOf(range).days;
    return reads().queryDays(range);
}

QList<RankingRow> TDbMan::QueryRanking(const SalesRange& range)
{
    checkRange(range, FServer != nullptr);
    if (range.find.isEmpty())
        return reads().queryRanking(range);
    // Asked right after the lines were found: those lines, once.
    for (qsizetype i = 0; i < FFoundRankings.size(); ++i) {
        if (FFoundRankings.at(i).range == range)
            return FFoundRankings.takeAt(i).rows;
    }
    return rankingOf(reads().findLines(range).lines);
}

std::shared_ptr<const ViewSnapshot> TDbMan::QueryView(const SalesRange& range)
{
    checkRange(range, FServer != nullptr);
    if (!range.find.isEmpty())
        return std::make_shared<const ViewSnapshot>(foundViewOf(range));
    return std::make_shared<const ViewSnapshot>(reads().queryView(range));
}

bool TDbMan::DaysMatchLines(const SalesRange& range)
{
    // What 查找 found was counted from the lines themselves.
    return !range.find.isEmpty() || reads().daysMatchLines(range);
}

std::vector<qint64> TDbMan::LineIdsAsRead(const ViewSnapshot& snapshot, qint64 first, qint64 count)
{
    const qint64 lines = snapshot.lineCount();
    first = std::clamp<qint64>(first, 0, lines);
    count = std::clamp<qint64>(count, 0, lines - first);
    if (!snapshot.lastLineId)
        return std::vector<qint64>(snapshot.lineIds.begin() + first, snapshot.lineIds.begin() + first + count);
    std::vector<qint64> ids = count > 0 ? reads().boundedLineIds(snapshot, first, count) : std::vector<qint64>();
    ids.resize(size_t(count), 0);
    return ids;
}

QList<SalesLine> TDbMan::LinesAsRead(const ViewSnapshot& snapshot, qint64 first, qint64 count)
{
    return LinesAsRead(snapshot, LineIdsAsRead(snapshot, first, count));
}

QList<SalesLine> TDbMan::LinesAsRead(const ViewSnapshot& snapshot, const std::vector<qint64>& ids)
{
    QHash<qint64, SalesLine> found;
    // The lines first, then the changes: a change that lands between the two reads is seen by the second.
    for (const SalesLine& line : reads().linesById(snapshot.range, ids))
        found.insert(line.id, line);
    QSet<qint64> changed;
    for (const ChangeEntry& change : reads().lineChangesAfter(snapshot.range, snapshot.changeMark, ids)) {
        // The first change after the read holds the line as it was read.
        if (change.kind == ChangeEntry::Kind::Save || changed.contains(change.lineId))
            continue;
        changed.insert(change.lineId);
        if (change.before)
            found.insert(change.lineId, SalesLine { *change.before });
        else
            found.remove(change.lineId);
    }
    QList<SalesLine> lines;
    lines.reserve(qsizetype(ids.size()));
    for (const qint64 id : ids) {
        SalesLine line = found.value(id);
        line.id = found.contains(id) ? id : 0;
        lines.append(std::move(line));
    }
    return lines;
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

QList<CatalogueItem> TDbMan::Catalogue(const QString& userName)
{
    // A till that logs in while its server is away scans with the catalogue its last login here read.
    if (FLocation.offline)
        return OutboxStore(FLocation).catalogue();
    const QList<CatalogueItem> items = reads().catalogue(userName);
    if (FServer)
        OutboxStore(FLocation.asOffline()).keepCatalogue(items);
    return items;
}

bool TDbMan::MayChangeCatalogue()
{
    return FLedger && FLedger->mayChangeCatalogue();
}

void TDbMan::ChangeCatalogue(const QString& userName, const QList<CatalogueChange>& changes)
{
    LedgerStore& ledger = ledgerForEdits();
    if (!ledger.mayChangeCatalogue())
        throw catalogueNotAllowed();
    ledger.changeCatalogue(userName, changes);
}

QString TDbMan::computerName()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("本机") : name;
}

QList<SalesLine> TDbMan::KeptLines(const QString& userName, const KeptSession& session)
{
    if (FServer)
        adoptOfflineKeptLines(userName, session);
    QList<SalesLine> lines;
    FStore->write([&](LedgerWrite& write) {
        write.lockUser(userName);
        // Each claim is held until the transaction has ended, so that a second window cannot take the same lines.
        QList<std::shared_ptr<void>> claims;
        for (const QString& owner : write.keptOwners(userName)) {
            if (owner == session.owner())
                continue;
            if (std::shared_ptr<void> claim = KeptSession::claimIfGone(owner)) {
                claims.append(claim);
                write.moveKept(userName, owner, session.owner());
            }
        }
        lines = write.keptLines(userName, session.owner());
    });
    return lines;
}

QList<qint64> TDbMan::KeepLines(const QString& userName, const KeptSession& session, const QList<SalesLine>& lines)
{
    const QList<SalesLine> checked = checkedLines(lines);
    QList<qint64> ids;
    FStore->write([&](LedgerWrite& write) { ids = write.insertKept(userName, session.owner(), checked); });
    return ids;
}

void TDbMan::ForgetKeptLine(const QString& userName, const KeptSession& session, qint64 keptId)
{
    FStore->write([&](LedgerWrite& write) { write.removeKept(userName, session.owner(), { keptId }); });
}

qint64 TDbMan::ReplaceKeptLine(
    const QString& userName, const KeptSession& session, qint64 keptId, const SalesLine& line)
{
    const QList<SalesLine> checked = checkedLines({ line });
    qint64 id = 0;
    FStore->write([&](LedgerWrite& write) {
        write.removeKept(userName, session.owner(), { keptId });
        id = write.insertKept(userName, session.owner(), checked).value(0);
    });
    return id;
}

SaveOutcome TDbMan::SaveKeptLines(const QString& userName, KeptSession& session, const QList<SalesLine>& lines)
{
    QList<qint64> keptIds;
    for (const SalesLine& line : lines)
        keptIds.append(line.id);
    const QByteArray token = session.saveToken();
    try {
        const SaveOutcome outcome
            = saveLines(userName, lines, { session.owner(), keptIds, true, session.landedTokenOf(keptIds) }, token);
        session.saveLanded(keptIds);
        return outcome;
    } catch (const TServerUnreachable&) {
        if (!FServer)
            throw;
        // Whether the save landed cannot be asked now: the outbox sends it under the same token, with the kept lines
        // to forget on the server in the same transaction, so that it lands once and they are not offered again.
        OutboxStore(FLocation.asOffline()).parkSave(token, userName, checkedLines(lines), session.owner(), keptIds);
        session.saveLanded(keptIds);
        return SaveOutcome::SavedOffline;
    }
}

QList<ChangeEntry> TDbMan::Changes(const QString& userName, int limit)
{
    return reads().changes(userName, limit);
}

ChangeEntry TDbMan::UndoChange(const QString& userName, qint64 changeId)
{
    ChangeEntry made;
    ledgerForEdits().writeEdits([&](LineEdits& write) {
        write.lockUser(userName);
        const std::optional<ChangeEntry> target = write.changeForUpdate(changeId);
        if (!target || target->userName != userName
            || (target->kind != ChangeEntry::Kind::Edit && target->kind != ChangeEntry::Kind::Delete))
            throw KivaroError(QStringLiteral("没有可以撤销的修改。"));
        if (target->undoneBy != 0)
            throw KivaroError(QStringLiteral("这次修改已经撤销过了。"));
        const auto stored = write.lineForUpdate(target->lineId);
        // Only the line exactly as the change left it is put back: anything since would be lost silently.
        const bool unchanged = target->after ? isAsSeen(stored, userName, *target->after) : !stored.has_value();
        if (!unchanged || !target->before)
            throw TChangeConflict(
                QStringLiteral("这条记录在那以后又被修改或删除了（可能是在另一台电脑上），不能撤销。"));
        const SalesLine& restored = *target->before;
        write.aboutToUndo(target->id);
        if (target->kind == ChangeEntry::Kind::Edit)
            write.rewriteLine(restored);
        else
            write.insertLines(userName, { restored }, true);
        const qint64 undo = write.insertChange(userName, computerName(), ChangeEntry::Kind::Undo, target->lineId,
            lineRecord(target->after), lineRecord(restored), target->id);
        write.markUndone(target->id, undo);
        made = *write.changeForUpdate(undo);
    });
    return made;
}
