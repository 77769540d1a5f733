// The kit simulator as a source of devices: when its socket exists and answers, the devices it
// serves are listed under their interface classes with paths of the form "sim:...", and opened
// devices talk to it over the socket. Absent on Windows.
//
// The socket is "$XDG_RUNTIME_DIR/korvane-kitsim.sock", or "/tmp/korvane-kitsim-<uid>.sock" when
// XDG_RUNTIME_DIR is unset or empty.
#pragma once

#include "UsbBackend.h"

namespace usb {

class SimulatorBackend final : public Backend {
public:
    static constexpr const char *pathPrefix = "sim:";

    // Where the simulator listens, for this user and session.
    static std::string socketPath();

    const char *name() const override { return "simulator"; }
    // Empty when no simulator answers (listing costs one failed connect then).
    std::vector<std::string> listPaths(const Guid &interfaceClass) override;
    bool ownsPath(const std::string &path) const override;
    // NoDevice when no simulator answers or it serves no such device.
    std::unique_ptr<Device> open(const std::string &path, Outcome *outcome = nullptr) override;
};

} // namespace usb
