#include "forms/ReviewPage.h"

#include "db/Comparison.h"

#include "base/Error.h"
#include "base/TextCodec.h"
#include "db/DbClass.h"
#include "db/Numbers.h"
#include "forms/Anchors.h"
#include "forms/BusyCursor.h"
#include "forms/ChartPage.h"
#include "forms/ColumnFit.h"
#include "forms/ErrorHandler.h"
#include "forms/ExportUi.h"
#include "forms/FormUtil.h"
#include "forms/MessageBox.h"
#include "forms/UpdateRecordForm.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>
#include <QTreeView>
#include <QtConcurrent/QtConcurrentRun>
#include <tuple>

namespace {

const QStringList kViewNames { QStringLiteral("每天销售产品明细列表"), QStringLiteral("每天销售数量金额统计"),
    QStringLiteral("每天各个产品销量统计"), QStringLiteral("各个产品销售数量排行"), QStringLiteral("销售趋势图") };

// The property of a list that says which view it shows.
const char* const kShownView = "reviewView";

// Up to this many rows per day and product, the ranking is computed at once; beyond, away from the window.
constexpr qint64 kRankingInline = 20'000;

QLabel* makeTotalsLabel(QWidget* panel, const char* name)
{
    QLabel* label = makeLabel(panel, name, QStringLiteral("#"), 8, 385);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 0, 0));
    label->setPalette(palette);
    return label;
}

QPushButton* makeViewButton(QWidget* panel, const char* name, const QString& text, int left)
{
    QPushButton* button = makeButton(panel, name, text, QRect(left, 380, 74, 23));
    button->setFocusPolicy(Qt::ClickFocus);
    return button;
}

QWidget* makeViewPanel(QWidget* parent, const char* name)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setGeometry(0, 41, 692, 417);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, Qt::white);
    panel->setPalette(palette);
    return panel;
}

QDateEdit* makeDatePicker(QWidget* parent, const char* name, const QRect& geometry)
{
    QDateEdit* picker = makeDayPicker(parent, name, geometry);
    picker->setFocusPolicy(Qt::ClickFocus);
    return picker;
}

// The model's column widths, its numbers widening to their widest text.
void fitColumns(QTreeView* view, const SalesListModel& model)
{
    for (int column = 0; column < model.columns().size(); ++column)
        view->header()->resizeSection(column, model.columns().at(column).width);
    widenColumnsToText(view, model.numericColumns());
}

// A line edited in the dialog, from its checked texts.
SalesLine editedLine(qint64 id, const QDate& day, const QStringList& typed)
{
    const QChar separator = localeDecimalSeparator();
    return { id, day, typed.at(0), parseQuantity(typed.at(1)).value_or(0),
        parseAmountCents(typed.at(2), separator).value_or(0), parseAmountCents(typed.at(3), separator).value_or(0),
        typed.at(4) };
}

} // namespace

TReviewPage::TReviewPage(QWidget* parent)
    : QWidget(parent)
{
    FRankingPool.setMaxThreadCount(1);
    setObjectName(QStringLiteral("Panel3"));
    // The designed size, which the controls are anchored to; the window may make the page larger.
    resize(692, 458);
    setupControls();
    setupViews();
    setupExportMenu();
    connectControls();
    anchorControls();
}

void TReviewPage::anchorControls()
{
    const Qt::Edges all = Qt::TopEdge | Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge;
    anchor(Label21, Qt::TopEdge | Qt::RightEdge);
    anchor(ComboBox6, Qt::TopEdge | Qt::RightEdge);
    for (QWidget* panel : std::as_const(FPanels))
        anchor(panel, all);
    // Each view's list grows, its totals line stays under it, its buttons in the corner. The chart page places its
    // own charts.
    for (QTreeView* list : { ListView2, ListView3, ListView4, ListView5 })
        anchor(list, all);
    for (QLabel* totals : { Label19, Label22, Label23, Label24 })
        anchor(totals, Qt::LeftEdge | Qt::BottomEdge);
    for (QPushButton* button : { Button11, Button10, Button8, Button13, Button14, Button15, Button16 })
        anchor(button, Qt::RightEdge | Qt::BottomEdge);
}

