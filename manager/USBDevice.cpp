// The module's vendor protocol: identity, rename, memory counters, page reads (position request then
// four 64-byte bulk reads), sector erase with status polling, end of erase and bootloader switch.
#include "USBDevice.h"

#include "UsbOpen.h"
#include "LogCategories.h"

#include <QThread>
#include <cstring>

namespace {

constexpr quint8 hostToDevice = 0x40;  // vendor request, device recipient
constexpr quint8 deviceToHost = 0xC0;

constexpr quint8 requestDeviceInfo = 0x01;
constexpr quint8 requestSetName = 0x02;
constexpr quint8 requestMemoryInfo = 0x03;
constexpr quint8 requestReadPosition = 0x04;
constexpr quint8 requestEraseStatus = 0x06;
constexpr quint8 requestEraseSector = 0x07;
constexpr quint8 requestEndErase = 0x08;
constexpr quint8 requestBootloader = 0x70;

constexpr int deviceInfoSize = 24;
constexpr int memoryInfoSize = 12;
constexpr int nameSize = 8;
constexpr int serialSize = 12;
constexpr int bulkSliceSize = 64;
constexpr unsigned long erasePollPauseMs = 10;

QString textField(const quint8 *bytes, int maxLength)
{
    const char *chars = reinterpret_cast<const char *>(bytes);
    const void *zero = std::memchr(chars, 0, maxLength);
    const int length = zero ? static_cast<int>(static_cast<const char *>(zero) - chars) : maxLength;
    return QString::fromUtf8(chars, length);
}

QString versionText(quint8 major, quint8 minor)
{
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

qint32 readLe32(const quint8 *bytes)
{
    return static_cast<qint32>(quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16
                               | quint32(bytes[3]) << 24);
}

void writeLe32(quint8 *bytes, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<quint8>(value >> (8 * i));
}

} // namespace

USBDevice::USBDevice(const QString &path)
    : m_path(path)
{
    m_device = openUsbDevice(path, &m_bulkPipe);
}

USBDevice::~USBDevice()
{
    qCDebug(lcModule, "USBDevice %p : destructor called\n", static_cast<void *>(this));
    qCDebug(lcModule, "Close\n");
    m_device.reset();
}

usb::Transfer USBDevice::controlTransfer(quint8 requestType, quint8 request, quint16 length,
                                         quint8 *data)
{
    // An object whose open failed answers every request with a failure, without touching the bus.
    if (!m_device)
        return usb::Transfer::failure(usb::Outcome::NoDevice);
    usb::SetupPacket setup;
    setup.requestType = requestType;
    setup.request = request;
    setup.length = length;
    return m_device->control(setup, data);
}

USBDeviceDesc USBDevice::getDeviceInfo()
{
    USBDeviceDesc desc(this);
    quint8 record[deviceInfoSize] = {};
    const usb::Transfer t = controlTransfer(deviceToHost, requestDeviceInfo, deviceInfoSize, record);
    if (!t.ok() || t.transferred == 0) {
        // The system's own code, for whoever reads the log against the platform's documentation.
        qCDebug(lcModule, "Failed to get device info (0x%08x)\n", static_cast<unsigned>(t.systemError));
        return desc;
    }
    desc.serialNumber = textField(record, serialSize);
    desc.name = textField(record + serialSize, nameSize);
    desc.hardwareVersion = versionText(record[20], record[21]);
    desc.softwareVersion = versionText(record[22], record[23]);
    return desc;
}

MemoryState USBDevice::getMemoryInfo()
{
    MemoryState state;
    quint8 record[memoryInfoSize] = {};
    const usb::Transfer t = controlTransfer(deviceToHost, requestMemoryInfo, memoryInfoSize, record);
    if (!t.ok() || t.transferred == 0) {
        // The system's own code, for whoever reads the log against the platform's documentation.
        qCDebug(lcModule, "Failed to get memory info (0x%08x)\n", static_cast<unsigned>(t.systemError));
        return state;
    }
    state.totalSize = readLe32(record);
    state.usedSize = readLe32(record + 4);
    state.recordCount = readLe32(record + 8);
    return state;
}

void USBDevice::setName(const QString &name)
{
    // The record holds 8 bytes: a longer name loses its last characters, never half of one. UTF-8,
    // as the identity is read back, whatever the system's encoding.
    QString kept = name;
    QByteArray encoded = kept.toUtf8();
    while (encoded.size() > nameSize) {
        kept.chop(1);
        encoded = kept.toUtf8();
    }
    quint8 record[nameSize] = {};
    std::memcpy(record, encoded.constData(), static_cast<size_t>(encoded.size()));
    controlTransfer(hostToDevice, requestSetName, nameSize, record);
}

int USBDevice::readPage(char *buffer, quint32 pageIndex, int capacity, usb::Outcome *outcome)
{
    const auto failed = [outcome](usb::Outcome reason) {
        if (outcome)
            *outcome = reason;
        return -1;
    };
    if (capacity < pageSize)
        return failed(usb::Outcome::IoError);

    quint8 position[4];
    writeLe32(position, pageIndex);
    const usb::Transfer t = controlTransfer(hostToDevice, requestReadPosition, sizeof position, position);
    if (!t.ok() || t.transferred == 0) {
        qCDebug(lcModule, "Failed to set read position\n");
        return failed(t.ok() ? usb::Outcome::IoError : t.outcome);
    }

    for (int slice = 0; slice < pageSize / bulkSliceSize; ++slice) {
        if (!m_device)
            return failed(usb::Outcome::NoDevice);
        // A short slice is accepted; the next one still lands at its own 64-byte offset. The bytes the
        // module did not send read as erased flash, never as what the buffer held before (a previous
        // page's record would otherwise be written again).
        quint8 *slicePtr = reinterpret_cast<quint8 *>(buffer) + bulkSliceSize * slice;
        const usb::Transfer r = m_device->bulkRead(m_bulkPipe, slicePtr, bulkSliceSize);
        if (!r.ok() || r.transferred == 0)
            return failed(r.ok() ? usb::Outcome::IoError : r.outcome);
        if (r.transferred < bulkSliceSize)
            std::memset(slicePtr + r.transferred, 0xFF, bulkSliceSize - r.transferred);
    }
    if (outcome)
        *outcome = usb::Outcome::Ok;
    return pageSize;
}

void USBDevice::eraseSector(quint32 pageIndex)
{
    quint8 position[4];
    writeLe32(position, pageIndex);
    if (!controlTransfer(hostToDevice, requestEraseSector, sizeof position, position).ok()) {
        qCDebug(lcModule, "Erasing failed\n");
        return;
    }

    // A module that never reports idle must not hold the worker forever.
    for (int poll = 1;; ++poll) {
        quint8 status = 0;
        const usb::Transfer t = controlTransfer(deviceToHost, requestEraseStatus, 1, &status);
        if (!t.ok() || t.transferred != 1) {
            qCDebug(lcModule, "Erasing failed\n");
            return;
        }
        if (status == 0)
            return;
        if (poll >= m_erasePollLimit) {
            qCDebug(lcModule, "Erasing failed\n");
            return;
        }
        QThread::msleep(erasePollPauseMs);
    }
}

bool USBDevice::endErase()
{
    quint8 unused[4] = {};
    return controlTransfer(hostToDevice, requestEndErase, sizeof unused, unused).ok();
}

bool USBDevice::enterBootloader()
{
    return controlTransfer(hostToDevice, requestBootloader, 0, nullptr).ok();
}

void USBDevice::take()
{
    const int count = m_holders.fetchAndAddOrdered(1) + 1;
    qCDebug(lcModule, "USBDevice %p taken %d\n", static_cast<void *>(this), count);
}

void USBDevice::release()
{
    const int count = m_holders.fetchAndAddOrdered(-1) - 1;
    qCDebug(lcModule, "USBDevice %p released %d\n", static_cast<void *>(this), count);
    if (count == 0) {
        qCDebug(lcModule, "USBDevice %p destroyed\n", static_cast<void *>(this));
        delete this;
    }
}
