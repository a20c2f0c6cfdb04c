// Backing up and restoring as the user does it: the 更多 menu, the day's automatic backup and kivaro --backup /
// --restore. What is written reads back the same; a cancelled, declined or refused step changes nothing.

#include "base/Error.h"
#include "db/Backup.h"
#include "db/DbClass.h"
#include "forms/FileDialog.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QStandardPaths>
#include <QSysInfo>

namespace {

const QString kUser = QStringLiteral("张三");
const QString kPassword = QStringLiteral("密码 1");
constexpr int kLines = 24;
constexpr int kDeleted = 3;
using DailyBackup = std::function<std::optional<QString>(const LedgerLocation&, const QString&, const QDate&)>;

QString documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QList<SalesLine> sampleLines()
{
    const QStringList names { QStringLiteral("毛巾"), QStringLiteral("O'Brien \"皂\""), QStringLiteral("两行\r\n😀") };
    QList<SalesLine> lines;
    for (int i = 0; i < kLines; ++i)
        lines.append({ 0, QDate(2024, 1, 3).addDays(i * 3), names.at(i % 3), i % 5 - 1, i * 1375 - 500, i * 71,
            i % 2 ? QString() : QStringLiteral("备注 %1").arg(i) });
    return lines;
}

// How the dialogs and the command line describe a backup of the sample.
QString sampleContents()
{
    const QList<SalesLine> lines = sampleLines();
    return QStringLiteral("帐户 1 个，记录 %1 条，日期 %2 至 %3")
        .arg(lines.size())
        .arg(lines.first().day.toString(Qt::ISODate), lines.last().day.toString(Qt::ISODate));
}

// The user's lines as the views show them, ids left out: a server numbers restored lines afresh.
QList<SalesLine> linesOf(const LedgerLocation& ledger)
{
    const SalesRange range { kUser, QDate(2000, 1, 1), QDate(2030, 12, 31) };
    TDbMan db(ledger);
    QList<SalesLine> lines = db.QueryLineWindow(range, range.first, 0, kLines);
    for (SalesLine& line : lines)
        line.id = 0;
    return lines;
}

qsizetype accountsOf(const LedgerLocation& ledger)
{
    QStringList names;
    TDbMan(ledger).GetUserNames(&names);
    return names.size();
}

// The first lines deleted and an account added, as a day's mistakes would.
void spoilLedger()
{
    TDbMan db;
    const SalesRange range { kUser, QDate(2000, 1, 1), QDate(2030, 12, 31) };
    for (const SalesLine& line : db.QueryLineWindow(range, range.first, 0, kDeleted))
        db.DeleteLine(kUser, line);
    QVERIFY(db.AddUser(QStringLiteral("李四"), QStringLiteral("x")));
}

// Opens 更多 and clicks one of its entries, as a user does.
void chooseFromMore(TfrmMain& form, const char* action)
{
    QTest::mouseClick(child<QLabel>(&form, "LabelMore"), Qt::LeftButton);
    auto* menu = child<QMenu>(&form, "menuMore");
    QVERIFY(menu->isVisible());
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(child<QAction>(menu, action)).center());
}

// The ledgers a restore kept aside.
QStringList keptLedgers(const QString& folder)
{
    return QDir(folder).entryList({ QStringLiteral("Kivaro-恢复前-*.sjk") }, QDir::Files);
}

struct ToolRun
{
    int exitCode = -1;
    QString output;
    QString errors;
};

// The built program in the test's data home (on a server run KIVARO_DATABASE names the ledger).
ToolRun runTool(const QStringList& arguments)
{
    QProcess process;
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/kivaro"), arguments);
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

} // namespace

