#include "forms/ProductsForm.h"

#include "base/Error.h"
#include "base/HiClass.h"
#include "base/SafeFile.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/Numbers.h"
#include "forms/BackupUi.h"
#include "forms/BusyCursor.h"
#include "forms/ErrorHandler.h"
#include "forms/FileDialog.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"

#include <QAbstractTableModel>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>

namespace {

// A unit amount as the list and the fields show it; nothing when it was not given.
QString shownAmount(const std::optional<qint64>& cents)
{
    return cents ? formatCents(*cents, localeDecimalSeparator()) : QString();
}

} // namespace

// The catalogue as the list shows it: 品名, 条码, 单价, 单位成本, in the order of entry.
class CatalogueListModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setItems(QList<CatalogueItem> items)
    {
        beginResetModel();
        m_items = std::move(items);
        endResetModel();
    }
    const QList<CatalogueItem>& items() const { return m_items; }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_items.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 4; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return {};
        if (role == Qt::TextAlignmentRole)
            return index.column() >= 2 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
        if (role != Qt::DisplayRole)
            return {};
        const CatalogueItem& item = m_items.at(index.row());
        switch (index.column()) {
        case 0:
            return item.name;
        case 1:
            return item.code;
        case 2:
            return shownAmount(item.price);
        default:
            return shownAmount(item.cost);
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const QStringList captions { QStringLiteral("品名"), QStringLiteral("条码"), QStringLiteral("单价"),
            QStringLiteral("单位成本") };
        return captions.value(section);
    }

private:
    QList<CatalogueItem> m_items;
};

TfrmProducts::TfrmProducts(TDbMan* dbMan, const QString& userName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , FDbMan(dbMan)
    , FUserName(userName)
{
    setObjectName(QStringLiteral("frmProducts"));
    setWindowTitle(QStringLiteral("%1 - 商品资料").arg(QString::fromLatin1(kAppTitle)));
    setFixedSize(640, 440);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);
    setupControls();
    guarded([this] { FMayChange = FDbMan->MayChangeCatalogue(); }, this);
    for (QWidget* control : { static_cast<QWidget*>(btnAdd), static_cast<QWidget*>(btnUpdate),
             static_cast<QWidget*>(btnDelete), static_cast<QWidget*>(btnImport) })
        control->setEnabled(FMayChange);
    for (QLineEdit* edit : { EditName, EditCode, EditPrice, EditCost })
        edit->setReadOnly(!FMayChange);
    LoadCatalogue();
}

