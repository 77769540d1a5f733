// The real libusb backend against devices behind the kernel's USB file system, played by the usbfs
// bridge under umockdev: enumeration by MS OS 2.0 and 1.0 descriptors, opening and claiming, time-
// outs, stalls, unplugging and replugging, two threads on one handle, and the probing rules (only
// vendor-specific devices are asked, once; failed probes are retried; a listing waits on at most
// one silent request; a stale path opens nothing; MS OS 1.0 needs a WINUSB compat ID; devices this
// user may not open are reported once).
#include "KitDeclarations.h"
#include "LibusbBackend.h"
#include "UmockdevTestMain.h"
#include "VirtualModule.h"
#include "VirtualReceptor.h"

#include <libusb.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using usb::LibusbBackend;
using Action = UsbfsBridge::Action;
using Request = UsbfsBridge::Request;
using Paths = std::vector<std::string>;

namespace {

LibusbBackend::Options quickOptions()
{
    LibusbBackend::Options options;
    options.probeTimeoutMs = 100;
    options.declarationsPath = "/nonexistent/korvane-usb-devices";
    return options;
}

bool isVendor(const Request &r) { return r.control && (r.setup.requestType & 0x60) == 0x40; }
bool isStringEE(const Request &r) { return r.control && r.setup.request == 0x06 && r.setup.value == 0x03EE; }
bool isBos(const Request &r) { return r.control && r.setup.request == 0x06 && (r.setup.value >> 8) == 0x0F; }

int countOf(const std::vector<Request> &requests, bool (*match)(const Request &))
{
    return static_cast<int>(std::count_if(requests.begin(), requests.end(), match));
}

usb::SetupPacket vendorIn(uint8_t request, uint16_t length, uint16_t index = 0)
{
    usb::SetupPacket setup;
    setup.requestType = 0xC0;
    setup.request = request;
    setup.index = index;
    setup.length = length;
    return setup;
}

// Gives up (or takes back) this thread's power to open files whatever their mode, so that a
// device node of mode 0000 refuses root as it refuses a user without access.
bool setDacOverride(bool enabled)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const uint32_t bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    if (enabled)
        data[0].effective |= bits & data[0].permitted;
    else
        data[0].effective &= ~bits;
    return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

class TestLibusbUmockdev : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void listsReceptorByMsOs20AndModuleByMsOs10();
    void asksOnlyVendorDevicesAndOnlyOnce();
    void moduleWithoutWinUsbCompatIdIsNotListed();
    void declaredDeviceIsListedWithoutRequests();
    void failedProbeIsRetriedLater();
    void failingDeviceIsGivenUpAfterThreeProbes();
    void listingWaitsOnOneSilentRequestAtMost();
    void deviceThisUserMayNotOpenIsReportedOnce();

    void opensAndClaimsTheInterface();
    void controlAndBulkTransfersReachTheDevice();
    void silentRequestTimesOut();
    void stalledRequestIsAnIoError();
    void unplugDuringTransferEndsWithNoDevice();
    void replugGetsNewAddressAndStalePathOpensNothing();
    void twoThreadsShareOneHandle();

private:
    int plug(uint8_t port, DeviceDescriptors descriptors, std::shared_ptr<usb::VirtualDevice> device = nullptr)
    {
        const int address = m_bridge->plug(port, std::move(descriptors), std::move(device));
        m_plugged.push_back(address);
        return address;
    }
    void unplug(int address)
    {
        m_bridge->unplug(address);
        m_plugged.erase(std::find(m_plugged.begin(), m_plugged.end(), address));
    }
    // Devices libusb knows on the test bed (the root hub included).
    int libusbDevices()
    {
        libusb_device **list = nullptr;
        const ssize_t count = libusb_get_device_list(m_context, &list);
        libusb_free_device_list(list, 1);
        return static_cast<int>(count);
    }
    // Waits until libusb has taken in every plug and unplug.
    void settle()
    {
        const int expected = 1 + static_cast<int>(m_plugged.size());
        QTRY_COMPARE_WITH_TIMEOUT(libusbDevices(), expected, 5000);
    }
    int receptorAt(uint8_t port)
    {
        auto receptor = std::make_shared<VirtualReceptor>();
        m_receptor = receptor;
        return plug(port, kitdescriptors::receptor(receptor->pipes(), usb::kitReceptorClass()), receptor);
    }
    // The device plugged at port 1, listed and opened once libusb has taken it in.
    std::unique_ptr<usb::Device> openAtPort1(LibusbBackend &backend, const usb::Guid &interfaceClass)
    {
        settle();
        backend.listPaths(interfaceClass);
        return backend.open("usb:1-1:0");
    }
    int moduleAt(uint8_t port, const std::string &compatibleId = "WINUSB")
    {
        auto module = std::make_shared<VirtualModule>();
        m_module = module;
        return plug(port, kitdescriptors::module(module->pipes(), usb::kitModuleClass(), compatibleId), module);
    }

