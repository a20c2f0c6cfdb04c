#pragma once

#include <QPointer>
#include <QWidget>

// Disables a button and shows the busy cursor for the guard's life; both come back on every path out.
class BusyCursor
{
public:
    explicit BusyCursor(QWidget* button = nullptr);
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

    // Restores cursor and button now instead of at the end of the scope.
    void release();

private:
    QPointer<QWidget> m_button;
    bool m_active = true;
};
