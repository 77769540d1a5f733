// Parsers for the Microsoft OS 2.0 and 1.0 descriptors. Every length field is checked against the
// bytes actually present before anything behind it is read.
#include "MsOsDescriptors.h"

#include "ByteReader.h"

#include <algorithm>
#include <array>
#include <string>

namespace usb {

namespace {

// {D8DD60DF-4589-4CC7-9CD2-659D9E648A9F} in its wire order (first three fields little-endian).
constexpr std::array<uint8_t, 16> msOs20PlatformUuid = {0xDF, 0x60, 0xDD, 0xD8, 0x89, 0x45, 0xC7, 0x4C,
                                                       0x9C, 0xD2, 0x65, 0x9D, 0x9E, 0x64, 0x8A, 0x9F};

constexpr uint8_t bosDescriptorType = 0x0F;
constexpr uint8_t deviceCapabilityType = 0x10;
constexpr uint8_t platformCapability = 0x05;
// bLength, type, capability type, reserved, UUID: then 8 bytes per descriptor set information.
constexpr std::size_t platformCapabilityHeader = 20;
constexpr std::size_t descriptorSetInfoLength = 8;

// MS OS 2.0 descriptor types (wDescriptorType).
enum : uint16_t {
    SetHeader = 0x00,
    ConfigurationSubset = 0x01,
    FunctionSubset = 0x02,
    CompatibleId = 0x03,
    RegistryProperty = 0x04,
    MinResumeTime = 0x05,
    ModelId = 0x06,
    CcgpDevice = 0x07,
    VendorRevision = 0x08,
};

constexpr std::size_t setHeaderLength = 10;
constexpr std::size_t subsetHeaderLength = 8;

// The fixed length of a feature descriptor of known type; 0 for the variable or unknown ones.
std::size_t fixedFeatureLength(uint16_t type)
{
    switch (type) {
    case CompatibleId: return 20;
    case MinResumeTime: return 6;
    case ModelId: return 20;
    case CcgpDevice: return 4;
    case VendorRevision: return 6;
    default: return 0;
    }
}

// UTF-16LE bytes to code units; nothing for an odd byte count.
std::optional<std::u16string> utf16(const std::vector<uint8_t> &bytes)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    std::u16string text;
    text.reserve(bytes.size() / 2);
    ByteReader reader(bytes);
    for (uint16_t unit = 0; reader.u16(unit);)
        text.push_back(static_cast<char16_t>(unit));
    return text;
}

// Registry value names compare without regard to ASCII letter case.
bool sameName(const std::u16string &name, const char *expected)
{
    const std::size_t end = std::min(name.find(u'\0'), name.size());
    std::size_t i = 0;
    for (; i < end && expected[i] != '\0'; ++i) {
        char16_t a = name[i];
        char16_t b = static_cast<char16_t>(expected[i]);
        if (a >= u'a' && a <= u'z')
            a = static_cast<char16_t>(a - u'a' + u'A');
        if (b >= u'a' && b <= u'z')
            b = static_cast<char16_t>(b - u'a' + u'A');
        if (a != b)
            return false;
    }
    return i == end && expected[i] == '\0';
}

// The strings of a REG_SZ (the first one) or REG_MULTI_SZ (up to the empty one) value. A missing
// terminator ends the last string at the end of the data.
std::vector<std::u16string> registryStrings(const std::u16string &data, uint32_t type)
{
    std::vector<std::u16string> strings;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find(u'\0', start);
        if (end == std::u16string::npos)
            end = data.size();
        if (end == start)
            break;
        strings.push_back(data.substr(start, end - start));
        if (type == RegSz)
            break;
        start = end + 1;
    }
    return strings;
}

std::optional<Guid> guidOf(const std::u16string &text)
{
    std::string ascii;
    ascii.reserve(text.size());
    for (char16_t c : text) {
        if (c == 0 || c > 0x7F)
            return std::nullopt;
        ascii.push_back(static_cast<char>(c));
    }
    return Guid::parse(ascii);
}

