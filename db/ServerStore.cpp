#include "db/ServerStore.h"

#include "base/Error.h"
#include "base/Platform.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/Numbers.h"
#include "db/Outbox.h"
#include "db/ProductsFile.h"
#include "db/ServerConnection.h"
#include "db/ServerSchema.h"

#include <QAtomicInt>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QUuid>
#include <QVariant>
#include <charconv>
#include <libpq-fe.h>
#include <thread>
#include <vector>

namespace {

QAtomicInt connectionCounter;

// The connection itself failed: what was not committed is gone, and the work may run again on a new one.
class ConnectionLost : public KivaroError
{
public:
    ConnectionLost(const QString& text, bool duringCommit, bool gaveUp = false)
        : KivaroError(text)
        , duringCommit(duringCommit)
        , gaveUp(gaveUp)
    {
    }
    bool duringCommit;
    // The connection was dropped because the server stopped answering: the work does not run again by itself.
    bool gaveUp;
};

// How long a statement may keep the window without a word, how long it may take at all, and how long a server that
// was asked to cancel may take to answer before its connection is dropped.
constexpr qint64 kShowWaitAfterMs = 1'000;
// A server that has not answered a connection in this many seconds is away, and the till works offline; libpq's
// shortest. The connection string's own connect_timeout wins.
constexpr int kConnectTimeoutSeconds = 2;
constexpr qint64 kGiveUpAfterMs = 120'000;

QString wrongPasswordText(const QString& server)
{
    return QStringLiteral(
        "数据库服务器“%1”不接受给出的密码（连接串、PGPASSWORD 或 ~/.pgpass 中的）；请检查管理员的密码。")
        .arg(server);
}

// The server did not answer a connection: the user reads it in words, the log keeps libpq's own text.
TServerUnreachable serverAway(const QString& server, const QString& engine)
{
    qWarning("kivaro: server %s unreachable: %s", qUtf8Printable(server), qUtf8Printable(engine.simplified()));
    return TServerUnreachable(
        QStringLiteral("数据库服务器“%1”连不上（没有应答，或者拒绝连接）；请检查服务器和网络。").arg(server));
}
constexpr qint64 kCancelAnswerMs = 3'000;

// The server undid the transaction so that another could go on (a serialization failure or a deadlock): running it
// again is the cure.
class TryAgain : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

// A lock another connection holds was waited for until lock_timeout.
class LockTimeout : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

// A unique key is taken: for an account, another computer made the same name meanwhile.
class UniqueViolation : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

// The connection's role needs a password that nobody may be asked for now.
class PasswordWanted : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

// The server's role may read but not write (a reader's role, a standby server).
class NotPermitted : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

QByteArray textValue(const QString& text)
{
    // PostgreSQL's texts cannot hold U+0000.
    if (text.contains(QChar(0)))
        throw KivaroError(QStringLiteral("文字中含有空字符（U+0000），服务器上的账本不能保存它。"));
    return withoutLoneSurrogates(text).toUtf8();
}

QByteArray dayValue(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
}

QByteArray numberValue(qint64 value)
{
    return QByteArray::number(value);
}

// A PostgreSQL array in its text form, bound as one parameter. Texts are quoted with their backslashes and double
// quotes escaped, so that no element can end the array or start another.
class ArrayValue
{
public:
    void add(const QByteArray& plain)
    {
        m_text += m_text.isEmpty() ? '{' : ',';
        m_text += plain;
    }
    void addText(const QByteArray& text)
    {
        m_text += m_text.isEmpty() ? '{' : ',';
        m_text += '"';
        for (const char c : text) {
            if (c == '"' || c == '\\')
                m_text += '\\';
            m_text += c;
        }
        m_text += '"';
    }
    QByteArray value() const { return m_text.isEmpty() ? QByteArray("{}") : m_text + '}'; }

private:
    QByteArray m_text;
};

// The columns of lines as array parameters, in this order: days, product names, quantities, received, costs, memos,
// and with withIds their ids.
QList<QByteArray> lineColumns(
    QList<SalesLine>::const_iterator begin, QList<SalesLine>::const_iterator end, bool withIds)
{
    ArrayValue days, names, quantities, received, costs, memos, ids;
    for (auto line = begin; line != end; ++line) {
        days.add(dayValue(line->day));
        names.addText(textValue(line->productName));
        quantities.add(numberValue(line->quantity));
        received.add(numberValue(line->received));
        costs.add(numberValue(line->cost));
        memos.addText(textValue(line->memo));
        if (withIds)
            ids.add(numberValue(line->id));
    }
    QList<QByteArray> columns { days.value(), names.value(), quantities.value(), received.value(), costs.value(),
        memos.value() };
    if (withIds)
        columns.append(ids.value());
    return columns;
}

} // namespace

// A finished statement's rows, read as libpq's texts.
class ServerStore::Result
{
public:
    explicit Result(pg_result* result)
        : m_result(result)
    {
    }
    ~Result() { PQclear(m_result); }
    Result(Result&& other) noexcept
        : m_result(std::exchange(other.m_result, nullptr))
    {
    }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    pg_result* handle() const { return m_result; }
    int rows() const { return PQntuples(m_result); }
    qint64 affected() const { return QByteArray(PQcmdTuples(m_result)).toLongLong(); }
    bool isNull(int row, int column) const { return PQgetisnull(m_result, row, column); }
    QByteArrayView bytes(int row, int column) const
    {
        return QByteArrayView(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
    }
    QString text(int row, int column) const
    {
        return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
    }
    qint64 integer(int row, int column) const
    {
        const char* text = PQgetvalue(m_result, row, column);
        qint64 value = 0;
        std::from_chars(text, text + PQgetlength(m_result, row, column), value);
        return value;
    }
    QDate day(int row, int column) const
    {
        // ISO dates, "yyyy-mm-dd": the session sets DateStyle.
        const char* text = PQgetvalue(m_result, row, column);
        return QDate(std::atoi(text), std::atoi(text + 5), std::atoi(text + 8));
    }
    // A line read as id, day, product name, quantity, received, cost, memo.
    SalesLine line(int row) const
    {
        return { integer(row, 0), day(row, 1), text(row, 2), qint32(integer(row, 3)), integer(row, 4), integer(row, 5),
            text(row, 6) };
    }
    SalesSums sums(int row, int first) const
    {
        return { integer(row, first), integer(row, first + 1), integer(row, first + 2) };
    }

private:
    pg_result* m_result;
};

// One operation on the connection. Writes of more than one statement run inside begin()/commit(); a session left
// without commit rolls back.
class ServerStore::Session
{
public:
    Session(ServerStore& store, pg_conn* connection)
        : m_store(store)
        , m_connection(connection)
    {
    }
    ~Session()
    {
        if (m_inTransaction && m_connection && PQstatus(m_connection) == CONNECTION_OK)
            PQclear(PQexec(m_connection, "ROLLBACK"));
    }
    pg_conn* connection() const { return m_connection; }
    // The connection is about to be closed: nothing may be sent on it any more.
    void abandon()
    {
        m_inTransaction = false;
        m_connection = nullptr;
    }

    Result exec(const char* statement, const QList<QByteArray>& values = {})
    {
        std::vector<const char*> pointers;
        pointers.reserve(size_t(values.size()));
        for (const QByteArray& value : values)
            pointers.push_back(value.constData());
        if (!PQsendQueryParams(
                m_connection, statement, int(values.size()), nullptr, pointers.data(), nullptr, nullptr, 0)) {
            check(Result(nullptr));
        }
        Result result(waitForResult());
        check(result);
        return result;
    }
    Result exec(const QString& statement, const QList<QByteArray>& values = {})
    {
        return exec(statement.toUtf8().constData(), values);
    }
    Result exec(const QByteArray& statement, const QList<QByteArray>& values = {})
    {
        return exec(statement.constData(), values);
    }
    // Inside a held snapshot the operation is part of that one read-only transaction.
    void begin()
    {
        if (m_store.FSnapshot)
            return;
        exec("BEGIN");
        m_inTransaction = true;
    }
    // A read-only snapshot for the statements until commit().
    void beginRead()
    {
        exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
        m_inTransaction = true;
    }
    void commit()
    {
        if (m_store.FSnapshot)
            return;
        m_committing = true;
        exec("COMMIT");
        m_committing = false;
        m_inTransaction = false;
    }

private:
    // Waits for the statement's result without blocking for ever: after a moment the user sees the wait and may stop
    // it; a server that answers neither the statement nor the cancel request (a frozen server) loses the connection.
    pg_result* waitForResult()
    {
        const QString server = m_store.FLocation.displayName();
        QElapsedTimer waited;
        waited.start();
        bool shown = false;
        qint64 cancelledAt = -1;
        const auto endWait = qScopeGuard([&] {
            if (shown)
                TDbMan::serverWait(QString());
        });
        while (PQisBusy(m_connection)) {
            Platform::waitForSocket(PQsocket(m_connection), false, 100);
            if (!PQconsumeInput(m_connection))
                break;
            const qint64 ms = waited.elapsed();
            if (cancelledAt < 0 && ms >= kShowWaitAfterMs && TDbMan::serverWait) {
                shown = true;
                if (!TDbMan::serverWait(QStringLiteral("正在等待数据库服务器“%1”回应……").arg(server)))
                    cancelledAt = ms;
            }
            if (cancelledAt < 0 && ms >= kGiveUpAfterMs)
                cancelledAt = ms;
            if (cancelledAt == ms)
                requestCancel();
            if (cancelledAt >= 0 && ms - cancelledAt >= kCancelAnswerMs && PQisBusy(m_connection))
                throw ConnectionLost(
                    QStringLiteral("数据库服务器“%1”没有回应，已断开连接；请检查服务器后再试。").arg(server),
                    m_committing, true);
        }
        pg_result* first = PQgetResult(m_connection);
        while (pg_result* more = PQgetResult(m_connection))
            PQclear(more);
        return first;
    }
    void requestCancel()
    {
        // A frozen server takes the request and never answers it: it is sent away from the window's thread.
        if (PGcancel* cancel = PQgetCancel(m_connection)) {
            std::thread([cancel] {
                char reason[256];
                PQcancel(cancel, reason, sizeof reason);
                PQfreeCancel(cancel);
            }).detach();
        }
    }

