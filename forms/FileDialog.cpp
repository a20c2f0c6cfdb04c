#include "forms/FileDialog.h"

#include "base/HiClass.h"
#include "db/LedgerLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QQueue>
#include <QSettings>
#include <QStandardPaths>
#include <optional>

namespace {

QQueue<QString> nextFileNames;
QString startPath;

QString title(const QString& caption)
{
    return QStringLiteral("%1 - %2").arg(QString::fromLatin1(kAppTitle), caption);
}

QString settingKey(FileKind kind)
{
    static const char* const names[] = { "export", "import", "backup", "restore", "chartImage" };
    return QStringLiteral("FileDialogs/") + QString::fromLatin1(names[int(kind)]);
}

// A folder a dialog may start in: one that exists, and not where the program itself lies (an installed program's
// folder is no place for the user's files, and often not writable).
bool usable(const QString& folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    const QString program = QDir(QCoreApplication::applicationDirPath()).canonicalPath();
    const QString candidate = QDir(folder).canonicalPath();
    return candidate != program && !candidate.startsWith(program + QLatin1Char('/'));
}

// The folder of a file the user picked, kept for the next dialog of its kind.
void remember(FileKind kind, const QString& picked)
{
    if (picked.isEmpty())
        return;
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(settingKey(kind), QFileInfo(picked).absolutePath());
}

// The name queued for the next dialog, if any, taken as the user's pick.
std::optional<QString> queuedAnswer(FileKind kind)
{
    if (nextFileNames.isEmpty())
        return std::nullopt;
    const QString picked = nextFileNames.dequeue();
    remember(kind, picked);
    return picked;
}

} // namespace

QString FileDialog::startFolder(FileKind kind, const QString& fallback)
{
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    for (const QString& folder : { settings.value(settingKey(kind)).toString(), fallback, documents }) {
        if (usable(folder))
            return QDir::cleanPath(folder);
    }
    return QDir::homePath();
}

QString FileDialog::getSaveFileName(QWidget* parent, FileKind kind, const QString& caption, const QString& proposedName,
    const QString& filter, const QString& defaultSuffix)
{
    const QString path = startFolder(kind) + QLatin1Char('/') + proposedName;
    startPath = path;
    if (const std::optional<QString> picked = queuedAnswer(kind))
        return *picked;
    QFileDialog dialog(parent, title(caption), path, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // With a suffix set, the dialog adds it before it asks whether to replace an existing file.
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString picked = dialog.selectedFiles().constFirst();
    remember(kind, picked);
    return picked;
}

QString FileDialog::getOpenFileName(
    QWidget* parent, FileKind kind, const QString& caption, const QString& filter, const QString& fallback)
{
    const QString folder = startFolder(kind, fallback);
    startPath = folder;
    if (const std::optional<QString> picked = queuedAnswer(kind))
        return *picked;
    // A folder that exists: the name box starts empty.
    const QString picked = QFileDialog::getOpenFileName(parent, title(caption), folder, filter);
    remember(kind, picked);
    return picked;
}

void FileDialog::setNextFileName(const QString& fileName)
{
    nextFileNames.enqueue(fileName);
}

int FileDialog::pendingFileNames()
{
    return int(nextFileNames.size());
}

QString FileDialog::lastStartPath()
{
    return startPath;
}
