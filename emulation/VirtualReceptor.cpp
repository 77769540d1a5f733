// The emulated receptor: decodes the station's vendor requests against its slot table and builds
// the replies in the receptor's wire layouts (56-byte information block, 6-byte quality block).
#include "VirtualReceptor.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t hostToDevice = 0x40;  // vendor, device recipient
constexpr uint8_t deviceToHost = 0xC0;

// Offsets of the information block fields.
constexpr std::size_t offMarker = 0;
constexpr std::size_t offSerial = 1;
constexpr std::size_t offDate = 7;
constexpr std::size_t offTime = 13;
constexpr std::size_t offLatitude = 19;
constexpr std::size_t offLongitude = 30;
constexpr std::size_t offMemory = 42;
constexpr std::size_t offState = 43;
constexpr std::size_t offAux = 44;
constexpr std::size_t offName = 46;

constexpr std::size_t dateSize = 6;
constexpr std::size_t timeSize = 6;
constexpr std::size_t latitudeSize = 11;
constexpr std::size_t longitudeSize = 12;
constexpr std::size_t nameSize = 8;

constexpr std::size_t startPayloadSize = VirtualReceptor::serialSize + 2;

// The receptor answers a request it does not understand with a stall.
usb::Transfer stall()
{
    return usb::Transfer::failure(usb::Outcome::IoError);
}

// Copies at most `size` characters of `text`; the rest of the field stays 0.
void putText(VirtualReceptor::InfoBlock &block, std::size_t offset, std::size_t size,
             const std::string &text)
{
    std::memcpy(block.data() + offset, text.data(), std::min(size, text.size()));
}

VirtualReceptor::Serial serialAt(const uint8_t *data)
{
    VirtualReceptor::Serial serial;
    std::copy(data, data + VirtualReceptor::serialSize, serial.begin());
    return serial;
}

} // namespace

VirtualReceptor::VirtualReceptor()
{
    setIdentification(std::string("EMU000000001"));
}

std::vector<usb::PipeInfo> VirtualReceptor::pipes() const
{
    return {{usb::PipeType::Bulk, 0x01, 64}, {usb::PipeType::Bulk, 0x81, 64}};
}

usb::Transfer VirtualReceptor::control(const usb::SetupPacket &setup, uint8_t *data)
{
    if (setup.value != 0 || (setup.length > 0 && data == nullptr))
        return stall();

    if (setup.requestType == deviceToHost) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return handleRead(setup, data);
    }
    if (setup.requestType != hostToDevice)
        return stall();

    std::optional<Command> command;
    CommandHook hook;
    usb::Transfer result;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        result = handleCommand(setup, data, &command);
        if (command)
            hook = m_hook;
    }
    // Outside the lock, so that the hook can script the receptor in turn.
    if (hook)
        hook(*command);
    return result;
}

usb::Transfer VirtualReceptor::handleCommand(const usb::SetupPacket &setup, const uint8_t *data,
                                             std::optional<Command> *command)
{
    if (setup.index != 0)
        return stall();

    Command received;
    received.request = static_cast<Request>(setup.request);
    switch (received.request) {
    case Request::AddBeacon:
    case Request::DelBeacon:
    case Request::StopBeacon: {
        if (setup.length != serialSize)
            return stall();
        received.serial = serialAt(data);
        if (received.request == Request::AddBeacon) {
            received.slot = registerLocked(received.serial);
        } else {
            const int slot = findSlotLocked(received.serial);
            if (slot >= 0 && received.request == Request::DelBeacon)
                m_slots[slot] = Slot();
            else if (slot >= 0)
                m_slots[slot].state = stateStopped;
            received.slot = received.request == Request::DelBeacon ? -1 : slot;
        }
        break;
    }
    case Request::StartBeacon: {
        if (setup.length != startPayloadSize)
            return stall();
        received.serial = serialAt(data);
        received.interval = static_cast<uint16_t>(data[serialSize] | (data[serialSize + 1] << 8));
        m_lastStartInterval = received.interval;
        received.slot = findSlotLocked(received.serial);
        if (received.slot >= 0)
            m_slots[received.slot].state = stateStarted;
        break;
    }
    case Request::Bootloader:
        if (setup.length != 0)
            return stall();
        m_bootloader = true;
        break;
    default:
        return stall();
    }
    *command = received;
    return usb::Transfer::success(setup.length);
}

