// A beacon's curve on the track graph. A long track packs many positions into each pixel when the
// view is wide, and most of a long track lies outside the view when zoomed in. This curve computes
// its on-screen line and marks in one pass: segments are cut to the plot area, line vertices closer
// than half a pixel to the previous one are left out, and a mark is drawn once per pixel. The
// picture is the one QCPCurve draws, at a fraction of the cost for a million positions.
#pragma once

#include <qcustomplot.h>

class TrackCurve : public QCPCurve
{
    Q_OBJECT

public:
    TrackCurve(QCPAxis *keyAxis, QCPAxis *valueAxis);

protected:
    void draw(QCPPainter *painter) override;

private:
    void trackLine(QVector<QPointF> *vertices, const QCPDataRange &range, double penWidth) const;
    void trackMarks(QVector<QPointF> *marks, const QCPDataRange &range, double markSize) const;
};
