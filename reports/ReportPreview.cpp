#include "reports/ReportPreview.h"

#include "reports/ReportEngine.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>

ReportPreview::ReportPreview(QWidget* parent)
    : QScrollArea(parent)
    , m_sheet(new QLabel)
{
    setBackgroundRole(QPalette::Dark);
    setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_sheet->setFrameShape(QFrame::Box);
    m_sheet->setLineWidth(1);
    m_sheet->setAutoFillBackground(true);
    m_sheet->setBackgroundRole(QPalette::Base);
    setWidget(m_sheet);
}

void ReportPreview::setDocument(const ReportDocument* document)
{
    m_document = document;
    m_pageNumber = 1;
    renderPage();
}

int ReportPreview::pageCount() const
{
    return m_document ? m_document->pageCount() : 0;
}

void ReportPreview::showPage(int number)
{
    if (number < 1 || number > pageCount() || number == m_pageNumber)
        return;
    m_pageNumber = number;
    renderPage();
    horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

void ReportPreview::renderPage()
{
    const ReportPage* page = m_document ? m_document->page(m_pageNumber) : nullptr;
    if (!page) {
        m_sheet->clear();
        return;
    }
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    m_sheet->setPixmap(QPixmap::fromImage(page->toImage(shown->logicalDotsPerInchX())));
    m_sheet->adjustSize();
}
