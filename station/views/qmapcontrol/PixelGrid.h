// One bit per pixel of an area: which pixels already show a given marker. Drawing the same
// antialiased marker again on its own pixel only darkens its edges, so it is drawn once per pixel.
#pragma once

#include <QPoint>
#include <QRect>
#include <vector>

namespace qmapcontrol {

class PixelGrid
{
public:
    // Every pixel of `area` free again.
    void reset(const QRect &area);
    // True the first time a pixel of the area is taken, false after (and outside the area).
    bool take(const QPoint &pixel);

private:
    QRect m_area;
    std::vector<bool> m_cells;
};

} // namespace qmapcontrol
