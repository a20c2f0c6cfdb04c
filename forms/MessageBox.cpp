#include "forms/MessageBox.h"

#include "base/HiClass.h"

#include <QQueue>

namespace {
bool testMode = false;
QQueue<QMessageBox::StandardButton> answers;
QStringList shownTexts;
}

void MessageBox::information(QWidget* parent, const QString& text)
{
    show(parent, QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBox::error(QWidget* parent, const QString& text)
{
    show(parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool MessageBox::confirm(QWidget* parent, const QString& question)
{
    return show(parent, QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

void MessageBox::setTestMode(bool on)
{
    testMode = on;
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    answers.enqueue(answer);
}

int MessageBox::pendingAnswers()
{
    return int(answers.size());
}

QStringList MessageBox::takeShownTexts()
{
    return std::exchange(shownTexts, {});
}

QMessageBox::StandardButton MessageBox::show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    if (testMode) {
        shownTexts.append(text);
        return answers.isEmpty() ? defaultButton : answers.dequeue();
    }
    QMessageBox box(icon, QString::fromLatin1(kAppTitle), text, buttons, parent);
    // Texts carry user names, product names and file names, never markup.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
