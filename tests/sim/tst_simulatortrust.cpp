// Trust in the simulator's socket: a connection is made only to a socket file of this user that no
// one else may write, and kept only when the process listening behind it runs as this user. Sockets
// of another user are made by changing owners, so those cases need root (skipped otherwise).
#include "SimulatorConnection.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t otherUser = 65534;   // nobody

// A socket bound at `path` (mode as given), listening unless `listening` is false; -1 on failure.
int boundSocket(const std::string &path, mode_t mode, bool listening = true)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), mode) != 0 || (listening && ::listen(fd, 4) != 0)) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// True when a client is waiting to be accepted on the listening socket.
bool pendingConnection(int fd)
{
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, 0) == 1;
}

} // namespace

class TestSimulatorTrust : public QObject {
    Q_OBJECT

private slots:
    void init();
    void ownPrivateSocketIsTrusted();
    void socketOthersMayWriteIsRefused_data();
    void socketOthersMayWriteIsRefused();
    void socketOfAnotherUserIsRefused();
    void listenerOfAnotherUserIsRefused();
    void notASocketIsRefused();

private:
    std::string socketPath() const { return m_dir->filePath("kitsim.sock").toStdString(); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSimulatorTrust::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The folder must let the other user through for the cases that change owners.
    QVERIFY(::chmod(m_dir->path().toLocal8Bit().constData(), 0755) == 0);
}

void TestSimulatorTrust::ownPrivateSocketIsTrusted()
{
    const int server = boundSocket(socketPath(), 0600);
    QVERIFY(server >= 0);
    QVERIFY(usb::SimulatorConnection::connect(socketPath()));
    QVERIFY(pendingConnection(server));
    ::close(server);
}

void TestSimulatorTrust::socketOthersMayWriteIsRefused_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("everyone") << 0666;
    QTest::newRow("group") << 0620;
    QTest::newRow("others only") << 0602;
}

void TestSimulatorTrust::socketOthersMayWriteIsRefused()
{
    QFETCH(int, mode);
    const int server = boundSocket(socketPath(), mode_t(mode));
    QVERIFY(server >= 0);
    QVERIFY(!usb::SimulatorConnection::connect(socketPath()));
    // Refused before connecting: the fake simulator never even saw the client.
    QVERIFY(!pendingConnection(server));
    ::close(server);
}

void TestSimulatorTrust::socketOfAnotherUserIsRefused()
{
    const int server = boundSocket(socketPath(), 0600);
    QVERIFY(server >= 0);
    if (::lchown(socketPath().c_str(), otherUser, otherUser) != 0) {
        ::close(server);
        QSKIP("changing the socket's owner needs root");
    }
    QVERIFY(!usb::SimulatorConnection::connect(socketPath()));
    QVERIFY(!pendingConnection(server));
    ::close(server);
}

void TestSimulatorTrust::listenerOfAnotherUserIsRefused()
{
    if (::geteuid() != 0)
        QSKIP("listening as another user needs root");
    // The file is this user's, but the process that listens on it is not.
    const int server = boundSocket(socketPath(), 0600, false);
    QVERIFY(server >= 0);
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t child = ::fork();
    if (child == 0) {
        char byte = 0;
        const bool ok = ::setresgid(otherUser, otherUser, otherUser) == 0 &&
                        ::setresuid(otherUser, otherUser, otherUser) == 0 && ::listen(server, 4) == 0;
        byte = ok ? 1 : 0;
        (void)!::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    QVERIFY(child > 0);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1 && byte == 1;
    const bool connected = started && usb::SimulatorConnection::connect(socketPath()) != nullptr;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    ::close(server);
    QVERIFY(started);
    QVERIFY(!connected);
}

void TestSimulatorTrust::notASocketIsRefused()
{
    QFile file(QString::fromStdString(socketPath()));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(!usb::SimulatorConnection::connect(socketPath()));
    // Nor a link to this user's own socket, which another user could have planted.
    QVERIFY(file.remove());
    const std::string target = m_dir->filePath("real.sock").toStdString();
    const int server = boundSocket(target, 0600);
    QVERIFY(server >= 0);
    QVERIFY(::symlink(target.c_str(), socketPath().c_str()) == 0);
    QVERIFY(!usb::SimulatorConnection::connect(socketPath()));
    QVERIFY(!pendingConnection(server));
    ::close(server);
}

QTEST_GUILESS_MAIN(TestSimulatorTrust)
#include "tst_simulatortrust.moc"
