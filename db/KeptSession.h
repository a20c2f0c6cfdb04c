#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <memory>

namespace Platform {
class FolderLock;
}

// The claim of one window on the pending lines it keeps. Kept lines are stored under an owner,
// "<computer>/<session>": the computer is an ID made at this computer's first start, the session one window's login.
// A session is alive while its folder in the user's cache folder is locked by its process (a lock of the system, not a
// process ID, which another process may carry in a sandbox of its own), and the lock dies with the process, so the
// lines of a closed or crashed window come back to exactly one later window of this computer.
class KeptSession
{
public:
    KeptSession();
    ~KeptSession();
    KeptSession(const KeptSession&) = delete;
    KeptSession& operator=(const KeptSession&) = delete;

    // The owner the store keeps this session's lines under.
    QString owner() const { return FOwner; }

    // This computer's ID, made at the first start and kept in the settings; made anew when the settings were copied
    // from another computer (the system's own machine ID differs).
    static QString computerId();

    // Takes the lock of another owner of this computer's lines when its window is gone; holds it until the returned
    // object is destroyed, so that one window only adopts those lines. Nothing while the owner's window lives, or
    // when the owner is not a session of this computer. An owner of earlier versions (the host name alone) is gone
    // with its window and is adopted here when the host name is this computer's.
    static std::shared_ptr<void> claimIfGone(const QString& owner);

    // The token the window's next 完成 is stored under: the same until a save is known to have landed (stored, or
    // waiting in the outbox), so that a 完成 pressed again after its answer was lost is recognised in the ledger.
    QByteArray saveToken() const { return FSaveToken; }
    // The token of the last save that landed, when it forgot exactly ids (the same lines saved again); else nothing.
    QByteArray landedTokenOf(const QList<qint64>& ids) const;
    // A save under the current token landed, forgetting ids: the next one gets a token of its own.
    void saveLanded(const QList<qint64>& ids);

private:
    QString FOwner;
    QByteArray FSaveToken;
    QByteArray FLandedToken;
    QSet<qint64> FLandedIds;
    std::shared_ptr<Platform::FolderLock> FLock;
};
