#pragma once

#include "db/SalesRows.h"
#include "reports/ViewExport.h"

class QWidget;
class TDbMan;

// What one export of a review view covers: the view, the user's range, and the format to write; the rows as a list
// shows them, when it is a list's export.
struct ExportRequest
{
    ReviewView view = ReviewView::Detail;
    SalesRange range;
    ExportFormat format = ExportFormat::Excel;
    std::shared_ptr<const ShownView> shown;
};

// 导出Excel / 导出CSV / 导出PDF: asks where, with the name defaultExportName gives in the folder of the exports, writes
// every row of the view over the range as the list shows it, or as the store holds it now without one (read on a
// worker through a store of its own, made from store's location) behind a progress window, then tells the file and its
// rows, or why nothing was written. A range without lines gets a message and no dialog.
void exportThroughDialog(QWidget* parent, TDbMan& store, const ExportRequest& request);
