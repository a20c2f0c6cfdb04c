// The windows' side of kept pending lines and the record of changes: every change to the pending list is kept before
// it shows, a new window brings the list back, and 修改记录… lists the changes and undoes them.

#include "db/DbClass.h"
#include "db/KeptSession.h"
#include "db/LedgerLocation.h"
#include "db/LedgerStore.h"
#include "db/Numbers.h"
#include "forms/EntryPage.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTreeView>
#include <QTreeWidget>

namespace {

const QString kUser = QStringLiteral("张三");
const SalesRange kYear { kUser, QDate(2024, 1, 1), QDate(2024, 12, 31) };

// What a line holds, without its id: kept ids and stored ids differ.
QStringList texts(const QList<SalesLine>& lines)
{
    QStringList result;
    for (const SalesLine& line : lines)
        result << QStringLiteral("%1 %2 %3 %4 %5 %6")
                      .arg(line.day.toString(Qt::ISODate), line.productName)
                      .arg(line.quantity)
                      .arg(line.received)
                      .arg(line.cost)
                      .arg(line.memo);
    return result;
}

} // namespace

class TestKeptList : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TfrmMain> form;

    QPushButton* button(const char* name) { return child<QPushButton>(form.get(), name); }
    QTreeView* list() { return child<QTreeView>(form.get(), "ListView1"); }
    int pendingRows() { return list()->model()->rowCount(); }
    void selectPending(int row) { list()->setCurrentIndex(list()->model()->index(row, 1)); }
    QList<SalesLine> kept(const QString& user = kUser)
    {
        TDbMan db;
        return allKeptLines(db, user);
    }

    // The pending list as the screen shows it, in the form texts() gives.
    QStringList shownLines()
    {
        QStringList result;
        for (int row = 0; row < pendingRows(); ++row) {
            QStringList cells;
            for (int column = 1; column < 7; ++column)
                cells << list()->model()->index(row, column).data().toString();
            result << cells.join(QLatin1Char(' '));
        }
        return result;
    }
    // The same texts from the kept lines, amounts as shown.
    static QStringList asShown(const QList<SalesLine>& lines)
    {
        QStringList result;
        for (const SalesLine& line : lines)
            result << QStringList { line.day.toString(Qt::ISODate), line.productName, QString::number(line.quantity),
                formatCents(line.received), formatCents(line.cost), line.memo }
                          .join(QLatin1Char(' '));
        return result;
    }

    void openWindow(const QString& user = kUser)
    {
        form = std::make_unique<TfrmMain>();
        form->PrepareForUser(user);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void closeWindow()
    {
        form->close();
        form.reset();
    }

    void enterLine(const QString& product, const QString& quantity, const QString& received)
    {
        auto* name = child<QComboBox>(form.get(), "ComboBox1");
        typeText(name, product);
        QTest::keyClick(name, Qt::Key_Return);
        const QStringList values { quantity, received, QStringLiteral("1"), QString() };
        const char* names[] = { "ComboBox2", "ComboBox3", "ComboBox4", "ComboBox5" };
        for (int i = 0; i < 4; ++i) {
            auto* field = child<QLineEdit>(form.get(), names[i]);
            typeText(field, values.at(i));
            QTest::keyClick(field, Qt::Key_Return);
        }
    }

    void runSql(const QString& statement)
    {
        RawDb raw(home->dbPath());
        QVERIFY2(raw.isOpen(), qPrintable(raw.lastError()));
        QVERIFY2(raw.exec(statement), qPrintable(raw.lastError()));
    }

    void chooseFromMore(const char* action)
    {
        QTest::mouseClick(child<QLabel>(form.get(), "LabelMore"), Qt::LeftButton);
        auto* menu = child<QMenu>(form.get(), "menuMore");
        QVERIFY(menu->isVisible());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(child<QAction>(menu, action)).center());
    }

    static QStringList historyRow(QTreeWidget* history, int row)
    {
        QStringList cells;
        for (int column = 0; column < 4; ++column)
            cells << history->topLevelItem(row)->text(column);
        return cells;
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
        hooks.reset();
        home.reset();
    }

    void linesOutliveTheWindowForTheirUserOnly()
    {
        openWindow();
        child<QDateEdit>(form.get(), "DateTimePicker1")->setDate(QDate(2024, 5, 1));
        enterLine(QStringLiteral("毛巾"), "2", "10.5");
        QCOMPARE(asShown(kept()), shownLines());
        enterLine(QStringLiteral("袜子"), "-1", "3");
        QCOMPARE(pendingRows(), 2);
        QCOMPARE(asShown(kept()), shownLines());
        const QStringList shown = shownLines();
        closeWindow();

        openWindow();
        QCOMPARE(MessageBox::takeShownTexts().last(), QStringLiteral("已恢复上次未保存的 2 条记录。"));
        QCOMPARE(shownLines(), shown);
        QCOMPARE(child<QLabel>(form.get(), "Label18")->text(),
            QStringLiteral("数量：1  实收：13.50  成本：2.00  利润：11.50"));
        QVERIFY(button("Button4")->isEnabled());

        // 切换用户 starts a new program and ends this one: the lines stay kept.
        bool restarted = false;
        ScopedHook restart(TfrmMain::restartProgram, std::function<void()>([&] { restarted = true; }));
        QTest::mouseClick(child<QLabel>(form.get(), "Label25"), Qt::LeftButton);
        QVERIFY(restarted);
        QCOMPARE(asShown(kept()), shown);
        form.reset();

        openWindow(QStringLiteral("李四"));
        QCOMPARE(pendingRows(), 0);
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }

    // Settings that cannot be written (a file where their folder should be, as one sudo can leave it) still leave this
    // computer one ID: a closed window's lines come back.
    void linesComeBackWithoutWritableSettings()
    {
        const QString folder = QFileInfo(settingsPath()).absolutePath();
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(QFileInfo(folder).absolutePath()));
        QVERIFY(writeAll(folder, "not a folder"));
        const auto putBack = qScopeGuard([&] { QFile::remove(folder); });
        QCOMPARE(KeptSession::computerId(), KeptSession::computerId());
        openWindow();
        enterLine(QStringLiteral("毛巾"), "2", "10.5");
        closeWindow();
        openWindow();
        QCOMPARE(MessageBox::takeShownTexts().last(), QStringLiteral("已恢复上次未保存的 1 条记录。"));
        QCOMPARE(pendingRows(), 1);
    }

    void editDeleteAndFinishLeaveTheKeptList()
    {
        openWindow();
        child<QDateEdit>(form.get(), "DateTimePicker1")->setDate(QDate(2024, 5, 1));
        enterLine(QStringLiteral("一"), "1", "1");
        enterLine(QStringLiteral("二"), "2", "2");
        enterLine(QStringLiteral("三"), "3", "3");
        selectPending(1);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button6"), Qt::LeftButton);
        QCOMPARE(asShown(kept()), shownLines());
        QCOMPARE(pendingRows(), 2);

        // 编辑 takes the line into the fields but keeps it: a window closed (or crashed) now gives it back at the
        // next login.
        const QStringList both = shownLines();
        selectPending(0);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button5"), Qt::LeftButton);
        QCOMPARE(pendingRows(), 1);
        QCOMPARE(asShown(kept()), both);
        closeWindow();
        openWindow();
        QCOMPARE(MessageBox::takeShownTexts().last(), QStringLiteral("已恢复上次未保存的 2 条记录。"));
        QCOMPARE(shownLines(), both);

        // Added again, the edited line replaces the kept one, at the end.
        selectPending(0);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button5"), Qt::LeftButton);
        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QCOMPARE(asShown(kept()), shownLines());
        QCOMPARE(shownLines().last().section(QLatin1Char(' '), 1, 1), QStringLiteral("一"));

        MessageBox::takeShownTexts();
        QTest::mouseClick(button("Button4"), Qt::LeftButton);
        QCOMPARE(
            MessageBox::takeShownTexts(), QStringList { QStringLiteral("恭喜您，售货记录已经全部成功保存到数据库！") });
        QCOMPARE(pendingRows(), 0);
        QVERIFY(kept().isEmpty());
        QCOMPARE(texts(TDbMan().QueryLineWindow(kYear, QDate(2024, 5, 1), 0, 10)),
            (QStringList { QStringLiteral("2024-05-01 三 3 300 100 "), QStringLiteral("2024-05-01 一 1 100 100 ") }));
        closeWindow();
        openWindow();
        QCOMPARE(pendingRows(), 0);
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }

    // Whatever the store refuses leaves the screen and the kept list as they were.
    void refusedChangesLeaveScreenAndKeptListAlone()
    {
        KIVARO_FILE_STORE_ONLY();
        openWindow();
        enterLine(QStringLiteral("毛巾"), "1", "10");
        const QStringList shown = shownLines();

        runSql(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON PendingLines BEGIN SELECT RAISE(ABORT, "
                              "'no keeping'); END"));
        enterLine(QStringLiteral("袜子"), "1", "5");
        QStringList errors = MessageBox::takeShownTexts();
        QVERIFY2(errors.size() == 1 && errors.first().contains(QStringLiteral("no keeping")),
            qPrintable(errors.join(QLatin1Char('|'))));
        QCOMPARE(shownLines(), shown);
        QCOMPARE(child<QComboBox>(form.get(), "ComboBox1")->currentText(), QStringLiteral("袜子"));
        auto* page = child<TEntryPage>(form.get(), "Panel2");
        QVERIFY(!page->addImportedLines({ { 0, QDate(2024, 5, 2), QStringLiteral("鞋"), 1, 1, 1, {} } }));
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);
        QCOMPARE(shownLines(), shown);

        runSql(QStringLiteral("CREATE TRIGGER refuse2 BEFORE DELETE ON PendingLines BEGIN SELECT RAISE(ABORT, "
                              "'no forgetting'); END"));
        selectPending(0);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button6"), Qt::LeftButton);
        errors = MessageBox::takeShownTexts();
        QVERIFY2(errors.size() == 2 && errors.last().contains(QStringLiteral("no forgetting")),
            qPrintable(errors.join(QLatin1Char('|'))));
        // 编辑 forgets nothing; adding the line again fails while forgetting is refused, and the line stays kept.
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button5"), Qt::LeftButton);
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);
        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        errors = MessageBox::takeShownTexts();
        QVERIFY2(errors.size() == 1 && errors.first().contains(QStringLiteral("no forgetting")),
            qPrintable(errors.join(QLatin1Char('|'))));
        QCOMPARE(asShown(kept()), shown);
        runSql(QStringLiteral("DROP TRIGGER refuse"));
        runSql(QStringLiteral("DROP TRIGGER refuse2"));
        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QCOMPARE(shownLines(), shown);
        QCOMPARE(asShown(kept()), shown);

        // A 完成 that fails stores nothing and keeps what was kept.
        runSql(QStringLiteral("CREATE TRIGGER refuse3 BEFORE INSERT ON Records BEGIN SELECT RAISE(ABORT, 'no saving'); "
                              "END"));
        QTest::mouseClick(button("Button4"), Qt::LeftButton);
        errors = MessageBox::takeShownTexts();
        QVERIFY2(errors.size() == 1 && errors.first().contains(QStringLiteral("no saving")),
            qPrintable(errors.join(QLatin1Char('|'))));
        QCOMPARE(shownLines(), shown);
        QCOMPARE(asShown(kept()), shown);
        QCOMPARE(storedLineCount(*home), 0);
    }

    void importKeepsAllRowsAndLearnsNamesOnce()
    {
        openWindow();
        enterLine(QStringLiteral("旧"), "1", "1");
        const QList<SalesLine> imported { { 0, QDate(2024, 6, 1), QStringLiteral("甲"), 1, 100, 50, {} },
            { 0, QDate(2024, 6, 2), QStringLiteral("乙"), 2, 200, 50, QStringLiteral("备") },
            { 0, QDate(2024, 6, 3), QStringLiteral("甲"), 3, 300, 50, {} },
            { 0, QDate(2024, 6, 4), QStringLiteral("丙"), 4, 400, 50, {} } };
        QVERIFY(child<TEntryPage>(form.get(), "Panel2")->addImportedLines(imported));
        QCOMPARE(texts(kept().mid(1)), texts(imported));
        QCOMPARE(asShown(kept()), shownLines());
        // Each name at the place of its last row: 丙 last, 甲 before it, then 乙.
        QCOMPARE(TDbMan().ProductNames(kUser).value_or(QStringList()).mid(0, 4),
            (QStringList { QStringLiteral("丙"), QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("旧") }));
        QCOMPARE(child<QComboBox>(form.get(), "ComboBox1")->itemText(0), QStringLiteral("丙"));
    }

    void historyListsChangesAndUndoesThem()
    {
        {
            TDbMan db;
            addLines(db, kUser,
                { { 0, QDate(2024, 5, 1), QStringLiteral("毛巾"), 1, 1050, 400, QStringLiteral("李四") },
                    { 0, QDate(2024, 5, 2), QStringLiteral("袜子"), 2, 300, 100, {} } });
            const QList<SalesLine> stored = db.QueryLineWindow(kYear, QDate(2024, 5, 1), 0, 10);
            SalesLine edited = stored.at(0);
            edited.quantity = 5;
            db.UpdateLine(kUser, stored.at(0), edited);
            db.DeleteLine(kUser, db.QueryLineWindow(kYear, QDate(2024, 5, 2), 0, 10).at(0));
            addLines(db, QStringLiteral("李四"), { { 0, QDate(2024, 5, 3), QStringLiteral("鞋"), 1, 1, 1, {} } });
        }
        openWindow();

        const QString line1 = QStringLiteral("2024-05-01 毛巾 1 10.50 4.00 李四");
        const QString line1Edited = QStringLiteral("2024-05-01 毛巾 5 10.50 4.00 李四");
        const QString line2 = QStringLiteral("2024-05-02 袜子 2 3.00 1.00");
        // The review page shows May, read before the undos: each undo reads it again, nothing to press.
        QTest::mouseClick(child<QLabel>(form.get(), "Label2"), Qt::LeftButton);
        child<QDateEdit>(form.get(), "DateTimePicker2")->setDate(QDate(2024, 5, 1));
        child<QDateEdit>(form.get(), "DateTimePicker3")->setDate(QDate(2024, 5, 31));
        QTest::mouseClick(button("Button7"), Qt::LeftButton);
        auto* review = child<QTreeView>(form.get(), "ListView2");
        const auto shown = [review] {
            QStringList rows;
            for (int row = 0; row < review->model()->rowCount(); ++row)
                rows << static_cast<SalesListModel*>(review->model())->rowTexts(row).mid(1).join(QStringLiteral(" | "));
            return rows;
        };
        QCOMPARE(shown(), QStringList { "2024-05-01 | 毛巾 | 5 | 10.50 | 4.00 | 李四" });
        bool checked = false;
        whenDialogShows("frmHistory", [&](QWidget* dialog) {
            auto* history = child<QTreeWidget>(dialog, "ListHistory");
            auto* undo = child<QPushButton>(dialog, "btnUndo");
            QCOMPARE(history->topLevelItemCount(), 3);
            const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
            for (int row = 0; row < 3; ++row) {
                QVERIFY(time.match(history->topLevelItem(row)->text(0)).hasMatch());
                QCOMPARE(history->topLevelItem(row)->text(1), TDbMan::computerName());
            }
            QCOMPARE(historyRow(history, 0).mid(2), (QStringList { "删除", line2 + " → （无）" }));
            QCOMPARE(historyRow(history, 1).mid(2), (QStringList { "修改", line1 + " → " + line1Edited }));
            QCOMPARE(historyRow(history, 2).mid(2),
                (QStringList { "保存 2 条", QStringLiteral("数量：3  实收：13.50  成本：5.00  利润：8.50") }));

            // Escape leaves the list open.
            QTest::keyClick(dialog, Qt::Key_Escape);
            QVERIFY(dialog->isVisible());

            QVERIFY(undo->isEnabled());
            MessageBox::setNextAnswer(QMessageBox::No);
            QTest::mouseClick(undo, Qt::LeftButton);
            QCOMPARE(MessageBox::takeShownTexts(), QStringList { "真的要撤销这次删除？将恢复：" + line2 });
            QCOMPARE(history->topLevelItemCount(), 3);

            MessageBox::setNextAnswer(QMessageBox::Yes);
            QTest::mouseClick(undo, Qt::LeftButton);
            QCOMPARE(MessageBox::takeShownTexts(), QStringList { "真的要撤销这次删除？将恢复：" + line2 });
            QCOMPARE(history->topLevelItemCount(), 4);
            QCOMPARE(shown(),
                (QStringList {
                    "2024-05-01 | 毛巾 | 5 | 10.50 | 4.00 | 李四", "2024-05-02 | 袜子 | 2 | 3.00 | 1.00 | " }));
            QCOMPARE(historyRow(history, 0).mid(2), (QStringList { "撤销", "（无） → " + line2 }));
            QCOMPARE(history->topLevelItem(1)->text(2), QStringLiteral("删除（已撤销）"));
            QVERIFY(undo->isEnabled());

            MessageBox::setNextAnswer(QMessageBox::Yes);
            QTest::mouseClick(undo, Qt::LeftButton);
            QCOMPARE(MessageBox::takeShownTexts(), QStringList { "真的要撤销这次修改？将恢复为：" + line1 });
            QCOMPARE(history->topLevelItemCount(), 5);
            QCOMPARE(shown().value(0), QStringLiteral("2024-05-01 | 毛巾 | 1 | 10.50 | 4.00 | 李四"));
            QVERIFY(!undo->isEnabled());
            checked = true;
            QTest::mouseClick(child<QPushButton>(dialog, "btnClose"), Qt::LeftButton);
        });
        chooseFromMore("actHistory");
        QVERIFY(checked);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(texts(TDbMan().QueryLineWindow(kYear, QDate(2024, 5, 1), 0, 10)),
            (QStringList {
                QStringLiteral("2024-05-01 毛巾 1 1050 400 李四"), QStringLiteral("2024-05-02 袜子 2 300 100 ") }));
    }
};

KIVARO_TEST_MAIN(TestKeptList)
#include "tst_keptlist.moc"
