// Track graph curve drawn in one pass over its positions.
#include "TrackCurve.h"

#include "TrackPicture.h"
#include "qmapcontrol/ScreenPolyline.h"

#include <cmath>
#include <vector>

namespace {

// The part of the plot that shows, in key and value coordinates, widened by a margin in pixels.
// Positions are compared with it before any conversion to pixels.
class DataWindow
{
public:
    DataWindow(const QCPAxis *keyAxis, const QCPAxis *valueAxis, double margin)
    {
        widen(keyAxis, margin, &m_keyLow, &m_keyHigh);
        widen(valueAxis, margin, &m_valueLow, &m_valueHigh);
    }

    // Which sides of the window a position lies beyond (Cohen–Sutherland): a segment whose two
    // ends share a side cannot cross the window. NaN lies beyond no side.
    int outcode(double key, double value) const
    {
        return (key < m_keyLow ? 1 : 0) | (key > m_keyHigh ? 2 : 0) | (value < m_valueLow ? 4 : 0)
            | (value > m_valueHigh ? 8 : 0);
    }

private:
    static void widen(const QCPAxis *axis, double margin, double *low, double *high)
    {
        const QRect rect = axis->axisRect()->rect();
        const int pixels = axis->orientation() == Qt::Horizontal ? rect.width() : rect.height();
        const QCPRange range = axis->range();
        // One more pixel than asked, for rounding; with no pixels yet, no position is left out.
        const double extra = pixels > 0 ? (margin + 1.0) * range.size() / pixels : qInf();
        *low = range.lower - extra;
        *high = range.upper + extra;
    }

    double m_keyLow, m_keyHigh, m_valueLow, m_valueHigh;
};

} // namespace

TrackCurve::TrackCurve(QCPAxis *keyAxis, QCPAxis *valueAxis)
    : QCPCurve(keyAxis, valueAxis)
{
}

bool TrackCurve::drawsPlainly() const
{
    const QCPAxis *keyAxis = mKeyAxis.data();
    const QCPAxis *valueAxis = mValueAxis.data();
    // Fills, thinned-out marks and logarithmic axes are left to QCPCurve.
    return keyAxis && valueAxis && keyAxis->scaleType() == QCPAxis::stLinear
        && valueAxis->scaleType() == QCPAxis::stLinear && mBrush.style() == Qt::NoBrush
        && scatterSkip() == 0
        && (!mSelectionDecorator || mSelectionDecorator->brush().style() == Qt::NoBrush);
}

void TrackCurve::draw(QCPPainter *painter)
{
    if (!drawsPlainly()) {
        QCPCurve::draw(painter);
        return;
    }
    TrackPicture::of(mParentPlot)->draw(painter, this);
}

void TrackCurve::drawAll(QCPPainter *painter, MarkGrid *grid) const
{
    grid->reset(markArea(mScatterStyle.size()));
    if (mDataContainer->isEmpty())
        return;

    // As QCPCurve: unselected stretches first, then selected ones in the decorator's style.
    QList<QCPDataRange> selectedSegments;
    QList<QCPDataRange> unselectedSegments;
    getDataSegments(selectedSegments, unselectedSegments);
    const QList<QCPDataRange> segments = unselectedSegments + selectedSegments;
    // With a selection, each stretch has marks of its own; else `grid` keeps them for later.
    const bool whole = selectedSegments.isEmpty();
    MarkGrid stretchGrid;
    QVector<QPointF> vertices;
    QVector<QPointF> marks;
    for (int i = 0; i < segments.size(); ++i) {
        const bool decorated = i >= unselectedSegments.size() && mSelectionDecorator;
        if (lineStyle() != lsNone) {
            const QPen pen = decorated ? mSelectionDecorator->pen() : mPen;
            // An unselected stretch reaches to the selected positions on either side.
            const QCPDataRange range = decorated ? segments.at(i) : segments.at(i).adjusted(-1, 1);
            trackLine(&vertices, range.bounded(QCPDataRange(0, dataCount())), pen.widthF());
            painter->setPen(pen);
            painter->setBrush(Qt::NoBrush);
            drawCurveLine(painter, vertices);
        }
        const QCPScatterStyle style =
            decorated ? mSelectionDecorator->getFinalScatterStyle(mScatterStyle) : mScatterStyle;
        if (!style.isNone()) {
            if (!whole)
                stretchGrid.reset(markArea(style.size()));
            trackMarks(&marks, segments.at(i), style.size(), whole ? grid : &stretchGrid);
            drawScatterPlot(painter, marks, style);
        }
    }
    if (mSelectionDecorator)
        mSelectionDecorator->drawDecoration(painter, selection());
}

