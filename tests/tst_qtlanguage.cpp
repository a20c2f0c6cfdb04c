// Qt's own dialogs speak the program's language: message boxes of every button set, the file dialog, the print and
// page-setup dialogs, and a text field's right-click menu show no English words.

#include "forms/QtLanguage.h"
#include "tests/TestUtil.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>

namespace {

// A text as the user reads it: the accelerator mark "(&Y)" that Chinese texts carry, and a menu entry's shortcut
// after its tab, are not words.
QString words(QString text)
{
    static const QRegularExpression accelerator(QStringLiteral("\\(&.\\)|&"));
    const qsizetype tab = text.indexOf(QLatin1Char('\t'));
    if (tab >= 0)
        text.truncate(tab);
    return text.remove(accelerator);
}

// The shown texts of the window's buttons that hold a Latin letter.
QStringList englishButtons(QWidget* window)
{
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    QStringList english;
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->isVisible() && words(button->text()).contains(latin))
            english.append(button->text());
    }
    return english;
}

} // namespace

class TestQtLanguage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QStringList loaded = installQtTranslations();
        QVERIFY2(!loaded.isEmpty(), "no Chinese translation of Qt was found (qt6-translations-l10n)");
        QVERIFY2(loaded.first().contains(QStringLiteral("zh")), qPrintable(loaded.join(QLatin1Char(' '))));
    }

    void messageBoxesOfEveryButtonSet_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::newRow("确定") << int(QMessageBox::Ok);
        QTest::newRow("确定 取消") << int(QMessageBox::Ok | QMessageBox::Cancel);
        QTest::newRow("是 否") << int(QMessageBox::Yes | QMessageBox::No);
        QTest::newRow("是 否 取消") << int(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    }
    void messageBoxesOfEveryButtonSet()
    {
        QFETCH(int, buttons);
        QMessageBox box(QMessageBox::Question, QStringLiteral("Kivaro"), QStringLiteral("确定要删除吗？"),
            QMessageBox::StandardButtons(buttons));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(box.buttons().size(), qPopulationCount(quint32(buttons)));
        QCOMPARE(englishButtons(&box), QStringList());
        const QStringList expected { QStringLiteral("确定"), QStringLiteral("取消"), QStringLiteral("是"),
            QStringLiteral("否") };
        for (QAbstractButton* button : box.buttons())
            QVERIFY2(expected.contains(words(button->text())), qPrintable(button->text()));
    }

    void fileDialog()
    {
        QFileDialog files(nullptr, QStringLiteral("导出"), QDir::tempPath());
        files.setOption(QFileDialog::DontUseNativeDialog);
        files.show();
        QVERIFY(QTest::qWaitForWindowExposed(&files));
        QCOMPARE(englishButtons(&files), QStringList());
    }

    void printDialogs()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows draws its own print and page-setup dialogs, in the language of the system");
#endif
        QPrinter printer;
        QPrintDialog print(&printer);
        print.show();
        QVERIFY(QTest::qWaitForWindowExposed(&print));
        QCOMPARE(englishButtons(&print), QStringList());

        QPageSetupDialog pageSetup(&printer);
        pageSetup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pageSetup));
        QCOMPARE(englishButtons(&pageSetup), QStringList());
    }

    void textFieldMenu()
    {
        QLineEdit field;
        field.setText(QStringLiteral("毛巾"));
        const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
        int entries = 0;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            ++entries;
            QVERIFY2(!words(action->text()).contains(latin), qPrintable(action->text()));
        }
        QVERIFY(entries >= 5);
    }
};

KIVARO_TEST_MAIN(TestQtLanguage)
#include "tst_qtlanguage.moc"