// dwLength, bcdVersion 1.00, wIndex: the total length an MS OS 1.0 descriptor's header announces,
// never less than the header itself.
std::optional<uint32_t> msOs10Length(const std::vector<uint8_t> &header, uint16_t headerLength, uint16_t index)
{
    ByteReader reader(header);
    uint32_t length = 0;
    uint16_t version = 0;
    uint16_t wIndex = 0;
    if (header.size() < headerLength || !reader.u32(length) || !reader.u16(version) || !reader.u16(wIndex) ||
        version != 0x0100 || wIndex != index || length < headerLength)
        return std::nullopt;
    return length;
}

} // namespace

std::optional<MsOs20Capability> parseMsOs20Capability(const std::vector<uint8_t> &bos)
{
    // bLength, bDescriptorType, wTotalLength, bNumDeviceCaps, then the device capabilities.
    ByteReader header(bos);
    uint8_t headerLength = 0;
    uint8_t type = 0;
    uint16_t total = 0;
    if (bos.size() < 5 || !header.u8(headerLength) || !header.u8(type) || !header.u16(total) ||
        type != bosDescriptorType || headerLength < 5 || total < headerLength || total > bos.size())
        return std::nullopt;

    ByteReader capabilities(bos.data() + headerLength, total - headerLength);
    while (capabilities.remaining() > 0) {
        // bLength, bDescriptorType, bDevCapabilityType, then the capability's own fields.
        ByteReader ahead = capabilities;
        uint8_t length = 0;
        if (capabilities.remaining() < 3 || !ahead.u8(length) || length < 3)
            return std::nullopt;
        ByteReader capability = capabilities.sub(length);
        if (capability.failed())
            return std::nullopt;
        uint8_t descriptorType = 0;
        uint8_t capabilityType = 0;
        std::array<uint8_t, 16> uuid{};
        const bool isMsOs20 = capability.skip(1) && capability.u8(descriptorType) && capability.u8(capabilityType) &&
                              descriptorType == deviceCapabilityType && capabilityType == platformCapability &&
                              length >= platformCapabilityHeader && capability.skip(1) &&
                              capability.bytes(uuid.size(), uuid.data()) && uuid == msOs20PlatformUuid;
        if (!isMsOs20)
            continue;
        if ((length - platformCapabilityHeader) % descriptorSetInfoLength != 0)
            return std::nullopt;
        // dwWindowsVersion, wMSOSDescriptorSetTotalLength, bMS_VendorCode, bAltEnumCode.
        std::optional<MsOs20Capability> best;
        while (capability.remaining() > 0) {
            MsOs20Capability candidate;
            capability.u32(candidate.windowsVersion);
            capability.u16(candidate.totalLength);
            capability.u8(candidate.vendorCode);
            capability.u8(candidate.altEnumCode);
            if (candidate.totalLength < setHeaderLength)
                continue;
            if (!best || candidate.windowsVersion > best->windowsVersion)
                best = candidate;
        }
        return best;
    }
    return std::nullopt;
}

