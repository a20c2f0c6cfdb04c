#include "forms/SalesModels.h"

#include <algorithm>

namespace {

constexpr Qt::Alignment kLeft = Qt::AlignLeft;
constexpr Qt::Alignment kRight = Qt::AlignRight;

QString dayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

// Columns 2 to 5 of a grouped row: quantity, received, cost, profit.
QString sumsText(const SalesSums& sums, int index)
{
    const QChar separator = localeDecimalSeparator();
    switch (index) {
    case 0:
        return QString::number(sums.quantity);
    case 1:
        return formatCents(sums.received, separator);
    case 2:
        return formatCents(sums.cost, separator);
    case 3:
        return formatWideCents(WideCents(sums.received) - sums.cost, separator);
    }
    return {};
}

SalesTotals totalsOf(const QList<DayCount>& days)
{
    SalesTotals totals;
    for (const DayCount& day : days)
        totals.add(day.sums, day.lines);
    return totals;
}

} // namespace

SalesListModel::SalesListModel(QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent)
    , m_columns(std::move(columns))
{
    m_columns.prepend({ QString(), 0, kLeft });
}

void SalesListModel::setColumns(QList<Column> columns)
{
    m_columns = std::move(columns);
    m_columns.prepend({ QString(), 0, kLeft });
}

int SalesListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant SalesListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(m_columns.at(index.column()).alignment | Qt::AlignVCenter);
    return {};
}

QVariant SalesListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_columns.at(section).caption;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(m_columns.at(section).alignment | Qt::AlignVCenter);
    return {};
}

QList<int> SalesListModel::numericColumns() const
{
    QList<int> numeric;
    for (int column = 0; column < m_columns.size(); ++column)
        if (m_columns.at(column).alignment & Qt::AlignRight)
            numeric.append(column);
    return numeric;
}

QStringList SalesListModel::rowTexts(int row) const
{
    QStringList texts;
    texts.reserve(m_columns.size());
    for (int column = 0; column < m_columns.size(); ++column)
        texts.append(text(row, column));
    return texts;
}

DetailListModel::DetailListModel(QObject* parent)
    : SalesListModel({ { QStringLiteral("日期"), 76, kLeft }, { QStringLiteral("品名"), 272, kLeft },
                         { QStringLiteral("数量"), 40, kRight }, { QStringLiteral("实收"), 64, kRight },
                         { QStringLiteral("成本"), 64, kRight }, { QStringLiteral("备注"), 136, kLeft } },
        parent)
{
}

int DetailListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return int(std::min<qint64>(m_rows.lineCount() - qint64(m_removed.size()), std::numeric_limits<int>::max()));
}

qint64 DetailListModel::position(int row) const
{
    qint64 position = row;
    for (const qint64 removed : m_removed) {
        if (removed > position)
            break;
        ++position;
    }
    return position;
}

const SalesLine* DetailListModel::line(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    const qint64 at = position(row);
    const auto edited = m_edited.constFind(at);
    if (edited != m_edited.cend())
        return &edited->line;
    return m_rows.line(at);
}

QString DetailListModel::text(int row, int column) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const qint64 at = position(row);
    const auto edited = m_edited.constFind(at);
    if (edited != m_edited.cend())
        return column == 0 ? QString::number(edited->line.id) : edited->texts.value(column - 1);
    const SalesLine* shown = m_rows.line(at);
    if (!shown)
        return {};
    switch (column) {
    case 0:
        return QString::number(shown->id);
    case 1:
        return dayText(shown->day);
    case 2:
        return shown->productName;
    case 3:
        return QString::number(shown->quantity);
    case 4:
        return formatCents(shown->received, localeDecimalSeparator());
    case 5:
        return formatCents(shown->cost, localeDecimalSeparator());
    case 6:
        return shown->memo;
    }
    return {};
}

void DetailListModel::reset(std::shared_ptr<const ViewSnapshot> snapshot, Fetch fetch)
{
    beginResetModel();
    m_totals = snapshot ? totalsOf(snapshot->days) : SalesTotals();
    m_rows.reset(std::move(snapshot), std::move(fetch));
    m_removed.clear();
    m_edited.clear();
    endResetModel();
}

void DetailListModel::setEdited(int row, const SalesLine& line, const QStringList& typed)
{
    const SalesLine* before = this->line(row);
    if (!before)
        return;
    m_totals.remove(*before);
    m_totals.add(line);
    m_edited.insert(position(row), { line, typed });
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void DetailListModel::removeLine(int row)
{
    const SalesLine* removed = line(row);
    if (!removed)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_totals.remove(*removed);
    const qint64 at = position(row);
    m_edited.remove(at);
    m_removed.insert(std::lower_bound(m_removed.begin(), m_removed.end(), at), at);
    endRemoveRows();
}

ShownView DetailListModel::shown() const
{
    ShownView shown;
    shown.snapshot = m_rows.shared();
    shown.removed = m_removed;
    shown.totals = m_totals;
    for (auto it = m_edited.cbegin(); it != m_edited.cend(); ++it)
        shown.edited.insert(it.key(), it->line);
    return shown;
}

DailyListModel::DailyListModel(QObject* parent)
    : SalesListModel({ { QStringLiteral("日期"), 120, kLeft }, { QStringLiteral("数量"), 120, kRight },
                         { QStringLiteral("实收"), 120, kRight }, { QStringLiteral("成本"), 120, kRight },
                         { QStringLiteral("利润"), 120, kRight } },
        parent)
{
}

int DailyListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_days.size());
}

