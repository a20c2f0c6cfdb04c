#pragma once

#include "db/SalesRows.h"
#include "forms/SalesModels.h"
#include "reports/ReportBuilder.h"
#include "reports/ViewExport.h"

#include <QFutureWatcher>
#include <QThreadPool>
#include <QWidget>
#include <optional>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeView;
class TChartPage;
class TDbMan;

// The review page ("查帐"): a range of days, four views of the user's stored lines with their totals lines and a chart
// of them, editing and deleting of stored lines, and printing and exporting of each view.
class TReviewPage : public QWidget
{
    Q_OBJECT

public:
    // Puts the focus in the first day of the range, where Enter is 查看 (the pickers take the focus by click only).
    void focusFirstDay();
    explicit TReviewPage(QWidget* parent);
    ~TReviewPage() override;

    // Shows the current month, empty, for the user; the store stays the caller's.
    void prepare(TDbMan* dbMan, const QString& userName);
    // Empties the views, which read through the store, before the store goes.
    void clearViews();
    // Reads the range last shown again, after the ledger changed under it (an undo): the same range and view, each
    // list scrolled to the row it showed first where that row still exists. Nothing shown, nothing read.
    void readShownAgain();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setupControls();
    void setupViews();
    void anchorControls();
    void connectControls();
    QTreeView* setupView(QWidget* panel, const char* name, SalesListModel* model, ReviewView shows);
    // Which view a list shows.
    static ReviewView shownView(const QTreeView* list);
    void setupExportMenu();
    void showExportMenu(QTreeView* view, const QPoint& at);
    // Writes every row of a view over the range last shown into a file; parent owns the dialogs.
    void exportShownView(ReviewView view, ExportFormat format, QWidget* parent);
    void ComboBox6Click();
    // An owner's choice of whose lines to review: "我的", "全店" or another account's.
    void fillAccountChooser();
    // 查找 beside the account chooser, or in its place when there is none.
    void placeFind();
    // The comparison chosen beside 查看.
    Comparison chosenComparison() const;
    // The daily list and the ranking show their own models, or the compared ones.
    void showCompared(bool compared);
    // The compared ranking once both rankings are there.
    void applyComparedRanking(const QList<RankingRow>& now, const QList<RankingRow>& before);
    SalesRange chosenRange() const;
    // Only the user's own lines can be edited or deleted.
    bool shownLinesAreOwn() const;
    void Button7Click();
    void showRange(const SalesRange& range, Comparison comparison);
    void startRanking(const SalesRange& range, qint64 groups);
    // The ranking list in its own order again, with no column marked as sorted.
    void showRankingUnsorted();
    // Shows the range once more after its day summaries were found not to count its lines.
    void readAgainForDays();
    template <typename Fetch> auto fetchRows(Fetch&& fetch) -> decltype(fetch());
    void applyRanking();
    // Printing the ranking or the chart needs its rows: waits for a computation still running.
    void waitForRanking(QPushButton* button);
    void ListView2Change();
    void updateButtons();
    void updateTotals();
    void Button10Click();
    void Button11Click();
    int selectedDetailRow() const;

    // Printing (ReviewPagePrint.cpp).
    void Button8Click();
    void Button13Click();
    void Button14Click();
    void Button15Click();
    void Button16Click();
    void buildReport(QPushButton* button, QTreeView* view, const ReportLayout& layout);
    // The chart over the range last shown, saved where the user says; parent owns the dialogs.
    void exportChartPdf(QWidget* parent);
    void exportChartPng(QWidget* parent);
    // "<user>-销售趋势图-<from>至<to>.<suffix>", proposed in the folder of the chart images.
    QString chartFileName(const QString& suffix) const;

    TDbMan* FDbMan = nullptr;
    QString FUserName;

    QDateEdit* DateTimePicker2 = nullptr;
    QDateEdit* DateTimePicker3 = nullptr;
    QPushButton* Button7 = nullptr;
    QComboBox* ComboBoxCompare = nullptr;
    QComboBox* ComboBoxAccount = nullptr;
    QLabel* LabelFind = nullptr;
    QLineEdit* EditFind = nullptr;
    QLabel* Label21 = nullptr;
    QComboBox* ComboBox6 = nullptr;
    QWidget* Panel4 = nullptr;
    QWidget* Panel5 = nullptr;
    QWidget* Panel6 = nullptr;
    QWidget* Panel7 = nullptr;
    // The panels in the order of ComboBox6's entries, one shown at a time.
    QList<QWidget*> FPanels;
    // The four views: detail, daily totals, daily per product, ranking. Column 0 is hidden (the ID in ListView2).
    QTreeView* ListView2 = nullptr;
    QTreeView* ListView3 = nullptr;
    QTreeView* ListView4 = nullptr;
    QTreeView* ListView5 = nullptr;
    DetailListModel* FDetail = nullptr;
    DailyListModel* FDaily = nullptr;
    DayProductListModel* FDayProducts = nullptr;
    RankingListModel* FRanking = nullptr;
    // The daily list and the ranking compared with an earlier period, shown instead of theirs after a 查看 that
    // compares.
    ComparedListModel* FDailyCompared = nullptr;
    ComparedListModel* FRankingCompared = nullptr;
    // The chart of the range, shown in the place of the lists.
    TChartPage* Panel8 = nullptr;
    // The ranking of a long range is computed away from the window; a newer query drops an older result.
    struct RankingResult
    {
        QList<RankingRow> rows;
        // The earlier period's, when 查看 compares.
        QList<RankingRow> before;
        QString error;
        bool daysMatch = true;
    };
    QFutureWatcher<RankingResult> FRankingWatcher;
    // One ranking at a time; one that a newer query made useless is dropped before it starts.
    QThreadPool FRankingPool;
    int FQueryNumber = 0;
    // The query whose rows last failed to come, so that its failure is told once.
    int FFetchFailedQuery = -1;
    bool FRankingApplied = true;
    // The views were read again after the day summaries were found wrong: once per 查看, whatever the check says then.
    bool FReadAgainForDays = false;
    // The range the views show since the last 查看; the pickers may have moved on since.
    std::optional<SalesRange> FShownRange;
    // The earlier period they are compared with, if any (its days invalid when it would begin before the first day).
    std::optional<SalesRange> FComparedRange;
    Comparison FShownComparison = Comparison::None;
    // The right-click menu of the lists, and the view it was opened over.
    QMenu* menuExport = nullptr;
    ReviewView FMenuView = ReviewView::Detail;
    // Their totals lines.
    QLabel* Label19 = nullptr;
    QLabel* Label22 = nullptr;
    QLabel* Label23 = nullptr;
    QLabel* Label24 = nullptr;
    // "预览&&打印" under each view.
    QPushButton* Button8 = nullptr;
    QPushButton* Button13 = nullptr;
    QPushButton* Button14 = nullptr;
    QPushButton* Button15 = nullptr;
    QPushButton* Button16 = nullptr;
    QPushButton* Button10 = nullptr;
    QPushButton* Button11 = nullptr;

    // Keeps its print settings from one report to the next.
    ReportDocument QRCompositeReport1;
};
