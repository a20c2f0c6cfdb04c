#include "forms/EntryPage.h"

#include "db/KeptSession.h"

#include "base/Error.h"
#include "base/Platform.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/Numbers.h"
#include "db/Outbox.h"
#include "db/ProductsFile.h"
#include "forms/Anchors.h"
#include "forms/BackupUi.h"
#include "forms/BusyCursor.h"
#include "forms/ColumnFit.h"
#include "forms/EditNameForm.h"
#include "forms/ErrorHandler.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"
#include "forms/ProductsForm.h"

#include <QDateEdit>
#include <QFile>
#include <QHash>
#include <QHeaderView>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QTreeView>
#include <algorithm>

std::function<bool()> TEntryPage::startCalculator = [] {
    for (const QString& name : Platform::calculatorPrograms()) {
        const QString program = QStandardPaths::findExecutable(name);
        if (!program.isEmpty() && QProcess::startDetached(program, {}))
            return true;
    }
    return false;
};

namespace {

constexpr int kFieldLeft = 248;
constexpr int kFieldWidth = 357;
constexpr int kButtonLeft = 612;
constexpr int kRowHeight = 28;

int fieldTop(int row)
{
    return 8 + row * kRowHeight;
}

bool enterMovesFocus(QKeyEvent* key, QWidget* next)
{
    if (!isEnterKey(key))
        return false;
    next->setFocus(Qt::OtherFocusReason);
    return true;
}

QPushButton* makeSideButton(QWidget* parent, const char* name, const QString& text, int row)
{
    QPushButton* button = makeButton(parent, name, text, QRect(kButtonLeft, fieldTop(row) - 1, 72, 24));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

TEntryPage::TEntryPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Panel2"));
    // The designed size, which the controls are anchored to; the window may make the page larger.
    resize(692, 458);
    setupHints();
    setupFields();
    setupPendingList();
    setupButtons();
    connectControls();
    FNamesKeeper = new ProductNamesKeeper(this);
    connect(FNamesKeeper, &ProductNamesKeeper::written, this, &TEntryPage::ProductNamesWritten);
    connect(FNamesKeeper, &ProductNamesKeeper::failed, this, &TEntryPage::ProductNamesFailed);
    for (QWidget* side : { Button2, Button3, Button12, Button1 })
        anchor(side, Qt::TopEdge | Qt::RightEdge);
    anchor(ListView1, Qt::TopEdge | Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge);
    anchor(Label18, Qt::LeftEdge | Qt::BottomEdge);
    for (QWidget* bottom : { Button5, Button6, Button4 })
        anchor(bottom, Qt::RightEdge | Qt::BottomEdge);
}

void TEntryPage::setupHints()
{
    const QStringList hints { QStringLiteral("1.选择日期，例如：2009-01-01。"),
        QStringLiteral("2.填写品名，例如：张三牌毛巾。"), QStringLiteral("3.填写数量，例如：1000000008。"),
        QStringLiteral("4.填写实收，例如：8000000.88。"), QStringLiteral("5.填写成本，例如：6000000.68。"),
        QStringLiteral("6.填写备注，例如：购买者李四。"), QStringLiteral("7.确认无误，请点添加按钮即可。"),
        QStringLiteral("8.添加完所有售货请点完成按钮。") };
    for (int i = 0; i < hints.size(); ++i) {
        const QByteArray name = "Label" + QByteArray::number(4 + i);
        makeLabel(this, name.constData(), hints.at(i), 8, 12 + i * 20);
    }
}

void TEntryPage::setupFields()
{
    const char* captions[] = { "日期：", "品名：", "数量：", "实收：", "成本：", "备注：" };
    for (int row = 0; row < 6; ++row) {
        const QByteArray name = "Label" + QByteArray::number(12 + row);
        makeLabel(this, name.constData(), QString::fromUtf8(captions[row]), kFieldLeft - 40, fieldTop(row) + 4);
    }
    DateTimePicker1 = makeDayPicker(this, "DateTimePicker1", QRect(kFieldLeft, fieldTop(0), kFieldWidth, 22));
    DateTimePicker1->setFocusPolicy(Qt::ClickFocus);
    ComboBox1 = makeNameBox(this, "ComboBox1", QRect(kFieldLeft, fieldTop(1), kFieldWidth, 22));
    ComboBox1->setMaxVisibleItems(32);
    ComboBox2 = makeEdit(this, "ComboBox2", QRect(kFieldLeft, fieldTop(2), kFieldWidth, 22));
    ComboBox3 = makeEdit(this, "ComboBox3", QRect(kFieldLeft, fieldTop(3), kFieldWidth, 22));
    ComboBox4 = makeEdit(this, "ComboBox4", QRect(kFieldLeft, fieldTop(4), kFieldWidth, 22));
    ComboBox5 = makeEdit(this, "ComboBox5", QRect(kFieldLeft, fieldTop(5), kFieldWidth, 22));
}

void TEntryPage::setupPendingList()
{
    ListView1 = new QTreeView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(8, 180, 676, 233);
    FPending = new PendingListModel(this);
    ListView1->setModel(FPending);
    setReportStyle(ListView1);
    for (int column = 0; column < FPending->columns().size(); ++column)
        ListView1->setColumnWidth(column, FPending->columns().at(column).width);
    ListView1->setColumnHidden(0, true);
    widenColumnsToText(ListView1, FPending->numericColumns());
}

void TEntryPage::setupButtons()
{
    Button2 = makeSideButton(this, "Button2", QStringLiteral("如何退货"), 0);
    Button3 = makeSideButton(this, "Button3", QStringLiteral("编辑品名"), 1);
    Button12 = makeSideButton(this, "Button12", QStringLiteral("计算器"), 4);
    Button1 = makeSideButton(this, "Button1", QStringLiteral("添加"), 5);
    Button1->setFocusPolicy(Qt::StrongFocus);
    Label18 = makeLabel(this, "Label18", QString(), 8, 425);
    QPalette maroon = Label18->palette();
    maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
    Label18->setPalette(maroon);
    Button5 = makeButton(this, "Button5", QStringLiteral("编辑"), QRect(460, 420, 72, 24));
    Button6 = makeButton(this, "Button6", QStringLiteral("删除"), QRect(536, 420, 72, 24));
    Button4 = makeButton(this, "Button4", QStringLiteral("完成"), QRect(612, 420, 72, 24));
    for (QPushButton* button : { Button5, Button6, Button4 })
        button->setFocusPolicy(Qt::NoFocus);
    // Long totals reach under the buttons: drawn above them the end stays readable, and clicks go through to them.
    Label18->raise();
    Label18->setAttribute(Qt::WA_TransparentForMouseEvents);
    setTabOrder(ComboBox1, ComboBox2);
    setTabOrder(ComboBox2, ComboBox3);
    setTabOrder(ComboBox3, ComboBox4);
    setTabOrder(ComboBox4, ComboBox5);
    setTabOrder(ComboBox5, Button1);
}

void TEntryPage::connectControls()
{
    connect(ComboBox1, &QComboBox::editTextChanged, this, &TEntryPage::ComboBox1Change);
    connect(ComboBox1, &QComboBox::activated, this, &TEntryPage::ComboBox1Change);
    for (QLineEdit* field : { ComboBox2, ComboBox3, ComboBox4 })
        connect(field, &QLineEdit::textChanged, this, &TEntryPage::ComboBox1Change);
    // A product of the catalogue with its unit amounts: 实收 and 成本 follow the quantity.
    connect(ComboBox1, &QComboBox::editTextChanged, this, &TEntryPage::fillAmounts);
    connect(ComboBox2, &QLineEdit::textChanged, this, &TEntryPage::fillAmounts);
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TEntryPage::ListView1Change);
    connect(ListView1->model(), &QAbstractItemModel::rowsInserted, this, &TEntryPage::ListView1Change);
    connect(ListView1->model(), &QAbstractItemModel::rowsRemoved, this, &TEntryPage::ListView1Change);
    connect(Button1, &QPushButton::clicked, this, &TEntryPage::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TEntryPage::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TEntryPage::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TEntryPage::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TEntryPage::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TEntryPage::Button6Click);
    connect(Button12, &QPushButton::clicked, this, &TEntryPage::Button12Click);

