// Turns a long track into what is worth drawing on screen: the vertices are fed in pixel
// coordinates, segments are cut to an area a little larger than the view (so that no coordinate
// grows out of the painter's range), and a vertex closer than half a pixel to the last one kept is
// left out, except where a piece ends. The result is pieces of polyline separated by NaN vertices.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QVector>

namespace qmapcontrol {

class ScreenPolyline
{
public:
    explicit ScreenPolyline(const QRectF &area);

    // The next vertex of the track; a NaN vertex is a gap.
    void add(const QPointF &vertex);
    // The next vertex starts a new piece (the points in between were not fed).
    void lift();
    // Every piece, each followed by a NaN vertex.
    const QVector<QPointF> &finish();

private:
    bool inArea(const QPointF &p) const
    {
        return p.x() >= m_left && p.x() <= m_right && p.y() >= m_top && p.y() <= m_bottom;
    }
    void closePiece();

    QRectF m_area;
    double m_left;
    double m_right;
    double m_top;
    double m_bottom;
    QVector<QPointF> m_vertices;
    bool m_pieceOpen = false;
    // The last vertex fed, and whether the open piece (logically) ends on it.
    QPointF m_previous;
    bool m_hasPrevious = false;
    bool m_previousInPiece = false;
    // A vertex left out for being too close; it still ends its piece.
    QPointF m_pending;
    bool m_hasPending = false;
};

} // namespace qmapcontrol
