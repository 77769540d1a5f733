// Enumeration and opening through libusb-1.0. Finding a device's interface classes means reading its
// Microsoft OS descriptors over the control pipe, so only devices with a vendor-specific interface
// are asked, and a clean answer is kept for as long as the device stays plugged in at the same
// address: listings repeat every few seconds.
#include "LibusbBackend.h"

#include "KitProbe.h"
#include "LibusbDevice.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <utility>

namespace usb {

namespace {

// USB allows at most 7 tiers below the root hub.
constexpr int maxPortDepth = 7;

std::vector<uint8_t> portChain(libusb_device *device)
{
    std::array<uint8_t, maxPortDepth> ports{};
    const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    if (depth <= 0)
        return {};
    return std::vector<uint8_t>(ports.begin(), ports.begin() + depth);
}

// Interface numbers of the active configuration, and those of a vendor-specific class, from the
// descriptors the kernel keeps (no transfer).
bool readInterfaces(libusb_device *device, std::vector<uint8_t> *all, std::vector<uint8_t> *vendor)
{
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return false;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor &setting = interface.altsetting[a];
            if (std::find(all->begin(), all->end(), setting.bInterfaceNumber) == all->end())
                all->push_back(setting.bInterfaceNumber);
            if (setting.bInterfaceClass == vendorSpecificClass &&
                std::find(vendor->begin(), vendor->end(), setting.bInterfaceNumber) == vendor->end())
                vendor->push_back(setting.bInterfaceNumber);
        }
    }
    libusb_free_config_descriptor(config);
    return true;
}

std::string describe(libusb_device *device, const std::vector<uint8_t> &ports)
{
    std::string text = "bus " + std::to_string(libusb_get_bus_number(device)) + ", port ";
    for (std::size_t i = 0; i < ports.size(); ++i)
        text += (i ? "." : "") + std::to_string(ports[i]);
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS) {
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", descriptor.idVendor, descriptor.idProduct);
        text += std::string(", id ") + id;
    }
    return text;
}

PipeType pipeTypeOf(uint8_t attributes)
{
    switch (attributes & LIBUSB_TRANSFER_TYPE_MASK) {
    case LIBUSB_TRANSFER_TYPE_ISOCHRONOUS: return PipeType::Isochronous;
    case LIBUSB_TRANSFER_TYPE_BULK: return PipeType::Bulk;
    case LIBUSB_TRANSFER_TYPE_INTERRUPT: return PipeType::Interrupt;
    default: return PipeType::Control;
    }
}

// Endpoints of alternate setting 0 of an interface of the active configuration; nothing when the
// configuration has no such interface.
std::optional<std::vector<PipeInfo>> pipesOf(libusb_device *device, uint8_t interfaceNumber, int *error)
{
    libusb_config_descriptor *config = nullptr;
    *error = libusb_get_active_config_descriptor(device, &config);
    if (*error != 0)
        return std::nullopt;
    std::optional<std::vector<PipeInfo>> pipes;
    for (int i = 0; i < config->bNumInterfaces && !pipes; ++i) {
        const libusb_interface &interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor &setting = interface.altsetting[a];
            if (setting.bInterfaceNumber != interfaceNumber || setting.bAlternateSetting != 0)
                continue;
            pipes.emplace();
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor &endpoint = setting.endpoint[e];
                pipes->push_back({pipeTypeOf(endpoint.bmAttributes), endpoint.bEndpointAddress,
                                  endpoint.wMaxPacketSize});
            }
            break;
        }
    }
    libusb_free_config_descriptor(config);
    if (!pipes)
        *error = LIBUSB_ERROR_NOT_FOUND;
    return pipes;
}

} // namespace

LibusbBackend::LibusbBackend() : LibusbBackend(Options()) {}

LibusbBackend::LibusbBackend(Options options) : options_(std::move(options))
{
    libusb_context *context = nullptr;
    if (libusb_init(&context) == LIBUSB_SUCCESS)
        context_.reset(context, libusb_exit);
}

LibusbBackend::~LibusbBackend() = default;

bool LibusbBackend::classify(libusb_device *device, const std::vector<KitDeclaration> &declarations,
                             Entry &entry) const
{
    libusb_device_descriptor descriptor;
    std::vector<uint8_t> interfaces, vendorInterfaces;
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
        !readInterfaces(device, &interfaces, &vendorInterfaces))
        return false;   // not readable yet: looked at again at the next listing
    entry.guids.clear();
    if (const KitDeclaration *declared = findKitDeclaration(declarations, descriptor.idVendor, descriptor.idProduct)) {
        const uint8_t interfaceNumber = declared->interfaceNumber ? *declared->interfaceNumber
                                        : vendorInterfaces.empty() ? 0 : vendorInterfaces.front();
        entry.guids.push_back({interfaceNumber, declared->interfaceClass});
        entry.state = Entry::State::Known;
        return false;
    }
    // WinUSB functions are vendor-specific: hubs, keyboards and disks are never asked anything.
    if (vendorInterfaces.empty() || entry.failedProbes >= options_.maxProbeAttempts) {
        entry.state = Entry::State::Known;
        return false;
    }
    return true;
}

