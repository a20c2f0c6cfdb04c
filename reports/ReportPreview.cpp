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
    renderPage(1);
}

int ReportPreview::pageCount() const
{
    return m_document ? m_document->pageCount() : 0;
}

void ReportPreview::showPage(int number)
{
    if (number < 1 || number > pageCount() || number == m_pageNumber)
        return;
    renderPage(number);
    m_pageNumber = number;
    horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

void ReportPreview::renderPage(int number)
{
    const ReportPage* page = m_document ? m_document->page(number) : nullptr;
    if (!page) {
        m_sheet->clear();
        return;
    }
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    m_sheet->setPixmap(QPixmap::fromImage(page->toImage(shown->logicalDotsPerInchX())));
    m_sheet->adjustSize();
}
