#include "forms/ColumnFit.h"

#include <QHeaderView>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>

namespace {

// Paints as the default delegate does; a cell whose text needs more room than its column has asks for it. The
// column grows after the paint, from the event loop, since a view must not be resized while it paints.
class WideningDelegate : public QStyledItemDelegate
{
public:
    WideningDelegate(QTreeView* view, const QList<int>& columns)
        : QStyledItemDelegate(view)
        , m_view(view)
        , m_columns(columns)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (m_columns.contains(index.column())) {
            const int needed = sizeHint(option, index).width();
            if (needed > m_view->header()->sectionSize(index.column())) {
                const bool first = m_wanted.isEmpty();
                int& wanted = m_wanted[index.column()];
                wanted = std::max(wanted, needed);
                if (first)
                    QTimer::singleShot(0, this, &WideningDelegate::widen);
            }
        }
        QStyledItemDelegate::paint(painter, option, index);
    }

private:
    void widen()
    {
        const QHash<int, int> wanted = std::exchange(m_wanted, {});
        if (!m_view)
            return;
        QHeaderView* header = m_view->header();
        for (auto it = wanted.begin(); it != wanted.end(); ++it) {
            if (header->sectionSize(it.key()) >= it.value())
                continue;
            // A last column that fills the list's width stops doing so once its text is wider than the list.
            if (header->stretchLastSection() && header->logicalIndex(header->count() - 1) == it.key())
                header->setStretchLastSection(false);
            header->resizeSection(it.key(), it.value());
        }
    }

    QPointer<QTreeView> m_view;
    QList<int> m_columns;
    mutable QHash<int, int> m_wanted;
};

}

void widenColumnsToText(QTreeView* view, const QList<int>& columns)
{
    view->setItemDelegate(new WideningDelegate(view, columns));
}
