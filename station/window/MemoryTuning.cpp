// Memory settings of the station.
#include "MemoryTuning.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void keepLargeBlocksMapped()
{
#if defined(__GLIBC__)
    // Setting the threshold also stops glibc from raising it after each large free, which would
    // send the next large blocks to the heap again.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}
