#include "forms/MainForm.h"

#include "app/BusyCursor.h"
#include "app/ErrorHandler.h"
#include "app/MessageBox.h"
#include "db/DbClass.h"
#include "db/Numbers.h"
#include "db/TextCodec.h"
#include "forms/FormUtil.h"
#include "forms/UpdateRecordForm.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QTreeView>

namespace {

const QStringList kViewNames { QStringLiteral("每天销售产品明细列表"), QStringLiteral("每天销售数量金额统计"),
    QStringLiteral("每天各个产品销量统计"), QStringLiteral("各个产品销售数量排行") };

constexpr Qt::Alignment kLeft = Qt::AlignLeft;
constexpr Qt::Alignment kRight = Qt::AlignRight;

QString rangeDayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy/MM/dd"));
}

// Amounts arrive with a full stop, whatever their size; the lists show them in the user's number format.
QString shownAmount(QString text, QChar separator)
{
    return text.replace(QLatin1Char('.'), separator);
}

// Puts the amount columns of a flat list of rows of width texts into the user's number format.
QStringList shownTexts(QStringList flat, int width, int firstAmount, int amounts)
{
    const QChar separator = localeDecimalSeparator();
    if (separator == QLatin1Char('.'))
        return flat;
    for (qsizetype at = 0; at + width <= flat.size(); at += width) {
        for (int i = firstAmount; i < firstAmount + amounts; ++i)
            flat[at + i] = shownAmount(flat.at(at + i), separator);
    }
    return flat;
}

// A grouped row holds sums, which may exceed what one typed line may hold: they are read at any size. An edited
// detail row shows what the user typed, read as a typed line.
qint64 listedQuantity(const QString& text)
{
    if (const std::optional<qint64> sum = parseShownInteger(text))
        return *sum;
    return parseQuantity(text).value_or(0);
}

WideCents listedCents(const QString& text, QChar separator)
{
    if (const std::optional<WideCents> sum = parseShownCents(text, separator))
        return *sum;
    return parseAmountCents(text, separator).value_or(0);
}

// The totals line of a list, from its quantity, received and cost columns.
QString listTotals(const ReportListModel* model, int quantityColumn)
{
    const QChar separator = localeDecimalSeparator();
    qint64 quantity = 0;
    WideCents received = 0;
    WideCents cost = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
        quantity += listedQuantity(model->text(row, quantityColumn));
        received += listedCents(model->text(row, quantityColumn + 1), separator);
        cost += listedCents(model->text(row, quantityColumn + 2), separator);
    }
    return totalsLine(quantity, received, cost);
}

QLabel* makeTotalsLabel(QWidget* panel, const char* name)
{
    QLabel* label = makeLabel(panel, name, QStringLiteral("#"), 8, 385);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 0, 0));
    label->setPalette(palette);
    return label;
}

QPushButton* makeViewButton(QWidget* panel, const char* name, const QString& text, int left)
{
    QPushButton* button = makeButton(panel, name, text, QRect(left, 380, 74, 23));
    button->setFocusPolicy(Qt::ClickFocus);
    return button;
}

QWidget* makeViewPanel(QWidget* parent, const char* name)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setGeometry(0, 41, 692, 417);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, Qt::white);
    panel->setPalette(palette);
    return panel;
}

QDateEdit* makeDatePicker(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* picker = new QDateEdit(parent);
    picker->setObjectName(QString::fromLatin1(name));
    picker->setGeometry(geometry);
    picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    picker->setCalendarPopup(true);
    picker->setFocusPolicy(Qt::ClickFocus);
    return picker;
}

// Runs an edit or delete of a stored line. A line that is gone is the user's news, not an unexpected error.
template <typename Change>
bool guardedChange(Change&& change, QWidget* parent)
{
    try {
        change();
        return true;
    } catch (const TRecordGone& gone) {
        MessageBox::error(parent, gone.text());
        return false;
    } catch (...) {
        return guarded([] { throw; }, parent);
    }
}

} // namespace

ReportListModel* TfrmMain::modelOf(QTreeView* view)
{
    return static_cast<ReportListModel*>(view->model());
}

QTreeView* TfrmMain::setupView(QWidget* panel, const char* name, QList<ReportListModel::Column> columns)
{
    auto* view = new QTreeView(panel);
    view->setObjectName(QString::fromLatin1(name));
    view->setGeometry(8, 0, 676, 373);
    columns.prepend({ QString(), 0, kLeft });
    auto* model = new ReportListModel(columns, view);
    view->setModel(model);
    setReportStyle(view);
    QHeaderView* header = view->header();
    for (int column = 0; column < columns.size(); ++column)
        header->resizeSection(column, columns.at(column).width);
    return view;
}

