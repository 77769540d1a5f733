// Registration of the values that travel in queued signals between the detector, worker and
// window threads.
#include "ReceptorMetaTypes.h"

#include "BeaconInfo.h"
#include "GpsCoords.h"
#include "ReceptorDeviceDesc.h"

void registerReceptorMetaTypes()
{
    qRegisterMetaType<ReceptorDeviceDesc>("ReceptorDeviceDesc");
    qRegisterMetaType<BeaconInfo>("BeaconInfo");
    qRegisterMetaType<GpsCoords>("GpsCoords");
}
