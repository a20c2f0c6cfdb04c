#include "base/Error.h"
#include "db/DbClass.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QFile>

class TestAccounts : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TDbMan> db;

    QStringList names()
    {
        QStringList list { QStringLiteral("stale") };
        db->GetUserNames(&list);
        return list;
    }

private Q_SLOTS:
    void init()
    {
        home = std::make_unique<TestDataHome>();
        db = std::make_unique<TDbMan>();
    }
    void cleanup()
    {
        db.reset();
        home.reset();
    }

    void templateIsCopiedOnceAndNeverOverwritten()
    {
        KIVARO_FILE_STORE_ONLY();
        QVERIFY(QFile::exists(home->dbPath()));
        QVERIFY(db->AddUser(QStringLiteral("A"), QStringLiteral("pw")));
        const QByteArray before = [&] {
            QFile f(home->dbPath());
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        TDbMan second;
        QFile f(home->dbPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QCOMPARE(second.UserExists(QStringLiteral("A")), true);
#ifndef Q_OS_WIN
        QCOMPARE(QFileInfo(home->dbPath()).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
#endif
    }

    void missingDatabaseFailsClearlyAndIsNotCreated()
    {
        KIVARO_FILE_STORE_ONLY();
        QVERIFY(QFile::remove(home->dbPath()));
        try {
            db->UserExists(QStringLiteral("A"));
            QFAIL("no error raised");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("db.sjk")), qPrintable(error.text()));
        }
        QVERIFY(!QFile::exists(home->dbPath()));
    }

    void addUserRefusesTakenNamesAndListsNewestFirst()
    {
        QCOMPARE(names(), QStringList());
        QVERIFY(db->AddUser(QStringLiteral("A"), QStringLiteral("1")));
        QVERIFY(db->AddUser(QStringLiteral("B"), QStringLiteral("2")));
        QVERIFY(!db->AddUser(QStringLiteral("A"), QStringLiteral("other")));
        QCOMPARE(names(), (QStringList { QStringLiteral("B"), QStringLiteral("A") }));
        QVERIFY(db->CheckUser(QStringLiteral("A"), QStringLiteral("1")));
        db->MoveUserToFront(QStringLiteral("A"));
        QCOMPARE(names(), (QStringList { QStringLiteral("A"), QStringLiteral("B") }));
        db->GetUserNames(nullptr);
    }

    void namesAreTakenExactly()
    {
        QVERIFY(db->AddUser(QStringLiteral("A"), QStringLiteral("pw")));
        QVERIFY(db->AddUser(QStringLiteral(" A"), QStringLiteral("pw")));
        QVERIFY(db->AddUser(QStringLiteral("a"), QStringLiteral("pw")));
        QVERIFY(!db->CheckUser(QStringLiteral("A "), QStringLiteral("pw")));
        QVERIFY(!db->CheckUser(QStringLiteral("A"), QStringLiteral("pw ")));
        const QString odd = QStringLiteral("张三's \"shop\"; DELETE FROM Users; --") + QString(8, QChar(0x6BDB));
        // An account has a name of at most 63 bytes (a server's role) that is not one of the review's ranges, and a
        // password, on either ledger.
        for (const QString& refused :
            QStringList { QString(), odd + QString(40, QChar(0x6BDB)), shopRangeName(), ownRangeName() })
            QVERIFY_THROWS_EXCEPTION(KivaroError, db->AddUser(refused, QStringLiteral("pw")));
        QVERIFY_THROWS_EXCEPTION(KivaroError, db->AddUser(QStringLiteral("B"), QString()));
        QVERIFY_THROWS_EXCEPTION(KivaroError, db->SetPassword(QStringLiteral("A"), QString()));
        QVERIFY(db->CheckUser(QStringLiteral("A"), QStringLiteral("pw")));
        QVERIFY(db->AddUser(QStringLiteral("B"), QStringLiteral("pw")));
        QVERIFY(db->AddUser(odd, QStringLiteral("密码")));
        QCOMPARE(names().first(), odd);
        QVERIFY(db->CheckUser(odd, QStringLiteral("密码")));
        QCOMPARE(names().size(), 5);
    }

    void deleteUserNeedsThePasswordAndKeepsSales()
    {
        QVERIFY(db->AddUser(QStringLiteral("A"), QStringLiteral("pw")));
        addRecord(*db, QStringLiteral("A"), QStringLiteral("2009/01/01"), QStringLiteral("毛巾"), QStringLiteral("1"),
            QStringLiteral("10.00"), QStringLiteral("6.00"), QString());
        QVERIFY(!db->DeleteUser(QStringLiteral("A"), QStringLiteral("wrong")));
        QVERIFY(db->UserExists(QStringLiteral("A")));
        QVERIFY(db->DeleteUser(QStringLiteral("A"), QStringLiteral("pw")));
        QVERIFY(!names().contains(QStringLiteral("A")));
        // A server's role outlives the account, with its password.
        QVERIFY(!db->CheckUser(QStringLiteral("A"), QStringLiteral("pw")));
        QVERIFY(db->AddUser(QStringLiteral("A"), testingOnServer() ? QStringLiteral("pw") : QStringLiteral("new")));
        QStringList detail, daily, products, ranking;
        queryReport(*db, QStringLiteral("A"), QStringLiteral("2009/01/01"), QStringLiteral("2009/01/01"), detail, daily,
            products, ranking);
        QCOMPARE(detail.size(), 7);
        QCOMPARE(detail.at(2), QStringLiteral("毛巾"));
    }

    void changePasswordNeedsTheOldOne()
    {
        QVERIFY(db->AddUser(QStringLiteral("A"), QStringLiteral("old")));
        QVERIFY(!db->ChangePassword(QStringLiteral("A"), QStringLiteral("wrong"), QStringLiteral("new")));
        QVERIFY(db->CheckUser(QStringLiteral("A"), QStringLiteral("old")));
        QVERIFY(db->ChangePassword(QStringLiteral("A"), QStringLiteral("old"), QStringLiteral("new")));
        QVERIFY(db->CheckUser(QStringLiteral("A"), QStringLiteral("new")));
        QVERIFY(!db->CheckUser(QStringLiteral("A"), QStringLiteral("old")));
        QVERIFY(!db->ChangePassword(QStringLiteral("nobody"), QStringLiteral("x"), QStringLiteral("y")));
    }

    void passwordsNeverReachTheFile()
    {
        KIVARO_FILE_STORE_ONLY();
        const QString password = QStringLiteral("Secret-Pass-2026");
        QVERIFY(db->AddUser(QStringLiteral("A"), password));
        QFile f(home->dbPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(!bytes.contains(password.toUtf8()));
        QVERIFY(!bytes.contains(password.toUtf8().toBase64()));
        QVERIFY(bytes.contains("$argon2id$"));
    }
};

KIVARO_TEST_MAIN(TestAccounts)
#include "tst_accounts.moc"
