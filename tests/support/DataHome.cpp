#include "tests/support/DataHome.h"

#include <QDir>
#include <QFile>

TestDataHome::TestDataHome(const QString& database)
{
    if (!m_dir.isValid())
        qFatal("no temporary folder for the data home");
    setBase(m_dir.path());
    qputenv("XDG_CONFIG_HOME", (m_dir.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (m_dir.path() + QStringLiteral("/cache")).toLocal8Bit());
    // A Documents folder of its own, where the file dialogs start.
    const QString documents = m_dir.path() + QStringLiteral("/Documents");
    QDir().mkpath(documents);
    QDir().mkpath(m_dir.path() + QStringLiteral("/config"));
    QFile dirs(m_dir.path() + QStringLiteral("/config/user-dirs.dirs"));
    if (dirs.open(QIODevice::WriteOnly))
        dirs.write("XDG_DOCUMENTS_DIR=\"" + QFile::encodeName(documents) + "\"\n");
    if (testingOnServer()) {
        m_server = std::make_unique<TestServerDb>();
        qputenv("KIVARO_DATABASE", m_server->connection().toUtf8());
    } else {
        qunsetenv("KIVARO_DATABASE");
    }
    if (database.isEmpty())
        return;
    if (!QDir().mkdir(dataDir()) || !QFile::copy(database, dbPath()))
        qFatal("cannot copy %s into %s", qPrintable(database), qPrintable(dataDir()));
    // The program writes to its file whatever the bits of the file it was copied from.
    QFile::setPermissions(dbPath(), QFile::ReadOwner | QFile::WriteOwner);
}

void TestDataHome::setBase(const QString& base)
{
    qputenv("XDG_DATA_HOME", base.toLocal8Bit());
    // Windows names the roaming application data so.
    qputenv("APPDATA", base.toLocal8Bit());
}

TestDataHome::~TestDataHome()
{
    if (m_server)
        qunsetenv("KIVARO_DATABASE");
}
