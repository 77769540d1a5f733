// Fuzz target: the station's GeoTIFF map loading on arbitrary file contents. The bytes are written to
// a file and loaded twice into the same map object (a load replaces the previous map); either the
// map is complete (size, pixmap of that size, geo-referencing open) or nothing at all is loaded.
#include "FuzzCheck.h"
#include "GeoTiffImage.h"
#include "QuietQt.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <tiffio.h>

#include <cstdint>

namespace {

QGuiApplication *application = nullptr;
QTemporaryDir *scratch = nullptr;

void checkLoaded(const GeoTiffImage &map, bool loaded)
{
    FUZZ_CHECK(map.isLoaded() == loaded);
    if (!loaded) {
        FUZZ_CHECK(map.width() == 0 && map.height() == 0);
        FUZZ_CHECK(map.pixmap().isNull());
        double x = 1;
        double y = 1;
        FUZZ_CHECK(!map.modelToImage(&x, &y));
        return;
    }
    FUZZ_CHECK(map.width() > 0 && map.height() > 0);
    FUZZ_CHECK(map.pixmap().width() == map.width() && map.pixmap().height() == map.height());
    // Whatever the file's transformation holds, placing a position must not fail badly.
    double x = 139.9;
    double y = 35.5;
    map.modelToImage(&x, &y);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietQtMessages();
    // libtiff reports every defect of a damaged file on stderr.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Pixmaps need the GUI application object.
    static int argc = 1;
    static char name[] = "fuzz_geotiff_load";
    static char *argv[] = {name, nullptr};
    application = new QGuiApplication(argc, argv);
    scratch = new QTemporaryDir;
    FUZZ_CHECK(scratch->isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = scratch->filePath(QStringLiteral("map.tif"));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    file.close();

    GeoTiffImage map;
    const bool loaded = map.load(path);
    checkLoaded(map, loaded);
    const int width = map.width();
    const int height = map.height();
    FUZZ_CHECK(map.load(path) == loaded);
    checkLoaded(map, loaded);
    FUZZ_CHECK(map.width() == width && map.height() == height);
    map.close();
    FUZZ_CHECK(!map.isLoaded() && map.pixmap().isNull());
    return 0;
}
