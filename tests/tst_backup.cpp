// Backups that restore: taken while another instance saves, checked, kept in rotation, and put back in place of the
// ledger; every kind of bad file is refused with nothing replaced.

#include "base/Error.h"
#include "base/HiClass.h"
#include "db/Backup.h"
#include "db/BackupSeal.h"
#include "db/DbClass.h"
#include "db/LedgerStore.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"
#include "tests/support/RawDb.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString kUser = QStringLiteral("张三");

struct Views
{
    QStringList detail, daily, products, ranking;
    friend bool operator==(const Views&, const Views&) = default;
};

Views views(const QString& user)
{
    Views v;
    queryReport(TDbMan(), user, QStringLiteral("2024/01/01"), QStringLiteral("2024/12/31"), v.detail, v.daily,
        v.products, v.ranking);
    return v;
}

QList<SalesLine> sampleLines(int count, const QString& memo)
{
    QList<SalesLine> lines;
    for (int i = 0; i < count; ++i)
        lines.append({ 0, QDate(2024, 1 + i % 12, 1 + i % 28),
            i % 3 ? QStringLiteral("毛巾") : QStringLiteral("O'Brien \"皂\" %1").arg(i % 7), i % 5 - 1,
            qint64(i) * 137 - 5000, qint64(i) * 71, memo });
    return lines;
}

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDataHome> home;

    QString backupPath(const QString& name) const { return home->base() + QLatin1Char('/') + name; }

    void fill()
    {
        TDbMan db;
        QVERIFY(db.AddUser(kUser, QStringLiteral("pw")));
        QVERIFY(db.AddUser(QStringLiteral("李四"), QStringLiteral("pw2")));
        addLines(db, kUser, sampleLines(600, QStringLiteral("原来的")));
        addLines(db, QStringLiteral("李四"), sampleLines(40, QString()));
    }

    // What a ledger shows to compare before and after: the accounts and both users' views.
    QString state()
    {
        QStringList names;
        TDbMan().GetUserNames(&names);
        const Views a = views(kUser);
        const Views b = views(QStringLiteral("李四"));
        return (names + a.detail + a.daily + a.products + a.ranking + b.detail + b.ranking).join(QLatin1Char('|'));
    }

