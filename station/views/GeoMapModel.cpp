// Track store of the GeoTIFF map: placing positions through the map's geo-referencing, keeping the
// bounds of what can be shown, and drawing tracks and legend.
#include "GeoMapModel.h"
#include "LogCategories.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPointF>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

// Far beyond any map QImage can hold, yet small enough that the drawing arithmetic never overflows.
constexpr double kPixelLimit = 1 << 30;

bool isPixelCoordinate(double v)
{
    return std::isfinite(v) && std::fabs(v) < kPixelLimit;
}

QPointF screenPosition(const MapPoint &point, double s, qint64 offX, qint64 offY)
{
    return QPointF(double(qint64(point.px * s) - offX), double(qint64(point.py * s) - offY));
}

} // namespace

void GeoMapModel::place(MapPoint &point) const
{
    point.px = -1;
    point.py = -1;
    // The map's model space is taken as longitude/latitude in decimal degrees: no projection.
    double x = point.lon;
    double y = point.lat;
    if (!m_image.modelToImage(&x, &y))
        return;
    // A NaN position (no fix) or one absurdly far from the map has no pixel.
    if (!isPixelCoordinate(x) || !isPixelCoordinate(y))
        return;
    point.px = int(x);
    point.py = int(y);
}

bool GeoMapModel::loadMap(const QString &path)
{
    // A file that does not load changes nothing: the map, its positions and the picture stay.
    if (!m_image.load(path))
        return false;
    for (MapTrack &track : m_tracks) {
        for (MapPoint &point : track.points)
            place(point);
    }
    m_cacheValid = false;
    recomputeBounds();
    return true;
}

void GeoMapModel::addPoint(const QString &name, const MapPoint &point, const QPen &pen)
{
    append(name, &point, 1, pen, false);
}

void GeoMapModel::addPoints(const QString &name, const QVector<MapPoint> &points,
                            const QPen &pen)
{
    append(name, points.constData(), points.size(), pen, true);
}

void GeoMapModel::append(const QString &name, const MapPoint *points, int count, const QPen &pen,
                         bool batch)
{
    if (count <= 0)
        return;
    if (batch && m_cacheValid) {
        size_t held = 0;
        for (const MapTrack &track : m_tracks)
            held += size_t(track.points.size());
        if (size_t(count) >= held)
            m_cacheValid = false;
    }
    auto it = std::find_if(m_tracks.begin(), m_tracks.end(),
                           [&name](const MapTrack &t) { return t.name == name; });
    if (it == m_tracks.end()) {
        MapTrack track;
        track.name = name;
        track.pen = pen;
        m_tracks.push_back(track);
        it = m_tracks.end() - 1;
        m_legendValid = false;
    }
    MapTrack &track = *it;
    // A batch is made room for at once, but never just enough: batches after batches still grow
    // geometrically.
    const int needed = track.points.size() + count;
    if (needed > track.points.capacity())
        track.points.reserve(qMax(needed, 2 * track.points.capacity()));

    // Drawn into the cached picture, which thus stays equal to a full redraw.
    const bool drawing = m_cacheValid && !m_cachePixmap.isNull();
    QPainter painter;
    if (drawing)
        painter.begin(&m_cachePixmap);
    for (int i = 0; i < count; ++i) {
        MapPoint placed = points[i];
        place(placed);
        track.points.append(placed);
        if (drawing) {
            const int n = track.points.size();
            const MapPoint *previous = n >= 2 ? &track.points[n - 2] : nullptr;
            const double s = m_cacheScale;
            const QRectF drawn = drawPoint(painter, track, placed, previous, s,
                                           qint64(m_cacheX * s), qint64(m_cacheY * s));
            // A line from far away is kept to the picture before it is counted in pixels.
            m_cacheChanges.area |= drawn.intersected(QRectF(m_cachePixmap.rect())).toAlignedRect();
        }
        extendBounds(placed.px, placed.py);
    }
}

void GeoMapModel::removeTrack(const QString &name)
{
    auto it = std::find_if(m_tracks.begin(), m_tracks.end(),
                           [&name](const MapTrack &t) { return t.name == name; });
    if (it != m_tracks.end()) {
        m_tracks.erase(it);
        m_legendValid = false;
    }
    recomputeBounds();
    m_cacheValid = false;
}

void GeoMapModel::extendBounds(int px, int py)
{
    // Only positions on the image itself count: "fit" must not zoom out to places off the map.
    if (px < 0 || py < 0 || px >= m_image.width() || py >= m_image.height())
        return;
    if (m_bounds.top() < 0) {
        m_bounds = QRect(px, py, 0, 0);
        return;
    }
    // A single position is a 0x0 rectangle whose right and bottom edges lie before its own pixel:
    // it is widened from that pixel, so that it stays inside whatever comes next.
    const QRect held = m_bounds.isEmpty() ? QRect(m_bounds.topLeft(), QSize(1, 1)) : m_bounds;
    m_bounds = QRect(QPoint(qMin(held.left(), px), qMin(held.top(), py)),
                     QPoint(qMax(held.right(), px), qMax(held.bottom(), py)));
}

void GeoMapModel::recomputeBounds()
{
    m_bounds = QRect(-1, -1, 0, 0);
    for (const MapTrack &track : m_tracks) {
        for (const MapPoint &point : track.points)
            extendBounds(point.px, point.py);
    }
}

