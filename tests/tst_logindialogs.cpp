#include "db/DbClass.h"
#include "forms/AccountForm.h"
#include "forms/LoginForm.h"
#include "forms/MessageBox.h"
#include "tests/TestUtil.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

class TestLoginDialogs : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;

    void addUsers(const QStringList& names)
    {
        TDbMan db;
        for (const QString& name : names)
            QVERIFY(db.AddUser(name, name + QStringLiteral("-pw")));
    }

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

    void firstStartCreatesAnAccountThroughTheAccountDialog()
    {
        TfrmLogin login;
        login.show();
        auto* name = child<QComboBox>(&login, "ComboBox1");
        auto* password = child<QLineEdit>(&login, "Edit1");
        auto* loginButton = child<QPushButton>(&login, "Button1");
        QCOMPARE(login.windowTitle(), QStringLiteral("Kivaro - 登陆"));
        QCOMPARE(name->count(), 0);
        QVERIFY(!loginButton->isEnabled());

        whenDialogShows("frmAccount", [](QWidget* dialog) {
            QVERIFY(!child<QPushButton>(dialog, "Button1")->isEnabled());
            typeText(child<QLineEdit>(dialog, "Edit1"), QStringLiteral("张三"));
            QTest::keyClick(child<QLineEdit>(dialog, "Edit1"), Qt::Key_Return);
            typeText(child<QLineEdit>(dialog, "Edit2"), QStringLiteral("pw"));
            QTest::keyClick(child<QLineEdit>(dialog, "Edit2"), Qt::Key_Return);
        });
        QTest::mouseClick(child<QPushButton>(&login, "Button3"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("恭喜您，本次操作成功！") });
        QCOMPARE(name->currentText(), QStringLiteral("张三"));
        QVERIFY(child<QPushButton>(&login, "Button3")->isEnabled());

        QVERIFY(!loginButton->isEnabled());
        typeText(password, QStringLiteral("wrong"));
        QVERIFY(loginButton->isEnabled());
        QTest::keyClick(password, Qt::Key_Return);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("登陆出错！请检查用户名或密码。") });
        QVERIFY(login.isVisible());
        QCOMPARE(password->text(), QStringLiteral("wrong"));
        QVERIFY(loginButton->isEnabled());

        password->clear();
        typeText(password, QStringLiteral("pw"));
        QTest::keyClick(password, Qt::Key_Return);
        QCOMPARE(login.result(), int(QDialog::Accepted));
        QCOMPARE(login.SelectedUser, QStringLiteral("张三"));
    }

    void lastLoginIsPreselectedWithFocusInPassword()
    {
        addUsers({ QStringLiteral("A"), QStringLiteral("B") });
        {
            TfrmLogin login;
            login.show();
            QVERIFY(QTest::qWaitForWindowActive(&login));
            QCOMPARE(child<QComboBox>(&login, "ComboBox1")->currentText(), QStringLiteral("B"));
            QTRY_COMPARE(QApplication::focusWidget(), child<QLineEdit>(&login, "Edit1"));
            // A name typed with a leading blank is another name.
            auto* name = child<QComboBox>(&login, "ComboBox1");
            name->setEditText(QStringLiteral(" A"));
            typeText(child<QLineEdit>(&login, "Edit1"), QStringLiteral("A-pw"));
            QTest::mouseClick(child<QPushButton>(&login, "Button1"), Qt::LeftButton);
            QCOMPARE(MessageBox::takeShownTexts().size(), 1);
            name->setEditText(QStringLiteral("A"));
            QTest::keyClick(name, Qt::Key_Return);
            QCOMPARE(QApplication::focusWidget(), child<QLineEdit>(&login, "Edit1"));
            QTest::keyClick(child<QLineEdit>(&login, "Edit1"), Qt::Key_Return);
            QCOMPARE(login.result(), int(QDialog::Accepted));
        }
        TfrmLogin again;
        QCOMPARE(child<QComboBox>(&again, "ComboBox1")->currentText(), QStringLiteral("A"));
        QCOMPARE(child<QComboBox>(&again, "ComboBox1")->count(), 2);
    }

    void escapeClosesNeitherTheLoginNorTheAccountDialog()
    {
        TfrmAccount account;
        account.show();
        QTest::keyClick(child<QLineEdit>(&account, "Edit1"), Qt::Key_Escape);
        QTest::keyClick(&account, Qt::Key_Escape);
        QVERIFY(account.isVisible());
        account.close();
        QVERIFY(!account.isVisible());

        TfrmLogin login;
        login.show();
        QTest::keyClick(&login, Qt::Key_Escape);
        QVERIFY(login.isVisible());
        QTest::mouseClick(child<QPushButton>(&login, "Button2"), Qt::LeftButton);
        QCOMPARE(login.result(), int(QDialog::Rejected));
        QVERIFY(!login.isVisible());
    }

    void accountPagesEnableByTheirOwnFields()
    {
        addUsers({ QStringLiteral("A") });
        TfrmAccount account;
        account.show();
        auto* ok = child<QPushButton>(&account, "Button1");
        auto* pages = child<QTabWidget>(&account, "PageControl1");
        QCOMPARE(pages->currentIndex(), 0);
        typeText(child<QLineEdit>(&account, "Edit1"), QStringLiteral("A"));
        typeText(child<QLineEdit>(&account, "Edit2"), QStringLiteral("x"));
        QVERIFY(ok->isEnabled());
        pages->setCurrentIndex(2);
        QCOMPARE(child<QComboBox>(&account, "ComboBox1")->currentText(), QStringLiteral("A"));
        QVERIFY(!ok->isEnabled());
        // Enter in an incomplete last field does nothing.
        QTest::keyClick(child<QLineEdit>(&account, "Edit4"), Qt::Key_Return);
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
        pages->setCurrentIndex(0);
        QVERIFY(ok->isEnabled());
        // Creating a taken name fails and keeps the dialog open with its fields.
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("很抱歉，本次操作失败！") });
        QVERIFY(account.isVisible());
        QCOMPARE(child<QLineEdit>(&account, "Edit2")->text(), QStringLiteral("x"));
    }

    void changeAndDeleteThroughTheAccountDialog()
    {
        addUsers({ QStringLiteral("A") });
        {
            TfrmAccount account;
            account.show();
            child<QTabWidget>(&account, "PageControl1")->setCurrentIndex(1);
            QTest::keyClick(child<QComboBox>(&account, "ComboBox2"), Qt::Key_Return);
            typeText(child<QLineEdit>(&account, "Edit5"), QStringLiteral("A-pw"));
            QTest::keyClick(child<QLineEdit>(&account, "Edit5"), Qt::Key_Return);
            typeText(child<QLineEdit>(&account, "Edit7"), QStringLiteral("new"));
            QTest::keyClick(child<QLineEdit>(&account, "Edit7"), Qt::Key_Return);
            QCOMPARE(account.result(), int(QDialog::Accepted));
            QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("恭喜您，本次操作成功！") });
        }
        TDbMan db;
        QVERIFY(db.CheckUser(QStringLiteral("A"), QStringLiteral("new")));
        {
            TfrmAccount account;
            account.show();
            child<QTabWidget>(&account, "PageControl1")->setCurrentIndex(2);
            typeText(child<QLineEdit>(&account, "Edit4"), QStringLiteral("new"));
            QTest::keyClick(child<QLineEdit>(&account, "Edit4"), Qt::Key_Return);
            QCOMPARE(account.result(), int(QDialog::Accepted));
        }
        MessageBox::takeShownTexts();
        QStringList names;
        db.GetUserNames(&names);
        QVERIFY(names.isEmpty());
        TfrmLogin login;
        QCOMPARE(child<QComboBox>(&login, "ComboBox1")->count(), 0);
    }
};

KIVARO_TEST_MAIN(TestLoginDialogs)
#include "tst_logindialogs.moc"