TReviewPage::~TReviewPage()
{
    // A ranking still being computed must not report to a page that is gone.
    FRankingWatcher.disconnect(this);
    FRankingPool.clear();
    FRankingPool.waitForDone();
}

void TReviewPage::setupControls()
{
    DateTimePicker2 = makeDatePicker(this, "DateTimePicker2", QRect(8, 12, 100, 20));
    makeLabel(this, "Label20", QStringLiteral("-"), 112, 16);
    DateTimePicker3 = makeDatePicker(this, "DateTimePicker3", QRect(120, 12, 100, 20));
    Button7 = makeViewButton(this, "Button7", QStringLiteral("查看"), 224);
    Button7->setGeometry(224, 10, 74, 23);
    // What the daily list and the ranking are compared with at the next 查看.
    ComboBoxCompare = new QComboBox(this);
    ComboBoxCompare->setObjectName(QStringLiteral("ComboBoxCompare"));
    ComboBoxCompare->setGeometry(302, 12, 64, 20);
    ComboBoxCompare->setFocusPolicy(Qt::ClickFocus);
    ComboBoxCompare->addItem(QStringLiteral("不对比"), int(Comparison::None));
    ComboBoxCompare->addItem(QStringLiteral("比上期"), int(Comparison::PeriodBefore));
    ComboBoxCompare->addItem(QStringLiteral("比去年"), int(Comparison::YearEarlier));
    ComboBoxCompare->setToolTip(QStringLiteral("“每天销售数量金额统计”和“各个产品销售数量排行”与之前同样长的一段日子"
                                               "（上期）或去年的同样日子对比：数量、实收、利润和增减的百分比"));
    ComboBoxAccount = new QComboBox(this);
    ComboBoxAccount->setObjectName(QStringLiteral("ComboBoxAccount"));
    ComboBoxAccount->setGeometry(370, 12, 64, 20);
    // 查找: the next 查看 shows only the lines whose product name or memo holds the text. Enter is 查看.
    LabelFind = makeLabel(this, "LabelFind", QStringLiteral("查找"), 302, 16);
    EditFind = new QLineEdit(this);
    EditFind->setObjectName(QStringLiteral("EditFind"));
    EditFind->setToolTip(QStringLiteral("只看品名或备注中含有这些字的记录（英文字母不分大小写）；空着就是全部"));
    LabelFind->setBuddy(EditFind);
    connect(EditFind, &QLineEdit::returnPressed, this, &TReviewPage::Button7Click);
    ComboBoxAccount->setFocusPolicy(Qt::ClickFocus);
    ComboBoxAccount->setToolTip(QStringLiteral("查看谁的帐：我的、全店，或某个帐户的（只能看，不能改）"));
    ComboBoxAccount->hide();
    Label21 = makeLabel(this, "Label21", QStringLiteral("显示："), 501, 16);
    ComboBox6 = new QComboBox(this);
    ComboBox6->setObjectName(QStringLiteral("ComboBox6"));
    ComboBox6->setGeometry(538, 12, 146, 20);
    ComboBox6->setFocusPolicy(Qt::ClickFocus);
    ComboBox6->addItems(kViewNames);
    placeFind();
}

