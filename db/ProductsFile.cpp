#include "db/ProductsFile.h"

#include "base/Platform.h"

#include "base/SafeFile.h"

#include "base/Error.h"
#include "base/TextCodec.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

QStringList splitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        const QChar c = text.at(pos);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) {
            ++pos;
            continue;
        }
        lines.append(text.mid(start, pos - start));
        const bool crLf = c == QLatin1Char('\r') && pos + 1 < text.size() && text.at(pos + 1) == QLatin1Char('\n');
        pos += crLf ? 2 : 1;
        start = pos;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QStringList decodeProductNames(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return splitLines(fromGb18030(nul < 0 ? bytes : bytes.left(nul)));
}

QByteArray encodeProductNames(const QStringList& names)
{
    // The list is rewritten on every sale, so its names go to the converter in one piece, which is about twice as fast
    // as one name at a time. A name holding a surrogate goes alone: an unpaired one must not pair up with a neighbour.
    QByteArray bytes;
    QString batch;
    for (const QString& name : names) {
        if (std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.isSurrogate(); })) {
            bytes += toGb18030(batch) + toGb18030(name) + "\r\n";
            batch.clear();
            continue;
        }
        batch += name;
        batch += QLatin1String("\r\n");
    }
    return bytes + toGb18030(batch);
}

namespace {

constexpr int kLockWaitMs = 5000;
// Less free space than this on the file's volume counts as a full disk.
constexpr qint64 kRoomNeeded = 64 * 1024;

// A write cut short by a full disk comes without an error of its own, and neither does a file that could not be
// written: a volume without room is named as the cause whatever the reported reason.
KivaroError saveFailure(const QString& path, const QString& reported)
{
    const QStorageInfo volume(QFileInfo(path).absolutePath());
    const bool full = volume.isValid() && volume.bytesAvailable() < kRoomNeeded;
    return KivaroError(
        QStringLiteral("无法保存品名文件“%1”：%2").arg(path, full ? QStringLiteral("磁盘空间已满") : reported));
}

// Other instances of the same user change the file too; each change is made while holding this lock on the folder
// that holds the file, which the system lets go when a process dies.
class ProductsFileLock
{
public:
    explicit ProductsFileLock(const QString& path)
        : m_lock(QFileInfo(path).absolutePath())
    {
        QElapsedTimer waited;
        waited.start();
        QString why;
        for (;;) {
            const Platform::FolderLock::State state = m_lock.tryLock(&why);
            if (state == Platform::FolderLock::State::Locked)
                return;
            if (state == Platform::FolderLock::State::Failed)
                throw saveFailure(path, why);
            if (waited.elapsed() > kLockWaitMs)
                throw KivaroError(QStringLiteral("无法保存品名文件“%1”：另一个程序正在修改它").arg(path));
            QThread::msleep(5);
        }
    }

private:
    Platform::FolderLock m_lock;
};

void replaceContent(const QString& path, const QStringList& names)
{
    const QByteArray bytes = encodeProductNames(names);
    try {
        SafeFile file(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(bytes);
        file.commit();
    } catch (const SafeFileError& error) {
        throw saveFailure(path, error.reason());
    }
}

} // namespace

std::optional<QStringList> readProductNames(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw KivaroError(QStringLiteral("无法读取品名文件“%1”：%2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw KivaroError(QStringLiteral("无法读取品名文件“%1”：%2").arg(path, file.errorString()));
    return decodeProductNames(bytes);
}

void writeProductNames(const QString& path, const QStringList& names)
{
    const ProductsFileLock lock(path);
    replaceContent(path, names);
}

namespace {

// The names last written here, so that a sale need not read back and decode the file it wrote itself.
struct LastWrite
{
    QString path;
    Platform::FileStamp stamp;
    QStringList names;
};
std::mutex lastWriteMutex;
LastWrite lastWrite;

std::optional<QStringList> namesLastWritten(const QString& path)
{
    const std::optional<Platform::FileStamp> stamp = Platform::fileStamp(path);
    const std::lock_guard<std::mutex> guard(lastWriteMutex);
    if (!stamp || lastWrite.path != path || !(lastWrite.stamp == *stamp))
        return std::nullopt;
    return lastWrite.names;
}

void rememberWrite(const QString& path, const QStringList& names)
{
    const std::optional<Platform::FileStamp> stamp = Platform::fileStamp(path);
    const std::lock_guard<std::mutex> guard(lastWriteMutex);
    lastWrite = stamp ? LastWrite { path, *stamp, names } : LastWrite {};
}

} // namespace

std::optional<QStringList> rememberProductName(const QString& path, const QString& name)
{
    return rememberProductNames(path, { name });
}

std::optional<QStringList> rememberProductNames(const QString& path, const QStringList& used)
{
    bool any = false;
    for (const QString& name : used)
        any = any || !isBlankText(name);
    if (!any)
        return std::nullopt;
    const ProductsFileLock lock(path);
    QStringList names;
    if (std::optional<QStringList> known = namesLastWritten(path))
        names = std::move(*known);
    else
        names = readProductNames(path).value_or(QStringList());
    for (const QString& name : used)
        putNameFirst(names, name);
    replaceContent(path, names);
    rememberWrite(path, names);
    return names;
}

qsizetype indexOfName(const QStringList& names, const QString& name)
{
    const QString wanted = composedTrimmed(name);
    for (qsizetype i = 0; i < names.size(); ++i) {
        // Most entries are kept composed and trimmed already: only the others are made so to compare.
        const QString& entry = names.at(i);
        if (entry == wanted || (!isComposedTrimmed(entry) && composedTrimmed(entry) == wanted))
            return i;
    }
    return -1;
}

bool putNameFirst(QStringList& names, const QString& name)
{
    const QString wanted = composedTrimmed(name);
    if (isBlankText(wanted))
        return false;
    const qsizetype at = indexOfName(names, wanted);
    if (at >= 0)
        names.removeAt(at);
    names.prepend(wanted);
    return true;
}
