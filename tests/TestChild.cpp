// A separate process for the tests that need one: a save that can be killed half-way, two instances writing the
// same file, and a start from a folder without the database template.
//
//   kivaro-testchild save <user> <count> <tag> [wait]   stores <count> lines through a save (keep, then 完成)
//   kivaro-testchild adduser <name> <password> [wait]  creates an account through TDbMan::AddUser
//   kivaro-testchild keep <user> <count> <tag>         keeps lines one at a time, saving every seventh time
//   kivaro-testchild backup <file>                      writes a backup of the ledger through backupLedger
//   kivaro-testchild start                             runs the main window's start sequence
//   kivaro-testchild till <user> <password> <tag>      sells on a server ledger, offline while the server is away
//
// Each mode prints "ready" once it is about to write; with "wait" it then waits for a line on stdin, so that a
// test can release several children at the same moment. It prints "saved", "added", "taken" or the messages the
// start showed, and exits with 0; a failure prints its text on stderr and exits with 2.

#include "base/Error.h"
#include "base/Platform.h"
#include "db/Backup.h"
#include "db/DbClass.h"
#include "db/KeptSession.h"
#include "db/Outbox.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QApplication>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

void announceReady(bool wait)
{
    std::cout << "ready" << std::endl;
    if (wait) {
        std::string line;
        std::getline(std::cin, line);
    }
}

// Line i of a child's save: its memo "<tag>-<i>" tells the lines apart, the other values vary with i.
TextLine lineFor(const QString& tag, int i)
{
    return {
        QStringLiteral("2024/%1/%2").arg(i % 12 + 1, 2, 10, QLatin1Char('0')).arg(i % 28 + 1, 2, 10, QLatin1Char('0')),
        QStringLiteral("商品%1").arg(i % 50), QString::number(i % 7 + 1),
        QStringLiteral("%1.%2").arg(i % 1000).arg(i % 100, 2, 10, QLatin1Char('0')),
        QStringLiteral("%1.25").arg(i % 500), QStringLiteral("%1-%2").arg(tag).arg(i)
    };
}

int save(const QStringList& args)
{
    const QString user = args.value(0);
    const int count = args.value(1).toInt();
    const QString tag = args.value(2);
    QList<TextLine> lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i)
        lines.append(lineFor(tag, i));
    TDbMan db;
    announceReady(args.value(3) == QLatin1String("wait"));
    addRecords(db, user, lines);
    std::cout << "saved" << std::endl;
    return 0;
}

int addUser(const QStringList& args)
{
    TDbMan db;
    announceReady(args.value(2) == QLatin1String("wait"));
    const bool added = db.AddUser(args.value(0), args.value(1));
    std::cout << (added ? "added" : "taken") << std::endl;
    return 0;
}

// Types lines as a cashier would: each kept before it is told, and every seventh time the kept list saved. The
// memo of line i is "<tag>-<i>".
int keep(const QStringList& args)
{
    const QString user = args.value(0);
    const int count = args.value(1).toInt();
    const QString tag = args.value(2);
    TDbMan db;
    KeptSession session;
    announceReady(false);
    for (int i = 0; i < count; ++i) {
        db.KeepLines(user, session,
            { { 0, QDate(2024, 6, 1 + i % 28), QStringLiteral("商品%1").arg(i % 9), 1 + i % 3, 100 + i, 50,
                QStringLiteral("%1-%2").arg(tag).arg(i) } });
        std::cout << "kept " << i << std::endl;
        if (i % 7 == 6) {
            db.SaveKeptLines(user, session, db.KeptLines(user, session));
            std::cout << "saved " << i << std::endl;
        }
    }
    return 0;
}

