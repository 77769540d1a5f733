// OpenStreetMap tile addresses, credit and loading.
#include "MapAdapterOSM.h"

#include <QPoint>
#include <QStandardPaths>

namespace qmapcontrol {

const char *const MapAdapterOSM::defaultBaseUrl = "https://tile.openstreetmap.org";

MapAdapterOSM::MapAdapterOSM(QObject *parent)
    : QObject(parent), m_baseUrl(QString::fromLatin1(defaultBaseUrl)), m_loader(new TileLoader(this))
{
    m_loader->setUserAgent(userAgent());
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (!cache.isEmpty())
        m_loader->setCacheDirectory(cache + QStringLiteral("/tiles"));
    connect(m_loader, &TileLoader::tileFinished, this, &MapAdapterOSM::tileFinished);
}

void MapAdapterOSM::setBaseUrl(const QUrl &baseUrl)
{
    if (baseUrl == m_baseUrl)
        return;
    m_baseUrl = baseUrl;
    m_loader->clear();
}

QString MapAdapterOSM::cacheDirectory() const
{
    return m_loader->cacheDirectory();
}

void MapAdapterOSM::setCacheDirectory(const QString &path)
{
    m_loader->setCacheDirectory(path);
}

QString MapAdapterOSM::attribution() const
{
    return QStringLiteral("\u00a9 OpenStreetMap contributors");
}

QByteArray MapAdapterOSM::userAgent() const
{
    return QByteArrayLiteral("Korvane/" KORVANE_VERSION " (+tracking station)");
}

QUrl MapAdapterOSM::tileUrl(int zoom, int x, int y) const
{
    QUrl url = m_baseUrl;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + QStringLiteral("%1/%2/%3.png").arg(zoom).arg(x).arg(y));
    return url;
}

TileLoader::State MapAdapterOSM::tileState(int zoom, int x, int y) const
{
    return m_loader->state(tileUrl(zoom, x, y));
}

QImage MapAdapterOSM::tile(int zoom, int x, int y) const
{
    return m_loader->image(tileUrl(zoom, x, y));
}

void MapAdapterOSM::requestTiles(int zoom, const QVector<QPoint> &tiles)
{
    // No server: nothing is fetched, and missing tiles keep their placeholders.
    if (m_baseUrl.isEmpty())
        return;
    QVector<QUrl> urls;
    urls.reserve(tiles.size());
    for (const QPoint &tile : tiles)
        urls.append(tileUrl(zoom, tile.x(), tile.y()));
    m_loader->request(urls);
}

} // namespace qmapcontrol
