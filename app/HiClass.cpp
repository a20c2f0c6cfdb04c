#include "app/HiClass.h"

#include "app/Error.h"
#include "db/TextCodec.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

void THi::CheckOS()
{
    // Every system this build runs on is supported; the check stays so start-up keeps one shape.
    if (!IsSupportedOS())
        std::exit(0);
}

bool THi::IsSupportedOS()
{
    return true;
}

QString THi::GetAppDir()
{
    return QCoreApplication::applicationDirPath();
}

QString THi::GetSpecialFolder(int folder)
{
    if (folder != kAppDataFolder)
        return {};
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString THi::GetDataDir(const QString& folderName)
{
    const QString path = GetSpecialFolder(kAppDataFolder) + '/' + (folderName.isEmpty() ? kAppTitle : folderName);
    if (!QFileInfo(path).isDir()) {
        // One level only: the base folder must exist already. Private to the user, like the data it holds.
        if (!QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            throw KivaroError(QStringLiteral("无法创建数据文件夹“%1”").arg(QDir::toNativeSeparators(path)));
    }
    return QFileInfo(path).isDir() ? path : QString();
}

QString THi::GetMd5(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(toGb18030(text), QCryptographicHash::Md5).toHex());
}
