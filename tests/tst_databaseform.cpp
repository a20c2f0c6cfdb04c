// Choosing the ledger: the login names it without a password, the chooser takes a server only after it answered and
// keeps no password, the password prompt, and product names kept on the server.

#include "db/DbClass.h"
#include "forms/BusyCursor.h"
#include "forms/DatabaseForm.h"
#include "forms/LoginForm.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "tests/TestUtil.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>

#define FILES_ONLY()                                                                                                   \
    do {                                                                                                               \
        if (testingOnServer())                                                                                         \
            QSKIP("runs in the file-only run");                                                                        \
    } while (false)
#define SERVER_ONLY()                                                                                                  \
    do {                                                                                                               \
        if (!testingOnServer())                                                                                        \
            QSKIP("runs against a server: pg_virtualenv with KIVARO_TEST_SERVER=1");                                   \
    } while (false)

namespace {

const QString kSecret = QStringLiteral("s3cret");

void clickLink(QWidget* login)
{
    QTest::mouseClick(child<QLabel>(login, "LabelChangeDatabase"), Qt::LeftButton);
}

void chooseServer(QWidget* chooser, const QString& connection)
{
    QTest::mouseClick(child<QRadioButton>(chooser, "rbServer"), Qt::LeftButton);
    auto* edit = child<QLineEdit>(chooser, "editConnection");
    edit->clear();
    QTest::keyClicks(edit, connection);
}

QStringList listed(QComboBox* box)
{
    QStringList names;
    for (int i = 0; i < box->count(); ++i)
        names.append(box->itemText(i));
    return names;
}

} // namespace

class TestDatabaseForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;

    QString settingsFile() const { return home->base() + QStringLiteral("/config/Kivaro/Kivaro.conf"); }

