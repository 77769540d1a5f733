// Kit devices the USB layer saw but this user may not open (no udev rule yet): told once each, by
// a debug line here and by a status-bar message in the window that asks.
#pragma once

#include <QString>

// Takes the new notices: writes "USB device %s may not be opened (permission denied)\n" for each
// and returns the status-bar text naming the last of them and the fix, or an empty text.
QString takeUsbAccessMessage();
