#pragma once

#include <QString>

inline constexpr const char* kAppTitle = "Kivaro";

// Static utilities of the program: its folders and the MD5 of a text.
class THi
{
public:
    THi() = delete;

    static QString GetAppDir();
    // Raises KivaroError when the folder is missing and cannot be created.
    static QString GetDataDir(const QString& folderName);
    static QString GetMd5(const QString& text);
};
