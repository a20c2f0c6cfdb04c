#include "forms/MainForm.h"

#include "base/Error.h"
#include "base/HiClass.h"
#include "db/Backup.h"
#include "db/DbClass.h"
#include "db/LedgerLocation.h"
#include "db/Outbox.h"
#include "forms/Anchors.h"
#include "forms/BackupUi.h"
#include "forms/EntryPage.h"
#include "forms/ErrorHandler.h"
#include "forms/FormUtil.h"
#include "forms/HistoryForm.h"
#include "forms/ImportForm.h"
#include "forms/LoginForm.h"
#include "forms/MessageBox.h"
#include "forms/OutboxSync.h"
#include "forms/ReviewPage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QShortcut>
#include <QtConcurrent/QtConcurrentRun>

std::function<void()> TfrmMain::restartProgram
    // The same ledger again: a --database given at start stays.
    = [] { QProcess::startDetached(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1)); };
std::function<std::optional<QString>(const LedgerLocation&, const QString&, const QDate&)> TfrmMain::dailyBackup
    = makeDailyBackup;

namespace {

// The window as designed; it may be made larger, never smaller.
constexpr QSize kDesignedSize(692, 498);
// Where this computer's settings keep the window's size and place.
const QString kGeometryKey = QStringLiteral("MainWindow/geometry");

QWidget* makePanel(QWidget* parent, const char* name, const QRect& geometry, const QColor& colour)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setGeometry(geometry);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, colour);
    panel->setPalette(palette);
    return panel;
}

QLabel* makeHeaderLabel(QWidget* parent, const char* name, const QString& text, int pixelSize)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setBold(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    return label;
}

// A header link: underlined, the pointing hand over it, red while pressed.
QLabel* makeHeaderLink(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    QLabel* link = makeHeaderLabel(parent, name, text, 12);
    QFont underlined = link->font();
    underlined.setUnderline(true);
    link->setFont(underlined);
    link->setGeometry(geometry);
    link->setCursor(Qt::PointingHandCursor);
    return link;
}

// Never null, so that a failure cannot pass for success.
QString failureText(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("未知错误") : text;
}

void setTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmMain"));
    // The designed size is the smallest; the lists grow with the window.
    resize(kDesignedSize);
    setMinimumSize(kDesignedSize);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setupFrame();
    // Another computer restored the ledger: back to the login, as 切换用户 does.
    ledgerReplacedHook = [this] { SwitchUser(); };
    FOutboxSync = new TOutboxSync(this);
    connect(FOutboxSync, &TOutboxSync::stateChanged, this, [this](const QString& text, const QString& why) {
        LabelOutbox->setText(text);
        LabelOutbox->setToolTip(why);
    });
    // Not while a dialog of the window is open, whose caller may be in the middle of using the store.
    connect(FOutboxSync, &TOutboxSync::serverBack, this, [this] {
        if (FDbMan && FDbMan->location().offline && !QApplication::activeModalWidget())
            GoOnline();
    });
}

TfrmMain::~TfrmMain()
{
    ledgerReplacedHook = nullptr;
    // A backup stopped halfway would leave its temporary file behind.
    FDailyBackup.waitForFinished();
    FOutboxSync->stop();
    // The pages read through the store; they go first.
    delete Panel3;
    delete Panel2;
}

