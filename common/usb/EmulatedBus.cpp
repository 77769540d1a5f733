// The emulated bus: attach order is enumeration order, every transfer goes through one counting
// point where armed faults fire, and virtual devices answer with the bus lock released.
#include "EmulatedBus.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace usb {

namespace {
// The codes WinUSB reports for these outcomes, so that the logs read as they would on Windows.
uint32_t windowsErrorOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok: return 0;
    case Outcome::Timeout: return 121;     // ERROR_SEM_TIMEOUT
    case Outcome::NoDevice: return 1167;   // ERROR_DEVICE_NOT_CONNECTED
    case Outcome::IoError: return 31;      // ERROR_GEN_FAILURE
    }
    return 0;
}
} // namespace

Transfer VirtualDevice::bulkRead(uint8_t, uint8_t *, std::size_t)
{
    return Transfer::failure(Outcome::IoError);
}

// A handle on one attached device; it dies with the attachment it was opened on.
class EmulatedHandle final : public Device {
public:
    EmulatedHandle(EmulatedBus &bus, std::string path, uint64_t generation)
        : m_bus(bus), m_path(std::move(path)), m_generation(generation)
    {
    }
    ~EmulatedHandle() override { m_bus.handleClosed(); }

    std::optional<int> endpointCount() override
    {
        const auto device = m_bus.liveDevice(m_path, m_generation);
        if (!device)
            return std::nullopt;
        return static_cast<int>(device->pipes().size());
    }

    std::optional<PipeInfo> queryPipe(int index) override
    {
        const auto device = m_bus.liveDevice(m_path, m_generation);
        if (!device || index < 0)
            return std::nullopt;
        const std::vector<PipeInfo> pipes = device->pipes();
        if (static_cast<std::size_t>(index) >= pipes.size())
            return std::nullopt;
        return pipes[static_cast<std::size_t>(index)];
    }

    Outcome setPipeTimeout(uint8_t pipeId, uint32_t) override
    {
        const auto device = m_bus.liveDevice(m_path, m_generation);
        if (!device)
            return Outcome::NoDevice;
        for (const PipeInfo &pipe : device->pipes()) {
            if (pipe.id == pipeId)
                return Outcome::Ok;
        }
        return Outcome::IoError;  // as WinUSB refuses a policy on an unknown pipe
    }

    Transfer control(const SetupPacket &setup, uint8_t *data) override
    {
        return m_bus.transfer(m_path, m_generation, &setup, 0, data, setup.length);
    }

    Transfer bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length) override
    {
        return m_bus.transfer(m_path, m_generation, nullptr, pipeId, data, length);
    }

private:
    EmulatedBus &m_bus;
    std::string m_path;
    uint64_t m_generation;
};

EmulatedBus &EmulatedBus::instance()
{
    static EmulatedBus bus;
    return bus;
}

std::string EmulatedBus::fullPath(const std::string &path) const
{
    return path.rfind(pathPrefix, 0) == 0 ? path : pathPrefix + path;
}

std::vector<std::string> EmulatedBus::listPaths(const Guid &interfaceClass)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> paths;
    for (const Slot &slot : m_slots) {
        if (slot.interfaceClass != interfaceClass)
            continue;
        const auto unreadable = m_unreadable.find(slot.path);
        paths.push_back(unreadable != m_unreadable.end() && unreadable->second ? std::string() : slot.path);
    }
    return paths;
}

bool EmulatedBus::ownsPath(const std::string &path) const
{
    return path.rfind(pathPrefix, 0) == 0;
}

std::unique_ptr<Device> EmulatedBus::open(const std::string &path, Outcome *outcome)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto denied = m_openDenied.find(path);
    if (denied != m_openDenied.end()) {
        if (!denied->second)
            m_notices.push_back(path);
        denied->second = true;
        if (outcome)
            *outcome = Outcome::IoError;
        return nullptr;
    }
    const auto fails = m_openFails.find(path);
    if (fails != m_openFails.end() && fails->second) {
        if (outcome)
            *outcome = Outcome::IoError;
        return nullptr;
    }
    for (const Slot &slot : m_slots) {
        if (slot.path == path) {
            ++m_openHandles;
            if (outcome)
                *outcome = Outcome::Ok;
            return std::make_unique<EmulatedHandle>(*this, slot.path, slot.generation);
        }
    }
    if (outcome)
        *outcome = Outcome::NoDevice;
    return nullptr;
}

std::string EmulatedBus::attach(const Guid &interfaceClass, const std::string &path,
                                std::shared_ptr<VirtualDevice> device)
{
    const std::string full = fullPath(path);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slots.erase(std::remove_if(m_slots.begin(), m_slots.end(),
                                 [&](const Slot &s) { return s.path == full; }),
                  m_slots.end());
    m_slots.push_back(Slot{interfaceClass, full, std::move(device), ++m_generation});
    return full;
}

void EmulatedBus::detach(const std::string &path)
{
    const std::string full = fullPath(path);
    std::shared_ptr<VirtualDevice> dropped;  // destroyed after the lock is released
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_slots.begin(); it != m_slots.end(); ++it) {
        if (it->path == full) {
            dropped = std::move(it->device);
            m_slots.erase(it);
            break;
        }
    }
}

