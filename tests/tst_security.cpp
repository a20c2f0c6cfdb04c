// What another user of the computer, or a hostile text, could get out of the program's files: no password in any
// form, folders and files private to their owner, and texts that reach the database only as data.

#include "base/HiClass.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "forms/EntryPage.h"
#include "forms/MainForm.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <sys/stat.h>

namespace {

// Every byte form in which a password could have been written: plain in each encoding, hexadecimal, and Base64
// at each of the three alignments it can have inside a longer run of Base64.
QList<QByteArray> byteForms(const QString& password)
{
    QList<QByteArray> raw { password.toUtf8(), toGb18030(password) };
    QByteArray utf16;
    for (const QChar c : password) {
        utf16 += char(c.unicode() & 0xFF);
        utf16 += char(c.unicode() >> 8);
    }
    raw.append(utf16);
    QList<QByteArray> forms = raw;
    for (const QByteArray& bytes : raw) {
        forms.append(bytes.toHex());
        forms.append(bytes.toHex().toUpper());
        for (int lead = 0; lead < 3; ++lead) {
            const QByteArray base64 = QByteArray(QByteArray(lead, '\0') + bytes).toBase64();
            // Only the characters whose six bits all come from the password are the same in any context.
            const int first = (8 * lead + 5) / 6;
            const int end = (8 * (lead + int(bytes.size()))) / 6;
            forms.append(base64.mid(first, end - first));
        }
    }
    forms.append(EncodeText(password).toLatin1());
    return forms;
}

// The files of the data folder with a password form inside, each with the form found.
QStringList filesHolding(const QString& folder, const QString& password)
{
    QStringList found;
    QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        const QByteArray bytes = readAll(path);
        for (const QByteArray& form : byteForms(password)) {
            if (bytes.contains(form))
                found.append(QFileInfo(path).fileName() + QStringLiteral(": ") + QString::fromLatin1(form.toHex()));
        }
    }
    return found;
}

QString hundredThousand()
{
    const QString piece = QStringLiteral("张三'\"; DROP TABLE Records;--\t\r\n毛巾%s😀");
    QString text;
    while (text.size() < 100'000)
        text += piece;
    text.truncate(100'000);
    // A surrogate pair cut in half cannot be stored in any encoding; end on a whole character.
    if (text.back().isHighSurrogate())
        text.back() = QLatin1Char('x');
    return text;
}

QString controlCharacters()
{
    QString text;
    for (char16_t c = 0; c < 32; ++c)
        text += QChar(c);
    return text + QChar(0x7F) + QStringLiteral("末尾");
}

} // namespace

class TestSecurity : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDataHome> home;

    static void addHostileTexts()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("single quotes") << QStringLiteral("O'Brien's '毛巾'");
        QTest::newRow("double quotes") << QStringLiteral("\"quoted\" “中文引号”");
        QTest::newRow("SQL fragment") << QStringLiteral("x'); DROP TABLE Records; --");
        QTest::newRow("SQL condition") << QStringLiteral("' OR '1'='1");
        QTest::newRow("format and escapes") << QStringLiteral("%s%n%1 \\' \\\" \\\\ ?");
        QTest::newRow("control characters") << controlCharacters();
        QTest::newRow("line breaks") << QStringLiteral("\r\n第一行\r\n\n\r第二行\r\n");
        QTest::newRow("outside GBK") << QStringLiteral("😀𠀀€ß");
        QTest::newRow("100000 characters") << hundredThousand();
        QTest::newRow("100000 quotes") << QString(100'000, QLatin1Char('\''));
    }

    // A server's texts cannot hold U+0000: it is refused in words, nothing is stored, and the test goes on with the
    // rest of the text.
    // A text with U+0000 is refused where it cannot be kept: on a server always, and in a sales line on either
    // store, so that both keep the same lines.
    void serverRefusesNul(QString& text, const std::function<void()>& store, bool everywhere = false)
    {
        if ((!home->server() && !everywhere) || !text.contains(QChar(0)))
            return;
        try {
            store();
            QFAIL("a text with U+0000 was stored on the server");
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("U+0000")), qPrintable(error.text()));
        }
        QCOMPARE(storedLineCount(*home), 0);
        text.remove(QChar(0));
    }

