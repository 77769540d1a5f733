// Longitude ticker of the track graph.
#include "AxisStepTicker.h"

AxisStepTicker::AxisStepTicker()
{
    // The step that comes closest to the wanted tick count, rather than the most readable one.
    setTickStepStrategy(QCPAxisTicker::tssMeetTickCount);
}

double AxisStepTicker::tickStepFor(const QCPRange &range)
{
    return getTickStep(range);
}
