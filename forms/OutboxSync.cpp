#include "forms/OutboxSync.h"

#include "base/Error.h"
#include "db/DbClass.h"
#include "db/Outbox.h"

#include <QtConcurrent/QtConcurrentRun>

namespace {

// While offline, how often the window tries to send the outbox.
constexpr int kRetryMs = 5'000;

} // namespace

TOutboxSync::TOutboxSync(QObject* parent)
    : QObject(parent)
{
    FTimer.setInterval(kRetryMs);
    connect(&FTimer, &QTimer::timeout, this, &TOutboxSync::send);
    connect(&FRound, &QFutureWatcher<Round>::finished, this, &TOutboxSync::sent);
}

TOutboxSync::~TOutboxSync()
{
    stop();
}

void TOutboxSync::start(const LedgerLocation& location, const QString& userName)
{
    FLocation = location;
    FUserName = userName;
    if (!location.isServer())
        return;
    refresh();
    FTimer.start();
    send();
}

void TOutboxSync::setLedger(const LedgerLocation& location, const QString& reason)
{
    FLocation = location;
    FReason = reason;
    refresh();
}

void TOutboxSync::stop()
{
    FTimer.stop();
    FRound.waitForFinished();
}

void TOutboxSync::send()
{
    if (!FLocation.isServer() || FRound.isRunning())
        return;
    const LedgerLocation online = FLocation.online();
    qint64 waiting = 0;
    try {
        waiting = OutboxStore(online.asOffline()).count(FUserName).saves;
    } catch (const KivaroError&) {
        // The outbox cannot be read now; the header says so at the next round.
        return;
    }
    // The first round after the login always asks: saves may wait in an outbox made for another address or spelling
    // of the same ledger.
    if (!FLocation.offline && waiting == 0 && !FRoundAtLogin)
        return;
    FRoundAtLogin = false;
    // Offline with nothing waiting, the round only asks whether the server is back.
    if (waiting > 0)
        Q_EMIT stateChanged(QStringLiteral("正在上传…"), QString());
    FRound.setFuture(QtConcurrent::run([online, user = FUserName] {
        Round round;
        try {
            const TDbMan::OutboxSent sent = TDbMan(online).SendOutbox(user);
            round = { sent.saves, sent.intoNewLedger, false, sent.reached, sent.problem };
        } catch (const TServerUnreachable& away) {
            round.away = true;
            round.problem = away.text();
        } catch (const KivaroError& error) {
            round.problem = error.text();
        }
        return round;
    }));
}

void TOutboxSync::sent()
{
    const Round round = FRound.result();
    if (round.intoNewLedger)
        FNote = QStringLiteral("账本在离线期间由备份恢复过；离线保存的 %1 次记录已经上传到恢复后的账本中。")
                    .arg(round.saves);
    if (round.away)
        FReason = round.problem.isEmpty() ? QStringLiteral("服务器连不上") : round.problem;
    // Online again only once the server answered and nothing waits. A save set aside (damaged) stays in the outbox,
    // shown in the header, and does not keep the window offline.
    if (round.reached && FLocation.offline) {
        bool nothingLeft = false;
        try {
            nothingLeft = OutboxStore(FLocation).count(FUserName).saves == 0;
        } catch (const KivaroError& error) {
            FReason = error.text();
        }
        if (nothingLeft)
            Q_EMIT serverBack();
    }
    refresh();
}

void TOutboxSync::refresh()
{
    QString text;
    QString why;
    if (FLocation.isServer()) {
        const bool away = FLocation.offline;
        try {
            const OutboxCount waiting = OutboxStore(FLocation.asOffline()).count(FUserName);
            if (away || waiting.saves > 0)
                text = (away ? QStringLiteral("离线：") : QString())
                    + QStringLiteral("%1 次保存、%2 条记录待上传").arg(waiting.saves).arg(waiting.lines);
            why = waiting.problem;
        } catch (const KivaroError& error) {
            why = error.text();
        }
        // While offline the header gives the last reason in words; nothing opens a box by itself.
        if (away && why.isEmpty())
            why = FReason;
    }
    if (!why.isEmpty())
        text += QStringLiteral("（未能上传：%1）").arg(why);
    else if (!FNote.isEmpty() && text.isEmpty())
        text = FNote;
    Q_EMIT stateChanged(text, why);
}
