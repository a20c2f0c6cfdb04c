#pragma once

#include "db/LedgerLocation.h"

#include <QDate>
#include <QFutureWatcher>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QRadioButton;
class TDbMan;
class TEntryPage;
class TReviewPage;
class TOutboxSync;

// The main window: a blue header that switches between the bookkeeping page and the review page.
class TfrmMain : public QWidget
{
    Q_OBJECT

public:
    enum class CreateResult { Ready, LoginCancelled, Failed };

    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The start sequence: data folder, login, then the pages for the accepted user.
    CreateResult FormCreate();
    // Everything after the login; raises on failure.
    void PrepareForUser(const QString& userName);

    QString userName() const { return FUserName; }

    // Starts the program again for switching user; tests replace it.
    static std::function<void()> restartProgram;
    // Makes the day's automatic backup of the ledger (makeDailyBackup); runs on a worker, tests replace it.
    static std::function<std::optional<QString>(const LedgerLocation&, const QString&, const QDate&)> dailyBackup;

    // Starts the day's automatic backup away from the window once it is up; a file ledger only, once a window.
    void startDailyBackup();
    // True from startDailyBackup until its outcome has been dealt with.
    bool dailyBackupRunning() const { return FDailyBackupRunning; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupFrame();
    void setupMoreMenu();
    // One entry of the 更多 menu.
    QAction* addMoreAction(const char* name, const QString& text, void (TfrmMain::*handler)());
    void FormClose();
    void Label1Click();
    void Label2Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void Label25MouseDown();
    void Label25MouseUp();
    void LabelMoreMouseUp();
    void BackupClick();
    void RestoreClick();
    void ImportClick();
    void HistoryClick();
    void ProductsClick();
    void DailyBackupDone();
    // Back to the login in a new start of the program.
    void SwitchUser();
    // A server ledger worked offline: the pages go on against this computer's outbox, and every few seconds a worker
    // tries to send it; once everything is sent and no line is pending, the window is online again.
    void GoOffline();
    void GoOnline();
    // The window's pages go on against the ledger at location, which the process uses from now on.
    // False, with the pages and the store as they were and the reason in the header, when the switch failed.
    bool UseLedger(const LedgerLocation& location);

    QString FUserName;
    QString FDataDir;
    bool FShownOnce = false;
    std::unique_ptr<TDbMan> FDbMan;
    // The day's automatic backup: the error text of a failure, null otherwise.
    QFutureWatcher<QString> FDailyBackup;
    bool FDailyBackupStarted = false;
    bool FDailyBackupRunning = false;
    // Sends the outbox while the ledger is a server's, and says what the header shows.
    TOutboxSync* FOutboxSync = nullptr;

    QWidget* Panel1 = nullptr;
    QFrame* Shape1 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    // The header's word on the outbox: "离线：…待上传", "正在上传…", or nothing.
    QLabel* LabelOutbox = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label25 = nullptr;
    QLabel* LabelMore = nullptr;
    QMenu* menuMore = nullptr;
    TEntryPage* Panel2 = nullptr;
    TReviewPage* Panel3 = nullptr;
};
