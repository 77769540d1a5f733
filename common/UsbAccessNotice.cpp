// The debug side of the access notices; the windows word them for the user.
#include "UsbAccessNotice.h"

#include "LogCategories.h"
#include "usb/UsbAccess.h"

QStringList takeUsbAccessNotices()
{
    QStringList devices;
    for (const std::string &device : usb::takeAccessNotices()) {
        qCDebug(lcKitUsb, "USB device %s may not be opened (permission denied)\n", device.c_str());
        devices << QString::fromStdString(device);
    }
    return devices;
}
