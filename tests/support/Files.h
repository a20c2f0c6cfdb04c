#pragma once

#include <QByteArray>
#include <QString>

// The exact bytes of a file, or for a folder its listing, so a test can tell whether anything changed it.
QByteArray fingerprint(const QString& path);
QByteArray readAll(const QString& path);
bool writeAll(const QString& path, const QByteArray& bytes);

// While one lives, the calling thread is held to the permission bits of files like any other user, even when it
// runs as root: the capabilities that override them are lowered and restored at the end.
class PermissionsApply
{
public:
    PermissionsApply();
    ~PermissionsApply();
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

private:
    bool m_lowered = false;
};
