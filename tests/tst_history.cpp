// Nothing typed is lost and every change is on record: kept pending lines survive a killed program and leave the
// kept list in the same transaction that stores them; edits, deletes and saves are recorded and the newest edit or
// delete can be undone, unless the line changed since.

#include "base/Error.h"
#include "base/Platform.h"
#include "db/DbClass.h"
#include "db/KeptSession.h"
#include "db/LedgerStore.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <future>

namespace {

const QString kUser = QStringLiteral("张三");
const SalesRange kYear { kUser, QDate(2024, 1, 1), QDate(2024, 12, 31) };

SalesLine line(int i, const QString& memo = QString())
{
    return { 0, QDate(2024, 5, 1 + i % 20), QStringLiteral("毛巾%1").arg(i % 4), 1 + i, 1000 + i, 400, memo };
}

QString views(TDbMan& db)
{
    QStringList detail, daily, products, ranking;
    queryReport(
        db, kUser, QStringLiteral("2024/01/01"), QStringLiteral("2024/12/31"), detail, daily, products, ranking);
    return (detail + daily + products + ranking).join(QLatin1Char('|'));
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDataHome> home;

    // Runs a statement on the ledger behind the program's back, as an older program or a hand would.
    void changeBehindTheProgram(qint64 id)
    {
        if (home->server())
            QVERIFY(home->server()->exec(QStringLiteral("UPDATE records SET quantity = 77 WHERE id = %1").arg(id)));
        else
            QVERIFY(
                RawDb(home->dbPath()).exec(QStringLiteral("UPDATE Records SET RecQuantity = 77 WHERE ID = ?"), { id }));
    }

private Q_SLOTS:
    void init()
    {
        home = std::make_unique<TestDataHome>();
        QVERIFY(QDir().mkpath(home->dataDir()));
    }
    void cleanup() { home.reset(); }

    void keptLinesAreTheWindowsAndLeaveWhenSaved()
    {
        TDbMan db;
        KeptSession window;
        const QList<qint64> ids = db.KeepLines(kUser, window, { line(0), line(1), line(2) });
        QCOMPARE(ids.size(), 3);
        db.KeepLines(QStringLiteral("李四"), window, { line(9) });
        db.store().write(
            [&](LedgerWrite& write) { write.insertKept(kUser, QStringLiteral("另一台电脑/x"), { line(8) }); });
        db.ForgetKeptLine(kUser, window, ids.at(1));
        QList<SalesLine> kept = db.KeptLines(kUser, window);
        QCOMPARE(kept.size(), 2);
        QCOMPARE(kept.at(0).id, ids.at(0));

        // A save that fails keeps every kept line and stores none.
        QList<SalesLine> bad = kept;
        bad.append({ 0, QDate(2024, 5, 1), QStringLiteral("x"), 1, kMaxAmountCents + 1, 0, {} });
        QVERIFY_THROWS_EXCEPTION(KivaroError, db.SaveKeptLines(kUser, window, bad));
        QCOMPARE(db.KeptLines(kUser, window).size(), 2);
        QCOMPARE(storedLineCount(*home), 0);

        db.SaveKeptLines(kUser, window, kept);
        QCOMPARE(db.KeptLines(kUser, window), QList<SalesLine>());
        QCOMPARE(storedLineCount(*home), 2);
        // The same save again (its answer was lost, the user pressed 完成 once more) stores nothing twice.
        QCOMPARE(db.SaveKeptLines(kUser, window, kept), SaveOutcome::AlreadySaved);
        QCOMPARE(storedLineCount(*home), 2);
        QCOMPARE(db.KeptLines(QStringLiteral("李四"), window).size(), 1);
        // Another computer's kept line is never adopted here.
        db.store().write(
            [&](LedgerWrite& write) { QCOMPARE(write.keptLines(kUser, QStringLiteral("另一台电脑/x")).size(), 1); });
        const ChangeEntry save = db.Changes(kUser).first();
        QCOMPARE(save.kind, ChangeEntry::Kind::Save);
        QCOMPARE(save.saved.lines, 2);
        QCOMPARE(save.saved.received, WideCents(1000 + 1002));
        QCOMPARE(save.computer, TDbMan::computerName());
    }

    // Another process restores the ledger while a window keeps lines: before its 完成, and while its 完成 waits for
    // the file. Its lines are stored in the ledger now in place, never called saved already.
    void linesOfALedgerReplacedMeanwhileAreStored()
    {
        if (home->server())
            QSKIP("a file ledger's file replaced");
#ifdef Q_OS_WIN
        QSKIP("Windows does not let a file be replaced while another program has it open");
#endif
        TDbMan db;
        addLines(db, kUser, { line(0) });
        const QString replacement = home->dataDir() + QStringLiteral("/replacement");
        QVERIFY(QFile::copy(home->dbPath(), replacement));
        KeptSession window;
        QList<SalesLine> shown = { line(1), line(2) };
        const QList<qint64> ids = db.KeepLines(kUser, window, shown);
        for (int i = 0; i < shown.size(); ++i)
            shown[i].id = ids.at(i);
        const auto replace = [&] {
            QVERIFY(QFile::copy(replacement, home->dbPath() + QStringLiteral(".new")));
            // As a restore of another process puts it in place.
            const QString why = Platform::replaceFile(home->dbPath() + QStringLiteral(".new"), home->dbPath());
            QVERIFY2(why.isEmpty(), qPrintable(why));
        };
        replace();
        QCOMPARE(db.SaveKeptLines(kUser, window, shown), SaveOutcome::SavedIntoReplacedLedger);
        QCOMPARE(storedLineCount(*home), 3);

        // The save opened the file and waits for its lock when the new one is put in place.
        QVERIFY(QFile::remove(replacement));
        QVERIFY(QFile::copy(home->dbPath(), replacement));
        shown = { line(3) };
        shown[0].id = db.KeepLines(kUser, window, shown).first();
        {
            RawDb holder(home->dbPath());
            QVERIFY(holder.exec(QStringLiteral("BEGIN IMMEDIATE")));
            std::future<SaveOutcome> saved = std::async(std::launch::async, [&] {
                TDbMan other;
                return other.SaveKeptLines(kUser, window, shown);
            });
            QTest::qWait(300);
            replace();
            QVERIFY(holder.exec(QStringLiteral("ROLLBACK")));
            QCOMPARE(saved.get(), SaveOutcome::SavedIntoReplacedLedger);
        }
        QCOMPARE(storedLineCount(*home), 4);
        QCOMPARE(db.KeptLines(kUser, window), QList<SalesLine>());
    }

    // Lines kept by a window that crashed come back to exactly one of two windows that log in at once, as two
    // processes of the same user on this computer; both press 完成 and every line is stored once.
    void keptLinesOfACrashedWindowAreStoredOnce()
    {
        {
            ChildProcess crashed({ QStringLiteral("keep"), kUser, QStringLiteral("1000"), QStringLiteral("c") });
            QVERIFY2(crashed.waitForLine("kept 4"), qPrintable(crashed.errors()));
            crashed.killNow();
        }
        TDbMan db;
        qint64 keptBefore = 0;
        db.store().write([&](LedgerWrite& write) {
            for (const QString& owner : write.keptOwners(kUser))
                keptBefore += write.keptLines(kUser, owner).size();
        });
        QVERIFY(keptBefore > 0);
        const qint64 storedBefore = storedLineCount(*home);

        ChildProcess first({ QStringLiteral("window"), kUser, QStringLiteral("save") });
        ChildProcess second({ QStringLiteral("window"), kUser, QStringLiteral("save") });
        QVERIFY2(first.waitReady(), qPrintable(first.errors()));
        QVERIFY2(second.waitReady(), qPrintable(second.errors()));
        const QString adopted = first.output() + second.output();
        QVERIFY2(adopted.contains(QStringLiteral("adopted %1").arg(keptBefore))
                && adopted.contains(QStringLiteral("adopted 0")),
            qPrintable(adopted));
        first.release();
        second.release();
        QVERIFY(first.finishedCleanly());
        QVERIFY(second.finishedCleanly());
        QCOMPARE(storedLineCount(*home), storedBefore + keptBefore);
        KeptSession next;
        QCOMPARE(db.KeptLines(kUser, next).size(), 0);
    }

    // 完成 in one window stores its own lines only: a line another window of the user keeps stays kept while that
    // window lives, and comes back once it is gone.
    void saveLeavesAnotherWindowsLines()
    {
        ChildProcess other({ QStringLiteral("window"), kUser, QStringLiteral("keep"), QStringLiteral("乙") });
        QVERIFY2(other.waitReady(), qPrintable(other.errors()));
        TDbMan db;
        {
            KeptSession window;
            QCOMPARE(db.KeptLines(kUser, window).size(), 0);
            db.KeepLines(kUser, window, { line(0, QStringLiteral("甲")) });
            db.SaveKeptLines(kUser, window, db.KeptLines(kUser, window));
            QCOMPARE(storedLineCount(*home), 1);
        }
        other.killNow();
        KeptSession next;
        const QList<SalesLine> back = db.KeptLines(kUser, next);
        QCOMPARE(back.size(), 1);
        QCOMPARE(back.at(0).memo, QStringLiteral("乙"));
    }

    // Killed at random moments while lines are kept and saved, 50 times: every line the program had kept is either
    // stored or still kept, and none is both.
    void killedWhileKeepingAndSavingLosesNothing()
    {
        QRandomGenerator random(20261207);
        qint64 toldInAll = 0;
        for (int round = 0; round < 50; ++round) {
            const QString tag = QStringLiteral("r%1").arg(round);
            ChildProcess child({ QStringLiteral("keep"), kUser, QStringLiteral("1000"), tag });
            QVERIFY2(child.waitReady(), qPrintable(child.errors()));
            QTest::qWait(random.bounded(5, 60));
            child.killNow();
            QSet<QString> told;
            for (const QString& printed : child.output().split(QLatin1Char('\n'))) {
                if (printed.startsWith(QStringLiteral("kept ")))
                    told.insert(tag + QLatin1Char('-') + printed.mid(5));
            }
            toldInAll += told.size();
            TDbMan db;
            QHash<QString, int> found;
            KeptSession next;
            const QList<SalesLine> kept = db.KeptLines(kUser, next);
            for (const SalesLine& line : kept)
                ++found[line.memo];
            for (const SalesLine& stored : db.QueryLineWindow(kYear, kYear.first, 0, 1'000'000)) {
                if (stored.memo.startsWith(tag + QLatin1Char('-')))
                    ++found[stored.memo];
            }
            // Every line the program had kept is stored or kept, and no line is both.
            for (const QString& memo : told)
                QVERIFY2(found.value(memo) == 1,
                    qPrintable(memo + QStringLiteral(" found %1 times").arg(found.value(memo))));
            for (auto it = found.cbegin(); it != found.cend(); ++it)
                QVERIFY2(it.value() == 1, qPrintable(it.key()));
            QVERIFY2(
                kept.size() <= 7, qPrintable(QStringLiteral("%1 kept after round %2").arg(kept.size()).arg(round)));
            // What is kept is saved before the next round, as the next login would.
            db.SaveKeptLines(kUser, next, kept);
            QCOMPARE(db.KeptLines(kUser, next).size(), 0);
        }
        qInfo("50 kills while keeping and saving: %lld lines the program had kept, none lost", toldInAll);
    }

    void editsAndDeletesAreRecordedAndUndone()
    {
        TDbMan db;
        addLines(db, kUser, { line(0), line(1), line(2) });
        const QString original = views(db);
        const QList<SalesLine> stored = db.QueryLineWindow(kYear, kYear.first, 0, 10);
        SalesLine edited = stored.at(1);
        edited.quantity = 99;
        edited.memo = QStringLiteral("改过");
        db.UpdateLine(kUser, stored.at(1), edited);
        db.DeleteLine(kUser, stored.at(0));
        const QString changed = views(db);

        QList<ChangeEntry> changes = db.Changes(kUser);
        QCOMPARE(changes.size(), 3);
        QCOMPARE(changes.at(0).kind, ChangeEntry::Kind::Delete);
        QCOMPARE(changes.at(0).before, std::optional(stored.at(0)));
        QCOMPARE(changes.at(0).after, std::nullopt);
        QCOMPARE(changes.at(1).kind, ChangeEntry::Kind::Edit);
        QCOMPARE(changes.at(1).before, std::optional(stored.at(1)));
        QCOMPARE(changes.at(1).after, std::optional(edited));

        // The edit the window showed is undone, not the newer delete; then the delete, whose line comes back with
        // its id, so in its place in every view.
        const ChangeEntry first = db.UndoChange(kUser, changes.at(1).id);
        QCOMPARE(first.kind, ChangeEntry::Kind::Undo);
        QCOMPARE(first.undoes, changes.at(1).id);
        QCOMPARE(db.QueryLineWindow(kYear, kYear.first, 0, 10).at(0), stored.at(1));
        QCOMPARE(db.QueryLineWindow(kYear, kYear.first, 0, 10).size(), 2);
        QVERIFY_THROWS_EXCEPTION(KivaroError, db.UndoChange(kUser, changes.at(1).id));
        // Another user cannot undo this user's change, nor can a save be undone.
        QVERIFY_THROWS_EXCEPTION(KivaroError, db.UndoChange(QStringLiteral("李四"), changes.at(0).id));
        QVERIFY_THROWS_EXCEPTION(KivaroError, db.UndoChange(kUser, changes.at(2).id));
        db.UndoChange(kUser, changes.at(0).id);
        QCOMPARE(views(db), original);
        changes = db.Changes(kUser);
        QCOMPARE(changes.size(), 5);
        QCOMPARE(changes.at(3).undoneBy, first.id);
        QVERIFY(changed != original);
    }

    // A line changed since the change to undo, here behind the program's back, is left as it is.
    void undoAfterAnotherChangeIsRefused()
    {
        TDbMan db;
        addLines(db, kUser, { line(0) });
        SalesLine edited = db.QueryLineWindow(kYear, kYear.first, 0, 1).first();
        edited.received = 5;
        db.UpdateLine(kUser, db.QueryLineWindow(kYear, kYear.first, 0, 1).first(), edited);
        const qint64 edit = db.Changes(kUser).first().id;
        changeBehindTheProgram(edited.id);
        const QString before = views(db);
        QVERIFY_THROWS_EXCEPTION(TChangeConflict, db.UndoChange(kUser, edit));
        QCOMPARE(views(db), before);
        for (const ChangeEntry& change : db.Changes(kUser))
            QCOMPARE(change.undoneBy, 0);
    }
};

KIVARO_TEST_MAIN(TestHistory)
#include "tst_history.moc"
