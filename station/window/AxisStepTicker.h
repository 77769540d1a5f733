// Ticker of the track graph's longitude axis: chooses about ten ticks for the range like the
// default ticker, and tells which step it takes for a range, so that the latitude axis can be
// given the very same step.
#pragma once

#include <qcustomplot.h>

class AxisStepTicker : public QCPAxisTicker
{
public:
    AxisStepTicker();

    // The step this ticker lays its ticks at for that range.
    double tickStepFor(const QCPRange &range);
};