QString DailyListModel::text(int row, int column) const
{
    if (row < 0 || row >= m_days.size() || column == 0)
        return {};
    const DayCount& day = m_days.at(row);
    return column == 1 ? dayText(day.day) : sumsText(day.sums, column - 2);
}

void DailyListModel::reset(const QList<DayCount>& days)
{
    beginResetModel();
    m_days = days;
    m_totals = totalsOf(days);
    endResetModel();
}

DayProductListModel::DayProductListModel(QObject* parent)
    : SalesListModel({ { QStringLiteral("日期"), 76, kLeft }, { QStringLiteral("品名"), 300, kLeft },
                         { QStringLiteral("数量"), 50, kRight }, { QStringLiteral("实收"), 74, kRight },
                         { QStringLiteral("成本"), 74, kRight }, { QStringLiteral("利润"), 74, kRight } },
        parent)
{
}

int DayProductListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(std::min<qint64>(m_rows.groupCount(), std::numeric_limits<int>::max()));
}

QString DayProductListModel::text(int row, int column) const
{
    const DayProductRow* shown = m_rows.group(row);
    if (!shown || column == 0)
        return {};
    if (column == 1)
        return dayText(shown->day);
    if (column == 2)
        return shown->productName;
    return sumsText(shown->sums, column - 3);
}

void DayProductListModel::reset(std::shared_ptr<const ViewSnapshot> snapshot, Fetch fetch)
{
    beginResetModel();
    m_totals = snapshot ? totalsOf(snapshot->days) : SalesTotals();
    m_rows.reset(std::move(snapshot), std::move(fetch));
    endResetModel();
}

RankingListModel::RankingListModel(QObject* parent)
    : SalesListModel({ { QStringLiteral("品名"), 375, kLeft }, { QStringLiteral("数量"), 50, kRight },
                         { QStringLiteral("实收"), 74, kRight }, { QStringLiteral("成本"), 74, kRight },
                         { QStringLiteral("利润"), 74, kRight } },
        parent)
{
}

int RankingListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QString RankingListModel::text(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column == 0)
        return {};
    const RankingRow& shown = m_rows.at(row);
    return column == 1 ? shown.productName : sumsText(shown.sums, column - 2);
}

QVariant RankingListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::InitialSortOrderRole && orientation == Qt::Horizontal && section >= 2)
        return int(Qt::DescendingOrder);
    return SalesListModel::headerData(section, orientation, role);
}

void RankingListModel::reset(const SalesTotals& totals)
{
    beginResetModel();
    m_ranked.clear();
    m_rows.clear();
    m_sortColumn = -1;
    m_totals = totals;
    endResetModel();
}

void RankingListModel::setRows(QList<RankingRow> rows)
{
    beginResetModel();
    m_ranked = std::move(rows);
    arrange();
    endResetModel();
}

void RankingListModel::sort(int column, Qt::SortOrder order)
{
    beginResetModel();
    m_sortColumn = column >= 2 && column <= 5 ? column : -1;
    m_sortOrder = order;
    arrange();
    endResetModel();
}

void RankingListModel::arrange()
{
    m_rows = m_ranked;
    if (m_sortColumn < 0)
        return;
    // 利润 is 实收 less 成本, in 128 bits like the totals: two 64-bit sums cannot overflow it.
    const auto key = [column = m_sortColumn](const RankingRow& row) -> WideCents {
        switch (column) {
        case 2:
            return row.sums.quantity;
        case 3:
            return row.sums.received;
        case 4:
            return row.sums.cost;
        default:
            return WideCents(row.sums.received) - row.sums.cost;
        }
    };
    const bool mostFirst = m_sortOrder == Qt::DescendingOrder;
    std::stable_sort(m_rows.begin(), m_rows.end(),
        [&](const RankingRow& a, const RankingRow& b) { return mostFirst ? key(a) > key(b) : key(a) < key(b); });
}

