// Parsers for the Microsoft OS descriptors (versions 2.0 and 1.0) through which a WinUSB device
// announces its device interface class GUIDs. Pure functions over the bytes a device returned: they
// never read past the input and reject any structure whose lengths do not add up.
#pragma once

#include "UsbTypes.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace usb {

// Registry value types used by the property descriptors.
enum : uint32_t { RegSz = 1, RegExpandSz = 2, RegMultiSz = 7 };

// The MS OS 2.0 descriptor set information of a BOS platform capability.
struct MsOs20Capability {
    uint32_t windowsVersion = 0;   // minimum Windows version the set applies to
    uint16_t totalLength = 0;      // length of the whole descriptor set
    uint8_t vendorCode = 0;        // bRequest of the vendor request that returns the set
    uint8_t altEnumCode = 0;
};

// One registry property a device asks Windows to store for one of its interfaces.
struct MsOsRegistryProperty {
    uint8_t interfaceNumber = 0;   // first interface of the enclosing function, else 0
    uint32_t dataType = 0;         // RegSz, RegMultiSz, ...
    std::vector<uint8_t> name;     // UTF-16LE, normally null-terminated
    std::vector<uint8_t> data;     // UTF-16LE for the string types
};

struct InterfaceGuid {
    uint8_t interfaceNumber = 0;
    Guid guid;

    bool operator==(const InterfaceGuid &other) const
    {
        return interfaceNumber == other.interfaceNumber && guid == other.guid;
    }
};

// Index of the MS OS 2.0 descriptor set in the vendor request (wIndex), and of the MS OS 1.0
// extended properties descriptor.
constexpr uint16_t MsOs20DescriptorIndex = 7;
constexpr uint16_t MsOs10ExtendedPropertiesIndex = 5;
// Index of the MS OS 1.0 string descriptor and its length.
constexpr uint8_t MsOs10StringIndex = 0xEE;
constexpr uint16_t MsOs10StringLength = 18;
// Length of the MS OS 1.0 extended properties header, read first to learn the full length.
constexpr uint16_t MsOs10ExtendedPropertiesHeaderLength = 10;
// Index of the MS OS 1.0 extended compat ID descriptor, and the length of its header.
constexpr uint16_t MsOs10ExtendedCompatIdIndex = 4;
constexpr uint16_t MsOs10ExtendedCompatIdHeaderLength = 16;

// One function section of an MS OS 1.0 extended compat ID descriptor.
struct MsOsCompatibleId {
    uint8_t firstInterface = 0;
    std::string compatibleId;      // "WINUSB" for the functions WinUSB drives; without trailing zeros
    std::string subCompatibleId;
};

// Finds the MS OS 2.0 platform capability in a BOS descriptor (header and device capabilities). When
// the capability lists several descriptor sets, the one for the newest Windows version is taken.
std::optional<MsOs20Capability> parseMsOs20Capability(const std::vector<uint8_t> &bos);

// The registry properties of an MS OS 2.0 descriptor set (set header, optional configuration and
// function subsets, feature descriptors). Nothing when any length is inconsistent.
std::optional<std::vector<MsOsRegistryProperty>>
parseMsOs20DescriptorSet(const std::vector<uint8_t> &set);

// The vendor code of an MS OS 1.0 string descriptor ("MSFT100"); nothing for any other string.
std::optional<uint8_t> parseMsOs10String(const std::vector<uint8_t> &descriptor);

// Total length announced by the header of an MS OS 1.0 extended properties descriptor.
std::optional<uint32_t> parseMsOs10ExtendedPropertiesLength(const std::vector<uint8_t> &header);

// The custom property sections of an MS OS 1.0 extended properties descriptor requested for
// `interfaceNumber`. Nothing when any length is inconsistent.
std::optional<std::vector<MsOsRegistryProperty>>
parseMsOs10ExtendedProperties(const std::vector<uint8_t> &descriptor, uint8_t interfaceNumber);

// Total length announced by the header of an MS OS 1.0 extended compat ID descriptor.
std::optional<uint32_t> parseMsOs10ExtendedCompatIdLength(const std::vector<uint8_t> &header);

// The function sections of an MS OS 1.0 extended compat ID descriptor. Nothing when any length is
// inconsistent.
std::optional<std::vector<MsOsCompatibleId>> parseMsOs10ExtendedCompatId(const std::vector<uint8_t> &descriptor);

// The GUIDs declared by "DeviceInterfaceGUIDs" (REG_MULTI_SZ) and "DeviceInterfaceGUID" (REG_SZ)
// properties, in order and without repeats. Strings that are not GUIDs are skipped.
std::vector<InterfaceGuid> deviceInterfaceGuids(const std::vector<MsOsRegistryProperty> &properties);

} // namespace usb