void TfrmMain::setupFrame()
{
    Panel1 = makePanel(this, "Panel1", QRect(0, 0, 692, 40), QColor(57, 173, 222));
    Shape1 = new QFrame(Panel1);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(0, 38, 692, 1);
    Shape1->setAutoFillBackground(true);
    QPalette white = Shape1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Shape1->setPalette(white);

    RadioButton1 = new QRadioButton(Panel1);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton1->setGeometry(12, 12, 17, 17);
    RadioButton2 = new QRadioButton(Panel1);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    RadioButton2->setGeometry(78, 12, 17, 17);
    Label1 = makeHeaderLabel(Panel1, "Label1", QStringLiteral("记帐"), 15);
    Label1->move(29, 13);
    Label2 = makeHeaderLabel(Panel1, "Label2", QStringLiteral("查帐"), 15);
    Label2->move(95, 13);
    Label3 = makeHeaderLabel(Panel1, "Label3", QString(), 12);
    Label3->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label3->setGeometry(130, 14, 454, 14);
    LabelOutbox = makeHeaderLabel(Panel1, "LabelOutbox", QString(), 12);
    LabelOutbox->setGeometry(130, 14, 300, 14);
    LabelMore = makeHeaderLink(Panel1, "LabelMore", QStringLiteral("更多"), QRect(594, 14, 26, 14));
    Label25 = makeHeaderLink(Panel1, "Label25", QStringLiteral("切换用户"), QRect(630, 14, 52, 14));
    setupMoreMenu();
    // The pages from the keyboard, from anywhere in the window.
    for (const auto& [key, label] : { std::pair { Qt::Key_1, Label1 }, std::pair { Qt::Key_2, Label2 } }) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | key), this);
        connect(shortcut, &QShortcut::activated, this, [this, page = label] {
            if (page == Label1) {
                Label1Click();
                Panel2->focusFirstField();
            } else {
                Label2Click();
                Panel3->focusFirstDay();
            }
        });
        label->setToolTip(label->text() + QStringLiteral("（Ctrl+%1）").arg(key == Qt::Key_1 ? 1 : 2));
    }

    for (QWidget* w : { static_cast<QWidget*>(RadioButton1), static_cast<QWidget*>(RadioButton2) })
        w->setFocusPolicy(Qt::NoFocus);
    Label1->installEventFilter(this);
    Label2->installEventFilter(this);
    Label25->installEventFilter(this);
    LabelMore->installEventFilter(this);
    connect(RadioButton1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RadioButton1Click();
    });
    connect(RadioButton2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RadioButton2Click();
    });

    Panel2 = new TEntryPage(this);
    Panel3 = new TReviewPage(this);
    for (QWidget* page : { static_cast<QWidget*>(Panel2), static_cast<QWidget*>(Panel3) }) {
        page->setGeometry(0, 40, 692, 458);
        page->setAutoFillBackground(true);
        QPalette white = page->palette();
        white.setColor(QPalette::Window, Qt::white);
        page->setPalette(white);
    }
    Panel3->hide();
    const Qt::Edges acrossTop = Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge;
    for (QWidget* header :
        { static_cast<QWidget*>(Panel1), static_cast<QWidget*>(Shape1), static_cast<QWidget*>(Label3) })
        anchor(header, acrossTop);
    anchor(LabelMore, Qt::TopEdge | Qt::RightEdge);
    anchor(Label25, Qt::TopEdge | Qt::RightEdge);
    anchor(Panel2, acrossTop | Qt::BottomEdge);
    anchor(Panel3, acrossTop | Qt::BottomEdge);
}

void TfrmMain::setupMoreMenu()
{
    menuMore = new QMenu(this);
    menuMore->setObjectName(QStringLiteral("menuMore"));
    menuMore->setFont(font());
    addMoreAction("actBackup", QStringLiteral("备份数据…"), &TfrmMain::BackupClick);
    addMoreAction("actRestore", QStringLiteral("恢复数据…"), &TfrmMain::RestoreClick);
    addMoreAction("actImport", QStringLiteral("导入销售记录…"), &TfrmMain::ImportClick);
    addMoreAction("actHistory", QStringLiteral("修改记录…"), &TfrmMain::HistoryClick);
    addMoreAction("actProducts", QStringLiteral("商品资料…"), &TfrmMain::ProductsClick);
}

QAction* TfrmMain::addMoreAction(const char* name, const QString& text, void (TfrmMain::*handler)())
{
    QAction* action = menuMore->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
}

