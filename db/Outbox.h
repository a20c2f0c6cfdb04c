#pragma once

#include "db/LedgerStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>

// What a till does while its server ledger cannot be reached: an SQLite file of its own per server ledger, in this
// computer's data folder, readable by its owner only. It holds a verifier of each account's password (made at the
// account's last server login here), the kept lines typed offline, the product names, and every 完成 as one save with
// its own token, oldest first, until it has reached the server.
QString outboxPath(const LedgerLocation& server);
// The outbox files in this computer's data folder of the server ledger with that identity, whatever address or
// spelling they were made for.
QStringList outboxesOfLedger(const QString& identity);

// The server is away: it refused or did not answer the connection. Work goes on offline.
class TServerUnreachable : public KivaroError
{
public:
    using KivaroError::KivaroError;
};

// Offline, a stored line cannot be edited, deleted or undone: raises KivaroError saying so.
[[noreturn]] void refuseOfflineChange();

// One save waiting in the outbox.
struct OutboxSave
{
    qint64 seq = 0;
    QByteArray token;
    QString userName;
    QDateTime madeAt;
    QList<SalesLine> lines;
    // A save that went away with the server during its transaction: the kept lines on the server it forgets.
    QString keptOwner;
    QList<qint64> keptIds;
    // Why it could not be sent the last time it was tried (empty when it was never refused).
    QString problem;
    // Why its lines cannot be read exactly as they were saved (the file was damaged or changed): it is not sent.
    QString damage;
    // Set aside for good: it stays (shown, exported with --outbox) and no longer holds up the others.
    bool setAside = false;
};

// What the outbox holds for the header: saves and lines waiting, and the newest reason one was refused.
struct OutboxCount
{
    // Saves and lines still to send.
    qint64 saves = 0;
    qint64 lines = 0;
    QString problem;
    // Saves set aside, which are never sent.
    qint64 setAside = 0;
};

// The store behind TDbMan for a server ledger worked offline (LedgerLocation::offline). Accounts are the verifiers,
// a save lands in the outbox, kept lines and product names work as usual; everything that needs the server's lines
// (the review page, edits, deletes, undo, the administrator's work) is not in its interface, and TDbMan refuses it in
// words.
class OutboxStore : public WindowStore
{
public:
    explicit OutboxStore(const LedgerLocation& server);
    // Another outbox file of the same ledger (made for another address or spelling of it).
    OutboxStore(const LedgerLocation& server, const QString& path);
    ~OutboxStore() override;
    OutboxStore(const OutboxStore&) = delete;
    OutboxStore& operator=(const OutboxStore&) = delete;

    LedgerLocation location() const override { return FLocation; }

    QStringList userNames() override;
    std::optional<QString> passwordHash(const QString& name) override;
    // Stores the verifier, replacing an older one: always true.
    bool insertUser(const QString& name, const QString& hash) override;
    void moveUserToFront(const QString& name) override;

    void write(const std::function<void(LedgerWrite&)>& work, const std::function<bool(LedgerWrite&)>& landed) override;
    std::optional<QStringList> productNames(const QString& userName) override;
    std::optional<QStringList> rememberProductName(const QString& userName, const QString& name) override;
    std::optional<QStringList> rememberProductNames(const QString& userName, const QStringList& names) override;
    void writeProductNames(const QString& userName, const QStringList& names) override;

    // ---- The outbox's own work ----
    // A copy of the shop's catalogue, written when it differs from the one kept, and read while the server is away.
    void keepCatalogue(const QList<CatalogueItem>& items);
    QList<CatalogueItem> catalogue();
    // The server ledger's identity, learned at a login there.
    void setLedgerIdentity(const QString& identity);
    // A save whose transaction on the server may or may not have landed waits here under its token.
    void parkSave(const QByteArray& token, const QString& userName, const QList<SalesLine>& lines,
        const QString& keptOwner, const QList<qint64>& keptIds);
    // The saves waiting, oldest first: the user's, or everyone's for an empty name.
    QList<OutboxSave> saves(const QString& userName = QString());
    OutboxCount count(const QString& userName);
    // The save reached the server (or was there already): it leaves the outbox.
    void removeSave(qint64 seq);
    void setProblem(qint64 seq, const QString& problem);
    void setAside(qint64 seq, const QString& problem);
    // The ledger's generation the account last saw online; 0 when unknown.
    qint64 generation(const QString& userName);
    void setGeneration(const QString& userName, qint64 generation);
    // Kept lines of the user's windows that are gone, by owner, and their removal once they are kept on the server.
    QStringList keptOwners(const QString& userName);
    QList<SalesLine> keptLines(const QString& userName, const QString& owner);
    void removeKeptOwner(const QString& userName, const QString& owner);
    // A window that goes offline keeps the lines it shows here, each naming the kept line the server keeps for it
    // (its id); their ids here in order.
    QList<qint64> carryKept(const QString& userName, const QString& owner, const QList<SalesLine>& lines);
    // The server's kept lines of the owner that this outbox holds or forgot since: the server forgets them when the
    // outbox's kept lines go over.
    QList<qint64> serverKeptToForget(const QString& userName, const QString& owner);

private:
    class Writer;
    class Db;
    // The seal of a save of the account logged in on this ledger; empty for any other account.
    QString sealOf(const QString& token, const QString& userName, qint64 lineCount, const QString& lines,
        const QString& keptOwner, const QString& keptIds);
    QString sealWith(const QString& password, const QString& token, const QString& userName, qint64 lineCount,
        const QString& lines, const QString& keptOwner, const QString& keptIds);
    LedgerLocation FLocation;
    std::unique_ptr<Db> FDb;
};