    void check(const Result& result)
    {
        const ExecStatusType status = PQresultStatus(result.handle());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return;
        const QString server = m_store.FLocation.displayName();
        // The server's own sentence, without the statement and context it may add.
        const char* primary = PQresultErrorField(result.handle(), PG_DIAG_MESSAGE_PRIMARY);
        const QString engine = primary
            ? QString::fromUtf8(primary).trimmed()
            : QString::fromUtf8(PQerrorMessage(m_connection)).trimmed().section(QLatin1Char('\n'), 0, 0);
        const QByteArray lostState = PQresultErrorField(result.handle(), PG_DIAG_SQLSTATE);
        // libpq's own failures carry no state, and the server says 08… or 57P… when it ends the connection: either
        // way the connection is gone even where libpq has not marked it so yet.
        if (PQstatus(m_connection) != CONNECTION_OK || lostState.isEmpty() || lostState.startsWith("08")
            || lostState.startsWith("57P")) {
            throw ConnectionLost(
                QStringLiteral("与数据库服务器“%1”的连接中断了：%2").arg(server, engine), m_committing);
        }
        const QByteArray state = PQresultErrorField(result.handle(), PG_DIAG_SQLSTATE);
        const QString text = QStringLiteral("数据库服务器“%1”出错：%2").arg(server, engine);
        if (state == "23505")
            throw UniqueViolation(text);
        if (state == "40001" || state == "40P01")
            throw TryAgain(text);
        if (state == "55P03")
            throw LockTimeout(
                QStringLiteral("账本正被另一台电脑使用，等了太久（数据库服务器“%1”）；请稍后再试。").arg(server));
        if (state == "57014")
            throw KivaroError(QStringLiteral("等待数据库服务器“%1”的工作已经取消，没有做任何改动。").arg(server));
        if (state == "23514")
            throw KivaroError(
                QStringLiteral("文字太长：服务器上的账本，产品名称和备注每项最多 1 MB（数据库服务器“%1”）。")
                    .arg(server));
        if (state == "22003")
            throw KivaroError(QStringLiteral("合计超出了能精确记录的范围（数据库服务器“%1”）：%2").arg(server, engine));
        if (state == "42501" || state == "25006")
            throw NotPermitted(QStringLiteral("数据库服务器“%1”不允许这个数据库用户修改账本：%2").arg(server, engine));
        throw KivaroError(text);
    }

    ServerStore& m_store;
    pg_conn* m_connection;
    bool m_inTransaction = false;
    bool m_committing = false;
};

ServerStore::ServerStore(const LedgerLocation& location, bool administrator)
    : FLocation(location)
    , FConnectionName(QStringLiteral("kivaro-server-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
    , FAdministrator(administrator)
{
    QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), FConnectionName);
}

ServerStore::~ServerStore()
{
    disconnect();
    QSqlDatabase::removeDatabase(FConnectionName);
}

namespace {

// How a connection attempt ended: libpq tells whether a password was missing, the server's SQLSTATE (asked for with
// verbose errors) whether the one given was wrong or the role may not log in. Never the server's wording, which is
// in its own language.
struct Attempt
{
    // NotMember: the role may log in, but not into this database (it is no account of this ledger).
    // Unreachable: nothing answered as a server (refused, no route, no answer in time).
    enum class Outcome { Connected, NeedsPassword, WrongPassword, NotPermitted, NotMember, Unreachable, Failed };
    Outcome outcome = Outcome::Failed;
    // The server's or libpq's words, without the SQLSTATE and the source location.
    QString message;
};

struct ConnectionDeleter
{
    void operator()(pg_conn* connection) const { PQfinish(connection); }
};
using OwnedConnection = std::unique_ptr<pg_conn, ConnectionDeleter>;

QString plainError(const QByteArray& verbose)
{
    QStringList kept;
    static const QRegularExpression code(QStringLiteral("(\\w+:\\s+)[0-9A-Z]{5}: "));
    for (QString line : QString::fromUtf8(verbose).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("LOCATION:")))
            continue;
        kept.append(line.replace(code, QStringLiteral("\\1")).trimmed());
    }
    return kept.join(QLatin1Char(' '));
}

// Connects with the text's options, as user and with password where they are given (the text's own otherwise).
OwnedConnection attemptConnection(
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
    static const QRegularExpression code(QStringLiteral("(?:FATAL|ERROR|致命错误|错误):\\s+([0-9A-Z]{5}): "));
    const QString state = code.match(QString::fromUtf8(verbose)).captured(1);
    if (PQconnectionNeedsPassword(made.get()))
        attempt.outcome = Attempt::Outcome::NeedsPassword;
    else if (state == QLatin1String("28P01"))
        attempt.outcome = Attempt::Outcome::WrongPassword;
    else if (state == QLatin1String("28000"))
        attempt.outcome = Attempt::Outcome::NotPermitted;
    else if (state == QLatin1String("42501"))
        attempt.outcome = Attempt::Outcome::NotMember;
    else if (state.isEmpty())
        attempt.outcome = Attempt::Outcome::Unreachable;
    else
        attempt.outcome = Attempt::Outcome::Failed;
    return nullptr;
}

} // namespace

pg_conn* ServerStore::connect()
{
    if (FConnection && FSignIns == serverSignIns())
        return FConnection;
    disconnect();
    const QString server = FLocation.displayName();
    const ServerParams params = parseServerConnection(FLocation.connection);
    QSqlDatabase db = QSqlDatabase::database(FConnectionName, false);
    if (!db.isValid())
        throw KivaroError(
            QStringLiteral("无法连接数据库服务器“%1”：本程序缺少 PostgreSQL 的驱动（QPSQL）").arg(server));
    // After a login, the ledger is used as the account; before it, and for the administrator's work, as the role the
    // connection names.
    FSignIns = serverSignIns();
    const std::optional<ServerAccount> account = FAdministrator ? std::nullopt : signedInAccount(FLocation.connection);
    db.setHostName(params.host);
    db.setDatabaseName(params.databaseName);
    db.setUserName(account ? account->name : params.userName);
    db.setPort(params.port);
    QString options = params.options;
    // An unreachable server is reported after seconds, and a connection whose network went away is found dead within
    // half a minute instead of blocking the window for the system's minutes; the user's own settings win.
    const QByteArray connectTimeout = QByteArray::number(kConnectTimeoutSeconds);
    const std::pair<const char*, const char*> defaults[]
        = { { "connect_timeout", connectTimeout.constData() }, { "keepalives_idle", "15" },
              { "keepalives_interval", "5" }, { "keepalives_count", "3" }, { "tcp_user_timeout", "30000" } };
    for (const auto& [key, value] : defaults) {
        if (!options.contains(QLatin1String(key) + QLatin1Char('=')))
            options += (options.isEmpty() ? QString() : QStringLiteral(";")) + QLatin1String(key) + QStringLiteral("='")
                + QLatin1String(value) + QLatin1Char('\'');
    }
    db.setConnectOptions(options);

    QString password = account      ? account->password
        : params.password.isEmpty() ? rememberedServerPassword(FLocation.connection)
                                    : params.password;
    for (int asked = 0;; ++asked) {
        db.setPassword(password);
        if (db.open())
            break;
        db.setPassword(QString());
        // A server that let the connect timeout pass is away: asking it again would only wait as long once more.
        if (db.lastError().text().contains(QLatin1String("timeout expired")))
            throw serverAway(server, db.lastError().text());
        // Why it failed is asked of libpq itself, on an attempt of its own.
        Attempt attempt;
        attemptConnection(FLocation.connection, account ? account->name : QString(), password, attempt);
        const QString engine = attempt.message.isEmpty() ? db.lastError().text().trimmed() : attempt.message;
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
            throw serverAway(server, engine);
        if (wrongPassword)
            throw KivaroError(wrongPasswordText(server));
        throw KivaroError(QStringLiteral("无法连接数据库服务器“%1”：%2").arg(server, engine));
    }
    if (!account && params.password.isEmpty() && !password.isEmpty())
        rememberServerPassword(FLocation.connection, password);

    const QVariant handle = db.driver()->handle();
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0)) {
        db.close();
        throw KivaroError(QStringLiteral("无法连接数据库服务器“%1”：驱动没有给出连接 %2 %3")
                              .arg(server, QString::fromLatin1(handle.typeName()))
                              .arg(handle.isValid()));
    }
    FConnection = *static_cast<pg_conn* const*>(handle.constData());
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
    FConnection = nullptr;
    QSqlDatabase db = QSqlDatabase::database(FConnectionName, false);
    if (db.isValid())
        db.close();
}