    new KeyHandler(DateTimePicker1, [this](QKeyEvent* key) { return DateTimePicker1KeyPress(key); });
    // A sale without the mouse: besides Enter from field to field, the day and 完成 have keys of their own.
    for (const QKeySequence& keys : { QKeySequence(Qt::CTRL | Qt::Key_S), QKeySequence(Qt::CTRL | Qt::Key_Return),
             QKeySequence(Qt::CTRL | Qt::Key_Enter) })
        addPageShortcut(this, keys, [this] { Button4Click(); });
    addPageShortcut(
        this, QKeySequence(Qt::CTRL | Qt::Key_D), [this] { DateTimePicker1->setFocus(Qt::ShortcutFocusReason); });
    Button4->setToolTip(QStringLiteral("保存列表中的全部记录（Ctrl+S 或 Ctrl+Enter）"));
    DateTimePicker1->setToolTip(QStringLiteral("日期（Ctrl+D）：← 前一天，→ 后一天，Enter 到品名"));
    new KeyHandler(ComboBox1, [this](QKeyEvent* key) { return ComboBox1KeyPress(key); });
    new KeyHandler(ComboBox1->lineEdit(), [this](QKeyEvent* key) { return ComboBox1KeyPress(key); });
    new KeyHandler(ComboBox2, [this](QKeyEvent* key) { return ComboBox2KeyPress(key); });
    new KeyHandler(ComboBox3, [this](QKeyEvent* key) { return ComboBox3KeyPress(key); });
    new KeyHandler(ComboBox4, [this](QKeyEvent* key) { return ComboBox4KeyPress(key); });
    new KeyHandler(ComboBox5, [this](QKeyEvent* key) { return ComboBox5KeyPress(key); });
}