    std::unique_ptr<UsbfsBridge> m_bridge;
    libusb_context *m_context = nullptr;
    std::vector<int> m_plugged;
    std::shared_ptr<VirtualReceptor> m_receptor;
    std::shared_ptr<VirtualModule> m_module;
};

void TestLibusbUmockdev::initTestCase()
{
    m_bridge = std::make_unique<UsbfsBridge>();
    QCOMPARE(libusb_init(&m_context), 0);
    QCOMPARE(libusbDevices(), 1);
}

void TestLibusbUmockdev::cleanup()
{
    for (int address : std::vector<int>(m_plugged))
        unplug(address);
    settle();
}

void TestLibusbUmockdev::listsReceptorByMsOs20AndModuleByMsOs10()
{
    receptorAt(1);
    moduleAt(2);
    plug(3, kitdescriptors::keyboard());
    settle();

    LibusbBackend backend(quickOptions());
    QCOMPARE(backend.listPaths(usb::kitReceptorClass()), Paths{"usb:1-1:0"});
    QCOMPARE(backend.listPaths(usb::kitModuleClass()), Paths{"usb:1-2:0"});
    const auto other = usb::Guid::parse("{5C0F3D2E-9A41-4B7E-8E22-61D0B7A94C13}");
    QCOMPARE(backend.listPaths(*other), Paths{});
}

void TestLibusbUmockdev::asksOnlyVendorDevicesAndOnlyOnce()
{
    const int receptor = receptorAt(1);
    const int module = moduleAt(2);
    const int keyboard = plug(3, kitdescriptors::keyboard());
    settle();

    LibusbBackend backend(quickOptions());
    for (int i = 0; i < 4; ++i)
        QCOMPARE(backend.listPaths(usb::kitReceptorClass()).size(), std::size_t(1));

    // Never opened, never asked anything.
    QCOMPARE(m_bridge->opens(keyboard), 0);
    QCOMPARE(m_bridge->ioctls(keyboard), 0);
    // The receptor: BOS header, BOS, descriptor set, once. The module: 0xEE string, compat ID
    // header and whole, extended properties header and whole, once; never the receptor's requests.
    const std::vector<Request> receptorRequests = m_bridge->requests(receptor);
    QCOMPARE(receptorRequests.size(), std::size_t(3));
    QCOMPARE(countOf(receptorRequests, isBos), 2);
    QCOMPARE(countOf(receptorRequests, isStringEE), 0);
    const std::vector<Request> moduleRequests = m_bridge->requests(module);
    QCOMPARE(countOf(moduleRequests, isStringEE), 1);
    QCOMPARE(countOf(moduleRequests, isBos), 0);
    QCOMPARE(moduleRequests.size(), std::size_t(5));
    QCOMPARE(m_bridge->opens(receptor), 1);
    QCOMPARE(m_bridge->opens(module), 1);
}

