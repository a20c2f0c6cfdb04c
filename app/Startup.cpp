#include "app/Startup.h"

#include "app/AppIcon.h"
#include "app/HiClass.h"
#include "forms/MainForm.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QSystemSemaphore>

void installFontSubstitutes()
{
    const QStringList songFaces { QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL SungtiL GB"),
        QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei") };
    QFont::insertSubstitutions(QStringLiteral("宋体"), songFaces);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), songFaces);
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
