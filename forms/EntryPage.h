#pragma once

#include "db/DbClass.h"
#include "forms/ProductNamesKeeper.h"
#include "forms/SalesModels.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QComboBox;
class QDateEdit;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class KeptSession;
class TDbMan;

// The bookkeeping page ("记帐"): the fields of one sales line, the pending list, and saving it ("完成").
class TEntryPage : public QWidget
{
    Q_OBJECT

public:
    // Puts the focus in the product name, where a sale begins.
    void focusFirstField();
    explicit TEntryPage(QWidget* parent);
    ~TEntryPage() override;
    // The lines typed and not yet saved with 完成.
    qsizetype pendingCount() const;

    // Readies the page for the user: today's date, the user's product names from the store, and the pending list the
    // user left kept at this computer (with a message when it holds lines). Raises when the kept lines cannot be
    // read. The store stays the caller's.
    void prepare(TDbMan* dbMan, const QString& userName);
    // Goes on against another store of the same ledger (the server, or its outbox while the server is away): the
    // lines shown, and the one taken into the fields by 编辑, stay as they are and are kept in the new store under
    // the same session. Raises, with the page unchanged, when they cannot be kept there.
    void switchStore(TDbMan* dbMan);

    // Puts lines read from a file after the pending ones as if each had been typed and added: the totals line follows,
    // and the product names are learned in the order typing them would leave (on a worker, behind a progress
    // window). They are kept until "完成"; false, with the error shown and the list unchanged, when they cannot be.
    bool addImportedLines(const QList<SalesLine>& lines);
    // The lines the list shows.
    QList<SalesLine> pendingLines() const;
    // Writes the product names 添加 queued (a file ledger's are written in the background) and waits for them:
    // before the window goes, and before anything else reads or replaces the list.
    void flushProductNames();

    // Shows 商品资料; the page reads the catalogue again when it was changed there.
    void showCatalogue();

    // Starts a desktop calculator; false when none was found. Tests replace it.
    static std::function<bool()> startCalculator;
    // Called when the server went away during work (a line could not be kept, or a save went into the outbox): the
    // window goes on offline.
    std::function<void()> serverAway;
    // Called after every 完成 that stored its lines (on the server or in the outbox), with how it stored them.
    std::function<void(SaveOutcome)> afterSave;

private:
    void setupHints();
    void setupFields();
    void setupPendingList();
    void setupButtons();
    void connectControls();
    void Button1Click();
    void ComboBox1Change();
    void ListView1Change();
    void Button5Click();
    void Button6Click();
    void Button4Click();
    void Button2Click();
    void Button3Click();
    void Button12Click();
    bool DateTimePicker1KeyPress(QKeyEvent* key);
    bool ComboBox1KeyPress(QKeyEvent* key);
    bool ComboBox2KeyPress(QKeyEvent* key);
    bool ComboBox3KeyPress(QKeyEvent* key);
    bool ComboBox4KeyPress(QKeyEvent* key);
    bool ComboBox5KeyPress(QKeyEvent* key);
    // Enter in the product field: a code of the catalogue (a scanner types one and Enter) becomes its product's name
    // with 1 in 数量, selected; a barcode the catalogue lacks is said and stays; anything else moves on to 数量.
    void takeScannedCode();
    // 实收 and 成本 of a product with unit amounts, for the quantity typed, unless the cashier typed them.
    void fillAmounts();
    void UpdatePendingTotals();
    void LoadProductNames();
    // Reads the catalogue the till looks codes and prices up in, or takes the one a 商品资料 window read back.
    void LoadCatalogue();
    void useCatalogue(const QList<CatalogueItem>& items);
    void RememberProductName();
    // A write of the queued names came back: the list as stored, or why it could not be written.
    void ProductNamesWritten(const QStringList& written);
    void ProductNamesFailed(const QString& failure);
    void RememberProductNames(const QList<SalesLine>& lines);
    void setProductNames(const QStringList& names);
    void clearEntryFields();
    int selectedPendingRow() const;
    void removePendingRow(int row);
    void RestoreKeptLines();
    // Forgets the row's kept line; false, with the error shown, when the store failed.
    bool forgetKeptRow(int row);

    TDbMan* FDbMan = nullptr;
    QString FUserName;
    // This window's claim on the lines it keeps, from login to the next switch of user.
    std::unique_ptr<KeptSession> FSession;
    // The kept line taken into the fields by "编辑": it stays kept until "添加" replaces it.
    qint64 FEditedKeptId = 0;
    SalesLine FEditedLine;

    QDateEdit* DateTimePicker1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLineEdit* ComboBox2 = nullptr;
    QLineEdit* ComboBox3 = nullptr;
    QLineEdit* ComboBox4 = nullptr;
    QLineEdit* ComboBox5 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button5 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button12 = nullptr;
    // The pending lines, each with its kept id; column 0 is hidden and empty.
    QTreeView* ListView1 = nullptr;
    PendingListModel* FPending = nullptr;
    // The pending totals line.
    QLabel* Label18 = nullptr;
    // True once a failure to keep the product names was shown, until a write succeeds: the next 添加 stays quiet.
    bool FProductNamesFailureShown = false;
    // The entries of ComboBox1's list, in their order.
    QStringList FProductNames;
    ProductNamesKeeper* FNamesKeeper = nullptr;
    CatalogueIndex FCatalogue;
    // What fillAmounts last put into 实收 and 成本 (empty: nothing, or the cashier's own).
    QString FFilledReceived;
    QString FFilledCost;
};
