// TDbMan's accounts: the rules of AccountRules, a file ledger's password hashes (argon2id), a server's roles, and the
// verifier that lets an account log in here while its server is away.

#include "db/DbClass.h"

#include "base/Error.h"
#include "db/LedgerStore.h"
#include "db/Outbox.h"
#include "db/server/ServerConnection.h"
#include "db/server/ServerStore.h"

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

} // namespace

bool TDbMan::UserExists(const QString& name)
{
    return FStore->passwordHash(name).has_value();
}

bool TDbMan::CheckUser(const QString& name, const QString& password)
{
    if (ServerStore* server = FServer) {
        switch (server->logIn(name, password)) {
        case ServerStore::LoginCheck::Accepted: {
            // The verifier that lets the account log in here while the server is away.
            OutboxStore outbox(FLocation.asOffline());
            const std::optional<QString> verifier = outbox.passwordHash(name);
            if (!verifier || !verifyPassword(*verifier, password))
                outbox.insertUser(name, QString::fromLatin1(hashPassword(password)));
            else
                outbox.insertUser(name, *verifier);
            // The ledger as the account sees it now, unless saves made before are still to tell about a restore.
            if (outbox.count(name).saves == 0)
                outbox.setGeneration(name, server->ledgerGeneration());
            outbox.setLedgerIdentity(server->ledgerIdentity());
            return true;
        }
        case ServerStore::LoginCheck::WrongPassword:
            return false;
        case ServerStore::LoginCheck::NeedsPassword:
            throw KivaroError(QStringLiteral("帐户“%1”还没有密码（它是从别的账本复制来的）；"
                                             "请管理员用 kivaro --set-password 为它设置密码后再登录。")
                                  .arg(name));
        }
    }
    const std::optional<QString> hash = FStore->passwordHash(name);
    if (FLocation.offline) {
        if (!hash)
            throw KivaroError(QStringLiteral("服务器“%1”连不上，帐户“%2”又没有在这台电脑上登录过这个账本，"
                                             "不能离线登录；请等服务器恢复后再登录。")
                                  .arg(FLocation.displayName(), name));
        if (!verifyPassword(*hash, password))
            return false;
        // Its saves go to the server as the account once it answers again.
        signInToServer(FLocation.connection, { name, password });
        return true;
    }
    // An account copied from a server ledger, which keeps no password a file can use.
    if (hash && hash->isEmpty())
        throw KivaroError(QStringLiteral(
            "帐户“%1”还没有密码（它是从服务器上的账本复制来的）；请用 kivaro --set-password 为它设置密码后再登录。")
                              .arg(name));
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
    AccountRules::checkNewName(name);
    AccountRules::checkPassword(password);
    if (ServerStore* server = FServer)
        return server->addAccount(name, password);
    if (UserExists(name))
        return false;
    return FStore->insertUser(name, QString::fromLatin1(hashPassword(password)));
}

bool TDbMan::DeleteUser(const QString& name, const QString& password)
{
    AccountRules::checkName(name);
    if (ServerStore* server = FServer)
        return server->deleteAccount(name, password);
    return accountAdmin().deleteUserIf(name, [&](const QString& hash) { return verifyPassword(hash, password); });
}

bool TDbMan::ChangePassword(const QString& name, const QString& oldPassword, const QString& newPassword)
{
    AccountRules::checkName(name);
    AccountRules::checkPassword(newPassword);
    if (ServerStore* server = FServer)
        return server->changePassword(name, oldPassword, newPassword);
    if (!CheckUser(name, oldPassword))
        return false;
    const QString hash = QString::fromLatin1(hashPassword(newPassword));
    // Another instance may have changed the password since the check above.
    return accountAdmin().replaceHashIf(
        name, [&](const QString& stored) { return verifyPassword(stored, oldPassword); }, hash);
}

QList<TDbMan::AccountInfo> TDbMan::Accounts()
{
    if (ServerStore* server = FServer)
        return server->accountList();
    QList<AccountInfo> accounts;
    for (const StoredAccount& account : accountAdmin().accounts())
        accounts.append({ account.name, account.passwordHash.isEmpty(), false });
    // In the order of the login list.
    std::stable_sort(accounts.begin(), accounts.end(), [order = FStore->userNames()](const auto& a, const auto& b) {
        return order.indexOf(a.name) < order.indexOf(b.name);
    });
    return accounts;
}

std::optional<QStringList> TDbMan::ReviewableAccounts(const QString& userName)
{
    if (!FServer)
        return std::nullopt;
    bool owner = false;
    QStringList others;
    for (const AccountInfo& account : Accounts()) {
        if (account.name == userName)
            owner = account.shopOwner;
        else
            others.append(account.name);
    }
    if (!owner)
        return std::nullopt;
    std::sort(others.begin(), others.end(),
        [](const QString& a, const QString& b) { return QString::localeAwareCompare(a, b) < 0; });
    return others;
}

bool TDbMan::SetPassword(const QString& name, const QString& password)
{
    AccountRules::checkName(name);
    AccountRules::checkPassword(password);
    if (ServerStore* server = FServer)
        return server->setPassword(name, password);
    return accountAdmin().replaceHashIf(
        name, [](const QString&) { return true; }, QString::fromLatin1(hashPassword(password)));
}

bool TDbMan::SetShopOwner(const QString& name)
{
    ServerStore* server = FServer;
    if (!server)
        throw KivaroError(QStringLiteral("只有数据库服务器上的账本才有店主：文件账本的每个帐户只看自己的记录。"));
    return server->setShopOwner(name);
}

void TDbMan::MoveUserToFront(const QString& name)
{
    FStore->moveUserToFront(name);
}
