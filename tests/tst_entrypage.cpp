#include "base/HiClass.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/ProductsFile.h"
#include "forms/EntryPage.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "forms/UpdateRecordForm.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTreeView>

class TestEntryPage : public QObject
{
    Q_OBJECT

private:
    const QString user = QStringLiteral("张三");
    const QLocale startLocale;
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TfrmMain> form;

    QComboBox* name() { return child<QComboBox>(form.get(), "ComboBox1"); }
    QLineEdit* field(const char* objectName) { return child<QLineEdit>(form.get(), objectName); }
    QPushButton* button(const char* objectName) { return child<QPushButton>(form.get(), objectName); }
    QTreeView* list() { return child<QTreeView>(form.get(), "ListView1"); }
    int pendingRows() { return list()->model()->rowCount(); }
    void selectPending(int row) { list()->setCurrentIndex(list()->model()->index(row, 1)); }
    QString totals() { return child<QLabel>(form.get(), "Label18")->text(); }
    QString productsFile() const { return home->dataDir() + "/" + THi::GetMd5(user) + "-products.txt"; }

    void openWindow()
    {
        form = std::make_unique<TfrmMain>();
        form->PrepareForUser(user);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }

    // Types one line field by field, walking on with Enter; Enter in the memo adds it.
    void enterLine(const QString& product, const QString& quantity, const QString& received, const QString& cost,
        const QString& memo = QString())
    {
        typeText(name(), product);
        QTest::keyClick(name(), Qt::Key_Return);
        const QStringList texts { quantity, received, cost, memo };
        const char* names[] = { "ComboBox2", "ComboBox3", "ComboBox4", "ComboBox5" };
        for (int i = 0; i < 4; ++i) {
            typeText(field(names[i]), texts.at(i));
            QTest::keyClick(field(names[i]), Qt::Key_Return);
        }
    }

    QStringList row(int index)
    {
        QStringList texts;
        for (int column = 1; column < 7; ++column)
            texts.append(list()->model()->index(index, column).data().toString());
        return texts;
    }

    QStringList nameEntries()
    {
        QStringList texts;
        for (int i = 0; i < name()->count(); ++i)
            texts.append(name()->itemText(i));
        return texts;
    }

    QStringList storedDetail()
    {
        QStringList detail, daily, products, ranking;
        queryReport(TDbMan(), user, QStringLiteral("2000/01/01"), QStringLiteral("2100/12/31"), detail, daily, products,
            ranking);
        QStringList withoutIds;
        for (qsizetype i = 0; i < detail.size(); ++i) {
            if (i % 7 != 0)
                withoutIds.append(detail.at(i));
        }
        return withoutIds;
    }

