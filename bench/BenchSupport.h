// What the station window's benchmarks share: the window thread's CPU clock, the twenty beacons'
// serial numbers and homes, a throw-away home for the station's files, the window with its displays
// at the size measured, and the GeoTIFF map it loads.
#pragma once

#include <QPointF>
#include <QSize>
#include <QString>

#include <vector>

class KorvaneMainWindow;

namespace bench
{
constexpr int beacons = 20;
// The size of each display (graph, GeoTIFF map, online map) in the window's tab widget.
inline const QSize viewSize(900, 600);

// The map: 0.5 degree square at 6000 pixels per degree, around the beacons' area.
constexpr double mapWest = 5.8;
constexpr double mapNorth = 45.3;
constexpr double mapDegreesPerPixel = 1.0 / 6000.0;
constexpr int mapSide = 3000;

// CPU time of the calling thread: steadier than wall time on a busy machine.
double threadCpuMs();
double median(std::vector<double> values);

QString serialOf(int beacon);

// Where a beacon starts (longitude, latitude in decimal degrees): twenty homes a few kilometres
// apart. A wandering beacon stays within about three kilometres of its home: a coordinate that
// steps further is reflected back at that distance.
QPointF homeOf(int beacon);
double keptNear(double degrees, double home);

// Points HOME and the XDG folders at `home`, runs on the offscreen platform unless another is
// asked for and turns the station's debug lines off (they would cost more than some of what is
// measured). Called before the QApplication is made.
void useThrowAwayHome(const QString &home);

// Runs what the event loop would run after the work measured: the coalesced replots, the window's
// repaint, the list and table updates.
void settle();

// Shows the window, sized so that its graph is viewSize; the maps, in the same tab widget, are as
// large less the GeoTIFF map's scroll bars.
void showAtViewSize(KorvaneMainWindow &window);

// Writes the map (light and dark squares of 100 pixels) and loads it in the window as the user
// would, through its "load a map" command.
bool writeMap(const QString &path);
void loadMap(KorvaneMainWindow &window, const QString &path);
} // namespace bench
