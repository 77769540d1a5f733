// The device side of a GPS logger module: identity and memory counters, a 32 MiB flash served page by
// page on bulk IN pipe 0x81 after a read-position request, and sector erase with a busy status.
#pragma once

#include "EmulatedBus.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class VirtualModule final : public usb::VirtualDevice {
public:
    static constexpr uint32_t flashSize = 0x2000000;   // 32 MiB
    static constexpr uint32_t sectorSize = 0x10000;    // 64 KiB
    static constexpr uint32_t pageSize = 256;
    static constexpr uint32_t sectorCount = flashSize / sectorSize;
    static constexpr uint32_t pageCount = flashSize / pageSize;
    static constexpr uint32_t pagesPerSector = sectorSize / pageSize;
    static constexpr uint8_t bulkInPipe = 0x81;
    static constexpr uint16_t bulkPacketSize = 64;

    using Page = std::array<uint8_t, pageSize>;

    VirtualModule(const std::string &serial = "0123456789AB", const std::string &name = "MODULE");

    // Identity record. Texts longer than their field (12 and 8 bytes) are cut; shorter ones are
    // zero-padded.
    void setSerial(const std::string &serial);
    void setName(const std::string &name);
    std::string serial() const;
    std::string name() const;
    void setVersions(uint8_t hardwareMajor, uint8_t hardwareMinor, uint8_t softwareMajor,
                     uint8_t softwareMinor);

    // Memory counters reported by request 0x03. The total starts at the flash size; ModuleFlashWriter
    // keeps the other two up to date as it logs.
    void setMemoryCounters(int32_t totalSize, int32_t usedSize, int32_t recordCount);
    int32_t totalSize() const;
    int32_t usedSize() const;
    int32_t recordCount() const;

    // Flash content. Only sectors that hold something other than 0xFF take memory.
    void writePage(uint32_t pageIndex, const Page &data);
    // Writes `length` bytes from `address`; may cross page and sector boundaries.
    void writeBytes(uint32_t address, const uint8_t *data, std::size_t length);
    Page page(uint32_t pageIndex) const;
    bool sectorErased(uint32_t sector) const;
    std::size_t allocatedSectors() const;

    // Erase timing: after an erase-sector request the status reads busy this many times, then idle.
    void setEraseBusyPolls(int polls);
    // A module that never finishes erasing: the status stays busy.
    void setStuckBusy(bool stuck);

    // Counters for tests.
    int eraseRequests() const;                   // accepted erase-sector requests
    std::vector<uint32_t> erasedPageIndexes() const;  // their page indexes, in order
    int statusPolls() const;
    int endEraseCount() const;
    int pagesRead() const;                       // accepted read-position requests
    bool bootloaderRequested() const;

    std::vector<usb::PipeInfo> pipes() const override;
    usb::Transfer control(const usb::SetupPacket &setup, uint8_t *data) override;
    usb::Transfer bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length) override;

private:
    using Sector = std::vector<uint8_t>;

    usb::Transfer controlIn(const usb::SetupPacket &setup, uint8_t *data);
    usb::Transfer controlOut(const usb::SetupPacket &setup, const uint8_t *data);
    void writeLocked(uint32_t address, const uint8_t *data, std::size_t length);
    Page pageLocked(uint32_t pageIndex) const;

    mutable std::mutex m_mutex;

    std::array<uint8_t, 12> m_serial{};
    std::array<uint8_t, 8> m_name{};
    std::array<uint8_t, 4> m_versions{};

    int32_t m_totalSize = flashSize;
    int32_t m_usedSize = 0;
    int32_t m_recordCount = 0;

    std::map<uint32_t, Sector> m_sectors;  // absent sector = erased

    // Page queued on the bulk pipe by the last read-position request; `m_readOffset` bytes served.
    bool m_pageQueued = false;
    Page m_readPage{};
    std::size_t m_readOffset = 0;

    int m_eraseBusyPolls = 2;
    int m_busyLeft = 0;
    bool m_stuckBusy = false;

    std::vector<uint32_t> m_erasedPageIndexes;
    int m_statusPolls = 0;
    int m_endErases = 0;
    int m_pagesRead = 0;
    bool m_bootloader = false;
};
