#include "base/HiClass.h"

#include "base/Error.h"
#include "base/Platform.h"
#include "base/TextCodec.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

QString THi::GetAppDir()
{
    return QCoreApplication::applicationDirPath();
}

QString THi::GetDataDir(const QString& folderName)
{
    const QString path = Platform::userDataFolder() + '/' + (folderName.isEmpty() ? kAppTitle : folderName);
    if (!QFileInfo(path).isDir()) {
        // A new account may lack the base folder too; every folder made here is private to the user, as the data
        // it holds (and as the XDG base directory convention asks of the base folder).
        QStringList missing;
        for (QString folder = path; !folder.isEmpty() && !QFileInfo(folder).exists();) {
            missing.prepend(folder);
            const QString parent = QFileInfo(folder).absolutePath();
            folder = parent == folder ? QString() : parent;
        }
        for (const QString& folder : std::as_const(missing)) {
            if (!QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
                && !QFileInfo(folder).isDir())
                throw KivaroError(QStringLiteral("无法创建数据文件夹“%1”").arg(QDir::toNativeSeparators(folder)));
        }
        if (!QFileInfo(path).isDir())
            throw KivaroError(QStringLiteral("无法创建数据文件夹“%1”").arg(QDir::toNativeSeparators(path)));
    }
    return QFileInfo(path).isDir() ? path : QString();
}

QString THi::GetMd5(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(toGb18030(text), QCryptographicHash::Md5).toHex());
}