void TestLibusbUmockdev::moduleWithoutWinUsbCompatIdIsNotListed()
{
    // Extended properties alone do not make a WinUSB function.
    const int module = moduleAt(1, "");
    settle();
    LibusbBackend backend(quickOptions());
    QCOMPARE(backend.listPaths(usb::kitModuleClass()), Paths{});
    // Its extended properties were never asked for.
    const std::vector<Request> requests = m_bridge->requests(module);
    QVERIFY(std::none_of(requests.begin(), requests.end(),
                         [](const Request &r) { return r.setup.requestType == 0xC1; }));
}

void TestLibusbUmockdev::declaredDeviceIsListedWithoutRequests()
{
    const int declared = plug(1, kitdescriptors::otherVendorDevice(0x7001), std::make_shared<VirtualModule>());
    const int undeclared = plug(2, kitdescriptors::otherVendorDevice(0x7002));
    settle();
    QTemporaryDir dir;
    const QString file = dir.filePath("usb-devices");
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("# kit devices without MS OS descriptors\n1209:7001 module\n");
    }
    LibusbBackend::Options options = quickOptions();
    options.declarationsPath = file.toStdString();
    LibusbBackend backend(options);
    QCOMPARE(backend.listPaths(usb::kitModuleClass()), Paths{"usb:1-1:0"});
    QCOMPARE(m_bridge->opens(declared), 0);
    QVERIFY(m_bridge->opens(undeclared) > 0);
    // Opened as any module: its bulk pipe is the declared interface's.
    usb::Outcome outcome = usb::Outcome::IoError;
    const auto device = backend.open("usb:1-1:0", &outcome);
    QCOMPARE(outcome, usb::Outcome::Ok);
    QCOMPARE(device->endpointCount(), std::optional<int>(2));
}

void TestLibusbUmockdev::failedProbeIsRetriedLater()
{
    const int receptor = receptorAt(1);
    std::atomic<int> bosRequests{0};
    m_bridge->setScript(receptor, [&bosRequests](const Request &r) {
        return isBos(r) && bosRequests++ == 0 ? Action::Stall : Action::Answer;
    });
    settle();
    LibusbBackend backend(quickOptions());
    QCOMPARE(backend.listPaths(usb::kitReceptorClass()), Paths{});
    QCOMPARE(backend.listPaths(usb::kitReceptorClass()), Paths{"usb:1-1:0"});
    QCOMPARE(backend.listPaths(usb::kitReceptorClass()), Paths{"usb:1-1:0"});
    QCOMPARE(countOf(m_bridge->requests(receptor), isBos), 3);
}

void TestLibusbUmockdev::failingDeviceIsGivenUpAfterThreeProbes()
{
    // A vendor device of another kind stalls the 0xEE string; some firmware does worse with it.
    const int other = plug(1, kitdescriptors::otherVendorDevice(0x7003));
    settle();
    LibusbBackend backend(quickOptions());
    for (int i = 0; i < 6; ++i)
        QCOMPARE(backend.listPaths(usb::kitModuleClass()), Paths{});
    QCOMPARE(countOf(m_bridge->requests(other), isStringEE), 3);
    QCOMPARE(m_bridge->requests(other).size(), std::size_t(3));
}

void TestLibusbUmockdev::listingWaitsOnOneSilentRequestAtMost()
{
    const auto silent = [](const Request &) { return Action::Silent; };
    const int first = plug(1, kitdescriptors::otherVendorDevice(0x7004));
    const int second = plug(2, kitdescriptors::otherVendorDevice(0x7005));
    m_bridge->setScript(first, silent);
    m_bridge->setScript(second, silent);
    receptorAt(3);
    settle();

    LibusbBackend backend(quickOptions());
    int listings = 0;
    int discarded = 0;
    Paths found;
    while (found.empty() && listings < 4) {
        found = backend.listPaths(usb::kitReceptorClass());
        ++listings;
        const int now = m_bridge->discarded(first) + m_bridge->discarded(second);
        QVERIFY2(now - discarded <= 1, "a listing waited on two silent requests");
        discarded = now;
    }
    // The newcomer is probed before a silent device is asked again.
    QCOMPARE(found, Paths{"usb:1-3:0"});
    QVERIFY(listings <= 3);
}

