#pragma once

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QHeaderView>
#include <QString>
#include <QTreeView>

// Small builders shared by the windows: every control gets its form name as objectName.

inline QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

inline QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    // Enter belongs to the fields' own handlers, never to a default button.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

inline QLineEdit* makeEdit(QWidget* parent, const char* name, const QRect& geometry, bool password = false)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(geometry);
    if (password)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

// An editable drop-down list that neither completes nor adds what is typed.
inline QComboBox* makeNameBox(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    return box;
}

inline bool isEnterKey(const QKeyEvent* key)
{
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// Sets the text of an editable box's list selection without it counting as a user edit.
inline void selectFirstQuietly(QComboBox* box)
{
    const QSignalBlocker blocker(box);
    if (box->count() > 0)
        box->setCurrentIndex(0);
}

// Every list of the program: whole rows, one selected at most, no editing in place, no sorting, fixed columns.
inline void setReportStyle(QTreeView* view)
{
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSortingEnabled(false);
    view->setFocusPolicy(Qt::ClickFocus);
    QHeaderView* header = view->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
}
