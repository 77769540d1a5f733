// Unix-domain stream socket to the simulator. Sends never raise SIGPIPE; every wait has a deadline.
#include "SimulatorConnection.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace usb {

namespace {

using Clock = std::chrono::steady_clock;

void setTimeout(int fd, int option, int milliseconds)
{
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The socket is this user's own: a socket file that only its owner, this user, may connect to
// (another local user could otherwise create it first, in /tmp, and serve fake modules).
bool trustedSocketFile(const std::string &socketPath)
{
    struct stat status{};
    return ::lstat(socketPath.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The process listening behind it runs as this user too.
bool trustedPeer(int fd)
{
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && length == sizeof peer &&
           peer.uid == ::geteuid();
}

} // namespace

std::unique_ptr<SimulatorConnection> SimulatorConnection::connect(const std::string &socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return nullptr;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    if (!trustedSocketFile(socketPath))
        return nullptr;

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    // The send time-out also bounds connect() when the simulator's backlog is full.
    setTimeout(fd, SO_SNDTIMEO, timeoutMs);
    setTimeout(fd, SO_RCVTIMEO, timeoutMs);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || !trustedPeer(fd)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SimulatorConnection>(new SimulatorConnection(fd));
}

SimulatorConnection::~SimulatorConnection()
{
    close();
}

void SimulatorConnection::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

Outcome SimulatorConnection::exchange(const SimulatorMessage &request,
                                      SimulatorMessageKind expected, SimulatorMessage *reply)
{
    if (m_fd < 0)
        return Outcome::NoDevice;
    const std::vector<uint8_t> frame = encodeSimulatorFrame(request);
    if (frame.empty())
        return Outcome::IoError;  // nothing was sent: the connection stays usable

    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(m_fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const bool timedOut = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            close();
            return timedOut ? Outcome::Timeout : Outcome::NoDevice;
        }
        sent += static_cast<std::size_t>(n);
    }

    // One reply per request: bytes beyond it would mean the two sides are out of step.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> buffer;
    for (;;) {
        std::size_t consumed = 0;
        const SimulatorDecode decoded = decodeSimulatorFrame(buffer.data(), buffer.size(), reply,
                                                             &consumed);
        if (decoded == SimulatorDecode::Complete && consumed == buffer.size()
            && reply->kind == expected)
            return Outcome::Ok;
        if (decoded != SimulatorDecode::Incomplete) {
            close();
            return Outcome::IoError;
        }

        pollfd pfd{m_fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            close();
            return ready == 0 ? Outcome::Timeout : Outcome::IoError;
        }
        uint8_t chunk[4096];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0) {
            // Closed by the simulator (device unplugged, simulator gone) or reset.
            close();
            return Outcome::NoDevice;
        }
        buffer.insert(buffer.end(), chunk, chunk + n);
    }
}

} // namespace usb