void TestLibusbUmockdev::deviceThisUserMayNotOpenIsReportedOnce()
{
    const int receptor = receptorAt(1);
    m_bridge->setNodeMode(receptor, 0);
    settle();
    LibusbBackend backend(quickOptions());
    LibusbBackend::Options retrying = quickOptions();
    retrying.accessRetry = std::chrono::milliseconds(0);
    LibusbBackend retryingBackend(retrying);

    QVERIFY(setDacOverride(false));
    const Paths first = backend.listPaths(usb::kitReceptorClass());
    const Paths second = backend.listPaths(usb::kitReceptorClass());
    const Paths refused = retryingBackend.listPaths(usb::kitReceptorClass());
    QVERIFY(setDacOverride(true));

    QCOMPARE(first, Paths{});
    QCOMPARE(second, Paths{});
    QCOMPARE(refused, Paths{});
    QCOMPARE(backend.takeAccessNotices(), Paths{"bus 1, port 1, id 1209:4b31"});
    QCOMPARE(backend.takeAccessNotices(), Paths{});
    // The second listing did not try again, nor did either send anything.
    QCOMPARE(m_bridge->requests(receptor).size(), std::size_t(0));

    // Once the node is opened to this user (as the udev rule does), a later try finds it.
    m_bridge->setNodeMode(receptor, 0666);
    QVERIFY(setDacOverride(false));
    const Paths granted = retryingBackend.listPaths(usb::kitReceptorClass());
    QVERIFY(setDacOverride(true));
    QCOMPARE(granted, Paths{"usb:1-1:0"});
    QCOMPARE(retryingBackend.takeAccessNotices().size(), std::size_t(1));
}

void TestLibusbUmockdev::opensAndClaimsTheInterface()
{
    const int module = moduleAt(1);
    settle();
    LibusbBackend backend(quickOptions());
    QCOMPARE(backend.listPaths(usb::kitModuleClass()), Paths{"usb:1-1:0"});

    usb::Outcome outcome = usb::Outcome::IoError;
    auto device = backend.open("usb:1-1:0", &outcome);
    QCOMPARE(outcome, usb::Outcome::Ok);
    QCOMPARE(device->endpointCount(), std::optional<int>(1));
    const auto pipe = device->queryPipe(0);
    QVERIFY(pipe);
    QCOMPARE(pipe->type, usb::PipeType::Bulk);
    QCOMPARE(pipe->id, uint8_t(0x81));
    QCOMPARE(pipe->maxPacketSize, uint16_t(64));

    // The interface is claimed: a second handle cannot take it until the first lets go.
    QVERIFY(!backend.open("usb:1-1:0", &outcome));
    QCOMPARE(outcome, usb::Outcome::IoError);
    device.reset();
    QVERIFY(backend.open("usb:1-1:0", &outcome));
    // An interface the device does not have.
    QVERIFY(!backend.open("usb:1-1:1", &outcome));
    QCOMPARE(outcome, usb::Outcome::NoDevice);
    QVERIFY(m_bridge->opens(module) >= 3);
}

