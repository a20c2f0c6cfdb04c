#include "base/SafeFile.h"

#include "base/Platform.h"

#include <QDateTime>
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
#ifdef EFBIG
    // With SIGXFSZ ignored, a limit on a file's size (ulimit -f) is this error.
    if (errno == EFBIG)
        return QStringLiteral("文件超过了系统允许的大小（ulimit -f）");
#endif
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

void SafeFile::removeLeftovers(const QString& folder, const QStringList& alsoNamed)
{
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-3600);
    const QStringList names
        = QStringList { QStringLiteral(".kivaro-*.part"), QStringLiteral(".kivaro-*.part-journal") } + alsoNamed;
    for (const QFileInfo& left : QDir(folder).entryInfoList(names, QDir::Files | QDir::Hidden | QDir::System)) {
        if (!left.isSymLink() && left.lastModified().toUTC() < before)
            QFile::remove(left.absoluteFilePath());
    }
}

SafeFile::SafeFile(const QString& target, QFileDevice::Permissions permissions)
    : m_target(target)
    , m_destination(target)
    , m_permissions(permissions)
{
    // A symbolic link stays: the file it names is written, never the link replaced by a file.
    if (const QFileInfo link(target); link.isSymLink())
        m_destination = link.exists() ? link.canonicalFilePath() : link.symLinkTarget();
    const QFileInfo info(m_destination);
    if (!info.absoluteDir().exists())
        throw KivaroError(
            QStringLiteral("无法写入“%1”：文件夹“%2”不存在").arg(native(target), native(info.absolutePath())));
    if (info.isDir())
        throw KivaroError(QStringLiteral("无法写入“%1”：这是一个文件夹").arg(native(target)));
    // A pipe, a device or a socket would be replaced by a plain file that no one reads.
    if (info.exists() && !info.isFile())
        throw KivaroError(QStringLiteral("无法写入“%1”：它不是普通文件（是管道、设备之类）").arg(native(target)));
    refuseProtected(target);
    refuseProtected(m_destination);
    m_work = info.absolutePath() + QStringLiteral("/.kivaro-") + QUuid::createUuid().toString(QUuid::Id128)
        + QStringLiteral(".part");
    QFile made(m_work);
    if (!made.open(QIODevice::NewOnly | QIODevice::WriteOnly))
        throw failure(made.errorString());
    // The new file keeps the old one's permissions: a private file must not become readable by others. A new file in
    // a folder only its owner may read is its owner's only.
    QFileDevice::Permissions mode = permissions;
    const QFileDevice::Permissions others
        = QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    if (!mode && info.exists())
        mode = QFile::permissions(m_destination);
    else if (!mode && !(QFile::permissions(info.absolutePath()) & others))
        mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (mode && !made.setPermissions(mode))
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
    refuseProtected(m_destination);
    if (QFileInfo(m_destination).exists() && !QFileInfo(m_destination).isFile())
        throw failure(QStringLiteral("它不是普通文件（是管道、设备之类）"));
    if (const QString why = Platform::replaceFile(m_work, m_destination); !why.isEmpty())
        throw failure(why);
    m_committed = true;
    Platform::syncFolder(QFileInfo(m_destination).absolutePath());
}

SafeFileError SafeFile::failure(const QString& reason) const
{
    const QStorageInfo volume(QFileInfo(m_destination).absolutePath());
    const bool full = volume.isValid() && volume.bytesAvailable() < kRoomNeeded;
    const QString why = full ? QStringLiteral("磁盘空间已满") : reason;
    return SafeFileError(QStringLiteral("无法写入“%1”：%2").arg(native(m_target), why), why);
}
