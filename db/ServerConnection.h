#pragma once

#include <QString>

// A libpq connection string or URI taken apart for QtSql's QPSQL driver, which builds its own connection string from
// these fields.
struct ServerParams
{
    QString host;
    QString databaseName;
    QString userName;
    QString password;
    int port = -1;
    // Every other libpq option (sslmode, service, connect_timeout, ...), as QPSQL's connect options.
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