class TestBackupUi : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TfrmMain> form;
    int restarts = 0;

    // What must stay as it is when nothing is replaced: the ledger (the file's bytes, or the server's accounts and
    // lines) and the folders around it.
    QByteArray untouched() const
    {
        const QByteArray ledger = home->server()
            ? QByteArray::number(accountsOf(currentLedger())) + ' ' + QByteArray::number(storedLineCount(*home))
            : fingerprint(home->dbPath());
        return ledger + '\n' + fingerprint(home->dataDir()) + '\n' + fingerprint(home->base());
    }
    void openWindow()
    {
        form = std::make_unique<TfrmMain>();
        form->PrepareForUser(kUser);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

private Q_SLOTS:
    void init()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
        restarts = 0;
        TfrmMain::restartProgram = [this] { ++restarts; };
        TDbMan db;
        QVERIFY(db.AddUser(kUser, kPassword));
        addLines(db, kUser, sampleLines());
    }
    void cleanup()
    {
        form.reset();
        QCOMPARE(FileDialog::pendingFileNames(), 0);
        while (FileDialog::pendingFileNames() > 0)
            FileDialog::getOpenFileName(nullptr, FileKind::Import, QString(), QString());
        hooks.reset();
        home.reset();
    }

    void moreLooksLikeSwitchUserAndHoldsBackupAndRestore()
    {
        openWindow();
        auto* more = child<QLabel>(form.get(), "LabelMore");
        auto* switchUser = child<QLabel>(form.get(), "Label25");
        QCOMPARE(more->font(), switchUser->font());
        QVERIFY(more->font().underline() && more->textFormat() == Qt::PlainText);
        QCOMPARE(more->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY2(more->width() >= more->sizeHint().width(), "更多 is cut");
        auto* menu = child<QMenu>(form.get(), "menuMore");
        QTest::mousePress(more, Qt::LeftButton);
        QCOMPARE(more->palette().color(QPalette::WindowText), QColor(Qt::red));
        QTest::mouseRelease(more, Qt::LeftButton);
        QCOMPARE(more->palette().color(QPalette::WindowText), switchUser->palette().color(QPalette::WindowText));
        QVERIFY(menu->isVisible());
        QStringList entries;
        for (const QAction* action : menu->actions())
            entries << action->objectName() + QLatin1Char(' ') + action->text();
        QCOMPARE(entries,
            (QStringList { QStringLiteral("actBackup 备份数据…"), QStringLiteral("actRestore 恢复数据…"),
                QStringLiteral("actImport 导入销售记录…"), QStringLiteral("actHistory 修改记录…"),
                QStringLiteral("actProducts 商品资料…") }));
        menu->hide();
    }

    void backupThroughTheMenu()
    {
        const QString target = QStringLiteral("备份 “一”.sjk");
        const QString path = home->base() + QLatin1Char('/') + target;
        openWindow();
        FileDialog::setNextFileName(path);
        chooseFromMore(*form, "actBackup");

        const QString today = QDate::currentDate().toString(Qt::ISODate);
        QCOMPARE(FileDialog::lastStartPath(), documentsFolder() + QStringLiteral("/Kivaro-备份-%1.sjk").arg(today));
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(QDir::toNativeSeparators(path)) && shown.first().contains(sampleContents()),
            qPrintable(shown.first()));
        QCOMPARE(linesOf(LedgerLocation::fileAt(path)), sampleLines());
        // A server keeps its passwords: its backup holds the accounts, each waiting for a password.
        if (home->server())
            QVERIFY_THROWS_EXCEPTION(KivaroError, TDbMan(LedgerLocation::fileAt(path)).CheckUser(kUser, kPassword));
        else
            QVERIFY(TDbMan(LedgerLocation::fileAt(path)).CheckUser(kUser, kPassword));
        // Nothing but the backup is left beside it.
        QCOMPARE(QDir(home->base()).entryList(QDir::Files | QDir::Hidden), QStringList { target });
    }

    void nothingChanges_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<QString>("picked");
        QTest::addColumn<QString>("shown");
        QTest::newRow("backup dialog cancelled") << QByteArray("actBackup") << QString() << QString();
        QTest::newRow("restore dialog cancelled") << QByteArray("actRestore") << QString() << QString();
        QTest::newRow("restore declined")
            << QByteArray("actRestore") << QStringLiteral("backup.sjk") << sampleContents();
        QTest::newRow("refused file") << QByteArray("actRestore") << QStringLiteral("text.sjk")
                                      << QStringLiteral("不是 Kivaro 的账本文件\n账本没有改动");
    }
    void nothingChanges()
    {
        QFETCH(QByteArray, action);
        QFETCH(QString, picked);
        QFETCH(QString, shown);
        backupLedger(currentLedger(), home->base() + QStringLiteral("/backup.sjk"));
        QVERIFY(writeAll(home->base() + QStringLiteral("/text.sjk"), "帐户 1 个\n"));
        spoilLedger();
        openWindow();
        const QByteArray before = untouched();
        const QString path = picked.isEmpty() ? QString() : home->base() + QLatin1Char('/') + picked;
        FileDialog::setNextFileName(path);
        if (picked == QLatin1String("backup.sjk"))
            MessageBox::setNextAnswer(QMessageBox::No);
        chooseFromMore(*form, action.constData());

        const QStringList texts = MessageBox::takeShownTexts();
        QCOMPARE(texts.size(), shown.isEmpty() ? 0 : 1);
        QVERIFY2(texts.isEmpty()
                || (texts.first().contains(QDir::toNativeSeparators(path)) && texts.first().contains(shown)),
            qPrintable(texts.value(0)));
        QCOMPARE(untouched(), before);
        QVERIFY(restarts == 0 && form->isVisible());
        // No backups folder: the restore dialog starts in the documents.
        if (action == "actRestore")
            QCOMPARE(FileDialog::lastStartPath(), documentsFolder());
    }

    // Lines lost and an account gained after a backup, then restored: the backup's ledger is back, the spoilt one kept
    // aside, and the program starts again at the login as 切换用户 does.
    void restoreThroughTheMenu()
    {
        const QString backup = home->base() + QStringLiteral("/backup.sjk");
        backupLedger(currentLedger(), backup);
        spoilLedger();
        openWindow();
        // Two lines typed and not saved are named before anything is replaced.
        for (const QString& product : { QStringLiteral("毛巾"), QStringLiteral("杯子") }) {
            auto* name = child<QComboBox>(form.get(), "ComboBox1");
            name->clearEditText();
            typeText(name, product);
            for (const char* field : { "ComboBox2", "ComboBox3", "ComboBox4" })
                typeText(child<QLineEdit>(form.get(), field), QStringLiteral("3"));
            QTest::mouseClick(child<QPushButton>(form.get(), "Button1"), Qt::LeftButton);
        }

        FileDialog::setNextFileName(backup);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        chooseFromMore(*form, "actRestore");
        QTRY_COMPARE(restarts, 1);
        QVERIFY(!form->isVisible());
        QCOMPARE(linesOf(currentLedger()), sampleLines());
        QCOMPARE(accountsOf(currentLedger()), 1);

        const QString safetyFolder = backupsFolder(home->dataDir());
        const QStringList kept = keptLedgers(safetyFolder);
        QCOMPARE(kept.size(), 1);
        const QString keptPath = safetyFolder + QLatin1Char('/') + kept.first();
        QCOMPARE(linesOf(LedgerLocation::fileAt(keptPath)).size(), kLines - kDeleted);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown.at(0).contains(QDir::toNativeSeparators(backup))
                && shown.at(0).contains(QDir::toNativeSeparators(safetyFolder))
                && shown.at(0).contains(sampleContents())
                && shown.at(0).contains(QStringLiteral("2 条尚未完成保存的记录")),
            qPrintable(shown.at(0)));
        QVERIFY2(shown.at(1).contains(QDir::toNativeSeparators(keptPath)), qPrintable(shown.at(1)));
    }

    // The day's backup lands in the ledger's folder of automatic backups; on a server, 备份数据… says which computer
    // made the last one and where.
    void dailyBackupOfTheLedger()
    {
        openWindow();
        form->startDailyBackup();
        QTRY_VERIFY(!form->dailyBackupRunning());
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
        const QString folder = dailyBackupsFolder(currentLedger(), home->dataDir());
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        QCOMPARE(linesOf(LedgerLocation::fileAt(folder + QStringLiteral("/Kivaro-%1.sjk").arg(today))), sampleLines());

        FileDialog::setNextFileName(home->base() + QStringLiteral("/手动.sjk"));
        chooseFromMore(*form, "actBackup");
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().contains(QStringLiteral("最近一次是 %1，由电脑“%2”保存在它的“%3”中")
                                            .arg(today, QSysInfo::machineHostName(), folder)),
            testingOnServer());

        FileDialog::setNextFileName(QString());
        chooseFromMore(*form, "actRestore");
        QCOMPARE(FileDialog::lastStartPath(), backupsFolder(home->dataDir()));
    }

    // The backup runs beside the window, which takes clicks meanwhile; a failure is told once.
    void dailyBackupRunsAsideAndFailsOnce()
    {
        QSemaphore release;
        QAtomicInt calls = 0;
        LedgerLocation given;
        QString givenDataDir;
        QDate day;
        const ScopedHook failing(TfrmMain::dailyBackup,
            DailyBackup([&](const LedgerLocation& location, const QString& dataDir,
                            const QDate& date) -> std::optional<QString> {
                calls.fetchAndAddOrdered(1);
                given = location;
                givenDataDir = dataDir;
                day = date;
                release.acquire();
                throw KivaroError(QStringLiteral("磁盘已满"));
            }));
        openWindow();
        // The hook's variables outlive its worker, which a failed check must not leave waiting.
        const auto unblock = qScopeGuard([this, &release] {
            release.release();
            form.reset();
        });
        form->startDailyBackup();
        QTRY_COMPARE(calls.loadAcquire(), 1);
        QTest::mouseClick(child<QLabel>(form.get(), "Label2"), Qt::LeftButton);
        QVERIFY(child<QWidget>(form.get(), "Panel3")->isVisible() && form->dailyBackupRunning());
        release.release();
        QTRY_VERIFY(!form->dailyBackupRunning());
        QVERIFY(given == currentLedger() && givenDataDir == home->dataDir() && day == QDate::currentDate());
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(
            shown.first().contains(QStringLiteral("自动备份")) && shown.first().contains(QStringLiteral("磁盘已满")),
            qPrintable(shown.first()));
        form->startDailyBackup();
        QVERIFY(!form->dailyBackupRunning() && MessageBox::takeShownTexts().isEmpty());
        QCOMPARE(calls.loadAcquire(), 1);
    }

    // --backup, then --restore without and with --yes, on the ledger the program uses; --database names another.
    void commandLineRoundTrip()
    {
        const QString file = home->base() + QStringLiteral("/命令行 备份.sjk");
        const ToolRun backup = runTool({ QStringLiteral("--backup"), file });
        QVERIFY2(backup.exitCode == 0, qPrintable(backup.errors));
        QVERIFY2(backup.output.contains(QDir::toNativeSeparators(file)) && backup.output.contains(sampleContents()),
            qPrintable(backup.output));
        QCOMPARE(linesOf(LedgerLocation::fileAt(file)), sampleLines());

        spoilLedger();
        const QByteArray spoilt = untouched();
        const ToolRun refused = runTool({ QStringLiteral("--restore"), file });
        QVERIFY2(refused.exitCode == 2 && refused.errors.contains(QStringLiteral("--yes")), qPrintable(refused.errors));
        QCOMPARE(untouched(), spoilt);

        const ToolRun restored = runTool({ QStringLiteral("--restore"), file, QStringLiteral("--yes") });
        QVERIFY2(restored.exitCode == 0, qPrintable(restored.errors));
        QCOMPARE(linesOf(currentLedger()), sampleLines());
        QCOMPARE(accountsOf(currentLedger()), 1);
        const QStringList kept = keptLedgers(backupsFolder(home->dataDir()));
        QVERIFY2(kept.size() == 1 && restored.output.contains(kept.first()), qPrintable(restored.output));

        const LedgerLocation other = LedgerLocation::file(home->base());
        TDbMan(other).AddUser(QStringLiteral("另一个"), QStringLiteral("x"));
        const ToolRun named
            = runTool({ QStringLiteral("--database"), other.databasePath(), QStringLiteral("--backup"), file });
        QVERIFY2(named.exitCode == 0, qPrintable(named.errors));
        QVERIFY(linesOf(LedgerLocation::fileAt(file)).isEmpty() && accountsOf(LedgerLocation::fileAt(file)) == 1);
    }

    void commandLineFailures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("errorText");
        const QString backup = QStringLiteral("--backup");
        const QString restore = QStringLiteral("--restore");
        const QString yes = QStringLiteral("--yes");
        QTest::newRow("backup into a missing folder")
            << QStringList { backup, "<missing>" } << 1 << QStringLiteral("备份失败");
        QTest::newRow("restore of a text file")
            << QStringList { restore, "<text>", yes } << 1 << QStringLiteral("不是 Kivaro 的账本文件");
        QTest::newRow("a stray argument")
            << QStringList { restore, "<good>", yes, "<out>" } << 2 << QStringLiteral("用法");
        QTest::newRow("two commands") << QStringList { backup, "<out>", restore, "<good>", yes } << 2
                                      << QStringLiteral("用法");
    }
    void commandLineFailures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, errorText);
        const QMap<QString, QString> files { { "<good>", home->base() + "/good.sjk" },
            { "<text>", home->base() + "/text.sjk" }, { "<out>", home->base() + "/out.sjk" },
            { "<missing>", home->base() + "/none/x.sjk" } };
        backupLedger(currentLedger(), files["<good>"]);
        spoilLedger();
        QVERIFY(writeAll(files["<text>"], "SQLite format 2\n"));
        for (QString& argument : arguments)
            argument = files.value(argument, argument);
        const QByteArray before = untouched();

        const ToolRun run = runTool(arguments);
        QVERIFY2(run.exitCode == exitCode && run.errors.contains(errorText),
            qPrintable(QStringLiteral("%1\n%2").arg(run.exitCode).arg(run.errors)));
        QVERIFY(run.output.isEmpty());
        QCOMPARE(untouched(), before);
    }
};

KIVARO_TEST_MAIN(TestBackupUi)

#include "tst_backupui.moc"
