#include "bench/BenchCases.h"

#include "base/Error.h"
#include "db/Backup.h"
#include "db/BackupSeal.h"
#include "db/SalesRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a ledger file holds, read straight from it: what a backup and a restore must carry over whole.
struct Contents
{
    qint64 accounts = 0;
    qint64 lines = 0;
    qint64 quantity = 0;
    qint64 received = 0;
    qint64 cost = 0;
    QString firstDay;
    QString lastDay;
    int version = 0;

    friend bool operator==(const Contents&, const Contents&) = default;
    QString text() const
    {
        return QStringLiteral("%1 accounts, %2 lines (%3 … %4), sums %5/%6/%7, layout %8")
            .arg(accounts)
            .arg(lines)
            .arg(firstDay, lastDay)
            .arg(quantity)
            .arg(received)
            .arg(cost)
            .arg(version);
    }
};

Contents contentsOf(const QString& path)
{
    RawSqliteDb db(path, false);
    Contents c;
    c.accounts = db.scalar("SELECT COUNT(*) FROM Users");
    c.version = int(db.scalar("PRAGMA user_version"));
    RawSqliteStatement sums(
        db, "SELECT COUNT(*), SUM(RecQuantity), SUM(RecMoney), SUM(RecCost), MIN(RecDate), MAX(RecDate) FROM Records");
    check(sums.step(), QStringLiteral("no sums in ") + path);
    c.lines = sqlite3_column_int64(sums.get(), 0);
    c.quantity = sqlite3_column_int64(sums.get(), 1);
    c.received = sqlite3_column_int64(sums.get(), 2);
    c.cost = sqlite3_column_int64(sums.get(), 3);
    c.firstDay = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(sums.get(), 4)));
    c.lastDay = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(sums.get(), 5)));
    return c;
}

// The program's account of a file against what the file holds.
void checkInfo(const LedgerFileInfo& info, const Contents& expected, const QString& what)
{
    const QString format = QStringLiteral("yyyy-MM-dd");
    const bool same = info.accounts == expected.accounts && info.lines == expected.lines
        && info.firstDay.toString(format) == expected.firstDay && info.lastDay.toString(format) == expected.lastDay
        && info.version == expected.version;
    check(same,
        QStringLiteral("%1 says %2 accounts, %3 lines (%4 … %5), layout %6; the ledger holds %7")
            .arg(what)
            .arg(info.accounts)
            .arg(info.lines)
            .arg(info.firstDay.toString(format), info.lastDay.toString(format))
            .arg(info.version)
            .arg(expected.text()));
}

// The program's failures stop the benchmark like a wrong result does.
template <typename Work> auto program(const QString& what, Work&& work)
{
    try {
        return work();
    } catch (const KivaroError& error) {
        throw BenchError(what + QStringLiteral(" failed: ") + error.text());
    }
}

class Fd
{
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

int createNew(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    check(fd >= 0, QStringLiteral("cannot create ") + path);
    return fd;
}

// The bytes of a file as cp moves them through a program: read and written 128 KiB at a time, then flushed.
void readWriteCopy(const QString& from, const QString& to)
{
    const Fd in(::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC));
    check(in.get() >= 0, QStringLiteral("cannot read ") + from);
    Fd out(createNew(to));
    std::vector<char> buffer(128 * 1024);
    for (;;) {
        const ssize_t read = ::read(in.get(), buffer.data(), buffer.size());
        check(read >= 0, QStringLiteral("cannot read ") + from);
        if (read == 0)
            break;
        for (ssize_t done = 0; done < read;) {
            const ssize_t written = ::write(out.get(), buffer.data() + done, size_t(read - done));
            check(written > 0, QStringLiteral("cannot write ") + to);
            done += written;
        }
    }
    check(::fsync(out.get()) == 0 && out.close(), QStringLiteral("cannot flush ") + to);
}

// The same copy made inside the kernel, as cp 9 does it where the file system allows.
void kernelCopy(const QString& from, const QString& to)
{
    const Fd in(::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC));
    check(in.get() >= 0, QStringLiteral("cannot read ") + from);
    Fd out(createNew(to));
    for (;;) {
        const ssize_t copied = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, 1 << 30, 0);
        check(copied >= 0, QStringLiteral("copy_file_range failed on ") + to);
        if (copied == 0)
            break;
    }
    check(::fsync(out.get()) == 0 && out.close(), QStringLiteral("cannot flush ") + to);
}

