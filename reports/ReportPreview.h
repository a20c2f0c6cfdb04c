#pragma once

#include <QScrollArea>

class QLabel;
class ReportDocument;

// Shows one page of a prepared document at 100 %, the sheet on a grey ground, scrolling both ways.
class ReportPreview : public QScrollArea
{
    Q_OBJECT

public:
    explicit ReportPreview(QWidget* parent = nullptr);

    // Connects the view to the document and shows page 1.
    void setDocument(const ReportDocument* document);
    int pageNumber() const { return m_pageNumber; }
    int pageCount() const;
    // Shows another page and scrolls to its top-left corner; numbers outside 1 … page count are ignored; when the page
    // cannot be built the error is thrown and the page shown stays.
    void showPage(int number);

private:
    void renderPage(int number);

    const ReportDocument* m_document = nullptr;
    QLabel* m_sheet = nullptr;
    int m_pageNumber = 1;
};
