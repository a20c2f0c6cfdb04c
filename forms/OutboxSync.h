#pragma once

#include "db/LedgerLocation.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

// The main window's side of a server ledger worked offline: every few seconds, on a worker, it sends the user's
// outbox (TDbMan::SendOutbox keeps the rules), and it tells what the header shows. The window only shows the state
// and switches its pages when the server is back.
class TOutboxSync : public QObject
{
    Q_OBJECT

public:
    explicit TOutboxSync(QObject* parent = nullptr);
    ~TOutboxSync() override;
    TOutboxSync(const TOutboxSync&) = delete;
    TOutboxSync& operator=(const TOutboxSync&) = delete;

    // The window's user and ledger after a login: a server ledger starts the rounds, the first at once (saves left by
    // an earlier offline run go out now).
    void start(const LedgerLocation& location, const QString& userName);
    // The window's pages now work on location (offline, or online again); reason is why a switch failed or why the
    // window went offline, empty when it went well.
    void setLedger(const LedgerLocation& location, const QString& reason = QString());
    // Tells the state again, after something changed what waits (a save).
    void refresh();
    // No more rounds; waits for the one under way.
    void stop();

Q_SIGNALS:
    // The header's words ("离线：…待上传", "正在上传…", or nothing) and the reason, for its tooltip.
    void stateChanged(const QString& text, const QString& why);
    // Offline, the server answered and nothing waits: the window may go online again.
    void serverBack();

private:
    // One round of sending the outbox: what it did, or the server's absence (a failure text).
    struct Round
    {
        int saves = 0;
        bool intoNewLedger = false;
        bool away = false;
        bool reached = false;
        QString problem;
    };
    void send();
    void sent();

    LedgerLocation FLocation;
    QString FUserName;
    bool FRoundAtLogin = true;
    // Why the window is offline, or why it could not go online.
    QString FReason;
    // What the header says once the outbox was sent into a ledger restored meanwhile.
    QString FNote;
    QFutureWatcher<Round> FRound;
    QTimer FTimer;
};