void TestLibusbUmockdev::controlAndBulkTransfersReachTheDevice()
{
    const int module = moduleAt(1);
    m_module->setName("ABC");
    VirtualModule::Page page;
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = uint8_t(i * 7);
    m_module->writePage(0x1234, page);
    LibusbBackend backend(quickOptions());
    auto device = openAtPort1(backend, usb::kitModuleClass());
    QVERIFY(device);
    QCOMPARE(device->setPipeTimeout(0x81, 1000), usb::Outcome::Ok);
    const std::size_t before = m_bridge->requests(module).size();

    uint8_t info[24] = {};
    const usb::Transfer read = device->control(vendorIn(0x01, 24), info);
    QVERIFY(read.ok());
    QCOMPARE(read.transferred, std::size_t(24));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(info) + 12, 3), QByteArray("ABC"));

    usb::SetupPacket position;
    position.requestType = 0x40;
    position.request = 0x04;
    position.length = 4;
    uint8_t index[4] = {0x34, 0x12, 0, 0};
    QVERIFY(device->control(position, index).ok());
    std::array<uint8_t, 256> got{};
    for (int slice = 0; slice < 4; ++slice) {
        const usb::Transfer bulk = device->bulkRead(0x81, got.data() + 64 * slice, 64);
        QVERIFY(bulk.ok());
        QCOMPARE(bulk.transferred, std::size_t(64));
    }
    QVERIFY(got == page);

    // What the device received: the two control requests with their bytes, then four bulk reads.
    const std::vector<Request> requests = m_bridge->requests(module);
    QCOMPARE(requests.size() - before, std::size_t(6));
    QCOMPARE(requests[before].setup.bytes(), (std::array<uint8_t, 8>{0xC0, 0x01, 0, 0, 0, 0, 24, 0}));
    QCOMPARE(requests[before + 1].setup.bytes(), (std::array<uint8_t, 8>{0x40, 0x04, 0, 0, 0, 0, 4, 0}));
    QCOMPARE(requests[before + 1].out, (std::vector<uint8_t>{0x34, 0x12, 0, 0}));
    for (std::size_t i = before + 2; i < requests.size(); ++i) {
        QVERIFY(!requests[i].control);
        QCOMPARE(requests[i].endpoint, uint8_t(0x81));
    }
    // A read on an OUT endpoint never becomes a write.
    QCOMPARE(device->bulkRead(0x01, got.data(), 64).outcome, usb::Outcome::IoError);
}

void TestLibusbUmockdev::silentRequestTimesOut()
{
    const int receptor = receptorAt(1);
    LibusbBackend backend(quickOptions());
    auto device = openAtPort1(backend, usb::kitReceptorClass());
    QVERIFY(device);
    QCOMPARE(device->setPipeTimeout(0, 50), usb::Outcome::Ok);
    m_bridge->setScript(receptor, [](const Request &r) { return r.setup.request == 0x52 ? Action::Silent : Action::Answer; });

    uint8_t flags[20];
    const usb::Transfer timedOut = device->control(vendorIn(0x52, 20), flags);
    QCOMPARE(timedOut.outcome, usb::Outcome::Timeout);
    QCOMPARE(timedOut.transferred, std::size_t(0));
    QCOMPARE(m_bridge->discarded(receptor), 1);
    // The handle stays usable.
    uint8_t id[24];
    QVERIFY(device->control(vendorIn(0x01, 24), id).ok());
}

void TestLibusbUmockdev::stalledRequestIsAnIoError()
{
    const int receptor = receptorAt(1);
    LibusbBackend backend(quickOptions());
    auto device = openAtPort1(backend, usb::kitReceptorClass());
    QVERIFY(device);
    m_bridge->setScript(receptor, [](const Request &r) { return r.setup.request == 0x53 ? Action::Stall : Action::Answer; });
    uint8_t block[56];
    QCOMPARE(device->control(vendorIn(0x53, 56, 3), block).outcome, usb::Outcome::IoError);
    // The receptor itself stalls a slot out of range.
    m_bridge->setScript(receptor, nullptr);
    QCOMPARE(device->control(vendorIn(0x53, 56, 20), block).outcome, usb::Outcome::IoError);
    uint8_t id[24];
    QVERIFY(device->control(vendorIn(0x01, 24), id).ok());
}

