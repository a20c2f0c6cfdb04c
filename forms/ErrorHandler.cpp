#include "forms/ErrorHandler.h"

#include "base/Error.h"
#include "db/LedgerStore.h"
#include "forms/MessageBox.h"

#include <QTimer>

std::function<void()> ledgerReplacedHook;

QString errorBoxText(const QString& text)
{
    // A Chinese sentence that already ends in its own stop gets no second one.
    static const QString stops = QStringLiteral("。！？");
    if (!text.isEmpty() && text.back() > QLatin1Char('.') && !stops.contains(text.back()))
        return text + QLatin1Char('.');
    return text;
}

void showError(const QString& text, QWidget* parent)
{
    MessageBox::error(parent, errorBoxText(text));
}

void showError(const std::exception& error, QWidget* parent)
{
    if (const auto* replaced = dynamic_cast<const TLedgerReplaced*>(&error)) {
        showError(replaced->text(), parent);
        if (ledgerReplacedHook)
            QTimer::singleShot(0, ledgerReplacedHook);
        return;
    }
    if (const auto* own = dynamic_cast<const KivaroError*>(&error))
        showError(own->text(), parent);
    else
        showError(QString::fromLocal8Bit(error.what()), parent);
}
