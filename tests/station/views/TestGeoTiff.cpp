// Writes the test GeoTIFFs: RGB strips written row by row, geographic model (longitude, latitude) on
// WGS 84.
#include "TestGeoTiff.h"

#include <QFile>

#include <geotiffio.h>
#include <xtiffio.h>

#include <algorithm>
#include <iterator>
#include <vector>

void TestGeoTiff::placeTopLeft(double west, double north, double degreesPerColumn,
                               double degreesPerRow)
{
    georef = Georef::TiePoint;
    const double tie[6] = {0, 0, 0, west, north, 0};
    const double scale[3] = {degreesPerColumn, degreesPerRow, 0};
    std::copy(std::begin(tie), std::end(tie), tiePoint);
    std::copy(std::begin(scale), std::end(scale), pixelScale);
}

bool TestGeoTiff::write(const QString &path) const
{
    TIFF *tif = XTIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    const int samples = alpha ? 4 : 3;
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    if (alpha) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, headerOnly ? COMPRESSION_PACKBITS : COMPRESSION_NONE);
    uint32_t stripRows = rowsPerStrip > 0 ? rowsPerStrip : TIFFDefaultStripSize(tif, 0);
    if (headerOnly)
        stripRows = uint32_t(height);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, stripRows);

    if (georef == Georef::TiePoint) {
        TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint);
        TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, pixelScale);
    } else if (georef == Georef::Matrix) {
        TIFFSetField(tif, TIFFTAG_GEOTRANSMATRIX, 16, matrix);
    }
    if (georef != Georef::None) {
        GTIF *gtif = GTIFNew(tif);
        GTIFKeySet(gtif, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeGeographic);
        GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
        GTIFKeySet(gtif, GeographicTypeGeoKey, TYPE_SHORT, 1, GCS_WGS_84);
        GTIFWriteKeys(gtif);
        GTIFFree(gtif);
    }

    bool ok = true;
    if (!headerOnly) {
        std::vector<unsigned char> row(size_t(width) * samples);
        for (int y = 0; y < height && ok; ++y) {
            for (int x = 0; x < width; ++x) {
                const QRgb c = colour(x, y);
                unsigned char *p = &row[size_t(x) * samples];
                p[0] = uchar(qRed(c));
                p[1] = uchar(qGreen(c));
                p[2] = uchar(qBlue(c));
                if (alpha)
                    p[3] = uchar(qAlpha(c));
            }
            ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
        }
    } else {
        // One strip holding a single PackBits run: the directory is complete, the pixels are not.
        unsigned char run[2] = {0x81, 0x00};
        ok = TIFFWriteRawStrip(tif, 0, run, sizeof run) == sizeof run;
    }
    XTIFFClose(tif);
    return ok;
}