void TReviewPage::setupViews()
{
    Panel4 = makeViewPanel(this, "Panel4");
    FDetail = new DetailListModel(this);
    ListView2 = setupView(Panel4, "ListView2", FDetail, ReviewView::Detail);
    Label19 = makeTotalsLabel(Panel4, "Label19");
    Button11 = makeViewButton(Panel4, "Button11", QStringLiteral("编辑"), 454);
    Button10 = makeViewButton(Panel4, "Button10", QStringLiteral("删除"), 528);
    Button8 = makeViewButton(Panel4, "Button8", QStringLiteral("预览&&打印"), 610);

    Panel5 = makeViewPanel(this, "Panel5");
    FDaily = new DailyListModel(this);
    FDailyCompared = new ComparedListModel(ReviewView::Daily, this);
    ListView3 = setupView(Panel5, "ListView3", FDaily, ReviewView::Daily);
    Label22 = makeTotalsLabel(Panel5, "Label22");
    Button13 = makeViewButton(Panel5, "Button13", QStringLiteral("预览&&打印"), 610);

    Panel6 = makeViewPanel(this, "Panel6");
    FDayProducts = new DayProductListModel(this);
    ListView4 = setupView(Panel6, "ListView4", FDayProducts, ReviewView::PerDay);
    Label23 = makeTotalsLabel(Panel6, "Label23");
    Button14 = makeViewButton(Panel6, "Button14", QStringLiteral("预览&&打印"), 610);

    Panel7 = makeViewPanel(this, "Panel7");
    FRanking = new RankingListModel(this);
    FRankingCompared = new ComparedListModel(ReviewView::Ranking, this);
    ListView5 = setupView(Panel7, "ListView5", FRanking, ReviewView::Ranking);
    // A click on 数量, 实收, 成本 or 利润 sorts the ranking by it, most first, and again the other way; a click on 品名
    // gives back the ranking's own order. The header keeps the indicator; the list is sorted here.
    QHeaderView* rankingHeader = ListView5->header();
    rankingHeader->setSectionsClickable(true);
    connect(rankingHeader, &QHeaderView::sectionClicked, this, [this, rankingHeader](int column) {
        auto* shown = static_cast<SalesListModel*>(ListView5->model());
        shown->sort(column, rankingHeader->sortIndicatorOrder());
        rankingHeader->setSortIndicatorShown(shown->sortColumn() >= 0);
    });
    Label24 = makeTotalsLabel(Panel7, "Label24");
    Button15 = makeViewButton(Panel7, "Button15", QStringLiteral("预览&&打印"), 610);

    Panel8 = new TChartPage(this);
    Button16 = makeViewButton(Panel8, "Button16", QStringLiteral("预览&&打印"), 610);
    FPanels = { Panel4, Panel5, Panel6, Panel7, Panel8 };
}

QTreeView* TReviewPage::setupView(QWidget* panel, const char* name, SalesListModel* model, ReviewView shows)
{
    auto* view = new QTreeView(panel);
    view->setObjectName(QString::fromLatin1(name));
    view->setProperty(kShownView, int(shows));
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(
        view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& at) { showExportMenu(view, at); });
    view->setGeometry(8, 0, 676, 373);
    view->setModel(model);
    setReportStyle(view);
    fitColumns(view, *model);
    return view;
}

void TReviewPage::connectControls()
{
    connect(ComboBox6, &QComboBox::currentIndexChanged, this, &TReviewPage::ComboBox6Click);
    connect(Button7, &QPushButton::clicked, this, &TReviewPage::Button7Click);
    for (QDateEdit* picker : { DateTimePicker2, DateTimePicker3 }) {
        new KeyHandler(picker, [this](QKeyEvent* key) {
            if (!isEnterKey(key))
                return false;
            if (Button7->isEnabled())
                Button7Click();
            return true;
        });
        picker->setToolTip(QStringLiteral("Enter：查看"));
    }
    Button7->setToolTip(QStringLiteral("查看所选日期内的记录（在日期中按 Enter）"));
    connect(Button10, &QPushButton::clicked, this, &TReviewPage::Button10Click);
    connect(Button11, &QPushButton::clicked, this, &TReviewPage::Button11Click);
    connect(Button8, &QPushButton::clicked, this, &TReviewPage::Button8Click);
    connect(Button13, &QPushButton::clicked, this, &TReviewPage::Button13Click);
    connect(Button14, &QPushButton::clicked, this, &TReviewPage::Button14Click);
    connect(Button15, &QPushButton::clicked, this, &TReviewPage::Button15Click);
    connect(Button16, &QPushButton::clicked, this, &TReviewPage::Button16Click);
    connect(ListView2->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TReviewPage::ListView2Change);
    connect(&FRankingWatcher, &QFutureWatcher<RankingResult>::finished, this, &TReviewPage::applyRanking);
}

void TReviewPage::applyRanking()
{
    if (FRankingWatcher.property("query").toInt() != FQueryNumber || FRankingApplied)
        return;
    FRankingApplied = true;
    const RankingResult result = FRankingWatcher.result();
    if (!result.error.isEmpty())
        showError(result.error, this);
    if (!result.daysMatch && FShownRange) {
        // The check ran on a store of its own: this page's store learns of it too, and reads the lines themselves
        // should the summaries not have been mended.
        guarded([this] { FDbMan->DaysMatchLines(*FShownRange); }, this);
        readAgainForDays();
    }
    FRanking->setRows(result.rows);
    applyComparedRanking(result.rows, result.before);
    // Also after a failure, so that the chart stops saying it is computing.
    Panel8->setRanking(result.rows);
    updateButtons();
}

