#include "base/Platform.h"

#include <QFile>

#ifdef Q_OS_WIN
// Before windows.h, which would bring the older Winsock.
#include <winsock2.h>

#include <cstdio>
#include <io.h>
#include <optional>
#include <shlobj.h>
#include <tuple>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <QStandardPaths>
#include <QSystemSemaphore>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace Platform {

#ifdef Q_OS_WIN

namespace {

    QString systemError(DWORD code = GetLastError())
    {
        wchar_t* text = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
            0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        QString why = length ? QString::fromWCharArray(text, int(length)).trimmed()
                             : QStringLiteral("Windows error %1").arg(code);
        LocalFree(text);
        return why;
    }

    std::wstring nativePath(const QString& path)
    {
        return QString(path).replace(QLatin1Char('/'), QLatin1Char('\\')).toStdWString();
    }

} // namespace

QString syncFile(const QString& path)
{
    const HANDLE file = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return systemError();
    const bool synced = FlushFileBuffers(file);
    const QString why = synced ? QString() : systemError();
    CloseHandle(file);
    return why;
}

QString syncHandle(int handle)
{
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(handle));
    if (file == INVALID_HANDLE_VALUE || !FlushFileBuffers(file))
        return systemError();
    return {};
}

void syncFolder(const QString&) { }

QString replaceFile(const QString& from, const QString& to)
{
    if (!MoveFileExW(
            nativePath(from).c_str(), nativePath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return systemError();
    return {};
}

void useParentConsole()
{
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    const auto unset = [](DWORD which) {
        const HANDLE handle = GetStdHandle(which);
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    };
    if (unset(STD_OUTPUT_HANDLE))
        std::ignore = freopen("CONOUT$", "w", stdout);
    if (unset(STD_ERROR_HANDLE))
        std::ignore = freopen("CONOUT$", "w", stderr);
    if (unset(STD_INPUT_HANDLE))
        std::ignore = freopen("CONIN$", "r", stdin);
    // The commands write and read UTF-8.
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
}

QString standardInputText(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

QStringList commandLineArguments(int, char**)
{
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    QStringList arguments;
    for (int i = 1; words != nullptr && i < count; ++i)
        arguments.append(QString::fromWCharArray(words[i]));
    LocalFree(words);
    return arguments;
}

bool hardLink(const QString& from, const QString& to)
{
    return CreateHardLinkW(nativePath(to).c_str(), nativePath(from).c_str(), nullptr);
}

bool waitForSocket(qintptr socket, bool forWriting, int milliseconds)
{
    WSAPOLLFD wait { SOCKET(socket), short(forWriting ? POLLWRNORM : POLLRDNORM), 0 };
    return WSAPoll(&wait, 1, milliseconds) != 0;
}

int readStandardInputByte(char& byte)
{
    const int got = _read(0, &byte, 1);
    return got < 0 ? -1 : got;
}

bool mayReadWrite(const QString& path)
{
    const HANDLE file = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_ACCESS_DENIED;
    CloseHandle(file);
    return true;
}

bool standardInputIsTerminal()
{
    return _isatty(_fileno(stdin));
}

bool standardErrorIsTerminal()
{
    return _isatty(_fileno(stderr));
}

QStringList calculatorPrograms()
{
    return { QStringLiteral("calc.exe") };
}

QString calculatorMissing()
{
    return QStringLiteral("没有找到 Windows 的计算器（calc.exe），请在“设置 → 应用 → 可选功能”中把它装回来。");
}

QString userDataFolder()
{
    // The roaming folder as the environment names it, where a portable setup or a test may move it.
    const QString named = qEnvironmentVariable("APPDATA");
    if (!named.isEmpty())
        return QString(named).replace(QLatin1Char('\\'), QLatin1Char('/'));
    wchar_t* found = nullptr;
    QString folder;
    if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &found) == S_OK)
        folder = QString::fromWCharArray(found).replace(QLatin1Char('\\'), QLatin1Char('/'));
    CoTaskMemFree(found);
    return folder;
}

QStringList songFontFaces()
{
    return { QStringLiteral("SimSun"), QStringLiteral("NSimSun"), QStringLiteral("Microsoft YaHei") };
}

namespace {

    // What the system knows of a file or folder, opened for nothing but asking.
    std::optional<BY_HANDLE_FILE_INFORMATION> fileInformation(const QString& path)
    {
        const HANDLE file
            = CreateFileW(nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return std::nullopt;
        BY_HANDLE_FILE_INFORMATION info {};
        const bool known = GetFileInformationByHandle(file, &info);
        CloseHandle(file);
        if (!known)
            return std::nullopt;
        return info;
    }

} // namespace

std::optional<FileStamp> fileStamp(const QString& path)
{
    const std::optional<BY_HANDLE_FILE_INFORMATION> info = fileInformation(path);
    if (!info)
        return std::nullopt;
    // Times in units of 100 ns.
    const qint64 written = (qint64(info->ftLastWriteTime.dwHighDateTime) << 32) | info->ftLastWriteTime.dwLowDateTime;
    return FileStamp { (quint64(info->nFileIndexHigh) << 32) | info->nFileIndexLow, written / 10'000'000,
        written % 10'000'000 * 100, (qint64(info->nFileSizeHigh) << 32) | info->nFileSizeLow };
}

bool sameFile(const QString& a, const QString& b)
{
    const auto identity = [](const QString& path) -> std::optional<std::tuple<DWORD, DWORD, DWORD>> {
        const std::optional<BY_HANDLE_FILE_INFORMATION> info = fileInformation(path);
        if (!info)
            return std::nullopt;
        return std::tuple { info->dwVolumeSerialNumber, info->nFileIndexHigh, info->nFileIndexLow };
    };
    const auto first = identity(a);
    return first && first == identity(b);
}

void markRunning(const QString& name)
{
    // Held until the process ends.
    CreateMutexW(nullptr, FALSE, name.toStdWString().c_str());
}

namespace {

    DWORD savedConsoleMode = 0;

    BOOL WINAPI restoreConsole(DWORD)
    {
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), savedConsoleMode);
        // The default handler ends the program.
        return FALSE;
    }

} // namespace

