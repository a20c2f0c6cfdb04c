#pragma once

#include <QDialog>
#include <memory>

class QComboBox;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QTabWidget;
class TDbMan;

// Creates an account, changes a password or deletes an account; closes with OK after the first success.
class TfrmAccount : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAccount(QWidget* parent = nullptr);
    ~TfrmAccount() override;
    // The account the dialog created, once it was accepted on its first page; empty otherwise.
    QString createdName() const { return FCreatedName; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupControls();
    QWidget* setupPage(const char* name, const QString& caption);
    void Button1Click();
    void Button2Click();
    void Edit1Change();
    void UpdateOkButton();
    void LoadUserNames();
    bool fieldKeyPress(QObject* field, QKeyEvent* key);

    std::unique_ptr<TDbMan> FDbMan;
    QString FCreatedName;
    QTabWidget* PageControl1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
};
