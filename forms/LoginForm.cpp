#include "forms/LoginForm.h"

#include "base/HiClass.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/Outbox.h"
#include "forms/AccountForm.h"
#include "forms/BusyCursor.h"
#include "forms/DatabaseForm.h"
#include "forms/ErrorHandler.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"

#include <QMouseEvent>

namespace {

// The ledger line sits in the free room between the hints and the name field.
constexpr int kLedgerTop = 96;
constexpr int kLedgerLeft = 8;
constexpr int kLedgerRight = 338;
constexpr int kLinkGap = 6;

void setTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

TfrmLogin::TfrmLogin(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("frmLogin"));
    setFixedSize(346, 181);
    setupControls();
    // FormCreate.
    setWindowTitle(QStringLiteral("%1 - 登陆").arg(QString::fromLatin1(kAppTitle)));
    UpdateLoginButton();
    FDbMan = std::make_unique<TDbMan>(currentLedger().online());
    ShowLedger();
    // An unreachable server must not end the program: the dialog opens and another ledger can be chosen. A file that
    // cannot be read ends the start as it always did.
    if (FDbMan->location().isServer())
        ListUsers(parent);
    else
        LoadUserNames();
}

TfrmLogin::~TfrmLogin() = default;

void TfrmLogin::setupControls()
{
    makeLabel(this, "Label3", QStringLiteral("1.如果第一次使用，请点“帐户”按钮。"), 8, 10);
    makeLabel(this, "Label4", QStringLiteral("2.新建用户名和密码后，即可在此登陆。"), 8, 30);
    makeLabel(this, "Label5", QStringLiteral("3.如果多用户使用，请重复步骤1和步骤2。"), 8, 50);
    makeLabel(this, "Label6", QStringLiteral("4.如果想修改密码，也请点“帐户”按钮。"), 8, 70);
    makeLabel(this, "Label1", QStringLiteral("用户名："), 8, 122);
    ComboBox1 = makeNameBox(this, "ComboBox1", QRect(64, 118, 274, 22));
    makeLabel(this, "Label2", QStringLiteral("密  码："), 8, 152);
    Edit1 = makeEdit(this, "Edit1", QRect(64, 148, 274, 22), true);
    Button1 = makeButton(this, "Button1", QStringLiteral("登陆"), QRect(264, 8, 74, 23));
    Button2 = makeButton(this, "Button2", QStringLiteral("取消"), QRect(264, 36, 74, 23));
    Button3 = makeButton(this, "Button3", QStringLiteral("帐户"), QRect(264, 64, 74, 23));
    setupLedgerControls();
    setTabOrder(ComboBox1, Edit1);
    setTabOrder(Edit1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);

    connect(ComboBox1, &QComboBox::editTextChanged, this, &TfrmLogin::UpdateLoginButton);
    connect(ComboBox1, &QComboBox::activated, this, &TfrmLogin::UpdateLoginButton);
    connect(Edit1, &QLineEdit::textChanged, this, &TfrmLogin::UpdateLoginButton);
    connect(Button1, &QPushButton::clicked, this, &TfrmLogin::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TfrmLogin::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TfrmLogin::Button3Click);
    ComboBox1->installEventFilter(this);
    ComboBox1->lineEdit()->installEventFilter(this);
    Edit1->installEventFilter(this);
}

void TfrmLogin::setupLedgerControls()
{
    LabelDatabase = makeLabel(this, "LabelDatabase", QString(), kLedgerLeft, kLedgerTop);
    LabelChangeDatabase = makeLabel(this, "LabelChangeDatabase", QStringLiteral("更改…"), kLedgerLeft, kLedgerTop);
    QFont underlined = LabelChangeDatabase->font();
    underlined.setUnderline(true);
    LabelChangeDatabase->setFont(underlined);
    LabelChangeDatabase->adjustSize();
    LabelChangeDatabase->setCursor(Qt::PointingHandCursor);
    setTextColour(LabelChangeDatabase, palette().color(QPalette::Link));
    LabelChangeDatabase->installEventFilter(this);
}

void TfrmLogin::ShowLedger()
{
    const QString shown = QStringLiteral("账本：") + FDbMan->location().displayName();
    const int room = kLedgerRight - kLedgerLeft - kLinkGap - LabelChangeDatabase->width();
    const QString fitted = LabelDatabase->fontMetrics().elidedText(shown, Qt::ElideMiddle, room);
    LabelDatabase->setText(fitted);
    LabelDatabase->setToolTip(fitted == shown ? QString() : shown);
    LabelDatabase->adjustSize();
    // Some faces draw "_" below their descent; a cut underscore would read as a space in a database name.
    LabelDatabase->resize(LabelDatabase->width(), LabelDatabase->height() + 2);
    LabelChangeDatabase->move(LabelDatabase->geometry().right() + 1 + kLinkGap, kLedgerTop);
}

