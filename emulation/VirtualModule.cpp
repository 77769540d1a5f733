// Module firmware behaviour as the manager sees it over USB. Unknown requests, wrong directions and
// out-of-range positions stall (IoError), as the firmware answers what it does not understand.
#include "VirtualModule.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t hostToDevice = 0x40;
constexpr uint8_t deviceToHost = 0xC0;

constexpr uint8_t requestDeviceInfo = 0x01;
constexpr uint8_t requestSetName = 0x02;
constexpr uint8_t requestMemoryInfo = 0x03;
constexpr uint8_t requestReadPosition = 0x04;
constexpr uint8_t requestEraseStatus = 0x06;
constexpr uint8_t requestEraseSector = 0x07;
constexpr uint8_t requestEndErase = 0x08;
constexpr uint8_t requestBootloader = 0x70;

template <std::size_t N>
void setText(std::array<uint8_t, N> &field, const std::string &text)
{
    field.fill(0);
    std::memcpy(field.data(), text.data(), std::min(N, text.size()));
}

template <std::size_t N>
std::string getText(const std::array<uint8_t, N> &field)
{
    const auto end = std::find(field.begin(), field.end(), 0);
    return std::string(field.begin(), end);
}

void putLe32(uint8_t *bytes, int32_t value)
{
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t getLe32(const uint8_t *bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16
           | uint32_t(bytes[3]) << 24;
}

usb::Transfer stall()
{
    return usb::Transfer::failure(usb::Outcome::IoError);
}

} // namespace

VirtualModule::VirtualModule(const std::string &serial, const std::string &name)
{
    setText(m_serial, serial);
    setText(m_name, name);
    m_versions = {1, 0, 1, 0};
}

void VirtualModule::setSerial(const std::string &serial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    setText(m_serial, serial);
}

void VirtualModule::setName(const std::string &name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    setText(m_name, name);
}

std::string VirtualModule::serial() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return getText(m_serial);
}

std::string VirtualModule::name() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return getText(m_name);
}

void VirtualModule::setVersions(uint8_t hardwareMajor, uint8_t hardwareMinor, uint8_t softwareMajor,
                                uint8_t softwareMinor)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_versions = {hardwareMajor, hardwareMinor, softwareMajor, softwareMinor};
}

void VirtualModule::setMemoryCounters(int32_t totalSize, int32_t usedSize, int32_t recordCount)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_totalSize = totalSize;
    m_usedSize = usedSize;
    m_recordCount = recordCount;
}

int32_t VirtualModule::totalSize() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_totalSize;
}

int32_t VirtualModule::usedSize() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_usedSize;
}

int32_t VirtualModule::recordCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_recordCount;
}

void VirtualModule::writePage(uint32_t pageIndex, const Page &data)
{
    if (pageIndex >= pageCount)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    writeLocked(pageIndex * pageSize, data.data(), data.size());
}

void VirtualModule::writeBytes(uint32_t address, const uint8_t *data, std::size_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    writeLocked(address, data, length);
}

void VirtualModule::writeLocked(uint32_t address, const uint8_t *data, std::size_t length)
{
    // Bytes beyond the end of the flash are dropped.
    std::size_t done = 0;
    while (done < length && address + done < flashSize) {
        const uint32_t at = static_cast<uint32_t>(address + done);
        const uint32_t sector = at / sectorSize;
        const uint32_t offset = at % sectorSize;
        const std::size_t chunk = std::min<std::size_t>(length - done, sectorSize - offset);
        const uint8_t *from = data + done;
        auto found = m_sectors.find(sector);
        if (found == m_sectors.end()) {
            // Writing erased bytes into an erased sector leaves it unallocated.
            if (std::all_of(from, from + chunk, [](uint8_t b) { return b == 0xFF; })) {
                done += chunk;
                continue;
            }
            found = m_sectors.emplace(sector, Sector(sectorSize, 0xFF)).first;
        }
        std::memcpy(found->second.data() + offset, from, chunk);
        done += chunk;
    }
}

VirtualModule::Page VirtualModule::page(uint32_t pageIndex) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return pageLocked(pageIndex);
}

VirtualModule::Page VirtualModule::pageLocked(uint32_t pageIndex) const
{
    Page out;
    out.fill(0xFF);
    const auto found = m_sectors.find(pageIndex / pagesPerSector);
    if (found != m_sectors.end())
        std::memcpy(out.data(), found->second.data() + (pageIndex % pagesPerSector) * pageSize,
                    pageSize);
    return out;
}

bool VirtualModule::sectorErased(uint32_t sector) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_sectors.find(sector);
    return found == m_sectors.end()
           || std::all_of(found->second.begin(), found->second.end(),
                          [](uint8_t b) { return b == 0xFF; });
}