    void runSql(const QString& statement)
    {
        RawDb raw(home->dbPath());
        QVERIFY2(raw.isOpen(), qPrintable(raw.lastError()));
        QVERIFY2(raw.exec(statement), qPrintable(raw.lastError()));
    }

private Q_SLOTS:
    void init()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
    }
    void cleanup()
    {
        form.reset();
        QLocale::setDefault(startLocale);
        hooks.reset();
        home.reset();
    }

    void opensEmptyWithRememberedNames()
    {
        QDir().mkpath(home->dataDir());
        writeProductNames(productsFile(), { "A", "B", "C" });
        openWindow();
        QCOMPARE(child<QDateEdit>(form.get(), "DateTimePicker1")->date(), QDate::currentDate());
        QCOMPARE(totals(), QStringLiteral("数量：0  实收：0.00  成本：0.00  利润：0.00"));
        for (const char* name : { "Button1", "Button4", "Button5", "Button6" })
            QVERIFY2(!button(name)->isEnabled(), name);
        QCOMPARE(name()->count(), 3);
        QCOMPARE(name()->itemText(0), QStringLiteral("A"));
        QCOMPARE(name()->currentText(), QString());
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }

    void blanksLeaveAddDisabled()
    {
        openWindow();
        typeText(name(), QStringLiteral("  "));
        typeText(field("ComboBox2"), QStringLiteral(" "));
        typeText(field("ComboBox3"), QStringLiteral(" "));
        typeText(field("ComboBox4"), QStringLiteral(" "));
        QVERIFY(!button("Button1")->isEnabled());
        QTest::keyClick(field("ComboBox5"), Qt::Key_Return);
        QCOMPARE(pendingRows(), 0);
        typeText(name(), QStringLiteral("毛巾"));
        field("ComboBox2")->setText(QStringLiteral("1"));
        field("ComboBox3")->setText(QStringLiteral("1"));
        QVERIFY(!button("Button1")->isEnabled());
        field("ComboBox4")->setText(QStringLiteral("1"));
        QVERIFY(button("Button1")->isEnabled());
    }

    void enterWalksTheFieldsAndAdds()
    {
        QDir().mkpath(home->dataDir());
        writeProductNames(productsFile(), { "A", "张三牌毛巾", "C" });
        openWindow();
        auto* date = child<QDateEdit>(form.get(), "DateTimePicker1");
        date->setDate(QDate(2009, 1, 1));
        date->setFocus();
        QTest::keyClick(date, Qt::Key_Return);
        QTRY_VERIFY(name()->hasFocus());
        typeText(name(), QStringLiteral(" 张三牌毛巾 "));
        QTest::keyClick(name(), Qt::Key_Return);
        QTRY_VERIFY(field("ComboBox2")->hasFocus());
        typeText(field("ComboBox2"), QStringLiteral(" $10"));
        QTest::keyClick(field("ComboBox2"), Qt::Key_Return);
        QTRY_VERIFY(field("ComboBox3")->hasFocus());
        typeText(field("ComboBox3"), QStringLiteral("8000000.88"));
        QTest::keyClick(field("ComboBox3"), Qt::Key_Return);
        QTRY_VERIFY(field("ComboBox4")->hasFocus());
        typeText(field("ComboBox4"), QStringLiteral("-12.5"));
        QTest::keyClick(field("ComboBox4"), Qt::Key_Return);
        QTRY_VERIFY(field("ComboBox5")->hasFocus());
        typeText(field("ComboBox5"), QStringLiteral(" 购买者李四 "));
        QTest::keyClick(field("ComboBox5"), Qt::Key_Return);

        QCOMPARE(pendingRows(), 1);
        QCOMPARE(row(0), (QStringList { "2009-01-01", "张三牌毛巾", "16", "8000000.88", "-12.50", "购买者李四" }));
        QCOMPARE(totals(), QStringLiteral("数量：16  实收：8000000.88  成本：-12.50  利润：8000013.38"));
        QCOMPARE(date->date(), QDate(2009, 1, 1));
        for (const char* edit : { "ComboBox2", "ComboBox3", "ComboBox4", "ComboBox5" })
            QVERIFY2(field(edit)->text().isEmpty(), edit);
        QCOMPARE(name()->currentText(), QString());
        QVERIFY(!button("Button1")->isEnabled());
        QVERIFY(button("Button4")->isEnabled());
        QTRY_VERIFY(name()->hasFocus());

        const QStringList remembered { "张三牌毛巾", "A", "C" };
        // The file is written after the click, in the background, soon.
        QTRY_COMPARE(readProductNames(productsFile()), remembered);
        QCOMPARE(name()->itemText(0), remembered.first());
        QCOMPARE(name()->count(), 3);
    }

    // Each sale moves one entry of the drop-down list; the list and the file stay alike, entry for entry.
    void addingMovesOneNameInListAndFile()
    {
        QDir().mkpath(home->dataDir());
        writeProductNames(productsFile(), { "A", "B", "C", "D" });
        openWindow();
        const auto entries = [this] {
            QStringList texts;
            for (int i = 0; i < name()->count(); ++i)
                texts.append(name()->itemText(i));
            return texts;
        };
        enterLine(QStringLiteral(" C "), "1", "1", "1");
        QCOMPARE(entries(), (QStringList { "C", "A", "B", "D" }));
        enterLine(QStringLiteral("新品"), "1", "1", "1");
        QCOMPARE(entries(), (QStringList { "新品", "C", "A", "B", "D" }));
        enterLine(QStringLiteral("D"), "1", "1", "1");
        enterLine(QStringLiteral("D"), "1", "1", "1");
        QCOMPARE(entries(), (QStringList { "D", "新品", "C", "A", "B" }));
        QTRY_COMPARE(readProductNames(productsFile()), entries());
        QCOMPARE(name()->currentIndex(), -1);
        QCOMPARE(name()->currentText(), QString());
        QCOMPARE(totals(), QStringLiteral("数量：4  实收：4.00  成本：4.00  利润：0.00"));

        name()->setCurrentIndex(2);
        QCOMPARE(name()->currentText(), QStringLiteral("C"));
        enterLine(QString(), "2", "3", "1");
        QCOMPARE(row(4).at(1), QStringLiteral("C"));
        QCOMPARE(entries(), (QStringList { "C", "D", "新品", "A", "B" }));
        QTRY_COMPARE(readProductNames(productsFile()), entries());
        QCOMPARE(totals(), QStringLiteral("数量：6  实收：7.00  成本：5.00  利润：2.00"));
    }

    void badInputIsRefusedAndKept_data()
    {
        QTest::addColumn<QString>("quantity");
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("cost");
        QTest::newRow("blank after quantity") << "5 "
                                              << "1"
                                              << "1";
        QTest::newRow("quantity above 32 bits") << "2147483648"
                                                << "1"
                                                << "1";
        QTest::newRow("thousands separator") << "1"
                                             << "1,000"
                                             << "1";
        QTest::newRow("cost above a trillion") << "1"
                                               << "1"
                                               << "1000000000000.01";
    }

    void badInputIsRefusedAndKept()
    {
        QFETCH(QString, quantity);
        QFETCH(QString, received);
        QFETCH(QString, cost);
        openWindow();
        enterLine(QStringLiteral("毛巾"), quantity, received, cost);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("很抱歉，您的输入有错误！") });
        QCOMPARE(pendingRows(), 0);
        QCOMPARE(name()->currentText(), QStringLiteral("毛巾"));
        QCOMPARE(field("ComboBox2")->text(), quantity);
        QCOMPARE(field("ComboBox4")->text(), cost);
        QVERIFY(!QFile::exists(productsFile()));
    }

    void editAndDeleteAskFirst()
    {
        openWindow();
        auto* date = child<QDateEdit>(form.get(), "DateTimePicker1");
        date->setDate(QDate(2009, 3, 5));
        enterLine(QStringLiteral("毛巾"), "1", "10.00", "6.00", QStringLiteral("李四"));
        date->setDate(QDate(2010, 1, 1));
        enterLine(QStringLiteral("袜子"), "1", "5.50", "3.25");
        QCOMPARE(totals(), QStringLiteral("数量：2  实收：15.50  成本：9.25  利润：6.25"));
        QVERIFY(!button("Button5")->isEnabled());

        selectPending(0);
        QVERIFY(button("Button5")->isEnabled() && button("Button6")->isEnabled());
        MessageBox::setNextAnswer(QMessageBox::No);
        QTest::mouseClick(button("Button5"), Qt::LeftButton);
        MessageBox::setNextAnswer(QMessageBox::No);
        QTest::mouseClick(button("Button6"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts(), (QStringList { "真的要编辑指定的记录？", "真的要删除指定的记录？" }));
        QCOMPARE(pendingRows(), 2);
        QVERIFY(name()->currentText().isEmpty());

        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button5"), Qt::LeftButton);
        QCOMPARE(pendingRows(), 1);
        QCOMPARE(row(0).at(1), QStringLiteral("袜子"));
        QCOMPARE(date->date(), QDate(2009, 3, 5));
        QCOMPARE(name()->currentText(), QStringLiteral("毛巾"));
        QCOMPARE(field("ComboBox3")->text(), QStringLiteral("10.00"));
        QCOMPARE(field("ComboBox5")->text(), QStringLiteral("李四"));
        QVERIFY(button("Button1")->isEnabled());
        QVERIFY(!button("Button5")->isEnabled());
        QCOMPARE(totals(), QStringLiteral("数量：1  实收：5.50  成本：3.25  利润：2.25"));

        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QCOMPARE(row(1), (QStringList { "2009-03-05", "毛巾", "1", "10.00", "6.00", "李四" }));
        selectPending(0);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button6"), Qt::LeftButton);
        QCOMPARE(pendingRows(), 1);
        QCOMPARE(row(0).at(1), QStringLiteral("毛巾"));
        QCOMPARE(totals(), QStringLiteral("数量：1  实收：10.00  成本：6.00  利润：4.00"));
        MessageBox::takeShownTexts();
    }

    void finishStoresEveryLineOnce()
    {
        openWindow();
        child<QDateEdit>(form.get(), "DateTimePicker1")->setDate(QDate(2009, 1, 1));
        enterLine(QStringLiteral("毛巾"), "1", "10.00", "6.00", QStringLiteral("李四"));
        enterLine(QStringLiteral("袜子"), "2", "8000000.88", "6000000.68");
        enterLine(QStringLiteral("O'Neil"), "-3", "-12.5", "0");
        // The second line fails inside the store, after the first one went in.
        runSql(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Records WHEN NEW.RecQuantity = 2 "
                              "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        QTest::mouseClick(button("Button4"), Qt::LeftButton);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(QStringLiteral("refused")), qPrintable(shown.first()));
        QVERIFY(storedDetail().isEmpty());
        QCOMPARE(pendingRows(), 3);
        QVERIFY(button("Button4")->isEnabled());
        QVERIFY(!QApplication::overrideCursor());

        runSql(QStringLiteral("DROP TRIGGER refuse"));
        QTest::mouseClick(button("Button4"), Qt::LeftButton);
        QCOMPARE(
            MessageBox::takeShownTexts(), QStringList { QStringLiteral("恭喜您，售货记录已经全部成功保存到数据库！") });
        QCOMPARE(storedDetail(),
            (QStringList { "2009-01-01", "毛巾", "1", "10.00", "6.00", "李四", "2009-01-01", "袜子", "2", "8000000.88",
                "6000000.68", "", "2009-01-01", "O'Neil", "-3", "-12.50", "0.00", "" }));
        QCOMPARE(pendingRows(), 0);
        for (const char* name : { "Button4", "Button5", "Button6" })
            QVERIFY2(!button(name)->isEnabled(), name);
        QCOMPARE(totals(), QStringLiteral("数量：0  实收：0.00  成本：0.00  利润：0.00"));
    }

    void followsTheLocaleSeparators()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        openWindow();
        child<QDateEdit>(form.get(), "DateTimePicker1")->setDate(QDate(2009, 1, 1));
        enterLine(QStringLiteral("毛巾"), "1", "10.5", "1");
        QCOMPARE(MessageBox::takeShownTexts(), QStringList { QStringLiteral("很抱歉，您的输入有错误！") });
        field("ComboBox3")->setText(QStringLiteral("10,5"));
        QTest::keyClick(field("ComboBox5"), Qt::Key_Return);
        QCOMPARE(row(0), (QStringList { "2009-01-01", "毛巾", "1", "10,50", "1,00", "" }));
        QCOMPARE(totals(), QStringLiteral("数量：1  实收：10,50  成本：1,00  利润：9,50"));
        QTest::mouseClick(button("Button4"), Qt::LeftButton);
        MessageBox::takeShownTexts();
        QCOMPARE(storedDetail(), (QStringList { "2009-01-01", "毛巾", "1", "10.50", "1.00", "" }));
    }

    void helpAndCalculator()
    {
        openWindow();
        QFile resource(QStringLiteral(":/RES_MAINFORM_HELP"));
        QTest::mouseClick(button("Button2"), Qt::LeftButton);
        const QString help
            = QStringLiteral("如何退货\r\n\r\n1.点“查帐”。\r\n2.选择退货所在的日期范围，点“查看”按钮。\r\n"
                             "3.选择的日期范围内的售货明细将在列表中显示出来。\r\n"
                             "4.在列表中您找到要退货的记录，或编辑，或删除。\r\n");
        QCOMPARE(MessageBox::takeShownTexts(), QStringList { help });
        QVERIFY(resource.open(QIODevice::ReadOnly));
        QCOMPARE(resource.readAll(), toGb18030(help));
        QCOMPARE(resource.size(), 170);

        int started = 0;
        {
            const ScopedHook calculator(TEntryPage::startCalculator, std::function<bool()>([&started] {
                ++started;
                return true;
            }));
            QTest::mouseClick(button("Button12"), Qt::LeftButton);
            QCOMPARE(started, 1);
            QCOMPARE(MessageBox::takeShownTexts(), QStringList());
        }
        // No calculator on the path: the button says which one to install instead of doing nothing.
        const QByteArray path = qgetenv("PATH");
        const auto restorePath = qScopeGuard([&path] { qputenv("PATH", path); });
        QTemporaryDir empty;
        qputenv("PATH", QFile::encodeName(empty.path()));
        QTest::mouseClick(button("Button12"), Qt::LeftButton);
        const QStringList told = MessageBox::takeShownTexts();
        QVERIFY2(told.size() == 1 && told.first().startsWith(QStringLiteral("没有找到")), qPrintable(told.join('|')));
    }

    void nameEditorWritesOnlyOnOk()
    {
        QDir().mkpath(home->dataDir());
        writeProductNames(productsFile(), { "A", "B" });
        openWindow();
        whenDialogShows("frmEditName", [](QWidget* editor) {
            auto* memo = child<QPlainTextEdit>(editor, "Memo1");
            memo->setPlainText(QStringLiteral("typed"));
            QTest::keyClick(memo, Qt::Key_Escape);
            QTest::keyClick(editor, Qt::Key_Escape);
            QVERIFY(editor->isVisible());
            editor->close();
        });
        QTest::mouseClick(button("Button3"), Qt::LeftButton);
        QCOMPARE(readProductNames(productsFile()), QStringList({ "A", "B" }));

        const QString longName = QString(120, QChar(0x5DFE));
        whenDialogShows("frmEditName", [longName](QWidget* editor) {
            auto* memo = child<QPlainTextEdit>(editor, "Memo1");
            QCOMPARE(memo->toPlainText(), QStringLiteral("A\nB"));
            memo->setPlainText(longName + QStringLiteral("\n\nC\n"));
            QTest::mouseClick(child<QPushButton>(editor, "Button1"), Qt::LeftButton);
        });
        QTest::mouseClick(button("Button3"), Qt::LeftButton);
        QCOMPARE(readProductNames(productsFile()), QStringList({ longName, "", "C" }));
        QCOMPARE(name()->count(), 3);
        QCOMPARE(name()->itemText(2), QStringLiteral("C"));

        whenDialogShows("frmEditName", [](QWidget* editor) {
            child<QPlainTextEdit>(editor, "Memo1")->clear();
            QTest::mouseClick(child<QPushButton>(editor, "Button1"), Qt::LeftButton);
        });
        QTest::mouseClick(button("Button3"), Qt::LeftButton);
        QCOMPARE(QFileInfo(productsFile()).size(), 0);
        QCOMPARE(name()->count(), 0);
    }

    // Long totals grow the line past the buttons on its right; drawn above them, its end stays on screen, and the
    // buttons still take their clicks.
    void longTotalsAreShownWhole()
    {
        openWindow();
        auto* label = child<QLabel>(form.get(), "Label18");
        QPushButton* edit = button("Button5");
        for (int i = 0; i < 2; ++i)
            enterLine(QStringLiteral("毛巾"), "2147483647", "999999999999.99", "-999999999999.99");
        QCOMPARE(totals(),
            QStringLiteral(
                "数量：4294967294  实收：1999999999999.98  成本：-1999999999999.98  利润：3999999999999.96"));
        QVERIFY(label->fontMetrics().horizontalAdvance(totals()) <= label->width());
        QVERIFY(label->geometry().right() > edit->x() + 8);

        const QImage shot = label->parentWidget()->grab().toImage();
        int maroon = 0;
        for (int x = edit->x() + 2; x <= label->geometry().right(); ++x) {
            for (int y = label->y(); y <= label->geometry().bottom(); ++y) {
                const QColor pixel = shot.pixelColor(x, y);
                maroon += pixel.red() > pixel.green() + 40 && pixel.red() > pixel.blue() + 40;
            }
        }
        QVERIFY2(maroon > 0, "the end of the totals is hidden under the buttons");
        QCOMPARE(label->parentWidget()->childAt(edit->x() + 4, label->y() + 4), edit);
    }

    // Two windows of one user, as two instances are: each add keeps the names the other one added.
    void twoWindowsKeepEachOthersNames()
    {
        QDir().mkpath(home->dataDir());
        writeProductNames(productsFile(), { "A", "B" });
        openWindow();
        std::unique_ptr<TfrmMain> other = std::move(form);
        openWindow();
        enterLine(QStringLiteral("X"), "1", "1", "1");
        // A user turns to the other window after this one wrote its name, in the background.
        QTRY_COMPARE(readProductNames(productsFile()), (QStringList { "X", "A", "B" }));
        // The helpers drive the window in form; the other one takes its turn there.
        std::swap(form, other);
        enterLine(QStringLiteral("B"), "1", "1", "1");
        QTRY_COMPARE(readProductNames(productsFile()), (QStringList { "B", "X", "A" }));
        QTRY_COMPARE(nameEntries(), (QStringList { "B", "X", "A" }));
        QCOMPARE(name()->currentText(), QString());
        other.reset();
    }

    // A decomposed name or memo is kept composed, so it and the same text typed normally are one; a name of
    // full-width spaces is no name.
    void lookAlikeNamesAreOne()
    {
        const QString cafe = QStringLiteral("Caf\u00E9");
        const QString storedDecomposed = QStringLiteral("Nai\u0308ve");
        QDir().mkpath(home->dataDir());
        writeProductNames(productsFile(), { storedDecomposed });
        openWindow();
        enterLine(QStringLiteral("Cafe\u0301"), "1", "1", "1", QStringLiteral(" Cre\u0300me "));
        enterLine(cafe, "2", "1", "1");
        QCOMPARE(row(0).at(1), cafe);
        QCOMPARE(row(0).at(5), QStringLiteral("Cr\u00E8me"));
        QCOMPARE(nameEntries(), (QStringList { cafe, storedDecomposed }));

        typeText(name(), QStringLiteral("\u3000\u3000"));
        for (const char* edit : { "ComboBox2", "ComboBox3", "ComboBox4" })
            typeText(field(edit), QStringLiteral("1"));
        QVERIFY(!button("Button1")->isEnabled());

        // The editor keeps the stored spelling of the names it showed and composes the ones typed into it.
        whenDialogShows("frmEditName", [](QWidget* editor) {
            auto* memo = child<QPlainTextEdit>(editor, "Memo1");
            memo->setPlainText(memo->toPlainText() + QStringLiteral("\nBru\u0302le\u0301e"));
            QTest::mouseClick(child<QPushButton>(editor, "Button1"), Qt::LeftButton);
        });
        QTest::mouseClick(button("Button3"), Qt::LeftButton);
        QCOMPARE(readProductNames(productsFile()),
            (QStringList { cafe, storedDecomposed, QStringLiteral("Br\u00FBl\u00E9e") }));

        // The edit dialog of a stored line likewise.
        TfrmUpdateRecord dialog;
        dialog.setLine(QDate(2009, 1, 1), storedDecomposed, "1", "2", "1", QStringLiteral("Cre\u0300me"));
        QCOMPARE(dialog.trimmedTexts().at(0), storedDecomposed);
        child<QLineEdit>(&dialog, "Edit1")->setText(QStringLiteral(" \u3000 "));
        QVERIFY(!child<QPushButton>(&dialog, "Button2")->isEnabled());
        child<QLineEdit>(&dialog, "Edit1")->setText(QStringLiteral("Tha\u0308 "));
        child<QLineEdit>(&dialog, "Edit5")->setText(QStringLiteral("Cre\u0300me\t"));
        QCOMPARE(dialog.trimmedTexts(),
            (QStringList { QStringLiteral("Th\u00E4"), "1", "2", "1", QStringLiteral("Cr\u00E8me") }));
    }

    void unreadableNamesDoNotStopTheWindow()
    {
        QVERIFY(QDir().mkpath(productsFile()));
        openWindow();
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);
        QVERIFY(form->isVisible());
        enterLine(QStringLiteral("毛巾"), "1", "1", "1");
        QCOMPARE(pendingRows(), 1);
        QCOMPARE(name()->itemText(0), QStringLiteral("毛巾"));
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }
};

KIVARO_TEST_MAIN(TestEntryPage)
#include "tst_entrypage.moc"
