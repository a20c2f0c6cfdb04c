#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

// The rows of one report-style list: plain texts, column 0 hidden. The texts are kept in one flat list, row after
// row, as the query hands them over: a view of a hundred thousand rows is filled in one step, without a list per
// row.
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
    // Every column's text, the hidden one first.
    QStringList row(int row) const;
    const QString& text(int row, int column) const;

    // Replaces all rows. With hiddenColumn the texts hold every column of each row; without it they start each row
    // at column 1, and column 0 stays empty.
    void setTexts(QStringList texts, bool hiddenColumn);
    // Replaces one row; texts hold every column, the hidden one first.
    void setRow(int row, const QStringList& texts);
    void removeRowAt(int row);

private:
    qsizetype stored() const { return m_columns.size() - m_skipped; }

    QList<Column> m_columns;
    QStringList m_texts;
    // 1 when column 0 is not stored.
    int m_skipped = 0;
};
