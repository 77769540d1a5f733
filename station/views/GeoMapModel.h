// The store behind the GeoTIFF map view: the loaded map, every beacon's track with the map pixel of
// each position, the rectangle holding all positions, and the view's cached rendered picture.
#pragma once

#include "GeoTiffImage.h"
#include "MapPoint.h"
#include "MapTrack.h"

#include <QPen>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

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
    void removeTrack(const QString &name);

    QSize imageSize() const { return QSize(m_image.width(), m_image.height()); }
    // Map pixels holding all positions inside the image; top-left (-1, -1) and 0x0 when there is none.
    QRect bounds() const { return m_bounds; }

    // The map window at origin (x, y) map pixels for a w x h widget at scale s (screen pixels per
    // map pixel), with the tracks over it. Reuses the cached picture when nothing changed.
    QPixmap render(double s, int x, int y, int w, int h);
    // One line per track: its pen, a dot and its name.
    QPixmap renderLegend() const;

    const std::vector<MapTrack> &tracks() const { return m_tracks; }
    const GeoTiffImage &image() const { return m_image; }

private:
    void place(MapPoint &point) const;
    void extendBounds(int px, int py);
    void recomputeBounds();
    static void drawPoint(QPainter &painter, const MapTrack &track, const MapPoint &point,
                          const MapPoint *previous, double s, qint64 offX, qint64 offY);

    std::vector<MapTrack> m_tracks;
    GeoTiffImage m_image;

    double m_cacheScale = 0;
    int m_cacheX = 0;
    int m_cacheY = 0;
    int m_cacheWidth = 0;
    int m_cacheHeight = 0;
    bool m_cacheValid = false;
    QPixmap m_cachePixmap;

    QRect m_bounds{-1, -1, 0, 0};
};
