#include "db/LedgerLocation.h"

#include "base/HiClass.h"
#include "db/server/ServerConnection.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace {

QMutex chosenMutex;
std::optional<LedgerLocation> chosen;

QSettings settings()
{
    return QSettings(settingsPath(), QSettings::IniFormat);
}

const QString kServerKey = QStringLiteral("database/server");

} // namespace

QString settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Kivaro/Kivaro.conf");
}

LedgerLocation LedgerLocation::file(const QString& dataDir)
{
    return fileAt(dataDir + QStringLiteral("/db.sjk"));
}

LedgerLocation LedgerLocation::fileAt(const QString& path)
{
    LedgerLocation location;
    location.kind = Kind::File;
    location.path = path;
    return location;
}

LedgerLocation LedgerLocation::server(const QString& connection)
{
    LedgerLocation location;
    location.kind = Kind::Server;
    location.connection = connection.trimmed();
    return location;
}

QString LedgerLocation::dataDir() const
{
    return QFileInfo(path).absolutePath();
}

QString LedgerLocation::displayName() const
{
    if (!isServer())
        return QStringLiteral("本机");
    return serverDisplayName(connection);
}

LedgerLocation ledgerFromArgument(const QString& text)
{
    static const QRegularExpression keyValue(QStringLiteral("^\\s*[A-Za-z_]+\\s*="));
    if (text.startsWith(QStringLiteral("postgresql://")) || text.startsWith(QStringLiteral("postgres://"))
        || keyValue.match(text).hasMatch())
        return LedgerLocation::server(text);
    if (QFileInfo(text).isDir())
        return LedgerLocation::file(QDir(text).absolutePath());
    return LedgerLocation::fileAt(QFileInfo(text).absoluteFilePath());
}

LedgerLocation currentLedger()
{
    {
        const QMutexLocker lock(&chosenMutex);
        if (chosen)
            return *chosen;
    }
    const QString fromEnvironment = qEnvironmentVariable("KIVARO_DATABASE").trimmed();
    if (!fromEnvironment.isEmpty())
        return ledgerFromArgument(fromEnvironment);
    if (const std::optional<QString> saved = savedServer())
        return LedgerLocation::server(*saved);
    return LedgerLocation::file(THi::GetDataDir(QString()));
}

void setCurrentLedger(const std::optional<LedgerLocation>& location)
{
    const QMutexLocker lock(&chosenMutex);
    chosen = location;
}

std::optional<QString> savedServer()
{
    const QString saved = settings().value(kServerKey).toString().trimmed();
    if (saved.isEmpty())
        return std::nullopt;
    return saved;
}

void saveServerChoice(const std::optional<QString>& connection)
{
    QSettings kept = settings();
    if (connection && !connection->trimmed().isEmpty())
        kept.setValue(kServerKey, connectionWithoutPassword(connection->trimmed()));
    else
        kept.remove(kServerKey);
    kept.sync();
}
