#pragma once

#include <QDate>
#include <QDialog>

class QDateEdit;
class QKeyEvent;
class QLineEdit;
class QPushButton;

// Edits one stored sales line; ends with OK only when quantity and amounts are numbers.
class TfrmUpdateRecord : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmUpdateRecord(QWidget* parent = nullptr);

    void setLine(const QDate& day, const QString& productName, const QString& quantity, const QString& received,
        const QString& cost, const QString& memo);
    QDate day() const;
    // The five texts as typed, trimmed: name, quantity, received, cost, memo. An edited name or memo comes composed.
    QStringList trimmedTexts() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupControls();
    void Edit1Change();
    void Button2Click();
    void Button1Click();

    // The name and memo as stored, given by setLine.
    QString FStoredName;
    QString FStoredMemo;
    QDateEdit* DateTimePicker1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button1 = nullptr;
};
