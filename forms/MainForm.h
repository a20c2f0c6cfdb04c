#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QRadioButton;
class TDbMan;
class TEntryPage;
class TReviewPage;

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
    std::unique_ptr<TDbMan> FDbMan;

    QWidget* Panel1 = nullptr;
    QFrame* Shape1 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label25 = nullptr;
    TEntryPage* Panel2 = nullptr;
    TReviewPage* Panel3 = nullptr;
};
