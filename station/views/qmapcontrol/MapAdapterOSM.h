// The OpenStreetMap tile source: standard z/x/y PNG tiles of 256 pixels in spherical Mercator,
// fetched with the program's own User-Agent and cached on disk in the user's cache folder, as the
// tile usage policy asks. The server address can be changed (a mirror, or a local test server).
#pragma once

#include "TileLoader.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVector>

namespace qmapcontrol {

class MapAdapterOSM : public QObject
{
    Q_OBJECT

public:
    static const char *const defaultBaseUrl;

    // Tiles from tile.openstreetmap.org, cached in the "tiles" folder of the user's cache location.
    explicit MapAdapterOSM(QObject *parent = nullptr);

    QUrl baseUrl() const { return m_baseUrl; }
    // Tiles already loaded from the previous server are forgotten. An empty address fetches
    // nothing.
    void setBaseUrl(const QUrl &baseUrl);
    QString cacheDirectory() const;
    void setCacheDirectory(const QString &path);

    QString attribution() const;
    QByteArray userAgent() const;
    QUrl tileUrl(int zoom, int x, int y) const;

    TileLoader::State tileState(int zoom, int x, int y) const;
    // The tile if it is loaded, else a null image.
    QImage tile(int zoom, int x, int y) const;
    // Tiles wanted by the latest paint, most wanted first, as (zoom, x, y).
    void requestTiles(int zoom, const QVector<QPoint> &tiles);

signals:
    // A requested tile arrived or failed: the map should be drawn again.
    void tileFinished();

private:
    QUrl m_baseUrl;
    TileLoader *m_loader;
};

} // namespace qmapcontrol
