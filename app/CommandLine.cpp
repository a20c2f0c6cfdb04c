#include "app/CommandLine.h"

#include "app/Arguments.h"
#include "app/Terminal.h"

#include "app/Startup.h"
#include "base/HiClass.h"
#include "base/Platform.h"
#include "base/SafeFile.h"
#include "db/Backup.h"
#include "db/DbClass.h"
#include "db/LedgerCopy.h"
#include "db/Outbox.h"
#include "db/SalesCsv.h"
#include "forms/BackupUi.h"
#include "reports/ViewExport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <utility>
#include <variant>

namespace {

enum ExitCode { kCopied = 0, kDone = 0, kFailed = 1, kBadUsage = 2, kIncomplete = 3 };

const QString kCopyOption = QStringLiteral("--copy");
const QString kBackupOption = QStringLiteral("--backup");
const QString kRestoreOption = QStringLiteral("--restore");
const QString kYesOption = QStringLiteral("--yes");
const QString kExportOption = QStringLiteral("--export");
const QString kUserOption = QStringLiteral("--user");
const QString kPasswordStdinOption = QStringLiteral("--password-stdin");
const QString kAddUserOption = QStringLiteral("--add-user");
const QString kSetPasswordOption = QStringLiteral("--set-password");
const QString kOwnerOption = QStringLiteral("--owner");
const QString kUsersOption = QStringLiteral("--users");
const QString kOutboxOption = QStringLiteral("--outbox");

QString usageText()
{
    return QStringLiteral(
        "用法：kivaro --copy 源账本 目标账本\n"
        "把整个账本（帐户及其密码、所有用户的全部记录、各帐户的产品名称列表和商品资料）复制到一个空的账本中。\n"
        "账本可以是数据库文件 db.sjk（或它所在的文件夹），也可以是 PostgreSQL 服务器上的数据库，\n"
        "写作连接串，例如 \"postgresql://kivaro@shop-server/ledger\" 或 \"host=shop-server dbname=ledger\"。\n"
        "目标文件不存在时从空数据库新建（所在的文件夹必须已经存在）；目标中已有帐户或记录时不复制。\n"
        "退出码：0 复制完成并核对无误；1 复制失败，目标没有改动；2 用法错误；3 目标已写入，但核对不符。\n"
        "\n"
        "用法：kivaro --backup 备份文件 [--database 账本]\n"
        "把账本（不给 --database 时是程序平时使用的账本）备份到一个文件中，写完后核对。\n"
        "退出码：0 备份完成；1 备份失败，没有写出文件；2 用法错误。\n"
        "\n"
        "用法：kivaro --restore 备份文件 --yes [--database 账本]\n"
        "用备份文件替换账本中的全部帐户和记录；替换前，现有的账本保存在数据文件夹的 backups 中。\n"
        "退出码：0 恢复完成；1 恢复失败，账本没有改动；2 用法错误（包括没有 --yes）；3 账本已写入，但核对不符。\n"
        "\n"
        "用法：kivaro --export 视图 开始日期 结束日期 文件 --user 用户名 [--database 账本] [--password-stdin]\n"
        "把用户在两个日期之间（含这两天）的一个视图的全部行导出到文件中。视图是 detail（每天销售产品明细列表）、\n"
        "daily（每天销售数量金额统计）、perday（每天各个产品销量统计）或 ranking（各个产品销售数量排行）；\n"
        "日期写作 yyyy-MM-dd；文件的格式由扩展名决定：.xlsx、.csv 或 .pdf。\n"
        "密码在终端上输入（不显示）；加上 --password-stdin 时从标准输入读一行。\n"
        "退出码：0 导出完成；1 导出失败（帐户或密码不对、没有记录、无法写入），没有写出文件；2 用法错误。\n"
        "\n"
        "用法：kivaro --add-user 用户名 [--database 账本] [--password-stdin]\n"
        "      kivaro --set-password 用户名 [--database 账本] [--password-stdin]\n"
        "      kivaro --owner 用户名 [--database 账本]\n"
        "      kivaro --users [--database 账本]\n"
        "管理帐户：新建帐户；为帐户设置密码（不需要旧密码，例如复制来的、等待设置密码的帐户）；把帐户设为店主\n"
        "（只有服务器上的账本有店主，店主可以查看全店的记录）；列出帐户及能否登录。服务器上的账本由管理员\n"
        "（数据库的所有者）来做，需要时在终端上询问管理员的密码。帐户的密码在终端上输入（不显示）；\n"
        "加上 --password-stdin 时从标准输入读一行。\n"
        "退出码：0 完成；1 失败（帐户已存在或不存在、服务器拒绝），账本没有改动；2 用法错误。\n"
        "\n"
        "用法：kivaro --outbox 文件.csv [--user 用户名] [--database 账本]\n"
        "把这台电脑上服务器账本的待上传记录（离线时保存、还没有送到服务器的）写成可以导入的 CSV 文件，\n"
        "例如帐户被删除或改了密码、无法上传的那些；它们仍然留在待上传记录中。\n"
        "退出码：0 完成；1 没有待上传的记录或写入失败；2 用法错误（有几个帐户的记录时要用 --user 选一个）。\n");
}

// How far work is, in words: the part done, the whole and the percentage.
using ProgressText = QString (*)(qint64 done, qint64 total, int percent);

QString linesCopied(qint64 done, qint64 total, int percent)
{
    return QStringLiteral("已复制 %1 / %2 条记录（%3%）").arg(done).arg(total).arg(percent);
}

// The work done of the total on standard error: one line redrawn on a terminal, a line per tenth otherwise.
class ProgressLine
{
public:
    explicit ProgressLine(bool terminal, ProgressText describe = linesCopied)
        : m_terminal(terminal)
        , m_describe(describe)
    {
    }
    void show(qint64 done, qint64 total)
    {
        if (total <= 0)
            return;
        const int percent = int(std::clamp<qint64>(done * 100 / total, 0, 100));
        QString text = m_describe(done, total, percent);
        if (m_terminal) {
            if (m_drawn && done < total && m_sinceDrawn.elapsed() < 100)
                return;
            // Work of two parts starts again from nothing: what is left of a longer line is blanked.
            const qsizetype drawn = text.size();
            text += QString(std::max<qsizetype>(0, m_drawnSize - drawn), QLatin1Char(' '));
            m_drawnSize = drawn;
            print(stderr, QLatin1Char('\r') + text);
            m_drawn = true;
            m_sinceDrawn.start();
        } else if (percent / 10 > m_tenth || percent / 10 < m_tenth - 1) {
            m_tenth = percent / 10;
            print(stderr, text + QLatin1Char('\n'));
        }
    }
    // Ends a redrawn line, so that what follows starts on a line of its own.
    void finish()
    {
        m_drawnSize = 0;
        if (std::exchange(m_drawn, false))
            print(stderr, QStringLiteral("\n"));
    }