private Q_SLOTS:
    void init()
    {
        home = std::make_unique<TestDataHome>();
        QVERIFY(QDir().mkpath(home->dataDir()));
    }
    void cleanup() { home.reset(); }

    void restoreBringsBackEveryLineAndKeepsThePresentAside()
    {
        fill();
        const QString before = state();
        const LedgerFileInfo written = backupLedger(currentLedger(), backupPath(QStringLiteral("b.sjk")));
        QCOMPARE(written.accounts, 2);
        QCOMPARE(written.lines, 640);
        QCOMPARE(written.firstDay, QDate(2024, 1, 1));
        QCOMPARE(written.lastDay, QDate(2024, 12, 28));
        // The file is a ledger the program opens as it is.
        QCOMPARE(TDbMan(LedgerLocation::fileAt(backupPath(QStringLiteral("b.sjk"))))
                     .QueryDays({ kUser, QDate(2024, 1, 1), QDate(2024, 12, 31) })
                     .size(),
            84);

        TDbMan db;
        deleteStored(db, kUser, views(kUser).detail.at(0).toLongLong());
        addLines(db, kUser, sampleLines(5, QStringLiteral("后来的")));
        QVERIFY(db.DeleteUser(QStringLiteral("李四"), QStringLiteral("pw2")));
        const QString after = state();
        QVERIFY(after != before);

        const QString safety
            = restoreLedger(currentLedger(), backupPath(QStringLiteral("b.sjk")), backupsFolder(home->dataDir()));
        QCOMPARE(state(), before);
        QVERIFY(TDbMan().CheckUser(QStringLiteral("李四"), QStringLiteral("pw2")));
        useLedgerAsAdministrator();
        // What was replaced is kept, and restores in turn.
        QVERIFY(QFileInfo(safety).isFile());
        QCOMPARE(inspectBackup(safety).lines, 644);
        restoreLedger(currentLedger(), safety, backupsFolder(home->dataDir()));
        QCOMPARE(state(), after);
    }

    // What a backup or a restore killed in the middle left behind (its new file, its work file, their journals) is
    // removed by the next one an hour later; a file of one still at work, or not the program's, is not.
    void leftoversOfKilledWorkAreRemovedLater()
    {
        if (home->server())
            QSKIP("about the ledger's folder");
        fill();
        const QString folder = QFileInfo(home->dbPath()).absolutePath();
        const QString backup = backupPath(QStringLiteral("b.sjk"));
        const auto leave = [](const QString& path, int minutesAgo) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1 && file.flush());
            QVERIFY(file.setFileTime(
                QDateTime::currentDateTime().addSecs(-60 * minutesAgo), QFileDevice::FileModificationTime));
        };
        const QStringList old { folder + QStringLiteral("/.kivaro-0a1b.part"),
            folder + QStringLiteral("/.kivaro-0a1b.part-journal"), folder + QStringLiteral("/.kivaro-work-2c3d.sjk"),
            folder + QStringLiteral("/.kivaro-work-2c3d.sjk-journal"),
            home->base() + QStringLiteral("/.kivaro-4e.part") };
        const QStringList kept { folder + QStringLiteral("/.kivaro-5f.part"),
            folder + QStringLiteral("/.kivaro-work-6a.sjk"), home->base() + QStringLiteral("/kivaro-7b.part") };
        for (const QString& path : old)
            leave(path, 70);
        leave(kept.at(0), 50);
        leave(kept.at(1), 10);
        leave(kept.at(2), 70);
        backupLedger(currentLedger(), backup);
        QVERIFY(!QFile::exists(old.last()));
        QVERIFY(QFile::exists(old.first()));
        restoreLedger(currentLedger(), backup, backupsFolder(home->dataDir()));
        for (const QString& path : old)
            QVERIFY2(!QFile::exists(path), qPrintable(path));
        for (const QString& path : kept)
            QVERIFY2(QFile::exists(path), qPrintable(path));
    }

    // A backup this computer wrote is sealed and restored as it is; the same file altered, sealed by another
    // computer, or carrying another program's trigger from the ledger it was taken of, is checked and rebuilt.
    void sealedBackupsAreTrustedOnlyWhenTheyAreOurs()
    {
        fill();
        const QString before = state();
        const QString taken = backupPath(QStringLiteral("sealed.sjk"));
        // The engine's statistics, which a rebuild leaves behind, show which way a file ledger was restored.
        const QString ledgerFile = home->dataDir() + QStringLiteral("/db.sjk");
        const auto hasStatistics = [&ledgerFile] {
            return RawDb(ledgerFile)
                       .value(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'sqlite_stat1'"))
                       .toInt()
                == 1;
        };
        if (!home->server())
            QVERIFY(RawDb(ledgerFile).exec(QStringLiteral("ANALYZE")));
        QVERIFY(backupLedger(currentLedger(), taken).sealed);
        const LedgerFileInfo ours = inspectBackup(taken, currentLedger());
        QVERIFY(ours.sealed);
        const LedgerFileInfo unknown = inspectBackup(taken);
        QVERIFY(!unknown.sealed);
        QCOMPARE(ours.lines, unknown.lines);
        QCOMPARE(ours.firstDay, unknown.firstDay);
        QCOMPARE(ours.accounts, unknown.accounts);
        // The restored ledger goes on counting line IDs past the one it replaces.
        const auto idsWith = [](const QString& memo) {
            const QStringList detail = views(kUser).detail;
            QList<qint64> ids;
            for (qsizetype row = 0; row + 7 <= detail.size(); row += 7) {
                if (memo.isEmpty() || detail.at(row + 6) == memo)
                    ids.append(detail.at(row).toLongLong());
            }
            return ids;
        };
        addLines(TDbMan(), kUser, sampleLines(3, QStringLiteral("后来的")));
        const QList<qint64> before3 = idsWith(QString());
        const qint64 lastId = *std::max_element(before3.begin(), before3.end());
        restoreLedger(currentLedger(), taken, backupsFolder(home->dataDir()));
        QCOMPARE(state(), before);
        if (!home->server())
            QVERIFY(hasStatistics());
        addLines(TDbMan(), kUser, sampleLines(1, QStringLiteral("再后来")));
        QCOMPARE(idsWith(QStringLiteral("再后来")).size(), 1);
        QVERIFY(idsWith(QStringLiteral("再后来")).first() > lastId);

        // Wrong summaries sealed with another computer's key: checked, and refused.
        const QString foreign = backupPath(QStringLiteral("foreign.sjk"));
        QVERIFY(QFile::copy(taken, foreign));
        {
            RawDb raw(foreign);
            QVERIFY(raw.exec(QStringLiteral("UPDATE DaySums SET Money = Money + 1")));
        }
        backupseal::seal(foreign, QByteArray(32, 'x'));
        QVERIFY_THROWS_EXCEPTION(KivaroError, inspectBackup(foreign, currentLedger()));
        QVERIFY_THROWS_EXCEPTION(KivaroError, restoreLedger(currentLedger(), foreign, backupsFolder(home->dataDir())));
        // A byte of a sealed backup changed behind the engine's back: the seal no longer holds.
        QVERIFY(QFile::copy(taken, backupPath(QStringLiteral("flipped.sjk"))));
        {
            QFile flipped(backupPath(QStringLiteral("flipped.sjk")));
            QVERIFY(flipped.open(QIODevice::ReadWrite) && flipped.seek(flipped.size() - 200));
            const char byte = flipped.read(1).at(0);
            QVERIFY(flipped.seek(flipped.size() - 200) && flipped.putChar(char(byte ^ 1)));
        }
        QVERIFY(!backupseal::sealedLength(
            backupPath(QStringLiteral("flipped.sjk")), backupseal::key(currentLedger(), false)));

        // A ledger another program gave a trigger is backed up unsealed, and restored without it.
        if (!home->server()) {
            {
                RawDb raw(home->dataDir() + QStringLiteral("/db.sjk"));
                QVERIFY(raw.exec(QStringLiteral("CREATE TRIGGER Evil AFTER INSERT ON Records BEGIN DELETE FROM Users; "
                                                "END")));
            }
            const QString tainted = backupPath(QStringLiteral("tainted.sjk"));
            const LedgerFileInfo written = backupLedger(currentLedger(), tainted);
            QVERIFY(!written.sealed);
            QVERIFY(!inspectBackup(tainted, currentLedger()).sealed);
            restoreLedger(currentLedger(), tainted, backupsFolder(home->dataDir()));
            RawDb ledger(home->dataDir() + QStringLiteral("/db.sjk"));
            QCOMPARE(ledger.value(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'Evil'")).toInt(), 0);
        }
        // On a computer without the key every backup is checked in full, and restores all the same.
        QVERIFY(QFile::remove(
            (home->server() ? THi::GetDataDir(QString()) : home->dataDir()) + QStringLiteral("/backup-seal.key")));
        QVERIFY(!inspectBackup(taken, currentLedger()).sealed);
        restoreLedger(currentLedger(), taken, backupsFolder(home->dataDir()));
        QCOMPARE(state(), before);
        if (!home->server())
            QVERIFY(!hasStatistics());
    }

    // A backup grown to 2 GiB of holes after its pages is read where it lies: its inspection and restore write no
    // copy of it. One whose header does not bound its pages and whose size passes the limit is refused unread.
    void largeSparseBackupIsReadInPlace()
    {
        const auto written = [] {
            QFile io(QStringLiteral("/proc/self/io"));
            if (!io.open(QIODevice::ReadOnly))
                return qint64(-1);
            for (const QByteArray& line : io.readAll().split('\n'))
                if (line.startsWith("wchar: "))
                    return line.mid(7).toLongLong();
            return qint64(-1);
        };
        if (written() < 0)
            QSKIP("no count of written bytes here");
        fill();
        const QString shown = state();
        const QString sparse = backupPath(QStringLiteral("sparse.sjk"));
        backupLedger(currentLedger(), sparse);
        addLines(TDbMan(), kUser, sampleLines(3, QStringLiteral("后来的")));
        QVERIFY(QFile::resize(sparse, 2LL << 30));
        const qint64 before = written();
        QCOMPARE(inspectBackup(sparse).lines, 640);
        restoreLedger(currentLedger(), sparse, backupsFolder(home->dataDir()));
        const qint64 wrote = written() - before;
        QVERIFY2(wrote < 64LL << 20, qPrintable(QStringLiteral("%1 bytes written").arg(wrote)));
        QCOMPARE(state(), shown);

        // The header's count of pages made invalid: the file's own size counts, past the limit.
        {
            QFile file(sparse);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(92) && file.write("\xFF\xFF\xFF\xFF", 4) == 4);
            QVERIFY(file.resize(9LL << 30));
        }
        try {
            inspectBackup(sparse);
            QFAIL("a 9 GiB backup was read");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("太大")), qPrintable(error.text()));
        }
    }

    void badFilesAreRefusedWithNothingReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : { "text", "empty", "truncated", "foreign", "newer", "damaged" })
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void badFilesAreRefusedWithNothingReplaced()
    {
        QFETCH(QString, kind);
        fill();
        const QString good = backupPath(QStringLiteral("good.sjk"));
        backupLedger(currentLedger(), good);
        const QString bad = backupPath(QStringLiteral("bad.sjk"));
        const QByteArray bytes = readAll(good);
        if (kind == QLatin1String("text")) {
            QVERIFY(writeAll(bad, "日期,品名,数量\n2024-01-01,毛巾,1\n"));
        } else if (kind == QLatin1String("empty")) {
            QVERIFY(writeAll(bad, QByteArray()));
        } else if (kind == QLatin1String("truncated")) {
            QVERIFY(writeAll(bad, bytes.left(bytes.size() / 2)));
        } else if (kind == QLatin1String("damaged")) {
            // A page in the middle overwritten, as a failing disk leaves it.
            QByteArray damaged = bytes;
            damaged.replace(bytes.size() / 2, 4096, QByteArray(4096, '\x5a'));
            QVERIFY(writeAll(bad, damaged));
        } else {
            QVERIFY(writeAll(bad, bytes));
            RawDb raw(bad);
            QVERIFY(raw.exec(kind == QLatin1String("newer") ? QStringLiteral("PRAGMA user_version = 99")
                                                            : QStringLiteral("DROP TABLE Records")));
        }
        const QString before = state();
        const QByteArray folder = fingerprint(home->dataDir());
        try {
            restoreLedger(currentLedger(), bad, backupsFolder(home->dataDir()));
            QFAIL("a bad file was restored");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QDir::toNativeSeparators(bad)), qPrintable(error.text()));
            if (kind == QLatin1String("newer"))
                QVERIFY2(error.text().contains(QStringLiteral("更新版本")), qPrintable(error.text()));
        }
        QCOMPARE(state(), before);
        if (!home->server())
            QCOMPARE(fingerprint(home->dataDir()), folder);
        QVERIFY(!QFileInfo::exists(backupsFolder(home->dataDir())));
    }

    // A crafted backup brings only its data: its own triggers, views and journal mode stay behind, summaries are
    // computed from the lines; summaries that disagree with the lines, another program's tables and a view in place of
    // a table are refused with nothing replaced.
    void craftedBackupsAreRefusedOrRebuiltClean_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<bool>("refused");
        QTest::newRow("extra trigger") << QStringList { QStringLiteral(
            "CREATE TRIGGER Evil AFTER INSERT ON Records BEGIN UPDATE Records SET RecMoney = 0 WHERE ID = NEW.ID; "
            "END") } << false;
        QTest::newRow("missing trigger") << QStringList { QStringLiteral("DROP TRIGGER RecordsAddToSums") } << false;
        QTest::newRow("trigger of the program's name, another body")
            << QStringList { QStringLiteral("DROP TRIGGER RecordsAddToSums"),
                   QStringLiteral("CREATE TRIGGER RecordsAddToSums AFTER INSERT ON Records BEGIN "
                                  "UPDATE Records SET RecMoney = 0 WHERE ID = NEW.ID; END") }
            << false;
        QTest::newRow("endless view") << QStringList { QStringLiteral(
            "CREATE VIEW Spin AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n FROM r") }
                                      << false;
        QTest::newRow("wal mode") << QStringList { QStringLiteral("PRAGMA journal_mode = WAL") } << false;
        // Moved between two days of one user: the user's totals still agree, the days do not.
        QTest::newRow("day summaries") << QStringList {
            QStringLiteral("UPDATE DaySums SET Money = Money + 500 WHERE RecDate = '2024-01-01'"),
            QStringLiteral("UPDATE DaySums SET Money = Money - 500 WHERE RecDate = '2024-02-02'")
        } << true;
        QTest::newRow("product summaries") << QStringList {
            QStringLiteral("UPDATE DayProductSums SET Quantity = Quantity + 1 WHERE RecDate = '2024-01-01'")
        } << true;
        // Values the entry never makes, in a line or in a kept line that a login would adopt.
        QTest::newRow("line of 9e18 cents") << QStringList { QStringLiteral(
            "UPDATE Records SET RecMoney = 9000000000000000000 WHERE ID = (SELECT MIN(ID) FROM Records)") }
                                            << true;
        QTest::newRow("kept line no entry makes")
            << QStringList { QStringLiteral("INSERT INTO PendingLines (UserName, Computer, RecDate, RecProductName, "
                                            "RecQuantity, RecMoney, RecCost, RecMemo) VALUES ('x', 'c', 'yesterday', "
                                            "'p', 5000000000, 900000000000000000, 0, '')") }
            << true;
        QTest::newRow("another program's table")
            << QStringList { QStringLiteral("CREATE TABLE Settings (Key TEXT, Value TEXT)") } << true;
        QTest::newRow("view for a table") << QStringList { QStringLiteral("DROP TABLE Changes"),
            QStringLiteral("CREATE VIEW Changes AS SELECT 1 AS ID") }
                                          << true;
    }

    void craftedBackupsAreRefusedOrRebuiltClean()
    {
        QFETCH(QStringList, statements);
        QFETCH(bool, refused);
        fill();
        const QString before = state();
        const QString crafted = backupPath(QStringLiteral("crafted.sjk"));
        backupLedger(currentLedger(), crafted);
        {
            RawDb raw(crafted);
            for (const QString& statement : std::as_const(statements))
                QVERIFY2(raw.exec(statement), qPrintable(statement + QLatin1Char(' ') + raw.lastError()));
        }
        if (statements.first().contains(QStringLiteral("WAL")))
            QCOMPARE(int(readAll(crafted).at(18)), 2);
        addLines(TDbMan(), kUser, sampleLines(3, QStringLiteral("后来的")));
        const QString changed = state();
        if (refused) {
            QVERIFY_THROWS_EXCEPTION(KivaroError, inspectBackup(crafted));
            QVERIFY_THROWS_EXCEPTION(
                KivaroError, restoreLedger(currentLedger(), crafted, backupsFolder(home->dataDir())));
            QCOMPARE(state(), changed);
            return;
        }
        const LedgerFileInfo info = inspectBackup(crafted);
        QCOMPARE(info.lines, 640);
        // What stays behind is said before the restore, and only that: the program's own triggers are not named.
        QCOMPARE(info.findings.join(QString()).contains(QStringLiteral("Evil")),
            statements.first().contains(QStringLiteral("Evil")));
        const bool foreign = statements.join(QLatin1Char(' ')).contains(QStringLiteral("CREATE "));
        QVERIFY2(info.findings.join(QString()).contains(QStringLiteral("触发器或视图")) == foreign,
            qPrintable(info.findings.join(QLatin1Char('\n'))));
        restoreLedger(currentLedger(), crafted, backupsFolder(home->dataDir()));
        QCOMPARE(state(), before);
        // A line saved after the restore reaches the views as typed.
        const SalesLine later { 0, QDate(2024, 3, 3), QStringLiteral("新品"), 2, 1234, 100, QString() };
        TDbMan db;
        addLines(db, kUser, { later });
        const QList<DayCount> days = db.QueryDays({ kUser, later.day, later.day });
        QCOMPARE(days.size(), 1);
        const QList<SalesLine> stored = db.QueryLineWindow({ kUser, later.day, later.day }, later.day, 0, 1000);
        QCOMPARE(stored.last().received, 1234);
        QCOMPARE(days.first().lines, stored.size());
        SalesSums sums;
        for (const SalesLine& line : stored)
            sums = { sums.quantity + line.quantity, sums.received + line.received, sums.cost + line.cost };
        QCOMPARE(days.first().sums, sums);
        if (!home->server()) {
            RawDb ledger(home->dataDir() + QStringLiteral("/db.sjk"));
            QCOMPARE(ledger.value(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name IN ('Evil', 'Spin')"))
                         .toInt(),
                0);
            QCOMPARE(ledger.value(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("delete"));
        }
    }

    // On a server a restore is one moment for everyone: another computer's next write or 查看 is refused as made for
    // the replaced ledger, line IDs go on past every ID given out, and no undo reaches back into the replaced ledger.
    void serverRestoreIsANewLedgerForEveryone()
    {
        if (!home->server())
            QSKIP("about several computers on one server");
        fill();
        const QString before = state();
        const QString backup = backupPath(QStringLiteral("b.sjk"));
        backupLedger(currentLedger(), backup);
        const SalesRange year { kUser, QDate(2024, 1, 1), QDate(2024, 12, 31) };

        TDbMan other;
        addLines(other, kUser, sampleLines(5, QStringLiteral("后来的")));
        const std::shared_ptr<const ViewSnapshot> seen = other.QueryView(year);
        const qint64 highest = *std::max_element(seen->lineIds.begin(), seen->lineIds.end());
        deleteStored(other, kUser, highest);
        const qint64 deleteChange = other.Changes(kUser, 1).value(0).id;
        QVERIFY(deleteChange > 0);

        restoreLedger(currentLedger(), backup, backupsFolder(home->dataDir()));
        QCOMPARE(state(), before);
        QVERIFY_THROWS_EXCEPTION(TLedgerReplaced, addLines(other, kUser, sampleLines(1, QString())));
        QVERIFY_THROWS_EXCEPTION(TLedgerReplaced, other.QueryView(year));

        TDbMan fresh;
        QVERIFY_THROWS_EXCEPTION(KivaroError, fresh.UndoChange(kUser, deleteChange));
        QCOMPARE(state(), before);
        const SalesRange day { kUser, QDate(2024, 7, 7), QDate(2024, 7, 7) };
        addLines(fresh, kUser, { { 0, day.first, QStringLiteral("新"), 1, 100, 50, {} } });
        const QList<SalesLine> added = fresh.QueryLineWindow(day, day.first, 0, 1000);
        QVERIFY(added.last().id > highest);
    }

    // An old file without summaries is upgraded in the copy that replaces the ledger; the user's file stays as it is.
    void olderLayoutIsUpgradedInTheCopy()
    {
        fill();
        const QString before = state();
        const QString old = backupPath(QStringLiteral("old.sjk"));
        backupLedger(currentLedger(), old);
        {
            RawDb raw(old);
            for (const char* statement : { "DROP TRIGGER RecordsAddToSums", "DROP TRIGGER RecordsRemoveFromSums",
                     "DROP TRIGGER RecordsMoveInSums", "DROP TABLE DaySums", "DROP TABLE DayProductSums",
                     "DROP INDEX RecordsByUserDateId", "PRAGMA user_version = 0" })
                QVERIFY2(raw.exec(QString::fromLatin1(statement)), statement);
        }
        const QByteArray oldBytes = readAll(old);
        QCOMPARE(inspectBackup(old).version, 0);
        addLines(TDbMan(), kUser, sampleLines(3, QStringLiteral("后来的")));
        restoreLedger(currentLedger(), old, backupsFolder(home->dataDir()));
        QCOMPARE(state(), before);
        QVERIFY(hasSummaries(TDbMan(), home->dbPath()));
        QCOMPARE(readAll(old), oldBytes);
    }

    // Saves of another instance during the backup: the backup holds none or all of each, and passes its checks.
    void backupWhileAnotherInstanceSaves()
    {
        fill();
        for (int round = 0; round < 3; ++round) {
            ChildProcess saver({ QStringLiteral("save"), kUser, QStringLiteral("50000"),
                QStringLiteral("r%1").arg(round), QStringLiteral("wait") });
            QVERIFY2(saver.waitReady(), qPrintable(saver.errors()));
            const qint64 before = storedLineCount(*home);
            saver.release();
            // Later each round, so that the backup meets the save at another point of its work.
            QTest::qWait(round * 150);
            const QString path = backupPath(QStringLiteral("during%1.sjk").arg(round));
            const LedgerFileInfo written = backupLedger(currentLedger(), path);
            QVERIFY2(saver.finishedCleanly(), qPrintable(saver.errors()));
            QVERIFY2(written.lines == before || written.lines == before + 50'000,
                qPrintable(QString::number(written.lines)));
            QCOMPARE(inspectBackup(path).lines, written.lines);
            qInfo("round %d: the backup holds %lld of the %lld lines before and after the save", round, written.lines,
                storedLineCount(*home));
        }
    }

    // A backup killed half-way leaves the ledger, the file it was to replace and the other backups as they were.
    void killedBackupChangesNothing()
    {
        KIVARO_FILE_STORE_ONLY();
        fill();
        addLines(TDbMan(), kUser, sampleLines(100'000, QStringLiteral("很多")));
        const QString target = backupPath(QStringLiteral("target.sjk"));
        QVERIFY(writeAll(target, "the previous backup"));
        const QByteArray ledger = fingerprint(home->dbPath());
        for (int wait : { 5, 30, 80 }) {
            ChildProcess backup({ QStringLiteral("backup"), target });
            QVERIFY2(backup.waitReady(), qPrintable(backup.errors()));
            QTest::qWait(wait);
            backup.killNow();
            QCOMPARE(fingerprint(home->dbPath()), ledger);
            const QByteArray now = readAll(target);
            QVERIFY(now == "the previous backup" || inspectBackup(target).lines == 100'640);
            if (now != "the previous backup")
                QVERIFY(writeAll(target, "the previous backup"));
        }
    }

    void backupRefusesTheLedgerItselfAndAMissingFolder()
    {
        KIVARO_FILE_STORE_ONLY();
        fill();
        const QByteArray ledger = fingerprint(home->dbPath());
        for (const QString& path :
            QStringList { home->dbPath(), home->base() + QStringLiteral("/没有的文件夹/b.sjk") }) {
            QVERIFY_THROWS_EXCEPTION(KivaroError, backupLedger(currentLedger(), path));
            QCOMPARE(fingerprint(home->dbPath()), ledger);
        }
        QCOMPARE(QDir(home->dataDir()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("db.sjk") });
    }

    // A year of daily starts: the newest 7 daily and the newest 12 monthly backups stay.
    void rotationOverAYear()
    {
        KIVARO_FILE_STORE_ONLY();
        fill();
        const QDate first(2024, 1, 1);
        for (QDate day = first; day < first.addDays(365); day = day.addDays(1)) {
            QVERIFY(makeDailyBackup(currentLedger(), home->dataDir(), day));
            QVERIFY(!makeDailyBackup(currentLedger(), home->dataDir(), day));
        }
        const QStringList names
            = QDir(backupsFolder(home->dataDir())).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        QStringList expected;
        for (int month = 1; month <= 12; ++month)
            expected << QStringLiteral("Kivaro-2024-%1.sjk").arg(month, 2, 10, QLatin1Char('0'));
        for (int day = 24; day <= 30; ++day)
            expected << QStringLiteral("Kivaro-2024-12-%1.sjk").arg(day);
        expected.sort();
        QCOMPARE(names, expected);
        QCOMPARE(inspectBackup(backupsFolder(home->dataDir()) + QStringLiteral("/Kivaro-2024-03.sjk")).lines, 640);
    }

    // Each day's automatic backup is made once. A failure leaves no claim behind, so the next start tries again; on a
    // server the first computer to claim the day makes it in its own data folder, and the others are told which.
    void dailyBackupIsMadeOncePerDay()
    {
        fill();
        const QDate day(2024, 6, 10);
        const QString here = home->dataDir();
        const QString folder = dailyBackupsFolder(currentLedger(), here);
        {
            QFile blocker(backupsFolder(here));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        QVERIFY_THROWS_EXCEPTION(KivaroError, makeDailyBackup(currentLedger(), here, day));
        QVERIFY(QFile::remove(backupsFolder(here)));
        QCOMPARE(makeDailyBackup(currentLedger(), here, day), folder + QStringLiteral("/Kivaro-2024-06-10.sjk"));
        QCOMPARE(inspectBackup(folder + QStringLiteral("/Kivaro-2024-06.sjk")).lines, 640);
        if (!testingOnServer()) {
            QVERIFY(!lastDailyBackup(currentLedger()));
            return;
        }
        QVERIFY(folder.startsWith(backupsFolder(here) + QLatin1Char('/')));
        QCOMPARE(lastDailyBackup(currentLedger())->folder, folder);

        // Another computer: its own data folder and computer ID.
        QSettings(settingsPath(), QSettings::IniFormat).remove(QStringLiteral("computer"));
        const QString there = home->base() + QStringLiteral("/另一台电脑");
        QVERIFY(!makeDailyBackup(currentLedger(), there, day));
        QVERIFY(!QFileInfo::exists(backupsFolder(there)));
        const QString made = makeDailyBackup(currentLedger(), there, day.addDays(1)).value_or(QString());
        QVERIFY(made.startsWith(dailyBackupsFolder(currentLedger(), there)));
        const std::optional<DailyBackupRecord> last = lastDailyBackup(currentLedger());
        QVERIFY(last && last->day == day.addDays(1) && last->folder == dailyBackupsFolder(currentLedger(), there));
        QVERIFY(!makeDailyBackup(currentLedger(), here, day.addDays(1)));
    }

    // Rotation goes by the date a name says: backups dated in the future neither push today's out nor are removed,
    // names that are no date are left alone, and the copies kept before restores are rotated too (the newest 12).
    void rotationByTheDateInTheName()
    {
        KIVARO_FILE_STORE_ONLY();
        fill();
        const QString folder = backupsFolder(home->dataDir());
        QVERIFY(QDir().mkpath(folder));
        const auto touch = [&folder](const QString& name) {
            QFile file(folder + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        };
        QStringList future;
        for (int day = 1; day <= 8; ++day)
            future << QStringLiteral("Kivaro-2031-01-0%1.sjk").arg(day);
        for (const QString& name : std::as_const(future))
            touch(name);
        touch(QStringLiteral("Kivaro-2024-13-40.sjk"));
        touch(QStringLiteral("Kivaro-2024-05-01.sjk"));
        const QDate today(2024, 6, 10);
        QVERIFY(makeDailyBackup(currentLedger(), home->dataDir(), today));
        QStringList names = QDir(folder).entryList(QDir::Files);
        for (const QString& name : std::as_const(future))
            QVERIFY2(names.contains(name), qPrintable(name));
        QVERIFY(names.contains(QStringLiteral("Kivaro-2024-06-10.sjk")));
        QVERIFY(names.contains(QStringLiteral("Kivaro-2024-05-01.sjk")));
        QVERIFY(names.contains(QStringLiteral("Kivaro-2024-13-40.sjk")));

        // Fifteen copies kept before restores over three days, two of them within one second.
        QStringList safety;
        for (int i = 0; i < 14; ++i)
            safety << QStringLiteral("Kivaro-恢复前-2024-06-%1-1200%2.sjk")
                          .arg(8 + i / 5, 2, 10, QLatin1Char('0'))
                          .arg(10 + i);
        safety << QStringLiteral("Kivaro-恢复前-2024-06-10-120023-2.sjk");
        for (const QString& name : std::as_const(safety))
            touch(name);
        touch(QStringLiteral("Kivaro-恢复前-2030-01-01-000000.sjk"));
        rotateSafetyCopies(folder, QDateTime(today, QTime(23, 0)));
        names = QDir(folder).entryList(QDir::Files);
        QVERIFY(names.contains(QStringLiteral("Kivaro-恢复前-2030-01-01-000000.sjk")));
        for (qsizetype i = 0; i < safety.size(); ++i)
            QVERIFY2(names.contains(safety.at(i)) == (i >= 3), qPrintable(safety.at(i)));
    }
};

KIVARO_TEST_MAIN(TestBackup)
#include "tst_backup.moc"
