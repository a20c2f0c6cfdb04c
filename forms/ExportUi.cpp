#include "forms/ExportUi.h"

#include "db/DbClass.h"
#include "forms/BackupUi.h"
#include "forms/ErrorHandler.h"
#include "forms/FileDialog.h"
#include "forms/MessageBox.h"

#include <QDir>
#include <QStandardPaths>

namespace {

const QString kNothingToExport = QStringLiteral("所选日期内没有可以导出的记录。");

QString filterOf(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Excel:
        return QStringLiteral("Excel 工作簿 (*.xlsx)");
    case ExportFormat::Csv:
        return QStringLiteral("CSV 文件 (*.csv)");
    case ExportFormat::Pdf:
        break;
    }
    return QStringLiteral("PDF 文件 (*.pdf)");
}

QString suffixOf(ExportFormat format)
{
    return format == ExportFormat::Excel ? QStringLiteral("xlsx")
        : format == ExportFormat::Csv    ? QStringLiteral("csv")
                                         : QStringLiteral("pdf");
}

// The button chose the format: a name typed with another extension still gets that format's content.
void writeAs(
    ExportFormat format, ViewRows& rows, const QString& title, const QString& path, const ExportProgress& progress)
{
    switch (format) {
    case ExportFormat::Excel:
        exportXlsx(rows, path, progress);
        return;
    case ExportFormat::Csv:
        exportCsv(rows, path, progress);
        return;
    case ExportFormat::Pdf:
        exportPdf(rows, title, path, progress);
        return;
    }
}

} // namespace

void exportThroughDialog(QWidget* parent, TDbMan& store, const ExportRequest& request)
{
    bool empty = true;
    if (request.shown)
        empty = ViewRows(store, request.shown).count() == 0;
    else if (!guarded([&] { empty = store.QueryDays(request.range).isEmpty(); }, parent))
        return;
    if (empty) {
        MessageBox::information(parent, kNothingToExport);
        return;
    }
    const QString proposed
        = defaultExportName(rangeOwnerName(request.range), request.view, request.range, request.format);
    const QString path
        = FileDialog::getSaveFileName(parent, FileKind::Export, QStringLiteral("导出%1").arg(viewTitle(request.view)),
            proposed, filterOf(request.format), suffixOf(request.format));
    if (path.isEmpty())
        return;

    qint64 written = -1;
    const QString failure = runWithProgress(
        parent, QStringLiteral("正在导出，请稍候……"), [&, location = store.location()](const BackupProgress& progress) {
            TDbMan own(location);
            ViewRows rows = request.shown ? ViewRows(own, request.shown) : ViewRows(own, request.view, request.range);
            // Another computer may have removed the lines since the check above: still no empty file.
            if (rows.count() == 0)
                return;
            writeAs(request.format, rows, rangeOwnerName(request.range), path, progress);
            written = rows.count();
        });
    if (!failure.isNull()) {
        showError(QStringLiteral("导出失败：%1").arg(failure), parent);
        return;
    }
    if (written < 0) {
        MessageBox::information(parent, kNothingToExport);
        return;
    }
    MessageBox::information(
        parent, QStringLiteral("已导出 %1 行到：\n%2").arg(written).arg(QDir::toNativeSeparators(path)));
}
