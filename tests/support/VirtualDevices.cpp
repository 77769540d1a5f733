// The virtual devices of the tests, set up as the tests share them.
#include "VirtualDevices.h"

#include "EmulatedBus.h"
#include "USBDetector.h"
#include "USBDevice.h"

namespace testdevices
{
std::shared_ptr<VirtualModule> plugModule(const std::string &path, const std::string &serial,
                                          const std::string &name, std::string *busPath)
{
    auto module = std::make_shared<VirtualModule>(serial, name);
    module->setVersions(1, 4, 2, 0);
    module->setEraseBusyPolls(0);
    const std::string listed = usb::EmulatedBus::instance().attach(USBDetector::interfaceClass(), path, module);
    if (busPath)
        *busPath = listed;
    return module;
}

USBDeviceDesc moduleDescriptor(const std::string &busPath)
{
    USBDevice *device = new USBDevice(QString::fromStdString(busPath));
    const USBDeviceDesc desc = device->getDeviceInfo();
    device->release();  // the descriptor holds it now
    return desc;
}

ModuleFlashWriter::Fix fixAt(int year, int month, int day, int hour, int minute)
{
    ModuleFlashWriter::Fix fix;
    fix.year = year;
    fix.month = month;
    fix.day = day;
    fix.hour = hour;
    fix.minute = minute;
    fix.latitude = 4807.038;
    fix.longitude = 1131.0;
    fix.longitudeHemisphere = 'W';
    return fix;
}

void logTrack(VirtualModule &module, int fixes)
{
    ModuleFlashWriter writer(module);
    writer.startTrack("061220", "093015.000", "001");
    ModuleFlashWriter::Fix fix;
    fix.latitude = 4807.038;
    fix.longitude = 1131.0;
    for (int i = 0; i < fixes; ++i) {
        fix.second = i % 60;
        writer.appendFix(fix, ModuleFlashWriter::CoordinateStyle::V1);
    }
}

QByteArray flashImage(const VirtualModule &module, uint32_t bytes)
{
    QByteArray image;
    for (uint32_t page = 0; page * VirtualModule::pageSize < bytes; ++page) {
        const VirtualModule::Page content = module.page(page);
        image.append(reinterpret_cast<const char *>(content.data()), int(content.size()));
    }
    return image;
}

VirtualReceptor::Report receptorReport(const std::string &name, const std::string &time)
{
    VirtualReceptor::Report report;
    report.date = "010224";
    report.time = time;
    report.latitude = "4512.34567N";
    report.longitude = "00612.50000E";
    report.name = name;
    report.memory = 40;
    report.state = VirtualReceptor::stateStarted;
    report.snrQuarterDb = 20;
    report.rssiDbm = -60;
    return report;
}
} // namespace testdevices
