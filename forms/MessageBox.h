#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

// Every box the program shows goes through here, with the application title as caption. Tests queue the answers
// instead of clicking: while test mode is on, no box is shown and each is answered from the queue (or with its
// default when the queue is empty), and its text is recorded.
class MessageBox
{
public:
    // One OK button, no icon.
    static void information(QWidget* parent, const QString& text);
    // One OK button, error icon.
    static void error(QWidget* parent, const QString& text);
    // Yes and No with the question icon; true only for Yes.
    static bool confirm(QWidget* parent, const QString& question);

    static void setTestMode(bool on);
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static int pendingAnswers();
    // The texts shown since the last call, oldest first.
    static QStringList takeShownTexts();

private:
    static QMessageBox::StandardButton show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);
};