template <typename Work> auto ServerStore::withSession(Work&& work)
{
    for (int attempt = 0;; ++attempt) {
        const bool wasOpen = FConnection != nullptr;
        Session session(*this, connect());
        try {
            if (!FSchemaReady)
                prepareSchema(session);
            return work(session);
        } catch (const ConnectionLost& lost) {
            session.abandon();
            disconnect();
            // A server restarted since the last operation: nothing of this one was committed, so it runs again. A held
            // snapshot is gone with its connection, and with it what the reads so far agreed on.
            if (attempt > 0 || !wasOpen || lost.duringCommit || lost.gaveUp || FSnapshot) {
                FSnapshot = false;
                // A server that stopped answering is away: a till goes on offline.
                if (lost.gaveUp && !lost.duringCommit)
                    throw TServerUnreachable(lost.text());
                throw;
            }
        }
    }
}

namespace {

} // namespace

namespace {

const char* const kLedgerTables
    = "ARRAY['users', 'records', 'day_sums', 'day_product_sums', 'shop_day_sums', 'shop_day_product_sums', "
      "'product_names', 'saves', 'pending_lines', 'changes', 'kivaro_lock_key', 'kivaro_parts', "
      "'kivaro_ledger_id']";

QByteArray md5Hex(const QString& text)
{
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex();
}

} // namespace

// The ledger as the program made it: its tables are tables, its trigger functions have the program's bodies, the
// triggers on its tables are the program's and call them, and no rule rewrites a table. A function emptied, or a
// trigger or rule added, would change every later sale in silence; a missing part would save lines no view shows.
void ServerStore::checkLedgerParts(Session& session, const QString& server)
{
    const auto incomplete = [&server]() {
        return KivaroError(QStringLiteral("数据库服务器“%1”上的账本不完整（缺少表或触发器），不能使用；"
                                          "请从备份恢复，或复制到一个新的数据库。")
                               .arg(server));
    };
    const auto changed = [&server](const QString& what) {
        return KivaroError(QStringLiteral("数据库服务器“%1”上的账本被改动过（%2），不能使用；"
                                          "请从备份恢复，或复制到一个新的数据库。")
                               .arg(server, what));
    };
    const QString ledgerTables = QLatin1String(kLedgerTables);
    const Result tables = session.exec(
        QStringLiteral("SELECT t, c.relkind FROM unnest(%1) AS t LEFT JOIN pg_class c ON c.oid = to_regclass(t)")
            .arg(ledgerTables));
    for (int row = 0; row < tables.rows(); ++row) {
        if (tables.isNull(row, 1))
            throw incomplete();
        if (tables.bytes(row, 1) != "r")
            throw changed(QStringLiteral("“%1”不是表").arg(tables.text(row, 0)));
    }
    QMap<QString, ServerSchema::Function> expected;
    QStringList names;
    for (const ServerSchema::Function& function : ServerSchema::functions()) {
        expected.insert(function.name, function);
        names.append(QLatin1Char('\'') + function.name + QLatin1Char('\''));
    }
    // Besides the body: its language, run as its owner (who owns the tables) with the program's search path and no
    // other setting (a search_path of another's would send the summaries into another schema's tables).
    const Result functions = session.exec(QStringLiteral(
        "SELECT p.proname, l.lanname, CASE WHEN p.prosecdef AND p.proowner = (SELECT relowner FROM pg_class "
        "WHERE oid = to_regclass('records')) AND p.proconfig = ARRAY['search_path=pg_catalog, ' || "
        "quote_ident(current_schema()) || ', pg_temp'] THEN md5(p.prosrc) END FROM pg_proc p "
        "JOIN pg_language l ON l.oid = p.prolang "
        "WHERE p.pronamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema()) AND p.proname IN "
        "(%1)")
                                              .arg(names.join(QLatin1Char(','))));
    if (functions.rows() != expected.size())
        throw incomplete();
    for (int row = 0; row < functions.rows(); ++row) {
        const ServerSchema::Function& function = expected[functions.text(row, 0)];
        if (functions.isNull(row, 2) || functions.text(row, 1) != function.language
            || functions.bytes(row, 2) != md5Hex(function.body))
            throw changed(QStringLiteral("函数“%1”不是本程序写下的").arg(function.name));
    }
    // Every table keeps its rows to their accounts, the administrator's included, and only the program's policies
    // say who sees what.
    const Result unguarded = session.exec(
        QStringLiteral("SELECT t FROM unnest(%1 || ARRAY['kivaro_schema', 'ledger_generation', 'daily_backups']) AS t "
                       "JOIN pg_class c ON c.oid = to_regclass(t) "
                       "WHERE NOT (c.relrowsecurity AND c.relforcerowsecurity) ORDER BY 1")
            .arg(ledgerTables));
    if (unguarded.rows() > 0)
        throw changed(QStringLiteral("表“%1”没有行级安全").arg(unguarded.text(0, 0)));
    const Result policies
        = session.exec("SELECT c.relname, p.polname FROM pg_policy p JOIN pg_class c ON c.oid = p.polrelid "
                       "WHERE c.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema()) "
                       "AND (p.polname NOT IN ('kivaro_administrator', 'kivaro_read', 'kivaro_write') "
                       "OR NOT p.polpermissive OR cardinality(p.polroles) <> 1) ORDER BY 1, 2");
    if (policies.rows() > 0)
        throw changed(QStringLiteral("表“%1”上的策略“%2”不是本程序的").arg(policies.text(0, 0), policies.text(0, 1)));

    // Each trigger: its table, name, function (in the ledger's schema), kind (statement level; after an insert,
    // delete or update; before a truncate), its transition tables, no condition, and whether it runs in every
    // session (a replica trigger runs in none of the program's).
    struct Trigger
    {
        QString function;
        int type;
        QString transitions;
        QString table = QStringLiteral("records");
    };
    const QMap<QString, Trigger> triggers {
        { QStringLiteral("records_add_to_sums"),
            { QStringLiteral("records_add_to_sums"), 4, QStringLiteral("|added") } },
        { QStringLiteral("records_remove_from_sums"),
            { QStringLiteral("records_remove_from_sums"), 8, QStringLiteral("removed|") } },
        { QStringLiteral("records_move_in_sums"),
            { QStringLiteral("records_move_in_sums"), 16, QStringLiteral("removed|added") } },
        { QStringLiteral("records_no_truncate"),
            { QStringLiteral("records_refuse_truncate"), 34, QStringLiteral("|") } },
        { QStringLiteral("records_check_id"), { QStringLiteral("records_check_id"), 4, QStringLiteral("|added") } },
        { QStringLiteral("records_record_saves"),
            { QStringLiteral("records_record_saves"), 4, QStringLiteral("|added") } },
        { QStringLiteral("records_record_edits"), { QStringLiteral("records_record_edits"), 17, QStringLiteral("|") } },
        { QStringLiteral("records_record_deletes"),
            { QStringLiteral("records_record_deletes"), 9, QStringLiteral("|") } },
        { QStringLiteral("records_assign_id"), { QStringLiteral("records_assign_id"), 7, QStringLiteral("|") } },
        { QStringLiteral("pending_lines_assign_id"),
            { QStringLiteral("pending_lines_assign_id"), 7, QStringLiteral("|"), QStringLiteral("pending_lines") } },
    };
    const Result found = session.exec(
        QStringLiteral("SELECT c.relname, t.tgname, p.proname, t.tgtype, "
                       "p.pronamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema()) "
                       "AND t.tgqual IS NULL AND t.tgattr = ''::int2vector, t.tgenabled IN ('O', 'A'), "
                       "coalesce(t.tgoldtable::text, '') || '|' || coalesce(t.tgnewtable::text, '') "
                       "FROM pg_trigger t JOIN pg_class c ON c.oid = t.tgrelid JOIN pg_proc p ON p.oid = t.tgfoid "
                       "WHERE NOT t.tgisinternal AND t.tgrelid IN (SELECT to_regclass(x) FROM unnest(%1) AS x)")
            .arg(ledgerTables));
    int running = 0;
    for (int row = 0; row < found.rows(); ++row) {
        const auto own = triggers.constFind(found.text(row, 1));
        if (own == triggers.cend() || found.text(row, 0) != own->table || own->function != found.text(row, 2)
            || found.integer(row, 3) != own->type || found.bytes(row, 4) != "t"
            || found.text(row, 6) != own->transitions)
            throw changed(
                QStringLiteral("表“%1”上的触发器“%2”不是本程序的").arg(found.text(row, 0), found.text(row, 1)));
        running += found.bytes(row, 5) == "t" ? 1 : 0;
    }
    if (running != triggers.size())
        throw incomplete();
    const Result rules = session.exec(
        QStringLiteral("SELECT c.relname, r.rulename FROM pg_rewrite r JOIN pg_class c ON c.oid = r.ev_class "
                       "WHERE r.ev_class IN (SELECT to_regclass(x) FROM unnest(%1) AS x)")
            .arg(ledgerTables));
    if (rules.rows() > 0)
        throw changed(QStringLiteral("表“%1”上有规则“%2”").arg(rules.text(0, 0), rules.text(0, 1)));
    // The policies' expressions and the grants as the program set them: compared by a function of the ledger's,
    // since only the administrator may read what they were.
    if (session.exec("SELECT kivaro_access_unchanged()").bytes(0, 0) != "t")
        throw changed(QStringLiteral("策略或授权被改过"));
}

