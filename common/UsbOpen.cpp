// Opening a device the way both programs expect: the interface, its first bulk IN pipe on alternate
// setting 0, and a 1000 ms time-out on that pipe (on pipe 0 when there is none).
#include "UsbOpen.h"

#include "usb/UsbAccess.h"
#include "LogCategories.h"

#include <QtDebug>

namespace {
constexpr uint32_t pipeTimeoutMs = 1000;
}

std::unique_ptr<usb::Device> openUsbDevice(const QString &path, quint8 *bulkInPipe)
{
    qCDebug(lcKitUsb, "Open\n");
    *bulkInPipe = 0;
    std::unique_ptr<usb::Device> device = usb::openDevice(path.toStdString());
    if (!device)
        return nullptr;

    if (const std::optional<int> count = device->endpointCount()) {
        for (int index = 0; index < *count; ++index) {
            const std::optional<usb::PipeInfo> pipe = device->queryPipe(index);
            if (!pipe)
                continue;  // a pipe that cannot be queried is skipped
            if (pipe->type == usb::PipeType::Bulk && (pipe->id & 0x80) != 0) {
                qCDebug(lcKitUsb, "Endpoint index: %d Pipe type: Bulk Pipe ID: %c.\n", index, pipe->id);
                *bulkInPipe = pipe->id;
                break;
            }
        }
    }

    if (device->setPipeTimeout(*bulkInPipe, pipeTimeoutMs) != usb::Outcome::Ok)
        qCDebug(lcKitUsb, "Failed to set timeout on pipe\n");
    return device;
}
