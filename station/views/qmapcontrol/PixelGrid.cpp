// Per-pixel marks of an area.
#include "PixelGrid.h"

#include <algorithm>

namespace qmapcontrol {

void PixelGrid::reset(const QRect &area)
{
    m_area = area;
    m_cells.assign(size_t(std::max(area.width(), 0)) * size_t(std::max(area.height(), 0)), false);
}

bool PixelGrid::take(const QPoint &pixel)
{
    if (!m_area.contains(pixel))
        return false;
    const size_t cell = size_t(pixel.y() - m_area.top()) * size_t(m_area.width())
        + size_t(pixel.x() - m_area.left());
    if (m_cells[cell])
        return false;
    m_cells[cell] = true;
    return true;
}

} // namespace qmapcontrol
