#include "forms/MainForm.h"

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

void TfrmMain::Button8Click()
{
    buildReport(Button8, ListView2, Label19, detailReportLayout());
}

void TfrmMain::Button13Click()
{
    buildReport(Button13, ListView3, Label22, dailyTotalsReportLayout());
}

void TfrmMain::Button14Click()
{
    buildReport(Button14, ListView4, Label23, dailyProductReportLayout());
}

void TfrmMain::Button15Click()
{
    buildReport(Button15, ListView5, Label24, rankingReportLayout());
}

void TfrmMain::buildReport(QPushButton* button, QTreeView* view, QLabel* totals, const ReportLayout& layout)
{
    guarded(
        [&] {
            BusyCursor busy(button);
            const auto release = qScopeGuard([this] { releaseReportPages(); });
            buildReportPages(FReportPages, layout, displayedRows(*view->model()), FUserName, totals->text());
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

void TfrmMain::QRCompositeReport1AddReports(ReportDocument& document)
{
    document.clearPages();
    for (const auto& page : FReportPages)
        document.addPage(page.get());
}

void TfrmMain::releaseReportPages()
{
    QRCompositeReport1.clearPages();
    while (!FReportPages.empty())
        FReportPages.pop_back();
}
