// The track of one beacon on the GeoTIFF map: its positions in arrival order and the pen it is
// drawn with.
#pragma once

#include "MapPoint.h"

#include <QBrush>
#include <QPen>
#include <QString>
#include <QVector>

struct MapTrack
{
    QString name;             // the beacon's serial number
    QVector<MapPoint> points; // never trimmed
    QPen pen;                 // the pen of the beacon's first position
    QBrush brush = Qt::NoBrush;
};
