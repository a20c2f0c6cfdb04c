#include "forms/BackupUi.h"

#include "base/Error.h"
#include "base/HiClass.h"
#include "db/LedgerCopy.h"
#include "forms/BusyCursor.h"
#include "forms/ErrorHandler.h"
#include "forms/FileDialog.h"
#include "forms/MessageBox.h"

#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <atomic>

namespace {

const QString kFilter = QStringLiteral("Kivaro 账本 (*.sjk)");
constexpr int kSteps = 1000;

// A progress window the user cannot close: the work it shows cannot be stopped halfway.
class TWorkProgress : public QProgressDialog
{
public:
    TWorkProgress(QWidget* parent, const QString& text)
        : QProgressDialog(text, QString(), 0, 0, parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    {
        setObjectName(QStringLiteral("dlgWorkProgress"));
        setWindowTitle(QString::fromLatin1(kAppTitle));
        setCancelButton(nullptr);
        setAutoClose(false);
        setAutoReset(false);
        setMinimumDuration(0);
        setWindowModality(Qt::ApplicationModal);
    }

protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape)
            event->accept();
        else
            QProgressDialog::keyPressEvent(event);
    }
};

// Runs work on the global pool and returns once it ended, the event loop running meanwhile.
QString waitForWorker(const std::function<void()>& work)
{
    QString failure;
    QFutureWatcher<void> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([&work, &failure] {
        try {
            work();
        } catch (const KivaroError& error) {
            failure = error.text();
        } catch (const std::exception& error) {
            failure = QString::fromLocal8Bit(error.what());
        } catch (...) {
            failure = QStringLiteral("未知错误");
        }
        if (failure.isNull())
            return;
        if (failure.isEmpty())
            failure = QStringLiteral("未知错误");
    }));
    if (!watcher.isFinished())
        loop.exec();
    // The loop also ends when the application quits; the worker still uses this frame.
    watcher.waitForFinished();
    return failure;
}

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

QString runWithProgress(QWidget* parent, const QString& text, const std::function<void(const BackupProgress&)>& work)
{
    std::atomic<qint64> done { 0 };
    std::atomic<qint64> total { 0 };
    TWorkProgress dialog(parent, text);
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        const qint64 whole = total.load();
        if (whole <= 0)
            return;
        if (dialog.maximum() != kSteps)
            dialog.setRange(0, kSteps);
        dialog.setValue(int(std::clamp<qint64>(done.load() * kSteps / whole, 0, kSteps)));
    });
    dialog.show();
    poll.start();
    const BackupProgress progress = [&done, &total](qint64 doneNow, qint64 totalNow) {
        total.store(totalNow);
        done.store(doneNow);
    };
    return waitForWorker([&work, &progress] { work(progress); });
}

QString runWithBusyCursor(QWidget* busyControl, const std::function<void()>& work)
{
    const BusyCursor busy(busyControl);
    return waitForWorker(work);
}

QString backupContentsText(const LedgerFileInfo& info)
{
    const QString format = QStringLiteral("yyyy-MM-dd");
    QString text = info.lines == 0 || !info.firstDay.isValid()
        ? QStringLiteral("帐户 %1 个，没有记录").arg(info.accounts)
        : QStringLiteral("帐户 %1 个，记录 %2 条，日期 %3 至 %4")
              .arg(info.accounts)
              .arg(info.lines)
              .arg(info.firstDay.toString(format), info.lastDay.toString(format));
    // What the check found that stays behind: the user sees it before anything is replaced.
    for (const QString& finding : info.findings)
        text += QStringLiteral("；") + finding;
    if (info.sealed)
        text += QStringLiteral("；本机 Kivaro 签名的备份");
    return text;
}

