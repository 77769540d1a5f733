// Descriptor bytes as a firmware would hold them; lengths are computed, never typed in.
#include "KitDescriptors.h"

#include "DescriptorBytes.h"

namespace kitdescriptors {

namespace {

using descriptorbytes::Bytes;
using descriptorbytes::cat;
using descriptorbytes::le16;
using descriptorbytes::le32;

Bytes utf16(const std::string &text)
{
    Bytes bytes;
    for (char c : text)
        bytes.insert(bytes.end(), {uint8_t(c), 0});
    return bytes;
}

// REG_MULTI_SZ with one string: the string, its terminator, the closing empty string.
Bytes multiSz(const std::string &text)
{
    return cat({utf16(text), {0, 0, 0, 0}});
}

const Bytes msOs20Uuid = {0xDF, 0x60, 0xDD, 0xD8, 0x89, 0x45, 0xC7, 0x4C,
                          0x9C, 0xD2, 0x65, 0x9D, 0x9E, 0x64, 0x8A, 0x9F};

Bytes stringDescriptor(const std::string &text)
{
    const Bytes body = utf16(text);
    return cat({{uint8_t(2 + body.size()), 0x03}, body});
}

void addCommonStrings(DeviceDescriptors &d)
{
    d.strings[0] = {4, 0x03, 0x09, 0x04};   // English (United States)
    d.strings[1] = stringDescriptor("Kit");
    d.strings[2] = stringDescriptor("Device");
}

} // namespace

std::vector<uint8_t> deviceDescriptor(uint16_t bcdUsb, uint8_t deviceClass, uint16_t vendorId, uint16_t productId)
{
    return cat({{18, 0x01}, le16(bcdUsb), {deviceClass, 0, 0, 64}, le16(vendorId), le16(productId), le16(0x0100),
                {1, 2, 0, 1}});
}

std::vector<uint8_t> configuration(uint8_t interfaceClass, const std::vector<usb::PipeInfo> &pipes)
{
    Bytes endpoints;
    for (const usb::PipeInfo &pipe : pipes) {
        const uint8_t type = pipe.type == usb::PipeType::Bulk ? 2 : pipe.type == usb::PipeType::Interrupt ? 3 : 1;
        endpoints = cat({endpoints, {7, 0x05, pipe.id, type}, le16(pipe.maxPacketSize),
                         {uint8_t(type == 3 ? 10 : 0)}});
    }
    const Bytes interface = {9, 0x04, 0, 0, uint8_t(pipes.size()), interfaceClass, 0, 0, 0};
    const std::size_t total = 9 + interface.size() + endpoints.size();
    return cat({{9, 0x02}, le16(total), {1, 1, 0, 0x80, 50}, interface, endpoints});
}

DeviceDescriptors receptor(const std::vector<usb::PipeInfo> &pipes, const usb::Guid &guid)
{
    const Bytes name = cat({utf16("DeviceInterfaceGUIDs"), {0, 0}});
    const Bytes data = multiSz(guid.toString());
    const Bytes property = cat({le16(10 + name.size() + data.size()), le16(4), le16(7), le16(name.size()), name,
                                le16(data.size()), data});
    const Bytes compatible = cat({le16(20), le16(3), {'W', 'I', 'N', 'U', 'S', 'B', 0, 0}, Bytes(8, 0)});
    const Bytes body = cat({compatible, property});
    const Bytes set = cat({le16(10), le16(0), le32(0x06030000), le16(10 + body.size()), body});

    const Bytes capability = cat({{28, 0x10, 0x05, 0x00}, msOs20Uuid, le32(0x06030000), le16(set.size()),
                                  {receptorVendorCode, 0}});
    DeviceDescriptors d;
    d.device = deviceDescriptor(0x0210, 0, testVendorId, 0x4B31);
    d.configuration = configuration(0xFF, pipes);
    d.bos = cat({{5, 0x0F}, le16(5 + capability.size()), {1}, capability});
    addCommonStrings(d);
    d.vendorReplies.push_back({0xC0, receptorVendorCode, 7, set});
    return d;
}

DeviceDescriptors module(const std::vector<usb::PipeInfo> &pipes, const usb::Guid &guid,
                         const std::string &compatibleId)
{
    Bytes compatibleField = Bytes(compatibleId.begin(), compatibleId.end());
    compatibleField.resize(8, 0);
    const Bytes compat = cat({le32(16 + 24), le16(0x0100), le16(4), {1}, Bytes(7, 0),
                              {0, 1}, compatibleField, Bytes(8, 0), Bytes(6, 0)});

    const Bytes name = cat({utf16("DeviceInterfaceGUIDs"), {0, 0}});
    const Bytes data = multiSz(guid.toString());
    const Bytes section = cat({le32(14 + name.size() + data.size()), le32(7), le16(name.size()), name,
                               le32(data.size()), data});
    const Bytes properties = cat({le32(10 + section.size()), le16(0x0100), le16(5), le16(1), section});

    DeviceDescriptors d;
    d.device = deviceDescriptor(0x0200, 0, testVendorId, 0x4B32);
    d.configuration = configuration(0xFF, pipes);
    addCommonStrings(d);
    d.strings[0xEE] = cat({{18, 0x03}, utf16("MSFT100"), {moduleVendorCode, 0}});
    d.vendorReplies.push_back({0xC0, moduleVendorCode, 4, compat});
    d.vendorReplies.push_back({0xC1, moduleVendorCode, 5, properties});
    return d;
}

DeviceDescriptors otherVendorDevice(uint16_t productId)
{
    DeviceDescriptors d;
    d.device = deviceDescriptor(0x0200, 0, testVendorId, productId);
    d.configuration = configuration(0xFF, {{usb::PipeType::Bulk, 0x82, 64}, {usb::PipeType::Bulk, 0x02, 64}});
    addCommonStrings(d);
    return d;
}

DeviceDescriptors keyboard()
{
    DeviceDescriptors d;
    d.device = deviceDescriptor(0x0210, 0, 0x04D9, 0x1603);
    d.configuration = configuration(0x03, {{usb::PipeType::Interrupt, 0x81, 8}});
    addCommonStrings(d);
    return d;
}

} // namespace kitdescriptors