void TfrmMain::setupReviewPage()
{
    DateTimePicker2 = makeDatePicker(Panel3, "DateTimePicker2", QRect(8, 12, 135, 20));
    makeLabel(Panel3, "Label20", QStringLiteral("-"), 150, 16);
    DateTimePicker3 = makeDatePicker(Panel3, "DateTimePicker3", QRect(163, 12, 135, 20));
    Button7 = makeViewButton(Panel3, "Button7", QStringLiteral("查看"), 302);
    Button7->setGeometry(302, 10, 74, 23);
    makeLabel(Panel3, "Label21", QStringLiteral("显示："), 465, 16);
    ComboBox6 = new QComboBox(Panel3);
    ComboBox6->setObjectName(QStringLiteral("ComboBox6"));
    ComboBox6->setGeometry(504, 12, 180, 20);
    ComboBox6->setFocusPolicy(Qt::ClickFocus);
    ComboBox6->addItems(kViewNames);

    Panel4 = makeViewPanel(Panel3, "Panel4");
    ListView2 = setupView(Panel4, "ListView2",
        { { QStringLiteral("日期"), 76, kLeft }, { QStringLiteral("品名"), 272, kLeft },
            { QStringLiteral("数量"), 40, kRight }, { QStringLiteral("实收"), 64, kRight },
            { QStringLiteral("成本"), 64, kRight }, { QStringLiteral("备注"), 136, kLeft } });
    Label19 = makeTotalsLabel(Panel4, "Label19");
    Button11 = makeViewButton(Panel4, "Button11", QStringLiteral("编辑"), 454);
    Button10 = makeViewButton(Panel4, "Button10", QStringLiteral("删除"), 528);
    Button8 = makeViewButton(Panel4, "Button8", QStringLiteral("预览&&打印"), 610);

    Panel5 = makeViewPanel(Panel3, "Panel5");
    ListView3 = setupView(Panel5, "ListView3",
        { { QStringLiteral("日期"), 120, kLeft }, { QStringLiteral("数量"), 120, kRight },
            { QStringLiteral("实收"), 120, kRight }, { QStringLiteral("成本"), 120, kRight },
            { QStringLiteral("利润"), 120, kRight } });
    Label22 = makeTotalsLabel(Panel5, "Label22");
    Button13 = makeViewButton(Panel5, "Button13", QStringLiteral("预览&&打印"), 610);

    Panel6 = makeViewPanel(Panel3, "Panel6");
    ListView4 = setupView(Panel6, "ListView4",
        { { QStringLiteral("日期"), 76, kLeft }, { QStringLiteral("品名"), 300, kLeft },
            { QStringLiteral("数量"), 50, kRight }, { QStringLiteral("实收"), 74, kRight },
            { QStringLiteral("成本"), 74, kRight }, { QStringLiteral("利润"), 74, kRight } });
    Label23 = makeTotalsLabel(Panel6, "Label23");
    Button14 = makeViewButton(Panel6, "Button14", QStringLiteral("预览&&打印"), 610);

    Panel7 = makeViewPanel(Panel3, "Panel7");
    ListView5 = setupView(Panel7, "ListView5",
        { { QStringLiteral("品名"), 375, kLeft }, { QStringLiteral("数量"), 50, kRight },
            { QStringLiteral("实收"), 74, kRight }, { QStringLiteral("成本"), 74, kRight },
            { QStringLiteral("利润"), 74, kRight } });
    Label24 = makeTotalsLabel(Panel7, "Label24");
    Button15 = makeViewButton(Panel7, "Button15", QStringLiteral("预览&&打印"), 610);

    connect(ComboBox6, &QComboBox::currentIndexChanged, this, &TfrmMain::ComboBox6Click);
    connect(Button7, &QPushButton::clicked, this, &TfrmMain::Button7Click);
    connect(Button10, &QPushButton::clicked, this, &TfrmMain::Button10Click);
    connect(Button11, &QPushButton::clicked, this, &TfrmMain::Button11Click);
    connect(Button8, &QPushButton::clicked, this, &TfrmMain::Button8Click);
    connect(Button13, &QPushButton::clicked, this, &TfrmMain::Button13Click);
    connect(Button14, &QPushButton::clicked, this, &TfrmMain::Button14Click);
    connect(Button15, &QPushButton::clicked, this, &TfrmMain::Button15Click);
    connect(ListView2->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TfrmMain::ListView2Change);
}

void TfrmMain::prepareReviewPage()
{
    const QDate today = QDate::currentDate();
    DateTimePicker2->setDate(today.addDays(1 - today.day()));
    DateTimePicker3->setDate(today);
    ComboBox6->setCurrentIndex(0);
    ComboBox6Click();
    UpdateDetailTotals();
    UpdateDailyTotals();
    UpdateDailyProductTotals();
    UpdateRankingTotals();
    ListView2Change();
    ListView3Change();
    ListView4Change();
    ListView5Change();
}