void TReviewPage::waitForRanking(QPushButton* button)
{
    if (!FRankingWatcher.isRunning() && FRankingApplied)
        return;
    BusyCursor busy(button);
    FRankingWatcher.waitForFinished();
    applyRanking();
}

void TReviewPage::prepare(TDbMan* dbMan, const QString& userName)
{
    FDbMan = dbMan;
    FUserName = userName;
    fillAccountChooser();
    const QDate today = QDate::currentDate();
    DateTimePicker2->setDate(today.addDays(1 - today.day()));
    DateTimePicker3->setDate(today);
    ComboBox6->setCurrentIndex(0);
    ComboBox6Click();
    updateTotals();
    updateButtons();
}

void TReviewPage::clearViews()
{
    ++FQueryNumber;
    FShownRange.reset();
    FDetail->clear();
    FDaily->reset({});
    FDayProducts->reset({}, {});
    FRanking->reset({});
    FComparedRange.reset();
    FShownComparison = Comparison::None;
    showCompared(false);
    showRankingUnsorted();
    Panel8->clear();
    Panel8->setTitle(QString());
    updateButtons();
    updateTotals();
}

void TReviewPage::ComboBox6Click()
{
    const QString chosen = ComboBox6->currentText().trimmed();
    const qsizetype index = kViewNames.indexOf(chosen);
    if (index < 0)
        return;
    for (qsizetype i = 0; i < FPanels.size(); ++i)
        FPanels.at(i)->setVisible(i == index);
}

void TReviewPage::fillAccountChooser()
{
    ComboBoxAccount->clear();
    ComboBoxAccount->hide();
    placeFind();
    std::optional<QStringList> others;
    // Not being able to tell leaves the page as any account's: only its own lines.
    guarded([&] { others = FDbMan->ReviewableAccounts(FUserName); }, this);
    if (!others)
        return;
    ComboBoxAccount->addItem(ownRangeName(), FUserName);
    ComboBoxAccount->addItem(shopRangeName());
    // An account named like one of the two above (made before such names were refused) is shown as an account.
    for (const QString& name : std::as_const(*others)) {
        const bool looksLikeRange = name == ownRangeName() || name == shopRangeName();
        ComboBoxAccount->addItem(looksLikeRange ? QStringLiteral("帐户“%1”").arg(name) : name, name);
    }
    ComboBoxAccount->show();
    placeFind();
}

void TReviewPage::placeFind()
{
    // Beside the account chooser when there is one, else in its place.
    const int left = ComboBoxAccount->isVisibleTo(this) ? 438 : 370;
    LabelFind->move(left, 16);
    // Up to 显示：, which moves right as the window grows.
    EditFind->setGeometry(left + 28, 12, Label21->x() - 5 - (left + 28), 20);
}

void TReviewPage::resizeEvent(QResizeEvent* event)
{
    // The anchored controls have moved already: the page's own filter saw the resize first.
    QWidget::resizeEvent(event);
    placeFind();
}

Comparison TReviewPage::chosenComparison() const
{
    return Comparison(ComboBoxCompare->currentData().toInt());
}

void TReviewPage::showCompared(bool compared)
{
    const auto use = [](QTreeView* view, SalesListModel* model) {
        if (view->model() == model)
            return;
        QAbstractItemDelegate* old = view->itemDelegate();
        view->setModel(model);
        view->header()->setStretchLastSection(true);
        fitColumns(view, *model);
        delete old;
    };
    use(ListView3, compared ? static_cast<SalesListModel*>(FDailyCompared) : FDaily);
    use(ListView5, compared ? static_cast<SalesListModel*>(FRankingCompared) : FRanking);
}

void TReviewPage::applyComparedRanking(const QList<RankingRow>& now, const QList<RankingRow>& before)
{
    if (FComparedRange)
        FRankingCompared->setRows(compareRankings(now, before));
}

