// Build-time tool: draws the station's toolbar and status-bar icons and writes them as .ico files
// into the folder given on the command line, ready to be compiled in as resources; with --apps, draws
// the programs' launcher icons as a hicolor theme tree (SIZExSIZE/apps/NAME.png) instead.
#include "AppIcons.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cstdio>
#include <cstring>
#include <functional>

namespace
{
constexpr int iconSize = 32;

const QColor outline(40, 40, 40);
const QColor green(46, 160, 67);
const QColor red(200, 40, 40);
const QColor blue(40, 110, 200);

// A plug seen from the side, prongs to the right, drawn at the painter's origin.
void drawPlug(QPainter &p, const QColor &body)
{
    p.setPen(QPen(outline, 1.2));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(0, -5, 9, 10), 2, 2);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(9, -3.5, 5, 2));
    p.drawRect(QRectF(9, 1.5, 5, 2));
    p.setPen(QPen(outline, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, 0), QPointF(-5, 0));
}

// The matching socket, opening to the left.
void drawSocket(QPainter &p, const QColor &body)
{
    p.setPen(QPen(outline, 1.2));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(0, -6, 10, 12), 2, 2);
    p.setBrush(outline);
    p.drawRect(QRectF(0, -3, 2, 1.5));
    p.drawRect(QRectF(0, 1.5, 2, 1.5));
    p.setPen(QPen(outline, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 0), QPointF(15, 0));
}

void connectedIcon(QPainter &p)
{
    p.save();
    p.translate(4, 16);
    drawPlug(p, green);
    p.restore();
    p.save();
    p.translate(17, 16);
    drawSocket(p, green);
    p.restore();
}

void disconnectedIcon(QPainter &p)
{
    p.save();
    p.translate(3, 21);
    p.rotate(-20);
    drawPlug(p, red);
    p.restore();
    p.save();
    p.translate(20, 11);
    p.rotate(-20);
    drawSocket(p, red);
    p.restore();
    // The spark gap between the two halves.
    p.setPen(QPen(red, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 20), QPointF(19, 25));
    p.drawLine(QPointF(19, 18), QPointF(23, 21));
}

