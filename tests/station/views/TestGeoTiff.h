// RGB GeoTIFFs written by the map tests and the benchmarks themselves with libtiff and libgeotiff:
// geo-referenced by tie point and pixel scale, by a transformation matrix, or not at all.
#pragma once

#include <QRgb>
#include <QString>

#include <functional>

struct TestGeoTiff
{
    enum class Georef { None, TiePoint, Matrix };

    qint64 width = 0;
    qint64 height = 0;
    Georef georef = Georef::TiePoint;
    double tiePoint[6] = {};   // raster i, j, k, then model x, y, z
    double pixelScale[3] = {}; // model units per pixel along columns and rows, and z
    double matrix[16] = {};    // pixel to model, row-major 4x4
    std::function<QRgb(int x, int y)> colour = [](int, int) { return qRgb(0, 0, 0); };
    // A fourth sample with the colour's alpha, stored unassociated (not premultiplied).
    bool alpha = false;
    // Rows in each uncompressed strip; 0 for libtiff's default, strips of about 8 KiB.
    quint32 rowsPerStrip = 1;
    // A complete directory with next to no pixel data: for sizes far too large to decode.
    bool headerOnly = false;

    // Tie point and pixel scale: pixel (0, 0) at (west, north), degrees per column and per row.
    void placeTopLeft(double west, double north, double degreesPerColumn, double degreesPerRow);

    bool write(const QString &path) const;
};
