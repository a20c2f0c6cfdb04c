#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The exact bytes of a file, or for a folder its listing, so a test can tell whether anything changed it.
QByteArray fingerprint(const QString& path);
QByteArray readAll(const QString& path);
bool writeAll(const QString& path, const QByteArray& bytes);

// What one of poppler's tools (pdftotext, pdfinfo) prints for the arguments, or empty when it failed.
QString popplerOutput(const QString& tool, const QStringList& arguments);
// Whether those tools can be started: under Wine, a Windows test cannot start the host's Linux programs.
bool popplerAvailable();
#define KIVARO_NEEDS_POPPLER()                                                                                         \
    do {                                                                                                               \
        if (!popplerAvailable())                                                                                       \
            QSKIP("the PDF is read back with poppler's tools, which cannot be started here");                          \
    } while (false)

// While one lives, the calling thread is held to the permission bits of files like any other user, even when it
// runs as root: the capabilities that override them are lowered and restored at the end.
class PermissionsApply
{
public:
    PermissionsApply();
    ~PermissionsApply();
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

    // Whether writing into the folder, or to the file, is refused now. Windows ignores a folder's read-only
    // attribute, and Wine run as root does not hold a file's.
    static bool refuseWriting(const QString& path);

private:
    bool m_lowered = false;
};