namespace {

QString quotedName(const QString& identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

} // namespace

ServerSchema::Access ServerStore::access(Session& session)
{
    const Result names = session.exec("SELECT current_database(), current_schema(), current_user");
    // The accounts' group is named after the database, apart from any role a database is commonly named after (its
    // owner's, say).
    return { names.text(0, 0), names.text(0, 1), names.text(0, 2), names.text(0, 0) + QStringLiteral("_accounts") };
}

bool ServerStore::isAdministrator(Session& session)
{
    return session
               .exec("SELECT pg_has_role(current_user, d.datdba, 'MEMBER') FROM pg_database d "
                     "WHERE d.datname = current_database()")
               .bytes(0, 0)
        == "t";
}

void ServerStore::makeGroup(Session& session, const ServerSchema::Access& access)
{
    const QString server = FLocation.displayName();
    if (access.group.toUtf8().size() > 63)
        throw KivaroError(
            QStringLiteral("数据库服务器“%1”上的数据库名“%2”太长，帐户组的名字放不下；请换一个短一些的数据库名。")
                .arg(server, access.database));
    // A role of that name made by someone else must not lend its rights to every account: only a plain group, member
    // of nothing, is taken as the accounts' group.
    const Result found = session.exec(
        "SELECT NOT (r.rolcanlogin OR r.rolsuper OR r.rolcreaterole OR r.rolcreatedb OR r.rolreplication "
        "OR r.rolbypassrls) AND NOT EXISTS (SELECT 1 FROM pg_auth_members m WHERE m.member = r.oid) "
        "AND NOT EXISTS (SELECT 1 FROM pg_database d WHERE d.datdba = r.oid) FROM pg_roles r WHERE r.rolname = $1",
        { textValue(access.group) });
    if (found.rows() > 0) {
        if (found.bytes(0, 0) != "t")
            throw KivaroError(QStringLiteral("数据库服务器“%1”上已有角色“%2”，它不是单纯的帐户组，不能让帐户加入；"
                                             "请换一个数据库名，或删去那个角色。")
                                  .arg(server, access.group));
        return;
    }
    try {
        session.exec(QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(quotedName(access.group)));
    } catch (const NotPermitted&) {
        throw KivaroError(QStringLiteral("数据库服务器“%1”：管理员“%2”不能建立角色（需要 CREATEROLE 权限）；"
                                         "请按说明建立管理员：createuser --createrole --pwprompt %2")
                              .arg(server, access.administrator));
    }
}

// A ledger made by an earlier version had one shared role and kept the password hashes itself. Its accounts become
// roles without a password (the administrator sets each with --set-password), its functions run as the administrator
// and every table gets row-level security.
void ServerStore::upgradeToAccounts(Session& session, qint64 found)
{
    if (found == 1) {
        for (const QString& statement : ServerSchema::historyStatements())
            session.exec(statement);
    }
    const ServerSchema::Access names = access(session);
    for (const QString& statement : ServerSchema::generationStatements())
        session.exec(statement);
    for (const QString& statement : ServerSchema::textLimitStatements())
        session.exec(statement);
    session.exec("ALTER TABLE users ADD COLUMN shop_owner boolean NOT NULL DEFAULT false, "
                 "ADD COLUMN needs_password boolean NOT NULL DEFAULT false, DROP COLUMN password_hash");
    makeGroup(session, names);
    const Result users = session.exec("SELECT user_name FROM users ORDER BY id");
    for (int row = 0; row < users.rows(); ++row) {
        const bool needsPassword = admitRole(session, names, users.text(row, 0), QString());
        session.exec("UPDATE users SET needs_password = $2 WHERE user_name = $1",
            { textValue(users.text(row, 0)), needsPassword ? "t" : "f" });
    }
}

// Version 5 keeps the whole shop's sums in tables of their own, made here from the lines. Version 4 kept them in the
// users' tables under the user '', which goes.
void ServerStore::upgradeToShopSums(Session& session, const QString& server)
{
    // A till of the earlier version saving now would add lines the sums below would not count: writers wait until
    // the new triggers are in.
    session.exec("LOCK TABLE records IN SHARE ROW EXCLUSIVE MODE");
    // No account can have the empty name; such lines came from a copy of a file before that was refused, and their
    // sums would be mixed with the shop's of version 4.
    const qint64 nameless = session.exec("SELECT count(*) FROM records WHERE user_name = ''").integer(0, 0);
    if (nameless > 0)
        throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本有 %2 条记录没有用户名，无法升级；请管理员用 psql "
                                         "给这些记录写上用户名（UPDATE records SET user_name = … WHERE user_name = "
                                         "''），或删去它们，再连接一次。")
                              .arg(server)
                              .arg(nameless));
    for (const QString& statement : ServerSchema::shopSumsStatements())
        session.exec(statement);
    session.exec("DELETE FROM day_product_sums WHERE user_name = ''");
    session.exec("DELETE FROM day_sums WHERE user_name = ''");
    session.exec("TRUNCATE shop_day_sums, shop_day_product_sums");
    session.exec(
        "INSERT INTO shop_day_product_sums (user_name, day, product_name, lines, first_id, quantity, received, cost) "
        "SELECT '', day, product_name, count(*), min(id), sum(quantity), sum(received), sum(cost) "
        "FROM records GROUP BY day, product_name");
    session.exec("INSERT INTO shop_day_sums (user_name, day, lines, products, quantity, received, cost) "
                 "SELECT '', day, count(*), (SELECT count(*) FROM shop_day_product_sums AS p "
                 "WHERE md5(p.user_name) = md5('') AND p.user_name = '' AND p.day = r.day), "
                 "sum(quantity), sum(received), sum(cost) FROM records AS r GROUP BY day");
}

void ServerStore::prepareSchema(Session& session)
{
    const QString server = FLocation.displayName();
    // Two computers that meet an empty database at once create the tables once; an upgrade holds the version's
    // table, which an account cannot lock against it. An account that opens a ledger as it is takes no lock at all.
    // The look is read from the catalogue's tables, outside the transaction: a name looked up before the wait would
    // be remembered as missing after it.
    const bool ledgerThere
        = session
              .exec("SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = "
                    "c.relnamespace WHERE c.relname = 'kivaro_schema' AND n.nspname = current_schema())")
              .bytes(0, 0)
        == "t";
    session.begin();
    if (!ledgerThere)
        session.exec("SELECT pg_advisory_xact_lock(hashtext('kivaro-schema'))");
    const bool administrator = isAdministrator(session);
    if (ledgerThere && administrator
        && session.exec("SELECT max(version) FROM kivaro_schema").integer(0, 0) < kSchemaVersion)
        session.exec("LOCK TABLE kivaro_schema IN EXCLUSIVE MODE");
    const auto needsAdministrator = [&]() {
        return KivaroError(QStringLiteral("数据库服务器“%1”上的账本需要管理员（数据库“%2”的所有者）先连接一次，"
                                          "建立或升级账本；请用连接设置中的管理员连接。")
                               .arg(server, session.exec("SELECT current_database()").text(0, 0)));
    };
    if (session.exec("SELECT to_regclass('kivaro_schema') IS NOT NULL").bytes(0, 0) == "t") {
        const Result version = session.exec("SELECT max(version) FROM kivaro_schema");
        const qint64 found = version.isNull(0, 0) ? 0 : version.integer(0, 0);
        if (found > kSchemaVersion)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本由更新版本的 Kivaro 建立（版本 %2），"
                                             "请先升级本程序。")
                                  .arg(server)
                                  .arg(found));
        if (found < 1)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本不完整（没有版本记录）。").arg(server));
        if (found < kSchemaVersion) {
            if (!administrator)
                throw needsAdministrator();
            if (found < 3)
                upgradeToAccounts(session, found);
            if (found < 5)
                upgradeToShopSums(session, server);
            if (found < 6) {
                for (const QString& statement : ServerSchema::dayLimitStatements() + ServerSchema::lockKeyStatements())
                    session.exec(statement);
            }
            // The earlier functions, triggers, policies and grants are replaced by the program's own, whatever an
            // earlier upgrade left (a policy goes with a function it calls).
            const ServerSchema::Access names = access(session);
            for (const ServerSchema::Function& function : ServerSchema::functions())
                session.exec(QStringLiteral("DROP FUNCTION IF EXISTS %1 CASCADE").arg(function.name));
            for (const QString& statement : ServerSchema::functionStatements(names.schema))
                session.exec(statement);
            for (const QString& statement : ServerSchema::accessStatements(names))
                session.exec(statement);
            session.exec(QStringLiteral("UPDATE kivaro_schema SET version = %1").arg(kSchemaVersion));
        }
        checkLedgerParts(session, server);
    } else {
        // The server's own databases are not for a shop's ledger; a connection that names none lands there.
        const QString database = session.exec("SELECT current_database()").text(0, 0);
        if (database == QLatin1String("postgres") || database.startsWith(QLatin1String("template")))
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的“%2”是服务器自己的数据库，不能放账本；"
                                             "请为 Kivaro 新建一个数据库，并在连接中写明（例如 …/ledger）。")
                                  .arg(server, database));
        // A ledger in another schema than the connection's is that ledger, not an empty database: a second one
        // beside it would split the shop's sales in two.
        const Result elsewhere = session.exec(
            "SELECT n.nspname, current_schema() FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
            "WHERE c.relname = 'kivaro_schema' AND c.relkind = 'r' ORDER BY 1 LIMIT 1");
        if (elsewhere.rows() > 0)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本在模式“%2”中，连接使用的却是模式“%3”；"
                                             "请检查连接设置中的 search_path。")
                                  .arg(server, elsewhere.text(0, 0), elsewhere.text(0, 1)));
        if (session
                .exec("SELECT 1 FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                      "WHERE n.nspname NOT IN ('pg_catalog', 'information_schema') "
                      "AND n.nspname NOT LIKE 'pg\\_%' LIMIT 1")
                .rows()
            > 0)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的数据库不是空的，也不是 Kivaro 的账本；"
                                             "请为 Kivaro 新建一个空的数据库。")
                                  .arg(server));
        if (!administrator)
            throw needsAdministrator();
        const ServerSchema::Access names = access(session);
        makeGroup(session, names);
        for (const QString& statement : ServerSchema::createStatements(kSchemaVersion, names))
            session.exec(statement);
    }
    // Which ledger this is: a restore counts it up, and every computer notices at its next write or 查看.
    if (FGeneration < 0)
        FGeneration = session.exec("SELECT generation FROM ledger_generation").integer(0, 0);
    session.commit();
    FSchemaReady = true;
}

