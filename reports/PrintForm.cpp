#include "reports/PrintForm.h"

#include "reports/ReportEngine.h"
#include "reports/ReportPreview.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

// Resources of a static library are linked only when something asks for them by name.
static void initReportResources()
{
    Q_INIT_RESOURCE(reports);
}

namespace {

// No printer is installed: the print dialog would offer an empty list and print nothing.
struct NoPrinter
{
};

} // namespace

std::function<bool(QPrintDialog&)> TfrmPrint::execPrintDialog = [](QPrintDialog& dialog) {
    if (QPrinterInfo::availablePrinterNames().isEmpty())
        throw NoPrinter {};
    return dialog.exec() == QDialog::Accepted;
};

namespace {

// A printer that writes to a file is in nobody's list of printers, yet it was chosen all the same.
int printerIndexOf(const QPrinter& printer)
{
    if (!printer.isValid())
        return -1;
    return std::max(0, int(QPrinterInfo::availablePrinterNames().indexOf(printer.printerName())));
}

} // namespace

TfrmPrint::TfrmPrint(QWidget* owner)
    : QDialog(owner,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmPrint"));
    setWindowTitle(QStringLiteral("打印"));
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);
    setupToolStrip();
    QRPreview1 = new ReportPreview(this);
    QRPreview1->setObjectName(QStringLiteral("QRPreview1"));
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(21);
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel = new QLabel(StatusBar1);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    StatusBar1->addWidget(StatusPanel, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(CoolBar1);
    layout->addWidget(QRPreview1, 1);
    layout->addWidget(StatusBar1);
    FormCreate();
}

void TfrmPrint::FormCreate()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect workArea = screen->availableGeometry();
    setGeometry(workArea);
    setFixedSize(workArea.size());
    loadIcons();
}

void TfrmPrint::setupToolStrip()
{
    CoolBar1 = new QWidget(this);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    CoolBar1->setFixedHeight(27);
    CoolBar1->setAttribute(Qt::WA_StyledBackground);
    CoolBar1->setStyleSheet(
        QStringLiteral("#CoolBar1 { border-top: 1px solid palette(mid); border-bottom: 1px solid palette(mid); }"));
    Panel1 = new QWidget(CoolBar1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 2, 370, 23);
    btnFirstPage = addToolButton(Panel1, "btnFirstPage", QStringLiteral("最前页"), 0);
    btnPrevPage = addToolButton(Panel1, "btnPrevPage", QStringLiteral("前一页"), 1);
    btnNextPage = addToolButton(Panel1, "btnNextPage", QStringLiteral("后一页"), 2);
    btnLastPage = addToolButton(Panel1, "btnLastPage", QStringLiteral("最后页"), 3);
    btnPrint = addToolButton(Panel1, "btnPrint", QStringLiteral("打印"), -1);
    btnExportExcel = addExportButton("btnExportExcel", QStringLiteral("导出Excel"));
    btnExportCsv = addExportButton("btnExportCsv", QStringLiteral("导出CSV"));
    btnExportPdf = addExportButton("btnExportPdf", QStringLiteral("导出PDF"));
    btnExportPng = addExportButton("btnExportPng", QStringLiteral("导出图片"));
    Panel1->setFixedWidth(btnExportPng->geometry().right() + 1);
    const std::pair<QPushButton*, ExportFormat> formats[] = { { btnExportExcel, ExportFormat::Excel },
        { btnExportCsv, ExportFormat::Csv }, { btnExportPdf, ExportFormat::Pdf } };
    for (const auto& [button, format] : formats) {
        connect(button, &QPushButton::clicked, this, [this, format = format] {
            if (FExportAction)
                FExportAction(format, this);
        });
    }
    connect(btnExportPng, &QPushButton::clicked, this, [this] {
        if (FImageExportAction)
            FImageExportAction(this);
    });
    for (QPushButton* button : { btnFirstPage, btnPrevPage, btnNextPage, btnLastPage })
        connect(button, &QPushButton::clicked, this, [this, button] { btnFirstPageClick(button); });
    connect(btnPrint, &QPushButton::clicked, this, [this] { btnPrintClick(); });
}

QPushButton* TfrmPrint::addToolButton(QWidget* strip, const char* name, const QString& caption, int tag)
{
    auto* button = new QPushButton(caption, strip);
    button->setObjectName(QString::fromLatin1(name));
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(18, 18));
    const int index = int(strip->children().size()) - 1;
    button->setGeometry(74 * index, 0, 74, 23);
    if (tag >= 0)
        button->setProperty("Tag", tag);
    return button;
}

QPushButton* TfrmPrint::addExportButton(const char* name, const QString& caption)
{
    const QRect previous
        = Panel1->children().isEmpty() ? QRect() : static_cast<QWidget*>(Panel1->children().constLast())->geometry();
    QPushButton* button = addToolButton(Panel1, name, caption, -1);
    button->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    // A caption longer than the page buttons' gets the room it needs.
    button->setGeometry(previous.right() + 1, 0, std::max(74, button->sizeHint().width()), 23);
    button->hide();
    return button;
}

void TfrmPrint::setExportAction(ExportAction action, const QList<ExportFormat>& formats)
{
    FExportAction = std::move(action);
    btnExportExcel->setVisible(FExportAction && formats.contains(ExportFormat::Excel));
    btnExportCsv->setVisible(FExportAction && formats.contains(ExportFormat::Csv));
    btnExportPdf->setVisible(FExportAction && formats.contains(ExportFormat::Pdf));
}

void TfrmPrint::setImageExportAction(ImageExportAction action)
{
    FImageExportAction = std::move(action);
    btnExportPng->setVisible(bool(FImageExportAction));
}

