// Device listing and opening across the platform backend, the kit simulator and the emulated bus.
#include "UsbAccess.h"

#include "EmulatedBus.h"
#ifdef _WIN32
#include "WinUsbBackend.h"
#else
#include "LibusbBackend.h"
#include "SimulatorBackend.h"
#endif

#include <atomic>

namespace usb {

namespace {
std::atomic<bool> platformEnabled{true};

// Backends in listing order: the platform's, the kit simulator's (outside Windows), the emulated bus.
std::vector<Backend *> backends()
{
    std::vector<Backend *> list;
    if (platformEnabled.load())
        list.push_back(&platformBackend());
#ifndef _WIN32
    static SimulatorBackend simulator;
    list.push_back(&simulator);
#endif
    list.push_back(&EmulatedBus::instance());
    return list;
}
} // namespace

Backend &platformBackend()
{
#ifdef _WIN32
    static WinUsbBackend backend;
#else
    static LibusbBackend backend;
#endif
    return backend;
}

void setPlatformBackendEnabled(bool enabled)
{
    platformEnabled.store(enabled);
}

std::vector<std::string> listDevicePaths(const Guid &interfaceClass)
{
    std::vector<std::string> paths;
    for (Backend *backend : backends()) {
        for (std::string &path : backend->listPaths(interfaceClass))
            paths.push_back(std::move(path));
    }
    return paths;
}

std::vector<std::string> takeAccessNotices()
{
    std::vector<std::string> notices;
    for (Backend *backend : backends()) {
        for (std::string &notice : backend->takeAccessNotices())
            notices.push_back(std::move(notice));
    }
    return notices;
}

std::unique_ptr<Device> openDevice(const std::string &path, Outcome *outcome)
{
    for (Backend *backend : backends()) {
        if (backend->ownsPath(path))
            return backend->open(path, outcome);
    }
    if (outcome)
        *outcome = Outcome::NoDevice;
    return nullptr;
}

} // namespace usb
