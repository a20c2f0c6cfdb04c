#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <utility>

// A fresh, private data location for one test: XDG_DATA_HOME points into a temporary folder, so the real
// user's data is never touched.
class TestDataHome
{
public:
    TestDataHome();
    QString dataDir() const { return m_dir.path() + QStringLiteral("/Kivaro"); }
    QString dbPath() const { return dataDir() + QStringLiteral("/db.sjk"); }
    QString base() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

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

// Runs a function once the next modal dialog of type T is showing; the function gets the dialog.
void whenDialogShows(const char* objectName, std::function<void(QWidget*)> action);

void prepareTestApplication();

// Replaces a replaceable hook (a static std::function such as TEntryPage::startCalculator) for the life of the guard,
// and puts the program's own back at the end, so no test leaves a hook holding a lambda over its dead variables.
template <typename Hook> class ScopedHook
{
public:
    ScopedHook(Hook& hook, Hook replacement)
        : m_hook(hook)
        , m_saved(std::exchange(hook, std::move(replacement)))
    {
    }
    ~ScopedHook() { m_hook = std::move(m_saved); }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;

private:
    Hook& m_hook;
    Hook m_saved;
};

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