EchoOff::EchoOff()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!GetConsoleMode(input, &savedConsoleMode))
        return;
    SetConsoleCtrlHandler(restoreConsole, TRUE);
    m_active = SetConsoleMode(input, savedConsoleMode & ~DWORD(ENABLE_ECHO_INPUT));
}

EchoOff::~EchoOff()
{
    if (!m_active)
        return;
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), savedConsoleMode);
    SetConsoleCtrlHandler(restoreConsole, FALSE);
}

FolderLock::FolderLock(const QString& folder)
    : m_folder(folder)
{
}

FolderLock::~FolderLock()
{
    if (m_handle != -1) {
        OVERLAPPED at {};
        at.Offset = 0x7FFFFFFF;
        UnlockFileEx(reinterpret_cast<HANDLE>(m_handle), 0, 1, 0, &at);
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    }
}

FolderLock::State FolderLock::tryLock(QString* why)
{
    if (m_handle == -1) {
        const HANDLE file = CreateFileW(nativePath(m_folder + QStringLiteral("/kivaro.lock")).c_str(),
            GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            *why = systemError();
            return State::Failed;
        }
        m_handle = reinterpret_cast<qintptr>(file);
    }
    // Windows' locks are mandatory: the byte locked lies far beyond the file's end, where nobody reads.
    OVERLAPPED at {};
    at.Offset = 0x7FFFFFFF;
    if (LockFileEx(
            reinterpret_cast<HANDLE>(m_handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return State::Locked;
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)
        return State::Busy;
    *why = systemError(code);
    return State::Failed;
}

#else

namespace {

    QString systemError()
    {
        return QString::fromLocal8Bit(std::strerror(errno));
    }

    int openPath(const QString& path, int flags)
    {
        return ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    }

} // namespace

QString syncFile(const QString& path)
{
    const int fd = openPath(path, O_RDONLY);
    if (fd < 0)
        return systemError();
    const QString why = syncHandle(fd);
    ::close(fd);
    return why;
}

QString syncHandle(int handle)
{
    return ::fsync(handle) == 0 ? QString() : systemError();
}

void syncFolder(const QString& folder)
{
    // Some file systems cannot sync a folder; the rename is then left to the system.
    const int fd = openPath(folder, O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString replaceFile(const QString& from, const QString& to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return systemError();
    return {};
}

void useParentConsole() { }

QString standardInputText(const QByteArray& bytes)
{
    return QString::fromLocal8Bit(bytes);
}

QStringList commandLineArguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    return arguments;
}

bool hardLink(const QString& from, const QString& to)
{
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool waitForSocket(qintptr socket, bool forWriting, int milliseconds)
{
    pollfd wait { int(socket), short(forWriting ? POLLOUT : POLLIN), 0 };
    return ::poll(&wait, 1, milliseconds) != 0;
}

int readStandardInputByte(char& byte)
{
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        return got < 0 ? -1 : int(got);
    }
}

bool mayReadWrite(const QString& path)
{
    const int fd = openPath(path, O_RDWR);
    if (fd < 0)
        return errno != EACCES && errno != EPERM;
    ::close(fd);
    return true;
}

bool standardInputIsTerminal()
{
    return isatty(STDIN_FILENO);
}

bool standardErrorIsTerminal()
{
    return isatty(STDERR_FILENO);
}

QString userDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QStringList songFontFaces()
{
    return { QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Serif CJK SC"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei") };
}

QStringList calculatorPrograms()
{
    return { QStringLiteral("gnome-calculator"), QStringLiteral("kcalc"), QStringLiteral("mate-calc"),
        QStringLiteral("galculator"), QStringLiteral("qalculate-gtk"), QStringLiteral("xcalc") };
}

QString calculatorMissing()
{
    return QStringLiteral("没有找到计算器。请先安装一个，例如在终端里运行：\nsudo apt install gnome-calculator\n"
                          "（也可以是 kcalc、mate-calc 或 galculator）");
}

std::optional<FileStamp> fileStamp(const QString& path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FileStamp { quint64(info.st_ino), qint64(info.st_mtim.tv_sec), qint64(info.st_mtim.tv_nsec),
        qint64(info.st_size) };
}

bool sameFile(const QString& a, const QString& b)
{
    struct stat first
    {
    };
    struct stat second
    {
    };
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

void markRunning(const QString& name)
{
    static QSystemSemaphore marker(name, 1, QSystemSemaphore::Open);
}

namespace {

    termios savedTerminal;
    constexpr std::array<int, 4> kSignals { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
    std::array<struct sigaction, 4> previousActions {};

    void restoreTerminalAndRaise(int received)
    {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        std::signal(received, SIG_DFL);
        std::raise(received);
    }

} // namespace

EchoOff::EchoOff()
{
    if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = restoreTerminalAndRaise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &action, &previousActions[i]);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    m_active = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
}

EchoOff::~EchoOff()
{
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &previousActions[i], nullptr);
}

FolderLock::FolderLock(const QString& folder)
    : m_folder(folder)
{
}

FolderLock::~FolderLock()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
}

FolderLock::State FolderLock::tryLock(QString* why)
{
    if (m_handle < 0) {
        m_handle = openPath(m_folder, O_RDONLY | O_DIRECTORY);
        if (m_handle < 0) {
            *why = systemError();
            return State::Failed;
        }
    }
    if (::flock(int(m_handle), LOCK_EX | LOCK_NB) == 0)
        return State::Locked;
    if (errno == EWOULDBLOCK || errno == EINTR)
        return State::Busy;
    *why = systemError();
    return State::Failed;
}

#endif

} // namespace Platform