SalesRange TReviewPage::chosenRange() const
{
    SalesRange range { FUserName, DateTimePicker2->date(), DateTimePicker3->date() };
    range.find = composedTrimmed(EditFind->text());
    if (ComboBoxAccount->isVisibleTo(this) && ComboBoxAccount->currentIndex() >= 0) {
        const QVariant whose = ComboBoxAccount->currentData();
        range.shop = !whose.isValid();
        range.userName = range.shop ? QString() : whose.toString();
    }
    return range;
}

bool TReviewPage::shownLinesAreOwn() const
{
    return FShownRange && !FShownRange->shop && FShownRange->userName == FUserName;
}

template <typename Fetch> auto TReviewPage::fetchRows(Fetch&& fetch) -> decltype(fetch())
{
    // Rows are fetched while a view paints: a failure leaves them blank and is told once per query, after the paint.
    try {
        return fetch();
    } catch (const std::exception& error) {
        if (FFetchFailedQuery != FQueryNumber) {
            FFetchFailedQuery = FQueryNumber;
            const auto* own = dynamic_cast<const KivaroError*>(&error);
            const QString text = own ? own->text() : QString::fromLocal8Bit(error.what());
            QTimer::singleShot(0, this, [this, text] {
                showError(text, this);
                // Rows left blank are read again when they are painted next, a moment after the failure.
                QTimer::singleShot(2100, this, [this] {
                    for (QTreeView* view : findChildren<QTreeView*>())
                        view->viewport()->update();
                });
            });
        }
        return {};
    }
}

void TReviewPage::Button7Click()
{
    FReadAgainForDays = false;
    showRange(chosenRange(), chosenComparison());
}

void TReviewPage::showRankingUnsorted()
{
    // No section marked: the next click on a column sorts it most first.
    ListView5->header()->setSortIndicatorShown(false);
    ListView5->header()->setSortIndicator(-1, Qt::DescendingOrder);
}

void TReviewPage::readAgainForDays()
{
    if (FReadAgainForDays || !FShownRange)
        return;
    FReadAgainForDays = true;
    QTimer::singleShot(0, this, &TReviewPage::readShownAgain);
}

void TReviewPage::readShownAgain()
{
    if (!FShownRange)
        return;
    QList<std::pair<QTreeView*, int>> tops;
    for (QTreeView* view : { ListView2, ListView3, ListView4, ListView5 })
        tops.append({ view, view->indexAt(QPoint(0, 0)).row() });
    const SalesRange range = *FShownRange;
    showRange(range, FShownComparison);
    for (const auto& [view, top] : tops) {
        const int rows = view->model()->rowCount();
        if (top > 0 && rows > 0)
            view->scrollTo(view->model()->index(std::min(top, rows - 1), 1), QAbstractItemView::PositionAtTop);
    }
}

void TReviewPage::showRange(const SalesRange& range, Comparison comparison)
{
    {
        BusyCursor busy(Button7);
        guarded(
            [this, &range, comparison] {
                const std::shared_ptr<const ViewSnapshot> snapshot = FDbMan->QueryView(range);
                const QList<DayCount>& days = snapshot->days;
                ++FQueryNumber;
                TDbMan* store = FDbMan;
                const auto fetch = [this, store, snapshot](qint64 first, qint64 count) {
                    return fetchRows([&] { return std::optional(store->LinesAsRead(*snapshot, first, count)); });
                };
                FDetail->reset(snapshot, fetch);
                FDaily->reset(days);
                FShownRange = range;
                FDayProducts->reset(snapshot, fetch);
                FRanking->reset(FDaily->totals());
                // Compared: the earlier period's days now, its ranking beside the range's.
                FShownComparison = comparison;
                FComparedRange.reset();
                if (comparison != Comparison::None) {
                    const std::optional<SalesRange> earlier = comparedRange(range, comparison);
                    const QList<DayCount> before = earlier ? FDbMan->QueryDays(*earlier) : QList<DayCount>();
                    SalesTotals beforeTotals;
                    for (const DayCount& day : before)
                        beforeTotals.add(day.sums, day.lines);
                    // A period before the first day there is has nothing in it.
                    SalesRange shownEarlier = earlier.value_or(range);
                    if (!earlier)
                        shownEarlier.first = shownEarlier.last = QDate();
                    FComparedRange = shownEarlier;
                    for (ComparedListModel* model : { FDailyCompared, FRankingCompared })
                        model->reset(comparison, range, shownEarlier, FDaily->totals(), beforeTotals);
                    FDailyCompared->setRows(compareDays(range, comparison, days, before));
                }
                showCompared(FComparedRange.has_value());
                showRankingUnsorted();
                Panel8->showRange(range, days, {}, FDaily->totals());
                const QString dayFormat = QStringLiteral("yyyy-MM-dd");
                Panel8->setTitle(
                    QStringLiteral("%1  销售趋势图  %2 至 %3")
                        .arg(rangeOwnerName(range), range.first.toString(dayFormat), range.last.toString(dayFormat)));
                qint64 groups = 0;
                for (const DayCount& day : days)
                    groups += day.rows;
                startRanking(range, groups);
            },
            this);
    }
    // A ranking that failed at once must not leave the chart saying it is computing.
    if (Panel8->rankingPending() && FRankingApplied)
        Panel8->setRanking({});
    updateButtons();
    updateTotals();
}

