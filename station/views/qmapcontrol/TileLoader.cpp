// Tile downloads through QtNetwork with a disk cache and a memory cache of decoded tiles.
#include "TileLoader.h"

#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace qmapcontrol {

namespace {

constexpr int memoryCacheKb = 96 * 1024;
constexpr qint64 diskCacheBytes = 256LL * 1024 * 1024;
constexpr int transferTimeoutMs = 30000;
// Requests carry the loader's generation (stale answers after clear() are dropped) and whether
// they are the cache-only second attempt.
constexpr auto generationAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 1);
constexpr auto offlineAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 2);

} // namespace

TileLoader::TileLoader(QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)), m_images(memoryCacheKb)
{
    m_clock.start();
    connect(m_network, &QNetworkAccessManager::finished, this, &TileLoader::finished);
}

void TileLoader::setCacheDirectory(const QString &path)
{
    if (path.isEmpty()) {
        m_network->setCache(nullptr);
        m_diskCache = nullptr;
        return;
    }
    auto *cache = new QNetworkDiskCache;
    cache->setCacheDirectory(path);
    cache->setMaximumCacheSize(diskCacheBytes);
    // The manager owns its cache and deletes the previous one.
    m_network->setCache(cache);
    m_diskCache = cache;
}

QString TileLoader::cacheDirectory() const
{
    return m_diskCache ? m_diskCache->cacheDirectory() : QString();
}

TileLoader::State TileLoader::state(const QUrl &url) const
{
    const QString key = url.toString();
    if (m_images.contains(key))
        return State::Ready;
    if (m_downloads.contains(key))
        return State::Loading;
    const auto failed = m_failedAt.constFind(key);
    if (failed != m_failedAt.constEnd() && m_clock.elapsed() - failed.value() < retryDelayMs)
        return State::Failed;
    return State::Missing;
}

QImage TileLoader::image(const QUrl &url) const
{
    const QImage *image = m_images.object(url.toString());
    return image ? *image : QImage();
}

void TileLoader::request(const QVector<QUrl> &wanted)
{
    m_queue.clear();
    for (const QUrl &url : wanted)
        if (state(url) == State::Missing)
            m_queue.append(url);
    startDownloads();
}

void TileLoader::clear()
{
    ++m_generation;
    m_queue.clear();
    const QList<QNetworkReply *> downloads = m_downloads.values();
    m_downloads.clear();
    for (QNetworkReply *reply : downloads)
        reply->abort();
    m_images.clear();
    m_failedAt.clear();
}

void TileLoader::startDownloads()
{
    while (m_downloads.size() < maximumDownloads && !m_queue.isEmpty()) {
        const QUrl url = m_queue.takeFirst();
        if (state(url) == State::Missing)
            download(url, false);
    }
}

void TileLoader::download(const QUrl &url, bool offline)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, m_userAgent);
    // Online, a fresh copy on disk is used as is and a stale one is revalidated; offline, any copy
    // on disk will do, however old.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         offline ? QNetworkRequest::AlwaysCache : QNetworkRequest::PreferCache);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(generationAttribute, m_generation);
    request.setAttribute(offlineAttribute, offline);
    request.setTransferTimeout(transferTimeoutMs);
    m_downloads.insert(url.toString(), m_network->get(request));
}

void TileLoader::finished(QNetworkReply *reply)
{
    reply->deleteLater();
    const QNetworkRequest &request = reply->request();
    if (request.attribute(generationAttribute).toUInt() != m_generation)
        return;
    const QUrl url = request.url();
    const QString key = url.toString();
    m_downloads.remove(key);

    QImage image;
    if (reply->error() == QNetworkReply::NoError)
        image = QImage::fromData(reply->readAll());
    if (!image.isNull()) {
        // Opaque tiles (most are) are copied onto the map rather than blended.
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                              : QImage::Format_RGB32);
        const int costKb = qMax(1, int(image.sizeInBytes() / 1024));
        m_images.insert(key, new QImage(image), costKb);
        m_failedAt.remove(key);
        emit tileFinished(url);
    } else if (!request.attribute(offlineAttribute).toBool() && m_diskCache) {
        // No answer (or a bad one) from the server: fall back to the copy on disk, if any.
        download(url, true);
        return;
    } else {
        m_failedAt.insert(key, m_clock.elapsed());
        emit tileFinished(url);
    }
    startDownloads();
}

} // namespace qmapcontrol
