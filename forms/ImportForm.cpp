#include "forms/ImportForm.h"

#include "base/HiClass.h"
#include "db/Numbers.h"
#include "forms/BackupUi.h"
#include "forms/ColumnFit.h"
#include "forms/ErrorHandler.h"
#include "forms/ExportUi.h"
#include "forms/FileDialog.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"

#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QTreeWidget>

namespace {

// Enough for the user to see what is wrong with a file none of whose rows can be added.
constexpr int kProblemsInMessage = 10;
// Enough for the user to see whether the file was read right.
constexpr qsizetype kPreviewRows = 20;

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

TfrmImport::TfrmImport(const QString& fileName, const SalesImport& read, qsizetype alreadyThere, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(QStringLiteral("%1 - 导入销售记录").arg(QString::fromLatin1(kAppTitle)));
    setFixedSize(600, 470);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);

    const qint64 bad = read.rows - read.lines.size();
    QString summary
        = QStringLiteral("文件“%1”（按 %2 编码读取）中有 %3 行销售记录，其中 %4 行有错误，不能添加；%5 行正确。")
              .arg(fileName, read.encoding)
              .arg(read.rows)
              .arg(bad)
              .arg(read.lines.size());
    if (alreadyThere > 0)
        summary += QStringLiteral("正确的行中有 %1 行与已保存或列表中的记录完全相同，这个文件可能已经导入过。")
                       .arg(alreadyThere);
    lblSummary = makeLabel(this, "lblSummary", summary, 8, 8);
    lblSummary->setWordWrap(true);
    lblSummary->setGeometry(8, 8, 584, 48);

    const auto makeList = [this](const char* name, int top, int height, const QStringList& captions) {
        auto* list = new QTreeWidget(this);
        list->setObjectName(QString::fromLatin1(name));
        list->setGeometry(8, top, 584, height);
        setReportStyle(list);
        list->setHeaderLabels(captions);
        return list;
    };
    makeLabel(this, "lblPreview", QStringLiteral("读到的前几行："), 8, 62);
    lvPreview = makeList("lvPreview", 80, 160,
        { QStringLiteral("日期"), QStringLiteral("品名"), QStringLiteral("数量"), QStringLiteral("实收"),
            QStringLiteral("成本"), QStringLiteral("备注") });
    lvPreview->header()->resizeSection(0, 90);
    lvPreview->header()->resizeSection(1, 150);
    widenColumnsToText(lvPreview, { 2, 3, 4 });
    const QChar separator = localeDecimalSeparator();
    for (const SalesLine& line : read.lines.first(std::min<qsizetype>(read.lines.size(), kPreviewRows)))
        lvPreview->addTopLevelItem(new QTreeWidgetItem(
            { line.day.toString(QStringLiteral("yyyy-MM-dd")), line.productName, QString::number(line.quantity),
                formatCents(line.received, separator), formatCents(line.cost, separator), line.memo }));

    makeLabel(this, "lblProblems", QStringLiteral("有错误的行："), 8, 248);
    lvProblems
        = makeList("lvProblems", 266, 160, { QStringLiteral("行"), QStringLiteral("列"), QStringLiteral("原因") });
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

    btnOtherEncoding = makeButton(this, "btnOtherEncoding",
        QStringLiteral("改按 %1 读取")
            .arg(read.otherEncoding.isEmpty() ? QStringLiteral("其他编码") : read.otherEncoding),
        QRect(8, 438, 130, 24));
    btnOtherEncoding->setVisible(!read.otherEncoding.isEmpty());
    chkSkipSame = new QCheckBox(QStringLiteral("不添加已有的相同记录"), this);
    chkSkipSame->setObjectName(QStringLiteral("chkSkipSame"));
    chkSkipSame->setGeometry(146, 438, 180, 24);
    chkSkipSame->setChecked(alreadyThere > 0);
    chkSkipSame->setVisible(alreadyThere > 0);
    btnImportGood = makeButton(this, "btnImportGood", bad > 0 ? QStringLiteral("添加正确的行") : QStringLiteral("添加"),
        QRect(398, 438, 110, 24));
    btnImportNone = makeButton(this, "btnImportNone", QStringLiteral("都不添加"), QRect(514, 438, 78, 24));
    connect(btnOtherEncoding, &QPushButton::clicked, this, [this] { done(kOtherEncoding); });
    connect(btnImportGood, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnImportNone, &QPushButton::clicked, this, &QDialog::reject);
}

bool TfrmImport::skipAlreadyThere() const
{
    return chkSkipSame->isChecked();
}

std::optional<QList<SalesLine>> importThroughDialog(QWidget* parent, const AlreadyThere& alreadyThere)
{
    const QString path = FileDialog::getOpenFileName(parent, FileKind::Import, QStringLiteral("导入销售记录"),
        QStringLiteral("CSV 文件 (*.csv *.txt);;所有文件 (*)"));
    if (path.isEmpty())
        return std::nullopt;
    const QString fileName = QDir::toNativeSeparators(path);
    const QChar separator = localeDecimalSeparator();
    QString encoding;
    for (;;) {
        SalesImport read;
        QSet<qsizetype> same;
        const QString failure = runWithProgress(
            parent, QStringLiteral("正在读取销售记录，请稍候……"), [&](const BackupProgress& progress) {
                read = readSalesCsv(path, separator, progress, encoding);
                if (alreadyThere)
                    same = alreadyThere(read.lines);
            });
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
        TfrmImport dialog(fileName, read, same.size(), parent);
        const int answer = dialog.exec();
        if (answer == TfrmImport::kOtherEncoding) {
            encoding = read.otherEncoding;
            continue;
        }
        if (answer != QDialog::Accepted)
            return std::nullopt;
        if (!dialog.skipAlreadyThere() || same.isEmpty())
            return std::move(read.lines);
        QList<SalesLine> lines;
        for (qsizetype i = 0; i < read.lines.size(); ++i)
            if (!same.contains(i))
                lines.append(read.lines.at(i));
        return lines;
    }
}