void TfrmPrint::loadIcons()
{
    initReportResources();
    const std::pair<QPushButton*, const char*> icons[]
        = { { btnFirstPage, "QRFIRSTPAGEBITMAP" }, { btnPrevPage, "QRPREVPAGEBITMAP" },
              { btnNextPage, "QRNEXTPAGEBITMAP" }, { btnLastPage, "QRLASTPAGEBITMAP" }, { btnPrint, "QRPRINTBITMAP" } };
    for (const auto& [button, resource] : icons) {
        const QPixmap bitmap(QStringLiteral(":/") + QString::fromLatin1(resource));
        if (bitmap.isNull())
            return;
        button->setIcon(bitmap);
    }
}

void TfrmPrint::connectDocument(ReportDocument* document)
{
    CompositeReport = document;
    QRPreview1->setDocument(document);
}

void TfrmPrint::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    fitFrameToWorkArea();
    FormShow();
}

void TfrmPrint::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    fitFrameToWorkArea();
}

void TfrmPrint::fitFrameToWorkArea()
{
    const QWindow* handle = windowHandle();
    if (!handle || !isVisible())
        return;
    const QMargins frame = handle->frameMargins();
    if (FFittedFrame == frame)
        return;
    FFittedFrame = frame;
    const QRect workArea = handle->screen()->availableGeometry();
    setFixedSize(workArea.marginsRemoved(frame).size());
    // For a window, move() places the frame's corner.
    move(workArea.topLeft());
}

void TfrmPrint::FormShow()
{
    btnFirstPageClick(nullptr);
}

void TfrmPrint::btnFirstPageClick(QObject* sender)
{
    try {
        const auto* button = qobject_cast<QPushButton*>(sender);
        if (button && button->parent() == Panel1 && button->property("Tag").isValid()) {
            switch (button->property("Tag").toInt()) {
            case 0:
                QRPreview1->showPage(1);
                break;
            case 1:
                QRPreview1->showPage(QRPreview1->pageNumber() - 1);
                break;
            case 2:
                QRPreview1->showPage(QRPreview1->pageNumber() + 1);
                break;
            case 3:
                QRPreview1->showPage(QRPreview1->pageCount());
                break;
            }
        }
        StatusPanel->setText(
            QStringLiteral("第 %1 页 / 共 %2 页").arg(QRPreview1->pageNumber()).arg(QRPreview1->pageCount()));
    } catch (...) {
        // Navigation never reports anything.
    }
}

void TfrmPrint::btnPrintClick()
{
    if (!CompositeReport)
        return;
    try {
        PrintSettings& settings = CompositeReport->settings;
        settings.printerIndex = -1;
        settings.printerName.clear();
        settings.paper = QPageSize::A4;
        CompositeReport->prepare();
        // The document knows how its pages lie: the lists stand upright, the chart lies on its side.
        settings.orientation = CompositeReport->orientation;
        QPrinter printer(QPrinter::HighResolution);
        if (!askPrinter(printer))
            return;
        if (settings.printerIndex >= 0)
            printTo(printer);
    } catch (const NoPrinter&) {
        tellNoPrinter();
    } catch (...) {
        // A printer fault leaves the window as it was, without a message of its own.
    }
}

bool TfrmPrint::askPrinter(QPrinter& printer)
{
    PrintSettings& settings = CompositeReport->settings;
    const int count = CompositeReport->pageCount();
    printer.setPageSize(QPageSize(settings.paper));
    printer.setPageOrientation(settings.orientation);
    printer.setCopyCount(settings.copies);
    printer.setPrintRange(QPrinter::AllPages);
    printer.setFromTo(1, count);
    QPrintDialog dialog(&printer, this);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setMinMax(1, count);
    if (!execPrintDialog(dialog))
        return false;
    settings.copies = printer.copyCount();
    settings.printerName = printer.printerName();
    settings.printerIndex = printerIndexOf(printer);
    settings.orientation = printer.pageLayout().orientation();
    const bool range = printer.printRange() == QPrinter::PageRange;
    settings.firstPage = range ? printer.fromPage() : 0;
    settings.lastPage = range ? printer.toPage() : 0;
    return true;
}

void TfrmPrint::printTo(QPrinter& printer)
{
    const PrintSettings& settings = CompositeReport->settings;
    printer.setFullPage(true);
    printer.setPageLayout(QPageLayout(QPageSize(settings.paper), settings.orientation, QMarginsF()));
    // Without copies of its own the printer gets every sheet as often as asked.
    const int copies = printer.supportsMultipleCopies() ? 1 : settings.copies;
    const int first = settings.firstPage > 0 ? settings.firstPage : 1;
    const int last = settings.lastPage > 0 ? settings.lastPage : CompositeReport->pageCount();
    CompositeReport->print(printer, first, last, copies);
}

void TfrmPrint::keyPressEvent(QKeyEvent* event)
{
    // The window ends only through its buttons and its close box.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmPrint::tellNoPrinter()
{
    const bool pdf = btnExportPdf->isVisible() && FExportAction;
    QMessageBox box(QMessageBox::Information, windowTitle(),
        pdf ? QStringLiteral("没有找到打印机：这台电脑上还没有安装打印机。\n"
                             "请先安装打印机再打印，或者点“导出PDF”把报表存成 PDF 文件。")
            : QStringLiteral("没有找到打印机：这台电脑上还没有安装打印机，请先安装打印机再打印。"),
        QMessageBox::NoButton, this);
    QPushButton* exportPdf = pdf ? box.addButton(QStringLiteral("导出PDF"), QMessageBox::AcceptRole) : nullptr;
    box.setDefaultButton(box.addButton(QMessageBox::Ok));
    box.exec();
    if (exportPdf && box.clickedButton() == exportPdf)
        btnExportPdf->click();
}
