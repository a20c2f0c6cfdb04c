#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// The helper program kivaro-testchild, which lies beside the test executables.
QString testChildPath();

// One run of kivaro-testchild with the data location of the calling test.
class ChildProcess
{
public:
    explicit ChildProcess(const QStringList& arguments, const QString& program = testChildPath());
    ~ChildProcess();

    // Waits (bounded) until the child has printed "ready", that is, is about to write.
    bool waitReady() { return waitForLine("ready"); }
    // Waits (bounded) until the child has printed the line.
    bool waitForLine(const QByteArray& line);
    // Lets a child started with "wait" go on.
    void release();
    // Waits (bounded) for the end; true when it ended by itself with exit code 0.
    bool finishedCleanly();
    // Waits at most ms milliseconds for the end; true when it has ended.
    bool waitFinished(int ms);
    void killNow();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // Everything printed on stdout and stderr so far.
    QString output();
    QString errors();

private:
    void readOutput();
    QProcess m_process;
    QByteArray m_stdout;
};
