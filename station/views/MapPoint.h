// One stored position of a beacon on the GeoTIFF map: where it is on Earth and where it falls on the
// loaded map image.
#pragma once

struct MapPoint
{
    double lon = 0; // signed decimal degrees, east positive
    double lat = 0; // signed decimal degrees, north positive
    int px = -1;    // map pixel column from the left, -1 when the position has no place on the map
    int py = -1;    // map pixel row from the top, -1 likewise

    bool isDrawable() const { return px >= 0 && py >= 0; }
};