void backupThroughDialog(QWidget* parent, const LedgerLocation& ledger)
{
    const QString proposed
        = QStringLiteral("Kivaro-备份-%1.sjk").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    const QString path = FileDialog::getSaveFileName(
        parent, FileKind::Backup, QStringLiteral("备份数据"), proposed, kFilter, QStringLiteral("sjk"));
    if (path.isEmpty())
        return;
    LedgerFileInfo written;
    std::optional<DailyBackupRecord> automatic;
    const QString failure
        = runWithProgress(parent, QStringLiteral("正在备份数据，请稍候……"), [&](const BackupProgress& progress) {
              written = backupLedger(ledger, path, progress);
              // Only said in passing: a backup written is not failed by it.
              try {
                  automatic = lastDailyBackup(ledger);
              } catch (const KivaroError&) {
              }
          });
    if (!failure.isNull()) {
        showError(QStringLiteral("备份失败：%1").arg(failure), parent);
        return;
    }
    // A server ledger's automatic backups are on whichever computer made them: the user is told which.
    QString daily;
    if (ledger.isServer()) {
        daily = QStringLiteral("\n\n服务器账本每天由当天第一台打开它的电脑自动备份一次");
        daily += automatic ? QStringLiteral("。最近一次是 %1，由电脑“%2”保存在它的“%3”中。")
                                 .arg(automatic->day.toString(QStringLiteral("yyyy-MM-dd")), automatic->computer,
                                     nativePath(automatic->folder))
                           : QStringLiteral("；目前还没有自动备份。");
    }
    MessageBox::information(parent,
        QStringLiteral("数据已备份到：\n%1\n\n%2。%3").arg(nativePath(path), backupContentsText(written), daily));
}

bool restoreThroughDialog(QWidget* parent, QWidget* busyControl, const LedgerLocation& ledger, const QString& dataDir,
    const std::function<void()>& beforeReplacing, qsizetype pendingLines)
{
    const QString safetyFolder = backupsFolder(dataDir);
    // Where the safety copies lie, until another folder was used.
    const QString path
        = FileDialog::getOpenFileName(parent, FileKind::Restore, QStringLiteral("恢复数据"), kFilter, safetyFolder);
    if (path.isEmpty())
        return false;

    LedgerFileInfo held;
    QString failure = runWithBusyCursor(busyControl, [&] { held = inspectBackup(path, ledger); });
    if (!failure.isNull()) {
        showError(QStringLiteral("不能用“%1”恢复数据：%2\n账本没有改动").arg(nativePath(path), failure), parent);
        return false;
    }
    // Lines typed here and not saved: kept by the server for this till, or gone with the file they were kept in.
    const QString pending = pendingLines == 0 ? QString()
        : ledger.isServer()
        ? QStringLiteral(
            "\n\n记帐页上还有 %1 条尚未完成保存的记录；恢复后它们仍会保留，重新登录后可以保存到恢复的账本中。")
              .arg(pendingLines)
        : QStringLiteral("\n\n记帐页上还有 %1 条尚未完成保存的记录；恢复后它们只留在替换前保存的账本中。"
                         "要保留它们，请先取消，按“完成”保存后再恢复。")
              .arg(pendingLines);
    const QString question
        = QStringLiteral("备份文件“%1”中有：\n%2。\n\n恢复后，账本“%3”中现有的全部帐户和记录将被它替换；"
                         "替换前，现有的账本会保存在“%4”中。%5\n\n要恢复吗？")
              .arg(nativePath(path), backupContentsText(held), ledgerName(ledger), nativePath(safetyFolder), pending);
    if (!MessageBox::confirm(parent, question))
        return false;

    QString keptAt;
    failure = runWithProgress(parent, QStringLiteral("正在恢复数据，请稍候……"), [&](const BackupProgress& progress) {
        if (beforeReplacing)
            beforeReplacing();
        keptAt = restoreLedger(ledger, path, safetyFolder, progress);
    });
    if (!failure.isNull()) {
        showError(QStringLiteral("恢复失败：%1").arg(failure), parent);
        return false;
    }
    const QString previous = keptAt.isEmpty() ? QStringLiteral("此前没有账本文件。")
                                              : QStringLiteral("原来的账本保存在：\n%1").arg(nativePath(keptAt));
    MessageBox::information(
        parent, QStringLiteral("数据已恢复：%1。\n%2\n\n请重新登录。").arg(backupContentsText(held), previous));
    return true;
}
