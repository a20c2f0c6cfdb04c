#include "forms/DatabaseForm.h"

#include "base/HiClass.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/server/ServerConnection.h"
#include "forms/BusyCursor.h"
#include "forms/ErrorHandler.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QRadioButton>
#include <QThread>

TfrmDatabase::TfrmDatabase(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmDatabase"));
    setWindowTitle(QStringLiteral("选择账本"));
    setFixedSize(420, 206);
    setupControls();
    const LedgerLocation current = withoutShownPassword(currentLedger());
    if (current.isServer()) {
        rbServer->setChecked(true);
        editConnection->setText(current.connection);
        editConnection->setCursorPosition(0);
    } else {
        rbLocal->setChecked(true);
        // Back to a server chosen before, without typing it again.
        editConnection->setText(savedServer().value_or(QString()));
        editConnection->setCursorPosition(0);
    }
    UpdateButtons();
}

void TfrmDatabase::setupControls()
{
    rbLocal = new QRadioButton(QStringLiteral("本机的账本"), this);
    rbLocal->setObjectName(QStringLiteral("rbLocal"));
    rbLocal->move(12, 12);
    rbLocal->adjustSize();
    rbServer = new QRadioButton(QStringLiteral("服务器上的账本"), this);
    rbServer->setObjectName(QStringLiteral("rbServer"));
    rbServer->move(12, 38);
    rbServer->adjustSize();
    editConnection = makeEdit(this, "editConnection", QRect(32, 64, 376, 22));
    editConnection->setPlaceholderText(QStringLiteral("postgresql://kivaro@shop-server/ledger"));
    LabelHelp = makeLabel(this, "LabelHelp",
        QStringLiteral("填写 PostgreSQL 的连接串或网址，例如：\n"
                       "postgresql://kivaro@shop-server/ledger\n"
                       "service=shop\n"
                       "密码不会保存，服务器需要时程序会询问。"),
        32, 94);
    LabelHelp->setWordWrap(true);
    LabelHelp->setGeometry(32, 94, 376, 64);
    LabelHelp->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    btnTestConnection = makeButton(this, "btnTestConnection", QStringLiteral("测试连接"), QRect(12, 170, 90, 25));
    btnOk = makeButton(this, "btnOk", QStringLiteral("确定"), QRect(252, 170, 75, 25));
    btnCancel = makeButton(this, "btnCancel", QStringLiteral("取消"), QRect(333, 170, 75, 25));

    connect(rbLocal, &QRadioButton::toggled, this, &TfrmDatabase::UpdateButtons);
    connect(rbServer, &QRadioButton::toggled, this, &TfrmDatabase::UpdateButtons);
    connect(editConnection, &QLineEdit::textChanged, this, &TfrmDatabase::UpdateButtons);
    connect(btnTestConnection, &QPushButton::clicked, this, &TfrmDatabase::btnTestConnectionClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmDatabase::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmDatabase::keyPressEvent(QKeyEvent* event)
{
    // The dialog ends only through its buttons and its close box.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmDatabase::UpdateButtons()
{
    const bool server = rbServer->isChecked();
    const bool typed = !isBlankText(editConnection->text());
    editConnection->setEnabled(server);
    btnTestConnection->setEnabled(server && typed);
    btnOk->setEnabled(!server || typed);
}

LedgerLocation TfrmDatabase::typedServer() const
{
    return LedgerLocation::server(editConnection->text());
}

std::optional<QString> TfrmDatabase::checkLedger(const LedgerLocation& location)
{
    std::optional<QString> failure;
    {
        BusyCursor busy;
        try {
            TDbMan db(location);
            QStringList names;
            db.GetUserNames(&names);
        } catch (const KivaroError& error) {
            failure = error.text();
        } catch (const std::exception& error) {
            failure = QString::fromLocal8Bit(error.what());
        }
    }
    return failure;
}

void TfrmDatabase::btnTestConnectionClick()
{
    if (!btnTestConnection->isEnabled())
        return;
    btnTestConnection->setEnabled(false);
    const LedgerLocation location = typedServer();
    const std::optional<QString> failure = checkLedger(location);
    UpdateButtons();
    if (failure)
        showError(QStringLiteral("连接失败：%1").arg(*failure), this);
    else
        MessageBox::information(
            this, QStringLiteral("连接成功：服务器“%1”上的账本可以使用。").arg(location.displayName()));
}

void TfrmDatabase::btnOkClick()
{
    if (!btnOk->isEnabled())
        return;
    if (rbLocal->isChecked()) {
        const bool chosen = guarded(
            [] {
                setCurrentLedger(LedgerLocation::file(THi::GetDataDir(QString())));
                saveServerChoice(std::nullopt);
            },
            this);
        if (chosen)
            accept();
        return;
    }
    btnOk->setEnabled(false);
    const LedgerLocation typed = typedServer();
    const std::optional<QString> failure = checkLedger(typed);
    UpdateButtons();
    if (failure) {
        showError(QStringLiteral("连接失败：%1").arg(*failure), this);
        return;
    }
    const LedgerLocation kept = withoutShownPassword(typed);
    setCurrentLedger(kept);
    saveServerChoice(kept.connection);
    editConnection->setText(kept.connection);
    accept();
}

LedgerLocation withoutShownPassword(const LedgerLocation& location)
{
    if (!location.isServer())
        return location;
    QString password;
    try {
        password = parseServerConnection(location.connection).password;
    } catch (const KivaroError&) {
        // Unreadable: opening it says so, without the text's password.
        return location;
    }
    if (password.isEmpty())
        return location;
    const LedgerLocation kept = LedgerLocation::server(connectionWithoutPassword(location.connection));
    rememberServerPassword(kept.connection, password);
    return kept;
}

std::optional<QString> askServerPassword(const QString& server, const QString& reason)
{
    if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread())
        return std::nullopt;
    QDialog dialog(QApplication::activeWindow(),
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialog.setObjectName(QStringLiteral("frmServerPassword"));
    dialog.setWindowTitle(QStringLiteral("%1 - 服务器密码").arg(QString::fromLatin1(kAppTitle)));
    dialog.setFixedSize(320, 124);
    QLabel* prompt
        = makeLabel(&dialog, "LabelPrompt", QStringLiteral("数据库服务器“%1”：%2").arg(server, reason), 12, 10);
    prompt->setWordWrap(true);
    prompt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    prompt->setGeometry(12, 10, 296, 40);
    makeLabel(&dialog, "LabelPassword", QStringLiteral("密  码："), 12, 62);
    QLineEdit* edit = makeEdit(&dialog, "editPassword", QRect(64, 58, 244, 22), true);
    QPushButton* ok = makeButton(&dialog, "btnOk", QStringLiteral("确定"), QRect(152, 90, 75, 25));
    QPushButton* cancel = makeButton(&dialog, "btnCancel", QStringLiteral("取消"), QRect(233, 90, 75, 25));
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    QObject::connect(edit, &QLineEdit::returnPressed, &dialog, &QDialog::accept);
    // The prompt comes up in the middle of work that shows the busy cursor; typing wants the normal one.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = dialog.exec();
    QApplication::restoreOverrideCursor();
    if (result != QDialog::Accepted)
        return std::nullopt;
    return edit->text();
}
