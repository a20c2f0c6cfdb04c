#pragma once

#include <QDialog>
#include <QSet>
#include <QString>

class QKeyEvent;
class QPlainTextEdit;
class QPushButton;

// Edits a user's product-name file by hand, one name per line. "确定" writes the file and closes, or says why it
// could not; the close box writes nothing.
class TfrmEditName : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmEditName(QWidget* parent = nullptr);

    QString FileName;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormShow();
    void Button1Click();

    // The names the file held when the dialog opened.
    QSet<QString> FStoredNames;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;
};
