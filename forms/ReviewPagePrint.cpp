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
            const auto release = qScopeGuard([this] { releaseReportPages(); });
            const auto* model = static_cast<const SalesListModel*>(view->model());
            buildReportPages(FReportPages, layout, displayedRows(*model), FUserName, model->totals().text());
            if (FReportPages.empty())
                return;
            QRCompositeReport1.addReports = [this](ReportDocument& document) {
                QRCompositeReport1AddReports(document);
            };
            QRCompositeReport1.prepare();
            TfrmPrint preview(this);
            preview.connectDocument(&QRCompositeReport1);
            NormalCursor normal;
            preview.exec();
        },
        this);
}

void TReviewPage::QRCompositeReport1AddReports(ReportDocument& document)
{
    document.clearPages();
    for (const auto& page : FReportPages)
        document.addPage(page.get());
}

void TReviewPage::releaseReportPages()
{
    QRCompositeReport1.clearPages();
    while (!FReportPages.empty())
        FReportPages.pop_back();
}
