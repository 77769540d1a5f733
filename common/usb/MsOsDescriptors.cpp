// Parsers for the Microsoft OS 2.0 and 1.0 descriptors. Every length field is checked against the
// bytes actually present before anything behind it is read.
#include "MsOsDescriptors.h"

#include <algorithm>
#include <array>
#include <string>

namespace usb {

namespace {

uint16_t le16(const std::vector<uint8_t> &b, std::size_t pos)
{
    return static_cast<uint16_t>(b[pos] | (b[pos + 1] << 8));
}

uint32_t le32(const std::vector<uint8_t> &b, std::size_t pos)
{
    return static_cast<uint32_t>(b[pos]) | (static_cast<uint32_t>(b[pos + 1]) << 8) |
           (static_cast<uint32_t>(b[pos + 2]) << 16) | (static_cast<uint32_t>(b[pos + 3]) << 24);
}

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
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(le16(bytes, i)));
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

} // namespace

std::optional<MsOs20Capability> parseMsOs20Capability(const std::vector<uint8_t> &bos)
{
    if (bos.size() < 5 || bos[1] != bosDescriptorType || bos[0] < 5)
        return std::nullopt;
    const std::size_t end = le16(bos, 2);
    if (end < bos[0] || end > bos.size())
        return std::nullopt;

    for (std::size_t pos = bos[0]; pos < end;) {
        if (end - pos < 3)
            return std::nullopt;
        const std::size_t length = bos[pos];
        if (length < 3 || length > end - pos)
            return std::nullopt;
        const bool isMsOs20 = bos[pos + 1] == deviceCapabilityType && bos[pos + 2] == platformCapability &&
                              length >= platformCapabilityHeader &&
                              std::equal(msOs20PlatformUuid.begin(), msOs20PlatformUuid.end(),
                                         bos.begin() + static_cast<std::ptrdiff_t>(pos + 4));
        if (isMsOs20) {
            if ((length - platformCapabilityHeader) % descriptorSetInfoLength != 0)
                return std::nullopt;
            std::optional<MsOs20Capability> best;
            for (std::size_t info = pos + platformCapabilityHeader; info < pos + length;
                 info += descriptorSetInfoLength) {
                MsOs20Capability candidate;
                candidate.windowsVersion = le32(bos, info);
                candidate.totalLength = le16(bos, info + 4);
                candidate.vendorCode = bos[info + 6];
                candidate.altEnumCode = bos[info + 7];
                if (candidate.totalLength < setHeaderLength)
                    continue;
                if (!best || candidate.windowsVersion > best->windowsVersion)
                    best = candidate;
            }
            return best;
        }
        pos += length;
    }
    return std::nullopt;
}

