#include "base/Error.h"
#include "base/HiClass.h"
#include "tests/TestUtil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

class TestHiClass : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void md5IsLowerCaseHexOfGb18030Bytes()
    {
        QCOMPARE(THi::GetMd5(QStringLiteral("abc")), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
        // "张三" is D5 C5 C8 FD in GB18030.
        QCOMPARE(THi::GetMd5(QStringLiteral("张三")),
            QString::fromLatin1(QCryptographicHash::hash("\xD5\xC5\xC8\xFD", QCryptographicHash::Md5).toHex()));
        QCOMPARE(THi::GetMd5(QStringLiteral("张三")), THi::GetMd5(QStringLiteral("张三")));
    }

    void dataDirIsCreatedPrivateOnce()
    {
        TestDataHome home;
        const QString dir = THi::GetDataDir(QString());
        QCOMPARE(dir, home.dataDir());
        QVERIFY(QFileInfo(dir).isDir());
        // On Windows the access list inherited from %APPDATA% keeps others out; Qt's permission bits do not show it.
#ifndef Q_OS_WIN
        QCOMPARE(QFileInfo(dir).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
            QFile::Permissions());
#endif
        QCOMPARE(THi::GetDataDir(QString()), dir);
        QCOMPARE(THi::GetDataDir(QStringLiteral("Other")), home.base() + QStringLiteral("/Other"));
    }

    void dataDirFailureRaises()
    {
        TestDataHome home;
        // A new account has no base folder yet: every missing level is made, private to the user.
        const QString base = home.base() + QStringLiteral("/missing/deeper");
        TestDataHome::setBase(base);
        QCOMPARE(THi::GetDataDir(QString()), base + QStringLiteral("/Kivaro"));
#ifndef Q_OS_WIN
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::WriteOther | QFile::ExeOther;
        for (const QString& made :
            QStringList { home.base() + QStringLiteral("/missing"), base, base + QStringLiteral("/Kivaro") }) {
            QCOMPARE(QFileInfo(made).permissions() & others, QFile::Permissions());
            QVERIFY(QFileInfo(made).permissions().testFlags(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
#else
        QVERIFY(QFileInfo(base + QStringLiteral("/Kivaro")).isDir());
#endif
        // A file stands where a folder on the way should be.
        TestDataHome::setBase(home.base() + QStringLiteral("/afile/below"));
        QFile blocker(home.base() + QStringLiteral("/afile"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY_THROWS_EXCEPTION(KivaroError, THi::GetDataDir(QString()));
        // A file stands where the folder should be.
        TestDataHome::setBase(home.base());
        QFile file(home.dataDir());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY_THROWS_EXCEPTION(KivaroError, THi::GetDataDir(QString()));
        QVERIFY(QFileInfo(home.dataDir()).isFile());
    }
};

KIVARO_TEST_MAIN(TestHiClass)
#include "tst_hiclass.moc"
