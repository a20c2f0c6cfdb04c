#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

// The rows of one report-style list: plain texts, column 0 hidden. Filled in one step so that a view of a
// hundred thousand rows is laid out once, not row by row.
class ReportListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct Column
    {
        QString caption;
        int width;
        Qt::Alignment alignment;
    };

    ReportListModel(QList<Column> columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const QList<Column>& columns() const { return m_columns; }
    const QStringList& row(int row) const { return m_rows.at(row); }
    QString text(int row, int column) const { return m_rows.at(row).at(column); }

    void setRows(QList<QStringList> rows);
    void setRow(int row, QStringList texts);
    void removeRowAt(int row);

private:
    QList<Column> m_columns;
    QList<QStringList> m_rows;
};
