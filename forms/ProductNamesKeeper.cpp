#include "forms/ProductNamesKeeper.h"

#include "base/Error.h"
#include "db/DbClass.h"

#include <QtConcurrent/QtConcurrentRun>

ProductNamesKeeper::ProductNamesKeeper(QObject* parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(0);
    // A run of quick sales shares the disk with the sales' own writes as little as it can: the names wait a moment.
    m_pause.setSingleShot(true);
    m_pause.setInterval(250);
    connect(&m_pause, &QTimer::timeout, this, [this] {
        if (!m_writing && !m_queued.isEmpty())
            startWrite();
    });
    connect(&m_watcher, &QFutureWatcher<Outcome>::finished, this, &ProductNamesKeeper::writeDone);
}

ProductNamesKeeper::~ProductNamesKeeper()
{
    finishWrites();
}

void ProductNamesKeeper::setLedger(const LedgerLocation& location, const QString& userName)
{
    // The list written for the one before is not the one the window is about to show.
    finishWrites();
    m_location = location;
    m_userName = userName;
}

void ProductNamesKeeper::remember(const QString& name)
{
    m_queued.append(name);
    if (!m_writing && !m_pause.isActive())
        m_pause.start();
}

void ProductNamesKeeper::startWrite()
{
    m_writing = true;
    m_watcher.setFuture(QtConcurrent::run(
        &m_pool, [location = m_location, user = m_userName, names = std::exchange(m_queued, {})]() -> Outcome {
            try {
                TDbMan store(location);
                return { store.RememberProductNames(user, names), QString() };
            } catch (const KivaroError& error) {
                return { std::nullopt, error.text() };
            } catch (const std::exception& error) {
                return { std::nullopt, QString::fromLocal8Bit(error.what()) };
            }
        }));
}

void ProductNamesKeeper::writeDone()
{
    // flush() may have taken this write's outcome already.
    if (!m_writing)
        return;
    m_writing = false;
    const Outcome outcome = m_watcher.result();
    if (m_queued.isEmpty()) {
        tell(outcome);
        return;
    }
    // A failure is told now; the list the write left is not worth showing, the next write replaces it.
    m_pause.start();
    tell({ std::nullopt, outcome.failure });
}

void ProductNamesKeeper::flush()
{
    if (const std::optional<Outcome> outcome = finishWrites())
        tell(*outcome);
}

std::optional<ProductNamesKeeper::Outcome> ProductNamesKeeper::finishWrites()
{
    m_pause.stop();
    std::optional<Outcome> seen;
    while (m_writing || !m_queued.isEmpty()) {
        if (!m_writing)
            startWrite();
        m_watcher.waitForFinished();
        m_writing = false;
        const Outcome outcome = m_watcher.result();
        const QString failure = seen && !seen->failure.isNull() ? seen->failure : outcome.failure;
        seen = Outcome { outcome.written, failure };
    }
    return seen;
}

void ProductNamesKeeper::tell(const Outcome& outcome)
{
    if (!outcome.failure.isNull())
        Q_EMIT failed(outcome.failure);
    if (outcome.written)
        Q_EMIT written(*outcome.written);
}
