// Local tile server for the map tests.
#include "TestTileServer.h"

#include <QBuffer>
#include <QImage>
#include <QRegularExpression>
#include <QTcpSocket>

TestTileServer::TestTileServer(QObject *parent)
    : QTcpServer(parent)
{
    listen(QHostAddress::LocalHost, 0);
}

QUrl TestTileServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(serverPort()));
}

QColor TestTileServer::tileColor(int zoom, int x, int y)
{
    return QColor(QColor::fromHsv((zoom * 97 + x * 31 + y * 17) % 360, 200, 200).rgb());
}

void TestTileServer::releaseHeld()
{
    const auto held = m_held;
    m_held.clear();
    for (const auto &request : held)
        if (request.first)
            answer(request.first, request.second);
}

void TestTileServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    socket->setSocketDescriptor(descriptor);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { readRequest(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void TestTileServer::readRequest(QTcpSocket *socket)
{
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    const int end = request.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("request", request);
        return;
    }
    socket->setProperty("request", QByteArray());
    const QList<QByteArray> lines = request.left(end).split('\n');
    const QString path = QString::fromLatin1(lines.first().split(' ').value(1));
    for (const QByteArray &line : lines)
        if (line.toLower().startsWith("user-agent:"))
            m_lastUserAgent = line.mid(11).trimmed();
    m_paths.append(path);
    emit requested(path);
    if (m_holding) {
        m_held.append({socket, path});
        m_mostPending = qMax(m_mostPending, m_held.size());
        return;
    }
    m_mostPending = qMax(m_mostPending, 1);
    answer(socket, path);
}

void TestTileServer::answer(QTcpSocket *socket, const QString &path)
{
    const Answer kind = m_answers.value(path, Answer::Tile);
    static const QRegularExpression tilePath(QStringLiteral("^/(\\d+)/(\\d+)/(\\d+)\\.png$"));
    const QRegularExpressionMatch match = tilePath.match(path);
    if (kind == Answer::Drop) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (kind == Answer::NotFound || !match.hasMatch()) {
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    } else {
        QImage tile(256, 256, QImage::Format_RGB32);
        tile.fill(tileColor(match.captured(1).toInt(), match.captured(2).toInt(),
                            match.captured(3).toInt()));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        tile.save(&buffer, "PNG");
        QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: "
            + QByteArray::number(png.size()) + "\r\nConnection: close\r\n";
        if (!m_cacheHeader.isEmpty())
            head += m_cacheHeader + "\r\n";
        socket->write(head + "\r\n" + png);
    }
    socket->disconnectFromHost();
}
