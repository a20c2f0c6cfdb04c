#include "forms/QtLanguage.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QStringList installQtTranslations()
{
    // zh_TW, zh_HK and zh_Hant read traditional characters; every other locale gets the program's own language.
    const QLocale user;
    const QLocale chinese = user.language() == QLocale::Chinese ? user : QLocale(QLocale::Chinese, QLocale::China);
    const QStringList folders { QLibraryInfo::path(QLibraryInfo::TranslationsPath),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations")) };
    QStringList loaded;
    // qtbase holds the widgets' and dialogs' texts; qt_ is the catalogue that names it (and others) on older Qts.
    for (const QString& catalogue : { QStringLiteral("qtbase"), QStringLiteral("qt") }) {
        for (const QString& folder : folders) {
            auto* translator = new QTranslator(QCoreApplication::instance());
            if (translator->load(chinese, catalogue, QStringLiteral("_"), folder)) {
                QCoreApplication::installTranslator(translator);
                loaded.append(translator->filePath());
                break;
            }
            delete translator;
        }
        if (!loaded.isEmpty())
            break;
    }
    return loaded;
}
