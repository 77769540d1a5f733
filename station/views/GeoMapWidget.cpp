// GeoTIFF map view: view state (scale, origin), its clamping to the map, zoom and pan, and the
// picture rebuilt through the store's render cache.
#include "GeoMapWidget.h"
#include "LogCategories.h"

#include <QColor>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>
#include <QtGlobal>

#include <cmath>

namespace {
constexpr double kMaxScale = 4.0;
constexpr double kZoomStep = 0.75;
constexpr int kResizeDelayMs = 100;
} // namespace

GeoMapWidget::GeoMapWidget(QWidget *parent)
    : QLabel(parent)
{
    m_refreshTimer.setSingleShot(true);
    connect(&m_refreshTimer, SIGNAL(timeout()), this, SLOT(RefreshMap()));
    // The picture must never dictate the widget's size.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
}

bool GeoMapWidget::LoadMap(const QString &path)
{
    if (!m_model.loadMap(path))
        return false;
    SetMapView(0, 0, 1.0, true);
    return true;
}

QString GeoMapWidget::loadErrorText() const
{
    const GeoTiffImage &image = m_model.image();
    switch (image.lastError()) {
    case GeoTiffImage::LoadError::Unreadable:
        return tr("Le fichier ne peut pas être lu (%1).").arg(image.lastErrorDetail());
    case GeoTiffImage::LoadError::NotTiff:
        return tr("Ce fichier n'est pas une image TIFF.");
    case GeoTiffImage::LoadError::NoGeoKeys:
        return tr("Le géoréférencement de ce fichier est illisible.");
    case GeoTiffImage::LoadError::Unsupported:
        return tr("Ce type d'image TIFF n'est pas pris en charge.");
    case GeoTiffImage::LoadError::TooLarge:
        return tr("L'image est trop grande (%1 × %2 pixels).")
            .arg(image.declaredWidth())
            .arg(image.declaredHeight());
    case GeoTiffImage::LoadError::OutOfMemory:
        return tr("La mémoire manque pour charger cette image (%1 × %2 pixels).")
            .arg(image.declaredWidth())
            .arg(image.declaredHeight());
    case GeoTiffImage::LoadError::Damaged:
        return tr("L'image est endommagée : ses pixels ne peuvent pas être lus.");
    case GeoTiffImage::LoadError::None:
        break;
    }
    return QString();
}

void GeoMapWidget::Slot_BeaconMoved(const QString &id, const QDateTime &, const GpsCoords &coords,
                                    const QPen &color)
{
    MapPoint point;
    point.lon = coords.longitudeDegrees();
    point.lat = coords.latitudeDegrees();
    m_model.addPoint(id, point, color);
    RefreshMap();
}

void GeoMapWidget::addTrack(const QString &id, const QVector<QPointF> &positions,
                            const QPen &color)
{
    QVector<MapPoint> points;
    points.reserve(positions.size());
    for (const QPointF &position : positions) {
        MapPoint point;
        point.lon = position.x();
        point.lat = position.y();
        points.append(point);
    }
    m_model.addPoints(id, points, color);
    queueRefresh();
}

void GeoMapWidget::queueRefresh()
{
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_refreshQueued = false;
            RefreshMap();
        },
        Qt::QueuedConnection);
}

void GeoMapWidget::removeTracks(const QStringList &ids)
{
    for (const QString &id : ids)
        m_model.removeTrack(id);
    RefreshMap();
}

void GeoMapWidget::Slot_BeaconDelete(const QString &id)
{
    m_model.removeTrack(id);
    RefreshMap();
}

void GeoMapWidget::RefreshMap()
{
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    const QPixmap picture = m_model.render(m_scale, m_originX, m_originY, width(), height());
    const GeoMapModel::PictureChanges changes = m_model.takePictureChanges();
    const QPixmap legend = m_model.renderLegend();
    const QRect legendBox(QPoint(0, 0), legend.size());
    // The picture shown is the cached one with the legend over it; the cached picture never gets
    // the legend.
    const QPixmap *shown = heldPixmap();
    if (shown && shown->isNull())
        shown = nullptr;
    if (picture.isNull()) {
        setPixmap(QPixmap());
    } else if (!shown || changes.redrawn || shown->size() != picture.size()
               || legend.cacheKey() != m_shownLegend) {
        QPixmap composed = picture.copy();
        QPainter painter(&composed);
        painter.fillRect(legendBox, QColor(200, 200, 200, 150));
        painter.drawPixmap(0, 0, legend);
        painter.end();
        m_shownLegend = legend.cacheKey();
        setPixmap(composed);
    } else if (!changes.area.isEmpty()) {
        // New positions are copied into the picture the label holds, where it holds it: setting a
        // new picture would have the window lay out (and repaint) its whole tab widget again.
        QPainter painter(const_cast<QPixmap *>(shown));
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawPixmap(changes.area, picture, changes.area);
        if (changes.area.intersects(legendBox)) {
            painter.drawPixmap(legendBox, picture, legendBox);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            painter.fillRect(legendBox, QColor(200, 200, 200, 150));
            painter.drawPixmap(0, 0, legend);
        }
        painter.end();
        update(contentsRect());
    }
    qCDebug(lcViews, "Refresh in %lld ms\n",
            static_cast<long long>(QDateTime::currentMSecsSinceEpoch() - t0));
}

