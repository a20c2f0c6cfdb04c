#pragma once

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QPageSize>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QIODevice;
class QImage;
class QPagedPaintDevice;
class QPaintDevice;
class QPainter;

// Positions and sizes on a report page are in units of 1/96 inch, from the top-left corner of the content area.
namespace ReportUnits {
constexpr int perInch = 96;
// A unit value on a device of the given resolution, rounded to the nearest dot.
int toDots(int units, double dpi);
int mmToDots(double mm, double dpi);
int mmToUnits(double mm);
} // namespace ReportUnits

// One line of text placed on a page. It is as wide as its text and one unit higher than its font's line;
// it never wraps and is never clipped.
class ReportText
{
public:
    enum class Alignment { Left, Right };

    QString text;
    int left = 0;
    int top = 0;
    // For a right-aligned item: the text ends at left + boxWidth, and a wider text grows to the left
    // unless it shrinks to the box.
    int boxWidth = 0;
    Alignment alignment = Alignment::Left;
    // For a right-aligned item: a text wider than the box is drawn smaller to fill it exactly.
    bool shrinkToBox = false;
    QString fontName = QStringLiteral("宋体");
    int fontSize = 9;
    bool bold = false;

    QFont font() const;
    // Measured at 96 dpi, in units; a shrunk text is as wide as its box.
    int width() const;
    int height() const;
    // Where the text starts and ends, in units.
    int textLeft() const;
    int textRight() const;
    bool shrinks() const;
};

// A picture on a page: draw paints it into its box, given in device dots at the painter's resolution.
struct ReportDrawing
{
    using Draw = std::function<void(QPainter& painter, const QRect& dots)>;
    // In units, from the top-left corner of the content area.
    QRect box;
    Draw draw;
};

// One A4 sheet, portrait unless told otherwise, with a single content area inside 10 mm margins; it owns its items.
class ReportPage
{
public:
    static constexpr double paperWidthMm = 210;
    static constexpr double paperHeightMm = 297;
    static constexpr double marginMm = 10;
    // Of a portrait sheet.
    static int contentWidth();
    static int contentHeight();
    // In units: 190 × 277 mm upright, 277 × 190 mm on its side.
    static QSize contentSize(QPageLayout::Orientation orientation);

    explicit ReportPage(QPageLayout::Orientation orientation = QPageLayout::Portrait);
    QPageLayout::Orientation orientation() const { return m_orientation; }

    ReportText* addText();
    const std::vector<std::unique_ptr<ReportText>>& items() const { return m_items; }
    // The first item whose text is exactly this, or null.
    const ReportText* find(const QString& text) const;
    ReportDrawing* addDrawing(const QRect& box, ReportDrawing::Draw draw);
    const std::vector<std::unique_ptr<ReportDrawing>>& drawings() const { return m_drawings; }

    // Draws the content area with its top-left corner at origin (in device dots) at the device's resolution.
    void render(QPainter& painter, QPaintDevice& device, const QPoint& origin) const;
    // The whole sheet, white, at the given resolution.
    QImage toImage(double dpi) const;

private:
    QPageLayout::Orientation m_orientation;
    std::vector<std::unique_ptr<ReportText>> m_items;
    std::vector<std::unique_ptr<ReportDrawing>> m_drawings;
};

// How the document is printed; kept from one report to the next.
struct PrintSettings
{
    int copies = 1;
    // 0 and 0 for all pages.
    int firstPage = 0;
    int lastPage = 0;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    QPageSize::PageSizeId paper = QPageSize::A4;
    // -1 for the system's default printer.
    int printerIndex = -1;
    QString printerName;
};

// An ordered set of pages shown and printed as one document. Each time it is prepared it asks for its pages again
// through addReports. Pages added by count are built only when they are shown or printed, and only the few built
// last are kept, so a document of any length holds a handful of pages at a time.
class ReportDocument
{
public:
    // Builds one page of a run added by addPages, counted from 0 within the run.
    using PageMaker = std::function<std::unique_ptr<ReportPage>(int index)>;
    static constexpr int keptPages = 3;

    std::function<void(ReportDocument&)> addReports;
    PrintSettings settings;
    // How every sheet of the document lies; prepare() starts it upright and addReports may turn it.
    QPageLayout::Orientation orientation = QPageLayout::Portrait;

    void clearPages();
    // Appends count pages, each built by make when it is asked for.
    void addPages(int count, PageMaker make);
    // Appends a page that the caller owns and keeps alive while the document uses it.
    void addPage(const ReportPage* page);
    // Refills the page list; an error while adding pages leaves those added before it.
    void prepare();
    int pageCount() const { return m_pageCount; }
    // Page number counted from 1, or null; builds the page if it is not kept. The page stays valid until
    // keptPages other pages have been asked for since, or the pages change.
    const ReportPage* page(int number) const;

    // Sheets first … last (1-based) in order, copies times, each on its own sheet of the device; a page not kept
    // is built for its sheet and released after it. The device must be set to A4 without margins, in the
    // document's orientation.
    // Returns false when painting could not start.
    bool print(QPagedPaintDevice& device, int first, int last, int copies = 1) const;
    // Writes the pages as a PDF file through SafeFile; raises KivaroError, naming the file and the reason, when it
    // could not be written (and leaves the file as it was).
    void writePdf(const QString& fileName, int resolution = 1200) const;

private:
    using SharedMaker = std::function<std::shared_ptr<const ReportPage>(int index)>;
    struct Run
    {
        int first = 0;
        int count = 0;
        SharedMaker make;
    };

    void addRun(int count, SharedMaker make);
    std::shared_ptr<const ReportPage> kept(int number) const;
    std::shared_ptr<const ReportPage> build(int number) const;

    std::vector<Run> m_runs;
    int m_pageCount = 0;
    // Most recently asked for last.
    mutable std::vector<std::pair<int, std::shared_ptr<const ReportPage>>> m_kept;
};
