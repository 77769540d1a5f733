// Korvane's icon is a beacon pin sending its position over a track; Quorvel's a GPS logger module
// unloading its tracks. Both sit on a rounded tile so that they read well on light and dark panels.
#include "AppIcons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace
{
constexpr qreal grid = 256;

const QColor outline(30, 30, 30);
const QColor red(205, 45, 45);

void tile(QPainter &p, const QColor &top, const QColor &bottom)
{
    QLinearGradient shade(0, 16, 0, 240);
    shade.setColorAt(0, top);
    shade.setColorAt(1, bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawRoundedRect(QRectF(16, 16, 224, 224), 44, 44);
}

void korvane(QPainter &p, bool detailed)
{
    tile(p, QColor(52, 120, 200), QColor(22, 60, 120));
    const QPointF head(128, 116);

    if (detailed) {
        // The track walked so far, ending under the pin.
        QPainterPath track;
        track.moveTo(38, 204);
        track.cubicTo(70, 150, 100, 232, 128, 212);
        QPen dashes(QColor(255, 255, 255, 220), 9, Qt::DashLine, Qt::RoundCap);
        dashes.setDashPattern({1.6, 1.6});
        p.setPen(dashes);
        p.setBrush(Qt::NoBrush);
        p.drawPath(track);
    }

    // Radio waves on both sides of the pin's head.
    const int outerWave = detailed ? 2 : 1;
    p.setPen(QPen(Qt::white, detailed ? 11 : 18, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int wave = 1; wave <= outerWave; ++wave) {
        const qreal radius = 42 + wave * 24;
        const QRectF ring(head.x() - radius, head.y() - radius, 2 * radius, 2 * radius);
        p.drawArc(ring, 20 * 16, 50 * 16);
        p.drawArc(ring, 110 * 16, 50 * 16);
    }

    // The pin: a round head tapering to its tip.
    QPainterPath pin;
    pin.moveTo(128, 214);
    pin.cubicTo(110, 186, 88, 160, 88, 116);
    pin.arcTo(QRectF(88, 76, 80, 80), 180, -180);
    pin.cubicTo(168, 160, 146, 186, 128, 214);
    p.setPen(detailed ? QPen(outline, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin) : QPen(Qt::NoPen));
    p.setBrush(red);
    p.drawPath(pin);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(head, 17, 17);
}

void quorvel(QPainter &p, bool detailed)
{
    tile(p, QColor(60, 160, 100), QColor(25, 90, 55));

    // The module: a dark case with its display, standing on its USB plug.
    p.setPen(detailed ? QPen(outline, 6) : QPen(Qt::NoPen));
    p.setBrush(QColor(190, 195, 200));
    p.drawRect(QRectF(78, 184, 36, 34));
    p.setBrush(QColor(55, 60, 68));
    p.drawRoundedRect(QRectF(48, 40, 96, 148), 18, 18);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(175, 235, 150));
    p.drawRoundedRect(QRectF(64, 60, 64, 48), 6, 6);
    if (detailed) {
        // A track on the display and the status light below it.
        p.setPen(QPen(QColor(30, 90, 40), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(72, 98), QPointF(86, 80), QPointF(100, 92), QPointF(120, 68)}));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 200, 60));
        p.drawEllipse(QPointF(96, 146), 10, 10);
    }

    // The download: an arrow into a tray.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(178, 56), QPointF(206, 56), QPointF(206, 132), QPointF(226, 132),
                             QPointF(192, 176), QPointF(158, 132), QPointF(178, 132)}));
    p.setPen(QPen(Qt::white, detailed ? 12 : 18, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(160, 184), QPointF(160, 208), QPointF(224, 208), QPointF(224, 184)}));
}
} // namespace

namespace AppIcons
{
const std::vector<int> &sizes()
{
    static const std::vector<int> list = {16, 22, 24, 32, 48, 64, 128, 256};
    return list;
}

const std::vector<QString> &names()
{
    static const std::vector<QString> list = {QStringLiteral("korvane"), QStringLiteral("quorvel")};
    return list;
}

QImage render(const QString &name, int size)
{
    void (*draw)(QPainter &, bool) = nullptr;
    if (name == QLatin1String("korvane"))
        draw = korvane;
    else if (name == QLatin1String("quorvel"))
        draw = quorvel;
    if (!draw || size <= 0)
        return QImage();

    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / grid, size / grid);
    draw(painter, size >= 32);
    return image;
}
}
