#pragma once

#include <QString>

// An account as the list of accounts shows it: whether it waits for a password (copied from a ledger whose passwords
// cannot come along) and, on a server, whether it is the shop's owner.
struct AccountInfo
{
    QString name;
    bool waitingForPassword = false;
    bool shopOwner = false;
};

// What any ledger asks of an account, whichever store keeps it. Each raises KivaroError in the user's words.
namespace AccountRules {

// A name that can name an account: not empty, no U+0000.
void checkName(const QString& name);
// A name that can name a role of a server: at most 63 bytes of UTF-8 as well (the server cuts a longer one, and two
// accounts would become one role).
void checkRoleName(const QString& name);
// A name a new account may take, on any ledger: a role's name (so that a file ledger's accounts can always move to a
// server), and not one of the review page's ranges (我的, 全店), which an account of that name would be taken for.
void checkNewName(const QString& name);
// A password an account may be given: not empty.
void checkPassword(const QString& password);

} // namespace AccountRules
