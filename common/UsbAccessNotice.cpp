// The access notices: a debug line per device, one status-bar text shared by both windows.
#include "UsbAccessNotice.h"

#include "LogCategories.h"
#include "usb/UsbAccess.h"

#include <QCoreApplication>

QString takeUsbAccessMessage()
{
    const std::vector<std::string> devices = usb::takeAccessNotices();
    if (devices.empty())
        return QString();
    for (const std::string &device : devices)
        qCDebug(lcKitUsb, "USB device %s may not be opened (permission denied)\n", device.c_str());
    return QCoreApplication::translate("UsbAccessNotice",
                                       "Accès refusé au périphérique USB %1 : installez la règle udev "
                                       "70-korvane.rules, puis rebranchez l'appareil.")
        .arg(QString::fromStdString(devices.back()));
}