void TfrmProducts::setupControls()
{
    FModel = new CatalogueListModel(this);
    ListProducts = new QTreeView(this);
    ListProducts->setObjectName(QStringLiteral("ListProducts"));
    ListProducts->setGeometry(8, 8, 624, 330);
    ListProducts->setModel(FModel);
    setReportStyle(ListProducts);
    ListProducts->header()->resizeSection(0, 260);
    ListProducts->header()->resizeSection(1, 150);
    ListProducts->header()->resizeSection(2, 90);
    connect(ListProducts->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { showSelected(); });

    const auto field = [this](const char* label, const QString& caption, const char* name, int left, int width) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setGeometry(left, 368, width, 22);
        makeLabel(this, label, caption, left, 352)->setBuddy(edit);
        return edit;
    };
    EditName = field("LabelName", QStringLiteral("品名"), "EditName", 8, 250);
    EditCode = field("LabelCode", QStringLiteral("条码"), "EditCode", 266, 150);
    EditPrice = field("LabelPrice", QStringLiteral("单价"), "EditPrice", 424, 100);
    EditCost = field("LabelCost", QStringLiteral("单位成本"), "EditCost", 532, 100);
    EditName->setMaxLength(10000);
    EditCode->setMaxLength(kLongestCode);
    LabelCount = makeLabel(this, "LabelCount", QString(), 8, 412);

    btnAdd = makeButton(this, "btnAdd", QStringLiteral("添加"), QRect(200, 406, 56, 24));
    btnUpdate = makeButton(this, "btnUpdate", QStringLiteral("修改"), QRect(262, 406, 56, 24));
    btnDelete = makeButton(this, "btnDelete", QStringLiteral("删除"), QRect(324, 406, 56, 24));
    btnImport = makeButton(this, "btnImport", QStringLiteral("导入…"), QRect(400, 406, 70, 24));
    btnExport = makeButton(this, "btnExport", QStringLiteral("导出…"), QRect(476, 406, 70, 24));
    btnClose = makeButton(this, "btnClose", QStringLiteral("关闭"), QRect(576, 406, 56, 24));
    connect(btnAdd, &QPushButton::clicked, this, &TfrmProducts::btnAddClick);
    connect(btnUpdate, &QPushButton::clicked, this, &TfrmProducts::btnUpdateClick);
    connect(btnDelete, &QPushButton::clicked, this, &TfrmProducts::btnDeleteClick);
    connect(btnImport, &QPushButton::clicked, this, &TfrmProducts::btnImportClick);
    connect(btnExport, &QPushButton::clicked, this, &TfrmProducts::btnExportClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmProducts::LoadCatalogue(const QString& select)
{
    QList<CatalogueItem> items;
    guarded([&] { items = FDbMan->Catalogue(FUserName); }, this);
    FModel->setItems(std::move(items));
    QString count = QStringLiteral("共 %1 个商品").arg(FModel->rowCount());
    if (!FMayChange)
        count += QStringLiteral("（只有店主可以修改）");
    setSizedText(LabelCount, count);
    for (int row = 0; row < FModel->rowCount() && !select.isEmpty(); ++row) {
        if (FModel->items().at(row).name == select) {
            ListProducts->setCurrentIndex(FModel->index(row, 0));
            ListProducts->scrollTo(FModel->index(row, 0));
        }
    }
    const bool selected = selectedItem() != nullptr;
    btnUpdate->setEnabled(FMayChange && selected);
    btnDelete->setEnabled(FMayChange && selected);
}

const CatalogueItem* TfrmProducts::selectedItem() const
{
    const QModelIndex current = ListProducts->currentIndex();
    return current.isValid() ? &FModel->items().at(current.row()) : nullptr;
}

void TfrmProducts::showSelected()
{
    const CatalogueItem* item = selectedItem();
    btnUpdate->setEnabled(FMayChange && item);
    btnDelete->setEnabled(FMayChange && item);
    if (!item)
        return;
    EditName->setText(item->name);
    EditCode->setText(item->code);
    EditPrice->setText(shownAmount(item->price));
    EditCost->setText(shownAmount(item->cost));
}

std::optional<CatalogueItem> TfrmProducts::typedItem()
{
    CatalogueItem item { composedTrimmed(EditName->text()), EditCode->text().trimmed(), {}, {} };
    QString problem = itemProblem(item);
    QLineEdit* wrong = problem.contains(QStringLiteral("条码")) ? EditCode : EditName;
    for (const auto& [edit, amount, caption] : { std::tuple { EditPrice, &item.price, QStringLiteral("单价") },
             std::tuple { EditCost, &item.cost, QStringLiteral("单位成本") } }) {
        const QString text = edit->text().trimmed();
        if (!problem.isEmpty() || text.isEmpty())
            continue;
        *amount = parseAmountCents(text, localeDecimalSeparator());
        if (!*amount || **amount < 0) {
            problem = caption + unitAmountProblem(text);
            wrong = edit;
        }
    }
    if (problem.isEmpty())
        return item;
    MessageBox::information(this, problem);
    wrong->setFocus();
    wrong->selectAll();
    return std::nullopt;
}

bool TfrmProducts::change(const QList<CatalogueChange>& changes, const QString& select)
{
    const bool done = guarded(
        [&] {
            BusyCursor busy(this);
            FDbMan->ChangeCatalogue(FUserName, changes);
        },
        this);
    // Read again either way: another computer may have changed what the refusal was about.
    LoadCatalogue(select);
    if (done)
        Q_EMIT changed(FModel->items());
    return done;
}

void TfrmProducts::btnAddClick()
{
    if (const std::optional<CatalogueItem> item = typedItem())
        change({ { CatalogueChange::Kind::Add, *item, {} } }, item->name);
}

void TfrmProducts::btnUpdateClick()
{
    const CatalogueItem* was = selectedItem();
    if (!was)
        return;
    const QString wasName = was->name;
    if (const std::optional<CatalogueItem> item = typedItem())
        change({ { CatalogueChange::Kind::Replace, *item, wasName } }, item->name);
}

void TfrmProducts::btnDeleteClick()
{
    const CatalogueItem* item = selectedItem();
    if (!item || !MessageBox::confirm(this, QStringLiteral("真的要从商品资料中删除“%1”？").arg(item->name)))
        return;
    change({ { CatalogueChange::Kind::Remove, *item, {} } }, QString());
}

void TfrmProducts::btnImportClick()
{
    const QString path = FileDialog::getOpenFileName(
        this, FileKind::Import, QStringLiteral("导入商品资料"), QStringLiteral("CSV 文件 (*.csv *.txt);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    CatalogueImport read;
    if (!guarded([&] { read = readCatalogueCsv(path, localeDecimalSeparator()); }, this))
        return;
    if (!read.problems.isEmpty()) {
        QStringList lines;
        for (const ImportProblem& problem : read.problems.mid(0, 10))
            lines.append(QStringLiteral("第 %1 行 %2：%3").arg(problem.row).arg(problem.column, problem.reason));
        if (read.problems.size() > 10)
            lines.append(QStringLiteral("……共 %1 处").arg(read.problems.size()));
        MessageBox::information(this,
            QStringLiteral("“%1”中有不能导入的行，没有导入任何商品；请改正后再导入：\n%2")
                .arg(QDir::toNativeSeparators(path), lines.join(QLatin1Char('\n'))));
        return;
    }
    if (read.items.isEmpty()) {
        MessageBox::information(this, QStringLiteral("“%1”中没有商品。").arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (!MessageBox::confirm(
            this, QStringLiteral("导入 %1 个商品？商品资料中已有的同名商品会按文件改写。").arg(read.items.size())))
        return;
    QList<CatalogueChange> changes;
    changes.reserve(read.items.size());
    for (const CatalogueItem& item : std::as_const(read.items))
        changes.append({ CatalogueChange::Kind::Put, item, {} });
    // A large file takes a while, on a server most of all: written away from the window, which stays responsive.
    const LedgerLocation ledger = FDbMan->location();
    const QString user = FUserName;
    const QString failure = runWithProgress(this, QStringLiteral("正在导入 %1 个商品……").arg(changes.size()),
        [&](const BackupProgress&) { TDbMan(ledger).ChangeCatalogue(user, changes); });
    LoadCatalogue();
    if (!failure.isEmpty()) {
        MessageBox::error(this, failure);
        return;
    }
    Q_EMIT changed(FModel->items());
    MessageBox::information(this, QStringLiteral("商品资料现有 %1 个商品。").arg(FModel->rowCount()));
}

void TfrmProducts::btnExportClick()
{
    const QString path = FileDialog::getSaveFileName(this, FileKind::Export, QStringLiteral("导出商品资料"),
        QStringLiteral("商品资料.csv"), QStringLiteral("CSV 文件 (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    if (guarded(
            [&] {
                SafeFile file(path);
                file.write(catalogueCsv(FModel->items()));
                file.commit();
            },
            this))
        MessageBox::information(this,
            QStringLiteral("已把 %1 个商品导出到“%2”。").arg(FModel->rowCount()).arg(QDir::toNativeSeparators(path)));
}

void TfrmProducts::keyPressEvent(QKeyEvent* event)
{
    // The window ends through its button and its close box, as every dialog of the program does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