void TReviewPage::startRanking(const SalesRange& range, qint64 groups)
{
    // Beside the ranking, a check that the day summaries 查看 read count the lines of the range: another program may
    // have changed them. It reads every line's key, so a long range has it done away from the window.
    const std::optional<SalesRange> earlier
        = FComparedRange && FComparedRange->first.isValid() ? FComparedRange : std::nullopt;
    if (groups <= kRankingInline) {
        const QList<RankingRow> rows = groups > 0 ? FDbMan->QueryRanking(range) : QList<RankingRow>();
        if (groups > 0) {
            FRanking->setRows(rows);
            Panel8->setRanking(rows);
        }
        // The earlier period may be long: it is ranked from its summaries, as quickly as the range.
        applyComparedRanking(rows, earlier ? FDbMan->QueryRanking(*earlier) : QList<RankingRow>());
        if (!FDbMan->DaysMatchLines(range))
            readAgainForDays();
        return;
    }
    FRankingWatcher.setProperty("query", FQueryNumber);
    FRankingApplied = false;
    FRankingPool.clear();
    FRankingWatcher.setFuture(QtConcurrent::run(&FRankingPool, [range, earlier, location = FDbMan->location()] {
        RankingResult result;
        try {
            TDbMan store(location);
            result.rows = store.QueryRanking(range);
            if (earlier)
                result.before = store.QueryRanking(*earlier);
            result.daysMatch = store.DaysMatchLines(range);
        } catch (const std::exception& error) {
            const auto* own = dynamic_cast<const KivaroError*>(&error);
            result.error = own ? own->text() : QString::fromLocal8Bit(error.what());
        }
        return result;
    }));
}

void TReviewPage::setupExportMenu()
{
    menuExport = new QMenu(this);
    menuExport->setObjectName(QStringLiteral("menuExport"));
    menuExport->setFont(font());
    const std::tuple<const char*, QString, ExportFormat> entries[]
        = { { "actExportExcel", QStringLiteral("导出Excel…"), ExportFormat::Excel },
              { "actExportCsv", QStringLiteral("导出CSV…"), ExportFormat::Csv },
              { "actExportPdf", QStringLiteral("导出PDF…"), ExportFormat::Pdf } };
    for (const auto& [name, text, format] : entries) {
        QAction* action = menuExport->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, [this, format] { exportShownView(FMenuView, format, this); });
    }
}

ReviewView TReviewPage::shownView(const QTreeView* list)
{
    return ReviewView(list->property(kShownView).toInt());
}

void TReviewPage::showExportMenu(QTreeView* view, const QPoint& at)
{
    FMenuView = shownView(view);
    menuExport->popup(view->viewport()->mapToGlobal(at));
}

void TReviewPage::exportShownView(ReviewView view, ExportFormat format, QWidget* parent)
{
    if (!FDbMan || !FShownRange) {
        MessageBox::information(parent, QStringLiteral("请先选择日期并点“查看”。"));
        return;
    }
    // The rows the list shows, as 查看 read them, whatever was written elsewhere since.
    if (view == ReviewView::Ranking)
        waitForRanking(nullptr);
    auto shown = std::make_shared<ShownView>(FDetail->shown());
    shown->view = view;
    if (view == ReviewView::Daily)
        shown->totals = FDaily->totals();
    else if (view == ReviewView::Ranking)
        shown->ranking = FRanking->rows();
    if (FComparedRange && (view == ReviewView::Daily || view == ReviewView::Ranking)) {
        const ComparedListModel* compared = view == ReviewView::Daily ? FDailyCompared : FRankingCompared;
        shown->comparison = compared->comparison();
        shown->compared = compared->rows();
        shown->earlier = compared->earlier();
        shown->earlierTotals = compared->earlierTotals();
        shown->totals = compared->totals();
    }
    exportThroughDialog(parent, *FDbMan, { view, *FShownRange, format, shown });
}

