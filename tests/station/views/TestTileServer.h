// A tile server on 127.0.0.1 for the map tests: answers GET /z/x/y.png with a 256-pixel PNG of one
// colour per tile, or with a 404, a dropped connection, or no answer until released, as a test
// asks; it records every request.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

class TestTileServer : public QTcpServer
{
    Q_OBJECT

public:
    enum class Answer { Tile, NotFound, Drop };

    explicit TestTileServer(QObject *parent = nullptr);

    QUrl baseUrl() const;
    static QColor tileColor(int zoom, int x, int y);

    void setAnswer(const QString &path, Answer answer) { m_answers.insert(path, answer); }
    // Extra header line sent with tiles, such as "Cache-Control: max-age=86400".
    void setCacheHeader(const QByteArray &header) { m_cacheHeader = header; }
    // While holding, requests are recorded but not answered.
    void setHolding(bool holding) { m_holding = holding; }
    void releaseHeld();

    // Paths requested, in arrival order.
    const QStringList &paths() const { return m_paths; }
    int pending() const { return m_held.size(); }
    int mostPending() const { return m_mostPending; }
    const QByteArray &lastUserAgent() const { return m_lastUserAgent; }

signals:
    void requested(const QString &path);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &path);

    QHash<QString, Answer> m_answers;
    QByteArray m_cacheHeader;
    bool m_holding = false;
    QList<QPair<QPointer<QTcpSocket>, QString>> m_held;
    int m_mostPending = 0;
    QStringList m_paths;
    QByteArray m_lastUserAgent;
};