usb::Transfer VirtualReceptor::handleRead(const usb::SetupPacket &setup, uint8_t *data)
{
    const int slot = setup.index;
    switch (static_cast<Request>(setup.request)) {
    case Request::BeaconFlags: {
        if (setup.index != 0 || setup.length != slotCount)
            return stall();
        const std::array<uint8_t, slotCount> bytes = flagsLocked();
        std::copy(bytes.begin(), bytes.end(), data);
        break;
    }
    case Request::BeaconInfo: {
        if (!validSlot(slot) || setup.length != infoBlockSize)
            return stall();
        const InfoBlock block = infoBlockLocked(slot);
        std::copy(block.begin(), block.end(), data);
        // The receptor hands each report out once.
        m_slots[slot].newReport = false;
        break;
    }
    case Request::BeaconQuality: {
        if (!validSlot(slot) || setup.length != qualityBlockSize)
            return stall();
        std::fill(data, data + qualityBlockSize, 0);
        const std::optional<Report> &report = m_slots[slot].report;
        if (report) {
            data[0] = static_cast<uint8_t>(static_cast<int8_t>(
                std::clamp(report->snrQuarterDb, -128, 127)));
            data[1] = static_cast<uint8_t>(std::clamp(report->rssiDbm + 157, 0, 255));
        }
        break;
    }
    case Request::Identification:
        if (setup.index != 0 || setup.length != identificationSize)
            return stall();
        std::copy(m_identification.begin(), m_identification.end(), data);
        break;
    default:
        return stall();
    }
    return usb::Transfer::success(setup.length);
}

VirtualReceptor::InfoBlock VirtualReceptor::infoBlockLocked(int slot) const
{
    InfoBlock block{};
    const Slot &s = m_slots[slot];
    if (!s.registered)
        return block;
    if (s.report && s.report->raw)
        return *s.report->raw;

    block[offMarker] = '*';
    std::copy(s.serial.begin(), s.serial.end(), block.begin() + offSerial);
    block[offState] = s.state;
    if (const std::optional<Report> &report = s.report) {
        putText(block, offDate, dateSize, report->date);
        putText(block, offTime, timeSize, report->time);
        putText(block, offLatitude, latitudeSize, report->latitude);
        putText(block, offLongitude, longitudeSize, report->longitude);
        block[offMemory] = report->memory;
        block[offAux] = static_cast<uint8_t>(report->auxValue & 0xFF);
        block[offAux + 1] = static_cast<uint8_t>(report->auxValue >> 8);
        putText(block, offName, nameSize, report->name);
    }
    return block;
}

int VirtualReceptor::findSlotLocked(const Serial &serial) const
{
    for (int i = 0; i < slotCount; ++i) {
        if (m_slots[i].registered && m_slots[i].serial == serial)
            return i;
    }
    return -1;
}

int VirtualReceptor::registerLocked(const Serial &serial)
{
    const int known = findSlotLocked(serial);
    if (known >= 0)
        return known;
    for (int i = 0; i < slotCount; ++i) {
        if (!m_slots[i].registered) {
            m_slots[i] = Slot();
            m_slots[i].registered = true;
            m_slots[i].serial = serial;
            return i;
        }
    }
    return -1;
}

bool VirtualReceptor::setReport(int slot, const Report &report)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return setReportLocked(slot, report);
}

bool VirtualReceptor::postReport(const Serial &serial, const Report &report)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return setReportLocked(findSlotLocked(serial), report);
}

bool VirtualReceptor::setReportLocked(int slot, const Report &report)
{
    if (!validSlot(slot) || !m_slots[slot].registered)
        return false;
    Slot &s = m_slots[slot];
    s.report = report;
    s.state = report.state;
    s.newReport = true;
    return true;
}

int VirtualReceptor::registerSerial(const Serial &serial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return registerLocked(serial);
}

std::vector<VirtualReceptor::Serial> VirtualReceptor::registeredSerials() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Serial> serials;
    for (const Slot &s : m_slots) {
        if (s.registered)
            serials.push_back(s.serial);
    }
    return serials;
}

int VirtualReceptor::slotOf(const Serial &serial) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return findSlotLocked(serial);
}

std::array<uint8_t, VirtualReceptor::slotCount> VirtualReceptor::flags() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return flagsLocked();
}

std::array<uint8_t, VirtualReceptor::slotCount> VirtualReceptor::flagsLocked() const
{
    std::array<uint8_t, slotCount> result{};
    for (int i = 0; i < slotCount; ++i) {
        result[i] = static_cast<uint8_t>((m_slots[i].registered ? flagRegistered : 0)
                                         | (m_slots[i].newReport ? flagNewReport : 0));
    }
    return result;
}

uint8_t VirtualReceptor::slotState(int slot) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return validSlot(slot) ? m_slots[slot].state : stateStopped;
}

std::optional<uint16_t> VirtualReceptor::lastStartInterval() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastStartInterval;
}

bool VirtualReceptor::bootloaderRequested() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bootloader;
}

void VirtualReceptor::setIdentification(const Identification &bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_identification = bytes;
}

void VirtualReceptor::setIdentification(const std::string &text)
{
    Identification bytes{};
    std::copy_n(text.begin(), std::min(text.size(), identificationSize), bytes.begin());
    setIdentification(bytes);
}

void VirtualReceptor::setCommandHook(CommandHook hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}