TfrmMain::CreateResult TfrmMain::FormCreate()
{
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setWindowIcon(QApplication::windowIcon());
    QString acceptedUser;
    bool loggedIn = false;
    const bool ok = guarded([&] {
        FDataDir = THi::GetDataDir(QString());
        TfrmLogin login(this);
        loggedIn = login.exec() == QDialog::Accepted;
        acceptedUser = login.SelectedUser;
    });
    if (!ok)
        return CreateResult::Failed;
    if (!loggedIn)
        return CreateResult::LoginCancelled;
    // A half-prepared window is of no use; the error has been shown and the program ends.
    return guarded([&] { PrepareForUser(acceptedUser); }) ? CreateResult::Ready : CreateResult::Failed;
}

void TfrmMain::PrepareForUser(const QString& userName)
{
    FUserName = userName;
    FDataDir = THi::GetDataDir(QString());
    FDbMan = std::make_unique<TDbMan>();
    Label3->setText(QStringLiteral("当前用户：%1").arg(FUserName));
    RadioButton1->setChecked(true);
    Panel2->prepare(FDbMan.get(), FUserName);
    Panel3->prepare(FDbMan.get(), FUserName);
    Panel2->serverAway = [this] { GoOffline(); };
    Panel2->afterSave = [this](SaveOutcome outcome) {
        FOutboxSync->refresh();
        // The lists on review were read from the ledger that another process's restore replaced.
        if (outcome == SaveOutcome::SavedIntoReplacedLedger)
            Panel3->readShownAgain();
    };
    raise();
    activateWindow();
    FOutboxSync->start(FDbMan->location(), FUserName);
}

bool TfrmMain::UseLedger(const LedgerLocation& location)
{
    // The pages go over only when the new store took their lines; on failure they stay with the store they have.
    std::unique_ptr<TDbMan> store;
    QString failure;
    try {
        store = std::make_unique<TDbMan>(location);
        Panel2->switchStore(store.get());
    } catch (const KivaroError& error) {
        failure = error.text();
    }
    if (!failure.isNull()) {
        FOutboxSync->setLedger(FDbMan->location(), failure);
        return false;
    }
    Panel3->prepare(store.get(), FUserName);
    setCurrentLedger(location);
    FDbMan = std::move(store);
    FOutboxSync->setLedger(location);
    return true;
}

void TfrmMain::GoOffline()
{
    if (FDbMan->location().offline)
        return;
    // No box: the cashier goes on selling, and the header says that the window is offline.
    UseLedger(FDbMan->location().asOffline());
}

void TfrmMain::GoOnline()
{
    UseLedger(FDbMan->location().online());
}

void TfrmMain::showEvent(QShowEvent* event)
{
    if (!FShownOnce) {
        FShownOnce = true;
        // The size and place it was left at on this computer, when a screen still shows that place.
        const QSettings settings(settingsPath(), QSettings::IniFormat);
        if (!restoreGeometry(settings.value(kGeometryKey).toByteArray())
            || !QGuiApplication::screenAt(frameGeometry().center()))
            centreOnScreen(this);
    }
    QWidget::showEvent(event);
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(kGeometryKey, saveGeometry());
    FormClose();
    event->accept();
}

