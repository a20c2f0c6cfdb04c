#pragma once

#include <QDialog>
#include <memory>

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class TDbMan;

// Asks for a user name and password at every start; accepted only after the store has verified both. Shows which
// ledger is used and lets the user choose another one.
class TfrmLogin : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmLogin(QWidget* parent = nullptr);
    ~TfrmLogin() override;

    QString SelectedUser;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupControls();
    void setupLedgerControls();
    void FormShow();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    bool ComboBox1KeyPress(QKeyEvent* key);
    bool Edit1KeyPress(QKeyEvent* key);
    void UpdateLoginButton();
    void LoadUserNames();
    // Lists the ledger's users; a failure is shown and leaves the list empty, so that another ledger can be chosen.
    void ListUsers(QWidget* messageParent);
    void ShowLedger();
    void LabelChangeDatabaseClick();

    std::unique_ptr<TDbMan> FDbMan;
    bool FShownOnce = false;
    QComboBox* ComboBox1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QLabel* LabelDatabase = nullptr;
    QLabel* LabelChangeDatabase = nullptr;
};
