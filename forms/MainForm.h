#pragma once

#include "forms/ReportListModel.h"
#include "reports/ReportBuilder.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QComboBox;
class QDateEdit;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;
class TDbMan;

// The main window: a blue header that switches between the bookkeeping page and the review page.
class TfrmMain : public QWidget
{
    Q_OBJECT

public:
    enum class CreateResult { Ready, LoginCancelled, Failed };

    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The start sequence: data folder, login, then the pages for the accepted user.
    CreateResult FormCreate();
    // Everything after the login; raises on failure.
    void PrepareForUser(const QString& userName);

    QString userName() const { return FUserName; }

    // Starts the program again for switching user; tests replace it.
    static std::function<void()> restartProgram;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupFrame();
    void FormClose();
    void Label1Click();
    void Label2Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void Label25MouseDown();
    void Label25MouseUp();

    QString FUserName;
    QString FDataDir;
    bool FShownOnce = false;
    QString ProductsFile;
    std::unique_ptr<TDbMan> FDbMan;

    QWidget* Panel1 = nullptr;
    QFrame* Shape1 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label25 = nullptr;
    QWidget* Panel2 = nullptr;
    QWidget* Panel3 = nullptr;

    // ---- Bookkeeping page (MainFormEntry.cpp) ----
public:
    // Starts a desktop calculator; tests replace it.
    static std::function<void()> startCalculator;

private:
    void setupEntryPage();
    void setupEntryHints();
    void setupEntryFields();
    void setupPendingList();
    void setupEntryButtons();
    void connectEntryPage();
    void prepareEntryPage();
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
    void UpdatePendingTotals();
    void countPendingRow(const QTreeWidgetItem* row, QChar decimal);
    void LoadProductNames();
    void RememberProductName();
    void setProductNames(const QStringList& names);
    void clearEntryFields();
    void removePendingRow(QTreeWidgetItem* row);

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
    // The pending lines; column 0 is hidden and empty.
    QTreeWidget* ListView1 = nullptr;
    // The pending totals line.
    QLabel* Label18 = nullptr;
    // The sums of the quantity, received and cost texts of the pending list, as Label18 shows them.
    qint64 FPendingQuantity = 0;
    qint64 FPendingReceived = 0;
    qint64 FPendingCost = 0;
    // True once a failure of the products file was shown, until a write succeeds: the next 添加 stays quiet.
    bool FProductsFileFailureShown = false;
    // The entries of ComboBox1's list, in their order.
    QStringList FProductNames;

    // ---- Review page (MainFormReview.cpp) ----
    void setupReviewPage();
    void prepareReviewPage();
    QTreeView* setupView(QWidget* panel, const char* name, QList<ReportListModel::Column> columns);
    void ComboBox6Click();
    void Button7Click();
    void fillViews(const QStringList& detail, const QStringList& daily, const QStringList& products,
        const QStringList& ranking);
    void ListView2Change();
    void ListView3Change();
    void ListView4Change();
    void ListView5Change();
    void UpdateDetailTotals();
    void UpdateDailyTotals();
    void UpdateDailyProductTotals();
    void UpdateRankingTotals();
    void Button10Click();
    void Button11Click();
    int selectedDetailRow() const;
    static ReportListModel* modelOf(QTreeView* view);

    QDateEdit* DateTimePicker2 = nullptr;
    QDateEdit* DateTimePicker3 = nullptr;
    QPushButton* Button7 = nullptr;
    QComboBox* ComboBox6 = nullptr;
    QWidget* Panel4 = nullptr;
    QWidget* Panel5 = nullptr;
    QWidget* Panel6 = nullptr;
    QWidget* Panel7 = nullptr;
    // The four views: detail, daily totals, daily per product, ranking. Column 0 is hidden (the ID in ListView2).
    QTreeView* ListView2 = nullptr;
    QTreeView* ListView3 = nullptr;
    QTreeView* ListView4 = nullptr;
    QTreeView* ListView5 = nullptr;
    // Their totals lines.
    QLabel* Label19 = nullptr;
    QLabel* Label22 = nullptr;
    QLabel* Label23 = nullptr;
    QLabel* Label24 = nullptr;
    // "预览&&打印" under each view.
    QPushButton* Button8 = nullptr;
    QPushButton* Button13 = nullptr;
    QPushButton* Button14 = nullptr;
    QPushButton* Button15 = nullptr;
    QPushButton* Button10 = nullptr;
    QPushButton* Button11 = nullptr;

    // ---- Printed reports (MainFormPrint.cpp) ----
    // The review page connects the four print buttons to these.
    void Button8Click();
    void Button13Click();
    void Button14Click();
    void Button15Click();
    void buildReport(QPushButton* button, QTreeView* view, QLabel* totals, const ReportLayout& layout);
    void QRCompositeReport1AddReports(ReportDocument& document);
    void releaseReportPages();

    // The pages of the report being shown; empty otherwise.
    ReportPages FReportPages;
    // Keeps its print settings from one report to the next.
    ReportDocument QRCompositeReport1;
};
