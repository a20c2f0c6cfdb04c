#include "tests/support/Files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray fingerprint(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return "missing";
    const QByteArray mode = QByteArray::number(int(info.permissions()), 16);
    if (info.isDir())
        return "folder " + mode + ' '
            + QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join('/').toUtf8();
    // Readable for the check even where the test made it unreadable to the program.
    return "file " + mode + ' ' + QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex() + ' '
        + QByteArray::number(info.size());
}

#ifdef Q_OS_LINUX

namespace {

constexpr quint32 kOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

bool capabilities(__user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    return syscall(SYS_capget, &header, data) == 0;
}

bool setCapabilities(__user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

PermissionsApply::PermissionsApply()
{
    __user_cap_data_struct data[2] {};
    if (!capabilities(data) || !(data[0].effective & kOverrides))
        return;
    data[0].effective &= ~kOverrides;
    m_lowered = setCapabilities(data);
    if (!m_lowered)
        qFatal("cannot lower the file capabilities of the test");
}

PermissionsApply::~PermissionsApply()
{
    if (!m_lowered)
        return;
    __user_cap_data_struct data[2] {};
    capabilities(data);
    data[0].effective |= kOverrides & data[0].permitted;
    setCapabilities(data);
}

#else

// Only root on Linux passes over the permission bits.
PermissionsApply::PermissionsApply() = default;
PermissionsApply::~PermissionsApply() = default;

#endif

QString popplerOutput(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool popplerAvailable()
{
    static const bool available = [] {
        QProcess process;
        process.start(QStringLiteral("pdftotext"), { QStringLiteral("-v") });
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }();
    return available;
}

bool PermissionsApply::refuseWriting(const QString& path)
{
    if (!QFileInfo(path).isDir())
        return !QFile(path).open(QIODevice::ReadWrite);
    QFile probe(path + QStringLiteral("/write-probe"));
    if (!probe.open(QIODevice::WriteOnly))
        return true;
    probe.remove();
    return false;
}
