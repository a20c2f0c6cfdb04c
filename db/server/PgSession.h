#pragma once

// What the files of the server store share, and nothing outside db/server/ includes: the session on a libpq
// connection (its results, the wait with 取消, errors by SQLSTATE), how values travel as parameters, and the two ways
// an operation gets its session.

#include "base/Error.h"
#include "base/Platform.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/Outbox.h"
#include "db/server/ServerStore.h"

#include <QByteArray>
#include <QDate>
#include <QElapsedTimer>
#include <QList>
#include <QScopeGuard>
#include <QString>
#include <charconv>
#include <libpq-fe.h>
#include <memory>
#include <thread>
#include <vector>

namespace pg {

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
constexpr qint64 kGiveUpAfterMs = 120'000;
constexpr qint64 kCancelAnswerMs = 3'000;
// A server that has not answered a connection in this many seconds is away, and the till works offline; libpq's
// shortest. The connection string's own connect_timeout wins.
constexpr int kConnectTimeoutSeconds = 2;

inline QString wrongPasswordText(const QString& server)
{
    return QStringLiteral(
        "数据库服务器“%1”不接受给出的密码（连接串、PGPASSWORD 或 ~/.pgpass 中的）；请检查管理员的密码。")
        .arg(server);
}

// The server did not answer a connection: the user reads it in words, the log keeps libpq's own text.
inline TServerUnreachable serverAway(const QString& server, const QString& engine)
{
    qWarning("kivaro: server %s unreachable: %s", qUtf8Printable(server), qUtf8Printable(engine.simplified()));
    return TServerUnreachable(
        QStringLiteral("数据库服务器“%1”连不上（没有应答，或者拒绝连接）；请检查服务器和网络。").arg(server));
}

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
    explicit LockTimeout(const QString& text)
        : KivaroError(text, Kind::Busy)
    {
    }
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

inline QByteArray textValue(const QString& text)
{
    // PostgreSQL's texts cannot hold U+0000.
    if (text.contains(QChar(0)))
        throw KivaroError(QStringLiteral("文字中含有空字符（U+0000），服务器上的账本不能保存它。"));
    return withoutLoneSurrogates(text).toUtf8();
}

inline QByteArray dayValue(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
}

inline QByteArray numberValue(qint64 value)
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
inline QList<QByteArray> lineColumns(
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

inline QString quotedName(const QString& identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

template <typename Ids> QByteArray idArray(const Ids& ids)
{
    ArrayValue array;
    for (const qint64 id : ids)
        array.add(numberValue(id));
    return array.value();
}

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

// Connects with the text's options, as user and with password where they are given (the text's own otherwise).
OwnedConnection attemptConnection(
    const QString& connection, const QString& user, const QString& password, Attempt& attempt);

} // namespace pg

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
            if (cancelledAt < 0 && ms >= pg::kShowWaitAfterMs && TDbMan::serverWait) {
                shown = true;
                if (!TDbMan::serverWait(QStringLiteral("正在等待数据库服务器“%1”回应……").arg(server)))
                    cancelledAt = ms;
            }
            if (cancelledAt < 0 && ms >= pg::kGiveUpAfterMs)
                cancelledAt = ms;
            if (cancelledAt == ms)
                requestCancel();
            if (cancelledAt >= 0 && ms - cancelledAt >= pg::kCancelAnswerMs && PQisBusy(m_connection))
                throw pg::ConnectionLost(
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
            throw pg::ConnectionLost(
                QStringLiteral("与数据库服务器“%1”的连接中断了：%2").arg(server, engine), m_committing);
        }
        const QByteArray state = PQresultErrorField(result.handle(), PG_DIAG_SQLSTATE);
        const QString text = QStringLiteral("数据库服务器“%1”出错：%2").arg(server, engine);
        if (state == "23505")
            throw pg::UniqueViolation(text);
        if (state == "40001" || state == "40P01")
            throw pg::TryAgain(text);
        if (state == "55P03")
            throw pg::LockTimeout(
                QStringLiteral("账本正被另一台电脑使用，等了太久（数据库服务器“%1”）；请稍后再试。").arg(server));
        if (state == "57014")
            throw KivaroError(QStringLiteral("等待数据库服务器“%1”的工作已经取消，没有做任何改动。").arg(server));
        if (state == "23514")
            throw KivaroError(
                QStringLiteral("文字太长：服务器上的账本，产品名称和备注每项最多 1 MB（数据库服务器“%1”）。")
                    .arg(server));
        if (state == "22003")
            throw KivaroError(QStringLiteral("合计超出了能精确记录的范围（数据库服务器“%1”）：%2").arg(server, engine),
                KivaroError::Kind::Overflow);
        if (state == "42501" || state == "25006")
            throw pg::NotPermitted(
                QStringLiteral("数据库服务器“%1”不允许这个数据库用户修改账本：%2").arg(server, engine));
        throw KivaroError(text);
    }

    ServerStore& m_store;
    pg_conn* m_connection;
    bool m_inTransaction = false;
    bool m_committing = false;
};

template <typename Work> auto ServerStore::withSession(Work&& work)
{
    for (int attempt = 0;; ++attempt) {
        const bool wasOpen = FConnection != nullptr;
        Session session(*this, connect());
        try {
            if (!FSchemaReady)
                prepareSchema(session);
            return work(session);
        } catch (const pg::ConnectionLost& lost) {
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