std::optional<std::vector<MsOsRegistryProperty>>
parseMsOs20DescriptorSet(const std::vector<uint8_t> &set)
{
    // wLength, wDescriptorType, dwWindowsVersion, wTotalLength.
    ByteReader header(set);
    uint16_t headerLength = 0;
    uint16_t headerType = 0;
    uint16_t total = 0;
    if (!header.u16(headerLength) || !header.u16(headerType) || !header.skip(4) || !header.u16(total) ||
        headerLength != setHeaderLength || headerType != SetHeader || total < setHeaderLength || total > set.size())
        return std::nullopt;
    const std::size_t end = total;

    std::vector<MsOsRegistryProperty> properties;
    std::size_t configurationEnd = 0;   // 0: outside any configuration subset
    std::size_t functionEnd = 0;        // 0: outside any function subset
    uint8_t interfaceNumber = 0;

    for (std::size_t pos = setHeaderLength; pos < end;) {
        if (configurationEnd != 0 && pos >= configurationEnd)
            configurationEnd = 0;
        if (functionEnd != 0 && pos >= functionEnd) {
            functionEnd = 0;
            interfaceNumber = 0;
        }
        // A descriptor may not reach past the set nor past the subsets that enclose it.
        const std::size_t limit = functionEnd != 0 ? functionEnd : configurationEnd != 0 ? configurationEnd : end;
        ByteReader reader(set.data() + pos, limit - pos);
        uint16_t length = 0;
        uint16_t type = 0;
        if (!reader.u16(length) || !reader.u16(type) || length < 4 || length > limit - pos)
            return std::nullopt;
        ByteReader body = reader.sub(length - 4u);

        switch (type) {
        case ConfigurationSubset: {
            // bConfigurationValue, bReserved, wTotalLength.
            uint16_t subsetLength = 0;
            if (length != subsetHeaderLength || configurationEnd != 0 || functionEnd != 0 || !body.skip(2) ||
                !body.u16(subsetLength) || subsetLength < subsetHeaderLength || subsetLength > end - pos)
                return std::nullopt;
            configurationEnd = pos + subsetLength;
            break;
        }
        case FunctionSubset: {
            // bFirstInterface, bReserved, wSubsetLength.
            uint8_t firstInterface = 0;
            uint16_t subsetLength = 0;
            if (length != subsetHeaderLength || functionEnd != 0 || !body.u8(firstInterface) || !body.skip(1) ||
                !body.u16(subsetLength) || subsetLength < subsetHeaderLength || subsetLength > limit - pos)
                return std::nullopt;
            functionEnd = pos + subsetLength;
            interfaceNumber = firstInterface;
            break;
        }
        case RegistryProperty: {
            // wPropertyDataType, wPropertyNameLength, name, wPropertyDataLength, data.
            MsOsRegistryProperty property;
            property.interfaceNumber = interfaceNumber;
            uint16_t dataType = 0;
            uint16_t nameLength = 0;
            uint16_t dataLength = 0;
            if (!body.u16(dataType) || !body.u16(nameLength) || !body.bytes(nameLength, property.name) ||
                !body.u16(dataLength) || !body.bytes(dataLength, property.data))
                return std::nullopt;
            property.dataType = dataType;
            properties.push_back(std::move(property));
            break;
        }
        case SetHeader:
            return std::nullopt;
        default: {
            const std::size_t fixed = fixedFeatureLength(type);
            if (fixed != 0 && length != fixed)
                return std::nullopt;
            break;
        }
        }
        pos += length;
    }
    return properties;
}

std::optional<uint8_t> parseMsOs10String(const std::vector<uint8_t> &descriptor)
{
    // bLength, bDescriptorType (string), "MSFT100" in UTF-16LE, bMS_VendorCode, bPad.
    static constexpr char signature[] = "MSFT100";
    ByteReader reader(descriptor);
    uint8_t length = 0;
    uint8_t type = 0;
    if (descriptor.size() < MsOs10StringLength || !reader.u8(length) || !reader.u8(type) ||
        length < MsOs10StringLength || length > descriptor.size() || type != 0x03)
        return std::nullopt;
    for (std::size_t i = 0; i < 7; ++i) {
        uint16_t unit = 0;
        if (!reader.u16(unit) || unit != static_cast<uint8_t>(signature[i]))
            return std::nullopt;
    }
    uint8_t vendorCode = 0;
    reader.u8(vendorCode);
    return vendorCode;
}

std::optional<uint32_t> parseMsOs10ExtendedPropertiesLength(const std::vector<uint8_t> &header)
{
    // dwLength, bcdVersion 1.00, wIndex 5, wCount.
    return msOs10Length(header, MsOs10ExtendedPropertiesHeaderLength, MsOs10ExtendedPropertiesIndex);
}