void EmulatedBus::reset()
{
    std::vector<Slot> dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    dropped.swap(m_slots);
    m_openFails.clear();
    m_openDenied.clear();
    m_notices.clear();
    m_unreadable.clear();
    m_faults.clear();
    m_counts.clear();
    m_total = 0;
    m_recording = false;
    m_record.clear();
}

void EmulatedBus::setOpenFails(const std::string &path, bool fails)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openFails[fullPath(path)] = fails;
}

void EmulatedBus::setOpenDenied(const std::string &path, bool denied)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (denied)
        m_openDenied.emplace(fullPath(path), false);
    else
        m_openDenied.erase(fullPath(path));
}

std::vector<std::string> EmulatedBus::takeAccessNotices()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_notices, {});
}

void EmulatedBus::setPathUnreadable(const std::string &path, bool unreadable)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unreadable[fullPath(path)] = unreadable;
}

void EmulatedBus::addFault(const Fault &fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ArmedFault armed{fault, 0};
    if (!armed.fault.path.empty())
        armed.fault.path = fullPath(armed.fault.path);
    m_faults.push_back(armed);
}

void EmulatedBus::clearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

uint64_t EmulatedBus::transferCount(const std::string &path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (path.empty())
        return m_total;
    const auto it = m_counts.find(fullPath(path));
    return it == m_counts.end() ? 0 : it->second;
}

void EmulatedBus::resetCounters()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counts.clear();
    m_total = 0;
}

void EmulatedBus::setRecording(bool enabled)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recording = enabled;
}

std::vector<BusRecord> EmulatedBus::takeRecord()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<BusRecord> record;
    record.swap(m_record);
    return record;
}

int EmulatedBus::openHandles() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_openHandles;
}

std::shared_ptr<VirtualDevice> EmulatedBus::deviceAt(const std::string &path) const
{
    const std::string full = fullPath(path);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Slot &slot : m_slots) {
        if (slot.path == full)
            return slot.device;
    }
    return nullptr;
}

std::shared_ptr<VirtualDevice> EmulatedBus::liveDevice(const std::string &path,
                                                       uint64_t generation) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Slot &slot : m_slots) {
        if (slot.path == path && slot.generation == generation)
            return slot.device;
    }
    return nullptr;
}

void EmulatedBus::handleClosed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_openHandles;
}

Transfer EmulatedBus::transfer(const std::string &path, uint64_t generation,
                               const SetupPacket *setup, uint8_t pipeId, uint8_t *data,
                               std::size_t length)
{
    std::shared_ptr<VirtualDevice> device;
    std::shared_ptr<VirtualDevice> unplugged;  // released after the lock
    std::optional<Transfer> forced;
    std::optional<std::size_t> shortenTo;
    bool recording = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_total;
        ++m_counts[path];
        for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
            if (!it->fault.path.empty() && it->fault.path != path)
                continue;
            if (++it->seen != it->fault.atTransfer)
                continue;
            const Fault fired = it->fault;
            m_faults.erase(it);
            switch (fired.kind) {
            case FaultKind::Fail: forced = Transfer::failure(Outcome::IoError); break;
            case FaultKind::Timeout: forced = Transfer::failure(Outcome::Timeout); break;
            case FaultKind::Shorten: shortenTo = fired.shortenTo; break;
            case FaultKind::Unplug:
                for (auto slot = m_slots.begin(); slot != m_slots.end(); ++slot) {
                    if (slot->path == path) {
                        unplugged = std::move(slot->device);
                        m_slots.erase(slot);
                        break;
                    }
                }
                break;
            }
            break;  // one fault per transfer
        }
        if (!forced) {
            for (const Slot &slot : m_slots) {
                if (slot.path == path && slot.generation == generation) {
                    device = slot.device;
                    break;
                }
            }
            if (!device)
                forced = Transfer::failure(Outcome::NoDevice);
        }
        recording = m_recording;
    }

    BusRecord record;
    if (recording) {
        record.path = path;
        record.bulk = setup == nullptr;
        if (setup)
            record.setup = *setup;
        record.pipeId = pipeId;
        if (setup && !setup->isIn() && data)
            record.out.assign(data, data + length);
    }

    Transfer result;
    if (forced) {
        result = *forced;
    } else {
        const bool in = setup == nullptr || setup->isIn();
        if (shortenTo && in && data) {
            // A short IN transfer leaves the rest of the caller's buffer untouched.
            std::vector<uint8_t> scratch(length);
            if (setup)
                result = device->control(*setup, scratch.data());
            else
                result = device->bulkRead(pipeId, scratch.data(), length);
            result.transferred = std::min(result.transferred, *shortenTo);
            std::memcpy(data, scratch.data(), result.transferred);
        } else {
            result = setup ? device->control(*setup, data) : device->bulkRead(pipeId, data, length);
            if (shortenTo)
                result.transferred = std::min(result.transferred, *shortenTo);
        }
    }
    if (!result.ok() && result.systemError == 0)
        result.systemError = windowsErrorOf(result.outcome);

    if (recording) {
        record.result = result;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_record.push_back(std::move(record));
    }
    return result;
}

} // namespace usb
