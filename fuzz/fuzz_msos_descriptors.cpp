// Fuzz target: the Microsoft OS 2.0 and 1.0 descriptor parsers of the libusb backend on whatever
// bytes a device returns, and the interface GUIDs read from the properties they accept.
//
// Input: byte 0 is the interface number of the 1.0 extended properties request; the rest is the
// descriptor, given to every parser (a BOS descriptor, a 2.0 descriptor set, a 1.0 string
// descriptor, a 1.0 extended properties or extended compat ID descriptor, the device and
// configuration descriptors as sysfs gives them).
#include "FuzzCheck.h"
#include "KitProbe.h"
#include "MsOsDescriptors.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

void checkGuids(const std::vector<usb::MsOsRegistryProperty> &properties)
{
    const std::vector<usb::InterfaceGuid> guids = usb::deviceInterfaceGuids(properties);
    for (auto it = guids.begin(); it != guids.end(); ++it) {
        FUZZ_CHECK(std::find(guids.begin(), it, *it) == it);
        const std::optional<usb::Guid> again = usb::Guid::parse(it->guid.toString());
        FUZZ_CHECK(again && *again == it->guid);
        FUZZ_CHECK(std::any_of(properties.begin(), properties.end(), [&](const usb::MsOsRegistryProperty &p) {
            return p.interfaceNumber == it->interfaceNumber;
        }));
    }
}

// Every property is a slice of the descriptor: its name and data are bytes that were there.
void checkProperties(const std::vector<usb::MsOsRegistryProperty> &properties, const std::vector<uint8_t> &bytes)
{
    size_t total = 0;
    for (const usb::MsOsRegistryProperty &property : properties) {
        total += property.name.size() + property.data.size();
        FUZZ_CHECK(std::search(bytes.begin(), bytes.end(), property.name.begin(), property.name.end()) != bytes.end());
        FUZZ_CHECK(std::search(bytes.begin(), bytes.end(), property.data.begin(), property.data.end()) != bytes.end());
    }
    FUZZ_CHECK(total <= bytes.size());
    checkGuids(properties);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t interfaceNumber = data[0];
    // Exactly the descriptor's size: a read past its end meets the sanitizer's red zone.
    const std::vector<uint8_t> bytes(data + 1, data + size);

    if (const auto capability = usb::parseMsOs20Capability(bytes)) {
        FUZZ_CHECK(capability->totalLength >= 10);
        FUZZ_CHECK(bytes.size() >= 33);
    }

    if (const auto properties = usb::parseMsOs20DescriptorSet(bytes))
        checkProperties(*properties, bytes);

    if (const auto vendorCode = usb::parseMsOs10String(bytes))
        FUZZ_CHECK(bytes.size() >= usb::MsOs10StringLength && *vendorCode == bytes[16]);

    if (const auto length = usb::parseMsOs10ExtendedPropertiesLength(bytes))
        FUZZ_CHECK(*length >= usb::MsOs10ExtendedPropertiesHeaderLength);

    if (const auto properties = usb::parseMsOs10ExtendedProperties(bytes, interfaceNumber)) {
        for (const usb::MsOsRegistryProperty &property : *properties)
            FUZZ_CHECK(property.interfaceNumber == interfaceNumber);
        checkProperties(*properties, bytes);
    }

    if (const auto functions = usb::parseMsOs10ExtendedCompatId(bytes)) {
        FUZZ_CHECK(bytes.size() >= usb::MsOs10ExtendedCompatIdHeaderLength + functions->size() * 24);
        for (const usb::MsOsCompatibleId &function : *functions)
            FUZZ_CHECK(function.compatibleId.size() <= 8 && function.subCompatibleId.size() <= 8);
    }

    if (const auto summary = usb::summariseDescriptors(bytes)) {
        for (uint8_t number : summary->vendorInterfaceNumbers)
            FUZZ_CHECK(std::find(summary->interfaceNumbers.begin(), summary->interfaceNumbers.end(), number) !=
                       summary->interfaceNumbers.end());
    }
    return 0;
}
