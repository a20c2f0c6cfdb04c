#include "tests/support/ChildProcess.h"

#include <QCoreApplication>

namespace {

constexpr int kChildTimeoutMs = 120'000;

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
        readOutput();
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

void ChildProcess::readOutput()
{
    m_stdout += m_process.readAllStandardOutput();
    // A child on Windows ends its lines with CR LF.
    m_stdout.replace("\r\n", "\n");
}

QString ChildProcess::output()
{
    readOutput();
    return QString::fromUtf8(m_stdout);
}

QString ChildProcess::errors()
{
    return QString::fromUtf8(m_process.readAllStandardError());
}
