#include "forms/AccountForm.h"

#include "db/DbClass.h"
#include "forms/BusyCursor.h"
#include "forms/ErrorHandler.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"

#include <QKeyEvent>
#include <QTabWidget>

TfrmAccount::TfrmAccount(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAccount"));
    setWindowTitle(QStringLiteral("帐户"));
    setFixedSize(315, 194);
    setupControls();
    // FormCreate.
    PageControl1->setCurrentIndex(0);
    // Each page opens with the focus in its first field, the name.
    const auto focusFirstField = [this](int page) {
        QWidget* first[] = { Edit1, ComboBox2, ComboBox1 };
        if (page >= 0 && page < 3)
            first[page]->setFocus(Qt::OtherFocusReason);
    };
    connect(PageControl1, &QTabWidget::currentChanged, this, focusFirstField);
    focusFirstField(0);
    UpdateOkButton();
    FDbMan = std::make_unique<TDbMan>();
    LoadUserNames();
}

TfrmAccount::~TfrmAccount() = default;

QWidget* TfrmAccount::setupPage(const char* name, const QString& caption)
{
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(name));
    PageControl1->addTab(page, caption);
    return page;
}

void TfrmAccount::setupControls()
{
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(8, 8, 299, 146);

    QWidget* page1 = setupPage("TabSheet1", QStringLiteral("新建用户名"));
    makeLabel(page1, "Label1", QStringLiteral("用户名："), 12, 16);
    Edit1 = makeEdit(page1, "Edit1", QRect(72, 12, 206, 22));
    makeLabel(page1, "Label2", QStringLiteral("密  码："), 12, 46);
    Edit2 = makeEdit(page1, "Edit2", QRect(72, 42, 206, 22), true);

    QWidget* page2 = setupPage("TabSheet2", QStringLiteral("修改密码"));
    makeLabel(page2, "Label3", QStringLiteral("用户名："), 12, 16);
    ComboBox2 = makeNameBox(page2, "ComboBox2", QRect(72, 12, 206, 22));
    makeLabel(page2, "Label5", QStringLiteral("旧密码："), 12, 46);
    Edit5 = makeEdit(page2, "Edit5", QRect(72, 42, 206, 22), true);
    makeLabel(page2, "Label7", QStringLiteral("新密码："), 12, 76);
    Edit7 = makeEdit(page2, "Edit7", QRect(72, 72, 206, 22), true);

    QWidget* page3 = setupPage("TabSheet3", QStringLiteral("删除用户名"));
    makeLabel(page3, "Label4", QStringLiteral("用户名："), 12, 16);
    ComboBox1 = makeNameBox(page3, "ComboBox1", QRect(72, 12, 206, 22));
    makeLabel(page3, "Label6", QStringLiteral("密  码："), 12, 46);
    Edit4 = makeEdit(page3, "Edit4", QRect(72, 42, 206, 22), true);

    Button1 = makeButton(this, "Button1", QStringLiteral("确定"), QRect(152, 162, 74, 23));
    Button2 = makeButton(this, "Button2", QStringLiteral("取消"), QRect(233, 162, 74, 23));

    connect(PageControl1, &QTabWidget::currentChanged, this, &TfrmAccount::Edit1Change);
    for (QLineEdit* edit : { Edit1, Edit2, Edit5, Edit7, Edit4 }) {
        connect(edit, &QLineEdit::textChanged, this, &TfrmAccount::Edit1Change);
        edit->installEventFilter(this);
    }
    for (QComboBox* box : { ComboBox2, ComboBox1 }) {
        connect(box, &QComboBox::editTextChanged, this, &TfrmAccount::Edit1Change);
        box->installEventFilter(this);
        box->lineEdit()->installEventFilter(this);
    }
    connect(Button1, &QPushButton::clicked, this, &TfrmAccount::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TfrmAccount::Button2Click);
}

bool TfrmAccount::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && fieldKeyPress(watched, static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

// The key handlers of the seven fields: Enter moves on, or runs "确定" in the last field of a page.
bool TfrmAccount::fieldKeyPress(QObject* field, QKeyEvent* key)
{
    if (!isEnterKey(key))
        return false;
    if (field == ComboBox2->lineEdit())
        field = ComboBox2;
    if (field == ComboBox1->lineEdit())
        field = ComboBox1;
    if (field == Edit1)
        Edit2->setFocus();
    else if (field == ComboBox2)
        Edit5->setFocus();
    else if (field == Edit5)
        Edit7->setFocus();
    else if (field == ComboBox1)
        Edit4->setFocus();
    else if (field == Edit2 || field == Edit7 || field == Edit4)
        Button1Click();
    else
        return false;
    return true;
}

void TfrmAccount::Edit1Change()
{
    UpdateOkButton();
}

void TfrmAccount::UpdateOkButton()
{
    bool filled = false;
    switch (PageControl1->currentIndex()) {
    case 0:
        filled = !Edit1->text().isEmpty() && !Edit2->text().isEmpty();
        break;
    case 1:
        filled = !ComboBox2->currentText().isEmpty() && !Edit5->text().isEmpty() && !Edit7->text().isEmpty();
        break;
    case 2:
        filled = !ComboBox1->currentText().isEmpty() && !Edit4->text().isEmpty();
        break;
    }
    Button1->setEnabled(filled);
}

void TfrmAccount::LoadUserNames()
{
    QStringList names;
    FDbMan->GetUserNames(&names);
    for (QComboBox* box : { ComboBox2, ComboBox1 }) {
        const QSignalBlocker blocker(box);
        box->clear();
        box->addItems(names);
        selectFirstQuietly(box);
    }
}

void TfrmAccount::Button1Click()
{
    if (!Button1->isEnabled())
        return;
    bool succeeded = false;
    bool ran = false;
    {
        BusyCursor busy(Button1);
        ran = guarded(
            [&] {
                switch (PageControl1->currentIndex()) {
                case 0:
                    succeeded = FDbMan->AddUser(Edit1->text(), Edit2->text());
                    break;
                case 1:
                    succeeded = FDbMan->ChangePassword(ComboBox2->currentText(), Edit5->text(), Edit7->text());
                    break;
                case 2:
                    succeeded = FDbMan->DeleteUser(ComboBox1->currentText(), Edit4->text());
                    break;
                }
            },
            this);
    }
    if (!ran)
        return;
    if (!succeeded) {
        MessageBox::information(this, QStringLiteral("很抱歉，本次操作失败！"));
        return;
    }
    MessageBox::information(this, QStringLiteral("恭喜您，本次操作成功！"));
    if (PageControl1->currentIndex() == 0)
        FCreatedName = Edit1->text();
    accept();
}

void TfrmAccount::Button2Click()
{
    reject();
}

void TfrmAccount::keyPressEvent(QKeyEvent* event)
{
    // The window ends only through its buttons and its close box.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
