// List entry of a module: its handle copy and its text.
#include "USBDeviceListWidgetItem.h"

USBDeviceListWidgetItem::USBDeviceListWidgetItem(const USBDeviceDesc &devDesc)
    : QListWidgetItem(entryText(devDesc)), m_desc(std::make_unique<USBDeviceDesc>(devDesc))
{
}

void USBDeviceListWidgetItem::setName(const QString &name)
{
    m_desc->name = name;
    setText(entryText(*m_desc));
}

QString USBDeviceListWidgetItem::entryText(const USBDeviceDesc &devDesc)
{
    return QStringLiteral("%1 (%2)").arg(devDesc.name, devDesc.serialNumber);
}
