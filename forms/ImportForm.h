#pragma once

#include "db/SalesCsv.h"

#include <QDialog>
#include <optional>

class QLabel;
class QPushButton;
class QTreeWidget;

// The rows of an imported file that cannot become sales lines, each with its column and reason; the user adds the
// good rows ("添加正确的行", accepted) or none ("都不添加", rejected).
class TfrmImport : public QDialog
{
    Q_OBJECT

public:
    TfrmImport(const QString& fileName, const SalesImport& read, QWidget* parent = nullptr);

private:
    QLabel* lblSummary = nullptr;
    QTreeWidget* lvProblems = nullptr;
    QPushButton* btnImportGood = nullptr;
    QPushButton* btnImportNone = nullptr;
};

// 导入销售记录…: asks for a CSV file, reads it on a worker behind a progress window, and when rows are bad shows them
// in TfrmImport. Returns the lines to add to the pending list; nothing when the user chose none, cancelled, or the
// file held no good line (which a message says).
std::optional<QList<SalesLine>> importThroughDialog(QWidget* parent);
