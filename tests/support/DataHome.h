#pragma once

#include <QString>
#include <QTemporaryDir>

// A fresh, private data location: XDG_DATA_HOME points into a temporary folder, so the real user's data is never
// touched. Given a database file, the data folder starts with a copy of it as db.sjk.
class TestDataHome
{
public:
    explicit TestDataHome(const QString& database = QString());
    QString base() const { return m_dir.path(); }
    QString dataDir() const { return m_dir.path() + QStringLiteral("/Kivaro"); }
    QString dbPath() const { return dataDir() + QStringLiteral("/db.sjk"); }

private:
    QTemporaryDir m_dir;
};
