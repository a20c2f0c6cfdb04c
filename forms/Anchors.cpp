#include "forms/Anchors.h"

#include <QEvent>
#include <QWidget>

void anchor(QWidget* control, Qt::Edges edges)
{
    QWidget* container = control->parentWidget();
    Anchors* anchors = container->findChild<Anchors*>(QString(), Qt::FindDirectChildrenOnly);
    if (!anchors)
        anchors = new Anchors(container);
    anchors->add(control, edges);
}

Anchors::Anchors(QWidget* container)
    : QObject(container)
    , m_container(container)
    , m_designed(container->size())
{
    container->installEventFilter(this);
}

void Anchors::add(QWidget* control, Qt::Edges edges)
{
    m_anchored.append({ control, edges, control->geometry() });
    place(control, edges, control->geometry());
}

bool Anchors::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_container && event->type() == QEvent::Resize) {
        for (const Anchored& anchored : std::as_const(m_anchored))
            if (anchored.control)
                place(anchored.control, anchored.edges, anchored.designed);
    }
    return QObject::eventFilter(watched, event);
}

void Anchors::place(QWidget* control, Qt::Edges edges, const QRect& designed) const
{
    // Never smaller than designed: a container below its designed size leaves its controls where they were designed.
    const int dx = std::max(0, m_container->width() - m_designed.width());
    const int dy = std::max(0, m_container->height() - m_designed.height());
    QRect placed(designed.topLeft(), control->size());
    if (edges & Qt::RightEdge) {
        if (edges & Qt::LeftEdge)
            placed.setWidth(designed.width() + dx);
        else
            placed.moveLeft(designed.left() + dx);
    }
    if (edges & Qt::BottomEdge) {
        if (edges & Qt::TopEdge)
            placed.setHeight(designed.height() + dy);
        else
            placed.moveTop(designed.top() + dy);
    }
    if (placed != control->geometry())
        control->setGeometry(placed);
}
