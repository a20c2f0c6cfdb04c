#pragma once

#include <QString>
#include <stdexcept>

// A database or file failure. Raised by the operation that failed and shown where the user's action began.
class KivaroError : public std::runtime_error
{
public:
    explicit KivaroError(const QString& text)
        : std::runtime_error(text.toStdString())
        , m_text(text)
    {
    }
    QString text() const { return m_text; }

private:
    QString m_text;
};
