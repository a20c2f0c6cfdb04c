// What the program asks of the operating system: the same answers from the POSIX calls on Linux and from their
// Windows counterparts (this test runs under Wine too).

#include "base/Platform.h"
#include "tests/TestUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A replacement is one step: the new file in the old one's place, or, when that cannot be, both left as they
    // were and the reason told.
    void fileIsReplacedInOneStep()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("账本.txt"));
        const QString work = dir.filePath(QStringLiteral("账本.txt.new"));
        QVERIFY(writeFile(target, "old"));
        QVERIFY(writeFile(work, "new"));
        QCOMPARE(Platform::syncFile(work), QString());
        QCOMPARE(Platform::replaceFile(work, target), QString());
        QCOMPARE(readFile(target), QByteArray("new"));
        QVERIFY(!QFile::exists(work));
        // Into a place where nothing was.
        QVERIFY(writeFile(work, "first"));
        QCOMPARE(Platform::replaceFile(work, dir.filePath(QStringLiteral("new.txt"))), QString());
        QCOMPARE(readFile(dir.filePath(QStringLiteral("new.txt"))), QByteArray("first"));
        // A folder in the way is not replaced.
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("folder/inside")));
        QVERIFY(writeFile(work, "kept"));
        QVERIFY(!Platform::replaceFile(work, dir.filePath(QStringLiteral("folder"))).isEmpty());
        QCOMPARE(readFile(work), QByteArray("kept"));
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder/inside"))).isDir());
        QVERIFY(!Platform::syncFile(dir.filePath(QStringLiteral("missing"))).isEmpty());
    }

    void oneFileUnderTwoNames()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("db.sjk"));
        QVERIFY(writeFile(file, "x"));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("other")), "x"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        QVERIFY(Platform::sameFile(file, dir.path() + QStringLiteral("/sub/../db.sjk")));
        QVERIFY(!Platform::sameFile(file, dir.filePath(QStringLiteral("other"))));
        QVERIFY(!Platform::sameFile(file, dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!Platform::sameFile(dir.filePath(QStringLiteral("missing")), dir.filePath(QStringLiteral("missing"))));
    }

    // One holder at a time, in one process or two; a holder that is killed lets go.
    void folderLockIsExclusive()
    {
        QTemporaryDir dir;
        QString why;
        {
            Platform::FolderLock first(dir.path());
            QCOMPARE(first.tryLock(&why), Platform::FolderLock::State::Locked);
            Platform::FolderLock second(dir.path());
            QCOMPARE(second.tryLock(&why), Platform::FolderLock::State::Busy);
        }
        Platform::FolderLock again(dir.path());
        QCOMPARE(again.tryLock(&why), Platform::FolderLock::State::Locked);
        Platform::FolderLock missing(dir.filePath(QStringLiteral("missing")));
        QCOMPARE(missing.tryLock(&why), Platform::FolderLock::State::Failed);
        QVERIFY(!why.isEmpty());
    }
    void killedHolderLetsGo()
    {
        QTemporaryDir dir;
        ChildProcess holder({ QStringLiteral("lockfolder"), dir.path() });
        QVERIFY(holder.waitReady());
        Platform::FolderLock lock(dir.path());
        QString why;
        QCOMPARE(lock.tryLock(&why), Platform::FolderLock::State::Busy);
        holder.killNow();
        QElapsedTimer waited;
        waited.start();
        Platform::FolderLock::State state = Platform::FolderLock::State::Busy;
        while (state == Platform::FolderLock::State::Busy && waited.elapsed() < 10'000) {
            QThread::msleep(20);
            state = lock.tryLock(&why);
        }
        QCOMPARE(state, Platform::FolderLock::State::Locked);
    }
};

KIVARO_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
