#include "app/MessageBox.h"
#include "db/DbClass.h"
#include "forms/MainForm.h"
#include "tests/TestUtil.h"

#include <QComboBox>
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
        QCOMPARE(userLabel->geometry().right() + 1, 620);
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
        qputenv("XDG_DATA_HOME", (home->base() + QStringLiteral("/no/such/base")).toLocal8Bit());
        TfrmMain form;
        QCOMPARE(form.FormCreate(), TfrmMain::CreateResult::Failed);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().startsWith(QStringLiteral("无法创建数据文件夹")), qPrintable(shown.first()));
        QVERIFY(shown.first().endsWith(QLatin1Char('.')));
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
