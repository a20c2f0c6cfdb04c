#include "tests/ReliabilityUtil.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kChildTimeoutMs = 120'000;

QAtomicInt rawCounter;

} // namespace

QString testChildPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/kivaro-testchild");
}

ChildProcess::ChildProcess(const QStringList& arguments, const QString& program)
{
    m_process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    m_process.start(program, arguments);
}

ChildProcess::~ChildProcess()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(kChildTimeoutMs);
    }
}

bool ChildProcess::waitForLine(const QByteArray& line)
{
    if (!m_process.waitForStarted(kChildTimeoutMs))
        return false;
    while (!m_stdout.contains(QByteArray(line + '\n'))) {
        if (!m_process.waitForReadyRead(kChildTimeoutMs))
            return false;
        m_stdout += m_process.readAllStandardOutput();
    }
    return true;
}

void ChildProcess::release()
{
    m_process.write("go\n");
    m_process.waitForBytesWritten(kChildTimeoutMs);
}

bool ChildProcess::finishedCleanly()
{
    if (isRunning())
        m_process.waitForFinished(kChildTimeoutMs);
    return m_process.state() == QProcess::NotRunning && m_process.exitStatus() == QProcess::NormalExit
        && m_process.exitCode() == 0;
}

bool ChildProcess::waitFinished(int ms)
{
    if (isRunning() && ms > 0)
        m_process.waitForFinished(ms);
    return !isRunning();
}

void ChildProcess::killNow()
{
    // QProcess::kill sends SIGKILL: no handler, no clean-up, like a power cut for the process.
    m_process.kill();
    m_process.waitForFinished(kChildTimeoutMs);
}

QString ChildProcess::output()
{
    m_stdout += m_process.readAllStandardOutput();
    return QString::fromUtf8(m_stdout);
}

QString ChildProcess::errors()
{
    return QString::fromUtf8(m_process.readAllStandardError());
}

RawDb::RawDb(const QString& path)
    : m_name(QStringLiteral("raw-%1").arg(rawCounter.fetchAndAddRelaxed(1)))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rw"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=10000"));
    m_open = db.open();
    if (!m_open)
        m_lastError = db.lastError().text();
}

RawDb::~RawDb()
{
    QSqlDatabase::database(m_name, false).close();
    QSqlDatabase::removeDatabase(m_name);
}

std::optional<QVariantList> RawDb::column(const QString& statement, const QVariantList& values)
{
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    query.setForwardOnly(true);
    if (!query.prepare(statement)) {
        m_lastError = query.lastError().text();
        return std::nullopt;
    }
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        return std::nullopt;
    }
    QVariantList result;
    while (query.next())
        result.append(query.value(0));
    return result;
}

QVariant RawDb::value(const QString& statement, const QVariantList& values)
{
    const std::optional<QVariantList> rows = column(statement, values);
    return rows && !rows->isEmpty() ? rows->first() : QVariant();
}

bool RawDb::exec(const QString& statement, const QVariantList& values)
{
    return column(statement, values).has_value();
}

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
