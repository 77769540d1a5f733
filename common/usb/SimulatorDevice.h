// A device served by the kit simulator: each opened device has a connection of its own, and every
// pipe query and transfer is one request and reply on it. Once the simulator closes the connection
// (device unplugged, simulator gone) every call fails with NoDevice.
#pragma once

#include "SimulatorConnection.h"
#include "UsbDevice.h"

#include <memory>
#include <mutex>

namespace usb {

class SimulatorDevice final : public Device {
public:
    explicit SimulatorDevice(std::unique_ptr<SimulatorConnection> connection);

    std::optional<int> endpointCount() override;
    std::optional<PipeInfo> queryPipe(int index) override;
    Outcome setPipeTimeout(uint8_t pipeId, uint32_t milliseconds) override;
    Transfer control(const SetupPacket &setup, uint8_t *data) override;
    Transfer bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length) override;

private:
    std::optional<std::vector<PipeInfo>> pipes();
    Outcome exchange(const SimulatorMessage &request, SimulatorMessageKind expected,
                     SimulatorMessage *reply);

    // Handles are shared by the threads of a program; a request and its reply must not interleave
    // with another's.
    std::mutex m_mutex;
    std::unique_ptr<SimulatorConnection> m_connection;
};

} // namespace usb
