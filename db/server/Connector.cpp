// Making, setting up and closing the connection of a ServerStore.

#include "db/server/PgSession.h"

#include "base/Platform.h"
#include "db/server/ServerConnection.h"

#include <QRegularExpression>
#include <algorithm>
#include <utility>

using namespace pg;

ServerStore::ServerStore(const LedgerLocation& location, bool administrator)
    : FLocation(location)
    , FAdministrator(administrator)
{
}

ServerStore::~ServerStore()
{
    disconnect();
}

namespace {

QString plainError(const QByteArray& verbose)
{
    QStringList kept;
    for (QString line : QString::fromUtf8(verbose).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("LOCATION:")))
            continue;
        kept.append(line.replace(connectionFailureStatePattern(), QStringLiteral("\\1")).trimmed());
    }
    return kept.join(QLatin1Char(' '));
}

} // namespace

OwnedConnection pg::attemptConnection(
    const QString& connection, const QString& user, const QString& password, Attempt& attempt)
{
    char* parseError = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(connection.toUtf8().constData(), &parseError);
    if (!parsed) {
        // libpq's sentence quotes pieces of the text, which may hold a password.
        attempt = { Attempt::Outcome::Failed, QStringLiteral("连接串的格式不对") };
        PQfreemem(parseError);
        return nullptr;
    }
    const auto freeParsed = qScopeGuard([parsed] { PQconninfoFree(parsed); });
    std::vector<QByteArray> keys;
    std::vector<QByteArray> values;
    int timeout = kConnectTimeoutSeconds;
    for (PQconninfoOption* option = parsed; option->keyword; ++option) {
        const QByteArray key = option->keyword;
        if (!option->val || (key == "user" && !user.isEmpty()) || (key == "password" && !password.isEmpty()))
            continue;
        if (key == "connect_timeout")
            timeout = qMax(2, QByteArray(option->val).toInt());
        keys.push_back(key);
        values.push_back(option->val);
    }
    // A connection whose network went away is found dead within half a minute instead of blocking the window for the
    // system's minutes; the user's own settings win.
    for (const auto& [key, value] : { std::pair { "keepalives_idle", "15" }, std::pair { "keepalives_interval", "5" },
             std::pair { "keepalives_count", "3" }, std::pair { "tcp_user_timeout", "30000" } }) {
        if (std::find(keys.begin(), keys.end(), QByteArray(key)) == keys.end()) {
            keys.push_back(key);
            values.push_back(value);
        }
    }
    if (!user.isEmpty()) {
        keys.push_back("user");
        values.push_back(user.toUtf8());
    }
    if (!password.isEmpty()) {
        keys.push_back("password");
        values.push_back(password.toUtf8());
    }
    std::vector<const char*> keyPointers;
    std::vector<const char*> valuePointers;
    for (size_t i = 0; i < keys.size(); ++i) {
        keyPointers.push_back(keys[i].constData());
        valuePointers.push_back(values[i].constData());
    }
    keyPointers.push_back(nullptr);
    valuePointers.push_back(nullptr);
    OwnedConnection made(PQconnectStartParams(keyPointers.data(), valuePointers.data(), 0));
    if (!made || PQstatus(made.get()) == CONNECTION_BAD) {
        attempt = { Attempt::Outcome::Unreachable, made ? plainError(PQerrorMessage(made.get())) : QString() };
        return nullptr;
    }
    PQsetErrorVerbosity(made.get(), PQERRORS_VERBOSE);
    QElapsedTimer waited;
    waited.start();
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED) {
        const qint64 left = timeout * 1000 - waited.elapsed();
        const int socket = PQsocket(made.get());
        if (left <= 0
            || (socket >= 0 && !Platform::waitForSocket(socket, status != PGRES_POLLING_READING, int(left)))) {
            attempt = { Attempt::Outcome::Unreachable, QStringLiteral("%1 秒内没有连上").arg(timeout) };
            return nullptr;
        }
        status = PQconnectPoll(made.get());
    }
    if (status == PGRES_POLLING_OK) {
        attempt = { Attempt::Outcome::Connected, QString() };
        return made;
    }
    const QByteArray verbose = PQerrorMessage(made.get());
    attempt.message = plainError(verbose);
    const QByteArray state = connectionFailureState(verbose);
    if (PQconnectionNeedsPassword(made.get()))
        attempt.outcome = Attempt::Outcome::NeedsPassword;
    else if (state == "28P01")
        attempt.outcome = Attempt::Outcome::WrongPassword;
    else if (state == "28000")
        attempt.outcome = Attempt::Outcome::NotPermitted;
    else if (state == "42501")
        attempt.outcome = Attempt::Outcome::NotMember;
    else if (state.isEmpty())
        attempt.outcome = Attempt::Outcome::Unreachable;
    else
        attempt.outcome = Attempt::Outcome::Failed;
    return nullptr;
}

