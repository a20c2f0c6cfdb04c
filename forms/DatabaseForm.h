#pragma once

#include "db/LedgerLocation.h"

#include <QDialog>
#include <optional>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Chooses the ledger this program uses: the file on this computer or a database on a PostgreSQL server. A server is
// taken only after it answered; the choice is kept in the settings, never with a password.
class TfrmDatabase : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmDatabase(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setupControls();
    void UpdateButtons();
    void btnTestConnectionClick();
    void btnOkClick();
    LedgerLocation typedServer() const;
    // Opens the ledger and reads its user names, which gives an empty server database its tables; the failure text,
    // or nothing when the ledger can be used.
    std::optional<QString> checkLedger(const LedgerLocation& location);

    QRadioButton* rbLocal = nullptr;
    QRadioButton* rbServer = nullptr;
    QLineEdit* editConnection = nullptr;
    QLabel* LabelHelp = nullptr;
    QPushButton* btnTestConnection = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

// The same ledger with the password of its connection kept in this process's memory instead, so that no window and
// no setting ever shows it.
LedgerLocation withoutShownPassword(const LedgerLocation& location);

// Asks for the password of a server in a small modal window: what was typed, or nothing on 取消 and on any thread but
// the GUI thread.
std::optional<QString> askServerPassword(const QString& server, const QString& reason);
