// TDbMan's rules between a server ledger and this computer's outbox: kept lines typed offline adopted by the server
// session, lines carried over when the window switches, and the outbox sent, each save once.

#include "db/DbClass.h"

#include "base/Error.h"
#include "db/KeptSession.h"
#include "db/LedgerStore.h"
#include "db/Outbox.h"
#include "db/server/ServerConnection.h"
#include "db/server/ServerStore.h"

#include <QFile>
#include <QHash>
#include <QUuid>

QHash<qint64, qint64> TDbMan::adoptOfflineKeptLines(const QString& userName, const KeptSession& session)
{
    QHash<qint64, qint64> moved;
    if (!QFile::exists(outboxPath(FLocation)))
        return moved;
    OutboxStore outbox(FLocation.asOffline());
    for (const QString& owner : outbox.keptOwners(userName)) {
        const std::shared_ptr<void> claim = owner == session.owner() ? nullptr : KeptSession::claimIfGone(owner);
        if (owner != session.owner() && !claim)
            continue;
        const QList<SalesLine> lines = outbox.keptLines(userName, owner);
        // Lines carried over from the server when the window went offline replace the server's copies, and those
        // deleted offline are forgotten there too.
        const QList<qint64> replaced = outbox.serverKeptToForget(userName, owner);
        // The move is recorded on the server under a token made from the lines' place in the outbox, so that a move
        // whose removal from the outbox was lost is not made twice.
        QByteArray key = outboxPath(FLocation).toUtf8() + '\n' + owner.toUtf8();
        for (const SalesLine& line : lines)
            key += '\n' + QByteArray::number(line.id);
        for (const qint64 id : replaced)
            key += "\n-" + QByteArray::number(id);
        const QByteArray token = QUuid::createUuidV5(QUuid(), key).toByteArray(QUuid::WithoutBraces);
        QList<qint64> ids;
        FStore->write(
            [&](LedgerWrite& write) {
                write.lockUser(userName);
                if (write.hasSave(token))
                    return;
                write.removeKept(userName, owner, replaced);
                ids = write.insertKept(userName, session.owner(), lines);
                write.recordSave(token, userName, 0);
            },
            [&](LedgerWrite& write) { return write.hasSave(token); });
        for (int i = 0; i < ids.size() && i < lines.size(); ++i)
            moved.insert(lines.at(i).id, ids.at(i));
        outbox.removeKeptOwner(userName, owner);
    }
    return moved;
}

QHash<qint64, qint64> TDbMan::CarryKeptLines(
    const QString& userName, const KeptSession& session, const QList<SalesLine>& lines)
{
    QHash<qint64, qint64> carried;
    if (FLocation.offline) {
        const QList<qint64> ids = OutboxStore(FLocation).carryKept(userName, session.owner(), checkedLines(lines));
        for (int i = 0; i < ids.size(); ++i)
            carried.insert(lines.at(i).id, ids.at(i));
    } else if (FServer) {
        carried = adoptOfflineKeptLines(userName, session);
    }
    return carried;
}

TDbMan::OutboxSent TDbMan::SendOutbox(const QString& userName)
{
    OutboxSent sent;
    ServerStore* server = FServer;
    if (!server)
        return sent;
    // The server is asked first, whatever waits: a round that did not reach it must never pass for one that did.
    qint64 generation = 0;
    QString refused;
    QString identity;
    try {
        generation = server->ledgerGeneration();
        identity = server->ledgerIdentity();
    } catch (const TServerUnreachable&) {
        throw;
    } catch (const KivaroError& error) {
        refused = error.text();
    }
    sent.reached = true;
    // This address's outbox, then those made for other addresses or spellings of the same ledger.
    QStringList paths;
    if (QFile::exists(outboxPath(FLocation)))
        paths.append(outboxPath(FLocation));
    for (const QString& path : outboxesOfLedger(identity)) {
        if (!paths.contains(path))
            paths.append(path);
    }
    if (paths.isEmpty())
        sent.problem = refused;
    for (const QString& path : std::as_const(paths)) {
        OutboxStore outbox(FLocation.asOffline(), path);
        sendOutbox(outbox, userName, refused, sent);
        if (!sent.problem.isEmpty() && sent.saves == 0 && !refused.isEmpty())
            return sent;
        const qint64 seen = outbox.generation(userName);
        sent.intoNewLedger = sent.intoNewLedger || (sent.saves > 0 && seen != 0 && seen != generation);
        outbox.setGeneration(userName, generation);
    }
    return sent;
}

void TDbMan::sendOutbox(OutboxStore& outbox, const QString& userName, const QString& refused, OutboxSent& sent)
{
    const QList<OutboxSave> waiting = outbox.saves(userName);
    if (!refused.isEmpty()) {
        // The account cannot connect at all (deleted, or its password changed): the oldest save says why.
        if (!waiting.isEmpty())
            outbox.setProblem(waiting.first().seq, refused);
        sent.problem = refused;
        return;
    }
    for (const OutboxSave& save : waiting) {
        if (save.setAside)
            continue;
        // A save that cannot be read as it was made, or holds what no 完成 accepts, is set aside with its reason
        // (never dropped), and the others go on.
        QString damage = save.damage;
        if (damage.isEmpty()) {
            try {
                checkedLines(save.lines);
            } catch (const KivaroError& error) {
                damage = error.text();
            }
        }
        if (!damage.isEmpty()) {
            const QString why
                = QStringLiteral("%1 的一次保存已搁置：%2")
                      .arg(save.madeAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), damage);
            outbox.setAside(save.seq, why);
            sent.problem = why;
            continue;
        }
        try {
            saveLines(userName, save.lines, { save.keptOwner, save.keptIds, false, {} }, save.token);
        } catch (const TServerUnreachable&) {
            throw;
        } catch (const KivaroError& error) {
            // An account deleted, a password changed: the save stays, and says why.
            outbox.setProblem(save.seq, error.text());
            sent.problem = error.text();
            break;
        }
        outbox.removeSave(save.seq);
        ++sent.saves;
        sent.lines += save.lines.size();
    }
}
