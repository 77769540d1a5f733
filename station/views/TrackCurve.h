// A beacon's curve on the track graph. A long track packs many positions into each pixel when the
// view is wide, and most of a long track lies outside the view when zoomed in. This curve computes
// its on-screen line and marks in one pass: segments are cut to the plot area, line vertices closer
// than half a pixel to the previous one are left out, and a mark is drawn once per pixel. The
// picture is the one QCPCurve draws, at a fraction of the cost for a million positions. The track
// curves of a plot keep their picture between replots (TrackPicture): a new position then costs
// its own segment and mark.
#pragma once

#include "qmapcontrol/PixelGrid.h"

#include <QRect>
#include <qcustomplot.h>

class TrackCurve : public QCPCurve
{
    Q_OBJECT

public:
    TrackCurve(QCPAxis *keyAxis, QCPAxis *valueAxis);

protected:
    void draw(QCPPainter *painter) override;

private:
    friend class TrackPicture;

    // The pixels around the plot area that hold one of the curve's marks already.
    using MarkGrid = qmapcontrol::PixelGrid;

    // Plain curves (linear axes, no fill, every mark drawn) are drawn here; others by QCPCurve.
    bool drawsPlainly() const;
    // The whole curve; `grid` keeps the marked pixels when no stretch is selected.
    void drawAll(QCPPainter *painter, MarkGrid *grid) const;
    // The positions from `first` on, joined to the one before, with `grid` from the drawing before.
    void drawFrom(QCPPainter *painter, int first, MarkGrid *grid) const;
    void trackLine(QVector<QPointF> *vertices, const QCPDataRange &range, double penWidth) const;
    void trackMarks(QVector<QPointF> *marks, const QCPDataRange &range, double markSize,
                    MarkGrid *grid) const;
    // The area in which marks can show, for a grid.
    QRect markArea(double markSize) const;
};