std::size_t VirtualModule::allocatedSectors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sectors.size();
}

void VirtualModule::setEraseBusyPolls(int polls)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_eraseBusyPolls = polls;
}

void VirtualModule::setStuckBusy(bool stuck)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stuckBusy = stuck;
}

int VirtualModule::eraseRequests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_erasedPageIndexes.size());
}

std::vector<uint32_t> VirtualModule::erasedPageIndexes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_erasedPageIndexes;
}

int VirtualModule::statusPolls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statusPolls;
}

int VirtualModule::endEraseCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_endErases;
}

int VirtualModule::pagesRead() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pagesRead;
}

bool VirtualModule::bootloaderRequested() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bootloader;
}

std::vector<usb::PipeInfo> VirtualModule::pipes() const
{
    usb::PipeInfo in;
    in.type = usb::PipeType::Bulk;
    in.id = bulkInPipe;
    in.maxPacketSize = bulkPacketSize;
    return {in};
}

usb::Transfer VirtualModule::control(const usb::SetupPacket &setup, uint8_t *data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (setup.requestType == deviceToHost)
        return controlIn(setup, data);
    if (setup.requestType == hostToDevice)
        return controlOut(setup, data);
    return stall();
}

usb::Transfer VirtualModule::controlIn(const usb::SetupPacket &setup, uint8_t *data)
{
    switch (setup.request) {
    case requestDeviceInfo: {
        uint8_t record[24];
        std::memcpy(record, m_serial.data(), 12);
        std::memcpy(record + 12, m_name.data(), 8);
        std::memcpy(record + 20, m_versions.data(), 4);
        const std::size_t n = std::min<std::size_t>(setup.length, sizeof record);
        std::memcpy(data, record, n);
        return usb::Transfer::success(n);
    }
    case requestMemoryInfo: {
        uint8_t record[12];
        putLe32(record, m_totalSize);
        putLe32(record + 4, m_usedSize);
        putLe32(record + 8, m_recordCount);
        const std::size_t n = std::min<std::size_t>(setup.length, sizeof record);
        std::memcpy(data, record, n);
        return usb::Transfer::success(n);
    }
    case requestEraseStatus: {
        if (setup.length < 1)
            return stall();
        ++m_statusPolls;
        bool busy = m_stuckBusy;
        if (!busy && m_busyLeft > 0) {
            --m_busyLeft;
            busy = true;
        }
        data[0] = busy ? 1 : 0;
        return usb::Transfer::success(1);
    }
    default:
        return stall();
    }
}

usb::Transfer VirtualModule::controlOut(const usb::SetupPacket &setup, const uint8_t *data)
{
    switch (setup.request) {
    case requestSetName: {
        m_name.fill(0);
        std::memcpy(m_name.data(), data, std::min<std::size_t>(setup.length, m_name.size()));
        return usb::Transfer::success(setup.length);
    }
    case requestReadPosition: {
        if (setup.length < 4)
            return stall();
        const uint32_t pageIndex = getLe32(data);
        if (pageIndex >= pageCount)
            return stall();
        m_readPage = pageLocked(pageIndex);
        m_pageQueued = true;
        m_readOffset = 0;
        ++m_pagesRead;
        return usb::Transfer::success(setup.length);
    }
    case requestEraseSector: {
        if (setup.length < 4)
            return stall();
        const uint32_t pageIndex = getLe32(data);
        if (pageIndex >= pageCount)
            return stall();
        // The flash erases the whole sector that holds the page.
        m_sectors.erase(pageIndex / pagesPerSector);
        m_erasedPageIndexes.push_back(pageIndex);
        m_busyLeft = m_eraseBusyPolls;
        return usb::Transfer::success(setup.length);
    }
    case requestEndErase:
        // The module starts logging afresh from the beginning of its memory.
        ++m_endErases;
        m_usedSize = 0;
        m_recordCount = 0;
        return usb::Transfer::success(setup.length);
    case requestBootloader:
        m_bootloader = true;
        return usb::Transfer::success(0);
    default:
        return stall();
    }
}

usb::Transfer VirtualModule::bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (pipeId != bulkInPipe)
        return stall();
    // Each read-position request queues exactly one page; once it is served nothing more comes
    // and the host's read times out.
    if (!m_pageQueued || m_readOffset >= pageSize)
        return usb::Transfer::failure(usb::Outcome::Timeout);
    const std::size_t n = std::min(length, pageSize - m_readOffset);
    std::memcpy(data, m_readPage.data() + m_readOffset, n);
    m_readOffset += n;
    return usb::Transfer::success(n);
}
