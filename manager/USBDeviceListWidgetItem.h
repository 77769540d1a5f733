// One module in the manager's list: keeps its own copy of the module's handle (so the module stays
// open while it is listed) and shows "name (serial number)".
#pragma once

#include "USBDeviceDesc.h"

#include <QListWidgetItem>

#include <memory>

class USBDeviceListWidgetItem : public QListWidgetItem
{
public:
    explicit USBDeviceListWidgetItem(const USBDeviceDesc &devDesc);

    const USBDeviceDesc &descriptor() const { return *m_desc; }
    // Takes a new name for the module and shows it.
    void setName(const QString &name);

    static QString entryText(const USBDeviceDesc &devDesc);

private:
    std::unique_ptr<USBDeviceDesc> m_desc;  // released with the entry
};
