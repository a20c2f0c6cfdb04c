#pragma once

#include "reports/ViewExport.h"

#include <QDialog>
#include <QList>
#include <QMargins>
#include <functional>
#include <optional>

class QKeyEvent;
class QLabel;
class QPrintDialog;
class QPrinter;
class QPushButton;
class QStatusBar;
class ReportDocument;
class ReportPreview;

// The print preview: five flat buttons, the current page at 100 % and the page status.
class TfrmPrint : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmPrint(QWidget* owner = nullptr);

    // Sets CompositeReport and connects the page view to it, on page 1. The document must be prepared.
    void connectDocument(ReportDocument* document);

    ReportDocument* CompositeReport = nullptr;

    // Writes what the preview shows into a file of the format, every row of it and not only the pages laid out;
    // the preview is the parent of its dialogs. Without one, the export buttons stay hidden; with one, the buttons of
    // the formats given show.
    using ExportAction = std::function<void(ExportFormat format, QWidget* parent)>;
    void setExportAction(ExportAction action,
        const QList<ExportFormat>& formats = { ExportFormat::Excel, ExportFormat::Csv, ExportFormat::Pdf });
    // Saves what the preview shows as a picture; without one, btnExportPng stays hidden.
    using ImageExportAction = std::function<void(QWidget* parent)>;
    void setImageExportAction(ImageExportAction action);

    // Shows the print dialog and tells whether it was confirmed; tests replace it to answer the dialog.
    static std::function<bool(QPrintDialog&)> execPrintDialog;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void FormCreate();
    // The window, its frame included, fills the screen's work area: the frame is known once the window manager has
    // framed the window, and each time it changes the window is fitted again.
    void fitFrameToWorkArea();
    void setupToolStrip();
    QPushButton* addToolButton(QWidget* strip, const char* name, const QString& caption, int tag);
    QPushButton* addExportButton(const char* name, const QString& caption);
    void loadIcons();
    void FormShow();
    void btnFirstPageClick(QObject* sender);
    void btnPrintClick();
    // Says that no printer is installed, and offers 导出PDF where this report has it.
    void tellNoPrinter();
    bool askPrinter(QPrinter& printer);
    void printTo(QPrinter& printer);

    QWidget* CoolBar1 = nullptr;
    QWidget* Panel1 = nullptr;
    QPushButton* btnFirstPage = nullptr;
    QPushButton* btnPrevPage = nullptr;
    QPushButton* btnNextPage = nullptr;
    QPushButton* btnLastPage = nullptr;
    QPushButton* btnPrint = nullptr;
    QPushButton* btnExportExcel = nullptr;
    QPushButton* btnExportCsv = nullptr;
    QPushButton* btnExportPdf = nullptr;
    QPushButton* btnExportPng = nullptr;
    ExportAction FExportAction;
    ImageExportAction FImageExportAction;
    std::optional<QMargins> FFittedFrame;
    ReportPreview* QRPreview1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel = nullptr;
};
