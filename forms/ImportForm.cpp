#include "forms/ImportForm.h"

#include "base/HiClass.h"
#include "db/Numbers.h"
#include "forms/BackupUi.h"
#include "forms/ErrorHandler.h"
#include "forms/ExportUi.h"
#include "forms/FileDialog.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"

#include <QDir>
#include <QHeaderView>
#include <QTreeWidget>

namespace {

// Enough for the user to see what is wrong with a file none of whose rows can be added.
constexpr int kProblemsInMessage = 10;

QString problemText(const ImportProblem& problem)
{
    return QStringLiteral("第 %1 行，%2：%3").arg(problem.row).arg(problem.column, problem.reason);
}

QString noGoodRowsText(const QString& fileName, const SalesImport& read)
{
    QStringList shown;
    for (const ImportProblem& problem :
        read.problems.first(std::min<qsizetype>(read.problems.size(), kProblemsInMessage)))
        shown << problemText(problem);
    if (read.problems.size() > kProblemsInMessage)
        shown << QStringLiteral("……（共 %1 个错误）").arg(read.problems.size());
    return QStringLiteral("文件“%1”（按 %2 编码读取）中没有可以添加的销售记录，%3 行都有错误：\n%4")
        .arg(fileName, read.encoding)
        .arg(read.rows)
        .arg(shown.join(QLatin1Char('\n')));
}

} // namespace

TfrmImport::TfrmImport(const QString& fileName, const SalesImport& read, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(QStringLiteral("%1 - 导入销售记录").arg(QString::fromLatin1(kAppTitle)));
    setFixedSize(560, 380);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);

    const qint64 bad = read.rows - read.lines.size();
    lblSummary = makeLabel(this, "lblSummary",
        QStringLiteral("文件“%1”（按 %2 编码读取）中有 %3 行销售记录，其中 %4 行有错误，不能添加；%5 行正确。")
            .arg(fileName, read.encoding)
            .arg(read.rows)
            .arg(bad)
            .arg(read.lines.size()),
        8, 8);
    lblSummary->setWordWrap(true);
    lblSummary->setGeometry(8, 8, 544, 32);

    lvProblems = new QTreeWidget(this);
    lvProblems->setObjectName(QStringLiteral("lvProblems"));
    lvProblems->setGeometry(8, 44, 544, 296);
    setReportStyle(lvProblems);
    lvProblems->setHeaderLabels({ QStringLiteral("行"), QStringLiteral("列"), QStringLiteral("原因") });
    lvProblems->header()->resizeSection(0, 60);
    lvProblems->header()->resizeSection(1, 60);
    lvProblems->header()->setStretchLastSection(true);
    QList<QTreeWidgetItem*> items;
    items.reserve(read.problems.size());
    for (const ImportProblem& problem : read.problems) {
        auto* item = new QTreeWidgetItem({ QString::number(problem.row), problem.column, problem.reason });
        item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        items.append(item);
    }
    lvProblems->addTopLevelItems(items);

    btnImportGood = makeButton(this, "btnImportGood", QStringLiteral("添加正确的行"), QRect(358, 348, 110, 24));
    btnImportNone = makeButton(this, "btnImportNone", QStringLiteral("都不添加"), QRect(474, 348, 78, 24));
    connect(btnImportGood, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnImportNone, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<QList<SalesLine>> importThroughDialog(QWidget* parent)
{
    const QString path = FileDialog::getOpenFileName(parent, QStringLiteral("导入销售记录"), documentsFolder(),
        QStringLiteral("CSV 文件 (*.csv *.txt);;所有文件 (*)"));
    if (path.isEmpty())
        return std::nullopt;
    const QString fileName = QDir::toNativeSeparators(path);
    const QChar separator = localeDecimalSeparator();
    SalesImport read;
    const QString failure = runWithProgress(parent, QStringLiteral("正在读取销售记录，请稍候……"),
        [&](const BackupProgress& progress) { read = readSalesCsv(path, separator, progress); });
    if (!failure.isNull()) {
        showError(QStringLiteral("导入失败：%1").arg(failure), parent);
        return std::nullopt;
    }
    if (read.lines.isEmpty()) {
        MessageBox::information(parent,
            read.problems.isEmpty() ? QStringLiteral("文件“%1”中没有销售记录。").arg(fileName)
                                    : noGoodRowsText(fileName, read));
        return std::nullopt;
    }
    if (!read.problems.isEmpty()) {
        TfrmImport dialog(fileName, read, parent);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
    }
    return std::move(read.lines);
}
