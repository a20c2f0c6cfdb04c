#pragma once

#include <QByteArray>
#include <QProcess>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <optional>

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
    QProcess m_process;
    QByteArray m_stdout;
};

// A direct connection to a database file, for checks that must not go through the program. Never creates the
// file.
class RawDb
{
public:
    explicit RawDb(const QString& path);
    ~RawDb();
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    bool isOpen() const { return m_open; }
    QString lastError() const { return m_lastError; }
    // The first column of every row, or nothing when the statement fails.
    std::optional<QVariantList> column(const QString& statement, const QVariantList& values = {});
    // The first value of the first row, or an invalid QVariant.
    QVariant value(const QString& statement, const QVariantList& values = {});
    bool exec(const QString& statement, const QVariantList& values = {});

private:
    QString m_name;
    QString m_lastError;
    bool m_open = false;
};

// The exact bytes of a file, or for a folder its listing, so a test can tell whether anything changed it.
QByteArray fingerprint(const QString& path);
QByteArray readAll(const QString& path);
bool writeAll(const QString& path, const QByteArray& bytes);

// While one lives, the calling thread is held to the permission bits of files like any other user, even when it
// runs as root: the capabilities that override them are lowered and restored at the end.
class PermissionsApply
{
public:
    PermissionsApply();
    ~PermissionsApply();
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

private:
    bool m_lowered = false;
};