std::optional<uint32_t> parseMsOs10ExtendedCompatIdLength(const std::vector<uint8_t> &header)
{
    // dwLength, bcdVersion 1.00, wIndex 4, bCount, 7 reserved bytes.
    return msOs10Length(header, MsOs10ExtendedCompatIdHeaderLength, MsOs10ExtendedCompatIdIndex);
}

std::optional<std::vector<MsOsCompatibleId>> parseMsOs10ExtendedCompatId(const std::vector<uint8_t> &descriptor)
{
    constexpr std::size_t sectionLength = 24;
    const std::optional<uint32_t> total = parseMsOs10ExtendedCompatIdLength(descriptor);
    if (!total || *total > descriptor.size())
        return std::nullopt;
    ByteReader reader(descriptor.data(), *total);
    uint8_t count = 0;
    if (!reader.skip(8) || !reader.u8(count) || !reader.skip(7) ||
        *total != MsOs10ExtendedCompatIdHeaderLength + count * sectionLength)
        return std::nullopt;
    std::vector<MsOsCompatibleId> functions(count);
    for (MsOsCompatibleId &function : functions) {
        // bFirstInterfaceNumber, reserved, compatibleID, subCompatibleID (8 ASCII bytes each,
        // zero-padded), 6 reserved bytes.
        reader.u8(function.firstInterface);
        reader.skip(1);
        reader.text(8, function.compatibleId);
        reader.text(8, function.subCompatibleId);
        reader.skip(6);
        for (std::string *text : {&function.compatibleId, &function.subCompatibleId})
            text->erase(std::find(text->begin(), text->end(), '\0'), text->end());
    }
    return functions;
}

std::optional<std::vector<MsOsRegistryProperty>>
parseMsOs10ExtendedProperties(const std::vector<uint8_t> &descriptor, uint8_t interfaceNumber)
{
    const std::optional<uint32_t> total = parseMsOs10ExtendedPropertiesLength(descriptor);
    if (!total || *total > descriptor.size())
        return std::nullopt;
    ByteReader reader(descriptor.data(), *total);
    uint16_t count = 0;
    reader.skip(8);
    reader.u16(count);

    std::vector<MsOsRegistryProperty> properties;
    for (unsigned section = 0; section < count; ++section) {
        // dwSize, dwPropertyDataType, wPropertyNameLength, name, dwPropertyDataLength, data.
        ByteReader ahead = reader;
        uint32_t size = 0;
        if (!ahead.u32(size) || size < 14)
            return std::nullopt;
        ByteReader body = reader.sub(size);
        MsOsRegistryProperty property;
        property.interfaceNumber = interfaceNumber;
        uint16_t nameLength = 0;
        uint32_t dataLength = 0;
        if (!body.skip(4) || !body.u32(property.dataType) || !body.u16(nameLength) ||
            !body.bytes(nameLength, property.name) || !body.u32(dataLength) || !body.bytes(dataLength, property.data))
            return std::nullopt;
        properties.push_back(std::move(property));
    }
    if (!reader.atEnd())
        return std::nullopt;
    return properties;
}

std::vector<InterfaceGuid> deviceInterfaceGuids(const std::vector<MsOsRegistryProperty> &properties)
{
    std::vector<InterfaceGuid> found;
    for (const MsOsRegistryProperty &property : properties) {
        if (property.dataType != RegSz && property.dataType != RegMultiSz)
            continue;
        const std::optional<std::u16string> name = utf16(property.name);
        if (!name || !(sameName(*name, "DeviceInterfaceGUIDs") || sameName(*name, "DeviceInterfaceGUID")))
            continue;
        const std::optional<std::u16string> data = utf16(property.data);
        if (!data)
            continue;
        for (const std::u16string &text : registryStrings(*data, property.dataType)) {
            const std::optional<Guid> guid = guidOf(text);
            if (!guid)
                continue;
            const InterfaceGuid entry{property.interfaceNumber, *guid};
            if (std::find(found.begin(), found.end(), entry) == found.end())
                found.push_back(entry);
        }
    }
    return found;
}

} // namespace usb