pg_conn* ServerStore::connect()
{
    if (FConnection && FSignIns == serverSignIns())
        return FConnection;
    disconnect();
    const QString server = FLocation.displayName();
    const ServerParams params = parseServerConnection(FLocation.connection);
    // After a login, the ledger is used as the account; before it, and for the administrator's work, as the role the
    // connection names.
    FSignIns = serverSignIns();
    const std::optional<ServerAccount> account = FAdministrator ? std::nullopt : signedInAccount(FLocation.connection);
    QString password = account      ? account->password
        : params.password.isEmpty() ? rememberedServerPassword(FLocation.connection)
                                    : params.password;
    for (int asked = 0;; ++asked) {
        Attempt attempt;
        OwnedConnection made
            = attemptConnection(FLocation.connection, account ? account->name : QString(), password, attempt);
        if (made) {
            FConnection = made.release();
            break;
        }
        if (account && attempt.outcome == Attempt::Outcome::NotMember)
            throw KivaroError(
                QStringLiteral("“%1”已不是数据库服务器“%2”上这个账本的帐户（帐户被删除，或账本从备份恢复了）；"
                               "请切换用户，重新登录。")
                    .arg(account->name, server));
        if (account && attempt.outcome == Attempt::Outcome::WrongPassword)
            throw KivaroError(QStringLiteral("数据库服务器“%1”不再接受帐户“%2”的密码（可能在别处改过了）；"
                                             "请切换用户，重新登录。")
                                  .arg(server, account->name));
        const bool noPassword = attempt.outcome == Attempt::Outcome::NeedsPassword;
        const bool wrongPassword = attempt.outcome == Attempt::Outcome::WrongPassword;
        if (!account && !FMayAsk && (noPassword || wrongPassword))
            throw PasswordWanted(wrongPassword ? wrongPasswordText(server)
                                               : QStringLiteral("数据库服务器“%1”要求输入管理员的密码。").arg(server));
        if (!account && (noPassword || (wrongPassword && params.password.isEmpty())) && asked < 3
            && TDbMan::passwordPrompt) {
            const QString reason
                = noPassword ? QStringLiteral("服务器要求输入密码。") : QStringLiteral("密码不对，请重新输入。");
            if (const std::optional<QString> typed = TDbMan::passwordPrompt(server, reason)) {
                password = *typed;
                continue;
            }
        }
        if (attempt.outcome == Attempt::Outcome::Unreachable)
            throw serverAway(server, attempt.message);
        if (wrongPassword)
            throw KivaroError(wrongPasswordText(server));
        throw KivaroError(QStringLiteral("无法连接数据库服务器“%1”：%2").arg(server, attempt.message));
    }
    if (!account && params.password.isEmpty() && !password.isEmpty())
        rememberServerPassword(FLocation.connection, password);
    setUpConnection(FConnection);
    return FConnection;
}

void ServerStore::setUpConnection(pg_conn* connection)
{
    const QString server = FLocation.displayName();
    // The server's notices (a policy not there to drop) are for its log, not for the user's terminal.
    PQsetNoticeProcessor(
        connection, [](void*, const char*) {}, nullptr);
    // Days travel as ISO texts, texts as UTF-8.
    PQclear(PQexec(connection, "SET DateStyle = ISO"));
    // No wait is endless: a lock another till holds (a till frozen in the middle of a save), and a transaction left
    // open by a frozen till, end in seconds with a message instead of holding every other till.
    PQclear(PQexec(connection, "SET lock_timeout = '8s'"));
    PQclear(PQexec(connection, "SET idle_in_transaction_session_timeout = '120s'"));
    PQsetClientEncoding(connection, "UTF8");
    // The record of changes names the computer of every change the program makes.
    const QByteArray computer = TDbMan::computerName().toUtf8();
    const char* computerValue = computer.constData();
    PQclear(PQexecParams(connection, "SELECT set_config('kivaro.computer', $1, false)", 1, nullptr, &computerValue,
        nullptr, nullptr, 0));
    // The ledger is in the schema the database gives: a connection that sets its own search_path (options='-c …' or
    // PGOPTIONS) would take another schema's tables for the ledger.
    PGresult* path = PQexec(connection, "SELECT source FROM pg_settings WHERE name = 'search_path'");
    const bool moved = PQresultStatus(path) == PGRES_TUPLES_OK && PQntuples(path) == 1
        && qstrcmp(PQgetvalue(path, 0, 0), "client") == 0;
    PQclear(path);
    if (moved) {
        disconnect();
        throw KivaroError(QStringLiteral("数据库服务器“%1”：连接设置了 search_path（连接参数 options 或环境变量 "
                                         "PGOPTIONS），它会让本程序把别的模式中的表当作账本；请去掉这个设置。")
                              .arg(server));
    }
}

void ServerStore::disconnect()
{
    if (FConnection)
        PQfinish(std::exchange(FConnection, nullptr));
}