private Q_SLOTS:
    void init() { home = std::make_unique<TestDataHome>(); }
    void cleanup() { home.reset(); }

    void noPasswordBytesInTheFiles()
    {
        KIVARO_FILE_STORE_ONLY();
        const QStringList passwords { QStringLiteral("correct horse battery"), QStringLiteral("张三的密码2024"),
            QStringLiteral("pässwörd-Ünïcode"), QStringLiteral("P@ss'; DROP TABLE Users;--"),
            QStringLiteral("oldSecret-7731"), QStringLiteral("新密码NewSecret99"), QStringLiteral("deleted-user-pw") };
        {
            TDbMan db;
            for (int i = 0; i < 5; ++i)
                QVERIFY(db.AddUser(QStringLiteral("用户%1").arg(i), passwords.at(i)));
            QVERIFY(db.ChangePassword(QStringLiteral("用户4"), passwords.at(4), passwords.at(5)));
            QVERIFY(db.AddUser(QStringLiteral("gone"), passwords.at(6)));
            QVERIFY(db.DeleteUser(QStringLiteral("gone"), passwords.at(6)));
            QVERIFY(db.CheckUser(QStringLiteral("用户0"), passwords.at(0)));
            db.MoveUserToFront(QStringLiteral("用户0"));
        }
        QStringList files;
        qint64 bytes = 0;
        QDirIterator all(home->dataDir(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (all.hasNext()) {
            files.append(QFileInfo(all.next()).fileName());
            bytes += all.fileInfo().size();
        }
        QVERIFY(files.contains(QStringLiteral("db.sjk")));
        qsizetype forms = 0;
        for (const QString& password : passwords) {
            forms += byteForms(password).size();
            QVERIFY2(filesHolding(home->dataDir(), password).isEmpty(),
                qPrintable(
                    password + QStringLiteral(" found in ") + filesHolding(home->dataDir(), password).join(", ")));
        }
        qInfo("%lld byte forms of %lld passwords searched in %s (%lld bytes): none found", qint64(forms),
            qint64(passwords.size()), qPrintable(files.join(QStringLiteral(", "))), bytes);
    }

    // The search above must be able to find a password where one is written; here one is, as a product name.
    void searchFindsAStoredText()
    {
        KIVARO_FILE_STORE_ONLY();
        const QString secret = QStringLiteral("张三的密码2024");
        addRecord(TDbMan(), QStringLiteral("x"), QStringLiteral("2024/05/01"), QStringLiteral("前缀") + secret,
            QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1"), QString());
        QVERIFY(!filesHolding(home->dataDir(), secret).isEmpty());
        QVERIFY(filesHolding(home->dataDir(), QStringLiteral("never-stored-9931")).isEmpty());
    }

    // Private modes come from the program, not from a strict umask.
    void privateModesEvenWithAnOpenUmask()
    {
        KIVARO_FILE_STORE_ONLY();
        const mode_t previous = umask(0);
        const auto restore = qScopeGuard([previous] { umask(previous); });
        {
            TDbMan db;
            QVERIFY(db.AddUser(QStringLiteral("A"), QStringLiteral("pw-123456")));
        }
        // The products file is written when the first line is added on the bookkeeping page.
        TfrmMain form;
        form.PrepareForUser(QStringLiteral("A"));
        typeText(child<QComboBox>(&form, "ComboBox1"), QStringLiteral("毛巾"));
        for (const char* field : { "ComboBox2", "ComboBox3", "ComboBox4" })
            typeText(child<QLineEdit>(&form, field), QStringLiteral("1"));
        QTest::mouseClick(child<QPushButton>(&form, "Button1"), Qt::LeftButton);
        child<TEntryPage>(&form, "Panel2")->flushProductNames();
        const QString products
            = home->dataDir() + QLatin1Char('/') + THi::GetMd5(QStringLiteral("A")) + "-products.txt";
        QVERIFY(QFile::exists(products));

        [[maybe_unused]] const auto ownerBits = [](const QString& path) {
            return QFileInfo(path).permissions()
                & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
        };
#ifndef Q_OS_WIN
        QCOMPARE(ownerBits(home->dataDir()), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(ownerBits(home->dbPath()), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(ownerBits(products), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
    }

    void hostileAccountNames_data()
    {
        addHostileTexts();
    }

    // The text serves as the name and as the password.
    void hostileAccountNames()
    {
        QFETCH(QString, text);
        TDbMan db;
        serverRefusesNul(
            text, [&] { db.AddUser(text, QStringLiteral("pw")); }, true);
        QVERIFY(db.AddUser(QStringLiteral("neighbour"), QStringLiteral("neighbour-pw")));
        // A server's account is a role, whose name is at most 63 bytes: a longer one is refused, not cut, on either
        // ledger, so that a file's accounts can always move to a server.
        if (text.toUtf8().size() > 63) {
            QVERIFY_THROWS_EXCEPTION(KivaroError, db.AddUser(text, text));
            QVERIFY(!db.UserExists(text));
            return;
        }
        QVERIFY(db.AddUser(text, text));
        QVERIFY(db.UserExists(text));
        QVERIFY(!db.AddUser(text, QStringLiteral("again")));
        QVERIFY(db.CheckUser(text, text));
        QVERIFY(!db.CheckUser(text, text + QLatin1Char(' ')));
        QVERIFY(!db.CheckUser(text.left(text.size() - 1), text));
        QStringList names;
        db.GetUserNames(&names);
        QCOMPARE(names, (QStringList { text, QStringLiteral("neighbour") }));
        QVERIFY(db.ChangePassword(text, text, text + text));
        QVERIFY(db.CheckUser(text, text + text));
        QVERIFY(db.DeleteUser(text, text + text));
        QVERIFY(!db.UserExists(text));
        // The neighbour's account is untouched by whatever the text held.
        QVERIFY(db.CheckUser(QStringLiteral("neighbour"), QStringLiteral("neighbour-pw")));
    }

    void hostileSalesTexts_data()
    {
        addHostileTexts();
    }

    // The text serves as user name, product name and memo of a saved line.
    void hostileSalesTexts()
    {
        QFETCH(QString, text);
        TDbMan db;
        serverRefusesNul(
            text,
            [&] {
                addRecord(db, QStringLiteral("x"), QStringLiteral("2024/05/01"), text, QStringLiteral("1"),
                    QStringLiteral("1.00"), QStringLiteral("0.50"), text);
            },
            true);
        addRecord(db, QStringLiteral("neighbour"), QStringLiteral("2024/05/01"), QStringLiteral("毛巾"),
            QStringLiteral("1"), QStringLiteral("1.00"), QStringLiteral("0.50"), QString());
        addRecords(db, text,
            { { QStringLiteral("2024/05/01"), text, QStringLiteral("2"), QStringLiteral("3.10"), QStringLiteral("1.20"),
                  text },
                { QStringLiteral("2024/05/02"), QStringLiteral("毛巾"), QStringLiteral("1"), QStringLiteral("1.00"),
                    QStringLiteral("0.10"), text } });
        QStringList detail, daily, products, ranking;
        queryReport(
            db, text, QStringLiteral("2024/01/01"), QStringLiteral("2024/12/31"), detail, daily, products, ranking);
        QCOMPARE(detail.size(), 14);
        QCOMPARE(detail.mid(1, 6),
            (QStringList { QStringLiteral("2024-05-01"), text, QStringLiteral("2"), QStringLiteral("3.10"),
                QStringLiteral("1.20"), text }));
        QCOMPARE(detail.at(13), text);
        QCOMPARE(products.at(1), text);
        QCOMPARE(ranking.at(0), text);
        QCOMPARE(ranking.at(5), QStringLiteral("毛巾"));

        queryReport(db, QStringLiteral("neighbour"), QStringLiteral("2024/01/01"), QStringLiteral("2024/12/31"), detail,
            daily, products, ranking);
        QCOMPARE(detail.size(), 7);
        QCOMPARE(detail.at(2), QStringLiteral("毛巾"));
    }
};

KIVARO_TEST_MAIN(TestSecurity)
#include "tst_security.moc"
