// Small Windows console tool over the WinUSB backend, cross-compiled and linked by
// scripts/check-windows-backend.sh (not built by CMake). On a Windows machine it lists the present
// interfaces of a class and describes the pipes of each, or of one given path:
//   driver [{interface class GUID}] [device path]
// The default class is the one of the GPS logger modules.
#include "WinUsbBackend.h"

#include <cstdio>

namespace {

const char *pipeTypeName(usb::PipeType type)
{
    switch (type) {
    case usb::PipeType::Control: return "control";
    case usb::PipeType::Isochronous: return "isochronous";
    case usb::PipeType::Bulk: return "bulk";
    case usb::PipeType::Interrupt: return "interrupt";
    }
    return "?";
}

void describe(usb::Backend &backend, const std::string &path)
{
    usb::Outcome outcome = usb::Outcome::IoError;
    const std::unique_ptr<usb::Device> device = backend.open(path, &outcome);
    if (!device) {
        std::printf("%s: open failed (%s)\n", path.c_str(), usb::outcomeName(outcome));
        return;
    }
    const std::optional<int> count = device->endpointCount();
    if (!count) {
        std::printf("%s: interface settings unavailable\n", path.c_str());
        return;
    }
    std::printf("%s: %d endpoint(s)\n", path.c_str(), *count);
    for (int i = 0; i < *count; ++i) {
        const std::optional<usb::PipeInfo> pipe = device->queryPipe(i);
        if (!pipe) {
            std::printf("  %d: query failed\n", i);
            continue;
        }
        std::printf("  %d: %s pipe 0x%02x, %u-byte packets\n", i, pipeTypeName(pipe->type),
                    static_cast<unsigned>(pipe->id), static_cast<unsigned>(pipe->maxPacketSize));
    }
}

} // namespace

int main(int argc, char **argv)
{
    const char *classText = argc > 1 ? argv[1] : "{86939D4C-A46D-4604-81DF-8BE24B211E48}";
    const std::optional<usb::Guid> interfaceClass = usb::Guid::parse(classText);
    if (!interfaceClass) {
        std::fprintf(stderr, "not an interface class GUID: %s\n", classText);
        return 2;
    }

    usb::WinUsbBackend backend;
    if (argc > 2) {
        const std::string path = argv[2];
        if (!backend.ownsPath(path)) {
            std::fprintf(stderr, "not a device interface path: %s\n", argv[2]);
            return 2;
        }
        describe(backend, path);
        return 0;
    }

    const std::vector<std::string> paths = backend.listPaths(*interfaceClass);
    std::printf("%s: %zu interface(s) present\n", interfaceClass->toString().c_str(), paths.size());
    for (const std::string &path : paths) {
        if (path.empty())
            std::printf("(an interface whose path could not be read)\n");
        else
            describe(backend, path);
    }
    return 0;
}
