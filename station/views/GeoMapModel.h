// The store behind the GeoTIFF map view: the loaded map, every beacon's track with the map pixel of
// each position, the rectangle holding all positions, and the view's cached rendered picture.
// Tracks are named by the caller (a beacon's serial); positions come one by one or many at once.
#pragma once

#include "GeoTiffImage.h"
#include "MapPoint.h"
#include "MapTrack.h"

#include <QPen>
#include <QPixmap>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QVector>

#include <vector>

class QPainter;

class GeoMapModel
{
public:
    GeoMapModel() = default;

    // Loads a map and places every stored position anew; after a failure everything stays as it
    // was (image().lastError() says why).
    bool loadMap(const QString &path);
    void addPoint(const QString &name, const MapPoint &point, const QPen &pen);
    // Appends positions in order, as that many addPoint calls would. A batch of at least as many
    // positions as were held before it is not drawn into the cached picture: the next render draws
    // everything anew, each pixel once, which costs less than drawing so many one by one.
    void addPoints(const QString &name, const QVector<MapPoint> &points, const QPen &pen);
    void removeTrack(const QString &name);

    QSize imageSize() const { return QSize(m_image.width(), m_image.height()); }
    // Map pixels holding all positions inside the image; top-left (-1, -1) and 0x0 when there is none.
    QRect bounds() const { return m_bounds; }

    // The map window at origin (x, y) map pixels for a w x h widget at scale s (screen pixels per
    // map pixel), with the tracks over it. Reuses the cached picture when nothing changed.
    QPixmap render(double s, int x, int y, int w, int h);
    // What became of the cached picture since the last call: drawn anew, or changed within `area`
    // (new positions drawn into it).
    struct PictureChanges
    {
        bool redrawn = false;
        QRect area;
    };
    PictureChanges takePictureChanges();
    // One line per track: its pen, a dot and its name; 200 pixels wide, or as wide as the longest
    // name needs. Kept until the tracks change.
    QPixmap renderLegend() const;

    const std::vector<MapTrack> &tracks() const { return m_tracks; }
    const GeoTiffImage &image() const { return m_image; }

private:
    void append(const QString &name, const MapPoint *points, int count, const QPen &pen,
                bool batch);
    void place(MapPoint &point) const;
    void extendBounds(int px, int py);
    void recomputeBounds();
    // Draws a position (its circle and the line from the previous one) and returns the area it
    // covers at most.
    static QRectF drawPoint(QPainter &painter, const MapTrack &track, const MapPoint &point,
                           const MapPoint *previous, double s, qint64 offX, qint64 offY);
    // A whole track, each circle and each short line at most once per pixel.
    void drawTrack(QPainter &painter, const MapTrack &track, double s, qint64 offX, qint64 offY,
                   const QSize &size);

    std::vector<MapTrack> m_tracks;
    GeoTiffImage m_image;

    double m_cacheScale = 0;
    int m_cacheX = 0;
    int m_cacheY = 0;
    int m_cacheWidth = 0;
    int m_cacheHeight = 0;
    bool m_cacheValid = false;
    QPixmap m_cachePixmap;
    PictureChanges m_cacheChanges;
    // Per pixel of the picture, for the track being drawn: the pass that last touched it (high
    // half) and which of its circle and short lines that pass drew (low half).
    std::vector<quint32> m_drawnPixels;
    quint32 m_drawnPass = 0;

    mutable QPixmap m_legend;
    mutable bool m_legendValid = false;

    QRect m_bounds{-1, -1, 0, 0};
};