void TReviewPage::ListView2Change()
{
    const bool selected = selectedDetailRow() >= 0 && shownLinesAreOwn();
    Button10->setEnabled(selected);
    Button11->setEnabled(selected);
}

void TReviewPage::updateButtons()
{
    ListView2Change();
    Button8->setEnabled(FDetail->rowCount() > 0);
    Button13->setEnabled(ListView3->model()->rowCount() > 0);
    Button14->setEnabled(FDayProducts->rowCount() > 0);
    Button15->setEnabled(ListView5->model()->rowCount() > 0);
    Button16->setEnabled(FDaily->rowCount() > 0);
}

void TReviewPage::updateTotals()
{
    setSizedText(Label19, FDetail->totals().text());
    // Compared, a second line: the earlier period's.
    const QString compared = FComparedRange ? FDailyCompared->totalsText() : QString();
    setSizedText(Label22, FComparedRange ? compared : FDaily->totals().text());
    setSizedText(Label23, FDayProducts->totals().text());
    setSizedText(Label24, FComparedRange ? compared : FRanking->totals().text());
}

int TReviewPage::selectedDetailRow() const
{
    const QModelIndexList rows = ListView2->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

namespace {

// Runs an edit or delete of a stored line. A line that is gone is the user's news, not an unexpected error.
template <typename Change> bool guardedChange(Change&& change, QWidget* parent)
{
    try {
        change();
        return true;
    } catch (const TRecordGone& gone) {
        MessageBox::error(parent, gone.text());
        return false;
    } catch (...) {
        return guarded([] { throw; }, parent);
    }
}

} // namespace

void TReviewPage::Button10Click()
{
    const int row = selectedDetailRow();
    if (row < 0 || !shownLinesAreOwn() || !MessageBox::confirm(this, QStringLiteral("真的要删除指定的记录？")))
        return;
    const SalesLine* line = FDetail->line(row);
    const bool deleted = line && guardedChange([&] { FDbMan->DeleteLine(FUserName, *line); }, this);
    if (deleted)
        FDetail->removeLine(row);
    // The view would select the neighbour, and a second "删除" would take a line the user never chose.
    ListView2->selectionModel()->clear();
    updateButtons();
    setSizedText(Label19, FDetail->totals().text());
}

void TReviewPage::Button11Click()
{
    const int row = selectedDetailRow();
    if (row < 0 || !shownLinesAreOwn() || !MessageBox::confirm(this, QStringLiteral("真的要编辑指定的记录？")))
        return;
    const QStringList shown = FDetail->rowTexts(row);
    const SalesLine* stored = FDetail->line(row);
    if (!stored)
        return;
    const SalesLine seen = *stored;
    TfrmUpdateRecord dialog(this);
    dialog.setLine(stored->day, shown.at(2), shown.at(3), shown.at(4), shown.at(5), shown.at(6));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList typed = dialog.trimmedTexts();
    const SalesLine line = editedLine(seen.id, dialog.day(), typed);
    if (!guardedChange([&] { FDbMan->UpdateLine(FUserName, seen, line); }, this))
        return;
    FDetail->setEdited(row, line, QStringList { dialog.day().toString(QStringLiteral("yyyy-MM-dd")) } + typed);
    // The edited line stays chosen, so that it can be edited again or deleted at once.
    ListView2->selectionModel()->select(
        FDetail->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    updateButtons();
    setSizedText(Label19, FDetail->totals().text());
    MessageBox::information(this, QStringLiteral("恭喜您，本次操作成功！"));
}

void TReviewPage::focusFirstDay()
{
    if (isVisible())
        DateTimePicker2->setFocus(Qt::ShortcutFocusReason);
}
