#include "tests/support/RawDb.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

namespace {

QAtomicInt rawCounter;

} // namespace

RawDb::RawDb(const QString& path, Open mode)
    : m_name(QStringLiteral("raw-%1").arg(rawCounter.fetchAndAddRelaxed(1)))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)
        + (mode == Open::Existing ? QStringLiteral("?mode=rw") : QStringLiteral("?mode=rwc")));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=10000"));
    m_open = db.open();
    if (!m_open)
        m_lastError = db.lastError().text();
}

RawDb::~RawDb()
{
    QSqlDatabase::database(m_name, false).close();
    QSqlDatabase::removeDatabase(m_name);
}

std::optional<QList<QVariantList>> RawDb::rows(const QString& statement, const QVariantList& values)
{
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    query.setForwardOnly(true);
    if (!query.prepare(statement)) {
        m_lastError = query.lastError().text();
        return std::nullopt;
    }
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        return std::nullopt;
    }
    QList<QVariantList> result;
    const int columns = query.record().count();
    while (query.next()) {
        QVariantList row;
        for (int c = 0; c < columns; ++c)
            row.append(query.value(c));
        result.append(row);
    }
    return result;
}

std::optional<QVariantList> RawDb::column(const QString& statement, const QVariantList& values)
{
    const std::optional<QList<QVariantList>> all = rows(statement, values);
    if (!all)
        return std::nullopt;
    QVariantList first;
    for (const QVariantList& row : *all)
        first.append(row.value(0));
    return first;
}

QVariant RawDb::value(const QString& statement, const QVariantList& values)
{
    const std::optional<QVariantList> first = column(statement, values);
    return first && !first->isEmpty() ? first->first() : QVariant();
}

bool RawDb::exec(const QString& statement, const QVariantList& values)
{
    return rows(statement, values).has_value();
}

std::optional<QString> RawDb::queryPlan(const QString& statement, const QVariantList& values)
{
    const std::optional<QList<QVariantList>> steps = rows(QStringLiteral("EXPLAIN QUERY PLAN ") + statement, values);
    if (!steps)
        return std::nullopt;
    QString plan;
    for (const QVariantList& step : *steps)
        plan += step.value(3).toString() + QLatin1Char('\n');
    return plan;
}
