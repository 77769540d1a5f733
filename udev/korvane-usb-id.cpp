// korvane-usb-id: run by udev for each USB device (70-korvane.rules), it tells whether the device is
// a kit device and prints its kind for the rule to import:
//     KORVANE_KIT=receptor
//     KORVANE_KIT_INTERFACE=0
// A device is known by its vendor:product id when the declarations file lists it, else by the
// device interface class its Microsoft OS descriptors declare. The configuration descriptor is read
// from sysfs first: a device without a vendor-specific interface is never opened, nor asked
// anything. Prints nothing for any other device; exits 2 on bad usage only.
#include "KitDeclarations.h"
#include "KitProbe.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// Time-out of each descriptor request: udev waits for the program, and a kit device answers at once.
constexpr unsigned requestTimeoutMs = 500;

void usage()
{
    std::fputs("usage: korvane-usb-id [--declarations FILE] SYSFS-DEVICE-DIRECTORY\n"
               "Prints KORVANE_KIT=receptor|module and KORVANE_KIT_INTERFACE=N for a kit device.\n",
               stderr);
}

std::vector<uint8_t> readFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

int readNumber(const std::string &path)
{
    std::ifstream file(path);
    int value = -1;
    file >> value;
    return file ? value : -1;
}

// A synchronous control transfer on the device's usbfs node; no interface is claimed.
usb::Transfer control(int fd, const usb::SetupPacket &setup, uint8_t *data)
{
    usbdevfs_ctrltransfer transfer{};
    transfer.bRequestType = setup.requestType;
    transfer.bRequest = setup.request;
    transfer.wValue = setup.value;
    transfer.wIndex = setup.index;
    transfer.wLength = setup.length;
    transfer.timeout = requestTimeoutMs;
    transfer.data = data;
    const int n = ::ioctl(fd, USBDEVFS_CONTROL, &transfer);
    if (n >= 0)
        return usb::Transfer::success(static_cast<std::size_t>(n));
    switch (errno) {
    case ETIMEDOUT: return usb::Transfer::failure(usb::Outcome::Timeout);
    case ENODEV:
    case ESHUTDOWN: return usb::Transfer::failure(usb::Outcome::NoDevice);
    default: return usb::Transfer::failure(usb::Outcome::IoError);
    }
}

void print(const usb::Guid &interfaceClass, uint8_t interfaceNumber)
{
    std::printf("KORVANE_KIT=%s\nKORVANE_KIT_INTERFACE=%u\n", usb::kitKindName(interfaceClass).c_str(),
                static_cast<unsigned>(interfaceNumber));
}

} // namespace

int main(int argc, char **argv)
{
    std::string declarationsPath = usb::defaultKitDeclarationsPath;
    std::string sysfsDirectory;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--declarations" && i + 1 < argc) {
            declarationsPath = argv[++i];
        } else if (argument == "--help") {
            usage();
            return 0;
        } else if (sysfsDirectory.empty() && !argument.empty() && argument[0] != '-') {
            sysfsDirectory = argument;
        } else {
            usage();
            return 2;
        }
    }
    if (sysfsDirectory.empty()) {
        usage();
        return 2;
    }

    const std::optional<usb::DeviceSummary> summary = usb::summariseDescriptors(readFile(sysfsDirectory + "/descriptors"));
    if (!summary)
        return 0;
    const std::vector<usb::KitDeclaration> declarations = usb::readKitDeclarations(declarationsPath);
    if (const usb::KitDeclaration *declared = usb::findKitDeclaration(declarations, summary->vendorId, summary->productId)) {
        const uint8_t interfaceNumber = declared->interfaceNumber ? *declared->interfaceNumber
                                        : summary->vendorInterfaceNumbers.empty()
                                            ? 0
                                            : summary->vendorInterfaceNumbers.front();
        print(declared->interfaceClass, interfaceNumber);
        return 0;
    }
    if (summary->vendorInterfaceNumbers.empty() || summary->deviceClass == 0x09)
        return 0;

    const int bus = readNumber(sysfsDirectory + "/busnum");
    const int address = readNumber(sysfsDirectory + "/devnum");
    if (bus <= 0 || address <= 0)
        return 0;
    char node[48];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", bus, address);
    const int fd = ::open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "korvane-usb-id: cannot open %s: %s\n", node, std::strerror(errno));
        return 0;
    }
    const usb::ProbeResult result = usb::probeInterfaceGuids(
        summary->bcdUsb, [fd](const usb::SetupPacket &setup, uint8_t *data) { return control(fd, setup, data); });
    ::close(fd);
    if (!result.complete)
        return 0;
    for (const usb::InterfaceGuid &entry : result.guids) {
        if (!usb::kitKindName(entry.guid).empty()) {
            print(entry.guid, entry.interfaceNumber);
            break;
        }
    }
    return 0;
}
