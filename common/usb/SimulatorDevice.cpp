// Device calls turned into simulator requests; replies are checked against what was asked before
// any byte reaches the caller's buffer.
#include "SimulatorDevice.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace usb {

SimulatorDevice::SimulatorDevice(std::unique_ptr<SimulatorConnection> connection)
    : m_connection(std::move(connection))
{
}

Outcome SimulatorDevice::exchange(const SimulatorMessage &request, SimulatorMessageKind expected,
                                  SimulatorMessage *reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connection->exchange(request, expected, reply);
}

std::optional<std::vector<PipeInfo>> SimulatorDevice::pipes()
{
    SimulatorMessage reply;
    if (exchange(SimulatorMessage::pipesQuery(), SimulatorMessageKind::PipeList, &reply) != Outcome::Ok
        || reply.outcome != Outcome::Ok)
        return std::nullopt;
    return std::move(reply.pipes);
}

std::optional<int> SimulatorDevice::endpointCount()
{
    const std::optional<std::vector<PipeInfo>> list = pipes();
    if (!list)
        return std::nullopt;
    return static_cast<int>(list->size());
}

std::optional<PipeInfo> SimulatorDevice::queryPipe(int index)
{
    const std::optional<std::vector<PipeInfo>> list = pipes();
    if (!list || index < 0 || static_cast<std::size_t>(index) >= list->size())
        return std::nullopt;
    return (*list)[static_cast<std::size_t>(index)];
}

Outcome SimulatorDevice::setPipeTimeout(uint8_t pipeId, uint32_t milliseconds)
{
    SimulatorMessage reply;
    const Outcome outcome = exchange(SimulatorMessage::pipeTimeout(pipeId, milliseconds),
                                     SimulatorMessageKind::Status, &reply);
    return outcome == Outcome::Ok ? reply.outcome : outcome;
}

Transfer SimulatorDevice::control(const SetupPacket &setup, uint8_t *data)
{
    if (setup.length > 0 && data == nullptr)
        return Transfer::failure(Outcome::IoError);
    std::vector<uint8_t> out;
    if (!setup.isIn())
        out.assign(data, data + setup.length);

    SimulatorMessage reply;
    const Outcome outcome = exchange(SimulatorMessage::control(setup, std::move(out)),
                                     SimulatorMessageKind::ControlDone, &reply);
    if (outcome != Outcome::Ok)
        return Transfer::failure(outcome);
    // A reply that claims more than the data stage holds is refused rather than trusted.
    const std::size_t expectedData = setup.isIn() ? reply.value : 0;
    if (reply.value > setup.length || reply.data.size() != expectedData)
        return Transfer::failure(Outcome::IoError);
    if (reply.outcome != Outcome::Ok)
        return Transfer::failure(reply.outcome);
    if (setup.isIn() && !reply.data.empty())
        std::memcpy(data, reply.data.data(), reply.data.size());
    return Transfer::success(reply.value);
}

Transfer SimulatorDevice::bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length)
{
    const auto wanted = static_cast<uint32_t>(
        std::min<std::size_t>(length, std::numeric_limits<uint32_t>::max()));
    SimulatorMessage reply;
    const Outcome outcome = exchange(SimulatorMessage::bulkRead(pipeId, wanted),
                                     SimulatorMessageKind::BulkData, &reply);
    if (outcome != Outcome::Ok)
        return Transfer::failure(outcome);
    if (reply.data.size() > length)
        return Transfer::failure(Outcome::IoError);
    if (reply.outcome != Outcome::Ok)
        return Transfer::failure(reply.outcome);
    if (!reply.data.empty())
        std::memcpy(data, reply.data.data(), reply.data.size());
    return Transfer::success(reply.data.size());
}

} // namespace usb