namespace {

QMutex accountFlagsMutex;
// Per connection and account: whether the account waits for a password, as the last list of names said.
QHash<QString, bool> accountFlags;

// A role's name is at most 63 bytes: the server would cut a longer one, and two accounts could become one role.
void checkRoleName(const QString& name)
{
    // The shop's sums are kept under the empty name.
    if (name.isEmpty())
        throw KivaroError(QStringLiteral("服务器上的账本，用户名不能为空。"));
    if (name.toUtf8().size() > 63)
        throw KivaroError(QStringLiteral("服务器上的账本，用户名最长 63 个字节（约 21 个汉字）：“%1”太长了。")
                              .arg(name.left(24) + QStringLiteral("…")));
}

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
    checkRoleName(name);
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

template <typename Work> auto ServerStore::asAdministrator(Work&& work)
{
    ServerStore administrator(FLocation, true);
    return administrator.withSession([&](Session& session) {
        if (!isAdministrator(session))
            throw KivaroError(QStringLiteral("这项工作要由账本的管理员（数据库的所有者）来做；"
                                             "连接设置中的用户不是数据库服务器“%1”上这个账本的管理员。")
                                  .arg(FLocation.displayName()));
        return work(administrator, session);
    });
}

ServerStore::LoginCheck ServerStore::logIn(const QString& name, const QString& password)
{
    checkRoleName(name);
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
    if (name.isEmpty() || password.isEmpty())
        throw KivaroError(QStringLiteral("服务器上的账本，帐户要有用户名和密码。"));
    checkRoleName(name);
    // The owner's review page offers these two beside the accounts; an account of either name would be taken for them.
    if (name == shopRangeName() || name == ownRangeName())
        throw KivaroError(QStringLiteral("服务器上的账本，“%1”是查帐时选择的范围，不能用作用户名。").arg(name));
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
    checkRoleName(name);
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
    checkRoleName(name);
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
    checkRoleName(name);
    if (password.isEmpty())
        throw KivaroError(QStringLiteral("服务器上的账本，帐户要有用户名和密码。"));
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

QList<TDbMan::AccountInfo> ServerStore::accountList()
{
    return withSession([](Session& session) {
        QList<TDbMan::AccountInfo> accounts;
        const Result rows = session.exec(
            "SELECT user_name, needs_password, shop_owner FROM users ORDER BY login_order DESC, id DESC");
        for (int row = 0; row < rows.rows(); ++row)
            accounts.append({ rows.text(row, 0), rows.bytes(row, 1) == "t", rows.bytes(row, 2) == "t" });
        return accounts;
    });
}

void ServerStore::insertLines(Session& session, const QString& userName, const QList<SalesLine>& lines, bool keepIds)
{
    // Each column travels as one array parameter: a save of thousands of lines is one statement, parsed once.
    constexpr qsizetype kRowsPerStatement = 10'000;
    const QByteArray user = textValue(userName);
    const QByteArray statement = keepIds
        ? "INSERT INTO records (id, user_name, day, product_name, quantity, received, cost, memo) "
          "SELECT i, $1, d, p, q, r, c, m FROM unnest($2::date[], $3::text[], $4::integer[], $5::bigint[], "
          "$6::bigint[], $7::text[], $8::bigint[]) WITH ORDINALITY AS l(d, p, q, r, c, m, i, n) ORDER BY n"
        : "INSERT INTO records (user_name, day, product_name, quantity, received, cost, memo) "
          "SELECT $1, d, p, q, r, c, m FROM unnest($2::date[], $3::text[], $4::integer[], $5::bigint[], "
          "$6::bigint[], $7::text[]) WITH ORDINALITY AS l(d, p, q, r, c, m, n) ORDER BY n";
    for (qsizetype first = 0; first < lines.size(); first += kRowsPerStatement) {
        const qsizetype count = qMin(kRowsPerStatement, lines.size() - first);
        const QList<QByteArray> values
            = QList<QByteArray> { user } + lineColumns(lines.cbegin() + first, lines.cbegin() + first + count, keepIds);
        session.exec(statement.constData(), values);
    }
}

std::optional<SalesLine> ServerStore::readLine(Session& session, qint64 id, QString* userName, bool forUpdate)
{
    const Result row = session.exec(forUpdate
            ? "SELECT user_name, day, product_name, quantity, received, cost, memo FROM records WHERE id = $1 FOR "
              "UPDATE"
            : "SELECT user_name, day, product_name, quantity, received, cost, memo FROM records WHERE id = $1",
        { numberValue(id) });
    if (row.rows() == 0)
        return std::nullopt;
    if (userName)
        *userName = row.text(0, 0);
    return SalesLine { id, row.day(0, 1), row.text(0, 2), qint32(row.integer(0, 3)), row.integer(0, 4),
        row.integer(0, 5), row.text(0, 6) };
}

namespace {

const char* const kChangeColumns
    = "SELECT id, to_char(changed_at AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), "
      "user_name, computer, kind, line_id, before, after, undoes, undone_by FROM changes ";

} // namespace

ChangeEntry ServerStore::changeAt(const Result& rows, int row)
{
    ChangeEntry entry;
    entry.id = rows.integer(row, 0);
    entry.at = QDateTime::fromString(rows.text(row, 1), Qt::ISODateWithMs);
    entry.userName = rows.text(row, 2);
    entry.computer = rows.text(row, 3);
    entry.kind = kindFromName(rows.text(row, 4));
    entry.lineId = rows.integer(row, 5);
    if (entry.kind == ChangeEntry::Kind::Save) {
        entry.saved = savedFromRecord(rows.text(row, 7));
    } else {
        entry.before = lineFromRecord(rows.text(row, 6));
        entry.after = lineFromRecord(rows.text(row, 7));
    }
    entry.undoes = rows.integer(row, 8);
    entry.undoneBy = rows.integer(row, 9);
    return entry;
}

QList<ChangeEntry> ServerStore::changes(const QString& userName, int limit)
{
    return withSession([&](Session& session) {
        const QByteArray statement = QByteArray(kChangeColumns)
            + "WHERE md5(user_name) = md5($1) AND user_name = $1 ORDER BY id DESC LIMIT $2";
        const Result rows = session.exec(statement.constData(), { textValue(userName), numberValue(limit) });
        QList<ChangeEntry> entries;
        for (int row = 0; row < rows.rows(); ++row)
            entries.append(changeAt(rows, row));
        return entries;
    });
}

namespace {

template <typename Ids> QByteArray idArray(const Ids& ids)
{
    ArrayValue array;
    for (const qint64 id : ids)
        array.add(numberValue(id));
    return array.value();
}

} // namespace

// The steps of one write transaction on the server.
class ServerStore::Write : public LedgerWrite
{
public:
    Write(ServerStore& store, Session& session)
        : m_store(store)
        , m_session(session)
    {
    }

    // The same turn the summaries' triggers take: one user's writes never interleave.
    void lockUser(const QString& userName) override
    {
        m_session.exec("SELECT kivaro_lock('user', $1, true)", { textValue(userName) });
    }
    std::optional<std::pair<QString, SalesLine>> lineForUpdate(qint64 id) override
    {
        QString userName;
        const std::optional<SalesLine> line = m_store.readLine(m_session, id, &userName, true);
        if (!line)
            return std::nullopt;
        return std::pair { userName, *line };
    }
    void insertLines(const QString& userName, const QList<SalesLine>& lines, bool keepIds) override
    {
        m_store.insertLines(m_session, userName, lines, keepIds);
    }
    void rewriteLine(const SalesLine& line) override
    {
        m_session.exec("UPDATE records SET day = $2, product_name = $3, quantity = $4, received = $5, cost = $6, "
                       "memo = $7 WHERE id = $1",
            { numberValue(line.id), dayValue(line.day), textValue(line.productName), numberValue(line.quantity),
                numberValue(line.received), numberValue(line.cost), textValue(line.memo) });
    }
    void removeLine(qint64 id) override { m_session.exec("DELETE FROM records WHERE id = $1", { numberValue(id) }); }
    // The triggers on records put every change on record, as the administrator: an account cannot write the record
    // itself. What the program adds is which change an undo undoes, said before the line changes.
    void aboutToUndo(qint64 changeId) override
    {
        m_session.exec("SELECT set_config('kivaro.undoes', $1, true)", { numberValue(changeId) });
    }
    qint64 insertChange(const QString& /*userName*/, const QString& /*computer*/, ChangeEntry::Kind /*kind*/,
        qint64 /*lineId*/, const QString& /*before*/, const QString& /*after*/, qint64 /*undoes*/) override
    {
        const Result made
            = m_session.exec("SELECT NULLIF(current_setting('kivaro.change', true), '')::bigint, "
                             "set_config('kivaro.undoes', '', true), set_config('kivaro.change', '', true)");
        if (made.isNull(0, 0))
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本没有记下这次修改，没有保存；"
                                             "请从备份恢复，或复制到一个新的数据库。")
                                  .arg(m_store.FLocation.displayName()));
        return made.integer(0, 0);
    }
    std::optional<ChangeEntry> changeForUpdate(qint64 id) override
    {
        // The user's turn (lockUser) keeps the entry as read; the undo's trigger marks it undone only once.
        const Result row
            = m_session.exec(QByteArray(QByteArray(kChangeColumns) + "WHERE id = $1").constData(), { numberValue(id) });
        if (row.rows() == 0)
            return std::nullopt;
        return changeAt(row, 0);
    }
    void markUndone(qint64 /*changeId*/, qint64 /*undoId*/) override { }
    void recordSave(const QByteArray& token, const QString& userName, qint64 lines) override
    {
        m_session.exec("INSERT INTO saves (token, user_name, lines) VALUES ($1, $2, $3)",
            { token, textValue(userName), numberValue(lines) });
    }
    bool hasSave(const QByteArray& token) override
    {
        return m_session.exec("SELECT 1 FROM saves WHERE token = $1", { token }).rows() > 0;
    }

