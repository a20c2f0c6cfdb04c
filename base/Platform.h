#pragma once

#include <QString>
#include <QStringList>

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
// The folder that holds every program's data of the user: the XDG data home on Linux, the roaming application data
// (%APPDATA%) on Windows.
QString userDataFolder();
// The faces that stand for 宋体 (SimSun), the ledger's Chinese face, in order of preference.
QStringList songFontFaces();
// Whether both paths name one file, through whatever links (false when either is missing).
bool sameFile(const QString& a, const QString& b);
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
