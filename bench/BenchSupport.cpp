// The station window's benchmarks' shared set-up and clock.
#include "BenchSupport.h"

#include "KorvaneMainWindow.h"
#include "TestGeoTiff.h"
#include "XCustomPlot.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>

#include <time.h>

namespace bench
{
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

QString serialOf(int beacon)
{
    return QStringLiteral("%1").arg(0xa0b0c0d0e000LL + beacon, 12, 16, QLatin1Char('0'));
}

QPointF homeOf(int beacon)
{
    return QPointF(6.0 + 0.03 * (beacon / 5), 45.0 + 0.02 * (beacon % 5));
}

double keptNear(double degrees, double home)
{
    constexpr double reach = 0.025;
    if (degrees > home + reach)
        return 2 * (home + reach) - degrees;
    if (degrees < home - reach)
        return 2 * (home - reach) - degrees;
    return degrees;
}

void useThrowAwayHome(const QString &home)
{
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    QDir(home).mkdir(QStringLiteral("run"));
    QFile(home + QStringLiteral("/run")).setPermissions(QFileDevice::ReadOwner
                                                        | QFileDevice::WriteOwner
                                                        | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home + QStringLiteral("/run")));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.debug=false");
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void showAtViewSize(KorvaneMainWindow &window)
{
    const auto *graph = window.findChild<XCustomPlot *>(QStringLiteral("graph"));
    window.show();
    settle();
    window.resize(window.size() + viewSize - graph->size());
    settle();
}

bool writeMap(const QString &path)
{
    TestGeoTiff map;
    map.width = mapSide;
    map.height = mapSide;
    map.placeTopLeft(mapWest, mapNorth, mapDegreesPerPixel, mapDegreesPerPixel);
    map.rowsPerStrip = 0;
    map.colour = [](int x, int y) {
        const bool light = ((x / 100 + y / 100) % 2) != 0;
        return light ? qRgb(236, 232, 220) : qRgb(214, 226, 206);
    };
    return map.write(path);
}

void loadMap(KorvaneMainWindow &window, const QString &path)
{
    window.dialogs().openFilePrompt = [path](QWidget *, const QString &, const QString &,
                                             const QString &) { return path; };
    window.findChild<QAction *>(QStringLiteral("actionLoadMap"))->trigger();
}
} // namespace bench
