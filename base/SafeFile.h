#pragma once

#include "base/Error.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <memory>

// A write that failed: the message names the target, reason() is why alone.
class SafeFileError : public KivaroError
{
public:
    SafeFileError(const QString& text, const QString& reason)
        : KivaroError(text)
        , m_reason(reason)
    {
    }
    QString reason() const { return m_reason; }

private:
    QString m_reason;
};

// The one way the program writes a file: into a new file beside the target, every write and the flush checked, synced
// to the disk, then renamed over the target, so that the old file stays whole until the new one is complete. It
// never replaces a protected file (the ledger) nor anything that resolves to it, by a symbolic or a hard link. A
// failure names the target and the real reason (a full disk as such) and leaves the target as it was.
class SafeFile
{
public:
    // Refuses a target whose folder is missing or that is, or resolves to, a protected file.
    explicit SafeFile(const QString& target, QFileDevice::Permissions permissions = {});
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    const QString& target() const { return m_target; }
    // The new file, for writers that take a path (it exists, empty, until they replace it).
    const QString& workPath() const { return m_work; }
    // The new file opened for writing, for writers that take a device; its errors are checked at commit().
    QFile& device();
    void write(QByteArrayView bytes);
    // Flushes, syncs and renames the new file over the target, checking the target once more first.
    void commit();
    // A failure of this file, in the user's words: the target and the reason, a full disk named as such.
    SafeFileError failure(const QString& reason) const;

    // Removes from folder what writes that never ended left (the program killed, the power lost): new files of this
    // class, and those named like one of alsoNamed, untouched for an hour, which no write in progress is.
    static void removeLeftovers(const QString& folder, const QStringList& alsoNamed = {});

    // The file a SafeFile must never replace.
    static void protect(const QString& path);
    // Raises KivaroError when path is, or resolves to, a protected file.
    static void refuseProtected(const QString& path);

private:
    class Device;

    QString m_target;
    // What is replaced: the target, or the file a symbolic link at the target names.
    QString m_destination;
    QString m_work;
    QFileDevice::Permissions m_permissions;
    std::unique_ptr<Device> m_file;
    bool m_committed = false;
};
