#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>

class QWidget;

// Keeps a control where the window's design put it as its container grows past the size it was laid out at: a
// control anchored to the left and right edges widens with the container, one anchored to the right edge only
// moves with it; likewise top and bottom. Controls anchored to the top and left only stay where they are.
// The container must have its designed size, and the control its designed geometry, when the control is anchored.
void anchor(QWidget* control, Qt::Edges edges);

class Anchors : public QObject
{
    Q_OBJECT

public:
    explicit Anchors(QWidget* container);
    void add(QWidget* control, Qt::Edges edges);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place(QWidget* control, Qt::Edges edges, const QRect& designed) const;

    struct Anchored
    {
        QPointer<QWidget> control;
        Qt::Edges edges;
        QRect designed;
    };
    QWidget* m_container;
    QSize m_designed;
    QList<Anchored> m_anchored;
};
