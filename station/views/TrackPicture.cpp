// Kept picture of a plot's track curves: when it can be reused, what to add to it, and putting it
// in the curves' place.
#include "TrackPicture.h"

#include <cmath>

namespace {

bool sameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

} // namespace

bool TrackPicture::Look::operator==(const Look &other) const
{
    return keyAxis == other.keyAxis && valueAxis == other.valueAxis && keyRange == other.keyRange
        && valueRange == other.valueRange && keyReversed == other.keyReversed
        && valueReversed == other.valueReversed && axisRect == other.axisRect
        && clip == other.clip && pen == other.pen && lineStyle == other.lineStyle
        && shape == other.shape && markSize == other.markSize && markPen == other.markPen
        && markBrush == other.markBrush && markPixmap == other.markPixmap
        && markPath == other.markPath && antialiased == other.antialiased
        && antialiasedMarks == other.antialiasedMarks && selection == other.selection
        && selectedPen == other.selectedPen;
}

TrackPicture *TrackPicture::of(QCustomPlot *plot)
{
    if (auto *picture = plot->findChild<TrackPicture *>(QString(), Qt::FindDirectChildrenOnly))
        return picture;
    return new TrackPicture(plot);
}

TrackPicture::TrackPicture(QCustomPlot *plot)
    : QObject(plot)
{
}

TrackPicture::Look TrackPicture::lookOf(const TrackCurve *curve, const QRect &clip)
{
    Look look;
    look.keyAxis = curve->keyAxis();
    look.valueAxis = curve->valueAxis();
    look.keyRange = look.keyAxis->range();
    look.valueRange = look.valueAxis->range();
    look.keyReversed = look.keyAxis->rangeReversed();
    look.valueReversed = look.valueAxis->rangeReversed();
    look.axisRect = look.keyAxis->axisRect()->rect();
    look.clip = clip;
    look.pen = curve->pen();
    look.lineStyle = curve->lineStyle();
    const QCPScatterStyle &marks = curve->scatterStyle();
    look.shape = marks.shape();
    look.markSize = marks.size();
    look.markPen = marks.pen();
    look.markBrush = marks.brush();
    look.markPixmap = marks.pixmap().cacheKey();
    look.markPath = marks.customPath();
    look.antialiased = curve->antialiased();
    look.antialiasedMarks = curve->antialiasedScatters();
    look.selection = curve->selection();
    if (curve->selectionDecorator())
        look.selectedPen = curve->selectionDecorator()->pen();
    return look;
}

bool TrackPicture::holdsDrawn(const Entry &entry)
{
    const TrackCurve *curve = entry.curve;
    const int count = curve->dataCount();
    if (count < entry.drawn)
        return false;
    // A selected stretch is drawn apart from the rest: new positions need the whole curve again.
    if (!entry.look.selection.isEmpty() && count != entry.drawn)
        return false;
    if (entry.drawn == 0)
        return true;
    const QCPCurveData &last = *(curve->data()->constBegin() + (entry.drawn - 1));
    return sameNumber(last.key, entry.lastKey) && sameNumber(last.value, entry.lastValue);
}

void TrackPicture::remember(Entry &entry)
{
    const int count = entry.curve->dataCount();
    entry.drawn = count;
    if (count > 0) {
        const QCPCurveData &last = *(entry.curve->data()->constBegin() + (count - 1));
        entry.lastKey = last.key;
        entry.lastValue = last.value;
    }
}

void TrackPicture::prepare(QCPPainter *painter, const TrackCurve *track, const QPoint &clipShift,
                           bool clipped)
{
    // As the layer prepares each of its children: the clip first, then the antialiasing (which a
    // QCPPainter applies with a half-pixel shift).
    painter->setAntialiasing(false);
    if (clipped)
        painter->setClipRect(track->clipRect().translated(clipShift));
    track->applyDefaultAntialiasingHint(painter);
}

