#include "forms/HistoryForm.h"

#include "base/HiClass.h"
#include "db/DbClass.h"
#include "db/Numbers.h"
#include "forms/BusyCursor.h"
#include "forms/ColumnFit.h"
#include "forms/ErrorHandler.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidget>

namespace {

// "日期 品名 数量 实收 成本 备注", as the lists show a line.
QString lineText(const std::optional<SalesLine>& line)
{
    if (!line)
        return QStringLiteral("（无）");
    const QChar separator = localeDecimalSeparator();
    QStringList parts { line->day.toString(QStringLiteral("yyyy-MM-dd")), line->productName,
        QString::number(line->quantity), formatCents(line->received, separator), formatCents(line->cost, separator) };
    if (!line->memo.isEmpty())
        parts.append(line->memo);
    return parts.join(QLatin1Char(' '));
}

QString kindText(const ChangeEntry& entry)
{
    QString text;
    switch (entry.kind) {
    case ChangeEntry::Kind::Save:
        return QStringLiteral("保存 %1 条").arg(entry.saved.lines);
    case ChangeEntry::Kind::Edit:
        text = QStringLiteral("修改");
        break;
    case ChangeEntry::Kind::Delete:
        text = QStringLiteral("删除");
        break;
    case ChangeEntry::Kind::Undo:
        return QStringLiteral("撤销");
    }
    return entry.undoneBy != 0 ? text + QStringLiteral("（已撤销）") : text;
}

QString contentText(const ChangeEntry& entry)
{
    if (entry.kind == ChangeEntry::Kind::Save)
        return entry.saved.text();
    return lineText(entry.before) + QStringLiteral(" → ") + lineText(entry.after);
}

} // namespace

TfrmHistory::TfrmHistory(TDbMan* dbMan, const QString& userName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , FDbMan(dbMan)
    , FUserName(userName)
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("%1 - 修改记录").arg(QString::fromLatin1(kAppTitle)));
    setFixedSize(680, 400);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);
    setupControls();
    LoadChanges();
}

void TfrmHistory::setupControls()
{
    ListHistory = new QTreeWidget(this);
    ListHistory->setObjectName(QStringLiteral("ListHistory"));
    ListHistory->setGeometry(8, 8, 664, 352);
    setReportStyle(ListHistory);
    ListHistory->setHeaderLabels(
        { QStringLiteral("时间"), QStringLiteral("电脑"), QStringLiteral("操作"), QStringLiteral("内容") });
    ListHistory->header()->resizeSection(0, 130);
    ListHistory->header()->resizeSection(1, 90);
    ListHistory->header()->resizeSection(2, 90);
    ListHistory->header()->setStretchLastSection(true);
    widenColumnsToText(ListHistory, { 3 });
    btnUndo = makeButton(this, "btnUndo", QStringLiteral("撤销"), QRect(522, 368, 72, 24));
    btnClose = makeButton(this, "btnClose", QStringLiteral("关闭"), QRect(600, 368, 72, 24));
    connect(btnUndo, &QPushButton::clicked, this, &TfrmHistory::btnUndoClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmHistory::LoadChanges()
{
    FChanges.clear();
    ListHistory->clear();
    guarded([this] { FChanges = FDbMan->Changes(FUserName); }, this);
    QList<QTreeWidgetItem*> items;
    items.reserve(FChanges.size());
    for (const ChangeEntry& entry : FChanges) {
        const QString content = contentText(entry);
        auto* item = new QTreeWidgetItem({ entry.at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            entry.computer, kindText(entry), content });
        // A line before and after rarely fits the column.
        item->setToolTip(3, content);
        items.append(item);
    }
    ListHistory->addTopLevelItems(items);
    btnUndo->setEnabled(undoable() != nullptr);
}

const ChangeEntry* TfrmHistory::undoable() const
{
    for (const ChangeEntry& entry : FChanges) {
        if ((entry.kind == ChangeEntry::Kind::Edit || entry.kind == ChangeEntry::Kind::Delete) && entry.undoneBy == 0)
            return &entry;
    }
    return nullptr;
}

void TfrmHistory::btnUndoClick()
{
    const ChangeEntry* entry = undoable();
    if (!btnUndo->isEnabled() || !entry)
        return;
    const QString question = entry->kind == ChangeEntry::Kind::Delete
        ? QStringLiteral("真的要撤销这次删除？将恢复：%1").arg(lineText(entry->before))
        : QStringLiteral("真的要撤销这次修改？将恢复为：%1").arg(lineText(entry->before));
    if (!MessageBox::confirm(this, question))
        return;
    bool done = false;
    try {
        BusyCursor busy(btnUndo);
        // Exactly the change the question named, whatever was changed since.
        FDbMan->UndoChange(FUserName, entry->id);
        done = true;
    } catch (const TChangeConflict& conflict) {
        MessageBox::error(this, conflict.text());
    } catch (...) {
        guarded([] { throw; }, this);
    }
    LoadChanges();
    if (done)
        Q_EMIT undone();
}

void TfrmHistory::keyPressEvent(QKeyEvent* event)
{
    // The list ends through its button and its close box, as every dialog of the program does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