    QList<SalesLine> keptLines(const QString& userName, const QString& owner) override
    {
        QList<SalesLine> lines;
        const Result rows = m_session.exec(
            "SELECT id, day, product_name, quantity, received, cost, memo FROM pending_lines "
            "WHERE md5(user_name) = md5($1) AND md5(computer) = md5($2) AND user_name = $1 AND computer = $2 "
            "ORDER BY id",
            { textValue(userName), textValue(owner) });
        for (int row = 0; row < rows.rows(); ++row)
            lines.append(rows.line(row));
        return lines;
    }
    QStringList keptOwners(const QString& userName) override
    {
        const Result rows = m_session.exec(
            "SELECT DISTINCT computer FROM pending_lines WHERE md5(user_name) = md5($1) AND user_name = $1",
            { textValue(userName) });
        QStringList owners;
        for (int row = 0; row < rows.rows(); ++row)
            owners.append(rows.text(row, 0));
        return owners;
    }
    QList<qint64> insertKept(const QString& userName, const QString& owner, const QList<SalesLine>& lines) override
    {
        const Result rows = m_session.exec(
            "INSERT INTO pending_lines (user_name, computer, day, product_name, quantity, received, cost, memo) "
            "SELECT $1, $2, d, p, q, r, c, m FROM unnest($3::date[], $4::text[], $5::integer[], $6::bigint[], "
            "$7::bigint[], $8::text[]) WITH ORDINALITY AS l(d, p, q, r, c, m, n) ORDER BY n RETURNING id",
            QList<QByteArray> { textValue(userName), textValue(owner) }
                + lineColumns(lines.cbegin(), lines.cend(), false));
        QList<qint64> ids;
        for (int row = 0; row < rows.rows(); ++row)
            ids.append(rows.integer(row, 0));
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    qint64 removeKept(const QString& userName, const QString& owner, const QList<qint64>& ids) override
    {
        return m_session
            .exec("DELETE FROM pending_lines WHERE id = ANY($1::bigint[]) AND user_name = $2 AND computer = $3",
                { idArray(ids), textValue(userName), textValue(owner) })
            .affected();
    }
    void moveKept(const QString& userName, const QString& from, const QString& to) override
    {
        m_session.exec("UPDATE pending_lines SET computer = $3 WHERE md5(user_name) = md5($1) AND user_name = $1 "
                       "AND md5(computer) = md5($2) AND computer = $2",
            { textValue(userName), textValue(from), textValue(to) });
    }

private:
    ServerStore& m_store;
    Session& m_session;
};

// Who holds the whole shop's sums (the summary triggers' lock of the key hashtext('')), for a save that waited too
// long: a till frozen in the middle of a save is dropped by the server after seconds, so a holder that stays is
// someone with psql keeping a transaction open, whom the owner or the administrator can then end.
QString ServerStore::shopLockHolders()
{
    try {
        const QStringList names = withSession([](Session& session) {
            const Result rows = session.exec(
                "SELECT kivaro_lock_holders('shop', '') UNION SELECT kivaro_lock_holders('restore', '') ORDER BY 1");
            QStringList found;
            for (int row = 0; row < rows.rows(); ++row)
                found.append(rows.text(row, 0));
            return found;
        });
        if (names.isEmpty())
            return {};
        return QStringLiteral("占着账本的是帐户“%1”的连接；店主或管理员可以请他结束，或在服务器上结束这个连接。")
            .arg(names.join(QStringLiteral("”、“")));
    } catch (const KivaroError&) {
        return {};
    }
}

void ServerStore::write(const std::function<void(LedgerWrite&)>& work, const std::function<bool(LedgerWrite&)>& landed)
{
    const auto once = [&](Session& session) {
        session.begin();
        // A restore holds this lock alone while it replaces the ledger; a write waits for it (at most lock_timeout)
        // and then finds whether the ledger it was made for is still there.
        session.exec("SELECT kivaro_lock('restore', '', false)");
        checkGeneration(session);
        Write write(*this, session);
        work(write);
        session.commit();
    };
    const QString uncertain = QStringLiteral("与数据库服务器“%1”的连接在保存时中断了，无法确定这次保存是否完成。"
                                             "待存的记录仍然保留；请在连上服务器后先查帐核对，再决定是否重新保存。")
                                  .arg(FLocation.displayName());
    for (int attempt = 1;; ++attempt) {
        try {
            withSession(once);
            return;
        } catch (const LockTimeout& timeout) {
            throw KivaroError(timeout.text() + shopLockHolders());
        } catch (const TryAgain&) {
            if (attempt >= 5)
                throw;
            // Two tills that collided should not collide again at once.
            QThread::msleep(20 * attempt + QRandomGenerator::global()->bounded(50));
        } catch (const ConnectionLost& lost) {
            if (!lost.duringCommit)
                throw;
            // The connection broke while the server committed: the work landed whole or not at all, and only landed
            // can say which; it is asked on a new connection before anything runs again.
            if (!landed || attempt >= 3)
                throw KivaroError(uncertain);
            bool done = false;
            try {
                done = withSession([&](Session& session) {
                    Write write(*this, session);
                    return landed(write);
                });
            } catch (const TServerUnreachable&) {
                // Whether it landed is asked again once the server is back (a save waits in the outbox under its
                // token).
                throw;
            } catch (const KivaroError&) {
                throw KivaroError(uncertain);
            }
            if (done)
                return;
        }
    }
}

namespace {

// A table of a range's sums: the user's, or the shop's (where the user is '').
QByteArray sumsTable(const SalesRange& range, const char* table)
{
    return (range.shop ? QByteArray("shop_") : QByteArray()) + table;
}

// $1 is the user whose summaries a range reads: the shop's are those of the user ''.
QList<QByteArray> rangeValues(const SalesRange& range, const QDate& from)
{
    return { textValue(range.shop ? QString() : range.userName), dayValue(from), dayValue(range.last) };
}

// The range's lines in records, with the values above: one user's, or every user's for the shop.
QByteArray rangeLines(const SalesRange& range)
{
    return range.shop ? "$1::text = '' AND day >= $2 AND day <= $3"
                      : "md5(user_name) = md5($1) AND user_name = $1 AND day >= $2 AND day <= $3";
}

// Rows of records or changes with $1 as above: the user's, or for the shop anyone's.
QByteArray ownerOf(const SalesRange& range)
{
    return range.shop ? "$1::text = ''" : "md5(user_name) = md5($1) AND user_name = $1";
}

} // namespace

QList<DayCount> ServerStore::queryDays(const SalesRange& range)
{
    return withSession([&](Session& session) { return daysIn(session, range); });
}

QList<DayCount> ServerStore::daysIn(Session& session, const SalesRange& range)
{
    // The shop's sums are numeric: one beyond 64 bits fails the cast rather than reading wrong.
    const Result rows = session.exec("SELECT day, products, lines, quantity, received::bigint, cost::bigint FROM "
            + sumsTable(range, "day_sums")
            + " WHERE md5(user_name) = md5($1) AND user_name = $1 AND day >= $2 AND day <= $3 ORDER BY day",
        rangeValues(range, range.first));
    QList<DayCount> days;
    days.reserve(rows.rows());
    for (int row = 0; row < rows.rows(); ++row)
        days.append({ rows.day(row, 0), rows.integer(row, 1), rows.integer(row, 2), rows.sums(row, 3) });
    return days;
}

ViewSnapshot ServerStore::queryView(const SalesRange& range)
{
    const QList<QByteArray> values = rangeValues(range, range.first);
    return withSession([&](Session& session) {
        ViewSnapshot view { range, {}, {}, 0 };
        // One snapshot for the three reads; inside a held snapshot they are part of it already.
        if (!FSnapshot)
            session.beginRead();
        checkGeneration(session);
        // The policies would show a cashier his own lines as the shop's.
        if (range.shop && !isAdministrator(session) && session.exec("SELECT kivaro_is_shop_owner()").bytes(0, 0) != "t")
            throw KivaroError(QStringLiteral("只有店主才能查看全店的帐。"));
        view.days = daysIn(session, range);
        qint64 lines = 0;
        for (const DayCount& day : std::as_const(view.days))
            lines += day.lines;
        // One array value rather than a row per line: a million IDs take 8 MB, not a result of a million rows. An
        // array made from a subquery keeps its order, which the index gives without sorting every line.
        {
            const Result ids = session.exec(range.shop
                    ? QByteArray("SELECT kivaro_shop_lines($2::date, $3::date) WHERE $1::text = ''")
                    : "SELECT ARRAY(SELECT id FROM records WHERE " + rangeLines(range) + " ORDER BY day, id)",
                values);
            view.lineIds.reserve(size_t(lines));
            const QByteArrayView list = ids.bytes(0, 0);
            for (const char *at = list.data(), *end = list.data() + list.size(); at < end; ++at) {
                if (*at == '{' || *at == ',' || *at == '}')
                    continue;
                qint64 id = 0;
                at = std::from_chars(at, end, id).ptr - 1;
                view.lineIds.push_back(id);
            }
        }
        const Result mark
            = session.exec("SELECT coalesce(max(id), 0) FROM changes WHERE " + ownerOf(range), { values.first() });
        view.changeMark = mark.integer(0, 0);
        if (!FSnapshot)
            session.commit();
        return view;
    });
}

QList<SalesLine> ServerStore::linesById(const SalesRange& range, const std::vector<qint64>& ids)
{
    if (ids.empty())
        return {};
    return withSession([&](Session& session) {
        const Result rows = session.exec("SELECT id, day, product_name, quantity, received, cost, memo FROM records "
                                         "WHERE id = ANY($2::bigint[]) AND "
                + ownerOf(range),
            { rangeValues(range, range.first).first(), idArray(ids) });
        QList<SalesLine> lines;
        lines.reserve(rows.rows());
        for (int row = 0; row < rows.rows(); ++row)
            lines.append(rows.line(row));
        return lines;
    });
}

QList<ChangeEntry> ServerStore::lineChangesAfter(const SalesRange& range, qint64 after, const std::vector<qint64>& ids)
{
    if (ids.empty())
        return {};
    return withSession([&](Session& session) {
        const QByteArray statement = QByteArray(kChangeColumns) + "WHERE " + ownerOf(range)
            + " AND id > $2 AND line_id = ANY($3::bigint[]) ORDER BY id";
        const Result rows = session.exec(
            statement.constData(), { rangeValues(range, range.first).first(), numberValue(after), idArray(ids) });
        QList<ChangeEntry> entries;
        for (int row = 0; row < rows.rows(); ++row)
            entries.append(changeAt(rows, row));
        return entries;
    });
}

QList<SalesLine> ServerStore::queryLineWindow(const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    QList<QByteArray> values = rangeValues(range, day);
    values << numberValue(count) << numberValue(offset);
    return withSession([&](Session& session) {
        QList<SalesLine> lines;
        const Result rows = session.exec("SELECT id, day, product_name, quantity, received, cost, memo FROM records "
                                         "WHERE "
                + rangeLines(range) + " ORDER BY day, id LIMIT $4 OFFSET $5",
            values);
        lines.reserve(rows.rows());
        for (int row = 0; row < rows.rows(); ++row) {
            lines.append(rows.line(row));
        }
        return lines;
    });
}

QList<DayProductRow> ServerStore::queryDayProductWindow(
    const SalesRange& range, const QDate& day, qint64 offset, int count)
{
    QList<QByteArray> values = rangeValues(range, day);
    values << numberValue(count) << numberValue(offset);
    return withSession([&](Session& session) {
        QList<DayProductRow> groups;
        const Result rows = session.exec("SELECT day, product_name, quantity, received::bigint, cost::bigint FROM "
                + sumsTable(range, "day_product_sums")
                + " WHERE md5(user_name) = md5($1) AND user_name = $1 AND day >= $2 AND day <= $3 "
                  "ORDER BY day, first_id LIMIT $4 OFFSET $5",
            values);
        groups.reserve(rows.rows());
        for (int row = 0; row < rows.rows(); ++row)
            groups.append({ rows.day(row, 0), rows.text(row, 1), rows.sums(row, 2) });
        return groups;
    });
}

QList<RankingRow> ServerStore::queryRanking(const SalesRange& range)
{
    const QList<QByteArray> values = rangeValues(range, range.first);
    return withSession([&](Session& session) {
        QList<RankingRow> ranking;
        // A sum beyond 64 bits fails the cast, as the file store's SUM fails.
        const Result rows
            = session.exec("SELECT product_name, sum(quantity)::bigint, sum(received)::bigint, sum(cost)::bigint FROM "
                    + sumsTable(range, "day_product_sums")
                    + " WHERE md5(user_name) = md5($1) AND user_name = $1 AND day >= $2 AND day <= $3 "
                      "GROUP BY product_name ORDER BY sum(quantity) DESC, min(first_id)",
                values);
        ranking.reserve(rows.rows());
        for (int row = 0; row < rows.rows(); ++row)
            ranking.append({ rows.text(row, 0), rows.sums(row, 1) });
        return ranking;
    });
}

namespace {

// Takes turns with other writers of the same user's product names.
const char* const kLockProductNames = "SELECT kivaro_lock('products', $1, true)";

} // namespace

std::optional<QStringList> ServerStore::productNames(const QString& userName)
{
    const QByteArray user = textValue(userName);
    return withSession([&](Session& session) -> std::optional<QStringList> {
        const Result rows
            = session.exec("SELECT product_name FROM product_names WHERE md5(user_name) = md5($1) AND user_name = $1 "
                           "ORDER BY last_use DESC",
                { user });
        if (rows.rows() == 0)
            return std::nullopt;
        QStringList names;
        names.reserve(rows.rows());
        for (int row = 0; row < rows.rows(); ++row)
            names.append(rows.text(row, 0));
        return names;
    });
}

void ServerStore::putProductNames(Session& session, const QString& userName, const QStringList& names)
{
    const QByteArray user = textValue(userName);
    session.exec("DELETE FROM product_names WHERE md5(user_name) = md5($1) AND user_name = $1", { user });
    // The first name is the most recent; a name that comes twice keeps its first place.
    QSet<QString> seen;
    qint64 use = names.size();
    for (const QString& name : names) {
        if (!seen.contains(name)) {
            seen.insert(name);
            session.exec("INSERT INTO product_names (user_name, product_name, last_use) VALUES ($1, $2, $3)",
                { user, textValue(name), numberValue(use) });
        }
        --use;
    }
}

std::optional<QStringList> ServerStore::rememberProductName(const QString& userName, const QString& name)
{
    const QByteArray user = textValue(userName);
    textValue(name);
    return withSession([&](Session& session) -> std::optional<QStringList> {
        session.begin();
        session.exec(kLockProductNames, { user });
        const Result rows = session.exec(
            "SELECT product_name, last_use FROM product_names WHERE md5(user_name) = md5($1) AND user_name = $1 "
            "ORDER BY last_use DESC",
            { user });
        QStringList names;
        for (int row = 0; row < rows.rows(); ++row)
            names.append(rows.text(row, 0));
        const qsizetype found = indexOfName(names, name);
        if (!putNameFirst(names, name))
            return std::nullopt;
        // Only the moved name changes: it leaves its old place and takes the newest use.
        if (found >= 0)
            session.exec("DELETE FROM product_names WHERE md5(user_name) = md5($1) AND md5(product_name) = md5($2) "
                         "AND user_name = $1 AND product_name = $2",
                { user, textValue(rows.text(int(found), 0)) });
        const qint64 newest = rows.rows() > 0 ? rows.integer(0, 1) + 1 : 1;
        session.exec("INSERT INTO product_names (user_name, product_name, last_use) VALUES ($1, $2, $3) "
                     "ON CONFLICT (md5(user_name), md5(product_name)) DO UPDATE SET last_use = excluded.last_use",
            { user, textValue(names.first()), numberValue(newest) });
        session.commit();
        return names;
    });
}

std::optional<QStringList> ServerStore::rememberProductNames(const QString& userName, const QStringList& used)
{
    const QByteArray user = textValue(userName);
    for (const QString& name : used)
        textValue(name);
    return withSession([&](Session& session) -> std::optional<QStringList> {
        session.begin();
        session.exec(kLockProductNames, { user });
        const Result rows = session.exec("SELECT product_name FROM product_names WHERE md5(user_name) = md5($1) "
                                         "AND user_name = $1 ORDER BY last_use DESC",
            { user });
        QStringList names;
        for (int row = 0; row < rows.rows(); ++row)
            names.append(rows.text(row, 0));
        bool any = false;
        for (const QString& name : used)
            any = putNameFirst(names, name) || any;
        if (!any)
            return std::nullopt;
        putProductNames(session, userName, names);
        session.commit();
        return names;
    });
}

void ServerStore::writeProductNames(const QString& userName, const QStringList& names)
{
    const QByteArray user = textValue(userName);
    for (const QString& name : names)
        textValue(name);
    withSession([&](Session& session) {
        session.begin();
        session.exec(kLockProductNames, { user });
        putProductNames(session, userName, names);
        session.commit();
    });
}

QList<StoredAccount> ServerStore::accounts()
{
    return withSession([](Session& session) {
        QList<StoredAccount> accounts;
        // The server keeps the passwords: none travels with an account.
        const Result rows = session.exec("SELECT user_name, login_order FROM users ORDER BY id");
        for (int row = 0; row < rows.rows(); ++row)
            accounts.append({ rows.text(row, 0), QStringLiteral(""), rows.integer(row, 1) });
        return accounts;
    });
}

QList<UserTotals> ServerStore::totalsByUser()
{
    return withSession([](Session& session) {
        QList<UserTotals> totals;
        // Day by day, so that a user's amounts add up beyond 64 bits.
        const Result rows = session.exec("SELECT user_name, lines, quantity, received, cost FROM day_sums "
                                         "ORDER BY md5(user_name), user_name");
        for (int row = 0; row < rows.rows(); ++row) {
            const QString user = rows.text(row, 0);
            if (totals.isEmpty() || totals.last().userName != user)
                totals.append({ user, {} });
            totals.last().totals.add(rows.sums(row, 2), rows.integer(row, 1));
        }
        return totals;
    });
}

void ServerStore::readLines(const QString& userName, const std::function<void(const QList<SalesLine>&)>& take)
{
    const QByteArray user = textValue(userName);
    withSession([&](Session& session) {
        session.begin();
        session.exec("DECLARE lines NO SCROLL CURSOR FOR SELECT id, day, product_name, quantity, received, cost, memo "
                     "FROM records WHERE md5(user_name) = md5($1) AND user_name = $1 ORDER BY id",
            { user });
        for (;;) {
            const Result rows = session.exec("FETCH 10000 FROM lines");
            if (rows.rows() == 0)
                break;
            QList<SalesLine> batch;
            batch.reserve(rows.rows());
            for (int row = 0; row < rows.rows(); ++row) {
                batch.append(rows.line(row));
                // A day the program cannot read (written with psql before the ledger refused it) is named, so that
                // the administrator can mend that line.
                if (!isLedgerDay(batch.last().day))
                    throw KivaroError(
                        QStringLiteral("数据库服务器“%1”上帐户“%2”的记录（编号 %3）日期是“%4”，"
                                       "超出了本程序能读写的范围（公元 1 年到 9999 年）；"
                                       "请管理员改正或删去这条记录后再试。")
                            .arg(FLocation.displayName(), userName, rows.text(row, 0), rows.text(row, 1)));
            }
            take(batch);
        }
        session.exec("CLOSE lines");
        session.commit();
    });
}

// Holds one transaction open from the first account to commit().
class ServerStore::Import : public LedgerImport
{
public:
    Import(ServerStore& store, ImportMode mode, const std::function<void()>& whileLocked)
        : m_store(store)
        , m_session(store, store.connect())
        , m_replacing(mode == ImportMode::Replacing)
    {
        if (!store.FSchemaReady)
            store.prepareSchema(m_session);
        m_session.begin();
        m_access = store.access(m_session);
        // The lines come with their own record of changes, or none.
        m_session.exec("SET LOCAL kivaro.importing = 'on'");
        // Nobody else writes while the copy fills the ledger: every write holds this lock shared, a replacement
        // waits for the writes under way and holds it alone until it commits.
        m_session.exec(
            m_replacing ? "SELECT kivaro_lock('restore', '', true)" : "SELECT kivaro_lock('restore', '', false)");
        m_session.exec("LOCK TABLE users, records, product_names IN SHARE ROW EXCLUSIVE MODE");
        if (whileLocked)
            whileLocked();
        if (m_replacing) {
            // Emptied together, the summaries stay right; the guard on records lets this one truncate through. The
            // record of changes belongs to the ledger replaced: an undo must not bring its lines back. The kept
            // lines of the tills are not part of the ledger and stay, to be saved into the one restored. The
            // counters of line and change IDs go on: an ID is never given out twice.
            m_session.exec("SET LOCAL kivaro.replacing = 'on'");
            m_session.exec("TRUNCATE records, day_sums, day_product_sums, shop_day_sums, shop_day_product_sums, users, "
                           "saves, changes");
            m_session.exec("UPDATE ledger_generation SET generation = generation + 1");
        }
        if (m_session.exec("SELECT 1 FROM users UNION ALL SELECT 1 FROM records LIMIT 1").rows() > 0)
            throw KivaroError(QStringLiteral("数据库服务器“%1”上的账本中已有帐户或记录，不能复制到这里。")
                                  .arg(store.FLocation.displayName()));
    }
    // The server cannot use a file's password hash: an account that is not a role yet becomes one without a
    // password, waiting for the administrator to set one.
    void addAccount(const StoredAccount& account) override
    {
        const bool needsPassword = m_store.admitRole(m_session, m_access, account.name, QString());
        m_session.exec("INSERT INTO users (user_name, login_order, needs_password) VALUES ($1, $2, $3)",
            { textValue(account.name), numberValue(account.loginOrder), needsPassword ? "t" : "f" });
    }
    void addLines(const QString& userName, const QList<SalesLine>& lines) override
    {
        // No account can have the empty name.
        if (userName.isEmpty())
            throw KivaroError(QStringLiteral("有 %1 条记录没有用户名，服务器上的账本不能保存它们；"
                                             "请先在原来的账本里删去或改正这些记录。")
                                  .arg(lines.size()));
        // A copy keeps every line's id, so that a restored ledger is the same down to its order of entry.
        m_store.insertLines(m_session, userName, lines, true);
    }
    void setProductNames(const QString& userName, const QStringList& names) override
    {
        m_store.putProductNames(m_session, userName, names);
    }
    void commit() override
    {
        // New lines continue after the highest ID copied or ever given out, whichever is higher.
        m_session.exec("SELECT setval(pg_get_serial_sequence('records', 'id'), GREATEST((SELECT max(id) FROM records), "
                       "pg_sequence_last_value(pg_get_serial_sequence('records', 'id')::regclass), 1))");
        // A restored ledger's accounts are the backup's: a member of the group that is none of them no longer writes.
        if (m_replacing) {
            const Result gone
                = m_session.exec("SELECT r.rolname FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member "
                                 "JOIN pg_roles g ON g.oid = m.roleid WHERE g.rolname = $1 AND NOT EXISTS "
                                 "(SELECT 1 FROM users u WHERE u.user_name = r.rolname::text)",
                    { textValue(m_access.group) });
            for (int row = 0; row < gone.rows(); ++row)
                m_session.exec(
                    QStringLiteral("REVOKE %1 FROM %2").arg(quotedName(m_access.group), quotedName(gone.text(row, 0))));
        }
        const Result generation = m_session.exec("SELECT generation FROM ledger_generation");
        m_session.commit();
        // The computer that restored goes on in the new ledger.
        if (m_replacing)
            m_store.FGeneration = generation.integer(0, 0);
    }

private:
    ServerStore& m_store;
    Session m_session;
    bool m_replacing;
    ServerSchema::Access m_access;
};

std::unique_ptr<LedgerImport> ServerStore::startImport(ImportMode mode, const std::function<void()>& whileLocked)
{
    if (FSnapshot)
        throw KivaroError(QStringLiteral("账本正在被读取，不能同时写入"));
    // Filling or replacing a ledger is the administrator's work.
    if (!FAdministrator) {
        FAdministrator = true;
        disconnect();
    }
    return std::make_unique<Import>(*this, mode, whileLocked);
}

QString ServerStore::ledgerIdentity()
{
    return withSession(
        [&](Session& session) { return session.exec("SELECT id::text FROM kivaro_ledger_id").text(0, 0); });
}

qint64 ServerStore::ledgerGeneration()
{
    return withSession(
        [&](Session& session) { return session.exec("SELECT generation FROM ledger_generation").integer(0, 0); });
}

void ServerStore::checkGeneration(Session& session)
{
    // A ledger whose generation could not be kept when this store met it.
    if (FGeneration == 0)
        return;
    const qint64 generation = session.exec("SELECT generation FROM ledger_generation").integer(0, 0);
    if (FGeneration < 0)
        FGeneration = generation;
    else if (generation != FGeneration)
        throw TLedgerReplaced();
}

bool ServerStore::claimDailyBackup(
    const QDate& day, const QString& computer, const QString& label, const QString& folder)
{
    // Nobody is asked for the administrator's password at the start of a day; a computer without it makes none.
    FMayAsk = false;
    const auto askAgain = qScopeGuard([this] { FMayAsk = true; });
    try {
        if (!withSession([](Session& session) { return isAdministrator(session); }))
            return false;
    } catch (const PasswordWanted&) {
        return false;
    }
    return withSession([&](Session& session) {
        if (session.exec("SELECT to_regclass('daily_backups') IS NULL").bytes(0, 0) == "t")
            return false;
        // A claim left unfinished for an hour belonged to a computer that was switched off or failed silently. A
        // role that only reviews makes no backups.
        try {
            return session
                       .exec("INSERT INTO daily_backups (day, computer, label, folder) VALUES ($1, $2, $3, $4) "
                             "ON CONFLICT (day) DO UPDATE SET computer = excluded.computer, label = excluded.label, "
                             "folder = excluded.folder, claimed_at = now() "
                             "WHERE daily_backups.made_at IS NULL AND daily_backups.claimed_at < now() - interval '1 "
                             "hour' "
                             "RETURNING 1",
                           { dayValue(day), textValue(computer), textValue(label), textValue(folder) })
                       .rows()
                == 1;
        } catch (const NotPermitted&) {
            return false;
        }
    });
}

void ServerStore::settleDailyBackup(const QDate& day, const QString& computer, bool made)
{
    withSession([&](Session& session) {
        session.exec(made ? "UPDATE daily_backups SET made_at = now() WHERE day = $1 AND computer = $2"
                          : "DELETE FROM daily_backups WHERE day = $1 AND computer = $2 AND made_at IS NULL",
            { dayValue(day), textValue(computer) });
    });
}

std::optional<DailyBackupRecord> ServerStore::lastDailyBackup()
{
    return withSession([](Session& session) -> std::optional<DailyBackupRecord> {
        if (session.exec("SELECT to_regclass('daily_backups') IS NULL").bytes(0, 0) == "t")
            return std::nullopt;
        // By when it was made, on the server's clock: a computer whose own clock is wrong does not stay the last.
        try {
            const Result rows = session.exec(
                "SELECT day, label, folder FROM daily_backups WHERE made_at IS NOT NULL ORDER BY made_at DESC LIMIT 1");
            if (rows.rows() == 0)
                return std::nullopt;
            return DailyBackupRecord { rows.day(0, 0), rows.text(0, 1), rows.text(0, 2) };
        } catch (const NotPermitted&) {
            return std::nullopt;
        }
    });
}

void ServerStore::holdSnapshot(bool hold)
{
    if (hold == FSnapshot)
        return;
    if (hold) {
        withSession([](Session& session) { session.exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); });
        FSnapshot = true;
        return;
    }
    FSnapshot = false;
    if (FConnection)
        PQclear(PQexec(FConnection, "COMMIT"));
}