void integrityCheck(const QString& path)
{
    RawSqliteDb db(path, false);
    RawSqliteStatement integrity(db, "PRAGMA integrity_check");
    check(integrity.step(), QStringLiteral("no answer from integrity_check"));
    const auto* answer = reinterpret_cast<const char*>(sqlite3_column_text(integrity.get(), 0));
    check(answer && QByteArray(answer) == "ok",
        QStringLiteral("integrity_check of %1: %2").arg(path, QString::fromUtf8(answer)));
}

// The floor for a checked copy of a ledger: the file copied and flushed, then checked by the engine. Times both
// parts into the lists given and returns the whole.
double checkedCopy(const QString& from, const QString& to, std::vector<double>& copies, std::vector<double>& checks)
{
    QFile::remove(to);
    Stopwatch clock;
    readWriteCopy(from, to);
    const double copied = clock.seconds();
    integrityCheck(to);
    const double seconds = clock.seconds();
    copies.push_back(copied);
    checks.push_back(seconds - copied);
    QFile::remove(to);
    return seconds;
}

double median(std::vector<double> values)
{
    return Stats::of(std::move(values)).median;
}

QString secondsText(const std::vector<double>& values)
{
    return QStringLiteral("%1 s").arg(median(values), 0, 'f', 2);
}

