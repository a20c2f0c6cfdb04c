// The ledger's lines on the server: writes, the review's reads and the product names.

#include "db/server/PgSession.h"

#include "db/ProductsFile.h"
#include "db/server/ServerConnection.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QThread>
#include <algorithm>

using namespace pg;

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

// The steps of one write transaction on the server.
class ServerStore::Write : public LineEdits
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
    void removeLine(qint64 id) override { m_session.exec("SELECT kivaro_delete_line($1)", { numberValue(id) }); }
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
            .exec("SELECT kivaro_forget_kept($1::bigint[], $2, $3)",
                { idArray(ids), textValue(userName), textValue(owner) })
            .integer(0, 0);
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

// Who holds an account's sums (the summary triggers' lock of its user) or the ledger (a restore), for a save that
// waited too long: a till frozen in the middle of a save is dropped by the server after seconds, so a holder that
// stays is someone with psql keeping a transaction open, whom the owner or the administrator can then end.
QString ServerStore::lockHolders()
{
    try {
        const QStringList names = withSession([](Session& session) {
            // An account waits only for its own user's turn; the administrator, who writes for anyone, for any.
            const Result rows = session.exec(
                "SELECT h FROM users, kivaro_lock_holders('user', users.user_name) AS h WHERE users.user_name = "
                "session_user OR NOT EXISTS (SELECT 1 FROM users AS u WHERE u.user_name = session_user) "
                "UNION SELECT kivaro_lock_holders('restore', '') ORDER BY 1");
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
            throw KivaroError(timeout.text() + lockHolders());
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

// $1 is the user whose lines a range reads, '' for the whole shop.
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
    const Result rows = range.shop
        ? session.exec("SELECT day, products, lines::bigint, quantity::bigint, received::bigint, cost::bigint FROM "
                       "kivaro_shop_days($2, $3) WHERE $1::text = '' ORDER BY day",
            rangeValues(range, range.first))
        : session.exec("SELECT day, products, lines, quantity, received, cost FROM day_sums WHERE md5(user_name) = "
                       "md5($1) AND user_name = $1 AND day >= $2 AND day <= $3 ORDER BY day",
            rangeValues(range, range.first));
    QList<DayCount> days;
    days.reserve(rows.rows());
    for (int row = 0; row < rows.rows(); ++row)
        days.append({ rows.day(row, 0), rows.integer(row, 1), rows.integer(row, 2), rows.sums(row, 3) });
    return days;
}

void ServerStore::checkShopReader(Session& session, const SalesRange& range)
{
    // The policies would show a cashier his own lines as the shop's.
    if (range.shop && !isAdministrator(session) && session.exec("SELECT kivaro_is_shop_owner()").bytes(0, 0) != "t")
        throw KivaroError(QStringLiteral("只有店主才能查看全店的帐。"));
}

ReviewReads::FoundLines ServerStore::findLines(const SalesRange& range)
{
    QList<QByteArray> values = rangeValues(range, range.first);
    values.append(textValue(foldedForFind(range.find)));
    return withSession([&](Session& session) {
        FoundLines found;
        if (!FSnapshot)
            session.beginRead();
        checkGeneration(session);
        checkShopReader(session, range);
        // The Latin capitals folded as foldedForFind folds them, whatever the server's locale. A text without Latin
        // letters is found alike in a folded text and in the text itself: no letter it holds is changed by the fold.
        const QString find = foldedForFind(range.find);
        const bool latin = std::any_of(find.cbegin(), find.cend(), [](QChar c) { return c >= u'a' && c <= u'z'; });
        const QByteArray folded
            = latin ? "translate(%1, 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz')" : "%1";
        const Result rows = session.exec("SELECT id, day, product_name, quantity, received, cost FROM records WHERE "
                + rangeLines(range) + " AND (strpos(" + QByteArray(folded).replace("%1", "product_name")
                + ", $4) > 0 OR strpos(" + QByteArray(folded).replace("%1", "memo") + ", $4) > 0) ORDER BY day, id",
            values);
        found.lines.reserve(rows.rows());
        for (int row = 0; row < rows.rows(); ++row)
            found.lines.append({ rows.integer(row, 0), rows.day(row, 1), rows.text(row, 2),
                qint32(rows.integer(row, 3)), rows.integer(row, 4), rows.integer(row, 5), QString() });
        found.changeMark
            = session.exec("SELECT coalesce(max(id), 0) FROM changes WHERE " + ownerOf(range), { values.first() })
                  .integer(0, 0);
        if (!FSnapshot)
            session.commit();
        return found;
    });
}

ViewSnapshot ServerStore::queryView(const SalesRange& range)
{
    const QList<QByteArray> values = rangeValues(range, range.first);
    return withSession([&](Session& session) {
        ViewSnapshot view;
        view.range = range;
        // One snapshot for the three reads; inside a held snapshot they are part of it already.
        if (!FSnapshot)
            session.beginRead();
        checkGeneration(session);
        checkShopReader(session, range);
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
        const Result rows = range.shop
            ? session.exec("SELECT day, product_name, quantity::bigint, received::bigint, cost::bigint FROM "
                           "kivaro_shop_day_products($2, $3, $5, $4) WHERE $1::text = '' ORDER BY day, first_id",
                values)
            : session.exec("SELECT day, product_name, quantity, received, cost FROM day_product_sums WHERE "
                           "md5(user_name) = md5($1) AND user_name = $1 AND day >= $2 AND day <= $3 "
                           "ORDER BY day, first_id LIMIT $4 OFFSET $5",
                values);
        groups.reserve(rows.rows());
        for (int row = 0; row < rows.rows(); ++row)
            groups.append({ rows.day(row, 0), rows.text(row, 1), rows.sums(row, 2) });
        return groups;
    });
}

std::pair<QString, QList<QByteArray>> ServerStore::rankingQuery(const SalesRange& range)
{
    QList<QByteArray> values = rangeValues(range, range.first).mid(0, 1);
    // The range's parts, each from its own sums; a part the range does not have is NULL, which no row matches.
    const RangeParts parts = rangeParts(range.first, range.last);
    QStringList bounds;
    for (const auto& part : { parts.daysBefore, parts.monthsBefore, parts.years, parts.monthsAfter, parts.daysAfter }) {
        for (const QDate& bound : { part.first, part.second }) {
            values.append(bound.isValid() ? dayValue(bound) : QByteArray());
            bounds.append(QStringLiteral("NULLIF($%1, '')::date").arg(values.size()));
        }
    }
    // A sum beyond 64 bits fails the cast, as the file store's SUM fails.
    const QString statement = range.shop
        ? QStringLiteral("SELECT product_name, quantity::bigint, received::bigint, cost::bigint FROM "
                         "kivaro_shop_ranking(%1) WHERE $1::text = '' ORDER BY quantity DESC, first_id")
              .arg(bounds.join(QStringLiteral(", ")))
        : QStringLiteral("SELECT product_name, sum(quantity)::bigint, sum(received)::bigint, sum(cost)::bigint FROM "
                         "(%1) AS p GROUP BY product_name ORDER BY sum(quantity) DESC, min(first_id)")
              .arg(ServerSchema::rankingSource(QStringLiteral("md5(user_name) = md5($1) AND user_name = $1"), bounds));
    return { statement, values };
}

QList<RankingRow> ServerStore::queryRanking(const SalesRange& range)
{
    const auto [statement, values] = rankingQuery(range);
    return withSession([&](Session& session) {
        QList<RankingRow> ranking;
        const Result rows = session.exec(statement, values);
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
    session.exec("SELECT kivaro_forget_product_names($1, NULL)", { user });
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
            session.exec("SELECT kivaro_forget_product_names($1, $2)", { user, textValue(rows.text(int(found), 0)) });
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

void ServerStore::writeEdits(const std::function<void(LineEdits&)>& work)
{
    // The store's transactions all run on its Write, which has the edits' steps.
    write([&](LedgerWrite& steps) { work(static_cast<Write&>(steps)); }, {});
}