    BackupProgress callback()
    {
        return [this](qint64 done, qint64 total) { show(done, total); };
    }

private:
    bool m_terminal;
    ProgressText m_describe;
    bool m_drawn = false;
    qsizetype m_drawnSize = 0;
    int m_tenth = -1;
    QElapsedTimer m_sinceDrawn;
};

// The store's hooks as a window-less run needs them, put back at the end.
class TerminalHooks
{
public:
    TerminalHooks()
        : m_prompt(std::exchange(TDbMan::passwordPrompt, nullptr))
        , m_notice(std::exchange(TDbMan::longWorkNotice, nullptr))
    {
        if (Platform::standardInputIsTerminal())
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
    ProgressLine progress(Platform::standardErrorIsTerminal());
    try {
        print(stderr, QStringLiteral("正在把账本“%1”复制到“%2”……\n").arg(ledgerName(source), ledgerName(target)));
        const CopySummary summary
            = copyLedger(source, target, [&progress](qint64 copied, qint64 total) { progress.show(copied, total); });
        progress.finish();
        print(stdout, summaryText(summary));
        // Passwords do not travel between a file and a server: a file's hash is no server password, and a server
        // gives out none.
        QStringList waiting;
        for (const TDbMan::AccountInfo& account : TDbMan(target).Accounts()) {
            if (account.waitingForPassword)
                waiting.append(account.name);
        }
        if (!waiting.isEmpty())
            print(stdout,
                QStringLiteral("以下 %1 个帐户还没有密码，要用 kivaro --set-password 用户名 --database 目标账本 "
                               "设置后才能登录：%2\n")
                    .arg(waiting.size())
                    .arg(waiting.join(QStringLiteral("、"))));
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

QString percentBackedUp(qint64, qint64, int percent)
{
    return QStringLiteral("已备份 %1%").arg(percent);
}

QString percentRestored(qint64, qint64, int percent)
{
    return QStringLiteral("已恢复 %1%").arg(percent);
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

int runBackup(const LedgerLocation& ledger, const QString& file)
{
    const TerminalHooks hooks;
    ProgressLine progress(Platform::standardErrorIsTerminal(), percentBackedUp);
    try {
        print(stderr, QStringLiteral("正在把账本“%1”备份到“%2”……\n").arg(ledgerName(ledger), native(file)));
        const LedgerFileInfo written = backupLedger(ledger, file, progress.callback());
        progress.finish();
        print(stdout, QStringLiteral("已备份到“%1”：%2。\n").arg(native(file), backupContentsText(written)));
        return kDone;
    } catch (const std::exception& failure) {
        progress.finish();
        const auto* own = dynamic_cast<const KivaroError*>(&failure);
        print(stderr,
            QStringLiteral("备份失败：%1\n没有写出备份文件。\n")
                .arg(own ? own->text() : QString::fromLocal8Bit(failure.what())));
        return kFailed;
    }
}

int runRestore(const LedgerLocation& ledger, const QString& file)
{
    const TerminalHooks hooks;
    ProgressLine progress(Platform::standardErrorIsTerminal(), percentRestored);
    try {
        const LedgerFileInfo held = inspectBackup(file, ledger);
        const QString safetyFolder = backupsFolder(THi::GetDataDir(QString()));
        print(stderr,
            QStringLiteral("备份文件“%1”中有：%2。\n正在用它替换账本“%3”……\n")
                .arg(native(file), backupContentsText(held), ledgerName(ledger)));
        const QString kept = restoreLedger(ledger, file, safetyFolder, progress.callback());
        progress.finish();
        const QString previous = kept.isEmpty() ? QStringLiteral("此前没有账本文件。")
                                                : QStringLiteral("原来的账本保存在“%1”。").arg(native(kept));
        print(stdout,
            QStringLiteral("已把“%1”恢复到账本“%2”：%3。\n%4\n")
                .arg(native(file), ledgerName(ledger), backupContentsText(held), previous));
        return kDone;
    } catch (const TCopyIncomplete& failure) {
        progress.finish();
        print(stderr, QStringLiteral("恢复没有完成：%1\n").arg(failure.text()));
        return kIncomplete;
    } catch (const std::exception& failure) {
        progress.finish();
        const auto* own = dynamic_cast<const KivaroError*>(&failure);
        print(stderr,
            QStringLiteral("恢复失败：%1\n账本没有改动。\n")
                .arg(own ? own->text() : QString::fromLocal8Bit(failure.what())));
        return kFailed;
    }
}

// What --backup FILE and --restore FILE are given besides: the ledger, and for a restore the consent.
struct LedgerCommand
{
    QString file;
    std::optional<QString> database;
    bool yes = false;
};

// Nothing when anything else is given: a command that replaces a ledger runs only as written.
std::optional<LedgerCommand> parseLedgerCommand(const QStringList& arguments, const QString& command)
{
    QList<OptionSpec> options { { command, 1 } };
    if (command == kRestoreOption)
        options.append({ kYesOption, 0 });
    const std::optional<GivenOptions> given = readOptions(arguments, options);
    if (!given || !given->has(command))
        return std::nullopt;
    return LedgerCommand { QFileInfo(given->value(command)).absoluteFilePath(), given->database,
        given->has(kYesOption) };
}

int runLedgerCommand(const QStringList& arguments, const QString& command)
{
    const std::optional<LedgerCommand> parsed = parseLedgerCommand(arguments, command);
    if (!parsed) {
        print(stderr, usageText());
        return kBadUsage;
    }
    if (command == kRestoreOption && !parsed->yes) {
        print(stderr,
            QStringLiteral("恢复会用备份文件替换账本中的全部帐户和记录，所以需要加上 --yes 才会进行：\n"
                           "  kivaro --restore 备份文件 --yes\n账本没有改动。\n"));
        return kBadUsage;
    }
    LedgerLocation ledger;
    try {
        ledger = parsed->database ? ledgerFromArgument(*parsed->database) : currentLedger();
    } catch (const KivaroError& failure) {
        print(stderr, failure.text() + QLatin1Char('\n'));
        return kFailed;
    }
    return command == kBackupOption ? runBackup(ledger, parsed->file) : runRestore(ledger, parsed->file);
}

// What --export is given: the view, the range, the file, the account and where its password comes from.
struct ExportCommand
{
    QString view;
    QString from;
    QString to;
    QString file;
    QString user;
    std::optional<QString> database;
    bool passwordFromInput = false;
};

std::optional<ExportCommand> parseExportCommand(const QStringList& arguments)
{
    const std::optional<GivenOptions> given
        = readOptions(arguments, { { kExportOption, 4 }, { kUserOption, 1, true }, { kPasswordStdinOption, 0 } });
    if (!given || !given->has(kExportOption) || !given->has(kUserOption))
        return std::nullopt;
    return ExportCommand { given->value(kExportOption, 0), given->value(kExportOption, 1),
        given->value(kExportOption, 2), QFileInfo(given->value(kExportOption, 3)).absoluteFilePath(),
        given->value(kUserOption), given->database, given->has(kPasswordStdinOption) };
}

// What the command asks for, checked before any password is read; a usage error otherwise.
struct ExportTask
{
    ReviewView view = ReviewView::Detail;
    SalesRange range;
    QString file;
};

std::variant<ExportTask, QString> checkExportCommand(const ExportCommand& command)
{
    const std::optional<ReviewView> view = viewFromKey(command.view);
    if (!view)
        return QStringLiteral("不认识的视图“%1”：应为 detail、daily、perday 或 ranking。").arg(command.view);
    const QString format = QStringLiteral("yyyy-MM-dd");
    const QDate first = QDate::fromString(command.from, format);
    const QDate last = QDate::fromString(command.to, format);
    for (const auto& [day, text] : { std::pair { first, command.from }, std::pair { last, command.to } }) {
        if (!day.isValid())
            return QStringLiteral("“%1”不是日期：日期写作 yyyy-MM-dd，例如 2024-01-31。").arg(text);
    }
    if (first > last)
        return QStringLiteral("开始日期 %1 在结束日期 %2 之后。").arg(command.from, command.to);
    if (!exportFormatOf(command.file))
        return QStringLiteral("不知道用什么格式写“%1”：文件名应以 .xlsx、.csv 或 .pdf 结尾。")
            .arg(native(command.file));
    return ExportTask { *view, { command.user, first, last }, command.file };
}

// An account's password: a line of standard input, or typed on the terminal without echo.
std::optional<QString> accountPassword(const QString& user, bool fromInput)
{
    if (fromInput) {
        const InputLine line = readInputLine();
        if (line.ended && line.text.isEmpty())
            return std::nullopt;
        return line.text;
    }
    if (!Platform::standardInputIsTerminal())
        return std::nullopt;
    const std::optional<InputLine> typed = readWithoutEcho(QStringLiteral("帐户“%1”的密码：").arg(user));
    if (!typed || (typed->ended && typed->text.isEmpty()))
        return std::nullopt;
    return typed->text;
}

QString percentExported(qint64, qint64, int percent)
{
    return QStringLiteral("已导出 %1%").arg(percent);
}

int runExport(const LedgerLocation& ledger, const ExportTask& task, const QString& password)
{
    const TerminalHooks hooks;
    ProgressLine progress(Platform::standardErrorIsTerminal(), percentExported);
    try {
        TDbMan db(ledger);
        if (!db.CheckUser(task.range.userName, password)) {
            print(stderr, QStringLiteral("帐户“%1”不存在，或密码不对。\n没有写出文件。\n").arg(task.range.userName));
            return kFailed;
        }
        ViewRows rows(db, task.view, task.range);
        if (rows.count() == 0) {
            print(stderr,
                QStringLiteral("%1 至 %2 之间没有可以导出的记录。\n没有写出文件。\n")
                    .arg(task.range.first.toString(Qt::ISODate), task.range.last.toString(Qt::ISODate)));
            return kFailed;
        }
        print(stderr, QStringLiteral("正在把“%1”导出到“%2”……\n").arg(viewTitle(task.view), native(task.file)));
        exportView(rows, task.range.userName, task.file, progress.callback());
        progress.finish();
        print(stdout, QStringLiteral("已导出 %1 行到“%2”。\n").arg(rows.count()).arg(native(task.file)));
        return kDone;
    } catch (const std::exception& failure) {
        progress.finish();
        const auto* own = dynamic_cast<const KivaroError*>(&failure);
        print(stderr,
            QStringLiteral("导出失败：%1\n没有写出文件。\n")
                .arg(own ? own->text() : QString::fromLocal8Bit(failure.what())));
        return kFailed;
    }
}

int runExportCommand(const QStringList& arguments)
{
    const std::optional<ExportCommand> parsed = parseExportCommand(arguments);
    if (!parsed) {
        print(stderr, usageText());
        return kBadUsage;
    }
    const std::variant<ExportTask, QString> checked = checkExportCommand(*parsed);
    if (const auto* problem = std::get_if<QString>(&checked)) {
        print(stderr, *problem + QLatin1Char('\n'));
        return kBadUsage;
    }
    const std::optional<QString> password = accountPassword(parsed->user, parsed->passwordFromInput);
    if (!password) {
        print(stderr,
            QStringLiteral("没有读到密码：请在终端上运行以输入密码，或加上 --password-stdin 从标准输入给出一行密码。\n"
                           "没有写出文件。\n"));
        return kBadUsage;
    }
    LedgerLocation ledger;
    try {
        ledger = parsed->database ? ledgerFromArgument(*parsed->database) : currentLedger();
    } catch (const KivaroError& failure) {
        print(stderr, failure.text() + QLatin1Char('\n'));
        return kFailed;
    }
    return runExport(ledger, std::get<ExportTask>(checked), *password);
}

// What an account command is given: the account (none for --users), the ledger and where a password comes from.
struct AccountCommand
{
    QString command;
    QString name;
    std::optional<QString> database;
    bool passwordFromInput = false;
};

std::optional<AccountCommand> parseAccountCommand(const QStringList& arguments, const QString& command)
{
    const bool named = command != kUsersOption;
    QList<OptionSpec> options { { command, named ? 1 : 0 } };
    if (command == kAddUserOption || command == kSetPasswordOption)
        options.append({ kPasswordStdinOption, 0 });
    const std::optional<GivenOptions> given = readOptions(arguments, options);
    if (!given || !given->has(command))
        return std::nullopt;
    return AccountCommand { command, given->value(command), given->database, given->has(kPasswordStdinOption) };
}

int runAccountCommand(const QStringList& arguments, const QString& command)
{
    const std::optional<AccountCommand> parsed = parseAccountCommand(arguments, command);
    if (!parsed) {
        print(stderr, usageText());
        return kBadUsage;
    }
    std::optional<QString> password;
    if (command == kAddUserOption || command == kSetPasswordOption) {
        password = accountPassword(parsed->name, parsed->passwordFromInput);
        if (!password) {
            print(stderr,
                QStringLiteral("没有读到密码：请在终端上运行以输入密码，或加上 --password-stdin "
                               "从标准输入给出一行密码。\n账本没有改动。\n"));
            return kBadUsage;
        }
    }
    const TerminalHooks hooks;
    try {
        TDbMan db(parsed->database ? ledgerFromArgument(*parsed->database) : currentLedger());
        if (command == kUsersOption) {
            for (const TDbMan::AccountInfo& account : db.Accounts())
                print(stdout,
                    QStringLiteral("%1\t%2%3\n")
                        .arg(account.name,
                            account.waitingForPassword ? QStringLiteral("等待设置密码") : QStringLiteral("可以登录"),
                            account.shopOwner ? QStringLiteral("\t店主") : QString()));
            return kDone;
        }
        bool done = false;
        QString refusal = QStringLiteral("没有帐户“%1”。").arg(parsed->name);
        if (command == kAddUserOption) {
            done = db.AddUser(parsed->name, *password);
            refusal = QStringLiteral("帐户“%1”已经存在。").arg(parsed->name);
        } else if (command == kSetPasswordOption) {
            done = db.SetPassword(parsed->name, *password);
        } else {
            done = db.SetShopOwner(parsed->name);
        }
        if (!done) {
            print(stderr, refusal + QStringLiteral("\n账本没有改动。\n"));
            return kFailed;
        }
        print(stdout,
            command == kAddUserOption           ? QStringLiteral("已新建帐户“%1”。\n").arg(parsed->name)
                : command == kSetPasswordOption ? QStringLiteral("已为帐户“%1”设置密码。\n").arg(parsed->name)
                                                : QStringLiteral("帐户“%1”现在是店主。\n").arg(parsed->name));
        return kDone;
    } catch (const KivaroError& failure) {
        print(stderr, failure.text() + QStringLiteral("\n账本没有改动。\n"));
        return kFailed;
    }
}

int runCopyCommand(const QStringList& arguments)
{
    // Both ledgers are named after --copy; other options are ignored, as they always were.
    const qsizetype at = arguments.indexOf(kCopyOption);
    const QStringList values = arguments.mid(at + 1, 2);
    const bool withValue = std::any_of(arguments.cbegin(), arguments.cend(),
        [](const QString& argument) { return argument.startsWith(kCopyOption + QLatin1Char('=')); });
    const bool wellFormed = at >= 0 && !withValue && arguments.count(kCopyOption) == 1 && values.size() == 2
        && std::none_of(values.cbegin(), values.cend(),
            [](const QString& value) { return value.trimmed().isEmpty() || value.startsWith(QLatin1Char('-')); });
    if (!wellFormed) {
        print(stderr, usageText());
        return kBadUsage;
    }
    return runCopy(values.at(0), values.at(1));
}

// Writes the saves waiting in this computer's outbox as a file the import reads.
int runOutboxCommand(const QStringList& arguments)
{
    const std::optional<GivenOptions> given = readOptions(arguments, { { kOutboxOption, 1 }, { kUserOption, 1 } });
    if (!given || !given->has(kOutboxOption)) {
        print(stderr, usageText());
        return kBadUsage;
    }
    const QString file = given->value(kOutboxOption);
    const QString user = given->value(kUserOption);
    const std::optional<QString> database = given->database;
    try {
        const LedgerLocation ledger = database ? ledgerFromArgument(*database) : currentLedger();
        if (!ledger.isServer() || !QFile::exists(outboxPath(ledger))) {
            print(stderr, QStringLiteral("这台电脑上没有这个账本的待上传记录。\n"));
            return kFailed;
        }
        const QList<OutboxSave> saves = OutboxStore(ledger.asOffline()).saves(user);
        QStringList users;
        QList<SalesLine> lines;
        for (const OutboxSave& save : saves) {
            if (!users.contains(save.userName))
                users.append(save.userName);
            lines += save.lines;
        }
        if (users.size() > 1) {
            print(stderr,
                QStringLiteral("待上传的记录属于几个帐户（%1），请用 --user 选一个。\n")
                    .arg(users.join(QStringLiteral("、"))));
            return kBadUsage;
        }
        if (saves.isEmpty()) {
            print(stderr, QStringLiteral("没有待上传的记录。\n"));
            return kFailed;
        }
        SafeFile out(file);
        out.write(salesCsv(lines));
        out.commit();
        print(stdout,
            QStringLiteral("已把帐户“%1”的 %2 次保存、%3 条记录写入“%4”；它们仍留在待上传记录中。\n")
                .arg(users.first())
                .arg(saves.size())
                .arg(lines.size())
                .arg(QDir::toNativeSeparators(file)));
        return kDone;
    } catch (const KivaroError& failure) {
        print(stderr, failure.text() + QLatin1Char('\n'));
        return kFailed;
    }
}

} // namespace

std::optional<int> runCommandLineTool(int argc, char** argv)
{
    const QStringList arguments = Platform::commandLineArguments(argc, argv);
    QStringList named;
    for (const QString& command : { kCopyOption, kBackupOption, kRestoreOption, kExportOption, kAddUserOption,
             kSetPasswordOption, kOwnerOption, kUsersOption, kOutboxOption }) {
        const bool given = std::any_of(arguments.cbegin(), arguments.cend(), [&command](const QString& argument) {
            return argument == command || argument.startsWith(command + QLatin1Char('='));
        });
        if (given)
            named.append(command);
    }
    if (named.isEmpty())
        return std::nullopt;

    if (named.size() > 1) {
        print(stderr, usageText());
        return kBadUsage;
    }
    int appArgc = argc;
    if (named.constFirst() == kExportOption) {
        // PDF pages are drawn with fonts, which need a GUI application; no window is ever shown.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        const QGuiApplication app(appArgc, argv);
        installFontSubstitutes();
        return runExportCommand(arguments);
    }
    const QCoreApplication app(appArgc, argv);
    if (named.constFirst() == kCopyOption)
        return runCopyCommand(arguments);
    if (named.constFirst() == kOutboxOption)
        return runOutboxCommand(arguments);
    if (named.constFirst() != kBackupOption && named.constFirst() != kRestoreOption)
        return runAccountCommand(arguments, named.constFirst());
    return runLedgerCommand(arguments, named.constFirst());
}
