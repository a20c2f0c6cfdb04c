#include "forms/FileDialog.h"

#include "base/HiClass.h"

#include <QFileDialog>
#include <QQueue>

namespace {

QQueue<QString> nextFileNames;
QString startPath;

QString title(const QString& caption)
{
    return QStringLiteral("%1 - %2").arg(QString::fromLatin1(kAppTitle), caption);
}

} // namespace

QString FileDialog::getSaveFileName(
    QWidget* parent, const QString& caption, const QString& path, const QString& filter, const QString& defaultSuffix)
{
    startPath = path;
    if (!nextFileNames.isEmpty())
        return nextFileNames.dequeue();
    QFileDialog dialog(parent, title(caption), path, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // With a suffix set, the dialog adds it before it asks whether to replace an existing file.
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString FileDialog::getOpenFileName(
    QWidget* parent, const QString& caption, const QString& folder, const QString& filter)
{
    startPath = folder;
    if (!nextFileNames.isEmpty())
        return nextFileNames.dequeue();
    return QFileDialog::getOpenFileName(parent, title(caption), folder, filter);
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
