// The "Graphe" tab's plot widget.
#include "XCustomPlot.h"

#include <QResizeEvent>

XCustomPlot::XCustomPlot(QWidget *parent)
    : QCustomPlot(parent)
{
}

void XCustomPlot::resizeEvent(QResizeEvent *event)
{
    // QCustomPlot lays the plot out again and queues its replot first; listeners see the new layout.
    QCustomPlot::resizeEvent(event);
    emit Resized(event->size());
}
