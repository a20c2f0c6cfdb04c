#pragma once

#include <QString>
#include <optional>

class QRegularExpression;

// A libpq connection string or URI taken apart into its fields.
struct ServerParams
{
    QString host;
    QString databaseName;
    QString userName;
    QString password;
    int port = -1;
    // Every other libpq option (sslmode, service, connect_timeout, ...), as key='value' separated by semicolons.
    QString options;
};

// Raises KivaroError, without the password, when libpq cannot read the text.
ServerParams parseServerConnection(const QString& connection);
// The server and database for the user's eyes ("shop-server/ledger", "service=shop"), never a password.
QString serverDisplayName(const QString& connection);
// The same connection with any password left out, as it may be kept in the settings.
QString connectionWithoutPassword(const QString& connection);

// A password the user typed for a connection, kept in this process's memory only.
void rememberServerPassword(const QString& connection, const QString& password);
QString rememberedServerPassword(const QString& connection);

// The account this process has logged in as on a server ledger. Its connections to that ledger go in as the
// account's role with the password typed at the login, kept in memory only; logging in again replaces it.
struct ServerAccount
{
    QString name;
    QString password;
};
void signInToServer(const QString& connection, const ServerAccount& account);
std::optional<ServerAccount> signedInAccount(const QString& connection);
// The passwords the account logged in with on the ledger since the process started, oldest first.
QStringList passwordsSignedInWith(const QString& connection, const QString& name);
// The account is gone (deleted): the ledger is used as the connection's role again.
void signOutOfServer(const QString& connection);
// Counts every sign-in: a connection made before the last one is made again as the new account.
int serverSignIns();

// The SQLSTATE in the verbose message of a failed connection (libpq gives no result to ask for its field), found by
// its place, ": 28P01: ", never by the severity's word before it, which the server translates; empty when there is
// none (the server never answered). The pattern's first group is what stands before the code.
QByteArray connectionFailureState(const QByteArray& verbose);
const QRegularExpression& connectionFailureStatePattern();
