#pragma once

#include "db/Catalogue.h"

#include <QDialog>
#include <QSet>
#include <QString>

class QKeyEvent;
class QPlainTextEdit;
class QPushButton;
class TDbMan;

// Edits a user's product names by hand, one name per line. "确定" writes them to the store and closes, or says why it
// could not; the close box writes nothing.
class TfrmEditName : public QDialog
{
    Q_OBJECT

public:
    // The store stays the caller's.
    TfrmEditName(TDbMan* dbMan, const QString& userName, QWidget* parent = nullptr);

Q_SIGNALS:
    // The catalogue was changed from the 商品资料 window opened here.
    void catalogueChanged(const QList<CatalogueItem>& items);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormShow();
    void Button1Click();

    TDbMan* FDbMan;
    QString FUserName;
    // The names the store held when the dialog opened.
    QSet<QString> FStoredNames;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* btnProducts = nullptr;
};
