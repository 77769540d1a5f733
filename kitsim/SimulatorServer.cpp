// The poll loop of kitsim: socket, connections and standard input. A device that is unplugged
// drops the connections opened on it, so its clients see it vanish as a real device would.
#include "SimulatorServer.h"

#include "SimulatorConnection.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Bulk reads are served in pieces of at most this size; a device never sends more at once.
constexpr std::size_t maxBulkRead = 0x10000;
// Beyond this many open connections new ones are refused (closed at once).
constexpr std::size_t maxConnections = 256;
constexpr int sendTimeoutMs = 1000;

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

bool fillAddress(const std::string &path, sockaddr_un *address)
{
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, path.data(), path.size());
    return true;
}

} // namespace

SimulatorServer::SimulatorServer(std::string socketPath) : m_socketPath(std::move(socketPath)) {}

SimulatorServer::~SimulatorServer()
{
    for (Connection &connection : m_connections)
        drop(connection);
    removeSocket();
}

void SimulatorServer::addDevice(const std::string &key, const usb::Guid &interfaceClass,
                                const std::string &path, std::shared_ptr<usb::VirtualDevice> device)
{
    m_devices.push_back(Entry{key, interfaceClass, path, std::move(device), true});
}

bool SimulatorServer::listen(std::string *error)
{
    sockaddr_un address;
    if (!fillAddress(m_socketPath, &address)) {
        *error = "socket path " + m_socketPath + " is too long";
        return false;
    }

    struct stat existing {};
    if (::lstat(m_socketPath.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            *error = m_socketPath + " exists and is not a socket";
            return false;
        }
        if (usb::SimulatorConnection::connect(m_socketPath)) {
            *error = "another simulator is serving " + m_socketPath;
            return false;
        }
        ::unlink(m_socketPath.c_str());  // left by a simulator that did not exit cleanly
    }

    // Bound under a temporary name and renamed once listening, so that a client never finds a
    // socket that refuses it.
    const std::size_t slash = m_socketPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : m_socketPath.substr(0, slash);
    const std::string temporary = folder + "/.kitsim-" + std::to_string(::getpid());
    sockaddr_un temporaryAddress;
    if (!fillAddress(temporary, &temporaryAddress)) {
        *error = "socket path " + temporary + " is too long";
        return false;
    }

    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        *error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    ::unlink(temporary.c_str());
    const bool ok = ::bind(m_listenFd, reinterpret_cast<const sockaddr *>(&temporaryAddress),
                           sizeof temporaryAddress) == 0
                    && ::chmod(temporary.c_str(), 0600) == 0  // this user's programs only
                    && ::listen(m_listenFd, 16) == 0
                    && ::rename(temporary.c_str(), m_socketPath.c_str()) == 0;
    struct stat created {};
    if (!ok || ::lstat(m_socketPath.c_str(), &created) != 0) {
        *error = "cannot listen on " + m_socketPath + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        ::close(m_listenFd);
        m_listenFd = -1;
        return false;
    }
    m_socketDevice = created.st_dev;
    m_socketInode = created.st_ino;
    return true;
}

void SimulatorServer::removeSocket()
{
    if (m_listenFd < 0)
        return;
    ::close(m_listenFd);
    m_listenFd = -1;
    // Only our own socket: another simulator may have taken the path over since.
    struct stat current {};
    if (::lstat(m_socketPath.c_str(), &current) == 0 && current.st_dev == m_socketDevice
        && current.st_ino == m_socketInode)
        ::unlink(m_socketPath.c_str());
}

void SimulatorServer::run(int inputFd, int stopFd)
{
    std::string pending;
    bool inputOpen = inputFd >= 0;
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({m_listenFd, POLLIN, 0});
        fds.push_back({inputOpen ? inputFd : -1, POLLIN, 0});
        for (const Connection &connection : m_connections)
            fds.push_back({connection.fd, POLLIN, 0});

        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "kitsim: poll failed: %s\n", std::strerror(errno));
            return;
        }
        if (fds[0].revents != 0)
            return;

        const std::size_t served = m_connections.size();
        for (std::size_t i = 0; i < served; ++i) {
            if (fds[3 + i].revents != 0 && m_connections[i].fd >= 0)
                receive(m_connections[i]);
        }
        if (fds[2].revents != 0) {
            char chunk[512];
            const ssize_t n = ::read(inputFd, chunk, sizeof chunk);
            if (n > 0) {
                pending.append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                // End of input (or input from a terminal we run behind): keep serving without it.
                inputOpen = false;
                std::printf("kitsim: no more input; still serving until SIGINT or SIGTERM\n");
                std::fflush(stdout);
            }
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!command(line))
                    return;
            }
        }
        if (fds[1].revents != 0)
            accept();

        m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                           [](const Connection &c) { return c.fd < 0; }),
                            m_connections.end());
    }
}

bool SimulatorServer::command(const std::string &line)
{
    std::istringstream words(line);
    std::string verb, key, extra;
    words >> verb >> key >> extra;
    if (verb.empty())
        return true;
    if (verb == "quit" && key.empty())
        return false;
    if ((verb != "plug" && verb != "unplug") || key.empty() || !extra.empty()) {
        std::fprintf(stderr, "kitsim: unknown command '%s' (plug SERIAL, unplug SERIAL, quit)\n",
                     line.c_str());
        return true;
    }
    const int index = findKey(key);
    if (index < 0) {
        std::fprintf(stderr, "kitsim: no device '%s'\n", key.c_str());
        return true;
    }
    Entry &entry = m_devices[static_cast<std::size_t>(index)];
    const bool plug = verb == "plug";
    if (entry.plugged != plug) {
        entry.plugged = plug;
        if (!plug)
            dropConnectionsOf(index);
    }
    std::printf("kitsim: %s %s\n", plug ? "plugged" : "unplugged", entry.path.c_str());
    std::fflush(stdout);
    return true;
}

