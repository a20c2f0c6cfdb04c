#include "base/Error.h"
#include "base/TextCodec.h"
#include "db/ProductsFile.h"
#include "tests/TestUtil.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <thread>

class TestProducts : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("names.txt")); }

private Q_SLOTS:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("empty file") << QByteArray() << QStringList();
        QTest::newRow("CR LF") << QByteArray("A\r\nB\r\n") << QStringList { "A", "B" };
        QTest::newRow("no final break") << QByteArray("A\r\nB") << QStringList { "A", "B" };
        QTest::newRow("lone CR and LF") << QByteArray("A\rB\nC") << QStringList { "A", "B", "C" };
        QTest::newRow("LF CR is two breaks") << QByteArray("A\n\rB") << QStringList { "A", "", "B" };
        QTest::newRow("empty lines kept") << QByteArray("\r\nA\r\n\r\n") << QStringList { "", "A", "" };
        QTest::newRow("blanks kept") << QByteArray(" B \r\nB\r\n") << QStringList { " B ", "B" };
        QTest::newRow("stops at NUL") << QByteArray("A\r\nB\0C\r\nD\r\n", 12) << QStringList { "A", "B" };
        QTest::newRow("GB18030") << toGb18030(QStringLiteral("张三牌毛巾\r\n")) << QStringList { "张三牌毛巾" };
    }

    void decode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, names);
        QCOMPARE(decodeProductNames(bytes), names);
    }

    void putFirst_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("known name") << QStringList { "A", "B", "C" } << "B" << QStringList { "B", "A", "C" };
        QTest::newRow("new name") << QStringList { "A", "B", "C" } << "D" << QStringList { "D", "A", "B", "C" };
        QTest::newRow("stored with a blank") << QStringList { "A", " B", "C" } << "B" << QStringList { "B", "A", "C" };
        QTest::newRow("typed with blanks") << QStringList { "A", "B" } << "\tB  " << QStringList { "B", "A" };
        QTest::newRow("letter case") << QStringList { "towel" } << "Towel" << QStringList { "Towel", "towel" };
        QTest::newRow("first copy only") << QStringList { "B", "A", "B" } << "A" << QStringList { "A", "B", "B" };
        QTest::newRow("empty list") << QStringList() << "毛巾" << QStringList { "毛巾" };
        const QString cafe = QStringLiteral("Caf\u00E9");
        const QString decomposed = QStringLiteral("Cafe\u0301");
        QTest::newRow("stored decomposed") << QStringList { "A", decomposed } << cafe << QStringList { cafe, "A" };
        QTest::newRow("typed decomposed") << QStringList { "A", cafe } << decomposed << QStringList { cafe, "A" };
    }

    void putFirst()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, name);
        QFETCH(QStringList, after);
        QVERIFY(putNameFirst(before, name));
        QCOMPARE(before, after);
    }

    void blankNameChangesNothing()
    {
        QStringList names { "A" };
        for (const QString& blank :
            { QStringLiteral(" \t "), QStringLiteral("\u3000\u3000"), QStringLiteral(" \u3000") })
            QVERIFY(!putNameFirst(names, blank));
        QCOMPARE(names, QStringList { "A" });
    }

    void findsTheFirstEntryThatMatchesTrimmed()
    {
        const QStringList names { QStringLiteral("B"), QStringLiteral(" A "), QStringLiteral("A"), QString() };
        QCOMPARE(indexOfName(names, QStringLiteral("A")), 1);
        QCOMPARE(indexOfName(names, QStringLiteral("\tA ")), 1);
        QCOMPARE(indexOfName(names, QStringLiteral("a")), -1);
        QCOMPARE(indexOfName(names, QStringLiteral("B")), 0);
        QCOMPARE(indexOfName({}, QStringLiteral("B")), -1);
    }

    // The names are converted together; the bytes must be those of each name converted on its own.
    void encodesEveryNameAsItsOwnText()
    {
        const QStringList names { QStringLiteral("张三牌毛巾"), QStringLiteral("Towel 500ml"), QString(),
            QStringLiteral("笑脸😀"), QStringLiteral("half") + QChar(0xD83D), QChar(0xDE00) + QStringLiteral("rest"),
            QStringLiteral("€ ß"), QStringLiteral("末尾") };
        QByteArray expected;
        for (const QString& name : names)
            expected += toGb18030(name) + "\r\n";
        QCOMPARE(encodeProductNames(names), expected);
        QCOMPARE(decodeProductNames(encodeProductNames(names.mid(0, 4))), names.mid(0, 4));
        QCOMPARE(encodeProductNames({}), QByteArray());
    }

    void writesGb18030WithCrLfOwnerOnly()
    {
        writeProductNames(path(), { QStringLiteral("张三牌毛巾"), QString(), QStringLiteral("Towel") });
        QFile file(path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), toGb18030(QStringLiteral("张三牌毛巾")) + QByteArray("\r\n\r\nTowel\r\n"));
        // Windows does not replace a file that is open.
        file.close();
#ifndef Q_OS_WIN
        const QFileDevice::Permissions userBits = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        QCOMPARE(file.permissions() & ~userBits, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
        QCOMPARE(readProductNames(path()),
            QStringList({ QStringLiteral("张三牌毛巾"), QString(), QStringLiteral("Towel") }));

        writeProductNames(path(), {});
        QCOMPARE(QFileInfo(path()).size(), 0);
        QCOMPARE(readProductNames(path()), QStringList());
    }

    // Two instances of one user side by side: each name goes on top of what the file holds when it is written, and
    // the lock keeps one writer from reading before the other has written, so no name is lost.
    void twoWritersKeepEachOthersNames()
    {
        const QTemporaryDir own;
        const QString path = own.filePath(QStringLiteral("names.txt"));
        const int rounds = 50;
        std::atomic<int> failures = 0;
        const auto writer = [&](QChar stem) {
            for (int i = 0; i < rounds; ++i) {
                try {
                    rememberProductName(path, stem + QString::number(i));
                } catch (const KivaroError&) {
                    ++failures;
                }
            }
        };
        std::thread first(writer, QChar(u'甲'));
        std::thread second(writer, QChar(u'乙'));
        first.join();
        second.join();
        QCOMPARE(failures, 0);
        QCOMPARE(readProductNames(path).value_or(QStringList()).size(), 2 * rounds);
        // Nothing is left behind but the names and, on Windows, the file the folder's lock is taken on.
        QStringList left = QDir(own.path()).entryList(QDir::Files);
#ifdef Q_OS_WIN
        left.removeAll(QStringLiteral("kivaro.lock"));
#endif
        QCOMPARE(left, QStringList { QStringLiteral("names.txt") });
    }

    void missingAndUnusableFiles()
    {
        QCOMPARE(readProductNames(dir.filePath(QStringLiteral("missing.txt"))), std::nullopt);
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.txt")));
        QVERIFY_THROWS_EXCEPTION(KivaroError, readProductNames(dir.filePath(QStringLiteral("folder.txt"))));
        const QString noFolder = dir.filePath(QStringLiteral("no/such/names.txt"));
        QVERIFY_THROWS_EXCEPTION(KivaroError, writeProductNames(noFolder, { "A" }));
    }
};

KIVARO_TEST_MAIN(TestProducts)
#include "tst_products.moc"
