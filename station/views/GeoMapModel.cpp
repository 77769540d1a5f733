// Track store of the GeoTIFF map: placing positions through the map's geo-referencing, keeping the
// bounds of what can be shown, and drawing tracks and legend.
#include "GeoMapModel.h"
#include "LogCategories.h"

#include <QFont>
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
    MapPoint placed = point;
    place(placed);

    auto it = std::find_if(m_tracks.begin(), m_tracks.end(),
                           [&name](const MapTrack &t) { return t.name == name; });
    if (it == m_tracks.end()) {
        MapTrack track;
        track.name = name;
        track.pen = pen;
        m_tracks.push_back(track);
        it = m_tracks.end() - 1;
    }
    MapTrack &track = *it;
    track.points.append(placed);

    // Drawn into the cached picture, which thus stays equal to a full redraw.
    if (m_cacheValid && !m_cachePixmap.isNull()) {
        const double s = m_cacheScale;
        const int n = track.points.size();
        const MapPoint *previous = n >= 2 ? &track.points[n - 2] : nullptr;
        QPainter painter(&m_cachePixmap);
        drawPoint(painter, track, placed, previous, s, qint64(m_cacheX * s), qint64(m_cacheY * s));
    }

    extendBounds(placed.px, placed.py);
}

void GeoMapModel::removeTrack(const QString &name)
{
    auto it = std::find_if(m_tracks.begin(), m_tracks.end(),
                           [&name](const MapTrack &t) { return t.name == name; });
    if (it != m_tracks.end())
        m_tracks.erase(it);
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

void GeoMapModel::drawPoint(QPainter &painter, const MapTrack &track, const MapPoint &point,
                            const MapPoint *previous, double s, qint64 offX, qint64 offY)
{
    painter.setPen(track.pen);
    painter.setBrush(track.brush);
    if (!point.isDrawable())
        return;
    const QPointF c = screenPosition(point, s, offX, offY);
    painter.drawEllipse(c, 4, 4);
    if (previous && previous->px > 0 && previous->py > 0)
        painter.drawLine(screenPosition(*previous, s, offX, offY), c);
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
        for (const MapTrack &track : m_tracks) {
            const MapPoint *previous = nullptr;
            for (const MapPoint &point : track.points) {
                drawPoint(painter, track, point, previous, s, offX, offY);
                previous = &point;
            }
        }
    }

    m_cacheScale = s;
    m_cacheX = x;
    m_cacheY = y;
    m_cacheWidth = w;
    m_cacheHeight = h;
    m_cachePixmap = picture;
    m_cacheValid = true;
    return picture;
}

QPixmap GeoMapModel::renderLegend() const
{
    const int n = int(m_tracks.size());
    QPixmap legend(200, 16 * n + 10);
    legend.fill(Qt::transparent);
    QPainter painter(&legend);
    QFont font = painter.font();
    font.setPointSize(10);
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
    return legend;
}