qsizetype TEntryPage::pendingCount() const
{
    return FPending ? FPending->lines().size() : 0;
}

TEntryPage::~TEntryPage()
{
    // The names still queued are written, and nobody is told: the page that would show the outcome is going.
    delete FNamesKeeper;
}

void TEntryPage::prepare(TDbMan* dbMan, const QString& userName)
{
    FDbMan = dbMan;
    FUserName = userName;
    FNamesKeeper->setLedger(dbMan->location(), userName);
    // The previous login's lines stay kept; ending its session lets the next login of that user adopt them.
    FSession = std::make_unique<KeptSession>();
    FEditedKeptId = 0;
    FPending->clear();
    LoadProductNames();
    LoadCatalogue();
    RestoreKeptLines();
    DateTimePicker1->setDate(QDate::currentDate());
    ComboBox1Change();
    ListView1Change();
    UpdatePendingTotals();
}

void TEntryPage::switchStore(TDbMan* dbMan)
{
    QList<SalesLine> shown = FPending->lines();
    QList<SalesLine> carried = shown;
    if (FEditedKeptId) {
        FEditedLine.id = FEditedKeptId;
        carried.append(FEditedLine);
    }
    const QHash<qint64, qint64> ids = dbMan->CarryKeptLines(FUserName, *FSession, carried);
    FDbMan = dbMan;
    FNamesKeeper->setLedger(dbMan->location(), FUserName);
    for (SalesLine& line : shown)
        line.id = ids.value(line.id, line.id);
    FEditedKeptId = FEditedKeptId ? ids.value(FEditedKeptId, FEditedKeptId) : 0;
    FPending->clear();
    for (const SalesLine& line : std::as_const(shown))
        FPending->append(line);
    // The names as this store keeps them; the name being typed stays.
    const QString typed = ComboBox1->currentText();
    LoadProductNames();
    if (ComboBox1->currentText() != typed)
        ComboBox1->setEditText(typed);
    // Offline the till goes on with the catalogue it read from the server.
    if (!dbMan->location().offline)
        LoadCatalogue();
    ListView1Change();
    UpdatePendingTotals();
}

void TEntryPage::RestoreKeptLines()
{
    // Not guarded: a page that missed kept lines would drop them at the next "完成", which empties the kept list.
    const QList<SalesLine> kept = FDbMan->KeptLines(FUserName, *FSession);
    for (const SalesLine& line : kept)
        FPending->append(line);
    if (!kept.isEmpty())
        MessageBox::information(this, QStringLiteral("已恢复上次未保存的 %1 条记录。").arg(kept.size()));
}

