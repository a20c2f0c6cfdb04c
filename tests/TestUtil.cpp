#include "tests/TestUtil.h"

#include "db/DbClass.h"
#include "db/LedgerStore.h"

#include "app/Startup.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"

#include <QDialog>
#include <QLabel>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

void whenDialogShows(const char* objectName, std::function<void(QWidget*)> action)
{
    const QString name = QString::fromLatin1(objectName);
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, name, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != name || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
        // A failed check inside the action must not leave the test waiting on an open dialog.
        if (QTest::currentTestFailed() && modal->isVisible())
            static_cast<QDialog*>(modal)->reject();
    });
    timer->start();
}

std::unique_ptr<TfrmMain> openReviewWindow(const QString& user)
{
    auto form = std::make_unique<TfrmMain>();
    form->PrepareForUser(user);
    form->show();
    QTest::mouseClick(child<QLabel>(form.get(), "Label2"), Qt::LeftButton);
    return form;
}

void prepareTestApplication()
{
    MessageBox::setTestMode(true);
    installFontSubstitutes();
}

SalesLine storedLine(TDbMan& db, const QString& user, qint64 id)
{
    SalesLine found;
    db.store().readLines(user, [&](const QList<SalesLine>& lines) {
        for (const SalesLine& line : lines) {
            if (line.id == id)
                found = line;
        }
    });
    return found;
}

void updateStored(TDbMan& db, const QString& user, const SalesLine& edited)
{
    SalesLine seen = storedLine(db, user, edited.id);
    seen.id = edited.id;
    db.UpdateLine(user, seen, edited);
}

void deleteStored(TDbMan& db, const QString& user, qint64 id)
{
    SalesLine seen = storedLine(db, user, id);
    seen.id = id;
    db.DeleteLine(user, seen);
}

QList<SalesLine> allKeptLines(TDbMan& db, const QString& user)
{
    QList<SalesLine> lines;
    db.store().write([&](LedgerWrite& write) {
        for (const QString& owner : write.keptOwners(user))
            lines += write.keptLines(user, owner);
    });
    std::sort(lines.begin(), lines.end(), [](const SalesLine& a, const SalesLine& b) { return a.id < b.id; });
    return lines;
}

qint64 storedLineCount(const TestDataHome& home)
{
    if (home.server()) {
        // Before the first operation the program has not made its tables yet.
        if (home.server()->value(QStringLiteral("SELECT to_regclass('records') IS NULL")) == QLatin1String("t"))
            return 0;
        bool ok = false;
        const qint64 count = home.server()->value(QStringLiteral("SELECT count(*) FROM records")).toLongLong(&ok);
        return ok ? count : -1;
    }
    const QVariant count = RawDb(home.dbPath()).value(QStringLiteral("SELECT COUNT(*) FROM Records"));
    return count.isValid() ? count.toLongLong() : -1;
}

quint32 testSeed()
{
    bool given = false;
    quint32 seed = qEnvironmentVariable("KIVARO_TEST_SEED").toUInt(&given);
    if (!given)
        seed = QRandomGenerator::system()->generate();
    qInfo("seed %u (KIVARO_TEST_SEED=%u replays it)", seed, seed);
    return seed;
}