// A till of a server ledger: logs in (offline when the server is away), then sells without end, three lines a save
// with the memos "<tag>-<i>-<j>", and prints "saved <i>" once save i is reported done online, "saved <i> offline"
// once it waits in the outbox.
// While offline it tries every few saves to send the outbox, and goes online again once it is empty.
int till(const QStringList& args)
{
    const QString user = args.value(0);
    const QString password = args.value(1);
    const QString tag = args.value(2);
    const LedgerLocation server = currentLedger().online();
    std::unique_ptr<TDbMan> db;
    for (;;) {
        try {
            db = std::make_unique<TDbMan>(server);
            if (!db->CheckUser(user, password))
                return 3;
            break;
        } catch (const TServerUnreachable&) {
            db = std::make_unique<TDbMan>(server.asOffline());
            if (!db->CheckUser(user, password))
                return 3;
            break;
        } catch (const KivaroError&) {
            // The server is starting or stopping.
            QThread::msleep(50);
        }
    }
    KeptSession session;
    announceReady(false);
    for (int i = 0;; ++i) {
        QList<SalesLine> lines;
        for (int j = 0; j < 3; ++j)
            lines.append({ 0, QDate(2024, 6, 1 + i % 28), QStringLiteral("商品%1").arg(j), 1 + j, 100 + i, 50,
                QStringLiteral("%1-%2-%3").arg(tag).arg(i).arg(j) });
        for (bool kept = false; !kept;) {
            try {
                const QList<qint64> ids = db->KeepLines(user, session, lines);
                for (int j = 0; j < 3; ++j)
                    lines[j].id = ids.at(j);
                kept = true;
            } catch (const TServerUnreachable&) {
                db = std::make_unique<TDbMan>(server.asOffline());
            } catch (const KivaroError&) {
                QThread::msleep(20);
            }
        }
        bool offline = db->location().offline;
        for (bool saved = false; !saved;) {
            try {
                // An earlier try may have landed although its answer was lost: saved all the same.
                const SaveOutcome outcome = db->SaveKeptLines(user, session, lines);
                saved = true;
                if (outcome == SaveOutcome::SavedOffline) {
                    offline = true;
                    db = std::make_unique<TDbMan>(server.asOffline());
                }
            } catch (const TServerUnreachable&) {
                // The kept lines are on the server, which is away: this save waits until it answers.
                QThread::msleep(50);
            } catch (const KivaroError&) {
                QThread::msleep(20);
            }
        }
        std::cout << "saved " << i << (offline ? " offline" : "") << std::endl;
        if (db->location().offline && i % 5 == 4) {
            try {
                TDbMan online(server);
                online.SendOutbox(user);
                if (OutboxStore(server.asOffline()).count(user).saves == 0)
                    db = std::make_unique<TDbMan>(server);
            } catch (const KivaroError&) {
            }
        }
    }
}

// One window of a user: logs in (adopting the kept lines of windows that are gone), then either keeps a line with
// the memo given and stays open until released, or, once released, saves every line it shows.
int window(const QStringList& args)
{
    const QString user = args.value(0);
    TDbMan db;
    KeptSession session;
    QList<SalesLine> shown = db.KeptLines(user, session);
    std::cout << "adopted " << shown.size() << std::endl;
    if (args.value(1) == QLatin1String("keep")) {
        const SalesLine line { 0, QDate(2024, 6, 1), QStringLiteral("商品"), 1, 100, 50, args.value(2) };
        db.KeepLines(user, session, { line });
        std::cout << "kept" << std::endl;
        announceReady(true);
        return 0;
    }
    announceReady(true);
    const bool landedBefore = db.SaveKeptLines(user, session, shown) == SaveOutcome::AlreadySaved;
    std::cout << "saved " << (landedBefore ? 0 : shown.size()) << std::endl;
    return 0;
}

int backup(const QStringList& args)
{
    announceReady(false);
    backupLedger(currentLedger(), args.value(0));
    std::cout << "written" << std::endl;
    return 0;
}

// The start sequence as the program runs it; a login dialog, should one appear, is cancelled.
int start()
{
    prepareTestApplication();
    QTimer loginWatch;
    loginWatch.setInterval(10);
    QObject::connect(&loginWatch, &QTimer::timeout, [&loginWatch] {
        QWidget* login = QApplication::activeModalWidget();
        if (login && login->objectName() == QLatin1String("frmLogin") && login->isVisible()) {
            loginWatch.stop();
            child<QPushButton>(login, "Button2")->click();
        }
    });
    loginWatch.start();
    TfrmMain form;
    const TfrmMain::CreateResult result = form.FormCreate();
    for (const QString& text : MessageBox::takeShownTexts())
        std::cout << "message: " << text.toStdString() << std::endl;
    switch (result) {
    case TfrmMain::CreateResult::Ready:
        std::cout << "ready-window" << std::endl;
        break;
    case TfrmMain::CreateResult::LoginCancelled:
        std::cout << "login-cancelled" << std::endl;
        break;
    case TfrmMain::CreateResult::Failed:
        std::cout << "failed" << std::endl;
        break;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QStringList words = Platform::commandLineArguments(argc, argv);
    const QString mode = words.value(0);
    const QStringList args = words.mid(1);
    try {
        if (mode == QLatin1String("start")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QApplication app(argc, argv);
            return start();
        }
        QCoreApplication app(argc, argv);
        if (mode == QLatin1String("save"))
            return save(args);
        if (mode == QLatin1String("adduser"))
            return addUser(args);
        if (mode == QLatin1String("keep"))
            return keep(args);
        if (mode == QLatin1String("window"))
            return window(args);
        if (mode == QLatin1String("backup"))
            return backup(args);
        if (mode == QLatin1String("till"))
            return till(args);
        if (mode == QLatin1String("lockfolder")) {
            // Holds the folder's lock until it is killed.
            Platform::FolderLock lock(args.value(0));
            QString why;
            if (lock.tryLock(&why) != Platform::FolderLock::State::Locked)
                return 1;
            announceReady(true);
            for (;;)
                QThread::sleep(60);
        }
        std::cerr << "unknown mode" << std::endl;
    } catch (const KivaroError& error) {
        std::cerr << error.text().toStdString() << std::endl;
    }
    return 2;
}