const QPixmap *GeoMapWidget::heldPixmap() const
{
    // The label's own pixmap object, which it draws from; only the deprecated accessor gives it.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return pixmap();
    QT_WARNING_POP
}

void GeoMapWidget::Zoom(int x, int y, double newscale)
{
    if (!(newscale > 0) || !std::isfinite(newscale))
        return;
    double dx;
    double dy;
    if (x < 0 || y < 0) {
        dx = width() / m_scale * 0.5;
        dy = height() / m_scale * 0.5;
    } else {
        dx = x / m_scale;
        dy = y / m_scale;
    }
    const int ax = int(dx + m_originX);
    const int ay = int(dy + m_originY);
    const double r = m_scale / newscale;
    SetMapView(int(ax - (ax - m_originX) * r), int(ay - (ay - m_originY) * r), newscale, true);
}

void GeoMapWidget::ZoomUp()
{
    Zoom(-1, -1, m_scale / kZoomStep);
}

void GeoMapWidget::ZoomDown()
{
    Zoom(-1, -1, m_scale * kZoomStep);
}

void GeoMapWidget::SetMapView(int x, int y, double s, bool signal)
{
    const QSize image = m_model.imageSize();
    const int iw = image.width();
    const int ih = image.height();
    const int w = width();
    const int h = height();
    const int fitW = qRound(iw * m_scale);
    const int fitH = qRound(ih * m_scale);
    // Without area (a hidden tab) the widget cannot tell when the map fits, so it cannot bound a
    // zoom out either: shrinking is refused there, and so is any scale that is not a positive
    // number up to the maximum.
    const bool hasArea = w > 0 && h > 0;
    const bool validScale = s > 0 && s <= kMaxScale;

    if (!validScale || (s < m_scale && !hasArea)) {
        // Refused: nothing changes.
    } else if (s < m_scale && fitW < w && fitH < h) {
        // The map already fits and would only shrink further.
        m_originX = 0;
        m_originY = 0;
    } else {
        m_scale = s;
        m_originX = x;
        m_originY = y;
        if (m_originX > iw - w / s)
            m_originX = int(iw - w / s);
        if (m_originY > ih - h / s)
            m_originY = int(ih - h / s);
        if (m_originX < 0 || fitW < w)
            m_originX = 0;
        if (m_originY < 0 || fitH < h)
            m_originY = 0;
    }

    // The maxima belong to the scale in force, whatever was asked for.
    if (signal) {
        emit XChanged(m_originX, int(iw - w / m_scale));
        emit YChanged(m_originY, int(ih - h / m_scale));
    }
    RefreshMap();
}

void GeoMapWidget::SetXPosition(int x)
{
    SetMapView(x, m_originY, m_scale, false);
}

void GeoMapWidget::SetYPosition(int y)
{
    SetMapView(m_originX, y, m_scale, false);
}

void GeoMapWidget::ZoomFit()
{
    QRect r = m_model.bounds();
    if (r.top() < 0)
        return;
    const int w = width();
    const int h = height();
    // A widget without area has nothing to fit into (the scale would be 0).
    if (w <= 0 || h <= 0)
        return;
    const int marginX = int(w * 0.1);
    const int marginY = int(h * 0.1);
    r.adjust(-marginX, -marginY, marginX, marginY);
    const double s = qMin(double(w) / r.width(), double(h) / r.height());
    const int nw = int(w / s);
    const int nh = int(h / s);
    r.translate(-((nw - r.width()) / 2), -((nh - r.height()) / 2));
    r.setHeight(nh);
    r.setWidth(nw);
    SetMapView(r.left(), r.top(), s, true);
}

void GeoMapWidget::mousePressEvent(QMouseEvent *event)
{
    m_dragging = true;
    m_lastMouseX = event->x();
    m_lastMouseY = event->y();
}

void GeoMapWidget::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
    RefreshMap();
}

void GeoMapWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    const int ex = event->x();
    const int ey = event->y();
    SetMapView(int(m_originX - (ex - m_lastMouseX) / m_scale),
               int(m_originY - (ey - m_lastMouseY) / m_scale), m_scale, true);
    m_lastMouseX = ex;
    m_lastMouseY = ey;
}

void GeoMapWidget::wheelEvent(QWheelEvent *event)
{
    event->accept();
    const QPoint angle = event->angleDelta();
    const int delta = qAbs(angle.y()) >= qAbs(angle.x()) ? angle.y() : angle.x();
    const QPoint at = event->position().toPoint();
    if (delta > 0)
        Zoom(at.x(), at.y(), m_scale / kZoomStep);
    else
        Zoom(at.x(), at.y(), m_scale * kZoomStep);
}

void GeoMapWidget::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    // Collapses a burst of resizes into one rebuild, 100 ms after the last.
    m_refreshTimer.start(kResizeDelayMs);
}
