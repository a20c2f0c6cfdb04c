#pragma once

// The support library of the tests and the benchmark: a private data home, a raw connection to a database file,
// file fingerprints, a child process, guards for the replaceable hooks and the message box queue, and the helpers
// below that drive windows.

#include "tests/support/ChildProcess.h"
#include "tests/support/DataHome.h"
#include "tests/support/Files.h"
#include "tests/support/Hooks.h"
#include "tests/support/RawDb.h"
#include "tests/support/ServerDb.h"

#include <QApplication>
#include <QTest>
#include <functional>
#include <memory>

class TDbMan;
class TfrmMain;
struct SalesLine;

// Finds a child by objectName and fails the test when it is missing.
template <typename T> T* child(QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("control %s not found", name);
    return found;
}

// Types text, Chinese included, as key events that carry the text.
void typeText(QWidget* widget, const QString& text);

// Runs a function once the next modal dialog of that objectName is showing; the function gets the dialog.
void whenDialogShows(const char* objectName, std::function<void(QWidget*)> action);

// The main window of a signed-in user, shown and turned to the review page by a click on 查帐.
std::unique_ptr<TfrmMain> openReviewWindow(const QString& user);

// The number of stored lines in the home's ledger, counted by the engine itself (file or server); -1 when it cannot
// be read.
qint64 storedLineCount(const TestDataHome& home);

// The user's stored line id as the store holds it now; a default line when there is none.
SalesLine storedLine(TDbMan& db, const QString& user, qint64 id);
// Edits and deletes a stored line as a window that has just read it does.
void updateStored(TDbMan& db, const QString& user, const SalesLine& edited);
void deleteStored(TDbMan& db, const QString& user, qint64 id);

// Every line the user keeps at this computer, whichever window keeps it, in the order they were kept.
QList<SalesLine> allKeptLines(TDbMan& db, const QString& user);

// For a case about the file store's own layout, which a server ledger does not have.
#define KIVARO_FILE_STORE_ONLY()                                                                                       \
    do {                                                                                                               \
        if (testingOnServer())                                                                                         \
            QSKIP("about the database file itself");                                                                   \
    } while (false)

// Message boxes answered from the queue, the substitute fonts installed.
void prepareTestApplication();

// A random test's seed: KIVARO_TEST_SEED when set (to replay a failure), else a new one. Printed either way, with what
// to set to replay it.
quint32 testSeed();

#define KIVARO_TEST_MAIN(TestObject)                                                                                   \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                            \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                                   \
        QApplication app(argc, argv);                                                                                  \
        prepareTestApplication();                                                                                      \
        TestObject test;                                                                                               \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
