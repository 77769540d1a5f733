// GeoTIFF reading: libtiff decodes the raster straight into the pixels of the image that becomes the
// map pixmap, libgeotiff keeps the geo-referencing for placing positions.
#include "GeoTiffImage.h"
#include "LogCategories.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <xtiffio.h>

#include <climits>
#include <cstdint>
#include <utility>

GeoTiffImage::~GeoTiffImage()
{
    close();
}

void GeoTiffImage::close()
{
    if (m_gtif)
        GTIFFree(m_gtif);
    if (m_tif)
        TIFFClose(m_tif);
    m_gtif = nullptr;
    m_tif = nullptr;
    m_pixmap = QPixmap();
}

bool GeoTiffImage::fail(LoadError error)
{
    close();
    m_width = 0;
    m_height = 0;
    m_error = error;
    return false;
}

bool GeoTiffImage::load(const QString &path)
{
    // Read aside: a file that does not load leaves the map shown before untouched.
    GeoTiffImage next;
    if (!next.read(path)) {
        m_error = next.m_error;
        m_errorDetail = next.m_errorDetail;
        m_declaredWidth = next.m_declaredWidth;
        m_declaredHeight = next.m_declaredHeight;
        return false;
    }
    close();
    m_width = next.m_width;
    m_height = next.m_height;
    std::swap(m_tif, next.m_tif);
    std::swap(m_gtif, next.m_gtif);
    m_pixmap = std::move(next.m_pixmap);
    m_error = LoadError::None;
    m_errorDetail.clear();
    m_declaredWidth = m_declaredHeight = 0;
    return true;
}

bool GeoTiffImage::isGeoReferenced() const
{
    if (!m_tif)
        return false;
    uint16_t count = 0;
    double *values = nullptr;
    const bool matrix = TIFFGetField(m_tif, TIFFTAG_GEOTRANSMATRIX, &count, &values) && count >= 16;
    const bool tiePoint = TIFFGetField(m_tif, TIFFTAG_GEOTIEPOINTS, &count, &values) && count >= 6;
    const bool pixelScale = TIFFGetField(m_tif, TIFFTAG_GEOPIXELSCALE, &count, &values) && count >= 2;
    return matrix || (tiePoint && pixelScale);
}

bool GeoTiffImage::read(const QString &path)
{
    // A file that cannot even be opened says so in the system's words; libtiff would only fail.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_errorDetail = file.errorString();
        qCDebug(lcViews, "libtiff failed to open TIFF file\n");
        return fail(LoadError::Unreadable);
    }
    file.close();

#ifdef _WIN32
    // Windows names are UTF-16, beyond any 8-bit code page. XTIFFOpen is the GeoTIFF tag
    // registration followed by TIFFOpen; the wide form goes the same way.
    XTIFFInitialize();
    m_tif = TIFFOpenW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                      "rb");
#else
    // The file system's own encoding, so that every name Qt can list (any folder, any script) opens.
    m_tif = XTIFFOpen(QFile::encodeName(path).constData(), "rb");
#endif
    if (!m_tif) {
        qCDebug(lcViews, "libtiff failed to open TIFF file\n");
        return fail(LoadError::NotTiff);
    }
    m_gtif = GTIFNew(m_tif);
    if (!m_gtif) {
        qCDebug(lcViews, "libgeotiff failed to open TIFF file\n");
        return fail(LoadError::NoGeoKeys);
    }

    TIFFRGBAImage reader;
    char message[1024];
    if (!TIFFRGBAImageBegin(&reader, m_tif, 0, message))
        return fail(LoadError::Unsupported);
    reader.req_orientation = ORIENTATION_TOPLEFT;
    // A damaged header of a few bytes can declare gigabytes of raster, which libtiff then fills
    // row by row even where the file holds no strip; no map the station shows comes near 1 GiB
    // of pixels (16384 x 16384).
    constexpr uint64_t maxPixels = uint64_t(1) << 28;
    if (reader.width > uint32_t(INT_MAX) || reader.height > uint32_t(INT_MAX)
        || uint64_t(reader.width) * reader.height > maxPixels) {
        qCDebug(lcViews, "Failed to allocate QImage\n");
        m_declaredWidth = reader.width;
        m_declaredHeight = reader.height;
        TIFFRGBAImageEnd(&reader);
        return fail(LoadError::TooLarge);
    }
    m_width = int(reader.width);
    m_height = int(reader.height);

    // libtiff decodes into the image's own pixels: 32 bits per pixel leave no padding at the end of
    // a row, so the image is exactly the width x height raster libtiff expects. A size QImage cannot
    // hold gives a null image here instead of an overflowing allocation.
    QImage image(m_width, m_height, QImage::Format_ARGB32);
    if (image.isNull()) {
        qCDebug(lcViews, "Failed to allocate QImage\n");
        m_declaredWidth = m_width;
        m_declaredHeight = m_height;
        TIFFRGBAImageEnd(&reader);
        return fail(LoadError::OutOfMemory);
    }
    auto *pixels = reinterpret_cast<uint32_t *>(image.bits());
    if (!TIFFRGBAImageGet(&reader, pixels, reader.width, reader.height)) {
        qCDebug(lcViews, "Failed to read image\n");
        TIFFRGBAImageEnd(&reader);
        return fail(LoadError::Damaged);
    }

    // libtiff packs red in the lowest byte, ARGB32 blue: swap those two, green and alpha stay.
    const size_t count = size_t(m_width) * size_t(m_height);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = pixels[i];
        pixels[i] = (v & 0xFF00FF00u) | ((v & 0x000000FFu) << 16) | ((v >> 16) & 0x000000FFu);
    }
    // libtiff hands alpha out premultiplied, even from a file that stores it unassociated: taken
    // as plain ARGB32 the colours would be premultiplied twice. Without alpha every pixel is
    // opaque, and saying so spares the pixmap a scan for transparent pixels.
    image.reinterpretAsFormat(reader.alpha ? QImage::Format_ARGB32_Premultiplied
                                           : QImage::Format_RGB32);
    TIFFRGBAImageEnd(&reader);

    qCDebug(lcViews, "Image size : %dx%d\n", m_width, m_height);

    // Handing over the only reference lets the pixmap take the pixels without a copy.
    m_pixmap = QPixmap::fromImage(std::move(image));
    if (m_pixmap.isNull()) {
        qCDebug(lcViews, "Failed to allocate QImage\n");
        return fail(LoadError::OutOfMemory);
    }
    return true;
}

bool GeoTiffImage::modelToImage(double *x, double *y) const
{
    return m_gtif && GTIFPCSToImage(m_gtif, x, y);
}
