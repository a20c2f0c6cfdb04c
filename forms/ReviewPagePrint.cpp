#include "forms/ReviewPage.h"

#include "base/Error.h"
#include "forms/BusyCursor.h"
#include "forms/ChartPage.h"
#include "forms/ErrorHandler.h"
#include "forms/ExportUi.h"
#include "forms/FileDialog.h"
#include "forms/MessageBox.h"
#include "reports/PrintForm.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTreeView>

namespace {

// The preview is looked at with the normal cursor; the clicked button stays disabled until it closes.
class NormalCursor
{
public:
    NormalCursor() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~NormalCursor() { QApplication::restoreOverrideCursor(); }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;
};

} // namespace

void TReviewPage::Button8Click()
{
    buildReport(Button8, ListView2, detailReportLayout());
}

void TReviewPage::Button13Click()
{
    buildReport(Button13, ListView3,
        FComparedRange ? comparedReportLayout(ReviewView::Daily, FDailyCompared->comparison())
                       : dailyTotalsReportLayout());
}

void TReviewPage::Button14Click()
{
    buildReport(Button14, ListView4, dailyProductReportLayout());
}

void TReviewPage::Button15Click()
{
    waitForRanking(Button15);
    buildReport(Button15, ListView5,
        FComparedRange ? comparedReportLayout(ReviewView::Ranking, FRankingCompared->comparison())
                       : rankingReportLayout());
}

void TReviewPage::buildReport(QPushButton* button, QTreeView* view, const ReportLayout& layout)
{
    guarded(
        [&] {
            BusyCursor busy(button);
            const auto release = qScopeGuard([this] {
                QRCompositeReport1.clearPages();
                QRCompositeReport1.addReports = nullptr;
            });
            // Pages are laid out as they are shown or printed, from the rows the view's model fetches for them.
            const auto* model = static_cast<const SalesListModel*>(view->model());
            const ReportRows rows = modelRows(*model);
            if (rows.count == 0)
                return;
            // The per-product and ranking pages end with the detail view's totals line, which follows its edits and
            // deletes; the daily pages with their own; compared ones with both periods'.
            const auto* compared = qobject_cast<const ComparedListModel*>(model);
            const QString totals = compared ? compared->totalsText()
                : view == ListView3         ? model->totals().text()
                                            : FDetail->totals().text();
            QRCompositeReport1.addReports
                = [rows, layout, title = FShownRange ? rangeOwnerName(*FShownRange) : FUserName, totals](
                      ReportDocument& document) { addReportPages(document, layout, rows, title, totals); };
            QRCompositeReport1.prepare();
            TfrmPrint preview(this);
            preview.connectDocument(&QRCompositeReport1);
            preview.setExportAction([this, shown = shownView(view)](ExportFormat format, QWidget* parent) {
                exportShownView(shown, format, parent);
            });
            NormalCursor normal;
            preview.exec();
        },
        this);
}

void TReviewPage::Button16Click()
{
    // The printed chart shows the ten products, which a long range is still computing.
    waitForRanking(Button16);
    guarded(
        [&] {
            BusyCursor busy(Button16);
            const auto release = qScopeGuard([this] {
                QRCompositeReport1.clearPages();
                QRCompositeReport1.addReports = nullptr;
            });
            QRCompositeReport1.addReports = [chart = Panel8](ReportDocument& document) {
                document.orientation = QPageLayout::Landscape;
                document.addPages(1, [chart](int) {
                    auto page = std::make_unique<ReportPage>(QPageLayout::Landscape);
                    page->addDrawing(QRect(QPoint(0, 0), ReportPage::contentSize(QPageLayout::Landscape)),
                        [chart](QPainter& painter, const QRect& dots) { chart->paint(painter, dots); });
                    return page;
                });
            };
            QRCompositeReport1.prepare();
            TfrmPrint preview(this);
            preview.connectDocument(&QRCompositeReport1);
            preview.setExportAction(
                [this](ExportFormat, QWidget* parent) { exportChartPdf(parent); }, { ExportFormat::Pdf });
            preview.setImageExportAction([this](QWidget* parent) { exportChartPng(parent); });
            NormalCursor normal;
            preview.exec();
        },
        this);
}

QString TReviewPage::chartFileName(const QString& suffix) const
{
    QString user = FShownRange ? rangeOwnerName(*FShownRange) : FUserName;
    // A user name may hold characters a file name cannot.
    for (const QChar c : QStringLiteral("/\\:*?\"<>|"))
        user.replace(c, QLatin1Char('_'));
    const QString dayFormat = QStringLiteral("yyyy-MM-dd");
    const QString name = FShownRange
        ? QStringLiteral("%1-销售趋势图-%2至%3.%4")
              .arg(user, FShownRange->first.toString(dayFormat), FShownRange->last.toString(dayFormat), suffix)
        : QStringLiteral("%1-销售趋势图.%2").arg(user, suffix);
    return name;
}

void TReviewPage::exportChartPdf(QWidget* parent)
{
    const QString path = FileDialog::getSaveFileName(parent, FileKind::ChartImage, QStringLiteral("导出销售趋势图"),
        chartFileName(QStringLiteral("pdf")), QStringLiteral("PDF 文件 (*.pdf)"), QStringLiteral("pdf"));
    if (path.isEmpty())
        return;
    try {
        QRCompositeReport1.writePdf(path);
    } catch (const KivaroError& failed) {
        showError(QStringLiteral("导出失败：%1").arg(failed.text()), parent);
        return;
    }
    MessageBox::information(parent, QStringLiteral("已导出到：\n%1").arg(QDir::toNativeSeparators(path)));
}

void TReviewPage::exportChartPng(QWidget* parent)
{
    const QString path = FileDialog::getSaveFileName(parent, FileKind::ChartImage, QStringLiteral("导出销售趋势图"),
        chartFileName(QStringLiteral("png")), QStringLiteral("PNG 图片 (*.png)"), QStringLiteral("png"));
    if (path.isEmpty())
        return;
    try {
        Panel8->exportPng(path, QSize(1600, 1100));
    } catch (const KivaroError& failed) {
        showError(QStringLiteral("导出失败：%1").arg(failed.text()), parent);
        return;
    }
    MessageBox::information(parent, QStringLiteral("已导出到：\n%1").arg(QDir::toNativeSeparators(path)));
}
