#pragma once

#include <QString>

inline constexpr const char* kAppTitle = "Kivaro";

// Static utilities of the program: folders, the supported-system check and the MD5 of a text.
class THi
{
public:
    THi() = delete;

    static void CheckOS();
    static bool IsSupportedOS();
    static QString GetAppDir();
    static QString GetSpecialFolder(int folder);
    // Raises KivaroError when the folder is missing and cannot be created.
    static QString GetDataDir(const QString& folderName);
    static QString GetMd5(const QString& text);

    static constexpr int kAppDataFolder = 26;
};
