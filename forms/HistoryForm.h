#pragma once

#include "db/LedgerStore.h"

#include <QDialog>
#include <QList>
#include <QString>

class QKeyEvent;
class QPushButton;
class QTreeWidget;
class TDbMan;

// 修改记录: the user's saves, edits, deletes and undos, newest first, from every computer; 撤销 undoes the newest
// edit or delete not undone yet.
class TfrmHistory : public QDialog
{
    Q_OBJECT

public:
    // The store stays the caller's.
    TfrmHistory(TDbMan* dbMan, const QString& userName, QWidget* parent = nullptr);

Q_SIGNALS:
    // A change was undone: what the review page shows was read before it.
    void undone();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setupControls();
    void LoadChanges();
    void btnUndoClick();
    // The entry the store would undo now; nullptr when there is none.
    const ChangeEntry* undoable() const;

    TDbMan* FDbMan = nullptr;
    QString FUserName;
    QList<ChangeEntry> FChanges;

    QTreeWidget* ListHistory = nullptr;
    QPushButton* btnUndo = nullptr;
    QPushButton* btnClose = nullptr;
};
