// The USB receptor: every operation is a single vendor control request on the default pipe; the
// replies are copied into arrays of the full block size whatever the device actually sent.
#include "ReceptorDevice.h"

#include "UsbOpen.h"

#include <cstring>

namespace {

constexpr quint8 hostToDevice = 0x40;  // vendor request, device recipient
constexpr quint8 deviceToHost = 0xC0;

constexpr quint8 requestIdentification = 0x01;
constexpr quint8 requestAddBeacon = 0x50;
constexpr quint8 requestDelBeacon = 0x51;
constexpr quint8 requestBeaconFlags = 0x52;
constexpr quint8 requestBeaconInfo = 0x53;
constexpr quint8 requestStartBeacon = 0x54;
constexpr quint8 requestStopBeacon = 0x55;
constexpr quint8 requestBeaconQuality = 0x56;
constexpr quint8 requestBootloader = 0x70;

constexpr int flagsSize = 20;
constexpr int infoBlockSize = 56;
constexpr int qualityBlockSize = 6;
constexpr int identificationSize = 24;

usb::Transfer controlTransfer(usb::Device *device, quint8 requestType, quint8 request,
                              quint16 index, quint8 *data, quint16 length)
{
    if (!device)
        return usb::Transfer::failure(usb::Outcome::NoDevice);
    usb::SetupPacket setup;
    setup.requestType = requestType;
    setup.request = request;
    setup.value = 0;
    setup.index = index;
    setup.length = length;
    return device->control(setup, data);
}

// wLength is the size of the data sent; a payload that no setup packet can describe is not sent.
void sendCommand(usb::Device *device, quint8 request, QByteArray payload)
{
    if (payload.size() > 0xFFFF)
        return;
    controlTransfer(device, hostToDevice, request, 0,
                    reinterpret_cast<quint8 *>(payload.data()),
                    static_cast<quint16>(payload.size()));
}

// The buffer starts zeroed, so a short reply never exposes stale bytes past what was received.
QByteArray *readBlock(usb::Device *device, quint8 request, int slot, int size)
{
    QByteArray buffer(size, '\0');
    const usb::Transfer result =
        controlTransfer(device, deviceToHost, request, static_cast<quint16>(slot & 0xFFFF),
                        reinterpret_cast<quint8 *>(buffer.data()), static_cast<quint16>(size));
    if (!result.ok())
        return nullptr;
    return new QByteArray(buffer);
}

} // namespace

ReceptorDevice::ReceptorDevice(const QString &path)
    : ReceptorDeviceGeneric(1), m_path(path), m_device(openUsbDevice(path, &m_bulkInPipe))
{
}

// Closing the device releases the interface and the file handle.
ReceptorDevice::~ReceptorDevice() = default;

void ReceptorDevice::sendAddBeacon(QByteArray serial)
{
    sendCommand(m_device.get(), requestAddBeacon, serial);
}

void ReceptorDevice::sendDelBeacon(QByteArray serial)
{
    sendCommand(m_device.get(), requestDelBeacon, serial);
}

QByteArray *ReceptorDevice::readBeaconFlags()
{
    return readBlock(m_device.get(), requestBeaconFlags, 0, flagsSize);
}

QByteArray *ReceptorDevice::readBeaconInfo(int slot)
{
    return readBlock(m_device.get(), requestBeaconInfo, slot, infoBlockSize);
}

void ReceptorDevice::sendStartBeacon(QByteArray serial, int freq)
{
    // The interval travels as its low 16 bits, little-endian, after the serial.
    serial.append(static_cast<char>(freq & 0xFF));
    serial.append(static_cast<char>((freq >> 8) & 0xFF));
    sendCommand(m_device.get(), requestStartBeacon, serial);
}

void ReceptorDevice::sendStopBeacon(QByteArray serial)
{
    sendCommand(m_device.get(), requestStopBeacon, serial);
}

void ReceptorDevice::sendBootloader()
{
    sendCommand(m_device.get(), requestBootloader, QByteArray());
}

QByteArray *ReceptorDevice::readBeaconQuality(int slot)
{
    return readBlock(m_device.get(), requestBeaconQuality, slot, qualityBlockSize);
}

int ReceptorDevice::readReceptorId(char *buffer)
{
    if (!buffer)
        return -1;
    // Bytes the receptor does not send read as 0 rather than whatever the caller's buffer held.
    std::memset(buffer, 0, identificationSize);
    const usb::Transfer result =
        controlTransfer(m_device.get(), deviceToHost, requestIdentification, 0,
                        reinterpret_cast<quint8 *>(buffer), identificationSize);
    if (!result.ok())
        return -1;
    return static_cast<int>(result.transferred);
}
