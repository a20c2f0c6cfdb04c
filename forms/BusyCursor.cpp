#include "forms/BusyCursor.h"

#include <QApplication>

BusyCursor::BusyCursor(QWidget* button)
    : m_button(button)
{
    if (m_button)
        m_button->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor()
{
    release();
}

void BusyCursor::release()
{
    if (!m_active)
        return;
    m_active = false;
    QApplication::restoreOverrideCursor();
    if (m_button)
        m_button->setEnabled(true);
}
