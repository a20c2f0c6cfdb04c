#pragma once

#include <QString>

class QWidget;

// Every file dialog the program shows goes through here. Tests queue the names the user would pick instead of
// clicking through a dialog: while names are queued, no dialog is shown and each call takes the next one.
class FileDialog
{
public:
    // A name to save under, starting at path (folder and proposed name); defaultSuffix is added to a name typed
    // without one. Empty when the user cancelled.
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& path, const QString& filter,
        const QString& defaultSuffix = QString());
    // An existing file to open, starting in folder. Empty when the user cancelled.
    static QString getOpenFileName(
        QWidget* parent, const QString& caption, const QString& folder, const QString& filter);

    // The answer to the next dialog; an empty name stands for cancelling it.
    static void setNextFileName(const QString& fileName);
    static int pendingFileNames();
    // Where the last dialog started (the path or folder it was given), whether shown or answered from the queue.
    static QString lastStartPath();
};
