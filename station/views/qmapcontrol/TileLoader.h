// Fetches map tiles over HTTP for the map control and keeps them: decoded in memory for drawing,
// and as received in a disk cache so that a map seen once still shows without a network. At most
// two downloads run at once; the wish list of the latest paint replaces the older one, so tiles the
// user has scrolled away from are not fetched.
#pragma once

#include <QByteArray>
#include <QCache>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVector>

class QNetworkAccessManager;
class QNetworkDiskCache;
class QNetworkReply;

namespace qmapcontrol {

class TileLoader : public QObject
{
    Q_OBJECT

public:
    enum class State { Missing, Loading, Ready, Failed };

    static constexpr int maximumDownloads = 2;
    // A tile that failed is asked for again only after this long.
    static constexpr qint64 retryDelayMs = 60000;

    explicit TileLoader(QObject *parent = nullptr);

    void setUserAgent(const QByteArray &userAgent) { m_userAgent = userAgent; }
    // Empty: no disk cache.
    void setCacheDirectory(const QString &path);
    QString cacheDirectory() const;

    State state(const QUrl &url) const;
    // The decoded tile, or a null image when it is not in memory.
    QImage image(const QUrl &url) const;
    // The tiles wanted now, most wanted first; tiles already held, loading or recently failed are
    // skipped.
    void request(const QVector<QUrl> &wanted);
    // Forgets every tile held in memory and every failure (the tile source changed).
    void clear();

signals:
    // A tile was loaded or failed.
    void tileFinished(const QUrl &url);

private:
    void startDownloads();
    void download(const QUrl &url, bool offline);
    void finished(QNetworkReply *reply);

    QNetworkAccessManager *m_network;
    QNetworkDiskCache *m_diskCache = nullptr;
    QByteArray m_userAgent;
    QCache<QString, QImage> m_images;
    QHash<QString, qint64> m_failedAt;
    QHash<QString, QNetworkReply *> m_downloads;
    QVector<QUrl> m_queue;
    QElapsedTimer m_clock;
    uint m_generation = 0;
};

} // namespace qmapcontrol
