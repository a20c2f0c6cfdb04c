#include "db/LedgerCopy.h"

#include "base/Platform.h"

#include "db/DbClass.h"
#include "db/LedgerStore.h"
#include "db/server/ServerConnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QScopeGuard>
#include <algorithm>
#include <limits>

namespace {

using TotalsByUser = QMap<QString, SalesTotals>;

TotalsByUser totalsMap(const QList<UserTotals>& list)
{
    TotalsByUser map;
    for (const UserTotals& user : list) {
        // Two stored spellings of one name add up under it.
        SalesTotals& sums = map[user.userName];
        sums.lines += user.totals.lines;
        sums.quantity += user.totals.quantity;
        sums.received += user.totals.received;
        sums.cost += user.totals.cost;
    }
    return map;
}

QString totalsText(const SalesTotals& totals)
{
    return QStringLiteral("%1 条，%2").arg(totals.lines).arg(totals.text());
}

// The users whose counts or totals differ, one line each; empty when none does.
QStringList differences(const TotalsByUser& source, const TotalsByUser& target)
{
    QStringList users = source.keys() + target.keys();
    users.removeDuplicates();
    users.sort();
    QStringList lines;
    for (const QString& user : users) {
        const SalesTotals expected = source.value(user);
        const SalesTotals found = target.value(user);
        if (!(expected == found)) {
            lines.append(
                QStringLiteral("用户“%1”：源账本 %2；目标账本 %3").arg(user, totalsText(expected), totalsText(found)));
        }
    }
    return lines;
}

// After a failed commit: whether the target holds anything, that is, whether the commit happened after all.
bool holdsAnything(LedgerStore& target)
{
    return !target.accounts().isEmpty() || !target.totalsByUser().isEmpty();
}

void checkCopy(LedgerStore& target, const QList<StoredAccount>& accounts, const TotalsByUser& totals)
{
    QStringList found = differences(totals, totalsMap(target.totalsByUser()));
    // A server keeps no password hash: its accounts wait for a password instead.
    QList<StoredAccount> expected = accounts;
    if (!target.keepsPasswordHashes()) {
        for (StoredAccount& account : expected)
            account.passwordHash.clear();
    }
    if (target.accounts() != expected)
        found.prepend(QStringLiteral("帐户（名称、密码或登录顺序）不一致"));
    if (!found.isEmpty())
        throw TCopyIncomplete(QStringLiteral("复制后核对不符，目标账本“%1”中的数据不完整，不能使用：\n%2")
                                  .arg(ledgerName(target.location()), found.join(QLatin1Char('\n'))));
}

void commitCopy(LedgerStore& target, std::unique_ptr<LedgerImport> import, const QList<StoredAccount>& accounts,
    const TotalsByUser& totals)
{
    try {
        import->commit();
        import.reset();
    } catch (const KivaroError& failure) {
        // Gone before the target is read again: an open transaction would hide what it holds.
        import.reset();
        bool written = false;
        try {
            written = holdsAnything(target);
        } catch (const KivaroError&) {
            throw TCopyIncomplete(QStringLiteral("提交时出错，无法确定目标账本“%1”是否已经写入：%2")
                                      .arg(ledgerName(target.location()), failure.text()));
        }
        if (!written)
            throw;
        checkCopy(target, accounts, totals);
        throw TCopyIncomplete(
            QStringLiteral("目标账本“%1”已经写入，但随后出错：%2").arg(ledgerName(target.location()), failure.text()));
    }
    checkCopy(target, accounts, totals);
}

// The text of one server database, with what the connection leaves out taken from the environment as libpq does.
QString serverIdentity(const QString& connection)
{
    const ServerParams params = parseServerConnection(connection);
    // A service file may say anything: only the same text is known to be the same database.
    if (params.options.contains(QLatin1String("service=")))
        return connection.trimmed();
    const auto orEnvironment = [](const QString& value, const char* variable, const QString& fallback) {
        const QString fromEnvironment = qEnvironmentVariable(variable);
        return !value.isEmpty() ? value : !fromEnvironment.isEmpty() ? fromEnvironment : fallback;
    };
    const QString user = orEnvironment(params.userName, "PGUSER", qEnvironmentVariable("USER"));
    const QString port
        = orEnvironment(params.port > 0 ? QString::number(params.port) : QString(), "PGPORT", QStringLiteral("5432"));
    return orEnvironment(params.host, "PGHOST", QString()) + QLatin1Char('\n') + port + QLatin1Char('\n')
        + orEnvironment(params.databaseName, "PGDATABASE", user);
}

void checkLocations(const LedgerLocation& source, const LedgerLocation& target)
{
    if (!source.isServer() && !QFileInfo(source.databasePath()).isFile())
        throw KivaroError(
            QStringLiteral("找不到源数据库文件“%1”").arg(QDir::toNativeSeparators(source.databasePath())));
    if (sameLedger(source, target))
        throw KivaroError(QStringLiteral("源账本和目标账本是同一个账本“%1”").arg(ledgerName(source)));
    if (!target.isServer() && !QFileInfo(target.dataDir()).isDir())
        throw KivaroError(
            QStringLiteral("目标文件夹“%1”不存在，请先建立这个文件夹").arg(QDir::toNativeSeparators(target.dataDir())));
}

// Removes a target file that the copy made from the template, once its connection is closed, when it stayed empty.
void removeMadeTarget(const LedgerLocation& target)
{
    try {
        if (holdsAnything(TDbMan(target).store()))
            return;
    } catch (const KivaroError&) {
        return;
    }
    QFile::remove(target.databasePath());
}

} // namespace