bool TEntryPage::DateTimePicker1KeyPress(QKeyEvent* key)
{
    if ((key->key() == Qt::Key_Left || key->key() == Qt::Key_Right) && key->modifiers() == Qt::NoModifier) {
        const QDate day = DateTimePicker1->date().addDays(key->key() == Qt::Key_Left ? -1 : 1);
        if (day.isValid() && day >= DateTimePicker1->minimumDate() && day <= DateTimePicker1->maximumDate())
            DateTimePicker1->setDate(day);
        return true;
    }
    return enterMovesFocus(key, ComboBox1);
}

bool TEntryPage::ComboBox1KeyPress(QKeyEvent* key)
{
    if (!isEnterKey(key))
        return false;
    takeScannedCode();
    return true;
}

namespace {

// What a scanner types for a product without a code in the catalogue: a barcode's digits (EAN-8 and longer). Such a
// number is no product's name.
bool looksLikeBarcode(const QString& text)
{
    if (text.size() < 8)
        return false;
    return std::all_of(
        text.cbegin(), text.cend(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

} // namespace

void TEntryPage::takeScannedCode()
{
    const QString typed = ComboBox1->currentText().trimmed();
    if (const CatalogueItem* item = FCatalogue.byCode(typed)) {
        ComboBox1->setEditText(item->name);
        ComboBox2->setText(QStringLiteral("1"));
        ComboBox2->setFocus(Qt::OtherFocusReason);
        ComboBox2->selectAll();
        return;
    }
    if (!FCatalogue.isEmpty() && looksLikeBarcode(typed) && !FCatalogue.byName(typed)
        && !FProductNames.contains(typed)) {
        MessageBox::information(this, QStringLiteral("商品资料中没有条码“%1”。").arg(typed));
        // The next scan replaces it.
        ComboBox1->setFocus(Qt::OtherFocusReason);
        ComboBox1->lineEdit()->selectAll();
        return;
    }
    ComboBox2->setFocus(Qt::OtherFocusReason);
}

void TEntryPage::fillAmounts()
{
    const CatalogueItem* item
        = FCatalogue.isEmpty() ? nullptr : FCatalogue.byName(composedTrimmed(ComboBox1->currentText()));
    const std::optional<qint32> quantity = parseQuantity(ComboBox2->text());
    const auto fill = [&](QLineEdit* field, const std::optional<qint64>& unit, QString& filled) {
        // An amount the cashier typed stays; one filled in follows the product and the quantity.
        if (field->text() != filled && !field->text().isEmpty())
            return;
        std::optional<qint64> amount;
        if (item && unit && quantity)
            amount = amountOfUnits(*quantity, *unit);
        if (!amount && filled.isEmpty())
            return;
        filled = amount ? formatCents(*amount, localeDecimalSeparator()) : QString();
        field->setText(filled);
    };
    fill(ComboBox3, item ? item->price : std::nullopt, FFilledReceived);
    fill(ComboBox4, item ? item->cost : std::nullopt, FFilledCost);
}

bool TEntryPage::ComboBox2KeyPress(QKeyEvent* key)
{
    return enterMovesFocus(key, ComboBox3);
}

bool TEntryPage::ComboBox3KeyPress(QKeyEvent* key)
{
    return enterMovesFocus(key, ComboBox4);
}

bool TEntryPage::ComboBox4KeyPress(QKeyEvent* key)
{
    return enterMovesFocus(key, ComboBox5);
}

bool TEntryPage::ComboBox5KeyPress(QKeyEvent* key)
{
    if (!isEnterKey(key))
        return false;
    Button1Click();
    return true;
}

void TEntryPage::ComboBox1Change()
{
    Button1->setEnabled(!isBlankText(ComboBox1->currentText()) && !trimmed32(ComboBox2->text()).isEmpty()
        && !trimmed32(ComboBox3->text()).isEmpty() && !trimmed32(ComboBox4->text()).isEmpty());
}

void TEntryPage::ListView1Change()
{
    const bool selected = selectedPendingRow() >= 0;
    Button5->setEnabled(selected);
    Button6->setEnabled(selected);
    Button4->setEnabled(FPending->rowCount() > 0);
}

int TEntryPage::selectedPendingRow() const
{
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TEntryPage::Button1Click()
{
    if (!Button1->isEnabled())
        return;
    const QChar decimal = localeDecimalSeparator();
    const std::optional<qint32> quantity = parseQuantity(ComboBox2->text());
    const std::optional<qint64> received = parseAmountCents(ComboBox3->text(), decimal);
    const std::optional<qint64> cost = parseAmountCents(ComboBox4->text(), decimal);
    if (!quantity || !received || !cost) {
        MessageBox::information(this, QStringLiteral("很抱歉，您的输入有错误！"));
        return;
    }
    SalesLine line { 0, DateTimePicker1->date(), composedTrimmed(ComboBox1->currentText()), *quantity, *received, *cost,
        composedTrimmed(ComboBox5->text()) };
    // Kept before it is shown, so that a line on the screen survives the program's end; the fields stay on failure.
    const auto keep = [&] {
        // A line taken out by "编辑" is replaced in one step, so that it is never lost between the two.
        line.id = FEditedKeptId ? FDbMan->ReplaceKeptLine(FUserName, *FSession, FEditedKeptId, line)
                                : FDbMan->KeepLines(FUserName, *FSession, { line }).value(0);
    };
    bool away = false;
    bool kept = guarded(
        [&] {
            try {
                keep();
            } catch (const TServerUnreachable&) {
                away = true;
            }
        },
        this);
    if (away) {
        // The window goes on offline, and the same click keeps the line there.
        const TDbMan* before = FDbMan;
        if (serverAway)
            serverAway();
        kept = FDbMan != before && guarded(keep, this);
    }
    if (!kept)
        return;
    FEditedKeptId = 0;
    FPending->append(line);
    ListView1Change();
    UpdatePendingTotals();
    RememberProductName();
    clearEntryFields();
    ComboBox1Change();
    ComboBox1->setFocus(Qt::OtherFocusReason);
}

void TEntryPage::clearEntryFields()
{
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->clearEditText();
    for (QLineEdit* field : { ComboBox2, ComboBox3, ComboBox4, ComboBox5 })
        field->clear();
    FFilledReceived.clear();
    FFilledCost.clear();
}

void TEntryPage::UpdatePendingTotals()
{
    setSizedText(Label18, FPending->totals().text());
}

void TEntryPage::Button5Click()
{
    const int row = selectedPendingRow();
    if (!Button5->isEnabled() || row < 0)
        return;
    if (!MessageBox::confirm(this, QStringLiteral("真的要编辑指定的记录？")))
        return;
    // A line already in the fields from an earlier "编辑" is forgotten: the fields now hold this one.
    if (FEditedKeptId && !guarded([&] { FDbMan->ForgetKeptLine(FUserName, *FSession, FEditedKeptId); }, this))
        return;
    FEditedKeptId = FPending->lines().at(row).id;
    FEditedLine = FPending->lines().at(row);
    const QStringList shown = FPending->rowTexts(row);
    DateTimePicker1->setDate(FPending->lines().at(row).day);
    ComboBox1->setEditText(shown.at(2));
    ComboBox2->setText(shown.at(3));
    ComboBox3->setText(shown.at(4));
    ComboBox4->setText(shown.at(5));
    ComboBox5->setText(shown.at(6));
    // The line's amounts are its own, whatever the catalogue says now.
    FFilledReceived.clear();
    FFilledCost.clear();
    ComboBox1Change();
    removePendingRow(row);
    ListView1Change();
    UpdatePendingTotals();
}

void TEntryPage::Button6Click()
{
    const int row = selectedPendingRow();
    if (!Button6->isEnabled() || row < 0)
        return;
    if (!MessageBox::confirm(this, QStringLiteral("真的要删除指定的记录？")) || !forgetKeptRow(row))
        return;
    removePendingRow(row);
    ListView1Change();
    UpdatePendingTotals();
}

bool TEntryPage::forgetKeptRow(int row)
{
    return guarded([&] { FDbMan->ForgetKeptLine(FUserName, *FSession, FPending->lines().at(row).id); }, this);
}

void TEntryPage::removePendingRow(int row)
{
    FPending->removeLine(row);
    // The view would select the neighbour, and a second "删除" would take a line the user never chose.
    ListView1->selectionModel()->clear();
}

void TEntryPage::Button4Click()
{
    if (!Button4->isEnabled())
        return;
    SaveOutcome outcome = SaveOutcome::Saved;
    const bool saved = guarded(
        [&] {
            BusyCursor busy(Button4);
            outcome = FDbMan->SaveKeptLines(FUserName, *FSession, FPending->lines());
        },
        this);
    if (!saved)
        return;
    FPending->clear();
    ListView1Change();
    UpdatePendingTotals();
    QString told;
    switch (outcome) {
    case SaveOutcome::Saved:
        told = FDbMan->location().offline
            ? QStringLiteral("离线保存成功：这些记录先存在本机，服务器恢复后自动上传，不会重复保存。")
            : QStringLiteral("恭喜您，售货记录已经全部成功保存到数据库！");
        break;
    case SaveOutcome::AlreadySaved:
        told = QStringLiteral("这些记录已经保存过了（上次保存已经完成），不会重复保存。");
        break;
    case SaveOutcome::SavedOffline:
        told = QStringLiteral("服务器连不上，这次的记录已经存在本机，等服务器恢复后自动上传，不会重复保存。");
        break;
    case SaveOutcome::SavedIntoReplacedLedger:
        told = QStringLiteral("账本在别处被替换过（例如从备份恢复），列表中的记录不在其中；"
                              "这些记录已经全部保存到现在的账本中。");
        break;
    }
    MessageBox::information(this, told);
    if (afterSave)
        afterSave(outcome);
    if (outcome == SaveOutcome::SavedOffline && serverAway)
        serverAway();
}

void TEntryPage::Button2Click()
{
    guarded(
        [this] {
            static const bool registered = [] {
                Q_INIT_RESOURCE(resources);
                return true;
            }();
            Q_UNUSED(registered);
            QFile help(QStringLiteral(":/RES_MAINFORM_HELP"));
            if (!help.open(QIODevice::ReadOnly))
                throw KivaroError(QStringLiteral("找不到退货说明"));
            MessageBox::information(this, fromGb18030(help.readAll()));
        },
        this);
}

void TEntryPage::Button3Click()
{
    flushProductNames();
    TfrmEditName editor(FDbMan, FUserName, this);
    connect(&editor, &TfrmEditName::catalogueChanged, this, &TEntryPage::useCatalogue);
    if (editor.exec() == QDialog::Accepted)
        LoadProductNames();
}

void TEntryPage::showCatalogue()
{
    TfrmProducts products(FDbMan, FUserName, this);
    connect(&products, &TfrmProducts::changed, this, &TEntryPage::useCatalogue);
    products.exec();
}

void TEntryPage::LoadCatalogue()
{
    QList<CatalogueItem> items;
    // A catalogue that cannot be read leaves the till typing names by hand, as without one.
    guarded([&] { items = FDbMan->Catalogue(FUserName); }, this);
    useCatalogue(items);
}

void TEntryPage::useCatalogue(const QList<CatalogueItem>& items)
{
    FCatalogue = CatalogueIndex(items);
}

void TEntryPage::Button12Click()
{
    if (!startCalculator())
        MessageBox::information(this, Platform::calculatorMissing());
}

void TEntryPage::flushProductNames()
{
    FNamesKeeper->flush();
}

void TEntryPage::LoadProductNames()
{
    flushProductNames();
    const bool read = guarded(
        [this] {
            if (const std::optional<QStringList> names = FDbMan->ProductNames(FUserName))
                setProductNames(*names);
        },
        this);
    if (!read)
        FProductNamesFailureShown = true;
}

void TEntryPage::RememberProductName()
{
    const QString typed = ComboBox1->currentText();
    const QString wanted = composedTrimmed(typed);
    if (isBlankText(wanted))
        return;
    // The list here moves at once. One entry moves: rebuilding a list of thousands of names on every sale would cost
    // more than the sale.
    const qsizetype from = indexOfName(FProductNames, wanted);
    if (from >= 0)
        FProductNames.removeAt(from);
    FProductNames.prepend(wanted);
    const QSignalBlocker blocker(ComboBox1);
    if (from >= 0)
        ComboBox1->removeItem(int(from));
    ComboBox1->insertItem(0, wanted);
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(typed);
    if (!FDbMan->location().isServer()) {
        // The products file is written after the click, in the background.
        FNamesKeeper->remember(typed);
        return;
    }
    // A server's list is written in the click, where a server that does not answer shows its wait with 取消.
    std::optional<QStringList> written;
    try {
        written = FDbMan->RememberProductName(FUserName, typed);
    } catch (const KivaroError& error) {
        ProductNamesFailed(error.text());
    }
    if (written)
        ProductNamesWritten(*written);
}

void TEntryPage::ProductNamesWritten(const QStringList& written)
{
    FProductNamesFailureShown = false;
    // Another instance changed the list since it was read: show what it holds now.
    if (written != FProductNames)
        setProductNames(written);
}

void TEntryPage::ProductNamesFailed(const QString& failure)
{
    // The sales are in the list whatever happened to the names; one message per run of failures is enough.
    if (FProductNamesFailureShown)
        return;
    FProductNamesFailureShown = true;
    showError(failure, this);
}

bool TEntryPage::addImportedLines(const QList<SalesLine>& lines)
{
    if (lines.isEmpty())
        return true;
    QList<qint64> ids;
    const bool kept = guarded(
        [&] {
            BusyCursor busy;
            ids = FDbMan->KeepLines(FUserName, *FSession, lines);
            if (ids.size() != lines.size())
                throw KivaroError(QStringLiteral("导入的记录没有全部保存为未完成的记录。"));
        },
        this);
    if (!kept)
        return false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        SalesLine line = lines.at(i);
        line.id = ids.at(i);
        FPending->append(line);
    }
    ListView1Change();
    UpdatePendingTotals();
    RememberProductNames(lines);
    return true;
}

void TEntryPage::RememberProductNames(const QList<SalesLine>& lines)
{
    // Each name once, at the place of its last line: typing the lines in order leaves the same list.
    QHash<QString, qsizetype> lastLine;
    for (qsizetype i = 0; i < lines.size(); ++i)
        lastLine.insert(lines.at(i).productName, i);
    QList<std::pair<qsizetype, QString>> order;
    order.reserve(lastLine.size());
    for (auto it = lastLine.cbegin(); it != lastLine.cend(); ++it)
        order.append({ it.value(), it.key() });
    std::sort(order.begin(), order.end());
    QStringList used;
    used.reserve(order.size());
    for (const auto& [line, name] : order)
        used.append(name);

    flushProductNames();
    std::optional<QStringList> written;
    const QString failure = runWithProgress(this, QStringLiteral("正在记住品名，请稍候……"),
        [&, location = FDbMan->location(), user = FUserName](const BackupProgress& progress) {
            TDbMan own(location);
            written = own.RememberProductNames(user, used);
            progress(1, 1);
        });
    QStringList names = written ? *written : FProductNames;
    // The lines are in the list whatever happened to the names: names not kept still move up here.
    if (!written) {
        for (const QString& name : used)
            putNameFirst(names, name);
    }
    setProductNames(names);
    if (failure.isNull()) {
        FProductNamesFailureShown = false;
    } else if (!FProductNamesFailureShown) {
        FProductNamesFailureShown = true;
        showError(failure, this);
    }
}

// Replaces the drop-down entries and keeps what the field shows.
void TEntryPage::setProductNames(const QStringList& names)
{
    const QSignalBlocker blocker(ComboBox1);
    const QString shown = ComboBox1->currentText();
    FProductNames = names;
    ComboBox1->clear();
    ComboBox1->addItems(names);
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(shown);
}

QList<SalesLine> TEntryPage::pendingLines() const
{
    return FPending->lines();
}

void TEntryPage::focusFirstField()
{
    if (isVisible())
        ComboBox1->setFocus(Qt::ShortcutFocusReason);
}