Outcome LibusbBackend::probe(libusb_device *device, Entry &entry)
{
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return Outcome::IoError;
    libusb_device_handle *handle = nullptr;
    const int error = libusb_open(device, &handle);
    if (error == LIBUSB_ERROR_ACCESS) {
        entry.state = Entry::State::Denied;
        entry.retryAt = Clock::now() + options_.accessRetry;
        return Outcome::IoError;
    }
    if (error != LIBUSB_SUCCESS) {
        ++entry.failedProbes;
        return LibusbDevice::outcomeOf(error);
    }
    const unsigned timeoutMs = options_.probeTimeoutMs;
    const ProbeResult result =
        probeInterfaceGuids(descriptor.bcdUSB, [handle, timeoutMs](const SetupPacket &setup, uint8_t *data) {
            const int n = libusb_control_transfer(handle, setup.requestType, setup.request, setup.value,
                                                  setup.index, data, setup.length, timeoutMs);
            return n < 0 ? Transfer::failure(LibusbDevice::outcomeOf(n)) : Transfer::success(static_cast<std::size_t>(n));
        });
    libusb_close(handle);
    if (!result.complete) {
        // Only a clean answer is kept; a stalled or unanswered request is asked again later.
        ++entry.failedProbes;
        entry.state = Entry::State::Unknown;
        return result.failure;
    }
    entry.state = Entry::State::Known;
    entry.guids = result.guids;
    return Outcome::Ok;
}

void LibusbBackend::noteAccessDenied(const DeviceKey &key, libusb_device *device, Entry *entry)
{
    if (entry->noticed)
        return;
    entry->noticed = true;
    notices_.push_back(describe(device, std::get<1>(key)));
}

std::vector<std::string> LibusbBackend::listPaths(const Guid &interfaceClass)
{
    if (!context_)
        return {};
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context_.get(), &list);
    if (count < 0)
        return {};
    const std::vector<KitDeclaration> declarations = readKitDeclarations(options_.declarationsPath);

    struct Candidate {
        libusb_device *device;
        DeviceKey key;
        Entry entry;
    };
    std::vector<Candidate> candidates;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Clock::time_point now = Clock::now();
        std::map<DeviceKey, Entry> present;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device *device = list[i];
            std::vector<uint8_t> ports = portChain(device);
            if (ports.empty())
                continue;   // a root hub
            DeviceKey key{libusb_get_bus_number(device), std::move(ports), libusb_get_device_address(device)};
            const auto known = devices_.find(key);
            Entry entry = known != devices_.end() ? known->second : Entry{};
            bool toProbe = false;
            if (entry.state == Entry::State::Unknown && !entry.probing)
                toProbe = classify(device, declarations, entry);
            else if (entry.state == Entry::State::Denied && !entry.probing && now >= entry.retryAt)
                toProbe = true;
            if (toProbe) {
                entry.probing = true;
                candidates.push_back({device, key, entry});
            }
            present.emplace(std::move(key), entry);
        }
        // Devices that went away are forgotten; one plugged in again is probed again.
        devices_ = std::move(present);
    }

    // Outside the lock, devices tried least often first, so that a silent device cannot keep a
    // newcomer waiting; after one time-out the others wait for the next listing.
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
        return a.entry.failedProbes < b.entry.failedProbes;
    });
    bool timedOut = false;
    std::vector<bool> probed(candidates.size(), false);
    for (std::size_t i = 0; i < candidates.size() && !timedOut; ++i) {
        timedOut = probe(candidates[i].device, candidates[i].entry) == Outcome::Timeout;
        probed[i] = true;
    }

    std::vector<Location> found;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const auto current = devices_.find(candidates[i].key);
            if (current == devices_.end())
                continue;   // gone, as a concurrent listing saw
            Entry &entry = current->second;
            entry.probing = false;
            if (!probed[i])
                continue;
            const bool noticed = entry.noticed;
            entry = candidates[i].entry;
            entry.probing = false;
            entry.noticed = noticed;
            if (entry.state == Entry::State::Denied)
                noteAccessDenied(current->first, candidates[i].device, &entry);
        }
        for (const auto &[key, entry] : devices_) {
            if (entry.state != Entry::State::Known)
                continue;
            for (const InterfaceGuid &declared : entry.guids) {
                if (declared.guid == interfaceClass)
                    found.push_back({std::get<0>(key), std::get<1>(key), declared.interfaceNumber});
            }
        }
    }
    libusb_free_device_list(list, 1);

    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (const Location &location : found) {
        std::string path = formatPath(location);
        if (paths.empty() || paths.back() != path)
            paths.push_back(std::move(path));
    }
    return paths;
}

