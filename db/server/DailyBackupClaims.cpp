// Which computer makes the day's automatic backup of a server ledger.

#include "db/server/PgSession.h"

#include "db/server/ServerConnection.h"

using namespace pg;

bool ServerStore::claimDailyBackup(
    const QDate& day, const QString& computer, const QString& label, const QString& folder)
{
    // Nobody is asked for the administrator's password at the start of a day; a computer without it makes none.
    FMayAsk = false;
    const auto askAgain = qScopeGuard([this] { FMayAsk = true; });
    try {
        if (!withSession([](Session& session) { return isAdministrator(session); }))
            return false;
    } catch (const PasswordWanted&) {
        return false;
    }
    return withSession([&](Session& session) {
        if (session.exec("SELECT to_regclass('daily_backups') IS NULL").bytes(0, 0) == "t")
            return false;
        // A claim left unfinished for an hour belonged to a computer that was switched off or failed silently. A
        // role that only reviews makes no backups.
        try {
            return session
                       .exec("INSERT INTO daily_backups (day, computer, label, folder) VALUES ($1, $2, $3, $4) "
                             "ON CONFLICT (day) DO UPDATE SET computer = excluded.computer, label = excluded.label, "
                             "folder = excluded.folder, claimed_at = now() "
                             "WHERE daily_backups.made_at IS NULL AND daily_backups.claimed_at < now() - interval '1 "
                             "hour' "
                             "RETURNING 1",
                           { dayValue(day), textValue(computer), textValue(label), textValue(folder) })
                       .rows()
                == 1;
        } catch (const NotPermitted&) {
            return false;
        }
    });
}

void ServerStore::settleDailyBackup(const QDate& day, const QString& computer, bool made)
{
    withSession([&](Session& session) {
        session.exec(made ? "UPDATE daily_backups SET made_at = now() WHERE day = $1 AND computer = $2"
                          : "DELETE FROM daily_backups WHERE day = $1 AND computer = $2 AND made_at IS NULL",
            { dayValue(day), textValue(computer) });
    });
}

std::optional<DailyBackupRecord> ServerStore::lastDailyBackup()
{
    return withSession([](Session& session) -> std::optional<DailyBackupRecord> {
        if (session.exec("SELECT to_regclass('daily_backups') IS NULL").bytes(0, 0) == "t")
            return std::nullopt;
        // By when it was made, on the server's clock: a computer whose own clock is wrong does not stay the last.
        try {
            const Result rows = session.exec(
                "SELECT day, label, folder FROM daily_backups WHERE made_at IS NOT NULL ORDER BY made_at DESC LIMIT 1");
            if (rows.rows() == 0)
                return std::nullopt;
            return DailyBackupRecord { rows.day(0, 0), rows.text(0, 1), rows.text(0, 2) };
        } catch (const NotPermitted&) {
            return std::nullopt;
        }
    });
}
