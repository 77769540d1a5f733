// Track graph curve that thins its line and marks to what the pixels can show.
#include "TrackCurve.h"

#include <cmath>
#include <vector>

namespace {

bool isGap(const QPointF &p)
{
    return std::isnan(p.x()) || std::isnan(p.y());
}

}

TrackCurve::TrackCurve(QCPAxis *keyAxis, QCPAxis *valueAxis)
    : QCPCurve(keyAxis, valueAxis)
{
}

void TrackCurve::drawCurveLine(QCPPainter *painter, const QVector<QPointF> &lines) const
{
    // Drop vertices closer than half a pixel to the last one kept; the last vertex of each run is
    // always kept so the line ends where the track ends. NaN vertices separate runs and pass through.
    const int count = lines.size();
    const QPointF *in = lines.constData();
    QVector<QPointF> thinned(count);
    QPointF *out = thinned.data();
    int kept = 0;
    bool runOpen = false;
    for (int i = 0; i < count; ++i) {
        const QPointF &p = in[i];
        if (isGap(p)) {
            out[kept++] = p;
            runOpen = false;
            continue;
        }
        const bool runEnd = i + 1 == count || isGap(in[i + 1]);
        if (runOpen && !runEnd) {
            const QPointF &last = out[kept - 1];
            if (std::fabs(p.x() - last.x()) < 0.5 && std::fabs(p.y() - last.y()) < 0.5)
                continue;
        }
        out[kept++] = p;
        runOpen = true;
    }
    thinned.resize(kept);
    QCPCurve::drawCurveLine(painter, thinned);
}

void TrackCurve::drawScatterPlot(QCPPainter *painter, const QVector<QPointF> &points,
                                 const QCPScatterStyle &style) const
{
    // Every mark has the same shape and pen, so a second mark on an already marked pixel of the
    // axis rect changes nothing visible. Marks outside the rect (cut by its edge) are all drawn.
    const QRect area = keyAxis()->axisRect()->rect();
    const double left = area.left();
    const double top = area.top();
    const int width = qMax(area.width(), 0);
    const int height = qMax(area.height(), 0);
    std::vector<bool> marked(size_t(width) * size_t(height), false);
    QVector<QPointF> distinct;
    distinct.reserve(qMin(points.size(), width * height + 64));
    for (const QPointF &p : points) {
        if (isGap(p))
            continue;
        const double x = p.x() - left;
        const double y = p.y() - top;
        if (x >= 0 && y >= 0 && x < width && y < height) {
            const size_t cell = size_t(y) * size_t(width) + size_t(x);
            if (marked[cell])
                continue;
            marked[cell] = true;
        }
        distinct.append(p);
    }
    QCPCurve::drawScatterPlot(painter, distinct, style);
}