int SimulatorServer::findKey(const std::string &key) const
{
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        if (lower(m_devices[i].key) == lower(key))
            return static_cast<int>(i);
    }
    return -1;
}

void SimulatorServer::accept()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;  // nothing more waiting (or the client gave up meanwhile)
        if (m_connections.size() >= maxConnections) {
            ::close(fd);
            continue;
        }
        // A client that stops reading must not stall everyone else.
        timeval tv{sendTimeoutMs / 1000, (sendTimeoutMs % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        Connection connection;
        connection.fd = fd;
        m_connections.push_back(std::move(connection));
    }
}

void SimulatorServer::receive(Connection &connection)
{
    uint8_t chunk[4096];
    const ssize_t n = ::recv(connection.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (n <= 0) {
        drop(connection);
        return;
    }
    connection.input.insert(connection.input.end(), chunk, chunk + n);

    for (;;) {
        usb::SimulatorMessage request;
        std::size_t consumed = 0;
        const usb::SimulatorDecode decoded = usb::decodeSimulatorFrame(
            connection.input.data(), connection.input.size(), &request, &consumed);
        if (decoded == usb::SimulatorDecode::Incomplete)
            return;
        if (decoded == usb::SimulatorDecode::Malformed || !serve(connection, request)) {
            drop(connection);
            return;
        }
        connection.input.erase(connection.input.begin(),
                               connection.input.begin() + static_cast<std::ptrdiff_t>(consumed));
    }
}

bool SimulatorServer::serve(Connection &connection, const usb::SimulatorMessage &request)
{
    using Kind = usb::SimulatorMessageKind;
    using usb::SimulatorMessage;

    if (request.kind == Kind::List) {
        std::vector<std::string> paths;
        for (const Entry &entry : m_devices) {
            if (entry.plugged && entry.interfaceClass == request.interfaceClass)
                paths.push_back(entry.path);
        }
        return send(connection, SimulatorMessage::pathList(std::move(paths)));
    }
    if (request.kind == Kind::Open) {
        if (connection.device >= 0)
            return false;  // one device per connection
        for (std::size_t i = 0; i < m_devices.size(); ++i) {
            if (m_devices[i].plugged && m_devices[i].path == request.path) {
                connection.device = static_cast<int>(i);
                return send(connection, SimulatorMessage::status(usb::Outcome::Ok));
            }
        }
        return send(connection, SimulatorMessage::status(usb::Outcome::NoDevice));
    }

    // Everything else is a transfer on the opened device; unplugging it closed the connection.
    if (connection.device < 0)
        return false;
    usb::VirtualDevice &device = *m_devices[static_cast<std::size_t>(connection.device)].device;
    switch (request.kind) {
    case Kind::Pipes:
        return send(connection, SimulatorMessage::pipeList(usb::Outcome::Ok, device.pipes()));
    case Kind::PipeTimeout: {
        // As WinUSB refuses a policy on a pipe the interface does not have.
        const std::vector<usb::PipeInfo> pipes = device.pipes();
        const bool known = std::any_of(pipes.begin(), pipes.end(),
                                       [&](const usb::PipeInfo &p) { return p.id == request.pipeId; });
        return send(connection, SimulatorMessage::status(known ? usb::Outcome::Ok : usb::Outcome::IoError));
    }
    case Kind::Control: {
        std::vector<uint8_t> buffer(request.setup.length, 0);
        if (!request.setup.isIn())
            std::copy(request.data.begin(), request.data.end(), buffer.begin());
        const usb::Transfer result = device.control(request.setup, buffer.data());
        const std::size_t moved = result.ok() ? std::min<std::size_t>(result.transferred, buffer.size()) : 0;
        std::vector<uint8_t> in;
        if (request.setup.isIn())
            in.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(moved));
        return send(connection, SimulatorMessage::controlDone(result.outcome,
                                                              static_cast<uint32_t>(moved), std::move(in)));
    }
    case Kind::BulkRead: {
        std::vector<uint8_t> buffer(std::min<std::size_t>(request.value, maxBulkRead));
        const usb::Transfer result = device.bulkRead(request.pipeId, buffer.data(), buffer.size());
        buffer.resize(result.ok() ? std::min(result.transferred, buffer.size()) : 0);
        return send(connection, SimulatorMessage::bulkData(result.outcome, std::move(buffer)));
    }
    default:
        return false;  // a reply kind sent as a request
    }
}

bool SimulatorServer::send(Connection &connection, const usb::SimulatorMessage &reply)
{
    const std::vector<uint8_t> frame = usb::encodeSimulatorFrame(reply);
    if (frame.empty())
        return false;
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(connection.fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;  // the client went away or stopped reading
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void SimulatorServer::drop(Connection &connection)
{
    if (connection.fd >= 0) {
        ::close(connection.fd);
        connection.fd = -1;
    }
    connection.input.clear();
}

void SimulatorServer::dropConnectionsOf(int device)
{
    for (Connection &connection : m_connections) {
        if (connection.device == device)
            drop(connection);
    }
}
