#pragma once

#include "db/LedgerLocation.h"

#include <QDate>
#include <optional>

#include <functional>
#include <memory>
#include <utility>

class QPrintDialog;
class QString;

// Replaces a replaceable hook (a static std::function such as TEntryPage::startCalculator) for the life of the guard,
// and puts the one before back at the end, so no test leaves a hook holding a lambda over its dead variables.
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

// Message boxes answered from the wrapper's queue while one lives. At the end every queued answer must have been
// used, which fails the running test otherwise; the queue and the shown texts are left empty for the next test.
class MessageQueueGuard
{
public:
    MessageQueueGuard();
    ~MessageQueueGuard();
    MessageQueueGuard(const MessageQueueGuard&) = delete;
    MessageQueueGuard& operator=(const MessageQueueGuard&) = delete;
};

// One per test, made in init() and dropped in cleanup(): whatever the test does to the replaceable hooks
// (TEntryPage::startCalculator, TfrmMain::restartProgram and dailyBackup, TfrmPrint::execPrintDialog,
// TDbMan::longWorkNotice and passwordPrompt) is undone, the message box queue is checked and emptied as
// MessageQueueGuard does, and so is the file dialog's queue.
class HookGuard
{
public:
    HookGuard();
    ~HookGuard();
    HookGuard(const HookGuard&) = delete;
    HookGuard& operator=(const HookGuard&) = delete;

private:
    std::function<bool()> m_startCalculator;
    std::function<void()> m_restartProgram;
    std::function<bool(QPrintDialog&)> m_execPrintDialog;
    std::function<std::shared_ptr<void>(const QString&)> m_longWorkNotice;
    std::function<std::optional<QString>(const QString&, const QString&)> m_passwordPrompt;
    std::function<std::optional<QString>(const LedgerLocation&, const QString&, const QDate&)> m_dailyBackup;
    MessageQueueGuard m_messages;
};
