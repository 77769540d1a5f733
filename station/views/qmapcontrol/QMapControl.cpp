// Map widget: layer stack, view state, painting and mouse navigation.
#include "QMapControl.h"

#include "Layer.h"
#include "MapView.h"
#include "Projection.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace qmapcontrol {

namespace {

const QColor backgroundColor(0xd8, 0xdc, 0xde);
// Room kept free around the extent fitted by auto zoom, so that edge markers show whole.
constexpr double fitMargin = 16.0;
// One notch of a common mouse wheel.
constexpr int wheelStep = 120;

} // namespace

QMapControl::QMapControl(QWidget *parent, Qt::WindowFlags flags)
    : QWidget(parent, flags)
{
    setMouseTracking(false);
    setFocusPolicy(Qt::WheelFocus);
    setCursor(Qt::OpenHandCursor);
}

QMapControl::~QMapControl() = default;

void QMapControl::addLayer(const std::shared_ptr<Layer> &layer, int index)
{
    if (!layer)
        return;
    if (index < 0 || size_t(index) >= m_layers.size())
        m_layers.push_back(layer);
    else
        m_layers.insert(m_layers.begin() + index, layer);
    connect(layer.get(), &Layer::redrawRequested, this, QOverload<>::of(&QWidget::update));
    update();
}

std::shared_ptr<Layer> QMapControl::getLayer(const std::string &name) const
{
    for (const std::shared_ptr<Layer> &layer : m_layers)
        if (layer->getName() == name)
            return layer;
    return nullptr;
}

void QMapControl::removeLayer(const std::string &name)
{
    bool removed = false;
    for (auto layer = m_layers.begin(); layer != m_layers.end();) {
        if ((*layer)->getName() == name) {
            disconnect(layer->get(), nullptr, this, nullptr);
            layer = m_layers.erase(layer);
            removed = true;
        } else {
            ++layer;
        }
    }
    if (removed) {
        // The kept picture may show it: drawn anew at the next paint.
        m_keptLayers.clear();
        update();
    }
}

PointWorldCoord QMapControl::mapFocusPoint() const
{
    return Projection::fromNormalized(m_focus);
}

void QMapControl::setMapFocusPoint(const PointWorldCoord &point)
{
    moveFocusPoint(Projection::toNormalized(point));
}

void QMapControl::setMapFocusPoint(const std::vector<PointWorldCoord> &points, bool autoZoom)
{
    if (points.empty())
        return;
    QPointF low = Projection::toNormalized(points.front());
    QPointF high = low;
    for (const PointWorldCoord &point : points) {
        const QPointF n = Projection::toNormalized(point);
        low = QPointF(std::min(low.x(), n.x()), std::min(low.y(), n.y()));
        high = QPointF(std::max(high.x(), n.x()), std::max(high.y(), n.y()));
    }
    if (autoZoom) {
        const QSizeF room = viewportSize() - QSizeF(2 * fitMargin, 2 * fitMargin);
        int zoom = zoomMaximum;
        while (zoom > zoomMinimum
               && ((high.x() - low.x()) * Projection::worldSize(zoom) > room.width()
                   || (high.y() - low.y()) * Projection::worldSize(zoom) > room.height()))
            --zoom;
        m_zoom = zoom;
    }
    moveFocusPoint((low + high) / 2.0);
}

void QMapControl::setZoom(int zoom)
{
    zoom = std::clamp(zoom, zoomMinimum, zoomMaximum);
    if (zoom == m_zoom)
        return;
    m_zoom = zoom;
    update();
}

void QMapControl::zoomIn()
{
    setZoom(m_zoom + 1);
}

void QMapControl::zoomOut()
{
    setZoom(m_zoom - 1);
}

QSizeF QMapControl::viewportSize() const
{
    return m_viewportSize.isEmpty() ? QSizeF(size()) : m_viewportSize;
}

void QMapControl::setViewportSize(const QSizeF &size)
{
    m_viewportSize = size;
    updateGeometry();
    update();
}

QSize QMapControl::sizeHint() const
{
    return m_viewportSize.isEmpty() ? QSize(400, 300) : m_viewportSize.toSize();
}

QPointF QMapControl::toScreen(const PointWorldCoord &point) const
{
    return view().toScreen(Projection::toNormalized(point));
}

PointWorldCoord QMapControl::toWorld(const QPointF &screen) const
{
    return Projection::fromNormalized(view().toNormalized(screen));
}

MapView QMapControl::view() const
{
    return MapView(m_focus, m_zoom, size());
}