// The engine's online backup, page by page inside one read of the source, as backupLedger makes its copy.
void onlineBackup(const QString& from, const QString& to)
{
    RawSqliteDb source(from, false);
    source.exec("BEGIN");
    source.scalar("SELECT COUNT(*) FROM DaySums");
    sqlite3* target = nullptr;
    check(
        sqlite3_open_v2(QFile::encodeName(to).constData(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
            == SQLITE_OK,
        QStringLiteral("cannot create ") + to);
    sqlite3_backup* backup = sqlite3_backup_init(target, "main", source.handle(), "main");
    int code = SQLITE_OK;
    while (backup && code == SQLITE_OK)
        code = sqlite3_backup_step(backup, 4096);
    const int finished = sqlite3_backup_finish(backup);
    sqlite3_close(target);
    check(backup && code == SQLITE_DONE && finished == SQLITE_OK, QStringLiteral("the online backup failed"));
    source.exec("COMMIT");
}

// Sums every line per user, as a checked backup adds them up.
void totalsScan(const QString& path, qint64 expectedLines)
{
    RawSqliteDb db(path, false);
    RawSqliteStatement lines(db, "SELECT UserName, RecQuantity, RecMoney, RecCost FROM Records");
    QMap<QByteArray, SalesTotals> totals;
    while (lines.step()) {
        sqlite3_stmt* row = lines.get();
        totals[QByteArray(reinterpret_cast<const char*>(sqlite3_column_blob(row, 0)), sqlite3_column_bytes(row, 0))]
            .add(
                SalesSums { sqlite3_column_int64(row, 1), sqlite3_column_int64(row, 2), sqlite3_column_int64(row, 3) });
    }
    qint64 counted = 0;
    for (const SalesTotals& user : totals)
        counted += user.lines;
    check(counted == expectedLines, QStringLiteral("the totals scan counted %1 lines").arg(counted));
}

// The statements that describe a file: accounts, lines, first and last day.
void countsQueries(const QString& path)
{
    RawSqliteDb db(path, false);
    db.scalar("PRAGMA user_version");
    db.scalar("SELECT COUNT(*) FROM Users");
    db.scalar("SELECT COUNT(*) FROM Records");
    db.exec("SELECT MIN(RecDate) FROM Records");
    db.exec("SELECT MAX(RecDate) FROM Records");
}

// Where a checked backup's time goes, each step measured apart on the engine directly.
QString backupSteps(const QString& source, const QString& work, const Contents& expected, const RunPlan& plan)
{
    std::vector<double> online, integrity, scan, counts, kernel;
    for (int i = 0; i < std::max(1, plan.runs / 2); ++i) {
        QFile::remove(work);
        Stopwatch clock;
        onlineBackup(source, work);
        online.push_back(clock.seconds());
        clock = Stopwatch();
        integrityCheck(work);
        integrity.push_back(clock.seconds());
        clock = Stopwatch();
        totalsScan(work, expected.lines);
        scan.push_back(clock.seconds());
        clock = Stopwatch();
        countsQueries(work);
        counts.push_back(clock.seconds());
        QFile::remove(work);
        clock = Stopwatch();
        kernelCopy(source, work);
        kernel.push_back(clock.seconds());
        QFile::remove(work);
    }
    return QStringLiteral("the steps apart on sqlite3 (medians of %1): online backup with its commit %2, "
                          "integrity_check %3, totals over every line %4, counts and first and last day %5; "
                          "the copy through copy_file_range (as cp 9.1 makes it here) with fsync %6")
        .arg(online.size())
        .arg(secondsText(online), secondsText(integrity), secondsText(scan), secondsText(counts), secondsText(kernel));
}

qulonglong inode(const QString& path)
{
    struct stat status
    {
    };
    check(::stat(QFile::encodeName(path).constData(), &status) == 0, QStringLiteral("cannot stat ") + path);
    return status.st_ino;
}

QString megabytes(const QString& path)
{
    return QStringLiteral("%1 MB").arg(QFileInfo(path).size() / 1e6, 0, 'f', 1);
}

} // namespace

void benchBackup(BenchContext& context)
{
    const SalesData& data = context.data;
    TestDataHome home(data.file);
    const LedgerLocation ledger = LedgerLocation::file(home.dataDir());
    const QString target = home.base() + QStringLiteral("/backup.sjk");
    const QString floorCopy = home.base() + QStringLiteral("/floor-copy.sjk");
    const Contents expected = contentsOf(home.dbPath());

    std::vector<double> inspections, copies, checks;
    const auto backup = [&] {
        QFile::remove(target);
        Stopwatch clock;
        const LedgerFileInfo made
            = program(QStringLiteral("backupLedger"), [&] { return backupLedger(ledger, target); });
        const double seconds = clock.seconds();
        clock = Stopwatch();
        const LedgerFileInfo inspected
            = program(QStringLiteral("inspectBackup"), [&] { return inspectBackup(target); });
        inspections.push_back(clock.seconds());
        checkInfo(made, expected, QStringLiteral("backupLedger"));
        checkInfo(inspected, expected, QStringLiteral("inspectBackup of the backup"));
        const Contents written = contentsOf(target);
        check(written == expected,
            QStringLiteral("the backup holds %1; the ledger %2").arg(written.text(), expected.text()));
        const QStringList left = QDir(home.base()).entryList(QDir::Files | QDir::Hidden);
        check(left == QStringList { QStringLiteral("backup.sjk") },
            QStringLiteral("besides the backup: ") + left.join(QStringLiteral(", ")));
        QFile::remove(target);
        return seconds;
    };
    const auto floor = [&] { return checkedCopy(home.dbPath(), floorCopy, copies, checks); };
    Result result = measure(QStringLiteral("B1. backupLedger of the %1-line file (%2) vs copying it with fsync and "
                                           "running integrity_check on the copy")
                                .arg(expected.lines)
                                .arg(megabytes(home.dbPath())),
        context.config.slowPlan, backup, floor);
    result.target = Target::ratio(2.0);
    result.note = QStringLiteral("baseline: read and written 128 KiB at a time, fsync, then PRAGMA integrity_check on "
                                 "a fresh connection: copy %1, check %2 (medians); each backup then checked untimed "
                                 "(inspectBackup %3, and its counts and sums against the ledger's); %4")
                      .arg(secondsText(copies), secondsText(checks), secondsText(inspections),
                          backupSteps(home.dbPath(), floorCopy, expected, context.config.slowPlan));
    context.results.push_back(result);
}

void benchRestore(BenchContext& context)
{
    const SalesData& data = context.data;
    TestDataHome home(data.file);
    const LedgerLocation ledger = LedgerLocation::file(home.dataDir());
    const QString backupFile = home.base() + QStringLiteral("/backup.sjk");
    const QString safetyFolder = home.base() + QStringLiteral("/safety");
    const QString floorCopy = home.base() + QStringLiteral("/floor-copy.sjk");
    program(QStringLiteral("backupLedger"), [&] { return backupLedger(ledger, backupFile); });
    const Contents backedUp = contentsOf(backupFile);

    // The ledger in place has moved on since the backup, so that a restore that replaced nothing shows.
    std::vector<StoredLine> later;
    for (int i = 0; i < 3; ++i)
        later.push_back({ dayStd(data.params.lastDay()), encodedStd(data.products.at(i)), 1 + i, 1000 + i, 700, {} });
    rawInsert(home.dbPath(), encodedStd(data.users.first()), later);
    const Contents present = contentsOf(home.dbPath());
    check(present.lines == backedUp.lines + qint64(later.size()), QStringLiteral("the later lines were not stored"));
    const qulonglong presentInode = inode(home.dbPath());

    // The same backup as another computer's Kivaro sees it: without this data folder's seal.
    const QString foreignFile = home.base() + QStringLiteral("/foreign.sjk");
    {
        QFile sealed(backupFile);
        check(sealed.open(QIODevice::ReadOnly), QStringLiteral("cannot read the backup"));
        QFile foreign(foreignFile);
        check(foreign.open(QIODevice::WriteOnly), QStringLiteral("cannot write ") + foreignFile);
        const std::optional<qint64> length = backupseal::sealedLength(backupFile, backupseal::key(ledger, false));
        check(length.has_value(), QStringLiteral("the backup was not sealed"));
        for (qint64 done = 0; done < *length;) {
            const QByteArray piece = sealed.read(qMin<qint64>(1 << 20, *length - done));
            check(!piece.isEmpty() && foreign.write(piece) == piece.size(), QStringLiteral("cannot copy the backup"));
            done += piece.size();
        }
    }

    std::vector<double> inspections, copies, checks;
    QString restoring = backupFile;
    const auto restore = [&] {
        Stopwatch clock;
        const QString safety
            = program(QStringLiteral("restoreLedger"), [&] { return restoreLedger(ledger, restoring, safetyFolder); });
        const double seconds = clock.seconds();
        clock = Stopwatch();
        const LedgerFileInfo inspected
            = program(QStringLiteral("inspectBackup"), [&] { return inspectBackup(home.dbPath()); });
        inspections.push_back(clock.seconds());
        checkInfo(inspected, backedUp, QStringLiteral("inspectBackup of the restored ledger"));
        const Contents restored = contentsOf(home.dbPath());
        check(restored == backedUp,
            QStringLiteral("the restored ledger holds %1; the backup %2").arg(restored.text(), backedUp.text()));
        check(QFileInfo(safety).absolutePath() == QFileInfo(safetyFolder).absoluteFilePath()
                && inode(safety) == presentInode && contentsOf(safety).lines == present.lines,
            QStringLiteral("the ledger in place was not kept aside as it was: ") + safety);
        const QStringList left = QDir(home.dataDir()).entryList(QDir::Files | QDir::Hidden);
        check(left == QStringList { QStringLiteral("backup-seal.key"), QStringLiteral("db.sjk") },
            QStringLiteral("the data folder holds ") + left.join(QStringLiteral(", ")));
        // The data folder as it was before the restore, without copying the ledger again.
        check(::rename(QFile::encodeName(safety).constData(), QFile::encodeName(home.dbPath()).constData()) == 0
                && QDir(safetyFolder).removeRecursively(),
            QStringLiteral("cannot put the ledger back from ") + safety);
        return seconds;
    };
    const auto floor = [&] { return checkedCopy(backupFile, floorCopy, copies, checks); };
    Result result = measure(QStringLiteral("B2. restoreLedger of a backup this computer sealed, of the %1-line file, "
                                           "into a file ledger vs copying it with fsync and running integrity_check "
                                           "on the copy")
                                .arg(backedUp.lines),
        context.config.slowPlan, restore, floor);
    result.target = Target::ratio(3.0);
    result.note = QStringLiteral(
        "the ledger in place is the same file 3 lines later, put back untimed after each run; "
        "baseline as B1, on the backup file (copy %1, check %2); inspectBackup of the restored file, untimed: "
        "%3 (medians); each restore checked: counts and sums of the new db.sjk against the "
        "backup's, the old file in the safety folder, nothing else left in the data folder")
                      .arg(secondsText(copies), secondsText(checks), secondsText(inspections));
    context.results.push_back(result);

    // Another computer's backup is checked and rebuilt row by row, as every backup was before the seal.
    restoring = foreignFile;
    copies.clear();
    checks.clear();
    Result foreign = measure(QStringLiteral("B2b. restoreLedger of the same backup without this computer's seal "
                                            "(checked and rebuilt) vs the same baseline"),
        context.config.slowPlan, restore, floor);
    foreign.note = QStringLiteral("the backup's bytes without the seal, as another computer's Kivaro wrote them");
    context.results.push_back(foreign);

    // The restore dialog's check before its question.
    Result dialog = measure(
        QStringLiteral("B2c. inspectBackup (the restore dialog's check) of the sealed backup vs of "
                       "the same backup without the seal"),
        context.config.slowPlan,
        [&] {
            Stopwatch clock;
            const LedgerFileInfo info = inspectBackup(backupFile, ledger);
            const double seconds = clock.seconds();
            check(info.sealed && info.lines == backedUp.lines, QStringLiteral("the sealed backup was not trusted"));
            return seconds;
        },
        [&] {
            Stopwatch clock;
            const LedgerFileInfo info = inspectBackup(foreignFile, ledger);
            const double seconds = clock.seconds();
            check(!info.sealed && info.lines == backedUp.lines, QStringLiteral("the foreign backup was trusted"));
            return seconds;
        });
    dialog.note = QStringLiteral("the sealed file is hashed whole and its counts read; the other is checked in full");
    context.results.push_back(dialog);
}
