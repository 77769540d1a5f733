// Set-up of the virtual modules and receptor that the tests run the programs' code against: modules
// plugged into the emulated bus, tracks logged into their flash, flash images, and receptor reports.
#pragma once

#include "ModuleFlashWriter.h"
#include "USBDeviceDesc.h"
#include "VirtualModule.h"
#include "VirtualReceptor.h"

#include <QByteArray>

#include <memory>
#include <string>

namespace testdevices
{
// A module (hardware 1.4, software 2.0, erasing at once) attached to the emulated bus as the
// module detector finds them; *busPath, when given, is the path the bus lists it under.
std::shared_ptr<VirtualModule> plugModule(const std::string &path, const std::string &serial,
                                          const std::string &name, std::string *busPath = nullptr);

// The descriptor of a plugged-in module, read as the detector reads a newcomer.
USBDeviceDesc moduleDescriptor(const std::string &busPath);

// A fix on the given day and time at 48° 07.038' N, 11° 31.000' W, the other fields at their
// defaults.
ModuleFlashWriter::Fix fixAt(int year, int month, int day, int hour = 0, int minute = 0);

// One track of `fixes` records, one a second, opened on 6 December 2020 at 09:30:15.
void logTrack(VirtualModule &module, int fixes);

// The first `bytes` of the module's flash, whole pages, as kitsim loads an image.
QByteArray flashImage(const VirtualModule &module, uint32_t bytes);

// A report of a started beacon on 1 February 2024 at 45° 12.34567' N, 6° 12.5' E, memory 40,
// SNR 5 dB, RSSI -60 dBm.
VirtualReceptor::Report receptorReport(const std::string &name, const std::string &time = "123456");
} // namespace testdevices