void TrackPicture::draw(QCPPainter *painter, TrackCurve *curve)
{
    if (!curve->layer())
        return;
    // The visible track curves of the layer that this picture draws, in drawing order.
    std::vector<TrackCurve *> curves;
    for (QCPLayerable *child : curve->layer()->children()) {
        auto *track = qobject_cast<TrackCurve *>(child);
        if (track && track->realVisibility() && track->drawsPlainly())
            curves.push_back(track);
    }
    if (curves.empty() || curves.front() != curve)
        return;

    // The layer clipped the first curve to its axis rectangle, shifted a little; the others are
    // clipped the same way. In device pixels, since the painter may hold a half-pixel shift.
    const QTransform transform = painter->transform();
    const bool clipped = painter->hasClipping();
    const QPoint clipShift = clipped
        ? transform.mapRect(painter->clipBoundingRect()).toAlignedRect().topLeft()
            - curve->clipRect().topLeft()
        : QPoint();

    // Only the half-pixel shift of antialiasing may stand between the picture and the device.
    const double shift = transform.dx();
    const bool plainTransform = transform.type() <= QTransform::TxTranslate
        && transform.dy() == shift
        && (shift == 0 || (shift == 0.5 && painter->testRenderHint(QPainter::Antialiasing)));
    QPaintDevice *device = painter->device();
    const bool raster = device
        && (device->devType() == QInternal::Pixmap || device->devType() == QInternal::Image);
    if (!raster || !plainTransform
        || (painter->modes() & (QCPPainter::pmVectorized | QCPPainter::pmNoCaching))) {
        // Exports and scaled renderings are drawn as they come, and nothing is kept.
        for (TrackCurve *track : curves) {
            painter->save();
            prepare(painter, track, clipShift, clipped);
            TrackCurve::MarkGrid grid;
            track->drawAll(painter, &grid);
            painter->restore();
        }
        return;
    }

    const QSize size(device->width(), device->height());
    const qreal ratio = device->devicePixelRatioF();
    const auto clipOf = [&](const TrackCurve *track) {
        return clipped ? track->clipRect().translated(clipShift) : QRect();
    };
    bool whole = m_image.size() != size || m_image.devicePixelRatioF() != ratio
        || m_hints != painter->renderHints() || m_modes != painter->modes()
        || curves.size() < m_entries.size();
    for (size_t i = 0; !whole && i < m_entries.size(); ++i) {
        const Entry &entry = m_entries[i];
        whole = entry.curve != curves[i] || !(entry.look == lookOf(curves[i], clipOf(curves[i])))
            || !holdsDrawn(entry);
    }
    if (whole) {
        if (m_image.size() != size || m_image.devicePixelRatioF() != ratio) {
            m_image = QImage(size, QImage::Format_ARGB32_Premultiplied);
            m_image.setDevicePixelRatio(ratio);
        }
        m_image.fill(Qt::transparent);
        m_hints = painter->renderHints();
        m_modes = painter->modes();
        m_entries.clear();
    }
    m_entries.resize(curves.size());

    {
        QCPPainter picture(&m_image);
        picture.setRenderHints(m_hints);
        picture.setModes(m_modes);
        for (size_t i = 0; i < curves.size(); ++i) {
            Entry &entry = m_entries[i];
            const bool fresh = entry.curve.isNull();
            if (!fresh && entry.drawn == curves[i]->dataCount())
                continue;
            if (fresh) {
                entry.curve = curves[i];
                entry.look = lookOf(curves[i], clipOf(curves[i]));
            }
            picture.save();
            prepare(&picture, curves[i], clipShift, clipped);
            if (fresh)
                curves[i]->drawAll(&picture, &entry.grid);
            else
                curves[i]->drawFrom(&picture, entry.drawn, &entry.grid);
            picture.restore();
            remember(entry);
        }
    }

    painter->save();
    painter->setAntialiasing(false);
    painter->setClipping(false);
    painter->drawImage(QPointF(0, 0), m_image);
    painter->restore();
}
