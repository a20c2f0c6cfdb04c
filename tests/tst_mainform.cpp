#include "app/Startup.h"
#include "base/Error.h"
#include "db/DbClass.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "tests/TestUtil.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

class TestMainForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;

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

    void loginOpensTheWindowForTheUser()
    {
        {
            TDbMan db;
            QVERIFY(db.AddUser(QStringLiteral("张三"), QStringLiteral("pw")));
        }
        TfrmMain form;
        whenDialogShows("frmLogin", [](QWidget* login) {
            typeText(child<QLineEdit>(login, "Edit1"), QStringLiteral("pw"));
            QTest::keyClick(child<QLineEdit>(login, "Edit1"), Qt::Key_Return);
        });
        QCOMPARE(form.FormCreate(), TfrmMain::CreateResult::Ready);
        QCOMPARE(form.userName(), QStringLiteral("张三"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Kivaro"));
        QCOMPARE(form.size(), QSize(692, 498));
        auto* userLabel = child<QLabel>(&form, "Label3");
        QCOMPARE(userLabel->text(), QStringLiteral("当前用户：张三"));
        // The header's links follow the user's name without touching it.
        auto* more = child<QLabel>(&form, "LabelMore");
        QVERIFY(userLabel->geometry().right() < more->geometry().left());
        QVERIFY(more->geometry().right() < child<QLabel>(&form, "Label25")->geometry().left());
        QVERIFY(child<QRadioButton>(&form, "RadioButton1")->isChecked());
    }

    // A user's name is shown as typed, never read as markup; both windows come up in the middle of the screen.
    void namesShowAsPlainTextAndWindowsAreCentred()
    {
        const QString name = QStringLiteral("<s>张三</s><font color=red>(管理员)</font><h1>x</h1>");
        {
            TDbMan db;
            QVERIFY(db.AddUser(name, QStringLiteral("pw")));
        }
        const auto centred = [](QWidget* window) {
            const QPoint offset = window->frameGeometry().center() - window->screen()->availableGeometry().center();
            return offset.manhattanLength() <= 2;
        };
        TfrmMain form;
        bool loginCentred = false;
        QStringList richLabels;
        const auto collectRich = [&richLabels](QWidget* window) {
            const QList<QLabel*> labels = window->findChildren<QLabel*>();
            QVERIFY(labels.size() > 5);
            for (const QLabel* label : labels) {
                if (label->textFormat() != Qt::PlainText)
                    richLabels.append(label->objectName());
            }
        };
        whenDialogShows("frmLogin", [&](QWidget* login) {
            loginCentred = centred(login);
            collectRich(login);
            typeText(child<QLineEdit>(login, "Edit1"), QStringLiteral("pw"));
            QTest::keyClick(child<QLineEdit>(login, "Edit1"), Qt::Key_Return);
        });
        QCOMPARE(form.FormCreate(), TfrmMain::CreateResult::Ready);
        QVERIFY(loginCentred);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(centred(&form));
        auto* userLabel = child<QLabel>(&form, "Label3");
        QCOMPARE(userLabel->text(), QStringLiteral("当前用户：") + name);
        QVERIFY(userLabel->sizeHint().width() >= userLabel->fontMetrics().horizontalAdvance(userLabel->text()));
        collectRich(&form);
        QCOMPARE(richLabels, QStringList());
    }

    void cancelledLoginEndsWithoutWindow()
    {
        TfrmMain form;
        whenDialogShows("frmLogin",
            [](QWidget* login) { QTest::mouseClick(child<QPushButton>(login, "Button2"), Qt::LeftButton); });
        QCOMPARE(form.FormCreate(), TfrmMain::CreateResult::LoginCancelled);
        QVERIFY(!form.isVisible());
    }

    void dataFolderFailureIsShownAndEndsStartUp()
    {
        QFile blocker(home->base() + QStringLiteral("/no"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        TestDataHome::setBase(home->base() + QStringLiteral("/no/such/base"));
        TfrmMain form;
        QCOMPARE(form.FormCreate(), TfrmMain::CreateResult::Failed);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().startsWith(QStringLiteral("无法创建数据文件夹")), qPrintable(shown.first()));
        QVERIFY(shown.first().endsWith(QLatin1Char('.')));
    }

    // The chosen server's failure is said before the login opens; the login then switches to this computer's ledger.
    void unreachableServerAtStartLeavesTheLoginUsable()
    {
        {
            TDbMan db;
            QVERIFY(db.AddUser(QStringLiteral("张三"), QStringLiteral("pw")));
        }
        saveServerChoice(QStringLiteral("host=127.0.0.1 port=1 connect_timeout=2"));
        TfrmMain form;
        QStringList shownBefore;
        QStringList namesBefore;
        whenDialogShows("frmLogin", [&](QWidget* login) {
            shownBefore = MessageBox::takeShownTexts();
            auto* names = child<QComboBox>(login, "ComboBox1");
            namesBefore << QString::number(names->count());
            whenDialogShows("frmDatabase", [](QWidget* chooser) {
                QTest::mouseClick(child<QRadioButton>(chooser, "rbLocal"), Qt::LeftButton);
                QTest::mouseClick(child<QPushButton>(chooser, "btnOk"), Qt::LeftButton);
            });
            QTest::mouseClick(child<QLabel>(login, "LabelChangeDatabase"), Qt::LeftButton);
            namesBefore << names->currentText() << child<QLabel>(login, "LabelDatabase")->text();
            typeText(child<QLineEdit>(login, "Edit1"), QStringLiteral("pw"));
            QTest::keyClick(child<QLineEdit>(login, "Edit1"), Qt::Key_Return);
        });
        QCOMPARE(form.FormCreate(), TfrmMain::CreateResult::Ready);
        QCOMPARE(shownBefore.size(), 1);
        // In words, without libpq's English and without a stop after the sentence's own.
        QVERIFY2(shownBefore.first().startsWith(QStringLiteral("数据库服务器“127.0.0.1:1”连不上"))
                && !shownBefore.first().contains(QLatin1String("onnect"))
                && !shownBefore.first().endsWith(QStringLiteral("。.")),
            qPrintable(shownBefore.first()));
        QCOMPARE(namesBefore, (QStringList { "0", QStringLiteral("张三"), QStringLiteral("账本：本机") }));
        QCOMPARE(form.userName(), QStringLiteral("张三"));
        QVERIFY(!savedServer());
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }

    void databaseArgument_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("ledger");
        QTest::newRow("none") << QStringList { "kivaro", "-style", "fusion" } << QString();
        QTest::newRow("separate value") << QStringList { "kivaro", "--database", "postgresql://k@shop/ledger" }
                                        << QStringLiteral("server:postgresql://k@shop/ledger");
        QTest::newRow("joined, relative file, last wins")
            << QStringList { "kivaro", "--database=host=shop dbname=ledger", "--database=here/db.sjk" }
            << QStringLiteral("file:") + QDir::current().absoluteFilePath(QStringLiteral("here/db.sjk"));
        QTest::newRow("missing value") << QStringList { "kivaro", "--database" } << QStringLiteral("error");
    }

    void databaseArgument()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, ledger);
        QString found;
        try {
            const std::optional<LedgerLocation> chosen = ledgerChosenOnCommandLine(arguments);
            if (chosen)
                found = chosen->isServer() ? QStringLiteral("server:") + chosen->connection
                                           : QStringLiteral("file:") + chosen->path;
        } catch (const KivaroError& error) {
            QVERIFY2(error.text().contains(QStringLiteral("--database")), qPrintable(error.text()));
            found = QStringLiteral("error");
        }
        QCOMPARE(found, ledger);
    }

    void headerSwitchesPagesAndUser()
    {
        TfrmMain form;
        form.PrepareForUser(QStringLiteral("A"));
        form.show();
        auto* entry = child<QWidget>(&form, "Panel2");
        auto* review = child<QWidget>(&form, "Panel3");
        QVERIFY(entry->isVisible() && !review->isVisible());
        QTest::mouseClick(child<QLabel>(&form, "Label2"), Qt::LeftButton);
        QVERIFY(!entry->isVisible() && review->isVisible());
        QTest::mouseClick(child<QLabel>(&form, "Label2"), Qt::LeftButton);
        QVERIFY(review->isVisible());
        QTest::mouseClick(child<QRadioButton>(&form, "RadioButton1"), Qt::LeftButton);
        QVERIFY(entry->isVisible() && !review->isVisible());

        int restarts = 0;
        const ScopedHook restart(TfrmMain::restartProgram, std::function<void()>([&restarts] { ++restarts; }));
        auto* switchUser = child<QLabel>(&form, "Label25");
        QTest::mousePress(switchUser, Qt::RightButton);
        QTest::mouseRelease(switchUser, Qt::RightButton);
        QCOMPARE(restarts, 0);
        QTest::mousePress(switchUser, Qt::LeftButton);
        QCOMPARE(switchUser->palette().color(QPalette::WindowText), QColor(Qt::red));
        QTest::mouseRelease(switchUser, Qt::LeftButton);
        QCOMPARE(restarts, 1);
        QVERIFY(!form.isVisible());
    }
};

KIVARO_TEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
