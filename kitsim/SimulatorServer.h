// kitsim's side of the simulator socket: the table of served devices with their plugged state, one
// connection per client (a listing, or one opened device), and the lines of standard input that
// plug and unplug devices. Single-threaded: one poll loop serves everything.
#pragma once

#include "EmulatedBus.h"
#include "SimulatorProtocol.h"

#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

class SimulatorServer {
public:
    explicit SimulatorServer(std::string socketPath);
    ~SimulatorServer();
    SimulatorServer(const SimulatorServer &) = delete;
    SimulatorServer &operator=(const SimulatorServer &) = delete;

    // A device served under `path` and listed under `interfaceClass`, plugged at start. `key` names
    // it on standard input (compared without regard to letter case).
    void addDevice(const std::string &key, const usb::Guid &interfaceClass, const std::string &path,
                   std::shared_ptr<usb::VirtualDevice> device);

    // Creates the socket. A file left at the socket path by a simulator that is gone is removed;
    // false, with the reason in *error, when another simulator answers there, the path is not a
    // socket, or the socket cannot be made. The socket appears only once it accepts connections.
    bool listen(std::string *error);

    // Serves until a "quit" line on `inputFd` (-1: no input) or anything readable on `stopFd`. End
    // of input is not a reason to stop.
    void run(int inputFd, int stopFd);

    // Runs one line of input: "unplug KEY", "plug KEY" or "quit". False for quit.
    bool command(const std::string &line);

private:
    struct Entry {
        std::string key;
        usb::Guid interfaceClass;
        std::string path;
        std::shared_ptr<usb::VirtualDevice> device;
        bool plugged = true;
    };
    struct Connection {
        int fd = -1;
        std::vector<uint8_t> input;
        int device = -1;  // entry index once a device is opened on it
    };

    void accept();
    void receive(Connection &connection);
    // Answers one request; false when the connection must be dropped.
    bool serve(Connection &connection, const usb::SimulatorMessage &request);
    bool send(Connection &connection, const usb::SimulatorMessage &reply);
    void drop(Connection &connection);
    void dropConnectionsOf(int device);
    int findKey(const std::string &key) const;
    void removeSocket();

    std::string m_socketPath;
    int m_listenFd = -1;
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    std::vector<Entry> m_devices;
    std::vector<Connection> m_connections;
};
