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

    // Why the last load failed.
    enum class LoadError {
        None,
        Unreadable,   // the file cannot be opened for reading
        NotTiff,      // libtiff does not take it for a TIFF file
        NoGeoKeys,    // its geo-referencing directory cannot be read
        Unsupported,  // a kind of TIFF image libtiff cannot turn into colours
        TooLarge,     // more pixels than any map the station shows
        OutOfMemory,  // no memory for the picture
        Damaged,      // its pixels cannot be read
    };

    // Replaces the current map with the file's. On failure the current map, if any, stays as it
    // was, and lastError() says why.
    bool load(const QString &path);
    void close();
    LoadError lastError() const { return m_error; }
    // The system's words for an unreadable file.
    const QString &lastErrorDetail() const { return m_errorDetail; }
    // Width and height the failed file declared (for a map too large), else 0.
    qint64 declaredWidth() const { return m_declaredWidth; }
    qint64 declaredHeight() const { return m_declaredHeight; }

    // True when the loaded file places model coordinates on its pixels (tie point and pixel scale,
    // or a transformation matrix). A TIFF without them shows as a picture with no track on it.
    bool isGeoReferenced() const;

    bool isLoaded() const { return m_gtif != nullptr; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    const QPixmap &pixmap() const { return m_pixmap; }

    // Model coordinates (here longitude, latitude) to fractional image column and row, by the file's
    // transformation matrix or its tie point and pixel scale. False without a map, or when the file
    // has neither.
    bool modelToImage(double *x, double *y) const;

private:
    bool fail(LoadError error);
    // Reads the file into this object, which holds no map yet.
    bool read(const QString &path);

    int m_width = 0;
    int m_height = 0;
    TIFF *m_tif = nullptr;
    GTIF *m_gtif = nullptr;
    QPixmap m_pixmap;
    LoadError m_error = LoadError::None;
    QString m_errorDetail;
    qint64 m_declaredWidth = 0;
    qint64 m_declaredHeight = 0;
};
