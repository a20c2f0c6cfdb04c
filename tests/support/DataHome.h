#pragma once

#include "tests/support/ServerDb.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

// A fresh, private data location: XDG_DATA_HOME and XDG_CONFIG_HOME point into a temporary folder, so the real
// user's data and settings are never touched. Given a database file, the data folder starts with a copy of it as
// db.sjk. When the tests run on a server, it also comes with a fresh database there, which KIVARO_DATABASE names.
class TestDataHome
{
public:
    explicit TestDataHome(const QString& database = QString());
    ~TestDataHome();
    QString base() const { return m_dir.path(); }
    QString dataDir() const { return m_dir.path() + QStringLiteral("/Kivaro"); }
    QString dbPath() const { return dataDir() + QStringLiteral("/db.sjk"); }

    // The server database of this home, or null on the file store.
    TestServerDb* server() const { return m_server.get(); }

    // Moves the base of the data folder (XDG_DATA_HOME; %APPDATA% on Windows) to base.
    static void setBase(const QString& base);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestServerDb> m_server;
};