void startIcon(QPainter &p)
{
    p.setPen(QPen(outline, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(green);
    p.drawPolygon(QPolygonF({QPointF(8, 4), QPointF(27, 16), QPointF(8, 28)}));
}

void stopIcon(QPainter &p)
{
    p.setPen(QPen(outline, 1.5));
    p.setBrush(red);
    p.drawRoundedRect(QRectF(6, 6, 20, 20), 2, 2);
}

void crossBar(QPainter &p, const QColor &fill, bool vertical)
{
    p.setPen(QPen(outline, 1.5));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(4, 12, 24, 8), 1.5, 1.5);
    if (vertical) {
        p.drawRoundedRect(QRectF(12, 4, 8, 24), 1.5, 1.5);
        p.setPen(Qt::NoPen);
        p.drawRect(QRectF(12.8, 12.8, 6.4, 6.4));
    }
}

void addIcon(QPainter &p)
{
    crossBar(p, green, true);
}

void removeIcon(QPainter &p)
{
    crossBar(p, red, false);
}

// Four corner brackets around a frame: bring everything into view.
void fitIcon(QPainter &p)
{
    p.setPen(QPen(blue, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    const qreal lo = 3, hi = 29, arm = 8;
    p.drawPolyline(QPolygonF({QPointF(lo, lo + arm), QPointF(lo, lo), QPointF(lo + arm, lo)}));
    p.drawPolyline(QPolygonF({QPointF(hi - arm, lo), QPointF(hi, lo), QPointF(hi, lo + arm)}));
    p.drawPolyline(QPolygonF({QPointF(hi, hi - arm), QPointF(hi, hi), QPointF(hi - arm, hi)}));
    p.drawPolyline(QPolygonF({QPointF(lo + arm, hi), QPointF(lo, hi), QPointF(lo, hi - arm)}));
    p.setPen(QPen(outline, 1.2));
    p.setBrush(QColor(180, 210, 240));
    p.drawRect(QRectF(10, 10, 12, 12));
}

void magnifier(QPainter &p, bool plus)
{
    p.setPen(QPen(outline, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(20, 20), QPointF(28, 28));
    p.setPen(QPen(outline, 2));
    p.setBrush(QColor(220, 235, 250));
    p.drawEllipse(QPointF(13, 13), 10, 10);
    p.setPen(QPen(blue, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 13), QPointF(18, 13));
    if (plus)
        p.drawLine(QPointF(13, 8), QPointF(13, 18));
}

void zoomInIcon(QPainter &p)
{
    magnifier(p, true);
}

void zoomOutIcon(QPainter &p)
{
    magnifier(p, false);
}

// A folded three-panel map with a location pin.
void mapIcon(QPainter &p)
{
    const QPolygonF panels[] = {
        QPolygonF({QPointF(2, 8), QPointF(11, 5), QPointF(11, 26), QPointF(2, 29)}),
        QPolygonF({QPointF(11, 5), QPointF(21, 8), QPointF(21, 29), QPointF(11, 26)}),
        QPolygonF({QPointF(21, 8), QPointF(30, 5), QPointF(30, 26), QPointF(21, 29)}),
    };
    const QColor shades[] = {QColor(150, 200, 120), QColor(120, 175, 220), QColor(150, 200, 120)};
    p.setPen(QPen(outline, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (int i = 0; i < 3; ++i) {
        p.setBrush(shades[i]);
        p.drawPolygon(panels[i]);
    }
    QPainterPath pin;
    pin.moveTo(16, 22);
    pin.cubicTo(10, 14, 10, 6, 16, 6);
    pin.cubicTo(22, 6, 22, 14, 16, 22);
    p.setBrush(red);
    p.drawPath(pin);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 11.5), 2.2, 2.2);
}

// A sheet with a table of rows: the records folder.
void recordsIcon(QPainter &p)
{
    QPainterPath sheet;
    sheet.moveTo(6, 2);
    sheet.lineTo(21, 2);
    sheet.lineTo(27, 8);
    sheet.lineTo(27, 30);
    sheet.lineTo(6, 30);
    sheet.closeSubpath();
    p.setPen(QPen(outline, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.setBrush(QColor(210, 210, 210));
    p.drawPolygon(QPolygonF({QPointF(21, 2), QPointF(21, 8), QPointF(27, 8)}));
    p.setPen(QPen(blue, 2, Qt::SolidLine, Qt::FlatCap));
    for (int row = 0; row < 5; ++row) {
        const qreal y = 12 + row * 3.8;
        p.drawLine(QPointF(9, y), QPointF(14, y));
        p.drawLine(QPointF(16, y), QPointF(24, y));
    }
}

// A clock face inside an arrow turning back: the tracks of earlier reports.
void historyIcon(QPainter &p)
{
    // The arrow: three quarters of a circle, its head at the top left, pointing back in time.
    p.setPen(QPen(blue, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(3, 3, 26, 26);
    p.drawArc(ring, 135 * 16, -270 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawPolygon(QPolygonF({QPointF(1.5, 4.5), QPointF(11.5, 5.5), QPointF(4, 13)}));
    // The face and its hands at ten past ten.
    p.setPen(QPen(outline, 1.2));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 16), 8.5, 8.5);
    p.setPen(QPen(outline, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 16), QPointF(16, 10));
    p.drawLine(QPointF(16, 16), QPointF(20.5, 18.5));
}

// The same clock, struck out: the history's tracks taken off the displays.
void clearHistoryIcon(QPainter &p)
{
    historyIcon(p);
    p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(19, 19), QPointF(29, 29));
    p.drawLine(QPointF(29, 19), QPointF(19, 29));
    p.setPen(QPen(red, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(19, 19), QPointF(29, 29));
    p.drawLine(QPointF(29, 19), QPointF(19, 29));
}

struct Icon
{
    const char *file;
    std::function<void(QPainter &)> draw;
};

bool writeIcon(const QString &folder, const Icon &icon)
{
    QImage image(iconSize, iconSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        icon.draw(painter);
    }
    QImageWriter writer(folder + QLatin1Char('/') + QLatin1String(icon.file), "ico");
    if (!writer.write(image)) {
        std::fprintf(stderr, "cannot write %s\n", icon.file);
        return false;
    }
    return true;
}

bool writeAppIcons(const QString &folder)
{
    for (int size : AppIcons::sizes()) {
        const QString sizeFolder = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        if (!QDir().mkpath(sizeFolder)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(sizeFolder));
            return false;
        }
        for (const QString &name : AppIcons::names()) {
            const QString file = sizeFolder + QLatin1Char('/') + name + QLatin1String(".png");
            if (!AppIcons::render(name, size).save(file, "png")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                return false;
            }
        }
    }
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    // The application object gives QImageWriter its plugin search path.
    QCoreApplication app(argc, argv);
    const bool apps = argc == 3 && std::strcmp(argv[1], "--apps") == 0;
    if (argc != 2 && !apps) {
        std::fprintf(stderr, "usage: %s [--apps] OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[argc - 1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", argv[argc - 1]);
        return 1;
    }
    if (apps)
        return writeAppIcons(folder) ? 0 : 1;

    const Icon icons[] = {
        {"connected.ico", connectedIcon}, {"disconnected.ico", disconnectedIcon},
        {"start.ico", startIcon},         {"stop.ico", stopIcon},
        {"Add.ico", addIcon},             {"Remove.ico", removeIcon},
        {"zoom.ico", fitIcon},            {"zoomin.ico", zoomInIcon},
        {"zoomout.ico", zoomOutIcon},     {"map2.ico", mapIcon},
        {"records.ico", recordsIcon},     {"history.ico", historyIcon},
        {"clearhistory.ico", clearHistoryIcon},
    };
    for (const Icon &icon : icons) {
        if (!writeIcon(folder, icon))
            return 1;
    }
    return 0;
}
