#include "forms/ReportListModel.h"

ReportListModel::ReportListModel(QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent)
    , m_columns(std::move(columns))
{
}

int ReportListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || stored() <= 0 ? 0 : int(m_texts.size() / stored());
}

int ReportListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant ReportListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(m_columns.at(index.column()).alignment | Qt::AlignVCenter);
    return {};
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_columns.at(section).caption;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(m_columns.at(section).alignment | Qt::AlignVCenter);
    return {};
}

QStringList ReportListModel::row(int row) const
{
    QStringList texts;
    texts.reserve(m_columns.size());
    for (int column = 0; column < m_columns.size(); ++column)
        texts.append(text(row, column));
    return texts;
}

const QString& ReportListModel::text(int row, int column) const
{
    static const QString empty;
    if (column < m_skipped)
        return empty;
    return m_texts.at(row * stored() + column - m_skipped);
}

void ReportListModel::setTexts(QStringList texts, bool hiddenColumn)
{
    beginResetModel();
    m_skipped = hiddenColumn ? 0 : 1;
    m_texts = std::move(texts);
    // A last row with texts missing is not shown.
    if (stored() > 0 && m_texts.size() % stored() != 0)
        m_texts.resize(m_texts.size() - m_texts.size() % stored());
    endResetModel();
}

void ReportListModel::setRow(int row, const QStringList& texts)
{
    for (int column = m_skipped; column < m_columns.size(); ++column)
        m_texts[row * stored() + column - m_skipped] = texts.value(column);
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void ReportListModel::removeRowAt(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    m_texts.remove(row * stored(), stored());
    endRemoveRows();
}
