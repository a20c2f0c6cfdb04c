// The shop's products' catalogue on a server: one for every account, changed by its owners through the program's
// functions.

#include "db/server/PgSession.h"

using namespace pg;

namespace {

QByteArray amountValue(const std::optional<qint64>& amount)
{
    return amount ? numberValue(*amount) : QByteArray();
}

template <typename Rows> std::optional<qint64> amountAt(const Rows& rows, int row, int column)
{
    return rows.isNull(row, column) ? std::nullopt : std::optional<qint64>(rows.integer(row, column));
}

// The program's functions take NULL for "none": sent as an empty text, read back with NULLIF.
const char* const kPut = "SELECT kivaro_catalogue_put(NULLIF($1, '')::text, $2, NULLIF($3, ''), "
                         "NULLIF($4, '')::bigint, NULLIF($5, '')::bigint)";

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

class ServerStore::CatalogueWrite : public CatalogueSteps
{
public:
    explicit CatalogueWrite(Session& session)
        : m_session(session)
    {
    }
    std::optional<CatalogueItem> find(const QString& name) override
    {
        const Result rows = m_session.exec("SELECT code, price, cost FROM catalogue WHERE md5(product_name) = md5($1) "
                                           "AND product_name = $1",
            { textValue(name) });
        if (rows.rows() == 0)
            return std::nullopt;
        return CatalogueItem { name, rows.text(0, 0), amountAt(rows, 0, 1), amountAt(rows, 0, 2) };
    }
    std::optional<QString> nameOfCode(const QString& code) override
    {
        const Result rows = m_session.exec("SELECT product_name FROM catalogue WHERE code = $1", { textValue(code) });
        return rows.rows() > 0 ? std::optional<QString>(rows.text(0, 0)) : std::nullopt;
    }
    void insert(const CatalogueItem& item) override { put(QString(), item); }
    void update(const QString& was, const CatalogueItem& item) override { put(was, item); }
    // The product was there a moment ago: a function that changed nothing refused this account.
    void remove(const QString& name) override
    {
        if (m_session.exec("SELECT kivaro_catalogue_remove($1)", { textValue(name) }).integer(0, 0) == 0)
            throw catalogueNotAllowed();
    }

private:
    void put(const QString& was, const CatalogueItem& item)
    {
        if (m_session
                .exec(kPut,
                    { textValue(was), textValue(item.name), textValue(item.code), amountValue(item.price),
                        amountValue(item.cost) })
                .integer(0, 0)
            == 0)
            throw catalogueNotAllowed();
    }

    Session& m_session;
};

void ServerStore::putCatalogue(Session& session, const QList<CatalogueChange>& changes)
{
    CatalogueWrite steps(session);
    try {
        applyCatalogueChanges(steps, changes);
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
