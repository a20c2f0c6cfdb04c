// The ledger's accounts, which are roles of the server: the list, the login, passwords and the owner.

#include "db/server/PgSession.h"

#include "db/DbClass.h"
#include "db/server/ServerConnection.h"
#include "db/server/ServerSchema.h"

#include <QCryptographicHash>
#include <QHash>
#include <QMutex>
#include <QSettings>

using namespace pg;

namespace {

QMutex accountFlagsMutex;
// Per connection and account: whether the account waits for a password, as the last list of names said.
QHash<QString, bool> accountFlags;

QByteArray verifier(pg_conn* connection, const QString& name, const QString& password)
{
    char* made
        = PQencryptPasswordConn(connection, password.toUtf8().constData(), name.toUtf8().constData(), "scram-sha-256");
    if (!made)
        throw KivaroError(QStringLiteral("无法为帐户“%1”生成密码校验值：%2")
                              .arg(name, QString::fromUtf8(PQerrorMessage(connection)).trimmed()));
    const QByteArray text(made);
    PQfreemem(made);
    // A verifier holds letters, digits and "$:+/=" only; it is quoted all the same.
    return "'" + QByteArray(text).replace('\'', "''") + "'";
}

} // namespace

namespace {

// The accounts this computer last listed for a ledger, for the login before anyone has logged in: a till holds no
// password with which to ask the server.
QString rememberedAccountsKey(const QString& connection)
{
    return QStringLiteral("serverAccounts/")
        + QString::fromLatin1(
            QCryptographicHash::hash(connectionWithoutPassword(connection).toUtf8(), QCryptographicHash::Md5).toHex());
}

} // namespace

QStringList ServerStore::userNames()
{
    QSettings kept(settingsPath(), QSettings::IniFormat);
    const QString key = rememberedAccountsKey(FLocation.connection);
    const bool beforeLogin = !FAdministrator && !signedInAccount(FLocation.connection);
    FMayAsk = !beforeLogin;
    const auto askAgain = qScopeGuard([this] { FMayAsk = true; });
    QStringList names;
    QStringList waiting;
    try {
        withSession([&](Session& session) {
            const Result rows
                = session.exec("SELECT user_name, needs_password FROM users ORDER BY login_order DESC, id DESC");
            for (int row = 0; row < rows.rows(); ++row) {
                names.append(rows.text(row, 0));
                if (rows.bytes(row, 1) == "t")
                    waiting.append(names.last());
            }
        });
        kept.setValue(key + QStringLiteral("/names"), names);
        kept.setValue(key + QStringLiteral("/waiting"), waiting);
    } catch (const PasswordWanted&) {
        names = kept.value(key + QStringLiteral("/names")).toStringList();
        waiting = kept.value(key + QStringLiteral("/waiting")).toStringList();
    }
    const QMutexLocker lock(&accountFlagsMutex);
    for (const QString& name : std::as_const(names))
        accountFlags.insert(FLocation.connection + QLatin1Char('\n') + name, waiting.contains(name));
    return names;
}

std::optional<QString> ServerStore::passwordHash(const QString& name)
{
    const QByteArray user = textValue(name);
    // The server keeps the passwords: an account has no hash here.
    return withSession([&](Session& session) -> std::optional<QString> {
        if (session.exec("SELECT 1 FROM users WHERE md5(user_name) = md5($1) AND user_name = $1", { user }).rows() == 0)
            return std::nullopt;
        return QString();
    });
}

namespace {

KivaroError keptByServer()
{
    return KivaroError(QStringLiteral("服务器上的账本，密码由数据库服务器保管。"));
}

} // namespace

bool ServerStore::insertUser(const QString& /*name*/, const QString& /*hash*/)
{
    throw keptByServer();
}

bool ServerStore::deleteUserIf(const QString& /*name*/, const std::function<bool(const QString&)>& /*check*/)
{
    throw keptByServer();
}

bool ServerStore::replaceHashIf(
    const QString& /*name*/, const std::function<bool(const QString&)>& /*check*/, const QString& /*newHash*/)
{
    throw keptByServer();
}

void ServerStore::moveUserToFront(const QString& name)
{
    withSession([&](Session& session) { session.exec("SELECT kivaro_note_login($1)", { textValue(name) }); });
}

