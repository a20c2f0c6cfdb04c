#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <utility>

class QWidget;

// The text the error box shows: a full stop is added when the last character sorts after ".".
QString errorBoxText(const QString& text);

// Called after the box that says the ledger was restored by another computer (TLedgerReplaced) is closed: the main
// window returns to the login.
extern std::function<void()> ledgerReplacedHook;

// Shows an unexpected error: the text, the application title, the error icon and OK.
void showError(const QString& text, QWidget* parent = nullptr);
void showError(const std::exception& error, QWidget* parent = nullptr);

// Runs one user action; a failure ends the action, is shown, and the program goes on. Returns false on failure.
template <typename Action> bool guarded(Action&& action, QWidget* parent = nullptr)
{
    try {
        std::forward<Action>(action)();
        return true;
    } catch (const std::exception& error) {
        showError(error, parent);
    } catch (...) {
        showError(QStringLiteral("未知错误"), parent);
    }
    return false;
}