CopySummary copyLedger(
    LedgerStore& source, LedgerStore& target, const CopyProgress& progress, const CopyOptions& options)
{
    // Every read below sees the source at one moment, while other computers go on saving.
    source.holdSnapshot(true);
    const auto release = qScopeGuard([&source] { source.holdSnapshot(false); });
    const QList<StoredAccount> accounts = source.accounts();
    const TotalsByUser totals = totalsMap(source.totalsByUser());
    QList<std::pair<QString, QStringList>> productLists;
    // Every account's catalogue (a server's is the shop's, the same for each).
    QList<std::pair<QString, QList<CatalogueItem>>> catalogues;
    for (const StoredAccount& account : accounts) {
        if (QList<CatalogueItem> items = source.catalogue(account.name); !items.isEmpty())
            catalogues.append({ account.name, std::move(items) });
    }
    for (const StoredAccount& account : options.productLists ? accounts : QList<StoredAccount>()) {
        if (const std::optional<QStringList> names = source.productNames(account.name))
            productLists.append({ account.name, *names });
    }
    CopySummary summary;
    summary.accounts = accounts.size();
    summary.users = totals.size();
    summary.productLists = productLists.size();
    for (auto it = totals.cbegin(); it != totals.cend(); ++it) {
        summary.lines += it->lines;
        const bool hasAccount = std::any_of(accounts.cbegin(), accounts.cend(),
            [&it](const StoredAccount& account) { return account.name == it.key(); });
        summary.usersWithoutAccount += hasAccount ? 0 : 1;
    }

    std::unique_ptr<LedgerImport> import = target.startImport(
        options.replaceTarget ? LedgerStore::ImportMode::Replacing : LedgerStore::ImportMode::IntoEmpty,
        options.whileLocked);
    for (const StoredAccount& account : accounts)
        import->addAccount(account);
    TotalsByUser copied;
    qint64 copiedLines = 0;
    if (progress)
        progress(0, summary.lines);
    for (auto it = totals.cbegin(); it != totals.cend(); ++it) {
        const QString& user = it.key();
        SalesTotals& sums = copied[user];
        qint64 lastId = std::numeric_limits<qint64>::min();
        source.readLines(user, [&](const QList<SalesLine>& batch) {
            // A read started over on a new connection hands over again the lines already taken.
            qsizetype fresh = 0;
            while (fresh < batch.size() && batch[fresh].id <= lastId)
                ++fresh;
            if (fresh == batch.size())
                return;
            const QList<SalesLine> lines = fresh == 0 ? batch : batch.mid(fresh);
            import->addLines(user, lines);
            for (const SalesLine& line : lines)
                sums.add(line);
            lastId = lines.last().id;
            copiedLines += lines.size();
            if (progress)
                progress(copiedLines, summary.lines);
        });
    }
    if (!differences(totals, copied).isEmpty())
        throw KivaroError(
            QStringLiteral("从“%1”读出的记录与它的合计不符，可能有人正在使用这个账本；请在无人使用时再复制")
                .arg(ledgerName(source.location())));
    for (const auto& [user, names] : productLists)
        import->setProductNames(user, names);
    for (const auto& [user, items] : catalogues)
        import->setCatalogue(user, items);
    commitCopy(target, std::move(import), accounts, totals);
    return summary;
}

CopySummary copyLedger(const LedgerLocation& source, const LedgerLocation& target, const CopyProgress& progress,
    const CopyOptions& options)
{
    checkLocations(source, target);
    const bool madeTarget = !target.isServer() && !QFileInfo::exists(target.databasePath());
    try {
        TDbMan from(source);
        TDbMan to(target);
        return copyLedger(from.store(), to.store(), progress, options);
    } catch (const TCopyIncomplete&) {
        throw;
    } catch (const KivaroError&) {
        if (madeTarget)
            removeMadeTarget(target);
        throw;
    }
}

bool sameLedger(const LedgerLocation& a, const LedgerLocation& b)
{
    if (a.kind != b.kind)
        return false;
    if (!a.isServer())
        return Platform::sameFile(a.databasePath(), b.databasePath());
    return serverIdentity(a.connection) == serverIdentity(b.connection);
}

QString ledgerName(const LedgerLocation& location)
{
    return location.isServer() ? location.displayName() : QDir::toNativeSeparators(location.databasePath());
}
