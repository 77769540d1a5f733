// Entry point of the USB access layer used by both programs: the platform backend first, then the
// kit simulator's devices when it runs (outside Windows), then the emulated bus (empty unless tests
// attach devices).
#pragma once

#include "UsbBackend.h"

namespace usb {

// Paths of every present interface of the class: the platform's, the simulator's, then the
// emulated bus's. An empty path stands for an interface whose path could not be read this time.
std::vector<std::string> listDevicePaths(const Guid &interfaceClass);
// Opens a path listed by listDevicePaths through the backend that owns it; null on failure.
std::unique_ptr<Device> openDevice(const std::string &path, Outcome *outcome = nullptr);

// Devices some backend saw but may not open, each reported once (see Backend::takeAccessNotices).
std::vector<std::string> takeAccessNotices();

// The backend of this platform (WinUSB on Windows, libusb elsewhere); created on first use.
Backend &platformBackend();
// Enables or disables the platform backend, so tests see the emulated bus alone.
void setPlatformBackendEnabled(bool enabled);

} // namespace usb
