#include "db/KeptSession.h"

#include "base/Error.h"
#include "base/Platform.h"
#include "db/LedgerLocation.h"

#include <QDir>
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
    return lockFolder() + QLatin1Char('/') + session;
}

// The session's folder, locked: nothing when another process holds it. The lock lasts while the process does,
// however old (a window may stay open for weeks); the folder goes when the lock is let go.
std::shared_ptr<Platform::FolderLock> tryLock(const QString& path)
{
    if (!QDir().mkpath(path))
        return nullptr;
    auto* lock = new Platform::FolderLock(path);
    QString why;
    if (lock->tryLock(&why) != Platform::FolderLock::State::Locked) {
        delete lock;
        return nullptr;
    }
    return std::shared_ptr<Platform::FolderLock>(lock, [path](Platform::FolderLock* held) {
        QDir(path).removeRecursively();
        delete held;
    });
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
        throw KivaroError(QStringLiteral("无法建立并锁定文件夹“%1”").arg(QDir::toNativeSeparators(lockPath(session))));
    FOwner = computerId() + QLatin1Char('/') + session;
    FSaveToken = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
}

KeptSession::~KeptSession() = default;

QByteArray KeptSession::landedTokenOf(const QList<qint64>& ids) const
{
    // Only the very lines of that save: a ledger restored meanwhile may give their kept IDs out again.
    return QSet<qint64>(ids.cbegin(), ids.cend()) == FLandedIds ? FLandedToken : QByteArray();
}

void KeptSession::saveLanded(const QList<qint64>& ids)
{
    FLandedToken = FSaveToken;
    FLandedIds = QSet<qint64>(ids.cbegin(), ids.cend());
    FSaveToken = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
}

std::shared_ptr<void> KeptSession::claimIfGone(const QString& owner)
{
    const qsizetype slash = owner.indexOf(QLatin1Char('/'));
    if (slash < 0) {
        const QString host = QSysInfo::machineHostName();
        if (owner != (host.isEmpty() ? QStringLiteral("本机") : host))
            return nullptr;
        // The kept list of earlier versions: one window at a time takes it.
        return tryLock(lockPath(QStringLiteral("host")));
    }
    const QString session = owner.mid(slash + 1);
    if (owner.left(slash) != computerId() || !isSessionId(session))
        return nullptr;
    // Taken: the window is gone; its folder goes when the claim ends.
    return tryLock(lockPath(session));
}
