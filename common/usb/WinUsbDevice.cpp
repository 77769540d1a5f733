// WinUSB transfers on alternate setting 0 of one opened interface, all synchronous (no OVERLAPPED):
// each call blocks until the transfer ends or the pipe's time-out expires.
#include "WinUsbDevice.h"

#include <limits>

namespace usb {

Outcome outcomeOfLastError()
{
    switch (GetLastError()) {
    case ERROR_SEM_TIMEOUT:
        // The pipe's PIPE_TRANSFER_TIMEOUT expired.
        return Outcome::Timeout;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    // CreateFileW on a path whose interface went away since the enumeration.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    // What WinUSB answers on a handle whose device was unplugged.
    case ERROR_BAD_COMMAND:
        return Outcome::NoDevice;
    default:
        // ERROR_GEN_FAILURE lands here on purpose: a request the device stalls gives it too, so it
        // does not prove the device gone; the next enumeration tells whether it is still present.
        return Outcome::IoError;
    }
}

WinUsbDevice::WinUsbDevice(HANDLE file, WINUSB_INTERFACE_HANDLE winUsb)
    : m_file(file), m_winUsb(winUsb)
{
}

WinUsbDevice::~WinUsbDevice()
{
    WinUsb_Free(m_winUsb);
    CloseHandle(m_file);
}

std::optional<int> WinUsbDevice::endpointCount()
{
    USB_INTERFACE_DESCRIPTOR descriptor{};
    if (!WinUsb_QueryInterfaceSettings(m_winUsb, 0, &descriptor))
        return std::nullopt;
    return descriptor.bNumEndpoints;
}

std::optional<PipeInfo> WinUsbDevice::queryPipe(int index)
{
    if (index < 0 || index > std::numeric_limits<UCHAR>::max())
        return std::nullopt;
    WINUSB_PIPE_INFORMATION information{};
    if (!WinUsb_QueryPipe(m_winUsb, 0, static_cast<UCHAR>(index), &information))
        return std::nullopt;

    PipeInfo pipe;
    pipe.id = information.PipeId;
    pipe.maxPacketSize = information.MaximumPacketSize;
    switch (information.PipeType) {
    case UsbdPipeTypeControl:
        pipe.type = PipeType::Control;
        return pipe;
    case UsbdPipeTypeIsochronous:
        pipe.type = PipeType::Isochronous;
        return pipe;
    case UsbdPipeTypeBulk:
        pipe.type = PipeType::Bulk;
        return pipe;
    case UsbdPipeTypeInterrupt:
        pipe.type = PipeType::Interrupt;
        return pipe;
    }
    // A type value outside the four USB transfer types: not a pipe this layer can describe.
    return std::nullopt;
}

Outcome WinUsbDevice::setPipeTimeout(uint8_t pipeId, uint32_t milliseconds)
{
    // WinUSB wants the time-out as a 4-byte ULONG.
    ULONG value = milliseconds;
    static_assert(sizeof(value) == 4, "PIPE_TRANSFER_TIMEOUT takes a 32-bit value");
    if (!WinUsb_SetPipePolicy(m_winUsb, pipeId, PIPE_TRANSFER_TIMEOUT, sizeof(value), &value))
        return outcomeOfLastError();
    return Outcome::Ok;
}

Transfer WinUsbDevice::control(const SetupPacket &setup, uint8_t *data)
{
    // A data stage needs somewhere to come from or go to.
    if (setup.length != 0 && data == nullptr)
        return Transfer::failure(Outcome::IoError);

    WINUSB_SETUP_PACKET packet{};
    packet.RequestType = setup.requestType;
    packet.Request = setup.request;
    packet.Value = setup.value;
    packet.Index = setup.index;
    packet.Length = setup.length;
    ULONG moved = 0;
    if (!WinUsb_ControlTransfer(m_winUsb, packet, data, setup.length, &moved, nullptr)) {
        const DWORD error = GetLastError();
        return Transfer::failure(outcomeOfLastError(), error);
    }
    return Transfer::success(moved);
}

Transfer WinUsbDevice::bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length)
{
    if (length != 0 && data == nullptr)
        return Transfer::failure(Outcome::IoError);

    // One ReadPipe call moves at most a ULONG's worth; asking for less is within "at most".
    const ULONG request = length > std::numeric_limits<ULONG>::max()
                              ? std::numeric_limits<ULONG>::max()
                              : static_cast<ULONG>(length);
    ULONG moved = 0;
    if (!WinUsb_ReadPipe(m_winUsb, pipeId, data, request, &moved, nullptr)) {
        const DWORD error = GetLastError();
        return Transfer::failure(outcomeOfLastError(), error);
    }
    return Transfer::success(moved);
}

} // namespace usb