std::optional<std::vector<MsOsRegistryProperty>>
parseMsOs20DescriptorSet(const std::vector<uint8_t> &set)
{
    if (set.size() < setHeaderLength || le16(set, 0) != setHeaderLength || le16(set, 2) != SetHeader)
        return std::nullopt;
    const std::size_t end = le16(set, 8);
    if (end < setHeaderLength || end > set.size())
        return std::nullopt;

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
        if (end - pos < 4)
            return std::nullopt;
        const std::size_t length = le16(set, pos);
        const uint16_t type = le16(set, pos + 2);
        // A descriptor may not reach past the set nor past the subsets that enclose it.
        const std::size_t limit = functionEnd != 0 ? functionEnd : configurationEnd != 0 ? configurationEnd : end;
        if (length < 4 || length > limit - pos)
            return std::nullopt;

        switch (type) {
        case ConfigurationSubset: {
            if (length != subsetHeaderLength || configurationEnd != 0 || functionEnd != 0)
                return std::nullopt;
            const std::size_t subsetLength = le16(set, pos + 6);
            if (subsetLength < subsetHeaderLength || subsetLength > end - pos)
                return std::nullopt;
            configurationEnd = pos + subsetLength;
            break;
        }
        case FunctionSubset: {
            if (length != subsetHeaderLength || functionEnd != 0)
                return std::nullopt;
            const std::size_t subsetLength = le16(set, pos + 6);
            if (subsetLength < subsetHeaderLength || subsetLength > limit - pos)
                return std::nullopt;
            functionEnd = pos + subsetLength;
            interfaceNumber = set[pos + 4];
            break;
        }
        case RegistryProperty: {
            // wLength, wDescriptorType, wPropertyDataType, wPropertyNameLength, name,
            // wPropertyDataLength, data.
            if (length < 10)
                return std::nullopt;
            const std::size_t nameLength = le16(set, pos + 6);
            if (8 + nameLength + 2 > length)
                return std::nullopt;
            const std::size_t dataLength = le16(set, pos + 8 + nameLength);
            if (10 + nameLength + dataLength > length)
                return std::nullopt;
            MsOsRegistryProperty property;
            property.interfaceNumber = interfaceNumber;
            property.dataType = le16(set, pos + 4);
            const auto name = set.begin() + static_cast<std::ptrdiff_t>(pos + 8);
            property.name.assign(name, name + static_cast<std::ptrdiff_t>(nameLength));
            const auto data = name + static_cast<std::ptrdiff_t>(nameLength + 2);
            property.data.assign(data, data + static_cast<std::ptrdiff_t>(dataLength));
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
    if (descriptor.size() < MsOs10StringLength || descriptor[0] < MsOs10StringLength || descriptor[0] > descriptor.size() ||
        descriptor[1] != 0x03)
        return std::nullopt;
    for (std::size_t i = 0; i < 7; ++i) {
        if (le16(descriptor, 2 + 2 * i) != static_cast<uint8_t>(signature[i]))
            return std::nullopt;
    }
    return descriptor[16];
}

std::optional<uint32_t> parseMsOs10ExtendedPropertiesLength(const std::vector<uint8_t> &header)
{
    // dwLength, bcdVersion 1.00, wIndex 5, wCount.
    if (header.size() < MsOs10ExtendedPropertiesHeaderLength || le16(header, 4) != 0x0100 ||
        le16(header, 6) != MsOs10ExtendedPropertiesIndex)
        return std::nullopt;
    const uint32_t length = le32(header, 0);
    if (length < MsOs10ExtendedPropertiesHeaderLength)
        return std::nullopt;
    return length;
}

std::optional<uint32_t> parseMsOs10ExtendedCompatIdLength(const std::vector<uint8_t> &header)
{
    // dwLength, bcdVersion 1.00, wIndex 4, bCount, 7 reserved bytes.
    if (header.size() < MsOs10ExtendedCompatIdHeaderLength || le16(header, 4) != 0x0100 ||
        le16(header, 6) != MsOs10ExtendedCompatIdIndex)
        return std::nullopt;
    const uint32_t length = le32(header, 0);
    if (length < MsOs10ExtendedCompatIdHeaderLength)
        return std::nullopt;
    return length;
}

std::optional<std::vector<MsOsCompatibleId>> parseMsOs10ExtendedCompatId(const std::vector<uint8_t> &descriptor)
{
    constexpr std::size_t sectionLength = 24;
    const std::optional<uint32_t> total = parseMsOs10ExtendedCompatIdLength(descriptor);
    if (!total || *total > descriptor.size())
        return std::nullopt;
    const std::size_t count = descriptor[8];
    if (*total != MsOs10ExtendedCompatIdHeaderLength + count * sectionLength)
        return std::nullopt;
    // An 8-byte ASCII field, zero-padded.
    const auto text = [&descriptor](std::size_t pos) {
        std::string value(descriptor.begin() + static_cast<std::ptrdiff_t>(pos),
                          descriptor.begin() + static_cast<std::ptrdiff_t>(pos + 8));
        value.erase(std::find(value.begin(), value.end(), '\0'), value.end());
        return value;
    };
    std::vector<MsOsCompatibleId> functions;
    for (std::size_t i = 0; i < count; ++i) {
        // bFirstInterfaceNumber, reserved, compatibleID, subCompatibleID, 6 reserved bytes.
        const std::size_t pos = MsOs10ExtendedCompatIdHeaderLength + i * sectionLength;
        functions.push_back({descriptor[pos], text(pos + 2), text(pos + 10)});
    }
    return functions;
}

std::optional<std::vector<MsOsRegistryProperty>>
parseMsOs10ExtendedProperties(const std::vector<uint8_t> &descriptor, uint8_t interfaceNumber)
{
    const std::optional<uint32_t> total = parseMsOs10ExtendedPropertiesLength(descriptor);
    if (!total || *total > descriptor.size())
        return std::nullopt;
    const std::size_t end = *total;
    const unsigned count = le16(descriptor, 8);

    std::vector<MsOsRegistryProperty> properties;
    std::size_t pos = MsOs10ExtendedPropertiesHeaderLength;
    for (unsigned section = 0; section < count; ++section) {
        // dwSize, dwPropertyDataType, wPropertyNameLength, name, dwPropertyDataLength, data.
        if (end - pos < 14)
            return std::nullopt;
        const std::size_t size = le32(descriptor, pos);
        if (size < 14 || size > end - pos)
            return std::nullopt;
        const std::size_t nameLength = le16(descriptor, pos + 8);
        if (10 + nameLength + 4 > size)
            return std::nullopt;
        const std::size_t dataLength = le32(descriptor, pos + 10 + nameLength);
        if (dataLength > size - 14 - nameLength)
            return std::nullopt;
        MsOsRegistryProperty property;
        property.interfaceNumber = interfaceNumber;
        property.dataType = le32(descriptor, pos + 4);
        const auto name = descriptor.begin() + static_cast<std::ptrdiff_t>(pos + 10);
        property.name.assign(name, name + static_cast<std::ptrdiff_t>(nameLength));
        const auto data = name + static_cast<std::ptrdiff_t>(nameLength + 4);
        property.data.assign(data, data + static_cast<std::ptrdiff_t>(dataLength));
        properties.push_back(std::move(property));
        pos += size;
    }
    if (pos != end)
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
