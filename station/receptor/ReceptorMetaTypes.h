// Registration of the station's cross-thread values, done first thing in main.
#pragma once

// Registers ReceptorDeviceDesc, BeaconInfo and GpsCoords, in that order.
void registerReceptorMetaTypes();
