// Keeps one curve per beacon on the track graph: longitude across, latitude up, in decimal degrees,
// the points joined in the order they were received. The curves' layer has a paint buffer of its
// own, so that a new position of a known beacon repaints the curves alone, not axes and legend.
#pragma once

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QPen>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QVector>

#include "GpsCoords.h"

class QCustomPlot;
class QCPCurve;

class GraphManager : public QObject
{
    Q_OBJECT

public:
    // Sets the plot up (framing axes without labels, drag and wheel zoom, selectable curves, legend);
    // the plot is not owned.
    explicit GraphManager(QCustomPlot *plot);

    // The curve drawn for a beacon, or null.
    QCPCurve *curve(const QString &id) const;
    // Appends many positions (longitude, latitude in decimal degrees) to a track at once, as that
    // many beaconMoved calls would, with a single replot.
    void addTrack(const QString &id, const QVector<QPointF> &positions, const QPen &color);

public slots:
    void beaconMoved(const QString &id, const QDateTime &time, const GpsCoords &coords,
                     const QPen &color);
    void beaconDeleted(const QString &id);

private:
    // The track's curve, made in `color` when it has none yet (with its legend entry).
    QCPCurve *curveFor(const QString &id, const QPen &color, bool *made);
    // Queues the replot that positions added to `curve` need: the whole plot when the curve was
    // just made, else the curves' layer alone, once for a burst.
    void queueReplot(QCPCurve *curve, bool made);

    QPointer<QCustomPlot> plot;
    bool tracksReplotQueued = false;
    // The curves belong to the plot; a guarded pointer turns null if the plot drops one itself.
    QMap<QString, QPointer<QCPCurve>> curves;
};
