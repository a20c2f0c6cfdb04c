// The shop's products' catalogue on a server: one for every account, changed by its owners through the program's
// functions.

#include "db/server/PgSession.h"

#include <QHash>

using namespace pg;

namespace {

template <typename Rows> std::optional<qint64> amountAt(const Rows& rows, int row, int column)
{
    return rows.isNull(row, column) ? std::nullopt : std::optional<qint64>(rows.integer(row, column));
}

// Products put a batch at a time: the program's function for each row of the arrays (an empty text is NULL, "none").
// The sum of what the calls changed tells whether every one was let through.
const char* const kPutBatch
    = "SELECT COALESCE(sum(kivaro_catalogue_put(NULLIF(w, ''), n, NULLIF(c, ''), NULLIF(p, '')::bigint, "
      "NULLIF(k, '')::bigint)), 0) FROM unnest($1::text[], $2::text[], $3::text[], $4::text[], $5::text[]) "
      "AS t(w, n, c, p, k)";
constexpr int kBatch = 1000;

} // namespace

QList<CatalogueItem> ServerStore::catalogue(const QString& /*userName*/)
{
    return withSession([](Session& session) {
        QList<CatalogueItem> items;
        const Result rows = session.exec("SELECT product_name, code, price, cost FROM catalogue ORDER BY id");
        items.reserve(rows.rows());
        for (int row = 0; row < rows.rows(); ++row)
            items.append({ rows.text(row, 0), rows.text(row, 1), amountAt(rows, row, 2), amountAt(rows, row, 3) });
        return items;
    });
}

// The steps of one write, which holds the catalogue's lock: the names and codes are read once at its start and kept up
// to date here, so that each change is one statement.
class ServerStore::CatalogueWrite : public CatalogueSteps
{
public:
    explicit CatalogueWrite(Session& session)
        : m_session(session)
    {
        const Result rows = session.exec("SELECT product_name, code, price, cost FROM catalogue");
        for (int row = 0; row < rows.rows(); ++row) {
            const CatalogueItem item { rows.text(row, 0), rows.text(row, 1), amountAt(rows, row, 2),
                amountAt(rows, row, 3) };
            if (!item.code.isEmpty())
                m_codes.insert(item.code, item.name);
            m_items.insert(item.name, item);
        }
    }
    std::optional<CatalogueItem> find(const QString& name) override
    {
        const auto found = m_items.constFind(name);
        return found == m_items.cend() ? std::nullopt : std::optional<CatalogueItem>(*found);
    }
    std::optional<QString> nameOfCode(const QString& code) override
    {
        const auto found = m_codes.constFind(code);
        return found == m_codes.cend() ? std::nullopt : std::optional<QString>(*found);
    }
    void insert(const CatalogueItem& item) override
    {
        put(QString(), item);
        kept(item);
    }
    void update(const QString& was, const CatalogueItem& item) override
    {
        put(was, item);
        forget(was);
        kept(item);
    }
    // The product was there when the write began: a function that changed nothing refused this account.
    void remove(const QString& name) override
    {
        flush();
        if (m_session.exec("SELECT kivaro_catalogue_remove($1)", { textValue(name) }).integer(0, 0) == 0)
            throw catalogueNotAllowed();
        forget(name);
    }
    // Sends the products put and not sent yet.
    void flush()
    {
        if (m_batched == 0)
            return;
        const qint64 changed
            = m_session
                  .exec(kPutBatch,
                      { m_was.value(), m_names.value(), m_codesSent.value(), m_prices.value(), m_costs.value() })
                  .integer(0, 0);
        if (changed != m_batched)
            throw catalogueNotAllowed();
        m_was = m_names = m_codesSent = m_prices = m_costs = ArrayValue();
        m_batched = 0;
    }

private:
    void put(const QString& was, const CatalogueItem& item)
    {
        const auto amount
            = [](const std::optional<qint64>& cents) { return cents ? numberValue(*cents) : QByteArray(); };
        m_was.addText(textValue(was));
        m_names.addText(textValue(item.name));
        m_codesSent.addText(textValue(item.code));
        m_prices.addText(amount(item.price));
        m_costs.addText(amount(item.cost));
        if (++m_batched == kBatch)
            flush();
    }
    void kept(const CatalogueItem& item)
    {
        m_items.insert(item.name, item);
        if (!item.code.isEmpty())
            m_codes.insert(item.code, item.name);
    }
    void forget(const QString& name)
    {
        const CatalogueItem item = m_items.take(name);
        if (!item.code.isEmpty())
            m_codes.remove(item.code);
    }

    Session& m_session;
    QHash<QString, CatalogueItem> m_items;
    QHash<QString, QString> m_codes;
    ArrayValue m_was, m_names, m_codesSent, m_prices, m_costs;
    qint64 m_batched = 0;
};

void ServerStore::putCatalogue(Session& session, const QList<CatalogueChange>& changes)
{
    // Writers of the catalogue take turns, and wait for a restore under way like every write.
    session.exec("SELECT kivaro_lock('restore', '', false)");
    session.exec("SELECT kivaro_lock('catalogue', '', true)");
    CatalogueWrite steps(session);
    try {
        applyCatalogueChanges(steps, changes);
        steps.flush();
    } catch (const UniqueViolation&) {
        // Another computer added the same name or code between this write's look and its change.
        throw KivaroError(QStringLiteral("商品资料刚被另一台电脑改过，品名或条码重复了；请再试一次。"));
    }
}

void ServerStore::changeCatalogue(const QString& /*userName*/, const QList<CatalogueChange>& changes)
{
    withSession([&](Session& session) {
        session.begin();
        putCatalogue(session, changes);
        session.commit();
    });
}

// The shop's owners, and the administrator, who owns the ledger's tables.
bool ServerStore::mayChangeCatalogue()
{
    return withSession([](Session& session) {
        return session
                   .exec("SELECT (SELECT kivaro_is_shop_owner()) OR pg_has_role(session_user, (SELECT relowner "
                         "FROM pg_class WHERE oid = to_regclass('catalogue')), 'MEMBER')")
                   .bytes(0, 0)
            == "t";
    });
}