void TestLibusbUmockdev::unplugDuringTransferEndsWithNoDevice()
{
    const int receptor = receptorAt(1);
    LibusbBackend backend(quickOptions());
    auto device = openAtPort1(backend, usb::kitReceptorClass());
    QVERIFY(device);
    QCOMPARE(device->setPipeTimeout(0, 10000), usb::Outcome::Ok);
    m_bridge->setScript(receptor, [](const Request &r) { return r.setup.request == 0x52 ? Action::Silent : Action::Answer; });

    std::atomic<bool> done{false};
    usb::Transfer transfer;
    std::thread worker([&] {
        uint8_t flags[20];
        transfer = device->control(vendorIn(0x52, 20), flags);
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(countOf(m_bridge->requests(receptor), [](const Request &r) { return r.setup.request == 0x52; }) == 1, 5000);
    unplug(receptor);
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    worker.join();
    QCOMPARE(transfer.outcome, usb::Outcome::NoDevice);

    uint8_t id[24];
    QCOMPARE(device->control(vendorIn(0x01, 24), id).outcome, usb::Outcome::NoDevice);
    settle();
    QCOMPARE(backend.listPaths(usb::kitReceptorClass()), Paths{});
    usb::Outcome outcome = usb::Outcome::Ok;
    QVERIFY(!backend.open("usb:1-1:0", &outcome));
    QCOMPARE(outcome, usb::Outcome::NoDevice);
}

void TestLibusbUmockdev::replugGetsNewAddressAndStalePathOpensNothing()
{
    const int receptor = receptorAt(1);
    settle();
    LibusbBackend backend(quickOptions());
    QCOMPARE(backend.listPaths(usb::kitReceptorClass()), Paths{"usb:1-1:0"});
    unplug(receptor);

    // A module now sits in the receptor's port, under a new address. Another backend sees it;
    // this one, told nothing yet, must not hand out the module for the receptor's path.
    const int module = moduleAt(1);
    QVERIFY(module != receptor);
    settle();
    LibusbBackend other(quickOptions());
    QCOMPARE(other.listPaths(usb::kitModuleClass()), Paths{"usb:1-1:0"});
    usb::Outcome outcome = usb::Outcome::Ok;
    QVERIFY(!backend.open("usb:1-1:0", &outcome));
    QCOMPARE(outcome, usb::Outcome::NoDevice);
    QCOMPARE(m_bridge->opens(module), 1);   // only the other backend's probe

    // Listed again, the place holds a module now, and the receptor plugged back elsewhere is found.
    const int again = receptorAt(2);
    settle();
    QCOMPARE(backend.listPaths(usb::kitModuleClass()), Paths{"usb:1-1:0"});
    QCOMPARE(backend.listPaths(usb::kitReceptorClass()), Paths{"usb:1-2:0"});
    QVERIFY(backend.open("usb:1-2:0"));
    QVERIFY(again > module);
}

void TestLibusbUmockdev::twoThreadsShareOneHandle()
{
    const int module = moduleAt(1);
    m_module->setName("SHARED");
    LibusbBackend backend(quickOptions());
    auto device = openAtPort1(backend, usb::kitModuleClass());
    QVERIFY(device);

    constexpr int rounds = 100;
    std::atomic<int> good{0};
    const auto reader = [&](uint8_t request, uint16_t length) {
        for (int i = 0; i < rounds; ++i) {
            uint8_t reply[24] = {};
            const usb::Transfer t = device->control(vendorIn(request, length), reply);
            if (t.ok() && t.transferred == length &&
                (request != 0x01 || QByteArray(reinterpret_cast<char *>(reply) + 12, 6) == "SHARED"))
                ++good;
            device->setPipeTimeout(0, 1000 + i);
        }
    };
    std::thread a(reader, 0x01, 24);
    std::thread b(reader, 0x03, 12);
    a.join();
    b.join();
    QCOMPARE(good.load(), 2 * rounds);
    QCOMPARE(countOf(m_bridge->requests(module), isVendor), 2 * rounds + 4);   // and the probe's
}

KORVANE_UMOCKDEV_TEST_MAIN(TestLibusbUmockdev, QCoreApplication)
#include "tst_libusb_umockdev.moc"
