#pragma once

#include <QString>
#include <optional>

// Where a ledger lives: the file db.sjk in a data folder on this computer, or a PostgreSQL database given by a libpq
// connection string or URI ("postgresql://kivaro@shop-server/ledger", "service=shop").
struct LedgerLocation
{
    enum class Kind { File, Server };
    Kind kind = Kind::File;
    // The database file of a file ledger; its folder holds the users' product-name files.
    QString path;
    // The connection string of a server ledger, as the user gave it. Never holds a password that Kivaro asked for.
    QString connection;
    // A server ledger used as its administrator (the connection's own role), not as the account logged in: for work
    // on the whole ledger, a backup's reading included.
    bool administrator = false;
    // A server ledger worked through this computer's outbox while the server cannot be reached.
    bool offline = false;

    // The ledger db.sjk in a data folder.
    static LedgerLocation file(const QString& dataDir);
    static LedgerLocation fileAt(const QString& path);
    static LedgerLocation server(const QString& connection);
    bool isServer() const { return kind == Kind::Server; }
    LedgerLocation asAdministrator() const
    {
        LedgerLocation location = *this;
        location.administrator = isServer();
        return location;
    }
    LedgerLocation asOffline() const
    {
        LedgerLocation location = *this;
        location.offline = isServer();
        location.administrator = false;
        return location;
    }
    LedgerLocation online() const
    {
        LedgerLocation location = *this;
        location.offline = false;
        return location;
    }
    QString databasePath() const { return path; }
    QString dataDir() const;
    // What the login dialog shows: "本机" or the server, never a password.
    QString displayName() const;

    friend bool operator==(const LedgerLocation&, const LedgerLocation&) = default;
};

// The text given to --copy and the like: a server when it is a URI or key=value connection string, else a db.sjk
// path (the ledger in that file's folder).
LedgerLocation ledgerFromArgument(const QString& text);

// The ledger this process uses: the one set by setCurrentLedger (from --database or the login dialog), else
// KIVARO_DATABASE from the environment, else the one the settings hold, else the file in the user's data folder.
LedgerLocation currentLedger();
void setCurrentLedger(const std::optional<LedgerLocation>& location);
// The program's settings file, looked up at every use: ~/.config/Kivaro/Kivaro.conf.
QString settingsPath();
// The server chosen in the program and kept in the settings; nothing means this computer's file.
std::optional<QString> savedServer();
void saveServerChoice(const std::optional<QString>& connection);
