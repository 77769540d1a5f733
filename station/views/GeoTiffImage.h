// A GeoTIFF map: the raster decoded into a pixmap, and the file's geo-referencing, which stays open
// while the map is loaded because every later position is placed through it.
#pragma once

#include <QPixmap>
#include <QString>

#include <geotiffio.h>
#include <tiffio.h>

class GeoTiffImage
{
public:
    GeoTiffImage() = default;
    ~GeoTiffImage();
    GeoTiffImage(const GeoTiffImage &) = delete;
    GeoTiffImage &operator=(const GeoTiffImage &) = delete;

    // Replaces the current map with the file's. On failure no map is loaded and the size is 0x0.
    bool load(const QString &path);
    void close();

    bool isLoaded() const { return m_gtif != nullptr; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    const QPixmap &pixmap() const { return m_pixmap; }

    // Model coordinates (here longitude, latitude) to fractional image column and row, by the file's
    // transformation matrix or its tie point and pixel scale. False without a map, or when the file
    // has neither.
    bool modelToImage(double *x, double *y) const;

private:
    bool fail();

    int m_width = 0;
    int m_height = 0;
    TIFF *m_tif = nullptr;
    GTIF *m_gtif = nullptr;
    QPixmap m_pixmap;
};
