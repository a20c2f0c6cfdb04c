#include "forms/EditNameForm.h"

#include "db/DbClass.h"
#include "db/ProductsFile.h"
#include "forms/ErrorHandler.h"
#include "forms/FormUtil.h"
#include "forms/ProductsForm.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QShowEvent>

TfrmEditName::TfrmEditName(TDbMan* dbMan, const QString& userName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , FDbMan(dbMan)
    , FUserName(userName)
{
    setObjectName(QStringLiteral("frmEditName"));
    setWindowTitle(QStringLiteral("编辑品名"));
    setFixedSize(547, 422);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(9, 9, 529, 373);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    Button1 = makeButton(this, "Button1", QStringLiteral("确定"), QRect((547 - 75) / 2, 389, 75, 25));
    connect(Button1, &QPushButton::clicked, this, &TfrmEditName::Button1Click);
    // The names with their codes and prices.
    btnProducts = makeButton(this, "btnProducts", QStringLiteral("商品资料…"), QRect(9, 389, 80, 25));
    connect(btnProducts, &QPushButton::clicked, this, [this] {
        TfrmProducts products(FDbMan, FUserName, this);
        connect(&products, &TfrmProducts::changed, this, &TfrmEditName::catalogueChanged);
        products.exec();
    });
}

void TfrmEditName::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmEditName::FormShow()
{
    std::optional<QStringList> names;
    const bool read = guarded([&] { names = FDbMan->ProductNames(FUserName); }, this);
    if (!read) {
        // "确定" would replace names that could not be shown; only the close box is left.
        Memo1->setReadOnly(true);
        Button1->setEnabled(false);
        return;
    }
    const QStringList shown = names.value_or(QStringList());
    FStoredNames = QSet<QString>(shown.cbegin(), shown.cend());
    Memo1->setPlainText(shown.join(QLatin1Char('\n')));
}

void TfrmEditName::Button1Click()
{
    if (!Button1->isEnabled())
        return;
    // The document's lines are the typed lines: a name wrapped on screen stays one name.
    QStringList names = splitLines(Memo1->toPlainText());
    // Names the store held are kept as they were stored; typed ones are kept composed.
    for (QString& name : names) {
        if (!FStoredNames.contains(name))
            name = name.normalized(QString::NormalizationForm_C);
    }
    // On failure the old names stay, and the dialog stays open with the user's text.
    if (guarded([&] { FDbMan->WriteProductNames(FUserName, names); }, this))
        accept();
}

void TfrmEditName::keyPressEvent(QKeyEvent* event)
{
    // The editor ends only through its buttons and its close box: Escape must not throw away the edited names.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