namespace {

// The compared lists' columns, from the export's: days and names on the left, the rest right-aligned.
QList<SalesListModel::Column> comparedColumns(ReviewView view, Comparison comparison)
{
    QList<SalesListModel::Column> columns;
    for (const ViewColumn& column : viewColumns(view, comparison)) {
        switch (column.kind) {
        case ColumnKind::Day:
            columns.append({ column.caption, 76, kLeft });
            break;
        case ColumnKind::Text:
            columns.append({ column.caption, 120, kLeft });
            break;
        case ColumnKind::Quantity:
            columns.append({ column.caption, 48, kRight });
            break;
        case ColumnKind::Amount:
            columns.append({ column.caption, 66, kRight });
            break;
        case ColumnKind::Change:
            columns.append({ column.caption, 60, kRight });
            break;
        }
    }
    return columns;
}

} // namespace

ComparedListModel::ComparedListModel(ReviewView view, QObject* parent)
    : SalesListModel(comparedColumns(view, Comparison::PeriodBefore), parent)
    , m_view(view)
{
}

int ComparedListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

ViewCell ComparedListModel::cell(const ComparedRow& row, int column) const
{
    return comparedViewRow(m_view, row, m_range, m_comparison).value(column - 1);
}

QString ComparedListModel::text(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column <= 0 || column > m_kinds.size())
        return {};
    return cellText(cell(m_rows.at(row), column), m_kinds.at(column - 1), localeDecimalSeparator());
}

QVariant ComparedListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::InitialSortOrderRole && orientation == Qt::Horizontal && section >= 2)
        return int(Qt::DescendingOrder);
    return SalesListModel::headerData(section, orientation, role);
}

void ComparedListModel::reset(Comparison comparison, const SalesRange& range, const SalesRange& earlier,
    const SalesTotals& now, const SalesTotals& before)
{
    beginResetModel();
    m_comparison = comparison;
    setColumns(comparedColumns(m_view, comparison));
    m_kinds.clear();
    for (const ViewColumn& column : viewColumns(m_view, comparison))
        m_kinds.append(column.kind);
    m_range = range;
    m_earlier = earlier;
    m_totals = now;
    m_before = before;
    m_ordered.clear();
    m_rows.clear();
    m_sortColumn = -1;
    endResetModel();
}

void ComparedListModel::setRows(QList<ComparedRow> rows)
{
    beginResetModel();
    m_ordered = std::move(rows);
    arrange();
    endResetModel();
}

void ComparedListModel::sort(int column, Qt::SortOrder order)
{
    const bool numbers = column >= 2 && column <= m_kinds.size() && m_kinds.at(column - 1) != ColumnKind::Day
        && m_kinds.at(column - 1) != ColumnKind::Text;
    beginResetModel();
    m_sortColumn = numbers ? column : -1;
    m_sortOrder = order;
    arrange();
    endResetModel();
}

void ComparedListModel::arrange()
{
    m_rows = m_ordered;
    if (m_sortColumn < 0)
        return;
    // Each row's cell worked out once; a change with nothing to compare with comes last either way.
    QList<std::pair<ViewCell, qsizetype>> keys;
    keys.reserve(m_rows.size());
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        keys.append({ cell(m_rows.at(i), m_sortColumn), i });
    const bool mostFirst = m_sortOrder == Qt::DescendingOrder;
    std::stable_sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        if (a.first.blank || b.first.blank)
            return !a.first.blank && b.first.blank;
        return mostFirst ? a.first.number > b.first.number : a.first.number < b.first.number;
    });
    for (qsizetype i = 0; i < keys.size(); ++i)
        m_rows[i] = m_ordered.at(keys.at(i).second);
}

QString ComparedListModel::totalsText() const
{
    return comparedTotalsText(m_comparison, m_earlier, m_totals, m_before);
}

PendingListModel::PendingListModel(QObject* parent)
    : SalesListModel({ { QStringLiteral("日期"), 76, kLeft }, { QStringLiteral("品名"), 272, kLeft },
                         { QStringLiteral("数量"), 40, kRight }, { QStringLiteral("实收"), 64, kRight },
                         { QStringLiteral("成本"), 64, kRight }, { QStringLiteral("备注"), 136, kLeft } },
        parent)
{
}

int PendingListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

QString PendingListModel::text(int row, int column) const
{
    if (row < 0 || row >= m_lines.size())
        return {};
    const SalesLine& line = m_lines.at(row);
    switch (column) {
    case 1:
        return dayText(line.day);
    case 2:
        return line.productName;
    case 3:
        return QString::number(line.quantity);
    case 4:
        return formatCents(line.received, localeDecimalSeparator());
    case 5:
        return formatCents(line.cost, localeDecimalSeparator());
    case 6:
        return line.memo;
    }
    return {};
}

void PendingListModel::append(const SalesLine& line)
{
    beginInsertRows(QModelIndex(), int(m_lines.size()), int(m_lines.size()));
    m_lines.append(line);
    m_totals.add(line);
    endInsertRows();
}

void PendingListModel::removeLine(int row)
{
    if (row < 0 || row >= m_lines.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_totals.remove(m_lines.takeAt(row));
    endRemoveRows();
}

void PendingListModel::clear()
{
    beginResetModel();
    m_lines.clear();
    m_totals = {};
    endResetModel();
}
