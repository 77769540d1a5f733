// Enumeration and opening through libusb-1.0. Finding a device's interface classes means reading its
// Microsoft OS descriptors over the control pipe, so the answer is kept for as long as the device
// stays plugged in at the same address: listings repeat every few seconds.
#include "LibusbBackend.h"

#include "LibusbDevice.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace usb {

namespace {

// Time-out of each descriptor request while probing: a device that does not answer must not hold
// up the listing for long.
constexpr unsigned probeTimeoutMs = 1000;
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

std::vector<uint8_t> getDescriptor(libusb_device_handle *handle, uint8_t type, uint8_t index, uint16_t length)
{
    std::vector<uint8_t> bytes(length);
    const int n = libusb_get_descriptor(handle, type, index, bytes.data(), length);
    if (n < 0)
        return {};
    bytes.resize(static_cast<std::size_t>(n));
    return bytes;
}

std::vector<uint8_t> vendorIn(libusb_device_handle *handle, uint8_t requestType, uint8_t request, uint16_t value,
                              uint16_t index, uint16_t length)
{
    std::vector<uint8_t> bytes(length);
    const int n = libusb_control_transfer(handle, requestType, request, value, index, bytes.data(), length,
                                          probeTimeoutMs);
    if (n < 0)
        return {};
    bytes.resize(static_cast<std::size_t>(n));
    return bytes;
}

// The MS OS 2.0 platform capability, from the BOS descriptor of a USB 2.01 or later device.
std::optional<MsOs20Capability> readMsOs20Capability(libusb_device_handle *handle)
{
    const std::vector<uint8_t> header = getDescriptor(handle, LIBUSB_DT_BOS, 0, LIBUSB_DT_BOS_SIZE);
    if (header.size() < LIBUSB_DT_BOS_SIZE)
        return std::nullopt;
    const uint16_t total = static_cast<uint16_t>(header[2] | (header[3] << 8));
    if (total <= LIBUSB_DT_BOS_SIZE)
        return std::nullopt;
    return parseMsOs20Capability(getDescriptor(handle, LIBUSB_DT_BOS, 0, total));
}

std::vector<InterfaceGuid> readMsOs20Guids(libusb_device_handle *handle, const MsOs20Capability &capability)
{
    const std::vector<uint8_t> set =
        vendorIn(handle, LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_DEVICE,
                 capability.vendorCode, 0, MsOs20DescriptorIndex, capability.totalLength);
    const auto properties = parseMsOs20DescriptorSet(set);
    return properties ? deviceInterfaceGuids(*properties) : std::vector<InterfaceGuid>{};
}

// Interface numbers of the active configuration; interface 0 alone when it cannot be read.
std::vector<uint8_t> interfaceNumbers(libusb_device *device)
{
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return {0};
    std::vector<uint8_t> numbers;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        if (interface.num_altsetting > 0)
            numbers.push_back(interface.altsetting[0].bInterfaceNumber);
    }
    libusb_free_config_descriptor(config);
    return numbers;
}

// MS OS 1.0: the 0xEE string gives the vendor code, then each interface is asked for its extended
// properties (header first, to learn the length).
std::vector<InterfaceGuid> readMsOs10Guids(libusb_device_handle *handle, libusb_device *device)
{
    const auto vendorCode =
        parseMsOs10String(getDescriptor(handle, LIBUSB_DT_STRING, MsOs10StringIndex, MsOs10StringLength));
    if (!vendorCode)
        return {};
    constexpr uint8_t requestType = LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_INTERFACE;
    std::vector<InterfaceGuid> guids;
    for (uint8_t interfaceNumber : interfaceNumbers(device)) {
        const auto length = parseMsOs10ExtendedPropertiesLength(vendorIn(
            handle, requestType, *vendorCode, interfaceNumber, MsOs10ExtendedPropertiesIndex,
            MsOs10ExtendedPropertiesHeaderLength));
        if (!length || *length > UINT16_MAX)
            continue;
        const auto properties = parseMsOs10ExtendedProperties(
            vendorIn(handle, requestType, *vendorCode, interfaceNumber, MsOs10ExtendedPropertiesIndex,
                     static_cast<uint16_t>(*length)),
            interfaceNumber);
        if (!properties)
            continue;
        for (const InterfaceGuid &entry : deviceInterfaceGuids(*properties)) {
            if (std::find(guids.begin(), guids.end(), entry) == guids.end())
                guids.push_back(entry);
        }
    }
    return guids;
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

LibusbBackend::LibusbBackend()
{
    libusb_context *context = nullptr;
    if (libusb_init(&context) == LIBUSB_SUCCESS)
        context_.reset(context, libusb_exit);
}

LibusbBackend::~LibusbBackend() = default;

std::optional<std::vector<InterfaceGuid>> LibusbBackend::probe(libusb_device *device)
{
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return std::nullopt;
    // Hubs declare no interface classes; leave them alone.
    if (descriptor.bDeviceClass == LIBUSB_CLASS_HUB)
        return std::vector<InterfaceGuid>{};

    libusb_device_handle *handle = nullptr;
    if (libusb_open(device, &handle) != LIBUSB_SUCCESS)
        return std::nullopt;
    // As Windows does: a device with MS OS 2.0 descriptors is not asked for the 1.0 ones.
    std::optional<MsOs20Capability> capability;
    if (descriptor.bcdUSB >= 0x0201)
        capability = readMsOs20Capability(handle);
    std::vector<InterfaceGuid> guids =
        capability ? readMsOs20Guids(handle, *capability) : readMsOs10Guids(handle, device);
    libusb_close(handle);
    return guids;
}

std::vector<std::string> LibusbBackend::listPaths(const Guid &interfaceClass)
{
    if (!context_)
        return {};
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context_.get(), &list);
    if (count < 0)
        return {};

    std::vector<Location> found;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::map<DeviceKey, std::vector<InterfaceGuid>> present;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device *device = list[i];
            std::vector<uint8_t> ports = portChain(device);
            if (ports.empty())
                continue;   // a root hub
            const uint8_t bus = libusb_get_bus_number(device);
            DeviceKey key{bus, ports, libusb_get_device_address(device)};
            auto known = probed_.find(key);
            const std::vector<InterfaceGuid> *guids = nullptr;
            if (known != probed_.end()) {
                guids = &present.emplace(key, known->second).first->second;
            } else if (auto probed = probe(device)) {
                guids = &present.emplace(key, std::move(*probed)).first->second;
            }
            if (!guids)
                continue;
            for (const InterfaceGuid &entry : *guids) {
                if (entry.guid == interfaceClass)
                    found.push_back({bus, ports, entry.interfaceNumber});
            }
        }
        // Devices that went away are forgotten; one plugged in again is probed again.
        probed_ = std::move(present);
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
    libusb_device_handle *handle = nullptr;
    int error = device ? libusb_open(device, &handle) : LIBUSB_ERROR_NO_DEVICE;
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
