#include "db/KeptSession.h"

#include "base/Error.h"
#include "db/LedgerLocation.h"

#include <QDir>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUuid>

namespace {

// The user's cache folder is this computer's own, also when the data folder is copied or shared.
QString lockFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Kivaro/sessions");
}

QString lockPath(const QString& session)
{
    return lockFolder() + QLatin1Char('/') + session + QStringLiteral(".lock");
}

std::unique_ptr<QLockFile> tryLock(const QString& path)
{
    auto lock = std::make_unique<QLockFile>(path);
    // Only a lock whose process is gone is stale, never one that is merely old: a window may stay open for weeks.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}

bool isSessionId(const QString& text)
{
    return !QUuid::fromString(text).isNull();
}

} // namespace

QString KeptSession::computerId()
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    const QString machine = QString::fromLatin1(QSysInfo::machineUniqueId());
    QString id = settings.value(QStringLiteral("computer/id")).toString();
    if (isSessionId(id) && settings.value(QStringLiteral("computer/machine")).toString() == machine)
        return id;
    // Settings that cannot be written (a folder left to root by one sudo, a file in its place) must not make a new
    // ID at every call: no crashed window's lines would ever match it again. Then the ID is made from this machine
    // and this user's cache folder, the same at every call.
    const bool writable = settings.isWritable() && settings.status() == QSettings::NoError;
    id = writable
        ? QUuid::createUuid().toString(QUuid::WithoutBraces)
        : QUuid::createUuidV5(QUuid(), machine + QLatin1Char('\n') + lockFolder()).toString(QUuid::WithoutBraces);
    if (writable) {
        settings.setValue(QStringLiteral("computer/id"), id);
        settings.setValue(QStringLiteral("computer/machine"), machine);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            id = QUuid::createUuidV5(QUuid(), machine + QLatin1Char('\n') + lockFolder())
                     .toString(QUuid::WithoutBraces);
    }
    return id;
}

KeptSession::KeptSession()
{
    if (!QDir().mkpath(lockFolder()))
        throw KivaroError(QStringLiteral("无法建立文件夹“%1”").arg(QDir::toNativeSeparators(lockFolder())));
    const QString session = QUuid::createUuid().toString(QUuid::WithoutBraces);
    FLock = tryLock(lockPath(session));
    if (!FLock)
        throw KivaroError(QStringLiteral("无法建立文件“%1”").arg(QDir::toNativeSeparators(lockPath(session))));
    FOwner = computerId() + QLatin1Char('/') + session;
}

KeptSession::~KeptSession()
{
    FLock->unlock();
}

std::shared_ptr<void> KeptSession::claimIfGone(const QString& owner)
{
    const qsizetype slash = owner.indexOf(QLatin1Char('/'));
    if (slash < 0) {
        const QString host = QSysInfo::machineHostName();
        if (owner != (host.isEmpty() ? QStringLiteral("本机") : host))
            return nullptr;
        // The kept list of earlier versions: one window at a time takes it.
        return std::shared_ptr<QLockFile>(tryLock(lockPath(QStringLiteral("host"))));
    }
    const QString session = owner.mid(slash + 1);
    if (owner.left(slash) != computerId() || !isSessionId(session))
        return nullptr;
    // Taken: the window is gone; the lock file goes when the claim ends.
    return std::shared_ptr<QLockFile>(tryLock(lockPath(session)));
}
