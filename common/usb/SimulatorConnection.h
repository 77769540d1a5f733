// One client connection to the kit simulator's local socket: request out, one reply back, each
// bounded in time, so that a simulator that stops answering or goes away never blocks the caller.
#pragma once

#include "SimulatorProtocol.h"

#include <memory>
#include <string>
#include <vector>

namespace usb {

class SimulatorConnection {
public:
    // Longest wait for the connection, a request to be taken or a reply to arrive.
    static constexpr int timeoutMs = 3000;

    // Connects to the socket at `socketPath`; null when nothing listens there (no file, a stale
    // file, a path too long for a socket address), and null when the socket is not this user's
    // own: its file must belong to this user and be writable by no one else, and the process
    // listening on it must run as this user. Cheap when the file does not exist.
    static std::unique_ptr<SimulatorConnection> connect(const std::string &socketPath);
    ~SimulatorConnection();
    SimulatorConnection(const SimulatorConnection &) = delete;
    SimulatorConnection &operator=(const SimulatorConnection &) = delete;

    // Sends `request` and waits for the reply, which must be of the `expected` kind. Ok with *reply
    // set; Timeout when the simulator did not answer in time; NoDevice when the connection is
    // closed or broke; IoError when the reply is malformed or of another kind (the two sides are
    // then out of step). After any failure the connection is closed and later exchanges give
    // NoDevice.
    Outcome exchange(const SimulatorMessage &request, SimulatorMessageKind expected,
                     SimulatorMessage *reply);

private:
    explicit SimulatorConnection(int fd) : m_fd(fd) {}
    void close();

    int m_fd;
};

} // namespace usb
