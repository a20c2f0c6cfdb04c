#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <optional>

// A direct connection to a database file through QtSql, for setting up and checking files without going through
// the program. Never creates the file unless asked to.
class RawDb
{
public:
    enum class Open { Existing, CreateIfMissing };

    explicit RawDb(const QString& path, Open mode = Open::Existing);
    ~RawDb();
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    bool isOpen() const { return m_open; }
    QString lastError() const { return m_lastError; }
    // Every column of every row, or nothing when the statement fails.
    std::optional<QList<QVariantList>> rows(const QString& statement, const QVariantList& values = {});
    // The first column of every row, or nothing when the statement fails.
    std::optional<QVariantList> column(const QString& statement, const QVariantList& values = {});
    // The first value of the first row, or an invalid QVariant.
    QVariant value(const QString& statement, const QVariantList& values = {});
    bool exec(const QString& statement, const QVariantList& values = {});
    // The engine's plan for a statement, one step a line, or nothing when it cannot be planned.
    std::optional<QString> queryPlan(const QString& statement, const QVariantList& values = {});

private:
    QString m_name;
    QString m_lastError;
    bool m_open = false;
};
