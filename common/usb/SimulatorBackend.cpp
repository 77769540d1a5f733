// Listing and opening through the simulator's socket: a short-lived connection for each listing,
// and one connection for the life of each opened device.
#include "SimulatorBackend.h"

#include "SimulatorConnection.h"
#include "SimulatorDevice.h"

#include <cstdlib>

#include <unistd.h>

namespace usb {

std::string SimulatorBackend::socketPath()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/korvane-kitsim.sock";
    return "/tmp/korvane-kitsim-" + std::to_string(getuid()) + ".sock";
}

std::vector<std::string> SimulatorBackend::listPaths(const Guid &interfaceClass)
{
    const std::unique_ptr<SimulatorConnection> connection = SimulatorConnection::connect(socketPath());
    if (!connection)
        return {};
    SimulatorMessage reply;
    if (connection->exchange(SimulatorMessage::list(interfaceClass), SimulatorMessageKind::Paths,
                             &reply)
        != Outcome::Ok)
        return {};
    // Only paths that lead back here are handed out.
    std::vector<std::string> paths;
    for (std::string &path : reply.paths) {
        if (ownsPath(path))
            paths.push_back(std::move(path));
    }
    return paths;
}

bool SimulatorBackend::ownsPath(const std::string &path) const
{
    return path.rfind(pathPrefix, 0) == 0;
}

std::unique_ptr<Device> SimulatorBackend::open(const std::string &path, Outcome *outcome)
{
    Outcome result = Outcome::NoDevice;
    std::unique_ptr<Device> device;
    if (std::unique_ptr<SimulatorConnection> connection = SimulatorConnection::connect(socketPath())) {
        SimulatorMessage reply;
        result = connection->exchange(SimulatorMessage::open(path), SimulatorMessageKind::Status, &reply);
        if (result == Outcome::Ok)
            result = reply.outcome;
        if (result == Outcome::Ok)
            device = std::make_unique<SimulatorDevice>(std::move(connection));
    }
    if (outcome)
        *outcome = result;
    return device;
}

} // namespace usb
