#pragma once

#include "db/SalesCsv.h"

#include <QDialog>
#include <QSet>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// What a file read for import holds, before anything is taken: the encoding it was read in (and a button to read it
// in the other one), its first rows as read, the rows that cannot become sales lines with their column and reason,
// and how many rows are already saved or pending. The user adds the good rows ("添加正确的行", accepted; without the
// rows already there while "不添加已有的相同记录" is ticked) or none ("都不添加", rejected).
class TfrmImport : public QDialog
{
    Q_OBJECT

public:
    // Returned by exec() when the user asks for the file in its other encoding.
    static constexpr int kOtherEncoding = 2;
    TfrmImport(const QString& fileName, const SalesImport& read, qsizetype alreadyThere, QWidget* parent = nullptr);
    bool skipAlreadyThere() const;

private:
    QLabel* lblSummary = nullptr;
    QTreeWidget* lvPreview = nullptr;
    QTreeWidget* lvProblems = nullptr;
    QCheckBox* chkSkipSame = nullptr;
    QPushButton* btnOtherEncoding = nullptr;
    QPushButton* btnImportGood = nullptr;
    QPushButton* btnImportNone = nullptr;
};

// Which of the lines read are already saved or pending (positions), as TDbMan::SameAsSaved tells.
using AlreadyThere = std::function<QSet<qsizetype>(const QList<SalesLine>& lines)>;

// 导入销售记录…: asks for a CSV file, reads it on a worker behind a progress window, and shows what it holds in
// TfrmImport. Returns the lines to add to the pending list; nothing when the user chose none, cancelled, or the
// file held no good line (which a message says).
std::optional<QList<SalesLine>> importThroughDialog(QWidget* parent, const AlreadyThere& alreadyThere);
