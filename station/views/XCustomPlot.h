// The "Graphe" tab's plot widget: a QCustomPlot that announces its own resizes, so that the window
// can re-derive the axis ticks for the new size.
#pragma once

#include <QSize>
#include <qcustomplot.h>

class XCustomPlot : public QCustomPlot
{
    Q_OBJECT

public:
    explicit XCustomPlot(QWidget *parent = nullptr);

signals:
    void Resized(QSize s);

protected:
    void resizeEvent(QResizeEvent *event) override;
};
