#include "base/SafeFile.h"

#include "base/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStorageInfo>
#include <QStringList>
#include <QUuid>
#include <cerrno>
#include <cstring>

namespace {

QMutex protectedMutex;
QStringList& protectedPaths()
{
    static QStringList paths;
    return paths;
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Below this much room a volume is taken as full: writes cut short there come without a reason of their own.
constexpr qint64 kRoomNeeded = 64 * 1024;

} // namespace

// The new file: remembers a write that fell short, which writers such as the PDF engine do not check themselves.
class SafeFile::Device : public QFile
{
public:
    using QFile::QFile;
    QString shortWrite;

protected:
    qint64 writeData(const char* data, qint64 length) override
    {
        errno = 0;
        const qint64 written = QFile::writeData(data, length);
        if (written != length && shortWrite.isEmpty())
            shortWrite = errno != 0 ? systemError() : QStringLiteral("写入不完整");
        return written;
    }
};

void SafeFile::protect(const QString& path)
{
    const QMutexLocker lock(&protectedMutex);
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!protectedPaths().contains(absolute))
        protectedPaths().append(absolute);
}

void SafeFile::refuseProtected(const QString& path)
{
    const QMutexLocker lock(&protectedMutex);
    for (const QString& kept : std::as_const(protectedPaths())) {
        if (Platform::sameFile(path, kept)) {
            throw KivaroError(QStringLiteral("不能写入“%1”：它就是账本文件“%2”").arg(native(path), native(kept)));
        }
    }
}

SafeFile::SafeFile(const QString& target, QFileDevice::Permissions permissions)
    : m_target(target)
    , m_permissions(permissions)
{
    const QFileInfo info(target);
    if (!info.absoluteDir().exists())
        throw KivaroError(
            QStringLiteral("无法写入“%1”：文件夹“%2”不存在").arg(native(target), native(info.absolutePath())));
    if (info.isDir())
        throw KivaroError(QStringLiteral("无法写入“%1”：这是一个文件夹").arg(native(target)));
    refuseProtected(target);
    m_work = info.absolutePath() + QStringLiteral("/.kivaro-") + QUuid::createUuid().toString(QUuid::Id128)
        + QStringLiteral(".part");
    QFile made(m_work);
    if (!made.open(QIODevice::NewOnly | QIODevice::WriteOnly))
        throw failure(made.errorString());
    if (permissions && !made.setPermissions(permissions))
        throw failure(made.errorString());
}

SafeFile::~SafeFile()
{
    if (!m_committed) {
        m_file.reset();
        QFile::remove(m_work);
    }
}

QFile& SafeFile::device()
{
    if (!m_file) {
        m_file = std::make_unique<Device>(m_work);
        // Unbuffered: every write reaches the system at once and its failure is reported there.
        if (!m_file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            throw failure(m_file->errorString());
    }
    return *m_file;
}

void SafeFile::write(QByteArrayView bytes)
{
    device();
    if (m_file->write(bytes.data(), bytes.size()) != bytes.size())
        throw failure(m_file->shortWrite.isEmpty() ? m_file->errorString() : m_file->shortWrite);
}

void SafeFile::commit()
{
    if (m_file) {
        const bool written = m_file->shortWrite.isEmpty() && m_file->error() == QFileDevice::NoError && m_file->flush();
        const QString why = m_file->shortWrite.isEmpty() ? m_file->errorString() : m_file->shortWrite;
        m_file->close();
        if (!written)
            throw failure(why);
    }
    if (const QString why = Platform::syncFile(m_work); !why.isEmpty())
        throw failure(why);
    refuseProtected(m_target);
    if (const QString why = Platform::replaceFile(m_work, m_target); !why.isEmpty())
        throw failure(why);
    m_committed = true;
    Platform::syncFolder(QFileInfo(m_target).absolutePath());
}

SafeFileError SafeFile::failure(const QString& reason) const
{
    const QStorageInfo volume(QFileInfo(m_target).absolutePath());
    const bool full = volume.isValid() && volume.bytesAvailable() < kRoomNeeded;
    const QString why = full ? QStringLiteral("磁盘空间已满") : reason;
    return SafeFileError(QStringLiteral("无法写入“%1”：%2").arg(native(m_target), why), why);
}
