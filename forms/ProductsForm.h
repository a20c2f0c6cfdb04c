#pragma once

#include "db/Catalogue.h"

#include <QDialog>
#include <QList>
#include <QString>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class CatalogueListModel;
class TDbMan;

// 商品资料: the products with their codes and unit amounts. 添加, 修改 and 删除 change the catalogue at once; 导入…
// reads a CSV file (every row checked first, nothing taken while a row is wrong), 导出… writes one. On a server the
// catalogue is the shop's, and only its owners change it: the others see it read-only.
class TfrmProducts : public QDialog
{
    Q_OBJECT

public:
    // The store stays the caller's.
    TfrmProducts(TDbMan* dbMan, const QString& userName, QWidget* parent = nullptr);

Q_SIGNALS:
    // The catalogue was changed from this window; what it holds now, as the window read it back.
    void changed(const QList<CatalogueItem>& items);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setupControls();
    void LoadCatalogue(const QString& select = QString());
    void showSelected();
    // The item the fields describe; nothing (and the user told why) when a field is wrong.
    std::optional<CatalogueItem> typedItem();
    // Applies the changes, reads the catalogue again and selects the product named; false when they were refused.
    bool change(const QList<CatalogueChange>& changes, const QString& select);
    void btnAddClick();
    void btnUpdateClick();
    void btnDeleteClick();
    void btnImportClick();
    void btnExportClick();
    const CatalogueItem* selectedItem() const;

    TDbMan* FDbMan = nullptr;
    QString FUserName;
    bool FMayChange = false;

    CatalogueListModel* FModel = nullptr;
    QTreeView* ListProducts = nullptr;
    QLineEdit* EditName = nullptr;
    QLineEdit* EditCode = nullptr;
    QLineEdit* EditPrice = nullptr;
    QLineEdit* EditCost = nullptr;
    QLabel* LabelCount = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnUpdate = nullptr;
    QPushButton* btnDelete = nullptr;
    QPushButton* btnImport = nullptr;
    QPushButton* btnExport = nullptr;
    QPushButton* btnClose = nullptr;
};