// Makes name an account's role: a role of that name already on the server is the same person and keeps its password
// (which, when one is given, must be it); otherwise a new login role with the password, or none. True when the
// account waits for a password.
bool ServerStore::admitRole(
    Session& session, const ServerSchema::Access& access, const QString& name, const QString& password)
{
    AccountRules::checkRoleName(name);
    const QString server = FLocation.displayName();
    const Result role = session.exec("SELECT rolsuper OR rolcreaterole OR rolreplication OR rolbypassrls "
                                     "FROM pg_roles WHERE rolname = $1",
        { textValue(name) });
    if (role.rows() > 0) {
        if (role.bytes(0, 0) == "t" || name == access.administrator || name == access.group)
            throw KivaroError(
                QStringLiteral("“%1”是数据库服务器“%2”上管理用的角色，不能作为帐户；请换个用户名。").arg(name, server));
        if (!password.isEmpty()) {
            Attempt attempt;
            attemptConnection(FLocation.connection, name, password, attempt);
            if (attempt.outcome != Attempt::Outcome::Connected && attempt.outcome != Attempt::Outcome::NotMember)
                throw KivaroError(QStringLiteral("数据库服务器“%1”上已有名为“%2”的用户，密码与输入的不同；"
                                                 "请输入那个用户的密码，或换个用户名。")
                                      .arg(server, name));
        }
        session.exec(QStringLiteral("GRANT %1 TO %2").arg(quotedName(access.group), quotedName(name)));
        return false;
    }
    session.exec(QStringLiteral("CREATE ROLE %1 LOGIN%2 IN ROLE %3")
                     .arg(quotedName(name),
                         password.isEmpty() ? QString()
                                            : QStringLiteral(" PASSWORD ")
                                 + QString::fromLatin1(verifier(session.connection(), name, password)),
                         quotedName(access.group)));
    return password.isEmpty();
}

ServerStore::LoginCheck ServerStore::logIn(const QString& name, const QString& password)
{
    AccountRules::checkRoleName(name);
    const QString server = FLocation.displayName();
    Attempt attempt;
    OwnedConnection connection = attemptConnection(FLocation.connection, name, password, attempt);
    switch (attempt.outcome) {
    case Attempt::Outcome::Connected:
        signInToServer(FLocation.connection, { name, password });
        return LoginCheck::Accepted;
    case Attempt::Outcome::NeedsPassword:
    case Attempt::Outcome::NotMember:
        return LoginCheck::WrongPassword;
    case Attempt::Outcome::WrongPassword: {
        // Whether the account waits for a password is read again where that needs no password of anyone's; the
        // last list of names says it otherwise.
        const QString key = FLocation.connection + QLatin1Char('\n') + name;
        FMayAsk = false;
        const auto askAgain = qScopeGuard([this] { FMayAsk = true; });
        try {
            const bool waiting = withSession([&](Session& session) {
                return session
                           .exec("SELECT needs_password FROM users WHERE md5(user_name) = md5($1) AND user_name = $1",
                               { textValue(name) })
                           .bytes(0, 0)
                    == "t";
            });
            const QMutexLocker lock(&accountFlagsMutex);
            accountFlags.insert(key, waiting);
        } catch (const KivaroError&) {
        }
        const QMutexLocker lock(&accountFlagsMutex);
        return accountFlags.value(key) ? LoginCheck::NeedsPassword : LoginCheck::WrongPassword;
    }
    case Attempt::Outcome::NotPermitted:
        throw KivaroError(QStringLiteral("数据库服务器“%1”不允许帐户“%2”登录（%3）；请找管理员。")
                              .arg(server, name, attempt.message));
    case Attempt::Outcome::Unreachable:
        throw serverAway(server, attempt.message);
    case Attempt::Outcome::Failed:
        break;
    }
    throw KivaroError(QStringLiteral("无法连接数据库服务器“%1”：%2").arg(server, attempt.message));
}

bool ServerStore::addAccount(const QString& name, const QString& password)
{
    return asAdministrator([&](ServerStore& administrator, Session& session) {
        session.begin();
        session.exec("LOCK TABLE users IN SHARE ROW EXCLUSIVE MODE");
        if (session.exec("SELECT 1 FROM users WHERE md5(user_name) = md5($1) AND user_name = $1", { textValue(name) })
                .rows()
            > 0)
            return false;
        const bool needsPassword = administrator.admitRole(session, access(session), name, password);
        session.exec("INSERT INTO users (user_name, login_order, needs_password) "
                     "VALUES ($1, (SELECT COALESCE(max(login_order), 0) + 1 FROM users), $2)",
            { textValue(name), needsPassword ? "t" : "f" });
        session.commit();
        return true;
    });
}

