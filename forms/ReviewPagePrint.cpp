#include "forms/ReviewPage.h"

#include "app/BusyCursor.h"
#include "app/ErrorHandler.h"
#include "reports/PrintForm.h"

#include <QApplication>
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
    buildReport(Button13, ListView3, dailyTotalsReportLayout());
}

void TReviewPage::Button14Click()
{
    buildReport(Button14, ListView4, dailyProductReportLayout());
}

void TReviewPage::Button15Click()
{
    waitForRanking();
    buildReport(Button15, ListView5, rankingReportLayout());
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
            QRCompositeReport1.addReports
                = [rows, layout, title = FUserName, totals = model->totals().text()](
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