void TfrmLogin::showEvent(QShowEvent* event)
{
    if (!FShownOnce) {
        FShownOnce = true;
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
    FormShow();
}

void TfrmLogin::FormShow()
{
    if (!trimmed32(ComboBox1->currentText()).isEmpty())
        Edit1->setFocus();
}

void TfrmLogin::keyPressEvent(QKeyEvent* event)
{
    // Neither Enter nor Escape closes this dialog: it ends only through "登陆" or "取消".
    if (event->key() == Qt::Key_Escape || isEnterKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TfrmLogin::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == LabelChangeDatabase
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return false;
        if (event->type() == QEvent::MouseButtonPress) {
            setTextColour(LabelChangeDatabase, Qt::red);
        } else {
            setTextColour(LabelChangeDatabase, palette().color(QPalette::Link));
            LabelChangeDatabaseClick();
        }
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == ComboBox1 || watched == ComboBox1->lineEdit())
            return ComboBox1KeyPress(key);
        if (watched == Edit1)
            return Edit1KeyPress(key);
    }
    return QDialog::eventFilter(watched, event);
}

bool TfrmLogin::ComboBox1KeyPress(QKeyEvent* key)
{
    if (!isEnterKey(key))
        return false;
    Edit1->setFocus();
    return true;
}

bool TfrmLogin::Edit1KeyPress(QKeyEvent* key)
{
    if (!isEnterKey(key))
        return false;
    Button1Click();
    return true;
}

void TfrmLogin::UpdateLoginButton()
{
    Button1->setEnabled(!ComboBox1->currentText().isEmpty() && !Edit1->text().isEmpty());
}

void TfrmLogin::LoadUserNames()
{
    QStringList names;
    try {
        FDbMan->GetUserNames(&names);
    } catch (const TServerUnreachable&) {
        // While the server is away, the accounts that logged in here before may log in offline.
        TDbMan(FDbMan->location().asOffline()).GetUserNames(&names);
        if (names.isEmpty())
            throw;
    }
    const QSignalBlocker blocker(ComboBox1);
    ComboBox1->clear();
    ComboBox1->addItems(names);
    selectFirstQuietly(ComboBox1);
}

void TfrmLogin::ListUsers(QWidget* messageParent)
{
    const bool listed = guarded(
        [this] {
            BusyCursor busy;
            LoadUserNames();
        },
        messageParent);
    if (!listed) {
        // Names of the ledger used before would be names this one does not know.
        const QSignalBlocker blocker(ComboBox1);
        ComboBox1->clear();
    }
    UpdateLoginButton();
}

void TfrmLogin::LabelChangeDatabaseClick()
{
    std::unique_ptr<TfrmDatabase> chooser;
    guarded([&] { chooser = std::make_unique<TfrmDatabase>(this); }, this);
    if (!chooser || chooser->exec() != QDialog::Accepted)
        return;
    chooser.reset();
    if (!guarded([this] { FDbMan = std::make_unique<TDbMan>(currentLedger().online()); }, this))
        return;
    ShowLedger();
    ListUsers(this);
    FormShow();
}

void TfrmLogin::Button1Click()
{
    if (!Button1->isEnabled())
        return;
    const QString name = ComboBox1->currentText();
    bool verified = false;
    bool ran = false;
    {
        BusyCursor busy(Button1);
        ran = guarded(
            [&] {
                const LedgerLocation ledger = FDbMan->location();
                try {
                    verified = FDbMan->CheckUser(name, Edit1->text());
                    if (verified)
                        FDbMan->MoveUserToFront(name);
                    // Back online after working offline.
                    if (verified && currentLedger().offline)
                        setCurrentLedger(ledger);
                } catch (const TServerUnreachable&) {
                    if (!ledger.isServer())
                        throw;
                    // The server is away: an account that logged in here before works offline.
                    verified = TDbMan(ledger.asOffline()).CheckUser(name, Edit1->text());
                    if (verified)
                        setCurrentLedger(ledger.asOffline());
                }
            },
            this);
    }
    if (!ran)
        return;
    if (!verified) {
        MessageBox::information(this, QStringLiteral("登陆出错！请检查用户名或密码。"));
        return;
    }
    SelectedUser = name;
    accept();
}

void TfrmLogin::Button2Click()
{
    reject();
}

void TfrmLogin::Button3Click()
{
    Button3->setEnabled(false);
    std::unique_ptr<TfrmAccount> account;
    {
        // The busy cursor covers the dialog's loading only; the user works in it with the normal cursor.
        BusyCursor busy;
        guarded([&] { account = std::make_unique<TfrmAccount>(this); }, this);
    }
    if (account && account->exec() == QDialog::Accepted) {
        guarded([&] { LoadUserNames(); }, this);
        // The account just made is the one to log in as: its password comes next.
        if (!account->createdName().isEmpty()) {
            ComboBox1->setCurrentText(account->createdName());
            Edit1->setFocus(Qt::OtherFocusReason);
        }
    }
    account.reset();
    Button3->setEnabled(true);
}
