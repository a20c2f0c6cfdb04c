#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// What the program asks of the operating system beyond Qt, in one place: POSIX calls on Linux, their counterparts on
// Windows. Each call returns the system's reason on failure (empty when it succeeded).
namespace Platform {

// Writes a file's data, or that of an open file's descriptor (QFileDevice::handle()), through to the disk.
QString syncFile(const QString& path);
QString syncHandle(int handle);
// After a rename, makes the folder's names durable where the system can (Linux); on Windows the rename itself is
// written through.
void syncFolder(const QString& folder);
// Puts the file from in the place of to, replacing it in one step, and (on Windows) returns only once the move is
// on the disk.
QString replaceFile(const QString& from, const QString& to);
// Whether the system lets this process open the file for reading and writing: false only when it refuses for lack of
// permission (the permission bits alone do not tell: root, access lists).
bool mayReadWrite(const QString& path);
bool standardInputIsTerminal();
bool standardErrorIsTerminal();
// The calculators to try, in order.
QStringList calculatorPrograms();
// What to install when none of them is found, in the user's words.
QString calculatorMissing();
// The folder that holds every program's data of the user: the XDG data home on Linux, the roaming application data
// on Windows (%APPDATA% as the environment names it, else as the system knows it).
QString userDataFolder();
// The faces that stand for 宋体 (SimSun), the ledger's Chinese face, in order of preference.
QStringList songFontFaces();
// Whether both paths name one file, through whatever links (false when either is missing).
bool sameFile(const QString& a, const QString& b);
// Which file a path holds and when it was last written: a file put in place anew has another identity, so the stamp
// tells whether anyone has written since it was taken. None when the file cannot be read.
struct FileStamp
{
    quint64 identity = 0;
    qint64 seconds = 0;
    qint64 nanoseconds = 0;
    qint64 size = -1;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> fileStamp(const QString& path);
// Gives the file from a second name, to, where the file system allows it (false when it does not).
bool hardLink(const QString& from, const QString& to);
// Waits until the socket may be read (or, forWriting, written) or the milliseconds pass; false when they passed.
bool waitForSocket(qintptr socket, bool forWriting, int milliseconds);
// One byte of standard input: 1 when read, 0 at its end, -1 on failure.
int readStandardInputByte(char& byte);
// The text of a line read from standard input: in the locale's encoding on Linux, UTF-8 on Windows (the console is
// switched to it, and a program piping in writes it).
QString standardInputText(const QByteArray& bytes);
// A command of the command line writes to the console it was typed in: a Windows program built for windows has none
// of its own, and borrows its parent's for the streams the caller did not redirect. Nothing to do on Linux.
void useParentConsole();
// The program's arguments after its own name, as typed: Windows gives argv in the ANSI code page, which has no room
// for most Chinese names, so there they come from the wide command line.
QStringList commandLineArguments(int argc, char** argv);
// A named marker that other processes can see while this one runs.
void markRunning(const QString& name);

// While one lives, what is typed on the terminal is not shown; an interrupt puts the echo back before it ends the
// program.
class EchoOff
{
public:
    EchoOff();
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return m_active; }

private:
    bool m_active = false;
};

// An exclusive lock among processes on a folder, held while the object lives and let go by the system when a process
// dies. On Linux it is taken on the folder itself; Windows locks only files, so there it is taken on the file
// "kivaro.lock" in the folder, which stays.
class FolderLock
{
public:
    explicit FolderLock(const QString& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    enum class State { Locked, Busy, Failed };
    // Tries once, without waiting; why gets the system's reason when it failed.
    State tryLock(QString* why);

private:
    QString m_folder;
    // A file descriptor on Linux, a HANDLE on Windows.
    qintptr m_handle = -1;
};

} // namespace Platform