QRectF GeoMapModel::drawPoint(QPainter &painter, const MapTrack &track, const MapPoint &point,
                              const MapPoint *previous, double s, qint64 offX, qint64 offY)
{
    painter.setPen(track.pen);
    painter.setBrush(track.brush);
    if (!point.isDrawable())
        return QRectF();
    const double reach = track.pen.widthF() / 2 + 1;
    const QPointF c = screenPosition(point, s, offX, offY);
    painter.drawEllipse(c, 4, 4);
    QRectF area(c - QPointF(4, 4), QSizeF(8, 8));
    if (previous && previous->px > 0 && previous->py > 0) {
        const QPointF from = screenPosition(*previous, s, offX, offY);
        painter.drawLine(from, c);
        area |= QRectF(from, c).normalized();
    }
    return area.adjusted(-reach, -reach, reach, reach);
}

void GeoMapModel::drawTrack(QPainter &painter, const MapTrack &track, double s, qint64 offX,
                            qint64 offY, const QSize &size)
{
    painter.setPen(track.pen);
    painter.setBrush(track.brush);
    // A track is drawn in one opaque colour without antialiasing: a circle or a line drawn again
    // exactly where it was changes no pixel, and is left out. Only circles and lines of at most a
    // pixel, the many that a wide view packs onto each pixel, are looked for.
    const bool collapse = track.pen.brush().isOpaque()
        && !painter.testRenderHint(QPainter::Antialiasing) && size.width() > 0
        && size.height() > 0;
    if (collapse) {
        const size_t cells = size_t(size.width()) * size_t(size.height());
        if (m_drawnPixels.size() != cells || ++m_drawnPass > 0xffff) {
            m_drawnPixels.assign(cells, 0);
            m_drawnPass = 1;
        }
    }
    // The pixel's flags for this pass: the circle, then a line to each neighbour or itself.
    const auto firstTime = [&](const QPointF &p, int flag) {
        const bool inside =
            p.x() >= 0 && p.y() >= 0 && p.x() < size.width() && p.y() < size.height();
        if (!collapse || !inside)
            return true;
        quint32 &cell = m_drawnPixels[size_t(p.y()) * size_t(size.width()) + size_t(p.x())];
        if ((cell >> 16) != m_drawnPass)
            cell = m_drawnPass << 16;
        if (cell & (1u << flag))
            return false;
        cell |= 1u << flag;
        return true;
    };

    const MapPoint *previous = nullptr;
    for (const MapPoint &point : track.points) {
        if (point.isDrawable()) {
            const QPointF c = screenPosition(point, s, offX, offY);
            if (firstTime(c, 0))
                painter.drawEllipse(c, 4, 4);
            if (previous && previous->px > 0 && previous->py > 0) {
                const QPointF from = screenPosition(*previous, s, offX, offY);
                const QPointF step = c - from;
                const bool shortLine = std::fabs(step.x()) <= 1 && std::fabs(step.y()) <= 1;
                if (!shortLine
                    || firstTime(from, 1 + int((step.y() + 1) * 3 + (step.x() + 1))))
                    painter.drawLine(from, c);
            }
        }
        previous = &point;
    }
}

QPixmap GeoMapModel::render(double s, int x, int y, int w, int h)
{
    if (m_cacheValid && x == m_cacheX && y == m_cacheY && w == m_cacheWidth && h == m_cacheHeight
        && s == m_cacheScale)
        return m_cachePixmap;

    qCDebug(lcViews, "Full map redraw\n");
    QPixmap picture;
    const QPixmap &map = m_image.pixmap();
    const double mapW = w / s;
    const double mapH = h / s;
    // QPixmap::copy() of an empty rectangle copies the whole map: a widget without area (or a view
    // off the map) gets an empty picture instead. The copy is limited to the map, as copy() would.
    if (!map.isNull() && mapW >= 1 && mapH >= 1) {
        const QRect area(x, y, int(qMin(mapW, double(map.width()))),
                         int(qMin(mapH, double(map.height()))));
        picture = map.copy(area);
        picture = picture.scaled(int(picture.width() * s), int(picture.height() * s),
                                 Qt::KeepAspectRatio, Qt::FastTransformation);
    }
    if (!picture.isNull()) {
        const qint64 offX = qint64(x * s);
        const qint64 offY = qint64(y * s);
        QPainter painter(&picture);
        for (const MapTrack &track : m_tracks)
            drawTrack(painter, track, s, offX, offY, picture.size());
    }

    m_cacheScale = s;
    m_cacheX = x;
    m_cacheY = y;
    m_cacheWidth = w;
    m_cacheHeight = h;
    m_cachePixmap = picture;
    m_cacheValid = true;
    m_cacheChanges = PictureChanges{true, QRect()};
    return picture;
}

GeoMapModel::PictureChanges GeoMapModel::takePictureChanges()
{
    const PictureChanges changes = m_cacheChanges;
    m_cacheChanges = PictureChanges();
    return changes;
}

QPixmap GeoMapModel::renderLegend() const
{
    if (m_legendValid)
        return m_legend;
    const int n = int(m_tracks.size());
    QFont font;
    font.setPointSize(10);
    // 200 pixels wide, more when a name needs it (a history track's, "SERIAL (historique)").
    const QFontMetrics metrics(font);
    int width = 200;
    for (const MapTrack &track : m_tracks)
        width = qMax(width, 25 + metrics.horizontalAdvance(track.name) + 4);
    QPixmap legend(width, 16 * n + 10);
    legend.fill(Qt::transparent);
    QPainter painter(&legend);
    painter.setFont(font);
    for (int i = 0; i < n; ++i) {
        const MapTrack &track = m_tracks[size_t(i)];
        const int y = 9 + 14 * i;
        painter.setBrush(track.brush);
        painter.setPen(track.pen);
        painter.drawEllipse(QRect(8, y - 2, 4, 4));
        painter.drawLine(2, y, 18, y);
        painter.setBrush(Qt::NoBrush);
        painter.drawText(QPointF(25.0, y + 5), track.name);
    }
    painter.end();
    m_legend = legend;
    m_legendValid = true;
    return legend;
}
