#include "db/DbClass.h"
#include "forms/MainForm.h"
#include "forms/MessageBox.h"
#include "reports/PrintForm.h"
#include "reports/ReportEngine.h"
#include "tests/TestUtil.h"
#include "tests/support/LedgerSeed.h"

#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>

namespace {

// What the preview showed while it was open.
struct Shown
{
    ReportDocument* document = nullptr;
    int pages = 0;
    QString status;
    QStringList firstPageTexts;
    QStringList lastPageTexts;
    bool buttonEnabled = true;
    bool busyCursor = false;
};

QStringList textsOf(const ReportPage* page)
{
    QStringList texts;
    for (const auto& item : page->items())
        texts << item->text;
    return texts;
}

} // namespace

class TestMainPrint : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HookGuard> hooks;
    std::unique_ptr<TestDataHome> home;
    std::unique_ptr<TfrmMain> form;
    const QString user = QStringLiteral("张三");

    QPushButton* button(const char* name) { return child<QPushButton>(form.get(), name); }
    QString label(const char* name) { return child<QLabel>(form.get(), name)->text(); }

    void add(int day, const QString& name, int quantity)
    {
        TDbMan db;
        addRecord(db, user, QStringLiteral("2009/01/%1").arg(day, 2, 10, QLatin1Char('0')), name,
            QString::number(quantity), QStringLiteral("10.00"), QStringLiteral("4.00"), QStringLiteral("备注"));
    }

    void query()
    {
        child<QDateEdit>(form.get(), "DateTimePicker2")->setDate(QDate(2009, 1, 1));
        child<QDateEdit>(form.get(), "DateTimePicker3")->setDate(QDate(2009, 1, 31));
        QTest::mouseClick(button("Button7"), Qt::LeftButton);
    }

    // Presses a print button and closes the preview once it shows.
    Shown preview(const char* buttonName)
    {
        Shown shown;
        QPushButton* pressed = button(buttonName);
        whenDialogShows("frmPrint", [&shown, pressed](QWidget* window) {
            auto* print = static_cast<TfrmPrint*>(window);
            shown.document = print->CompositeReport;
            shown.pages = print->CompositeReport->pageCount();
            shown.status = child<QLabel>(print, "StatusPanel")->text();
            shown.firstPageTexts = textsOf(print->CompositeReport->page(1));
            shown.lastPageTexts = textsOf(print->CompositeReport->page(shown.pages));
            shown.buttonEnabled = pressed->isEnabled();
            shown.busyCursor
                = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            print->reject();
        });
        QTest::mouseClick(pressed, Qt::LeftButton);
        return shown;
    }

private Q_SLOTS:
    void init()
    {
        hooks = std::make_unique<HookGuard>();
        home = std::make_unique<TestDataHome>();
        form = openReviewWindow(user);
    }

    void cleanup()
    {
        hooks.reset();
        form.reset();
        home.reset();
    }

    void detailReportOfTheRowsShown()
    {
        for (int i = 0; i < 48; ++i)
            add(1 + i % 28, QStringLiteral("毛巾%1").arg(i), 1);
        query();
        const Shown shown = preview("Button8");
        QCOMPARE(shown.pages, 2);
        QCOMPARE(shown.status, QStringLiteral("第 1 页 / 共 2 页"));
        QVERIFY(shown.firstPageTexts.contains(user));
        QVERIFY(shown.lastPageTexts.contains(user));
        QVERIFY(shown.lastPageTexts.contains(QStringLiteral("第 2 页")));
        QVERIFY(shown.firstPageTexts.contains(QStringLiteral("2009-01-01")));
        QVERIFY(shown.lastPageTexts.contains(label("Label19")));
        QVERIFY(!shown.firstPageTexts.contains(label("Label19")));

        // Disabled while the preview is open, without the busy cursor over it; all back once it closes.
        QVERIFY(!shown.buttonEnabled);
        QVERIFY(!shown.busyCursor);
        QVERIFY(button("Button8")->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(shown.document->pageCount(), 0);
    }

    // The detail, per-product and ranking pages end with the detail view's totals line, current after a delete; the
    // daily pages with their own.
    void reportsPrintTheirTotalsLine()
    {
        add(1, QStringLiteral("毛巾"), 1);
        add(1, QStringLiteral("牙刷"), 2);
        add(2, QStringLiteral("毛巾"), 3);
        query();
        auto* detail = child<QTreeView>(form.get(), "ListView2");
        detail->selectionModel()->select(
            detail->model()->index(0, 1), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(button("Button10"), Qt::LeftButton);
        // The detail view lost a line; the other three views still count it.
        QCOMPARE(label("Label19"), QStringLiteral("数量：5  实收：20.00  成本：8.00  利润：12.00"));
        const QString before = QStringLiteral("数量：6  实收：30.00  成本：12.00  利润：18.00");

        const Shown detailReport = preview("Button8");
        QVERIFY(detailReport.lastPageTexts.contains(label("Label19")));
        QCOMPARE(detailReport.lastPageTexts.count(QStringLiteral("2009-01-01")), 1);
        const Shown daily = preview("Button13");
        QVERIFY(daily.lastPageTexts.contains(before));
        QVERIFY(!daily.lastPageTexts.contains(label("Label19")));
        for (const char* name : { "Button14", "Button15" }) {
            const Shown shown = preview(name);
            QVERIFY2(shown.lastPageTexts.contains(label("Label19")), name);
            QVERIFY2(!shown.lastPageTexts.contains(before), name);
        }
        QCOMPARE(label("Label22"), before);
        QCOMPARE(label("Label23"), before);
        QCOMPARE(label("Label24"), before);
    }

    void pressingAgainBuildsAFreshReport()
    {
        add(1, QStringLiteral("毛巾"), 1);
        query();
        const Shown first = preview("Button15");
        QVERIFY(first.firstPageTexts.contains(QStringLiteral("毛巾")));
        add(2, QStringLiteral("牙刷"), 5);
        query();
        const Shown second = preview("Button15");
        QCOMPARE(second.pages, 1);
        QCOMPARE(second.firstPageTexts.count(QStringLiteral("毛巾")), 1);
        QVERIFY(second.firstPageTexts.contains(QStringLiteral("牙刷")));
        QVERIFY(second.firstPageTexts.contains(QStringLiteral("数量：6  实收：20.00  成本：8.00  利润：12.00")));
    }
};

KIVARO_TEST_MAIN(TestMainPrint)
#include "tst_mainprint.moc"