void QMapControl::moveFocusPoint(const QPointF &normalized)
{
    // The focus stays on the world, so the map cannot be dragged out of sight.
    m_focus = QPointF(std::clamp(normalized.x(), 0.0, 1.0), std::clamp(normalized.y(), 0.0, 1.0));
    update();
}

void QMapControl::zoomAbout(int zoom, const QPointF &anchor)
{
    zoom = std::clamp(zoom, zoomMinimum, zoomMaximum);
    if (zoom == m_zoom)
        return;
    const QPointF anchored = view().toNormalized(anchor);
    const QPointF fromCentre = anchor - QPointF(width(), height()) / 2.0;
    m_zoom = zoom;
    moveFocusPoint(anchored - fromCentre / Projection::worldSize(zoom));
}

void QMapControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColor);
    const MapView current = view();
    size_t kept = m_layers.size();
    while (kept > 0 && m_layers[kept - 1]->canDrawAdditions())
        --kept;
    for (size_t i = 0; i < kept; ++i) {
        if (!m_layers[i]->isVisibleAt(m_zoom))
            continue;
        painter.save();
        m_layers[i]->draw(painter, current);
        painter.restore();
    }
    if (kept < m_layers.size())
        drawKept(painter, current, kept);
    drawAttribution(painter);
}

void QMapControl::drawKept(QPainter &painter, const MapView &current, size_t first)
{
    std::vector<Layer *> layers;
    for (size_t i = first; i < m_layers.size(); ++i)
        if (m_layers[i]->isVisibleAt(m_zoom))
            layers.push_back(m_layers[i].get());

    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (pixels.isEmpty())
        return;
    // Layers added on top since are drawn over the picture; any other change draws it anew.
    bool whole = m_kept.size() != pixels || m_kept.devicePixelRatioF() != ratio
        || current != m_keptView || layers.size() < m_keptLayers.size()
        || !std::equal(m_keptLayers.begin(), m_keptLayers.end(), layers.begin());
    if (m_kept.size() != pixels || m_kept.devicePixelRatioF() != ratio) {
        m_kept = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        m_kept.setDevicePixelRatio(ratio);
    }
    {
        QPainter picture(&m_kept);
        for (size_t i = 0; !whole && i < m_keptLayers.size(); ++i) {
            picture.save();
            whole = !layers[i]->drawAdditions(picture, current);
            picture.restore();
        }
        if (whole)
            m_kept.fill(Qt::transparent);
        for (size_t i = whole ? 0 : m_keptLayers.size(); i < layers.size(); ++i) {
            picture.save();
            layers[i]->draw(picture, current);
            picture.restore();
        }
    }
    m_keptView = current;
    m_keptLayers = layers;
    painter.drawImage(QPointF(0, 0), m_kept);
}

void QMapControl::drawAttribution(QPainter &painter) const
{
    QStringList credits;
    for (const std::shared_ptr<Layer> &layer : m_layers) {
        const QString credit = layer->attribution();
        if (layer->isVisibleAt(m_zoom) && !credit.isEmpty() && !credits.contains(credit))
            credits.append(credit);
    }
    if (credits.isEmpty())
        return;
    const QString text = credits.join(QStringLiteral(" | "));
    QFont font = painter.font();
    font.setPointSizeF(std::max(7.0, font.pointSizeF() * 0.85));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const QSize textSize(metrics.horizontalAdvance(text), metrics.height());
    const QRect box(QPoint(width() - textSize.width() - 8, height() - textSize.height() - 2),
                    QSize(textSize.width() + 8, textSize.height() + 2));
    painter.fillRect(box, QColor(255, 255, 255, 190));
    painter.setPen(QColor(0x33, 0x33, 0x33));
    painter.drawText(box, Qt::AlignCenter, text);
}

void QMapControl::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragFrom = event->pos();
    setCursor(Qt::ClosedHandCursor);
}

void QMapControl::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint moved = event->pos() - m_dragFrom;
    m_dragFrom = event->pos();
    moveFocusPoint(m_focus - QPointF(moved) / Projection::worldSize(m_zoom));
}

void QMapControl::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragging) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    setCursor(Qt::OpenHandCursor);
}

void QMapControl::wheelEvent(QWheelEvent *event)
{
    // Fine-grained wheels and touchpads send fractions of a notch; they add up to whole steps.
    m_wheelAngle += event->angleDelta().y();
    const int steps = m_wheelAngle / wheelStep;
    m_wheelAngle -= steps * wheelStep;
    if (steps != 0)
        zoomAbout(m_zoom + steps, event->position());
    event->accept();
}

} // namespace qmapcontrol