void TfrmMain::FormClose()
{
    Panel2->flushProductNames();
    Panel3->clearViews();
    FDbMan.reset();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const bool press = event->type() == QEvent::MouseButtonPress;
        if (mouse->button() == Qt::LeftButton) {
            if (watched == Label1 && press)
                Label1Click();
            else if (watched == Label2 && press)
                Label2Click();
            else if (watched == Label25)
                press ? Label25MouseDown() : Label25MouseUp();
            else if (watched == LabelMore)
                press ? setTextColour(LabelMore, Qt::red) : LabelMoreMouseUp();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmMain::Label1Click()
{
    RadioButton1->setChecked(true);
}

void TfrmMain::Label2Click()
{
    RadioButton2->setChecked(true);
}

void TfrmMain::RadioButton1Click()
{
    Panel2->show();
    Panel3->hide();
}

void TfrmMain::RadioButton2Click()
{
    Panel2->hide();
    Panel3->show();
}

void TfrmMain::Label25MouseDown()
{
    setTextColour(Label25, Qt::red);
}

void TfrmMain::Label25MouseUp()
{
    setTextColour(Label25, Qt::white);
    SwitchUser();
}

void TfrmMain::SwitchUser()
{
    restartProgram();
    close();
}

void TfrmMain::LabelMoreMouseUp()
{
    setTextColour(LabelMore, Qt::white);
    menuMore->popup(LabelMore->mapToGlobal(QPoint(0, LabelMore->height())));
}

void TfrmMain::BackupClick()
{
    if (FDbMan)
        backupThroughDialog(this, FDbMan->location());
}

void TfrmMain::RestoreClick()
{
    if (!FDbMan)
        return;
    // The day's backup reads the ledger and writes the folder the present ledger is kept in: it ends first.
    QFuture<QString> daily = FDailyBackup.future();
    const auto waitForDailyBackup = [daily]() mutable { daily.waitForFinished(); };
    if (restoreThroughDialog(
            this, LabelMore, FDbMan->location(), FDataDir, waitForDailyBackup, Panel2 ? Panel2->pendingCount() : 0))
        SwitchUser();
}

void TfrmMain::ImportClick()
{
    if (!FDbMan)
        return;
    const std::optional<QList<SalesLine>> lines = importThroughDialog(this,
        [location = FDbMan->location(), user = FUserName, pending = Panel2->pendingLines()](
            const QList<SalesLine>& read) { return TDbMan(location).SameAsSaved(user, read, pending); });
    if (!lines)
        return;
    if (lines->isEmpty()) {
        MessageBox::information(this, QStringLiteral("文件中的记录都已经保存过或在列表中，没有加入新的记录。"));
        return;
    }
    RadioButton1->setChecked(true);
    if (!Panel2->addImportedLines(*lines))
        return;
    MessageBox::information(
        this, QStringLiteral("已把 %1 条销售记录加入列表；核对无误后，请点“完成”保存。").arg(lines->size()));
}

void TfrmMain::HistoryClick()
{
    if (!FDbMan)
        return;
    TfrmHistory history(FDbMan.get(), FUserName, this);
    connect(&history, &TfrmHistory::undone, Panel3, &TReviewPage::readShownAgain);
    history.exec();
}

void TfrmMain::ProductsClick()
{
    if (FDbMan)
        Panel2->showCatalogue();
}

void TfrmMain::startDailyBackup()
{
    // Offline, the first computer that reaches the server later makes the day's backup.
    if (!FDbMan || FDbMan->location().offline || std::exchange(FDailyBackupStarted, true))
        return;
    FDailyBackupRunning = true;
    connect(&FDailyBackup, &QFutureWatcher<QString>::finished, this, &TfrmMain::DailyBackupDone, Qt::UniqueConnection);
    FDailyBackup.setFuture(QtConcurrent::run(
        [backup = dailyBackup, ledger = FDbMan->location(), dataDir = FDataDir, today = QDate::currentDate()] {
            try {
                backup(ledger, dataDir, today);
                return QString();
            } catch (const TServerUnreachable&) {
                // A computer that cannot reach the server leaves the day's backup to one that can.
                return QString();
            } catch (const KivaroError& error) {
                return failureText(error.text());
            } catch (const std::exception& error) {
                return failureText(QString::fromLocal8Bit(error.what()));
            } catch (...) {
                return failureText(QString());
            }
        }));
}

void TfrmMain::DailyBackupDone()
{
    FDailyBackupRunning = false;
    const QString failure = FDailyBackup.result();
    if (!failure.isNull())
        showError(QStringLiteral("今天的自动备份没有完成：%1").arg(failure), this);
}