void TrackCurve::drawFrom(QCPPainter *painter, int first, MarkGrid *grid) const
{
    const int count = dataCount();
    if (first >= count)
        return;
    if (lineStyle() != lsNone) {
        QVector<QPointF> vertices;
        trackLine(&vertices, QCPDataRange(std::max(first - 1, 0), count), mPen.widthF());
        painter->setPen(mPen);
        painter->setBrush(Qt::NoBrush);
        drawCurveLine(painter, vertices);
    }
    if (!mScatterStyle.isNone()) {
        QVector<QPointF> marks;
        trackMarks(&marks, QCPDataRange(first, count), mScatterStyle.size(), grid);
        drawScatterPlot(painter, marks, mScatterStyle);
    }
}

void TrackCurve::trackLine(QVector<QPointF> *vertices, const QCPDataRange &range,
                           double penWidth) const
{
    const double margin = penWidth + 2.0;
    qmapcontrol::ScreenPolyline polyline(
        QRectF(keyAxis()->axisRect()->rect()).adjusted(-margin, -margin, margin, margin));
    const DataWindow window(keyAxis(), valueAxis(), margin);
    const auto begin = mDataContainer->constBegin() + range.begin();
    const auto end = mDataContainer->constBegin() + range.end();
    // Segments wholly beyond one side of the window are passed over without converting them.
    bool fed = false;
    int previousCode = 0;
    for (auto it = begin; it != end; ++it) {
        const int code = window.outcode(it->key, it->value);
        if (it != begin && (previousCode & code) != 0) {
            if (fed)
                polyline.lift();
            fed = false;
        } else {
            if (!fed && it != begin)
                polyline.add(coordsToPixels((it - 1)->key, (it - 1)->value));
            polyline.add(coordsToPixels(it->key, it->value));
            fed = true;
        }
        previousCode = code;
    }
    *vertices = polyline.finish();
}

QRect TrackCurve::markArea(double markSize) const
{
    // Marks just outside the plot area still show in part.
    const int reach = int(std::ceil(markSize));
    return keyAxis()->axisRect()->rect().adjusted(-reach, -reach, reach, reach);
}

void TrackCurve::trackMarks(QVector<QPointF> *marks, const QCPDataRange &range, double markSize,
                            MarkGrid *grid) const
{
    // Every mark has the same shape and pen, so a second one on an already marked pixel changes
    // nothing visible.
    const DataWindow window(keyAxis(), valueAxis(), std::ceil(markSize));
    marks->clear();
    const auto end = mDataContainer->constBegin() + range.end();
    for (auto it = mDataContainer->constBegin() + range.begin(); it != end; ++it) {
        if (window.outcode(it->key, it->value) != 0)
            continue;
        const QPointF p = coordsToPixels(it->key, it->value);
        // A gap in the track (NaN) has no mark, nor has a position far off any grid (a plot not
        // laid out yet).
        if (std::fabs(p.x()) < 1e9 && std::fabs(p.y()) < 1e9
            && grid->take(QPoint(int(std::floor(p.x())), int(std::floor(p.y())))))
            marks->append(p);
    }
}
