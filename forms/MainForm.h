#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QComboBox;
class QDateEdit;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;
class QTreeView;
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
    void setupEntryPage();
    void prepareEntryPage();

    // ---- Review page (MainFormReview.cpp) ----
    void setupReviewPage();
    void prepareReviewPage();

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
};
