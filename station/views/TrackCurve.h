// A beacon's curve on the track graph. A long track packs many positions into each pixel when the
// view is wide; this curve draws the line and the position marks once per pixel instead of once per
// position, which looks the same and keeps a replot of a million positions short.
#pragma once

#include <qcustomplot.h>

class TrackCurve : public QCPCurve
{
    Q_OBJECT

public:
    TrackCurve(QCPAxis *keyAxis, QCPAxis *valueAxis);

protected:
    void drawCurveLine(QCPPainter *painter, const QVector<QPointF> &lines) const override;
    void drawScatterPlot(QCPPainter *painter, const QVector<QPointF> &points,
                         const QCPScatterStyle &style) const override;
};