private Q_SLOTS:
    void init()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
    }
    void cleanup()
    {
        setCurrentLedger(std::nullopt);
        qunsetenv("KIVARO_DATABASE");
        hooks.reset();
        home.reset();
    }

    void loginNamesTheLedger_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("shown");
        QTest::newRow("this computer") << QString() << QStringLiteral("账本：本机");
        QTest::newRow("server URI with a password")
            << QStringLiteral("postgresql://kivaro:%1@127.0.0.1:1/ledger?connect_timeout=2").arg(kSecret)
            << QStringLiteral("账本：127.0.0.1:1/ledger");
        const QString longName = QStringLiteral("shop_ledger_of_the_second_branch_by_the_river_gate_north");
        QTest::newRow("long name")
            << QStringLiteral("host=127.0.0.1 port=1 dbname=%1 password=%2 connect_timeout=2").arg(longName, kSecret)
            << QStringLiteral("账本：127.0.0.1:1/") + longName;
    }

    // Shown in the free room above the name field, whole or elided, never with a password; an unreachable server is
    // named in one message and the dialog still opens, with no names.
    void loginNamesTheLedger()
    {
        FILES_ONLY();
        QFETCH(QString, database);
        QFETCH(QString, shown);
        if (!database.isEmpty())
            qputenv("KIVARO_DATABASE", database.toUtf8());
        TfrmLogin login;
        login.show();
        const QStringList messages = MessageBox::takeShownTexts();
        auto* label = child<QLabel>(&login, "LabelDatabase");
        auto* link = child<QLabel>(&login, "LabelChangeDatabase");
        QCOMPARE(link->text(), QStringLiteral("更改…"));
        if (label->text() != shown) {
            QVERIFY2(label->text().contains(QStringLiteral("…")), qPrintable(label->text()));
            QCOMPARE(label->toolTip(), shown);
        }
        for (const QString& text : messages + QStringList { label->text(), label->toolTip() })
            QVERIFY2(!text.contains(kSecret), qPrintable(text));
        if (database.isEmpty()) {
            QVERIFY(messages.isEmpty());
        } else {
            QCOMPARE(messages.size(), 1);
            QVERIFY2(messages.first().contains(QStringLiteral("“%1”").arg(shown.mid(3))), qPrintable(messages.first()));
            QCOMPARE(child<QComboBox>(&login, "ComboBox1")->count(), 0);
        }
        QCOMPARE(login.size(), QSize(346, 181));
        QVERIFY(label->geometry().right() < link->geometry().left());
        QVERIFY(login.rect().contains(link->geometry()));
        for (const QWidget* other : login.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other != label && other != link)
                QVERIFY2(!other->geometry().intersects(label->geometry().united(link->geometry())),
                    qPrintable(other->objectName()));
        }
    }

    void unreachableServerChangesNothing_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused")
            << QStringLiteral("postgresql://kivaro:%1@127.0.0.1:1/ledger?connect_timeout=2").arg(kSecret)
            << QStringLiteral("“127.0.0.1:1/ledger”");
        QTest::newRow("not a connection")
            << QStringLiteral("shop-server password=%1").arg(kSecret) << QStringLiteral("无法识别数据库连接");
        // A quote inside a password ends libpq's quoted pieces early: nothing of its sentence may be shown.
        QTest::newRow("quote in a password")
            << QStringLiteral("host=::1 dbname=ledger password='pw'%1@[::1]x/ledger").arg(kSecret)
            << QStringLiteral("无法识别数据库连接");
        QTest::newRow("quote in a URI's password")
            << QStringLiteral("postgresql://kivaro:pw'%1@[::1]x/ledger").arg(kSecret)
            << QStringLiteral("无法识别数据库连接");
    }

    void unreachableServerChangesNothing()
    {
        FILES_ONLY();
        QFETCH(QString, connection);
        QFETCH(QString, reason);
        const LedgerLocation before = currentLedger();
        TfrmDatabase chooser;
        chooser.show();
        QVERIFY(child<QRadioButton>(&chooser, "rbLocal")->isChecked());
        QVERIFY(!child<QLineEdit>(&chooser, "editConnection")->isEnabled());
        chooseServer(&chooser, connection);
        for (const char* button : { "btnTestConnection", "btnOk" }) {
            QTest::mouseClick(child<QPushButton>(&chooser, button), Qt::LeftButton);
            const QStringList shown = MessageBox::takeShownTexts();
            QCOMPARE(shown.size(), 1);
            QVERIFY2(shown.first().startsWith(QStringLiteral("连接失败：")) && shown.first().contains(reason)
                    && !shown.first().contains(kSecret),
                qPrintable(shown.first()));
            QVERIFY(!QApplication::overrideCursor());
            QVERIFY(child<QPushButton>(&chooser, button)->isEnabled());
        }
        QTest::keyClick(&chooser, Qt::Key_Escape);
        QVERIFY(chooser.isVisible());
        QCOMPARE(currentLedger(), before);
        QVERIFY(!savedServer());
        QVERIFY(!QFile::exists(settingsFile()));
        QTest::mouseClick(child<QPushButton>(&chooser, "btnCancel"), Qt::LeftButton);
        QCOMPARE(chooser.result(), int(QDialog::Rejected));
        QCOMPARE(currentLedger(), before);
    }

    // Asked away from the GUI thread, or declined, the prompt gives nothing; it shows the normal cursor over the busy
    // one. (Answering it is covered against a server below.)
    void passwordPromptDeclines()
    {
        FILES_ONLY();
        BusyCursor busy;
        whenDialogShows("frmServerPassword", [](QWidget* prompt) {
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
            QCOMPARE(child<QLineEdit>(prompt, "editPassword")->echoMode(), QLineEdit::Password);
            QTest::keyClicks(child<QLineEdit>(prompt, "editPassword"), QStringLiteral("x"));
            QTest::mouseClick(child<QPushButton>(prompt, "btnCancel"), Qt::LeftButton);
        });
        QVERIFY(!askServerPassword(QStringLiteral("shop"), QString()));
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        std::optional<QString> elsewhere = QStringLiteral("untouched");
        std::unique_ptr<QThread> worker(
            QThread::create([&elsewhere] { elsewhere = askServerPassword(QStringLiteral("shop"), QString()); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QVERIFY(!elsewhere);
    }

    // From this computer's ledger to a server: 测试连接 gives an empty database its tables, 确定 keeps the choice
    // without the typed password, and the login lists the server's users.
    void choosingAReachableServer()
    {
        SERVER_ONLY();
        qunsetenv("KIVARO_DATABASE");
        QVERIFY(QDir().mkpath(home->dataDir()));
        QVERIFY(TDbMan(home->dataDir()).AddUser(QStringLiteral("本机用户"), QStringLiteral("pw")));
        const QString password = qEnvironmentVariable("PGPASSWORD");
        QVERIFY2(!password.isEmpty(), "PGPASSWORD names the test server's password");
        const LedgerLocation server = LedgerLocation::server(home->server()->connection());
        TfrmLogin login;
        login.show();
        QCOMPARE(listed(child<QComboBox>(&login, "ComboBox1")), QStringList { QStringLiteral("本机用户") });
        whenDialogShows("frmDatabase", [&](QWidget* chooser) {
            chooseServer(chooser, server.connection + QStringLiteral(" password=") + password);
            QTest::mouseClick(child<QPushButton>(chooser, "btnTestConnection"), Qt::LeftButton);
            QCOMPARE(MessageBox::takeShownTexts(),
                QStringList { QStringLiteral("连接成功：服务器“%1”上的账本可以使用。").arg(server.displayName()) });
            QCOMPARE(home->server()->value(QStringLiteral("SELECT count(*) FROM kivaro_schema")), QStringLiteral("1"));
            TDbMan onServer(server);
            QVERIFY(onServer.AddUser(QStringLiteral("甲"), QStringLiteral("甲-pw")));
            QVERIFY(onServer.AddUser(QStringLiteral("乙"), QStringLiteral("乙-pw")));
            QTest::mouseClick(child<QPushButton>(chooser, "btnOk"), Qt::LeftButton);
            QVERIFY(!child<QLineEdit>(chooser, "editConnection")->text().contains(password));
        });
        clickLink(&login);
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
        QCOMPARE(child<QLabel>(&login, "LabelDatabase")->text(), QStringLiteral("账本：") + server.displayName());
        QStringList serverNames;
        TDbMan(server).GetUserNames(&serverNames);
        QCOMPARE(listed(child<QComboBox>(&login, "ComboBox1")), serverNames);
        QVERIFY(serverNames.contains(QStringLiteral("甲")) && !serverNames.contains(QStringLiteral("本机用户")));

        QFile settings(settingsFile());
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QByteArray kept = settings.readAll();
        QVERIFY2(kept.contains(home->server()->name().toUtf8()) && !kept.contains("password")
                && !kept.contains(password.toUtf8()),
            kept.constData());
        QCOMPARE(currentLedger().connection, *savedServer());

        child<QComboBox>(&login, "ComboBox1")->setEditText(QStringLiteral("甲"));
        typeText(child<QLineEdit>(&login, "Edit1"), QStringLiteral("甲-pw"));
        QTest::keyClick(child<QLineEdit>(&login, "Edit1"), Qt::Key_Return);
        QCOMPARE(login.result(), int(QDialog::Accepted));
    }

    // A server that wants a password the environment does not hold asks once; the answer serves every later
    // connection of this process and is written nowhere.
    void passwordAskedOnceAndKeptInMemory()
    {
        SERVER_ONLY();
        const QString password = qEnvironmentVariable("PGPASSWORD");
        const LedgerLocation server = LedgerLocation::server(home->server()->connection());
        qputenv("PGPASSWORD", "wrong");
        int asked = 0;
        const ScopedHook prompt(TDbMan::passwordPrompt,
            std::function<std::optional<QString>(const QString&, const QString&)>(
                [&](const QString& name, const QString& reason) {
                    ++asked;
                    return askServerPassword(name, reason);
                }));
        whenDialogShows("frmServerPassword", [&password](QWidget* dialog) {
            QTest::keyClicks(child<QLineEdit>(dialog, "editPassword"), password);
            QTest::mouseClick(child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
        });
        const bool added = TDbMan(server).AddUser(QStringLiteral("甲"), QStringLiteral("pw"));
        const bool seen = TDbMan(server).UserExists(QStringLiteral("甲"));
        qputenv("PGPASSWORD", password.toUtf8());
        QVERIFY(added && seen);
        QCOMPARE(asked, 1);
        QVERIFY(!QFile::exists(settingsFile()));
    }

    // The product names live on the server: what one computer adds, another one sees; each user has their own.
    void productNamesFollowTheUserOnTheServer()
    {
        SERVER_ONLY();
        const QString user = QStringLiteral("张三");
        const auto addLine = [](TfrmMain* form, const QString& product) {
            typeText(child<QComboBox>(form, "ComboBox1"), product);
            for (const char* field : { "ComboBox2", "ComboBox3", "ComboBox4" })
                child<QLineEdit>(form, field)->setText(QStringLiteral("1"));
            QTest::mouseClick(child<QPushButton>(form, "Button1"), Qt::LeftButton);
            return listed(child<QComboBox>(form, "ComboBox1"));
        };
        TfrmMain first;
        first.PrepareForUser(user);
        TfrmMain second;
        second.PrepareForUser(user);
        QCOMPARE(addLine(&first, QStringLiteral("毛巾")), QStringList { QStringLiteral("毛巾") });
        QCOMPARE(
            addLine(&second, QStringLiteral("牙刷")), (QStringList { QStringLiteral("牙刷"), QStringLiteral("毛巾") }));

        whenDialogShows("frmEditName", [](QWidget* editor) {
            auto* memo = child<QPlainTextEdit>(editor, "Memo1");
            QCOMPARE(memo->toPlainText(), QStringLiteral("牙刷\n毛巾"));
            memo->setPlainText(QStringLiteral("香皂\n牙刷"));
            QTest::mouseClick(child<QPushButton>(editor, "Button1"), Qt::LeftButton);
        });
        QTest::mouseClick(child<QPushButton>(&first, "Button3"), Qt::LeftButton);
        TDbMan elsewhere;
        QCOMPARE(elsewhere.ProductNames(user), (QStringList { QStringLiteral("香皂"), QStringLiteral("牙刷") }));
        QVERIFY(!elsewhere.ProductNames(QStringLiteral("李四")));
        QCOMPARE(QDir(home->dataDir()).entryList({ QStringLiteral("*-products.txt") }), QStringList());
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }
};

KIVARO_TEST_MAIN(TestDatabaseForm)
#include "tst_databaseform.moc"