bool ServerStore::deleteAccount(const QString& name, const QString& password)
{
    AccountRules::checkRoleName(name);
    Attempt attempt;
    attemptConnection(FLocation.connection, name, password, attempt);
    if (attempt.outcome == Attempt::Outcome::WrongPassword || attempt.outcome == Attempt::Outcome::NeedsPassword)
        return false;
    if (attempt.outcome != Attempt::Outcome::Connected)
        throw KivaroError(QStringLiteral("无法连接数据库服务器“%1”：%2").arg(FLocation.displayName(), attempt.message));
    // The role belongs to the server and stays; it only stops being an account of this ledger.
    return asAdministrator([&](ServerStore&, Session& session) {
        session.begin();
        const Result deleted
            = session.exec("DELETE FROM users WHERE md5(user_name) = md5($1) AND user_name = $1", { textValue(name) });
        if (deleted.affected() == 1)
            session.exec(QStringLiteral("REVOKE %1 FROM %2").arg(quotedName(access(session).group), quotedName(name)));
        session.commit();
        const std::optional<ServerAccount> signedIn = signedInAccount(FLocation.connection);
        if (signedIn && signedIn->name == name)
            signOutOfServer(FLocation.connection);
        return deleted.affected() == 1;
    });
}

bool ServerStore::changePassword(const QString& name, const QString& oldPassword, const QString& newPassword)
{
    AccountRules::checkRoleName(name);
    Attempt attempt;
    OwnedConnection connection = attemptConnection(FLocation.connection, name, oldPassword, attempt);
    if (attempt.outcome == Attempt::Outcome::WrongPassword || attempt.outcome == Attempt::Outcome::NeedsPassword)
        return false;
    if (!connection)
        throw KivaroError(QStringLiteral("无法连接数据库服务器“%1”：%2").arg(FLocation.displayName(), attempt.message));
    // The account changes its own password, as itself; the server gets the verifier, never the password.
    const QByteArray statement = "ALTER ROLE CURRENT_USER PASSWORD " + verifier(connection.get(), name, newPassword);
    PGresult* changed = PQexec(connection.get(), statement.constData());
    const bool done = PQresultStatus(changed) == PGRES_COMMAND_OK;
    const QString engine = QString::fromUtf8(PQresultErrorMessage(changed)).trimmed();
    PQclear(changed);
    if (!done)
        throw KivaroError(QStringLiteral("数据库服务器“%1”没有修改密码：%2").arg(FLocation.displayName(), engine));
    const std::optional<ServerAccount> signedIn = signedInAccount(FLocation.connection);
    if (signedIn && signedIn->name == name)
        signInToServer(FLocation.connection, { name, newPassword });
    return true;
}

bool ServerStore::setPassword(const QString& name, const QString& password)
{
    return asAdministrator([&](ServerStore&, Session& session) {
        session.begin();
        const Result found = session.exec(
            "SELECT needs_password FROM users WHERE md5(user_name) = md5($1) AND user_name = $1 FOR UPDATE",
            { textValue(name) });
        if (found.rows() == 0)
            return false;
        session.exec("UPDATE users SET needs_password = false WHERE md5(user_name) = md5($1) AND user_name = $1",
            { textValue(name) });
        // An account that waited for its password may log in from now on; one the administrator shut stays shut.
        session.exec(QStringLiteral("ALTER ROLE %1 %2PASSWORD %3")
                         .arg(quotedName(name), found.bytes(0, 0) == "t" ? QStringLiteral("LOGIN ") : QString(),
                             QString::fromLatin1(verifier(session.connection(), name, password))));
        session.commit();
        return true;
    });
}

bool ServerStore::setShopOwner(const QString& name)
{
    return asAdministrator([&](ServerStore&, Session& session) {
        return session
                   .exec("UPDATE users SET shop_owner = true WHERE md5(user_name) = md5($1) AND user_name = $1",
                       { textValue(name) })
                   .affected()
            == 1;
    });
}

QList<AccountInfo> ServerStore::accountList()
{
    return withSession([](Session& session) {
        QList<AccountInfo> accounts;
        const Result rows = session.exec(
            "SELECT user_name, needs_password, shop_owner FROM users ORDER BY login_order DESC, id DESC");
        for (int row = 0; row < rows.rows(); ++row)
            accounts.append({ rows.text(row, 0), rows.bytes(row, 1) == "t", rows.bytes(row, 2) == "t" });
        return accounts;
    });
}
