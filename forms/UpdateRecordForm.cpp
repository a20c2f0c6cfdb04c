#include "forms/UpdateRecordForm.h"

#include "base/TextCodec.h"
#include "db/Numbers.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"

#include <QDateEdit>

TfrmUpdateRecord::TfrmUpdateRecord(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("frmUpdateRecord"));
    setWindowTitle(QStringLiteral("Edit"));
    setFixedSize(417, 223);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);
    setupControls();
    // FormCreate.
    Edit1Change();
}

void TfrmUpdateRecord::setupControls()
{
    const char* labels[] = { "Label1", "Label2", "Label3", "Label4", "Label5", "Label6" };
    const QString captions[] = { QStringLiteral("日期："), QStringLiteral("品名："), QStringLiteral("数量："),
        QStringLiteral("实收："), QStringLiteral("成本："), QStringLiteral("备注：") };
    const int labelTops[] = { 16, 45, 74, 103, 132, 162 };
    for (int i = 0; i < 6; ++i)
        makeLabel(this, labels[i], captions[i], 8, labelTops[i]);

    DateTimePicker1 = makeDayPicker(this, "DateTimePicker1", QRect(48, 12, 360, 20));
    Edit1 = makeEdit(this, "Edit1", QRect(48, 41, 360, 20));
    Edit2 = makeEdit(this, "Edit2", QRect(48, 70, 360, 20));
    Edit3 = makeEdit(this, "Edit3", QRect(48, 99, 360, 20));
    Edit4 = makeEdit(this, "Edit4", QRect(48, 128, 360, 20));
    Edit5 = makeEdit(this, "Edit5", QRect(48, 158, 360, 20));
    Button2 = makeButton(this, "Button2", QStringLiteral("确定"), QRect(254, 189, 74, 23));
    Button1 = makeButton(this, "Button1", QStringLiteral("取消"), QRect(334, 189, 74, 23));

    QWidget* order[] = { DateTimePicker1, Edit1, Edit2, Edit3, Edit4, Edit5, Button2, Button1 };
    for (int i = 0; i + 1 < 8; ++i)
        setTabOrder(order[i], order[i + 1]);
    for (QLineEdit* edit : { Edit1, Edit2, Edit3, Edit4 })
        connect(edit, &QLineEdit::textChanged, this, &TfrmUpdateRecord::Edit1Change);
    for (QWidget* field :
        { static_cast<QWidget*>(DateTimePicker1), static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Edit2),
            static_cast<QWidget*>(Edit3), static_cast<QWidget*>(Edit4), static_cast<QWidget*>(Edit5) })
        field->installEventFilter(this);
    connect(Button2, &QPushButton::clicked, this, &TfrmUpdateRecord::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmUpdateRecord::Button1Click);
}

void TfrmUpdateRecord::setLine(const QDate& day, const QString& productName, const QString& quantity,
    const QString& received, const QString& cost, const QString& memo)
{
    FStoredName = productName;
    FStoredMemo = memo;
    DateTimePicker1->setDate(day);
    Edit1->setText(productName);
    Edit2->setText(quantity);
    Edit3->setText(received);
    Edit4->setText(cost);
    Edit5->setText(memo);
}

QDate TfrmUpdateRecord::day() const
{
    return DateTimePicker1->date();
}

QStringList TfrmUpdateRecord::trimmedTexts() const
{
    // A stored text left unchanged keeps its form; an edited one is kept composed.
    const auto kept = [](const QLineEdit* edit, const QString& stored) {
        return edit->text() == stored ? trimmed32(stored) : composedTrimmed(edit->text());
    };
    return { kept(Edit1, FStoredName), trimmed32(Edit2->text()), trimmed32(Edit3->text()), trimmed32(Edit4->text()),
        kept(Edit5, FStoredMemo) };
}

void TfrmUpdateRecord::keyPressEvent(QKeyEvent* event)
{
    // The dialog ends only through its two buttons.
    if (event->key() == Qt::Key_Escape || isEnterKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TfrmUpdateRecord::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        // Entering a field leaves its text unselected.
        if (auto* edit = qobject_cast<QLineEdit*>(watched))
            QMetaObject::invokeMethod(edit, &QLineEdit::deselect, Qt::QueuedConnection);
    }
    if (event->type() != QEvent::KeyPress || !isEnterKey(static_cast<QKeyEvent*>(event)))
        return QDialog::eventFilter(watched, event);
    QWidget* const next[][2]
        = { { DateTimePicker1, Edit1 }, { Edit1, Edit2 }, { Edit2, Edit3 }, { Edit3, Edit4 }, { Edit4, Edit5 } };
    for (const auto& step : next) {
        if (watched == step[0]) {
            step[1]->setFocus();
            return true;
        }
    }
    if (watched == Edit5) {
        Button2Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmUpdateRecord::Edit1Change()
{
    Button2->setEnabled(!isBlankText(Edit1->text()) && !trimmed32(Edit2->text()).isEmpty()
        && !trimmed32(Edit3->text()).isEmpty() && !trimmed32(Edit4->text()).isEmpty());
}

void TfrmUpdateRecord::Button2Click()
{
    if (!Button2->isEnabled())
        return;
    const QChar separator = localeDecimalSeparator();
    if (parseQuantity(Edit2->text()) && parseAmountCents(Edit3->text(), separator)
        && parseAmountCents(Edit4->text(), separator)) {
        accept();
        return;
    }
    MessageBox::information(this, QStringLiteral("很抱歉，您的输入有错误！"));
}

void TfrmUpdateRecord::Button1Click()
{
    reject();
}
