#include "app/Startup.h"

#include "app/AppIcon.h"
#include "app/Arguments.h"
#include "app/CommandLine.h"
#include "base/Error.h"
#include "base/HiClass.h"
#include "base/Platform.h"
#include "db/DbClass.h"
#include "forms/DatabaseForm.h"
#include "forms/ErrorHandler.h"
#include "forms/MainForm.h"
#include "forms/QtLanguage.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <csignal>

void installFontSubstitutes()
{
    const QStringList songFaces = Platform::songFontFaces();
    QFont::insertSubstitutions(QStringLiteral("宋体"), songFaces);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), songFaces);
}

// A window that says what the store is busy with, for work that takes seconds before any other window is up.
std::shared_ptr<void> showLongWork(const QString& text)
{
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        return nullptr;
    auto notice = std::make_shared<QProgressDialog>(text, QString(), 0, 0);
    notice->setWindowTitle(QString::fromLatin1(kAppTitle));
    notice->setCancelButton(nullptr);
    notice->setMinimumDuration(0);
    notice->setWindowModality(Qt::ApplicationModal);
    notice->show();
    QCoreApplication::processEvents();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return std::shared_ptr<void>(notice.get(), [notice](void*) mutable {
        QApplication::restoreOverrideCursor();
        notice.reset();
    });
}

// The wait for a server that is slow to answer, with 取消; only the window's own thread shows it.
bool showServerWait(const QString& text)
{
    static QPointer<QProgressDialog> shown;
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        return true;
    if (text.isEmpty()) {
        delete shown;
        return true;
    }
    if (!shown) {
        shown = new QProgressDialog(text, QStringLiteral("取消"), 0, 0);
        shown->setWindowTitle(QString::fromLatin1(kAppTitle));
        shown->setWindowModality(Qt::ApplicationModal);
        shown->setMinimumDuration(0);
        shown->show();
    }
    QCoreApplication::processEvents();
    return !shown->wasCanceled();
}

std::optional<LedgerLocation> ledgerChosenOnCommandLine(const QStringList& arguments)
{
    std::optional<LedgerLocation> chosen;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (const std::optional<QString> value = takeDatabaseOption(arguments, i))
            chosen = ledgerFromArgument(*value);
    }
    return chosen;
}

int runKivaro(int argc, char** argv)
{
#ifdef SIGXFSZ
    // A limit on a file's size (ulimit -f) is a write error the program reports, not a signal that kills it.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    if (argc > 1)
        Platform::useParentConsole();
    if (const std::optional<int> exitCode = runCommandLineTool(argc, argv))
        return *exitCode;
    QApplication app(argc, argv);
    QApplication::setWindowIcon(kivaroIcon());
    installQtTranslations();
    // A relative path given with --database means the folder the program was started in.
    try {
        if (const std::optional<LedgerLocation> chosen = ledgerChosenOnCommandLine(QCoreApplication::arguments()))
            setCurrentLedger(withoutShownPassword(*chosen));
    } catch (const KivaroError& error) {
        showError(error.text());
        return 2;
    }
    QDir::setCurrent(THi::GetAppDir());
    // A marker that other instances could see; nothing tests it, so a second instance runs like the first.
    Platform::markRunning(QStringLiteral("Orvel-Software-KVRDX-AppMutex"));
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    installFontSubstitutes();
    TDbMan::longWorkNotice = showLongWork;
    TDbMan::serverWait = showServerWait;
    TDbMan::passwordPrompt = askServerPassword;

    TfrmMain mainForm;
    switch (mainForm.FormCreate()) {
    case TfrmMain::CreateResult::LoginCancelled:
        return 0;
    case TfrmMain::CreateResult::Failed:
        return 1;
    case TfrmMain::CreateResult::Ready:
        break;
    }
    mainForm.show();
    mainForm.startDailyBackup();
    return app.exec();
}
