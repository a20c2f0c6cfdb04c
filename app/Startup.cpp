#include "app/Startup.h"

#include "app/AppIcon.h"
#include "app/HiClass.h"
#include "db/DbClass.h"
#include "forms/MainForm.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QProgressDialog>
#include <QSystemSemaphore>
#include <QThread>

void installFontSubstitutes()
{
    const QStringList songFaces { QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL SungtiL GB"),
        QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei") };
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

int runKivaro(int argc, char** argv)
{
    THi::CheckOS();
    QApplication app(argc, argv);
    QApplication::setWindowIcon(kivaroIcon());
    QDir::setCurrent(THi::GetAppDir());
    // A marker that other instances could see; nothing tests it, so a second instance runs like the first.
    static QSystemSemaphore marker(QStringLiteral("Orvel-Software-KVRDX-AppMutex"), 1, QSystemSemaphore::Open);
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    installFontSubstitutes();
    TDbMan::longWorkNotice = showLongWork;

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
    return app.exec();
}
