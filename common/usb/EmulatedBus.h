// In-process USB bus for tests and the simulator: virtual devices are attached under an interface
// class GUID and a path, answer control requests and bulk reads, and can be made to fail on demand.
#pragma once

#include "UsbBackend.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace usb {

// The device side of a protocol. Called with the bus lock released, on whichever thread transfers;
// an implementation guards its own state when several threads may reach it.
class VirtualDevice {
public:
    virtual ~VirtualDevice() = default;

    // Endpoints of alternate setting 0; the default is none (control pipe only).
    virtual std::vector<PipeInfo> pipes() const { return {}; }
    // Answers a control request; `data` holds setup.length bytes (in or out as the packet says).
    virtual Transfer control(const SetupPacket &setup, uint8_t *data) = 0;
    // Answers a bulk read on an IN pipe; the default stalls.
    virtual Transfer bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length);
};

// One transfer as seen on the bus, for tests that check protocol bytes.
struct BusRecord {
    std::string path;
    bool bulk = false;
    SetupPacket setup;          // control transfers
    uint8_t pipeId = 0;         // bulk reads
    std::vector<uint8_t> out;   // data sent to the device (control OUT)
    Transfer result;
};

// What happens to a numbered transfer (counted from 1 over every transfer to matching paths since
// the fault was armed).
enum class FaultKind {
    Fail,     // the transfer fails with IoError and the device sees nothing
    Timeout,  // the transfer fails with Timeout and the device sees nothing
    Shorten,  // the device answers, then the bus reports at most `shortenTo` bytes moved
    Unplug,   // the device is detached before the transfer, which fails with NoDevice
};

struct Fault {
    FaultKind kind = FaultKind::Fail;
    uint64_t atTransfer = 1;    // 1 = the next transfer
    std::size_t shortenTo = 0;
    std::string path;           // empty: any device
};

class EmulatedBus final : public Backend {
public:
    static EmulatedBus &instance();

    const char *name() const override { return "emulated"; }
    std::vector<std::string> listPaths(const Guid &interfaceClass) override;
    bool ownsPath(const std::string &path) const override;
    std::unique_ptr<Device> open(const std::string &path, Outcome *outcome = nullptr) override;

    // Paths of the emulated bus start with this prefix.
    static constexpr const char *pathPrefix = "emu:";

    // Attaches a device in enumeration order after the others; `path` gets the prefix if it lacks
    // it. Returns the full path. A path already attached is replaced.
    std::string attach(const Guid &interfaceClass, const std::string &path,
                       std::shared_ptr<VirtualDevice> device);
    // Detaches a device: open handles to it fail with NoDevice from then on.
    void detach(const std::string &path);
    // Detaches everything and clears faults, the record and the counters.
    void reset();

    // Makes every open of this path fail (as a device whose driver refuses it).
    void setOpenFails(const std::string &path, bool fails);
    // Makes every open of this path fail as a device this user may not open: the first refused
    // open gives an access notice naming the path.
    void setOpenDenied(const std::string &path, bool denied);
    std::vector<std::string> takeAccessNotices() override;
    // Lists this path as an empty one, as a present interface whose detail read failed.
    void setPathUnreadable(const std::string &path, bool unreadable);

    void addFault(const Fault &fault);
    void clearFaults();

    // Transfers counted on a path (empty: all paths) since the last reset or resetCounters().
    uint64_t transferCount(const std::string &path = std::string()) const;
    void resetCounters();

    // Keeps a record of every transfer while enabled.
    void setRecording(bool enabled);
    std::vector<BusRecord> takeRecord();

    // Number of device handles currently open on the bus (for leak checks).
    int openHandles() const;

    // The virtual device attached at `path` (with or without the prefix), or null.
    std::shared_ptr<VirtualDevice> deviceAt(const std::string &path) const;

private:
    friend class EmulatedHandle;
    EmulatedBus() = default;
    std::string fullPath(const std::string &path) const;
    // The device of an open handle, or null once it was detached (even if attached again since).
    std::shared_ptr<VirtualDevice> liveDevice(const std::string &path, uint64_t generation) const;
    Transfer transfer(const std::string &path, uint64_t generation, const SetupPacket *setup,
                      uint8_t pipeId, uint8_t *data, std::size_t length);
    void handleClosed();

    struct Slot {
        Guid interfaceClass;
        std::string path;
        std::shared_ptr<VirtualDevice> device;
        uint64_t generation = 0;
    };

    mutable std::mutex m_mutex;
    std::vector<Slot> m_slots;
    std::map<std::string, bool> m_openFails;
    std::map<std::string, bool> m_openDenied;   // path -> notice given
    std::vector<std::string> m_notices;
    std::map<std::string, bool> m_unreadable;
    struct ArmedFault {
        Fault fault;
        uint64_t seen = 0;  // matching transfers since it was armed
    };
    std::vector<ArmedFault> m_faults;
    std::map<std::string, uint64_t> m_counts;
    uint64_t m_total = 0;
    uint64_t m_generation = 0;
    bool m_recording = false;
    std::vector<BusRecord> m_record;
    int m_openHandles = 0;
};

} // namespace usb
