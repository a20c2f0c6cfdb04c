// The products' catalogue of a file ledger: a catalogue per user, in the table Catalogue.

#include "db/SqliteSession.h"

#include "base/TextCodec.h"
#include "db/Schema.h"

using namespace sqlite;

namespace {

QVariant storedCode(const QString& code)
{
    return code.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(code);
}

QVariant storedAmount(const std::optional<qint64>& amount)
{
    return amount ? QVariant(*amount) : QVariant(QMetaType::fromType<qint64>());
}

std::optional<qint64> amountAt(const QSqlQuery& row, int column)
{
    return row.isNull(column) ? std::nullopt : std::optional<qint64>(row.value(column).toLongLong());
}

} // namespace

void SqliteStore::requireCatalogue(Session& session)
{
    if (!FCatalogue || !Schema::keepsCatalogue(session.userVersion()))
        throw KivaroError(QStringLiteral("数据库文件“%1”是旧版本的，而且不能写入，没有商品资料；"
                                         "请用能写入它的帐户打开一次，本程序会为它加上商品资料。")
                              .arg(QDir::toNativeSeparators(FLocation.databasePath())));
}

QList<CatalogueItem> SqliteStore::catalogue(const QString& userName)
{
    Session session(*this);
    QList<CatalogueItem> items;
    if (!FCatalogue)
        return items;
    QSqlQuery rows = session.run(
        QStringLiteral("SELECT RecProductName, Code, Price, Cost FROM Catalogue WHERE UserName=? ORDER BY ID"),
        { EncodeText(userName) });
    while (rows.next())
        items.append(
            { DecodeText(rows.value(0).toString()), rows.value(1).toString(), amountAt(rows, 2), amountAt(rows, 3) });
    return items;
}

// The steps on one user's rows, each statement prepared once for the whole write.
class SqliteStore::CatalogueWrite : public CatalogueSteps
{
public:
    CatalogueWrite(Session& session, const QString& userName)
        : m_session(session)
        , m_user(EncodeText(userName))
        , m_find(session.prepare(QStringLiteral(
              "SELECT RecProductName, Code, Price, Cost FROM Catalogue WHERE UserName=? AND RecProductName=?")))
        , m_code(session.prepare(QStringLiteral("SELECT RecProductName FROM Catalogue WHERE UserName=? AND Code=?")))
        , m_insert(session.prepare(QStringLiteral(
              "INSERT INTO Catalogue (UserName, RecProductName, Code, Price, Cost) VALUES (?, ?, ?, ?, ?)")))
        , m_update(session.prepare(QStringLiteral("UPDATE Catalogue SET RecProductName=?, Code=?, Price=?, Cost=? "
                                                  "WHERE UserName=? AND RecProductName=?")))
        , m_remove(session.prepare(QStringLiteral("DELETE FROM Catalogue WHERE UserName=? AND RecProductName=?")))
    {
    }
    std::optional<CatalogueItem> find(const QString& name) override
    {
        run(m_find, { m_user, EncodeText(name) });
        if (!m_find.next())
            return std::nullopt;
        return CatalogueItem { name, m_find.value(1).toString(), amountAt(m_find, 2), amountAt(m_find, 3) };
    }
    std::optional<QString> nameOfCode(const QString& code) override
    {
        run(m_code, { m_user, code });
        return m_code.next() ? std::optional<QString>(DecodeText(m_code.value(0).toString())) : std::nullopt;
    }
    void insert(const CatalogueItem& item) override
    {
        run(m_insert,
            { m_user, EncodeText(item.name), storedCode(item.code), storedAmount(item.price),
                storedAmount(item.cost) });
    }
    void update(const QString& was, const CatalogueItem& item) override
    {
        run(m_update,
            { EncodeText(item.name), storedCode(item.code), storedAmount(item.price), storedAmount(item.cost), m_user,
                EncodeText(was) });
    }
    void remove(const QString& name) override { run(m_remove, { m_user, EncodeText(name) }); }

private:
    void run(QSqlQuery& query, const QVariantList& values)
    {
        query.finish();
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values[i]);
        m_session.exec(query);
    }

    Session& m_session;
    QString m_user;
    QSqlQuery m_find, m_code, m_insert, m_update, m_remove;
};

void SqliteStore::changeCatalogue(const QString& userName, const QList<CatalogueChange>& changes)
{
    Session session(*this);
    requireCatalogue(session);
    session.begin();
    CatalogueWrite steps(session, userName);
    applyCatalogueChanges(steps, changes);
    session.commit();
}

void SqliteStore::putCatalogue(Session& session, const QString& userName, const QList<CatalogueItem>& items)
{
    requireCatalogue(session);
    CatalogueWrite steps(session, userName);
    QList<CatalogueChange> changes;
    changes.reserve(items.size());
    for (const CatalogueItem& item : items)
        changes.append({ CatalogueChange::Kind::Put, item, {} });
    applyCatalogueChanges(steps, changes);
}
