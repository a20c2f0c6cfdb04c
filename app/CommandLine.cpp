#include "app/CommandLine.h"

#include "db/DbClass.h"
#include "db/LedgerCopy.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

enum ExitCode { kCopied = 0, kFailed = 1, kBadUsage = 2, kIncomplete = 3 };

const QString kCopyOption = QStringLiteral("--copy");

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

QString usageText()
{
    return QStringLiteral(
        "用法：kivaro --copy 源账本 目标账本\n"
        "把整个账本（帐户及其密码、所有用户的全部记录、各帐户的产品名称列表）复制到一个空的账本中。\n"
        "账本可以是数据库文件 db.sjk（或它所在的文件夹），也可以是 PostgreSQL 服务器上的数据库，\n"
        "写作连接串，例如 \"postgresql://kivaro@shop-server/ledger\" 或 \"host=shop-server dbname=ledger\"。\n"
        "目标文件不存在时从空数据库新建（所在的文件夹必须已经存在）；目标中已有帐户或记录时不复制。\n"
        "退出码：0 复制完成并核对无误；1 复制失败，目标没有改动；2 用法错误；3 目标已写入，但核对不符。\n");
}

// Lines copied of the total on standard error: one line redrawn on a terminal, a line per tenth otherwise.
class ProgressLine
{
public:
    explicit ProgressLine(bool terminal)
        : m_terminal(terminal)
    {
    }
    void show(qint64 copied, qint64 total)
    {
        if (total <= 0)
            return;
        const int percent = int(copied * 100 / total);
        const QString text = QStringLiteral("已复制 %1 / %2 条记录（%3%）").arg(copied).arg(total).arg(percent);
        if (m_terminal) {
            // The text only grows, so a redraw needs no clearing.
            if (m_drawn && copied < total && m_sinceDrawn.elapsed() < 100)
                return;
            print(stderr, QLatin1Char('\r') + text);
            m_drawn = true;
            m_sinceDrawn.start();
        } else if (percent / 10 > m_tenth) {
            m_tenth = percent / 10;
            print(stderr, text + QLatin1Char('\n'));
        }
    }
    // Ends a redrawn line, so that what follows starts on a line of its own.
    void finish()
    {
        if (std::exchange(m_drawn, false))
            print(stderr, QStringLiteral("\n"));
    }

private:
    bool m_terminal;
    bool m_drawn = false;
    int m_tenth = -1;
    QElapsedTimer m_sinceDrawn;
};

termios savedTerminal;

void restoreTerminalAndRaise(int received)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::signal(received, SIG_DFL);
    std::raise(received);
}

// While one lives, what is typed on the terminal is not shown; an interrupt puts the echo back before it ends us.
class EchoOff
{
public:
    EchoOff()
    {
        if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
            return;
        struct sigaction action = {};
        action.sa_handler = restoreTerminalAndRaise;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &action, &m_previous[i]);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        m_active = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return m_active; }

private:
    static constexpr std::array<int, 4> kSignals { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
    std::array<struct sigaction, 4> m_previous {};
    bool m_active = false;
};

// A line typed on the terminal without echo; nothing when the input ends first or is empty.
std::optional<QString> readPassword(const QString& server, const QString& reason)
{
    print(stderr, QStringLiteral("%1\n数据库服务器“%2”的密码：").arg(reason, server));
    QByteArray typed;
    bool ended = false;
    {
        const EchoOff echoOff;
        if (!echoOff.active())
            return std::nullopt;
        for (;;) {
            char ch = 0;
            const ssize_t got = read(STDIN_FILENO, &ch, 1);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                ended = true;
                break;
            }
            if (ch == '\n')
                break;
            typed.append(ch);
        }
    }
    print(stderr, QStringLiteral("\n"));
    if (typed.endsWith('\r'))
        typed.chop(1);
    const QString password = QString::fromLocal8Bit(typed);
    typed.fill('\0');
    if (ended || password.isEmpty())
        return std::nullopt;
    return password;
}

// The store's hooks as a window-less run needs them, put back at the end.
class TerminalHooks
{
public:
    TerminalHooks()
        : m_prompt(std::exchange(TDbMan::passwordPrompt, nullptr))
        , m_notice(std::exchange(TDbMan::longWorkNotice, nullptr))
    {
        if (isatty(STDIN_FILENO))
            TDbMan::passwordPrompt = readPassword;
        TDbMan::longWorkNotice = [](const QString& text) {
            print(stderr, text + QLatin1Char('\n'));
            return std::shared_ptr<void>();
        };
    }
    ~TerminalHooks()
    {
        TDbMan::passwordPrompt = std::move(m_prompt);
        TDbMan::longWorkNotice = std::move(m_notice);
    }
    TerminalHooks(const TerminalHooks&) = delete;
    TerminalHooks& operator=(const TerminalHooks&) = delete;

private:
    decltype(TDbMan::passwordPrompt) m_prompt;
    decltype(TDbMan::longWorkNotice) m_notice;
};

QString summaryText(const CopySummary& summary)
{
    return QStringLiteral("复制完成，核对无误：帐户 %1 个，记录 %2 条，用户 %3 个（其中没有帐户的 %4 个），"
                          "产品名称列表 %5 份。\n")
        .arg(summary.accounts)
        .arg(summary.lines)
        .arg(summary.users)
        .arg(summary.usersWithoutAccount)
        .arg(summary.productLists);
}

int runCopy(const QString& sourceText, const QString& targetText)
{
    const TerminalHooks hooks;
    const LedgerLocation source = ledgerFromArgument(sourceText);
    const LedgerLocation target = ledgerFromArgument(targetText);
    ProgressLine progress(isatty(STDERR_FILENO));
    try {
        print(stderr, QStringLiteral("正在把账本“%1”复制到“%2”……\n").arg(ledgerName(source), ledgerName(target)));
        const CopySummary summary
            = copyLedger(source, target, [&progress](qint64 copied, qint64 total) { progress.show(copied, total); });
        progress.finish();
        print(stdout, summaryText(summary));
        return kCopied;
    } catch (const TCopyIncomplete& failure) {
        progress.finish();
        print(stderr, QStringLiteral("复制没有完成：%1\n").arg(failure.text()));
        return kIncomplete;
    } catch (const KivaroError& failure) {
        progress.finish();
        print(stderr, QStringLiteral("复制失败：%1\n目标账本没有改动。\n").arg(failure.text()));
        return kFailed;
    } catch (const std::exception& failure) {
        progress.finish();
        print(stderr, QStringLiteral("复制失败：%1\n").arg(QString::fromLocal8Bit(failure.what())));
        return kFailed;
    }
}

} // namespace

std::optional<int> runCommandLineTool(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    const qsizetype at = arguments.indexOf(kCopyOption);
    const bool copyWithValue = std::any_of(arguments.cbegin(), arguments.cend(),
        [](const QString& argument) { return argument.startsWith(kCopyOption + QLatin1Char('=')); });
    if (at < 0 && !copyWithValue)
        return std::nullopt;

    int appArgc = argc;
    const QCoreApplication app(appArgc, argv);
    const QStringList values = arguments.mid(at + 1, 2);
    const bool wellFormed = at >= 0 && !copyWithValue && arguments.count(kCopyOption) == 1 && values.size() == 2
        && std::none_of(values.cbegin(), values.cend(),
            [](const QString& value) { return value.trimmed().isEmpty() || value.startsWith(QLatin1Char('-')); });
    if (!wellFormed) {
        print(stderr, usageText());
        return kBadUsage;
    }
    return runCopy(values.at(0), values.at(1));
}
