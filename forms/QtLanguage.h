#pragma once

#include <QStringList>

// Qt's own texts (message-box buttons, the file, print and page-setup dialogs, a text field's menu) in the
// program's language: the user's Chinese when the desktop speaks one, else Simplified Chinese, like every text of the
// program. Looked for where Qt keeps its translations, then in "translations" beside the program (the Windows
// package). Returns the files loaded; none when no translation was found, and Qt stays in English.
QStringList installQtTranslations();
