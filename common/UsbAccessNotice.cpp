// The debug side of the access notices; the windows word them for the user.
#include "UsbAccessNotice.h"

#include "usb/UsbAccess.h"

#include <QtDebug>

QStringList takeUsbAccessNotices()
{
    QStringList devices;
    for (const std::string &device : usb::takeAccessNotices()) {
        qDebug("USB device %s may not be opened (permission denied)\n", device.c_str());
        devices << QString::fromStdString(device);
    }
    return devices;
}