std::vector<std::string> LibusbBackend::takeAccessNotices()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(notices_, {});
}

bool LibusbBackend::ownsPath(const std::string &path) const
{
    return path.compare(0, std::char_traits<char>::length(pathPrefix), pathPrefix) == 0;
}

std::unique_ptr<Device> LibusbBackend::open(const std::string &path, Outcome *outcome)
{
    const auto fail = [outcome](Outcome reason) {
        if (outcome)
            *outcome = reason;
        return nullptr;
    };
    const std::optional<Location> location = parsePath(path);
    if (!location || !context_)
        return fail(Outcome::NoDevice);

    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context_.get(), &list);
    if (count < 0)
        return fail(LibusbDevice::outcomeOf(static_cast<int>(count)));
    libusb_device *device = nullptr;
    for (ssize_t i = 0; i < count && !device; ++i) {
        if (libusb_get_bus_number(list[i]) == location->bus && portChain(list[i]) == location->ports)
            device = list[i];
    }
    int error = LIBUSB_ERROR_NO_DEVICE;
    if (device) {
        // The path stands for the device listed there, not for whatever was plugged in since.
        const DeviceKey key{location->bus, location->ports, libusb_get_device_address(device)};
        std::lock_guard<std::mutex> lock(mutex_);
        if (devices_.count(key) != 0)
            error = LIBUSB_SUCCESS;
    }
    libusb_device_handle *handle = nullptr;
    if (error == LIBUSB_SUCCESS)
        error = libusb_open(device, &handle);
    if (error == LIBUSB_ERROR_ACCESS) {
        std::lock_guard<std::mutex> lock(mutex_);
        const DeviceKey key{location->bus, location->ports, libusb_get_device_address(device)};
        const auto entry = devices_.find(key);
        if (entry != devices_.end())
            noteAccessDenied(key, device, &entry->second);
    }
    std::optional<std::vector<PipeInfo>> pipes;
    if (error == LIBUSB_SUCCESS)
        pipes = pipesOf(device, location->interfaceNumber, &error);
    libusb_free_device_list(list, 1);
    if (error != LIBUSB_SUCCESS) {
        if (handle)
            libusb_close(handle);
        return fail(LibusbDevice::outcomeOf(error));
    }

    // Not supported where the kernel has no detachable drivers; the claim below then tells.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    error = libusb_claim_interface(handle, location->interfaceNumber);
    if (error != LIBUSB_SUCCESS) {
        libusb_close(handle);
        return fail(LibusbDevice::outcomeOf(error));
    }
    if (outcome)
        *outcome = Outcome::Ok;
    return std::make_unique<LibusbDevice>(context_, handle, location->interfaceNumber, std::move(*pipes));
}

std::string LibusbBackend::formatPath(const Location &location)
{
    std::string path = pathPrefix + std::to_string(location.bus) + '-';
    for (std::size_t i = 0; i < location.ports.size(); ++i) {
        if (i != 0)
            path += '.';
        path += std::to_string(location.ports[i]);
    }
    return path + ':' + std::to_string(location.interfaceNumber);
}

std::optional<LibusbBackend::Location> LibusbBackend::parsePath(const std::string &path)
{
    const std::size_t prefixLength = std::char_traits<char>::length(pathPrefix);
    if (path.compare(0, prefixLength, pathPrefix) != 0)
        return std::nullopt;
    std::size_t pos = prefixLength;
    // A decimal byte of at most three digits.
    const auto number = [&path, &pos]() -> std::optional<uint8_t> {
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < path.size() && digits < 4 && std::isdigit(static_cast<unsigned char>(path[pos]))) {
            value = value * 10 + static_cast<unsigned>(path[pos++] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        return static_cast<uint8_t>(value);
    };
    const auto expect = [&path, &pos](char c) { return pos < path.size() && path[pos++] == c; };

    Location location;
    const auto bus = number();
    if (!bus || *bus == 0 || !expect('-'))
        return std::nullopt;
    location.bus = *bus;
    for (;;) {
        const auto port = number();
        if (!port || *port == 0 || location.ports.size() == maxPortDepth)
            return std::nullopt;
        location.ports.push_back(*port);
        if (pos < path.size() && path[pos] == '.') {
            ++pos;
            continue;
        }
        break;
    }
    if (!expect(':'))
        return std::nullopt;
    const auto interfaceNumber = number();
    if (!interfaceNumber || pos != path.size())
        return std::nullopt;
    location.interfaceNumber = *interfaceNumber;
    // Leading zeros would give a second spelling of the same place.
    if (formatPath(location) != path)
        return std::nullopt;
    return location;
}

} // namespace usb
