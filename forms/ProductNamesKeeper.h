#pragma once

#include "db/LedgerLocation.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <optional>

// Remembers the product names that 添加 used without making the sale wait for them: the names queue up in the order
// they were used and, a quarter of a second after the first of them, a worker with its own connection to the ledger
// moves them to the top of the user's list in one write, however many clicks came meanwhile. A crash loses at most the
// order of the names still queued, never the list (each write replaces it whole). What was written, or why it could not
// be, comes back on the window's thread.
class ProductNamesKeeper : public QObject
{
    Q_OBJECT

public:
    explicit ProductNamesKeeper(QObject* parent = nullptr);
    // Writes what is queued first, telling nobody.
    ~ProductNamesKeeper() override;

    // The ledger and user the names are kept for; what was queued for the one before is written first.
    void setLedger(const LedgerLocation& location, const QString& userName);
    void remember(const QString& name);
    // Writes what is queued and waits for it: before the list is read or replaced another way, and before the window
    // goes. The first failure on the way and the list the last write left are told through failed() and written()
    // before it returns.
    void flush();

Q_SIGNALS:
    // The user's list as the last write left it, once nothing is queued any more.
    void written(const QStringList& names);
    void failed(const QString& text);

private:
    struct Outcome
    {
        std::optional<QStringList> written;
        QString failure;
    };
    void startWrite();
    void writeDone();
    // Waits for the write under way and every queued one; the first failure and the last list, if any write ran.
    std::optional<Outcome> finishWrites();
    void tell(const Outcome& outcome);

    LedgerLocation m_location;
    QString m_userName;
    QStringList m_queued;
    bool m_writing = false;
    QFutureWatcher<Outcome> m_watcher;
    // One write at a time, each on a thread started for it: a thread runs with the rights of the one that started it
    // (a test lowers its own), not with those of an earlier one kept idle.
    QThreadPool m_pool;
    QTimer m_pause;
};
