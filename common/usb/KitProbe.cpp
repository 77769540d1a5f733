// The MS OS descriptor walk shared by the libusb backend and the udev helper. Each request either
// gets an answer, which the parsers judge, or ends the probe as incomplete.
#include "KitProbe.h"

#include <algorithm>

namespace usb {

namespace {

constexpr uint8_t standardDeviceIn = 0x80;
constexpr uint8_t vendorDeviceIn = 0xC0;
constexpr uint8_t vendorInterfaceIn = 0xC1;
constexpr uint8_t getDescriptorRequest = 0x06;
constexpr uint8_t deviceDescriptorType = 0x01;
constexpr uint8_t configDescriptorType = 0x02;
constexpr uint8_t stringDescriptorType = 0x03;
constexpr uint8_t interfaceDescriptorType = 0x04;
constexpr uint8_t bosDescriptorType = 0x0F;
constexpr uint16_t bosHeaderLength = 5;
constexpr std::size_t deviceDescriptorLength = 18;

class Prober {
public:
    Prober(const ControlChannel &control, ProbeResult &result) : control_(control), result_(result) {}

    // The reply's bytes, or nothing when the request failed (recorded in the result).
    std::optional<std::vector<uint8_t>> in(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                           uint16_t length)
    {
        SetupPacket setup;
        setup.requestType = requestType;
        setup.request = request;
        setup.value = value;
        setup.index = index;
        setup.length = length;
        std::vector<uint8_t> bytes(length);
        const Transfer transfer = control_(setup, bytes.data());
        if (!transfer.ok()) {
            result_.failure = transfer.outcome;
            return std::nullopt;
        }
        bytes.resize(std::min<std::size_t>(transfer.transferred, length));
        return bytes;
    }

    std::optional<std::vector<uint8_t>> descriptor(uint8_t type, uint8_t index, uint16_t length)
    {
        return in(standardDeviceIn, getDescriptorRequest, static_cast<uint16_t>(type << 8 | index), 0, length);
    }

    // MS OS 2.0: the platform capability of the BOS descriptor, then the descriptor set it names.
    // Nothing when the device has no such capability (it may still have 1.0 descriptors).
    std::optional<bool> msOs20()
    {
        const auto header = descriptor(bosDescriptorType, 0, bosHeaderLength);
        if (!header)
            return false;
        if (header->size() < bosHeaderLength)
            return std::nullopt;
        const uint16_t total = static_cast<uint16_t>((*header)[2] | ((*header)[3] << 8));
        if (total <= bosHeaderLength)
            return std::nullopt;
        const auto bos = descriptor(bosDescriptorType, 0, total);
        if (!bos)
            return false;
        const std::optional<MsOs20Capability> capability = parseMsOs20Capability(*bos);
        if (!capability)
            return std::nullopt;
        const auto set = in(vendorDeviceIn, capability->vendorCode, 0, MsOs20DescriptorIndex, capability->totalLength);
        if (!set)
            return false;
        if (const auto properties = parseMsOs20DescriptorSet(*set))
            result_.guids = deviceInterfaceGuids(*properties);
        return true;
    }

