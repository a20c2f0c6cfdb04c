#pragma once

#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QString>
#include <QTreeView>
#include <functional>

// Small builders shared by the windows: every control gets its form name as objectName.

inline QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    // Labels show what users typed, which must never be read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->move(left, top);
    label->adjustSize();
    return label;
}

// A label that grows and shrinks with its text, so a long line of totals is never cut.
inline void setSizedText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

// Places a top-level window in the middle of the screen it is on, frame included.
inline void centreOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen();
    if (!screen)
        return;
    const QRect frame = window->frameGeometry();
    QRect centred(QPoint(0, 0), frame.size());
    centred.moveCenter(screen->availableGeometry().center());
    // For a window, move() places the frame's corner.
    window->move(centred.topLeft());
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

// A picker of days, yyyy-MM-dd with a calendar, over every day the ledger accepts: years 1 to 9999 (a QDateEdit
// stops at 1752-09-14 by itself).
inline QDateEdit* makeDayPicker(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* picker = new QDateEdit(parent);
    picker->setObjectName(QString::fromLatin1(name));
    picker->setGeometry(geometry);
    picker->setDateRange(QDate(1, 1, 1), QDate(9999, 12, 31));
    picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    picker->setCalendarPopup(true);
    return picker;
}

// Hands the key presses of one control to a handler; the handler returns true for keys it swallowed.
class KeyHandler : public QObject
{
public:
    KeyHandler(QObject* target, std::function<bool(QKeyEvent*)> handler)
        : QObject(target)
        , m_handler(std::move(handler))
    {
        target->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress)
            return m_handler(static_cast<QKeyEvent*>(event));
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<bool(QKeyEvent*)> m_handler;
};

// Enter on its own: with Ctrl it is a shortcut of the page (完成).
inline bool isEnterKey(const QKeyEvent* key)
{
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !(key->modifiers() & Qt::ControlModifier);
}

// A key of a page, live while the focus is anywhere on it.
inline void addPageShortcut(QWidget* page, const QKeySequence& keys, const std::function<void()>& run)
{
    auto* shortcut = new QShortcut(keys, page);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(shortcut, &QShortcut::activated, page, run);
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
