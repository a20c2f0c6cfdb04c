#pragma once

#include <QString>

class QWidget;

// What a file dialog is for: each kind starts in the folder last used for it on this computer.
enum class FileKind { Export, Import, Backup, Restore, ChartImage };

// Every file dialog the program shows goes through here. Tests queue the names the user would pick instead of
// clicking through a dialog: while names are queued, no dialog is shown and each call takes the next one, as if the
// user had picked it (its folder is kept for the kind).
class FileDialog
{
public:
    // A name to save under, starting in the kind's folder with the proposed file name; defaultSuffix is added to a
    // name typed without one. Empty when the user cancelled.
    static QString getSaveFileName(QWidget* parent, FileKind kind, const QString& caption, const QString& proposedName,
        const QString& filter, const QString& defaultSuffix = QString());
    // An existing file to open, starting in the kind's folder (or in fallback, an existing folder, when none was used
    // yet). Empty when the user cancelled.
    static QString getOpenFileName(QWidget* parent, FileKind kind, const QString& caption, const QString& filter,
        const QString& fallback = QString());

    // Where a dialog of this kind starts: the folder last used for it (kept in this computer's settings) while it
    // exists, else fallback, else the user's Documents folder when it exists, else the home folder; never the
    // program's own folder.
    static QString startFolder(FileKind kind, const QString& fallback = QString());

    // The answer to the next dialog; an empty name stands for cancelling it.
    static void setNextFileName(const QString& fileName);
    static int pendingFileNames();
    // Where the last dialog started (the path or folder it was given), whether shown or answered from the queue.
    static QString lastStartPath();
};