    // MS OS 1.0: the 0xEE string gives the vendor code; the extended compat ID names the WinUSB
    // functions, and each of them is asked for its extended properties (header first, to learn
    // the length). False when a request failed.
    bool msOs10()
    {
        const auto string = descriptor(stringDescriptorType, MsOs10StringIndex, MsOs10StringLength);
        if (!string)
            return false;
        const std::optional<uint8_t> vendorCode = parseMsOs10String(*string);
        if (!vendorCode)
            return true;

        const auto compatHeader = in(vendorDeviceIn, *vendorCode, 0, MsOs10ExtendedCompatIdIndex,
                                     MsOs10ExtendedCompatIdHeaderLength);
        if (!compatHeader)
            return false;
        const std::optional<uint32_t> compatLength = parseMsOs10ExtendedCompatIdLength(*compatHeader);
        if (!compatLength || *compatLength > UINT16_MAX)
            return true;
        std::optional<std::vector<uint8_t>> compat = compatHeader;
        if (*compatLength > compatHeader->size())
            compat = in(vendorDeviceIn, *vendorCode, 0, MsOs10ExtendedCompatIdIndex, static_cast<uint16_t>(*compatLength));
        if (!compat)
            return false;
        const auto functions = parseMsOs10ExtendedCompatId(*compat);
        if (!functions)
            return true;

        for (const MsOsCompatibleId &function : *functions) {
            if (function.compatibleId != "WINUSB")
                continue;
            const uint8_t interfaceNumber = function.firstInterface;
            const auto header = in(vendorInterfaceIn, *vendorCode, interfaceNumber, MsOs10ExtendedPropertiesIndex,
                                   MsOs10ExtendedPropertiesHeaderLength);
            if (!header)
                return false;
            const std::optional<uint32_t> length = parseMsOs10ExtendedPropertiesLength(*header);
            if (!length || *length > UINT16_MAX)
                continue;
            const auto descriptorBytes = in(vendorInterfaceIn, *vendorCode, interfaceNumber,
                                            MsOs10ExtendedPropertiesIndex, static_cast<uint16_t>(*length));
            if (!descriptorBytes)
                return false;
            const auto properties = parseMsOs10ExtendedProperties(*descriptorBytes, interfaceNumber);
            if (!properties)
                continue;
            for (const InterfaceGuid &entry : deviceInterfaceGuids(*properties)) {
                if (std::find(result_.guids.begin(), result_.guids.end(), entry) == result_.guids.end())
                    result_.guids.push_back(entry);
            }
        }
        return true;
    }

private:
    const ControlChannel &control_;
    ProbeResult &result_;
};

} // namespace

ProbeResult probeInterfaceGuids(uint16_t bcdUsb, const ControlChannel &control)
{
    ProbeResult result;
    Prober prober(control, result);
    if (bcdUsb >= 0x0201) {
        const std::optional<bool> answered = prober.msOs20();
        if (answered) {
            result.complete = *answered;
            if (!result.complete)
                result.guids.clear();
            return result;
        }
    }
    result.complete = prober.msOs10();
    if (!result.complete)
        result.guids.clear();
    return result;
}

std::optional<DeviceSummary> summariseDescriptors(const std::vector<uint8_t> &descriptors)
{
    if (descriptors.size() < deviceDescriptorLength || descriptors[0] < deviceDescriptorLength ||
        descriptors[1] != deviceDescriptorType)
        return std::nullopt;
    DeviceSummary summary;
    summary.bcdUsb = static_cast<uint16_t>(descriptors[2] | (descriptors[3] << 8));
    summary.deviceClass = descriptors[4];
    summary.vendorId = static_cast<uint16_t>(descriptors[8] | (descriptors[9] << 8));
    summary.productId = static_cast<uint16_t>(descriptors[10] | (descriptors[11] << 8));

    // The first configuration: its header, then interface, endpoint and class descriptors, each
    // starting with its length.
    std::size_t pos = descriptors[0];
    // The device descriptor may say it is longer than the bytes there are.
    if (pos > descriptors.size() || descriptors.size() - pos < 4 || descriptors[pos + 1] != configDescriptorType)
        return summary;
    const std::size_t total = static_cast<std::size_t>(descriptors[pos + 2] | (descriptors[pos + 3] << 8));
    const std::size_t end = std::min(descriptors.size(), pos + total);
    while (end - pos >= 2 && descriptors[pos] >= 2 && descriptors[pos] <= end - pos) {
        const std::size_t length = descriptors[pos];
        if (descriptors[pos + 1] == interfaceDescriptorType && length >= 9) {
            const uint8_t number = descriptors[pos + 2];
            const auto add = [number](std::vector<uint8_t> &list) {
                if (std::find(list.begin(), list.end(), number) == list.end())
                    list.push_back(number);
            };
            add(summary.interfaceNumbers);
            if (descriptors[pos + 5] == vendorSpecificClass)
                add(summary.vendorInterfaceNumbers);
        }
        pos += length;
    }
    return summary;
}

} // namespace usb