void TfrmMain::ComboBox6Click()
{
    const QString chosen = ComboBox6->currentText().trimmed();
    QWidget* const panels[] = { Panel4, Panel5, Panel6, Panel7 };
    const qsizetype index = kViewNames.indexOf(chosen);
    if (index < 0)
        return;
    for (qsizetype i = 0; i < 4; ++i)
        panels[i]->setVisible(i == index);
}

void TfrmMain::Button7Click()
{
    {
        BusyCursor busy(Button7);
        guarded(
            [this] {
                QStringList detail, daily, products, ranking;
                FDbMan->QueryReport(FUserName, rangeDayText(DateTimePicker2->date()),
                    rangeDayText(DateTimePicker3->date()), detail, daily, products, ranking);
                fillViews(detail, daily, products, ranking);
            },
            this);
    }
    ListView2Change();
    ListView3Change();
    ListView4Change();
    ListView5Change();
    UpdateDetailTotals();
    UpdateDailyTotals();
    UpdateDailyProductTotals();
    UpdateRankingTotals();
}

void TfrmMain::fillViews(const QStringList& detail, const QStringList& daily, const QStringList& products,
    const QStringList& ranking)
{
    // The query keeps the ID in front of each detail line; it becomes the hidden first column.
    modelOf(ListView2)->setTexts(shownTexts(detail, 7, 4, 2), true);
    modelOf(ListView3)->setTexts(shownTexts(daily, 5, 2, 3), false);
    modelOf(ListView4)->setTexts(shownTexts(products, 6, 3, 3), false);
    modelOf(ListView5)->setTexts(shownTexts(ranking, 5, 2, 3), false);
}

void TfrmMain::ListView2Change()
{
    const bool selected = selectedDetailRow() >= 0;
    Button10->setEnabled(selected);
    Button11->setEnabled(selected);
    Button8->setEnabled(modelOf(ListView2)->rowCount() > 0);
}

void TfrmMain::ListView3Change()
{
    Button13->setEnabled(modelOf(ListView3)->rowCount() > 0);
}

void TfrmMain::ListView4Change()
{
    Button14->setEnabled(modelOf(ListView4)->rowCount() > 0);
}

void TfrmMain::ListView5Change()
{
    Button15->setEnabled(modelOf(ListView5)->rowCount() > 0);
}

void TfrmMain::UpdateDetailTotals()
{
    setSizedText(Label19, listTotals(modelOf(ListView2), 3));
}

void TfrmMain::UpdateDailyTotals()
{
    setSizedText(Label22, listTotals(modelOf(ListView3), 2));
}

void TfrmMain::UpdateDailyProductTotals()
{
    setSizedText(Label23, listTotals(modelOf(ListView4), 3));
}

void TfrmMain::UpdateRankingTotals()
{
    setSizedText(Label24, listTotals(modelOf(ListView5), 2));
}

int TfrmMain::selectedDetailRow() const
{
    const QModelIndexList rows = ListView2->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TfrmMain::Button10Click()
{
    const int row = selectedDetailRow();
    if (row < 0 || !MessageBox::confirm(this, QStringLiteral("真的要删除指定的记录？")))
        return;
    const bool deleted = guardedChange([&] { FDbMan->DeleteRecord(modelOf(ListView2)->text(row, 0)); }, this);
    if (deleted)
        modelOf(ListView2)->removeRowAt(row);
    // The view would select the neighbour, and a second "删除" would take a line the user never chose.
    ListView2->selectionModel()->clear();
    ListView2Change();
    UpdateDetailTotals();
}

void TfrmMain::Button11Click()
{
    const int row = selectedDetailRow();
    if (row < 0 || !MessageBox::confirm(this, QStringLiteral("真的要编辑指定的记录？")))
        return;
    ReportListModel* model = modelOf(ListView2);
    const QStringList shown = model->row(row);
    TfrmUpdateRecord dialog(this);
    dialog.setLine(QDate::fromString(shown.at(1), QStringLiteral("yyyy-MM-dd")), shown.at(2), shown.at(3),
        shown.at(4), shown.at(5), shown.at(6));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList typed = dialog.trimmedTexts();
    const QChar separator = localeDecimalSeparator();
    // The store takes amounts with a full stop; the dialog has checked that both parse.
    const auto stored = [separator](const QString& amount) {
        return formatCents(parseAmountCents(amount, separator).value_or(0));
    };
    const bool updated = guardedChange(
        [&] {
            FDbMan->UpdateRecord(shown.at(0), dialog.day().toString(QStringLiteral("yyyy/MM/dd")), typed.at(0),
                typed.at(1), stored(typed.at(2)), stored(typed.at(3)), typed.at(4));
        },
        this);
    if (!updated)
        return;
    model->setRow(row, QStringList { shown.at(0), dialog.day().toString(QStringLiteral("yyyy-MM-dd")) } + typed);
    ListView2->selectionModel()->clear();
    ListView2Change();
    UpdateDetailTotals();
    MessageBox::information(this, QStringLiteral("恭喜您，本次操作成功！"));
}
