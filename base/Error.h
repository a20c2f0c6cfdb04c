#pragma once

#include <QString>
#include <stdexcept>

// A database or file failure. Raised by the operation that failed and shown where the user's action began. Its text
// is for the user; code that decides what to do next asks its kind, never the words.
class KivaroError : public std::runtime_error
{
public:
    enum class Kind {
        Other,
        // The disk (or the user's quota) is full.
        DiskFull,
        // Another program holds the file, or a server's lock was waited for too long.
        Busy,
        // The file is damaged or is not a ledger.
        Damaged,
        // A sum or amount beyond what is kept exactly.
        Overflow,
    };
    explicit KivaroError(const QString& text, Kind kind = Kind::Other)
        : std::runtime_error(text.toStdString())
        , m_text(text)
        , m_kind(kind)
    {
    }
    QString text() const { return m_text; }
    Kind kind() const { return m_kind; }

private:
    QString m_text;
    Kind m_kind;
};
