// Track graph: one curve per beacon, fed by the window's position and deletion signals.
#include "GraphManager.h"

#include "TrackCurve.h"
#include "LogCategories.h"

#include <QtMath>
#include <qcustomplot.h>

GraphManager::GraphManager(QCustomPlot *plot)
    : plot(plot)
{
    plot->xAxis2->setVisible(true);
    plot->xAxis2->setTickLabels(false);
    plot->yAxis2->setVisible(true);
    plot->yAxis2->setTickLabels(false);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectPlottables);
    plot->legend->setVisible(true);
    plot->setAutoAddPlottableToLegend(true);
    plot->currentLayer()->setMode(QCPLayer::lmBuffered);
    // Nothing is drawn over the plot: its top layer needs no picture of its own to put together
    // with the others at each paint.
    if (QCPLayer *overlay = plot->layer(QStringLiteral("overlay")))
        overlay->setMode(QCPLayer::lmLogical);
}

QCPCurve *GraphManager::curve(const QString &id) const
{
    return curves.value(id);
}

QCPCurve *GraphManager::curveFor(const QString &id, const QPen &color, bool *made)
{
    QCPCurve *curve = curves.value(id);
    *made = curve == nullptr;
    if (curve)
        return curve;
    // Creating the curve registers it with the plot and appends its legend entry.
    curve = new TrackCurve(plot->xAxis, plot->yAxis);
    curve->setPen(color);
    curve->setName(id);
    curve->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssCircle, color, QBrush(Qt::NoBrush), 5.0));
    curves.insert(id, curve);
    return curve;
}

void GraphManager::beaconMoved(const QString &id, const QDateTime &time, const GpsCoords &coords,
                               const QPen &color)
{
    Q_UNUSED(time)
    if (!plot)
        return;
    if (qIsNaN(coords.latitude()) || qIsNaN(coords.longitude())) {
        qCDebug(lcViews, "Invalid coordinates\n");
        return;
    }
    bool made = false;
    QCPCurve *curve = curveFor(id, color, &made);
    // The curve's parameter counts up from 0, so points stay in arrival order.
    curve->addData(coords.longitudeDegrees(), coords.latitudeDegrees());
    queueReplot(curve, made);
}

void GraphManager::addTrack(const QString &id, const QVector<QPointF> &positions,
                            const QPen &color)
{
    if (!plot)
        return;
    QVector<double> longitudes;
    QVector<double> latitudes;
    longitudes.reserve(positions.size());
    latitudes.reserve(positions.size());
    // Positions without a fix are left out, as beaconMoved leaves them out.
    for (const QPointF &position : positions) {
        if (qIsNaN(position.x()) || qIsNaN(position.y()))
            continue;
        longitudes.append(position.x());
        latitudes.append(position.y());
    }
    if (longitudes.isEmpty())
        return;
    bool made = false;
    QCPCurve *curve = curveFor(id, color, &made);
    // Parameters continue from the curve's last one: the positions follow what it holds.
    curve->addData(longitudes, latitudes);
    queueReplot(curve, made);
}

void GraphManager::queueReplot(QCPCurve *curve, bool made)
{
    // A burst of reports from one scan costs a single replot; a new curve also has a new legend
    // entry, and so needs the whole plot.
    if (made) {
        plot->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    if (tracksReplotQueued)
        return;
    tracksReplotQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this, layer = QPointer<QCPLayer>(curve->layer())] {
            tracksReplotQueued = false;
            // A layer without a buffer of its own, or one whose buffers are out of date, replots
            // the whole plot.
            if (plot && layer)
                layer->replot();
        },
        Qt::QueuedConnection);
}

void GraphManager::beaconDeleted(const QString &id)
{
    if (!plot)
        return;
    if (QCPCurve *curve = curves.value(id))
        plot->removePlottable(curve);
    curves.remove(id);
    plot->replot(QCustomPlot::rpQueuedReplot);
}
